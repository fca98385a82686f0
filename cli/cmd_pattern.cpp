// matrixctl pattern: converts pattern records between CSV rows and the binary pattern file,
// checks a pattern file, and draws its picture.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_output.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/pattern_report.h"
#include "cli/pattern_svg.h"
#include "platform/printable.h"
#include "platform/file_util.h"
#include "transfer/pattern.h"
#include "transfer/pattern_csv.h"
#include "transfer/pattern_picture.h"
#include "transfer/pattern_summary.h"

namespace {

// Far more than any pattern file or its CSV holds; keeps a wrong argument such as /dev/zero
// from filling the memory.
constexpr size_t MAX_INPUT_BYTES = 256u * 1024 * 1024;

// More lines than this would bury the first ones: the rest are counted.
constexpr size_t MAX_CHANGES_SHOWN = 20;

// True when strOut names the file strIn already is (the same path, another spelling of it, or
// a link to it): writing there would replace the input with what was made of it.
bool NamesInputFile(const std::string& strIn, const std::string& strOut)
{
    auto toPath = [](const std::string& strPath) { return std::filesystem::path(std::u8string(strPath.begin(), strPath.end())); };
    std::error_code ec;
    return std::filesystem::equivalent(toPath(strIn), toPath(strOut), ec) && !ec;
}

bool RefuseOutputOverInput(const std::string& strIn, const std::string& strOut)
{
    if (!NamesInputFile(strIn, strOut))
        return false;
    PrintError("%s is the file being read; give another output file.\n", EscapeForTerminal(strOut).c_str());
    return true;
}

// Reads a CSV file of pattern rows; false after the refusal was said.
bool ReadCsvRows(const std::string& strIn, std::vector<CPatternValues>* pRows, std::vector<size_t>* pLines)
{
    std::vector<uint8_t> text;
    std::string strError;
    if (!ReadWholeFile(strIn, &text, &strError, MAX_INPUT_BYTES)) {
        PrintError("%s\n", strError.c_str());
        return false;
    }
    std::string_view svText(reinterpret_cast<const char*>(text.data()), text.size());
    if (!ReadPatternCsv(svText, pRows, &strError, pLines)) {
        PrintError("%s:%s\n", EscapeForTerminal(strIn).c_str(), strError.c_str());
        return false;
    }
    return true;
}

// Says, one line each, the values that the records will not give back as written (the first
// MAX_CHANGES_SHOWN, then how many more); returns how many there are.
size_t ReportValueChanges(const std::string& strIn, const std::vector<CPatternValues>& rows,
                          const std::vector<size_t>& lines, size_t* pnRows)
{
    const std::string strName = EscapeForTerminal(strIn);
    size_t nChanges = 0;
    *pnRows = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::vector<CValueChange> changes = FindValueChanges(rows[i]);
        if (!changes.empty())
            ++*pnRows;
        for (const CValueChange& change : changes) {
            if (++nChanges <= MAX_CHANGES_SHOWN)
                PrintError("%s:%zu: %s\n", strName.c_str(), lines[i], DescribeValueChange(change).c_str());
        }
    }
    if (nChanges > MAX_CHANGES_SHOWN)
        PrintError("%s: %zu more value%s not stored as written.\n", strName.c_str(), nChanges - MAX_CHANGES_SHOWN,
                   nChanges - MAX_CHANGES_SHOWN == 1 ? " is" : "s are");
    return nChanges;
}

