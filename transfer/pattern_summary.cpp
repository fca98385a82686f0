#include "transfer/pattern_summary.h"

#include <algorithm>

namespace {

// The values of the records seen so far. The integer fields are counted in a table of every
// value they can take (i3 has 65536), so that a file of any length costs one pass.
class CValueTally {
public:
    CValueTally() : m_abSeen{std::vector<bool>(256), std::vector<bool>(256), std::vector<bool>(65536)} {}

    void Add(const CDecodedRecord& rec)
    {
        const int64_t nX = int64_t{rec.nFirstCoarse} * 100 + rec.nFirstFine;
        const int64_t nY = int64_t{rec.nSecondCoarse} * 100 + rec.nSecondFine;
        if (m_nCount == 0) {
            m_nMinX = m_nMaxX = nX;
            m_nMinY = m_nMaxY = nY;
        }
        m_nMinX = std::min(m_nMinX, nX);
        m_nMaxX = std::max(m_nMaxX, nX);
        m_nMinY = std::min(m_nMinY, nY);
        m_nMaxY = std::max(m_nMaxY, nY);
        m_abSeen[0][rec.nFirst] = true;
        m_abSeen[1][rec.nSecond] = true;
        m_abSeen[2][rec.nThird] = true;
        ++m_nCount;
    }

    void Fill(CPatternFileSummary* pSummary) const
    {
        pSummary->nMinX = m_nMinX;
        pSummary->nMaxX = m_nMaxX;
        pSummary->nMinY = m_nMinY;
        pSummary->nMaxY = m_nMaxY;
        for (size_t nField = 0; nField < 3; ++nField) {
            CIntegerFieldSummary& field = pSummary->aIntegers[nField];
            field = CIntegerFieldSummary();
            const std::vector<bool>& abSeen = m_abSeen[nField];
            for (uint32_t nValue = 0; nValue < abSeen.size(); ++nValue) {
                if (!abSeen[nValue])
                    continue;
                if (field.nDistinct == 0)
                    field.nMin = nValue;
                field.nMax = nValue;
                if (++field.nDistinct <= PATTERN_LISTED_VALUES)
                    field.anValues.push_back(nValue);
            }
            if (field.nDistinct > PATTERN_LISTED_VALUES)
                field.anValues.clear();
        }
    }

private:
    uint64_t m_nCount = 0;
    int64_t m_nMinX = 0;
    int64_t m_nMaxX = 0;
    int64_t m_nMinY = 0;
    int64_t m_nMaxY = 0;
    std::vector<bool> m_abSeen[3];
};

} // namespace

CPatternFileSummary SummarisePatternFile(const uint8_t* pData, size_t nLength)
{
    CPatternFileSummary summary;
    if (pData == nullptr)
        nLength = 0;
    summary.nBytes = nLength;
    summary.nRecords = nLength / PATTERN_RECORD_SIZE;
    summary.nTrailingBytes = nLength % PATTERN_RECORD_SIZE;
    // The verdict and the first fault are the transfer's own; the count of damaged records
    // comes from the decoder, which refuses the same markers.
    summary.bMarkersGood = CheckPatternRecords(pData, nLength, &summary.firstFault);
    CValueTally tally;
    for (uint64_t i = 0; i < summary.nRecords; ++i) {
        CDecodedRecord rec{};
        if (DecodePatternRecord(pData + i * PATTERN_RECORD_SIZE, PATTERN_RECORD_SIZE, &rec, nullptr))
            tally.Add(rec);
        else
            ++summary.nDamagedRecords;
    }
    tally.Fill(&summary);
    return summary;
}

CPatternFileSummary SummarisePatternRecords(const std::vector<CDecodedRecord>& records)
{
    CPatternFileSummary summary;
    summary.nBytes = records.size() * PATTERN_RECORD_SIZE;
    summary.nRecords = records.size();
    CValueTally tally;
    for (const CDecodedRecord& rec : records)
        tally.Add(rec);
    tally.Fill(&summary);
    return summary;
}

std::vector<CDecodedRecord> DecodePatternRecords(const uint8_t* pData, size_t nLength)
{
    std::vector<CDecodedRecord> records;
    if (pData == nullptr)
        return records;
    records.reserve(nLength / PATTERN_RECORD_SIZE);
    for (size_t nOffset = 0; nLength - nOffset >= PATTERN_RECORD_SIZE; nOffset += PATTERN_RECORD_SIZE) {
        CDecodedRecord rec{};
        if (DecodePatternRecord(pData + nOffset, PATTERN_RECORD_SIZE, &rec, nullptr))
            records.push_back(rec);
    }
    return records;
}

std::vector<CDecodedRecord> DecodePatternRows(const std::vector<CPatternValues>& rows)
{
    std::vector<CDecodedRecord> records(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        uint8_t abRecord[PATTERN_RECORD_SIZE];
        BuildPatternRecord(rows[i], abRecord);
        DecodePatternRecord(abRecord, sizeof abRecord, &records[i], nullptr);
    }
    return records;
}
