// The palette a skin library that draws for itself takes from a skin file: every skin of the
// archive gives a whole one, each colour comes from its own place in the template, and a file
// that is damaged or belongs to something else is refused for what is wrong with it.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "skin/skin_palette.h"
#include "skin/zip_reader.h"
#include "tests/support/temp_dir.h"

namespace {

std::string ReadSourceFile(const char* pszPath)
{
    return ReadFileText(std::string(MATRIX_SOURCE_DIR) + "/" + pszPath);
}

CSkinColour Hex(const char* psz)
{
    unsigned n = 0;
    std::sscanf(psz, "#%6x", &n);
    return {static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}

double Luminance(const CSkinColour& c)
{
    return (0.299 * c.m_nRed + 0.587 * c.m_nGreen + 0.114 * c.m_nBlue) / 255.0;
}

std::string ReplaceAll(std::string str, const std::string& strFrom, const std::string& strTo)
{
    for (size_t n = str.find(strFrom); n != std::string::npos; n = str.find(strFrom, n + strTo.size()))
        str.replace(n, strFrom.size(), strTo);
    return str;
}

// The template with a colour of its own in each placeholder.
const std::map<std::string, const char*> g_mapPlaceholders = {
    {"@WINDOW@", "#010203"}, {"@TEXT@", "#040506"},   {"@MUTED@", "#070809"},  {"@BASE@", "#0a0b0c"},
    {"@BORDER@", "#0d0e0f"}, {"@BUTTON@", "#101112"}, {"@HOVER@", "#131415"},  {"@PRESSED@", "#161718"},
    {"@ACCENT@", "#191a1b"}, {"@ACCENT_TEXT@", "#1c1d1e"},
};

std::string TemplateSheet()
{
    std::string str = ReadSourceFile("res/skins/skin.qss.in");
    str = ReplaceAll(ReplaceAll(str, "@NAME@", "test"), "@VARIANT@", "light");
    // @ACCENT_TEXT@ first: @ACCENT@ is the start of it.
    str = ReplaceAll(str, "@ACCENT_TEXT@", g_mapPlaceholders.at("@ACCENT_TEXT@"));
    for (const auto& [strPlaceholder, pszColour] : g_mapPlaceholders)
        str = ReplaceAll(str, strPlaceholder, pszColour);
    return str;
}

// The text with the first occurrence of strFrom replaced.
std::string With(std::string str, const std::string& strFrom, const std::string& strTo)
{
    const size_t n = str.find(strFrom);
    return n == std::string::npos ? std::string("marker not found: ") + strFrom : str.replace(n, strFrom.size(), strTo);
}

std::string CutAfter(const std::string& str, const std::string& strMarker, size_t nMore)
{
    const size_t n = str.find(strMarker);
    return n == std::string::npos ? std::string() : str.substr(0, n + strMarker.size() + nMore);
}

} // namespace

TEST(SkinPalette, EveryColourComesFromItsPlaceInTheTemplate)
{
    CSkinPalette palette;
    CSkinFileProblem problem;
    ASSERT_TRUE(ParseSkinPalette(TemplateSheet(), &palette, &problem)) << problem.m_strDetail;
    const struct {
        const char* pszPlaceholder;
        CSkinColour CSkinPalette::*pField;
    } aFields[] = {
        {"@WINDOW@", &CSkinPalette::m_clrWindow},   {"@TEXT@", &CSkinPalette::m_clrText},
        {"@MUTED@", &CSkinPalette::m_clrMutedText}, {"@BASE@", &CSkinPalette::m_clrBase},
        {"@BORDER@", &CSkinPalette::m_clrBorder},   {"@BUTTON@", &CSkinPalette::m_clrButton},
        {"@HOVER@", &CSkinPalette::m_clrHover},     {"@PRESSED@", &CSkinPalette::m_clrPressed},
        {"@ACCENT@", &CSkinPalette::m_clrAccent},   {"@ACCENT_TEXT@", &CSkinPalette::m_clrAccentText},
    };
    for (const auto& field : aFields) {
        SCOPED_TRACE(field.pszPlaceholder);
        EXPECT_EQ(palette.*field.pField, Hex(g_mapPlaceholders.at(field.pszPlaceholder)));
    }
    // The template's button: 4 px corners, a 1 px frame, a 2 px focus ring; the bar's fill 3 px.
    EXPECT_EQ(palette.m_nBorderRadius, 4);
    EXPECT_EQ(palette.m_nBorderWidth, 1);
    EXPECT_EQ(palette.m_nFocusWidth, 2);
    EXPECT_EQ(palette.m_nChunkRadius, 3);
}

// Each skin of the archive against its line of the palette table: its accent, and text that
// can be read on its window in its variant.
TEST(SkinPalette, EverySkinOfTheArchiveGivesAWholePalette)
{
    std::vector<std::vector<std::string>> aTable;
    std::istringstream lines(ReadSourceFile("res/skins/palettes.txt"));
    for (std::string strLine; std::getline(lines, strLine);) {
        std::istringstream fields(strLine);
        std::string strName, strVariant, strAccent;
        if (!strLine.empty() && strLine[0] != '#' && fields >> strName >> strVariant >> strAccent)
            aTable.push_back({strName, strVariant, strAccent});
    }
    const uint8_t* pData = nullptr;
    size_t nSize = 0;
    ASSERT_TRUE(FindProgramResource("ZIPDB", "IDR_SKIN", &pData, &nSize));
    std::unique_ptr<ZipArchive> pArchive = ZipOpenMemory(pData, nSize);
    ASSERT_NE(pArchive, nullptr);
    ASSERT_EQ(aTable.size(), 69u);
    for (int i = 0; i < 69; ++i) {
        ZipEntryInfo info{};
        std::vector<uint8_t> data;
        ASSERT_EQ(ZipGetEntry(pArchive.get(), i, &info), ZIP_OK);
        ASSERT_EQ(ZipReadEntryToMemory(pArchive.get(), i, &data, MAX_SKIN_FILE_BYTES), ZIP_OK);
        SCOPED_TRACE(info.m_szName);
        ASSERT_EQ(info.m_szName, aTable[i][0]);
        CSkinPalette palette;
        CSkinFileProblem problem;
        ASSERT_TRUE(ParseSkinPalette(std::string(data.begin(), data.end()), &palette, &problem))
            << problem.m_strDetail << " (line " << problem.m_nLine << ")";
        EXPECT_EQ(palette.m_clrAccent, Hex(aTable[i][2].c_str()));
        const double dContrast = Luminance(palette.m_clrText) - Luminance(palette.m_clrWindow);
        EXPECT_GT(aTable[i][1] == "night" ? dContrast : -dContrast, 0.5) << "text hard to read on the window";
        // A button shows whether the mouse is over it and whether it is held.
        EXPECT_NE(palette.m_clrButton, palette.m_clrHover);
        EXPECT_NE(palette.m_clrHover, palette.m_clrPressed);
    }
    ZipClose(pArchive);
}

TEST(SkinPalette, DamagedAndForeignFilesAreRefused)
{
    const std::string strGood = TemplateSheet();
    CSkinPalette palette;
    ASSERT_TRUE(ParseSkinPalette(strGood, &palette));
    const std::string strBig = "/*" + std::string(MAX_SKIN_FILE_BYTES, ' ') + "*/" + strGood;
    const struct {
        const char* pszCase;
        std::string strText;
        ESkinProblem eExpected;
        int nLine; // 0: not checked
    } aCases[] = {
        {"empty file", "", ESkinProblem::INCOMPLETE, 0},
        {"a style sheet of another program", "body { color: #333; background: #fff; }\n", ESkinProblem::INCOMPLETE, 0},
        {"no pressed button", With(strGood, "QPushButton:pressed", "QToolButton:pressed"), ESkinProblem::INCOMPLETE,
         0},
        {"larger than a skin can be", strBig, ESkinProblem::TOO_LARGE, 0},
        {"a zero byte", With(strGood, "QLabel {", std::string("QLabel {\0", 9)), ESkinProblem::NOT_TEXT, 14},
        {"text in a legacy code page", With(strGood, "No font", "\xA4\xA3\xA6\x72"), ESkinProblem::NOT_TEXT, 4},
        {"an over-long UTF-8 sequence", "\xC0\xAF" + strGood, ESkinProblem::NOT_TEXT, 1},
        {"cut inside a comment", CutAfter(strGood, "/* The drop-down", 10), ESkinProblem::UNTERMINATED_COMMENT, 0},
        {"cut inside a rule", CutAfter(strGood, "QPushButton:hover {", 12), ESkinProblem::UNBALANCED_BRACES, 0},
        {"cut inside a selector", CutAfter(strGood, "QPushButton:ho", 0), ESkinProblem::BAD_DECLARATION, 0},
        {"a brace that closes nothing", With(strGood, "QDialog, QMainWindow {", "}\nQDialog, QMainWindow {"),
         ESkinProblem::UNBALANCED_BRACES, 10},
        {"a rule inside a rule", With(strGood, "    color: #040506;", "    QLabel { color: #000; }\n    color: #040506;"),
         ESkinProblem::UNBALANCED_BRACES, 0},
        {"a quote not closed", With(strGood, "text-align: center;", "text-align: \"center;"),
         ESkinProblem::UNTERMINATED_STRING, 0},
        {"a declaration without colon", With(strGood, "    color: #040506;", "    color #040506;"),
         ESkinProblem::BAD_DECLARATION, 7},
        {"a rule without selector", With(strGood, "QDialog, QMainWindow {", "QDialog, {"),
         ESkinProblem::BAD_DECLARATION, 0},
        {"a broken colour", With(strGood, "background-color: #101112", "background-color: #10111g"),
         ESkinProblem::BAD_COLOUR, 0},
        {"a window with no colour", With(strGood, "QDialog, QMainWindow {\n    background-color: #010203",
                                         "QDialog, QMainWindow {\n    background-color: transparent"),
         ESkinProblem::BAD_COLOUR, 11},
        {"corners larger than a control", With(strGood, "border-radius: 4px;\n    padding: 1px", "border-radius: 400px;\n    padding: 1px"),
         ESkinProblem::BAD_LENGTH, 0},
        {"a frame width that is not a length", With(strGood, "border: 2px solid", "border: 2pt solid"),
         ESkinProblem::BAD_LENGTH, 0},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszCase);
        ASSERT_EQ(c.strText.find("marker not found"), std::string::npos) << c.strText;
        CSkinPalette before;
        before.m_clrWindow = {1, 2, 3};
        CSkinPalette result = before;
        CSkinFileProblem problem;
        EXPECT_FALSE(ParseSkinPalette(c.strText, &result, &problem));
        EXPECT_EQ(problem.m_eProblem, c.eExpected) << problem.m_strDetail;
        if (c.nLine != 0) {
            EXPECT_EQ(problem.m_nLine, c.nLine) << problem.m_strDetail;
        }
        EXPECT_FALSE(problem.m_strDetail.empty());
        EXPECT_EQ(result.m_clrWindow, before.m_clrWindow) << "a refused file changed the palette";
    }
}

