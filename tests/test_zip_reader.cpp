#include <gtest/gtest.h>

#include <cstdio>


#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "skin/zip_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_system.h"
#include "tests/test_zip_builder.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t FIXTURE_TIME = 1686817800;   // 2023-06-15 08:30:00 UTC, the fixtures' "UT" time

std::string ReadFixture(const char* pszName)
{
    std::ifstream in(std::string(MATRIX_SOURCE_DIR) + "/tests/data/zip/" + pszName, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::unique_ptr<ZipArchive> Open(const std::string& str)
{
    return ZipOpenMemory(str.data(), str.size());
}
// The archive reads the block in place: a temporary would be gone before the first read.
std::unique_ptr<ZipArchive> Open(std::string&&) = delete;

int CountEntries(ZipArchive* pArchive)
{
    ZipEntryInfo info{};
    EXPECT_EQ(ZipGetEntry(pArchive, -1, &info), ZIP_OK);
    return info.m_nIndex;
}

// Each test unpacks into a fresh directory of its own, made the current one (the reader
// takes its root directory from there when an archive is opened).
class CZipDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_dir.Path().empty());
        fs::create_directory(m_dir.Path() / "work");
        fs::current_path(m_dir.Path() / "work");
    }

    CTempDir m_dir{"zip-test"};
    CCurrentDirGuard m_cwd;
};
using ZipFiles = CZipDirTest;

std::string TextOf(size_t nSize)
{
    std::string str;
    for (size_t i = 0; str.size() < nSize; ++i)
        str += "row " + std::to_string(i) + " of the test text\n";
    str.resize(nSize);
    return str;
}

std::vector<CTestZipEntry> TwoEntries()
{
    CTestZipEntry a;
    a.m_strName = "a.qss";
    a.m_strData = TextOf(5000);
    a.m_strLocalExtra = MakeUtBlock(0x03, {FIXTURE_TIME, FIXTURE_TIME + 60});
    CTestZipEntry b;
    b.m_strName = "b.txt";
    b.m_strData = "second\n";
    b.m_nMethod = 0;
    return {a, b};
}

} // namespace

// The end record is searched backwards in overlapping windows, no farther than 65,535 bytes:
// the comment length decides where it lies, including across a window border.
TEST(ZipEndRecord, FoundWithinReachOnly)
{
    const struct {
        size_t nComment;
        bool bFound;
    } aCases[] = {
        {0, true}, {1, true}, {1000, true}, {1005, true}, {1006, true}, {1007, true}, {1008, true},
        {1009, true}, {2030, true}, {2031, true}, {30000, true}, {65513, true}, {65514, false}, {65535, false},
    };
    for (const auto& c : aCases) {
        CTestZipLayout layout;
        // Data in front keeps the windows near the end full-sized, as in a real program file.
        const std::string str = BuildTestZip(TwoEntries(), std::string(c.nComment, 'c'), std::string(5000, 'p'), &layout);
        const uint64_t nPos = FindEndRecord(reinterpret_cast<const uint8_t*>(str.data()), str.size());
        EXPECT_EQ(nPos, c.bFound ? layout.m_nEndRecord : 0u) << "comment " << c.nComment;
        EXPECT_EQ(Open(str) != nullptr, c.bFound) << "comment " << c.nComment;
    }
}

TEST(ZipEndRecord, RecordAtTheVeryStartIsNotAccepted)
{
    // An archive without entries is its end record alone, at position 0.
    const std::string str = BuildTestZip({});
    EXPECT_EQ(str.size(), 22u);
    EXPECT_EQ(Open(str), nullptr);
    // With one byte in front it is found and opens with no entries.
    const std::string strPrefixed = BuildTestZip({}, "", "x");
    std::unique_ptr<ZipArchive> pArchive = Open(strPrefixed);
    ASSERT_NE(pArchive, nullptr);
    EXPECT_EQ(CountEntries(pArchive.get()), 0);
}

TEST(ZipAttributes, MappedFromTheExternalWord)
{
    const struct {
        uint32_t nExternal;
        uint32_t nExpected;
    } aCases[] = {
        {0x81800020, ZIP_ATTR_NORMAL | ZIP_ATTR_ARCHIVE},
        {0x81A40000, ZIP_ATTR_NORMAL},
        {0x81240000, ZIP_ATTR_NORMAL | ZIP_ATTR_READONLY},          // no owner write bit
        {0x00000020, ZIP_ATTR_NORMAL | ZIP_ATTR_ARCHIVE | ZIP_ATTR_READONLY},
        {0x41ED0010, ZIP_ATTR_NORMAL | ZIP_ATTR_DIRECTORY},
        {0x40000000, ZIP_ATTR_NORMAL | ZIP_ATTR_DIRECTORY | ZIP_ATTR_READONLY},
        {0x00800007, ZIP_ATTR_NORMAL | ZIP_ATTR_READONLY | ZIP_ATTR_HIDDEN | ZIP_ATTR_SYSTEM},
    };
    for (const auto& c : aCases) {
        std::vector<CTestZipEntry> entries = TwoEntries();
        entries[0].m_nExternalAttributes = c.nExternal;
        const std::string str = BuildTestZip(entries, "", "p");
        std::unique_ptr<ZipArchive> pArchive = Open(str);
        ASSERT_NE(pArchive, nullptr);
        ZipEntryInfo info{};
        ASSERT_EQ(ZipGetEntry(pArchive.get(), 0, &info), ZIP_OK);
        EXPECT_EQ(info.m_nAttributes, c.nExpected) << std::hex << c.nExternal;
    }
}

