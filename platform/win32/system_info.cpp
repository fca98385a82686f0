#include "platform/system_info.h"

#include <windows.h>

#include "platform/win32/wide_string.h"

std::string GetLoginName()
{
    wchar_t szName[257] = {};
    DWORD dwLength = 257;
    if (!::GetUserNameW(szName, &dwLength))
        return std::string();
    return WideToUtf8(szName, wcsnlen(szName, 257));
}

std::string GetMachineName()
{
    wchar_t szName[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD dwLength = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(szName, &dwLength))
        return std::string();
    return WideToUtf8(szName, dwLength);
}

CLocalTime GetLocalTimeNow()
{
    FILETIME utc = {};
    ::GetSystemTimeAsFileTime(&utc);
    FILETIME localFile = {};
    SYSTEMTIME local = {};
    CLocalTime time;
    if (!::FileTimeToLocalFileTime(&utc, &localFile) || !::FileTimeToSystemTime(&localFile, &local))
        return time;
    time.nYear = local.wYear;
    time.nMonth = local.wMonth;
    time.nDay = local.wDay;
    time.nHour = local.wHour;
    time.nMinute = local.wMinute;
    time.nSecond = local.wSecond;
    time.nMillisecond = local.wMilliseconds;
    // The offset is what the conversion used, daylight saving time included.
    const auto ToTicks = [](const FILETIME& ft) {
        return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    };
    time.nUtcOffsetMinutes = static_cast<int>((ToTicks(localFile) - ToTicks(utc)) / (10000000LL * 60));
    return time;
}
