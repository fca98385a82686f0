#include "bitmap/dib_image.h"

#include "platform/pages.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

bool IsAcceptedHeader(const BITMAPINFOHEADER& header)
{
    if (header.biWidth <= 0 || header.biHeight <= 0)
        return false;
    if (header.biCompression != BI_RGB && header.biCompression != BI_BITFIELDS)
        return false;
    switch (header.biBitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32:
        return true;
    default:
        return false;
    }
}

// The pixel block is anonymous virtual memory: page-granular and zero-filled by the system,
// so a fresh image needs no clearing of its own.
uint8_t* CommitBlock(size_t nSize)
{
    return static_cast<uint8_t*>(CommitPages(nSize));
}

} // namespace

uint64_t DibRowStride(uint32_t nBitCount, uint32_t nWidth)
{
    return ((static_cast<uint64_t>(nBitCount) * nWidth + 31) / 32) * 4;
}

CDibImage::CDibImage() = default;

CDibImage::~CDibImage()
{
    Clear();
}

bool CDibImage::CreateFromHeader(const void* pHeader, size_t nSize)
{
    if (pHeader == nullptr || nSize < sizeof(BITMAPINFOHEADER))
        return false;
    BITMAPINFOHEADER header;
    std::memcpy(&header, pHeader, sizeof header);
    uint32_t adwMasks[3] = {};
    const bool bHasMasks = header.biBitCount == 16 && header.biCompression == BI_BITFIELDS;
    if (bHasMasks) {
        // The masks follow the 40-byte header; a header cut short before them is refused
        // rather than read past.
        if (nSize < sizeof(BITMAPINFOHEADER) + DIB_MASKS_SIZE)
            return false;
        std::memcpy(adwMasks, static_cast<const uint8_t*>(pHeader) + sizeof header, sizeof adwMasks);
    }
    return CreateFromHeader(header, bHasMasks ? adwMasks : nullptr);
}

bool CDibImage::CreateFromHeader(const BITMAPINFOHEADER& source, const uint32_t* pMasks)
{
    if (!IsAcceptedHeader(source))
        return false;
    const uint32_t nBits = source.biBitCount;
    const bool bBitFields = nBits == 16 && source.biCompression == BI_BITFIELDS;
    if (bBitFields && pMasks == nullptr)
        return false;

    // Sizes come from outside: check that stride x height is within our limit before
    // anything is allocated.
    const uint64_t nStride = DibRowStride(nBits, static_cast<uint32_t>(source.biWidth));
    const uint64_t nHeight = static_cast<uint64_t>(source.biHeight);
    if (nStride > MAX_DIB_IMAGE_SIZE / nHeight)
        return false;
    const size_t nImageSize = static_cast<size_t>(nStride * nHeight);

    // Everything is had before the current image is given up, so a failure leaves it intact.
    std::unique_ptr<uint8_t*[]> ppRows(new (std::nothrow) uint8_t*[static_cast<size_t>(nHeight)]);
    if (!ppRows)
        return false;
    std::unique_ptr<RGBQUAD[]> pPalette;
    if (nBits <= 8) {
        pPalette.reset(new (std::nothrow) RGBQUAD[size_t{1} << nBits]());
        if (!pPalette)
            return false;
    }
    uint8_t* pBits = CommitBlock(nImageSize);
    if (pBits == nullptr)
        return false;

    Clear();
    m_bmih = BITMAPINFOHEADER{};
    m_bmih.biSize = sizeof(BITMAPINFOHEADER);
    m_bmih.biWidth = source.biWidth;
    m_bmih.biHeight = source.biHeight;
    m_bmih.biPlanes = 1;
    m_bmih.biBitCount = static_cast<uint16_t>(nBits);
    m_bmih.biCompression = source.biCompression;
    m_bmih.biXPelsPerMeter = source.biXPelsPerMeter;
    m_bmih.biYPelsPerMeter = source.biYPelsPerMeter;
    if (nBits == 16) {
        if (bBitFields) {
            m_dwRedMask = pMasks[0];
            m_dwGreenMask = pMasks[1];
            m_dwBlueMask = pMasks[2];
        } else {
            m_dwRedMask = 0x7C00;
            m_dwGreenMask = 0x03E0;
            m_dwBlueMask = 0x001F;
        }
    } else {
        // A 32-bit bit-fields image is drawn as plain BGRX: its masks are not kept.
        m_bmih.biCompression = BI_RGB;
    }

    m_pBits = pBits;
    m_nImageSize = nImageSize;
    m_nStride = static_cast<size_t>(nStride);
    m_ppRows = std::move(ppRows);
    // Rows are stored bottom-up: the top row is the last one in memory.
    uint8_t* pRow = m_pBits + (static_cast<size_t>(nHeight) - 1) * m_nStride;
    for (size_t i = 0; i < nHeight; ++i, pRow -= m_nStride)
        m_ppRows[i] = pRow;
    m_pPalette = std::move(pPalette);
    if (m_pPalette)
        SetGreyPalette();
    return true;
}

