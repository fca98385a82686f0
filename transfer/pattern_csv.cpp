#include "transfer/pattern_csv.h"

#include "text/printable.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr size_t FIELD_COUNT = 5;

std::string_view TrimField(std::string_view sv)
{
    while (!sv.empty() && (sv.front() == ' ' || sv.front() == '\t'))
        sv.remove_prefix(1);
    while (!sv.empty() && (sv.back() == ' ' || sv.back() == '\t' || sv.back() == '\r'))
        sv.remove_suffix(1);
    return sv;
}

// from_chars does not take a leading '+', which people and spreadsheets write.
std::string_view WithoutPlus(std::string_view sv)
{
    if (sv.size() > 1 && sv.front() == '+' && sv[1] != '-' && sv[1] != '+')
        sv.remove_prefix(1);
    return sv;
}

bool ParseWholeDouble(std::string_view svField, double* pdValue)
{
    svField = WithoutPlus(svField);
    if (svField.empty())
        return false;
    auto [pEnd, ec] = std::from_chars(svField.data(), svField.data() + svField.size(), *pdValue);
    return ec == std::errc() && pEnd == svField.data() + svField.size();
}

std::vector<std::string_view> SplitFields(std::string_view svLine, char chSeparator)
{
    std::vector<std::string_view> fields;
    for (;;) {
        size_t nAt = svLine.find(chSeparator);
        fields.push_back(TrimField(svLine.substr(0, nAt)));
        if (nAt == std::string_view::npos)
            break;
        svLine.remove_prefix(nAt + 1);
    }
    return fields;
}

constexpr char g_achSeparators[] = {',', ';', '\t'};

// A row's fields by the separator that gives five of them; when none does, by the one that
// gives the most (a comma on a tie), so that the refusal names the fields as they were meant.
// Every field must be a number, so a separator cannot be mistaken: in "1,5;2;3;4;5" the
// semicolons give five fields and "1,5" is then refused as no number.
std::vector<std::string_view> SplitRow(std::string_view svLine, char* pchSeparator)
{
    std::vector<std::string_view> best;
    for (char chSeparator : g_achSeparators) {
        std::vector<std::string_view> fields = SplitFields(svLine, chSeparator);
        if (fields.size() > best.size()) {
            best = std::move(fields);
            *pchSeparator = chSeparator;
        }
        if (best.size() == FIELD_COUNT)
            break;
    }
    return best;
}

// Fields are quoted in messages; a very long one is shortened so the message stays a line, and
// control characters are escaped so that the file cannot write to the terminal.
std::string QuoteField(std::string_view svField)
{
    constexpr size_t MAX_SHOWN = 40;
    std::string strQuoted = "\"";
    strQuoted += EscapeForTerminal(svField.substr(0, MAX_SHOWN));
    strQuoted += svField.size() > MAX_SHOWN ? "...\"" : "\"";
    return strQuoted;
}

bool ParseDecimalField(std::string_view svField, size_t nIndex, double* pdValue, std::string* pstrReason)
{
    std::string strName = "field " + std::to_string(nIndex + 1) + " (" + PATTERN_FIELD_NAMES[nIndex] + ")";
    std::string_view svNumber = WithoutPlus(svField);
    double dValue = 0;
    auto [pEnd, ec] = std::from_chars(svNumber.data(), svNumber.data() + svNumber.size(), dValue);
    bool bWhole = !svNumber.empty() && pEnd == svNumber.data() + svNumber.size();
    if (ec == std::errc::result_out_of_range && bWhole) {
        *pstrReason = strName + " is beyond the range of a decimal number: " + QuoteField(svField);
        return false;
    }
    if (ec != std::errc() || !bWhole) {
        *pstrReason = svField.empty() ? strName + " is empty" : strName + " is not a number: " + QuoteField(svField);
        // A spreadsheet set to a decimal comma writes 1,5 between semicolons.
        std::string strPoint(svField);
        std::replace(strPoint.begin(), strPoint.end(), ',', '.');
        double dIgnored = 0;
        if (strPoint != svField && ParseWholeDouble(strPoint, &dIgnored))
            *pstrReason += " (the decimal point must be '.')";
        return false;
    }
    if (!std::isfinite(dValue)) {
        *pstrReason = strName + " is not a finite number: " + QuoteField(svField);
        return false;
    }
    *pdValue = dValue;
    return true;
}

bool ParseIntegerField(std::string_view svField, size_t nIndex, int32_t* pnValue, std::string* pstrReason)
{
    std::string strName = "field " + std::to_string(nIndex + 1) + " (" + PATTERN_FIELD_NAMES[nIndex] + ")";
    if (svField.empty()) {
        *pstrReason = strName + " is empty";
        return false;
    }
    std::string_view svDigits = WithoutPlus(svField);
    int64_t nValue = 0;
    auto [pEnd, ec] = std::from_chars(svDigits.data(), svDigits.data() + svDigits.size(), nValue);
    bool bWhole = pEnd == svDigits.data() + svDigits.size();
    if (ec == std::errc::result_out_of_range ||
        (ec == std::errc() && bWhole &&
         (nValue < std::numeric_limits<int32_t>::min() || nValue > std::numeric_limits<int32_t>::max()))) {
        *pstrReason = strName + " is outside the 32-bit signed integer range: " + QuoteField(svField);
        return false;
    }
    if (ec != std::errc() || !bWhole) {
        double dIgnored = 0;
        *pstrReason = ParseWholeDouble(svField, &dIgnored)
                          ? strName + " is not a whole number: " + QuoteField(svField)
                          : strName + " is not a number: " + QuoteField(svField);
        return false;
    }
    *pnValue = static_cast<int32_t>(nValue);
    return true;
}

