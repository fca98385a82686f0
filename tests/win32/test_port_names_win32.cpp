#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/port_device_names.h"

#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

namespace {

// A device of the Ports class registered for the test, and removed again when it ends. Under
// Wine the class is empty, as no driver installs its ports: this stands in for a USB adapter.
class CRegisteredPort {
public:
    CRegisteredPort(const std::wstring& strFriendlyName, const std::wstring& strHardwareIds)
    {
        m_hSet = ::SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr);
        m_device.cbSize = sizeof m_device;
        m_bRegistered =
            m_hSet != INVALID_HANDLE_VALUE &&
            ::SetupDiCreateDeviceInfoW(m_hSet, L"PORTS", &GUID_DEVCLASS_PORTS, nullptr, nullptr, DICD_GENERATE_ID,
                                       &m_device) &&
            ::SetupDiSetDeviceRegistryPropertyW(m_hSet, &m_device, SPDRP_FRIENDLYNAME,
                                                reinterpret_cast<const BYTE*>(strFriendlyName.c_str()),
                                                static_cast<DWORD>((strFriendlyName.size() + 1) * sizeof(wchar_t))) &&
            ::SetupDiSetDeviceRegistryPropertyW(m_hSet, &m_device, SPDRP_HARDWAREID,
                                                reinterpret_cast<const BYTE*>(strHardwareIds.c_str()),
                                                static_cast<DWORD>((strHardwareIds.size() + 1) * sizeof(wchar_t))) &&
            ::SetupDiRegisterDeviceInfo(m_hSet, &m_device, 0, nullptr, nullptr, nullptr);
    }
    ~CRegisteredPort()
    {
        if (m_bRegistered)
            ::SetupDiRemoveDevice(m_hSet, &m_device);
        if (m_hSet != INVALID_HANDLE_VALUE)
            ::SetupDiDestroyDeviceInfoList(m_hSet);
    }
    CRegisteredPort(const CRegisteredPort&) = delete;
    CRegisteredPort& operator=(const CRegisteredPort&) = delete;
    bool IsRegistered() const { return m_bRegistered; }

private:
    HDEVINFO m_hSet = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA m_device = {};
    bool m_bRegistered = false;
};

TEST(PortsDeviceNamesWindows, ThePortsClassGivesTheNameAndTheUsbIds)
{
    // A hardware id list is a string of strings, each ended, the list ended by an empty one.
    const std::wstring strIds(L"USB\\VID_1A86&PID_7523&REV_0254\0USB\\VID_1A86&PID_7523\0", 54);
    CRegisteredPort port(L"USB-SERIAL CH340 (COM250)", strIds);
    ASSERT_TRUE(port.IsRegistered()) << ::GetLastError();
    const std::vector<CPortDeviceEntry> entries = ListPortDeviceEntries();
    int nFound = 0;
    for (const CPortDeviceEntry& entry : entries) {
        if (GetEntryComPort(entry) != 250)
            continue;
        ++nFound;
        EXPECT_EQ(entry.strFriendlyName, "USB-SERIAL CH340 (COM250)");
        EXPECT_EQ(entry.astrHardwareIds,
                  (std::vector<std::string>{"USB\\VID_1A86&PID_7523&REV_0254", "USB\\VID_1A86&PID_7523"}));
    }
    EXPECT_EQ(nFound, 1);
    EXPECT_EQ(DescribeComPortWithNames(250, entries).strDescription, "USB-SERIAL CH340 (COM250), USB VID:PID 1A86:7523");
}

} // namespace
