#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/port_device_names.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace {

// Names as drivers give them in the Device Manager's Ports class.
TEST(PortsDeviceNames, TheComPortIsReadFromTheFriendlyName)
{
    struct {
        const char* pszName;
        int nPort;
    } const aCases[] = {
        {"Communications Port (COM1)", 1},
        {"USB-SERIAL CH340 (COM3)", 3},
        {"Silicon Labs CP210x USB to UART Bridge (COM255)  ", 255},
        {"通訊連接埠 (com12)", 12},
        {"ELTIMA Virtual Serial Port (COM11->COM12)", 11},
        {"Prolific USB-to-Serial Comm Port (COM 5)", 0}, // not a COM name
        {"ECP Printer Port (LPT1)", 0},
        {"USB Serial Device (COM0)", 0},
        {"USB Serial Device (COM256)", 0},
        {"Bluetooth link (COM4) (2)", 0}, // the last parentheses count
        {"Standard Serial over Bluetooth link COM8", 0},
        {"", 0},
        {"(", 0},
        {")", 0},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(ParseFriendlyNamePort(c.pszName), c.nPort) << c.pszName;
}

TEST(PortsDeviceNames, UsbIdsAreReadFromTheHardwareId)
{
    struct {
        const char* pszId;
        bool bFound;
        uint16_t nVendor, nProduct;
    } const aCases[] = {
        {"USB\\VID_1A86&PID_7523&REV_0254", true, 0x1A86, 0x7523},
        {"usb\\vid_0403&pid_6001", true, 0x0403, 0x6001},
        {"FTDIBUS\\COMPORT&VID_0403&PID_6015", true, 0x0403, 0x6015},
        {"USB\\VID_067B&PID_2303&MI_00", true, 0x067B, 0x2303},
        {"ACPI\\PNP0501", false, 0, 0},
        {"USB\\VID_1A86", false, 0, 0},
        {"USB\\VID_1A8&PID_7523", false, 0, 0},        // three digits
        {"USB\\VID_1A86F&PID_7523", false, 0, 0},      // five digits
        {"USB\\VID_XYZW&PID_7523", false, 0, 0},
        {"USB\\AVID_1A86&PID_7523", false, 0, 0},      // part of a longer word
        {"BTHENUM\\{00001101}_VID&0001005d_PID&223b", false, 0, 0},
    };
    for (const auto& c : aCases) {
        uint16_t nVendor = 0;
        uint16_t nProduct = 0;
        EXPECT_EQ(ParseUsbIds(c.pszId, &nVendor, &nProduct), c.bFound) << c.pszId;
        if (c.bFound) {
            EXPECT_EQ(nVendor, c.nVendor) << c.pszId;
            EXPECT_EQ(nProduct, c.nProduct) << c.pszId;
        }
    }
}

// The line of matrixctl ports: the entry of the port, with the ids of the first hardware id that
// has them; a port no entry names keeps the line it had.
TEST(PortsDeviceNames, ThePortsEntryDescribesIt)
{
    // The line's device comes from the ports directory on Linux: an empty one of the test's own.
    CTempDir dir;
    CEnvGuard env;
    env.Set("MATRIX_PORTS_DIR", dir.Path().string());
    const std::vector<CPortDeviceEntry> entries = {
        {"Communications Port (COM1)", {"ACPI\\PNP0501"}, "COM1", "ACPI\\PNP0501\\1"},
        {"USB-SERIAL CH340 (COM3)", {"USB\\VID_1A86&PID_7523&REV_0254", "USB\\VID_1A86&PID_7523"}, "COM3",
         "USB\\VID_1A86&PID_7523\\5&2A8F3D1&0&2"},
        {"Vendor's own name", {"FTDIBUS\\COMPORT&VID_0403&PID_6001"}, "COM5", "FTDIBUS\\VID_0403+PID_6001+A600ABCDA\\0000"},
        {"USB Serial Device (COM6)", {"USB\\VID_2341&PID_0043"}, "COM6", "usb\\vid_2341&pid_0043\\75833353035351E0B1A1"},
        {"USB-SERIAL CH340 (COM3)", {}, "COM3", ""},
    };
    // The USB ids and serial number of the update log: a serial number only where the device's
    // own instance id has one (Windows makes one up with '&' in it for a device without).
    struct {
        int nPort;
        const char* pszDescription;
        const char* pszUsbId;
        const char* pszSerialNumber;
    } const aCases[] = {
        {1, "Communications Port (COM1)", "", ""},
        {3, "USB-SERIAL CH340 (COM3), USB VID:PID 1A86:7523", "1a86:7523", ""},
        {5, "Vendor's own name, USB VID:PID 0403:6001", "0403:6001", ""},
        {6, "USB Serial Device (COM6), USB VID:PID 2341:0043", "2341:0043", "75833353035351E0B1A1"},
    };
    for (const auto& c : aCases) {
        EXPECT_EQ(DescribeComPortWithNames(c.nPort, entries).strDescription, c.pszDescription) << c.nPort;
        EXPECT_EQ(DescribeComPortWithNames(c.nPort, entries).strUsbId, c.pszUsbId) << c.nPort;
        EXPECT_EQ(DescribeComPortWithNames(c.nPort, entries).strSerialNumber, c.pszSerialNumber) << c.nPort;
        EXPECT_EQ(DescribeComPortWithNames(c.nPort, entries).strDevice, DescribeComPort(c.nPort).strDevice);
    }
    EXPECT_EQ(DescribeComPortWithNames(7, entries).strDescription, DescribeComPort(7).strDescription);
}

} // namespace
