#pragma once
// UTF-8 inside, UTF-16 at the Windows calls: the conversions and the system's error texts.

#include <string>

#include <windows.h>

std::wstring Utf8ToWide(const std::string& str);
std::string WideToUtf8(const wchar_t* psz, size_t nLength);
std::string WideToUtf8(const std::wstring& str);

// The system's text for a Win32 error code, in UTF-8, without the line end and final period
// (callers end the sentence themselves).
std::string SystemErrorText(DWORD dwError);
