#include "platform/printable.h"

#include <cstdio>

std::string EscapeForTerminal(std::string_view svText)
{
    std::string strOut;
    strOut.reserve(svText.size());
    for (char ch : svText) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\n': strOut += "\\n"; break;
        case '\r': strOut += "\\r"; break;
        case '\t': strOut += "\\t"; break;
        case '\\': strOut += "\\\\"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char szHex[8];
                std::snprintf(szHex, sizeof szHex, "\\x%02x", c);
                strOut += szHex;
            } else {
                strOut += ch;
            }
        }
    }
    return strOut;
}
