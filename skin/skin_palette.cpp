#include "skin/skin_palette.h"

#include <vector>

namespace {

struct CDeclaration {
    std::string m_strName;   // lower case
    std::string m_strValue;  // trimmed, comments removed
    int m_nLine = 0;
};

struct CRule {
    std::vector<std::string> m_astrSelectors; // whitespace collapsed to single blanks
    std::vector<CDeclaration> m_aDeclarations;
};

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\f';
}

std::string Trimmed(std::string_view str)
{
    size_t nFirst = 0;
    while (nFirst < str.size() && IsBlank(str[nFirst]))
        ++nFirst;
    size_t nEnd = str.size();
    while (nEnd > nFirst && IsBlank(str[nEnd - 1]))
        --nEnd;
    return std::string(str.substr(nFirst, nEnd - nFirst));
}

// "QLabel:disabled,\n  QWidget:disabled" gives "QLabel:disabled" and "QWidget:disabled".
std::vector<std::string> SplitSelectors(std::string_view str)
{
    std::vector<std::string> astr(1);
    for (char ch : str) {
        if (ch == ',') {
            astr.emplace_back();
        } else if (IsBlank(ch)) {
            if (!astr.back().empty() && astr.back().back() != ' ')
                astr.back() += ' ';
        } else {
            astr.back() += ch;
        }
    }
    for (std::string& strSelector : astr) {
        if (!strSelector.empty() && strSelector.back() == ' ')
            strSelector.pop_back();
    }
    return astr;
}

std::vector<std::string_view> SplitBlanks(std::string_view str)
{
    std::vector<std::string_view> aTokens;
    size_t i = 0;
    while (i < str.size()) {
        while (i < str.size() && IsBlank(str[i]))
            ++i;
        const size_t nStart = i;
        while (i < str.size() && !IsBlank(str[i]))
            ++i;
        if (i > nStart)
            aTokens.push_back(str.substr(nStart, i - nStart));
    }
    return aTokens;
}

// Checks that the bytes are UTF-8 text; on failure *pnLine is the line of the first bad byte.
bool IsUtf8Text(std::string_view str, int* pnLine)
{
    int nLine = 1;
    for (size_t i = 0; i < str.size();) {
        const auto ch = static_cast<unsigned char>(str[i]);
        if (ch < 0x80) {
            if (ch < 0x20 && ch != '\t' && ch != '\n' && ch != '\r' && ch != '\f') {
                *pnLine = nLine;
                return false;
            }
            if (ch == '\n')
                ++nLine;
            ++i;
            continue;
        }
        // The length of the sequence, and the range its second byte must lie in so that the
        // sequence is neither over-long, nor a surrogate, nor beyond U+10FFFF.
        size_t nLength = 0;
        unsigned char nLow = 0x80, nHigh = 0xBF;
        if (ch >= 0xC2 && ch <= 0xDF) {
            nLength = 2;
        } else if (ch >= 0xE0 && ch <= 0xEF) {
            nLength = 3;
            if (ch == 0xE0)
                nLow = 0xA0;
            else if (ch == 0xED)
                nHigh = 0x9F;
        } else if (ch >= 0xF0 && ch <= 0xF4) {
            nLength = 4;
            if (ch == 0xF0)
                nLow = 0x90;
            else if (ch == 0xF4)
                nHigh = 0x8F;
        } else {
            *pnLine = nLine;
            return false;
        }
        if (str.size() - i < nLength) {
            *pnLine = nLine;
            return false;
        }
        for (size_t n = 1; n < nLength; ++n) {
            const auto chNext = static_cast<unsigned char>(str[i + n]);
            const unsigned char nMin = n == 1 ? nLow : 0x80;
            const unsigned char nMax = n == 1 ? nHigh : 0xBF;
            if (chNext < nMin || chNext > nMax) {
                *pnLine = nLine;
                return false;
            }
        }
        i += nLength;
    }
    return true;
}

