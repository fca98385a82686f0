// The serial engine on pseudo-terminals (the real termios path) and on the scripted fake.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/operator_texts.h"
#include "platform/port_holder.h"
#include "platform/posix/posix_serial.h"
#include "platform/serial_device.h"
#include "serial/message_queue.h"
#include "serial/serial_link.h"
#include "tests/support/fake_serial_device.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace {

// Generous limits for waits that end on an event; never what a test measures.
constexpr uint32_t EVENT_WAIT_MS = 5000;

class CTestOwner : public ILinkOwner {
public:
    explicit CTestOwner(bool bCompleteSentAtOnce = true) : m_bCompleteSentAtOnce(bCompleteSentAtOnce) {}

    void PostLinkMessage(CLinkMessage msg) override
    {
        if (m_bCompleteSentAtOnce && msg.pCompletion)
            msg.pCompletion->Complete(0);
        m_queue.Post(std::move(msg));
    }
    void ShowPortError(const std::string& strText, const std::string& strCaption) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_aErrors.push_back(strCaption + "|" + strText);
    }

    // The next message, or false when none came within the limit.
    bool TakeMessage(CLinkMessage* pMsg, uint32_t nTimeoutMs = EVENT_WAIT_MS)
    {
        if (!m_queue.WaitForMessage(nTimeoutMs))
            return false;
        *pMsg = *m_queue.TryTake();
        return true;
    }
    // Collects nCount received bytes, skipping other notifications.
    std::vector<uint8_t> TakeBytes(size_t nCount)
    {
        std::vector<uint8_t> abBytes;
        CLinkMessage msg;
        while (abBytes.size() < nCount && TakeMessage(&msg)) {
            if (msg.nMsg == WM_LINK_RXBYTE)
                abBytes.push_back(static_cast<uint8_t>(msg.wParam));
        }
        return abBytes;
    }
    std::vector<std::string> GetErrors()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_aErrors;
    }
    CMessageQueue m_queue;

private:
    bool m_bCompleteSentAtOnce;
    std::mutex m_mutex;
    std::vector<std::string> m_aErrors;
};

// A ports directory of the test's own, with COMn links to pseudo-terminals.
class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_dir.Path().empty());
        m_strDir = m_dir.Path().string();
        const char* pszOld = std::getenv("MATRIX_PORTS_DIR");
        m_bHadOld = pszOld != nullptr;
        if (m_bHadOld)
            m_strOld = pszOld;
        ::setenv("MATRIX_PORTS_DIR", m_strDir.c_str(), 1);
        ASSERT_TRUE(m_pty.IsOpen());
        Link(5, m_pty.GetSlavePath());
    }
    void TearDown() override
    {
        if (m_bHadOld)
            ::setenv("MATRIX_PORTS_DIR", m_strOld.c_str(), 1);
        else
            ::unsetenv("MATRIX_PORTS_DIR");
    }
    void Link(int nPort, const std::string& strTarget)
    {
        std::string strLink = m_strDir + "/COM" + std::to_string(nPort);
        ASSERT_EQ(::symlink(strTarget.c_str(), strLink.c_str()), 0);
    }
    bool OpenProgramPort(CSerialLink& link, CTestOwner& owner, int nPort = 5)
    {
        return link.OpenPort(&owner, nPort, 9600, 'N', 8, 1, EV_RXCHAR | EV_CTS, 1024);
    }

    CTempDir m_dir{"serial-link-test"};
    std::string m_strDir;
    std::string m_strOld;
    bool m_bHadOld = false;
    CPtyPair m_pty;
};

TEST_F(SerialLinkTest, BytesArriveAsOneMessageEachInOrderAfterTheCtsNotification)
{
    CTestOwner owner;
    CSerialLink link;
    ASSERT_TRUE(OpenProgramPort(link, owner));
    ASSERT_TRUE(link.StartMonitor());

    std::vector<uint8_t> abSent;
    for (int i = 0; i < 300; ++i)
        abSent.push_back(static_cast<uint8_t>((i * 7 + 3) & 0xFF));
    ASSERT_TRUE(m_pty.WriteFromDevice(abSent));

    std::vector<uint8_t> abReceived;
    bool bCtsSeen = false;
    bool bByteBeforeCts = false;
    CLinkMessage msg;
    while (abReceived.size() < abSent.size() && owner.TakeMessage(&msg)) {
        EXPECT_EQ(msg.lParam, 5);
        if (msg.nMsg == WM_LINK_CTS) {
            bCtsSeen = true;
            EXPECT_TRUE(msg.pCompletion != nullptr);
        } else if (msg.nMsg == WM_LINK_RXBYTE) {
            bByteBeforeCts = bByteBeforeCts || !bCtsSeen;
            EXPECT_LE(msg.wParam, 0xFFu);
            abReceived.push_back(static_cast<uint8_t>(msg.wParam));
        } else {
            ADD_FAILURE() << "unexpected message " << msg.nMsg;
        }
    }
    EXPECT_EQ(abReceived, abSent);
    EXPECT_TRUE(bCtsSeen);
    EXPECT_FALSE(bByteBeforeCts);
    EXPECT_TRUE(owner.GetErrors().empty());
}

