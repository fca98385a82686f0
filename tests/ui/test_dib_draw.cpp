// CDibImage::Draw with a Qt painter: orientation, every depth's colours, stretching without
// smoothing, and source rectangles that reach outside the image.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <cstring>

#include "tests/support/dib_header.h"
#include "bitmap/dib_image.h"

namespace {

const QRgb BACKGROUND = qRgb(1, 2, 3);

QImage Canvas(int nWidth, int nHeight)
{
    QImage canvas(nWidth, nHeight, QImage::Format_RGB32);
    canvas.fill(BACKGROUND);
    return canvas;
}

void DrawInto(const CDibImage& image, QImage& canvas, const CDibRect& dst, const CDibRect& src)
{
    QPainter painter(&canvas);
    image.Draw(painter, dst, src);
}

// A 2 x 2, 24-bit image: top left red, top right green, bottom left blue, bottom right white.
void FillQuadrants(CDibImage& image)
{
    auto put = [&](int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t* p = image.GetRow(y) + 3 * x;
        p[0] = b;
        p[1] = g;
        p[2] = r;
    };
    put(0, 0, 255, 0, 0);
    put(1, 0, 0, 255, 0);
    put(0, 1, 0, 0, 255);
    put(1, 1, 255, 255, 255);
}

TEST(DibImageDraw, StretchesTopRowUpWithoutSmoothing)
{
    CDibImage image;
    ASSERT_TRUE(image.CreateFromHeader(MakeHeader(2, 2, 24)));
    FillQuadrants(image);
    QImage canvas = Canvas(8, 6);
    DrawInto(image, canvas, {0, 0, 8, 6}, {0, 0, 2, 2});
    // Each source pixel fills its quarter exactly, in one colour: no blending at the seams.
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) {
            const QRgb expected = y < 3 ? (x < 4 ? qRgb(255, 0, 0) : qRgb(0, 255, 0))
                                        : (x < 4 ? qRgb(0, 0, 255) : qRgb(255, 255, 255));
            EXPECT_EQ(canvas.pixel(x, y), expected) << x << "," << y;
        }
    }
}

TEST(DibImageDraw, SourceRectangles)
{
    CDibImage image;
    ASSERT_TRUE(image.CreateFromHeader(MakeHeader(2, 2, 24)));
    FillQuadrants(image);
    struct {
        const char* pszWhat;
        CDibRect dst, src;
        QRgb aExpected[4]; // canvas pixels (0,0), (3,0), (0,3), (3,3) of a 4 x 4 canvas
    } const aCases[] = {
        {"top right pixel", {0, 0, 4, 4}, {1, 0, 2, 1}, {qRgb(0, 255, 0), qRgb(0, 255, 0), qRgb(0, 255, 0), qRgb(0, 255, 0)}},
        {"bottom row", {0, 0, 4, 4}, {0, 1, 2, 2}, {qRgb(0, 0, 255), qRgb(255, 255, 255), qRgb(0, 0, 255), qRgb(255, 255, 255)}},
        {"into a corner", {2, 2, 4, 4}, {0, 0, 2, 2}, {BACKGROUND, BACKGROUND, BACKGROUND, qRgb(255, 255, 255)}},
        // Half of the source lies right of the image: only the left half of the target is drawn.
        {"past the right edge", {0, 0, 4, 4}, {1, 0, 3, 2}, {qRgb(0, 255, 0), BACKGROUND, qRgb(255, 255, 255), BACKGROUND}},
        {"above the image", {0, 0, 4, 4}, {0, -2, 2, 0}, {BACKGROUND, BACKGROUND, BACKGROUND, BACKGROUND}},
        {"empty source", {0, 0, 4, 4}, {1, 1, 1, 2}, {BACKGROUND, BACKGROUND, BACKGROUND, BACKGROUND}},
        {"empty target", {0, 0, 0, 4}, {0, 0, 2, 2}, {BACKGROUND, BACKGROUND, BACKGROUND, BACKGROUND}},
    };
    for (const auto& c : aCases) {
        QImage canvas = Canvas(4, 4);
        DrawInto(image, canvas, c.dst, c.src);
        EXPECT_EQ(canvas.pixel(0, 0), c.aExpected[0]) << c.pszWhat;
        EXPECT_EQ(canvas.pixel(3, 0), c.aExpected[1]) << c.pszWhat;
        EXPECT_EQ(canvas.pixel(0, 3), c.aExpected[2]) << c.pszWhat;
        EXPECT_EQ(canvas.pixel(3, 3), c.aExpected[3]) << c.pszWhat;
    }
}

