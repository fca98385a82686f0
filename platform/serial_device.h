#pragma once
// ISerialDevice: the serial device as the engine (serial/serial_link.cpp) sees it. The engine
// is portable; every system call of the serial I/O lives behind this interface, in
// platform/posix/serial_device.cpp (termios) and platform/win32/serial_device.cpp (overlapped
// Win32 I/O). Tests put a pseudo-terminal or a scripted fake behind it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_util.h"

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
    // Windows only (SetCommTimeouts, SetCommMask), and either can fail there; Linux has
    // neither to set: the engine keeps its own deadlines and always polls for input and hang-up.
    SetTimeouts,
    SetEventMask,
    GetState,     // reading the current line settings (tcgetattr, GetCommState)
    BuildState,   // an unsupported baud, parity, data or stop value
    SetState,     // applying the line settings (tcsetattr, SetCommState)
};

enum class EDeviceErrorKind {
    None,
    NotFound,     // no such device
    Busy,         // another open holds the device
    NoPermission, // the user may not open it (usually: not in the device's group)
    Lost,         // the device went away: unplugged, hung up, I/O error
    NotSerialPort, // it opened, but it is no terminal (/dev/null, a plain file), or it is a socket
    PtyMultiplexer, // the pseudo-terminal multiplexer (/dev/ptmx): each open makes a new terminal
    Other,        // anything else; the system text says what
};

// For a device the user may not open: whom its owner, group and mode let in, which decides
// what the user can do about it.
enum class EDeviceAccess {
    Unknown,   // not known, or its bits would let this user in and something else refuses
    Group,     // its group, which is not root's, may read and write it: joining that group helps
    OwnerOnly, // nobody but its owner (root, usually) may: mode 0600, or a group of root's
};

struct CDeviceError {
    EDeviceErrorKind eKind = EDeviceErrorKind::None;
    int nErrno = 0;            // errno on Linux, the system error code on Windows
    std::string strSystemText; // the system's own text for nErrno
    // For NoPermission, when the device can be looked at: its group and owner (names, or
    // numbers where they have none), its permission bits, and what they mean for the user.
    std::string strGroup;
    std::string strOwner;
    unsigned int nMode = 0;
    EDeviceAccess eAccess = EDeviceAccess::Unknown;
    // For NotSerialPort: what the path names, when it is no character device.
    EFileType eFileType = EFileType::CharacterDevice;
};

enum class EIoResult {
    Ok,
    WouldBlock,    // nothing to read right now
    Cancelled,     // the cancel event was signalled while waiting
    Lost,          // the device went away
    Failed,        // the call itself failed
    FailedWaiting, // the write was issued but failed (or ran out of time) while completing
};

// A manual-reset event the link waits on: once signalled it stays signalled until reset. It is
// an eventfd on Linux and an event object on Windows; nobody outside platform/ sees which.
class CLinkEvent {
public:
    CLinkEvent() = default;
    ~CLinkEvent() { Close(); }
    CLinkEvent(const CLinkEvent&) = delete;
    CLinkEvent& operator=(const CLinkEvent&) = delete;

    // Replaces the event by a fresh one, not signalled. False, with the system's text in
    // *pstrSystemText when given, when none could be made.
    bool Create(std::string* pstrSystemText = nullptr);
    void Close();
    void Signal() const;
    void Reset() const;

private:
    friend struct CLinkEventNative; // the per-system code reaches the descriptor or handle
    intptr_t m_nNative = -1;
};

// Blocks until one of the events is signalled and returns the lowest index among those that
// are; -1 when the wait itself failed (*pstrSystemText says why). Events that were never
// created are skipped.
int WaitForLinkEvent(const CLinkEvent* const* apEvents, size_t nCount, std::string* pstrSystemText);

// What the monitor's wait found: the lowest ready slot wins (stop, then the device, then a
// write request).
enum class ELinkWaitSlot {
    Stop,
    Device,
    WriteRequest,
    Failed, // the wait itself failed; strSystemText says why
};

struct CLinkWaitResult {
    ELinkWaitSlot eSlot = ELinkWaitSlot::Failed;
    bool bInput = false;  // for Device: input is queued
    bool bHungUp = false; // for Device: the device is gone
    std::string strSystemText;
};