TEST(SkinPalette, WhatAHandWrittenSkinMayDo)
{
    const std::string strGood = TemplateSheet();
    const struct {
        const char* pszCase;
        std::string strText;
        CSkinColour CSkinPalette::*pField;
        CSkinColour clrExpected;
    } aCases[] = {
        // Saved by a Windows editor: byte order mark and CR LF line ends.
        {"byte order mark and CR LF", "\xEF\xBB\xBF" + ReplaceAll(strGood, "\n", "\r\n"), &CSkinPalette::m_clrWindow,
         Hex("#010203")},
        {"short colours", With(strGood, "background-color: #101112", "background-color: #abc"),
         &CSkinPalette::m_clrButton, Hex("#aabbcc")},
        {"a later rule wins", strGood + "\nQPushButton { background-color: #223344; }\n", &CSkinPalette::m_clrButton,
         Hex("#223344")},
        {"the frame colour given on its own",
         With(strGood, "    border: 1px solid #0d0e0f;", "    border: 1px solid;\n    border-color: #556677;"),
         &CSkinPalette::m_clrBorder, Hex("#556677")},
        {"a selector in a list, names in capitals",
         strGood + "\nQToolTip, QPushButton:hover { BACKGROUND-COLOR: #334455 }", &CSkinPalette::m_clrHover,
         Hex("#334455")},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszCase);
        CSkinPalette palette;
        CSkinFileProblem problem;
        ASSERT_TRUE(ParseSkinPalette(c.strText, &palette, &problem))
            << problem.m_strDetail << " (line " << problem.m_nLine << ")";
        EXPECT_EQ(palette.*c.pField, c.clrExpected);
    }
}