class CSheetReader {
public:
    explicit CSheetReader(std::string_view strText) : m_strText(strText) {}

    // Splits the text into rules; false with *pProblem on the first thing it cannot read.
    bool Read(std::vector<CRule>* pRules, CSkinFileProblem* pProblem);

private:
    bool Fail(ESkinProblem eProblem, int nLine, std::string strDetail, CSkinFileProblem* pProblem) const;
    bool EndDeclaration(CRule* pRule, CSkinFileProblem* pProblem);
    void Append(std::string_view str, int nLine);
    void ClearPending();

    std::string_view m_strText;
    std::string m_strPending;     // the selector or declaration being read, comments left out
    bool m_bPendingBlank = true;  // nothing but blanks in it so far
    int m_nPendingLine = 1;       // where its first word is
};

void CSheetReader::Append(std::string_view str, int nLine)
{
    for (char ch : str) {
        if (m_bPendingBlank && !IsBlank(ch)) {
            m_bPendingBlank = false;
            m_nPendingLine = nLine;
        }
    }
    m_strPending.append(str);
}

void CSheetReader::ClearPending()
{
    m_strPending.clear();
    m_bPendingBlank = true;
}

bool CSheetReader::Fail(ESkinProblem eProblem, int nLine, std::string strDetail, CSkinFileProblem* pProblem) const
{
    *pProblem = {eProblem, nLine, std::move(strDetail)};
    return false;
}

bool CSheetReader::EndDeclaration(CRule* pRule, CSkinFileProblem* pProblem)
{
    const std::string strDeclaration = Trimmed(m_strPending);
    ClearPending();
    if (strDeclaration.empty())
        return true; // ";;" or the ";" before "}"
    const size_t nColon = strDeclaration.find(':');
    if (nColon == std::string::npos)
        return Fail(ESkinProblem::BAD_DECLARATION, m_nPendingLine, "no ':' in \"" + strDeclaration + "\"", pProblem);
    CDeclaration declaration;
    declaration.m_strName = Trimmed(std::string_view(strDeclaration).substr(0, nColon));
    declaration.m_strValue = Trimmed(std::string_view(strDeclaration).substr(nColon + 1));
    declaration.m_nLine = m_nPendingLine;
    bool bNameOk = !declaration.m_strName.empty();
    for (char& ch : declaration.m_strName) {
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
        else if (!(ch >= 'a' && ch <= 'z') && ch != '-')
            bNameOk = false;
    }
    if (!bNameOk || declaration.m_strValue.empty())
        return Fail(ESkinProblem::BAD_DECLARATION, m_nPendingLine, "\"" + strDeclaration + "\" is not 'name: value'",
                    pProblem);
    pRule->m_aDeclarations.push_back(std::move(declaration));
    return true;
}

