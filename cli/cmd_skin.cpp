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

#include "cli/cli_output.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "platform/file_util.h"
#include "platform/program_path.h"
#include "platform/resources.h"
#include "skin/zip_reader.h"
#include "text/printable.h"

namespace {

struct CArchiveSource {
    CReadOnlyFileMap m_file; // the ZIP file, mapped for the time the archive is open
    const void* m_pData = nullptr;
    size_t m_nSize = 0;
    std::string m_strLabel;
};

bool LoadArchiveSource(const std::string& strPath, CArchiveSource* pSource)
{
    if (strPath.empty()) {
        const uint8_t* pData = nullptr;
        if (!FindProgramResource("ZIPDB", "IDR_SKIN", &pData, &pSource->m_nSize)) {
            PrintError("matrixctl skin: this program carries no skin archive (resource ZIPDB/IDR_SKIN is missing).\n");
            return false;
        }
        pSource->m_pData = pData;
        pSource->m_strLabel = "the built-in skin archive";
        return true;
    }
    std::string strError;
    // The label goes into every message about the archive, so it is escaped once here.
    pSource->m_strLabel = EscapeForTerminal(strPath);
    if (!pSource->m_file.Open(strPath, &strError)) {
        PrintError("matrixctl skin: cannot read the archive %s: %s.\n", pSource->m_strLabel.c_str(), strError.c_str());
        return false;
    }
    pSource->m_pData = pSource->m_file.Data();
    pSource->m_nSize = pSource->m_file.Size();
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
        PrintError("matrixctl skin: %s is not a readable ZIP archive.\n", source.m_strLabel.c_str());
        return nullptr;
    }
    ZipEntryInfo info{};
    ZipGetEntry(pArchive.get(), -1, &info);
    *pnCount = info.m_nIndex;
    return pArchive;
}

int ListArchive(const std::string& strPath)
{
    CArchiveSource source;
    if (!LoadArchiveSource(strPath, &source))
        return EXIT_CANNOT_START;
    int nCount = 0;
    std::unique_ptr<ZipArchive> pArchive = OpenArchive(source, &nCount);
    if (pArchive == nullptr)
        return EXIT_CANNOT_START;
    ZipEntryInfo info{};
    std::string strListing;
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
        strListing += FormatText("%d\t%s\t%s\t%u\t%u\t%s\n", info.m_nIndex, EscapeForTerminal(info.m_szName).c_str(),
                                 FormatAttributes(info.m_nAttributes).c_str(), info.m_nCompressedSize,
                                 info.m_nUncompressedSize, FormatUtc(info.m_nModifyTime).c_str());
    }
    ZipClose(pArchive);
    const bool bWritten = WriteOutput(strListing);
    for (const auto& [nResult, where] : problems) {
        if (where.second == 1)
            PrintError("matrixctl skin: entry %d of %s cannot be read: %s (0x%08X).\n", where.first,
                       source.m_strLabel.c_str(), DescribeZipResult(nResult), nResult);
        else
            PrintError("matrixctl skin: %d entries of %s cannot be read, the first is entry %d: %s (0x%08X).\n",
                       where.second, source.m_strLabel.c_str(), where.first, DescribeZipResult(nResult), nResult);
    }
    if (!problems.empty())
        return EXIT_CANNOT_START;
    return bWritten ? EXIT_OK : EXIT_OUTPUT_LOST;
}

int ExtractEntry(long nEntry, const std::string& strPath, const std::string& strDir)
{
    CArchiveSource source;
    if (!LoadArchiveSource(strPath, &source))
        return EXIT_CANNOT_START;
    // Start-up unpacks into the current directory and the reader takes its root directory
    // from there, so the target directory becomes the current one first.
    std::string strReason;
    if (!strDir.empty() && !ChangeDirectory(strDir, &strReason)) {
        PrintError("matrixctl skin: cannot enter the directory %s: %s.\n", EscapeForTerminal(strDir).c_str(),
                   strReason.c_str());
        return EXIT_CANNOT_START;
    }
    int nCount = 0;
    std::unique_ptr<ZipArchive> pArchive = OpenArchive(source, &nCount);
    if (pArchive == nullptr)
        return EXIT_CANNOT_START;
    if (nEntry >= nCount) {
        PrintError("matrixctl skin: %s has no entry %ld (it holds %d, numbered from 0).\n", source.m_strLabel.c_str(),
                   nEntry, nCount);
        return EXIT_USAGE;
    }
    ZipEntryInfo info{};
    uint32_t nResult = ZipGetEntry(pArchive.get(), static_cast<int>(nEntry), &info);
    if (nResult == ZIP_OK)
        nResult = ZipExtractEntryToFile(pArchive.get(), static_cast<int>(nEntry), info.m_szName);
    ZipClose(pArchive);
    if (nResult != ZIP_OK) {
        PrintError("matrixctl skin: entry %ld (%s) of %s was not unpacked: %s (0x%08X).\n", nEntry,
                   EscapeForTerminal(info.m_szName).c_str(), source.m_strLabel.c_str(), DescribeZipResult(nResult),
                   nResult);
        return EXIT_CANNOT_START;
    }
    return PrintOutput("%s\n", EscapeForTerminal(info.m_szName).c_str()) ? EXIT_OK : EXIT_OUTPUT_LOST;
}

} // namespace

int RunSkinCommand(const std::vector<std::string>& args)
{
    std::string strArchive;
    long nEntry = 0;
    std::string strDir;
    CCommandLine line("skin", "ACTION ...",
                      "Without ARCHIVE the skin archive built into the program is used; ARCHIVE must be a\n"
                      "regular file.");
    CCommandLine& list = line.AddAction(
        "list", "[ARCHIVE]",
        "list     one line per entry: number, name, attributes (R read-only, H hidden,\n"
        "         S system, D directory, A archive), compressed and uncompressed size,\n"
        "         modification time (UTC)");
    list.AddArgument("ARCHIVE", &strArchive, false, "a ZIP file instead of the built-in archive");
    CCommandLine& extract = line.AddAction(
        "extract", "N [ARCHIVE] [--dir DIR]",
        "extract  unpacks entry N into DIR (default: the current directory) under the\n"
        "         entry's own name, replacing a file of that name, as start-up does");
    std::string strEntry;
    extract.AddArgument("N", &strEntry, true, "the entry's number, from 0");
    extract.AddArgument("ARCHIVE", &strArchive, false, "a ZIP file instead of the built-in archive");
    extract.AddText("--dir", "DIR", &strDir, "the directory to unpack into");
    if (const int nStatus = line.Parse(args); nStatus >= 0)
        return nStatus;
    if (list.WasChosen())
        return ListArchive(strArchive);
    if (!ParseNumberArgument(strEntry.c_str(), 0, INT_MAX, &nEntry))
        return line.RefuseUsage(std::string("'").append(EscapeForTerminal(strEntry)).append("' is not an entry number (0, 1, 2, ...)"));
    return ExtractEntry(nEntry, strArchive, strDir);
}
