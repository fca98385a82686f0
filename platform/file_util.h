#pragma once
// Files: whole-file reading and atomic replacement, shared by the settings file, the pattern
// converter, the transfer and the archive extractor, and the few file calls the extractor
// makes. Paths are UTF-8 on every system. Failures come back as one sentence naming the file
// and the system's reason.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Replaces strPath with the given bytes so that a reader sees either the old file or the
// whole new one, never a part: the bytes go to a temporary file in the same directory, are
// flushed to the disk and then renamed over the target. On failure the old file is left as
// it was and the temporary file is removed. A replaced file keeps its permission bits; a new
// one gets the usual 0666 less the process's umask. When strPath is a symbolic link, the file
// it points to is replaced and the link stays. A file marked read-only (IsFileReadOnly) is not
// replaced. Temporary files that earlier writes of the same file left behind when they were
// killed are removed first; those of a write still under way are left alone.
bool WriteFileAtomically(const std::string& strPath, const void* pData, size_t nSize, std::string* pstrError);

// True when strPath (or the file a link there names) is a regular file marked read-only: its
// owner may not write it (Linux), or it has the read-only attribute (Windows).
bool IsFileReadOnly(const std::string& strPath);

// What a path names, for a sentence about a file that is not a regular one.
enum class EFileType {
    Regular,
    Directory,
    Fifo,
    CharacterDevice,
    BlockDevice,
    Socket,
    Other,
};

// "a directory", "a FIFO", ... for English sentences.
const char* DescribeFileType(EFileType eType);

// Why ReadWholeFile failed, as facts a front end can word in its own language.
enum class EFileReadError {
    None,
    CannotOpen,     // nErrno says why
    NotRegularFile, // a FIFO, a device, a directory, a socket: eFileType says which
    TooLong,        // longer than the limit given
    CannotRead,     // nErrno says why
    NoMemory,
};

struct CFileReadFailure {
    EFileReadError eKind = EFileReadError::None;
    int nErrno = 0;
    EFileType eFileType = EFileType::Regular;
};

// Reads the whole file into *pData. Fails, with a sentence in *pstrError (and the facts in
// *pFailure when given), when the file cannot be opened or read, is not a regular file, or is
// longer than nMaxBytes (then nothing is kept). The open never blocks (a FIFO without a writer
// is refused, not waited on), and the size is checked from the file's metadata before anything
// is read.
bool ReadWholeFile(const std::string& strPath, std::vector<uint8_t>* pData, std::string* pstrError,
                   size_t nMaxBytes = SIZE_MAX, CFileReadFailure* pFailure = nullptr);

// The directory part of a path: "." when it has none, "/" for a file at the root.
std::string DirectoryOf(const std::string& strPath);

// Writes all nSize bytes to fd, going on after short writes and interruptions. False, with the
// error in *pnErrno when given, at the first failure.
bool WriteAll(int fd, const uint8_t* pData, size_t nSize, int* pnErrno = nullptr);

// Creates strPath as a new file for writing with the permission bits nMode (on Windows only
// the owner's write bit counts: without it the file is read-only). Never opens a file that is
// already there, nor follows a link there. Returns a descriptor for WriteAll, or -1 with errno
// set (EEXIST when the name is taken).
int CreateNewFile(const std::string& strPath, unsigned int nMode);
// Closes a descriptor of CreateNewFile; false when the last writes failed.
bool CloseFileDescriptor(int fd);
// Sets the access and modification times (seconds since 1970, UTC) of an open file.
bool SetFileTimesUtc(int fd, int64_t nAccessTime, int64_t nModifyTime);
// Renames strFrom to strTo, replacing a file that is there, in one step.
bool RenameFileOver(const std::string& strFrom, const std::string& strTo);
bool RemoveFilePath(const std::string& strPath);
// True only when nothing at all is at strPath (not when it merely cannot be looked at).
bool IsPathAbsent(const std::string& strPath);
// Creates one directory; false when it cannot (also when it is there already).
bool MakeDirectory(const std::string& strPath);

// Whether strPath can be replaced by WriteFileAtomically: the file, when there, can be read
// and is not read-only, and a new file can be created beside it (for a link: beside the file it
// names). False with the system's reason in *pstrReason (and its errno-style code in *pnErrno,
// EACCES for a read-only file) otherwise.
bool CanReplaceFile(const std::string& strPath, std::string* pstrReason, int* pnErrno = nullptr);

// A directory opened below a root to unpack into. Every component is entered without following
// a symbolic link, so a link that already stands inside the target cannot carry a file outside
// it; files are then created, renamed and removed in it by their names.
class CExtractDirectory {
public:
    CExtractDirectory() = default;
    ~CExtractDirectory();
    CExtractDirectory(const CExtractDirectory&) = delete;
    CExtractDirectory& operator=(const CExtractDirectory&) = delete;

    // Opens strRoot ("" for the current directory), then each component of strRelDir ('/'
    // separated) below it, creating the missing ones when bCreate. False when a component is a
    // link, no directory, or cannot be made; the directories it made on the way are removed
    // again then.
    bool Open(const std::string& strRoot, const std::string& strRelDir, bool bCreate);
    // Removes the directories the last Open made, deepest first and only while they are empty,
    // so that a failed extraction leaves none of its own behind.
    void RemoveCreatedDirectories();
    // Creates strName in the directory as CreateNewFile does; a descriptor or -1 (errno set).
    int CreateNewFileIn(const std::string& strName, unsigned int nMode);
    // Renames strFrom to strTo inside the directory, replacing what is at strTo (a link there
    // is replaced, not followed).
    bool RenameIn(const std::string& strFrom, const std::string& strTo);
    bool RemoveIn(const std::string& strName);

private:
    // A directory Open made: where it was made (its parent's descriptor where the system has
    // one, kept open for the removal; else -1 and the full path in strName) and its name.
    struct CCreatedDirectory {
        intptr_t nParent;
        std::string strName;
    };
    void ForgetCreatedDirectories();

    intptr_t m_nNative = -1; // the directory's descriptor where the system has one
    std::string m_strPath;   // its path where it has none
    std::vector<CCreatedDirectory> m_aCreated; // outermost first
};

// A file mapped read-only for as long as this object lives.
class CReadOnlyFileMap {
public:
    CReadOnlyFileMap() = default;
    ~CReadOnlyFileMap();
    CReadOnlyFileMap(const CReadOnlyFileMap&) = delete;
    CReadOnlyFileMap& operator=(const CReadOnlyFileMap&) = delete;

    // False with the system's reason in *pstrError when the file cannot be mapped (also when
    // it is no regular file).
    bool Open(const std::string& strPath, std::string* pstrError);
    // An empty file maps to nothing; the reader still gets a valid empty block.
    const void* Data() const { return m_pData != nullptr ? m_pData : ""; }
    size_t Size() const { return m_nSize; }

private:
    void* m_pData = nullptr;
    size_t m_nSize = 0;
};
