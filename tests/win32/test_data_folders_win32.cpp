#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/data_folders.h"
#include "platform/win32/wide_string.h"
#include "tests/support/temp_dir.h"

#include <aclapi.h>
#include <sddl.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* LOCAL_SYSTEM_SID = "S-1-5-18";

// The security identifier of whoever a folder's rules give access to, one entry each.
std::vector<std::string> AccessHolders(const std::string& strDir)
{
    PACL pDacl = nullptr;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    std::vector<std::string> astr;
    if (::GetNamedSecurityInfoW(Utf8ToWide(strDir).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &pDacl, nullptr, &pDescriptor) != ERROR_SUCCESS)
        return astr;
    for (DWORD i = 0; pDacl != nullptr && i < pDacl->AceCount; ++i) {
        void* pAce = nullptr;
        wchar_t* pszSid = nullptr;
        if (::GetAce(pDacl, i, &pAce) && static_cast<ACE_HEADER*>(pAce)->AceType == ACCESS_ALLOWED_ACE_TYPE &&
            ::ConvertSidToStringSidW(&static_cast<ACCESS_ALLOWED_ACE*>(pAce)->SidStart, &pszSid)) {
            astr.push_back(WideToUtf8(pszSid));
            ::LocalFree(pszSid);
        }
    }
    ::LocalFree(pDescriptor);
    return astr;
}

std::string CurrentUserSid()
{
    HANDLE hToken = nullptr;
    unsigned char abUser[256];
    DWORD dwSize = 0;
    wchar_t* pszSid = nullptr;
    std::string strSid;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken) &&
        ::GetTokenInformation(hToken, TokenUser, abUser, sizeof abUser, &dwSize) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(abUser)->User.Sid, &pszSid)) {
        strSid = WideToUtf8(pszSid);
        ::LocalFree(pszSid);
    }
    if (hToken != nullptr)
        ::CloseHandle(hToken);
    return strSid;
}

// Each row is one way the program can be installed and one environment; "T" in a path stands
// for the test's scratch folder. Z:\proc is Linux's /proc under Wine, where nobody, not even
// root, can make a file: the stand-in for Program Files.
TEST(DataFoldersWindows, PortableFolderElseAppDataAndAPrivateTemporaryFolder)
{
    CTempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string strT = dir.Path().string();
    struct {
        const char* pszName;
        std::string strProgramDir, strInstallDir, strAppData, strTempDir;
        std::string strSettingsDir, strSkinDir;
        bool bBeside;
    } const aCases[] = {
        {"writable folder: portable", "T\\portable", "", "T\\appdata", "T\\tmp", "T\\portable", "T\\portable", true},
        {"no program directory: the current directory", "", "", "T\\appdata", "T\\tmp", "", "", true},
        {"installed: the user's folders even where writable, whatever the spelling of the folder",
         "T\\portable", "T\\PORTABLE\\", "T\\appdata", "T\\tmp", "T\\appdata\\matrix-update",
         "T\\tmp\\matrix-update", false},
        {"another folder installed: this one is still portable", "T\\portable", "T\\installed", "T\\appdata",
         "T\\tmp", "T\\portable", "T\\portable", true},
        {"a folder that cannot be written", "Z:\\proc", "", "T\\appdata", "T\\tmp", "T\\appdata\\matrix-update",
         "T\\tmp\\matrix-update", false},
        {"nothing writable: the program's folder, which gives the notice", "Z:\\proc", "", "T\\file", "T\\file",
         "Z:\\proc", "Z:\\proc", false},
        {"a file in the way in the temporary folder is not taken for the folder", "T\\portable", "T\\portable",
         "T\\appdata", "T\\blocked", "T\\appdata\\matrix-update", "T\\portable", false},
    };
    auto Expand = [&](const std::string& str) { return str.rfind("T\\", 0) == 0 ? strT + str.substr(1) : str; };
    for (const auto& c : aCases) {
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            fs::remove_all(entry.path());
        fs::create_directories(dir.File("portable"));
        fs::create_directories(dir.File("appdata"));
        fs::create_directories(dir.File("tmp"));
        fs::create_directories(dir.File("blocked"));
        std::ofstream(dir.File("blocked\\matrix-update")) << "x";
        std::ofstream(dir.File("file")) << "x";

        CDataFolderEnv env;
        env.m_strInstallDir = Expand(c.strInstallDir);
        env.m_strAppData = Expand(c.strAppData);
        env.m_strTempDir = Expand(c.strTempDir);
        const CDataFolders folders = ChooseDataFolders(Expand(c.strProgramDir), env);
        EXPECT_EQ(folders.m_strSettingsDir, Expand(c.strSettingsDir)) << c.pszName;
        EXPECT_EQ(folders.m_strSkinDir, Expand(c.strSkinDir)) << c.pszName;
        EXPECT_EQ(folders.m_bBesideProgram, c.bBeside) << c.pszName;
        // The skin file's folder is made for the user alone (Wine keeps no access rules of its
        // own: it turns them into the Unix mode and shows the system beside the user); a
        // second start takes it again.
        if (folders.m_strSkinDir == Expand("T\\tmp\\matrix-update")) {
            std::vector<std::string> astrHolders = AccessHolders(folders.m_strSkinDir);
            std::erase(astrHolders, std::string(LOCAL_SYSTEM_SID));
            EXPECT_EQ(astrHolders, std::vector<std::string>{CurrentUserSid()}) << c.pszName;
            EXPECT_EQ(ChooseDataFolders(Expand(c.strProgramDir), env).m_strSkinDir, folders.m_strSkinDir) << c.pszName;
        }
    }
}

} // namespace
