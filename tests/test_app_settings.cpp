#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "app/matrix_app.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace {

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
        {"quoted full path", "\"" + strDir + "/matrix-update\"", "matrix-update", strDir, true},
        {"name differs only in case", strDir + "/MATRIX-UPDATE", "matrix-update", strDir, true},
        {"name compared up to its first point", strDir + "/prog.bin", "prog", strDir, true},
        {"extension of the executable is not compared", strDir + "/prog.v2", "prog.v2", strDir, false},
        {"another program's name", strDir + "/other", "matrix-update", strDir, false},
        {"no separator at all", "matrix-update", "matrix-update", "", false},
        {"only a root separator", "/matrix-update", "matrix-update", "", false},
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
        {"259 bytes fit whole", "/" + strA244 + "/matrix-update", "/" + strA244},
        {"260 bytes lose the last one", "/" + strA244 + "a/matrix-update", "/" + strA244 + "a"},
        {"separators past the buffer are not seen", "/" + strA250 + "/" + std::string(40, 'b') + "/matrix-update",
         "/" + strA250},
        {"5000 bytes without a visible separator", "/" + std::string(4999, 'c'), ""},
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

    std::ofstream(strIni) << "; written by hand\n[connection]\ncomport=7\n[Other]\nKeep=yes\n";
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
    app.SetCommandLine(dir.File("gone/matrix-update"), "matrix-update");
    app.m_nComPort = 3;
    EXPECT_FALSE(app.SaveSettings());
    EXPECT_NE(app.GetSettingsError().find(dir.File("gone/setting.ini")), std::string::npos)
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
    char* pszBin = ::realpath(MATRIX_BIN_DIR, nullptr);
    ASSERT_NE(pszBin, nullptr);
    std::string strBin = pszBin;
    std::free(pszBin);
    EXPECT_EQ(app.GetProgramDirectory(), strBin);
    EXPECT_EQ(std::filesystem::current_path().string(), strBin);
}

} // namespace
