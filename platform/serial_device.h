#pragma once
// ISerialDevice: the serial device as the engine (serial/serial_link.cpp) sees it. The engine
// is portable; every termios, ioctl, poll and flock call lives behind this interface in
// platform/posix_serial_device.cpp. Tests put a pseudo-terminal or a scripted fake behind it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The line settings of one open, as the "baud=%d parity=%c data=%d stop=%d" definition gives them.
struct CLineSettings {
    int nBaud = 9600;
    char cParity = 'N'; // N, E, O, M or S (either letter case)
    int nDataBits = 8;  // 5..8
    int nStopBits = 1;  // 1 or 2
};

// The configuration chain, in order. The engine names the step that failed in its error box.
enum class EConfigStep {
    None,
    SetTimeouts,  // nothing can fail here: the engine keeps its own deadlines
    SetEventMask, // nothing can fail here: the engine always polls for input and hang-up
    GetState,     // reading the current line settings (tcgetattr)
    BuildState,   // an unsupported baud, parity, data or stop value
    SetState,     // applying the line settings (tcsetattr)
};

enum class EDeviceErrorKind {
    None,
    NotFound,     // no such device
    Busy,         // another open holds the device
    NoPermission, // the user may not open it (usually: not in the device's group)
    Lost,         // the device went away: unplugged, hung up, I/O error
    NotSerialPort, // it opened, but it is no terminal (/dev/null, a plain file)
    Other,        // anything else; the system text says what
};

struct CDeviceError {
    EDeviceErrorKind eKind = EDeviceErrorKind::None;
    int nErrno = 0;
    std::string strSystemText; // strerror of nErrno
    std::string strGroup;      // for NoPermission: the group owning the device, when known
};

// Maps an errno to its meaning for the device at strPath. bOpening: the error came from the
// open itself (ENXIO/ENODEV then mean "no such device"; later they mean the device went away).
CDeviceError MapDeviceErrno(int nErrno, const std::string& strPath, bool bOpening);

enum class EIoResult {
    Ok,
    WouldBlock,    // nothing to read right now
    Cancelled,     // the cancel descriptor became readable while waiting
    Lost,          // the device went away
    Failed,        // the call itself failed
    FailedWaiting, // the write was issued but failed (or ran out of time) while completing
};

class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    // The path the device was opened from (for messages).
    virtual const std::string& GetPath() const = 0;
    // A descriptor that polls readable (POLLIN) while input is queued, and reports POLLHUP,
    // POLLERR or POLLNVAL when the device is gone (see IsHungUp).
    virtual int GetPollFd() const = 0;
    // Raw mode and the line settings. On failure *peFailedStep names the step and *pError why.
    virtual bool Configure(const CLineSettings& line, EConfigStep* peFailedStep, CDeviceError* pError) = 0;
    // Discards the input and output queues.
    virtual bool Purge(CDeviceError* pError) = 0;
    // Raises DTR, then RTS. Pseudo-terminals refuse it; that is not an error, so nothing is reported.
    virtual void RaiseDtrRts() = 0;
    // The number of input bytes queued.
    virtual bool GetQueuedInput(uint32_t* pnCount, CDeviceError* pError) = 0;
    // Reads exactly one byte; Ok only when *pByte was filled.
    virtual EIoResult ReadByte(uint8_t* pByte, CDeviceError* pError) = 0;
    // Writes the whole block and waits until it has left the driver, at most nTimeoutMs in
    // all. Gives up with Cancelled as soon as nCancelFd (if >= 0) polls readable.
    virtual EIoResult WriteBlock(const uint8_t* pData, size_t nLength, uint32_t nTimeoutMs, int nCancelFd,
                                 CDeviceError* pError) = 0;
    // Given the poll result flags for GetPollFd(): true when the device is gone for good.
    virtual bool IsHungUp(short nRevents) const = 0;
};

// A manual-reset event a poll can wait on (an eventfd): once signalled it stays readable
// until reset.
class CPollEvent {
public:
    CPollEvent() = default;
    ~CPollEvent() { Close(); }
    CPollEvent(const CPollEvent&) = delete;
    CPollEvent& operator=(const CPollEvent&) = delete;

    // Replaces the event by a fresh one, not signalled; false (errno set) when none could be made.
    bool Create();
    void Close();
    void Signal() const;
    void Reset() const;
    int GetFd() const { return m_nFd; }

private:
    int m_nFd = -1;
};

// What the monitor's wait found: the lowest ready slot wins (stop, then the device, then a
// write request).
enum class ELinkWaitSlot {
    Stop,
    Device,
    WriteRequest,
    Failed, // the wait itself failed; nErrno says why
};

struct CLinkWaitResult {
    ELinkWaitSlot eSlot = ELinkWaitSlot::Failed;
    bool bInput = false;  // for Device: input is queued
    bool bHungUp = false; // for Device: the device is gone
    int nErrno = 0;
};

// Blocks without a time limit until the stop event, the device (input when bWantInput, and
// always a hang-up) or the write-request event is ready.
CLinkWaitResult WaitForLinkEvents(const CPollEvent& stop, const ISerialDevice& device, bool bWantInput,
                                  const CPollEvent& writeRequest);

// Opens a serial device exclusively: O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, flock and TIOCEXCL.
// Returns nullptr with *pError filled when it cannot be opened.
std::unique_ptr<ISerialDevice> OpenPosixSerialDevice(const std::string& strPath, CDeviceError* pError);