bool ParseRow(const std::vector<std::string_view>& fields, char chSeparator, CPatternValues* pRow,
              std::string* pstrReason)
{
    if (fields.size() != FIELD_COUNT) {
        const char* pszFields = chSeparator == ';'    ? "x;y;i1;i2;i3"
                                : chSeparator == '\t' ? "x, y, i1, i2, i3 separated by tabs"
                                                      : "x,y,i1,i2,i3";
        *pstrReason = std::string("expected 5 fields (") + pszFields + "), found " + std::to_string(fields.size());
        return false;
    }
    return ParseDecimalField(fields[0], 0, &pRow->dFirst, pstrReason) &&
           ParseDecimalField(fields[1], 1, &pRow->dSecond, pstrReason) &&
           ParseIntegerField(fields[2], 2, &pRow->nFirst, pstrReason) &&
           ParseIntegerField(fields[3], 3, &pRow->nSecond, pstrReason) &&
           ParseIntegerField(fields[4], 4, &pRow->nThird, pstrReason);
}

bool IsHeader(const std::vector<std::string_view>& fields)
{
    for (std::string_view svField : fields) {
        double dIgnored = 0;
        if (ParseWholeDouble(svField, &dIgnored))
            return false;
    }
    return true;
}

// N / 100000 in plain decimal notation; with bNudge a sixth decimal 5 is added, moving the
// value half a unit of the fifth decimal away from zero.
std::string FormatScaled(int64_t nScaled, bool bNudge)
{
    uint64_t nMagnitude = nScaled < 0 ? static_cast<uint64_t>(-nScaled) : static_cast<uint64_t>(nScaled);
    std::string strFraction = std::to_string(nMagnitude % 100000);
    strFraction.insert(0, 5 - strFraction.size(), '0');
    if (bNudge)
        strFraction += '5';
    else
        while (!strFraction.empty() && strFraction.back() == '0')
            strFraction.pop_back();
    std::string strText = nScaled < 0 ? "-" : "";
    strText += std::to_string(nMagnitude / 100000);
    if (!strFraction.empty())
        strText += "." + strFraction;
    return strText;
}

bool EncodesTo(const std::string& strText, int16_t nCoarse, int8_t nFine)
{
    double dValue = 0;
    if (!ParseWholeDouble(strText, &dValue))
        return false;
    CDecimalParts parts = EncodeDecimalValue(dValue);
    return parts.nCoarse == nCoarse && parts.nFine == nFine;
}

} // namespace

bool ReadPatternCsv(std::string_view svText, std::vector<CPatternValues>* pRows, std::string* pstrError,
                    std::vector<size_t>* pLines)
{
    pRows->clear();
    if (pLines != nullptr)
        pLines->clear();
    if (svText.substr(0, 3) == "\xEF\xBB\xBF")  // spreadsheets often start their CSV with a byte order mark
        svText.remove_prefix(3);
    size_t nLine = 0;
    bool bSeenRow = false;
    while (!svText.empty()) {
        ++nLine;
        size_t nNewline = svText.find('\n');
        std::string_view svLine = svText.substr(0, nNewline);
        svText.remove_prefix(nNewline == std::string_view::npos ? svText.size() : nNewline + 1);

        std::string_view svContent = TrimField(svLine);
        if (svContent.empty() || svContent.front() == '#')
            continue;
        char chSeparator = ',';
        std::vector<std::string_view> fields = SplitRow(svContent, &chSeparator);
        if (!bSeenRow) {
            bSeenRow = true;
            if (IsHeader(fields))
                continue;
        }
        CPatternValues row{};
        std::string strReason;
        if (!ParseRow(fields, chSeparator, &row, &strReason)) {
            pRows->clear();
            if (pLines != nullptr)
                pLines->clear();
            if (pstrError != nullptr)
                *pstrError = std::to_string(nLine) + ": " + strReason;
            return false;
        }
        pRows->push_back(row);
        if (pLines != nullptr)
            pLines->push_back(nLine);
    }
    return true;
}

std::string FormatHundredThousandths(int64_t nScaled)
{
    return FormatScaled(nScaled, false);
}

std::string FormatDecimalField(int16_t nCoarse, int8_t nFine)
{
    // The coarse part kept only 16 bits: 40000 came back as -25536. Of the values that leave
    // the same 16 bits, the one with the fine part's sign is the one an encoder can have seen.
    int64_t nCoarseValue = nCoarse;
    if (nFine > 0 && nCoarseValue < 0 && nCoarseValue + 65536 <= 99999)
        nCoarseValue += 65536;
    else if (nFine < 0 && nCoarseValue > 0 && nCoarseValue - 65536 >= -99999)
        nCoarseValue -= 65536;
    int64_t nScaled = nCoarseValue * 100 + nFine;

    std::string strExact = FormatScaled(nScaled, false);
    if (EncodesTo(strExact, nCoarse, nFine))
        return strExact;
    std::string strNudged = FormatScaled(nScaled, true);
    if (EncodesTo(strNudged, nCoarse, nFine))
        return strNudged;
    return strExact;
}

std::string FormatPatternCsvRow(const CDecodedRecord& rec)
{
    return FormatDecimalField(rec.nFirstCoarse, rec.nFirstFine) + "," +
           FormatDecimalField(rec.nSecondCoarse, rec.nSecondFine) + "," + std::to_string(rec.nFirst) + "," +
           std::to_string(rec.nSecond) + "," + std::to_string(rec.nThird);
}
