#pragma once
// A pattern file as a whole: how many records it holds, whether the transfer would take it
// (the marker check it makes before it opens a port), what follows the last whole record, and
// what its values span. `matrixctl pattern check` prints it; the picture and the preview
// windows take their records and their caption from here.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "transfer/pattern.h"

// Up to this many distinct values of an integer field are listed one by one; beyond it only
// their number and range.
constexpr size_t PATTERN_LISTED_VALUES = 16;

// The values one integer field takes, as the device gets them (i1 and i2 as bytes, i3 as 16
// bits).
struct CIntegerFieldSummary {
    uint32_t nDistinct = 0;
    uint32_t nMin = 0;
    uint32_t nMax = 0;
    std::vector<uint32_t> anValues; // ascending, when nDistinct <= PATTERN_LISTED_VALUES
};

struct CPatternFileSummary {
    uint64_t nBytes = 0;
    uint64_t nRecords = 0;       // whole 12-byte records
    uint64_t nTrailingBytes = 0; // after the last whole record: never sent
    // CheckPatternRecords' verdict over the whole records, and its first fault when false.
    bool bMarkersGood = true;
    CPatternMarkerFault firstFault;
    uint64_t nDamagedRecords = 0; // whole records with a wrong start or end marker
    // Over the records with both markers right (nRecords - nDamagedRecords of them): the ranges
    // of the decimal values in hundred-thousandths, exact, and the integer fields.
    int64_t nMinX = 0;
    int64_t nMaxX = 0;
    int64_t nMinY = 0;
    int64_t nMaxY = 0;
    CIntegerFieldSummary aIntegers[3];

    // A file the transfer takes whole: at least one record, every marker right, no piece of a
    // record after the last.
    bool IsGood() const { return nRecords > 0 && bMarkersGood && nTrailingBytes == 0; }
};

CPatternFileSummary SummarisePatternFile(const uint8_t* pData, size_t nLength);

// The whole records of a pattern file with both markers right, decoded, in file order: what
// the device gets of them. A damaged record is left out (the summary says which is the first).
std::vector<CDecodedRecord> DecodePatternRecords(const uint8_t* pData, size_t nLength);

// The records CSV rows give, built and decoded as the device will get them.
std::vector<CDecodedRecord> DecodePatternRows(const std::vector<CPatternValues>& rows);

// The same summary for records already decoded (from a CSV file): no markers to be wrong.
CPatternFileSummary SummarisePatternRecords(const std::vector<CDecodedRecord>& records);
