#pragma once
// The COM port namespace of Linux, which has no COM port names of its own. setting.ini stores a
// COM number, so every port has one; COMn resolves to a device path:
//   1. a link named COMn (any letter case) in the ports directory, where users put stable
//      names and the device simulator registers its pseudo-terminal;
//   2. otherwise the fixed kernel rule: COM1..32 = ttyS0..31 (only UARTs that really exist),
//      COM33..64 = ttyUSB0..31, COM65..96 = ttyACM0..31.
// Port discovery and the port engine see it through the shared headers (platform/port_names.h,
// platform/serial_device.h); only code that runs on Linux alone (the Qt dialog, the device
// simulator) calls it by name.

#include <string>
#include <vector>

#include "platform/com_names.h"

// Where devices, their sysfs entries and the shared temporary folder live; tests point these
// at a directory of their own.
struct CDeviceRoots {
    std::string strDev = "/dev";
    std::string strSys = "/sys";
    std::string strTmp = "/tmp";
};

// $MATRIX_PORTS_DIR, else $XDG_RUNTIME_DIR/matrix-update/ports, else /tmp/matrix-update-<uid>/ports.
std::string GetPortsDirectory(const CDeviceRoots& roots = CDeviceRoots());

// Whether the COMn links of the ports directory may be believed. A directory the user named
// ($MATRIX_PORTS_DIR) or one in the private runtime directory always; the shared /tmp
// fall-back only when it and its parent are directories of this user, so that no other user
// can plant a COMn link there and answer in the device's place.
bool IsPortsDirectoryTrusted(const CDeviceRoots& roots = CDeviceRoots());

struct CComPortResolution {
    bool bResolved = false;      // a device path stands for the port (it may still be absent)
    bool bLinked = false;        // it came from a link in the ports directory
    std::string strLinkPath;     // the link, when bLinked
    std::string strOpenPath;     // what to open: the link itself, or the kernel device
    std::string strDevice;       // the device path to show: the link's target, or the kernel device
    std::string strKernelDevice; // the kernel rule's device for this number ("" outside 1..96)
    std::string strPortsDir;     // the ports directory that was searched
    int nPortsDirErrno = 0;      // why it could not be read (0: it was, or it does not exist)
};

// Resolves COMn. When no link names it and the kernel rule gives no existing device (or a
// ttyS that is no real UART), bResolved is false and strKernelDevice says what was missing.
CComPortResolution ResolveComPort(int nPort, const CDeviceRoots& roots = CDeviceRoots());

// The kernel rule's device path for COMn, without checking that it exists ("" outside 1..96).
std::string KernelDeviceForComPort(int nPort, const CDeviceRoots& roots = CDeviceRoots());

// True when ttyS<nIndex> is a UART that really exists (its sysfs device is there and its
// UART type is not "unknown").
bool IsRealUart(int nIndex, const CDeviceRoots& roots = CDeviceRoots());

// The COM numbers that have a link (any letter case) in strDir, ascending, without duplicates.
// Links named for a number outside the range are left out; their names go to *pastrOutOfRange.
// A directory that is there but cannot be read lists nothing; *pnDirErrno says why (0 when it
// was read or does not exist).
std::vector<int> ListLinkedComPorts(const std::string& strDir, std::vector<std::string>* pastrOutOfRange = nullptr,
                                    int* pnDirErrno = nullptr);

bool IsCharacterDevice(const std::string& strPath);

// True when strPath is a character device that a terminal driver serves (a serial port, a
// pseudo-terminal), told from the kernel's list of tty drivers without opening it. /dev/null
// and other character devices are not, nor the pseudo-terminal multiplexer /dev/ptmx.
bool IsTerminalDevice(const std::string& strPath);

// Opens the device without waiting and closes it at once: true when that worked, or when it
// failed only because the device is busy or may not be opened (it is there all the same).
bool ProbeComDevice(const std::string& strPath);

// Creates the ports directory if needed and links COMn to strDevice there. Refuses (false with
// a sentence in *pstrError) when COMn is already linked to another device that exists.
bool RegisterComPortLink(int nPort, const std::string& strDevice, std::string* pstrError);
// Removes the COMn link when it still points at strDevice; true when it did.
bool RemoveComPortLink(int nPort, const std::string& strDevice);

// A short description of a device for a person: the USB product, else the driver name, else
// "pseudo-terminal" for a pty; "" when nothing is known.
// The USB vendor:product ("1a86:7523") and serial number of the adapter behind strDevice, from
// sysfs; both "" for a device that is not on USB, and the serial "" when it has none.
void ReadUsbIdentity(const std::string& strDevice, std::string* pstrUsbId, std::string* pstrSerialNumber,
                     const CDeviceRoots& roots = CDeviceRoots());

std::string DescribeComDevice(const std::string& strDevice, const CDeviceRoots& roots = CDeviceRoots());
