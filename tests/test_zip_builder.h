#pragma once
// Builds small ZIP archives for the reader's tests, with the knobs the odd and the broken
// cases need. Offsets of the interesting fields are reported so a test can damage them.

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

struct CTestZipEntry {
    std::string m_strName;
    std::string m_strData;
    uint16_t m_nMethod = 8;                     // 0 stored, 8 deflated, others written as stored
    uint32_t m_nExternalAttributes = 0x81A40000; // regular file, 0644
    uint16_t m_nFlags = 0;                      // bit 3: sizes and CRC after the data
    std::string m_strLocalExtra;                // raw extra field bytes of the local header
    bool m_bZip64 = false;                      // sizes in ZIP64 blocks, both headers marked 0xFFFFFFFF
    uint16_t m_nDosTime = (12 << 11);           // 12:00:00
    uint16_t m_nDosDate = ((2024 - 1980) << 9) | (1 << 5) | 1;  // 2024-01-01
};

struct CTestZipLayout {
    std::vector<size_t> m_anLocalOffset;        // per entry, from the start of the block
    std::vector<size_t> m_anCentralOffset;
    std::vector<size_t> m_anDataOffset;
    std::vector<size_t> m_anDataSize;
    size_t m_nEndRecord = 0;
};

inline void PutTestLe16(std::string& s, uint32_t n)
{
    s.push_back(static_cast<char>(n & 0xFF));
    s.push_back(static_cast<char>((n >> 8) & 0xFF));
}

inline void PutTestLe32(std::string& s, uint32_t n)
{
    PutTestLe16(s, n & 0xFFFF);
    PutTestLe16(s, n >> 16);
}

inline void SetTestLe16(std::string& s, size_t nPos, uint32_t n)
{
    s[nPos] = static_cast<char>(n & 0xFF);
    s[nPos + 1] = static_cast<char>((n >> 8) & 0xFF);
}

inline void SetTestLe32(std::string& s, size_t nPos, uint32_t n)
{
    SetTestLe16(s, nPos, n & 0xFFFF);
    SetTestLe16(s, nPos + 2, n >> 16);
}

inline std::string DeflateRaw(const std::string& strData)
{
    z_stream strm{};
    deflateInit2(&strm, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string strOut(deflateBound(&strm, strData.size()), '\0');
    strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(strData.data()));
    strm.avail_in = static_cast<uInt>(strData.size());
    strm.next_out = reinterpret_cast<Bytef*>(strOut.data());
    strm.avail_out = static_cast<uInt>(strOut.size());
    deflate(&strm, Z_FINISH);
    strOut.resize(strm.total_out);
    deflateEnd(&strm);
    return strOut;
}

// An extended timestamp ("UT") block with the given flags and times.
inline std::string MakeUtBlock(uint8_t nFlags, const std::vector<uint32_t>& anTimes)
{
    std::string s;
    PutTestLe16(s, 0x5455);
    PutTestLe16(s, static_cast<uint32_t>(1 + 4 * anTimes.size()));
    s.push_back(static_cast<char>(nFlags));
    for (uint32_t n : anTimes)
        PutTestLe32(s, n);
    return s;
}

// A ZIP64 extended information block with the uncompressed and the compressed size.
inline std::string MakeZip64Block(uint64_t nUncompressed, uint64_t nCompressed)
{
    std::string s;
    PutTestLe16(s, 0x0001);
    PutTestLe16(s, 16);
    PutTestLe32(s, static_cast<uint32_t>(nUncompressed));
    PutTestLe32(s, static_cast<uint32_t>(nUncompressed >> 32));
    PutTestLe32(s, static_cast<uint32_t>(nCompressed));
    PutTestLe32(s, static_cast<uint32_t>(nCompressed >> 32));
    return s;
}