TEST_F(SerialLinkTest, QueueWriteSendsAtMostTheWriteCapacity)
{
    CTestOwner owner;
    CSerialLink link;
    ASSERT_TRUE(OpenProgramPort(link, owner));

    std::vector<uint8_t> abBlock(1500);
    for (size_t i = 0; i < abBlock.size(); ++i)
        abBlock[i] = static_cast<uint8_t>(i % 251);
    // Queued before the monitor runs: it stays pending until the monitor has written it.
    link.QueueWrite(abBlock.data(), static_cast<uint32_t>(abBlock.size()));
    EXPECT_TRUE(link.IsWritePending());
    ASSERT_TRUE(link.StartMonitor());

    std::vector<uint8_t> abWritten = m_pty.ReadFromHost(1024, EVENT_WAIT_MS);
    EXPECT_EQ(abWritten, std::vector<uint8_t>(abBlock.begin(), abBlock.begin() + 1024));
    // A window long enough for any 476 extra bytes on a pseudo-terminal to show up.
    EXPECT_TRUE(m_pty.ReadFromHost(1, 300).empty());
    EXPECT_FALSE(link.IsWritePending());
    EXPECT_TRUE(owner.GetErrors().empty());
}

TEST_F(SerialLinkTest, StaleInputIsPurgedBeforeEachWrite)
{
    // Without EV_RXCHAR the monitor leaves input queued, so the test can see what the purge
    // before the write does to it.
    CTestOwner owner;
    CSerialLink link;
    ASSERT_TRUE(link.OpenPort(&owner, 5, 9600, 'N', 8, 1, EV_CTS, 1024));
    ASSERT_TRUE(link.StartMonitor());

    ASSERT_TRUE(m_pty.WriteFromDevice({'o', 'l', 'd'}));
    // The bytes travel through the terminal's buffer asynchronously; wait until they are queued.
    struct pollfd readable = {m_pty.GetSlaveFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&readable, 1, EVENT_WAIT_MS), 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(EVENT_WAIT_MS);
    while (m_pty.QueuedSlaveInput() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(m_pty.QueuedSlaveInput(), 3);

    const uint8_t abRecord[] = {0xC1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xC3};
    link.QueueWrite(abRecord, sizeof(abRecord));
    EXPECT_EQ(m_pty.ReadFromHost(sizeof(abRecord), EVENT_WAIT_MS),
              std::vector<uint8_t>(abRecord, abRecord + sizeof(abRecord)));
    EXPECT_EQ(m_pty.QueuedSlaveInput(), 0);
}

TEST_F(SerialLinkTest, OpenFailuresReturnFalseWithAReasonAndShowNothing)
{
    const std::string strPlainFile = m_strDir + "/plain-file";
    ASSERT_EQ(::close(::open(strPlainFile.c_str(), O_CREAT | O_WRONLY, 0600)), 0);
    const std::string strSocket = m_strDir + "/socket";
    const int nSocket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(nSocket, 0);
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(strSocket.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, strSocket.c_str());
    ASSERT_EQ(::bind(nSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::mkdir((m_strDir + "/folder").c_str(), 0700), 0);
    char* pszPtmx = ::realpath("/dev/ptmx", nullptr);
    ASSERT_NE(pszPtmx, nullptr);
    const std::string strPtmx = pszPtmx;
    std::free(pszPtmx);
    Link(6, m_strDir + "/no-such-device");
    Link(7, strPlainFile);
    Link(9, "/dev/null");
    Link(10, strSocket);
    Link(11, "/dev/ptmx");
    Link(12, m_strDir + "/folder");
    struct {
        int nPort;
        EPortOpenError eKind;
        std::string strSentence;
        std::string strPortsDir = std::string(); // another ports directory than the test's own
    } const aCases[] = {
        {200, EPortOpenError::NotFound,
         "COM200 does not exist: no device is linked as COM200 in " + m_strDir
             + " and no kernel device stands for that number."},
        // A link may well be there; it just cannot be seen.
        {200, EPortOpenError::NotFound,
         "COM200 does not exist: the ports directory " + strPlainFile
             + " cannot be read (Not a directory) and no kernel device stands for that number.",
         strPlainFile},
        {6, EPortOpenError::NotFound,
         "COM6 (" + m_strDir + "/no-such-device) does not exist: the link COM6 in " + m_strDir
             + " points to a device that is absent."},
        {7, EPortOpenError::NotSerialPort, "COM7 (" + strPlainFile + ") is not a serial port: it is a regular file."},
        // Opened once, then polled readable for ever while every serial call failed.
        {9, EPortOpenError::NotSerialPort, "COM9 (/dev/null) is not a serial port."},
        // A socket refuses the open as a device node without a device would.
        {10, EPortOpenError::NotSerialPort, "COM10 (" + strSocket + ") is not a serial port: it is a socket."},
        // It opens as a terminal, but a new one that no device is on.
        {11, EPortOpenError::PtyMultiplexer,
         "COM11 (" + strPtmx + ") is not a serial port: it is the pseudo-terminal multiplexer, which makes a new"
                               " terminal at every open; link COM11 to the device's own terminal instead."},
        {12, EPortOpenError::NotSerialPort, "COM12 (" + m_strDir + "/folder) is not a serial port: it is a directory."},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.strSentence);
        ::setenv("MATRIX_PORTS_DIR", (c.strPortsDir.empty() ? m_strDir : c.strPortsDir).c_str(), 1);
        CTestOwner owner;
        CSerialLink link;
        EXPECT_FALSE(OpenProgramPort(link, owner, c.nPort)) << c.nPort;
        EXPECT_EQ(link.GetOpenFailure().eKind, c.eKind) << c.nPort;
        EXPECT_EQ(link.GetOpenFailure().Describe(c.nPort), c.strSentence);
        EXPECT_FALSE(link.StartMonitor());
        EXPECT_TRUE(owner.GetErrors().empty());
    }
    ::close(nSocket);
}

TEST_F(SerialLinkTest, ASecondOpenOfAnOpenPortIsRefusedAsBusy)
{
    // The tests run as root, which TIOCEXCL does not stop: the flock must.
    CTestOwner owner;
    CSerialLink first;
    ASSERT_TRUE(OpenProgramPort(first, owner));
    CSerialLink second;
    EXPECT_FALSE(OpenProgramPort(second, owner));
    EXPECT_EQ(second.GetOpenFailure().eKind, EPortOpenError::Busy);
    EXPECT_EQ(second.GetOpenFailure().Describe(5),
              "COM5 (" + m_pty.GetSlavePath() + ") is busy: another program is using it.");
    EXPECT_TRUE(owner.GetErrors().empty());
}

// A child process that opens the device (and locks it when asked) and then runs a program.
pid_t SpawnHolder(const std::string& strDevice, bool bLock, const char* pszProgram, const char* pszArg1,
                  const char* pszArg2)
{
    const pid_t nChild = ::fork();
    if (nChild == 0) {
        const int fd = ::open(strDevice.c_str(), O_RDWR | O_NOCTTY);
        if (fd >= 0 && (!bLock || ::flock(fd, LOCK_EX | LOCK_NB) == 0))
            ::execlp(pszProgram, pszProgram, pszArg1, pszArg2, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return nChild;
}

TEST(PortHolder, TheProcessHoldingTheDeviceIsNamed)
{
    CPtyPair pty;
    CPortHolder holder;
    // Only this process has it open, and our own process is never the answer.
    EXPECT_FALSE(FindPortHolder(pty.GetSlavePath(), &holder));
    EXPECT_FALSE(FindPortHolder("/nonexistent/ttyUSB9", &holder));
    EXPECT_FALSE(FindPortHolder("/etc/hostname", &holder)); // not a device

    // One process merely has it open; another holds its lock, which is what makes it busy.
    const pid_t nOpener = SpawnHolder(pty.GetSlavePath(), false, "sleep", "30", nullptr);
    const pid_t nLocker = SpawnHolder(pty.GetSlavePath(), true, "tail", "-f", "/dev/null");
    ASSERT_GT(nOpener, 0);
    ASSERT_GT(nLocker, 0);
    // The children hold the device once they run their programs; give them a bounded time.
    bool bFound = false;
    for (int i = 0; i < 500 && !bFound; ++i) {
        bFound = FindPortHolder(pty.GetSlavePath(), &holder) && holder.strCommand == "tail";
        if (!bFound)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (pid_t nChild : {nOpener, nLocker}) {
        ::kill(nChild, SIGKILL);
        ::waitpid(nChild, nullptr, 0);
    }
    ASSERT_TRUE(bFound);
    EXPECT_EQ(holder.nPid, nLocker);
    EXPECT_FALSE(IsModemManager(holder));
    EXPECT_TRUE(IsModemManager(CPortHolder{612, "ModemManager"}));
}

TEST(PortOpenFailure, ABusyPortNamesItsHolderWhenKnown)
{
    struct {
        int nPid;
        const char* pszCommand;
        bool bModemManager;
        const char* pszSentence;
    } const aCases[] = {
        {0, "", false, "COM5 (/dev/ttyUSB0) is busy: another program is using it."},
        {4321, "minicom", false, "COM5 (/dev/ttyUSB0) is busy: minicom (pid 4321) is using it."},
        {612, "ModemManager", true,
         "COM5 (/dev/ttyUSB0) is busy: ModemManager (pid 612) is probing it; keep it off the adapter with a udev rule"
         " setting ENV{ID_MM_DEVICE_IGNORE}=\"1\" for it, or stop the ModemManager service."},
    };
    for (const auto& c : aCases) {
        CPortOpenFailure failure;
        failure.eKind = EPortOpenError::Busy;
        failure.strDevice = "/dev/ttyUSB0";
        failure.nHolderPid = c.nPid;
        failure.strHolderCommand = c.pszCommand;
        failure.bHolderIsModemManager = c.bModemManager;
        EXPECT_EQ(failure.Describe(5), c.pszSentence);
    }
}

TEST_F(SerialLinkTest, ClosingThePortLiftsItsExclusiveMark)
{
    // The terminal outlives our descriptor while another one is open (here the helper's, in
    // use the simulator's). A mark left behind refuses every later open as busy, except for
    // root, which these tests run as, so ask the terminal itself.
    auto exclusive = [this] {
        int nExclusive = -1;
        EXPECT_EQ(::ioctl(m_pty.GetSlaveFd(), TIOCGEXCL, &nExclusive), 0);
        return nExclusive;
    };
    for (int nRound = 0; nRound < 2; ++nRound) {
        CTestOwner owner;
        {
            CSerialLink link;
            ASSERT_TRUE(OpenProgramPort(link, owner));
            ASSERT_TRUE(link.StartMonitor());
            EXPECT_EQ(exclusive(), 1) << nRound;
        }
        EXPECT_EQ(exclusive(), 0) << nRound;
    }
}

TEST_F(SerialLinkTest, AFailedConfigurationStepShowsOneBoxAndStillOpens)
{
    CTestOwner owner;
    CSerialLink link;
    EXPECT_TRUE(link.OpenPort(&owner, 5, 12345, 'N', 8, 1, 9, 1024));
    EXPECT_EQ(owner.GetErrors(),
              std::vector<std::string>{"Application Error|注意:  BuildCommDCB() 通訊埠發生下列錯誤: \n"
                                       "Invalid argument\nPort: 5\n"});
    EXPECT_TRUE(link.StartMonitor());
}

TEST_F(SerialLinkTest, APulledDeviceIsReportedOnceAndTheMonitorEnds)
{
    // A hang-up is noticed whatever the event mask asks for, also without EV_RXCHAR.
    const uint32_t aMasks[] = {EV_RXCHAR | EV_CTS, EV_CTS};
    CPtyPair aPtys[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(aPtys[i].IsOpen());
        Link(10 + i, aPtys[i].GetSlavePath());
    }
    for (int i = 0; i < 2; ++i) {
        const int nPort = 10 + i;
        CTestOwner owner;
        CSerialLink link;
        ASSERT_TRUE(link.OpenPort(&owner, nPort, 9600, 'N', 8, 1, aMasks[i], 1024));
        ASSERT_TRUE(link.StartMonitor());
        aPtys[i].CloseMaster();

        CLinkMessage msg;
        bool bLost = false;
        while (!bLost && owner.TakeMessage(&msg))
            bLost = msg.nMsg == WM_LINK_LOST;
        ASSERT_TRUE(bLost) << "no loss reported for event mask " << aMasks[i];
        EXPECT_EQ(msg.lParam, nPort);
        EXPECT_FALSE(link.IsMonitorRunning());

        // Nothing more comes and nothing spins: measure the process's CPU time over a window.
        struct rusage before {}, after {};
        ::getrusage(RUSAGE_SELF, &before);
        EXPECT_FALSE(owner.m_queue.WaitForMessage(300));
        ::getrusage(RUSAGE_SELF, &after);
        auto cpuMicros = [](const struct rusage& r) {
            return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000LL + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
        };
        EXPECT_LT(cpuMicros(after) - cpuMicros(before), 50000) << aMasks[i];
        EXPECT_TRUE(owner.GetErrors().empty());
    }
}

TEST_F(SerialLinkTest, ABlockLargerThanTheTerminalTakesArrivesWhole)
{
    // The terminal takes far less than 200 KB at once, so the write goes out in pieces; each
    // piece must continue where the last one stopped.
    constexpr uint32_t nBlockSize = 200 * 1024;
    CTestOwner owner;
    CSerialLink link;
    ASSERT_TRUE(link.OpenPort(&owner, 5, 115200, 'N', 8, 1, EV_RXCHAR, nBlockSize));
    ASSERT_TRUE(link.StartMonitor());
    std::vector<uint8_t> abBlock(nBlockSize);
    for (size_t i = 0; i < abBlock.size(); ++i)
        abBlock[i] = static_cast<uint8_t>((i * 131 + i / 251) & 0xFF);
    link.QueueWrite(abBlock.data(), nBlockSize);

    std::vector<uint8_t> abWritten = m_pty.ReadFromHost(nBlockSize, 4 * EVENT_WAIT_MS);
    ASSERT_EQ(abWritten.size(), abBlock.size());
    EXPECT_TRUE(abWritten == abBlock) << "the block arrived corrupted";
    EXPECT_TRUE(owner.GetErrors().empty());
}

TEST_F(SerialLinkTest, LineSettingsReachTheTerminal)
{
    // A pseudo-terminal always runs 8 bits without parity (the kernel rewrites CSIZE and
    // PARENB), but it keeps the stop bits, the parity's sense and the speed, so those are read
    // back here.
    struct {
        char cParity;
        int nDataBits;
        int nStopBits;
        bool bOdd;
        bool bTwoStops;
    } const aCases[] = {
        {'N', 8, 1, false, false},
        {'E', 7, 2, false, true},
        {'O', 8, 1, true, false},
    };
    for (const auto& c : aCases) {
        const std::string strName = std::to_string(c.nDataBits) + c.cParity + std::to_string(c.nStopBits);
        CTestOwner owner;
        CSerialLink link;
        ASSERT_TRUE(link.OpenPort(&owner, 5, 9600, c.cParity, c.nDataBits, c.nStopBits, EV_RXCHAR, 1024)) << strName;
        EXPECT_TRUE(owner.GetErrors().empty()) << strName;
        // The helper's descriptor is on the same terminal: it reads back what the program set.
        struct termios tio {};
        ASSERT_EQ(::tcgetattr(m_pty.GetSlaveFd(), &tio), 0);
        EXPECT_EQ((tio.c_cflag & PARODD) != 0, c.bOdd) << strName;
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.bTwoStops) << strName;
        EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600)) << strName;
    }
}

TEST_F(SerialLinkTest, AReopenOnTheSameLinkStopsTheOldMonitorAndServesTheNewPort)
{
    CPtyPair other;
    ASSERT_TRUE(other.IsOpen());
    Link(8, other.GetSlavePath());
    CTestOwner owner;
    CSerialLink link;
    ASSERT_TRUE(OpenProgramPort(link, owner, 5));
    ASSERT_TRUE(link.StartMonitor());
    ASSERT_TRUE(OpenProgramPort(link, owner, 8));
    EXPECT_FALSE(link.IsMonitorRunning());
    ASSERT_TRUE(link.StartMonitor());
    ASSERT_TRUE(other.WriteFromDevice({0x42}));
    CLinkMessage msg;
    while (owner.TakeMessage(&msg) && msg.nMsg != WM_LINK_RXBYTE) {
    }
    EXPECT_EQ(msg.nMsg, WM_LINK_RXBYTE);
    EXPECT_EQ(msg.wParam, 0x42u);
    EXPECT_EQ(msg.lParam, 8);
    // The first port was released: it can be opened again.
    CSerialLink again;
    EXPECT_TRUE(OpenProgramPort(again, owner, 5));
}

TEST(LinkLifecycle, DestroyingReturnsPromptlyAfterTheMonitorEnded)
{
    using CClock = std::chrono::steady_clock;
    {
        // Never opened, and failed to open: nothing to wait for.
        auto start = CClock::now();
        { CSerialLink link; }
        {
            CSerialLink link;
            EXPECT_FALSE(link.OpenDevice(nullptr, 3, nullptr, 9600, 'N', 8, 1, 9, 1024));
        }
        EXPECT_LT(CClock::now() - start, std::chrono::milliseconds(500));
    }
    {
        // A monitor blocked in a sent notification that the owner's thread (this one, now
        // busy destroying the link) will never handle.
        CTestOwner owner(false);
        auto pDevice = std::make_unique<CFakeSerialDevice>();
        CFakeSerialDevice* pFake = pDevice.get();
        auto pLink = std::make_unique<CSerialLink>();
        ASSERT_TRUE(pLink->OpenDevice(&owner, 3, std::move(pDevice), 9600, 'N', 8, 1, 9, 1024));
        ASSERT_TRUE(pLink->StartMonitor());
        pFake->Feed({0x01});
        CLinkMessage msg;
        ASSERT_TRUE(owner.TakeMessage(&msg));
        ASSERT_EQ(msg.nMsg, WM_LINK_CTS);
        auto start = CClock::now();
        pLink.reset();
        EXPECT_LT(CClock::now() - start, std::chrono::milliseconds(2000));
        // The notification was abandoned, not answered; the byte was never delivered.
        EXPECT_FALSE(msg.pCompletion->Wait());
        EXPECT_EQ(owner.m_queue.Size(), 0u);
    }
}

TEST(SerialFakeDevice, AnswersEachWriteAndReportsADisconnect)
{
    CTestOwner owner;
    auto pDevice = std::make_unique<CFakeSerialDevice>();
    CFakeSerialDevice* pFake = pDevice.get();
    pFake->SetResponder([](const std::vector<uint8_t>& abWritten) {
        return std::vector<uint8_t>{0xFB, 'o', 'k', static_cast<uint8_t>(abWritten.size()), 0xFE};
    });
    CSerialLink link;
    ASSERT_TRUE(link.OpenDevice(&owner, 4, std::move(pDevice), 9600, 'N', 8, 1, 9, 1024));
    EXPECT_EQ(pFake->GetLineSettings().nBaud, 9600);
    ASSERT_TRUE(link.StartMonitor());

    const uint8_t abFirst[] = {1, 2, 3};
    link.QueueWrite(abFirst, sizeof(abFirst));
    EXPECT_EQ(owner.TakeBytes(5), (std::vector<uint8_t>{0xFB, 'o', 'k', 3, 0xFE}));
    const uint8_t abSecond[] = {0xC3};
    link.QueueWrite(abSecond, sizeof(abSecond));
    EXPECT_EQ(owner.TakeBytes(5), (std::vector<uint8_t>{0xFB, 'o', 'k', 1, 0xFE}));
    EXPECT_EQ(pFake->GetWrites(), (std::vector<std::vector<uint8_t>>{{1, 2, 3}, {0xC3}}));
    EXPECT_EQ(pFake->BytesRead(), 10u);
    EXPECT_EQ(pFake->Unread(), 0u);

    pFake->Disconnect();
    CLinkMessage msg;
    bool bLost = false;
    while (!bLost && owner.TakeMessage(&msg))
        bLost = msg.nMsg == WM_LINK_LOST;
    EXPECT_TRUE(bLost);
    EXPECT_FALSE(link.IsMonitorRunning());
    EXPECT_TRUE(owner.GetErrors().empty());
}

// A fake whose writes wait at a gate the test opens, so the test can look at the link while a
// block is being written. The gate opens by itself after a while, so a failing test never hangs.
class CGatedWriteDevice : public CFakeSerialDevice {
public:
    EIoResult WriteBlock(const uint8_t* pData, size_t nLength, uint32_t nTimeoutMs, const CLinkEvent* pCancel,
                         CDeviceError* pError) override
    {
        {
            std::unique_lock<std::mutex> lock(m_gateMutex);
            m_bEntered = true;
            m_gate.notify_all();
            m_gate.wait_for(lock, std::chrono::milliseconds(EVENT_WAIT_MS), [this] { return m_bOpen; });
        }
        return CFakeSerialDevice::WriteBlock(pData, nLength, nTimeoutMs, pCancel, pError);
    }
    bool WaitUntilWriting()
    {
        std::unique_lock<std::mutex> lock(m_gateMutex);
        return m_gate.wait_for(lock, std::chrono::milliseconds(EVENT_WAIT_MS), [this] { return m_bEntered; });
    }
    void OpenGate()
    {
        std::lock_guard<std::mutex> lock(m_gateMutex);
        m_bOpen = true;
        m_gate.notify_all();
    }

private:
    std::mutex m_gateMutex;
    std::condition_variable m_gate;
    bool m_bEntered = false;
    bool m_bOpen = false;
};

TEST(SerialWritePending, StaysSetUntilTheBlockHasBeenWritten)
{
    // The end of a transfer waits on this flag before it gives the link back.
    CTestOwner owner;
    auto pDevice = std::make_unique<CGatedWriteDevice>();
    CGatedWriteDevice* pGated = pDevice.get();
    // The answer is read only after the write has returned, so once it has come the flag is down.
    pGated->SetResponder([](const std::vector<uint8_t>&) { return std::vector<uint8_t>{0x42}; });
    CSerialLink link;
    ASSERT_TRUE(link.OpenDevice(&owner, 4, std::move(pDevice), 9600, 'N', 8, 1, EV_RXCHAR, 1024));
    ASSERT_TRUE(link.StartMonitor());
    const uint8_t abBlock[] = {0xC3};
    link.QueueWrite(abBlock, sizeof(abBlock));
    const bool bWriting = pGated->WaitUntilWriting();
    const bool bPendingWhileWriting = link.IsWritePending();
    pGated->OpenGate();
    ASSERT_TRUE(bWriting);
    EXPECT_TRUE(bPendingWhileWriting);
    EXPECT_EQ(owner.TakeBytes(1), std::vector<uint8_t>{0x42});
    EXPECT_FALSE(link.IsWritePending());
    EXPECT_EQ(pGated->GetWrites(), (std::vector<std::vector<uint8_t>>{{0xC3}}));
}

TEST(SerialWritePending, WhatWasWrittenIsNotPurgedWhenTheLinkCloses)
{
    // A cancelled transfer gives the link back as soon as its end-of-transfer byte was written;
    // a device that had not read it yet must still get it: closing discards input only.
    CTestOwner owner;
    auto pDevice = std::make_unique<CFakeSerialDevice>();
    CFakeSerialDevice* pFake = pDevice.get();
    auto pLog = std::make_shared<std::vector<std::string>>();
    pFake->SetEventLog(pLog);
    {
        CSerialLink link;
        ASSERT_TRUE(link.OpenDevice(&owner, 4, std::move(pDevice), 9600, 'N', 8, 1, EV_RXCHAR, 1024));
        ASSERT_TRUE(link.StartMonitor());
        const uint8_t abBlock[] = {0xC3};
        link.QueueWrite(abBlock, sizeof(abBlock));
        for (int i = 0; i < 500 && link.IsWritePending(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_FALSE(link.IsWritePending());
    }
    const auto itWrite = std::find(pLog->begin(), pLog->end(), "write");
    ASSERT_NE(itWrite, pLog->end());
    EXPECT_EQ(std::find(itWrite, pLog->end(), "purge both"), pLog->end());
}

// A fake whose one-byte reads fail the first nFailures times, consuming nothing.
class CFailingReadDevice : public CFakeSerialDevice {
public:
    explicit CFailingReadDevice(int nFailures) : m_nFailuresLeft(nFailures) {}
    EIoResult ReadByte(uint8_t* pByte, CDeviceError* pError) override
    {
        if (m_nFailuresLeft.load() > 0) {
            --m_nFailuresLeft;
            *pError = MapDeviceErrno(EINVAL, GetPath(), false);
            return EIoResult::Failed;
        }
        return CFakeSerialDevice::ReadByte(pByte, pError);
    }

private:
    std::atomic<int> m_nFailuresLeft;
};

TEST(SerialReadFailures, AFailedReadPostsNoByteAndRepeatedFailuresEndTheLinkWithOneBox)
{
    const std::string strBox = "Application Error|注意:  ReadFile() 通訊埠發生下列錯誤: \nInvalid argument\nPort: 2\n";
    struct {
        int nFailures;
        bool bLost;
    } const aCases[] = {
        {1, false}, // one failure: one box, then the bytes come through untouched
        {1000, true}, // a device whose reads keep failing: one box, then it counts as lost
    };
    for (const auto& c : aCases) {
        CTestOwner owner;
        auto pDevice = std::make_unique<CFailingReadDevice>(c.nFailures);
        CFailingReadDevice* pFake = pDevice.get();
        CSerialLink link;
        ASSERT_TRUE(link.OpenDevice(&owner, 2, std::move(pDevice), 9600, 'N', 8, 1, 9, 1024));
        ASSERT_TRUE(link.StartMonitor());
        pFake->Feed({0x11, 0x22});
        std::vector<uint8_t> abBytes;
        bool bLost = false;
        CLinkMessage msg;
        while (abBytes.size() < 2 && !bLost && owner.TakeMessage(&msg)) {
            if (msg.nMsg == WM_LINK_RXBYTE)
                abBytes.push_back(static_cast<uint8_t>(msg.wParam));
            bLost = msg.nMsg == WM_LINK_LOST;
        }
        EXPECT_EQ(bLost, c.bLost) << c.nFailures;
        EXPECT_EQ(abBytes, c.bLost ? std::vector<uint8_t>{} : (std::vector<uint8_t>{0x11, 0x22})) << c.nFailures;
        EXPECT_EQ(owner.GetErrors(), std::vector<std::string>{strBox}) << c.nFailures;
    }
}

// Waits until the device has taken nCount writes; false when it did not within the limit.
bool WaitForWrites(const CFakeSerialDevice& device, size_t nCount)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(EVENT_WAIT_MS);
    while (device.GetWrites().size() < nCount) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// True when the link reported its loss within the limit, counted from now (a spinning monitor
// sends a notification per wake-up, so the limit is for all messages together).
bool WaitForLoss(CTestOwner& owner)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(EVENT_WAIT_MS);
    CLinkMessage msg;
    while (std::chrono::steady_clock::now() < deadline && owner.TakeMessage(&msg)) {
        if (msg.nMsg == WM_LINK_LOST)
            return true;
    }
    return false;
}

TEST(SerialMonitorDevices, ADeviceReadableWithNothingToReadIsLostNotSpunOn)
{
    for (auto eInput : {CFakeSerialDevice::EInput::ReadableEmpty, CFakeSerialDevice::EInput::QueryFails}) {
        CTestOwner owner;
        auto pDevice = std::make_unique<CFakeSerialDevice>();
        pDevice->SetInput(eInput);
        CSerialLink link;
        ASSERT_TRUE(link.OpenDevice(&owner, 2, std::move(pDevice), 9600, 'N', 8, 1, 9, 1024));
        ASSERT_TRUE(link.StartMonitor());
        EXPECT_TRUE(WaitForLoss(owner)) << static_cast<int>(eInput);
        EXPECT_FALSE(link.IsMonitorRunning());
    }
}

TEST(SerialMonitorDevices, AFailingWaitIsALostLink)
{
    CTestOwner owner;
    auto pDevice = std::make_unique<CFakeSerialDevice>();
    CFakeSerialDevice* pFake = pDevice.get();
    CSerialLink link;
    ASSERT_TRUE(link.OpenDevice(&owner, 2, std::move(pDevice), 9600, 'N', 8, 1, 9, 1024));
    ASSERT_TRUE(link.StartMonitor());
    // The byte wakes the monitor from the wait it is in; its next wait fails.
    pFake->SetInput(CFakeSerialDevice::EInput::WaitFails);
    pFake->Feed({0x01});
    EXPECT_TRUE(WaitForLoss(owner));
    EXPECT_EQ(owner.GetErrors(), std::vector<std::string>{"Application Error|注意:  WaitCommEvent() 通訊埠發生下列錯誤: \n"
                                                          "Invalid argument\nPort: 2\n"});
}

// Counts received bytes instead of keeping them: a device that never stops sending would fill
// the memory.
class CFloodOwner : public CTestOwner {
public:
    void PostLinkMessage(CLinkMessage msg) override
    {
        if (msg.nMsg == WM_LINK_RXBYTE)
            ++m_nBytes;
        else
            CTestOwner::PostLinkMessage(std::move(msg));
    }
    std::atomic<uint64_t> m_nBytes{0};
};

TEST(SerialMonitorDevices, WritesGetTheirTurnWhileInputNeverStops)
{
    CFloodOwner owner;
    auto pDevice = std::make_unique<CFakeSerialDevice>();
    CFakeSerialDevice* pFake = pDevice.get();
    auto pLink = std::make_unique<CSerialLink>();
    ASSERT_TRUE(pLink->OpenDevice(&owner, 2, std::move(pDevice), 9600, 'N', 8, 1, 9, 1024));
    pFake->SetInput(CFakeSerialDevice::EInput::Endless);
    ASSERT_TRUE(pLink->StartMonitor());
    std::vector<std::vector<uint8_t>> aBlocks = {{1, 2, 3}, {4, 5}, {0xC3}};
    for (size_t i = 0; i < aBlocks.size(); ++i) {
        pLink->QueueWrite(aBlocks[i].data(), static_cast<uint32_t>(aBlocks[i].size()));
        ASSERT_TRUE(WaitForWrites(*pFake, i + 1)) << "block " << i;
    }
    EXPECT_GT(owner.m_nBytes.load(), 0u);
    // Each block once: a block written after a drain pass is not written again on its request.
    EXPECT_EQ(pFake->GetWrites(), aBlocks);
}

TEST(SerialWriteFailures, ABlockThatDidNotLeaveIsAFailedWriteAndRepeatedFailuresEndTheLink)
{
    const std::string strBox =
        "Application Error|注意:  GetOverlappedResults() in WriteFile() 通訊埠發生下列錯誤: \n"
        + std::string(std::strerror(ETIMEDOUT)) + "\nPort: 2\n";
    struct {
        int nFailures;
        bool bLost;
    } const aCases[] = {
        {1, false},   // one block did not leave: one box, it counts as not written, the next goes out
        {1000, true}, // a port that takes nothing: one box, then it counts as lost
    };
    for (const auto& c : aCases) {
        CTestOwner owner;
        auto pDevice = std::make_unique<CFakeSerialDevice>();
        CFakeSerialDevice* pFake = pDevice.get();
        pFake->FailWrites(c.nFailures);
        CSerialLink link;
        ASSERT_TRUE(link.OpenDevice(&owner, 2, std::move(pDevice), 9600, 'N', 8, 1, 9, 1024));
        ASSERT_TRUE(link.StartMonitor());
        auto waitUntilWritten = [&link] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(EVENT_WAIT_MS);
            while (link.IsWritePending() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        const uint8_t abFirst[] = {1, 2, 3};
        link.QueueWrite(abFirst, sizeof(abFirst));
        waitUntilWritten();
        EXPECT_TRUE(link.DidLastWriteFail()) << c.nFailures;
        const uint8_t abSecond[] = {0xC3};
        link.QueueWrite(abSecond, sizeof(abSecond));
        if (c.bLost) {
            EXPECT_TRUE(WaitForLoss(owner));
            EXPECT_TRUE(pFake->GetWrites().empty());
        } else {
            ASSERT_TRUE(WaitForWrites(*pFake, 1));
            EXPECT_EQ(pFake->GetWrites(), (std::vector<std::vector<uint8_t>>{{0xC3}}));
            waitUntilWritten();
            EXPECT_FALSE(link.DidLastWriteFail());
        }
        EXPECT_EQ(owner.GetErrors(), std::vector<std::string>{strBox}) << c.nFailures;
    }
}

TEST(SerialDeviceErrors, ErrnoMapsToMeaning)
{
    CPtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    struct {
        int nErrno;
        bool bOpening;
        EDeviceErrorKind eKind;
    } const aCases[] = {
        {ENOENT, true, EDeviceErrorKind::NotFound},    {ENXIO, true, EDeviceErrorKind::NotFound},
        {ENXIO, false, EDeviceErrorKind::Lost},        {EIO, false, EDeviceErrorKind::Lost},
        {EIO, true, EDeviceErrorKind::Other},          {EBUSY, true, EDeviceErrorKind::Busy},
        {EWOULDBLOCK, true, EDeviceErrorKind::Busy},   {EACCES, true, EDeviceErrorKind::NoPermission},
        {EINVAL, false, EDeviceErrorKind::Other},
    };
    for (const auto& c : aCases) {
        CDeviceError error = MapDeviceErrno(c.nErrno, pty.GetSlavePath(), c.bOpening);
        EXPECT_EQ(error.eKind, c.eKind) << c.nErrno << " " << c.bOpening;
        EXPECT_EQ(error.strSystemText, std::strerror(c.nErrno));
    }
    // No permission looks at the device's owner, group and mode, which decide the advice.
    CDeviceError denied = MapDeviceErrno(EACCES, pty.GetSlavePath(), true);
    struct stat st {};
    ASSERT_EQ(::stat(pty.GetSlavePath().c_str(), &st), 0);
    EXPECT_FALSE(denied.strGroup.empty());
    EXPECT_EQ(denied.nMode, st.st_mode & 07777);
    EXPECT_EQ(denied.eAccess, DeviceAccessOf(st.st_mode & 07777, st.st_gid));
}

// A group is named only when joining it gives access: it may read and write the device and is
// not root's. A device only root may open gets a udev rule instead, in both languages.
TEST(SerialDeviceErrors, PermissionAdviceNamesAGroupOnlyWhenJoiningItHelps)
{
    const struct {
        unsigned int nMode;
        gid_t nGid;
        const char* pszOwner;
        const char* pszGroup;
        EDeviceAccess eAccess;
        const char* pszEnglish;
        const char* pszChinese;
    } aCases[] = {
        {0660, 20, "root", "dialout", EDeviceAccess::Group,
         "No permission to open COM33 (/dev/ttyUSB0): add your user to the group 'dialout' and log in again.",
         "沒有開啟 COM33 (/dev/ttyUSB0) 的權限:請將您的使用者加入群組「dialout」,然後重新登入。"},
        {0600, 20, "root", "dialout", EDeviceAccess::OwnerOnly,
         "No permission to open COM33 (/dev/ttyUSB0): only root may open it (mode 0600, group dialout); to give access,"
         " put a udev rule such as SUBSYSTEM==\"tty\", KERNEL==\"ttyUSB0\", GROUP=\"dialout\", MODE=\"0660\" into a file"
         " in /etc/udev/rules.d/, plug the device in again, and add your user to the group 'dialout'.",
         "沒有開啟 COM33 (/dev/ttyUSB0) 的權限:只有 root 可以開啟這個裝置(權限 0600,群組 dialout)。請系統管理員以 udev"
         " 規則開放存取,例如在 /etc/udev/rules.d/ 的規則檔中寫入一行 SUBSYSTEM==\"tty\", KERNEL==\"ttyUSB0\","
         " GROUP=\"dialout\", MODE=\"0660\",重新插上裝置,再將您的使用者加入群組「dialout」並重新登入。"},
        {0660, 0, "root", "root", EDeviceAccess::OwnerOnly,
         "No permission to open COM33 (/dev/ttyUSB0): only root may open it (mode 0660, group root); to give access,"
         " put a udev rule such as SUBSYSTEM==\"tty\", KERNEL==\"ttyUSB0\", GROUP=\"dialout\", MODE=\"0660\" into a file"
         " in /etc/udev/rules.d/, plug the device in again, and add your user to the group 'dialout'.",
         nullptr},
        // Read-only for the group (a terminal's usual 0620 is write-only) does not help either.
        {0640, 20, "alice", "dialout", EDeviceAccess::OwnerOnly,
         "No permission to open COM33 (/dev/ttyUSB0): only its owner 'alice' may open it (mode 0640, group dialout);"
         " to give access, put a udev rule such as SUBSYSTEM==\"tty\", KERNEL==\"ttyUSB0\", GROUP=\"dialout\","
         " MODE=\"0660\" into a file in /etc/udev/rules.d/, plug the device in again, and add your user to the group"
         " 'dialout'.",
         "沒有開啟 COM33 (/dev/ttyUSB0) 的權限:只有擁有者 alice 可以開啟這個裝置(權限 0640,群組 dialout)。請系統管理員以"
         " udev 規則開放存取,例如在 /etc/udev/rules.d/ 的規則檔中寫入一行 SUBSYSTEM==\"tty\", KERNEL==\"ttyUSB0\","
         " GROUP=\"dialout\", MODE=\"0660\",重新插上裝置,再將您的使用者加入群組「dialout」並重新登入。"},
        // Bits that let everybody in: something else refuses, and the system says what.
        {0666, 0, "root", "root", EDeviceAccess::Unknown,
         "No permission to open COM33 (/dev/ttyUSB0): Permission denied.",
         "沒有開啟 COM33 (/dev/ttyUSB0) 的權限(Permission denied)。請洽系統管理員。"},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszEnglish);
        EXPECT_EQ(DeviceAccessOf(c.nMode, c.nGid), c.eAccess);
        CPortOpenFailure failure;
        failure.eKind = EPortOpenError::NoPermission;
        failure.strDevice = "/dev/ttyUSB0";
        failure.strSystemText = std::strerror(EACCES);
        failure.strOwner = c.pszOwner;
        failure.strGroup = c.pszGroup;
        failure.nMode = c.nMode;
        failure.eAccess = c.eAccess;
        EXPECT_EQ(failure.Describe(33), c.pszEnglish);
        if (c.pszChinese != nullptr) {
            EXPECT_EQ(PortOpenFailureText(33, failure), c.pszChinese);
        }
        EXPECT_EQ(failure.Describe(33).find("group 'root'"), std::string::npos);
        EXPECT_EQ(PortOpenFailureText(33, failure).find("群組「root」"), std::string::npos);
    }
}


// Windows names its ports itself: no ports directory, no link, no kernel rule to tell of. The
// dialog's sentence once spoke of a link in a nameless folder there.
TEST(SerialDeviceErrors, APortTheSystemNamesItselfIsMissingInOneSentence)
{
    const struct {
        const char* pszSystemText;
        const char* pszEnglish;
        const char* pszChinese;
    } aCases[] = {
        {"The system cannot find the file specified", "COM5 does not exist: The system cannot find the file specified.",
         "COM5 不存在(The system cannot find the file specified)。請確認轉接器已接上,或選擇裝置所接的通訊埠。"},
        {"", "COM5 does not exist.", "COM5 不存在。請確認轉接器已接上,或選擇裝置所接的通訊埠。"},
    };
    for (const auto& c : aCases) {
        CPortOpenFailure failure;
        failure.eKind = EPortOpenError::NotFound;
        failure.strSystemText = c.pszSystemText;
        EXPECT_EQ(failure.Describe(5), c.pszEnglish);
        EXPECT_EQ(PortOpenFailureText(5, failure), c.pszChinese);
    }
}

} // namespace
