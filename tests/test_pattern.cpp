#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "cli/pattern_report.h"
#include "cli/pattern_svg.h"
#include "transfer/pattern.h"
#include "transfer/pattern_csv.h"
#include "transfer/pattern_picture.h"
#include "transfer/pattern_summary.h"

namespace {

constexpr uint8_t M = RECORD_MASK;

TEST(PatternEncode, DecimalValuesTruncateInDoublePrecision)
{
    struct {
        double dValue;
        int nCoarse;
        int nFine;
    } const aCases[] = {
        {121.45, 21450, 0},
        {25.0331, 25033, 10},
        {1.005, 1004, 99},  // 1004.9999999999999 and 100499.99999999999: truncated, not rounded
        {0.29, 290, 99},
        {-23.5, -23500, 0},
        {70.5, 4964, 0},  // 70500 loses its 17th bit
        {123.45678, 23456, 78},
        {-0.00099, 0, -99},
        {99.99999, -31073, 99},  // 99999 keeps its low 16 bits
        {0.0, 0, 0},
        {1152921504606846976.0, 10464, 0},  // 2^60: far past 32 bits, the remainder is still exact
        {-1152921504606846976.0, -10464, 0},
        {std::numeric_limits<double>::quiet_NaN(), 0, 0},
        {-std::numeric_limits<double>::infinity(), 0, 0},
    };
    for (const auto& c : aCases) {
        CDecimalParts parts = EncodeDecimalValue(c.dValue);
        EXPECT_EQ(parts.nCoarse, c.nCoarse) << c.dValue;
        EXPECT_EQ(parts.nFine, c.nFine) << c.dValue;
    }
}

TEST(PatternEncode, RecordsCarryMaskedBytesBetweenMarkers)
{
    struct {
        const char* pszName;
        CPatternValues values;
        std::vector<uint8_t> expected;
    } const aCases[] = {
        {"all zero", {0, 0, 0, 0, 0}, {0xC1, M, M, M, M, M, M, M, M, M, M, 0xC3}},
        {"121.45 and -23.5",
         {121.45, -23.5, 0, 0, 0},
         {0xC1, 0x53 ^ M, 0xCA ^ M, M, 0xA4 ^ M, 0x34 ^ M, M, M, M, M, M, 0xC3}},
        {"25.0331 fine part",
         {25.0331, 0, 0, 0, 0},
         {0xC1, 0x61 ^ M, 0xC9 ^ M, 10 ^ M, M, M, M, M, M, M, M, 0xC3}},
        {"integers keep their low bits, high byte first",
         {0, 0, 256 + 7, -1, 0x12345678},
         {0xC1, M, M, M, M, M, M, 7 ^ M, 0xFF ^ M, 0x56 ^ M, 0x78 ^ M, 0xC3}},
        {"third integer -1", {0, 0, 0, 0, -1}, {0xC1, M, M, M, M, M, M, M, M, 0xFF ^ M, 0xFF ^ M, 0xC3}},
    };
    for (const auto& c : aCases) {
        uint8_t abRecord[PATTERN_RECORD_SIZE];
        BuildPatternRecord(c.values, abRecord);
        EXPECT_EQ(std::vector<uint8_t>(abRecord, abRecord + PATTERN_RECORD_SIZE), c.expected) << c.pszName;
    }
}

TEST(PatternDecode, GivesBackWhatSurvives)
{
    uint8_t abRecord[PATTERN_RECORD_SIZE];
    BuildPatternRecord({-23.5, 25.0331, 300, -2, -1}, abRecord);
    CDecodedRecord rec{};
    std::string strError;
    ASSERT_TRUE(DecodePatternRecord(abRecord, sizeof abRecord, &rec, &strError)) << strError;
    EXPECT_EQ(rec.nFirstCoarse, -23500);
    EXPECT_EQ(rec.nFirstFine, 0);
    EXPECT_EQ(rec.nSecondCoarse, 25033);
    EXPECT_EQ(rec.nSecondFine, 10);
    EXPECT_EQ(rec.nFirst, 44);
    EXPECT_EQ(rec.nSecond, 254);
    EXPECT_EQ(rec.nThird, 65535);
    EXPECT_DOUBLE_EQ(rec.dFirst, -23.5);
    EXPECT_DOUBLE_EQ(rec.dSecond, 25.0331);
}

TEST(PatternDecode, ReportsWrongLengthAndMarkers)
{
    uint8_t abGood[PATTERN_RECORD_SIZE];
    BuildPatternRecord({1, 2, 3, 4, 5}, abGood);
    std::vector<uint8_t> badStart(abGood, abGood + 12), badEnd(abGood, abGood + 12);
    badStart[0] = 0xC3;
    badEnd[11] = 0x00;
    struct {
        const uint8_t* pData;
        size_t nLength;
        const char* pszReason;
    } const aCases[] = {
        {abGood, 11, "12 bytes long, not 11"},
        {abGood, 0, "not 0"},
        {nullptr, 12, "not 0"},
        {badStart.data(), 12, "starts with 0xC3"},
        {badEnd.data(), 12, "ends with 0x00"},
    };
    for (const auto& c : aCases) {
        CDecodedRecord rec{};
        rec.nThird = 77;
        std::string strError;
        EXPECT_FALSE(DecodePatternRecord(c.pData, c.nLength, &rec, &strError)) << c.pszReason;
        EXPECT_NE(strError.find(c.pszReason), std::string::npos) << strError;
        EXPECT_EQ(rec.nThird, 77) << "left as it was";
    }
}

// Decoding prints the values so that encoding the printed rows gives the same file again,
// including values whose products fall just below an integer (1.005) and coarse parts that
// wrapped past 16 bits.
TEST(PatternCsvRoundTrip, EveryEncodableDecimalSurvivesPrintingAndReading)
{
    const int aFines[] = {0, 1, 9, 50, 99};
    size_t nChecked = 0;
    for (int nCoarse = -32768; nCoarse <= 32767; ++nCoarse) {
        for (int nFineMagnitude : aFines) {
            for (int nSign : {1, -1}) {
                auto coarse = static_cast<int16_t>(nCoarse);
                auto fine = static_cast<int8_t>(nSign * nFineMagnitude);
                std::string strText = FormatDecimalField(coarse, fine);
                CDecimalParts parts = EncodeDecimalValue(std::strtod(strText.c_str(), nullptr));
                ASSERT_EQ(parts.nCoarse, coarse) << strText;
                ASSERT_EQ(parts.nFine, fine) << strText;
                ++nChecked;
            }
        }
    }
    EXPECT_EQ(nChecked, 65536u * 10u);
    EXPECT_EQ(FormatDecimalField(21450, 0), "21.45");
    EXPECT_EQ(FormatDecimalField(-23500, 0), "-23.5");
}

TEST(CsvRead, AcceptsTheUsualShapesOfAFile)
{
    struct {
        const char* pszName;
        std::string strText;
        size_t nRows;
    } const aCases[] = {
        {"header and rows", "x,y,i1,i2,i3\n1.5,2,3,4,5\n-1,-2,-3,-4,-5\n", 2},
        {"no header", "1.5,2,3,4,5\n", 1},
        {"comments and blank lines", "# heart\n\n  \nX , Y,a,b,c\n# more\n1,2,3,4,5\n\n", 1},
        {"CRLF, no final line end", "x,y,i1,i2,i3\r\n1,2,3,4,5\r\n6,7,8,9,10", 2},
        {"byte order mark and plus signs", "\xEF\xBB\xBFx,y,a,b,c\n+1.25, +2 ,+3,4,+5\n", 1},
        {"32-bit limits", "0,0,-2147483648,2147483647,0\n", 1},
        {"empty", "", 0},
        // A single row of semicolons or tabs is a row, not a header.
        {"one row of semicolons", "1.5;2;3;4;5\n", 1},
        {"tabs, with a header", "x\ty\ti1\ti2\ti3\r\n1.5\t 2\t3\t4\t5\r\n", 1},
        {"each row its own separator", "x;y;i1;i2;i3\n1,2,3,4,5\n1;2;3;4;5\n1\t2\t3\t4\t5\n", 3},
    };
    for (const auto& c : aCases) {
        std::vector<CPatternValues> rows;
        std::string strError;
        EXPECT_TRUE(ReadPatternCsv(c.strText, &rows, &strError)) << c.pszName << ": " << strError;
        EXPECT_EQ(rows.size(), c.nRows) << c.pszName;
    }
    std::vector<CPatternValues> rows;
    ASSERT_TRUE(ReadPatternCsv("+1.25,-2e1,3,-4,65535\n", &rows, nullptr));
    EXPECT_DOUBLE_EQ(rows[0].dFirst, 1.25);
    EXPECT_DOUBLE_EQ(rows[0].dSecond, -20);
    EXPECT_EQ(rows[0].nSecond, -4);
    EXPECT_EQ(rows[0].nThird, 65535);
    // The line of each row, for messages about its values.
    std::vector<size_t> lines;
    ASSERT_TRUE(ReadPatternCsv("# c\n\nx,y,a,b,c\n1,2,3,4,5\n\n6;-7.25;8;9;10\n", &rows, nullptr, &lines));
    EXPECT_EQ(lines, (std::vector<size_t>{4, 6}));
    EXPECT_DOUBLE_EQ(rows[1].dSecond, -7.25);
}

TEST(CsvRead, ReportsTheFirstBadRowWithItsLine)
{
    struct {
        std::string strText;
        const char* pszError;
    } const aCases[] = {
        {"x,y,i1,i2,i3\n1,2,3,4\n", "2: expected 5 fields (x,y,i1,i2,i3), found 4"},
        {"# c\n\n1,2,3,4,5,6\n", "3: expected 5 fields (x,y,i1,i2,i3), found 6"},
        {"1,2,3,4,5\n1,abc,3,4,5\n", "2: field 2 (y) is not a number: \"abc\""},
        {"1,2,3,4,5\nx,y,i1,i2,i3\n", "2: field 1 (x) is not a number: \"x\""},
        {"nan,2,3,4,5\n", "1: field 1 (x) is not a finite number: \"nan\""},
        {"1,-inf,3,4,5\n", "1: field 2 (y) is not a finite number: \"-inf\""},
        {"1,1e400,3,4,5\n", "1: field 2 (y) is beyond the range of a decimal number: \"1e400\""},
        {"1,2,2147483648,4,5\n", "1: field 3 (i1) is outside the 32-bit signed integer range: \"2147483648\""},
        {"1,2,3,-2147483649,5\n", "1: field 4 (i2) is outside the 32-bit signed integer range"},
        {"1,2,3,4,99999999999999999999999\n", "1: field 5 (i3) is outside the 32-bit signed integer range"},
        {"1,2,3,4,1.5\n", "1: field 5 (i3) is not a whole number: \"1.5\""},
        {"1,2,3,,5\n", "1: field 4 (i2) is empty"},
        {"1,2,0x10,4,5\n", "1: field 3 (i1) is not a number: \"0x10\""},
        {"1,2,\"3\",4,5\n", "1: field 3 (i1) is not a number"},
        {"1,2,3,4,5\n1,2,3,4,5,\n1,2\n", "2: expected 5 fields"},
        // Control characters from the file are shown escaped, never sent to the terminal.
        {"1,a\x1b[2J\tb,3,4,5\n", "1: field 2 (y) is not a number: \"a\\x1b[2J\\tb\""},
        {"1,2,a\x7f\x07,4,5\n", "1: field 3 (i1) is not a number: \"a\\x7f\\x07\""},
        {"1,5;2;3;4;5\n", "1: field 1 (x) is not a number: \"1,5\" (the decimal point must be '.')"},
        {"1;2;3;4\n", "1: expected 5 fields (x;y;i1;i2;i3), found 4"},
        {"1\t2\t3\n", "1: expected 5 fields (x, y, i1, i2, i3 separated by tabs), found 3"},
    };
    for (const auto& c : aCases) {
        std::vector<CPatternValues> rows;
        std::string strError;
        EXPECT_FALSE(ReadPatternCsv(c.strText, &rows, &strError)) << c.strText;
        EXPECT_EQ(strError.rfind(c.pszError, 0), 0u) << "got: " << strError;
        EXPECT_TRUE(rows.empty());
    }
}

TEST(PatternSample, ShippedBinaryIsTheEncodedCsv)
{
    auto readFile = [](const std::string& strPath) {
        std::ifstream in(strPath, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    std::string strCsv = readFile(MATRIX_SOURCE_DIR "/res/sample.csv");
    std::string strBin = readFile(MATRIX_SOURCE_DIR "/res/sample.bin");
    std::vector<CPatternValues> rows;
    std::string strError;
    ASSERT_TRUE(ReadPatternCsv(strCsv, &rows, &strError)) << strError;
    EXPECT_GE(rows.size(), 200u);
    std::string strEncoded(rows.size() * PATTERN_RECORD_SIZE, '\0');
    for (size_t i = 0; i < rows.size(); ++i)
        BuildPatternRecord(rows[i], reinterpret_cast<uint8_t*>(&strEncoded[i * PATTERN_RECORD_SIZE]));
    EXPECT_TRUE(strEncoded == strBin) << "res/sample.bin is stale: run matrixctl pattern encode res/sample.csv res/sample.bin";
    // The sample shows how a file should be written: every value comes back as written.
    for (const CPatternValues& row : rows)
        EXPECT_TRUE(FindValueChanges(row).empty()) << row.dFirst << "," << row.dSecond;
}


// What `pattern encode` says of each value the record does not give back as written, and of the
// ones it keeps (nothing): the judgement is the encoder's and decoder's, the wording matrixctl's.
TEST(PatternValueChanges, EachValueNotKeptIsSaidWithWhy)
{
    struct {
        const char* pszRow;
        std::vector<std::string> expected;
    } const aCases[] = {
        {"121.45,0,0,0,0", {"x 121.45 is stored as 21.45 (only the last two integer digits are kept)"}},
        {"0,0.29,0,0,0",
         {"y 0.29 is stored as 0.29099 (in double precision 0.29 times 100000 is 28999.999999999996, and the format "
          "truncates rather than rounds; write 0.290005 to store 0.29)"}},
        {"1.005,0,0,0,0",
         {"x 1.005 is stored as 1.00499 (in double precision 1.005 times 100000 is 100499.99999999999, and the format "
          "truncates rather than rounds; write 1.005005 to store 1.005)"}},
        {"0,32.76799,0,0,0",
         {"y 32.76799 is stored as 32.76798 (in double precision 32.76799 times 100000 is 3276798.9999999995, and the "
          "format truncates rather than rounds; write 32.767995 to store 32.76799)"}},
        {"70.5,0,0,0,0", {"x 70.5 is stored as 4.964 (values from 32.768 up and from -32.769 down do not fit the "
                          "record's 16 bits)"}},
        {"-32.769,40.0005,0,0,0",
         {"x -32.769 is stored as 32.767 (values from 32.768 up and from -32.769 down do not fit the record's 16 bits)",
          "y 40.0005 is stored as -25.5355 (values from 32.768 up and from -32.769 down do not fit the record's 16 "
          "bits)"}},
        {"99999,0,0,0,0", {"x 99999 is stored as -32.072 (only the last two integer digits are kept; values from "
                           "32.768 up and from -32.769 down do not fit the record's 16 bits)"}},
        {"100.29,1e300,0,0,0",
         {"x 100.29 is stored as 0.29 (only the last two integer digits are kept)",
          "y 1e+300 is stored as 12.03292 (only the last two integer digits are kept; values from 32.768 up and from "
          "-32.769 down do not fit the record's 16 bits)"}},
        {"0,0,300,-1,70000",
         {"i1 300 is stored as 44 (only the low 8 bits are kept, a number from 0 to 255)",
          "i2 -1 is stored as 255 (only the low 8 bits are kept, a number from 0 to 255)",
          "i3 70000 is stored as 4464 (only the low 16 bits are kept, a number from 0 to 65535)"}},
        {"0,0,0,0,-1", {"i3 -1 is stored as 65535 (only the low 16 bits are kept, a number from 0 to 65535)"}},
        // Kept: digits past the fifth decimal are not kept by design, and the limits themselves fit.
        {"25.0331,-23.5,255,0,65535", {}},
        {"1.234567,-32.76899,0,255,0", {}},
        {"0.00003,-0.00001,0,0,0", {}},
        {"-0,0.290005,0,0,0", {}},
        {"32.76798,99.99e-3,1,2,3", {}},
    };
    for (const auto& c : aCases) {
        std::vector<CPatternValues> rows;
        std::string strError;
        ASSERT_TRUE(ReadPatternCsv(c.pszRow, &rows, &strError)) << c.pszRow << ": " << strError;
        std::vector<std::string> said;
        for (const CValueChange& change : FindValueChanges(rows.at(0)))
            said.push_back(DescribeValueChange(change));
        EXPECT_EQ(said, c.expected) << c.pszRow;
    }
}

std::vector<uint8_t> BuildRecords(const std::vector<CPatternValues>& rows)
{
    std::vector<uint8_t> data(rows.size() * PATTERN_RECORD_SIZE);
    for (size_t i = 0; i < rows.size(); ++i)
        BuildPatternRecord(rows[i], &data[i * PATTERN_RECORD_SIZE]);
    return data;
}

// `pattern check`: good, damaged and short files, as facts and as the sentence for a fault.
TEST(PatternFileSummary, CountsRecordsDamageAndValues)
{
    const std::vector<uint8_t> good = BuildRecords({{-1.5, 2, 7, 0, 300}, {3.25, -4, 7, 1, 65535}, {0, 0.00001, 9, 2, 0}});
    std::vector<uint8_t> badStart = good;
    badStart[12] = 0x00;
    std::vector<uint8_t> badEnd = good;
    badEnd[35] = 0xC1;
    std::vector<uint8_t> trailing = good;
    trailing.insert(trailing.end(), {0xC1, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A});
    struct {
        const char* pszName;
        std::vector<uint8_t> data;
        uint64_t nRecords;
        uint64_t nTrailing;
        uint64_t nDamaged;
        uint64_t nFirstDamaged; // 0: none
        const char* pszFault;   // "" for a good file
    } const aCases[] = {
        {"good", good, 3, 0, 0, 0, ""},
        {"start marker of record 2", badStart, 3, 0, 1, 2,
         "f.bin is not a pattern file: record 2 (byte 12) starts with 0x00 instead of the start marker 0xC1."},
        {"end marker of record 3", badEnd, 3, 0, 1, 3,
         "f.bin is not a pattern file: record 3 (byte 24) ends with 0xC1 instead of the end marker 0xC3."},
        {"a piece of a record at the end", trailing, 3, 6, 0, 0,
         "f.bin ends with a partial record of 6 bytes after record 3; send leaves it out."},
        {"shorter than a record", std::vector<uint8_t>(good.begin(), good.begin() + 5), 0, 5, 0, 0,
         "f.bin has only 5 bytes, less than one 12-byte record."},
        {"empty", {}, 0, 0, 0, 0, "f.bin is empty: it holds no pattern record."},
    };
    for (const auto& c : aCases) {
        const CPatternFileSummary summary = SummarisePatternFile(c.data.data(), c.data.size());
        EXPECT_EQ(summary.nRecords, c.nRecords) << c.pszName;
        EXPECT_EQ(summary.nTrailingBytes, c.nTrailing) << c.pszName;
        EXPECT_EQ(summary.nDamagedRecords, c.nDamaged) << c.pszName;
        EXPECT_EQ(summary.bMarkersGood ? 0 : summary.firstFault.nRecord, c.nFirstDamaged) << c.pszName;
        EXPECT_EQ(summary.IsGood(), *c.pszFault == '\0') << c.pszName;
        EXPECT_EQ(DescribePatternFault("f.bin", summary), c.pszFault) << c.pszName;
    }

    // The values of the good file, as the device gets them, and of the whole records of a damaged one.
    const CPatternFileSummary summary = SummarisePatternFile(good.data(), good.size());
    EXPECT_EQ(summary.nMinX, -150000);
    EXPECT_EQ(summary.nMaxX, 325000);
    EXPECT_EQ(summary.nMinY, -400000);
    EXPECT_EQ(summary.nMaxY, 200000);
    EXPECT_EQ(summary.aIntegers[0].anValues, (std::vector<uint32_t>{7, 9}));
    EXPECT_EQ(summary.aIntegers[2].anValues, (std::vector<uint32_t>{0, 300, 65535}));
    const CPatternFileSummary damaged = SummarisePatternFile(badStart.data(), badStart.size());
    EXPECT_EQ(damaged.nMaxX, 0);
    EXPECT_EQ(damaged.nMaxY, 200000);

    // Many values are given as their number and range.
    std::vector<CPatternValues> rows;
    for (int i = 0; i < 40; ++i)
        rows.push_back({0, 0, i * 5, 0, 0});
    const std::vector<uint8_t> many = BuildRecords(rows);
    const CPatternFileSummary manySummary = SummarisePatternFile(many.data(), many.size());
    EXPECT_EQ(manySummary.aIntegers[0].nDistinct, 40u);
    EXPECT_TRUE(manySummary.aIntegers[0].anValues.empty());
    EXPECT_NE(DescribePatternSummary("m.bin", manySummary).find("i1:              40 values from 0 to 195\n"),
              std::string::npos);
}

// The picture of a small file: where each dot goes (x right, y up, one scale for both, inside
// the frame), the ticks on the same scale, the colours by the first integer value, the extent.
TEST(PatternPicture, PlacesDotsColoursAndTicksOnOneScale)
{
    const std::vector<uint8_t> data = BuildRecords({{0, 0, 1, 0, 0}, {10, 0, 2, 0, 0}, {10, 5, 1, 0, 0}});
    CPictureOptions options;
    options.nSize = 600;
    options.astrCaption = {"three.bin: 3 records", "x 0 to 10, y 0 to 5"};
    const CPatternPicture picture = BuildPatternPicture(DecodePatternRecords(data.data(), data.size()), options);

    EXPECT_EQ(picture.nWidth, 600);
    ASSERT_EQ(picture.aPoints.size(), 3u);
    const CPicturePoint& first = picture.aPoints[0];
    const CPicturePoint& second = picture.aPoints[1];
    const CPicturePoint& third = picture.aPoints[2];
    EXPECT_NEAR(second.dX - first.dX, 10 * picture.dScale, 1e-9);
    EXPECT_NEAR(second.dY, first.dY, 1e-9);
    EXPECT_NEAR(second.dY - third.dY, 5 * picture.dScale, 1e-9) << "y grows upwards";
    // x is the longer side: it fills the frame but for a margin of 5% of its span on each side.
    EXPECT_NEAR(first.dX - picture.frame.dLeft, 0.5 * picture.dScale, 1e-9);
    EXPECT_NEAR(picture.frame.dLeft + picture.frame.dWidth - second.dX, 0.5 * picture.dScale, 1e-9);
    for (const CPicturePoint& point : picture.aPoints) {
        EXPECT_GT(point.dY, picture.frame.dTop);
        EXPECT_LT(point.dY, picture.frame.dTop + picture.frame.dHeight);
    }
    EXPECT_EQ(picture.extent.dMinX, 0);
    EXPECT_EQ(picture.extent.dMaxX, 10);
    EXPECT_EQ(picture.extent.dMinY, 0);
    EXPECT_EQ(picture.extent.dMaxY, 5);

    // A tick of value v sits where a dot of value v would.
    ASSERT_GE(picture.aXTicks.size(), 3u);
    ASSERT_GE(picture.aYTicks.size(), 2u);
    for (const CPictureTick& tick : picture.aXTicks) {
        EXPECT_NEAR(tick.mark.dX1, first.dX + tick.dValue * picture.dScale, 1e-9) << tick.label.strText;
        EXPECT_DOUBLE_EQ(std::stod(tick.label.strText), tick.dValue);
    }
    for (const CPictureTick& tick : picture.aYTicks)
        EXPECT_NEAR(tick.mark.dY1, first.dY - tick.dValue * picture.dScale, 1e-9) << tick.label.strText;

    // Records with the same first integer value share a colour; the legend names each value once.
    EXPECT_EQ(first.nColour, third.nColour);
    EXPECT_NE(first.nColour, second.nColour);
    EXPECT_EQ(picture.aColours.at(first.nColour), 0x0072B2u);
    ASSERT_EQ(picture.aLegend.size(), 2u);
    EXPECT_EQ(picture.aLegend[0].nValue, 1u);
    EXPECT_EQ(picture.aLegend[0].nRecords, 2u);
    EXPECT_EQ(picture.aLegend[0].nColour, first.nColour);
    EXPECT_EQ(picture.aLegend[1].nColour, second.nColour);
    EXPECT_EQ(picture.aLegend[1].label.strText, "2 (1)");
    ASSERT_EQ(picture.aCaption.size(), 2u);
    EXPECT_LT(picture.aCaption.back().dY, picture.nHeight);

    // Many values along a ramp from the smallest to the largest, a few of them in the legend.
    std::vector<CPatternValues> rows;
    for (int i = 0; i < 100; ++i)
        rows.push_back({i * 0.1, 0, 100 + i, 0, 0});
    const CPatternPicture ramp = BuildPatternPicture(DecodePatternRows(rows), CPictureOptions());
    EXPECT_EQ(ramp.aColours.at(ramp.aPoints.front().nColour), 0x440154u);
    EXPECT_EQ(ramp.aColours.at(ramp.aPoints.back().nColour), 0xB5DE2Bu);
    ASSERT_EQ(ramp.aLegend.size(), 5u);
    EXPECT_EQ(ramp.aLegend.front().nValue, 100u);
    EXPECT_EQ(ramp.aLegend.back().nValue, 199u);
}

// The SVG writer draws every dot and escapes what comes from outside.
TEST(PatternPicture, SvgHasEveryDotAndEscapedNames)
{
    const std::vector<uint8_t> data = BuildRecords({{1, 1, 1, 0, 0}, {2, 2, 1, 0, 0}});
    CPictureOptions options;
    options.astrCaption = {"a<b>&\"c\x1b[2J.bin: 2 records"};
    const std::string strSvg =
        FormatPatternSvg(BuildPatternPicture(DecodePatternRecords(data.data(), data.size()), options),
                         options.astrCaption[0]);
    const size_t nRecords = strSvg.find("<g id=\"records\">");
    ASSERT_NE(nRecords, std::string::npos);
    const std::string strDots = strSvg.substr(nRecords, strSvg.find("</g>", nRecords) - nRecords);
    size_t nDots = 0;
    for (size_t nAt = strDots.find("<circle"); nAt != std::string::npos; nAt = strDots.find("<circle", nAt + 1))
        ++nDots;
    EXPECT_EQ(nDots, 2u);
    EXPECT_NE(strSvg.find("<title>a&lt;b&gt;&amp;&quot;c\\x1b[2J.bin: 2 records</title>"), std::string::npos);
    EXPECT_EQ(strSvg.find('\x1b'), std::string::npos);
}

} // namespace
