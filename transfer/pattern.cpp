#include "transfer/pattern.h"

#include "text/printable.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

// The steps of encoding one decimal value, kept whole so that a value that does not come back
// can be told by the step that lost it.
struct CDecimalSteps {
    double dCoarseProduct = 0; // the value times 1000, in double precision
    double dFineProduct = 0;   // the value times 100000
    double dCoarseWhole = 0;   // the products truncated toward zero (0 when not finite)
    double dFineWhole = 0;
    int32_t nCoarseRemainder = 0; // remainder of 100000, with the sign of the product
    int32_t nFineRemainder = 0;   // remainder of 100
};

// fmod is exact, so the remainders equal the integer ones wherever those are defined and stay
// defined where an integer conversion of the product would overflow.
CDecimalSteps RunDecimalSteps(double dValue)
{
    CDecimalSteps steps;
    steps.dCoarseProduct = dValue * 1000.0;
    steps.dFineProduct = dValue * 100000.0;
    steps.dCoarseWhole = std::isfinite(steps.dCoarseProduct) ? std::trunc(steps.dCoarseProduct) : 0.0;
    steps.dFineWhole = std::isfinite(steps.dFineProduct) ? std::trunc(steps.dFineProduct) : 0.0;
    steps.nCoarseRemainder = static_cast<int32_t>(std::fmod(steps.dCoarseWhole, 100000.0));
    steps.nFineRemainder = static_cast<int32_t>(std::fmod(steps.dFineWhole, 100.0));
    return steps;
}

// The value as it was most likely written (the shortest decimal that reads back as the same
// double: 0.29, not 0.28999999999999998) truncated to five decimals, in hundred-thousandths.
// False for magnitudes of 10^12 and more, which are far past what a record holds anyway.
bool GetWrittenHundredThousandths(double dValue, int64_t* pnScaled)
{
    if (!std::isfinite(dValue) || std::fabs(dValue) >= 1e12)
        return false;
    // Room for the longest fixed form of a double below 10^12: the smallest subnormal has
    // 324 decimals.
    char szText[400];
    const auto [pEnd, ec] = std::to_chars(szText, szText + sizeof szText, dValue, std::chars_format::fixed);
    if (ec != std::errc())
        return false;
    const char* p = szText;
    const bool bNegative = p < pEnd && *p == '-';
    if (bNegative)
        ++p;
    int64_t nScaled = 0;
    for (; p < pEnd && *p != '.'; ++p)
        nScaled = nScaled * 10 + (*p - '0');
    if (p < pEnd)
        ++p;
    for (int i = 0; i < 5; ++i)
        nScaled = nScaled * 10 + (p < pEnd ? *p++ - '0' : 0);
    *pnScaled = bNegative ? -nScaled : nScaled;
    return true;
}

} // namespace

CDecimalParts EncodeDecimalValue(double dValue)
{
    const CDecimalSteps steps = RunDecimalSteps(dValue);
    // Only the low 16 and 8 bits are kept (two's complement): 70500 becomes 4964.
    return CDecimalParts{
        static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(steps.nCoarseRemainder) & 0xFFFFu)),
        static_cast<int8_t>(static_cast<uint8_t>(static_cast<uint32_t>(steps.nFineRemainder) & 0xFFu))};
}

uint8_t EncodeByteValue(int32_t nValue)
{
    return static_cast<uint8_t>(static_cast<uint32_t>(nValue) & 0xFFu);
}

uint16_t EncodeWordValue(int32_t nValue)
{
    return static_cast<uint16_t>(static_cast<uint32_t>(nValue) & 0xFFFFu);
}

