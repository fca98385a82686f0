// The bitmap holder, without any window: strides, refused headers, masks, palettes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/resources.h"
#include "tests/support/dib_header.h"
#include "bitmap/dib_image.h"

namespace {

// Header bytes as a resource carries them, masks (if any) behind.
std::vector<uint8_t> HeaderBytes(const BITMAPINFOHEADER& h, std::vector<uint32_t> masks = {})
{
    std::vector<uint8_t> bytes(sizeof h + masks.size() * 4);
    std::memcpy(bytes.data(), &h, sizeof h);
    if (!masks.empty())
        std::memcpy(bytes.data() + sizeof h, masks.data(), masks.size() * 4);
    return bytes;
}

std::vector<uint8_t> Truncated(std::vector<uint8_t> bytes, size_t nSize)
{
    bytes.resize(nSize);
    return bytes;
}

TEST(DibImageLayout, StrideSizeAndRowTable)
{
    struct {
        int32_t nWidth, nHeight;
        uint16_t nBits;
        size_t nStride;
    } const aCases[] = {
        {603, 168, 24, 1812}, {1, 1, 1, 4},  {32, 2, 1, 4},   {33, 2, 1, 8},  {7, 3, 4, 4},
        {9, 3, 4, 8},         {5, 5, 8, 8},  {3, 4, 16, 8},   {2, 4, 16, 4},  {1, 1, 24, 4},
        {5, 2, 24, 16},       {3, 3, 32, 12},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(testing::Message() << c.nWidth << "x" << c.nHeight << "x" << c.nBits);
        CDibImage image;
        ASSERT_TRUE(image.CreateFromHeader(MakeHeader(c.nWidth, c.nHeight, c.nBits)));
        EXPECT_EQ(image.GetStride(), c.nStride);
        EXPECT_EQ(image.GetImageSize(), c.nStride * static_cast<size_t>(c.nHeight));
        // The top row is the last one in memory; each following row one stride lower.
        for (int32_t y = 0; y < c.nHeight; ++y)
            EXPECT_EQ(image.GetRow(y), image.GetBits() + (c.nHeight - 1 - y) * c.nStride) << "row " << y;
        EXPECT_EQ(image.GetRow(-1), nullptr);
        EXPECT_EQ(image.GetRow(c.nHeight), nullptr);
        // Fresh pixels are zero, and the whole block is writable.
        const uint8_t* p = image.GetBits();
        EXPECT_EQ(std::count(p, p + image.GetImageSize(), 0), static_cast<long>(image.GetImageSize()));
        std::memset(image.GetBits(), 0xA5, image.GetImageSize());
    }
    CDibImage banner;
    ASSERT_TRUE(banner.CreateFromHeader(MakeHeader(603, 168, 24)));
    // The largest image taken on: exactly at the size limit (one row, so the pages stay untouched).
    CDibImage largest;
    ASSERT_TRUE(largest.CreateFromHeader(MakeHeader(static_cast<int32_t>(MAX_DIB_IMAGE_SIZE / 4), 1, 32)));
    EXPECT_EQ(largest.GetImageSize(), MAX_DIB_IMAGE_SIZE);
    EXPECT_EQ(banner.GetImageSize(), 304416u);
    // Virtual memory, not heap: the block starts on a page.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(banner.GetBits()) % static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)), 0u);
}

TEST(DibImageHeader, RefusedHeadersLeaveTheImageAsItWas)
{
    struct {
        const char* pszWhat;
        std::vector<uint8_t> bytes;
    } const aCases[] = {
        {"height 0", HeaderBytes(MakeHeader(4, 0, 24))},
        {"top-down", HeaderBytes(MakeHeader(4, -4, 24))},
        {"width 0", HeaderBytes(MakeHeader(0, 4, 24))},
        {"negative width", HeaderBytes(MakeHeader(-4, 4, 24))},
        {"run-length 8", HeaderBytes(MakeHeader(4, 4, 8, 1))},
        {"run-length 4", HeaderBytes(MakeHeader(4, 4, 4, 2))},
        {"jpeg", HeaderBytes(MakeHeader(4, 4, 24, 4))},
        {"2 bits", HeaderBytes(MakeHeader(4, 4, 2))},
        {"0 bits", HeaderBytes(MakeHeader(4, 4, 0))},
        {"64 bits", HeaderBytes(MakeHeader(4, 4, 64))},
        {"cut short", Truncated(HeaderBytes(MakeHeader(4, 4, 24)), 39)},
        {"masks cut short", HeaderBytes(MakeHeader(4, 4, 16, BI_BITFIELDS), {0xF800, 0x07E0})},
        {"one row past the size limit", HeaderBytes(MakeHeader(1, static_cast<int32_t>(MAX_DIB_IMAGE_SIZE / 4 + 1), 32))},
        {"one pixel past the size limit", HeaderBytes(MakeHeader(static_cast<int32_t>(MAX_DIB_IMAGE_SIZE / 4 + 1), 1, 32))},
        {"larger than memory", HeaderBytes(MakeHeader(std::numeric_limits<int32_t>::max(),
                                                      std::numeric_limits<int32_t>::max(), 32))},
    };
    for (const auto& c : aCases) {
        CDibImage image;
        ASSERT_TRUE(image.CreateFromHeader(MakeHeader(3, 2, 8)));
        image.GetBits()[0] = 42;
        EXPECT_FALSE(image.CreateFromHeader(c.bytes.data(), c.bytes.size())) << c.pszWhat;
        EXPECT_EQ(image.GetWidth(), 3) << c.pszWhat;
        EXPECT_EQ(image.GetBitCount(), 8u) << c.pszWhat;
        EXPECT_EQ(image.GetBits()[0], 42) << c.pszWhat;
    }
    CDibImage empty;
    EXPECT_FALSE(empty.CreateFromHeader(nullptr, 40));
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(DibImageHeader, NormalisedAndMasked)
{
    BITMAPINFOHEADER src = MakeHeader(10, 5, 16);
    src.biSize = 124; // a later header version: only its first 40 bytes are used
    src.biPlanes = 3;
    src.biSizeImage = 999;
    src.biXPelsPerMeter = 2835;
    src.biYPelsPerMeter = 1000;
    src.biClrUsed = 7;
    src.biClrImportant = 7;
    struct {
        const char* pszWhat;
        uint16_t nBits;
        uint32_t nCompression;
        std::vector<uint32_t> masks;
        uint32_t nExpectedCompression, nRed, nGreen, nBlue;
    } const aCases[] = {
        {"16 plain", 16, BI_RGB, {}, BI_RGB, 0x7C00, 0x03E0, 0x001F},
        {"16 bit fields", 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, BI_BITFIELDS, 0xF800, 0x07E0, 0x001F},
        {"24", 24, BI_RGB, {}, BI_RGB, 0, 0, 0},
        {"32 bit fields read as plain", 32, BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF}, BI_RGB, 0, 0, 0},
        {"8", 8, BI_RGB, {}, BI_RGB, 0, 0, 0},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        BITMAPINFOHEADER h = src;
        h.biBitCount = c.nBits;
        h.biCompression = c.nCompression;
        const auto bytes = HeaderBytes(h, c.masks);
        CDibImage image;
        ASSERT_TRUE(image.CreateFromHeader(bytes.data(), bytes.size()));
        const BITMAPINFOHEADER& n = image.GetHeader();
        EXPECT_EQ(n.biSize, 40u);
        EXPECT_EQ(n.biWidth, 10);
        EXPECT_EQ(n.biHeight, 5);
        EXPECT_EQ(n.biPlanes, 1);
        EXPECT_EQ(n.biBitCount, c.nBits);
        EXPECT_EQ(n.biCompression, c.nExpectedCompression);
        EXPECT_EQ(n.biSizeImage, 0u);
        EXPECT_EQ(n.biXPelsPerMeter, 2835);
        EXPECT_EQ(n.biYPelsPerMeter, 1000);
        EXPECT_EQ(n.biClrUsed, 0u);
        EXPECT_EQ(n.biClrImportant, 0u);
        EXPECT_EQ(image.GetRedMask(), c.nRed);
        EXPECT_EQ(image.GetGreenMask(), c.nGreen);
        EXPECT_EQ(image.GetBlueMask(), c.nBlue);
    }
}

TEST(DibImagePalette, GreyRamps)
{
    struct {
        uint16_t nBits;
        uint32_t nEntries, nStep;
    } const aCases[] = {{1, 2, 255}, {4, 16, 17}, {8, 256, 1}, {16, 0, 0}, {24, 0, 0}, {32, 0, 0}};
    for (const auto& c : aCases) {
        SCOPED_TRACE(testing::Message() << c.nBits << " bits");
        CDibImage image;
        ASSERT_TRUE(image.CreateFromHeader(MakeHeader(2, 2, c.nBits)));
        ASSERT_EQ(image.GetPaletteSize(), c.nEntries);
        if (c.nEntries == 0) {
            EXPECT_EQ(image.GetPalette(), nullptr);
            RGBQUAD out{};
            EXPECT_FALSE(image.GetPaletteEntries(0, 1, &out));
            continue;
        }
        // Spoil the palette; SetGreyPalette must bring back the ramp.
        image.GetPalette()[c.nEntries - 1] = RGBQUAD{1, 2, 3, 4};
        image.SetGreyPalette();
        std::vector<RGBQUAD> out(c.nEntries);
        ASSERT_TRUE(image.GetPaletteEntries(0, static_cast<int>(c.nEntries), out.data()));
        for (uint32_t i = 0; i < c.nEntries; ++i) {
            const uint8_t nGrey = static_cast<uint8_t>(c.nStep * i);
            EXPECT_EQ(out[i].rgbRed, nGrey) << i;
            EXPECT_EQ(out[i].rgbGreen, nGrey) << i;
            EXPECT_EQ(out[i].rgbBlue, nGrey) << i;
            EXPECT_EQ(out[i].rgbReserved, 0) << i;
        }
        EXPECT_EQ(out.back().rgbRed, 255);
    }
}

TEST(DibImagePalette, GetPaletteEntriesBounds)
{
    CDibImage image;
    ASSERT_TRUE(image.CreateFromHeader(MakeHeader(4, 4, 8)));
    const RGBQUAD marker{9, 9, 9, 9};
    struct {
        const char* pszWhat;
        int nFirst, nCount;
        bool bResult;
        int nFilled; // out[0 .. nFilled-1] get entries nFirst.., the rest stay untouched
    } const aCases[] = {
        {"tail of the palette", 250, 10, true, 6},
        {"whole palette", 0, 256, true, 256},
        {"past the palette", 256, 4, true, 0},
        {"far past the palette", std::numeric_limits<int>::max(), 4, true, 0},
        {"negative first", -1, 4, false, 0},
        {"count 0", 3, 0, true, 0},
        {"negative count", 3, -5, true, 0},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        std::vector<RGBQUAD> out(260, marker);
        EXPECT_EQ(image.GetPaletteEntries(c.nFirst, c.nCount, out.data()), c.bResult);
        for (int i = 0; i < 260; ++i) {
            if (i < c.nFilled) {
                EXPECT_EQ(out[i].rgbRed, c.nFirst + i) << i;
            } else {
                EXPECT_EQ(std::memcmp(&out[i], &marker, sizeof marker), 0) << i;
            }
        }
    }
    RGBQUAD out{};
    EXPECT_FALSE(image.GetPaletteEntries(0, 1, nullptr));
    image.Clear();
    EXPECT_FALSE(image.GetPaletteEntries(0, 1, &out));
}

TEST(DibImageLifecycle, ClearAndRecreate)
{
    CDibImage image;
    EXPECT_TRUE(image.IsEmpty());
    const uint32_t adwMasks[3] = {0xF800, 0x07E0, 0x1F};
    ASSERT_TRUE(image.CreateFromHeader(MakeHeader(2, 2, 16, BI_BITFIELDS), adwMasks));
    ASSERT_TRUE(image.CreateFromHeader(MakeHeader(5, 3, 4)));
    // Creating over an image replaces all of it: masks of the old one do not survive.
    EXPECT_EQ(image.GetRedMask(), 0u);
    EXPECT_EQ(image.GetWidth(), 5);
    EXPECT_EQ(image.GetPaletteSize(), 16u);
    image.Clear();
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.GetBits(), nullptr);
    EXPECT_EQ(image.GetRow(0), nullptr);
    EXPECT_EQ(image.GetImageSize(), 0u);
    EXPECT_EQ(image.GetPalette(), nullptr);
    const BITMAPINFOHEADER zero{};
    EXPECT_EQ(std::memcmp(&image.GetHeader(), &zero, sizeof zero), 0);
    image.SetGreyPalette(); // nothing to fill: must not touch anything
    image.Clear();          // twice is harmless
    // A header given in memory with bit fields needs its masks.
    EXPECT_FALSE(image.CreateFromHeader(MakeHeader(2, 2, 16, BI_BITFIELDS)));
}

