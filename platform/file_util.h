#pragma once
// Whole-file reading and atomic replacement, shared by the settings file, the pattern
// converter, the transfer and the archive extractor. Failures come back as one sentence
// naming the file and the system's reason.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Replaces strPath with the given bytes so that a reader sees either the old file or the
// whole new one, never a part: the bytes go to a temporary file in the same directory, are
// flushed to the disk and then renamed over the target. On failure the old file is left as
// it was and the temporary file is removed. A replaced file keeps its permission bits; a new
// one gets the usual 0666 less the process's umask. When strPath is a symbolic link, the file
// it points to is replaced and the link stays.
bool WriteFileAtomically(const std::string& strPath, const void* pData, size_t nSize, std::string* pstrError);

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
