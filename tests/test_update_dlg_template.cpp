// The update dialog's template is written once, as the table the Qt dialog lays itself out
// from; the Windows dialog's resource script, which the system reads, must say the same. This
// reads the script as the resource compiler would and holds every control to the table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/update_dlg_template.h"
#include "tests/support/temp_dir.h"

namespace {

const char* const SCRIPT_PATH = MATRIX_SOURCE_DIR "/ui/win32/update_dlg.rc";

// The window styles the script may give, as the table's bits.
const std::map<std::string, uint32_t> STYLE_BITS = {
    {"SS_WHITERECT", DLG_STYLE_WHITE_RECT}, {"CBS_DROPDOWN", DLG_STYLE_DROP_DOWN},
    {"WS_VSCROLL", DLG_STYLE_VSCROLL},      {"WS_TABSTOP", DLG_STYLE_TAB_STOP},
    {"ES_AUTOHSCROLL", DLG_STYLE_AUTO_HSCROLL}, {"WS_BORDER", DLG_STYLE_BORDER},
    {"DS_MODALFRAME", DLG_STYLE_MODAL_FRAME}, {"DS_SETFONT", DLG_STYLE_SET_FONT},
    {"WS_POPUP", DLG_STYLE_POPUP},          {"WS_CAPTION", DLG_STYLE_CAPTION},
};

std::string Trim(const std::string& str)
{
    const size_t nFirst = str.find_first_not_of(" \t\r");
    return nFirst == std::string::npos ? std::string() : str.substr(nFirst, str.find_last_not_of(" \t\r") - nFirst + 1);
}

// The comma-separated arguments of a statement, strings without their quotes.
std::vector<std::string> SplitArguments(const std::string& strArgs)
{
    std::vector<std::string> args;
    std::string strCurrent;
    bool bQuoted = false;
    for (char ch : strArgs) {
        if (ch == '"')
            bQuoted = !bQuoted;
        else if (ch == ',' && !bQuoted) {
            args.push_back(Trim(strCurrent));
            strCurrent.clear();
        } else
            strCurrent += ch;
    }
    args.push_back(Trim(strCurrent));
    return args;
}

// Reads the script's template and controls; whatever cannot be read goes into *paProblems.
class CScriptReader {
public:
    explicit CScriptReader(std::vector<std::string>* paProblems) : m_paProblems(paProblems) {}

    void Read(const std::string& strScript)
    {
        std::istringstream in(strScript);
        std::string strLine;
        bool bControls = false;
        while (std::getline(in, strLine)) {
            strLine = Trim(strLine);
            if (strLine.empty() || strLine.starts_with("//") || strLine.starts_with("#"))
                continue;
            const size_t nSpace = strLine.find_first_of(" \t");
            const std::string strWord = strLine.substr(0, nSpace);
            const std::string strRest = nSpace == std::string::npos ? std::string() : Trim(strLine.substr(nSpace));
            if (strWord == "BEGIN")
                bControls = true;
            else if (strWord == "END")
                bControls = false;
            else if (bControls)
                ReadControl(strWord, SplitArguments(strRest));
            else
                ReadHeader(strWord, strRest);
        }
    }

