// Fuzzes the ZIP reader over a block: open, list every entry, and unpack each one into
// memory through the same checks as extraction to a file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "skin/zip_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    // Larger inputs add nothing the reader would treat differently and slow the search.
    if (nSize > 512 * 1024)
        return 0;
    std::unique_ptr<ZipArchive> pArchive = ZipOpenMemory(pData, nSize);
    if (pArchive == nullptr)
        return 0;
    ZipEntryInfo info{};
    ZipGetEntry(pArchive.get(), -1, &info);
    const int nCount = info.m_nIndex;
    std::vector<uint8_t> data;
    for (int i = 0; i < nCount && i < 256; ++i) {
        if (ZipGetEntry(pArchive.get(), i, &info) != ZIP_OK)
            continue;
        // Asked twice: the second answer comes from the cache.
        ZipGetEntry(pArchive.get(), i, &info);
        IsSafeEntryPath(info.m_szName);
        // A 4 MiB limit keeps a small input from inflating into gigabytes.
        ZipReadEntryToMemory(pArchive.get(), i, &data, 4u << 20);
    }
    // Walk backwards as well, which restarts from the first entry.
    if (nCount > 1)
        ZipGetEntry(pArchive.get(), 0, &info);
    // Leave an entry open: closing the archive must end it.
    if (nCount > 0 && ZipGetEntry(pArchive.get(), nCount - 1, &info) == ZIP_OK && OpenEntryData(pArchive.get()) == ZIP_OK) {
        uint8_t ab[64];
        ReadEntryData(pArchive.get(), ab, sizeof ab);
    }
    ZipClose(pArchive);
    return 0;
}