TEST(ZipEntryTimes, DosTimeIsLocalAndUtTimesAreUtc)
{
    const char* pszOldTz = std::getenv("TZ");
    const std::string strOldTz = pszOldTz != nullptr ? pszOldTz : "";
    SetTestEnvironment("TZ", "CST-8");   // eight hours east of UTC, no summer time
    const struct {
        std::string strExtra;
        int64_t nModify, nAccess, nCreation;
    } aCases[] = {
        // No extra block: all three from the DOS time 2024-01-01 12:00 local = 04:00 UTC.
        {"", 1704081600, 1704081600, 1704081600},
        {MakeUtBlock(0x01, {FIXTURE_TIME}), FIXTURE_TIME, 1704081600, 1704081600},
        {MakeUtBlock(0x07, {100, 200, 300}), 100, 200, 300},
        {MakeUtBlock(0x06, {200, 300}), 1704081600, 200, 300},
        // Shorter than its flags announce: the times there are taken, the missing one stays.
        {MakeUtBlock(0x07, {100, 200}), 100, 200, 1704081600},
        // Times are unsigned: past 2038.
        {MakeUtBlock(0x01, {0xF0000000u}), 0xF0000000ll, 1704081600, 1704081600},
        // Other blocks first, including an empty one, then "UT"; only the first "UT" counts.
        {std::string("\x01\x00\x00\x00", 4) + std::string("ux\x03\x00" "abc", 7) + MakeUtBlock(0x01, {500}) +
             MakeUtBlock(0x01, {600}),
         500, 1704081600, 1704081600},
        // Three bytes left over after the blocks are too few for a block header: ignored.
        {MakeUtBlock(0x01, {700}) + "zzz", 700, 1704081600, 1704081600},
        // So is a lone block header at the very end, with nothing after it.
        {std::string("ux\x01\x00" "a", 5) + std::string("UT\x05\x00", 4), 1704081600, 1704081600, 1704081600},
    };
    for (size_t i = 0; i < std::size(aCases); ++i) {
        std::vector<CTestZipEntry> entries = TwoEntries();
        entries[0].m_strLocalExtra = aCases[i].strExtra;
        const std::string str = BuildTestZip(entries);
        std::unique_ptr<ZipArchive> pArchive = Open(str);
        ASSERT_NE(pArchive, nullptr);
        ZipEntryInfo info{};
        ASSERT_EQ(ZipGetEntry(pArchive.get(), 0, &info), ZIP_OK) << "case " << i;
        EXPECT_EQ(info.m_nModifyTime, aCases[i].nModify) << "case " << i;
        EXPECT_EQ(info.m_nAccessTime, aCases[i].nAccess) << "case " << i;
        EXPECT_EQ(info.m_nCreationTime, aCases[i].nCreation) << "case " << i;
    }
    SetTestEnvironment("TZ", pszOldTz != nullptr ? strOldTz.c_str() : nullptr);
}

TEST(ZipGetEntry, CountAnswerRangeAndCache)
{
    CTestZipLayout lay;
    std::string str = BuildTestZip(TwoEntries(), "", "", &lay);
    std::unique_ptr<ZipArchive> pArchive = Open(str);
    ASSERT_NE(pArchive, nullptr);
    ZipEntryInfo info{};
    info.m_nAttributes = 123;
    ASSERT_EQ(ZipGetEntry(pArchive.get(), -1, &info), ZIP_OK);
    EXPECT_EQ(info.m_nIndex, 2);
    EXPECT_EQ(info.m_szName[0], '\0');
    EXPECT_EQ(info.m_nAttributes, 0u);
    EXPECT_EQ(info.m_nModifyTime, 0);
    for (int n : {-2, 2, 1000})
        EXPECT_EQ(ZipGetEntry(pArchive.get(), n, &info), ZIP_ERR_ARGS) << n;
    EXPECT_EQ(ZipGetEntry(nullptr, 0, &info), ZIP_ERR_ARGS);

    ASSERT_EQ(ZipGetEntry(pArchive.get(), 1, &info), ZIP_OK);
    EXPECT_STREQ(info.m_szName, "b.txt");
    // Wreck entry 1's central header: the same question is still answered from the copy...
    str[lay.m_anCentralOffset[1]] = 'X';
    ZipEntryInfo again{};
    ASSERT_EQ(ZipGetEntry(pArchive.get(), 1, &again), ZIP_OK);
    EXPECT_STREQ(again.m_szName, "b.txt");
    // ...but once another entry was asked for, entry 1 is read again and found damaged.
    ASSERT_EQ(ZipGetEntry(pArchive.get(), 0, &info), ZIP_OK);
    EXPECT_EQ(ZipGetEntry(pArchive.get(), 1, &info), ZIP_ERR_HEADER);
    // Going back to entry 0 after the failure works.
    ASSERT_EQ(ZipGetEntry(pArchive.get(), 0, &info), ZIP_OK);
    EXPECT_STREQ(info.m_szName, "a.qss");
}

