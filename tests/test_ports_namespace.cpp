// The COM port namespace and port discovery, over a device tree and a ports directory of the
// test's own.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/port_names.h"
#include "platform/posix/com_ports.h"
#include "serial/enum_ports.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace {

class PortsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_dir.Path().empty());
        m_strRoot = m_dir.Path().string();
        m_strPorts = m_strRoot + "/ports";
        const char* pszOld = std::getenv("MATRIX_PORTS_DIR");
        m_bHadOld = pszOld != nullptr;
        if (m_bHadOld)
            m_strOld = pszOld;
        const char* pszRuntime = std::getenv("XDG_RUNTIME_DIR");
        m_bHadRuntime = pszRuntime != nullptr;
        if (m_bHadRuntime)
            m_strOldRuntime = pszRuntime;
        ::setenv("MATRIX_PORTS_DIR", m_strPorts.c_str(), 1);
        m_roots.strDev = m_strRoot + "/dev";
        m_roots.strSys = m_strRoot + "/sys";
        MakeDir(m_strPorts);
        MakeDir(m_roots.strDev);
    }
    void TearDown() override
    {
        if (m_bHadOld)
            ::setenv("MATRIX_PORTS_DIR", m_strOld.c_str(), 1);
        else
            ::unsetenv("MATRIX_PORTS_DIR");
        if (m_bHadRuntime)
            ::setenv("XDG_RUNTIME_DIR", m_strOldRuntime.c_str(), 1);
    }
    void MakeDir(const std::string& strPath)
    {
        std::string strCommand = "mkdir -p '" + strPath + "'";
        ASSERT_EQ(std::system(strCommand.c_str()), 0);
    }
    void MakeLink(const std::string& strTarget, const std::string& strLink)
    {
        ASSERT_EQ(::symlink(strTarget.c_str(), strLink.c_str()), 0) << strLink;
    }
    void WriteFile(const std::string& strPath, const std::string& strText)
    {
        std::ofstream(strPath) << strText << "\n";
    }
    // A character device node in the fake tree: a link to /dev/null is one as far as stat knows.
    void MakeDevice(const std::string& strName) { MakeLink("/dev/null", m_roots.strDev + "/" + strName); }
    // A ttyS entry in the fake sysfs: bDevice says whether hardware stands behind it.
    void MakeUart(int nIndex, bool bDevice, const std::string& strType)
    {
        std::string strTty = m_roots.strSys + "/class/tty/ttyS" + std::to_string(nIndex);
        MakeDir(strTty);
        if (bDevice)
            MakeDir(strTty + "/device");
        WriteFile(strTty + "/type", strType);
    }

    CTempDir m_dir{"ports-test"};
    std::string m_strRoot;
    std::string m_strPorts;
    std::string m_strOld;
    bool m_bHadOld = false;
    std::string m_strOldRuntime;
    bool m_bHadRuntime = false;
    CDeviceRoots m_roots;
};

