#pragma once
// What the system's device list says of a COM port, for a person: the friendly name the Device
// Manager shows ("USB-SERIAL CH340 (COM3)") and, for a USB adapter, the vendor and product ids
// of its hardware id. Entries come from platform/port_names.h; which COM port an entry is, and
// its ids, are read here. The texts are the system's (and its drivers'): read with care.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/port_names.h"

// The COM number a friendly name ends with in parentheses: "Communications Port (COM1)" is 1,
// and a linked pair of virtual ports "(COM11->COM12)" is 11. 0 when it names no COM port (a
// printer port "(LPT1)", no parentheses, a number outside 1 to 255).
int ParseFriendlyNamePort(const std::string& strFriendlyName);

// The USB vendor and product ids of a hardware id: "VID_" and "PID_" each followed by four hex
// digits, in any letter case ("USB\VID_1A86&PID_7523&REV_0254", "FTDIBUS\COMPORT&VID_0403
// &PID_6001"). False when it holds no such pair.
bool ParseUsbIds(const std::string& strHardwareId, uint16_t* pnVendor, uint16_t* pnProduct);

// The COM number of an entry: from its friendly name, else from its port name; 0 when neither
// names one.
int GetEntryComPort(const CPortDeviceEntry& entry);

// How an entry reads for a person: its friendly name, with ", USB VID:PID 1A86:7523" when one
// of its hardware ids has USB ids. The names are the system's as they are: whoever prints them
// escapes them.
std::string DescribePortDeviceEntry(const CPortDeviceEntry& entry);

// The serial number in a USB device's instance id ("USB\VID_0403&PID_6001\A600ABCD" gives
// "A600ABCD"); "" for an id Windows made up because the device has none ("USB\VID_...\5&2a8f&0&1")
// and for ids of other buses.
std::string ParseInstanceSerialNumber(const std::string& strInstanceId);

// DescribeComPort(nPort), with the description of the first entry of COMn when the list has one;
// otherwise unchanged. Its USB ids and serial number come from that entry too.
CComPortInfo DescribeComPortWithNames(int nPort, const std::vector<CPortDeviceEntry>& entries);
