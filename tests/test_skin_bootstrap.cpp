#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "skin/skin_bootstrap.h"
#include "skin/zip_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/test_zip_builder.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t SKIN_TIME = 1704110400;   // 2024-01-01 12:00:00 UTC, the archive's fixed time

std::string EmbeddedArchive()
{
    const uint8_t* pData = nullptr;
    size_t nSize = 0;
    if (!FindProgramResource("ZIPDB", "IDR_SKIN", &pData, &nSize))
        return std::string();
    return std::string(reinterpret_cast<const char*>(pData), nSize);
}

// Each test runs in a directory of its own, made current, as start-up makes the program's.
class CSkinDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_dir.Path().empty());
        fs::current_path(m_dir.Path());
    }

    CTempDir m_dir{"skin-test"};
    CCurrentDirGuard m_cwd;
};
using SkinBootstrap = CSkinDirTest;

} // namespace

TEST(SkinArchive, HoldsSixtyNineDeflatedStyleSheets)
{
    const std::string strArchive = EmbeddedArchive();
    ASSERT_FALSE(strArchive.empty());
    std::unique_ptr<ZipArchive> pArchive = ZipOpenMemory(strArchive.data(), strArchive.size());
    ASSERT_NE(pArchive, nullptr);
    ZipEntryInfo info{};
    ASSERT_EQ(ZipGetEntry(pArchive.get(), -1, &info), ZIP_OK);
    EXPECT_EQ(info.m_nIndex, 69);
    std::vector<std::string> astrNames;
    for (int i = 0; i < 69; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(ZipGetEntry(pArchive.get(), i, &info), ZIP_OK);
        EXPECT_EQ(pArchive->m_header.m_nMethod, 8);
        EXPECT_EQ(pArchive->m_header.m_nExternalAttributes, 0x81800020u);
        EXPECT_EQ(info.m_nAttributes, ZIP_ATTR_NORMAL | ZIP_ATTR_ARCHIVE);
        // The "UT" block of each local header gives the modification and access times.
        EXPECT_EQ(info.m_nModifyTime, SKIN_TIME);
        EXPECT_EQ(info.m_nAccessTime, SKIN_TIME);
        EXPECT_LT(info.m_nCompressedSize, info.m_nUncompressedSize);
        astrNames.push_back(info.m_szName);
        std::vector<uint8_t> data;
        ASSERT_EQ(ZipReadEntryToMemory(pArchive.get(), i, &data, 1 << 20), ZIP_OK);
        const std::string strSheet(data.begin(), data.end());
        EXPECT_NE(strSheet.find("QPushButton {"), std::string::npos);
        EXPECT_NE(strSheet.find("QProgressBar::chunk"), std::string::npos);
        // Every placeholder of the template was filled in.
        EXPECT_EQ(strSheet.find('@'), std::string::npos);
    }
    std::sort(astrNames.begin(), astrNames.end());
    EXPECT_EQ(std::adjacent_find(astrNames.begin(), astrNames.end()), astrNames.end()) << "names repeat";
    ZipClose(pArchive);
}

// The build makes the archive from its sources; making it again must give the same bytes,
// so the archive in the program is exactly what the sources say.
TEST_F(SkinBootstrap, ArchiveIsRebuiltByteForByte)
{
    const std::string strTool = std::string(MATRIX_BIN_DIR) + "/../res/tools/mkskinzip";
    const std::string strSkins = std::string(MATRIX_SOURCE_DIR) + "/res/skins/";
    ASSERT_TRUE(fs::exists(strTool));
    const std::string strCommand =
        "'" + strTool + "' again.zip '" + strSkins + "palettes.txt' '" + strSkins + "skin.qss.in'";
    ASSERT_EQ(std::system(strCommand.c_str()), 0);
    EXPECT_EQ(ReadFileText("again.zip"), EmbeddedArchive());
}

