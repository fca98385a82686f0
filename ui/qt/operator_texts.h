#pragma once
// The dialog's sentences as QStrings: the wording itself is the core's (app/operator_texts.h),
// shared with the Windows dialog.

#include <QString>

#include <string>

#include "app/operator_texts.h"

struct CSettingsProblem;

inline QString PortNotChosenText(const QString& strTyped)
{
    return QString::fromStdString(PortNotChosenText(strTyped.toStdString()));
}
inline QString PortOpenFailureQText(int nPort, const CPortOpenFailure& failure)
{
    return QString::fromStdString(PortOpenFailureText(nPort, failure));
}
inline QString PatternFileProblemQText(const CPatternFileProblem& problem, const std::string& strCoreText)
{
    return QString::fromStdString(PatternFileProblemText(problem, strCoreText));
}
inline QString SettingsProblemQText(const CSettingsProblem& problem)
{
    return QString::fromStdString(SettingsProblemText(problem));
}
