#pragma once
// A file that several processes append whole lines to at once (the update log: two dialogs and
// any number of matrixctl sends on one bench). Each line goes out in one write to a file opened
// for appending, so lines never interleave; the file is also locked while a writer decides
// whether to rotate it, so that two writers never both rotate it.

#include <cstddef>
#include <cstdint>
#include <string>

class CAppendFile {
public:
    CAppendFile() = default;
    ~CAppendFile();
    CAppendFile(const CAppendFile&) = delete;
    CAppendFile& operator=(const CAppendFile&) = delete;

    // Opens strPath for appending (created private to the user when missing) and waits for its
    // lock, which it keeps until Close. False with one sentence naming the file and the reason
    // in *pstrError.
    bool Open(const std::string& strPath, std::string* pstrError);
    // True while strPath still names the file opened: another writer may have rotated it away
    // while this one waited for the lock.
    bool IsStillAtPath() const;
    // The file's size now; 0 when it cannot be told.
    uint64_t GetSize() const;
    // True when the file is empty or its last byte is a line break: false after a line that a
    // writer killed mid-write (or a full disk) left torn.
    bool EndsWithLineBreak() const;
    // Appends the bytes with one write. False with the reason in *pstrError.
    bool Append(const void* pData, size_t nSize, std::string* pstrError);
    // Lets go of the lock and the file.
    void Close();

private:
    intptr_t m_nNative = -1; // descriptor or handle
    std::string m_strPath;
};
