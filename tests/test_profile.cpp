#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/profile.h"
#include "platform/file_util.h"
#include "tests/support/temp_dir.h"

namespace {

std::string ReadText(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& strPath, const std::string& strText)
{
    std::ofstream(strPath, std::ios::binary) << strText;
}

TEST(ProfileText, FindsValuesByThePlatformsRules)
{
    struct {
        const char* pszName;
        std::string strText;
        const char* pszSection;
        const char* pszKey;
        bool bFound;
        const char* pszValue;
    } const aCases[] = {
        {"plain", "[Connection]\nComPort=7\n", "Connection", "ComPort", true, "7"},
        {"case of section and key", "[CONNECTION]\ncomport=7\n", "Connection", "ComPort", true, "7"},
        {"whitespace around names and value", "  [ Connection ]  \n  ComPort =  7  \n", "Connection", "ComPort",
         true, "7"},
        {"CRLF", "[Connection]\r\nComPort=12\r\n", "Connection", "ComPort", true, "12"},
        {"no final line end", "[Connection]\nComPort=3", "Connection", "ComPort", true, "3"},
        {"byte order mark", "\xEF\xBB\xBF[Connection]\nComPort=4\n", "Connection", "ComPort", true, "4"},
        {"comment lines are not keys", "[Connection]\n;ComPort=9\nComPort=5\n", "Connection", "ComPort", true, "5"},
        {"first of two keys wins", "[Connection]\nComPort=5\nComPort=6\n", "Connection", "ComPort", true, "5"},
        {"empty value", "[Connection]\nComPort=\n", "Connection", "ComPort", true, ""},
        {"header without bracket", "[Connection\nComPort=8\n", "Connection", "ComPort", true, "8"},
        {"key in another section", "[Other]\nComPort=7\n[Connection]\n", "Connection", "ComPort", false, ""},
        {"section whose name begins with the wanted one", "[ConnectionX]\nComPort=7\n", "Connection", "ComPort", false,
         ""},
        {"key whose name begins with the wanted one", "[Connection]\nComPortX=7\n", "Connection", "ComPort", false, ""},
        {"key before any section", "ComPort=7\n[Connection]\n", "Connection", "ComPort", false, ""},
        {"section missing", "[Other]\nComPort=7\n", "Connection", "ComPort", false, ""},
        {"line without =", "[Connection]\nComPort\n", "Connection", "ComPort", false, ""},
        {"empty text", "", "Connection", "ComPort", false, ""},
    };
    for (const auto& c : aCases) {
        std::string strValue = "untouched";
        EXPECT_EQ(FindProfileValue(c.strText, c.pszSection, c.pszKey, &strValue), c.bFound) << c.pszName;
        if (c.bFound) {
            EXPECT_EQ(strValue, c.pszValue) << c.pszName;
        }
    }
}

TEST(ProfileText, IntegerTakesTheLeadingDecimalDigits)
{
    struct {
        const char* pszValue;
        int nExpected;
    } const aCases[] = {
        {"7", 7},          {"-12abc", -12},    {"+5", 5},    {" 42 ", 42},  {"abc", 0},
        {"0x10", 0},       {"3.9", 3},         {"-", 0},     {"2147483647", 2147483647},
        {"4294967297", 1},  // wraps past 32 bits as the platform's conversion does
    };
    for (const auto& c : aCases)
        EXPECT_EQ(ParseProfileInt(c.pszValue), c.nExpected) << c.pszValue;
}

TEST(ProfileText, SettingAValueKeepsEveryOtherLine)
{
    struct {
        const char* pszName;
        std::string strBefore;
        const char* pszSection;
        const char* pszKey;
        const char* pszValue;
        std::string strAfter;
    } const aCases[] = {
        {"new file", "", "Connection", "ComPort", "3", "[Connection]\nComPort=3\n"},
        {"replace keeps spelling and comments", ";note\n[connection]\n  comport = 1 \n;end\n", "Connection", "ComPort",
         "3", ";note\n[connection]\n  comport =3\n;end\n"},
        {"new key after the section's last entry", "[Connection]\nBaud=9600\n\n[Other]\nA=1\n", "Connection",
         "ComPort", "3", "[Connection]\nBaud=9600\nComPort=3\n\n[Other]\nA=1\n"},
        {"new section at the end, CRLF kept", "[Other]\r\nA=1\r\n", "Connection", "ComPort", "3",
         "[Other]\r\nA=1\r\n[Connection]\r\nComPort=3\r\n"},
        {"text without final line end", "[Other]\nA=1", "Connection", "ComPort", "3",
         "[Other]\nA=1\n[Connection]\nComPort=3\n"},
        {"section header last, no line end", "[Connection]", "Connection", "ComPort", "3",
         "[Connection]\nComPort=3\n"},
        {"CRLF line keeps its CR", "[Connection]\r\nComPort=1\r\nX=2\r\n", "Connection", "ComPort", "10",
         "[Connection]\r\nComPort=10\r\nX=2\r\n"},
    };
    for (const auto& c : aCases) {
        std::string strAfter = SetProfileValue(c.strBefore, c.pszSection, c.pszKey, c.pszValue);
        EXPECT_EQ(strAfter, c.strAfter) << c.pszName;
        std::string strValue;
        EXPECT_TRUE(FindProfileValue(strAfter, c.pszSection, c.pszKey, &strValue)) << c.pszName;
        EXPECT_EQ(strValue, c.pszValue) << c.pszName;
    }
    EXPECT_EQ(RemoveProfileValue("[C]\r\nK=1\r\nL=2\r\n", "c", "k"), "[C]\r\nL=2\r\n");
}

TEST(ProfileFile, ReadsDefaultsWhenFileSectionOrKeyIsMissing)
{
    CTempDir dir;
    std::string strPath = dir.File("setting.ini");
    EXPECT_EQ(GetPrivateProfileInt("Connection", "ComPort", 1, strPath), 1);
    WriteText(strPath, "[Other]\nComPort=4\n[Connection]\nBaud=1\nEmpty=\nWord=abc\n");
    EXPECT_EQ(GetPrivateProfileInt("Connection", "ComPort", 1, strPath), 1);
    EXPECT_EQ(GetPrivateProfileInt("Connection", "Empty", 9, strPath), 9);
    EXPECT_EQ(GetPrivateProfileInt("Connection", "Word", 9, strPath), 0);
    EXPECT_EQ(GetPrivateProfileInt("Missing", "ComPort", 2, strPath), 2);
    EXPECT_EQ(GetPrivateProfileInt("other", "comport", 2, strPath), 4);
}

TEST(ProfileFile, WriteCreatesThenUpdatesInPlace)
{
    CTempDir dir;
    std::string strPath = dir.File("setting.ini");
    std::string strError;
    ASSERT_TRUE(WritePrivateProfileString("Connection", "ComPort", "7", strPath, &strError)) << strError;
    EXPECT_EQ(GetPrivateProfileInt("Connection", "ComPort", 1, strPath), 7);
    WriteText(strPath, "; kept\r\n[Connection]\r\nComPort=7\r\n[Window]\r\nX=5\r\n");
    ASSERT_TRUE(WritePrivateProfileString("Connection", "ComPort", "12", strPath, &strError)) << strError;
    EXPECT_EQ(ReadText(strPath), "; kept\r\n[Connection]\r\nComPort=12\r\n[Window]\r\nX=5\r\n");
    ASSERT_TRUE(WritePrivateProfileString("Connection", "ComPort", nullptr, strPath, &strError));
    EXPECT_EQ(GetPrivateProfileInt("Connection", "ComPort", 1, strPath), 1);
    EXPECT_EQ(dir.ListTree().size(), 1u) << "no temporary file is left behind";
}

TEST(ProfileFile, RefusesWhatCannotBeStoredOnOneLine)
{
    CTempDir dir;
    std::string strPath = dir.File("setting.ini");
    WriteText(strPath, "[Connection]\nComPort=2\n");
    struct {
        const char* pszSection;
        const char* pszKey;
        const char* pszValue;
    } const aCases[] = {
        {"Connection", "ComPort", "3\n[Evil]"}, {"Connection", "Com=Port", "3"}, {"Conn]ection", "ComPort", "3"},
        {"Connection", "", "3"},                {"Connection", "[ComPort", "3"}, {nullptr, "ComPort", "3"},
    };
    for (const auto& c : aCases) {
        std::string strError;
        EXPECT_FALSE(WritePrivateProfileString(c.pszSection, c.pszKey, c.pszValue, strPath, &strError))
            << (c.pszKey ? c.pszKey : "");
        EXPECT_NE(strError.find(strPath), std::string::npos) << strError;
    }
    EXPECT_EQ(ReadText(strPath), "[Connection]\nComPort=2\n");
}

TEST(ProfileFile, AFileTooLargeToBeSettingsIsNeitherReadNorReplaced)
{
    CTempDir dir;
    std::string strPath = dir.File("setting.ini");
    std::string strText = "[Connection]\nComPort=6\n" + std::string(MAX_PROFILE_BYTES, ';');
    WriteText(strPath, strText);
    EXPECT_EQ(GetPrivateProfileInt("Connection", "ComPort", 1, strPath), 1);
    std::string strError;
    EXPECT_FALSE(WritePrivateProfileString("Connection", "ComPort", "3", strPath, &strError));
    EXPECT_NE(strError.find("longer than"), std::string::npos) << strError;
    EXPECT_EQ(ReadText(strPath).size(), strText.size());
}

TEST(ProfileAtomicWrite, ReportsAndRefusesBadTargets)
{
    CTempDir dir;
    std::string strError;
    EXPECT_FALSE(WriteFileAtomically(dir.File("missing/setting.ini"), "x", 1, &strError));
    EXPECT_NE(strError.find("No such file or directory"), std::string::npos) << strError;
    std::filesystem::create_directory(dir.File("adir"));
    EXPECT_FALSE(WriteFileAtomically(dir.File("adir"), "x", 1, &strError));
    EXPECT_NE(strError.find("not a regular file"), std::string::npos) << strError;
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("adir")));

    std::vector<uint8_t> data;
    EXPECT_FALSE(ReadWholeFile(dir.File("none.bin"), &data, &strError));
    EXPECT_EQ(strError, "Cannot open " + dir.File("none.bin") + ": No such file or directory.");
    EXPECT_FALSE(ReadWholeFile(dir.File("adir"), &data, &strError));
    EXPECT_NE(strError.find("is a directory"), std::string::npos) << strError;
}

