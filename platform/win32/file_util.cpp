#include "platform/file_util.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <new>
#include <random>

#include "platform/win32/wide_string.h"

namespace {

void SetError(std::string* pstrError, const std::string& strText)
{
    if (pstrError != nullptr)
        *pstrError = strText;
}

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

bool WriteFileAtomically(const std::string& strPath, const void* pData, size_t nSize, std::string* pstrError)
{
    if (strPath.empty()) {
        SetError(pstrError, "Cannot write a file without a name.");
        return false;
    }
    const std::wstring strTarget = Utf8ToWide(strPath);
    if (IsDirectory(strTarget)) {
        SetError(pstrError, "Cannot write " + strPath + ": it exists and is not a regular file.");
        return false;
    }
    std::random_device rd;
    std::string strTemp;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    DWORD dwError = ERROR_FILE_EXISTS;
    for (int nTry = 0; nTry < 64 && hFile == INVALID_HANDLE_VALUE && dwError == ERROR_FILE_EXISTS; ++nTry) {
        strTemp = TemporaryNameBeside(strPath, rd);
        hFile = ::CreateFileW(Utf8ToWide(strTemp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        dwError = hFile == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    }
    if (hFile == INVALID_HANDLE_VALUE) {
        SetError(pstrError, "Cannot write " + strPath + ": a temporary file in " + DirectoryOf(strPath) +
                                " cannot be created (" + SystemErrorText(dwError) + ").");
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
    if (bOk && !::MoveFileExW(strTempWide.c_str(), strTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        dwError = ::GetLastError();
        bOk = false;
    }
    if (!bOk) {
        ::DeleteFileW(strTempWide.c_str());
        SetError(pstrError, "Cannot write " + strPath + ": " + SystemErrorText(dwError) + ".");
    }
    return bOk;
}

bool ReadWholeFile(const std::string& strPath, std::vector<uint8_t>* pData, std::string* pstrError, size_t nMaxBytes)
{
    pData->clear();
    const std::wstring strWide = Utf8ToWide(strPath);
    if (IsDirectory(strWide)) {
        SetError(pstrError, "Cannot read " + strPath + ": it is a directory.");
        return false;
    }
    CHandleOwner file(::CreateFileW(strWide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        SetError(pstrError, "Cannot open " + strPath + ": " + SystemErrorText(::GetLastError()) + ".");
        return false;
    }
    std::string strFailure;
    try {
        LARGE_INTEGER size {};
        if (::GetFileSizeEx(file.Get(), &size) && size.QuadPart > 0 && static_cast<uint64_t>(size.QuadPart) <= nMaxBytes)
            pData->reserve(static_cast<size_t>(size.QuadPart));
        uint8_t abChunk[65536];
        for (;;) {
            DWORD dwRead = 0;
            if (!::ReadFile(file.Get(), abChunk, sizeof abChunk, &dwRead, nullptr)) {
                strFailure = "Cannot read " + strPath + ": " + SystemErrorText(::GetLastError()) + ".";
                break;
            }
            if (dwRead == 0)
                break;
            if (dwRead > nMaxBytes - pData->size()) {
                strFailure = "Cannot read " + strPath + ": it is longer than " + std::to_string(nMaxBytes) + " bytes.";
                break;
            }
            pData->insert(pData->end(), abChunk, abChunk + dwRead);
        }
    } catch (const std::bad_alloc&) {
        strFailure = "Cannot read " + strPath + ": it does not fit in memory.";
    }
    if (!strFailure.empty()) {
        pData->clear();
        pData->shrink_to_fit();
        SetError(pstrError, strFailure);
        return false;
    }
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

bool CanReplaceFile(const std::string& strPath, std::string* pstrReason)
{
    const std::wstring strWide = Utf8ToWide(strPath);
    if (::GetFileAttributesW(strWide.c_str()) != INVALID_FILE_ATTRIBUTES) {
        CHandleOwner file(::CreateFileW(strWide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid()) {
            *pstrReason = SystemErrorText(::GetLastError());
            return false;
        }
    }
    std::random_device rd;
    const std::string strScratch = TemporaryNameBeside(DirectoryOf(strPath) + "\\.setting.ini", rd);
    CHandleOwner scratch(::CreateFileW(Utf8ToWide(strScratch).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!scratch.IsValid()) {
        *pstrReason = SystemErrorText(::GetLastError());
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
        *pstrError = "it is not a regular file";
        return false;
    }
    CHandleOwner file(::CreateFileW(strWide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size {};
    if (!file.IsValid() || !::GetFileSizeEx(file.Get(), &size)) {
        *pstrError = SystemErrorText(::GetLastError());
        return false;
    }
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
        *pstrError = "it is not a regular file";
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
