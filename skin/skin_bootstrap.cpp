#include "skin/skin_bootstrap.h"

#include "platform/resources.h"
#include "skin/zip_reader.h"

std::string ExtractSkinFileFromBlock(const void* pData, size_t nSize, int nEntry)
{
    std::string strName;
    std::unique_ptr<ZipArchive> pArchive = ZipOpenMemory(pData, nSize);
    if (pArchive == nullptr)
        return strName;
    ZipEntryInfo info{};
    if (ZipGetEntry(pArchive.get(), -1, &info) == ZIP_OK && nEntry >= 0 && nEntry < info.m_nIndex &&
        ZipGetEntry(pArchive.get(), nEntry, &info) == ZIP_OK) {
        // The caller builds a path from the name and deletes that file at the end, so a name
        // that leads outside the current directory must not come back at all.
        if (IsSafeEntryPath(info.m_szName)) {
            ZipExtractEntryToFile(pArchive.get(), nEntry, info.m_szName);
            strName = info.m_szName;
        }
    }
    ZipClose(pArchive);
    return strName;
}

std::string ExtractSkinFile(int nEntry)
{
    const uint8_t* pData = nullptr;
    size_t nSize = 0;
    if (!FindProgramResource("ZIPDB", "IDR_SKIN", &pData, &nSize))
        return std::string();
    return ExtractSkinFileFromBlock(pData, nSize, nEntry);
}