inline std::string BuildTestZip(const std::vector<CTestZipEntry>& entries, const std::string& strComment = "",
                                const std::string& strPrefix = "", CTestZipLayout* pLayout = nullptr)
{
    CTestZipLayout layout;
    std::string strOut = strPrefix;
    std::string strDir;
    std::vector<uint32_t> anLocal;
    for (const CTestZipEntry& e : entries) {
        const std::string strPacked = e.m_nMethod == 8 ? DeflateRaw(e.m_strData) : e.m_strData;
        const uint32_t nCrc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(e.m_strData.data()), static_cast<uInt>(e.m_strData.size())));
        const bool bDescriptor = (e.m_nFlags & 8) != 0;
        const std::string strZip64 = e.m_bZip64 ? MakeZip64Block(e.m_strData.size(), strPacked.size()) : "";
        const std::string strLocalExtra = strZip64 + e.m_strLocalExtra;
        const uint32_t nPackedField = e.m_bZip64 ? 0xFFFFFFFF : static_cast<uint32_t>(strPacked.size());
        const uint32_t nSizeField = e.m_bZip64 ? 0xFFFFFFFF : static_cast<uint32_t>(e.m_strData.size());
        // Offsets in the archive count from its own first byte, not from the prefix.
        const uint32_t nLocal = static_cast<uint32_t>(strOut.size() - strPrefix.size());
        layout.m_anLocalOffset.push_back(strOut.size());
        PutTestLe32(strOut, 0x04034B50);
        PutTestLe16(strOut, 20);
        PutTestLe16(strOut, e.m_nFlags);
        PutTestLe16(strOut, e.m_nMethod);
        PutTestLe16(strOut, e.m_nDosTime);
        PutTestLe16(strOut, e.m_nDosDate);
        PutTestLe32(strOut, bDescriptor ? 0 : nCrc);
        PutTestLe32(strOut, bDescriptor ? 0 : nPackedField);
        PutTestLe32(strOut, bDescriptor ? 0 : nSizeField);
        PutTestLe16(strOut, static_cast<uint32_t>(e.m_strName.size()));
        PutTestLe16(strOut, static_cast<uint32_t>(strLocalExtra.size()));
        strOut += e.m_strName;
        strOut += strLocalExtra;
        layout.m_anDataOffset.push_back(strOut.size());
        layout.m_anDataSize.push_back(strPacked.size());
        strOut += strPacked;
        if (bDescriptor) {
            PutTestLe32(strOut, 0x08074B50);
            PutTestLe32(strOut, nCrc);
            PutTestLe32(strOut, static_cast<uint32_t>(strPacked.size()));
            PutTestLe32(strOut, static_cast<uint32_t>(e.m_strData.size()));
        }
        layout.m_anCentralOffset.push_back(strDir.size());
        PutTestLe32(strDir, 0x02014B50);
        PutTestLe16(strDir, (3 << 8) | 20);
        PutTestLe16(strDir, 20);
        PutTestLe16(strDir, e.m_nFlags);
        PutTestLe16(strDir, e.m_nMethod);
        PutTestLe16(strDir, e.m_nDosTime);
        PutTestLe16(strDir, e.m_nDosDate);
        PutTestLe32(strDir, nCrc);
        PutTestLe32(strDir, nPackedField);
        PutTestLe32(strDir, nSizeField);
        PutTestLe16(strDir, static_cast<uint32_t>(e.m_strName.size()));
        PutTestLe16(strDir, static_cast<uint32_t>(strZip64.size()));
        PutTestLe16(strDir, 0);
        PutTestLe16(strDir, 0);
        PutTestLe16(strDir, 0);
        PutTestLe32(strDir, e.m_nExternalAttributes);
        PutTestLe32(strDir, nLocal);
        strDir += e.m_strName;
        strDir += strZip64;
    }
    const size_t nDirStart = strOut.size();
    for (size_t& n : layout.m_anCentralOffset)
        n += nDirStart;
    strOut += strDir;
    layout.m_nEndRecord = strOut.size();
    PutTestLe32(strOut, 0x06054B50);
    PutTestLe16(strOut, 0);
    PutTestLe16(strOut, 0);
    PutTestLe16(strOut, static_cast<uint32_t>(entries.size()));
    PutTestLe16(strOut, static_cast<uint32_t>(entries.size()));
    PutTestLe32(strOut, static_cast<uint32_t>(strDir.size()));
    PutTestLe32(strOut, static_cast<uint32_t>(nDirStart - strPrefix.size()));
    PutTestLe16(strOut, static_cast<uint32_t>(strComment.size()));
    strOut += strComment;
    if (pLayout != nullptr)
        *pLayout = layout;
    return strOut;
}
