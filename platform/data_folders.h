#pragma once
// Where the program keeps what it writes while it runs: setting.ini and the unpacked skin
// file. A portable folder keeps both beside the program, as it always has. A program installed
// where the user cannot write (or installed system-wide: by the package on Linux, by the
// installer on Windows) keeps setting.ini in the user's own settings folder and unpacks the
// skin file into a temporary folder of the user's alone instead.

#include <string>

struct CDataFolders {
    // The folder of setting.ini; empty means the current directory.
    std::string m_strSettingsDir;
    // The folder the skin file is unpacked into; empty means the current directory.
    std::string m_strSkinDir;
    // The folder of the update log (updates.log); empty means the current directory.
    std::string m_strLogDir;
    // True for the portable folder: all three are the program's directory.
    bool m_bBesideProgram = true;
};

// What the choice depends on besides the program's directory, so that tests can give their own.
struct CDataFolderEnv {
    std::string m_strConfigHome;  // XDG_CONFIG_HOME
    std::string m_strStateHome;   // XDG_STATE_HOME
    std::string m_strHome;        // HOME
    std::string m_strRuntimeDir;  // XDG_RUNTIME_DIR
    std::string m_strTempDir;     // TMPDIR; on Windows the user's temporary folder
    unsigned m_nUid = 0;
    std::string m_strAppData;     // Windows: the user's roaming application data (%APPDATA%)
    std::string m_strLocalAppData; // Windows: the user's application data on this PC (%LOCALAPPDATA%)
    std::string m_strInstallDir;  // Windows: the folder the installer put the program in, if any

    static CDataFolderEnv FromProcess();
};

// The program's directory when the user can create files in it and it is not a system-wide
// install (then both folders are that directory, or both empty when it is empty). Otherwise, on
// Linux: setting.ini in $XDG_CONFIG_HOME/matrix-update (else $HOME/.config/matrix-update), the
// skin file in $XDG_RUNTIME_DIR/matrix-update (else <TMPDIR or /tmp>/matrix-update-<uid>),
// private to the user (0700), the update log in $XDG_STATE_HOME/matrix-update (else
// $HOME/.local/state/matrix-update); on Windows: setting.ini in %APPDATA%\matrix-update, the
// skin file in matrix-update in the user's temporary folder, open to the user alone, the update
// log in %LOCALAPPDATA%\matrix-update (it belongs to this PC, not to a roaming profile). Folders that are
// missing are created. Where one of them cannot be made or written, the program's directory
// stands in, so that its failure shows where it always has.
CDataFolders ChooseDataFolders(const std::string& strProgramDirectory, const CDataFolderEnv& env);

// True when a new file can be created in strDir (a scratch file is made and removed); else
// false, with the system's reason in *pstrReason when given.
bool CanCreateFilesIn(const std::string& strDir, std::string* pstrReason = nullptr);

// True for a program in the system-wide layout: on Linux <prefix>/bin/matrix-update with its
// skin library in <prefix>/lib/matrix-update; on Windows the folder the installer recorded
// (HKLM\Software\matrix-update, InstallDir). Such a folder is never written, even by root or
// an administrator.
bool IsSystemInstall(const std::string& strProgramDirectory);

// The package's private library folder for a program in strProgramDirectory:
// <program directory>/../lib/matrix-update, written without "..".
std::string GetPrivateLibraryDirectory(const std::string& strProgramDirectory);
