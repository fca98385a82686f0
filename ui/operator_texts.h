#pragma once
// The dialog's own sentences, in the dialog's language (Traditional Chinese), built from the
// facts the core reports. Each names the port or file, the reason, and what to do. A new
// kind of failure is one more case here.

#include <QString>

#include <string>

#include "serial/serial_link.h"
#include "transfer/transfer_host.h"

struct CSettingsProblem;

// The system's reason for an errno, in words for the operator.
QString SystemReasonText(int nErrno);

// No port could be taken from the drop-down; strTyped is what the operator typed ("" when nothing).
QString PortNotChosenText(const QString& strTyped);
// COMn could not be opened.
QString PortOpenFailureText(int nPort, const CPortOpenFailure& failure);
// The pattern file could not be sent; strCoreText is the core's own sentence, used for the
// empty file (the device's own words) and for kinds this dialog does not know yet.
QString PatternFileProblemText(const CPatternFileProblem& problem, const std::string& strCoreText);
// setting.ini cannot be saved.
QString SettingsProblemText(const CSettingsProblem& problem);
