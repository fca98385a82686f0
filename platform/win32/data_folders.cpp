#include "platform/data_folders.h"

#include <cerrno>
#include <cwchar>
#include <memory>
#include <random>
#include <vector>

#include "platform/file_util.h"
#include "platform/win32/wide_string.h"

#include <sddl.h>
#include <shlobj.h>
#include <aclapi.h>

namespace {

constexpr const wchar_t* PROGRAM_FOLDER_NAME = L"matrix-update";
// Where the installer records the folder it put the program in.
constexpr const wchar_t* INSTALL_KEY = L"Software\\matrix-update";
constexpr const wchar_t* INSTALL_VALUE = L"InstallDir";

// A folder as the system resolves it: full, with long names, without a closing separator (the
// installer writes folders with one), so that two spellings of one folder compare equal.
std::wstring CanonicalFolder(const std::string& strFolder)
{
    std::wstring strPath = Utf8ToWide(strFolder);
    if (strPath.empty())
        return strPath;
    std::wstring strFull(32768, L'\0');
    DWORD dwLength = ::GetFullPathNameW(strPath.c_str(), static_cast<DWORD>(strFull.size()), strFull.data(), nullptr);
    if (dwLength > 0 && dwLength < strFull.size()) {
        strFull.resize(dwLength);
        strPath = strFull;
    }
    std::wstring strLong(32768, L'\0');
    dwLength = ::GetLongPathNameW(strPath.c_str(), strLong.data(), static_cast<DWORD>(strLong.size()));
    if (dwLength > 0 && dwLength < strLong.size()) {
        strLong.resize(dwLength);
        strPath = strLong;
    }
    // "C:\" keeps its separator: without it, it would name the drive's current directory.
    while (strPath.size() > 3 && (strPath.back() == L'\\' || strPath.back() == L'/'))
        strPath.pop_back();
    return strPath;
}

// Windows compares file names without regard to letter case.
bool IsSameFolder(const std::string& strA, const std::string& strB)
{
    if (strA.empty() || strB.empty())
        return false;
    const std::wstring strWideA = CanonicalFolder(strA);
    const std::wstring strWideB = CanonicalFolder(strB);
    return ::CompareStringOrdinal(strWideA.c_str(), static_cast<int>(strWideA.size()), strWideB.c_str(),
                                  static_cast<int>(strWideB.size()), TRUE) == CSTR_EQUAL;
}

// The value the installer wrote, or "" when there is none (a portable folder).
std::string ReadInstallDir()
{
    DWORD dwBytes = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, INSTALL_KEY, INSTALL_VALUE, RRF_RT_REG_SZ, nullptr, nullptr, &dwBytes) !=
            ERROR_SUCCESS ||
        dwBytes < sizeof(wchar_t) || dwBytes > 65536)
        return std::string();
    std::wstring strValue(dwBytes / sizeof(wchar_t), L'\0');
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, INSTALL_KEY, INSTALL_VALUE, RRF_RT_REG_SZ, nullptr, strValue.data(),
                       &dwBytes) != ERROR_SUCCESS)
        return std::string();
    strValue.resize(wcsnlen(strValue.c_str(), dwBytes / sizeof(wchar_t)));
    return WideToUtf8(strValue);
}

std::string WithoutClosingSeparator(std::wstring strPath)
{
    while (strPath.size() > 3 && strPath.back() == L'\\')
        strPath.pop_back();
    return WideToUtf8(strPath);
}

// Frees what the security functions hand back with LocalFree.
struct CLocalFree {
    void operator()(void* p) const { ::LocalFree(p); }
};

// The current user's identity, as a security identifier in text form; "" when it cannot be had.
std::wstring GetUserSidText()
{
    HANDLE hToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return std::wstring();
    std::vector<unsigned char> abUser(256);
    DWORD dwSize = 0;
    bool bOk = ::GetTokenInformation(hToken, TokenUser, abUser.data(), static_cast<DWORD>(abUser.size()), &dwSize);
    if (!bOk && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && dwSize <= 65536) {
        abUser.resize(dwSize);
        bOk = ::GetTokenInformation(hToken, TokenUser, abUser.data(), dwSize, &dwSize);
    }
    ::CloseHandle(hToken);
    wchar_t* pszSid = nullptr;
    if (!bOk || !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(abUser.data())->User.Sid, &pszSid))
        return std::wstring();
    std::unique_ptr<wchar_t, CLocalFree> owner(pszSid);
    return std::wstring(pszSid);
}