int EncodeCsvFile(const std::string& strIn, const std::string& strOut, bool bStrict)
{
    if (RefuseOutputOverInput(strIn, strOut))
        return EXIT_CANNOT_START;
    std::vector<CPatternValues> rows;
    std::vector<size_t> lines;
    if (!ReadCsvRows(strIn, &rows, &lines))
        return EXIT_CANNOT_START;
    if (rows.empty()) {
        // An empty pattern file is refused by the transfer anyway; do not make one.
        PrintError("%s holds no pattern rows, so %s was not written.\n", EscapeForTerminal(strIn).c_str(),
                   EscapeForTerminal(strOut).c_str());
        return EXIT_CANNOT_START;
    }
    size_t nRowsChanged = 0;
    const size_t nChanges = ReportValueChanges(strIn, rows, lines, &nRowsChanged);
    if (nChanges != 0) {
        const std::string strCount = FormatText("%zu value%s in %zu row%s", nChanges, nChanges == 1 ? "" : "s",
                                                nRowsChanged, nRowsChanged == 1 ? "" : "s");
        if (bStrict) {
            PrintError("%s: %s would not be stored as written, so %s was not written (--strict).\n",
                       EscapeForTerminal(strIn).c_str(), strCount.c_str(), EscapeForTerminal(strOut).c_str());
            return EXIT_CANNOT_START;
        }
        PrintError("%s: %s are not stored as written; %s holds them as said above (--strict refuses such a file).\n",
                   EscapeForTerminal(strIn).c_str(), strCount.c_str(), EscapeForTerminal(strOut).c_str());
    }
    std::vector<uint8_t> records(rows.size() * PATTERN_RECORD_SIZE);
    for (size_t i = 0; i < rows.size(); ++i)
        BuildPatternRecord(rows[i], &records[i * PATTERN_RECORD_SIZE]);
    std::string strError;
    if (!WriteFileAtomically(strOut, records.data(), records.size(), &strError)) {
        PrintError("%s\n", strError.c_str());
        return EXIT_CANNOT_START;
    }
    return EXIT_OK;
}

int DecodeBinFile(const std::string& strIn)
{
    std::vector<uint8_t> data;
    std::string strError;
    if (!ReadWholeFile(strIn, &data, &strError, MAX_INPUT_BYTES)) {
        PrintError("%s\n", strError.c_str());
        return EXIT_CANNOT_START;
    }
    // Every record is checked before anything is printed, so a script never takes the rows
    // of a damaged file for the whole file. The check is the one a transfer makes.
    CPatternMarkerFault fault;
    if (!CheckPatternRecords(data.data(), data.size(), &fault)) {
        PrintError("%s\n", DescribePatternMarkerFault(strIn, fault).c_str());
        return EXIT_CANNOT_START;
    }
    size_t nRecords = data.size() / PATTERN_RECORD_SIZE;
    std::string strOut = std::string(PATTERN_CSV_HEADER) + "\n";
    for (size_t i = 0; i < nRecords; ++i) {
        CDecodedRecord rec{};
        if (!DecodePatternRecord(&data[i * PATTERN_RECORD_SIZE], PATTERN_RECORD_SIZE, &rec, &strError)) {
            PrintError("%s: record %zu (byte %zu) is damaged: %s.\n", EscapeForTerminal(strIn).c_str(), i + 1,
                       i * PATTERN_RECORD_SIZE, strError.c_str());
            return EXIT_CANNOT_START;
        }
        strOut += FormatPatternCsvRow(rec);
        strOut += '\n';
    }
    size_t nTrailing = data.size() % PATTERN_RECORD_SIZE;
    if (nTrailing != 0) {
        PrintError("%s: ends with a partial record of %zu bytes after record %zu.\n", EscapeForTerminal(strIn).c_str(),
                   nTrailing, nRecords);
        return EXIT_CANNOT_START;
    }
    if (!WriteOutput(strOut)) {
        PrintError("Cannot write the decoded rows to standard output: %s.\n", std::strerror(errno));
        return EXIT_CANNOT_START;
    }
    return EXIT_OK;
}

int CheckBinFile(const std::string& strIn)
{
    std::vector<uint8_t> data;
    std::string strError;
    if (!ReadWholeFile(strIn, &data, &strError, MAX_INPUT_BYTES)) {
        PrintError("%s\n", strError.c_str());
        return EXIT_CANNOT_START;
    }
    const CPatternFileSummary summary = SummarisePatternFile(data.data(), data.size());
    const bool bWritten = WriteOutput(DescribePatternSummary(strIn, summary));
    if (!summary.IsGood()) {
        PrintError("%s\n", DescribePatternFault(strIn, summary).c_str());
        return EXIT_CANNOT_START;
    }
    return bWritten ? EXIT_OK : EXIT_OUTPUT_LOST;
}

