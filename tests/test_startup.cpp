#include <gtest/gtest.h>

#include <dlfcn.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/matrix_app.h"
#include "app/operator_texts.h"
#include "app/startup.h"
#include "platform/file_util.h"
#include "serial/serial_link.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// The name of the skin archive's entry 26, which start-up unpacks.
constexpr const char* SKIN_FILE_NAME = "matrix-calm.qss";

std::string CurrentDir()
{
    return fs::current_path().string();
}

// A program directory of its own for each test; the current directory and the program-wide
// state start-up touches are put back afterwards.
class CStartupTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_dir.Path().empty()); }

    void TearDown() override
    {
        g_szSkinFile[0] = '\0';
        delete g_pSerialLink;
        g_pSerialLink = nullptr;
    }

    // The application object as the program in strDir would have it.
    void StartIn(CMatrixApp& app, const std::string& strDir)
    {
        app.SetCommandLine(strDir + "/matrix-update", "matrix-update");
    }

    CTempDir m_dir{"startup-test"};
    CCurrentDirGuard m_cwd;
    const std::string m_strDir = m_dir.Path().string();
};

// Records what the skin library was asked to do, and what was on disk at that moment.
class CRecordingSkin : public ISkinLibrary {
public:
    explicit CRecordingSkin(std::vector<std::string>& astrSteps, CMatrixApp& app) : m_astrSteps(astrSteps), m_app(app) {}

    void LoadSkin(const std::string& strProgramDirectory, const char* pszSkinFile, int nFlags) override
    {
        m_astrSteps.push_back("LoadSkin dir=" + strProgramDirectory + " file=" + pszSkinFile +
                              " flags=" + std::to_string(nFlags) + " present=" +
                              std::to_string(fs::exists(pszSkinFile)) + " port=" + std::to_string(m_app.m_nComPort));
    }
    void ExitSkin() override
    {
        m_astrSteps.push_back(std::string("ExitSkin skin=") +
                              std::to_string(g_szSkinFile[0] != '\0' && fs::exists(g_szSkinFile)));
    }

private:
    std::vector<std::string>& m_astrSteps;
    CMatrixApp& m_app;
};

// A link that notes its destruction together with what setting.ini then holds.
class CRecordingLink : public CSerialLink {
public:
    CRecordingLink(std::vector<std::string>& astrSteps, std::string strIni)
        : m_astrSteps(astrSteps), m_strIni(std::move(strIni))
    {
    }
    ~CRecordingLink() override { m_astrSteps.push_back("link destroyed ini=" + ReadFileText(m_strIni)); }

private:
    std::vector<std::string>& m_astrSteps;
    std::string m_strIni;
};

using StartupSequence = CStartupTest;

class CNullOwner : public ILinkOwner {
public:
    void PostLinkMessage(CLinkMessage) override {}
    void ShowPortError(const std::string&, const std::string&) override {}
};

TEST_F(StartupSequence, StartupRunsTheStepsInOrderAndUndoesThemAfterTheDialog)
{
    const std::string strIni = m_strDir + "/setting.ini";
    std::ofstream(strIni) << "[Connection]\nComPort=7\n";
    const std::string strSkin = m_strDir + "/" + SKIN_FILE_NAME;

    CMatrixApp app;
    StartIn(app, m_strDir);
    std::vector<std::string> astrSteps;
    CRecordingSkin skin(astrSteps, app);
    CNullOwner owner;
    std::vector<std::string> astrTold;
    CStartupHost host;
    host.fnTellOperator = [&](const CSettingsProblem& problem) { astrTold.push_back(problem.strText); };
    host.fnRunMainDialog = [&](CMatrixApp& appIn, CSettingsNotice&) {
        astrSteps.push_back("dialog cwd=" + CurrentDir() + " port=" + std::to_string(appIn.m_nComPort) +
                            " skin=" + std::to_string(fs::exists(strSkin)));
        appIn.m_nComPort = 11;
        g_pSerialLink = new CRecordingLink(astrSteps, strIni);
        g_pSerialLink->SetOwner(&owner);
        return 1;
    };

    EXPECT_FALSE(RunInstanceStartup(app, skin, host));

    const std::vector<std::string> astrExpected = {
        "LoadSkin dir=" + m_strDir + " file=" + strSkin + " flags=0 present=1 port=1",
        "dialog cwd=" + m_strDir + " port=7 skin=1",
        "ExitSkin skin=1",
        "link destroyed ini=[Connection]\nComPort=11\n",
    };
    EXPECT_EQ(astrSteps, astrExpected);
    EXPECT_STREQ(g_szSkinFile, strSkin.c_str());
    EXPECT_FALSE(fs::exists(strSkin)) << "the skin file outlived the program";
    EXPECT_EQ(g_pSerialLink, nullptr);
    EXPECT_TRUE(astrTold.empty());
    EXPECT_EQ(RunInstanceExit(), 0);
}

