#pragma once
// The dialogs' own sentences, in their language (Traditional Chinese), built from the facts
// the core reports, as UTF-8. Each names the port or file, the reason, and what to do. Both
// dialogs (Qt on Linux, Win32 on Windows) show these very sentences; a new kind of failure is
// one more case here.

#include <cstdint>
#include <string>

#include "platform/serial_device.h"
#include "transfer/record_transfer.h"
#include "transfer/transfer_host.h"

struct CSettingsProblem;

// The system's reason for an errno, in words for the operator.
std::string SystemReasonText(int nErrno);

// No port could be taken from the drop-down; strTyped is what the operator typed ("" when nothing).
std::string PortNotChosenText(const std::string& strTyped);
// COMn could not be opened.
std::string PortOpenFailureText(int nPort, const CPortOpenFailure& failure);
// The pattern file could not be sent; strCoreText is the core's own sentence, used for the
// empty file (the device's own words) and for kinds this dialog does not know yet.
std::string PatternFileProblemText(const CPatternFileProblem& problem, const std::string& strCoreText);
// "X 不是圖樣檔案:第 N 筆資料(...)的開頭是 0x31,應為 0xC1。": the first wrong marker, without what
// follows from it (the refusal says nothing was sent, the preview that nothing will be).
std::string PatternMarkerFaultText(const std::string& strPath, const CPatternMarkerFault& fault);
// setting.ini cannot be saved.
std::string SettingsProblemText(const CSettingsProblem& problem);
// The update log (strPath) cannot be written; the update goes on all the same.
std::string UpdateLogProblemText(const std::string& strPath);

// What the operator is told once every record reached the device: how to finish it there.
extern const char* const TEXT_CLOSING_INSTRUCTION;
// The box that ends an update which ran. Complete: the closing instruction (*pbWarning false).
// Incomplete: a warning (*pbWarning true) naming the port, how many of the records the device
// confirmed, what went wrong, and to send the whole file again; it never tells how to finish
// the update. Nothing sent: "" (the box that said why was shown already).
std::string UpdateEndingText(const CTransferOutcome& outcome, bool* pbWarning);

// The preview window's sentences: what a file holds ("sample.bin:共 300 筆資料", with the
// damaged records counted when there are any), that a file refused (strFaultText says why) will
// not be sent, and that the bytes after the last whole record will not be.
std::string PreviewRecordsText(const std::string& strName, uint64_t nRecords, uint64_t nDamaged);
std::string PreviewRefusalText(const std::string& strFaultText);
std::string PreviewTrailingText(uint64_t nTrailingBytes);
