#pragma once
// The application object: the COM port number and the file to transfer, shared by the
// whole program for the whole run, and setting.ini beside the program that keeps the port.
// The Qt application object of the dialog builds on this; nothing here needs a window.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/data_folders.h"

class CMatrixApp {
public:
    CMatrixApp();
    virtual ~CMatrixApp();

    const char* m_pszSettingsSection = "Connection";
    const char* m_pszPortKey = "ComPort";
    // The n of COMn: 1 until LoadSettings reads setting.ini.
    int32_t m_nComPort = 1;
    // Full path of the file the record transfer sends; empty until the dialog sets it.
    std::string m_strTransferFile;
    // The folder of the pattern file chosen last, where the dialogs' file chooser opens next
    // ("" until one is chosen). Kept in setting.ini in a section of its own, which versions
    // that read only Connection/ComPort never see.
    const char* m_pszFileDialogSection = "FileDialog";
    const char* m_pszLastFolderKey = "LastFolder";
    std::string m_strLastFolder;

    // Gives the program's command line (on Linux: its own path) and the executable's name
    // without extension, as GetProgramDirectory compares them. Tests give any they like.
    void SetCommandLine(std::string strCommandLine, std::string strExecutableName);
    // Takes the command line from the running process: the real executable path from
    // /proc/self/exe, or pszArgv0 when that cannot be read. False when neither is available.
    bool InitCommandLineFromProcess(const char* pszArgv0);

    // The program's directory from the command line, without a trailing "/"; empty when the
    // command line holds no "/" before its last part. When the command line's file name
    // (up to its first point) is the executable's name, ignoring case, the directory is also
    // made the process's current directory.
    std::string GetProgramDirectory();

    // Where setting.ini and the unpacked skin file go (see ChooseDataFolders), decided once
    // per command line. Calls GetProgramDirectory, with its side effect.
    const CDataFolders& GetDataFolders();

    // Where setting.ini is: in the program's directory, or in the current directory when the
    // program's directory is empty; in the user's configuration folder when the program's
    // directory cannot be written. Calls GetProgramDirectory, with its side effect.
    std::string GetSettingsPath();

    // m_nComPort := Connection/ComPort of setting.ini, 1 when the file, section or key is missing;
    // m_strLastFolder := FileDialog/LastFolder, "" when missing. When setting.ini lives in the
    // configuration folder and is not there yet, one left beside the program (a portable folder
    // made read-only) is read instead.
    void LoadSettings();
    // Writes m_nComPort to setting.ini, creating it when needed, and m_strLastFolder when one was
    // chosen (a folder that a settings line cannot hold as it is, with a line break or blanks at
    // either end, is not kept: an older one is removed instead). False when the file cannot be
    // written; GetSettingsError then names the file and the reason.
    bool SaveSettings();
    const std::string& GetSettingsError() const;

    void SetTransferFile(const std::string& strPath);
    std::string GetTransferFile() const;

private:
    std::string m_strCommandLine;
    std::string m_strExecutableName;
    std::string m_strSettingsError;
    std::optional<CDataFolders> m_folders;
};
