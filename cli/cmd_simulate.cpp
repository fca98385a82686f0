// matrixctl simulate: a device on a pseudo-terminal, registered as COM<n> in the ports
// directory, answering pattern records the way the real device does (or, on request, badly).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "cli/commands.h"
#include "cli/simulator.h"
#include "platform/com_ports.h"

namespace {

using CClock = std::chrono::steady_clock;

void PrintSimulateUsage(FILE* pOut)
{
    std::fprintf(pOut,
                 "usage: matrixctl simulate [--port N] [--reply ok|abnormal:K|silent|silent:K|garbage]\n"
                 "                          [--pace BAUD] [--once]\n"
                 "\n"
                 "Runs a simulated device on a pseudo-terminal and links it as COM<N> (default 9) in\n"
                 "the ports directory (%s). The first line printed is\n"
                 "'COM<N> <pty path>'. Each record received is logged on stderr.\n"
                 "\n"
                 "  --reply ok          answer every well-formed record with FB 'o' 'k' FE (default)\n"
                 "  --reply abnormal:K  answer FB 'n' 'g' FE to the first K sends of each record\n"
                 "  --reply silent      answer nothing\n"
                 "  --reply silent:K    ignore the first K sends of each record\n"
                 "  --reply garbage     answer noise without a reply frame\n"
                 "  --pace BAUD         read and answer at the wire speed of BAUD (10 bits a byte)\n"
                 "  --once              exit after answering the end-of-transfer byte\n"
                 "\n"
                 "A malformed record gets the abnormal answer. SIGINT or SIGTERM end it; the link is\n"
                 "removed on the way out.\n",
                 GetPortsDirectory().c_str());
}

// The number of an option that must be an int in [nMin, nMax].
bool ParseIntOption(const char* pszText, int nMin, int nMax, int* pnValue)
{
    long nValue = 0;
    if (!ParseNumberArgument(pszText, nMin, nMax, &nValue))
        return false;
    *pnValue = static_cast<int>(nValue);
    return true;
}

// The pseudo-terminal and the simulator's own slave descriptor. Keeping the slave open keeps
// its settings raw between the program's opens and spares the master a hang-up each time the
// program closes the port.
class CPseudoTerminal {
public:
    ~CPseudoTerminal()
    {
        if (m_nSlaveFd >= 0)
            ::close(m_nSlaveFd);
        if (m_nMasterFd >= 0)
            ::close(m_nMasterFd);
    }
    bool Open(std::string* pstrError)
    {
        m_nMasterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char szName[128] = {};
        if (m_nMasterFd < 0 || ::grantpt(m_nMasterFd) != 0 || ::unlockpt(m_nMasterFd) != 0
            || ::ptsname_r(m_nMasterFd, szName, sizeof(szName)) != 0) {
            *pstrError = std::string("Cannot create a pseudo-terminal: ") + std::strerror(errno) + ".";
            return false;
        }
        m_strSlavePath = szName;
        m_nSlaveFd = ::open(szName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        struct termios tio {};
        if (m_nSlaveFd < 0 || ::tcgetattr(m_nSlaveFd, &tio) != 0) {
            *pstrError = "Cannot set up the pseudo-terminal " + m_strSlavePath + ": " + std::strerror(errno) + ".";
            return false;
        }
        ::cfmakeraw(&tio);
        ::tcsetattr(m_nSlaveFd, TCSANOW, &tio);
        return true;
    }
    int GetMasterFd() const { return m_nMasterFd; }
    // Closing the master hangs the terminal up, and a hang-up throws away input nobody has read
    // yet: the program would never see the last answer. So give it a moment to read it: until
    // the slave's input queue is seen empty (after a short grace for bytes still on their way
    // into it), at most two seconds, or until a signal comes.
    void WaitUntilAnswerTaken(int nSignalFd) const
    {
        const auto start = CClock::now();
        for (;;) {
            auto elapsed = CClock::now() - start;
            int nQueued = 0;
            if (::ioctl(m_nSlaveFd, FIONREAD, &nQueued) != 0)
                return;
            if ((nQueued == 0 && elapsed >= std::chrono::milliseconds(20)) || elapsed >= std::chrono::seconds(2))
                return;
            struct pollfd signal = {nSignalFd, POLLIN, 0};
            if (::poll(&signal, 1, 5) > 0)
                return;
        }
    }
    const std::string& GetSlavePath() const { return m_strSlavePath; }

private:
    int m_nMasterFd = -1;
    int m_nSlaveFd = -1;
    std::string m_strSlavePath;
};

// Removes the COM link when the simulator ends, however it ends.
class CLinkRegistration {
public:
    CLinkRegistration(int nPort, std::string strDevice) : m_nPort(nPort), m_strDevice(std::move(strDevice)) {}
    ~CLinkRegistration() { RemoveComPortLink(m_nPort, m_strDevice); }
    CLinkRegistration(const CLinkRegistration&) = delete;
    CLinkRegistration& operator=(const CLinkRegistration&) = delete;

private:
    int m_nPort;
    std::string m_strDevice;
};

struct CPendingByte {
    CClock::time_point due;
    uint8_t nByte;
};

int RunSimulator(const CSimulatorOptions& options)
{
    CPseudoTerminal pty;
    std::string strError;
    if (!pty.Open(&strError)) {
        std::fprintf(stderr, "matrixctl simulate: %s\n", strError.c_str());
        return EXIT_CANNOT_START;
    }

    // Signals arrive as readable data on a descriptor, so the loop below never races them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    int nSignalFd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (nSignalFd < 0) {
        std::fprintf(stderr, "matrixctl simulate: cannot watch for signals: %s.\n", std::strerror(errno));
        return EXIT_CANNOT_START;
    }

