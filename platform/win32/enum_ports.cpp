// COM port discovery on Windows: the system's own device names (QueryDosDevice), with
// probing as the fall-back when the names cannot be listed.

#include "serial/enum_ports.h"

#include <algorithm>
#include <cwctype>

#include "platform/win32/wide_string.h"

namespace {

constexpr int HIGHEST_PORT = 255;

// "COMn" in any letter case (n from 1 to 255, no leading zero); 0 when it is no such name.
int ParsePortName(const wchar_t* pszName)
{
    if (std::towupper(pszName[0]) != L'C' || std::towupper(pszName[1]) != L'O' || std::towupper(pszName[2]) != L'M')
        return 0;
    const wchar_t* p = pszName + 3;
    if (*p < L'1' || *p > L'9')
        return 0;
    int nPort = 0;
    for (; *p != L'\0'; ++p) {
        if (*p < L'0' || *p > L'9')
            return 0;
        nPort = nPort * 10 + (*p - L'0');
        if (nPort > HIGHEST_PORT)
            return 0;
    }
    return nPort;
}

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

void EnumerateComPorts(CUIntArray& ports)
{
    ports.SetSize(0);
    std::wstring strNames;
    if (!ListDosDevices(&strNames)) {
        ProbeComPorts(ports);
        return;
    }
    std::vector<uint32_t> aFound;
    for (size_t nStart = 0; nStart < strNames.size() && strNames[nStart] != L'\0';) {
        const wchar_t* pszName = strNames.c_str() + nStart;
        if (int nPort = ParsePortName(pszName))
            aFound.push_back(static_cast<uint32_t>(nPort));
        nStart += wcslen(pszName) + 1;
    }
    std::sort(aFound.begin(), aFound.end());
    aFound.erase(std::unique(aFound.begin(), aFound.end()), aFound.end());
    for (uint32_t nPort : aFound)
        ports.Add(nPort);
}

void ProbeComPorts(CUIntArray& ports)
{
    ports.SetSize(0);
    for (int nPort = 1; nPort <= HIGHEST_PORT; ++nPort) {
        const std::wstring strPath = L"\\\\.\\COM" + std::to_wstring(nPort);
        HANDLE hPort = ::CreateFileW(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (hPort != INVALID_HANDLE_VALUE) {
            ::CloseHandle(hPort);
            ports.Add(static_cast<uint32_t>(nPort));
            continue;
        }
        // A port in use by another program is there all the same.
        const DWORD dwError = ::GetLastError();
        if (dwError == ERROR_ACCESS_DENIED || dwError == ERROR_SHARING_VIOLATION)
            ports.Add(static_cast<uint32_t>(nPort));
    }
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
