#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "transfer/pattern.h"
#include "transfer/pattern_csv.h"

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
}

} // namespace