    CDlgTemplate m_template{};
    std::string m_strCaption;
    std::string m_strFont;
    std::vector<CDlgControl> m_aControls;
    std::vector<std::string> m_astrTexts; // the controls' texts, kept while m_aControls point at them

private:
    int Number(const std::string& str)
    {
        char* pEnd = nullptr;
        const long nValue = std::strtol(str.c_str(), &pEnd, 10);
        if (str.empty() || *pEnd != '\0') {
            m_paProblems->push_back("'" + str + "' is not a number");
            return 0;
        }
        return static_cast<int>(nValue);
    }
    uint32_t Styles(const std::string& strExpression)
    {
        uint32_t nStyles = 0;
        for (const std::string& strName : SplitArguments(ReplacePipes(strExpression))) {
            const auto it = STYLE_BITS.find(strName);
            if (it == STYLE_BITS.end())
                m_paProblems->push_back("the style " + strName + " is not one the table knows");
            else
                nStyles |= it->second;
        }
        return nStyles;
    }
    static std::string ReplacePipes(std::string str)
    {
        for (char& ch : str) {
            if (ch == '|')
                ch = ',';
        }
        return str;
    }
    void ReadHeader(const std::string& strWord, const std::string& strRest)
    {
        if (strRest.starts_with("DIALOGEX")) {
            const std::vector<std::string> args = SplitArguments(strRest.substr(8));
            m_template.nId = Number(strWord);
            if (args.size() == 4) {
                m_template.nWidth = Number(args[2]);
                m_template.nHeight = Number(args[3]);
            }
        } else if (strWord == "STYLE")
            m_template.nStyles = Styles(strRest);
        else if (strWord == "CAPTION")
            m_strCaption = SplitArguments(strRest)[0];
        else if (strWord == "FONT") {
            const std::vector<std::string> args = SplitArguments(strRest);
            m_template.nPointSize = Number(args[0]);
            m_strFont = args.size() > 1 ? args[1] : std::string();
        } else
            m_paProblems->push_back("the statement " + strWord + " is not read by this test");
    }
    // CONTROL text, id, class, style, x, y, w, h; the other statements name their kind and
    // take text (but COMBOBOX and EDITTEXT), id, x, y, w, h, then the style.
    void ReadControl(const std::string& strWord, const std::vector<std::string>& args)
    {
        static const std::map<std::string, EDlgControlKind> KINDS = {
            {"GROUPBOX", EDlgControlKind::GroupBox},     {"LTEXT", EDlgControlKind::Text},
            {"COMBOBOX", EDlgControlKind::DropDown},     {"EDITTEXT", EDlgControlKind::Edit},
            {"PUSHBUTTON", EDlgControlKind::PushButton}, {"DEFPUSHBUTTON", EDlgControlKind::DefaultButton},
        };
        static const std::map<std::string, EDlgControlKind> CLASSES = {
            {"Static", EDlgControlKind::Frame}, {"msctls_progress32", EDlgControlKind::ProgressBar}};
        CDlgControl control{};
        std::vector<std::string> rest = args;
        std::string strText;
        if (strWord == "CONTROL") {
            if (args.size() != 8) {
                m_paProblems->push_back("CONTROL takes 8 arguments: " + std::to_string(args.size()) + " given");
                return;
            }
            const auto it = CLASSES.find(args[2]);
            if (it == CLASSES.end())
                m_paProblems->push_back("the window class " + args[2] + " is not one the table knows");
            else
                control.eKind = it->second;
            strText = args[0];
            rest = {args[1], args[4], args[5], args[6], args[7], args[3]};
        } else {
            const auto it = KINDS.find(strWord);
            if (it == KINDS.end()) {
                m_paProblems->push_back("the statement " + strWord + " is not one the table knows");
                return;
            }
            control.eKind = it->second;
            if (strWord != "COMBOBOX" && strWord != "EDITTEXT" && !rest.empty()) {
                strText = rest.front();
                rest.erase(rest.begin());
            }
        }
        if (rest.size() < 5 || rest.size() > 6) {
            m_paProblems->push_back(strWord + " has " + std::to_string(args.size()) + " arguments");
            return;
        }
        control.nId = Number(rest[0]);
        control.nX = Number(rest[1]);
        control.nY = Number(rest[2]);
        control.nWidth = Number(rest[3]);
        control.nHeight = Number(rest[4]);
        control.nStyles = rest.size() == 6 ? Styles(rest[5]) : 0;
        m_astrTexts.push_back(strText);
        m_aControls.push_back(control);
    }

