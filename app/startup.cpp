#include "app/startup.h"

#include <cstring>

#include "app/matrix_app.h"
#include "platform/data_folders.h"
#include "platform/file_util.h"
#include "platform/program_path.h"
#include "platform/shared_library.h"
#include "serial/serial_link.h"
#include "skin/skin_bootstrap.h"
#include "text/printable.h"

char g_szSkinFile[SKIN_FILE_PATH_SIZE];

bool MakeSkinFilePath(const std::string& strDirectory, const std::string& strName,
                      char (&szPath)[SKIN_FILE_PATH_SIZE])
{
    szPath[0] = '\0';
    if (strDirectory.empty())
        return true;
    // A path that does not fit is refused whole: a cut one could name some other file, which
    // the skin library would load and shutdown would delete.
    const size_t nLength = strDirectory.size() + 1 + strName.size();
    if (nLength >= SKIN_FILE_PATH_SIZE)
        return false;
    std::memcpy(szPath, strDirectory.data(), strDirectory.size());
    szPath[strDirectory.size()] = g_cPathSeparator;
    std::memcpy(szPath + strDirectory.size() + 1, strName.data(), strName.size());
    szPath[nLength] = '\0';
    return true;
}

std::string GetSkinLibraryFileName()
{
    return SharedLibraryFileName(MATRIX_SKIN_LIBRARY_STEM);
}

std::string GetSkinLibraryPath(const std::string& strProgramDirectory)
{
    const std::string strBeside = (strProgramDirectory.empty() ? std::string(".") : strProgramDirectory)
                                  + g_cPathSeparator + GetSkinLibraryFileName();
    if (strProgramDirectory.empty() || !IsPathAbsent(strBeside))
        return strBeside;
    // Installed as a package, the library lives in the package's own folder, which the
    // system's loader never searches; only when that has none either is the missing file the
    // one beside the program.
    const std::string strPrivate =
        GetPrivateLibraryDirectory(strProgramDirectory) + g_cPathSeparator + GetSkinLibraryFileName();
    return !IsPathAbsent(strPrivate) ? strPrivate : strBeside;
}

CSkinLibrary::~CSkinLibrary()
{
    Release();
}

bool CSkinLibrary::BringIn(const std::string& strLibraryPath)
{
    if (m_bTried)
        return m_hLibrary != nullptr;
    m_bTried = true;
    m_hLibrary = LoadSharedLibrary(strLibraryPath, &m_strLoadError);
    if (m_hLibrary == nullptr)
        return false;
    m_pfnLoadSkin = reinterpret_cast<LoadSkinProc>(FindLibraryFunction(m_hLibrary, "LoadSkin"));
    m_pfnExitSkin = reinterpret_cast<ExitSkinProc>(FindLibraryFunction(m_hLibrary, "ExitSkin"));
    return true;
}

int CSkinLibrary::CallLoadSkin(const char* pszSkinFile, int nFlags)
{
    if (m_pfnLoadSkin == nullptr)
        return -1;
    return m_pfnLoadSkin(pszSkinFile, nFlags);
}

int CSkinLibrary::CallExitSkin()
{
    if (m_pfnExitSkin == nullptr)
        return -1;
    return m_pfnExitSkin();
}

void CSkinLibrary::Release()
{
    if (m_hLibrary != nullptr)
        FreeSharedLibrary(m_hLibrary);
    m_hLibrary = nullptr;
    m_pfnLoadSkin = nullptr;
    m_pfnExitSkin = nullptr;
}

void CSkinLibrary::LoadSkin(const std::string& strProgramDirectory, const char* pszSkinFile, int nFlags)
{
    if (!BringIn(GetSkinLibraryPath(strProgramDirectory)))
        return;
    // A skin the library refuses leaves the ordinary look; nothing to tell the operator.
    (void)CallLoadSkin(pszSkinFile, nFlags);
}

void CSkinLibrary::ExitSkin()
{
    if (IsLoaded())
        (void)CallExitSkin();
    Release();
}

bool CanWriteSettingsFile(const std::string& strSettingsPath, std::string* pstrReason, int* pnErrno)
{
    return CanReplaceFile(strSettingsPath, pstrReason, pnErrno);
}

bool CSettingsNotice::CheckAtStartup(const std::string& strSettingsPath)
{
    std::string strReason;
    int nErrno = 0;
    if (CanWriteSettingsFile(strSettingsPath, &strReason, &nErrno))
        return true;
    Tell({true, strSettingsPath, nErrno,
          EscapeForTerminal(strSettingsPath) + " cannot be saved (" + strReason +
              "): the COM port you choose is used now but will not be remembered for the next start.",
          IsFileReadOnly(strSettingsPath)});
    return false;
}

CSettingsProblem DescribeSaveFailure(const std::string& strSettingsPath, const std::string& strError)
{
    CSettingsProblem problem{false, strSettingsPath, 0,
                             strError + " The COM port you chose will not be remembered for the next start.",
                             IsFileReadOnly(strSettingsPath)};
    std::string strReason;
    (void)CanWriteSettingsFile(strSettingsPath, &strReason, &problem.nErrno);
    return problem;
}

void CSettingsNotice::ReportSaveFailure(const std::string& strSettingsPath, const std::string& strError)
{
    if (!m_bTold)
        Tell(DescribeSaveFailure(strSettingsPath, strError));
}

void CSettingsNotice::Tell(const CSettingsProblem& problem)
{
    if (m_bTold)
        return;
    m_bTold = true;
    if (m_fnTell)
        m_fnTell(problem);
}

bool RunInstanceStartup(CMatrixApp& app, ISkinLibrary& skin, const CStartupHost& host)
{
    // The framework's own set-up is the host's: its application object exists before this runs.
    const std::string strDirectory = app.GetProgramDirectory();
    // The skin file goes beside the program, or into the user's runtime folder when the
    // program's folder cannot be written.
    const std::string strSkinDir = app.GetDataFolders().m_strSkinDir;
    const std::string strName = ExtractSkinFile(SKIN_ENTRY, strSkinDir);

    // The unpacked file is ours to remove at the end even when its path was too long for
    // the skin file buffer; with no program directory it stays, as the name alone could be
    // any file of the current directory.
    std::string strRefusedPath;
    if (!MakeSkinFilePath(strSkinDir, strName, g_szSkinFile) && !strName.empty())
        strRefusedPath = strSkinDir + g_cPathSeparator + strName;

    if (g_szSkinFile[0] != '\0')
        skin.LoadSkin(strDirectory, g_szSkinFile, 0);

    app.LoadSettings();
    CSettingsNotice notice(host.fnTellOperator);
    notice.CheckAtStartup(app.GetSettingsPath());

    if (host.fnRunMainDialog)
        (void)host.fnRunMainDialog(app, notice);

    skin.ExitSkin();
    if (g_szSkinFile[0] != '\0')
        RemoveFilePath(g_szSkinFile);
    else if (!strRefusedPath.empty())
        RemoveFilePath(strRefusedPath);

    if (!app.SaveSettings())
        notice.ReportSaveFailure(app.GetSettingsPath(), app.GetSettingsError());

    if (g_pSerialLink != nullptr) {
        // No notification may reach the dialog that has gone.
        g_pSerialLink->SetOwner(nullptr);
        delete g_pSerialLink;
        g_pSerialLink = nullptr;
    }
    return false;
}

int RunInstanceExit()
{
    delete g_pSerialLink;
    g_pSerialLink = nullptr;
    return 0;
}
