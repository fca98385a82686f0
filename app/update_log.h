#pragma once
// The update log: one JSON object per line for every update an operator starts, in every front
// end, also for one refused before a byte was sent. A bench's record of what went where: which
// file (by its SHA-256), to which port and device, by whom, and how it ended. The same facts go
// to the system's own log (the journal, the Windows event log) for sites that collect those.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/port_names.h"
#include "platform/system_info.h"
#include "platform/system_log.h"
#include "transfer/record_transfer.h"

class CMatrixApp;

constexpr const char* UPDATE_LOG_FILE_NAME = "updates.log";
// The log moves to updates.log.1 (replacing an older one) once it has reached this size.
constexpr uint64_t UPDATE_LOG_ROTATE_BYTES = 10u * 1024u * 1024u;

// How an update ended, as the log names it.
enum class EUpdateLogOutcome { Complete, Cancelled, Unanswered, LinkLost, Refused };

// "complete", "cancelled", "unanswered", "link lost", "refused".
const char* UpdateLogOutcomeName(EUpdateLogOutcome eOutcome);
// Decided from the transfer's facts: refused when nothing was sent; else a lost link, a cancel,
// records without a good reply, in that order; complete when the device confirmed every record.
EUpdateLogOutcome UpdateLogOutcomeOf(const CTransferOutcome& outcome);

// One line of the log.
struct CUpdateLogEntry {
    std::string strTime;      // local start time, ISO 8601 with its offset from UTC
    std::string strUser;
    std::string strHost;
    std::string strVersion;   // the program's
    std::string strFrontEnd;  // "dialog" or "matrixctl"
    int nPort = 0;            // the n of COMn; 0 when none was chosen
    std::string strDevice;    // what COMn stands for: a device path, or the Windows device name
    std::string strUsbId;     // "1a86:7523" for a USB adapter, else ""
    std::string strSerialNumber; // the USB adapter's serial number, else ""
    std::string strFile;
    std::optional<uint64_t> nSize;  // none when the file could not be read
    std::string strSha256;          // "" when the file could not be read
    uint32_t nRecords = 0;
    uint32_t nHandled = 0;
    uint32_t nUnanswered = 0;
    uint32_t nResends = 0;
    uint32_t nTrailingBytes = 0;
    std::string strOutcome;   // an UpdateLogOutcomeName
    std::string strReason;    // for a refused update: why, in one English sentence
    uint64_t nDurationMs = 0;
    // As read back: the line as ASCII-only JSON, every other character escaped (so that it can
    // go to a terminal as it is), with any field a later version added.
    std::string strJson;
};

// The entry's JSON object as one line, ending with "\n".
std::string FormatUpdateLogLine(const CUpdateLogEntry& entry);
// Reads one line; false for a damaged one (not JSON, not an object, a field of the wrong kind,
// no time or outcome).
bool ParseUpdateLogLine(const std::string& strLine, CUpdateLogEntry* pEntry);

// The entry's fields for the system's log, named as the journal wants (TIME, USER, ...).
std::vector<CSystemLogField> UpdateLogSystemFields(const CUpdateLogEntry& entry);
// The one-sentence text of the system's log entry: "COM9: sample.bin complete, 300 of 300 records".
std::string UpdateLogSummary(const CUpdateLogEntry& entry);

// Appends the entry's line to strPath with one write, rotating the file first when it has
// reached nRotateBytes: it is renamed to strPath + ".1". Several processes may do this at once:
// each holds the file's lock while it decides, and one that finds the file rotated away under
// it opens the new one, so no line is lost or written twice. False with one sentence in
// *pstrError when the line could not be written.
bool AppendUpdateLogLine(const std::string& strPath, const std::string& strLine, std::string* pstrError,
                         uint64_t nRotateBytes = UPDATE_LOG_ROTATE_BYTES);

// The entries of strPath.1 and strPath, oldest first. Damaged lines (a torn last line, a line
// some editor broke) are skipped and counted in *pnDamaged. False with a sentence in *pstrError
// when neither file could be read (a log that is not there yet is empty, not an error).
bool ReadUpdateLog(const std::string& strPath, std::vector<CUpdateLogEntry>* pEntries, size_t* pnDamaged,
                   std::string* pstrError);

// The log of this user: $MATRIX_UPDATE_LOG when set (tests, a site's own place), else
// updates.log in the log folder of ChooseDataFolders.
std::string GetUpdateLogPath(CMatrixApp& app);

// "2026-12-08T19:45:12.345+01:00" for a local time.
std::string FormatIsoLocalTime(const CLocalTime& time);

// One update while it runs: started when the operator started it, written once it ended.
class CUpdateRecorder {
public:
    // Notes the time now. strFrontEnd: "dialog" or "matrixctl".
    explicit CUpdateRecorder(std::string strFrontEnd);

    // Notes what stands behind COMn as the port is opened: after a lost link, the device may be
    // gone by the time the update ends.
    void NotePort(int nPort);

    // The update's own duration, when it is known better than by the time since construction
    // (several ports' transfers are recorded together once all have ended).
    void SetDurationMs(uint32_t nMs) { m_nDurationMs = nMs; m_bDurationSet = true; }

    // Writes the line for the update on app's port and transfer file: its facts from outcome,
    // the file's size and digest from data (the bytes that were checked and sent; when empty,
    // the file is read again for them, as a refused one was not kept). strReason says why a
    // refused update was refused. The line also goes to the system's log. False, with one
    // sentence in *pstrError, when the update log could not be written; the update itself is
    // not affected.
    bool Finish(CMatrixApp& app, const CTransferOutcome& outcome, const std::vector<uint8_t>& data,
                const std::string& strReason, std::string* pstrError);

    // The entry Finish made, for tests.
    const CUpdateLogEntry& GetEntry() const { return m_entry; }

private:
    CUpdateLogEntry m_entry;
    uint32_t m_nStartTick = 0;
    uint32_t m_nDurationMs = 0;
    bool m_bDurationSet = false;
    int m_nNotedPort = 0;
    CComPortInfo m_notedPort;
};

// True the first time it is called in a run, false after: a log that cannot be written is said
// once, not at every update.
bool TakeUpdateLogWarning();
