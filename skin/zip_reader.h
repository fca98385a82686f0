#pragma once
// A small reader for ZIP archives held in memory: open a block, describe its entries, and
// unpack stored or deflated entries into files or memory. The block is untrusted: every
// offset and length read from it is checked against the block before it is used.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Results of the archive operations (0 is success).
constexpr uint32_t ZIP_OK = 0x00000000;
// The target file cannot be created, or its name would put it outside the target directory.
constexpr uint32_t ZIP_ERR_CREATE = 0x00000200;
// The entry's data cannot be read whole and correct (inflate error, truncated or over-long
// data, size or CRC-32 mismatch, encrypted entry), or writing the file failed.
constexpr uint32_t ZIP_ERR_DATA = 0x00000400;
// The entry's headers are unreadable or disagree: the central header does not fit in the
// directory, the name is too long, or the local header does not match the central one.
constexpr uint32_t ZIP_ERR_HEADER = 0x00000700;
// The entry's local extra field cannot be read, or one of its blocks runs past it.
constexpr uint32_t ZIP_ERR_EXTRA = 0x00000800;
// The archive, or the entry, needs the ZIP64 extensions (sizes and offsets past 4 GiB, more
// than 65,535 entries), which this reader does not read.
constexpr uint32_t ZIP_ERR_ZIP64 = 0x00000900;
// Bad arguments: entry number below -1 or not below the entry count, or no archive.
constexpr uint32_t ZIP_ERR_ARGS = 0x00010000;

// File attribute bits of an entry, in the desktop platform's numbering.
constexpr uint32_t ZIP_ATTR_READONLY = 0x01;
constexpr uint32_t ZIP_ATTR_HIDDEN = 0x02;
constexpr uint32_t ZIP_ATTR_SYSTEM = 0x04;
constexpr uint32_t ZIP_ATTR_DIRECTORY = 0x10;
constexpr uint32_t ZIP_ATTR_ARCHIVE = 0x20;
constexpr uint32_t ZIP_ATTR_NORMAL = 0x80;

// Names and paths the reader handles are shorter than this; longer ones are refused.
constexpr size_t ZIP_MAX_PATH = 260;
// Size of the buffer extraction copies the data through on its way into the file. Large
// pieces let inflate run long stretches between calls, which is most of its speed.
constexpr size_t ZIP_COPY_BUFFER_SIZE = 256 * 1024;

// The description of one entry. Times are Unix seconds (UTC); a DOS time stored in the
// archive is read as local time, the times of a "UT" block as UTC.
struct ZipEntryInfo {
    int32_t m_nIndex;                 // entry number, or the entry count for the count answer
    char m_szName[ZIP_MAX_PATH];      // zero-terminated
    uint32_t m_nAttributes;           // ZIP_ATTR_* bits
    int64_t m_nAccessTime;
    int64_t m_nCreationTime;          // kept here only: Linux file systems may not store it
    int64_t m_nModifyTime;
    uint32_t m_nCompressedSize;
    uint32_t m_nUncompressedSize;
};

// The fields of one central directory header, as stored.
struct ZipCentralHeader {
    uint16_t m_nVersionMadeBy;
    uint16_t m_nVersionNeeded;
    uint16_t m_nFlags;
    uint16_t m_nMethod;
    uint32_t m_nDosDateTime;          // time in the low 16 bits, date in the high 16 bits
    uint32_t m_nCrc32;
    uint32_t m_nCompressedSize;
    uint32_t m_nUncompressedSize;
    uint16_t m_nNameLength;
    uint16_t m_nExtraLength;
    uint16_t m_nCommentLength;
    uint16_t m_nDiskStart;
    uint16_t m_nInternalAttributes;
    uint32_t m_nExternalAttributes;
    uint32_t m_nLocalHeaderOffset;
};

// The read state of an entry opened with OpenEntryData.
struct ZipReadState {
    ZipReadState();
    ~ZipReadState();
    ZipReadState(const ZipReadState&) = delete;
    ZipReadState& operator=(const ZipReadState&) = delete;

    // The compressed input: a checked piece of the block itself. The archive is already in
    // memory, so it is read in place rather than copied through a buffer of its own.
    const uint8_t* m_pInput = nullptr;
    size_t m_nInputPos = 0;
    size_t m_nInputAvail = 0;
    z_stream m_stream;
    bool m_bInflateReady = false;
    bool m_bStreamEnded = false;
    bool m_bFailed = false;
    uint16_t m_nMethod = 0;
    uint32_t m_nCrc32 = 0;
    uint32_t m_nExpectedCrc32 = 0;
    uint64_t m_nCompressedLeft = 0;
    uint64_t m_nUncompressedLeft = 0;
    uint64_t m_nNextCompressed = 0;        // position in the block
};