bool CSheetReader::Read(std::vector<CRule>* pRules, CSkinFileProblem* pProblem)
{
    int nLine = 1;
    bool bInRule = false;
    int nRuleLine = 0;
    CRule rule;
    ClearPending();
    const std::string_view& str = m_strText;
    for (size_t i = 0; i < str.size(); ++i) {
        const char ch = str[i];
        if (ch == '\n') {
            ++nLine;
            Append(" ", nLine);
        } else if (ch == '/' && i + 1 < str.size() && str[i + 1] == '*') {
            const size_t nEnd = str.find("*/", i + 2);
            if (nEnd == std::string_view::npos)
                return Fail(ESkinProblem::UNTERMINATED_COMMENT, nLine, "a comment is not closed", pProblem);
            for (size_t n = i; n < nEnd; ++n)
                nLine += str[n] == '\n' ? 1 : 0;
            i = nEnd + 1;
            Append(" ", nLine);
        } else if (ch == '"' || ch == '\'') {
            const size_t nEnd = str.find_first_of(std::string{ch, '\n'}, i + 1);
            if (nEnd == std::string_view::npos || str[nEnd] == '\n')
                return Fail(ESkinProblem::UNTERMINATED_STRING, nLine, "a quoted text is not closed", pProblem);
            Append(str.substr(i, nEnd - i + 1), nLine);
            i = nEnd;
        } else if (ch == '{') {
            if (bInRule)
                return Fail(ESkinProblem::UNBALANCED_BRACES, nLine,
                            "a rule opens inside the rule of line " + std::to_string(nRuleLine), pProblem);
            rule = CRule{SplitSelectors(m_strPending), {}};
            for (const std::string& strSelector : rule.m_astrSelectors) {
                if (strSelector.empty())
                    return Fail(ESkinProblem::BAD_DECLARATION, nLine, "a rule with an empty selector", pProblem);
            }
            ClearPending();
            bInRule = true;
            nRuleLine = nLine;
        } else if (ch == '}') {
            if (!bInRule)
                return Fail(ESkinProblem::UNBALANCED_BRACES, nLine, "a '}' closes no rule", pProblem);
            if (!EndDeclaration(&rule, pProblem))
                return false;
            pRules->push_back(std::move(rule));
            rule = CRule{};
            bInRule = false;
        } else if (ch == ';') {
            if (!bInRule)
                return Fail(ESkinProblem::BAD_DECLARATION, nLine, "a declaration outside any rule", pProblem);
            if (!EndDeclaration(&rule, pProblem))
                return false;
        } else {
            Append(std::string_view(&ch, 1), nLine);
        }
    }
    // A file cut short ends inside a rule or in the middle of a selector.
    if (bInRule)
        return Fail(ESkinProblem::UNBALANCED_BRACES, nRuleLine,
                    "the rule of line " + std::to_string(nRuleLine) + " is not closed", pProblem);
    if (!m_bPendingBlank) {
        const std::string strSelector = Trimmed(m_strPending);
        return Fail(ESkinProblem::BAD_DECLARATION, m_nPendingLine, "\"" + strSelector + "\" is followed by no rule",
                    pProblem);
    }
    return true;
}

// The declaration that counts for selector and any of the names: the last one, as later rules
// override earlier ones.
const CDeclaration* FindDeclaration(const std::vector<CRule>& aRules, std::string_view strSelector,
                                    std::initializer_list<std::string_view> astrNames)
{
    const CDeclaration* pFound = nullptr;
    for (const CRule& rule : aRules) {
        bool bSelected = false;
        for (const std::string& str : rule.m_astrSelectors)
            bSelected = bSelected || str == strSelector;
        if (!bSelected)
            continue;
        for (const CDeclaration& declaration : rule.m_aDeclarations) {
            for (std::string_view strName : astrNames) {
                if (declaration.m_strName == strName)
                    pFound = &declaration;
            }
        }
    }
    return pFound;
}

bool ParseHexColour(std::string_view str, CSkinColour* pColour)
{
    if ((str.size() != 7 && str.size() != 4) || str[0] != '#')
        return false;
    auto nibble = [](char ch) {
        if (ch >= '0' && ch <= '9')
            return ch - '0';
        if (ch >= 'a' && ch <= 'f')
            return ch - 'a' + 10;
        if (ch >= 'A' && ch <= 'F')
            return ch - 'A' + 10;
        return -1;
    };
    int anValue[3] = {};
    for (int n = 0; n < 3; ++n) {
        if (str.size() == 7) {
            const int nHigh = nibble(str[1 + 2 * n]), nLow = nibble(str[2 + 2 * n]);
            if (nHigh < 0 || nLow < 0)
                return false;
            anValue[n] = nHigh * 16 + nLow;
        } else {
            const int nDigit = nibble(str[1 + n]);
            if (nDigit < 0)
                return false;
            anValue[n] = nDigit * 17; // #abc is #aabbcc
        }
    }
    *pColour = {static_cast<uint8_t>(anValue[0]), static_cast<uint8_t>(anValue[1]), static_cast<uint8_t>(anValue[2])};
    return true;
}

