// COM ports as Windows names them: its own device names (QueryDosDevice) and, for the probing
// method, \\.\COM1 to COM255 opened one by one; what each is, from the device list of the Ports
// class (SetupAPI), as the Device Manager shows it.

#include "platform/port_names.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "platform/com_names.h"
#include "platform/win32/wide_string.h"

#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

namespace {

// Every name the system knows, as QueryDosDevice gives them: a list of strings ended by an
// empty one. False when the list cannot be had.
bool ListDosDevices(std::wstring* pstrNames)
{
    std::wstring buffer(65536, L'\0');
    for (;;) {
        const DWORD dwLength = ::QueryDosDeviceW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (dwLength != 0) {
            buffer.resize(dwLength);
            *pstrNames = std::move(buffer);
            return true;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= (1u << 24))
            return false;
        buffer.resize(buffer.size() * 2);
    }
}

// A device list of SetupAPI, destroyed with its owner.
class CDeviceList {
public:
    explicit CDeviceList(HDEVINFO hSet) : m_hSet(hSet) {}
    ~CDeviceList()
    {
        if (m_hSet != INVALID_HANDLE_VALUE)
            ::SetupDiDestroyDeviceInfoList(m_hSet);
    }
    CDeviceList(const CDeviceList&) = delete;
    CDeviceList& operator=(const CDeviceList&) = delete;
    HDEVINFO Get() const { return m_hSet; }

private:
    HDEVINFO m_hSet;
};

// A registry property of a device as its strings: one for REG_SZ, each of a REG_MULTI_SZ.
// A property of another type, or none, gives none. The bytes are the driver's: every string
// is ended within them, whatever they hold.
std::vector<std::string> ReadDeviceStrings(HDEVINFO hSet, SP_DEVINFO_DATA* pDevice, DWORD dwProperty)
{
    std::vector<std::string> astr;
    std::vector<BYTE> abData(512);
    DWORD dwType = 0;
    DWORD dwRequired = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(hSet, pDevice, dwProperty, &dwType, abData.data(),
                                             static_cast<DWORD>(abData.size()), &dwRequired)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || dwRequired > 65536)
            return astr;
        abData.assign(dwRequired, 0);
        if (!::SetupDiGetDeviceRegistryPropertyW(hSet, pDevice, dwProperty, &dwType, abData.data(),
                                                 static_cast<DWORD>(abData.size()), &dwRequired))
            return astr;
    }
    if (dwType != REG_SZ && dwType != REG_MULTI_SZ)
        return astr;
    const size_t nChars = std::min<size_t>(dwRequired, abData.size()) / sizeof(wchar_t);
    std::wstring strAll(nChars, L'\0');
    std::memcpy(strAll.data(), abData.data(), nChars * sizeof(wchar_t));
    for (size_t nStart = 0; nStart < strAll.size();) {
        const size_t nEnd = std::min(strAll.find(L'\0', nStart), strAll.size());
        if (nEnd == nStart)
            break;
        astr.push_back(WideToUtf8(strAll.c_str() + nStart, nEnd - nStart));
        if (dwType == REG_SZ)
            break;
        nStart = nEnd + 1;
    }
    return astr;
}

// The port name the ports class keeps in the device's own key ("COM3"); "" when there is none.
std::string ReadPortName(HDEVINFO hSet, SP_DEVINFO_DATA* pDevice)
{
    HKEY hKey = ::SetupDiOpenDevRegKey(hSet, pDevice, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (hKey == INVALID_HANDLE_VALUE)
        return std::string();
    wchar_t szName[64] = {};
    DWORD dwBytes = sizeof szName - sizeof(wchar_t);
    DWORD dwType = 0;
    std::string strName;
    if (::RegQueryValueExW(hKey, L"PortName", nullptr, &dwType, reinterpret_cast<BYTE*>(szName), &dwBytes) ==
            ERROR_SUCCESS &&
        dwType == REG_SZ)
        strName = WideToUtf8(szName, wcsnlen(szName, dwBytes / sizeof(wchar_t)));
    ::RegCloseKey(hKey);
    return strName;
}

} // namespace

std::vector<CPortDeviceEntry> ListPortDeviceEntries()
{
    std::vector<CPortDeviceEntry> entries;
    CDeviceList devices(::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT));
    if (devices.Get() == INVALID_HANDLE_VALUE)
        return entries;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(devices.Get(), i, &device); ++i) {
        CPortDeviceEntry entry;
        const std::vector<std::string> astrName = ReadDeviceStrings(devices.Get(), &device, SPDRP_FRIENDLYNAME);
        if (!astrName.empty())
            entry.strFriendlyName = astrName.front();
        entry.astrHardwareIds = ReadDeviceStrings(devices.Get(), &device, SPDRP_HARDWAREID);
        entry.strPortName = ReadPortName(devices.Get(), &device);
        wchar_t szInstance[512] = {};
        if (::SetupDiGetDeviceInstanceIdW(devices.Get(), &device, szInstance, 512, nullptr))
            entry.strInstanceId = WideToUtf8(szInstance, wcsnlen(szInstance, 512));
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool ListComDeviceNames(std::vector<std::string>* pastrNames)
{
    pastrNames->clear();
    std::wstring strNames;
    if (!ListDosDevices(&strNames))
        return false;
    for (size_t nStart = 0; nStart < strNames.size() && strNames[nStart] != L'\0';) {
        const wchar_t* pszName = strNames.c_str() + nStart;
        const size_t nLength = wcsnlen(pszName, strNames.size() - nStart);
        pastrNames->push_back(WideToUtf8(pszName, nLength));
        nStart += nLength + 1;
    }
    return true;
}

std::vector<int> ListProbeCandidates()
{
    std::vector<int> aPorts;
    for (int nPort = MIN_COM_PORT; nPort <= MAX_COM_PORT; ++nPort)
        aPorts.push_back(nPort);
    return aPorts;
}

bool ProbeComPort(int nPort)
{
    const std::wstring strPath = L"\\\\.\\COM" + std::to_wstring(nPort);
    HANDLE hPort = ::CreateFileW(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hPort != INVALID_HANDLE_VALUE) {
        ::CloseHandle(hPort);
        return true;
    }
    // A port in use by another program is there all the same.
    const DWORD dwError = ::GetLastError();
    return dwError == ERROR_ACCESS_DENIED || dwError == ERROR_SHARING_VIOLATION;
}

CComPortInfo DescribeComPort(int nPort)
{
    CComPortInfo info;
    wchar_t szTarget[1024];
    const std::wstring strName = L"COM" + std::to_wstring(nPort);
    const DWORD dwLength = ::QueryDosDeviceW(strName.c_str(), szTarget, 1024);
    // The first of the names the device stands for, e.g. \Device\Serial0 or \Device\VCP0.
    if (dwLength != 0)
        info.strDevice = WideToUtf8(szTarget, wcsnlen(szTarget, dwLength));
    return info;
}

std::string GetComPortNamingHelp()
{
    return "A port is one of the system's COM devices, as the Device Manager lists them; its\n"
           "description is the Device Manager's name for it, with the USB ids of an adapter.\n";
}

std::vector<std::string> DescribeIgnoredPortNames()
{
    return {};
}
