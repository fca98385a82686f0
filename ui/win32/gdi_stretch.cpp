#include "ui/win32/gdi_stretch.h"

#include <windows.h>

void StretchPackedDib(HDC__* hDC, int nDstX, int nDstY, int nDstWidth, int nDstHeight, int nSrcX, int nSrcY,
                      int nSrcWidth, int nSrcHeight, const void* pBits, const void* pInfo)
{
    const int nOldMode = ::SetStretchBltMode(hDC, COLORONCOLOR);
    ::StretchDIBits(hDC, nDstX, nDstY, nDstWidth, nDstHeight, nSrcX, nSrcY, nSrcWidth, nSrcHeight, pBits,
                    static_cast<const BITMAPINFO*>(pInfo), DIB_RGB_COLORS, SRCCOPY);
    if (nOldMode != 0)
        ::SetStretchBltMode(hDC, nOldMode);
}