TEST(ZipGetEntry, FailedQuestionDoesNotMixUpEntries)
{
    // Entry 1 has a damaged extra field: describing it fails after the reader moved onto it.
    // The cached answer for entry 0 must then not be paired with entry 1's data.
    CTestZipEntry first;
    first.m_strName = "first.txt";
    first.m_strData = "AAAAAAAAAA";
    CTestZipEntry second = first;
    second.m_strName = "second.txt";
    second.m_strData = "BBBBBBBBBB";
    second.m_strLocalExtra = std::string("ab\x10\x00xyz", 7);   // a block longer than what remains
    const std::string str = BuildTestZip({first, second});
    std::unique_ptr<ZipArchive> pArchive = Open(str);
    ASSERT_NE(pArchive, nullptr);
    ZipEntryInfo info{};
    ASSERT_EQ(ZipGetEntry(pArchive.get(), 0, &info), ZIP_OK);
    EXPECT_EQ(ZipGetEntry(pArchive.get(), 1, &info), ZIP_ERR_EXTRA);
    std::vector<uint8_t> data;
    ASSERT_EQ(ZipReadEntryToMemory(pArchive.get(), 0, &data, 100), ZIP_OK);
    EXPECT_EQ(std::string(data.begin(), data.end()), "AAAAAAAAAA");
}

TEST(ZipGetEntry, NamesThatDoNotFitAreRefused)
{
    const struct {
        std::string strName;
        uint32_t nExpected;
    } aCases[] = {
        {std::string(259, 'n'), ZIP_OK},
        {std::string(260, 'n'), ZIP_ERR_HEADER},
        {std::string(1000, 'n'), ZIP_ERR_HEADER},
        {std::string("a\0b.txt", 7), ZIP_ERR_HEADER},   // a zero byte would cut it into "a"
        {"", ZIP_OK},
    };
    for (const auto& c : aCases) {
        std::vector<CTestZipEntry> entries = TwoEntries();
        entries[0].m_strName = c.strName;
        const std::string str = BuildTestZip(entries);
        std::unique_ptr<ZipArchive> pArchive = Open(str);
        ASSERT_NE(pArchive, nullptr);
        ZipEntryInfo info{};
        EXPECT_EQ(ZipGetEntry(pArchive.get(), 0, &info), c.nExpected) << c.strName.size();
        if (c.nExpected == ZIP_OK) {
            EXPECT_EQ(std::string(info.m_szName), c.strName);
        }
        // The entry after it is still reachable: stepping needs only the lengths.
        EXPECT_EQ(ZipGetEntry(pArchive.get(), 1, &info), ZIP_OK);
    }
}