TEST_F(SkinBootstrap, UnpacksEntryTwentySixIntoTheCurrentDirectory)
{
    const std::string strName = ExtractSkinFile(SKIN_ENTRY);
    ASSERT_EQ(strName, "matrix-calm.qss");
    EXPECT_EQ(m_dir.ListTree(), std::vector<std::string>{strName});
    struct stat st {};
    ASSERT_EQ(stat(strName.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);   // archive attribute only: not read-only
    EXPECT_EQ(st.st_mtime, SKIN_TIME);
    EXPECT_EQ(st.st_atime, SKIN_TIME);

    const std::string strArchive = EmbeddedArchive();
    std::unique_ptr<ZipArchive> pArchive = ZipOpenMemory(strArchive.data(), strArchive.size());
    ASSERT_NE(pArchive, nullptr);
    std::vector<uint8_t> data;
    ASSERT_EQ(ZipReadEntryToMemory(pArchive.get(), SKIN_ENTRY, &data, 1 << 20), ZIP_OK);
    EXPECT_EQ(ReadFileText(strName), std::string(data.begin(), data.end()));

    // A second start-up replaces the file left by the first.
    { std::ofstream(strName) << "stale"; }
    EXPECT_EQ(ExtractSkinFile(SKIN_ENTRY), strName);
    EXPECT_EQ(ReadFileText(strName), std::string(data.begin(), data.end()));
}

TEST_F(SkinBootstrap, NamesAndFailures)
{
    CTestZipEntry plain;
    plain.m_strName = "look.qss";
    plain.m_strData = "QWidget {}\n";
    CTestZipEntry nested = plain;
    nested.m_strName = "skins/a.skin";
    CTestZipEntry unsafe = plain;
    unsafe.m_strName = "../a.skin";
    const std::string strArchive = BuildTestZip({plain, nested, unsafe}, "", "stub");
    const struct {
        const char* pszCase;
        std::string strBlock;
        int nEntry;
        std::string strExpected;
        std::vector<std::string> astrFiles;
    } aCases[] = {
        {"plain name", strArchive, 0, "look.qss", {"look.qss"}},
        {"directory part made below the root", strArchive, 1, "skins/a.skin", {"skins", "skins/a.skin"}},
        // Start-up would build a path from this name and delete that file at the end.
        {"name leaving the directory", strArchive, 2, "", {}},
        {"entry number equal to the count", strArchive, 3, "", {}},
        {"negative entry number", strArchive, -1, "", {}},
        {"not an archive", std::string(100, 'x'), 0, "", {}},
        {"embedded archive, past its end", EmbeddedArchive(), 69, "", {}},
    };
    // The program's directory is a folder below the test's own, so that a name escaping it
    // lands where the test sees it (and removes it), never in the shared temporary folder.
    const fs::path root = m_dir.Path() / "root";
    ASSERT_TRUE(fs::create_directory(root));
    fs::current_path(root);
    auto below = [](std::vector<std::string> astrFiles) {
        for (std::string& str : astrFiles)
            str = "root/" + str;
        astrFiles.insert(astrFiles.begin(), "root");
        return astrFiles;
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszCase);
        EXPECT_EQ(ExtractSkinFileFromBlock(c.strBlock.data(), c.strBlock.size(), c.nEntry), c.strExpected);
        EXPECT_EQ(m_dir.ListTree(), below(c.astrFiles));
        for (const std::string& str : c.astrFiles)
            fs::remove_all(root / str);
    }
    EXPECT_FALSE(fs::exists(m_dir.Path() / "a.skin"));

    // A file that cannot be written still gives its name: start-up relies on that.
    fs::create_directory("look.qss");
    EXPECT_EQ(ExtractSkinFileFromBlock(strArchive.data(), strArchive.size(), 0), "look.qss");
    EXPECT_TRUE(fs::is_directory("look.qss"));
    EXPECT_EQ(m_dir.ListTree(), below({"look.qss"}));
}
