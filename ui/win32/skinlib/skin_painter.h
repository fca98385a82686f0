#pragma once
// How each kind of control looks in a skin: GDI drawing from a palette, a state and the
// window's DPI. No window handling here; the skinned windows call these from their paints.

#include <windows.h>

#include <string>

#include "skin/skin_palette.h"

COLORREF ToColorRef(const CSkinColour& colour);

// A length of the palette (pixels at 96 dpi) at nDpi; a line that is there stays at least 1 px.
int ScaleLength(int nPixels, UINT nDpi);

struct CButtonLook {
    bool m_bDefault = false;
    bool m_bPressed = false;
    bool m_bHot = false;
    bool m_bFocused = false;
    bool m_bDisabled = false;
    bool m_bHidePrefix = false; // the & marks of the text are not underlined
    bool m_bMultiLine = false;
};

// A push button filling rc, on the window's colour around its rounded corners.
void PaintPushButton(HDC hDC, const RECT& rc, const CSkinPalette& palette, UINT nDpi, const CButtonLook& look,
                     HFONT hFont, const std::wstring& strText);

// A group box's frame and title; the inside is left as it is (the box is transparent).
void PaintGroupBox(HDC hDC, const RECT& rc, const CSkinPalette& palette, UINT nDpi, HFONT hFont,
                   const std::wstring& strText, bool bDisabled, bool bHidePrefix);

// A progress bar's track and its fill for nPos of nMin..nMax. bFramed: the window has a frame of
// its own (drawn by PaintFieldFrame), so the track gets none.
void PaintProgressBar(HDC hDC, const RECT& rc, const CSkinPalette& palette, UINT nDpi, int nMin, int nMax, int nPos,
                      bool bVertical, bool bFramed);

// The parts of a drop-down the system would draw in its own colours: the frame around rcClient
// (in the accent when focused) and the button rcButton with its arrow in the text colour. The
// caller has left the item's area out of the DC's clipping.
void PaintComboFrame(HDC hDC, const RECT& rcClient, const RECT& rcButton, const CSkinPalette& palette, UINT nDpi,
                     bool bFocused, bool bDisabled);

// The non-client frame of a field (edit, list, the bar), nThickness pixels wide inside rcWindow
// (window coordinates): its outer line in the border colour (the accent when focused), the rest
// in the field's own colour.
void PaintFieldFrame(HDC hDC, const RECT& rcWindow, int nThickness, const CSkinPalette& palette, bool bFocused,
                     bool bDisabled);
