#include "platform/data_folders.h"

#include <cerrno>
#include <random>

#include "platform/file_util.h"
#include "platform/win32/wide_string.h"

CDataFolderEnv CDataFolderEnv::FromProcess()
{
    return CDataFolderEnv();
}

bool CanCreateFilesIn(const std::string& strDir, std::string* pstrReason)
{
    std::random_device rd;
    for (int nTry = 0; nTry < 16; ++nTry) {
        const std::string strScratch =
            (strDir.empty() ? std::string(".") : strDir) + "\\.matrix-update-" + std::to_string(rd()) + ".tmp";
        const int fd = CreateNewFile(strScratch, 0600);
        if (fd >= 0) {
            CloseFileDescriptor(fd);
            RemoveFilePath(strScratch);
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    if (pstrReason != nullptr)
        *pstrReason = SystemErrorText(::GetLastError());
    return false;
}

// Windows programs carry their libraries beside them: there is no private library folder.
std::string GetPrivateLibraryDirectory(const std::string& strProgramDirectory)
{
    return strProgramDirectory;
}

bool IsSystemInstall(const std::string&)
{
    return false;
}

// The program's folder is a portable folder on Windows: setting.ini and the skin file stay
// there, as the program was drawn for; a folder that cannot be written shows its failure there.
CDataFolders ChooseDataFolders(const std::string& strProgramDirectory, const CDataFolderEnv&)
{
    CDataFolders folders;
    folders.m_strSettingsDir = strProgramDirectory;
    folders.m_strSkinDir = strProgramDirectory;
    return folders;
}
