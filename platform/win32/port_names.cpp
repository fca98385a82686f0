// COM ports as Windows names them: its own device names (QueryDosDevice) and, for the probing
// method, \\.\COM1 to COM255 opened one by one.

#include "platform/port_names.h"

#include <cwchar>

#include "platform/win32/wide_string.h"
#include "serial/com_names.h"

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

} // namespace

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
    return "A port is one of the system's COM devices, as the Device Manager lists them.\n";
}

std::vector<std::string> DescribeIgnoredPortNames()
{
    return {};
}