// "4px" or "0": pixels from 0 to MAX_SKIN_LENGTH_PX.
bool ParseLength(std::string_view str, int* pnPixels)
{
    if (str.size() > 2 && str.substr(str.size() - 2) == "px")
        str.remove_suffix(2);
    if (str.empty() || str.size() > 3)
        return false;
    int nValue = 0;
    for (char ch : str) {
        if (ch < '0' || ch > '9')
            return false;
        nValue = nValue * 10 + (ch - '0');
    }
    if (nValue > MAX_SKIN_LENGTH_PX)
        return false;
    *pnPixels = nValue;
    return true;
}

enum class EPart { BACKGROUND, FOREGROUND, FRAME };

struct CColourSource {
    CSkinColour CSkinPalette::*m_pField;
    const char* m_pszWhat;
    const char* m_apszSelectors[2]; // the first that has the property counts
    EPart m_ePart;
};

// Where each colour of the palette is in the style sheet the skins are made from.
const CColourSource g_aColourSources[] = {
    {&CSkinPalette::m_clrWindow, "the window's background", {"QDialog", "QWidget"}, EPart::BACKGROUND},
    {&CSkinPalette::m_clrText, "the text colour", {"QWidget", nullptr}, EPart::FOREGROUND},
    {&CSkinPalette::m_clrMutedText, "the disabled text colour", {"QWidget:disabled", "QLabel:disabled"},
     EPart::FOREGROUND},
    {&CSkinPalette::m_clrBase, "the fields' background", {"QLineEdit", nullptr}, EPart::BACKGROUND},
    {&CSkinPalette::m_clrBorder, "the fields' frame", {"QLineEdit", nullptr}, EPart::FRAME},
    {&CSkinPalette::m_clrButton, "the buttons' background", {"QPushButton", nullptr}, EPart::BACKGROUND},
    {&CSkinPalette::m_clrHover, "the hovered button's background", {"QPushButton:hover", nullptr},
     EPart::BACKGROUND},
    {&CSkinPalette::m_clrPressed, "the pressed button's background", {"QPushButton:pressed", nullptr},
     EPart::BACKGROUND},
    {&CSkinPalette::m_clrAccent, "the progress bar's fill", {"QProgressBar::chunk", "QPushButton:default"},
     EPart::BACKGROUND},
    {&CSkinPalette::m_clrAccentText, "the default button's text", {"QPushButton:default", nullptr},
     EPart::FOREGROUND},
};

enum class ELength { RADIUS, FRAME_WIDTH };

struct CLengthSource {
    int CSkinPalette::*m_pField;
    const char* m_pszSelector;
    ELength eLength;
};

// Sizes are optional: without them the palette keeps its defaults.
const CLengthSource g_aLengthSources[] = {
    {&CSkinPalette::m_nBorderRadius, "QPushButton", ELength::RADIUS},
    {&CSkinPalette::m_nBorderWidth, "QPushButton", ELength::FRAME_WIDTH},
    {&CSkinPalette::m_nFocusWidth, "QPushButton:focus", ELength::FRAME_WIDTH},
    {&CSkinPalette::m_nChunkRadius, "QProgressBar::chunk", ELength::RADIUS},
};

const CDeclaration* FindColourDeclaration(const std::vector<CRule>& aRules, std::string_view strSelector,
                                          EPart ePart)
{
    switch (ePart) {
    case EPart::BACKGROUND:
        return FindDeclaration(aRules, strSelector, {"background-color", "background"});
    case EPart::FOREGROUND:
        return FindDeclaration(aRules, strSelector, {"color"});
    case EPart::FRAME:
        return FindDeclaration(aRules, strSelector, {"border-color", "border"});
    }
    return nullptr;
}

