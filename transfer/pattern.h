#pragma once
// The 12-byte pattern record: a start marker, two decimal values and three integer values,
// every value byte XORed with the record mask the device expects, and an end marker.
//
//   0      0xC1
//   1..2   first decimal, coarse part, 16 bits, high byte first
//   3      first decimal, fine part, 8 bits
//   4..5   second decimal, coarse part
//   6      second decimal, fine part
//   7      first integer, low 8 bits
//   8      second integer, low 8 bits
//   9..10  third integer, low 16 bits, high byte first
//   11     0xC3 (the same value as the end-of-transfer byte)

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint8_t RECORD_MASK = 0x5A;
constexpr uint8_t RECORD_START_MARKER = 0xC1;
constexpr uint8_t RECORD_END_MARKER = 0xC3;
constexpr size_t PATTERN_RECORD_SIZE = 12;

// The five values of a record by the names the CSV rows give them.
inline constexpr const char* PATTERN_FIELD_NAMES[5] = {"x", "y", "i1", "i2", "i3"};

struct CPatternValues {
    double dFirst;
    double dSecond;
    int32_t nFirst;
    int32_t nSecond;
    int32_t nThird;
};

// A decimal value as the record carries it, before masking. Coarse: the value times 1000,
// truncated toward zero, remainder of 100000 with its sign, low 16 bits. Fine: the value
// times 100000, truncated, remainder of 100 with its sign. Both products are computed in
// double precision, so 1.005 gives 1004 and 99.
struct CDecimalParts {
    int16_t nCoarse;
    int8_t nFine;
};

// Encodes one decimal value. The remainders are taken of the exact truncated products, so a
// value of any size is well defined; NaN and infinities, which no producer should give, are
// encoded as 0.
CDecimalParts EncodeDecimalValue(double dValue);
// The bytes one integer value leaves in a record, before masking.
uint8_t EncodeByteValue(int32_t nValue);
uint16_t EncodeWordValue(int32_t nValue);

void BuildPatternRecord(const CPatternValues& values, uint8_t abRecord[PATTERN_RECORD_SIZE]);

// What survives of a record's values.
struct CDecodedRecord {
    int16_t nFirstCoarse;
    int8_t nFirstFine;
    int16_t nSecondCoarse;
    int8_t nSecondFine;
    uint8_t nFirst;
    uint8_t nSecond;
    uint16_t nThird;
    double dFirst;   // nFirstCoarse / 1000 + nFirstFine / 100000
    double dSecond;  // likewise
};

// Decodes one record. False, with the reason in *pstrError, when nLength is not 12 or a
// marker is wrong; *pOut is then left as it was.
bool DecodePatternRecord(const uint8_t* pRecord, size_t nLength, CDecodedRecord* pOut, std::string* pstrError);

// Why a value does not come back from its record as it was written; several can hold at once.
enum : unsigned {
    VALUE_LOSS_HUNDREDS = 1u << 0,    // a decimal keeps only its last two integer digits
    VALUE_LOSS_COARSE_BITS = 1u << 1, // a decimal's first three decimals overflow 16 bits (32.768 and up, -32.769 and down)
    VALUE_LOSS_TRUNCATION = 1u << 2,  // a product in double precision fell on the wrong side of a whole number and was truncated
    VALUE_LOSS_LOW_BITS = 1u << 3,    // an integer keeps only its low 8 or 16 bits
};

// One value of a row that the record does not give back as it was written.
struct CValueChange {
    int nField = 0;          // 0 to 4, as PATTERN_FIELD_NAMES
    unsigned nLosses = 0;    // VALUE_LOSS_...
    double dWritten = 0;     // the decimal as read (x, y)
    int32_t nWritten = 0;    // the integer as read (i1, i2, i3)
    // What comes back: an integer itself; a decimal in hundred-thousandths (coarse part times
    // 100 plus fine part, as the decoder adds them up).
    int64_t nStored = 0;
    // With VALUE_LOSS_TRUNCATION: the product that was truncated, as computed, and its factor
    // (1000 or 100000); and the written value in hundred-thousandths, truncated exactly, when
    // the record could hold that (bIntendedFits), for a suggestion how to write it.
    double dProduct = 0;
    double dFactor = 0;
    int64_t nIntended = 0;
    bool bIntendedFits = false;
};

// Builds the record of a row and decodes it again, the one encoder and decoder, and lists
// each value that does not come back as written, in field order. A decimal comes back when
// the decoded value equals the written one to the fifth decimal, the last the record holds:
// digits after it are not kept by design and are no change, but the whole of 0.29, which the
// double-precision encoding stores as 0.29099, is. The written value is taken as the shortest
// decimal that reads back as the same double, which is what a person or a spreadsheet wrote.
// An integer comes back when it is decoded whole (-1 comes back as 255).
std::vector<CValueChange> FindValueChanges(const CPatternValues& values);

// The first record of a file whose start or end marker is not the one a pattern record has.
struct CPatternMarkerFault {
    uint64_t nRecord = 0; // counted from 1
    uint64_t nOffset = 0; // where the record starts in the file
    bool bEndMarker = false;
    uint8_t nFound = 0;
    uint8_t nExpected = 0;
};

// Checks the markers of every whole record of a pattern file; a trailing piece shorter than a
// record is not looked at. False at the first wrong marker, which *pFault then describes.
// What the transfer and `pattern decode` both ask before they use a file.
bool CheckPatternRecords(const uint8_t* pData, size_t nLength, CPatternMarkerFault* pFault);

// The fault in one English sentence naming the file, e.g. "notes.bin is not a pattern file:
// record 1 (byte 0) starts with 0x78 instead of the start marker 0xC1."
std::string DescribePatternMarkerFault(const std::string& strPath, const CPatternMarkerFault& fault);
