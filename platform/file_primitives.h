#pragma once
// The few file calls each system makes for ReadWholeFile and WriteFileAtomically
// (platform/file_util.cpp), which keep their checks and sentences in one place over them. Only
// platform/ uses this header; everything else goes through platform/file_util.h.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_util.h"

// Why a system call failed: the errno that means the same (0 when none does) and the system's
// own words for it.
struct CSystemReason {
    int nErrno = 0;
    std::string strText;
};

// A file opened to be read whole; closed when the object goes.
class CFileForReading {
public:
    CFileForReading() = default;
    ~CFileForReading();
    CFileForReading(const CFileForReading&) = delete;
    CFileForReading& operator=(const CFileForReading&) = delete;

    // Opens strPath for reading without ever waiting: a FIFO without a writer is taken as it
    // is, to be refused by its type, not waited on.
    bool Open(const std::string& strPath, CSystemReason* pReason);
    // What the opened path names, and its length when it is a regular file (else 0).
    bool Describe(EFileType* peType, uint64_t* pnSize, CSystemReason* pReason);
    // Reads up to nSize bytes; *pnRead is 0 at the end of the file.
    bool Read(uint8_t* pBuffer, size_t nSize, size_t* pnRead, CSystemReason* pReason);

private:
    intptr_t m_nNative = -1; // the system's descriptor or handle
    bool m_bDirectory = false; // a directory, which Windows does not open as a file
};

// The file WriteFileAtomically replaces for strPath: where a symbolic link there points (a
// rename over the link would replace the link), else strPath itself.
std::string FileToReplace(const std::string& strPath);

// What is at strPath, following links; false when nothing can be looked at there.
bool GetPathType(const std::string& strPath, EFileType* peType);

// Which step of a replacement failed.
enum class EReplaceStep {
    CreateTemporary,     // no temporary file could be made beside the target
    TemporariesVanished, // each temporary file made was taken away at once, again and again
    Write,               // writing, flushing or renaming it over the target
};

struct CReplaceFailure {
    EReplaceStep eStep = EReplaceStep::Write;
    CSystemReason reason;
};

// Writes the bytes to a new temporary file beside strTarget, flushes it to the disk and
// renames it over strTarget, after removing the temporary files of earlier writes that were
// killed half-way. A replaced file keeps its permission bits. On failure the temporary file
// is gone and the target as it was.
bool ReplaceFileContents(const std::string& strTarget, const void* pData, size_t nSize, CReplaceFailure* pFailure);