// Makes strDir (its parent must exist) open to the current user alone: full control for the
// user and nobody else, nothing inherited from the parent. An existing folder counts only when
// it is a real folder (not a link to somewhere else) that the user owns: the skin file in it is
// deleted by name at the end, and nobody else may choose what that name stands for.
bool MakePrivateFolder(const std::wstring& strDir)
{
    const std::wstring strSid = GetUserSidText();
    if (strSid.empty())
        return false;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    const std::wstring strRules = L"D:P(A;OICI;FA;;;" + strSid + L")";
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(strRules.c_str(), SDDL_REVISION_1, &pDescriptor,
                                                                nullptr))
        return false;
    std::unique_ptr<void, CLocalFree> descriptorOwner(pDescriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, pDescriptor, FALSE};
    if (::CreateDirectoryW(strDir.c_str(), &attributes))
        return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS)
        return false;

    const DWORD dwAttributes = ::GetFileAttributesW(strDir.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    PSID pOwner = nullptr;
    PSECURITY_DESCRIPTOR pFound = nullptr;
    if (::GetNamedSecurityInfoW(strDir.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr, nullptr,
                                nullptr, &pFound) != ERROR_SUCCESS)
        return false;
    std::unique_ptr<void, CLocalFree> foundOwner(pFound);
    wchar_t* pszOwner = nullptr;
    if (pOwner == nullptr || !::ConvertSidToStringSidW(pOwner, &pszOwner))
        return false;
    std::unique_ptr<wchar_t, CLocalFree> ownerText(pszOwner);
    return strSid == pszOwner;
}

// Makes strDir and any missing parents with the system's default rights (those of the folder
// it is made in). True when strDir is a folder afterwards.
bool MakeFolders(const std::wstring& strDir)
{
    const DWORD dwAttributes = ::GetFileAttributesW(strDir.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES)
        return (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const size_t nSlash = strDir.find_last_of(L"\\/");
    if (nSlash != std::wstring::npos && nSlash > 2 && !MakeFolders(strDir.substr(0, nSlash)))
        return false;
    return ::CreateDirectoryW(strDir.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

std::string ChooseSettingsDir(const CDataFolderEnv& env)
{
    if (env.m_strAppData.empty())
        return std::string();
    const std::wstring strDir = CanonicalFolder(env.m_strAppData) + L"\\" + PROGRAM_FOLDER_NAME;
    const std::string strUtf8 = WideToUtf8(strDir);
    if (!MakeFolders(strDir) || !CanCreateFilesIn(strUtf8))
        return std::string();
    return strUtf8;
}

std::string ChooseLogDir(const CDataFolderEnv& env)
{
    if (env.m_strLocalAppData.empty())
        return std::string();
    const std::wstring strDir = CanonicalFolder(env.m_strLocalAppData) + L"\\" + PROGRAM_FOLDER_NAME;
    const std::string strUtf8 = WideToUtf8(strDir);
    if (!MakeFolders(strDir) || !CanCreateFilesIn(strUtf8))
        return std::string();
    return strUtf8;
}

std::string ChooseSkinDir(const CDataFolderEnv& env)
{
    if (env.m_strTempDir.empty())
        return std::string();
    const std::wstring strDir = CanonicalFolder(env.m_strTempDir) + L"\\" + PROGRAM_FOLDER_NAME;
    const std::string strUtf8 = WideToUtf8(strDir);
    if (!MakePrivateFolder(strDir) || !CanCreateFilesIn(strUtf8))
        return std::string();
    return strUtf8;
}

} // namespace

CDataFolderEnv CDataFolderEnv::FromProcess()
{
    CDataFolderEnv env;
    wchar_t szPath[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, szPath)))
        env.m_strAppData = WideToUtf8(szPath);
    wchar_t szLocal[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                     szLocal)))
        env.m_strLocalAppData = WideToUtf8(szLocal);
    std::wstring strTemp(MAX_PATH + 1, L'\0');
    const DWORD dwLength = ::GetTempPathW(static_cast<DWORD>(strTemp.size()), strTemp.data());
    if (dwLength > 0 && dwLength < strTemp.size()) {
        strTemp.resize(dwLength);
        env.m_strTempDir = WithoutClosingSeparator(strTemp);
    }
    env.m_strInstallDir = ReadInstallDir();
    return env;
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

bool IsSystemInstall(const std::string& strProgramDirectory)
{
    return IsSameFolder(ReadInstallDir(), strProgramDirectory);
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
    // An installed program keeps out of its folder even where an administrator could write it:
    // the folder is every user's, and the installer owns what is in it.
    if (!IsSameFolder(env.m_strInstallDir, strProgramDirectory) && CanCreateFilesIn(strProgramDirectory))
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
