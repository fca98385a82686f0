// mkbanner: draws the update dialog's banner (bitmap resource 171) and writes it as a packed
// device-independent bitmap: the 40-byte header, then the pixel rows bottom-up, 24 bits per
// pixel (blue, green, red), no file header. The picture is a lit dot-matrix panel showing the
// tool's name above a wave, on a dark ground.
//
// Usage: mkbanner OUT.dib

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "bitmap/dib_image.h"

namespace {

constexpr int32_t BANNER_WIDTH = 603;
constexpr int32_t BANNER_HEIGHT = 168;
constexpr int DOT_PITCH = 7;

// 5 x 7 glyphs, one string per row, '#' lit.
struct CGlyph {
    char cLetter;
    const char* apszRows[7];
};

const CGlyph g_aGlyphs[] = {
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
};

const CGlyph* FindGlyph(char c)
{
    for (const CGlyph& g : g_aGlyphs) {
        if (g.cLetter == c)
            return &g;
    }
    return nullptr;
}

struct CColour {
    double r, g, b;
};

void PutPixel(CDibImage& image, int x, int y, const CColour& c)
{
    uint8_t* pRow = image.GetRow(y);
    if (pRow == nullptr || x < 0 || x >= image.GetWidth())
        return;
    auto clamp = [](double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); };
    pRow[x * 3 + 0] = clamp(c.b);
    pRow[x * 3 + 1] = clamp(c.g);
    pRow[x * 3 + 2] = clamp(c.r);
}

// A round dot with a soft edge, blended over the ground.
void DrawDot(CDibImage& image, double cx, double cy, double radius, const CColour& dot, const CColour& ground)
{
    for (int y = static_cast<int>(cy - radius - 1); y <= static_cast<int>(cy + radius + 1); ++y) {
        for (int x = static_cast<int>(cx - radius - 1); x <= static_cast<int>(cx + radius + 1); ++x) {
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            const double a = d <= radius - 0.5 ? 1.0 : d >= radius + 0.5 ? 0.0 : radius + 0.5 - d;
            if (a <= 0)
                continue;
            PutPixel(image, x, y,
                     {ground.r + (dot.r - ground.r) * a, ground.g + (dot.g - ground.g) * a,
                      ground.b + (dot.b - ground.b) * a});
        }
    }
}

CColour GroundAt(int y)
{
    const double t = static_cast<double>(y) / (BANNER_HEIGHT - 1);
    return {18 + 10 * t, 22 + 12 * t, 40 + 30 * t};
}

void DrawBanner(CDibImage& image)
{
    for (int y = 0; y < BANNER_HEIGHT; ++y) {
        for (int x = 0; x < BANNER_WIDTH; ++x)
            PutPixel(image, x, y, GroundAt(y));
    }

    const int nCols = BANNER_WIDTH / DOT_PITCH;
    const int nRows = BANNER_HEIGHT / DOT_PITCH;
    const double dOriginX = (BANNER_WIDTH - nCols * DOT_PITCH) / 2.0 + DOT_PITCH / 2.0;
    const double dOriginY = (BANNER_HEIGHT - nRows * DOT_PITCH) / 2.0 + DOT_PITCH / 2.0;

    // Which dots are lit, and in which colour: the name in amber, a wave in green below it.
    std::string strText = "MATRIX UPDATE";
    const int nTextCols = static_cast<int>(strText.size()) * 6 - 1;
    const int nTextLeft = (nCols - nTextCols) / 2;
    const int nTextTop = 4;
    auto litColour = [&](int col, int row, CColour* pColour) {
        const int tx = col - nTextLeft;
        const int ty = row - nTextTop;
        if (tx >= 0 && tx < nTextCols && ty >= 0 && ty < 7 && tx % 6 != 5) {
            const CGlyph* pGlyph = FindGlyph(strText[static_cast<size_t>(tx / 6)]);
            if (pGlyph != nullptr && pGlyph->apszRows[ty][tx % 6] == '#') {
                *pColour = {255, 176, 40};
                return true;
            }
        }
        const double dWave = 17.0 + 2.6 * std::sin(col * 2.0 * M_PI / 21.0);
        if (std::fabs(row - dWave) < 0.55) {
            *pColour = {90, 230, 120};
            return true;
        }
        return false;
    };

    for (int row = 0; row < nRows; ++row) {
        for (int col = 0; col < nCols; ++col) {
            const double cx = dOriginX + col * DOT_PITCH;
            const double cy = dOriginY + row * DOT_PITCH;
            const CColour ground = GroundAt(static_cast<int>(cy));
            CColour lit;
            if (litColour(col, row, &lit)) {
                // A faint halo first, so lit dots glow a little.
                DrawDot(image, cx, cy, 3.4, {(lit.r + ground.r) / 3, (lit.g + ground.g) / 3, (lit.b + ground.b) / 3},
                        ground);
                DrawDot(image, cx, cy, 2.6, lit, ground);
            } else {
                DrawDot(image, cx, cy, 2.2, {ground.r + 22, ground.g + 24, ground.b + 30}, ground);
            }
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkbanner OUT.dib\n");
        return 1;
    }
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = BANNER_WIDTH;
    header.biHeight = BANNER_HEIGHT;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biXPelsPerMeter = header.biYPelsPerMeter = 2835; // 72 dots per inch
    CDibImage image;
    if (!image.CreateFromHeader(header)) {
        std::fprintf(stderr, "mkbanner: cannot create a %d x %d image in memory.\n", BANNER_WIDTH, BANNER_HEIGHT);
        return 2;
    }
    DrawBanner(image);

    BITMAPINFOHEADER out = image.GetHeader();
    out.biSizeImage = static_cast<uint32_t>(image.GetImageSize());
    const std::string strPath = argv[1];
    const std::string strTemp = strPath + ".tmp";
    FILE* pFile = std::fopen(strTemp.c_str(), "wb");
    if (pFile == nullptr) {
        std::fprintf(stderr, "mkbanner: cannot write %s: %s.\n", strTemp.c_str(), std::strerror(errno));
        return 2;
    }
    bool bOk = std::fwrite(&out, sizeof out, 1, pFile) == 1 &&
               std::fwrite(image.GetBits(), 1, image.GetImageSize(), pFile) == image.GetImageSize();
    bOk = std::fclose(pFile) == 0 && bOk;
    if (!bOk || std::rename(strTemp.c_str(), strPath.c_str()) != 0) {
        std::fprintf(stderr, "mkbanner: cannot write %s: %s.\n", strPath.c_str(), std::strerror(errno));
        std::remove(strTemp.c_str());
        return 2;
    }
    return 0;
}