// Archives that lie about themselves, each with the result it must give. None may be read
// out of bounds (the sanitizer builds check that), and none may leave a file behind, nor the
// directories made for the entry.
TEST_F(ZipFiles, MalformedArchivesAreRefused)
{
    enum EOpen { OPEN_FAILS, OPENS };
    CTestZipLayout lay;
    const std::string strGood = BuildTestZip(TwoEntries(), "", "", &lay);
    const size_t nEnd = lay.m_nEndRecord;
    const size_t nCentral0 = lay.m_anCentralOffset[0];
    const size_t nLocal0 = lay.m_anLocalOffset[0];
    auto withEntry0 = [](const std::function<void(CTestZipEntry&)>& fn) {
        std::vector<CTestZipEntry> entries = TwoEntries();
        fn(entries[0]);
        return BuildTestZip(entries);
    };
    const struct {
        const char* pszName;
        std::string strArchive;
        EOpen eOpen;
        uint32_t nDescribe;   // ZipGetEntry(0)
        uint32_t nExtract;    // ZipExtractEntryToFile(0) and ZipReadEntryToMemory(0)
        bool bNextReads = true;   // entry 1 is reachable past entry 0's central header
        uint32_t nOpen = ZIP_ERR_HEADER;   // why the open failed
    } aCases[] = {
        {"empty block", "", OPEN_FAILS, 0, 0},
        {"PK alone", "PK", OPEN_FAILS, 0, 0},
        {"70 KB of zeros", std::string(70000, '\0'), OPEN_FAILS, 0, 0},
        {"70 KB of end-record signatures", [] {
             std::string s;
             while (s.size() < 70000)
                 s += "PK\x05\x06";
             return s;
         }(), OPEN_FAILS, 0, 0},
        {"end record cut short", strGood.substr(0, strGood.size() - 3), OPEN_FAILS, 0, 0},
        {"directory offset out of range", [&] { std::string s = strGood; SetTestLe32(s, nEnd + 16, 0xFFFFFF00); return s; }(), OPEN_FAILS, 0, 0},
        {"directory size out of range", [&] { std::string s = strGood; SetTestLe32(s, nEnd + 12, 0x7FFFFFFF); return s; }(), OPEN_FAILS, 0, 0},
        {"huge entry count", [&] { std::string s = strGood; SetTestLe16(s, nEnd + 8, 0xFFFF); SetTestLe16(s, nEnd + 10, 0xFFFF); return s; }(), OPEN_FAILS, 0, 0},
        {"entry counts differ", [&] { std::string s = strGood; SetTestLe16(s, nEnd + 8, 1); return s; }(), OPEN_FAILS, 0, 0},
        {"second disk", [&] { std::string s = strGood; SetTestLe16(s, nEnd + 4, 1); return s; }(), OPEN_FAILS, 0, 0},
        // ZIP64 is not read, and said so rather than called damage.
        {"ZIP64 archive (zip -fz)", ReadFixture("infozip_zip64.zip"), OPEN_FAILS, 0, 0, true, ZIP_ERR_ZIP64},
        {"ZIP64 entry: its sizes in the extra field", withEntry0([](CTestZipEntry& e) { e.m_bZip64 = true; }), OPENS,
         ZIP_ERR_ZIP64, ZIP_ERR_ZIP64},
        // The comment is never read, so a length past the end does no harm.
        {"comment length past the end", [&] { std::string s = strGood; SetTestLe16(s, nEnd + 20, 0xFFFF); return s; }(), OPENS, ZIP_OK, ZIP_OK},
        {"central signature wrong", [&] { std::string s = strGood; s[nCentral0] = 'X'; return s; }(), OPENS, ZIP_ERR_HEADER, ZIP_ERR_HEADER, false},
        {"name length past the directory", [&] { std::string s = strGood; SetTestLe16(s, nCentral0 + 28, 0xFFFF); return s; }(), OPENS, ZIP_ERR_HEADER, ZIP_ERR_HEADER, false},
        {"comment length past the directory", [&] { std::string s = strGood; SetTestLe16(s, nCentral0 + 32, 900); return s; }(), OPENS, ZIP_ERR_HEADER, ZIP_ERR_HEADER, false},
        {"local header offset out of range", [&] { std::string s = strGood; SetTestLe32(s, nCentral0 + 42, 0xFFFFFFF0); return s; }(), OPENS, ZIP_ERR_HEADER, ZIP_ERR_HEADER},
        {"local signature wrong", [&] { std::string s = strGood; s[nLocal0 + 3] = 9; return s; }(), OPENS, ZIP_ERR_HEADER, ZIP_ERR_HEADER},
        {"local name length differs", [&] { std::string s = strGood; SetTestLe16(s, nLocal0 + 26, 4); return s; }(), OPENS, ZIP_ERR_HEADER, ZIP_ERR_HEADER},
        {"local size differs", [&] { std::string s = strGood; SetTestLe32(s, nLocal0 + 22, 1); return s; }(), OPENS, ZIP_ERR_HEADER, ZIP_ERR_HEADER},
        {"local method differs", [&] { std::string s = strGood; SetTestLe16(s, nLocal0 + 8, 0); return s; }(), OPENS, ZIP_ERR_HEADER, ZIP_ERR_HEADER},
        {"unknown method", withEntry0([](CTestZipEntry& e) { e.m_nMethod = 14; }), OPENS, ZIP_ERR_HEADER, ZIP_ERR_HEADER},
        {"local extra field past the block", [&] { std::string s = strGood; SetTestLe16(s, nLocal0 + 28, 0xFFFF); return s; }(), OPENS, ZIP_ERR_EXTRA, ZIP_ERR_EXTRA},
        {"extra block longer than what remains", withEntry0([](CTestZipEntry& e) { e.m_strLocalExtra = std::string("ab\x10\x00xyz", 7); }), OPENS, ZIP_ERR_EXTRA, ZIP_ERR_EXTRA},
        // A short "UT" block only loses its missing times: the data are fine.
        {"UT block shorter than its flags say", withEntry0([](CTestZipEntry& e) {
             e.m_strLocalExtra = MakeUtBlock(0x07, {1, 2});
             e.m_strLocalExtra[0] = 'U';   // keep the tag, flags announce three times, two present
         }), OPENS, ZIP_OK, ZIP_OK},
        {"UT block without flags", withEntry0([](CTestZipEntry& e) { e.m_strLocalExtra = std::string("UT\x00\x00\x00", 5); }), OPENS, ZIP_OK, ZIP_OK},
        {"encrypted entry", withEntry0([](CTestZipEntry& e) { e.m_nFlags = 1; }), OPENS, ZIP_OK, ZIP_ERR_DATA},
        {"bad CRC", [&] {
             std::string s = strGood;
             SetTestLe32(s, nLocal0 + 14, 0x12345678);
             SetTestLe32(s, nCentral0 + 16, 0x12345678);
             return s;
         }(), OPENS, ZIP_OK, ZIP_ERR_DATA},
        {"deflate stream damaged", [&] { std::string s = strGood; s.replace(lay.m_anDataOffset[0], 8, "\xff\xff\xff\xff\xff\xff\xff\xff"); return s; }(), OPENS, ZIP_OK, ZIP_ERR_DATA},
        {"short data: compressed size cut", [&] {
             std::string s = strGood;
             const uint32_t nShort = static_cast<uint32_t>(lay.m_anDataSize[0] / 2);
             SetTestLe32(s, nLocal0 + 18, nShort);
             SetTestLe32(s, nCentral0 + 20, nShort);
             return s;
         }(), OPENS, ZIP_OK, ZIP_ERR_DATA},
        {"short data: past the end of the block", [&] {
             std::string s = strGood;
             SetTestLe32(s, nLocal0 + 18, 0x00FFFFFF);
             SetTestLe32(s, nCentral0 + 20, 0x00FFFFFF);
             return s;
         }(), OPENS, ZIP_OK, ZIP_ERR_DATA},
        {"declared size larger than the data", [&] {
             std::string s = strGood;
             SetTestLe32(s, nLocal0 + 22, 5001);
             SetTestLe32(s, nCentral0 + 24, 5001);
             return s;
         }(), OPENS, ZIP_OK, ZIP_ERR_DATA},
        {"declared size smaller than the data", [&] {
             std::string s = strGood;
             SetTestLe32(s, nLocal0 + 22, 4999);
             SetTestLe32(s, nCentral0 + 24, 4999);
             return s;
         }(), OPENS, ZIP_OK, ZIP_ERR_DATA},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        uint32_t nOpen = ZIP_OK;
        std::unique_ptr<ZipArchive> pArchive = ZipOpenMemory(c.strArchive.data(), c.strArchive.size(), &nOpen);
        if (c.eOpen == OPEN_FAILS) {
            EXPECT_EQ(pArchive, nullptr);
            EXPECT_EQ(nOpen, c.nOpen);
            continue;
        }
        EXPECT_EQ(nOpen, ZIP_OK);
        ASSERT_NE(pArchive, nullptr);
        EXPECT_EQ(CountEntries(pArchive.get()), 2);
        ZipEntryInfo info{};
        EXPECT_EQ(ZipGetEntry(pArchive.get(), 0, &info), c.nDescribe);
        fs::create_directory("kept");
        EXPECT_EQ(ZipExtractEntryToFile(pArchive.get(), 0, "kept/made/for/it/out.qss"), c.nExtract);
        std::vector<uint8_t> data;
        EXPECT_EQ(ZipReadEntryToMemory(pArchive.get(), 0, &data, 1 << 20), c.nExtract);
        if (c.nExtract != ZIP_OK) {
            EXPECT_TRUE(data.empty());
            EXPECT_EQ(m_dir.ListTree(), (std::vector<std::string>{"work", "work/kept"}));
        } else {
            EXPECT_EQ(std::string(data.begin(), data.end()), TwoEntries()[0].m_strData);
            EXPECT_EQ(ReadFileText("kept/made/for/it/out.qss"), TwoEntries()[0].m_strData);
        }
        fs::remove_all("kept");
        // Entry 1 is sound in every one of these archives; it reads unless there is no
        // telling where its header starts.
        EXPECT_EQ(ZipReadEntryToMemory(pArchive.get(), 1, &data, 1 << 20), c.bNextReads ? ZIP_OK : ZIP_ERR_HEADER);
        ZipClose(pArchive);
        EXPECT_EQ(pArchive, nullptr);
    }
}

