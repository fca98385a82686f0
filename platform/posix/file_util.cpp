#include "platform/file_util.h"
#include "platform/file_primitives.h"
#include "platform/posix/posix_files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

CSystemReason ReasonOf(int nErrno)
{
    return {nErrno, std::strerror(nErrno)};
}

// The permission bits a newly created file gets: 0666 less the umask. The umask can only be
// read by setting it, so it is read from /proc where possible to leave it untouched.
mode_t DefaultFileMode()
{
    mode_t nMask = 022;
    if (FILE* pStatus = std::fopen("/proc/self/status", "re")) {
        char szLine[256];
        while (std::fgets(szLine, sizeof szLine, pStatus) != nullptr) {
            unsigned int nValue = 0;
            if (std::sscanf(szLine, "Umask: %o", &nValue) == 1) {
                nMask = static_cast<mode_t>(nValue & 0777);
                break;
            }
        }
        std::fclose(pStatus);
    }
    return 0666 & ~nMask;
}

} // namespace

bool WriteAll(int fd, const uint8_t* pData, size_t nSize, int* pnErrno)
{
    while (nSize > 0) {
        ssize_t nWritten = ::write(fd, pData, nSize);
        if (nWritten < 0) {
            if (errno == EINTR)
                continue;
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
    size_t nSlash = strPath.rfind('/');
    if (nSlash == std::string::npos)
        return ".";
    if (nSlash == 0)
        return "/";
    return strPath.substr(0, nSlash);
}

namespace {

// True for a name mkstemp gives a temporary file beside strLeaf: the leaf, a point and six
// letters or digits.
bool IsTemporaryNameOf(const char* pszName, const std::string& strLeaf)
{
    const size_t nLength = std::strlen(pszName);
    if (nLength != strLeaf.size() + 7 || std::strncmp(pszName, strLeaf.c_str(), strLeaf.size()) != 0
        || pszName[strLeaf.size()] != '.')
        return false;
    for (size_t i = strLeaf.size() + 1; i < nLength; ++i) {
        const char ch = pszName[i];
        if (!((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')))
            return false;
    }
    return true;
}

// True while strName in the directory fdDir (or strName as a path, with AT_FDCWD) still names
// the open file fd.
bool IsStillNamed(int fdDir, const std::string& strName, int fd)
{
    struct stat stOpen {};
    struct stat stNamed {};
    return ::fstat(fd, &stOpen) == 0 && ::fstatat(fdDir, strName.c_str(), &stNamed, AT_SYMLINK_NOFOLLOW) == 0
           && stOpen.st_dev == stNamed.st_dev && stOpen.st_ino == stNamed.st_ino;
}

// Removes the temporary files that saves of strTarget left behind when they were killed
// half-way (the rename never came). A save still under way holds a lock on its file as long
// as it lives, so only files nobody holds go, and only regular files of this user.
void RemoveLeftoverTemporaries(const std::string& strTarget)
{
    const size_t nSlash = strTarget.rfind('/');
    const std::string strLeaf = nSlash == std::string::npos ? strTarget : strTarget.substr(nSlash + 1);
    DIR* pDir = ::opendir(DirectoryOf(strTarget).c_str());
    if (pDir == nullptr)
        return;
    std::vector<std::string> astrNames;
    while (struct dirent* pEntry = ::readdir(pDir)) {
        if (IsTemporaryNameOf(pEntry->d_name, strLeaf))
            astrNames.emplace_back(pEntry->d_name);
    }
    const int fdDir = ::dirfd(pDir);
    for (const std::string& strName : astrNames) {
        const int fd = ::openat(fdDir, strName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()
            && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && IsStillNamed(fdDir, strName, fd))
            ::unlinkat(fdDir, strName.c_str(), 0);
        ::close(fd);
    }
    ::closedir(pDir);
}

} // namespace

bool IsFileReadOnly(const std::string& strPath)
{
    // The owner's write bit is the read-only mark: a rename would replace the file without
    // asking for it (only the directory counts), where Windows refuses to.
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

std::string FileToReplace(const std::string& strPath)
{
    struct stat st {};
    if (::lstat(strPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* pszReal = ::realpath(strPath.c_str(), nullptr)) {
            std::string strTarget = pszReal;
            std::free(pszReal);
            return strTarget;
        }
    }
    return strPath;
}

bool GetPathType(const std::string& strPath, EFileType* peType)
{
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0)
        return false;
    *peType = FileTypeOfMode(st.st_mode);
    return true;
}

bool ReplaceFileContents(const std::string& strTarget, const void* pData, size_t nSize, CReplaceFailure* pFailure)
{
    mode_t nMode = DefaultFileMode();
    struct stat st {};
    if (::stat(strTarget.c_str(), &st) == 0)
        nMode = st.st_mode & 07777;

    RemoveLeftoverTemporaries(strTarget);
    std::string strTemp;
    int fd = -1;
    for (int nTry = 0; nTry < 8 && fd < 0; ++nTry) {
        strTemp = strTarget + ".XXXXXX";
        fd = ::mkostemp(strTemp.data(), O_CLOEXEC);
        if (fd < 0) {
            *pFailure = {EReplaceStep::CreateTemporary, ReasonOf(errno)};
            return false;
        }
        // The lock lasts as long as this save, so that the clean-up of another one leaves the
        // file alone. That clean-up may have taken it before the lock: then another is made.
        (void)::flock(fd, LOCK_EX);
        if (!IsStillNamed(AT_FDCWD, strTemp, fd)) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        *pFailure = {EReplaceStep::TemporariesVanished, {}};
        return false;
    }

    int nErrno = 0;
    bool bOk = WriteAll(fd, static_cast<const uint8_t*>(pData), nSize, &nErrno);
    if (bOk && ::fchmod(fd, nMode) != 0) {
        nErrno = errno;
        bOk = false;
    }
    // Without the flush a crash shortly after the rename can leave an empty file behind.
    if (bOk && ::fsync(fd) != 0) {
        nErrno = errno;
        bOk = false;
    }
    // Renamed while still open and locked: closed first, it could be taken for a leftover.
    if (bOk && ::rename(strTemp.c_str(), strTarget.c_str()) != 0) {
        nErrno = errno;
        bOk = false;
    }
    if (!bOk) {
        ::unlink(strTemp.c_str());
        ::close(fd);
        *pFailure = {EReplaceStep::Write, ReasonOf(nErrno)};
        return false;
    }
    // The bytes are on the disk (fsync said so) and in place: the close has nothing left to fail.
    ::close(fd);

    // The rename is only durable once the directory entry is on the disk too. A failure here
    // leaves a complete file either way, so it is not reported.
    int fdDir = ::open(DirectoryOf(strTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir >= 0) {
        ::fsync(fdDir);
        ::close(fdDir);
    }
    return true;
}

EFileType FileTypeOfMode(mode_t nMode)
{
    switch (nMode & S_IFMT) {
    case S_IFREG: return EFileType::Regular;
    case S_IFDIR: return EFileType::Directory;
    case S_IFIFO: return EFileType::Fifo;
    case S_IFCHR: return EFileType::CharacterDevice;
    case S_IFBLK: return EFileType::BlockDevice;
    case S_IFSOCK: return EFileType::Socket;
    default: return EFileType::Other;
    }
}

CFileForReading::~CFileForReading()
{
    if (m_nNative >= 0)
        ::close(static_cast<int>(m_nNative));
}

bool CFileForReading::Open(const std::string& strPath, CSystemReason* pReason)
{
    // O_NONBLOCK: opening a FIFO that has no writer would otherwise wait for one for ever, and
    // no signal would end the wait in a program that handles its signals on another thread.
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        *pReason = ReasonOf(errno);
        return false;
    }
    m_nNative = fd;
    return true;
}

bool CFileForReading::Describe(EFileType* peType, uint64_t* pnSize, CSystemReason* pReason)
{
    struct stat st {};
    if (::fstat(static_cast<int>(m_nNative), &st) != 0) {
        *pReason = ReasonOf(errno);
        return false;
    }
    *peType = FileTypeOfMode(st.st_mode);
    *pnSize = S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    return true;
}

bool CFileForReading::Read(uint8_t* pBuffer, size_t nSize, size_t* pnRead, CSystemReason* pReason)
{
    for (;;) {
        const ssize_t nRead = ::read(static_cast<int>(m_nNative), pBuffer, nSize);
        if (nRead >= 0) {
            *pnRead = static_cast<size_t>(nRead);
            return true;
        }
        if (errno != EINTR) {
            *pReason = ReasonOf(errno);
            return false;
        }
    }
}

int CreateNewFile(const std::string& strPath, unsigned int nMode)
{
    // O_EXCL: never reuse or follow anything already at this name.
    return ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, static_cast<mode_t>(nMode));
}

bool CloseFileDescriptor(int fd)
{
    return ::close(fd) == 0;
}

bool SetFileTimesUtc(int fd, int64_t nAccessTime, int64_t nModifyTime)
{
    // Linux keeps no creation time that a program may set.
    struct timespec aTimes[2];
    aTimes[0].tv_sec = static_cast<time_t>(nAccessTime);
    aTimes[0].tv_nsec = 0;
    aTimes[1].tv_sec = static_cast<time_t>(nModifyTime);
    aTimes[1].tv_nsec = 0;
    return ::futimens(fd, aTimes) == 0;
}

bool RenameFileOver(const std::string& strFrom, const std::string& strTo)
{
    return ::rename(strFrom.c_str(), strTo.c_str()) == 0;
}

bool RemoveFilePath(const std::string& strPath)
{
    return ::unlink(strPath.c_str()) == 0;
}

bool IsPathAbsent(const std::string& strPath)
{
    struct stat st {};
    return ::stat(strPath.c_str(), &st) != 0 && errno == ENOENT;
}

bool MakeDirectory(const std::string& strPath)
{
    return ::mkdir(strPath.c_str(), 0777) == 0;
}

bool CanReplaceFile(const std::string& strPath, std::string* pstrReason, int* pnErrno)
{
    int nUnused = 0;
    int& nErrno = pnErrno != nullptr ? *pnErrno : nUnused;
    nErrno = 0;
    // The file is replaced through a new file beside its target, so what counts is whether
    // a file can be created there; for a link that is the directory of the file it names.
    std::string strTarget = strPath;
    if (char* pszReal = ::realpath(strPath.c_str(), nullptr)) {
        strTarget = pszReal;
        std::free(pszReal);
    }
    if (::access(strTarget.c_str(), F_OK) == 0 && ::access(strTarget.c_str(), R_OK) != 0) {
        nErrno = errno;
        *pstrReason = std::strerror(nErrno);
        return false;
    }
    if (IsFileReadOnly(strTarget)) {
        nErrno = EACCES;
        *pstrReason = "it is read-only";
        return false;
    }
    std::string strScratch = DirectoryOf(strTarget) + "/.setting.ini.XXXXXX";
    const int nFd = ::mkstemp(strScratch.data());
    if (nFd < 0) {
        nErrno = errno;
        *pstrReason = std::strerror(nErrno);
        return false;
    }
    ::close(nFd);
    ::unlink(strScratch.c_str());
    return true;
}

CReadOnlyFileMap::~CReadOnlyFileMap()
{
    if (m_pData != nullptr)
        ::munmap(m_pData, m_nSize);
}

bool CReadOnlyFileMap::Open(const std::string& strPath, std::string* pstrError)
{
    // O_NONBLOCK, as for ReadWholeFile: a FIFO without a writer must be refused at once, not
    // waited on for ever. O_NOCTTY: a terminal given by mistake must not become ours.
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        *pstrError = std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool bOk = ::fstat(fd, &st) == 0;
    if (!bOk) {
        *pstrError = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        *pstrError = std::string("it is ") + DescribeFileType(FileTypeOfMode(st.st_mode)) + ", not a regular file";
        bOk = false;
    } else if (st.st_size > 0) {
        void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            *pstrError = std::strerror(errno);
            bOk = false;
        } else {
            m_pData = p;
            m_nSize = static_cast<size_t>(st.st_size);
        }
    }
    ::close(fd);
    return bOk;
}

CExtractDirectory::~CExtractDirectory()
{
    ForgetCreatedDirectories();
    if (m_nNative >= 0)
        ::close(static_cast<int>(m_nNative));
}

void CExtractDirectory::ForgetCreatedDirectories()
{
    for (const CCreatedDirectory& created : m_aCreated)
        ::close(static_cast<int>(created.nParent));
    m_aCreated.clear();
}

void CExtractDirectory::RemoveCreatedDirectories()
{
    // By name in the parent that was entered on the way in, never by a path that a link put
    // there since could lead elsewhere.
    for (auto it = m_aCreated.rbegin(); it != m_aCreated.rend(); ++it)
        ::unlinkat(static_cast<int>(it->nParent), it->strName.c_str(), AT_REMOVEDIR);
    ForgetCreatedDirectories();
}

bool CExtractDirectory::Open(const std::string& strRoot, const std::string& strRelDir, bool bCreate)
{
    ForgetCreatedDirectories();
    int fd = ::open(strRoot.empty() ? "." : strRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    size_t nStart = 0;
    while (fd >= 0 && nStart < strRelDir.size()) {
        size_t nEnd = strRelDir.find('/', nStart);
        if (nEnd == std::string::npos)
            nEnd = strRelDir.size();
        const std::string strPart = strRelDir.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (strPart.empty() || strPart == ".")
            continue;
        const bool bMade = bCreate && ::mkdirat(fd, strPart.c_str(), 0777) == 0;
        const int fdNext = ::openat(fd, strPart.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (bMade)
            m_aCreated.push_back({fd, strPart}); // the parent stays open for the removal
        else
            ::close(fd);
        fd = fdNext;
    }
    if (m_nNative >= 0)
        ::close(static_cast<int>(m_nNative));
    m_nNative = fd;
    if (fd < 0)
        RemoveCreatedDirectories();
    return fd >= 0;
}

int CExtractDirectory::CreateNewFileIn(const std::string& strName, unsigned int nMode)
{
    // O_EXCL and O_NOFOLLOW: never reuse or follow anything already at this name.
    return ::openat(static_cast<int>(m_nNative), strName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    static_cast<mode_t>(nMode));
}

bool CExtractDirectory::RenameIn(const std::string& strFrom, const std::string& strTo)
{
    const int fd = static_cast<int>(m_nNative);
    return ::renameat(fd, strFrom.c_str(), fd, strTo.c_str()) == 0;
}

bool CExtractDirectory::RemoveIn(const std::string& strName)
{
    return ::unlinkat(static_cast<int>(m_nNative), strName.c_str(), 0) == 0;
}
