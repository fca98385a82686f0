#pragma once
// Private-profile files (setting.ini): "[Section]" lines and "key=value" lines, read and
// written with the rules of the desktop platform the program was made for. Section and key
// names match ignoring letter case and the whitespace around them; the first matching key
// wins. Lines that are neither (comments starting with ';', blank lines, anything else) are
// kept as they are when a value is written.
//
// The file is untrusted: it may be large, binary, without a final newline or with CRLF line
// ends. Files longer than MAX_PROFILE_BYTES are not read at all.

#include <cstddef>
#include <string>
#include <string_view>

constexpr size_t MAX_PROFILE_BYTES = 1024 * 1024;

// Finds the value of svKey in svSection of a profile text, without the whitespace around it.
bool FindProfileValue(std::string_view svText, std::string_view svSection, std::string_view svKey,
                      std::string* pstrValue);

// Returns svText with svKey of svSection set to svValue. Every other line stays byte for byte
// as it was. A missing key is added after the last entry of its section, a missing section at
// the end of the text; new lines use the text's own line end (LF for an empty text).
std::string SetProfileValue(std::string_view svText, std::string_view svSection, std::string_view svKey,
                            std::string_view svValue);

// Returns svText without the line that holds svKey of svSection (unchanged when it has none).
std::string RemoveProfileValue(std::string_view svText, std::string_view svSection, std::string_view svKey);

// The integer of a profile value: optional whitespace and sign, then the leading decimal
// digits; no digits gives 0. Values past 32 bits wrap, as the platform's conversion does.
int ParseProfileInt(std::string_view svValue);

// The integer value of pszKey in pszSection, or nDefault when the file, the section or the
// key is missing, the value is empty or the file cannot be read.
int GetPrivateProfileInt(const char* pszSection, const char* pszKey, int nDefault, const std::string& strPath);

// The string value of pszKey in pszSection, or strDefault under the same conditions.
std::string GetPrivateProfileString(const char* pszSection, const char* pszKey, const std::string& strDefault,
                                    const std::string& strPath);

// Sets pszKey of pszSection to pszValue in the file (pszValue nullptr removes the key),
// creating the file or the section when needed, and replaces the file atomically. Returns
// false, with one sentence in *pstrError, when the file cannot be read or written, or when a
// name or the value cannot be stored on one profile line.
bool WritePrivateProfileString(const char* pszSection, const char* pszKey, const char* pszValue,
                               const std::string& strPath, std::string* pstrError = nullptr);
