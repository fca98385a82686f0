#include "skin/zip_reader.h"

#include "platform/file_util.h"
#include "platform/program_path.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

namespace {

constexpr uint32_t SIG_END_RECORD = 0x06054B50;
constexpr uint32_t SIG_CENTRAL = 0x02014B50;
constexpr uint32_t SIG_LOCAL = 0x04034B50;
constexpr uint32_t SIG_ZIP64_LOCATOR = 0x07064B50;
constexpr size_t ZIP64_LOCATOR_SIZE = 20;
constexpr uint16_t TAG_ZIP64 = 0x0001;
constexpr size_t END_RECORD_SIZE = 22;
constexpr size_t CENTRAL_HEADER_SIZE = 46;
constexpr size_t LOCAL_HEADER_SIZE = 30;
constexpr uint16_t TAG_EXTENDED_TIME = 0x5455;   // "UT" as a little-endian word
constexpr uint16_t FLAG_ENCRYPTED = 0x0001;
constexpr uint16_t FLAG_DATA_DESCRIPTOR = 0x0008;
constexpr uint16_t METHOD_STORED = 0;
constexpr uint16_t METHOD_DEFLATED = 8;
// The most compressed input handed to inflate in one piece.
constexpr uint64_t INPUT_CHUNK = 1024 * 1024;

uint16_t GetLe16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t GetLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Every read of the block goes through this or RangeInSource: the range is checked in
// 64-bit arithmetic first.
bool ReadSource(ZipArchive* pArchive, uint64_t nPos, void* pOut, uint64_t nLength)
{
    if (nPos > pArchive->m_nSourceSize || nLength > pArchive->m_nSourceSize - nPos)
        return false;
    if (nLength != 0)
        std::memcpy(pOut, pArchive->m_pSource + nPos, static_cast<size_t>(nLength));
    pArchive->m_nSourcePos = nPos + nLength;
    return true;
}

bool RangeInSource(const ZipArchive* pArchive, uint64_t nPos, uint64_t nLength)
{
    return nPos <= pArchive->m_nSourceSize && nLength <= pArchive->m_nSourceSize - nPos;
}

// DOS date and time carry no zone: they are the local wall clock, as the platform reads them.
int64_t DosDateTimeToUnix(uint32_t nDosDateTime)
{
    const uint32_t nTime = nDosDateTime & 0xFFFF;
    const uint32_t nDate = nDosDateTime >> 16;
    std::tm tmLocal{};
    tmLocal.tm_sec = static_cast<int>((nTime & 0x1F) * 2);
    tmLocal.tm_min = static_cast<int>((nTime >> 5) & 0x3F);
    tmLocal.tm_hour = static_cast<int>(nTime >> 11);
    tmLocal.tm_mday = std::max(1, static_cast<int>(nDate & 0x1F));
    tmLocal.tm_mon = std::max(1, static_cast<int>((nDate >> 5) & 0x0F)) - 1;
    tmLocal.tm_year = static_cast<int>(nDate >> 9) + 80;
    tmLocal.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tmLocal));
}

uint32_t MapAttributes(uint32_t nExternal)
{
    uint32_t nAttributes = ZIP_ATTR_NORMAL;
    if ((nExternal & 0x40000000) != 0 || (nExternal & 0x10) != 0)
        nAttributes |= ZIP_ATTR_DIRECTORY;
    if ((nExternal & 0x20) != 0)
        nAttributes |= ZIP_ATTR_ARCHIVE;
    if ((nExternal & 0x02) != 0)
        nAttributes |= ZIP_ATTR_HIDDEN;
    if ((nExternal & 0x00800000) == 0 || (nExternal & 0x01) != 0)
        nAttributes |= ZIP_ATTR_READONLY;
    if ((nExternal & 0x04) != 0)
        nAttributes |= ZIP_ATTR_SYSTEM;
    return nAttributes;
}

// Any move of the current entry away from the cached one drops the cache, so a cache hit
// always means the current entry is the cached one (extraction relies on that).
void SetCurrentEntry(ZipArchive* pArchive, int32_t nEntry, uint64_t nHeaderPos)
{
    if (nEntry != pArchive->m_nCachedEntry)
        pArchive->m_nCachedEntry = -1;
    pArchive->m_nCurrentEntry = nEntry;
    pArchive->m_nCurrentHeaderPos = nHeaderPos;
}