// Packed bitmaps as a resource carries them: header, palette or masks, pixels.
struct CPackedDib {
    BITMAPINFOHEADER header;
    std::vector<uint8_t> between; // bytes after the 40-byte header and before the pixels
    std::vector<uint8_t> pixels;

    std::vector<uint8_t> Bytes() const
    {
        std::vector<uint8_t> bytes = HeaderBytes(header);
        bytes.insert(bytes.end(), between.begin(), between.end());
        bytes.insert(bytes.end(), pixels.begin(), pixels.end());
        return bytes;
    }
};

std::vector<uint8_t> Counting(size_t n, uint8_t nFirst = 1)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(nFirst + i);
    return bytes;
}

TEST(DibImagePacked, PixelsPaletteAndMasksFromTheData)
{
    // 8 bits: a palette of 256 entries precedes the pixels.
    std::vector<uint8_t> palette(256 * 4);
    for (size_t i = 0; i < 256; ++i) {
        palette[i * 4 + 0] = static_cast<uint8_t>(i);       // blue
        palette[i * 4 + 2] = static_cast<uint8_t>(255 - i); // red
    }
    // A later header version: its size field, not 40, says where the rest begins.
    BITMAPINFOHEADER v5 = MakeHeader(2, 2, 24);
    v5.biSize = 124;
    struct {
        const char* pszWhat;
        CPackedDib dib;
        size_t nPixelOffset;
    } const aCases[] = {
        {"24 bits", {MakeHeader(2, 2, 24), {}, Counting(16)}, 40},
        {"8 bits with palette", {MakeHeader(3, 2, 8), palette, Counting(8)}, 40 + 1024},
        {"16 bits with masks", {MakeHeader(2, 2, 16, BI_BITFIELDS), {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0},
                                Counting(8)}, 52},
        {"32-bit bit fields", {MakeHeader(1, 2, 32, BI_BITFIELDS), std::vector<uint8_t>(12, 0xFF), Counting(8)}, 52},
        {"124-byte header", {v5, std::vector<uint8_t>(84, 0xEE), Counting(16)}, 124},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        const std::vector<uint8_t> bytes = c.dib.Bytes();
        CDibImage image;
        ASSERT_TRUE(image.CreateFromPackedDib(bytes.data(), bytes.size()));
        ASSERT_EQ(image.GetImageSize(), bytes.size() - c.nPixelOffset);
        EXPECT_EQ(std::memcmp(image.GetBits(), bytes.data() + c.nPixelOffset, image.GetImageSize()), 0);
        if (image.GetBitCount() == 8) {
            RGBQUAD entry{};
            ASSERT_TRUE(image.GetPaletteEntries(200, 1, &entry));
            EXPECT_EQ(entry.rgbBlue, 200);
            EXPECT_EQ(entry.rgbRed, 55);
        }
        if (image.GetBitCount() == 16) {
            EXPECT_EQ(image.GetRedMask(), 0xF800u);
            EXPECT_EQ(image.GetGreenMask(), 0x07E0u);
            EXPECT_EQ(image.GetBlueMask(), 0x001Fu);
        }
    }
}

