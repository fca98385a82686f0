#include "app/update_log.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <nlohmann/json.hpp>

#include "app/matrix_app.h"
#include "app/version.h"
#include "platform/append_file.h"
#include "platform/com_names.h"
#include "platform/file_util.h"
#include "platform/port_names.h"
#include "platform/program_path.h"
#include "platform/sha256.h"
#include "platform/system_info.h"
#include "platform/system_log.h"
#include "platform/tick_clock.h"
#include "serial/port_device_names.h"

namespace {

using CJson = nlohmann::ordered_json;

// A log file larger than this is not the log (it rotates at 10 MiB): it is not read whole.
constexpr size_t MAX_LOG_READ_BYTES = 64u * 1024u * 1024u;
// A refused file is read again only for its digest, and only when it is not huge.
constexpr size_t MAX_REREAD_BYTES = 256u * 1024u * 1024u;
// How often a writer reopens a log that another writer rotated under it, before it appends
// where it stands: a writer must not wait forever on others.
constexpr int MAX_ROTATION_RETRIES = 8;

std::atomic<bool> g_bLogWarned{false};

CJson NullOr(const std::string& strText)
{
    return strText.empty() ? CJson(nullptr) : CJson(strText);
}

// Serialised with every byte that is not valid UTF-8 (a Linux file name may be anything)
// replaced, rather than failing the line.
std::string Dump(const CJson& json, bool bAsciiOnly)
{
    return json.dump(-1, ' ', bAsciiOnly, CJson::error_handler_t::replace);
}

bool ReadText(const CJson& object, const char* pszKey, std::string* pstrValue, bool bRequired)
{
    const auto it = object.find(pszKey);
    if (it == object.end() || it->is_null()) {
        pstrValue->clear();
        return !bRequired;
    }
    if (!it->is_string())
        return false;
    *pstrValue = it->get<std::string>();
    return !bRequired || !pstrValue->empty();
}

template <typename T>
bool ReadCount(const CJson& object, const char* pszKey, T* pnValue, bool* pbPresent = nullptr)
{
    if (pbPresent != nullptr)
        *pbPresent = false;
    const auto it = object.find(pszKey);
    if (it == object.end() || it->is_null())
        return true;
    if (!it->is_number_unsigned())
        return false;
    const uint64_t nValue = it->get<uint64_t>();
    if (nValue > static_cast<uint64_t>(static_cast<T>(~T(0))))
        return false;
    *pnValue = static_cast<T>(nValue);
    if (pbPresent != nullptr)
        *pbPresent = true;
    return true;
}

std::string BaseNameOf(const std::string& strPath)
{
    const size_t nSlash = strPath.find_last_of("/\\");
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

// The lines of one file, each parsed; damaged ones counted. False when it is there but cannot
// be read.
bool ReadLogFile(const std::string& strPath, std::vector<CUpdateLogEntry>* pEntries, size_t* pnDamaged,
                 std::string* pstrError)
{
    if (IsPathAbsent(strPath))
        return true;
    std::vector<uint8_t> abData;
    if (!ReadWholeFile(strPath, &abData, pstrError, MAX_LOG_READ_BYTES))
        return false;
    size_t nStart = 0;
    while (nStart < abData.size()) {
        size_t nEnd = nStart;
        while (nEnd < abData.size() && abData[nEnd] != '\n')
            ++nEnd;
        const std::string strLine(reinterpret_cast<const char*>(abData.data()) + nStart, nEnd - nStart);
        CUpdateLogEntry entry;
        if (ParseUpdateLogLine(strLine, &entry))
            pEntries->push_back(std::move(entry));
        else if (!strLine.empty())
            ++*pnDamaged;
        nStart = nEnd + 1;
    }
    return true;
}

} // namespace

const char* UpdateLogOutcomeName(EUpdateLogOutcome eOutcome)
{
    switch (eOutcome) {
    case EUpdateLogOutcome::Complete:
        return "complete";
    case EUpdateLogOutcome::Cancelled:
        return "cancelled";
    case EUpdateLogOutcome::Unanswered:
        return "unanswered";
    case EUpdateLogOutcome::LinkLost:
        return "link lost";
    case EUpdateLogOutcome::Refused:
        return "refused";
    }
    return "refused";
}

EUpdateLogOutcome UpdateLogOutcomeOf(const CTransferOutcome& outcome)
{
    switch (outcome.GetEnding()) {
    case ETransferEnding::NothingSent:
        return EUpdateLogOutcome::Refused;
    case ETransferEnding::Complete:
        return EUpdateLogOutcome::Complete;
    case ETransferEnding::Incomplete:
        break;
    }
    if (outcome.bLinkLost)
        return EUpdateLogOutcome::LinkLost;
    if (outcome.bCancelled)
        return EUpdateLogOutcome::Cancelled;
    return EUpdateLogOutcome::Unanswered;
}

std::string FormatUpdateLogLine(const CUpdateLogEntry& entry)
{
    CJson json;
    json["time"] = entry.strTime;
    json["user"] = entry.strUser;
    json["host"] = entry.strHost;
    json["version"] = entry.strVersion;
    json["front_end"] = entry.strFrontEnd;
    json["port"] = entry.nPort > 0 ? CJson("COM" + std::to_string(entry.nPort)) : CJson(nullptr);
    json["device"] = NullOr(entry.strDevice);
    json["usb_id"] = NullOr(entry.strUsbId);
    json["serial_number"] = NullOr(entry.strSerialNumber);
    json["file"] = entry.strFile;
    json["size"] = entry.nSize ? CJson(*entry.nSize) : CJson(nullptr);
    json["sha256"] = NullOr(entry.strSha256);
    json["records"] = entry.nRecords;
    json["handled"] = entry.nHandled;
    json["unanswered"] = entry.nUnanswered;
    json["resends"] = entry.nResends;
    json["trailing_bytes"] = entry.nTrailingBytes;
    json["outcome"] = entry.strOutcome;
    json["reason"] = NullOr(entry.strReason);
    json["duration_ms"] = entry.nDurationMs;
    return Dump(json, false) + "\n";
}

bool ParseUpdateLogLine(const std::string& strLine, CUpdateLogEntry* pEntry)
{
    // No exceptions: a damaged line is a result, not an error to unwind.
    const CJson json = CJson::parse(strLine, nullptr, false);
    if (json.is_discarded() || !json.is_object())
        return false;
    CUpdateLogEntry entry;
    std::string strPort;
    bool bSize = false;
    uint64_t nSize = 0;
    if (!ReadText(json, "time", &entry.strTime, true) || !ReadText(json, "outcome", &entry.strOutcome, true) ||
        !ReadText(json, "user", &entry.strUser, false) || !ReadText(json, "host", &entry.strHost, false) ||
        !ReadText(json, "version", &entry.strVersion, false) ||
        !ReadText(json, "front_end", &entry.strFrontEnd, false) || !ReadText(json, "port", &strPort, false) ||
        !ReadText(json, "device", &entry.strDevice, false) || !ReadText(json, "usb_id", &entry.strUsbId, false) ||
        !ReadText(json, "serial_number", &entry.strSerialNumber, false) ||
        !ReadText(json, "file", &entry.strFile, false) || !ReadText(json, "sha256", &entry.strSha256, false) ||
        !ReadText(json, "reason", &entry.strReason, false) || !ReadCount(json, "size", &nSize, &bSize) ||
        !ReadCount(json, "records", &entry.nRecords) || !ReadCount(json, "handled", &entry.nHandled) ||
        !ReadCount(json, "unanswered", &entry.nUnanswered) || !ReadCount(json, "resends", &entry.nResends) ||
        !ReadCount(json, "trailing_bytes", &entry.nTrailingBytes) ||
        !ReadCount(json, "duration_ms", &entry.nDurationMs))
        return false;
    if (!strPort.empty()) {
        entry.nPort = ParseComPortName(strPort);
        if (entry.nPort == 0)
            return false;
    }
    if (bSize)
        entry.nSize = nSize;
    entry.strJson = Dump(json, true);
    *pEntry = std::move(entry);
    return true;
}

std::vector<CSystemLogField> UpdateLogSystemFields(const CUpdateLogEntry& entry)
{
    std::vector<CSystemLogField> fields;
    const CJson json = CJson::parse(FormatUpdateLogLine(entry), nullptr, false);
    if (!json.is_object())
        return fields;
    for (const auto& item : json.items()) {
        if (item.value().is_null())
            continue;
        std::string strName = item.key();
        for (char& ch : strName)
            ch = (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch;
        fields.push_back({strName, item.value().is_string() ? item.value().get<std::string>() : Dump(item.value(), false)});
    }
    return fields;
}

std::string UpdateLogSummary(const CUpdateLogEntry& entry)
{
    std::string strText = (entry.nPort > 0 ? "COM" + std::to_string(entry.nPort) : std::string("no port")) + ": " +
                          BaseNameOf(entry.strFile) + " " + entry.strOutcome + ", " + std::to_string(entry.nHandled) +
                          " of " + std::to_string(entry.nRecords) + " records";
    if (!entry.strReason.empty())
        strText += ": " + entry.strReason;
    return strText;
}

bool AppendUpdateLogLine(const std::string& strPath, const std::string& strLine, std::string* pstrError,
                         uint64_t nRotateBytes)
{
    CAppendFile file;
    for (int nTry = 0;; ++nTry) {
        if (!file.Open(strPath, pstrError))
            return false;
        // Another writer rotated the file while this one waited for its lock: the line belongs
        // in the new one.
        if (!file.IsStillAtPath() && nTry < MAX_ROTATION_RETRIES)
            continue;
        // Renamed while locked, so no other writer can rotate the same file a second time (which
        // would replace the rotated log with the nearly empty new one). A rename that fails (a
        // reader on Windows holds the file) only lets the log grow on.
        if (file.GetSize() >= nRotateBytes && nTry < MAX_ROTATION_RETRIES &&
            RenameFileOver(strPath, strPath + ".1"))
            continue;
        break;
    }
    // A line left torn by a writer that died mid-write is ended first, so that it costs only
    // itself and not this line as well.
    if (!file.EndsWithLineBreak()) {
        const std::string strEnded = "\n" + strLine;
        return file.Append(strEnded.data(), strEnded.size(), pstrError);
    }
    return file.Append(strLine.data(), strLine.size(), pstrError);
}

bool ReadUpdateLog(const std::string& strPath, std::vector<CUpdateLogEntry>* pEntries, size_t* pnDamaged,
                   std::string* pstrError)
{
    pEntries->clear();
    *pnDamaged = 0;
    std::string strOldError;
    const bool bOld = ReadLogFile(strPath + ".1", pEntries, pnDamaged, &strOldError);
    if (!ReadLogFile(strPath, pEntries, pnDamaged, pstrError))
        return false;
    if (!bOld)
        *pstrError = strOldError;
    return true;
}

std::string GetUpdateLogPath(CMatrixApp& app)
{
    if (const char* pszPath = std::getenv("MATRIX_UPDATE_LOG"); pszPath != nullptr && *pszPath != '\0')
        return pszPath;
    const std::string& strDir = app.GetDataFolders().m_strLogDir;
    if (strDir.empty())
        return UPDATE_LOG_FILE_NAME;
    return strDir + g_cPathSeparator + UPDATE_LOG_FILE_NAME;
}

std::string FormatIsoLocalTime(const CLocalTime& time)
{
    const int nOffset = time.nUtcOffsetMinutes < 0 ? -time.nUtcOffsetMinutes : time.nUtcOffsetMinutes;
    char szText[64];
    std::snprintf(szText, sizeof szText, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", time.nYear, time.nMonth,
                  time.nDay, time.nHour, time.nMinute, time.nSecond, time.nMillisecond,
                  time.nUtcOffsetMinutes < 0 ? '-' : '+', nOffset / 60, nOffset % 60);
    return szText;
}

CUpdateRecorder::CUpdateRecorder(std::string strFrontEnd) : m_nStartTick(GetTickCount())
{
    m_entry.strTime = FormatIsoLocalTime(GetLocalTimeNow());
    m_entry.strFrontEnd = std::move(strFrontEnd);
}

void CUpdateRecorder::NotePort(int nPort)
{
    m_nNotedPort = nPort;
    m_notedPort = DescribeComPortWithNames(nPort, ListPortDeviceEntries());
}

bool CUpdateRecorder::Finish(CMatrixApp& app, const CTransferOutcome& outcome, const std::vector<uint8_t>& data,
                             const std::string& strReason, std::string* pstrError)
{
    CUpdateLogEntry& entry = m_entry;
    entry.nDurationMs = m_bDurationSet ? m_nDurationMs : TicksSince(m_nStartTick);
    entry.strUser = GetLoginName();
    entry.strHost = GetMachineName();
    entry.strVersion = GetProgramVersion();
    entry.nPort = app.m_nComPort;
    const CComPortInfo port = m_nNotedPort == entry.nPort && entry.nPort > 0
                                  ? m_notedPort
                                  : DescribeComPortWithNames(entry.nPort, ListPortDeviceEntries());
    entry.strDevice = port.strDevice;
    entry.strUsbId = port.strUsbId;
    entry.strSerialNumber = port.strSerialNumber;
    entry.strFile = app.GetTransferFile();
    if (!data.empty()) {
        entry.nSize = data.size();
        entry.strSha256 = Sha256Hex(data.data(), data.size());
    } else if (!entry.strFile.empty()) {
        std::vector<uint8_t> abFile;
        std::string strIgnored;
        if (ReadWholeFile(entry.strFile, &abFile, &strIgnored, MAX_REREAD_BYTES)) {
            entry.nSize = abFile.size();
            entry.strSha256 = Sha256Hex(abFile.data(), abFile.size());
        }
    }
    entry.nRecords = outcome.nRecords;
    entry.nHandled = outcome.nHandled;
    entry.nUnanswered = outcome.nUnanswered;
    entry.nResends = outcome.nResends;
    entry.nTrailingBytes = outcome.nTrailingBytes;
    const EUpdateLogOutcome eOutcome = UpdateLogOutcomeOf(outcome);
    entry.strOutcome = UpdateLogOutcomeName(eOutcome);
    if (eOutcome == EUpdateLogOutcome::Refused)
        entry.strReason = !strReason.empty() ? strReason : outcome.strFailure;

    WriteSystemLogEntry(UpdateLogSummary(entry), UpdateLogSystemFields(entry), eOutcome != EUpdateLogOutcome::Complete);
    return AppendUpdateLogLine(GetUpdateLogPath(app), FormatUpdateLogLine(entry), pstrError);
}

bool TakeUpdateLogWarning()
{
    return !g_bLogWarned.exchange(true);
}