TEST_F(ZipFiles, StoredEntryWithUnequalSizesIsRefused)
{
    CTestZipLayout lay;
    std::vector<CTestZipEntry> entries = TwoEntries();
    std::string str = BuildTestZip(entries, "", "", &lay);
    // Entry 1 is stored: claim more uncompressed bytes than are stored, in both headers.
    SetTestLe32(str, lay.m_anLocalOffset[1] + 22, 100);
    SetTestLe32(str, lay.m_anCentralOffset[1] + 24, 100);
    std::unique_ptr<ZipArchive> pArchive = Open(str);
    ASSERT_NE(pArchive, nullptr);
    EXPECT_EQ(ZipExtractEntryToFile(pArchive.get(), 1, "b.txt"), ZIP_ERR_DATA);
    EXPECT_FALSE(fs::exists("b.txt"));
}

// Odd archives made by real tools and by hand that must still read whole.
TEST_F(ZipFiles, OddButValidArchivesRead)
{
    std::string strBigText;
    for (int i = 0; i < 2000; ++i) {
        char sz[64];
        std::snprintf(sz, sizeof sz, "line %05d of a text that deflates well\n", i);
        strBigText += sz;
    }
    const std::string strPlain = "QWidget { color: #222; }\n";
    const std::string strNight = "QWidget { background: #111; color: #eee; }\n";
    std::vector<CTestZipEntry> handEntries = TwoEntries();
    handEntries[0].m_nFlags = 8;                         // data descriptor
    handEntries[1].m_strLocalExtra = std::string("\x99\x99\x00\x00", 4);   // zero-length block
    const std::string strHand = BuildTestZip(handEntries, std::string(40000, '#'), std::string(5000, 'S'));

    const struct {
        const char* pszName;
        std::string strArchive;
        int nCount;
        int nEntry;
        std::string strEntryName;
        std::string strData;
        int64_t nModify;   // -1: not checked
    } aCases[] = {
        {"python stored", ReadFixture("py_mixed.zip"), 4, 0, "stored.txt", "stored bytes\n", -1},
        {"python deflated", ReadFixture("py_mixed.zip"), 4, 1, "deflated.txt", strBigText, -1},
        {"python under a directory", ReadFixture("py_mixed.zip"), 4, 3, "skins/a.skin", "QWidget {}\n", -1},
        {"python long comment", ReadFixture("py_comment.zip"), 1, 0, "a.txt", "comment test\n", -1},
        {"python data descriptor", ReadFixture("py_descriptor.zip"), 2, 0, "described.txt", strBigText, -1},
        {"python streamed", ReadFixture("py_descriptor.zip"), 2, 1, "streamed.txt", "streamed with a data descriptor\n", -1},
        {"data in front", ReadFixture("prefixed.zip"), 4, 1, "deflated.txt", strBigText, -1},
        {"zip tree", ReadFixture("infozip_tree.zip"), 5, 3, "skins/dark/night.qss", strNight, FIXTURE_TIME},
        {"zip deflated", ReadFixture("infozip_tree.zip"), 5, 4, "big.txt", strBigText, FIXTURE_TIME},
        {"zip from a pipe", ReadFixture("infozip_stdin.zip"), 1, 0, "-", strPlain, -1},
        {"bsdtar tree", ReadFixture("bsdtar_tree.zip"), 5, 3, "skins/dark/night.qss", strNight, FIXTURE_TIME},
        {"bsdtar deflated", ReadFixture("bsdtar_tree.zip"), 5, 4, "big.txt", strBigText, FIXTURE_TIME},
        {"hand data descriptor, prefix, comment", strHand, 2, 0, "a.qss", TwoEntries()[0].m_strData, FIXTURE_TIME},
        {"hand zero-length extra block", strHand, 2, 1, "b.txt", "second\n", -1},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        ASSERT_FALSE(c.strArchive.empty());
        std::unique_ptr<ZipArchive> pArchive = Open(c.strArchive);
        ASSERT_NE(pArchive, nullptr);
        EXPECT_EQ(CountEntries(pArchive.get()), c.nCount);
        ZipEntryInfo info{};
        ASSERT_EQ(ZipGetEntry(pArchive.get(), c.nEntry, &info), ZIP_OK);
        EXPECT_EQ(std::string(info.m_szName), c.strEntryName);
        EXPECT_EQ(info.m_nUncompressedSize, c.strData.size());
        if (c.nModify >= 0) {
            EXPECT_EQ(info.m_nModifyTime, c.nModify);
        }
        std::vector<uint8_t> data;
        ASSERT_EQ(ZipReadEntryToMemory(pArchive.get(), c.nEntry, &data, 1 << 20), ZIP_OK);
        EXPECT_EQ(std::string(data.begin(), data.end()), c.strData);
        ASSERT_EQ(ZipExtractEntryToFile(pArchive.get(), c.nEntry, info.m_szName), ZIP_OK);
        EXPECT_EQ(ReadFileText(info.m_szName), c.strData);
        if (c.nModify >= 0) {
            struct stat st {};
            ASSERT_EQ(stat(info.m_szName, &st), 0);
            EXPECT_EQ(st.st_mtime, c.nModify);
        }
    }
}