TEST_F(StartupSequence, InstalledSystemWideTheSkinFileAndSettingsGoToTheUsersFolders)
{
    const std::string strBin = m_strDir + "/usr/bin";
    fs::create_directories(strBin);
    fs::create_directories(m_strDir + "/usr/lib/matrix-update");
    CEnvGuard env;
    env.Set("XDG_CONFIG_HOME", m_strDir + "/config");
    env.Set("XDG_RUNTIME_DIR", m_strDir + "/run");
    const std::string strSkin = m_strDir + "/run/matrix-update/" + SKIN_FILE_NAME;

    CMatrixApp app;
    StartIn(app, strBin);
    std::vector<std::string> astrSteps;
    CRecordingSkin skin(astrSteps, app);
    std::vector<std::string> astrTold;
    CStartupHost host;
    host.fnTellOperator = [&](const CSettingsProblem& problem) { astrTold.push_back(problem.strText); };
    host.fnRunMainDialog = [&](CMatrixApp& appIn, CSettingsNotice&) {
        appIn.m_nComPort = 11;
        return 1;
    };

    EXPECT_FALSE(RunInstanceStartup(app, skin, host));
    ASSERT_EQ(astrSteps.size(), 2u);
    EXPECT_EQ(astrSteps[0], "LoadSkin dir=" + strBin + " file=" + strSkin + " flags=0 present=1 port=1");
    EXPECT_FALSE(fs::exists(strSkin)) << "the skin file outlived the program";
    EXPECT_EQ(ReadFileText(m_strDir + "/config/matrix-update/setting.ini"), "[Connection]\nComPort=11\n");
    EXPECT_TRUE(fs::is_empty(strBin)) << "something was written beside the installed program";
    EXPECT_TRUE(astrTold.empty());
}

TEST_F(StartupSequence, StartupWithoutAProgramDirectoryLoadsNoSkinAndLeavesTheUnpackedFile)
{
    fs::current_path(m_strDir);
    CMatrixApp app;
    app.SetCommandLine("matrix-update", "matrix-update");
    std::vector<std::string> astrSteps;
    CRecordingSkin skin(astrSteps, app);
    CStartupHost host;
    host.fnRunMainDialog = [&](CMatrixApp&, CSettingsNotice&) {
        astrSteps.push_back("dialog");
        return 1;
    };

    EXPECT_FALSE(RunInstanceStartup(app, skin, host));
    EXPECT_EQ(astrSteps, (std::vector<std::string>{"dialog", "ExitSkin skin=0"}));
    EXPECT_STREQ(g_szSkinFile, "");
    EXPECT_TRUE(fs::exists(m_strDir + "/" + SKIN_FILE_NAME));
    EXPECT_TRUE(fs::exists(m_strDir + "/setting.ini"));
}

