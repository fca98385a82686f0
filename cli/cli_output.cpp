#include "cli/cli_output.h"

#include <cstdarg>
#include <cstdio>

namespace {

std::string FormatTextV(const char* pszFormat, va_list args)
{
    va_list argsAgain;
    va_copy(argsAgain, args);
    char szShort[256];
    const int nLength = std::vsnprintf(szShort, sizeof szShort, pszFormat, args);
    std::string strText;
    if (nLength < 0) {
        strText = pszFormat;
    } else if (static_cast<size_t>(nLength) < sizeof szShort) {
        strText.assign(szShort, static_cast<size_t>(nLength));
    } else {
        strText.resize(static_cast<size_t>(nLength) + 1);
        std::vsnprintf(strText.data(), strText.size(), pszFormat, argsAgain);
        strText.resize(static_cast<size_t>(nLength));
    }
    va_end(argsAgain);
    return strText;
}

} // namespace

bool WriteOutput(std::string_view svText)
{
    return WriteConsoleText(EConsoleStream::Output, svText);
}

void WriteError(std::string_view svText)
{
    (void)WriteConsoleText(EConsoleStream::Error, svText);
}

std::string FormatText(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    std::string strText = FormatTextV(pszFormat, args);
    va_end(args);
    return strText;
}

bool PrintOutput(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    const std::string strText = FormatTextV(pszFormat, args);
    va_end(args);
    return WriteOutput(strText);
}

void PrintError(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    const std::string strText = FormatTextV(pszFormat, args);
    va_end(args);
    WriteError(strText);
}
