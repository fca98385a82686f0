#pragma once
// StretchDIBits behind a header free of <windows.h>: the bitmap holder's own structures carry
// the same names as the system's, so the two never meet in one file.

struct HDC__;

// Draws the source rectangle of a bottom-up device-independent bitmap (pInfo: its header and
// colour table as BITMAPINFO holds them; pBits: its rows) stretched into the destination,
// COLORONCOLOR and SRCCOPY, the device context's stretch mode restored afterwards.
// nSrcY counts from the bottom row, as StretchDIBits does.
void StretchPackedDib(HDC__* hDC, int nDstX, int nDstY, int nDstWidth, int nDstHeight, int nSrcX, int nSrcY,
                      int nSrcWidth, int nSrcHeight, const void* pBits, const void* pInfo);
