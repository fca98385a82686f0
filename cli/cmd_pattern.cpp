// matrixctl pattern: converts pattern records between CSV rows and the binary pattern file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_output.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "platform/file_util.h"
#include "text/printable.h"
#include "transfer/pattern.h"
#include "transfer/pattern_csv.h"

namespace {

// Far more than any pattern file or its CSV holds; keeps a wrong argument such as /dev/zero
// from filling the memory.
constexpr size_t MAX_INPUT_BYTES = 256u * 1024 * 1024;

int EncodeCsvFile(const std::string& strIn, const std::string& strOut)
{
    std::vector<uint8_t> text;
    std::string strError;
    if (!ReadWholeFile(strIn, &text, &strError, MAX_INPUT_BYTES)) {
        PrintError("%s\n", strError.c_str());
        return EXIT_CANNOT_START;
    }
    std::vector<CPatternValues> rows;
    std::string_view svText(reinterpret_cast<const char*>(text.data()), text.size());
    if (!ReadPatternCsv(svText, &rows, &strError)) {
        PrintError("%s:%s\n", EscapeForTerminal(strIn).c_str(), strError.c_str());
        return EXIT_CANNOT_START;
    }
    if (rows.empty()) {
        // An empty pattern file is refused by the transfer anyway; do not make one.
        PrintError("%s holds no pattern rows, so %s was not written.\n", EscapeForTerminal(strIn).c_str(),
                   EscapeForTerminal(strOut).c_str());
        return EXIT_CANNOT_START;
    }
    std::vector<uint8_t> records(rows.size() * PATTERN_RECORD_SIZE);
    for (size_t i = 0; i < rows.size(); ++i)
        BuildPatternRecord(rows[i], &records[i * PATTERN_RECORD_SIZE]);
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

} // namespace

int RunPatternCommand(const std::vector<std::string>& args)
{
    std::string strIn;
    std::string strOut;
    CCommandLine line("pattern", "ACTION ...", "Converts pattern records between CSV rows and the binary pattern file.");
    CCommandLine& encode = line.AddAction(
        "encode", "IN.csv OUT.bin",
        "encode  turns CSV rows x,y,i1,i2,i3 (two decimals, three integers) into 12-byte pattern\n"
        "        records. An optional header line, blank lines and lines starting with # are\n"
        "        skipped. A bad row is reported as IN.csv:LINE: reason and nothing is written;\n"
        "        OUT.bin is replaced only once every row has been read.");
    encode.AddArgument("IN.csv", &strIn, true, "the CSV file to read");
    encode.AddArgument("OUT.bin", &strOut, true, "the pattern file to write");
    CCommandLine& decode = line.AddAction(
        "decode", "IN.bin",
        "decode  prints one CSV row per record of a pattern file, with what survives of each\n"
        "        value, so that encoding the rows again gives the same file.");
    decode.AddArgument("IN.bin", &strIn, true, "the pattern file to read");
    line.SetNotes("Exit status: 0 done, 1 usage, 2 a file could not be read or written or holds a bad\n"
                  "row or record.");
    if (const int nStatus = line.Parse(args); nStatus >= 0)
        return nStatus;
    if (encode.WasChosen())
        return EncodeCsvFile(strIn, strOut);
    return DecodeBinFile(strIn);
}