// The colour of a declaration: its whole value, or for the "border" shorthand its colour part.
bool ReadColour(const CDeclaration& declaration, CSkinColour* pColour)
{
    if (declaration.m_strName != "border")
        return ParseHexColour(declaration.m_strValue, pColour);
    for (std::string_view strToken : SplitBlanks(declaration.m_strValue)) {
        if (strToken[0] == '#')
            return ParseHexColour(strToken, pColour);
    }
    return false;
}

// The width of a frame: "border-width", or the length in the "border" shorthand ("none" and a
// shorthand without one mean no frame).
bool ReadFrameWidth(const CDeclaration& declaration, int* pnPixels)
{
    if (declaration.m_strName != "border")
        return ParseLength(declaration.m_strValue, pnPixels);
    for (std::string_view strToken : SplitBlanks(declaration.m_strValue)) {
        if (strToken[0] >= '0' && strToken[0] <= '9')
            return ParseLength(strToken, pnPixels);
    }
    *pnPixels = 0;
    return true;
}

} // namespace

bool ParseSkinPalette(std::string_view strText, CSkinPalette* pPalette, CSkinFileProblem* pProblem)
{
    CSkinFileProblem problem;
    CSkinFileProblem& out = pProblem != nullptr ? *pProblem : problem;
    out = CSkinFileProblem{};
    if (strText.size() > MAX_SKIN_FILE_BYTES) {
        out = {ESkinProblem::TOO_LARGE, 0, std::to_string(strText.size()) + " bytes"};
        return false;
    }
    // Editors may put a byte order mark in front of UTF-8 text.
    if (strText.substr(0, 3) == "\xEF\xBB\xBF")
        strText.remove_prefix(3);
    int nBadLine = 0;
    if (!IsUtf8Text(strText, &nBadLine)) {
        out = {ESkinProblem::NOT_TEXT, nBadLine, "a byte that is not UTF-8 text"};
        return false;
    }
    std::vector<CRule> aRules;
    if (!CSheetReader(strText).Read(&aRules, &out))
        return false;

    CSkinPalette palette;
    for (const CColourSource& source : g_aColourSources) {
        const CDeclaration* pDeclaration = nullptr;
        for (const char* pszSelector : source.m_apszSelectors) {
            if (pszSelector != nullptr && pDeclaration == nullptr)
                pDeclaration = FindColourDeclaration(aRules, pszSelector, source.m_ePart);
        }
        if (pDeclaration == nullptr) {
            out = {ESkinProblem::INCOMPLETE, 0, std::string(source.m_pszWhat) + " is given nowhere"};
            return false;
        }
        if (!ReadColour(*pDeclaration, &(palette.*source.m_pField))) {
            out = {ESkinProblem::BAD_COLOUR, pDeclaration->m_nLine,
                   std::string(source.m_pszWhat) + " is \"" + pDeclaration->m_strValue + "\", not #rrggbb"};
            return false;
        }
    }
    for (const CLengthSource& source : g_aLengthSources) {
        const CDeclaration* pDeclaration =
            source.eLength == ELength::RADIUS
                ? FindDeclaration(aRules, source.m_pszSelector, {"border-radius"})
                : FindDeclaration(aRules, source.m_pszSelector, {"border-width", "border"});
        if (pDeclaration == nullptr)
            continue;
        const bool bRead = source.eLength == ELength::RADIUS
                               ? ParseLength(pDeclaration->m_strValue, &(palette.*source.m_pField))
                               : ReadFrameWidth(*pDeclaration, &(palette.*source.m_pField));
        if (!bRead) {
            out = {ESkinProblem::BAD_LENGTH, pDeclaration->m_nLine,
                   "\"" + pDeclaration->m_strValue + "\" is not a length of 0 to " +
                       std::to_string(MAX_SKIN_LENGTH_PX) + " px"};
            return false;
        }
    }
    *pPalette = palette;
    return true;
}
