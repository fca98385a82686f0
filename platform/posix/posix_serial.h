#pragma once
// The Linux serial device's own calls, beside the portable interface: the tests of the
// termios path and the COM port namespace use them directly.

#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/serial_device.h"

// True for the device number of the pseudo-terminal multiplexer (/dev/ptmx, /dev/pts/ptmx):
// every open of it makes a new pseudo-terminal, so it is never anybody's port.
bool IsPtyMultiplexer(dev_t nDevice);

// Whom a device's permission bits and group let open it; nGid 0 is root's group, which
// nobody is told to join.
EDeviceAccess DeviceAccessOf(unsigned int nMode, gid_t nGid);

// What an errno means for a serial device: the one place errno values are classified.
// bOpening: the error came from the open itself (ENXIO/ENODEV then mean "no such device";
// later they mean the device went away).
EDeviceErrorKind DeviceErrorKindOf(int nErrno, bool bOpening);

// True when an open failed only because the device is held or may not be opened by this
// user: the device is there all the same.
inline bool IsPresentButUnavailable(int nErrno)
{
    const EDeviceErrorKind eKind = DeviceErrorKindOf(nErrno, true);
    return eKind == EDeviceErrorKind::Busy || eKind == EDeviceErrorKind::NoPermission;
}

// DeviceErrorKindOf with the system's text and, for a permission problem, the group owning the
// device at strPath.
CDeviceError MapDeviceErrno(int nErrno, const std::string& strPath, bool bOpening);

// Opens a serial device exclusively: O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, flock and TIOCEXCL.
// Returns nullptr with *pError filled when it cannot be opened.
std::unique_ptr<ISerialDevice> OpenPosixSerialDevice(const std::string& strPath, CDeviceError* pError);
