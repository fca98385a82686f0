#include "platform/system_log.h"

#include <windows.h>

#include "platform/win32/wide_string.h"

namespace {

constexpr const wchar_t* EVENT_SOURCE = L"matrix-update";
// The installer registers the source here; a portable folder has none, and then nothing is sent
// (the system would otherwise file the entries under a source it cannot describe).
constexpr const wchar_t* EVENT_SOURCE_KEY = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\matrix-update";
// The one message of the programs' message table: "%1", the entry's text as it stands.
constexpr DWORD EVENT_ID_UPDATE = 1;

bool IsEventSourceRegistered()
{
    HKEY hKey = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, EVENT_SOURCE_KEY, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(hKey);
    return true;
}

} // namespace

void WriteSystemLogEntry(const std::string& strMessage, const std::vector<CSystemLogField>& fields, bool bWarning)
{
    if (!IsEventSourceRegistered())
        return;
    std::string strText = strMessage;
    for (const CSystemLogField& field : fields)
        strText += "\r\n" + field.strName + "=" + field.strValue;
    const HANDLE hSource = ::RegisterEventSourceW(nullptr, EVENT_SOURCE);
    if (hSource == nullptr)
        return;
    const std::wstring strWide = Utf8ToWide(strText);
    LPCWSTR apszStrings[1] = {strWide.c_str()};
    (void)::ReportEventW(hSource, bWarning ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE, 0, EVENT_ID_UPDATE,
                         nullptr, 1, 0, apszStrings, nullptr);
    ::DeregisterEventSource(hSource);
}