// A settings file its owner made read-only is kept as it is, as Windows has always done: the
// rename would replace it without asking, since only its directory counts.
TEST(ProfileAtomicWrite, AReadOnlyFileIsKeptAsItIs)
{
    namespace fs = std::filesystem;
    CTempDir dir;
    const std::string strPath = dir.File("setting.ini");
    WriteText(strPath, "[Connection]\nComPort=2\n");
    fs::permissions(strPath, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_TRUE(IsFileReadOnly(strPath));
    std::string strReason;
    int nErrno = 0;
    EXPECT_FALSE(CanReplaceFile(strPath, &strReason, &nErrno));
    EXPECT_EQ(strReason, "it is read-only");
    EXPECT_EQ(nErrno, EACCES);
    std::string strError;
    EXPECT_FALSE(WritePrivateProfileString("Connection", "ComPort", "3", strPath, &strError));
    EXPECT_EQ(strError, "Cannot write " + strPath + ": it is read-only, so it is left as it is.");
    EXPECT_EQ(ReadText(strPath), "[Connection]\nComPort=2\n");
    EXPECT_TRUE(IsFileReadOnly(strPath));
    EXPECT_EQ(dir.ListTree().size(), 1u) << "no temporary file is left behind";
    fs::permissions(strPath, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_FALSE(IsFileReadOnly(strPath));
    EXPECT_TRUE(CanReplaceFile(strPath, &strReason, &nErrno)) << strReason;
    EXPECT_TRUE(WritePrivateProfileString("Connection", "ComPort", "3", strPath, &strError)) << strError;
}

TEST(ProfileAtomicWrite, ReplacesTheFileBehindASymbolicLink)
{
    CTempDir dir;
    WriteText(dir.File("real.ini"), "old");
    std::filesystem::create_symlink("real.ini", dir.File("link.ini"));
    std::string strError;
    ASSERT_TRUE(WriteFileAtomically(dir.File("link.ini"), "new", 3, &strError)) << strError;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.ini")));
    EXPECT_EQ(ReadText(dir.File("real.ini")), "new");
}

} // namespace
