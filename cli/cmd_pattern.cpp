// matrixctl pattern: converts pattern records between CSV rows and the binary pattern file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "platform/file_util.h"
#include "transfer/pattern.h"
#include "transfer/pattern_csv.h"

namespace {

// Far more than any pattern file or its CSV holds; keeps a wrong argument such as /dev/zero
// from filling the memory.
constexpr size_t MAX_INPUT_BYTES = 256u * 1024 * 1024;

const char g_szPatternUsage[] =
    "usage: matrixctl pattern encode IN.csv OUT.bin\n"
    "       matrixctl pattern decode IN.bin\n"
    "\n"
    "encode  turns CSV rows x,y,i1,i2,i3 (two decimals, three integers) into 12-byte pattern\n"
    "        records. An optional header line, blank lines and lines starting with # are\n"
    "        skipped. A bad row is reported as IN.csv:LINE: reason and nothing is written;\n"
    "        OUT.bin is replaced only once every row has been read.\n"
    "decode  prints one CSV row per record of a pattern file, with what survives of each\n"
    "        value, so that encoding the rows again gives the same file.\n"
    "\n"
    "exit status: 0 done, 1 usage, 2 a file could not be read or written or holds a bad\n"
    "row or record.\n";

int EncodeCsvFile(const std::string& strIn, const std::string& strOut)
{
    std::vector<uint8_t> text;
    std::string strError;
    if (!ReadWholeFile(strIn, &text, &strError, MAX_INPUT_BYTES)) {
        std::fprintf(stderr, "%s\n", strError.c_str());
        return EXIT_CANNOT_START;
    }
    std::vector<CPatternValues> rows;
    std::string_view svText(reinterpret_cast<const char*>(text.data()), text.size());
    if (!ReadPatternCsv(svText, &rows, &strError)) {
        std::fprintf(stderr, "%s:%s\n", strIn.c_str(), strError.c_str());
        return EXIT_CANNOT_START;
    }
    if (rows.empty()) {
        // An empty pattern file is refused by the transfer anyway; do not make one.
        std::fprintf(stderr, "%s holds no pattern rows, so %s was not written.\n", strIn.c_str(), strOut.c_str());
        return EXIT_CANNOT_START;
    }
    std::vector<uint8_t> records(rows.size() * PATTERN_RECORD_SIZE);
    for (size_t i = 0; i < rows.size(); ++i)
        BuildPatternRecord(rows[i], &records[i * PATTERN_RECORD_SIZE]);
    if (!WriteFileAtomically(strOut, records.data(), records.size(), &strError)) {
        std::fprintf(stderr, "%s\n", strError.c_str());
        return EXIT_CANNOT_START;
    }
    return EXIT_OK;
}

int DecodeBinFile(const std::string& strIn)
{
    std::vector<uint8_t> data;
    std::string strError;
    if (!ReadWholeFile(strIn, &data, &strError, MAX_INPUT_BYTES)) {
        std::fprintf(stderr, "%s\n", strError.c_str());
        return EXIT_CANNOT_START;
    }
    // Every record is checked before anything is printed, so a script never takes the rows
    // of a damaged file for the whole file. The check is the one a transfer makes.
    CPatternMarkerFault fault;
    if (!CheckPatternRecords(data.data(), data.size(), &fault)) {
        std::fprintf(stderr, "%s\n", DescribePatternMarkerFault(strIn, fault).c_str());
        return EXIT_CANNOT_START;
    }
    size_t nRecords = data.size() / PATTERN_RECORD_SIZE;
    std::string strOut = std::string(PATTERN_CSV_HEADER) + "\n";
    for (size_t i = 0; i < nRecords; ++i) {
        CDecodedRecord rec{};
        if (!DecodePatternRecord(&data[i * PATTERN_RECORD_SIZE], PATTERN_RECORD_SIZE, &rec, &strError)) {
            std::fprintf(stderr, "%s: record %zu (byte %zu) is damaged: %s.\n", strIn.c_str(), i + 1,
                         i * PATTERN_RECORD_SIZE, strError.c_str());
            return EXIT_CANNOT_START;
        }
        strOut += FormatPatternCsvRow(rec);
        strOut += '\n';
    }
    size_t nTrailing = data.size() % PATTERN_RECORD_SIZE;
    if (nTrailing != 0) {
        std::fprintf(stderr, "%s: ends with a partial record of %zu bytes after record %zu.\n", strIn.c_str(),
                     nTrailing, nRecords);
        return EXIT_CANNOT_START;
    }
    if (std::fwrite(strOut.data(), 1, strOut.size(), stdout) != strOut.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "Cannot write the decoded rows to standard output: %s.\n", std::strerror(errno));
        return EXIT_CANNOT_START;
    }
    return EXIT_OK;
}

} // namespace

int RunPatternCommand(int argc, char** argv)
{
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(g_szPatternUsage, stdout);
            return EXIT_OK;
        }
    }
    if (argc == 3 && std::strcmp(argv[0], "encode") == 0)
        return EncodeCsvFile(argv[1], argv[2]);
    if (argc == 2 && std::strcmp(argv[0], "decode") == 0)
        return DecodeBinFile(argv[1]);
    std::fputs(g_szPatternUsage, stderr);
    return EXIT_USAGE;
}