bool CDibImage::CreateFromPackedDib(const void* pData, size_t nSize)
{
    if (!CreateFromHeader(pData, nSize)) {
        Clear();
        return false;
    }
    const uint8_t* pBytes = static_cast<const uint8_t*>(pData);
    BITMAPINFOHEADER source;
    std::memcpy(&source, pBytes, sizeof source);
    // Every offset is checked against the data before it is read: the header's own size
    // field, the palette and the masks all come from outside.
    uint64_t nOffset = source.biSize;
    if (nOffset < sizeof(BITMAPINFOHEADER) || nOffset > nSize) {
        Clear();
        return false;
    }
    if (m_bmih.biBitCount <= 8) {
        const uint64_t nPaletteBytes = uint64_t{sizeof(RGBQUAD)} << m_bmih.biBitCount;
        if (nOffset + nPaletteBytes > nSize) {
            Clear();
            return false;
        }
        std::memcpy(m_pPalette.get(), pBytes + nOffset, static_cast<size_t>(nPaletteBytes));
        nOffset += nPaletteBytes;
    } else if (source.biCompression == BI_BITFIELDS) {
        nOffset += DIB_MASKS_SIZE;
        if (nOffset > nSize) {
            Clear();
            return false;
        }
    }
    const size_t nCopy = static_cast<size_t>(std::min<uint64_t>(m_nImageSize, nSize - nOffset));
    std::memcpy(m_pBits, pBytes + nOffset, nCopy);
    return true;
}

void CDibImage::Clear()
{
    m_ppRows.reset();
    if (m_pBits != nullptr)
        ReleasePages(m_pBits, m_nImageSize);
    m_pBits = nullptr;
    m_nImageSize = 0;
    m_nStride = 0;
    m_pPalette.reset();
    m_bmih = BITMAPINFOHEADER{};
    m_dwRedMask = m_dwGreenMask = m_dwBlueMask = 0;
}

void CDibImage::SetGreyPalette()
{
    if (m_pBits == nullptr || !m_pPalette || m_bmih.biBitCount > 8)
        return;
    const uint32_t n = 1u << m_bmih.biBitCount;
    const uint32_t nStep = 255 / (n - 1);
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t nGrey = static_cast<uint8_t>(nStep * i);
        m_pPalette[i] = RGBQUAD{nGrey, nGrey, nGrey, 0};
    }
}

bool CDibImage::GetPaletteEntries(int nFirst, int nCount, RGBQUAD* pOut) const
{
    if (m_pBits == nullptr || m_bmih.biBitCount > 8 || nFirst < 0 || pOut == nullptr || !m_pPalette)
        return false;
    const int64_t nEntries = int64_t{1} << m_bmih.biBitCount;
    // Output slots for entries past the palette are left as the caller had them.
    for (int64_t i = 0; i < nCount && nFirst + i < nEntries; ++i)
        pOut[i] = m_pPalette[static_cast<size_t>(nFirst + i)];
    return true;
}

uint8_t* CDibImage::GetRow(int32_t nRow)
{
    if (m_pBits == nullptr || nRow < 0 || nRow >= m_bmih.biHeight)
        return nullptr;
    return m_ppRows[static_cast<size_t>(nRow)];
}

const uint8_t* CDibImage::GetRow(int32_t nRow) const
{
    return const_cast<CDibImage*>(this)->GetRow(nRow);
}
