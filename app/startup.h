#pragma once
// The program's start-up and shutdown around the modal update dialog: program directory,
// skin file unpacked and handed to the skin library, settings read, the dialog run, then
// everything undone in the opposite order. No Qt here: the dialog is run through a callback,
// so the order of the steps is the same for the program and for the tests.

#include <cstddef>
#include <functional>
#include <string>

#include "app/skin_library_file.h"

class CMatrixApp;

// The full path of the unpacked skin file: program directory, "/", entry name. Empty when
// the program directory is empty or the path does not fit (255 characters at most).
constexpr size_t SKIN_FILE_PATH_SIZE = 256;
extern char g_szSkinFile[SKIN_FILE_PATH_SIZE];

// Builds directory + "/" + name into szPath. A path that does not fit is refused: szPath
// is left empty and the result is false. An empty directory also leaves it empty (true).
bool MakeSkinFilePath(const std::string& strDirectory, const std::string& strName,
                      char (&szPath)[SKIN_FILE_PATH_SIZE]);

// The two operations start-up needs of the skin library.
class ISkinLibrary {
public:
    virtual ~ISkinLibrary() = default;
    // On the first call brings in the library from strProgramDirectory and looks up its
    // operations; then calls LoadSkin(pszSkinFile, nFlags) when the library has it.
    virtual void LoadSkin(const std::string& strProgramDirectory, const char* pszSkinFile, int nFlags) = 0;
    // Calls ExitSkin when the library was brought in, then releases the library.
    virtual void ExitSkin() = 0;
};

// The skin library as a shared library of ours, brought in with dlopen. A missing library,
// a missing operation or a skin the library refuses all leave the ordinary look, unreported.
class CSkinLibrary : public ISkinLibrary {
public:
    using LoadSkinProc = int (*)(const char* pszPath, int nFlags);
    using ExitSkinProc = int (*)();

    CSkinLibrary() = default;
    ~CSkinLibrary() override;
    CSkinLibrary(const CSkinLibrary&) = delete;
    CSkinLibrary& operator=(const CSkinLibrary&) = delete;

    // Opens the library file at strLibraryPath (once; later calls return the first answer)
    // and looks up LoadSkin and ExitSkin. False when the file cannot be loaded; a library
    // without the operations is kept loaded but its missing operations are never called.
    bool BringIn(const std::string& strLibraryPath);
    bool IsLoaded() const { return m_hLibrary != nullptr; }
    bool HasLoadSkin() const { return m_pfnLoadSkin != nullptr; }
    bool HasExitSkin() const { return m_pfnExitSkin != nullptr; }
    // Why BringIn failed, from the system's loader (for diagnostics; never shown).
    const std::string& GetLoadError() const { return m_strLoadError; }

    // The library's own result, or -1 when the operation is not available.
    int CallLoadSkin(const char* pszSkinFile, int nFlags);
    int CallExitSkin();
    // Closes the library; its operations are forgotten.
    void Release();

    void LoadSkin(const std::string& strProgramDirectory, const char* pszSkinFile, int nFlags) override;
    void ExitSkin() override;

private:
    void* m_hLibrary = nullptr;
    LoadSkinProc m_pfnLoadSkin = nullptr;
    ExitSkinProc m_pfnExitSkin = nullptr;
    bool m_bTried = false;
    std::string m_strLoadError;
};

// The skin library's file: in the program's directory when it is there, else in the package's
// private library folder (<program directory>/../lib/matrix-update) when it is there, else the
// one in the program's directory that is missing ("./" when the directory is empty). Always a
// path with a "/", so that the loader never searches the system's library paths for it.
std::string GetSkinLibraryPath(const std::string& strProgramDirectory);
// The skin library's file name on this system (libmatrixskin.so, matrixskin.dll).
std::string GetSkinLibraryFileName();

// Checks whether setting.ini at strSettingsPath could be written, without changing it: a
// scratch file is created and removed in the directory that would receive it. False, with
// the system's reason in *pstrReason, when it cannot.
bool CanWriteSettingsFile(const std::string& strSettingsPath, std::string* pstrReason, int* pnErrno = nullptr);

// That setting.ini cannot be saved, as facts a front end can word in its own language.
struct CSettingsProblem {
    bool bAtStartup = false; // found before the dialog opened; else a save that failed
    std::string strPath;     // the settings file
    int nErrno = 0;          // the system's reason (0: not known)
    std::string strText;     // the whole of it as one English sentence
    bool bReadOnly = false;  // the file is marked read-only, which the program respects
};

// A failed save of strSettingsPath (strError: the save's own sentence) as facts. The reason is
// found by trying the file's directory again, which is what the save could not do.
CSettingsProblem DescribeSaveFailure(const std::string& strSettingsPath, const std::string& strError);

// Tells the operator, once per run, that setting.ini cannot be saved, so that a port choice
// is never lost without a word.
class CSettingsNotice {
public:
    using TellProc = std::function<void(const CSettingsProblem& problem)>;
    explicit CSettingsNotice(TellProc fnTell) : m_fnTell(std::move(fnTell)) {}

    // Start-up: checks the settings file's directory and tells the operator when it
    // cannot be written. True when it can.
    bool CheckAtStartup(const std::string& strSettingsPath);
    // A save of strSettingsPath failed with strError (one sentence naming the file): told
    // unless already told.
    void ReportSaveFailure(const std::string& strSettingsPath, const std::string& strError);
    bool HasTold() const { return m_bTold; }

private:
    void Tell(const CSettingsProblem& problem);
    TellProc m_fnTell;
    bool m_bTold = false;
};

// What start-up needs of its host.
struct CStartupHost {
    // Creates the update dialog without a parent, makes it the main window and runs it
    // modally; returns its result (not examined). A save of the settings that fails inside
    // the dialog goes to notice, so the operator hears of it once per run.
    std::function<int(CMatrixApp& app, CSettingsNotice& notice)> fnRunMainDialog;
    // Tells the operator, in a modal box with the program's caption, that setting.ini cannot
    // be saved.
    CSettingsNotice::TellProc fnTellOperator;
};

// The instance start-up: runs the whole program from the program directory to the link
// destroyed. Always returns false: there is no message loop to enter afterwards, and the
// caller ends the program through RunInstanceExit.
bool RunInstanceStartup(CMatrixApp& app, ISkinLibrary& skin, const CStartupHost& host);

// The instance exit: destroys a link that is still there and returns the exit status (0).
int RunInstanceExit();
