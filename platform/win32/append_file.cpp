#include "platform/append_file.h"

#include <windows.h>

#include "platform/win32/wide_string.h"

namespace {

HANDLE AsHandle(intptr_t nNative)
{
    return reinterpret_cast<HANDLE>(nNative);
}

} // namespace

CAppendFile::~CAppendFile()
{
    Close();
}

bool CAppendFile::Open(const std::string& strPath, std::string* pstrError)
{
    Close();
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file, as
    // O_APPEND does. Others may read, append and rename it (the rotation) while it is open.
    const HANDLE hFile = ::CreateFileW(Utf8ToWide(strPath).c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        *pstrError = strPath + " cannot be opened for appending (" + SystemErrorText(::GetLastError()) + ").";
        return false;
    }
    if (::GetFileType(hFile) != FILE_TYPE_DISK) {
        ::CloseHandle(hFile);
        *pstrError = strPath + " is not a regular file.";
        return false;
    }
    OVERLAPPED overlapped = {};
    if (!::LockFileEx(hFile, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &overlapped)) {
        const DWORD dwError = ::GetLastError();
        ::CloseHandle(hFile);
        *pstrError = strPath + " cannot be locked (" + SystemErrorText(dwError) + ").";
        return false;
    }
    m_nNative = reinterpret_cast<intptr_t>(hFile);
    m_strPath = strPath;
    return true;
}

bool CAppendFile::IsStillAtPath() const
{
    if (m_nNative == -1)
        return false;
    BY_HANDLE_FILE_INFORMATION open = {};
    if (!::GetFileInformationByHandle(AsHandle(m_nNative), &open))
        return false;
    const HANDLE hPath = ::CreateFileW(Utf8ToWide(m_strPath).c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hPath == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION atPath = {};
    const bool bOk = ::GetFileInformationByHandle(hPath, &atPath) != 0;
    ::CloseHandle(hPath);
    return bOk && open.dwVolumeSerialNumber == atPath.dwVolumeSerialNumber &&
           open.nFileIndexHigh == atPath.nFileIndexHigh && open.nFileIndexLow == atPath.nFileIndexLow;
}

uint64_t CAppendFile::GetSize() const
{
    LARGE_INTEGER size = {};
    if (m_nNative == -1 || !::GetFileSizeEx(AsHandle(m_nNative), &size))
        return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

bool CAppendFile::EndsWithLineBreak() const
{
    const uint64_t nSize = GetSize();
    if (nSize == 0)
        return true;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(nSize - 1);
    at.OffsetHigh = static_cast<DWORD>((nSize - 1) >> 32);
    char ch = 0;
    DWORD dwRead = 0;
    return ::ReadFile(AsHandle(m_nNative), &ch, 1, &dwRead, &at) && dwRead == 1 && ch == '\n';
}

bool CAppendFile::Append(const void* pData, size_t nSize, std::string* pstrError)
{
    DWORD dwWritten = 0;
    if (nSize <= MAXDWORD && ::WriteFile(AsHandle(m_nNative), pData, static_cast<DWORD>(nSize), &dwWritten, nullptr) &&
        dwWritten == nSize)
        return true;
    *pstrError = m_strPath + " cannot be written (" + SystemErrorText(::GetLastError()) + ").";
    return false;
}

void CAppendFile::Close()
{
    if (m_nNative != -1) {
        // Closing the handle gives the lock back as well.
        ::CloseHandle(AsHandle(m_nNative));
    }
    m_nNative = -1;
}
