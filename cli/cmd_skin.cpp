// matrixctl skin: lists the entries of the skin archive, or unpacks one the way start-up does,
// over the archive built into the program or a ZIP file given on the command line.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "cli/commands.h"
#include "platform/file_util.h"
#include "platform/printable.h"
#include "platform/program_path.h"
#include "platform/resources.h"
#include "skin/zip_reader.h"

namespace {

void PrintSkinUsage(FILE* pOut)
{
    std::fprintf(pOut,
                 "usage: matrixctl skin list [ARCHIVE]\n"
                 "       matrixctl skin extract N [ARCHIVE] [--dir DIR]\n\n"
                 "Without ARCHIVE the skin archive built into the program is used.\n"
                 "list     one line per entry: number, name, attributes (R read-only, H hidden,\n"
                 "         S system, D directory, A archive), compressed and uncompressed size,\n"
                 "         modification time (UTC)\n"
                 "extract  unpacks entry N into DIR (default: the current directory) under the\n"
                 "         entry's own name, replacing a file of that name, as start-up does\n");
}

struct CArchiveSource {
    CReadOnlyFileMap m_file; // the ZIP file, mapped for the time the archive is open
    const void* m_pData = nullptr;
    size_t m_nSize = 0;
    std::string m_strLabel;
};

bool LoadArchiveSource(const char* pszPath, CArchiveSource* pSource)
{
    if (pszPath == nullptr) {
        const uint8_t* pData = nullptr;
        if (!FindProgramResource("ZIPDB", "IDR_SKIN", &pData, &pSource->m_nSize)) {
            std::fprintf(stderr, "matrixctl skin: this program carries no skin archive (resource ZIPDB/IDR_SKIN is missing).\n");
            return false;
        }
        pSource->m_pData = pData;
        pSource->m_strLabel = "the built-in skin archive";
        return true;
    }
    std::string strError;
    if (!pSource->m_file.Open(pszPath, &strError)) {
        std::fprintf(stderr, "matrixctl skin: cannot read the archive %s: %s.\n", pszPath, strError.c_str());
        return false;
    }
    pSource->m_pData = pSource->m_file.Data();
    pSource->m_nSize = pSource->m_file.Size();
    pSource->m_strLabel = pszPath;
    return true;
}

std::string FormatAttributes(uint32_t nAttributes)
{
    std::string str = "-----";
    if ((nAttributes & ZIP_ATTR_READONLY) != 0)
        str[0] = 'R';
    if ((nAttributes & ZIP_ATTR_HIDDEN) != 0)
        str[1] = 'H';
    if ((nAttributes & ZIP_ATTR_SYSTEM) != 0)
        str[2] = 'S';
    if ((nAttributes & ZIP_ATTR_DIRECTORY) != 0)
        str[3] = 'D';
    if ((nAttributes & ZIP_ATTR_ARCHIVE) != 0)
        str[4] = 'A';
    return str;
}

std::string FormatUtc(int64_t nTime)
{
    const time_t t = static_cast<time_t>(nTime);
    std::tm tmUtc{};
    char sz[32];
    if (gmtime_r(&t, &tmUtc) == nullptr || std::strftime(sz, sizeof sz, "%Y-%m-%dT%H:%M:%SZ", &tmUtc) == 0)
        return "-";
    return sz;
}

// The archive the source holds, opened, and how many entries it has; null, after saying so,
// when the bytes are no ZIP archive.
std::unique_ptr<ZipArchive> OpenArchive(const CArchiveSource& source, int* pnCount)
{
    uint32_t nResult = ZIP_OK;
    std::unique_ptr<ZipArchive> pArchive = ZipOpenMemory(source.m_pData, source.m_nSize, &nResult);
    if (pArchive == nullptr && nResult == ZIP_ERR_ZIP64) {
        std::fprintf(stderr, "matrixctl skin: %s cannot be read: %s.\n", source.m_strLabel.c_str(),
                     DescribeZipResult(nResult));
        return nullptr;
    }
    if (pArchive == nullptr) {
        std::fprintf(stderr, "matrixctl skin: %s is not a readable ZIP archive.\n", source.m_strLabel.c_str());
        return nullptr;
    }
    ZipEntryInfo info{};
    ZipGetEntry(pArchive.get(), -1, &info);
    *pnCount = info.m_nIndex;
    return pArchive;
}

int ListArchive(const char* pszPath)
{
    CArchiveSource source;
    if (!LoadArchiveSource(pszPath, &source))
        return EXIT_CANNOT_START;
    int nCount = 0;
    std::unique_ptr<ZipArchive> pArchive = OpenArchive(source, &nCount);
    if (pArchive == nullptr)
        return EXIT_CANNOT_START;
    ZipEntryInfo info{};
    // Entries that cannot be read, by kind of problem: the first one and how many. A damaged
    // archive of thousands of entries gets one sentence per kind, not one per entry.
    std::map<uint32_t, std::pair<int, int>> problems;
    for (int i = 0; i < nCount; ++i) {
        const uint32_t nResult = ZipGetEntry(pArchive.get(), i, &info);
        if (nResult != ZIP_OK) {
            auto [it, bNew] = problems.try_emplace(nResult, i, 0);
            ++it->second.second;
            continue;
        }
        // Names come from the archive: a line break would forge a line of the listing.
        std::printf("%d\t%s\t%s\t%u\t%u\t%s\n", info.m_nIndex, EscapeForTerminal(info.m_szName).c_str(),
                    FormatAttributes(info.m_nAttributes).c_str(), info.m_nCompressedSize, info.m_nUncompressedSize,
                    FormatUtc(info.m_nModifyTime).c_str());
    }
    ZipClose(pArchive);
    for (const auto& [nResult, where] : problems) {
        if (where.second == 1)
            std::fprintf(stderr, "matrixctl skin: entry %d of %s cannot be read: %s (0x%08X).\n", where.first,
                         source.m_strLabel.c_str(), DescribeZipResult(nResult), nResult);
        else
            std::fprintf(stderr, "matrixctl skin: %d entries of %s cannot be read, the first is entry %d: %s (0x%08X).\n",
                         where.second, source.m_strLabel.c_str(), where.first, DescribeZipResult(nResult), nResult);
    }
    return problems.empty() ? EXIT_OK : EXIT_CANNOT_START;
}

int ExtractEntry(const char* pszNumber, const char* pszPath, const char* pszDir)
{
    long nEntry = 0;
    if (!ParseNumberArgument(pszNumber, 0, INT_MAX, &nEntry)) {
        std::fprintf(stderr, "matrixctl skin: '%s' is not an entry number (0, 1, 2, ...).\n", pszNumber);
        return EXIT_USAGE;
    }
    CArchiveSource source;
    if (!LoadArchiveSource(pszPath, &source))
        return EXIT_CANNOT_START;
    // Start-up unpacks into the current directory and the reader takes its root directory
    // from there, so the target directory becomes the current one first.
    std::string strReason;
    if (pszDir != nullptr && !ChangeDirectory(pszDir, &strReason)) {
        std::fprintf(stderr, "matrixctl skin: cannot enter the directory %s: %s.\n", pszDir, strReason.c_str());
        return EXIT_CANNOT_START;
    }
    int nCount = 0;
    std::unique_ptr<ZipArchive> pArchive = OpenArchive(source, &nCount);
    if (pArchive == nullptr)
        return EXIT_CANNOT_START;
    if (nEntry >= nCount) {
        std::fprintf(stderr, "matrixctl skin: %s has no entry %ld (it holds %d, numbered from 0).\n",
                     source.m_strLabel.c_str(), nEntry, nCount);
        return EXIT_USAGE;
    }
    ZipEntryInfo info{};
    uint32_t nResult = ZipGetEntry(pArchive.get(), static_cast<int>(nEntry), &info);
    if (nResult == ZIP_OK)
        nResult = ZipExtractEntryToFile(pArchive.get(), static_cast<int>(nEntry), info.m_szName);
    ZipClose(pArchive);
    if (nResult != ZIP_OK) {
        std::fprintf(stderr, "matrixctl skin: entry %ld (%s) of %s was not unpacked: %s (0x%08X).\n", nEntry,
                     EscapeForTerminal(info.m_szName).c_str(), source.m_strLabel.c_str(), DescribeZipResult(nResult),
                     nResult);
        return EXIT_CANNOT_START;
    }
    std::printf("%s\n", EscapeForTerminal(info.m_szName).c_str());
    return EXIT_OK;
}

} // namespace