bool ReadEntryHeader(ZipArchive* pArchive)
{
    pArchive->m_bCurrentHeaderOk = false;
    const uint64_t nDirEnd = pArchive->m_nCentralDirOffset + pArchive->m_nCentralDirSize;
    const uint64_t nPos = pArchive->m_nCurrentHeaderPos;
    if (nPos > nDirEnd || CENTRAL_HEADER_SIZE > nDirEnd - nPos)
        return false;
    uint8_t ab[CENTRAL_HEADER_SIZE];
    if (!ReadSource(pArchive, pArchive->m_nBytesBefore + nPos, ab, sizeof ab) || GetLe32(ab) != SIG_CENTRAL)
        return false;
    ZipCentralHeader& h = pArchive->m_header;
    h.m_nVersionMadeBy = GetLe16(ab + 4);
    h.m_nVersionNeeded = GetLe16(ab + 6);
    h.m_nFlags = GetLe16(ab + 8);
    h.m_nMethod = GetLe16(ab + 10);
    h.m_nDosDateTime = GetLe32(ab + 12);
    h.m_nCrc32 = GetLe32(ab + 16);
    h.m_nCompressedSize = GetLe32(ab + 20);
    h.m_nUncompressedSize = GetLe32(ab + 24);
    h.m_nNameLength = GetLe16(ab + 28);
    h.m_nExtraLength = GetLe16(ab + 30);
    h.m_nCommentLength = GetLe16(ab + 32);
    h.m_nDiskStart = GetLe16(ab + 34);
    h.m_nInternalAttributes = GetLe16(ab + 36);
    h.m_nExternalAttributes = GetLe32(ab + 38);
    h.m_nLocalHeaderOffset = GetLe32(ab + 42);
    // The name, extra field and comment must lie inside the directory too, or stepping to
    // the next entry would start reading from somewhere the archive never described.
    const uint64_t nTail = static_cast<uint64_t>(h.m_nNameLength) + h.m_nExtraLength + h.m_nCommentLength;
    if (nTail > nDirEnd - nPos - CENTRAL_HEADER_SIZE)
        return false;
    pArchive->m_bCurrentHeaderOk = true;
    return true;
}

void GoToFirstEntry(ZipArchive* pArchive)
{
    SetCurrentEntry(pArchive, 0, pArchive->m_nCentralDirOffset);
    ReadEntryHeader(pArchive);
}

// Steps to entry nEntry. Fails when a header on the way (or the entry's own) is damaged:
// past a damaged header there is no telling where the next one starts.
bool MoveToEntry(ZipArchive* pArchive, int32_t nEntry)
{
    if (nEntry < pArchive->m_nCurrentEntry)
        GoToFirstEntry(pArchive);
    while (pArchive->m_nCurrentEntry < nEntry) {
        if (!pArchive->m_bCurrentHeaderOk)
            return false;
        const ZipCentralHeader& h = pArchive->m_header;
        const uint64_t nNext = pArchive->m_nCurrentHeaderPos + CENTRAL_HEADER_SIZE + h.m_nNameLength +
                               h.m_nExtraLength + h.m_nCommentLength;
        SetCurrentEntry(pArchive, pArchive->m_nCurrentEntry + 1, nNext);
        if (static_cast<uint32_t>(pArchive->m_nCurrentEntry) >= pArchive->m_nEntryCount) {
            pArchive->m_bCurrentHeaderOk = false;
            return false;
        }
        ReadEntryHeader(pArchive);
    }
    return pArchive->m_bCurrentHeaderOk;
}

// Walks the local extra field for the first "UT" block and takes the times it carries. A
// block shorter than its flags announce keeps the times that are there whole; the missing
// ones stay as the DOS time gave them (the entry's data are not affected).
uint32_t ApplyExtendedTimes(const uint8_t* pExtra, uint32_t nSize, ZipEntryInfo* pInfo)
{
    uint32_t nPos = 0;
    while (nPos + 4 < nSize) {
        const uint16_t nTag = GetLe16(pExtra + nPos);
        const uint32_t nBlockSize = GetLe16(pExtra + nPos + 2);
        if (nBlockSize > nSize - nPos - 4)
            return ZIP_ERR_EXTRA;
        if (nTag != TAG_EXTENDED_TIME) {
            nPos += 4 + nBlockSize;
            continue;
        }
        const uint8_t* pBlock = pExtra + nPos + 4;
        if (nBlockSize < 1)
            break;
        const uint8_t nFlags = pBlock[0];
        // The times are unsigned 32-bit seconds, which reach past 2038.
        uint32_t nOffset = 1;
        int64_t* apTimes[3] = {&pInfo->m_nModifyTime, &pInfo->m_nAccessTime, &pInfo->m_nCreationTime};
        for (int nBit = 0; nBit < 3; ++nBit) {
            if ((nFlags & (1u << nBit)) == 0)
                continue;
            if (nOffset + 4 > nBlockSize)
                break;
            *apTimes[nBit] = GetLe32(pBlock + nOffset);
            nOffset += 4;
        }
        break;
    }
    return ZIP_OK;
}