    std::vector<std::string>* m_paProblems;
};

std::string Rect(const CDlgControl& c)
{
    return std::to_string(c.nX) + ", " + std::to_string(c.nY) + ", " + std::to_string(c.nWidth) + ", " +
           std::to_string(c.nHeight);
}

// Every way the script differs from the table, one sentence each; none when they agree.
std::vector<std::string> CompareWithTable(const std::string& strScript)
{
    std::vector<std::string> aProblems;
    CScriptReader script(&aProblems);
    script.Read(strScript);
    const CDlgTemplate& table = UPDATE_DLG_TEMPLATE;
    auto expect = [&aProblems](bool bSame, const std::string& strWhat) {
        if (!bSame)
            aProblems.push_back(strWhat);
    };
    expect(script.m_template.nId == table.nId, "the template's id is " + std::to_string(script.m_template.nId));
    expect(script.m_template.nWidth == table.nWidth && script.m_template.nHeight == table.nHeight,
           "the template's size differs");
    expect(script.m_template.nStyles == table.nStyles, "the template's styles differ");
    expect(script.m_strCaption == table.pszCaption, "the caption is '" + script.m_strCaption + "'");
    expect(script.m_strFont == table.pszFont && script.m_template.nPointSize == table.nPointSize,
           "the font is " + script.m_strFont + " " + std::to_string(script.m_template.nPointSize));
    expect(script.m_aControls.size() == table.controls.size(),
           std::to_string(script.m_aControls.size()) + " controls, the table has " + std::to_string(table.controls.size()));
    for (size_t i = 0; i < std::min(script.m_aControls.size(), table.controls.size()); ++i) {
        const CDlgControl& got = script.m_aControls[i];
        const CDlgControl& want = table.controls[i];
        const std::string strWhich = "control " + std::to_string(i + 1) + " (" + std::to_string(want.nId) + ")";
        expect(got.nId == want.nId, strWhich + " has the id " + std::to_string(got.nId));
        expect(got.eKind == want.eKind, strWhich + " is of another kind");
        expect(script.m_astrTexts[i] == want.pszText, strWhich + " reads '" + script.m_astrTexts[i] + "'");
        expect(Rect(got) == Rect(want), strWhich + " is at " + Rect(got) + ", the table says " + Rect(want));
        expect(got.nStyles == want.nStyles, strWhich + " has other styles");
    }
    return aProblems;
}

TEST(UpdateDlgTemplate, TheResourceScriptIsTheTable)
{
    const std::string strScript = ReadFileText(SCRIPT_PATH);
    ASSERT_FALSE(strScript.empty()) << SCRIPT_PATH;
    const std::vector<std::string> aProblems = CompareWithTable(strScript);
    for (const std::string& strProblem : aProblems)
        ADD_FAILURE() << strProblem;
}

TEST(UpdateDlgTemplate, ATypoInTheScriptIsFound)
{
    const std::string strScript = ReadFileText(SCRIPT_PATH);
    ASSERT_FALSE(strScript.empty()) << SCRIPT_PATH;
    struct {
        const char* pszWhat;
        const char* pszFrom;
        const char* pszTo;
    } const aCases[] = {
        {"a control moved", "103, 87, 94, 59", "103, 78, 94, 59"},
        {"an id", "\"離開\", 1085", "\"離開\", 1058"},
        {"a text", "\"選擇檔案\"", "\"選擇文件\""},
        {"a kind", "DEFPUSHBUTTON   \"開始更新\"", "PUSHBUTTON   \"開始更新\""},
        {"a style", "ES_AUTOHSCROLL", "ES_AUTOHSCROLL | WS_DISABLED"},
        {"a system menu", "WS_POPUP | WS_CAPTION", "WS_POPUP | WS_CAPTION | WS_SYSMENU"},
        {"the font", "FONT 10,", "FONT 9,"},
        {"a control left out", "    LTEXT           \"COM Port:\", 1083, 21, 86, 59, 14\n", ""},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        std::string strChanged = strScript;
        const size_t nAt = strChanged.find(c.pszFrom);
        ASSERT_NE(nAt, std::string::npos) << c.pszFrom;
        strChanged.replace(nAt, std::string(c.pszFrom).size(), c.pszTo);
        EXPECT_FALSE(CompareWithTable(strChanged).empty());
    }
}

} // namespace