TEST(DibImageDraw, EveryDepthsColours)
{
    struct {
        const char* pszWhat;
        BITMAPINFOHEADER header;
        std::vector<uint32_t> masks;
        std::vector<uint8_t> topLeft; // bytes of the top row's first pixel(s)
        QRgb expected;                // colour of the top-left pixel
        QRgb expectedSecond;          // colour of the pixel right of it
    } const aCases[] = {
        // The palettes are the fresh grey ramps.
        {"1 bit", MakeHeader(2, 1, 1), {}, {0x40}, qRgb(0, 0, 0), qRgb(255, 255, 255)},
        {"4 bits", MakeHeader(2, 1, 4), {}, {0x1F}, qRgb(17, 17, 17), qRgb(255, 255, 255)},
        {"8 bits", MakeHeader(2, 1, 8), {}, {0x80, 0x03}, qRgb(128, 128, 128), qRgb(3, 3, 3)},
        {"16 bits 5-5-5", MakeHeader(2, 1, 16), {}, {0x00, 0x7C, 0x1F, 0x00}, qRgb(255, 0, 0), qRgb(0, 0, 255)},
        {"16 bits 5-6-5", MakeHeader(2, 1, 16, BI_BITFIELDS), {0xF800, 0x07E0, 0x001F}, {0xE0, 0x07, 0x00, 0xF8},
         qRgb(0, 255, 0), qRgb(255, 0, 0)},
        {"24 bits", MakeHeader(2, 1, 24), {}, {10, 20, 30, 40, 50, 60}, qRgb(30, 20, 10), qRgb(60, 50, 40)},
        // The fourth byte is unused, not alpha: a zero there still draws the colour.
        {"32 bits", MakeHeader(2, 1, 32), {}, {10, 20, 30, 0, 40, 50, 60, 0}, qRgb(30, 20, 10), qRgb(60, 50, 40)},
    };
    for (const auto& c : aCases) {
        CDibImage image;
        ASSERT_TRUE(image.CreateFromHeader(c.header, c.masks.empty() ? nullptr : c.masks.data())) << c.pszWhat;
        std::memcpy(image.GetRow(0), c.topLeft.data(), c.topLeft.size());
        QImage canvas = Canvas(2, 1);
        DrawInto(image, canvas, {0, 0, 2, 1}, {0, 0, 2, 1});
        EXPECT_EQ(canvas.pixel(0, 0), c.expected) << c.pszWhat;
        EXPECT_EQ(canvas.pixel(1, 0), c.expectedSecond) << c.pszWhat;
    }
}

TEST(DibImageDraw, PaletteChangesShowAtTheNextDraw)
{
    CDibImage image;
    ASSERT_TRUE(image.CreateFromHeader(MakeHeader(1, 1, 8)));
    image.GetRow(0)[0] = 5;
    image.GetPalette()[5] = RGBQUAD{200, 100, 50, 0};
    QImage canvas = Canvas(1, 1);
    DrawInto(image, canvas, {0, 0, 1, 1}, {0, 0, 1, 1});
    EXPECT_EQ(canvas.pixel(0, 0), qRgb(50, 100, 200));
    image.SetGreyPalette();
    DrawInto(image, canvas, {0, 0, 1, 1}, {0, 0, 1, 1});
    EXPECT_EQ(canvas.pixel(0, 0), qRgb(5, 5, 5));
}

TEST(DibImageDraw, EmptyImageDrawsNothing)
{
    CDibImage image;
    QImage canvas = Canvas(3, 3);
    DrawInto(image, canvas, {0, 0, 3, 3}, {0, 0, 3, 3});
    EXPECT_EQ(canvas.pixel(1, 1), BACKGROUND);
}

} // namespace