// True when the current entry keeps a size, its offset or its disk in a ZIP64 block of its
// central extra field: the header then holds only the all-ones mark in that field's place.
bool NeedsZip64(ZipArchive* pArchive)
{
    const ZipCentralHeader& h = pArchive->m_header;
    if (h.m_nCompressedSize != 0xFFFFFFFF && h.m_nUncompressedSize != 0xFFFFFFFF &&
        h.m_nLocalHeaderOffset != 0xFFFFFFFF && h.m_nDiskStart != 0xFFFF)
        return false;
    // ReadEntryHeader has checked that the extra field lies inside the directory.
    const uint64_t nExtraPos =
        pArchive->m_nBytesBefore + pArchive->m_nCurrentHeaderPos + CENTRAL_HEADER_SIZE + h.m_nNameLength;
    if (!RangeInSource(pArchive, nExtraPos, h.m_nExtraLength))
        return false;
    const uint8_t* pExtra = pArchive->m_pSource + nExtraPos;
    uint32_t nPos = 0;
    while (nPos + 4 <= h.m_nExtraLength) {
        if (GetLe16(pExtra + nPos) == TAG_ZIP64)
            return true;
        nPos += 4 + GetLe16(pExtra + nPos + 2);
    }
    return false;
}

// Describes the entry nEntry, positioning the archive on it.
uint32_t DescribeEntry(ZipArchive* pArchive, int32_t nEntry, ZipEntryInfo* pInfo)
{
    if (!MoveToEntry(pArchive, nEntry))
        return ZIP_ERR_HEADER;
    // Its sizes or its place are elsewhere: reading on would take the marks for the values.
    if (NeedsZip64(pArchive))
        return ZIP_ERR_ZIP64;
    const ZipCentralHeader& h = pArchive->m_header;
    // A name that does not fit is refused rather than cut, and a name with a zero byte in
    // it would be cut by every later use, so it is refused too.
    if (h.m_nNameLength >= ZIP_MAX_PATH)
        return ZIP_ERR_HEADER;
    ZipEntryInfo info{};
    if (!ReadSource(pArchive, pArchive->m_nBytesBefore + pArchive->m_nCurrentHeaderPos + CENTRAL_HEADER_SIZE,
                    info.m_szName, h.m_nNameLength))
        return ZIP_ERR_HEADER;
    info.m_szName[h.m_nNameLength] = '\0';
    if (std::strlen(info.m_szName) != h.m_nNameLength)
        return ZIP_ERR_HEADER;

    uint64_t nDataPos = 0;
    uint64_t nExtraPos = 0;
    uint32_t nExtraSize = 0;
    if (CheckLocalHeader(pArchive, &nDataPos, &nExtraPos, &nExtraSize) != ZIP_OK)
        return ZIP_ERR_HEADER;
    if (!RangeInSource(pArchive, nExtraPos, nExtraSize))
        return ZIP_ERR_EXTRA;
    const uint8_t* pExtra = pArchive->m_pSource + nExtraPos;

    info.m_nIndex = nEntry;
    info.m_nAttributes = MapAttributes(h.m_nExternalAttributes);
    info.m_nCompressedSize = h.m_nCompressedSize;
    info.m_nUncompressedSize = h.m_nUncompressedSize;
    const int64_t nDosTime = DosDateTimeToUnix(h.m_nDosDateTime);
    info.m_nAccessTime = nDosTime;
    info.m_nCreationTime = nDosTime;
    info.m_nModifyTime = nDosTime;
    const uint32_t nResult = ApplyExtendedTimes(pExtra, nExtraSize, &info);
    if (nResult != ZIP_OK)
        return nResult;
    *pInfo = info;
    return ZIP_OK;
}

// A temporary file beside the target, in an opened directory that outlives it. It is removed
// again unless committed, so every early return leaves nothing behind.
class CTempFile {
public:
    explicit CTempFile(CExtractDirectory& dir) : m_dir(dir) {}
    ~CTempFile()
    {
        if (m_fd >= 0)
            CloseFileDescriptor(m_fd);
        if (!m_strName.empty())
            m_dir.RemoveIn(m_strName);
    }
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;

