#pragma once
// CDibImage: one uncompressed device-independent bitmap held in memory: its header, its
// pixel rows (bottom-up, as in the bitmap file format), its colour masks or palette, and a
// table of row addresses with the top row first.
//
// Everything here is plain C++ with no toolkit; only Draw paints: with Qt on Linux
// (ui/qt/dib_draw.cpp), with GDI on Windows (ui/win32/dib_draw.cpp). Both are declared against
// forward-declared types, so this header needs neither Qt nor <windows.h>.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>

static_assert(std::endian::native == std::endian::little,
              "The bitmap structures are laid out little-endian, as the file format stores them.");

// The bitmap format's own structures, packed as stored in a file or a resource.
#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight; // positive: rows stored bottom-up; negative (top-down) is refused here
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};

struct RGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};
#pragma pack(pop)

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(RGBQUAD) == 4);

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr size_t DIB_MASKS_SIZE = 3 * sizeof(uint32_t);
// The largest pixel block the holder takes on. Far beyond any banner, and low enough that a
// header from outside cannot make the program touch gigabytes (the row table alone is 8 bytes
// per row).
constexpr uint64_t MAX_DIB_IMAGE_SIZE = uint64_t{256} << 20;

class QPainter;
struct HDC__; // a Windows device context (HDC)

// A rectangle as (left, top, right, bottom), right and bottom exclusive.
struct CDibRect {
    int32_t nLeft = 0;
    int32_t nTop = 0;
    int32_t nRight = 0;
    int32_t nBottom = 0;
};

// Row stride in bytes for the given depth and width: rows are padded to 32 bits. Computed in
// 64 bits, so any header's width gives an exact answer.
uint64_t DibRowStride(uint32_t nBitCount, uint32_t nWidth);

class CDibImage {
public:
    CDibImage();
    virtual ~CDibImage();
    CDibImage(const CDibImage&) = delete;
    CDibImage& operator=(const CDibImage&) = delete;

    // Creates an image of zero pixels from a header: pHeader points at nSize readable bytes
    // holding a BITMAPINFOHEADER, followed by the red, green and blue masks when the header
    // is a 16-bit BI_BITFIELDS one. Returns false, leaving the current image as it was, when
    // the header is refused (too short, not an accepted image) or the memory cannot be had.
    bool CreateFromHeader(const void* pHeader, size_t nSize);
    // The same for a header in memory with the masks (if any) given separately.
    bool CreateFromHeader(const BITMAPINFOHEADER& header, const uint32_t* pMasks = nullptr);

    // Creates the image from a packed bitmap as a resource carries it: the header (its own
    // size field says where the rest begins), then the palette (8 bits per pixel or fewer) or,
    // for BI_BITFIELDS, three masks, then the pixel rows. Pixels missing at the end of the
    // data stay zero. False, with the image empty, when the data are refused.
    bool CreateFromPackedDib(const void* pData, size_t nSize);

    void Clear();

    // Refills the palette with an even grey ramp from black to white (images of 8 bits per
    // pixel or fewer; does nothing otherwise).
    void SetGreyPalette();

    // Copies palette entries nFirst .. nFirst + nCount - 1 into pOut[0 ..]; output slots for
    // entries beyond the palette are left untouched. False when the image is empty, has no
    // palette, nFirst is negative or pOut is missing.
    bool GetPaletteEntries(int nFirst, int nCount, RGBQUAD* pOut) const;

    // Draws the source part of the image (image coordinates, origin top left) stretched into
    // the destination rectangle, without smoothing. Draws nothing for an empty image.
    void Draw(QPainter& painter, const CDibRect& dst, const CDibRect& src) const;
    // The same on a Windows device context, through StretchDIBits (SRCCOPY, COLORONCOLOR).
    void Draw(HDC__* hDC, const CDibRect& dst, const CDibRect& src) const;

    bool IsEmpty() const { return m_pBits == nullptr; }
    const BITMAPINFOHEADER& GetHeader() const { return m_bmih; }
    int32_t GetWidth() const { return m_bmih.biWidth; }
    int32_t GetHeight() const { return m_bmih.biHeight; }
    uint32_t GetBitCount() const { return m_bmih.biBitCount; }
    size_t GetStride() const { return m_nStride; }
    // Bytes in the pixel block: stride times height (0 when empty).
    size_t GetImageSize() const { return m_nImageSize; }
    uint8_t* GetBits() { return m_pBits; }
    const uint8_t* GetBits() const { return m_pBits; }
    // Row nRow counted from the top (0 = top row, the last row in memory); nullptr when
    // nRow is outside the image.
    uint8_t* GetRow(int32_t nRow);
    const uint8_t* GetRow(int32_t nRow) const;
    uint32_t GetRedMask() const { return m_dwRedMask; }
    uint32_t GetGreenMask() const { return m_dwGreenMask; }
    uint32_t GetBlueMask() const { return m_dwBlueMask; }
    // Entries in the palette: 2^bits for 8 bits per pixel or fewer, else 0.
    uint32_t GetPaletteSize() const { return m_pPalette ? (1u << m_bmih.biBitCount) : 0; }
    RGBQUAD* GetPalette() { return m_pPalette.get(); }

private:
    BITMAPINFOHEADER m_bmih{};
    uint8_t* m_pBits = nullptr; // anonymous mapping of m_nImageSize bytes
    size_t m_nImageSize = 0;
    size_t m_nStride = 0;
    std::unique_ptr<uint8_t*[]> m_ppRows;
    uint32_t m_dwRedMask = 0;
    uint32_t m_dwGreenMask = 0;
    uint32_t m_dwBlueMask = 0;
    std::unique_ptr<RGBQUAD[]> m_pPalette;
};
