#include "skin/skin_bootstrap.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/resources.h"
#include "skin/zip_reader.h"

namespace {

// The archive reader unpacks below the current directory, as the program always did; a skin
// file meant for another folder is unpacked with that folder made current for the moment,
// and the old current directory is entered again afterwards.
class CEnterDirectory {
public:
    explicit CEnterDirectory(const std::string& strDirectory)
    {
        if (strDirectory.empty()) {
            m_bEntered = true;
            return;
        }
        m_nOldFd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        m_bEntered = m_nOldFd >= 0 && ::chdir(strDirectory.c_str()) == 0;
    }
    ~CEnterDirectory()
    {
        if (m_nOldFd < 0)
            return;
        if (m_bEntered) {
            int nIgnored = ::fchdir(m_nOldFd);
            (void)nIgnored;
        }
        ::close(m_nOldFd);
    }
    CEnterDirectory(const CEnterDirectory&) = delete;
    CEnterDirectory& operator=(const CEnterDirectory&) = delete;

    bool IsEntered() const { return m_bEntered; }

private:
    int m_nOldFd = -1;
    bool m_bEntered = false;
};

} // namespace

std::string ExtractSkinFileFromBlock(const void* pData, size_t nSize, int nEntry, const std::string& strDirectory)
{
    std::string strName;
    CEnterDirectory enter(strDirectory);
    if (!enter.IsEntered())
        return strName;
    std::unique_ptr<ZipArchive> pArchive = ZipOpenMemory(pData, nSize);
    if (pArchive == nullptr)
        return strName;
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