void BuildPatternRecord(const CPatternValues& values, uint8_t abRecord[PATTERN_RECORD_SIZE])
{
    size_t nPos = 0;
    auto put = [&](uint8_t nByte) { abRecord[nPos++] = static_cast<uint8_t>(nByte ^ RECORD_MASK); };
    auto putDecimal = [&](double dValue) {
        CDecimalParts parts = EncodeDecimalValue(dValue);
        uint16_t nCoarse = static_cast<uint16_t>(parts.nCoarse);
        put(static_cast<uint8_t>(nCoarse >> 8));
        put(static_cast<uint8_t>(nCoarse & 0xFF));
        put(static_cast<uint8_t>(parts.nFine));
    };

    abRecord[nPos++] = RECORD_START_MARKER;
    putDecimal(values.dFirst);
    putDecimal(values.dSecond);
    put(EncodeByteValue(values.nFirst));
    put(EncodeByteValue(values.nSecond));
    uint16_t nThird = EncodeWordValue(values.nThird);
    put(static_cast<uint8_t>(nThird >> 8));
    put(static_cast<uint8_t>(nThird & 0xFF));
    abRecord[nPos++] = RECORD_END_MARKER;
}

bool DecodePatternRecord(const uint8_t* pRecord, size_t nLength, CDecodedRecord* pOut, std::string* pstrError)
{
    auto fail = [&](const std::string& strReason) {
        if (pstrError != nullptr)
            *pstrError = strReason;
        return false;
    };
    if (pRecord == nullptr || nLength != PATTERN_RECORD_SIZE)
        return fail("a pattern record is 12 bytes long, not " + std::to_string(pRecord == nullptr ? 0 : nLength));
    char szMarker[8];
    if (pRecord[0] != RECORD_START_MARKER) {
        std::snprintf(szMarker, sizeof szMarker, "0x%02X", pRecord[0]);
        return fail(std::string("the record starts with ") + szMarker + " instead of the start marker 0xC1");
    }
    if (pRecord[PATTERN_RECORD_SIZE - 1] != RECORD_END_MARKER) {
        std::snprintf(szMarker, sizeof szMarker, "0x%02X", pRecord[PATTERN_RECORD_SIZE - 1]);
        return fail(std::string("the record ends with ") + szMarker + " instead of the end marker 0xC3");
    }

    auto byteAt = [&](size_t nOffset) { return static_cast<uint8_t>(pRecord[nOffset] ^ RECORD_MASK); };
    auto wordAt = [&](size_t nOffset) { return static_cast<uint16_t>((byteAt(nOffset) << 8) | byteAt(nOffset + 1)); };

    CDecodedRecord rec{};
    rec.nFirstCoarse = static_cast<int16_t>(wordAt(1));
    rec.nFirstFine = static_cast<int8_t>(byteAt(3));
    rec.nSecondCoarse = static_cast<int16_t>(wordAt(4));
    rec.nSecondFine = static_cast<int8_t>(byteAt(6));
    rec.nFirst = byteAt(7);
    rec.nSecond = byteAt(8);
    rec.nThird = wordAt(9);
    rec.dFirst = rec.nFirstCoarse / 1000.0 + rec.nFirstFine / 100000.0;
    rec.dSecond = rec.nSecondCoarse / 1000.0 + rec.nSecondFine / 100000.0;
    *pOut = rec;
    return true;
}

