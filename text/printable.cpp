#include "text/printable.h"

#include <cstdint>
#include <cstdio>

namespace {

// The length of the well-formed UTF-8 character at the start of sv (1 to 4), or 0 when its
// first byte does not start one.
size_t Utf8CharLength(std::string_view sv)
{
    const auto byte = [&sv](size_t i) { return i < sv.size() ? static_cast<uint8_t>(sv[i]) : 0; };
    const uint8_t c = byte(0);
    if (c < 0x80)
        return 1;
    size_t nLength = 0;
    uint8_t nSecondMin = 0x80;
    uint8_t nSecondMax = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        nLength = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        nLength = 3;
        // No overlong forms, no UTF-16 surrogates.
        if (c == 0xE0)
            nSecondMin = 0xA0;
        if (c == 0xED)
            nSecondMax = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        nLength = 4;
        if (c == 0xF0)
            nSecondMin = 0x90;
        if (c == 0xF4)
            nSecondMax = 0x8F;
    } else {
        return 0;
    }
    if (byte(1) < nSecondMin || byte(1) > nSecondMax)
        return 0;
    for (size_t i = 2; i < nLength; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return nLength;
}

bool IsControl(uint8_t c)
{
    return c < 0x20 || c == 0x7F;
}

// U+0080 to U+009F, which some terminals take as controls (U+009B starts a sequence).
bool IsC1Control(std::string_view svChar)
{
    return svChar.size() == 2 && static_cast<uint8_t>(svChar[0]) == 0xC2 && static_cast<uint8_t>(svChar[1]) <= 0x9F;
}

bool NeedsEscaping(std::string_view svText)
{
    while (!svText.empty()) {
        const size_t nLength = Utf8CharLength(svText);
        if (nLength == 0 || IsControl(static_cast<uint8_t>(svText[0])) || IsC1Control(svText.substr(0, nLength)))
            return true;
        svText.remove_prefix(nLength);
    }
    return false;
}

} // namespace

std::string EscapeForTerminal(std::string_view svText)
{
    if (!NeedsEscaping(svText))
        return std::string(svText);
    std::string strOut;
    strOut.reserve(svText.size() + 16);
    char szEscape[8];
    while (!svText.empty()) {
        const uint8_t c = static_cast<uint8_t>(svText[0]);
        const size_t nLength = Utf8CharLength(svText);
        if (nLength == 0) {
            std::snprintf(szEscape, sizeof szEscape, "\\x%02x", c);
            strOut += szEscape;
            svText.remove_prefix(1);
            continue;
        }
        const std::string_view svChar = svText.substr(0, nLength);
        svText.remove_prefix(nLength);
        if (IsC1Control(svChar)) {
            std::snprintf(szEscape, sizeof szEscape, "\\u%04x", static_cast<unsigned>(static_cast<uint8_t>(svChar[1])));
            strOut += szEscape;
        } else if (c == '\n') {
            strOut += "\\n";
        } else if (c == '\r') {
            strOut += "\\r";
        } else if (c == '\t') {
            strOut += "\\t";
        } else if (c == '\\') {
            strOut += "\\\\";
        } else if (IsControl(c)) {
            std::snprintf(szEscape, sizeof szEscape, "\\x%02x", c);
            strOut += szEscape;
        } else {
            strOut += svChar;
        }
    }
    return strOut;
}