TEST_F(ZipFiles, DirectoriesAndFilesBelowThem)
{
    const std::string strArchive = ReadFixture("bsdtar_tree.zip");
    std::unique_ptr<ZipArchive> pArchive = Open(strArchive);
    ASSERT_NE(pArchive, nullptr);
    ZipEntryInfo info{};
    for (int i = 0; i < CountEntries(pArchive.get()); ++i) {
        ASSERT_EQ(ZipGetEntry(pArchive.get(), i, &info), ZIP_OK);
        EXPECT_EQ(ZipExtractEntryToFile(pArchive.get(), i, info.m_szName), ZIP_OK) << info.m_szName;
    }
    EXPECT_TRUE(fs::is_directory("skins/dark"));
    EXPECT_EQ(ReadFileText("skins/plain.qss"), "QWidget { color: #222; }\n");
    EXPECT_EQ(m_dir.ListTree(), (std::vector<std::string>{"work", "work/big.txt", "work/skins", "work/skins/dark",
                                                    "work/skins/dark/night.qss", "work/skins/plain.qss"}));

    // A file entry whose directory has no entry of its own gets it made first.
    const std::string strPython = ReadFixture("py_mixed.zip");
    std::unique_ptr<ZipArchive> pPython = Open(strPython);
    ASSERT_NE(pPython, nullptr);
    ASSERT_EQ(ZipExtractEntryToFile(pPython.get(), 3, "deep/er/a.skin"), ZIP_OK);
    EXPECT_EQ(ReadFileText("deep/er/a.skin"), "QWidget {}\n");
    // A backslash counts as a separator, as in the names some archivers write.
    ASSERT_EQ(ZipExtractEntryToFile(pPython.get(), 3, "win\\a.skin"), ZIP_OK);
    EXPECT_EQ(ReadFileText("win/a.skin"), "QWidget {}\n");
}

