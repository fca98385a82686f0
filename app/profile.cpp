#include "app/profile.h"
#include "text/printable.h"

#include <cstdint>
#include <vector>

#include "platform/file_util.h"

namespace {

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\v' || ch == '\f';
}

std::string_view Trim(std::string_view sv)
{
    while (!sv.empty() && IsBlank(sv.front()))
        sv.remove_prefix(1);
    while (!sv.empty() && IsBlank(sv.back()))
        sv.remove_suffix(1);
    return sv;
}

char FoldCase(char ch)
{
    return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    }
    return true;
}

enum class ELineKind { Other, Section, Entry };

// One line of the text: [nBegin, nEnd) is its content without the line end, nNext where the
// following line starts.
struct CProfileLine {
    size_t nBegin;
    size_t nEnd;
    size_t nNext;
    ELineKind eKind;
    std::string_view svName;   // section or key name, trimmed
    std::string_view svValue;  // entry value, trimmed
};

CProfileLine ClassifyLine(std::string_view svText, size_t nBegin, size_t nEnd, size_t nNext)
{
    CProfileLine line{nBegin, nEnd, nNext, ELineKind::Other, {}, {}};
    std::string_view svLine = Trim(svText.substr(nBegin, nEnd - nBegin));
    if (svLine.empty() || svLine.front() == ';')
        return line;
    if (svLine.front() == '[') {
        // A header without its closing bracket names the rest of the line, as the platform has it.
        std::string_view svName = svLine.substr(1);
        size_t nClose = svName.find(']');
        if (nClose != std::string_view::npos)
            svName = svName.substr(0, nClose);
        line.eKind = ELineKind::Section;
        line.svName = Trim(svName);
        return line;
    }
    size_t nEquals = svLine.find('=');
    if (nEquals == std::string_view::npos)
        return line;
    line.eKind = ELineKind::Entry;
    line.svName = Trim(svLine.substr(0, nEquals));
    line.svValue = Trim(svLine.substr(nEquals + 1));
    return line;
}

std::vector<CProfileLine> SplitLines(std::string_view svText)
{
    std::vector<CProfileLine> lines;
    size_t nPos = 0;
    // A byte order mark belongs to no line; it is kept where it is on rewriting.
    if (svText.substr(0, 3) == "\xEF\xBB\xBF")
        nPos = 3;
    while (nPos < svText.size()) {
        size_t nNewline = svText.find('\n', nPos);
        size_t nEnd = nNewline == std::string_view::npos ? svText.size() : nNewline;
        size_t nNext = nNewline == std::string_view::npos ? svText.size() : nNewline + 1;
        size_t nContentEnd = (nEnd > nPos && svText[nEnd - 1] == '\r') ? nEnd - 1 : nEnd;
        lines.push_back(ClassifyLine(svText, nPos, nContentEnd, nNext));
        nPos = nNext;
    }
    return lines;
}

std::string_view LineEndOf(std::string_view svText)
{
    size_t nNewline = svText.find('\n');
    if (nNewline != std::string_view::npos && nNewline > 0 && svText[nNewline - 1] == '\r')
        return "\r\n";
    return "\n";
}

// Where a key stands in the text: the index of its line, and of the last entry line of the
// first matching section (where a new key goes). SIZE_MAX when there is none.
struct CKeyPosition {
    size_t nKeyLine = SIZE_MAX;
    size_t nSectionEnd = SIZE_MAX;
};

CKeyPosition LocateKey(const std::vector<CProfileLine>& lines, std::string_view svSection, std::string_view svKey)
{
    CKeyPosition pos;
    std::string_view svWantSection = Trim(svSection);
    std::string_view svWantKey = Trim(svKey);
    bool bInSection = false;
    bool bFirstSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const CProfileLine& line = lines[i];
        if (line.eKind == ELineKind::Section) {
            bInSection = EqualNoCase(line.svName, svWantSection);
            bFirstSection = bInSection && pos.nSectionEnd == SIZE_MAX;
            if (bFirstSection)
                pos.nSectionEnd = i;
            continue;
        }
        if (!bInSection || line.eKind != ELineKind::Entry)
            continue;
        if (bFirstSection)
            pos.nSectionEnd = i;
        if (pos.nKeyLine == SIZE_MAX && EqualNoCase(line.svName, svWantKey))
            pos.nKeyLine = i;
    }
    return pos;
}

