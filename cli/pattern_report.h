#pragma once
// matrixctl pattern's English sentences for what the pattern part finds: a value the record
// does not keep as written, what a pattern file holds, the caption of its picture.

#include <string>
#include <vector>

#include "transfer/pattern.h"
#include "transfer/pattern_summary.h"

// "x 121.45 is stored as 21.45 (only the last two integer digits are kept)", without the file
// and line in front.
std::string DescribeValueChange(const CValueChange& change);

// The lines `pattern check` prints for the file strPath: its records, the first damaged one,
// the bytes after the last record, the values' ranges.
std::string DescribePatternSummary(const std::string& strPath, const CPatternFileSummary& summary);

// The sentence for a file the transfer would not take whole (empty, shorter than a record, a
// wrong marker, a piece of a record at its end); empty for a good file.
std::string DescribePatternFault(const std::string& strPath, const CPatternFileSummary& summary);

// The caption under the picture of strPath: its name and records, then the values' extent.
std::vector<std::string> WordPictureCaption(const std::string& strPath, const CPatternFileSummary& summary);
