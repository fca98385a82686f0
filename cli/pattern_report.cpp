#include "cli/pattern_report.h"

#include <charconv>
#include <cmath>

#include "cli/cli_output.h"
#include "text/printable.h"
#include "transfer/pattern_csv.h"

namespace {

// A double as a person wrote it: the shortest decimal that reads back as the same number, in
// plain notation where that stays short (0.00001, not 1e-05).
std::string FormatWritten(double dValue)
{
    char szText[400];
    const auto [pEnd, ec] = std::fabs(dValue) < 1e15
                                ? std::to_chars(szText, szText + sizeof szText, dValue, std::chars_format::fixed)
                                : std::to_chars(szText, szText + sizeof szText, dValue);
    return ec == std::errc() ? std::string(szText, pEnd) : std::string("?");
}

std::string Plural(uint64_t nCount, const char* pszOne, const char* pszMany)
{
    return std::to_string(nCount) + " " + (nCount == 1 ? pszOne : pszMany);
}

// The name a caption or a title shows: the file's own name, without its folders.
std::string LeafName(const std::string& strPath)
{
    const size_t nSlash = strPath.find_last_of("/\\");
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

std::string DescribeRange(int64_t nMin, int64_t nMax)
{
    return nMin == nMax ? FormatHundredThousandths(nMin)
                        : FormatHundredThousandths(nMin) + " to " + FormatHundredThousandths(nMax);
}

std::string DescribeIntegerField(const CIntegerFieldSummary& field)
{
    if (field.anValues.empty())
        return std::to_string(field.nDistinct) + " values from " + std::to_string(field.nMin) + " to " +
               std::to_string(field.nMax);
    std::string strText;
    for (uint32_t nValue : field.anValues)
        strText += (strText.empty() ? "" : ", ") + std::to_string(nValue);
    return strText;
}

} // namespace

std::string DescribeValueChange(const CValueChange& change)
{
    const bool bDecimal = change.nField < 2;
    const std::string strWritten = bDecimal ? FormatWritten(change.dWritten) : std::to_string(change.nWritten);
    const std::string strStored = bDecimal ? FormatHundredThousandths(change.nStored) : std::to_string(change.nStored);
    std::vector<std::string> astrWhy;
    if ((change.nLosses & VALUE_LOSS_HUNDREDS) != 0)
        astrWhy.emplace_back("only the last two integer digits are kept");
    if ((change.nLosses & VALUE_LOSS_COARSE_BITS) != 0)
        astrWhy.emplace_back("values from 32.768 up and from -32.769 down do not fit the record's 16 bits");
    if ((change.nLosses & VALUE_LOSS_TRUNCATION) != 0) {
        char szProduct[64];
        const auto [pEnd, ec] = std::to_chars(szProduct, szProduct + sizeof szProduct, change.dProduct);
        std::string strWhy = "in double precision " + strWritten + " times " + (change.dFactor == 1000.0 ? "1000" : "100000") +
                             " is " + std::string(szProduct, ec == std::errc() ? pEnd : szProduct) +
                             ", and the format truncates rather than rounds";
        // Alone, the loss has a cure: a sixth decimal 5 keeps the truncation on the right side.
        if (change.nLosses == VALUE_LOSS_TRUNCATION && change.bIntendedFits) {
            const std::string strIntended = FormatHundredThousandths(change.nIntended);
            const std::string strCure =
                FormatDecimalField(static_cast<int16_t>(change.nIntended / 100), static_cast<int8_t>(change.nIntended % 100));
            if (strCure != strIntended)
                strWhy += "; write " + strCure + " to store " + strIntended;
        }
        astrWhy.push_back(strWhy);
    }
    if ((change.nLosses & VALUE_LOSS_LOW_BITS) != 0)
        astrWhy.emplace_back(change.nField == 4 ? "only the low 16 bits are kept, a number from 0 to 65535"
                                                : "only the low 8 bits are kept, a number from 0 to 255");
    if (astrWhy.empty())
        astrWhy.emplace_back("the record cannot hold it");
    std::string strWhy;
    for (const std::string& strPart : astrWhy)
        strWhy += (strWhy.empty() ? "" : "; ") + strPart;
    return std::string(PATTERN_FIELD_NAMES[change.nField]) + " " + strWritten + " is stored as " + strStored + " (" +
           strWhy + ")";
}

std::string DescribePatternFault(const std::string& strPath, const CPatternFileSummary& summary)
{
    const std::string strName = EscapeForTerminal(strPath);
    if (summary.nBytes == 0)
        return strName + " is empty: it holds no pattern record.";
    if (summary.nRecords == 0)
        return FormatText("%s has only %llu bytes, less than one 12-byte record.", strName.c_str(),
                          static_cast<unsigned long long>(summary.nBytes));
    if (!summary.bMarkersGood)
        return DescribePatternMarkerFault(strPath, summary.firstFault);
    if (summary.nTrailingBytes != 0)
        return FormatText("%s ends with a partial record of %llu bytes after record %llu; send leaves it out.",
                          strName.c_str(), static_cast<unsigned long long>(summary.nTrailingBytes),
                          static_cast<unsigned long long>(summary.nRecords));
    return std::string();
}

std::string DescribePatternSummary(const std::string& strPath, const CPatternFileSummary& summary)
{
    std::string strText;
    auto line = [&strText](const char* pszLabel, const std::string& strValue) {
        strText += FormatText("%-17s%s\n", pszLabel, strValue.c_str());
    };
    line("file:", EscapeForTerminal(strPath));
    line("records:", FormatText("%llu (%s)", static_cast<unsigned long long>(summary.nRecords),
                                Plural(summary.nBytes, "byte", "bytes").c_str()));
    if (summary.bMarkersGood) {
        line("first damaged:", "none");
    } else {
        const CPatternMarkerFault& fault = summary.firstFault;
        line("first damaged:", FormatText("record %llu (byte %llu) %s with 0x%02X instead of 0x%02X",
                                          static_cast<unsigned long long>(fault.nRecord),
                                          static_cast<unsigned long long>(fault.nOffset),
                                          fault.bEndMarker ? "ends" : "starts", fault.nFound, fault.nExpected));
        line("damaged records:", std::to_string(summary.nDamagedRecords));
    }
    line("trailing bytes:", summary.nTrailingBytes == 0
                                ? std::string("none")
                                : FormatText("%llu after record %llu (not sent)",
                                             static_cast<unsigned long long>(summary.nTrailingBytes),
                                             static_cast<unsigned long long>(summary.nRecords)));
    const uint64_t nWhole = summary.nRecords - summary.nDamagedRecords;
    if (nWhole == 0)
        return strText;
    if (summary.nDamagedRecords != 0)
        strText += "of the " + Plural(nWhole, "record", "records") + " with both markers right:\n";
    line("x:", DescribeRange(summary.nMinX, summary.nMaxX));
    line("y:", DescribeRange(summary.nMinY, summary.nMaxY));
    for (size_t i = 0; i < 3; ++i)
        line((std::string(PATTERN_FIELD_NAMES[2 + i]) + ":").c_str(), DescribeIntegerField(summary.aIntegers[i]));
    return strText;
}

std::vector<std::string> WordPictureCaption(const std::string& strPath, const CPatternFileSummary& summary)
{
    const uint64_t nWhole = summary.nRecords - summary.nDamagedRecords;
    std::vector<std::string> astrLines{LeafName(strPath) + ": " + Plural(nWhole, "record", "records")};
    if (nWhole != 0)
        astrLines.push_back("x " + DescribeRange(summary.nMinX, summary.nMaxX) + ", y " +
                            DescribeRange(summary.nMinY, summary.nMaxY));
    return astrLines;
}
