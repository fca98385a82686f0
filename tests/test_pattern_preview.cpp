// The preview window's decisions, which both dialogs only draw: what it says for a file, the
// picture that fits its area, where it opens beside the dialog, and when it reads the file again.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/pattern_preview.h"
#include "tests/support/temp_dir.h"
#include "transfer/pattern.h"

namespace fs = std::filesystem;

namespace {

std::string Records(const std::vector<CPatternValues>& rows)
{
    std::string strBytes;
    for (const CPatternValues& row : rows) {
        uint8_t abRecord[PATTERN_RECORD_SIZE];
        BuildPatternRecord(row, abRecord);
        strBytes.append(reinterpret_cast<const char*>(abRecord), PATTERN_RECORD_SIZE);
    }
    return strBytes;
}

void WriteFile(const fs::path& path, const std::string& strBytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << strBytes;
}

} // namespace

TEST(PreviewContents, SaysWhatTheTransferWouldDoWithTheFile)
{
    CTempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string strThree = Records({{1.5, 2.25, 1, 2, 3}, {-3, 4, 2, 0, 0}, {0, -1, 1, 0, 0}});
    std::string strDamaged = strThree;
    strDamaged[PATTERN_RECORD_SIZE + PATTERN_RECORD_SIZE - 1] = 'x'; // record 2's end marker
    fs::create_directory(dir.Path() / "folder.bin");

    struct {
        const char* pszName;
        std::string strBytes; // none: the name is not written
        bool bWrite;
        bool bRefused;
        uint64_t nRecords;
        size_t nDots;
        std::vector<std::string> astrLines; // a line that is "" is only checked to be there
    } const aCases[] = {
        {"three.bin", strThree, true, false, 3, 3, {"three.bin:共 3 筆資料"}},
        {"tail.bin", strThree + "abcde", true, false, 3, 3,
         {"tail.bin:共 3 筆資料", "檔案尾端 5 位元組不足一筆,不會傳送。"}},
        {"rows.bin", "x,y,i1,i2,i3\n1.5,2.25,1,2,3\n1,1,1,1,1\n", true, true, 3, 0,
         {"rows.bin:共 3 筆資料,其中 3 筆損壞",
          "@ 不是圖樣檔案:第 1 筆資料(第 0 位元組起)的開頭是 0x78,應為 0xC1。「開始更新」不會傳送這個檔案。"}},
        {"damaged.bin", strDamaged, true, true, 3, 0,
         {"damaged.bin:共 3 筆資料,其中 1 筆損壞",
          "@ 不是圖樣檔案:第 2 筆資料(第 12 位元組起)的結尾是 0x78,應為 0xC3。「開始更新」不會傳送這個檔案。"}},
        {"empty.bin", "", true, true, 0, 0, {"傳送檔案為0,請先轉檔"}},
        {"short.bin", "abc", true, true, 0, 0, {""}},
        {"missing.bin", "", false, true, 0, 0, {"無法開啟檔案 @:檔案或資料夾不存在。請確認檔案存在且可以讀取。"}},
        {"folder.bin", "", false, true, 0, 0, {"無法讀取 @:這是資料夾,不是檔案。請選擇要傳送的圖樣檔案。"}},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        const fs::path path = dir.Path() / c.pszName;
        if (c.bWrite)
            WriteFile(path, c.strBytes);
        const CPreviewContents contents = LoadPreviewContents(path.string());
        EXPECT_EQ(contents.strTitle, std::string("預覽圖樣 - ") + c.pszName);
        EXPECT_EQ(contents.bRefused, c.bRefused);
        EXPECT_EQ(contents.nRecords, c.nRecords);
        EXPECT_EQ(contents.records.size(), c.nDots);
        ASSERT_EQ(contents.astrLines.size(), c.astrLines.size());
        for (size_t i = 0; i < c.astrLines.size(); ++i) {
            std::string strExpected = c.astrLines[i];
            if (const size_t nAt = strExpected.find('@'); nAt != std::string::npos)
                strExpected.replace(nAt, 1, path.string());
            if (!strExpected.empty()) {
                EXPECT_EQ(contents.astrLines[i], strExpected);
            } else {
                EXPECT_FALSE(contents.astrLines[i].empty());
            }
        }
        // A picture only of what will be sent.
        EXPECT_EQ(BuildPreviewPicture(contents, 400, 400).aPoints.size(), c.nDots);
    }
    const CPreviewContents three = LoadPreviewContents((dir.Path() / "three.bin").string());
    ASSERT_EQ(three.astrCaption.size(), 1u);
    EXPECT_EQ(three.astrCaption[0], "x:-3 至 1.5  y:-1 至 4");
    EXPECT_EQ(LoadPreviewContents("").strTitle, "預覽圖樣");
}

