// The serial device over termios. Every termios, ioctl, poll and flock call of the program's
// serial I/O is in this file.

#include "platform/posix/posix_serial.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/com_ports.h"
#include "platform/port_holder.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

// The descriptor inside a link event, for the polls of this file.
struct CLinkEventNative {
    static int GetFd(const CLinkEvent* pEvent) { return pEvent != nullptr ? static_cast<int>(pEvent->m_nNative) : -1; }
};

namespace {

using CSteadyClock = std::chrono::steady_clock;

std::string SystemText(int nErrno)
{
    return std::strerror(nErrno);
}

// The name of a group, or its number when it has none.
std::string GroupName(gid_t nGid)
{
    std::vector<char> buffer(16384);
    struct group grp {};
    struct group* pResult = nullptr;
    if (::getgrgid_r(nGid, &grp, buffer.data(), buffer.size(), &pResult) == 0 && pResult != nullptr
        && pResult->gr_name != nullptr)
        return pResult->gr_name;
    return std::to_string(nGid);
}

// The name of a user, or its number when it has none.
std::string UserName(uid_t nUid)
{
    std::vector<char> buffer(16384);
    struct passwd pwd {};
    struct passwd* pResult = nullptr;
    if (::getpwuid_r(nUid, &pwd, buffer.data(), buffer.size(), &pResult) == 0 && pResult != nullptr
        && pResult->pw_name != nullptr)
        return pResult->pw_name;
    return std::to_string(nUid);
}

// Who may open the device at strPath, for the advice on a refused open.
void NoteDeviceAccess(const std::string& strPath, CDeviceError* pError)
{
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0)
        return;
    pError->strGroup = GroupName(st.st_gid);
    pError->strOwner = UserName(st.st_uid);
    pError->nMode = static_cast<unsigned int>(st.st_mode & 07777);
    pError->eAccess = DeviceAccessOf(pError->nMode, st.st_gid);
}