std::vector<CValueChange> FindValueChanges(const CPatternValues& values)
{
    uint8_t abRecord[PATTERN_RECORD_SIZE];
    BuildPatternRecord(values, abRecord);
    CDecodedRecord rec{};
    DecodePatternRecord(abRecord, sizeof abRecord, &rec, nullptr); // a record just built has its markers

    std::vector<CValueChange> changes;
    auto checkDecimal = [&changes](int nField, double dWritten, int16_t nCoarse, int8_t nFine) {
        const int64_t nStored = int64_t{nCoarse} * 100 + nFine;
        int64_t nWritten = 0;
        const bool bKnown = GetWrittenHundredThousandths(dWritten, &nWritten);
        if (bKnown && nWritten == nStored)
            return;
        CValueChange change;
        change.nField = nField;
        change.dWritten = dWritten;
        change.nStored = nStored;
        const CDecimalSteps steps = RunDecimalSteps(dWritten);
        // Beyond 10^12 the products may not even be finite; the hundreds are gone all the same.
        if (!bKnown || steps.dCoarseWhole != steps.nCoarseRemainder)
            change.nLosses |= VALUE_LOSS_HUNDREDS;
        if (steps.nCoarseRemainder < std::numeric_limits<int16_t>::min() ||
            steps.nCoarseRemainder > std::numeric_limits<int16_t>::max())
            change.nLosses |= VALUE_LOSS_COARSE_BITS;
        if (bKnown) {
            // The exact products of the written value are nWritten and nWritten / 100, both
            // truncated toward zero; where the encoder's double products truncate to anything
            // else, double precision moved them across a whole number.
            if (steps.dFineWhole != static_cast<double>(nWritten)) {
                change.nLosses |= VALUE_LOSS_TRUNCATION;
                change.dProduct = steps.dFineProduct;
                change.dFactor = 100000.0;
            } else if (steps.dCoarseWhole != static_cast<double>(nWritten / 100)) {
                change.nLosses |= VALUE_LOSS_TRUNCATION;
                change.dProduct = steps.dCoarseProduct;
                change.dFactor = 1000.0;
            }
            change.nIntended = nWritten;
            change.bIntendedFits = nWritten / 100 >= std::numeric_limits<int16_t>::min() &&
                                   nWritten / 100 <= std::numeric_limits<int16_t>::max();
        }
        changes.push_back(change);
    };
    auto checkInteger = [&changes](int nField, int32_t nWritten, int64_t nStored) {
        if (nWritten == nStored)
            return;
        CValueChange change;
        change.nField = nField;
        change.nLosses = VALUE_LOSS_LOW_BITS;
        change.nWritten = nWritten;
        change.nStored = nStored;
        changes.push_back(change);
    };
    checkDecimal(0, values.dFirst, rec.nFirstCoarse, rec.nFirstFine);
    checkDecimal(1, values.dSecond, rec.nSecondCoarse, rec.nSecondFine);
    checkInteger(2, values.nFirst, rec.nFirst);
    checkInteger(3, values.nSecond, rec.nSecond);
    checkInteger(4, values.nThird, rec.nThird);
    return changes;
}

bool CheckPatternRecords(const uint8_t* pData, size_t nLength, CPatternMarkerFault* pFault)
{
    for (size_t nOffset = 0; pData != nullptr && nLength - nOffset >= PATTERN_RECORD_SIZE;
         nOffset += PATTERN_RECORD_SIZE) {
        const uint8_t nStart = pData[nOffset];
        const uint8_t nEnd = pData[nOffset + PATTERN_RECORD_SIZE - 1];
        if (nStart == RECORD_START_MARKER && nEnd == RECORD_END_MARKER)
            continue;
        CPatternMarkerFault fault;
        fault.nRecord = nOffset / PATTERN_RECORD_SIZE + 1;
        fault.nOffset = nOffset;
        fault.bEndMarker = nStart == RECORD_START_MARKER;
        fault.nFound = fault.bEndMarker ? nEnd : nStart;
        fault.nExpected = fault.bEndMarker ? RECORD_END_MARKER : RECORD_START_MARKER;
        if (pFault != nullptr)
            *pFault = fault;
        return false;
    }
    return true;
}

std::string DescribePatternMarkerFault(const std::string& strPath, const CPatternMarkerFault& fault)
{
    char szText[160];
    std::snprintf(szText, sizeof szText,
                  " is not a pattern file: record %llu (byte %llu) %s with 0x%02X instead of the %s marker 0x%02X.",
                  static_cast<unsigned long long>(fault.nRecord), static_cast<unsigned long long>(fault.nOffset),
                  fault.bEndMarker ? "ends" : "starts", fault.nFound, fault.bEndMarker ? "end" : "start",
                  fault.nExpected);
    return EscapeForTerminal(strPath) + szText;
}
