// The serial engine on pseudo-terminals (the real termios path) and on the scripted fake.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_queue.h"
#include "platform/posix/posix_serial.h"
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
    ASSERT_EQ(::close(::open((m_strDir + "/plain-file").c_str(), O_CREAT | O_WRONLY, 0600)), 0);
    Link(6, m_strDir + "/no-such-device");
    Link(7, m_strDir + "/plain-file");
    struct {
        int nPort;
        EPortOpenError eKind;
        std::string strSentence;
    } const aCases[] = {
        {200, EPortOpenError::NotFound,
         "COM200 does not exist: no device is linked as COM200 in " + m_strDir
             + " and no kernel device stands for that number."},
        {6, EPortOpenError::NotFound,
         "COM6 (" + m_strDir + "/no-such-device) does not exist: the link COM6 in " + m_strDir
             + " points to a device that is absent."},
        {7, EPortOpenError::Other,
         "Cannot open COM7 (" + m_strDir + "/plain-file): Inappropriate ioctl for device."},
    };
    for (const auto& c : aCases) {
        CTestOwner owner;
        CSerialLink link;
        EXPECT_FALSE(OpenProgramPort(link, owner, c.nPort)) << c.nPort;
        EXPECT_EQ(link.GetOpenFailure().eKind, c.eKind) << c.nPort;
        EXPECT_EQ(link.GetOpenFailure().Describe(c.nPort), c.strSentence);
        EXPECT_FALSE(link.StartMonitor());
        EXPECT_TRUE(owner.GetErrors().empty());
    }
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
    CTestOwner owner;
    CSerialLink link;
    ASSERT_TRUE(OpenProgramPort(link, owner));
    ASSERT_TRUE(link.StartMonitor());
    m_pty.CloseMaster();

    CLinkMessage msg;
    bool bLost = false;
    while (!bLost && owner.TakeMessage(&msg))
        bLost = msg.nMsg == WM_LINK_LOST;
    ASSERT_TRUE(bLost);
    EXPECT_EQ(msg.lParam, 5);
    EXPECT_FALSE(link.IsMonitorRunning());

    // Nothing more comes and nothing spins: measure the process's CPU time over a window.
    struct rusage before {}, after {};
    ::getrusage(RUSAGE_SELF, &before);
    EXPECT_FALSE(owner.m_queue.WaitForMessage(300));
    ::getrusage(RUSAGE_SELF, &after);
    auto cpuMicros = [](const struct rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000LL + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
    };
    EXPECT_LT(cpuMicros(after) - cpuMicros(before), 50000);
    EXPECT_TRUE(owner.GetErrors().empty());
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
    // No permission names the device's group, which is what the user must join.
    CDeviceError denied = MapDeviceErrno(EACCES, pty.GetSlavePath(), true);
    struct stat st {};
    ASSERT_EQ(::stat(pty.GetSlavePath().c_str(), &st), 0);
    EXPECT_FALSE(denied.strGroup.empty());
    CPortOpenFailure failure;
    failure.eKind = EPortOpenError::NoPermission;
    failure.strDevice = "/dev/ttyUSB0";
    failure.strGroup = "dialout";
    EXPECT_EQ(failure.Describe(33),
              "No permission to open COM33 (/dev/ttyUSB0): add your user to the group 'dialout' and log in again.");
}

} // namespace
