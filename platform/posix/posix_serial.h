#pragma once
// The Linux serial device's own calls, beside the portable interface: the tests of the
// termios path and the COM port namespace use them directly.

#include <memory>
#include <string>

#include "platform/serial_device.h"

// Maps an errno to its meaning for the device at strPath. bOpening: the error came from the
// open itself (ENXIO/ENODEV then mean "no such device"; later they mean the device went away).
CDeviceError MapDeviceErrno(int nErrno, const std::string& strPath, bool bOpening);

// Opens a serial device exclusively: O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, flock and TIOCEXCL.
// Returns nullptr with *pError filled when it cannot be opened.
std::unique_ptr<ISerialDevice> OpenPosixSerialDevice(const std::string& strPath, CDeviceError* pError);