TEST_F(StartupSequence, SkinFilePathThatDoesNotFitIsRefusedAndTheFileStillRemoved)
{
    // A program directory whose skin file path needs 256 bytes or more, while the command line
    // (directory + "/matrix-update") still fits the program-directory buffer of 260 bytes.
    std::string strDir = m_strDir;
    while (strDir.size() < 242) {
        const size_t nPart = std::min<size_t>(100, 242 - strDir.size() - 1);
        if (nPart == 0) {
            strDir.pop_back();
            continue;
        }
        strDir += "/" + std::string(nPart, 'd');
    }
    ASSERT_EQ(strDir.size(), 242u);
    fs::create_directories(strDir);
    ASSERT_GE(strDir.size() + 1 + std::strlen(SKIN_FILE_NAME), SKIN_FILE_PATH_SIZE);

    CMatrixApp app;
    StartIn(app, strDir);
    std::vector<std::string> astrSteps;
    CRecordingSkin skin(astrSteps, app);
    CStartupHost host;
    bool bUnpacked = false;
    host.fnRunMainDialog = [&](CMatrixApp&, CSettingsNotice&) {
        bUnpacked = fs::exists(strDir + "/" + SKIN_FILE_NAME);
        return 1;
    };

    EXPECT_FALSE(RunInstanceStartup(app, skin, host));
    EXPECT_STREQ(g_szSkinFile, "");
    EXPECT_EQ(astrSteps, (std::vector<std::string>{"ExitSkin skin=0"})) << "a refused path must not be loaded";
    EXPECT_TRUE(bUnpacked);
    EXPECT_FALSE(fs::exists(strDir + "/" + SKIN_FILE_NAME));
    EXPECT_TRUE(fs::exists(strDir + "/setting.ini"));
}

TEST(StartupSkinPath, PathIsBuiltOnlyWhenItFits)
{
    struct {
        std::string strDir;
        std::string strName;
        bool bResult;
        std::string strPath;
    } const aCases[] = {
        {"/opt/mu", "a.qss", true, "/opt/mu/a.qss"},
        {"", "a.qss", true, ""},
        {"/opt/mu", "", true, "/opt/mu/"},
        {std::string(250, 'd'), "abcd", true, std::string(250, 'd') + "/abcd"},   // 255 characters
        {std::string(250, 'd'), "abcde", false, ""},                              // 256
        {std::string(4096, 'd'), "a.qss", false, ""},
    };
    for (const auto& c : aCases) {
        char szPath[SKIN_FILE_PATH_SIZE];
        std::memset(szPath, 'x', sizeof szPath);
        EXPECT_EQ(MakeSkinFilePath(c.strDir, c.strName, szPath), c.bResult) << c.strDir.size() << " " << c.strName;
        EXPECT_EQ(std::string(szPath), c.strPath);
    }
}

