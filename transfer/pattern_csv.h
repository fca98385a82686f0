#pragma once
// Pattern records as CSV text, one record per row: x,y,i1,i2,i3 (the two decimal values,
// then the three integer values). The fields of a row are separated by commas, semicolons or
// tabs, as spreadsheets export them. An optional header line, blank lines and lines starting
// with '#' are allowed. Numbers are read the same way in every locale: '.' is the decimal
// point.

#include <string>
#include <string_view>
#include <vector>

#include "transfer/pattern.h"

constexpr const char* PATTERN_CSV_HEADER = "x,y,i1,i2,i3";

// Reads every row of svText into *pRows, and the line of each into *pLines when given. Stops at
// the first bad row: false, *pRows (and *pLines) empty and *pstrError "LINE: reason" (LINE
// counts from 1 over all lines, blank ones included). Each row has its own separator: the one
// of comma, semicolon and tab that splits it into five fields. A first row in which no field
// is a number is taken as the header. A row is bad when it does not have five fields, a field
// is not a number, a decimal is NaN or infinite, or an integer is not a whole number within
// 32-bit signed range.
bool ReadPatternCsv(std::string_view svText, std::vector<CPatternValues>* pRows, std::string* pstrError,
                    std::vector<size_t>* pLines = nullptr);

// A decimal given in hundred-thousandths (as a record's coarse part times 100 plus its fine
// part), in plain decimal notation without trailing zeros: 2145000 is "21.45".
std::string FormatHundredThousandths(int64_t nScaled);

// The CSV text of a decimal value's surviving parts, chosen so that reading it back and
// encoding it gives the same parts again: the exact value where that works, otherwise the
// exact value with a sixth decimal 5 that keeps truncation on the right side. Parts that no
// value encodes to (a fine part past +-99) are written as their plain sum.
std::string FormatDecimalField(int16_t nCoarse, int8_t nFine);

// One CSV row, without a line end, for a decoded record; integers are written as the
// unsigned bytes that survive.
std::string FormatPatternCsvRow(const CDecodedRecord& rec);
