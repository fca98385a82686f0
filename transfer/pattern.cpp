#include "transfer/pattern.h"

#include "text/printable.h"

#include <cmath>
#include <cstdio>

namespace {

// The remainder of trunc(dValue * dScale) divided by dModulus, with the sign of the product.
// fmod is exact, so this equals the integer remainder wherever that is defined and stays
// defined where an integer conversion of the product would overflow.
int32_t TruncatedRemainder(double dValue, double dScale, double dModulus)
{
    double dProduct = std::trunc(dValue * dScale);
    if (!std::isfinite(dProduct))
        return 0;
    return static_cast<int32_t>(std::fmod(dProduct, dModulus));
}

} // namespace

CDecimalParts EncodeDecimalValue(double dValue)
{
    int32_t nCoarse = TruncatedRemainder(dValue, 1000.0, 100000.0);
    int32_t nFine = TruncatedRemainder(dValue, 100000.0, 100.0);
    // Only the low 16 and 8 bits are kept (two's complement): 70500 becomes 4964.
    return CDecimalParts{static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(nCoarse) & 0xFFFFu)),
                         static_cast<int8_t>(static_cast<uint8_t>(static_cast<uint32_t>(nFine) & 0xFFu))};
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
