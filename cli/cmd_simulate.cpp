// matrixctl simulate: a device on a pseudo-terminal, registered as COM<n> in the ports
// directory, answering pattern records the way the real device does (or, on request, badly).

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/simulator.h"
#include "platform/posix/com_ports.h"
#include "platform/posix/pseudo_terminal.h"
#include "text/printable.h"

namespace {

using CClock = std::chrono::steady_clock;

// Closing the master hangs the terminal up, and a hang-up throws away input nobody has read
// yet: the program would never see the last answer. So give it a moment to read it: until the
// slave's input queue is seen empty (after a short grace for bytes still on their way into
// it), at most two seconds, or until a signal comes.
void WaitUntilAnswerTaken(const CPseudoTerminal& pty, int nSignalFd)
{
    const auto start = CClock::now();
    for (;;) {
        auto elapsed = CClock::now() - start;
        int nQueued = 0;
        if (::ioctl(pty.GetSlaveFd(), FIONREAD, &nQueued) != 0)
            return;
        if ((nQueued == 0 && elapsed >= std::chrono::milliseconds(20)) || elapsed >= std::chrono::seconds(2))
            return;
        struct pollfd signal = {nSignalFd, POLLIN, 0};
        if (::poll(&signal, 1, 5) > 0)
            return;
    }
}

// SIGINT and SIGTERM, blocked and delivered as readable data on a descriptor, so the wait for
// the line never races them.
class CSignalWatch {
public:
    CSignalWatch() = default;
    ~CSignalWatch()
    {
        if (m_nFd >= 0)
            ::close(m_nFd);
    }
    CSignalWatch(const CSignalWatch&) = delete;
    CSignalWatch& operator=(const CSignalWatch&) = delete;

    bool Open(std::string* pstrError)
    {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigprocmask(SIG_BLOCK, &signals, nullptr);
        m_nFd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
        if (m_nFd < 0)
            *pstrError = std::string("cannot watch for signals: ") + std::strerror(errno) + ".";
        return m_nFd >= 0;
    }
    int GetFd() const { return m_nFd; }

private:
    int m_nFd = -1;
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

// The device at work on the master side: it takes what the program sends, and puts each
// answer byte on the line when its (paced) time has come.
class CSimulatorLine {
public:
    CSimulatorLine(const CSimulatorOptions& options, const CPseudoTerminal& pty, int nSignalFd)
        : m_options(options), m_pty(pty), m_nSignalFd(nSignalFd), m_device(options),
          // One byte's wire time at the paced speed; zero answers at once.
          m_byteTime(options.nPaceBaud > 0 ? std::chrono::duration_cast<CClock::duration>(
                                                 std::chrono::nanoseconds(10LL * 1000000000LL / options.nPaceBaud))
                                           : CClock::duration::zero())
    {
    }

    // Serves the line until a signal comes, the wait fails, or (with --once) the answer to the
    // end-of-transfer byte has been taken.
    void Serve()
    {
        for (;;) {
            if (WriteDueAnswers())
                continue;
            if (m_bExitWhenSent && m_output.empty()) {
                WaitUntilAnswerTaken(m_pty, m_nSignalFd);
                return;
            }
            switch (WaitForLine()) {
            case EWake::Stop: return;
            case EWake::Input: TakeInput(); break;
            case EWake::Other: break;
            }
        }
    }

private:
    struct CPendingByte {
        CClock::time_point due;
        uint8_t nByte;
    };
    enum class EWake { Stop, Input, Other };

    // Writes the answer bytes that are due; true when there were any to write (whether the
    // line took them or not).
    bool WriteDueAnswers()
    {
        const auto now = CClock::now();
        size_t nDue = 0;
        while (nDue < m_output.size() && m_output[nDue].due <= now)
            ++nDue;
        if (nDue == 0 || m_bWaitWritable)
            return false;
        uint8_t abChunk[256];
        size_t nChunk = std::min(nDue, sizeof(abChunk));
        for (size_t i = 0; i < nChunk; ++i)
            abChunk[i] = m_output[i].nByte;
        ssize_t nWritten = ::write(m_pty.GetMasterFd(), abChunk, nChunk);
        if (nWritten > 0)
            m_output.erase(m_output.begin(), m_output.begin() + nWritten);
        else if (nWritten < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            m_bWaitWritable = true;
        else if (nWritten < 0 && errno != EINTR)
            std::fprintf(stderr, "matrixctl simulate: cannot answer on %s: %s.\n", m_pty.GetSlavePath().c_str(),
                         std::strerror(errno));
        return true;
    }

    // Waits for a signal, input, room on a full line, or the next paced byte's time.
    EWake WaitForLine()
    {
        // Wake exactly when the next paced byte is due: a timeout rounded up to whole
        // milliseconds would make every paced answer up to a millisecond late.
        struct timespec timeout = {0, 0};
        const struct timespec* pTimeout = nullptr;
        if (!m_output.empty() && !m_bWaitWritable) {
            // A byte already overdue (a busy machine woke us late) is due now: ppoll refuses a
            // negative timeout, and the device would stop.
            const auto wait = std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::nanoseconds>(m_output.front().due - CClock::now()).count());
            timeout.tv_sec = static_cast<time_t>(wait / 1000000000LL);
            timeout.tv_nsec = static_cast<long>(wait % 1000000000LL);
            pTimeout = &timeout;
        }
        struct pollfd aWait[2] = {
            {m_nSignalFd, POLLIN, 0},
            {m_pty.GetMasterFd(), static_cast<short>((m_bExitWhenSent ? 0 : POLLIN) | (m_bWaitWritable ? POLLOUT : 0)), 0},
        };
        int nReady = ::ppoll(aWait, 2, pTimeout, nullptr);
        if (nReady < 0 && errno == EINTR)
            return EWake::Other;
        if (nReady < 0) {
            std::fprintf(stderr, "matrixctl simulate: waiting failed: %s.\n", std::strerror(errno));
            return EWake::Stop;
        }
        if (aWait[0].revents != 0) {
            std::fprintf(stderr, "matrixctl simulate: stopped by a signal.\n");
            return EWake::Stop;
        }
        if ((aWait[1].revents & POLLOUT) != 0)
            m_bWaitWritable = false;
        return (aWait[1].revents & POLLIN) != 0 ? EWake::Input : EWake::Other;
    }