TEST_F(ZipFiles, ExtractionStaysInsideTheTarget)
{
    const struct {
        const char* pszName;
        bool bSafe;
    } aNames[] = {
        {"fine.txt", true},        {"a/b/c.txt", true},      {"./x.txt", true},        {"a..b", true},
        {"..foo/x", true},         {"../evil.txt", false},   {"/tmp/abs.txt", false},  {"C:drive.txt", false},
        {"c:/x", false},           {"..\\back.txt", false},  {"\\root.txt", false},    {"ok/../../up.txt", false},
        {"a/..", false},           {"..", false},            {"", false},
    };
    for (const auto& c : aNames)
        EXPECT_EQ(IsSafeEntryPath(c.pszName), c.bSafe) << c.pszName;

    // The same names as a real archive carries them: every unsafe one is refused, nothing
    // is written anywhere, and the safe one still unpacks.
    const std::string strArchive = ReadFixture("py_unsafe.zip");
    std::unique_ptr<ZipArchive> pArchive = Open(strArchive);
    ASSERT_NE(pArchive, nullptr);
    ZipEntryInfo info{};
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(ZipGetEntry(pArchive.get(), i, &info), ZIP_OK);
        EXPECT_EQ(ZipExtractEntryToFile(pArchive.get(), i, info.m_szName), ZIP_ERR_CREATE) << info.m_szName;
    }
    EXPECT_EQ(m_dir.ListTree(), std::vector<std::string>{"work"});
    ASSERT_EQ(ZipGetEntry(pArchive.get(), 5, &info), ZIP_OK);
    EXPECT_EQ(ZipExtractEntryToFile(pArchive.get(), 5, info.m_szName), ZIP_OK);
    EXPECT_EQ(m_dir.ListTree(), (std::vector<std::string>{"work", "work/fine.txt"}));

    // A directory entry with an unsafe name creates nothing either.
    std::vector<CTestZipEntry> entries = TwoEntries();
    entries[0].m_strName = "../outside/";
    entries[0].m_strData = "";
    entries[0].m_nExternalAttributes = 0x41ED0010;
    const std::string str = BuildTestZip(entries);
    std::unique_ptr<ZipArchive> pDirArchive = Open(str);
    ASSERT_NE(pDirArchive, nullptr);
    EXPECT_EQ(ZipExtractEntryToFile(pDirArchive.get(), 0, "../outside/"), ZIP_ERR_CREATE);
    EXPECT_FALSE(fs::exists(m_dir.Path() / "outside"));

    // A directory link that already stands inside the target is not followed, by a file or by
    // a directory entry; a link at the file's own name is replaced, not written through.
    fs::create_directory(m_dir.Path() / "elsewhere");
    std::error_code error;
    fs::create_directory_symlink(m_dir.Path() / "elsewhere", "link", error);
    if (error) {
        std::printf("no symbolic link cases here: %s\n", error.message().c_str());
        return;
    }
    fs::create_symlink(m_dir.Path() / "elsewhere" / "victim.txt", "leaf.txt");
    EXPECT_EQ(ZipExtractEntryToFile(pArchive.get(), 5, "link/fine.txt"), ZIP_ERR_CREATE);
    EXPECT_EQ(ZipExtractEntryToFile(pArchive.get(), 5, "link/deeper/fine.txt"), ZIP_ERR_CREATE);
    EXPECT_EQ(ZipExtractEntryToFile(pArchive.get(), 5, "leaf.txt"), ZIP_OK);
    EXPECT_FALSE(fs::is_symlink("leaf.txt"));
    EXPECT_TRUE(fs::is_empty(m_dir.Path() / "elsewhere"));
}

