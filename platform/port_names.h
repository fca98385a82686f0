#pragma once
// The COM ports as this system names them. Discovery (serial/enum_ports.cpp) decides from these
// which ports to offer; each system answers its own way: Windows from its own device names,
// Linux from the COM port namespace (platform/posix/com_ports.h).

#include <string>
#include <vector>

// The names of the system's COM devices ("COM3", ...), in the system's order. False when the
// system cannot list them: discovery then probes.
bool ListComDeviceNames(std::vector<std::string>* pastrNames);

// The port numbers worth opening one by one to find the ports, ascending.
std::vector<int> ListProbeCandidates();

// Opens COMn without waiting and closes it at once: true when it is there (a port that is busy
// or may not be opened by this user is there all the same).
bool ProbeComPort(int nPort);

// What stands behind COMn for a person: the device (a path on Linux, the system's device name
// on Windows) and a short description ("" when nothing is known).
struct CComPortInfo {
    std::string strDevice;
    std::string strDescription;
    // For a USB adapter, when the system tells them: "1a86:7523" (vendor:product, hex) and the
    // adapter's serial number; "" otherwise. Linux reads them here; on Windows
    // serial/port_device_names.h reads them out of the device list's entries.
    std::string strUsbId;
    std::string strSerialNumber;
};
CComPortInfo DescribeComPort(int nPort);

// One serial port in the system's list of devices (on Windows the Ports device class, as the
// Device Manager shows it): what the system calls it, its hardware ids ("USB\VID_1A86&PID_7523
// &REV_0254", ...) and the port name its driver keeps. Which COM port it is, and the USB ids,
// are read out of these by serial/port_device_names.h.
struct CPortDeviceEntry {
    std::string strFriendlyName;
    std::vector<std::string> astrHardwareIds;
    std::string strPortName;
    // The device's instance id ("USB\VID_0403&PID_6001\A600ABCD"), whose last part is the
    // serial number when the device has one.
    std::string strInstanceId;
};
// Every such entry of the devices present. Linux keeps no such list: none there.
std::vector<CPortDeviceEntry> ListPortDeviceEntries();

// One sentence each for the names of COM ports that are ignored because no port can have their
// number (a link numbered outside 1 to 255 on Linux), and for a ports directory whose links
// cannot be seen because it cannot be read. Windows gives its own names: none there.
std::vector<std::string> DescribeIgnoredPortNames();

// A few lines for a help text: how this system names its COM ports.
std::string GetComPortNamingHelp();