bool IsCsvName(const std::string& strPath)
{
    if (strPath.size() < 4)
        return false;
    std::string strEnd = strPath.substr(strPath.size() - 4);
    for (char& ch : strEnd)
        ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    return strEnd == ".csv";
}

// FILE's name with its extension (if any) replaced by .svg, in FILE's folder.
std::string DefaultPictureName(const std::string& strIn)
{
    const size_t nDot = strIn.rfind('.');
    const size_t nSeparator = strIn.find_last_of("/\\");
    const bool bExtension = nDot != std::string::npos && nDot > 0 &&
                            (nSeparator == std::string::npos || nDot > nSeparator + 1);
    return (bExtension ? strIn.substr(0, nDot) : strIn) + ".svg";
}

int RenderPatternFile(const std::string& strIn, std::string strOut, long nSize)
{
    if (strOut.empty())
        strOut = DefaultPictureName(strIn);
    if (strOut != "-" && RefuseOutputOverInput(strIn, strOut))
        return EXIT_CANNOT_START;
    std::vector<CDecodedRecord> records;
    CPatternFileSummary summary;
    if (IsCsvName(strIn)) {
        std::vector<CPatternValues> rows;
        std::vector<size_t> lines;
        if (!ReadCsvRows(strIn, &rows, &lines))
            return EXIT_CANNOT_START;
        if (rows.empty()) {
            PrintError("%s holds no pattern rows: there is nothing to draw.\n", EscapeForTerminal(strIn).c_str());
            return EXIT_CANNOT_START;
        }
        size_t nChanges = 0;
        for (const CPatternValues& row : rows)
            nChanges += FindValueChanges(row).size();
        if (nChanges != 0)
            PrintError("%s: %zu value%s not stored as written; the picture shows what the device gets "
                       "('matrixctl pattern encode' lists them).\n",
                       EscapeForTerminal(strIn).c_str(), nChanges, nChanges == 1 ? " is" : "s are");
        records = DecodePatternRows(rows);
        summary = SummarisePatternRecords(records);
    } else {
        std::vector<uint8_t> data;
        std::string strError;
        if (!ReadWholeFile(strIn, &data, &strError, MAX_INPUT_BYTES)) {
            PrintError("%s\n", strError.c_str());
            return EXIT_CANNOT_START;
        }
        summary = SummarisePatternFile(data.data(), data.size());
        // A picture of a file the transfer refuses would show records that are not there.
        if (summary.nRecords == 0 || !summary.bMarkersGood) {
            PrintError("%s\n", DescribePatternFault(strIn, summary).c_str());
            return EXIT_CANNOT_START;
        }
        if (summary.nTrailingBytes != 0)
            PrintError("%s\n", DescribePatternFault(strIn, summary).c_str());
        records = DecodePatternRecords(data.data(), data.size());
    }

    CPictureOptions options;
    options.nSize = static_cast<int>(nSize);
    options.astrCaption = WordPictureCaption(strIn, summary);
    const CPatternPicture picture = BuildPatternPicture(records, options);
    const std::string strSvg = FormatPatternSvg(picture, options.astrCaption.front());
    if (strOut == "-") {
        if (!WriteOutput(strSvg)) {
            PrintError("Cannot write the picture to standard output: %s.\n", std::strerror(errno));
            return EXIT_CANNOT_START;
        }
        return EXIT_OK;
    }
    std::string strError;
    if (!WriteFileAtomically(strOut, strSvg.data(), strSvg.size(), &strError)) {
        PrintError("%s\n", strError.c_str());
        return EXIT_CANNOT_START;
    }
    PrintOutput("%s: the picture of %zu record%s.\n", EscapeForTerminal(strOut).c_str(), records.size(),
                records.size() == 1 ? "" : "s");
    return EXIT_OK;
}

} // namespace