int RunSkinCommand(int argc, char** argv)
{
    if (argc < 1) {
        PrintSkinUsage(stderr);
        return EXIT_USAGE;
    }
    const std::string strVerb = argv[0];
    if (strVerb == "--help" || strVerb == "-h" || strVerb == "help") {
        PrintSkinUsage(stdout);
        return EXIT_OK;
    }
    const char* apszPositional[2] = {nullptr, nullptr};
    int nPositional = 0;
    const char* pszDir = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--help" || strArg == "-h") {
            PrintSkinUsage(stdout);
            return EXIT_OK;
        }
        if (strArg == "--dir" && strVerb == "extract") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "matrixctl skin: --dir needs a directory.\n");
                return EXIT_USAGE;
            }
            pszDir = argv[++i];
            continue;
        }
        if (strArg.size() > 1 && strArg[0] == '-') {
            std::fprintf(stderr, "matrixctl skin: unknown option '%s'.\n", argv[i]);
            PrintSkinUsage(stderr);
            return EXIT_USAGE;
        }
        if (nPositional == 2) {
            std::fprintf(stderr, "matrixctl skin: too many arguments.\n");
            PrintSkinUsage(stderr);
            return EXIT_USAGE;
        }
        apszPositional[nPositional++] = argv[i];
    }
    if (strVerb == "list" && nPositional <= 1)
        return ListArchive(apszPositional[0]);
    if (strVerb == "extract" && nPositional >= 1)
        return ExtractEntry(apszPositional[0], apszPositional[1], pszDir);
    PrintSkinUsage(stderr);
    return EXIT_USAGE;
}