class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    // The path the device was opened from (for messages).
    virtual const std::string& GetPath() const = 0;
    // Raw mode and the line settings. On failure *peFailedStep names the step and *pError why.
    virtual bool Configure(const CLineSettings& line, EConfigStep* peFailedStep, CDeviceError* pError) = 0;
    // Discards the input queue, and the output queue too when bOutputToo.
    virtual bool Purge(bool bOutputToo, CDeviceError* pError) = 0;
    // Raises DTR, then RTS. Pseudo-terminals refuse it; that is not an error, so nothing is reported.
    virtual void RaiseDtrRts() = 0;
    // The number of input bytes queued.
    virtual bool GetQueuedInput(uint32_t* pnCount, CDeviceError* pError) = 0;
    // Reads exactly one byte; Ok only when *pByte was filled.
    virtual EIoResult ReadByte(uint8_t* pByte, CDeviceError* pError) = 0;
    // Writes the whole block and waits until it has left the driver, at most nTimeoutMs in
    // all. Gives up with Cancelled as soon as pCancel (when given) is signalled.
    virtual EIoResult WriteBlock(const uint8_t* pData, size_t nLength, uint32_t nTimeoutMs, const CLinkEvent* pCancel,
                                 CDeviceError* pError) = 0;
    // Blocks without a time limit until stop is signalled, the device has input (when
    // bWantInput) or is gone, or writeRequest is signalled. The lowest ready slot wins.
    virtual CLinkWaitResult WaitForEvents(const CLinkEvent& stop, bool bWantInput, const CLinkEvent& writeRequest) = 0;
};

// Why a COM port could not be opened; kept for the front ends to show.
enum class EPortOpenError {
    None,
    NotFound,     // COMn resolves to no device, or the device does not exist
    Busy,         // another program (or another link) holds the port
    NoPermission, // the user may not open the device (not in its group)
    NotSerialPort, // the device is no serial port (COMn links to /dev/null, a plain file, a socket)
    PtyMultiplexer, // COMn names /dev/ptmx, which makes a new pseudo-terminal at every open
    Other,        // any other system error; strSystemText says which
};

struct CPortOpenFailure {
    EPortOpenError eKind = EPortOpenError::None;
    std::string strDevice;     // the device path COMn resolved to, if any
    std::string strSystemText; // the system's own text for the error
    // For NoPermission: the device's group (e.g. dialout) and owner, its permission bits, and
    // whether joining the group would give access (see EDeviceAccess).
    std::string strGroup;
    std::string strOwner;
    unsigned int nMode = 0;
    EDeviceAccess eAccess = EDeviceAccess::Unknown;
    // For NotSerialPort: what the device path names, when it is no character device.
    EFileType eFileType = EFileType::CharacterDevice;
    // For NotFound on Linux: where the name was looked up.
    std::string strPortsDir;     // the ports directory searched for a COMn link
    int nPortsDirErrno = 0;      // why that directory could not be read (0: it was, or it is absent)
    std::string strPortsDirError; // the system's text for nPortsDirErrno
    bool bLinked = false;        // a link named the port (its device is absent)
    std::string strKernelDevice; // the kernel rule's device for the number ("" when none)
    bool bKernelNodeExists = false; // that device node exists but is no real UART
    // For Busy, when the system lets us see it: the process that has the device open.
    int nHolderPid = 0;
    std::string strHolderCommand;
    bool bHolderIsModemManager = false;
    // One sentence for a person: which port, which device and why, e.g.
    // "COM5 (/dev/ttyUSB0) is busy: another program is using it." Names in it are escaped.
    std::string Describe(int nPort) const;
    // For NoPermission with OwnerOnly: a udev rule line that gives the group dialout access to
    // this device, for the advice in every language.
    std::string ExampleUdevRule() const;
    // The same facts with every name escaped for showing (EscapeForTerminal): device paths,
    // link folders and process names come from outside and may hold control characters.
    CPortOpenFailure WithPrintableNames() const;
    bool HasUnprintableNames() const;
};

// Opens COMn exclusively, by the system's own name for it. Returns nullptr with *pFailure
// filled when it cannot be opened.
std::unique_ptr<ISerialDevice> OpenComPort(int nPort, CPortOpenFailure* pFailure);
