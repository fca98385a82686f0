#include "platform/file_util.h"
#include "platform/file_primitives.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cwchar>
#include <cwctype>
#include <random>

#include "platform/win32/wide_string.h"

namespace {

// Closes the handle unless it was handed on; an early return can never leak it.
class CHandleOwner {
public:
    explicit CHandleOwner(HANDLE h) : m_h(h) {}
    ~CHandleOwner()
    {
        if (IsValid())
            ::CloseHandle(m_h);
    }
    CHandleOwner(const CHandleOwner&) = delete;
    CHandleOwner& operator=(const CHandleOwner&) = delete;
    bool IsValid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

// A name for a temporary file beside strPath that nothing else uses yet.
std::string TemporaryNameBeside(const std::string& strPath, std::random_device& rd)
{
    char szSuffix[32];
    std::snprintf(szSuffix, sizeof szSuffix, ".%08x.tmp", static_cast<unsigned>(rd()));
    return strPath + szSuffix;
}

// True for a name TemporaryNameBeside gives beside strLeaf: the leaf, a point, eight hex
// digits and ".tmp". Windows compares names without regard to letter case.
bool IsTemporaryNameOf(const std::wstring& strName, const std::wstring& strLeaf)
{
    if (strName.size() != strLeaf.size() + 13 || _wcsnicmp(strName.c_str(), strLeaf.c_str(), strLeaf.size()) != 0
        || strName[strLeaf.size()] != L'.' || _wcsicmp(strName.c_str() + strLeaf.size() + 9, L".tmp") != 0)
        return false;
    for (size_t i = strLeaf.size() + 1; i < strLeaf.size() + 9; ++i) {
        if (!iswxdigit(strName[i]))
            return false;
    }
    return true;
}

// Removes the temporary files that writes of strPath left behind when they were killed half-way
// (the move never came). A write still under way has its file open without sharing, so the
// system refuses to delete that one.
void RemoveLeftoverTemporaries(const std::string& strPath)
{
    const std::string strDir = DirectoryOf(strPath);
    const size_t nSlash = strPath.find_last_of("\\/");
    const std::wstring strLeaf = Utf8ToWide(nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1));
    std::wstring strPrefix = Utf8ToWide(strDir);
    if (strPrefix.empty() || (strPrefix.back() != L'\\' && strPrefix.back() != L'/'))
        strPrefix += L'\\';
    WIN32_FIND_DATAW found;
    HANDLE hFind = ::FindFirstFileW((strPrefix + strLeaf + L".*.tmp").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0
            && IsTemporaryNameOf(found.cFileName, strLeaf))
            ::DeleteFileW((strPrefix + found.cFileName).c_str());
    } while (::FindNextFileW(hFind, &found));
    ::FindClose(hFind);
}

