#pragma once

// The bitmap header the bitmap tests start from. Header-only, so the Qt tests, which do not
// build tests/support/*.cpp, can use it too.

#include <cstdint>

#include "bitmap/dib_image.h"

// An uncompressed (unless nCompression says otherwise) single-plane header for an image of
// nWidth by nHeight pixels at nBits bits a pixel.
inline BITMAPINFOHEADER MakeHeader(int32_t nWidth, int32_t nHeight, uint16_t nBits, uint32_t nCompression = BI_RGB)
{
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = nWidth;
    h.biHeight = nHeight;
    h.biPlanes = 1;
    h.biBitCount = nBits;
    h.biCompression = nCompression;
    return h;
}
