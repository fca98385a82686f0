#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/data_folders.h"
#include "app/matrix_app.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

unsigned ModeOf(const std::string& strPath)
{
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0u;
}

// Each row is one way the program can be installed and one environment; "T" in a path
// stands for the test's scratch folder. /proc takes no new files, not even from root, so it
// stands for a folder the user cannot write.
TEST(DataFolders, PortableFolderElseTheUsersConfigurationAndRuntimeFolders)
{
    CTempDir dir;
    const std::string strT = dir.Path().string();
    const std::string strUid = std::to_string(::getuid());
    struct {
        const char* pszName;
        std::string strProgramDir;
        std::string strConfigHome, strHome, strRuntimeDir, strTempDir;
        std::string strSettingsDir, strSkinDir;
        bool bBeside;
    } const aCases[] = {
        {"writable folder: portable, whatever the environment", "T/portable", "T/cfg", "T/home", "T/run", "T/tmp",
         "T/portable", "T/portable", true},
        {"no program directory: the current directory", "", "T/cfg", "T/home", "T/run", "", "", "", true},
        {"read-only folder, XDG folders set", "/proc", "T/cfg", "T/home", "T/run", "T/tmp",
         "T/cfg/matrix-update", "T/run/matrix-update", false},
        {"XDG_CONFIG_HOME unset: ~/.config; no runtime folder: the temporary folder", "/proc", "", "T/home", "",
         "T/tmp", "T/home/.config/matrix-update", "T/tmp/matrix-update-" + strUid, false},
        {"a relative XDG_CONFIG_HOME is ignored", "/proc", "cfg", "T/home", "T/run", "",
         "T/home/.config/matrix-update", "T/run/matrix-update", false},
        {"installed system-wide: the user's folders even where writable", "T/usr/bin", "T/cfg", "T/home", "T/run", "",
         "T/cfg/matrix-update", "T/run/matrix-update", false},
        {"nothing writable: the program's folder, which gives the notice", "/proc", "T/file", "", "T/file", "",
         "/proc", "/proc", false},
        {"no home at all", "/proc", "", "", "T/run", "", "/proc", "T/run/matrix-update", false},
        {"someone else's folder in the temporary folder is not used", "/proc", "T/cfg", "", "", "T/shared",
         "T/cfg/matrix-update", "/proc", false},
    };
    auto Expand = [&](const std::string& str) { return str.rfind("T/", 0) == 0 ? strT + str.substr(1) : str; };
    for (const auto& c : aCases) {
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            fs::remove_all(entry.path());
        fs::create_directories(dir.File("portable"));
        fs::create_directories(dir.File("home"));
        fs::create_directories(dir.File("tmp"));
        fs::create_directories(dir.File("usr/bin"));
        fs::create_directories(dir.File("usr/lib/matrix-update"));
        std::ofstream(dir.File("file")) << "x";
        // A folder of the right name that others can enter and write.
        fs::create_directories(dir.File("shared/matrix-update-" + strUid));
        ::chmod(dir.File("shared/matrix-update-" + strUid).c_str(), 0777);

        CDataFolderEnv env;
        env.m_strConfigHome = Expand(c.strConfigHome);
        env.m_strHome = Expand(c.strHome);
        env.m_strRuntimeDir = Expand(c.strRuntimeDir);
        env.m_strTempDir = Expand(c.strTempDir);
        env.m_nUid = static_cast<unsigned>(::getuid());
        const CDataFolders folders = ChooseDataFolders(Expand(c.strProgramDir), env);
        EXPECT_EQ(folders.m_strSettingsDir, Expand(c.strSettingsDir)) << c.pszName;
        EXPECT_EQ(folders.m_strSkinDir, Expand(c.strSkinDir)) << c.pszName;
        EXPECT_EQ(folders.m_bBesideProgram, c.bBeside) << c.pszName;
        // Every folder made for the user is the user's alone.
        for (const std::string& strMade : {folders.m_strSettingsDir, folders.m_strSkinDir}) {
            if (!folders.m_bBesideProgram && strMade.rfind(strT, 0) == 0) {
                EXPECT_EQ(ModeOf(strMade), 0700u) << c.pszName << ": " << strMade;
            }
        }
        if (c.strHome == "T/home" && folders.m_strSettingsDir.find("/.config/") != std::string::npos) {
            EXPECT_EQ(ModeOf(dir.File("home/.config")), 0700u) << c.pszName;
        }
    }
}

TEST(DataFolders, SystemInstallIsBinBesideThePackageLibraryFolder)
{
    CTempDir dir;
    fs::create_directories(dir.File("usr/bin"));
    fs::create_directories(dir.File("opt/tool"));
    fs::create_directories(dir.File("usr/lib/matrix-update"));
    EXPECT_TRUE(IsSystemInstall(dir.File("usr/bin")));
    EXPECT_FALSE(IsSystemInstall(dir.File("opt/tool")));
    EXPECT_FALSE(IsSystemInstall(dir.File("usr/sbin")));
    EXPECT_EQ(GetPrivateLibraryDirectory("/usr/bin"), "/usr/lib/matrix-update");
    EXPECT_EQ(GetPrivateLibraryDirectory("/bin"), "/lib/matrix-update");
}

// The dialog writes the port where matrixctl send reads it; and a portable folder that was made
// read-only after use still gives its last port until the configuration folder has one.
TEST(DataFolders, SettingsMoveToTheConfigurationFolderAndTheOldPortIsKept)
{
    CCurrentDirGuard guard;
    CTempDir dir;
    const std::string strBin = dir.File("usr/bin");
    fs::create_directories(strBin);
    fs::create_directories(dir.File("usr/lib/matrix-update"));
    std::ofstream(strBin + "/setting.ini") << "[Connection]\nComPort=7\n";
    CEnvGuard env;
    env.Set("XDG_CONFIG_HOME", dir.File("cfg"));
    env.Set("XDG_RUNTIME_DIR", dir.File("run"));

    CMatrixApp dialog;
    dialog.SetCommandLine(strBin + "/matrix-update", "matrix-update");
    EXPECT_EQ(dialog.GetSettingsPath(), dir.File("cfg/matrix-update/setting.ini"));
    dialog.LoadSettings();
    EXPECT_EQ(dialog.m_nComPort, 7) << "the port left beside the program";
    dialog.m_nComPort = 9;
    ASSERT_TRUE(dialog.SaveSettings()) << dialog.GetSettingsError();

    CMatrixApp cli;
    cli.SetCommandLine(strBin + "/matrixctl", "matrixctl");
    cli.LoadSettings();
    EXPECT_EQ(cli.m_nComPort, 9);
    EXPECT_EQ(ReadFileText(strBin + "/setting.ini"), "[Connection]\nComPort=7\n");
}

} // namespace
