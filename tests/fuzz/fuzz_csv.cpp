// Fuzzes the CSV reader of matrixctl pattern encode, and checks on every row it accepts that
// encoding, decoding, printing and reading again gives the same record.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/pattern.h"
#include "transfer/pattern_csv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    std::string_view svText(reinterpret_cast<const char*>(pData), nSize);
    std::vector<CPatternValues> rows;
    std::string strError;
    if (!ReadPatternCsv(svText, &rows, &strError)) {
        // A refusal always says where: "LINE: reason".
        if (strError.empty() || strError[0] < '1' || strError[0] > '9' || strError.find(": ") == std::string::npos)
            __builtin_trap();
        return 0;
    }
    for (const CPatternValues& row : rows) {
        uint8_t abRecord[PATTERN_RECORD_SIZE];
        BuildPatternRecord(row, abRecord);
        CDecodedRecord rec{};
        if (!DecodePatternRecord(abRecord, sizeof abRecord, &rec, &strError))
            __builtin_trap();
        std::vector<CPatternValues> again;
        if (!ReadPatternCsv(FormatPatternCsvRow(rec), &again, &strError) || again.size() != 1)
            __builtin_trap();
        uint8_t abAgain[PATTERN_RECORD_SIZE];
        BuildPatternRecord(again[0], abAgain);
        if (std::memcmp(abRecord, abAgain, sizeof abRecord) != 0)
            __builtin_trap();
    }
    return 0;
}