// An open archive. Made by ZipOpenMemory; the block it reads must outlive it.
struct ZipArchive {
    const uint8_t* m_pSource = nullptr;
    uint64_t m_nSourceSize = 0;
    uint64_t m_nSourcePos = 0;

    uint32_t m_nEntryCount = 0;
    uint64_t m_nCentralDirOffset = 0;
    uint64_t m_nCentralDirSize = 0;
    uint64_t m_nBytesBefore = 0;           // bytes found in front of the archive's first byte

    int32_t m_nCurrentEntry = 0;
    uint64_t m_nCurrentHeaderPos = 0;      // as the archive gives it, without m_nBytesBefore
    ZipCentralHeader m_header{};
    bool m_bCurrentHeaderOk = false;

    std::unique_ptr<ZipReadState> m_pReadState;
    std::string m_strRootDir;              // current directory and "/" when opened

    ZipEntryInfo m_cachedInfo{};
    int32_t m_nCachedEntry = -1;
};

// Finds the end-of-central-directory record by searching backwards from the end of the
// block in 1024-byte windows, no farther than 65,535 bytes. Returns its position, or 0 when
// there is none (an end record at the very start of the block is not accepted either).
uint64_t FindEndRecord(const uint8_t* pData, size_t nSize);

// Opens the archive in the block. Returns nullptr when the block is not a readable archive;
// *pnResult (when given) then says ZIP_ERR_ZIP64 for a ZIP64 archive and ZIP_ERR_HEADER for
// anything else, and ZIP_OK on success.
std::unique_ptr<ZipArchive> ZipOpenMemory(const void* pData, size_t nSize, uint32_t* pnResult = nullptr);

// Ends an opened entry, if any, and releases the archive.
void ZipClose(std::unique_ptr<ZipArchive>& pArchive);

// Describes entry nEntry into *pInfo. nEntry -1 asks for the count: m_nIndex receives the
// entry count and every other field is zero. Asking for the entry described last answers
// from a copy without reading the archive again.
uint32_t ZipGetEntry(ZipArchive* pArchive, int nEntry, ZipEntryInfo* pInfo);

// Unpacks entry nEntry into the named file (relative names from the archive's root directory,
// the current directory when it was opened). No symbolic link below the root is followed: a
// path through one is refused, a link at the file's own name is replaced.
// The data goes to a temporary file beside the target, which replaces the target only when
// every byte arrived and the size and CRC-32 agree; on failure nothing is left behind, not even
// the directories made for the entry.
// A directory entry creates the directory below the root directory instead.
uint32_t ZipExtractEntryToFile(ZipArchive* pArchive, int nEntry, const char* pszFileName);

// Unpacks entry nEntry into *pData. Entries declaring more than nMaxSize bytes are refused
// with ZIP_ERR_DATA before anything is read. A directory entry gives no data.
uint32_t ZipReadEntryToMemory(ZipArchive* pArchive, int nEntry, std::vector<uint8_t>* pData, uint64_t nMaxSize);

// True when a name can be used as a path below the target directory: not empty, not
// absolute, no drive letter, no ".." component (backslashes count as separators).
bool IsSafeEntryPath(const char* pszName);

// Creates strRoot + strPath and every directory above it below strRoot, never following a
// symbolic link below strRoot; existing directories and other failures are ignored (the file
// creation that follows reports them).
void EnsureDirectories(const std::string& strRoot, const std::string& strPath);

// Lower-level steps, on the archive's current entry (ZipGetEntry positions it).
// Reads the local header and checks it against the central one; reports where the data
// and the local extra field begin in the block.
uint32_t CheckLocalHeader(ZipArchive* pArchive, uint64_t* pnDataPos, uint64_t* pnExtraPos, uint32_t* pnExtraSize);
uint32_t OpenEntryData(ZipArchive* pArchive);
// Returns the number of bytes produced (0 at the end of the data), or -1 on a failure.
// Never produces more than the entry's declared uncompressed size.
int64_t ReadEntryData(ZipArchive* pArchive, void* pBuffer, size_t nLength);
// Ends the opened entry. ZIP_OK only when the data came out whole: every declared byte
// produced, the deflate stream ended exactly there, and the CRC-32 agrees.
uint32_t CloseEntryData(ZipArchive* pArchive);

// One sentence for a result code, for messages to a person.
const char* DescribeZipResult(uint32_t nResult);
