// What the file calls do that only Windows can show: temporary names of its own and a file held
// open without sharing.

#include <gtest/gtest.h>

#include <windows.h>
// The profile call of our own, not the system's of the same name.
#undef WritePrivateProfileString

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/profile.h"
#include "platform/file_util.h"
#include "tests/support/temp_dir.h"

namespace {

void WriteText(const std::string& strPath, const std::string& strText)
{
    std::ofstream(strPath, std::ios::binary) << strText;
}

// Saves killed half-way leave their temporary files behind; the next save of the same file
// removes them, and nothing else: not another file's, not one that is no temporary name, not
// one a save still under way has open, not a directory.
TEST(ProfileAtomicWrite, LeftoversOfKilledSavesAreRemovedByTheNextSave)
{
    CTempDir dir;
    const std::string strPath = dir.File("setting.ini");
    WriteText(strPath, "[Connection]\r\nComPort=5\r\n");
    for (const char* pszName : {"setting.ini.0123abcd.tmp", "SETTING.INI.DEADBEEF.TMP", "setting.ini.0123abcd.bak",
                                "setting.ini.0123abcg.tmp", "other.ini.0123abcd.tmp", "setting.ini.00000001.tmp"})
        WriteText(dir.File(pszName), "x");
    // A save under way keeps its file open without sharing.
    HANDLE hLive = ::CreateFileW(std::filesystem::path(dir.File("setting.ini.00000001.tmp")).wstring().c_str(),
                                 GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hLive, INVALID_HANDLE_VALUE);
    std::filesystem::create_directory(dir.File("setting.ini.00000002.tmp"));

    std::string strError;
    ASSERT_TRUE(WritePrivateProfileString("Connection", "ComPort", "6", strPath, &strError)) << strError;
    ::CloseHandle(hLive);
    EXPECT_EQ(ReadFileText(strPath), "[Connection]\r\nComPort=6\r\n");
    std::vector<std::string> astrLeft;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        astrLeft.push_back(entry.path().filename().string());
    std::sort(astrLeft.begin(), astrLeft.end());
    EXPECT_EQ(astrLeft, (std::vector<std::string>{"other.ini.0123abcd.tmp", "setting.ini", "setting.ini.00000001.tmp",
                                                  "setting.ini.00000002.tmp", "setting.ini.0123abcd.bak",
                                                  "setting.ini.0123abcg.tmp"}));
}

} // namespace