bool LookUpSpeed(int nBaud, speed_t* pSpeed)
{
    static const struct {
        int nBaud;
        speed_t speed;
    } aSpeeds[] = {
        {50, B50},       {75, B75},           {110, B110},         {134, B134},         {150, B150},
        {200, B200},     {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
        {2400, B2400},   {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
        {57600, B57600}, {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& s : aSpeeds) {
        if (s.nBaud == nBaud) {
            *pSpeed = s.speed;
            return true;
        }
    }
    return false;
}

// Time left until the deadline, in whole milliseconds (0 once it has passed).
int MillisecondsLeft(CSteadyClock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - CSteadyClock::now()).count();
    if (left <= 0)
        return 0;
    return static_cast<int>(std::min<long long>(left, 1000000));
}

// Closes the descriptor unless it was handed on; an early return can never leak it.
class CFdOwner {
public:
    explicit CFdOwner(int nFd) : m_nFd(nFd) {}
    ~CFdOwner()
    {
        if (m_nFd >= 0)
            ::close(m_nFd);
    }
    CFdOwner(const CFdOwner&) = delete;
    CFdOwner& operator=(const CFdOwner&) = delete;
    int Get() const { return m_nFd; }
    int Release()
    {
        int nFd = m_nFd;
        m_nFd = -1;
        return nFd;
    }

private:
    int m_nFd;
};

class CPosixSerialDevice : public ISerialDevice {
public:
    CPosixSerialDevice(int nFd, std::string strPath) : m_nFd(nFd), m_strPath(std::move(strPath)) {}
    ~CPosixSerialDevice() override
    {
        // The exclusive mark belongs to the terminal, not to our descriptor: while anybody
        // else keeps it open (the device simulator always does), it would outlive this close
        // and refuse every later open by a non-root user as busy. Closing the descriptor
        // drops the flock.
        (void)::ioctl(m_nFd, TIOCNXCL);
        ::close(m_nFd);
    }

    const std::string& GetPath() const override { return m_strPath; }

    bool Configure(const CLineSettings& line, EConfigStep* peFailedStep, CDeviceError* pError) override
    {
        // The engine's own deadlines and its poll set stand in for the comm timeouts and the
        // event mask, so the first two steps of the chain have nothing that can fail here.
        struct termios tio {};
        if (::tcgetattr(m_nFd, &tio) != 0)
            return Fail(EConfigStep::GetState, errno, peFailedStep, pError);

        speed_t speed = 0;
        if (!LookUpSpeed(line.nBaud, &speed) || line.nDataBits < 5 || line.nDataBits > 8
            || (line.nStopBits != 1 && line.nStopBits != 2))
            return Fail(EConfigStep::BuildState, EINVAL, peFailedStep, pError);
        tcflag_t parity = 0;
        switch (line.cParity) {
        case 'N': case 'n': parity = 0; break;
        case 'E': case 'e': parity = PARENB; break;
        case 'O': case 'o': parity = PARENB | PARODD; break;
        case 'M': case 'm': parity = PARENB | PARODD | CMSPAR; break;
        case 'S': case 's': parity = PARENB | CMSPAR; break;
        default: return Fail(EConfigStep::BuildState, EINVAL, peFailedStep, pError);
        }
        static const tcflag_t aSizes[] = {CS5, CS6, CS7, CS8};

        ::cfmakeraw(&tio);
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        tio.c_cflag |= CLOCAL | CREAD | aSizes[line.nDataBits - 5] | parity;
        if (line.nStopBits == 2)
            tio.c_cflag |= CSTOPB;
        // Reads never block: the descriptor is non-blocking and the engine polls first.
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
        if (::tcsetattr(m_nFd, TCSANOW, &tio) != 0)
            return Fail(EConfigStep::SetState, errno, peFailedStep, pError);
        m_nBaud = line.nBaud;
        m_nBitsPerByte = 1 + line.nDataBits + (parity != 0 ? 1 : 0) + line.nStopBits;

        // USB-serial adapters batch input for up to 16 ms by default; that would add up to
        // 16 ms to every reply. Drivers that do not know the request refuse it, which is fine.
        struct serial_struct serial {};
        if (::ioctl(m_nFd, TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) == 0) {
            serial.flags |= ASYNC_LOW_LATENCY;
            (void)::ioctl(m_nFd, TIOCSSERIAL, &serial);
        }
        if (peFailedStep != nullptr)
            *peFailedStep = EConfigStep::None;
        return true;
    }

    bool Purge(bool bOutputToo, CDeviceError* pError) override
    {
        if (::tcflush(m_nFd, bOutputToo ? TCIOFLUSH : TCIFLUSH) == 0)
            return true;
        SetError(errno, pError);
        return false;
    }

    void RaiseDtrRts() override
    {
        // Pseudo-terminals have no modem lines and refuse this; nothing depends on it there.
        int nDtr = TIOCM_DTR;
        int nRts = TIOCM_RTS;
        (void)::ioctl(m_nFd, TIOCMBIS, &nDtr);
        (void)::ioctl(m_nFd, TIOCMBIS, &nRts);
    }

    bool GetQueuedInput(uint32_t* pnCount, CDeviceError* pError) override
    {
        int nCount = 0;
        if (::ioctl(m_nFd, FIONREAD, &nCount) != 0) {
            SetError(errno, pError);
            return false;
        }
        *pnCount = nCount > 0 ? static_cast<uint32_t>(nCount) : 0;
        return true;
    }

    EIoResult ReadByte(uint8_t* pByte, CDeviceError* pError) override
    {
        for (;;) {
            ssize_t nRead = ::read(m_nFd, pByte, 1);
            if (nRead == 1)
                return EIoResult::Ok;
            if (nRead == 0) {
                // End of file on a terminal: it was hung up.
                SetError(EIO, pError);
                return EIoResult::Lost;
            }
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return EIoResult::WouldBlock;
            return SetError(errno, pError) == EDeviceErrorKind::Lost ? EIoResult::Lost : EIoResult::Failed;
        }
    }

    EIoResult WriteBlock(const uint8_t* pData, size_t nLength, uint32_t nTimeoutMs, const CLinkEvent* pCancel,
                         CDeviceError* pError) override
    {
        const int nCancelFd = CLinkEventNative::GetFd(pCancel);
        const auto deadline = CSteadyClock::now() + std::chrono::milliseconds(nTimeoutMs);
        size_t nDone = 0;
        bool bIssued = false;
        while (nDone < nLength) {
            ssize_t nWritten = ::write(m_nFd, pData + nDone, nLength - nDone);
            if (nWritten > 0) {
                nDone += static_cast<size_t>(nWritten);
                bIssued = true;
                continue;
            }
            if (nWritten < 0 && errno == EINTR)
                continue;
            if (nWritten < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                if (SetError(errno, pError) == EDeviceErrorKind::Lost)
                    return EIoResult::Lost;
                return bIssued ? EIoResult::FailedWaiting : EIoResult::Failed;
            }
            // The output queue is full: wait until it takes more, the deadline, or a cancel.
            bIssued = true;
            EIoResult result = WaitWritable(deadline, nCancelFd, pError);
            if (result != EIoResult::Ok)
                return result;
        }
        return DrainOutput(deadline, nCancelFd, pError);
    }

    CLinkWaitResult WaitForEvents(const CLinkEvent& stop, bool bWantInput, const CLinkEvent& writeRequest) override
    {
        CLinkWaitResult result;
        for (;;) {
            // Without interest in input, input that stays queued must not wake the wait for
            // ever; a hang-up is reported regardless of the events asked for.
            struct pollfd aWait[3] = {
                {CLinkEventNative::GetFd(&stop), POLLIN, 0},
                {m_nFd, static_cast<short>(bWantInput ? POLLIN : 0), 0},
                {CLinkEventNative::GetFd(&writeRequest), POLLIN, 0},
            };
            int nReady = ::poll(aWait, 3, -1);
            if (nReady < 0 && errno == EINTR)
                continue;
            if (nReady < 0) {
                result.strSystemText = SystemText(errno);
                return result;
            }
            if (aWait[0].revents != 0) {
                result.eSlot = ELinkWaitSlot::Stop;
            } else if (aWait[1].revents != 0) {
                result.eSlot = ELinkWaitSlot::Device;
                result.bInput = (aWait[1].revents & POLLIN) != 0;
                result.bHungUp = IsHungUp(aWait[1].revents);
            } else if (aWait[2].revents != 0) {
                result.eSlot = ELinkWaitSlot::WriteRequest;
            } else {
                continue;
            }
            return result;
        }
    }

private:
    static bool IsHungUp(short nRevents) { return (nRevents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

    EIoResult WaitWritable(CSteadyClock::time_point deadline, int nCancelFd, CDeviceError* pError)
    {
        for (;;) {
            int nLeft = MillisecondsLeft(deadline);
            if (nLeft == 0) {
                SetError(ETIMEDOUT, pError);
                return EIoResult::FailedWaiting;
            }
            struct pollfd aFds[2] = {{m_nFd, POLLOUT, 0}, {nCancelFd, POLLIN, 0}};
            int nReady = ::poll(aFds, nCancelFd >= 0 ? 2 : 1, nLeft);
            if (nReady < 0 && errno == EINTR)
                continue;
            if (nReady < 0) {
                SetError(errno, pError);
                return EIoResult::FailedWaiting;
            }
            if (nCancelFd >= 0 && (aFds[1].revents & POLLIN) != 0)
                return EIoResult::Cancelled;
            if (IsHungUp(aFds[0].revents)) {
                SetError(EIO, pError);
                return EIoResult::Lost;
            }
            if ((aFds[0].revents & POLLOUT) != 0)
                return EIoResult::Ok;
        }
    }

    // Waits until the written bytes have left the driver. tcdrain alone has no time limit, so
    // the queue is watched with TIOCOUTQ, sleeping for the wire time of what is still queued.
    EIoResult DrainOutput(CSteadyClock::time_point deadline, int nCancelFd, CDeviceError* pError)
    {
        for (;;) {
            int nQueued = 0;
            if (::ioctl(m_nFd, TIOCOUTQ, &nQueued) != 0 || nQueued <= 0)
                break;
            int nLeft = MillisecondsLeft(deadline);
            if (nLeft == 0) {
                SetError(ETIMEDOUT, pError);
                return EIoResult::FailedWaiting;
            }
            long long nWireMs = static_cast<long long>(nQueued) * m_nBitsPerByte * 1000 / std::max(m_nBaud, 1) + 1;
            int nWaitMs = static_cast<int>(std::min<long long>(nWireMs, nLeft));
            struct pollfd cancel = {nCancelFd, POLLIN, 0};
            int nReady = ::poll(&cancel, nCancelFd >= 0 ? 1 : 0, nWaitMs);
            if (nReady > 0 && (cancel.revents & POLLIN) != 0)
                return EIoResult::Cancelled;
        }
        // The driver's queue is empty; what remains is at most the shift register.
        while (::tcdrain(m_nFd) != 0) {
            if (errno == EINTR)
                continue;
            // Pseudo-terminals and some drivers do not support it; the queue is empty anyway.
            if (errno == ENOTTY || errno == EINVAL)
                break;
            return SetError(errno, pError) == EDeviceErrorKind::Lost ? EIoResult::Lost : EIoResult::FailedWaiting;
        }
        return EIoResult::Ok;
    }

    EDeviceErrorKind SetError(int nErrno, CDeviceError* pError)
    {
        CDeviceError error = MapDeviceErrno(nErrno, m_strPath, false);
        if (pError != nullptr)
            *pError = error;
        return error.eKind;
    }

    bool Fail(EConfigStep eStep, int nErrno, EConfigStep* peFailedStep, CDeviceError* pError)
    {
        if (peFailedStep != nullptr)
            *peFailedStep = eStep;
        SetError(nErrno, pError);
        return false;
    }

    int m_nFd;
    std::string m_strPath;
    int m_nBaud = 9600;
    int m_nBitsPerByte = 10;
};

} // namespace

EDeviceAccess DeviceAccessOf(unsigned int nMode, gid_t nGid)
{
    // Joining the group helps only when the group may both read and write; root's group is
    // not one to send a user into.
    if ((nMode & 0060) == 0060 && nGid != 0)
        return EDeviceAccess::Group;
    // Bits that would let anybody in say nothing about why this user was refused.
    if ((nMode & 0006) == 0006)
        return EDeviceAccess::Unknown;
    return EDeviceAccess::OwnerOnly;
}

EDeviceErrorKind DeviceErrorKindOf(int nErrno, bool bOpening)
{
    switch (nErrno) {
    case 0:
        return EDeviceErrorKind::None;
    case ENOENT:
    case ENOTDIR:
        return EDeviceErrorKind::NotFound;
    case ENXIO:
    case ENODEV:
        // At the open these say that no device answers to the name; later, that it went away.
        return bOpening ? EDeviceErrorKind::NotFound : EDeviceErrorKind::Lost;
    case EBUSY:
    case EWOULDBLOCK: // flock's answer when another open holds the lock
        return EDeviceErrorKind::Busy;
    case EACCES:
    case EPERM:
        return EDeviceErrorKind::NoPermission;
    case ENOTTY:
        return bOpening ? EDeviceErrorKind::NotSerialPort : EDeviceErrorKind::Other;
    case EIO:
    case EPIPE:
    case EBADF:
        return bOpening ? EDeviceErrorKind::Other : EDeviceErrorKind::Lost;
    default:
        return EDeviceErrorKind::Other;
    }
}

CDeviceError MapDeviceErrno(int nErrno, const std::string& strPath, bool bOpening)
{
    CDeviceError error;
    error.nErrno = nErrno;
    error.strSystemText = SystemText(nErrno);
    error.eKind = DeviceErrorKindOf(nErrno, bOpening);
    if (error.eKind == EDeviceErrorKind::NoPermission)
        NoteDeviceAccess(strPath, &error);
    return error;
}

std::unique_ptr<ISerialDevice> OpenPosixSerialDevice(const std::string& strPath, CDeviceError* pError)
{
    auto fail = [&](int nErrno) -> std::unique_ptr<ISerialDevice> {
        if (pError != nullptr)
            *pError = MapDeviceErrno(nErrno, strPath, true);
        return nullptr;
    };
    // Something that is there but is no serial port: eKind says why, st what it is.
    auto failAs = [&](EDeviceErrorKind eKind, const struct stat& st) -> std::unique_ptr<ISerialDevice> {
        if (pError != nullptr) {
            *pError = MapDeviceErrno(ENOTTY, strPath, true);
            pError->eKind = eKind;
            pError->eFileType = FileTypeOfMode(st.st_mode);
        }
        return nullptr;
    };
    // The multiplexer opens fine and is a terminal, but each open makes a new pseudo-terminal
    // that no device is on the other end of: refused before it is opened.
    struct stat st {};
    if (::stat(strPath.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && IsPtyMultiplexer(st.st_rdev))
        return failAs(EDeviceErrorKind::PtyMultiplexer, st);
    int nFd = -1;
    do {
        nFd = ::open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (nFd < 0 && errno == EINTR);
    if (nFd < 0) {
        const int nErrno = errno;
        // A socket refuses an open with ENXIO, which for a device node would mean that no
        // device answers to it, and a directory with EISDIR: either is there all the same,
        // and is no serial port.
        if (::stat(strPath.c_str(), &st) == 0 && !S_ISCHR(st.st_mode))
            return failAs(EDeviceErrorKind::NotSerialPort, st);
        return fail(nErrno);
    }
    CFdOwner fd(nFd);

    if (::fstat(fd.Get(), &st) != 0)
        return fail(errno);
    if (S_ISCHR(st.st_mode) && IsPtyMultiplexer(st.st_rdev))
        return failAs(EDeviceErrorKind::PtyMultiplexer, st);
    // Only a terminal is a serial port: /dev/null or a plain file would open, poll readable
    // for ever and refuse every serial call.
    if (!S_ISCHR(st.st_mode) || ::isatty(fd.Get()) == 0)
        return failAs(EDeviceErrorKind::NotSerialPort, st);
    // Both locks, because each covers a gap of the other: TIOCEXCL keeps other programs from
    // opening the terminal at all but root ignores it; flock is honoured by root, but only
    // among programs that ask for it.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return fail(errno);
    if (::ioctl(fd.Get(), TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL)
        return fail(errno);
    if (pError != nullptr)
        *pError = CDeviceError();
    return std::make_unique<CPosixSerialDevice>(fd.Release(), strPath);
}

namespace {

// Who has the busy device open, when the system lets us see it.
void NoteHolder(const std::string& strDevicePath, CPortOpenFailure* pFailure)
{
    CPortHolder holder;
    if (!FindPortHolder(strDevicePath, &holder))
        return;
    pFailure->nHolderPid = holder.nPid;
    pFailure->strHolderCommand = holder.strCommand;
    pFailure->bHolderIsModemManager = IsModemManager(holder);
}

} // namespace

std::unique_ptr<ISerialDevice> OpenComPort(int nPort, CPortOpenFailure* pFailure)
{
    CPortOpenFailure failure;
    CComPortResolution resolution = ResolveComPort(nPort);
    if (!resolution.bResolved) {
        failure.eKind = EPortOpenError::NotFound;
        failure.strPortsDir = resolution.strPortsDir;
        failure.nPortsDirErrno = resolution.nPortsDirErrno;
        if (resolution.nPortsDirErrno != 0)
            failure.strPortsDirError = SystemText(resolution.nPortsDirErrno);
        failure.strKernelDevice = resolution.strKernelDevice;
        failure.bKernelNodeExists = !resolution.strKernelDevice.empty() && IsCharacterDevice(resolution.strKernelDevice);
        *pFailure = failure;
        return nullptr;
    }
    CDeviceError error;
    std::unique_ptr<ISerialDevice> pDevice = OpenPosixSerialDevice(resolution.strOpenPath, &error);
    if (!pDevice) {
        failure.strDevice = resolution.strDevice;
        failure.strSystemText = error.strSystemText;
        failure.strGroup = error.strGroup;
        failure.strOwner = error.strOwner;
        failure.nMode = error.nMode;
        failure.eAccess = error.eAccess;
        failure.eFileType = error.eFileType;
        failure.strPortsDir = resolution.strPortsDir;
        failure.strKernelDevice = resolution.strKernelDevice;
        switch (error.eKind) {
        case EDeviceErrorKind::NotFound:
            failure.eKind = EPortOpenError::NotFound;
            failure.bLinked = resolution.bLinked;
            break;
        case EDeviceErrorKind::Busy:
            failure.eKind = EPortOpenError::Busy;
            NoteHolder(resolution.strOpenPath, &failure);
            break;
        case EDeviceErrorKind::NoPermission: failure.eKind = EPortOpenError::NoPermission; break;
        case EDeviceErrorKind::NotSerialPort: failure.eKind = EPortOpenError::NotSerialPort; break;
        case EDeviceErrorKind::PtyMultiplexer: failure.eKind = EPortOpenError::PtyMultiplexer; break;
        default: failure.eKind = EPortOpenError::Other; break;
        }
    }
    *pFailure = failure;
    return pDevice;
}

bool CLinkEvent::Create(std::string* pstrSystemText)
{
    Close();
    m_nNative = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_nNative >= 0)
        return true;
    if (pstrSystemText != nullptr)
        *pstrSystemText = SystemText(errno);
    return false;
}

void CLinkEvent::Close()
{
    if (m_nNative >= 0)
        ::close(static_cast<int>(m_nNative));
    m_nNative = -1;
}

void CLinkEvent::Signal() const
{
    if (m_nNative < 0)
        return;
    uint64_t nOne = 1;
    while (::write(static_cast<int>(m_nNative), &nOne, sizeof(nOne)) < 0 && errno == EINTR) {
    }
}

void CLinkEvent::Reset() const
{
    if (m_nNative < 0)
        return;
    uint64_t nValue = 0;
    while (::read(static_cast<int>(m_nNative), &nValue, sizeof(nValue)) < 0 && errno == EINTR) {
    }
}

int WaitForLinkEvent(const CLinkEvent* const* apEvents, size_t nCount, std::string* pstrSystemText)
{
    std::vector<struct pollfd> aWait(nCount);
    for (size_t i = 0; i < nCount; ++i)
        aWait[i] = {CLinkEventNative::GetFd(apEvents[i]), POLLIN, 0};
    for (;;) {
        int nReady = ::poll(aWait.data(), aWait.size(), -1);
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady < 0) {
            if (pstrSystemText != nullptr)
                *pstrSystemText = SystemText(errno);
            return -1;
        }
        for (size_t i = 0; i < nCount; ++i) {
            if (aWait[i].revents != 0)
                return static_cast<int>(i);
        }
    }
}