int RunPatternCommand(const std::vector<std::string>& args)
{
    std::string strIn;
    std::string strOut;
    bool bStrict = false;
    long nSize = PICTURE_DEFAULT_SIZE;
    CCommandLine line("pattern", "ACTION ...",
                      "Converts pattern records between CSV rows and the binary pattern file, checks a\n"
                      "pattern file and draws its picture.");
    CCommandLine& encode = line.AddAction(
        "encode", "[--strict] IN.csv OUT.bin",
        "encode  turns CSV rows x,y,i1,i2,i3 (two decimals, three integers) into 12-byte pattern\n"
        "        records. The fields of a row are separated by commas, semicolons or tabs; '.' is\n"
        "        the decimal point. An optional header line, blank lines and lines starting with #\n"
        "        are skipped. A bad row is reported as IN.csv:LINE: reason and nothing is written;\n"
        "        OUT.bin is replaced only once every row has been read. A value the record cannot\n"
        "        keep as written is reported as IN.csv:LINE: x 121.45 is stored as 21.45 (why):\n"
        "        a decimal keeps its last two integer digits and five decimals, within -32.76899\n"
        "        to 32.76799, computed in double precision and truncated (0.29 is stored as\n"
        "        0.29099); i1 and i2 keep 8 bits, i3 16 bits.");
    encode.AddFlag("--strict", &bStrict, "write nothing, and end with status 2, when a value is not kept");
    encode.AddArgument("IN.csv", &strIn, true, "the CSV file to read");
    encode.AddArgument("OUT.bin", &strOut, true, "the pattern file to write");
    CCommandLine& decode = line.AddAction(
        "decode", "IN.bin",
        "decode  prints one CSV row per record of a pattern file, with what survives of each\n"
        "        value, so that encoding the rows again gives the same file.");
    decode.AddArgument("IN.bin", &strIn, true, "the pattern file to read");
    CCommandLine& check = line.AddAction(
        "check", "FILE",
        "check   says what a pattern file holds: its records, the first damaged one (by the\n"
        "        check send makes before it opens a port), the bytes after the last record, the\n"
        "        range of x and y, and the values of i1, i2 and i3 (their range when there are\n"
        "        many). Status 0 for a file send takes whole, 2 otherwise.");
    check.AddArgument("FILE", &strIn, true, "the pattern file to check");
    CCommandLine& render = line.AddAction(
        "render", "FILE [-o OUT.svg] [--size PX]",
        "render  draws a pattern file, or the CSV rows it is made from (FILE ending in .csv), as\n"
        "        the device will get it: each record a dot at (x, y), in file order with a faint\n"
        "        line through them, coloured by i1, with a scale and a caption; as SVG.");
    render.AddArgument("FILE", &strIn, true, "the pattern file or CSV file to draw");
    render.AddText("-o,--output", "OUT.svg", &strOut, "where to write the picture (- for standard output;\n"
                                                      "default: FILE with .svg in place of its extension)");
    render.AddNumber("--size", "PX", &nSize, PICTURE_MIN_SIZE, PICTURE_MAX_SIZE,
                     "'%s' is not a picture width in pixels (" + std::to_string(PICTURE_MIN_SIZE) + " to " +
                         std::to_string(PICTURE_MAX_SIZE) + ")",
                     "the picture's width in pixels (default " + std::to_string(PICTURE_DEFAULT_SIZE) + ")");
    line.SetNotes("Exit status: 0 done, 1 usage, 2 a file could not be read or written, holds a bad row or\n"
                  "record, or (check) is no good pattern file, or (encode --strict) holds a value not kept.");
    if (const int nStatus = line.Parse(args); nStatus >= 0)
        return nStatus;
    if (encode.WasChosen())
        return EncodeCsvFile(strIn, strOut, bStrict);
    if (check.WasChosen())
        return CheckBinFile(strIn);
    if (render.WasChosen())
        return RenderPatternFile(strIn, strOut, nSize);
    return DecodeBinFile(strIn);
}
