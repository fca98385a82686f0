#pragma once
// The dialogs' own sentences, in their language (Traditional Chinese), built from the facts
// the core reports, as UTF-8. Each names the port or file, the reason, and what to do. Both
// dialogs (Qt on Linux, Win32 on Windows) show these very sentences; a new kind of failure is
// one more case here.

#include <string>

#include "platform/serial_device.h"
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
// setting.ini cannot be saved.
std::string SettingsProblemText(const CSettingsProblem& problem);
