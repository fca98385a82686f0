// What reading a whole file and replacing one check, and how their failures are worded, the
// same on every system; the calls under them are each system's own (platform/file_primitives.h).

#include "platform/file_util.h"

#include <new>

#include "platform/file_primitives.h"
#include "text/printable.h"

namespace {

void SetError(std::string* pstrError, const std::string& strText)
{
    if (pstrError != nullptr)
        *pstrError = strText;
}

// Reads the open file to its end into *pData; it may have grown since its size was looked at,
// so the limit is checked again as the bytes come.
CFileReadFailure ReadToEnd(CFileForReading& file, uint64_t nSize, size_t nMaxBytes, std::vector<uint8_t>* pData,
                           CSystemReason* pReason)
{
    try {
        if (nSize > 0)
            pData->reserve(static_cast<size_t>(nSize));
        uint8_t abChunk[65536];
        for (;;) {
            size_t nRead = 0;
            if (!file.Read(abChunk, sizeof abChunk, &nRead, pReason))
                return {EFileReadError::CannotRead, pReason->nErrno};
            if (nRead == 0)
                return {};
            if (nRead > nMaxBytes - pData->size())
                return {EFileReadError::TooLong, 0};
            pData->insert(pData->end(), abChunk, abChunk + nRead);
        }
    } catch (const std::bad_alloc&) {
        return {EFileReadError::NoMemory, 0};
    }
}

// The one sentence for each way a read can fail.
std::string DescribeReadFailure(const std::string& strPath, const CFileReadFailure& failure, const CSystemReason& reason,
                                size_t nMaxBytes)
{
    const std::string strFile = EscapeForTerminal(strPath);
    switch (failure.eKind) {
    case EFileReadError::CannotOpen: return "Cannot open " + strFile + ": " + reason.strText + ".";
    case EFileReadError::NotRegularFile:
        return "Cannot read " + strFile + ": it is " + DescribeFileType(failure.eFileType) + ", not a regular file.";
    case EFileReadError::TooLong: return "Cannot read " + strFile + ": it is longer than " + std::to_string(nMaxBytes) + " bytes.";
    case EFileReadError::NoMemory: return "Cannot read " + strFile + ": it does not fit in memory.";
    case EFileReadError::CannotRead:
    case EFileReadError::None: break;
    }
    return "Cannot read " + strFile + ": " + reason.strText + ".";
}

} // namespace

const char* DescribeFileType(EFileType eType)
{
    switch (eType) {
    case EFileType::Regular: return "a regular file";
    case EFileType::Directory: return "a directory";
    case EFileType::Fifo: return "a FIFO";
    case EFileType::CharacterDevice: return "a character device";
    case EFileType::BlockDevice: return "a block device";
    case EFileType::Socket: return "a socket";
    case EFileType::Other: break;
    }
    return "not a file";
}

bool ReadWholeFile(const std::string& strPath, std::vector<uint8_t>* pData, std::string* pstrError, size_t nMaxBytes,
                   CFileReadFailure* pFailure)
{
    pData->clear();
    CFileReadFailure failure;
    CSystemReason reason;
    CFileForReading file;
    EFileType eType = EFileType::Other;
    uint64_t nSize = 0;
    if (!file.Open(strPath, &reason)) {
        failure = {EFileReadError::CannotOpen, reason.nErrno};
    } else if (!file.Describe(&eType, &nSize, &reason)) {
        failure = {EFileReadError::CannotRead, reason.nErrno};
    } else if (eType != EFileType::Regular) {
        // A device or a pipe has no end to read to, and a directory no bytes.
        failure = {EFileReadError::NotRegularFile, 0, eType};
    } else if (nSize > nMaxBytes) {
        // Refused before a byte is read: a huge (or sparse) file must not fill the memory first.
        failure = {EFileReadError::TooLong, 0};
    } else {
        failure = ReadToEnd(file, nSize, nMaxBytes, pData, &reason);
    }
    if (pFailure != nullptr)
        *pFailure = failure;
    if (failure.eKind == EFileReadError::None)
        return true;
    pData->clear();
    pData->shrink_to_fit();
    SetError(pstrError, DescribeReadFailure(strPath, failure, reason, nMaxBytes));
    return false;
}

bool WriteFileAtomically(const std::string& strPath, const void* pData, size_t nSize, std::string* pstrError)
{
    if (strPath.empty()) {
        SetError(pstrError, "Cannot write a file without a name.");
        return false;
    }
    const std::string strFile = EscapeForTerminal(strPath);
    const std::string strTarget = FileToReplace(strPath);
    EFileType eType = EFileType::Regular;
    if (GetPathType(strTarget, &eType) && eType != EFileType::Regular) {
        SetError(pstrError, "Cannot write " + strFile + ": it exists and is not a regular file.");
        return false;
    }
    if (IsFileReadOnly(strTarget)) {
        SetError(pstrError, "Cannot write " + strFile + ": it is read-only, so it is left as it is.");
        return false;
    }
    CReplaceFailure failure;
    if (ReplaceFileContents(strTarget, pData, nSize, &failure))
        return true;
    const std::string strDir = EscapeForTerminal(DirectoryOf(strTarget));
    switch (failure.eStep) {
    case EReplaceStep::CreateTemporary:
        SetError(pstrError, "Cannot write " + strFile + ": a temporary file in " + strDir + " cannot be created (" +
                                failure.reason.strText + ").");
        break;
    case EReplaceStep::TemporariesVanished:
        SetError(pstrError, "Cannot write " + strFile + ": its temporary files in " + strDir + " keep disappearing.");
        break;
    case EReplaceStep::Write: SetError(pstrError, "Cannot write " + strFile + ": " + failure.reason.strText + "."); break;
    }
    return false;
}