TEST(PreviewPicture, FitsTheAreaItIsGiven)
{
    // A tall pattern and a flat one: the one the height limits, the one the width limits.
    CTempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    WriteFile(dir.Path() / "tall.bin", Records({{0, 0, 1, 0, 0}, {1, 30, 2, 0, 0}, {0.5, 15, 3, 0, 0}}));
    WriteFile(dir.Path() / "flat.bin", Records({{0, 0, 1, 0, 0}, {30, 1, 1, 0, 0}}));
    struct {
        const char* pszFile;
        int nWidth;
        int nHeight;
    } const aCases[] = {
        {"tall.bin", 600, 400}, {"tall.bin", 400, 900}, {"flat.bin", 500, 300},
        {"flat.bin", 900, 250}, {"tall.bin", 2000, 2000},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(std::string(c.pszFile) + " " + std::to_string(c.nWidth) + "x" + std::to_string(c.nHeight));
        const CPreviewContents contents = LoadPreviewContents((dir.Path() / c.pszFile).string());
        const CPatternPicture picture = BuildPreviewPicture(contents, c.nWidth, c.nHeight);
        EXPECT_LE(picture.nWidth, c.nWidth);
        EXPECT_LE(picture.nHeight, c.nHeight);
        // Not needlessly small: one side nearly fills the area.
        EXPECT_TRUE(picture.nWidth >= c.nWidth * 0.9 || picture.nHeight >= c.nHeight * 0.9)
            << picture.nWidth << "x" << picture.nHeight;
        for (const CPicturePoint& point : picture.aPoints) {
            EXPECT_GE(point.dX, picture.frame.dLeft);
            EXPECT_LE(point.dX, picture.frame.dLeft + picture.frame.dWidth);
            EXPECT_GE(point.dY, picture.frame.dTop);
            EXPECT_LE(point.dY, picture.frame.dTop + picture.frame.dHeight);
        }
    }
}

TEST(PreviewPlacement, BesideTheDialogInsideTheWorkArea)
{
    const CScreenRect full{0, 0, 1920, 1040};
    struct {
        const char* pszCase;
        CScreenRect dialog;
        CScreenRect work;
        CScreenRect expected;
        bool bOverDialog = false;
    } const aCases[] = {
        {"room on the right", {700, 300, 430, 480}, full, {1138, 300, 480, 480}},
        {"no room right: left", {1400, 300, 430, 480}, full, {912, 300, 480, 480}},
        {"second monitor left of the first", {-1000, 100, 430, 480}, {-1920, 0, 1920, 1040}, {-562, 100, 480, 480}},
        {"room on neither side for the full width: narrower right", {290, 100, 430, 480}, {0, 0, 1024, 740},
         {728, 100, 296, 480}},
        {"narrower left", {450, 100, 430, 480}, {0, 0, 1024, 740}, {0, 100, 442, 480}},
        {"no room beside it: over the dialog at the larger side", {200, 50, 430, 480}, {0, 0, 800, 560},
         {0, 50, 480, 480}, true},
        {"dialog low on the screen: moved up", {700, 800, 430, 480}, full, {1138, 560, 480, 480}},
        {"dialog partly above the work area", {700, -40, 430, 480}, {0, 30, 1920, 1010}, {1138, 30, 480, 480}},
        {"work area smaller than the preview", {0, 0, 430, 480}, {0, 0, 640, 400}, {160, 0, 480, 400}, true},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszCase);
        const CPreviewPlacement placement = PlacePreviewWindow(c.dialog, c.work);
        const CScreenRect& rect = placement.rect;
        EXPECT_EQ(placement.bOverDialog, c.bOverDialog);
        EXPECT_EQ(rect.nLeft, c.expected.nLeft);
        EXPECT_EQ(rect.nTop, c.expected.nTop);
        EXPECT_EQ(rect.nWidth, c.expected.nWidth);
        EXPECT_EQ(rect.nHeight, c.expected.nHeight);
        // Whatever the case: on the work area, whole.
        EXPECT_GE(rect.nLeft, c.work.nLeft);
        EXPECT_GE(rect.nTop, c.work.nTop);
        EXPECT_LE(rect.Right(), c.work.Right());
        EXPECT_LE(rect.Bottom(), c.work.Bottom());
    }
}

TEST(PreviewFileWatch, ReadsAgainOnceAChangeHasHeld)
{
    CTempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string strA = (dir.Path() / "a.bin").string();
    const std::string strB = (dir.Path() / "b.bin").string();
    WriteFile(strA, "twelve bytes");
    WriteFile(strB, "other bytes!");
    CPreviewFileWatch watch;
    watch.Shown(strA);
    EXPECT_FALSE(watch.Poll(strA));
    // Another name in the field: read once it stays there for a poll, not at each key typed.
    EXPECT_FALSE(watch.Poll(dir.Path().string() + "/b"));
    EXPECT_FALSE(watch.Poll(strB));
    EXPECT_TRUE(watch.Poll(strB));
    watch.Shown(strB);
    EXPECT_FALSE(watch.Poll(strB));
    // The file written again (its time moved on, as a second write a moment later has it).
    WriteFile(strB, "longer bytes than before");
    fs::last_write_time(strB, fs::last_write_time(strB) + std::chrono::seconds(2));
    EXPECT_FALSE(watch.Poll(strB));
    EXPECT_TRUE(watch.Poll(strB));
    watch.Shown(strB);
    // Removed, and there again.
    fs::remove(strB);
    EXPECT_FALSE(watch.Poll(strB));
    EXPECT_TRUE(watch.Poll(strB));
    watch.Shown(strB);
    EXPECT_FALSE(watch.Poll(strB));
}