std::string LibraryPathOf(const void* pSymbol)
{
    Dl_info info{};
    if (::dladdr(pSymbol, &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    return info.dli_fname;
}

TEST(StartupSkinLibrary, MissingLibraryOrOperationMeansNothingIsCalled)
{
    {
        // A program folder of the test's own, with nothing beside it or in its package folder:
        // a made-up one such as /nonexistent-dir would make the package folder /lib/matrix-update,
        // which holds the real library wherever the package is installed.
        CTempDir dir;
        const std::string strBin = dir.File("usr/bin");
        CSkinLibrary skin;
        skin.LoadSkin(strBin, (strBin + "/a.qss").c_str(), 0);
        EXPECT_FALSE(skin.IsLoaded());
        EXPECT_FALSE(skin.GetLoadError().empty());
        EXPECT_EQ(skin.CallLoadSkin("a.qss", 0), -1);
        skin.ExitSkin();
        EXPECT_FALSE(skin.IsLoaded());
    }
    {
        // A real shared library that has neither operation.
        const std::string strZlib = LibraryPathOf(reinterpret_cast<const void*>(&zlibVersion));
        ASSERT_FALSE(strZlib.empty());
        CSkinLibrary skin;
        ASSERT_TRUE(skin.BringIn(strZlib)) << skin.GetLoadError();
        EXPECT_TRUE(skin.IsLoaded());
        EXPECT_FALSE(skin.HasLoadSkin());
        EXPECT_FALSE(skin.HasExitSkin());
        EXPECT_EQ(skin.CallLoadSkin("a.qss", 0), -1);
        EXPECT_EQ(skin.CallExitSkin(), -1);
        skin.ExitSkin();
        EXPECT_FALSE(skin.IsLoaded());
    }
}

TEST(StartupSkinLibrary, LibraryIsLookedForBesideTheProgramThenInThePackageFolder)
{
    // The loader itself is exercised with the real library by the Qt tests and end to end;
    // here only where it looks: never a bare name that dlopen would search the system for.
    CTempDir dir;
    const std::string strBin = dir.File("usr/bin");
    const std::string strBeside = strBin + "/" + GetSkinLibraryFileName();
    const std::string strPrivate = dir.File("usr/lib/matrix-update/") + GetSkinLibraryFileName();
    struct {
        const char* pszName;
        bool bBeside;
        bool bPrivate;
        std::string strExpected;
    } const aCases[] = {
        {"only beside the program", true, false, strBeside},
        {"in both places: beside wins", true, true, strBeside},
        {"only in the package folder", false, true, strPrivate},
        {"nowhere: the missing one beside", false, false, strBeside},
    };
    for (const auto& c : aCases) {
        fs::remove_all(dir.File("usr"));
        fs::create_directories(strBin);
        fs::create_directories(fs::path(strPrivate).parent_path());
        if (c.bBeside)
            std::ofstream(strBeside) << "x";
        if (c.bPrivate)
            std::ofstream(strPrivate) << "x";
        EXPECT_EQ(GetSkinLibraryPath(strBin), c.strExpected) << c.pszName;
    }
    EXPECT_EQ(GetSkinLibraryPath(""), std::string("./") + GetSkinLibraryFileName());
}

TEST_F(StartupSequence, UnwritableProgramDirectoryIsToldOnceAndStillRuns)
{
    // /proc takes no new files, not even from root, so it stands for a read-only install;
    // the configuration and runtime folders below it cannot be made either.
    CEnvGuard env;
    env.Set("XDG_CONFIG_HOME", "/proc/none");
    env.Set("XDG_RUNTIME_DIR", "/proc/none");
    CMatrixApp app;
    StartIn(app, "/proc");
    std::vector<std::string> astrSteps;
    CRecordingSkin skin(astrSteps, app);
    std::vector<std::string> astrTold;
    CStartupHost host;
    host.fnTellOperator = [&](const CSettingsProblem& problem) { astrTold.push_back(problem.strText); };
    host.fnRunMainDialog = [&](CMatrixApp& appIn, CSettingsNotice&) {
        astrSteps.push_back("dialog told=" + std::to_string(astrTold.size()));
        appIn.m_nComPort = 5;
        return 1;
    };

    EXPECT_FALSE(RunInstanceStartup(app, skin, host));
    ASSERT_EQ(astrTold.size(), 1u) << "told before the dialog, and not again when the last save fails";
    EXPECT_NE(astrTold[0].find("/proc/setting.ini"), std::string::npos) << astrTold[0];
    ASSERT_EQ(astrSteps.size(), 3u);
    EXPECT_EQ(astrSteps[1], "dialog told=1");
}

TEST_F(StartupSequence, SettingsThatBecomeUnwritableAreToldOnceThoughEverySaveFails)
{
    CMatrixApp app;
    StartIn(app, m_strDir);
    std::vector<std::string> astrSteps;
    CRecordingSkin skin(astrSteps, app);
    std::vector<std::string> astrTold;
    CStartupHost host;
    host.fnTellOperator = [&](const CSettingsProblem& problem) { astrTold.push_back(problem.strText); };
    host.fnRunMainDialog = [&](CMatrixApp& appIn, CSettingsNotice& notice) {
        astrSteps.push_back("dialog told=" + std::to_string(astrTold.size()));
        // Something takes setting.ini's place while the program runs; then two presses of
        // "開始更新" each fail to save the port, as the dialog reports them.
        fs::create_directory(m_strDir + "/setting.ini");
        for (int i = 0; i < 2; ++i) {
            appIn.m_nComPort = 3 + i;
            EXPECT_FALSE(appIn.SaveSettings());
            notice.ReportSaveFailure(appIn.GetSettingsPath(), appIn.GetSettingsError());
        }
        astrSteps.push_back("after presses told=" + std::to_string(astrTold.size()));
        return 1;
    };

    EXPECT_FALSE(RunInstanceStartup(app, skin, host));
    ASSERT_EQ(astrSteps.size(), 4u);
    EXPECT_EQ(astrSteps[1], "dialog told=0");
    EXPECT_EQ(astrSteps[2], "after presses told=1");
    ASSERT_EQ(astrTold.size(), 1u);
    EXPECT_NE(astrTold[0].find("setting.ini"), std::string::npos) << astrTold[0];
}

// A setting.ini its owner made read-only is read, kept as it is, and the operator is told once,
// before the dialog, that the port chosen will not be remembered.
TEST_F(StartupSequence, AReadOnlySettingsFileIsKeptAndToldOnce)
{
    const std::string strIni = m_strDir + "/setting.ini";
    std::ofstream(strIni) << "[Connection]\nComPort=7\n; the operator's own\n";
    fs::permissions(strIni, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    CMatrixApp app;
    StartIn(app, m_strDir);
    std::vector<std::string> astrSteps;
    CRecordingSkin skin(astrSteps, app);
    std::vector<CSettingsProblem> told;
    CStartupHost host;
    host.fnTellOperator = [&](const CSettingsProblem& problem) { told.push_back(problem); };
    host.fnRunMainDialog = [&](CMatrixApp& appIn, CSettingsNotice& notice) {
        astrSteps.push_back("dialog port=" + std::to_string(appIn.m_nComPort) + " told=" + std::to_string(told.size()));
        appIn.m_nComPort = 5;
        EXPECT_FALSE(appIn.SaveSettings());
        notice.ReportSaveFailure(appIn.GetSettingsPath(), appIn.GetSettingsError());
        return 1;
    };

    EXPECT_FALSE(RunInstanceStartup(app, skin, host));
    ASSERT_EQ(astrSteps.size(), 3u);
    EXPECT_EQ(astrSteps[1], "dialog port=7 told=1");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(told[0].bAtStartup);
    EXPECT_TRUE(told[0].bReadOnly);
    EXPECT_EQ(told[0].strText, strIni + " cannot be saved (it is read-only): the COM port you choose is used now but"
                                        " will not be remembered for the next start.");
    EXPECT_EQ(SettingsProblemText(told[0]),
              "設定檔 " + strIni + " 是唯讀檔案,程式不會更改它:您選擇的通訊埠這次可以使用,但下次啟動時不會記住。");
    EXPECT_EQ(ReadFileText(strIni), "[Connection]\nComPort=7\n; the operator's own\n");
    EXPECT_TRUE(IsFileReadOnly(strIni));
}

TEST(StartupSettingsNotice, TellsOnlyOncePerRun)
{
    int nTold = 0;
    CSettingsProblem told;
    CSettingsNotice notice([&](const CSettingsProblem& problem) {
        ++nTold;
        told = problem;
    });
    EXPECT_TRUE(notice.CheckAtStartup(fs::temp_directory_path().string() + "/setting.ini"));
    EXPECT_EQ(nTold, 0);
    EXPECT_FALSE(notice.CheckAtStartup("/proc/setting.ini"));
    notice.ReportSaveFailure("/proc/setting.ini", "setting.ini cannot be written.");
    notice.ReportSaveFailure("/proc/setting.ini", "setting.ini cannot be written.");
    EXPECT_EQ(nTold, 1);
    // The facts a front end words the sentence from: which file, and the system's reason.
    EXPECT_TRUE(told.bAtStartup);
    EXPECT_EQ(told.strPath, "/proc/setting.ini");
    EXPECT_NE(told.nErrno, 0);
    EXPECT_TRUE(notice.HasTold());
}

} // namespace