    if (!RegisterComPortLink(options.nPort, pty.GetSlavePath(), &strError)) {
        std::fprintf(stderr, "matrixctl simulate: %s\n", strError.c_str());
        ::close(nSignalFd);
        return EXIT_CANNOT_START;
    }
    CLinkRegistration registration(options.nPort, pty.GetSlavePath());
    std::printf("COM%d %s\n", options.nPort, pty.GetSlavePath().c_str());
    std::fflush(stdout);

    // One byte's wire time at the paced speed; zero answers at once.
    const auto byteTime = options.nPaceBaud > 0
                              ? std::chrono::duration_cast<CClock::duration>(std::chrono::nanoseconds(
                                    10LL * 1000000000LL / options.nPaceBaud))
                              : CClock::duration::zero();
    CSimulatedDevice device(options);
    std::deque<CPendingByte> output;
    CClock::time_point receiveFree = CClock::now();
    CClock::time_point sendFree = CClock::now();
    bool bExitWhenSent = false;
    bool bWaitWritable = false;
    const int nMasterFd = pty.GetMasterFd();

    for (;;) {
        auto now = CClock::now();
        // Write what is due.
        size_t nDue = 0;
        while (nDue < output.size() && output[nDue].due <= now)
            ++nDue;
        if (nDue > 0 && !bWaitWritable) {
            uint8_t abChunk[256];
            size_t nChunk = std::min(nDue, sizeof(abChunk));
            for (size_t i = 0; i < nChunk; ++i)
                abChunk[i] = output[i].nByte;
            ssize_t nWritten = ::write(nMasterFd, abChunk, nChunk);
            if (nWritten > 0)
                output.erase(output.begin(), output.begin() + nWritten);
            else if (nWritten < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                bWaitWritable = true;
            else if (nWritten < 0 && errno != EINTR)
                std::fprintf(stderr, "matrixctl simulate: cannot answer on %s: %s.\n", pty.GetSlavePath().c_str(),
                             std::strerror(errno));
            continue;
        }
        if (bExitWhenSent && output.empty()) {
            pty.WaitUntilAnswerTaken(nSignalFd);
            break;
        }

        // Wake exactly when the next paced byte is due: a timeout rounded up to whole
        // milliseconds would make every paced answer up to a millisecond late.
        struct timespec timeout = {0, 0};
        const struct timespec* pTimeout = nullptr;
        if (!output.empty() && !bWaitWritable) {
            const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(output.front().due - now).count();
            timeout.tv_sec = static_cast<time_t>(wait / 1000000000LL);
            timeout.tv_nsec = static_cast<long>(wait % 1000000000LL);
            pTimeout = &timeout;
        }
        struct pollfd aWait[2] = {
            {nSignalFd, POLLIN, 0},
            {nMasterFd, static_cast<short>((bExitWhenSent ? 0 : POLLIN) | (bWaitWritable ? POLLOUT : 0)), 0},
        };
        int nReady = ::ppoll(aWait, 2, pTimeout, nullptr);
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady < 0) {
            std::fprintf(stderr, "matrixctl simulate: waiting failed: %s.\n", std::strerror(errno));
            break;
        }
        if (aWait[0].revents != 0) {
            std::fprintf(stderr, "matrixctl simulate: stopped by a signal.\n");
            break;
        }
        if ((aWait[1].revents & POLLOUT) != 0)
            bWaitWritable = false;
        if ((aWait[1].revents & POLLIN) == 0)
            continue;

        uint8_t abInput[512];
        ssize_t nRead = ::read(nMasterFd, abInput, sizeof(abInput));
        if (nRead <= 0)
            continue;
        now = CClock::now();
        for (ssize_t i = 0; i < nRead; ++i) {
            // At a paced speed each byte takes its wire time to arrive, one after the other.
            receiveFree = std::max(receiveFree, now) + byteTime;
            CSimulatedDevice::CEvent event = device.TakeByte(abInput[i]);
            if (!event.strLog.empty())
                std::fprintf(stderr, "%s\n", event.strLog.c_str());
            CClock::time_point send = std::max(receiveFree, sendFree);
            for (uint8_t nByte : event.abReply) {
                send += byteTime;
                output.push_back({send, nByte});
            }
            sendFree = send;
            if (event.bEndOfTransfer && options.bOnce) {
                // Nothing after the end-of-transfer byte is looked at.
                bExitWhenSent = true;
                break;
            }
        }
    }
    // The registration's destructor removes the link before the pseudo-terminal closes.
    ::close(nSignalFd);
    return EXIT_OK;
}

} // namespace