bool IsDirectory(const std::wstring& strPath)
{
    const DWORD dwAttributes = ::GetFileAttributesW(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Windows refuses to replace or delete a read-only file, where Linux only asks for the right
// to change its directory: the attribute is dropped first, as the name goes anyway.
void ClearReadOnly(const std::wstring& strPath)
{
    const DWORD dwAttributes = ::GetFileAttributesW(strPath.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_READONLY) != 0)
        ::SetFileAttributesW(strPath.c_str(), dwAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

// The system's error as the errno that means the same, for front ends that word the reason
// themselves; 0 when none does.
int ErrnoOfSystemError(DWORD dwError)
{
    switch (dwError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    default: return 0;
    }
}

// What an open handle names: a file on a disk counts as a regular file, a pipe opened by name as
// a FIFO.
EFileType FileTypeOfHandle(HANDLE hFile)
{
    switch (::GetFileType(hFile)) {
    case FILE_TYPE_DISK: return EFileType::Regular;
    case FILE_TYPE_PIPE: return EFileType::Fifo;
    case FILE_TYPE_CHAR: return EFileType::CharacterDevice;
    default: return EFileType::Other;
    }
}

CSystemReason ReasonOf(DWORD dwError)
{
    return {ErrnoOfSystemError(dwError), SystemErrorText(dwError)};
}

} // namespace

bool WriteAll(int fd, const uint8_t* pData, size_t nSize, int* pnErrno)
{
    while (nSize > 0) {
        const unsigned int nChunk = nSize > 0x40000000 ? 0x40000000u : static_cast<unsigned int>(nSize);
        const int nWritten = ::_write(fd, pData, nChunk);
        if (nWritten < 0) {
            if (pnErrno != nullptr)
                *pnErrno = errno;
            return false;
        }
        pData += nWritten;
        nSize -= static_cast<size_t>(nWritten);
    }
    return true;
}

std::string DirectoryOf(const std::string& strPath)
{
    // Windows takes either separator; a drive's root keeps its separator ("C:\").
    const size_t nSlash = strPath.find_last_of("\\/");
    if (nSlash == std::string::npos)
        return ".";
    if (nSlash == 0 || (nSlash == 2 && strPath[1] == ':'))
        return strPath.substr(0, nSlash + 1);
    return strPath.substr(0, nSlash);
}

std::string FileToReplace(const std::string& strPath)
{
    // MoveFileExW replaces the file a symbolic link names, not the link.
    return strPath;
}

bool GetPathType(const std::string& strPath, EFileType* peType)
{
    const DWORD dwAttributes = ::GetFileAttributesW(Utf8ToWide(strPath).c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return false;
    *peType = (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EFileType::Directory : EFileType::Regular;
    return true;
}

bool ReplaceFileContents(const std::string& strTarget, const void* pData, size_t nSize, CReplaceFailure* pFailure)
{
    RemoveLeftoverTemporaries(strTarget);
    std::random_device rd;
    std::string strTemp;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    DWORD dwError = ERROR_FILE_EXISTS;
    for (int nTry = 0; nTry < 64 && hFile == INVALID_HANDLE_VALUE && dwError == ERROR_FILE_EXISTS; ++nTry) {
        strTemp = TemporaryNameBeside(strTarget, rd);
        hFile = ::CreateFileW(Utf8ToWide(strTemp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        dwError = hFile == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    }
    if (hFile == INVALID_HANDLE_VALUE) {
        *pFailure = {EReplaceStep::CreateTemporary, ReasonOf(dwError)};
        return false;
    }
    bool bOk = true;
    {
        CHandleOwner file(hFile);
        const uint8_t* pBytes = static_cast<const uint8_t*>(pData);
        while (bOk && nSize > 0) {
            const DWORD dwChunk = nSize > 0x40000000 ? 0x40000000 : static_cast<DWORD>(nSize);
            DWORD dwWritten = 0;
            bOk = ::WriteFile(file.Get(), pBytes, dwChunk, &dwWritten, nullptr) != 0 && dwWritten > 0;
            pBytes += dwWritten;
            nSize -= dwWritten;
        }
        // The bytes reach the disk before the name points at them.
        bOk = bOk && ::FlushFileBuffers(file.Get()) != 0;
        if (!bOk)
            dwError = ::GetLastError();
    }
    const std::wstring strTempWide = Utf8ToWide(strTemp);
    if (bOk && !::MoveFileExW(strTempWide.c_str(), Utf8ToWide(strTarget).c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        dwError = ::GetLastError();
        bOk = false;
    }
    if (!bOk) {
        ::DeleteFileW(strTempWide.c_str());
        *pFailure = {EReplaceStep::Write, ReasonOf(dwError)};
    }
    return bOk;
}

bool IsFileReadOnly(const std::string& strPath)
{
    const DWORD dwAttributes = ::GetFileAttributesW(Utf8ToWide(strPath).c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0
           && (dwAttributes & FILE_ATTRIBUTE_READONLY) != 0;
}

CFileForReading::~CFileForReading()
{
    if (m_nNative != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_nNative));
}

bool CFileForReading::Open(const std::string& strPath, CSystemReason* pReason)
{
    const std::wstring strWide = Utf8ToWide(strPath);
    // A directory cannot be opened as a file here: it is known by its attributes and refused
    // by its type.
    if (IsDirectory(strWide)) {
        m_bDirectory = true;
        return true;
    }
    const HANDLE hFile = ::CreateFileW(strWide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        *pReason = ReasonOf(::GetLastError());
        return false;
    }
    m_nNative = reinterpret_cast<intptr_t>(hFile);
    return true;
}

bool CFileForReading::Describe(EFileType* peType, uint64_t* pnSize, CSystemReason* pReason)
{
    *pnSize = 0;
    if (m_bDirectory) {
        *peType = EFileType::Directory;
        return true;
    }
    const HANDLE hFile = reinterpret_cast<HANDLE>(m_nNative);
    *peType = FileTypeOfHandle(hFile);
    if (*peType != EFileType::Regular)
        return true;
    LARGE_INTEGER size {};
    if (!::GetFileSizeEx(hFile, &size)) {
        *pReason = ReasonOf(::GetLastError());
        return false;
    }
    *pnSize = size.QuadPart > 0 ? static_cast<uint64_t>(size.QuadPart) : 0;
    return true;
}

bool CFileForReading::Read(uint8_t* pBuffer, size_t nSize, size_t* pnRead, CSystemReason* pReason)
{
    const DWORD dwChunk = nSize > 0x40000000 ? 0x40000000 : static_cast<DWORD>(nSize);
    DWORD dwRead = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(m_nNative), pBuffer, dwChunk, &dwRead, nullptr)) {
        *pReason = ReasonOf(::GetLastError());
        return false;
    }
    *pnRead = dwRead;
    return true;
}

int CreateNewFile(const std::string& strPath, unsigned int nMode)
{
    // _O_BINARY: the bytes are written as they are, no line ends added.
    const int nPermission = (nMode & 0200) != 0 ? (_S_IREAD | _S_IWRITE) : _S_IREAD;
    return ::_wopen(Utf8ToWide(strPath).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                    nPermission);
}

bool CloseFileDescriptor(int fd)
{
    return ::_close(fd) == 0;
}

bool SetFileTimesUtc(int fd, int64_t nAccessTime, int64_t nModifyTime)
{
    // FILETIME counts 100 ns steps from 1601.
    auto toFileTime = [](int64_t nSeconds) {
        const uint64_t nTicks = static_cast<uint64_t>(nSeconds + 11644473600LL) * 10000000ULL;
        FILETIME ft;
        ft.dwLowDateTime = static_cast<DWORD>(nTicks);
        ft.dwHighDateTime = static_cast<DWORD>(nTicks >> 32);
        return ft;
    };
    const FILETIME access = toFileTime(nAccessTime);
    const FILETIME modify = toFileTime(nModifyTime);
    HANDLE hFile = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    return hFile != INVALID_HANDLE_VALUE && ::SetFileTime(hFile, nullptr, &access, &modify) != 0;
}

bool RenameFileOver(const std::string& strFrom, const std::string& strTo)
{
    const std::wstring strTarget = Utf8ToWide(strTo);
    ClearReadOnly(strTarget);
    return ::MoveFileExW(Utf8ToWide(strFrom).c_str(), strTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
           != 0;
}

bool RemoveFilePath(const std::string& strPath)
{
    const std::wstring strWide = Utf8ToWide(strPath);
    ClearReadOnly(strWide);
    return ::DeleteFileW(strWide.c_str()) != 0;
}

bool IsPathAbsent(const std::string& strPath)
{
    if (::GetFileAttributesW(Utf8ToWide(strPath).c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD dwError = ::GetLastError();
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
}

bool MakeDirectory(const std::string& strPath)
{
    return ::CreateDirectoryW(Utf8ToWide(strPath).c_str(), nullptr) != 0;
}

bool CanReplaceFile(const std::string& strPath, std::string* pstrReason, int* pnErrno)
{
    int nUnused = 0;
    int& nErrno = pnErrno != nullptr ? *pnErrno : nUnused;
    nErrno = 0;
    const std::wstring strWide = Utf8ToWide(strPath);
    if (::GetFileAttributesW(strWide.c_str()) != INVALID_FILE_ATTRIBUTES) {
        CHandleOwner file(::CreateFileW(strWide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid()) {
            const DWORD dwError = ::GetLastError();
            nErrno = ErrnoOfSystemError(dwError);
            *pstrReason = SystemErrorText(dwError);
            return false;
        }
        if (IsFileReadOnly(strPath)) {
            nErrno = EACCES;
            *pstrReason = "it is read-only";
            return false;
        }
    }
    std::random_device rd;
    const std::string strScratch = TemporaryNameBeside(DirectoryOf(strPath) + "\\.setting.ini", rd);
    CHandleOwner scratch(::CreateFileW(Utf8ToWide(strScratch).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!scratch.IsValid()) {
        const DWORD dwError = ::GetLastError();
        nErrno = ErrnoOfSystemError(dwError);
        *pstrReason = SystemErrorText(dwError);
        return false;
    }
    return true;
}

CReadOnlyFileMap::~CReadOnlyFileMap()
{
    if (m_pData != nullptr)
        ::UnmapViewOfFile(m_pData);
}

bool CReadOnlyFileMap::Open(const std::string& strPath, std::string* pstrError)
{
    const std::wstring strWide = Utf8ToWide(strPath);
    if (IsDirectory(strWide)) {
        *pstrError = std::string("it is ") + DescribeFileType(EFileType::Directory) + ", not a regular file";
        return false;
    }
    CHandleOwner file(::CreateFileW(strWide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size {};
    if (!file.IsValid() || !::GetFileSizeEx(file.Get(), &size)) {
        *pstrError = SystemErrorText(::GetLastError());
        return false;
    }
    const EFileType eType = FileTypeOfHandle(file.Get());
    if (eType != EFileType::Regular) {
        *pstrError = std::string("it is ") + DescribeFileType(eType) + ", not a regular file";
        return false;
    }
    if (size.QuadPart == 0)
        return true;
    // The view keeps the mapping, and the mapping the file, open: both handles can go.
    CHandleOwner mapping(::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    void* p = mapping.IsValid() ? ::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (p == nullptr) {
        *pstrError = SystemErrorText(::GetLastError());
        return false;
    }
    m_pData = p;
    m_nSize = static_cast<size_t>(size.QuadPart);
    return true;
}

CExtractDirectory::~CExtractDirectory() = default;

void CExtractDirectory::ForgetCreatedDirectories()
{
    m_aCreated.clear();
}

void CExtractDirectory::RemoveCreatedDirectories()
{
    // RemoveDirectoryW removes only an empty directory, and a junction put in the place of
    // one is removed itself, never what it leads to.
    for (auto it = m_aCreated.rbegin(); it != m_aCreated.rend(); ++it)
        ::RemoveDirectoryW(Utf8ToWide(it->strName).c_str());
    ForgetCreatedDirectories();
}

bool CExtractDirectory::Open(const std::string& strRoot, const std::string& strRelDir, bool bCreate)
{
    ForgetCreatedDirectories();
    std::string strPath = strRoot.empty() ? std::string(".") : strRoot;
    while (!strPath.empty() && (strPath.back() == '\\' || strPath.back() == '/') && strPath.size() > 3)
        strPath.pop_back();
    m_strPath.clear();
    size_t nStart = 0;
    while (nStart < strRelDir.size()) {
        size_t nEnd = strRelDir.find('/', nStart);
        if (nEnd == std::string::npos)
            nEnd = strRelDir.size();
        const std::string strPart = strRelDir.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (strPart.empty() || strPart == ".")
            continue;
        strPath += "\\" + strPart;
        const std::wstring strWide = Utf8ToWide(strPath);
        if (bCreate && ::CreateDirectoryW(strWide.c_str(), nullptr))
            m_aCreated.push_back({-1, strPath});
        // A junction or a symbolic link is not entered: it could lead anywhere.
        const DWORD dwAttributes = ::GetFileAttributesW(strWide.c_str());
        if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            RemoveCreatedDirectories();
            return false;
        }
    }
    if (!IsDirectory(Utf8ToWide(strPath))) {
        RemoveCreatedDirectories();
        return false;
    }
    m_strPath = strPath;
    return true;
}

int CExtractDirectory::CreateNewFileIn(const std::string& strName, unsigned int nMode)
{
    if (m_strPath.empty()) {
        errno = ENOENT;
        return -1;
    }
    return CreateNewFile(m_strPath + "\\" + strName, nMode);
}

bool CExtractDirectory::RenameIn(const std::string& strFrom, const std::string& strTo)
{
    return !m_strPath.empty() && RenameFileOver(m_strPath + "\\" + strFrom, m_strPath + "\\" + strTo);
}

bool CExtractDirectory::RemoveIn(const std::string& strName)
{
    return !m_strPath.empty() && RemoveFilePath(m_strPath + "\\" + strName);
}