TEST_F(ZipFiles, PathsThatDoNotFitAreRefused)
{
    const std::string strArchive = ReadFixture("py_mixed.zip");
    std::unique_ptr<ZipArchive> pArchive = Open(strArchive);
    ASSERT_NE(pArchive, nullptr);
    const size_t nRoot = pArchive->m_strRootDir.size();
    ASSERT_LT(nRoot, 200u);
    // Root directory plus directory part must stay below 260 bytes.
    const std::string strFits = std::string(258 - nRoot, 'd') + "/a";
    const std::string strTooLong = std::string(259 - nRoot, 'd') + "/a";
    EXPECT_EQ(ZipExtractEntryToFile(pArchive.get(), 3, strTooLong.c_str()), ZIP_ERR_CREATE);
    EXPECT_EQ(m_dir.ListTree(), std::vector<std::string>{"work"});
    EXPECT_EQ(ZipExtractEntryToFile(pArchive.get(), 3, strFits.c_str()), ZIP_OK);
}

TEST_F(ZipFiles, ExtractReplacesAndKeepsModes)
{
    const std::string strArchive = ReadFixture("infozip_readonly.zip");
    std::unique_ptr<ZipArchive> pArchive = Open(strArchive);
    ASSERT_NE(pArchive, nullptr);
    ZipEntryInfo info{};
    ASSERT_EQ(ZipGetEntry(pArchive.get(), 0, &info), ZIP_OK);
    EXPECT_NE(info.m_nAttributes & ZIP_ATTR_READONLY, 0u);
    {
        std::ofstream("ro.qss") << "old contents that must be replaced";
    }
    ASSERT_EQ(ZipExtractEntryToFile(pArchive.get(), 0, "ro.qss"), ZIP_OK);
    EXPECT_EQ(ReadFileText("ro.qss"), "QWidget { color: #222; }\n");
    struct stat st {};
    ASSERT_EQ(stat("ro.qss", &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(st.st_mtime, FIXTURE_TIME);
    // A read-only file is replaced as well: it is the directory that decides.
    ASSERT_EQ(ZipExtractEntryToFile(pArchive.get(), 0, "ro.qss"), ZIP_OK);
    EXPECT_EQ(m_dir.ListTree(), (std::vector<std::string>{"work", "work/ro.qss"}));

    // A target that cannot be created: its directory is a file.
    {
        std::ofstream("plainfile") << "x";
    }
    EXPECT_EQ(ZipExtractEntryToFile(pArchive.get(), 0, "plainfile/x.qss"), ZIP_ERR_CREATE);
    // A target that is a directory is not replaced.
    fs::create_directory("adir");
    EXPECT_EQ(ZipExtractEntryToFile(pArchive.get(), 0, "adir"), ZIP_ERR_CREATE);
    EXPECT_TRUE(fs::is_directory("adir"));
    EXPECT_EQ(m_dir.ListTree(), (std::vector<std::string>{"work", "work/adir", "work/plainfile", "work/ro.qss"}));
}

TEST(ZipEntryData, ReadsInPiecesAndCapsTheOutput)
{
    std::vector<CTestZipEntry> entries = TwoEntries();
    entries[0].m_strData = TextOf(100000);
    const std::string str = BuildTestZip(entries);
    std::unique_ptr<ZipArchive> pArchive = Open(str);
    ASSERT_NE(pArchive, nullptr);
    ZipEntryInfo info{};
    ASSERT_EQ(ZipGetEntry(pArchive.get(), 0, &info), ZIP_OK);
    ASSERT_EQ(OpenEntryData(pArchive.get()), ZIP_OK);
    std::string strOut;
    uint8_t ab[7777];
    EXPECT_EQ(ReadEntryData(pArchive.get(), ab, 0), 0);
    for (;;) {
        const int64_t n = ReadEntryData(pArchive.get(), ab, sizeof ab);
        ASSERT_GE(n, 0);
        if (n == 0)
            break;
        strOut.append(reinterpret_cast<char*>(ab), static_cast<size_t>(n));
    }
    EXPECT_EQ(strOut, entries[0].m_strData);
    EXPECT_EQ(CloseEntryData(pArchive.get()), ZIP_OK);
    EXPECT_EQ(ReadEntryData(pArchive.get(), ab, sizeof ab), -1);

    // An entry opened and abandoned is closed by the next question, and a limit on memory
    // is honoured before anything is read.
    ASSERT_EQ(OpenEntryData(pArchive.get()), ZIP_OK);
    ASSERT_GT(ReadEntryData(pArchive.get(), ab, 10), 0);
    EXPECT_EQ(ZipGetEntry(pArchive.get(), 1, &info), ZIP_OK);
    EXPECT_EQ(pArchive->m_pReadState, nullptr);
    std::vector<uint8_t> data;
    EXPECT_EQ(ZipReadEntryToMemory(pArchive.get(), 0, &data, 99999), ZIP_ERR_DATA);
    EXPECT_EQ(ZipReadEntryToMemory(pArchive.get(), 0, &data, 100000), ZIP_OK);
    EXPECT_EQ(data.size(), 100000u);
    ZipClose(pArchive);
    ZipClose(pArchive);   // closing twice is harmless
}
