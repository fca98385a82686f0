// CDibImage::Draw on Windows: the header plus the palette (8 bits per pixel or fewer) or the
// three colour masks make the BITMAPINFO that StretchDIBits reads, built anew on every call
// as the holder may have been changed in between.

#include <algorithm>
#include <cstring>
#include <vector>

#include "bitmap/dib_image.h"
#include "ui/win32/gdi_stretch.h"

void CDibImage::Draw(HDC__* hDC, const CDibRect& dst, const CDibRect& src) const
{
    if (IsEmpty() || hDC == nullptr)
        return;
    const uint32_t nColours = GetPaletteSize();
    const bool bMasks = nColours == 0 && m_bmih.biCompression == 3;
    const size_t nTable = nColours != 0 ? nColours * sizeof(RGBQUAD) : (bMasks ? 3 * sizeof(uint32_t) : 0);
    std::vector<uint8_t> info(sizeof(BITMAPINFOHEADER) + nTable, 0);
    std::memcpy(info.data(), &m_bmih, sizeof(BITMAPINFOHEADER));
    if (nColours != 0) {
        std::vector<RGBQUAD> aEntries(nColours, RGBQUAD{0, 0, 0, 0});
        GetPaletteEntries(0, static_cast<int>(nColours), aEntries.data());
        std::memcpy(info.data() + sizeof(BITMAPINFOHEADER), aEntries.data(), nTable);
    } else if (bMasks) {
        const uint32_t adwMasks[3] = {GetRedMask(), GetGreenMask(), GetBlueMask()};
        std::memcpy(info.data() + sizeof(BITMAPINFOHEADER), adwMasks, nTable);
    }
    // The source rectangle counts rows from the top; StretchDIBits from the bottom row.
    const int32_t nSrcHeight = src.nBottom - src.nTop;
    StretchPackedDib(hDC, dst.nLeft, dst.nTop, dst.nRight - dst.nLeft, dst.nBottom - dst.nTop, src.nLeft,
                     GetHeight() - src.nBottom, src.nRight - src.nLeft, nSrcHeight, GetBits(), info.data());
}