TEST(DibImagePacked, ShortOrInconsistentData)
{
    CPackedDib dib{MakeHeader(2, 2, 24), {}, Counting(16)};
    std::vector<uint8_t> whole = dib.Bytes();

    // Pixels cut short: what is there is copied, the rest stays zero.
    CDibImage image;
    ASSERT_TRUE(image.CreateFromPackedDib(whole.data(), whole.size() - 5));
    EXPECT_EQ(std::memcmp(image.GetBits(), whole.data() + 40, 11), 0);
    EXPECT_EQ(image.GetBits()[11], 0);
    EXPECT_EQ(image.GetBits()[15], 0);

    BITMAPINFOHEADER tiny = MakeHeader(2, 2, 24);
    tiny.biSize = 12;
    BITMAPINFOHEADER huge = MakeHeader(2, 2, 24);
    huge.biSize = 0xFFFFFFF0u;
    struct {
        const char* pszWhat;
        std::vector<uint8_t> bytes;
    } const aCases[] = {
        {"header size below 40", CPackedDib{tiny, {}, Counting(16)}.Bytes()},
        {"header size past the data", CPackedDib{huge, {}, Counting(16)}.Bytes()},
        {"palette cut short", CPackedDib{MakeHeader(2, 2, 4), std::vector<uint8_t>(60, 0), {}}.Bytes()},
        {"masks cut short", Truncated(CPackedDib{MakeHeader(2, 2, 32, BI_BITFIELDS), {}, {}}.Bytes(), 48)},
        {"no header", Truncated(whole, 20)},
    };
    for (const auto& c : aCases) {
        CDibImage refused;
        EXPECT_FALSE(refused.CreateFromPackedDib(c.bytes.data(), c.bytes.size())) << c.pszWhat;
        EXPECT_TRUE(refused.IsEmpty()) << c.pszWhat;
    }
}

TEST(DibImagePacked, TheBannerResource)
{
    const uint8_t* pData = nullptr;
    size_t nSize = 0;
    ASSERT_TRUE(FindProgramResource("BITMAP", "171", &pData, &nSize));
    CDibImage banner;
    ASSERT_TRUE(banner.CreateFromPackedDib(pData, nSize));
    EXPECT_EQ(banner.GetWidth(), 603);
    EXPECT_EQ(banner.GetHeight(), 168);
    EXPECT_EQ(banner.GetBitCount(), 24u);
    EXPECT_EQ(banner.GetHeader().biCompression, BI_RGB);
    // Every pixel byte came from the resource, none is left over.
    EXPECT_EQ(nSize, 40 + banner.GetImageSize());
    EXPECT_EQ(std::memcmp(banner.GetBits(), pData + 40, banner.GetImageSize()), 0);
}

} // namespace

