#include "skin/skin_bootstrap.h"

#include "platform/program_path.h"
#include "platform/resources.h"
#include "skin/zip_reader.h"

std::string ExtractSkinFileFromBlock(const void* pData, size_t nSize, int nEntry, const std::string& strDirectory)
{
    std::string strName;
    std::unique_ptr<ZipArchive> pArchive = ZipOpenMemory(pData, nSize);
    if (pArchive == nullptr)
        return strName;
    // The reader unpacks below its root directory, the current one unless told otherwise.
    if (!strDirectory.empty()) {
        pArchive->m_strRootDir = strDirectory;
        if (pArchive->m_strRootDir.back() != g_cPathSeparator)
            pArchive->m_strRootDir += g_cPathSeparator;
    }
    ZipEntryInfo info{};
    if (ZipGetEntry(pArchive.get(), -1, &info) == ZIP_OK && nEntry >= 0 && nEntry < info.m_nIndex &&
        ZipGetEntry(pArchive.get(), nEntry, &info) == ZIP_OK) {
        // The caller builds a path from the name and deletes that file at the end, so a name
        // that leads outside the directory must not come back at all.
        if (IsSafeEntryPath(info.m_szName)) {
            ZipExtractEntryToFile(pArchive.get(), nEntry, info.m_szName);
            strName = info.m_szName;
        }
    }
    ZipClose(pArchive);
    return strName;
}

std::string ExtractSkinFile(int nEntry, const std::string& strDirectory)
{
    const uint8_t* pData = nullptr;
    size_t nSize = 0;
    if (!FindProgramResource("ZIPDB", "IDR_SKIN", &pData, &nSize))
        return std::string();
    return ExtractSkinFileFromBlock(pData, nSize, nEntry, strDirectory);
}