TEST(PortsNames, ComPortNamesParseInAnyLetterCase)
{
    struct {
        const char* pszName;
        int nPort;
    } const aCases[] = {
        {"COM1", 1},   {"com12", 12}, {"Com3", 3},     {"COM255", 255},     {"COM0", 0},  {"COM", 0},
        {"COMX", 0},   {"COM01", 0},  {"COM1a", 0},    {"COM-1", 0},        {"CON1", 0},  {"COM99999999999", 0},
        {"xCOM1", 0},  {"COM256", 0},  {"COM300", 0},   {"COM4294967301", 0},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(ParseComPortName(c.pszName), c.nPort) << c.pszName;
}

TEST(PortsNames, TheKernelRuleMapsThreeFamiliesOfThirtyTwo)
{
    struct {
        int nPort;
        const char* pszDevice;
    } const aCases[] = {
        {0, ""},          {1, "/dev/ttyS0"},   {32, "/dev/ttyS31"},  {33, "/dev/ttyUSB0"},
        {64, "/dev/ttyUSB31"}, {65, "/dev/ttyACM0"}, {96, "/dev/ttyACM31"}, {97, ""}, {-4, ""},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(KernelDeviceForComPort(c.nPort), c.pszDevice) << c.nPort;
}

TEST_F(PortsTest, ResolutionPrefersLinksThenTheKernelRuleWithRealUartsOnly)
{
    MakeDevice("ttyS0");
    MakeDevice("ttyS1");
    MakeDevice("ttyS2");
    MakeDevice("ttyS31"); // the last number of the family, with no UART behind it
    MakeUart(0, true, "4");  // a 16550A
    MakeUart(1, true, "0");  // the kernel's placeholder: type unknown
    MakeUart(2, false, "4"); // no hardware behind it
    MakeDevice("ttyUSB2");
    MakeDevice("ttyACM0");
    MakeLink(m_roots.strDev + "/ttyACM0", m_strPorts + "/com35"); // overrides ttyUSB2
    MakeLink(m_strRoot + "/gone", m_strPorts + "/COM40");        // a link whose device is absent
    MakeLink(m_roots.strDev + "/ttyACM0", m_strPorts + "/COM300"); // outside the port range

    struct {
        int nPort;
        bool bResolved;
        bool bLinked;
        std::string strDevice;
    } const aCases[] = {
        {1, true, false, m_roots.strDev + "/ttyS0"},
        {2, false, false, ""},
        {3, false, false, ""},
        {4, false, false, ""},
        {32, false, false, ""},
        {34, false, false, ""},
        {35, true, true, "/dev/null"},
        {40, true, true, m_strRoot + "/gone"},
        {65, true, false, m_roots.strDev + "/ttyACM0"},
        {150, false, false, ""},
        {300, false, false, ""},
    };
    for (const auto& c : aCases) {
        CComPortResolution resolution = ResolveComPort(c.nPort, m_roots);
        EXPECT_EQ(resolution.bResolved, c.bResolved) << c.nPort;
        EXPECT_EQ(resolution.bLinked, c.bLinked) << c.nPort;
        EXPECT_EQ(resolution.strDevice, c.strDevice) << c.nPort;
        EXPECT_EQ(resolution.strPortsDir, m_strPorts);
    }
}

TEST_F(PortsTest, EnumerationListsLinkedDevicesThatExistAscending)
{
    CPtyPair first, second;
    ASSERT_TRUE(first.IsOpen() && second.IsOpen());
    MakeLink(second.GetSlavePath(), m_strPorts + "/COM150");
    MakeLink(first.GetSlavePath(), m_strPorts + "/com140");
    MakeLink(m_strRoot + "/gone", m_strPorts + "/COM151");
    MakeLink(m_strRoot, m_strPorts + "/COM152"); // a directory is no device
    MakeLink(first.GetSlavePath(), m_strPorts + "/notaport");
    MakeLink(first.GetSlavePath(), m_strPorts + "/COM300"); // outside the port range
    MakeLink("/dev/null", m_strPorts + "/COM153");          // a character device, not a terminal
    MakeLink("/dev/ptmx", m_strPorts + "/COM154");          // a terminal, but a new one at every open

    CUIntArray listed, probed;
    listed.Add(999); // emptied first
    EnumerateComPorts(listed);
    ProbeComPorts(probed);
    for (CUIntArray* pPorts : {&listed, &probed}) {
        std::vector<uint32_t> aMine;
        for (size_t i = 0; i < pPorts->GetSize(); ++i) {
            if (i > 0) {
                EXPECT_LT(pPorts->GetAt(i - 1), pPorts->GetAt(i));
            }
            if (pPorts->GetAt(i) > 96)
                aMine.push_back((*pPorts)[i]);
        }
        EXPECT_EQ(aMine, (std::vector<uint32_t>{140, 150}));
    }
}

// A ports directory that is there but cannot be read is said so, never taken for one in which
// nothing is linked.
TEST_F(PortsTest, APortsDirectoryThatCannotBeReadIsSaid)
{
    WriteFile(m_strRoot + "/a-file", "x");
    MakeDir(m_strRoot + "/locked");
    ::chmod((m_strRoot + "/locked").c_str(), 0);
    struct {
        const char* pszName;
        std::string strDir;
        int nErrno;
    } const aCases[] = {
        {"not made yet", m_strRoot + "/none", 0},
        {"a file in its place", m_strRoot + "/a-file", ENOTDIR},
        {"no permission to read it", m_strRoot + "/locked", EACCES},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        if (c.nErrno == EACCES && ::geteuid() == 0) {
            std::printf("skipped '%s': root reads every directory\n", c.pszName);
            continue;
        }
        ::setenv("MATRIX_PORTS_DIR", c.strDir.c_str(), 1);
        EXPECT_EQ(ResolveComPort(150, m_roots).nPortsDirErrno, c.nErrno);
        std::vector<std::string> astrSaid = DescribeIgnoredPortNames();
        if (c.nErrno == 0) {
            EXPECT_TRUE(astrSaid.empty());
        } else {
            ASSERT_EQ(astrSaid.size(), 1u);
            EXPECT_EQ(astrSaid[0], "the ports directory " + c.strDir + " cannot be read (" + std::strerror(c.nErrno)
                                       + "): no COM<n> link in it is seen.");
        }
    }
    ::chmod((m_strRoot + "/locked").c_str(), 0700);
}

TEST_F(PortsTest, RegisteringALinkKeepsOtherLiveLinksAndReplacesStaleOnes)
{
    CPtyPair mine, other;
    ASSERT_TRUE(mine.IsOpen() && other.IsOpen());
    std::string strError;
    ASSERT_TRUE(RegisterComPortLink(9, mine.GetSlavePath(), &strError)) << strError;
    EXPECT_EQ(ResolveComPort(9).strDevice, mine.GetSlavePath());

    EXPECT_FALSE(RegisterComPortLink(9, other.GetSlavePath(), &strError));
    EXPECT_EQ(strError, "COM9 is already linked to " + mine.GetSlavePath() + " in " + m_strPorts
                            + "; choose another port number or remove that link.");
    EXPECT_FALSE(RemoveComPortLink(9, other.GetSlavePath()));
    EXPECT_TRUE(RemoveComPortLink(9, mine.GetSlavePath()));
    EXPECT_FALSE(ResolveComPort(9).bLinked);

    MakeLink(m_strRoot + "/gone", m_strPorts + "/com9");
    ASSERT_TRUE(RegisterComPortLink(9, other.GetSlavePath(), &strError)) << strError;
    EXPECT_EQ(ListLinkedComPorts(m_strPorts), std::vector<int>{9});
    EXPECT_EQ(ResolveComPort(9).strDevice, other.GetSlavePath());
}

TEST_F(PortsTest, RegisteringCreatesAPrivatePortsDirectory)
{
    std::string strNested = m_strRoot + "/run/matrix-update/ports";
    ::setenv("MATRIX_PORTS_DIR", strNested.c_str(), 1);
    CPtyPair pty;
    std::string strError;
    ASSERT_TRUE(RegisterComPortLink(12, pty.GetSlavePath(), &strError)) << strError;
    struct stat st {};
    ASSERT_EQ(::stat(strNested.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(RemoveComPortLink(12, pty.GetSlavePath()));
}

TEST_F(PortsTest, DescriptionsNameTheUsbProductOrTheDriver)
{
    std::string strUsb = m_roots.strSys + "/devices/usb1/1-1";
    MakeDir(strUsb + "/1-1:1.0/ttyUSB0");
    WriteFile(strUsb + "/product", "USB-Serial Controller");
    WriteFile(strUsb + "/idVendor", "0403");
    WriteFile(strUsb + "/idProduct", "6001");
    WriteFile(strUsb + "/serial", "A600ABCD");
    MakeDir(m_roots.strSys + "/class/tty/ttyUSB0");
    MakeLink(strUsb + "/1-1:1.0/ttyUSB0", m_roots.strSys + "/class/tty/ttyUSB0/device");

    std::string strPlatform = m_roots.strSys + "/devices/platform/serial8250";
    MakeDir(strPlatform + "/tty/ttyS3");
    MakeDir(m_roots.strSys + "/bus/platform/drivers/serial8250");
    MakeLink(m_roots.strSys + "/bus/platform/drivers/serial8250", strPlatform + "/driver");
    MakeDir(m_roots.strSys + "/class/tty/ttyS3");
    MakeLink(strPlatform, m_roots.strSys + "/class/tty/ttyS3/device");

    EXPECT_EQ(DescribeComDevice(m_roots.strDev + "/ttyUSB0", m_roots), "USB-Serial Controller");
    EXPECT_EQ(DescribeComDevice(m_roots.strDev + "/ttyS3", m_roots), "serial8250");
    EXPECT_EQ(DescribeComDevice(m_roots.strDev + "/ttyACM7", m_roots), "");
    // The update log's USB ids and serial number, from the same USB device; none for a UART.
    for (const auto& [strTty, strId, strSerial] :
         {std::tuple<std::string, std::string, std::string>{"/ttyUSB0", "0403:6001", "A600ABCD"},
          {"/ttyS3", "", ""}, {"/ttyACM7", "", ""}}) {
        std::string strUsbId = "x";
        std::string strSerialNumber = "x";
        ReadUsbIdentity(m_roots.strDev + strTty, &strUsbId, &strSerialNumber, m_roots);
        EXPECT_EQ(strUsbId, strId) << strTty;
        EXPECT_EQ(strSerialNumber, strSerial) << strTty;
    }
    CPtyPair pty;
    EXPECT_EQ(DescribeComDevice(pty.GetSlavePath()), "pseudo-terminal");
}

TEST(PortsArray, GrowsAndShrinksLikeTheFrameworkArray)
{
    CUIntArray ports;
    EXPECT_EQ(ports.Add(7), 0u);
    EXPECT_EQ(ports.Add(3), 1u);
    EXPECT_EQ(ports.Add(7), 2u); // never sorted, duplicates kept
    EXPECT_EQ(ports.GetSize(), 3u);
    ports[1] = 4;
    EXPECT_EQ(ports.GetAt(1), 4u);
    ports.SetSize(5);
    EXPECT_EQ(ports.GetAt(4), 0u);
    ports.SetSize(0);
    EXPECT_EQ(ports.GetSize(), 0u);
    ports.Add(1);
    ports.RemoveAll();
    EXPECT_EQ(ports.GetSize(), 0u);
}

} // namespace

namespace {

// The shared fall-back, in a temporary folder of the test's own: its links are believed only
// while the ports directory itself (not a link to one) and its parent belong to this user, so
// that no other user can plant a COMn link there and answer in the device's place.
TEST_F(PortsTest, TheSharedFallBackIsBelievedOnlyWhenItAndItsParentAreThisUsers)
{
    ::unsetenv("MATRIX_PORTS_DIR"); // both put back by TearDown
    ::unsetenv("XDG_RUNTIME_DIR");
    m_roots.strTmp = m_strRoot + "/tmp";
    const std::string strParent = m_roots.strTmp + "/matrix-update-" + std::to_string(::getuid());
    const std::string strShared = strParent + "/ports";
    const std::string strAside = m_strRoot + "/aside";
    MakeDir(strShared);
    CPtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    MakeLink(pty.GetSlavePath(), strShared + "/COM20");
    // Giving a directory to another user needs root; without it those rows are left out.
    const bool bRoot = ::getuid() == 0;
    const uid_t nMe = ::getuid();
    const uid_t nOther = 65534;
    enum EShape { Directory, LinkToDirectory, Absent };
    struct {
        const char* pszName;
        EShape eShape;
        uid_t nParentOwner;
        uid_t nPortsOwner;
        bool bTrusted;
    } const aCases[] = {
        {"both ours", Directory, nMe, nMe, true},
        {"parent another user's", Directory, nOther, nMe, false},
        {"ports directory another user's", Directory, nMe, nOther, false},
        {"ports directory a link to one of ours", LinkToDirectory, nMe, nMe, false},
        {"ports directory absent", Absent, nMe, nMe, false},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        if (!bRoot && (c.nParentOwner != nMe || c.nPortsOwner != nMe)) {
            std::printf("skipped '%s': giving a directory to another user needs root\n", c.pszName);
            continue;
        }
        if (bRoot) {
            ASSERT_EQ(::chown(strParent.c_str(), c.nParentOwner, static_cast<gid_t>(-1)), 0);
            ASSERT_EQ(::chown(strShared.c_str(), c.nPortsOwner, static_cast<gid_t>(-1)), 0);
        }
        if (c.eShape != Directory) {
            ASSERT_EQ(::rename(strShared.c_str(), strAside.c_str()), 0);
        }
        if (c.eShape == LinkToDirectory)
            MakeLink(strAside, strShared);
        EXPECT_EQ(GetPortsDirectory(m_roots), strShared);
        EXPECT_EQ(IsPortsDirectoryTrusted(m_roots), c.bTrusted);
        EXPECT_EQ(ResolveComPort(20, m_roots).bLinked, c.bTrusted);
        if (c.eShape == LinkToDirectory) {
            ASSERT_EQ(::unlink(strShared.c_str()), 0);
        }
        if (c.eShape != Directory) {
            ASSERT_EQ(::rename(strAside.c_str(), strShared.c_str()), 0);
        }
    }
    // A directory the user names is the user's word.
    ::setenv("MATRIX_PORTS_DIR", (m_strRoot + "/named").c_str(), 1);
    EXPECT_TRUE(IsPortsDirectoryTrusted(m_roots));
}

} // namespace
