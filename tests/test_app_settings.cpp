#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/matrix_app.h"
#include "platform/program_path.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace {

// The separator of the system the tests run on: the same cases hold with either.
const std::string SEP(1, g_cPathSeparator);

std::string ReadText(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// GetProgramDirectory may change the process's current directory; every test puts it back
// with a CCurrentDirGuard.
TEST(AppSettingsDirectory, FollowsTheCommandLine)
{
    CCurrentDirGuard guard;
    CTempDir dir;
    std::string strStart = std::filesystem::current_path().string();
    const std::string strDir = dir.Path().string();
    struct {
        const char* pszName;
        std::string strCommandLine;
        const char* pszExecutable;
        std::string strExpected;
        bool bMakesCurrent;
    } const aCases[] = {
        {"quoted full path", "\"" + strDir + SEP + "matrix-update\"", "matrix-update", strDir, true},
        {"name differs only in case", strDir + SEP + "MATRIX-UPDATE", "matrix-update", strDir, true},
        {"name compared up to its first point", strDir + SEP + "prog.bin", "prog", strDir, true},
        {"extension of the executable is not compared", strDir + SEP + "prog.v2", "prog.v2", strDir, false},
        {"another program's name", strDir + SEP + "other", "matrix-update", strDir, false},
        {"no separator at all", "matrix-update", "matrix-update", "", false},
        {"only a root separator", SEP + "matrix-update", "matrix-update", "", false},
        {"quotes only", "\"\"", "matrix-update", "", false},
    };
    for (const auto& c : aCases) {
        std::filesystem::current_path(strStart);
        CMatrixApp app;
        app.SetCommandLine(c.strCommandLine, c.pszExecutable);
        EXPECT_EQ(app.GetProgramDirectory(), c.strExpected) << c.pszName;
        EXPECT_EQ(std::filesystem::current_path().string(), c.bMakesCurrent ? strDir : strStart) << c.pszName;
    }
}

TEST(AppSettingsDirectory, LongCommandLineIsCutToTheWorkingBuffer)
{
    CCurrentDirGuard guard;
    const std::string strA244(244, 'a');
    const std::string strA250(250, 'a');
    struct {
        const char* pszName;
        std::string strCommandLine;
        std::string strExpected;
    } const aCases[] = {
        {"259 bytes fit whole", SEP + strA244 + SEP + "matrix-update", SEP + strA244},
        {"260 bytes lose the last one", SEP + strA244 + "a" + SEP + "matrix-update", SEP + strA244 + "a"},
        // The buffer's last byte is its terminator: a separator as byte 259 is still seen, one as
        // byte 260 is already cut off.
        {"separator as the 259th byte", SEP + std::string(257, 'a') + SEP + "matrix-update", SEP + std::string(257, 'a')},
        {"separator as the 260th byte", SEP + std::string(258, 'a') + SEP + "matrix-update", ""},
        {"separators past the buffer are not seen", SEP + strA250 + SEP + std::string(40, 'b') + SEP + "matrix-update",
         SEP + strA250},
        {"5000 bytes without a visible separator", SEP + std::string(4999, 'c'), ""},
    };
    for (const auto& c : aCases) {
        CMatrixApp app;
        app.SetCommandLine(c.strCommandLine, "matrix-update");
        EXPECT_EQ(app.GetProgramDirectory(), c.strExpected) << c.pszName;
    }
}

TEST(AppSettingsFile, LoadsSavesAndKeepsTheRest)
{
    CCurrentDirGuard guard;
    CTempDir dir;
    std::string strIni = dir.File("setting.ini");
    CMatrixApp app;
    app.SetCommandLine(dir.File("matrix-update"), "matrix-update");
    EXPECT_EQ(app.GetSettingsPath(), strIni);

    app.m_nComPort = 99;
    app.LoadSettings();
    EXPECT_EQ(app.m_nComPort, 1) << "no setting.ini yet";

    std::ofstream(strIni, std::ios::binary) << "; written by hand\n[connection]\ncomport=7\n[Other]\nKeep=yes\n";
    app.LoadSettings();
    EXPECT_EQ(app.m_nComPort, 7);

    app.m_nComPort = 12;
    ASSERT_TRUE(app.SaveSettings()) << app.GetSettingsError();
    EXPECT_EQ(ReadText(strIni), "; written by hand\n[connection]\ncomport=12\n[Other]\nKeep=yes\n");
    CMatrixApp second;
    second.SetCommandLine(dir.File("matrix-update"), "matrix-update");
    second.LoadSettings();
    EXPECT_EQ(second.m_nComPort, 12);
}

// The file chooser's last folder lives in a section of its own: Connection keeps only ComPort, as
// older versions read it, and a folder that would come back as another one is not kept.
TEST(AppSettingsFile, LastFolderIsKeptInASectionOfItsOwn)
{
    CCurrentDirGuard guard;
    CTempDir dir;
    const std::string strOld = "[Connection]\nComPort=3\n";
    struct {
        const char* pszName;
        std::string strBefore;
        const char* pszChosen; // nullptr: nothing chosen, what was read stays
        std::string strAfter;
        std::string strReadBack;
    } const aCases[] = {
        {"a folder chosen, with any letters", strOld, "/data/圖案 樣本", strOld + "[FileDialog]\nLastFolder=/data/圖案 樣本\n",
         "/data/圖案 樣本"},
        {"nothing chosen: no section is added", strOld, nullptr, strOld, ""},
        {"the folder read is written back as it was", strOld + "[FileDialog]\nLastFolder=C:\\old\n", nullptr,
         strOld + "[FileDialog]\nLastFolder=C:\\old\n", "C:\\old"},
        {"a line break would make another line: not kept, the old one goes",
         strOld + "[FileDialog]\nLastFolder=/old\n", "/new\n[Connection]\nComPort=9", strOld + "[FileDialog]\n", ""},
        {"a blank at the end would be lost on reading: not kept", strOld, "/data/x ", strOld, ""},
        {"a section that only begins with the name is another one", strOld + "[FileDialogX]\nLastFolder=/x\n", nullptr,
         strOld + "[FileDialogX]\nLastFolder=/x\n", ""},
    };
    for (const auto& c : aCases) {
        std::ofstream(dir.File("setting.ini"), std::ios::binary) << c.strBefore;
        CMatrixApp app;
        app.SetCommandLine(dir.File("matrix-update"), "matrix-update");
        app.LoadSettings();
        EXPECT_EQ(app.m_nComPort, 3) << c.pszName;
        if (c.pszChosen != nullptr)
            app.m_strLastFolder = c.pszChosen;
        ASSERT_TRUE(app.SaveSettings()) << c.pszName << ": " << app.GetSettingsError();
        EXPECT_EQ(ReadText(dir.File("setting.ini")), c.strAfter) << c.pszName;
        CMatrixApp next;
        next.SetCommandLine(dir.File("matrix-update"), "matrix-update");
        next.LoadSettings();
        EXPECT_EQ(next.m_strLastFolder, c.strReadBack) << c.pszName;
        EXPECT_EQ(next.m_nComPort, 3) << c.pszName;
    }
}

TEST(AppSettingsFile, AComPortOutsideOneTo255CountsAsMissing)
{
    CCurrentDirGuard guard;
    CTempDir dir;
    struct {
        const char* pszValue;
        int nPort;
    } const aCases[] = {
        {"255", 255}, {" 7abc", 7}, {"+9", 9}, {"256", 1}, {"300", 1}, {"0", 1}, {"-5", 1}, {"abc", 1},
        {"4294967301", 1}, // wrapped into COM5 once
    };
    for (const auto& c : aCases) {
        std::ofstream(dir.File("setting.ini")) << "[Connection]\nComPort=" << c.pszValue << "\n";
        CMatrixApp app;
        app.SetCommandLine(dir.File("matrix-update"), "matrix-update");
        app.LoadSettings();
        EXPECT_EQ(app.m_nComPort, c.nPort) << c.pszValue;
    }
}

TEST(AppSettingsFile, EmptyProgramDirectoryMeansTheCurrentDirectory)
{
    CCurrentDirGuard guard;
    CTempDir dir;
    std::filesystem::current_path(dir.Path());
    CMatrixApp app;
    app.SetCommandLine("matrix-update", "matrix-update");
    EXPECT_EQ(app.GetSettingsPath(), "setting.ini");
    app.m_nComPort = 4;
    ASSERT_TRUE(app.SaveSettings()) << app.GetSettingsError();
    EXPECT_EQ(ReadText(dir.File("setting.ini")), "[Connection]\nComPort=4\n");
}

TEST(AppSettingsFile, FailedSaveNamesTheFileAndKeepsThePort)
{
    CCurrentDirGuard guard;
    CTempDir dir;
    // The configuration folder cannot be made either (its parent is a file), so the program's
    // folder stays the place of setting.ini.
    std::ofstream(dir.File("file")) << "x";
    CEnvGuard env;
    env.Set("XDG_CONFIG_HOME", dir.File("file"));
    CMatrixApp app;
    app.SetCommandLine(dir.File("gone") + SEP + "matrix-update", "matrix-update");
    app.m_nComPort = 3;
    EXPECT_FALSE(app.SaveSettings());
    EXPECT_NE(app.GetSettingsError().find(dir.File("gone") + SEP + "setting.ini"), std::string::npos)
        << app.GetSettingsError();
    EXPECT_NE(app.GetSettingsError().find("No such file or directory"), std::string::npos);
    EXPECT_EQ(app.m_nComPort, 3);

    app.SetCommandLine(dir.File("matrix-update"), "matrix-update");
    EXPECT_TRUE(app.SaveSettings());
    EXPECT_TRUE(app.GetSettingsError().empty());
}

TEST(AppSettingsProcess, FindsTheRealExecutable)
{
    CCurrentDirGuard guard;
    CMatrixApp app;
    ASSERT_TRUE(app.InitCommandLineFromProcess("ignored"));
    std::error_code error;
    const std::string strBin = std::filesystem::canonical(MATRIX_BIN_DIR, error).string();
    ASSERT_FALSE(error) << error.message();
    EXPECT_EQ(app.GetProgramDirectory(), strBin);
    EXPECT_EQ(std::filesystem::current_path().string(), strBin);
}

} // namespace
