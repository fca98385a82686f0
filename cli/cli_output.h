#pragma once
// What matrixctl prints, through the console layer (platform/console_output.h): on Windows a
// console gets wide text whatever its code page, a file or pipe UTF-8. Every name from outside
// in a message goes through EscapeForTerminal (text/printable.h) first.

#include <string>
#include <string_view>

#include "platform/console_output.h"

// The compiler checks the arguments against the format; the Windows runtime's printf is the
// GNU one here (sizes such as %zu), and the checker must be told so.
#ifdef __MINGW32__
#define MATRIX_PRINTF(nFormat, nFirst) __attribute__((format(gnu_printf, nFormat, nFirst)))
#else
#define MATRIX_PRINTF(nFormat, nFirst) __attribute__((format(printf, nFormat, nFirst)))
#endif

// Standard output; false when the text could not all be written (its reader went away).
bool WriteOutput(std::string_view svText);
// Standard error; a failure there has nobody to be told to.
void WriteError(std::string_view svText);

// printf-style formatting of one text, of any length.
std::string FormatText(const char* pszFormat, ...) MATRIX_PRINTF(1, 2);
bool PrintOutput(const char* pszFormat, ...) MATRIX_PRINTF(1, 2);
void PrintError(const char* pszFormat, ...) MATRIX_PRINTF(1, 2);
