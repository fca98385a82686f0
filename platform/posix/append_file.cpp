#include "platform/append_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

CAppendFile::~CAppendFile()
{
    Close();
}

bool CAppendFile::Open(const std::string& strPath, std::string* pstrError)
{
    Close();
    const int fd = ::open(strPath.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
    if (fd < 0) {
        *pstrError = strPath + " cannot be opened for appending (" + std::strerror(errno) + ").";
        return false;
    }
    // Only a regular file is appended to: a FIFO or a device in its place would swallow lines
    // or block the update.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *pstrError = strPath + " is not a regular file.";
        return false;
    }
    // flock is advisory and held by this open file; it is given back when the file is closed.
    int nResult = 0;
    do
        nResult = ::flock(fd, LOCK_EX);
    while (nResult != 0 && errno == EINTR);
    if (nResult != 0) {
        const int nErrno = errno;
        ::close(fd);
        *pstrError = strPath + " cannot be locked (" + std::strerror(nErrno) + ").";
        return false;
    }
    m_nNative = fd;
    m_strPath = strPath;
    return true;
}

bool CAppendFile::IsStillAtPath() const
{
    struct stat stOpen {};
    struct stat stPath {};
    return m_nNative >= 0 && ::fstat(static_cast<int>(m_nNative), &stOpen) == 0 &&
           ::stat(m_strPath.c_str(), &stPath) == 0 && stOpen.st_dev == stPath.st_dev && stOpen.st_ino == stPath.st_ino;
}

uint64_t CAppendFile::GetSize() const
{
    struct stat st {};
    if (m_nNative < 0 || ::fstat(static_cast<int>(m_nNative), &st) != 0)
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

bool CAppendFile::EndsWithLineBreak() const
{
    const uint64_t nSize = GetSize();
    char ch = '\n';
    return nSize == 0 || (::pread(static_cast<int>(m_nNative), &ch, 1, static_cast<off_t>(nSize - 1)) == 1 && ch == '\n');
}

bool CAppendFile::Append(const void* pData, size_t nSize, std::string* pstrError)
{
    ssize_t nWritten = -1;
    do
        nWritten = ::write(static_cast<int>(m_nNative), pData, nSize);
    while (nWritten < 0 && errno == EINTR);
    if (nWritten == static_cast<ssize_t>(nSize))
        return true;
    // A short write (a full disk) leaves part of a line; the reader skips it as damaged.
    *pstrError = m_strPath + " cannot be written (" + (nWritten < 0 ? std::strerror(errno) : "the disk is full") + ").";
    return false;
}

void CAppendFile::Close()
{
    if (m_nNative >= 0)
        ::close(static_cast<int>(m_nNative));
    m_nNative = -1;
}
