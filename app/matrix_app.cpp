#include "app/matrix_app.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "app/profile.h"
#include "platform/com_names.h"
#include "platform/file_util.h"
#include "platform/program_path.h"

namespace {

// The working buffer the program directory is cut from, as large as the platform's longest
// path; a longer command line is cut to fit.
constexpr size_t COMMAND_LINE_BUFFER_SIZE = 260;
constexpr const char* SETTINGS_FILE_NAME = "setting.ini";

std::string ToUpper(std::string str)
{
    for (char& ch : str)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return str;
}

std::string BaseNameWithoutExtension(const std::string& strPath)
{
    size_t nSlash = strPath.rfind(g_cPathSeparator);
    std::string strName = nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
    size_t nPoint = strName.rfind('.');
    if (nPoint != std::string::npos && nPoint > 0)
        strName.resize(nPoint);
    return strName;
}

// The setting's leading decimal number, as the profile's integer rule reads it, but without its
// wrap-around; 1 (no setting) when it is not a COM port number.
int ReadComPortSetting(std::string_view svValue)
{
    while (!svValue.empty() && std::isspace(static_cast<unsigned char>(svValue.front())))
        svValue.remove_prefix(1);
    if (!svValue.empty() && svValue.front() == '+')
        svValue.remove_prefix(1);
    long long nValue = 0;
    for (char ch : svValue) {
        if (ch < '0' || ch > '9')
            break;
        if (nValue <= MAX_COM_PORT)
            nValue = nValue * 10 + (ch - '0');
    }
    return IsComPortInRange(nValue) ? static_cast<int>(nValue) : 1;
}

// A settings line holds a value up to its line end, without the blanks around it.
bool IsStorableFolder(const std::string& strFolder)
{
    auto IsBlank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\v' || ch == '\f'; };
    return strFolder.find_first_of(std::string("\r\n\0", 3)) == std::string::npos && !IsBlank(strFolder.front()) &&
           !IsBlank(strFolder.back());
}

} // namespace

CMatrixApp::CMatrixApp() = default;

CMatrixApp::~CMatrixApp() = default;

void CMatrixApp::SetCommandLine(std::string strCommandLine, std::string strExecutableName)
{
    m_strCommandLine = std::move(strCommandLine);
    m_strExecutableName = std::move(strExecutableName);
    m_folders.reset();
}

bool CMatrixApp::InitCommandLineFromProcess(const char* pszArgv0)
{
    std::string strPath;
    if (!GetProgramPath(&strPath)) {
        if (pszArgv0 == nullptr || *pszArgv0 == '\0')
            return false;
        strPath = pszArgv0;
    }
    m_strExecutableName = BaseNameWithoutExtension(strPath);
    m_strCommandLine = std::move(strPath);
    m_folders.reset();
    return true;
}

std::string CMatrixApp::GetProgramDirectory()
{
    std::string_view svLine = m_strCommandLine;
    while (!svLine.empty() && svLine.front() == '"')
        svLine.remove_prefix(1);
    while (!svLine.empty() && svLine.back() == '"')
        svLine.remove_suffix(1);

    // Cut to the working buffer, leaving room for its terminator, instead of running past it.
    char szBuffer[COMMAND_LINE_BUFFER_SIZE];
    size_t nLength = svLine.size() < sizeof szBuffer - 1 ? svLine.size() : sizeof szBuffer - 1;
    std::memcpy(szBuffer, svLine.data(), nLength);
    szBuffer[nLength] = '\0';

    char* pszSlash = std::strrchr(szBuffer, g_cPathSeparator);
    if (pszSlash == nullptr)
        return std::string();
    *pszSlash = '\0';
    std::string strDirectory(szBuffer);
    std::string strFileName(pszSlash + 1);
    if (strDirectory.empty())
        return strDirectory;

    // Linux programs carry no ".exe": a name without a point is compared whole.
    size_t nPoint = strFileName.find('.');
    if (nPoint != std::string::npos)
        strFileName.resize(nPoint);
    if (ToUpper(strFileName) == ToUpper(m_strExecutableName)) {
        // A directory that cannot be entered leaves the current one as it is; the settings
        // path is still formed from the directory, so the failure shows there.
        (void)ChangeDirectory(strDirectory);
    }
    return strDirectory;
}

const CDataFolders& CMatrixApp::GetDataFolders()
{
    const std::string strDirectory = GetProgramDirectory();
    // Decided once: the folders must not change under a running program because a folder
    // became writable or not in the meantime.
    if (!m_folders)
        m_folders = ChooseDataFolders(strDirectory, CDataFolderEnv::FromProcess());
    return *m_folders;
}

std::string CMatrixApp::GetSettingsPath()
{
    const std::string& strDirectory = GetDataFolders().m_strSettingsDir;
    if (strDirectory.empty())
        return SETTINGS_FILE_NAME;
    return strDirectory + g_cPathSeparator + SETTINGS_FILE_NAME;
}

void CMatrixApp::LoadSettings()
{
    std::string strPath = GetSettingsPath();
    const CDataFolders& folders = GetDataFolders();
    if (!folders.m_bBesideProgram && IsPathAbsent(strPath)) {
        const std::string strBeside = GetProgramDirectory() + g_cPathSeparator + SETTINGS_FILE_NAME;
        if (!IsPathAbsent(strBeside))
            strPath = strBeside;
    }
    // A number no port can have (0, 300, or one so long that it would wrap into the range)
    // counts as no setting at all.
    m_nComPort = ReadComPortSetting(GetPrivateProfileString(m_pszSettingsSection, m_pszPortKey, "", strPath));
    m_strLastFolder = GetPrivateProfileString(m_pszFileDialogSection, m_pszLastFolderKey, "", strPath);
}

bool CMatrixApp::SaveSettings()
{
    char szValue[16];
    std::snprintf(szValue, sizeof szValue, "%d", m_nComPort);
    std::string strError;
    const std::string strPath = GetSettingsPath();
    bool bSaved = WritePrivateProfileString(m_pszSettingsSection, m_pszPortKey, szValue, strPath, &strError);
    if (bSaved && !m_strLastFolder.empty()) {
        // Read back, such a folder would name another one; the chooser then opens as it would
        // without a setting rather than somewhere the operator never was.
        const char* pszFolder = IsStorableFolder(m_strLastFolder) ? m_strLastFolder.c_str() : nullptr;
        bSaved = WritePrivateProfileString(m_pszFileDialogSection, m_pszLastFolderKey, pszFolder, strPath, &strError);
    }
    if (!bSaved) {
        m_strSettingsError = strError;
        return false;
    }
    m_strSettingsError.clear();
    return true;
}

const std::string& CMatrixApp::GetSettingsError() const
{
    return m_strSettingsError;
}

void CMatrixApp::SetTransferFile(const std::string& strPath)
{
    m_strTransferFile = strPath;
}

std::string CMatrixApp::GetTransferFile() const
{
    return m_strTransferFile;
}