bool HasLineBreak(std::string_view sv)
{
    return sv.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

bool FindProfileValue(std::string_view svText, std::string_view svSection, std::string_view svKey,
                      std::string* pstrValue)
{
    std::vector<CProfileLine> lines = SplitLines(svText);
    CKeyPosition pos = LocateKey(lines, svSection, svKey);
    if (pos.nKeyLine == SIZE_MAX)
        return false;
    if (pstrValue != nullptr)
        *pstrValue = std::string(lines[pos.nKeyLine].svValue);
    return true;
}

std::string SetProfileValue(std::string_view svText, std::string_view svSection, std::string_view svKey,
                            std::string_view svValue)
{
    std::vector<CProfileLine> lines = SplitLines(svText);
    CKeyPosition pos = LocateKey(lines, svSection, svKey);
    std::string_view svEol = LineEndOf(svText);
    std::string strResult;
    strResult.reserve(svText.size() + svSection.size() + svKey.size() + svValue.size() + 8);

    if (pos.nKeyLine != SIZE_MAX) {
        // The key keeps its spelling and the line its own end; only the value changes.
        const CProfileLine& line = lines[pos.nKeyLine];
        size_t nEquals = svText.find('=', line.nBegin);
        strResult.append(svText.substr(0, nEquals + 1));
        strResult.append(svValue);
        strResult.append(svText.substr(line.nEnd));
        return strResult;
    }

    std::string strEntry = std::string(Trim(svKey)) + "=" + std::string(svValue);
    if (pos.nSectionEnd != SIZE_MAX) {
        const CProfileLine& last = lines[pos.nSectionEnd];
        strResult.append(svText.substr(0, last.nNext));
        if (last.nNext == 0 || svText[last.nNext - 1] != '\n')  // the text's last line had no line end
            strResult.append(svEol);
        strResult.append(strEntry);
        strResult.append(svEol);
        strResult.append(svText.substr(last.nNext));
        return strResult;
    }

    strResult.append(svText);
    if (!svText.empty() && svText.back() != '\n')
        strResult.append(svEol);
    strResult.append("[").append(Trim(svSection)).append("]").append(svEol);
    strResult.append(strEntry).append(svEol);
    return strResult;
}

std::string RemoveProfileValue(std::string_view svText, std::string_view svSection, std::string_view svKey)
{
    std::vector<CProfileLine> lines = SplitLines(svText);
    CKeyPosition pos = LocateKey(lines, svSection, svKey);
    if (pos.nKeyLine == SIZE_MAX)
        return std::string(svText);
    const CProfileLine& line = lines[pos.nKeyLine];
    std::string strResult(svText.substr(0, line.nBegin));
    strResult.append(svText.substr(line.nNext));
    return strResult;
}

int ParseProfileInt(std::string_view svValue)
{
    svValue = Trim(svValue);
    bool bNegative = false;
    if (!svValue.empty() && (svValue.front() == '-' || svValue.front() == '+')) {
        bNegative = svValue.front() == '-';
        svValue.remove_prefix(1);
    }
    // Unsigned arithmetic wraps without undefined behaviour, like the platform's conversion.
    uint32_t nResult = 0;
    for (char ch : svValue) {
        if (ch < '0' || ch > '9')
            break;
        nResult = nResult * 10u + static_cast<uint32_t>(ch - '0');
    }
    if (bNegative)
        nResult = 0u - nResult;
    return static_cast<int>(nResult);
}

std::string GetPrivateProfileString(const char* pszSection, const char* pszKey, const std::string& strDefault,
                                    const std::string& strPath)
{
    if (pszSection == nullptr || pszKey == nullptr)
        return strDefault;
    std::vector<uint8_t> data;
    if (!ReadWholeFile(strPath, &data, nullptr, MAX_PROFILE_BYTES))
        return strDefault;
    std::string_view svText(reinterpret_cast<const char*>(data.data()), data.size());
    std::string strValue;
    if (!FindProfileValue(svText, pszSection, pszKey, &strValue))
        return strDefault;
    return strValue;
}

int GetPrivateProfileInt(const char* pszSection, const char* pszKey, int nDefault, const std::string& strPath)
{
    std::string strValue = GetPrivateProfileString(pszSection, pszKey, std::string(), strPath);
    if (strValue.empty())
        return nDefault;
    return ParseProfileInt(strValue);
}

bool WritePrivateProfileString(const char* pszSection, const char* pszKey, const char* pszValue,
                               const std::string& strPath, std::string* pstrError)
{
    auto fail = [&](const std::string& strText) {
        if (pstrError != nullptr)
            *pstrError = strText;
        return false;
    };
    if (pszSection == nullptr || pszKey == nullptr)
        return fail("Cannot write " + EscapeForTerminal(strPath) + ": no section or key was given.");
    std::string_view svSection = Trim(pszSection);
    std::string_view svKey = Trim(pszKey);
    // A line break, a bracket in a section name or '=' in a key would turn into other lines
    // or another key when the file is read back.
    if (svSection.empty() || HasLineBreak(svSection) || svSection.find(']') != std::string_view::npos)
        return fail("Cannot write " + EscapeForTerminal(strPath) + ": the section name \"" + std::string(pszSection) +
                    "\" cannot be stored in a settings file.");
    if (svKey.empty() || HasLineBreak(svKey) || svKey.find('=') != std::string_view::npos ||
        svKey.front() == '[' || svKey.front() == ';')
        return fail("Cannot write " + EscapeForTerminal(strPath) + ": the key \"" + std::string(pszKey) +
                    "\" cannot be stored in a settings file.");
    if (pszValue != nullptr && HasLineBreak(pszValue))
        return fail("Cannot write " + EscapeForTerminal(strPath) + ": the value for " + std::string(svKey) +
                    " contains a line break.");

    // The old file must be read completely before it is replaced, or its other lines are lost.
    std::vector<uint8_t> data;
    std::string strError;
    if (!ReadWholeFile(strPath, &data, &strError, MAX_PROFILE_BYTES)) {
        if (!IsPathAbsent(strPath))
            return fail(strError);
        data.clear();  // no file yet: it is created
    }
    std::string_view svText(reinterpret_cast<const char*>(data.data()), data.size());
    std::string strNew = pszValue != nullptr ? SetProfileValue(svText, svSection, svKey, Trim(pszValue))
                                             : RemoveProfileValue(svText, svSection, svKey);
    // Nothing to change (the value is already there, or a key to remove is missing): the file
    // is left alone rather than created or rewritten.
    if (strNew == svText && (!data.empty() || pszValue == nullptr))
        return true;
    if (!WriteFileAtomically(strPath, strNew.data(), strNew.size(), &strError))
        return fail(strError);
    return true;
}
