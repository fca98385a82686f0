#include "platform/data_folders.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_util.h"

namespace {

constexpr const char* PROGRAM_FOLDER_NAME = "matrix-update";

std::string GetVariable(const char* pszName)
{
    const char* pszValue = std::getenv(pszName);
    return pszValue != nullptr ? std::string(pszValue) : std::string();
}

// Folders named by the environment count only when absolute, as the XDG rules have it: a
// relative one would depend on the current directory, which start-up changes.
bool IsAbsolute(const std::string& strPath)
{
    return !strPath.empty() && strPath.front() == '/';
}

// Makes strDir and any missing parents, each new one private to the user. True when strDir
// is a directory afterwards.
bool MakePrivateDirectories(const std::string& strDir)
{
    struct stat st {};
    if (::stat(strDir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const std::string strParent = DirectoryOf(strDir);
    if (strParent != strDir && !MakePrivateDirectories(strParent))
        return false;
    return (::mkdir(strDir.c_str(), 0700) == 0 || errno == EEXIST) && ::stat(strDir.c_str(), &st) == 0 &&
           S_ISDIR(st.st_mode);
}

// A folder in the shared temporary folder is ours only when it is a real directory (not a
// link someone else planted), owned by us and closed to everyone else: the skin file in it
// is deleted by name at the end, and nobody else may choose what that name points to.
bool IsPrivateDirectory(const std::string& strDir, unsigned nUid)
{
    struct stat st {};
    return ::lstat(strDir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == nUid &&
           (st.st_mode & 077) == 0;
}

// The program's own folder under an XDG base: the base the variable names when it is absolute,
// else the default under the home folder; made private, and empty when it cannot be used.
std::string ChooseXdgFolder(const std::string& strXdgBase, const CDataFolderEnv& env, const char* pszHomeDefault)
{
    std::string strBase;
    if (IsAbsolute(strXdgBase))
        strBase = strXdgBase;
    else if (IsAbsolute(env.m_strHome))
        strBase = env.m_strHome + pszHomeDefault;
    else
        return std::string();
    const std::string strDir = strBase + "/" + PROGRAM_FOLDER_NAME;
    if (!MakePrivateDirectories(strDir) || !CanCreateFilesIn(strDir))
        return std::string();
    return strDir;
}

std::string ChooseSettingsDir(const CDataFolderEnv& env)
{
    return ChooseXdgFolder(env.m_strConfigHome, env, "/.config");
}

// The update log is state, not configuration: it goes where the XDG rules keep state.
std::string ChooseLogDir(const CDataFolderEnv& env)
{
    return ChooseXdgFolder(env.m_strStateHome, env, "/.local/state");
}

std::string ChooseSkinDir(const CDataFolderEnv& env)
{
    if (IsAbsolute(env.m_strRuntimeDir)) {
        const std::string strDir = env.m_strRuntimeDir + "/" + PROGRAM_FOLDER_NAME;
        if (MakePrivateDirectories(strDir) && CanCreateFilesIn(strDir))
            return strDir;
        return std::string();
    }
    // Without TMPDIR this is the folder the COM port links fall back to as well.
    const std::string strTemp = IsAbsolute(env.m_strTempDir) ? env.m_strTempDir : std::string("/tmp");
    const std::string strDir = strTemp + "/" + PROGRAM_FOLDER_NAME + "-" + std::to_string(env.m_nUid);
    if (::mkdir(strDir.c_str(), 0700) != 0 && errno != EEXIST)
        return std::string();
    if (!IsPrivateDirectory(strDir, env.m_nUid) || !CanCreateFilesIn(strDir))
        return std::string();
    return strDir;
}

} // namespace

CDataFolderEnv CDataFolderEnv::FromProcess()
{
    CDataFolderEnv env;
    env.m_strConfigHome = GetVariable("XDG_CONFIG_HOME");
    env.m_strStateHome = GetVariable("XDG_STATE_HOME");
    env.m_strHome = GetVariable("HOME");
    env.m_strRuntimeDir = GetVariable("XDG_RUNTIME_DIR");
    env.m_strTempDir = GetVariable("TMPDIR");
    env.m_nUid = static_cast<unsigned>(::getuid());
    return env;
}

bool CanCreateFilesIn(const std::string& strDir, std::string* pstrReason)
{
    std::string strScratch = (strDir.empty() ? std::string(".") : strDir) + "/.matrix-update-XXXXXX";
    const int nFd = ::mkstemp(strScratch.data());
    if (nFd < 0) {
        if (pstrReason != nullptr)
            *pstrReason = std::strerror(errno);
        return false;
    }
    ::close(nFd);
    ::unlink(strScratch.c_str());
    return true;
}

std::string GetPrivateLibraryDirectory(const std::string& strProgramDirectory)
{
    const std::string strParent = DirectoryOf(strProgramDirectory);
    return (strParent == "/" ? std::string() : strParent) + "/lib/" + PROGRAM_FOLDER_NAME;
}

bool IsSystemInstall(const std::string& strProgramDirectory)
{
    const size_t nSlash = strProgramDirectory.rfind('/');
    if (nSlash == std::string::npos || strProgramDirectory.compare(nSlash + 1, std::string::npos, "bin") != 0)
        return false;
    struct stat st {};
    return ::stat(GetPrivateLibraryDirectory(strProgramDirectory).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

CDataFolders ChooseDataFolders(const std::string& strProgramDirectory, const CDataFolderEnv& env)
{
    CDataFolders folders;
    folders.m_strSettingsDir = strProgramDirectory;
    folders.m_strSkinDir = strProgramDirectory;
    folders.m_strLogDir = strProgramDirectory;
    // Without a program directory everything stays in the current directory, as it always has.
    if (strProgramDirectory.empty())
        return folders;
    if (!IsSystemInstall(strProgramDirectory) && CanCreateFilesIn(strProgramDirectory))
        return folders;

    folders.m_bBesideProgram = false;
    if (std::string strDir = ChooseSettingsDir(env); !strDir.empty())
        folders.m_strSettingsDir = std::move(strDir);
    if (std::string strDir = ChooseSkinDir(env); !strDir.empty())
        folders.m_strSkinDir = std::move(strDir);
    if (std::string strDir = ChooseLogDir(env); !strDir.empty())
        folders.m_strLogDir = std::move(strDir);
    return folders;
}