    bool Create(unsigned int nMode)
    {
        std::random_device rd;
        for (int nTry = 0; nTry < 64; ++nTry) {
            char szName[32];
            std::snprintf(szName, sizeof szName, ".zip%08x.tmp", static_cast<unsigned>(rd()));
            // Never reuse or follow anything already at this name.
            const int fd = m_dir.CreateNewFileIn(szName, nMode);
            if (fd >= 0) {
                m_fd = fd;
                m_strName = szName;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    int Fd() const { return m_fd; }

    bool CloseFile()
    {
        const int fd = m_fd;
        m_fd = -1;
        return CloseFileDescriptor(fd);
    }

    // Renames the file to strLeaf in the same directory (a link at that name is replaced, not
    // followed).
    bool CommitAs(const std::string& strLeaf)
    {
        if (!m_dir.RenameIn(m_strName, strLeaf))
            return false;
        m_strName.clear();
        return true;
    }

private:
    CExtractDirectory& m_dir;
    int m_fd = -1;
    std::string m_strName;
};

std::string NormaliseSeparators(const char* pszName)
{
    std::string str(pszName);
    std::replace(str.begin(), str.end(), '\\', '/');
    return str;
}

// Takes the next piece of compressed input when the last one is used up. False when the
// entry's compressed data would run past the block.
bool FillInput(ZipArchive* pArchive)
{
    ZipReadState& rs = *pArchive->m_pReadState;
    if (rs.m_nInputAvail != 0 || rs.m_nCompressedLeft == 0)
        return true;
    const uint64_t nChunk = std::min(INPUT_CHUNK, rs.m_nCompressedLeft);
    if (!RangeInSource(pArchive, rs.m_nNextCompressed, nChunk))
        return false;
    rs.m_pInput = pArchive->m_pSource + rs.m_nNextCompressed;
    rs.m_nInputPos = 0;
    rs.m_nInputAvail = static_cast<size_t>(nChunk);
    rs.m_nNextCompressed += nChunk;
    rs.m_nCompressedLeft -= nChunk;
    return true;
}

// Inflates what is left after the declared size was produced, to make sure the stream ends
// there: more output, a damaged or a cut-off stream all mean the data is not what it claims.
bool FinishInflate(ZipArchive* pArchive)
{
    ZipReadState& rs = *pArchive->m_pReadState;
    uint8_t bScratch = 0;
    while (!rs.m_bStreamEnded) {
        if (!FillInput(pArchive))
            return false;
        rs.m_stream.next_in = const_cast<Bytef*>(rs.m_pInput + rs.m_nInputPos);
        rs.m_stream.avail_in = static_cast<uInt>(rs.m_nInputAvail);
        rs.m_stream.next_out = &bScratch;
        rs.m_stream.avail_out = 1;
        const int nRet = inflate(&rs.m_stream, Z_SYNC_FLUSH);
        const size_t nConsumed = rs.m_nInputAvail - rs.m_stream.avail_in;
        rs.m_nInputPos += nConsumed;
        rs.m_nInputAvail -= nConsumed;
        if (rs.m_stream.avail_out == 0)
            return false;
        if (nRet == Z_STREAM_END) {
            rs.m_bStreamEnded = true;
            break;
        }
        if (nRet != Z_OK || (nConsumed == 0 && rs.m_nInputAvail == 0 && rs.m_nCompressedLeft == 0))
            return false;
    }
    return true;
}

} // namespace

ZipReadState::ZipReadState()
{
    std::memset(&m_stream, 0, sizeof m_stream);
}

ZipReadState::~ZipReadState()
{
    if (m_bInflateReady)
        inflateEnd(&m_stream);
}

uint64_t FindEndRecord(const uint8_t* pData, size_t nSize)
{
    if (pData == nullptr)
        return 0;
    const uint64_t nMaxBack = std::min<uint64_t>(0xFFFF, nSize);
    uint64_t nBack = 4;
    while (nBack < nMaxBack) {
        nBack = std::min<uint64_t>(nBack + 1024, nMaxBack);
        const uint64_t nStart = nSize - nBack;
        // Windows overlap by four bytes, so a signature across a border is still seen.
        const uint64_t nLength = std::min<uint64_t>(1028, nSize - nStart);
        for (uint64_t i = nLength - 4 + 1; i-- > 0;) {
            if (GetLe32(pData + nStart + i) == SIG_END_RECORD)
                return nStart + i;
        }
    }
    return 0;
}

std::unique_ptr<ZipArchive> ZipOpenMemory(const void* pData, size_t nSize, uint32_t* pnResult)
{
    uint32_t nUnused = 0;
    uint32_t& nResult = pnResult != nullptr ? *pnResult : nUnused;
    nResult = ZIP_ERR_HEADER;
    if (pData == nullptr)
        return nullptr;
    auto pArchive = std::make_unique<ZipArchive>();
    pArchive->m_pSource = static_cast<const uint8_t*>(pData);
    pArchive->m_nSourceSize = nSize;

    if (GetWorkingDirectory(&pArchive->m_strRootDir) && pArchive->m_strRootDir.back() != g_cPathSeparator)
        pArchive->m_strRootDir += g_cPathSeparator;

    const uint64_t nEndPos = FindEndRecord(pArchive->m_pSource, nSize);
    if (nEndPos == 0)
        return nullptr;
    // A ZIP64 archive keeps its directory's place and size in records of its own in front of
    // the end record, whose fields then hold marks (or values that leave those records out).
    uint8_t abLocator[4];
    if (nEndPos >= ZIP64_LOCATOR_SIZE &&
        ReadSource(pArchive.get(), nEndPos - ZIP64_LOCATOR_SIZE, abLocator, sizeof abLocator) &&
        GetLe32(abLocator) == SIG_ZIP64_LOCATOR) {
        nResult = ZIP_ERR_ZIP64;
        return nullptr;
    }
    uint8_t ab[END_RECORD_SIZE];
    if (!ReadSource(pArchive.get(), nEndPos, ab, sizeof ab))
        return nullptr;
    const uint16_t nDisk = GetLe16(ab + 4);
    const uint16_t nDirDisk = GetLe16(ab + 6);
    const uint16_t nEntriesHere = GetLe16(ab + 8);
    const uint16_t nEntriesTotal = GetLe16(ab + 10);
    pArchive->m_nCentralDirSize = GetLe32(ab + 12);
    pArchive->m_nCentralDirOffset = GetLe32(ab + 16);
    if (nDisk != 0 || nDirDisk != 0 || nEntriesHere != nEntriesTotal)
        return nullptr;
    const uint64_t nDirEnd = pArchive->m_nCentralDirOffset + pArchive->m_nCentralDirSize;
    if (nEndPos < nDirEnd)
        return nullptr;
    // An entry count that the directory cannot hold would only lead to reading past it.
    if (static_cast<uint64_t>(nEntriesTotal) * CENTRAL_HEADER_SIZE > pArchive->m_nCentralDirSize)
        return nullptr;
    pArchive->m_nEntryCount = nEntriesTotal;
    pArchive->m_nBytesBefore = nEndPos - nDirEnd;
    GoToFirstEntry(pArchive.get());
    nResult = ZIP_OK;
    return pArchive;
}

void ZipClose(std::unique_ptr<ZipArchive>& pArchive)
{
    if (pArchive != nullptr && pArchive->m_pReadState != nullptr)
        CloseEntryData(pArchive.get());
    pArchive.reset();
}

uint32_t ZipGetEntry(ZipArchive* pArchive, int nEntry, ZipEntryInfo* pInfo)
{
    if (pArchive == nullptr || pInfo == nullptr || nEntry < -1 || (nEntry >= 0 && static_cast<uint32_t>(nEntry) >= pArchive->m_nEntryCount))
        return ZIP_ERR_ARGS;
    if (pArchive->m_pReadState != nullptr)
        CloseEntryData(pArchive);
    if (nEntry != -1 && nEntry == pArchive->m_nCachedEntry) {
        *pInfo = pArchive->m_cachedInfo;
        return ZIP_OK;
    }
    if (nEntry == -1) {
        *pInfo = ZipEntryInfo{};
        pInfo->m_nIndex = static_cast<int32_t>(pArchive->m_nEntryCount);
        return ZIP_OK;
    }
    ZipEntryInfo info{};
    const uint32_t nResult = DescribeEntry(pArchive, nEntry, &info);
    if (nResult != ZIP_OK)
        return nResult;
    pArchive->m_cachedInfo = info;
    pArchive->m_nCachedEntry = nEntry;
    *pInfo = info;
    return ZIP_OK;
}

uint32_t CheckLocalHeader(ZipArchive* pArchive, uint64_t* pnDataPos, uint64_t* pnExtraPos, uint32_t* pnExtraSize)
{
    if (!pArchive->m_bCurrentHeaderOk)
        return ZIP_ERR_HEADER;
    const ZipCentralHeader& h = pArchive->m_header;
    const uint64_t nLocalPos = pArchive->m_nBytesBefore + h.m_nLocalHeaderOffset;
    uint8_t ab[LOCAL_HEADER_SIZE];
    if (!ReadSource(pArchive, nLocalPos, ab, sizeof ab) || GetLe32(ab) != SIG_LOCAL)
        return ZIP_ERR_HEADER;
    const uint16_t nFlags = GetLe16(ab + 6);
    const uint16_t nMethod = GetLe16(ab + 8);
    if (nMethod != h.m_nMethod || (nMethod != METHOD_STORED && nMethod != METHOD_DEFLATED))
        return ZIP_ERR_HEADER;
    // With a data descriptor the sizes and CRC-32 follow the data; only the central ones count.
    if ((nFlags & FLAG_DATA_DESCRIPTOR) == 0 &&
        (GetLe32(ab + 14) != h.m_nCrc32 || GetLe32(ab + 18) != h.m_nCompressedSize || GetLe32(ab + 22) != h.m_nUncompressedSize))
        return ZIP_ERR_HEADER;
    if (GetLe16(ab + 26) != h.m_nNameLength)
        return ZIP_ERR_HEADER;
    const uint32_t nExtraSize = GetLe16(ab + 28);
    const uint64_t nExtraPos = nLocalPos + LOCAL_HEADER_SIZE + h.m_nNameLength;
    *pnExtraPos = nExtraPos;
    *pnExtraSize = nExtraSize;
    *pnDataPos = nExtraPos + nExtraSize;
    return ZIP_OK;
}

uint32_t OpenEntryData(ZipArchive* pArchive)
{
    if (pArchive == nullptr)
        return ZIP_ERR_ARGS;
    if (pArchive->m_pReadState != nullptr)
        CloseEntryData(pArchive);
    uint64_t nDataPos = 0;
    uint64_t nExtraPos = 0;
    uint32_t nExtraSize = 0;
    const uint32_t nResult = CheckLocalHeader(pArchive, &nDataPos, &nExtraPos, &nExtraSize);
    if (nResult != ZIP_OK)
        return nResult;
    const ZipCentralHeader& h = pArchive->m_header;
    // Encrypted data would only come out as noise; stored data is its own size by definition.
    if ((h.m_nFlags & FLAG_ENCRYPTED) != 0 || !RangeInSource(pArchive, nDataPos, h.m_nCompressedSize) ||
        (h.m_nMethod == METHOD_STORED && h.m_nCompressedSize != h.m_nUncompressedSize))
        return ZIP_ERR_DATA;
    auto pState = std::make_unique<ZipReadState>();
    pState->m_nMethod = h.m_nMethod;
    if (h.m_nMethod == METHOD_DEFLATED) {
        // A negative window size means raw deflate data: no zlib header, no Adler-32.
        if (inflateInit2(&pState->m_stream, -MAX_WBITS) != Z_OK)
            return ZIP_ERR_DATA;
        pState->m_bInflateReady = true;
    }
    pState->m_nExpectedCrc32 = h.m_nCrc32;
    pState->m_nCrc32 = 0;
    pState->m_nCompressedLeft = h.m_nCompressedSize;
    pState->m_nUncompressedLeft = h.m_nUncompressedSize;
    pState->m_nNextCompressed = nDataPos;
    pArchive->m_pReadState = std::move(pState);
    return ZIP_OK;
}

int64_t ReadEntryData(ZipArchive* pArchive, void* pBuffer, size_t nLength)
{
    if (pArchive == nullptr || pArchive->m_pReadState == nullptr || pBuffer == nullptr)
        return -1;
    ZipReadState& rs = *pArchive->m_pReadState;
    if (rs.m_bFailed)
        return -1;
    if (nLength == 0 || rs.m_bStreamEnded)
        return 0;
    // The output never goes past the declared size, whatever the stream holds.
    uint64_t nRoom = std::min<uint64_t>({nLength, rs.m_nUncompressedLeft, static_cast<uint64_t>(INT32_MAX)});
    uint8_t* pOut = static_cast<uint8_t*>(pBuffer);
    int64_t nProduced = 0;
    while (nRoom > 0) {
        if (!FillInput(pArchive)) {
            rs.m_bFailed = true;
            return -1;
        }
        if (rs.m_nMethod == METHOD_STORED) {
            if (rs.m_nInputAvail == 0) {
                rs.m_bFailed = true;
                return -1;
            }
            const size_t nCopy = static_cast<size_t>(std::min<uint64_t>(nRoom, rs.m_nInputAvail));
            std::memcpy(pOut, rs.m_pInput + rs.m_nInputPos, nCopy);
            rs.m_nCrc32 = static_cast<uint32_t>(crc32(rs.m_nCrc32, pOut, static_cast<uInt>(nCopy)));
            rs.m_nInputPos += nCopy;
            rs.m_nInputAvail -= nCopy;
            rs.m_nUncompressedLeft -= nCopy;
            pOut += nCopy;
            nRoom -= nCopy;
            nProduced += static_cast<int64_t>(nCopy);
            continue;
        }
        rs.m_stream.next_in = const_cast<Bytef*>(rs.m_pInput + rs.m_nInputPos);
        rs.m_stream.avail_in = static_cast<uInt>(rs.m_nInputAvail);
        rs.m_stream.next_out = pOut;
        rs.m_stream.avail_out = static_cast<uInt>(nRoom);
        const int nRet = inflate(&rs.m_stream, Z_SYNC_FLUSH);
        const size_t nConsumed = rs.m_nInputAvail - rs.m_stream.avail_in;
        const size_t nMade = static_cast<size_t>(nRoom - rs.m_stream.avail_out);
        rs.m_nInputPos += nConsumed;
        rs.m_nInputAvail -= nConsumed;
        rs.m_nCrc32 = static_cast<uint32_t>(crc32(rs.m_nCrc32, pOut, static_cast<uInt>(nMade)));
        rs.m_nUncompressedLeft -= nMade;
        pOut += nMade;
        nRoom -= nMade;
        nProduced += static_cast<int64_t>(nMade);
        if (nRet == Z_STREAM_END) {
            rs.m_bStreamEnded = true;
            break;
        }
        // An error, or no progress with nothing left to feed in: the stream is damaged or cut off.
        if ((nRet != Z_OK && nRet != Z_BUF_ERROR) ||
            (nConsumed == 0 && nMade == 0 && rs.m_nInputAvail == 0 && rs.m_nCompressedLeft == 0)) {
            rs.m_bFailed = true;
            return -1;
        }
    }
    return nProduced;
}

uint32_t CloseEntryData(ZipArchive* pArchive)
{
    if (pArchive == nullptr || pArchive->m_pReadState == nullptr)
        return ZIP_ERR_ARGS;
    const ZipReadState& rs = *pArchive->m_pReadState;
    uint32_t nResult = ZIP_OK;
    if (rs.m_bFailed || rs.m_nUncompressedLeft != 0)
        nResult = ZIP_ERR_DATA;
    else if (rs.m_nMethod == METHOD_DEFLATED && !rs.m_bStreamEnded && !FinishInflate(pArchive))
        nResult = ZIP_ERR_DATA;
    else if (rs.m_nCrc32 != rs.m_nExpectedCrc32)
        nResult = ZIP_ERR_DATA;
    pArchive->m_pReadState.reset();
    return nResult;
}

bool IsSafeEntryPath(const char* pszName)
{
    if (pszName == nullptr || pszName[0] == '\0')
        return false;
    const std::string strName = NormaliseSeparators(pszName);
    if (strName[0] == '/' || (strName.size() >= 2 && strName[1] == ':'))
        return false;
    size_t nStart = 0;
    while (nStart <= strName.size()) {
        size_t nEnd = strName.find('/', nStart);
        if (nEnd == std::string::npos)
            nEnd = strName.size();
        if (strName.compare(nStart, nEnd - nStart, "..") == 0)
            return false;
        nStart = nEnd + 1;
    }
    return true;
}

void EnsureDirectories(const std::string& strRoot, const std::string& strPath)
{
    CExtractDirectory dir;
    dir.Open(strRoot, NormaliseSeparators(strPath.c_str()), true);
}

namespace {

// Unpacks the entry described by info into strLeaf in dir, through a temporary file that
// replaces strLeaf only once every byte arrived whole.
uint32_t WriteEntryInto(ZipArchive* pArchive, const ZipEntryInfo& info, CExtractDirectory& dir,
                        const std::string& strLeaf)
{
    const unsigned int nMode = (info.m_nAttributes & ZIP_ATTR_READONLY) != 0 ? 0444 : 0666;
    CTempFile tempFile(dir);
    if (!tempFile.Create(nMode))
        return ZIP_ERR_CREATE;

    uint32_t nResult = OpenEntryData(pArchive);
    if (nResult != ZIP_OK)
        return ZIP_ERR_DATA;
    std::unique_ptr<uint8_t[]> pBuffer(new uint8_t[ZIP_COPY_BUFFER_SIZE]);
    bool bFailed = false;
    for (;;) {
        const int64_t nRead = ReadEntryData(pArchive, pBuffer.get(), ZIP_COPY_BUFFER_SIZE);
        if (nRead < 0) {
            bFailed = true;
            break;
        }
        if (nRead == 0)
            break;
        if (!WriteAll(tempFile.Fd(), pBuffer.get(), static_cast<size_t>(nRead))) {
            bFailed = true;
            break;
        }
    }
    if (CloseEntryData(pArchive) != ZIP_OK)
        bFailed = true;
    if (bFailed)
        return ZIP_ERR_DATA;

    // The creation time stays in the entry's description: Linux keeps none a program may set.
    SetFileTimesUtc(tempFile.Fd(), static_cast<int64_t>(info.m_nAccessTime), static_cast<int64_t>(info.m_nModifyTime));
    if (!tempFile.CloseFile())
        return ZIP_ERR_DATA;
    if (!tempFile.CommitAs(strLeaf))
        return ZIP_ERR_CREATE;
    return ZIP_OK;
}

} // namespace

uint32_t ZipExtractEntryToFile(ZipArchive* pArchive, int nEntry, const char* pszFileName)
{
    if (pArchive == nullptr || pszFileName == nullptr)
        return ZIP_ERR_ARGS;
    if (pArchive->m_pReadState != nullptr)
        CloseEntryData(pArchive);
    if (nEntry < 0 || static_cast<uint32_t>(nEntry) >= pArchive->m_nEntryCount)
        return ZIP_ERR_ARGS;
    ZipEntryInfo info{};
    uint32_t nResult = ZipGetEntry(pArchive, nEntry, &info);
    if (nResult != ZIP_OK)
        return nResult;

    if ((info.m_nAttributes & ZIP_ATTR_DIRECTORY) != 0) {
        if (!IsSafeEntryPath(info.m_szName))
            return ZIP_ERR_CREATE;
        const std::string strDir = NormaliseSeparators(info.m_szName);
        if (pArchive->m_strRootDir.size() + strDir.size() >= ZIP_MAX_PATH)
            return ZIP_ERR_CREATE;
        CExtractDirectory dir;
        return dir.Open(pArchive->m_strRootDir, strDir, true) ? ZIP_OK : ZIP_ERR_CREATE;
    }

    if (!IsSafeEntryPath(pszFileName))
        return ZIP_ERR_CREATE;
    const std::string strTarget = NormaliseSeparators(pszFileName);
    if (strTarget.back() == '/' || strTarget.size() >= ZIP_MAX_PATH)
        return ZIP_ERR_CREATE;
    const size_t nLast = strTarget.rfind('/');
    const std::string strDir = nLast == std::string::npos ? std::string() : strTarget.substr(0, nLast + 1);
    const std::string strLeaf = nLast == std::string::npos ? strTarget : strTarget.substr(nLast + 1);
    if (pArchive->m_strRootDir.size() + strDir.size() >= ZIP_MAX_PATH)
        return ZIP_ERR_CREATE;
    CExtractDirectory dir;
    if (!dir.Open(pArchive->m_strRootDir, strDir, true))
        return ZIP_ERR_CREATE;
    nResult = WriteEntryInto(pArchive, info, dir, strLeaf);
    // The folders made for this entry go with it: a failed extraction leaves nothing behind.
    if (nResult != ZIP_OK)
        dir.RemoveCreatedDirectories();
    return nResult;
}

uint32_t ZipReadEntryToMemory(ZipArchive* pArchive, int nEntry, std::vector<uint8_t>* pData, uint64_t nMaxSize)
{
    if (pData == nullptr)
        return ZIP_ERR_ARGS;
    pData->clear();
    ZipEntryInfo info{};
    uint32_t nResult = ZipGetEntry(pArchive, nEntry, &info);
    if (nResult != ZIP_OK)
        return nResult;
    if (nEntry == -1 || (info.m_nAttributes & ZIP_ATTR_DIRECTORY) != 0)
        return ZIP_OK;
    if (info.m_nUncompressedSize > nMaxSize)
        return ZIP_ERR_DATA;
    nResult = OpenEntryData(pArchive);
    if (nResult != ZIP_OK)
        return ZIP_ERR_DATA;
    pData->resize(info.m_nUncompressedSize);
    size_t nHave = 0;
    bool bFailed = false;
    for (;;) {
        const int64_t nRead = ReadEntryData(pArchive, pData->data() + nHave, pData->size() - nHave);
        if (nRead < 0) {
            bFailed = true;
            break;
        }
        if (nRead == 0)
            break;
        nHave += static_cast<size_t>(nRead);
    }
    if (CloseEntryData(pArchive) != ZIP_OK || bFailed || nHave != pData->size()) {
        pData->clear();
        return ZIP_ERR_DATA;
    }
    return ZIP_OK;
}

const char* DescribeZipResult(uint32_t nResult)
{
    switch (nResult) {
    case ZIP_OK:
        return "success";
    case ZIP_ERR_CREATE:
        return "the target file cannot be created there, or its name points outside the target directory";
    case ZIP_ERR_DATA:
        return "the entry's data is damaged, cut short or of the wrong size, or writing the file failed";
    case ZIP_ERR_HEADER:
        return "the entry's headers are damaged or disagree with each other";
    case ZIP_ERR_EXTRA:
        return "the entry's local extra field is damaged";
    case ZIP_ERR_ZIP64:
        return "it needs ZIP64 (sizes past 4 GiB or more than 65,535 entries), which is not supported";
    case ZIP_ERR_ARGS:
        return "there is no such entry in the archive";
    default:
        return "unknown failure";
    }
}