int RunSimulateCommand(int argc, char** argv)
{
    CSimulatorOptions options;
    for (int i = 0; i < argc; ++i) {
        const char* pszArg = argv[i];
        const char* pszValue = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(pszArg, "--help") == 0 || std::strcmp(pszArg, "-h") == 0) {
            PrintSimulateUsage(stdout);
            return EXIT_OK;
        }
        if (std::strcmp(pszArg, "--once") == 0) {
            options.bOnce = true;
        } else if (std::strcmp(pszArg, "--port") == 0) {
            if (!ParseIntOption(pszValue, MIN_COM_PORT, MAX_COM_PORT, &options.nPort)) {
                std::fprintf(stderr, "matrixctl simulate: --port needs a COM number from %d to %d.\n", MIN_COM_PORT,
                             MAX_COM_PORT);
                return EXIT_USAGE;
            }
            ++i;
        } else if (std::strcmp(pszArg, "--reply") == 0) {
            if (pszValue == nullptr || !ParseReplyMode(pszValue, &options)) {
                std::fprintf(stderr,
                             "matrixctl simulate: --reply needs ok, abnormal:K, silent, silent:K or garbage.\n");
                return EXIT_USAGE;
            }
            ++i;
        } else if (std::strcmp(pszArg, "--pace") == 0) {
            if (!ParseIntOption(pszValue, 1, 4000000, &options.nPaceBaud)) {
                std::fprintf(stderr, "matrixctl simulate: --pace needs a baud rate from 1 to 4000000.\n");
                return EXIT_USAGE;
            }
            ++i;
        } else {
            std::fprintf(stderr, "matrixctl simulate: unknown argument '%s'.\n", pszArg);
            PrintSimulateUsage(stderr);
            return EXIT_USAGE;
        }
    }
    return RunSimulator(options);
}