    // Reads what the program sent and queues the device's answers, each byte with its time.
    void TakeInput()
    {
        uint8_t abInput[512];
        ssize_t nRead = ::read(m_pty.GetMasterFd(), abInput, sizeof(abInput));
        if (nRead <= 0)
            return;
        const auto now = CClock::now();
        for (ssize_t i = 0; i < nRead; ++i) {
            // At a paced speed each byte takes its wire time to arrive, one after the other.
            m_receiveFree = std::max(m_receiveFree, now) + m_byteTime;
            CSimulatedDevice::CEvent event = m_device.TakeByte(abInput[i]);
            if (!event.strLog.empty())
                std::fprintf(stderr, "%s\n", event.strLog.c_str());
            CClock::time_point send = std::max(m_receiveFree, m_sendFree);
            for (uint8_t nByte : event.abReply) {
                send += m_byteTime;
                m_output.push_back({send, nByte});
            }
            m_sendFree = send;
            if (event.bEndOfTransfer && m_options.bOnce) {
                // Nothing after the end-of-transfer byte is looked at.
                m_bExitWhenSent = true;
                return;
            }
        }
    }

    const CSimulatorOptions& m_options;
    const CPseudoTerminal& m_pty;
    const int m_nSignalFd;
    CSimulatedDevice m_device;
    const CClock::duration m_byteTime;
    std::deque<CPendingByte> m_output;
    CClock::time_point m_receiveFree = CClock::now();
    CClock::time_point m_sendFree = CClock::now();
    bool m_bExitWhenSent = false;
    bool m_bWaitWritable = false;
};

int RunSimulator(const CSimulatorOptions& options)
{
    CPseudoTerminal pty;
    CSignalWatch signals;
    std::string strError;
    if (!pty.Open(true, &strError) || !signals.Open(&strError)
        || !RegisterComPortLink(options.nPort, pty.GetSlavePath(), &strError)) {
        std::fprintf(stderr, "matrixctl simulate: %s\n", strError.c_str());
        return EXIT_CANNOT_START;
    }
    // Declared after the pseudo-terminal, so the link goes before the terminal closes.
    CLinkRegistration registration(options.nPort, pty.GetSlavePath());
    std::printf("COM%d %s\n", options.nPort, pty.GetSlavePath().c_str());
    std::fflush(stdout);

    CSimulatorLine(options, pty, signals.GetFd()).Serve();
    return EXIT_OK;
}

} // namespace

int RunSimulateCommand(const std::vector<std::string>& args)
{
    CSimulatorOptions options;
    long nPort = options.nPort;
    long nPace = 0;
    std::string strReply;
    CCommandLine line("simulate", "[OPTIONS]",
                      "Runs a simulated device on a pseudo-terminal and links it as COM<N> (default 9) in\n"
                      "the ports directory (" + EscapeForTerminal(GetPortsDirectory()) + "). The first line printed is\n"
                      "'COM<N> <pty path>'. Each record received is logged on stderr.");
    line.AddComPort("-p,--port", &nPort, "--port needs a COM number from 1 to 255", "the COM port to register as");
    line.AddText("--reply", "MODE", &strReply,
                 "ok: answer every well-formed record with FB 'o' 'k' FE (default)\n"
                 "abnormal:K: answer FB 'n' 'g' FE to the first K sends of each record\n"
                 "wrong: answer FB 'n' 'g' FE to every record, for ever\n"
                 "silent: answer nothing\n"
                 "silent:K: ignore the first K sends of each record\n"
                 "garbage: answer noise without a reply frame\n"
                 "split: cut each ok answer in two: FB 'o' after one record, 'k' FE after the next\n"
                 "(never a whole frame after one send)",
                 [&options](const std::string& strMode) { return ParseReplyMode(strMode, &options); },
                 "--reply needs ok, abnormal:K, wrong, silent, silent:K, garbage or split");
    line.AddNumber("--pace", "BAUD", &nPace, 1, 4000000, "--pace needs a baud rate from 1 to 4000000",
                   "read and answer at the wire speed of BAUD (10 bits a byte): a slow device, whose\n"
                   "answer comes late (a record takes 120 s / BAUD to arrive, its answer 40 s / BAUD more)");
    line.AddFlag("--once", &options.bOnce, "exit after answering the end-of-transfer byte");
    line.SetNotes("A malformed record gets the abnormal answer. SIGINT or SIGTERM end it; the link is\n"
                  "removed on the way out.");
    if (const int nStatus = line.Parse(args); nStatus >= 0)
        return nStatus;
    options.nPort = static_cast<int>(nPort);
    options.nPaceBaud = static_cast<int>(nPace);
    return RunSimulator(options);
}
