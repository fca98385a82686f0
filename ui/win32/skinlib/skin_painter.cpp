#include "ui/win32/skinlib/skin_painter.h"

#include <algorithm>
#include <cstdint>

#include "ui/win32/skinlib/gdi_owners.h"

namespace {

// A pen for a frame of nWidth pixels drawn inside the shape's rectangle, or none at all.
CPen MakeFramePen(int nWidth, COLORREF clr)
{
    return CPen(nWidth > 0 ? ::CreatePen(PS_INSIDEFRAME, nWidth, clr) : nullptr);
}

HGDIOBJ PenOrNone(const CPen& pen)
{
    return pen ? static_cast<HGDIOBJ>(pen.Get()) : ::GetStockObject(NULL_PEN);
}

void FillSolid(HDC hDC, const RECT& rc, COLORREF clr)
{
    // ExtTextOut with an opaque rectangle fills with the background colour and needs no brush.
    const COLORREF clrOld = ::SetBkColor(hDC, clr);
    ::ExtTextOutW(hDC, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
    ::SetBkColor(hDC, clrOld);
}

// A rounded rectangle filled with clrFill, its frame nFrame pixels wide in clrFrame.
void RoundedBox(HDC hDC, const RECT& rc, int nRadius, COLORREF clrFill, int nFrame, COLORREF clrFrame)
{
    CBrush brush(::CreateSolidBrush(clrFill));
    CPen pen = MakeFramePen(nFrame, clrFrame);
    CSelection selBrush(hDC, brush ? static_cast<HGDIOBJ>(brush.Get()) : ::GetStockObject(NULL_BRUSH));
    CSelection selPen(hDC, PenOrNone(pen));
    // Without a pen the fill stops one pixel short on the right and at the bottom.
    const int nExtra = pen ? 0 : 1;
    ::RoundRect(hDC, rc.left, rc.top, rc.right + nExtra, rc.bottom + nExtra, 2 * nRadius, 2 * nRadius);
}

HFONT FontOrDefault(HFONT hFont)
{
    return hFont != nullptr ? hFont : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

} // namespace

COLORREF ToColorRef(const CSkinColour& colour)
{
    return RGB(colour.m_nRed, colour.m_nGreen, colour.m_nBlue);
}

int ScaleLength(int nPixels, UINT nDpi)
{
    if (nPixels <= 0)
        return 0;
    return std::max(1, ::MulDiv(nPixels, static_cast<int>(nDpi), USER_DEFAULT_SCREEN_DPI));
}

void PaintPushButton(HDC hDC, const RECT& rc, const CSkinPalette& palette, UINT nDpi, const CButtonLook& look,
                     HFONT hFont, const std::wstring& strText)
{
    CSavedDc saved(hDC);
    FillSolid(hDC, rc, ToColorRef(palette.m_clrWindow));

    CSkinColour clrFill = palette.m_clrButton, clrText = palette.m_clrText, clrFrame = palette.m_clrBorder;
    if (look.m_bDisabled) {
        // Flat on the window, its text muted: plainly not to be pressed.
        clrFill = palette.m_clrWindow;
        clrText = palette.m_clrMutedText;
    } else if (look.m_bPressed) {
        clrFill = palette.m_clrPressed;
    } else if (look.m_bDefault) {
        clrFill = palette.m_clrAccent;
        clrText = palette.m_clrAccentText;
        clrFrame = palette.m_clrAccent;
    } else if (look.m_bHot) {
        clrFill = palette.m_clrHover;
    }
    int nFrame = ScaleLength(palette.m_nBorderWidth, nDpi);
    if (look.m_bFocused && !look.m_bDisabled) {
        // The focus mark is a ring in the text colour, which stands out from the accent of the
        // default button as much as from an ordinary one. It is drawn whether or not the
        // keyboard was used last: the operator must always see where Space would go.
        clrFrame = palette.m_clrText;
        nFrame = std::max(ScaleLength(palette.m_nFocusWidth, nDpi), 1);
    }
    RoundedBox(hDC, rc, ScaleLength(palette.m_nBorderRadius, nDpi), ToColorRef(clrFill), nFrame, ToColorRef(clrFrame));

    if (strText.empty())
        return;
    CSelection selFont(hDC, FontOrDefault(hFont));
    ::SetBkMode(hDC, TRANSPARENT);
    ::SetTextColor(hDC, ToColorRef(clrText));
    const int nPad = nFrame + ScaleLength(2, nDpi);
    RECT rcText = {rc.left + nPad, rc.top + nPad, rc.right - nPad, rc.bottom - nPad};
    UINT nFormat = DT_CENTER | (look.m_bHidePrefix ? DT_HIDEPREFIX : 0);
    if (look.m_bMultiLine) {
        RECT rcNeeded = rcText;
        ::DrawTextW(hDC, strText.c_str(), static_cast<int>(strText.size()), &rcNeeded, nFormat | DT_WORDBREAK | DT_CALCRECT);
        const int nHeight = rcNeeded.bottom - rcNeeded.top;
        rcText.top += std::max(0L, (rcText.bottom - rcText.top - nHeight) / 2);
        nFormat |= DT_WORDBREAK;
    } else {
        nFormat |= DT_VCENTER | DT_SINGLELINE;
    }
    ::DrawTextW(hDC, strText.c_str(), static_cast<int>(strText.size()), &rcText, nFormat);
}

void PaintGroupBox(HDC hDC, const RECT& rc, const CSkinPalette& palette, UINT nDpi, HFONT hFont,
                   const std::wstring& strText, bool bDisabled, bool bHidePrefix)
{
    CSavedDc saved(hDC);
    CSelection selFont(hDC, FontOrDefault(hFont));
    TEXTMETRICW tm{};
    ::GetTextMetricsW(hDC, &tm);
    // The frame runs through the middle of the title, as the system's own group box does.
    RECT rcFrame = rc;
    rcFrame.top += tm.tmHeight / 2;
    {
        CPen pen = MakeFramePen(ScaleLength(palette.m_nBorderWidth, nDpi), ToColorRef(palette.m_clrBorder));
        CSelection selPen(hDC, PenOrNone(pen));
        CSelection selBrush(hDC, ::GetStockObject(NULL_BRUSH));
        const int nRadius = ScaleLength(palette.m_nBorderRadius, nDpi);
        ::RoundRect(hDC, rcFrame.left, rcFrame.top, rcFrame.right, rcFrame.bottom, 2 * nRadius, 2 * nRadius);
    }
    if (strText.empty())
        return;
    const UINT nFormat = DT_SINGLELINE | DT_LEFT | DT_TOP | (bHidePrefix ? DT_HIDEPREFIX : 0);
    RECT rcTitle = {rc.left + ScaleLength(8, nDpi), rc.top, rc.right - ScaleLength(8, nDpi), rc.top + tm.tmHeight};
    RECT rcNeeded = rcTitle;
    ::DrawTextW(hDC, strText.c_str(), static_cast<int>(strText.size()), &rcNeeded, nFormat | DT_CALCRECT);
    rcTitle.right = std::min(rcTitle.right, rcNeeded.right);
    // The frame's line is taken out behind the title.
    const int nGap = ScaleLength(2, nDpi);
    FillSolid(hDC, {rcTitle.left - nGap, rcTitle.top, rcTitle.right + nGap, rcTitle.bottom},
              ToColorRef(palette.m_clrWindow));
    ::SetBkMode(hDC, TRANSPARENT);
    ::SetTextColor(hDC, ToColorRef(bDisabled ? palette.m_clrBorder : palette.m_clrMutedText));
    ::DrawTextW(hDC, strText.c_str(), static_cast<int>(strText.size()), &rcTitle, nFormat);
}

void PaintProgressBar(HDC hDC, const RECT& rc, const CSkinPalette& palette, UINT nDpi, int nMin, int nMax, int nPos,
                      bool bVertical, bool bFramed)
{
    CSavedDc saved(hDC);
    const int nFrame = bFramed ? 0 : ScaleLength(palette.m_nBorderWidth, nDpi);
    if (bFramed) {
        FillSolid(hDC, rc, ToColorRef(palette.m_clrBase));
    } else {
        FillSolid(hDC, rc, ToColorRef(palette.m_clrWindow));
        RoundedBox(hDC, rc, ScaleLength(palette.m_nBorderRadius, nDpi), ToColorRef(palette.m_clrBase), nFrame,
                   ToColorRef(palette.m_clrBorder));
    }
    if (nMax <= nMin || nPos <= nMin)
        return;
    const int nInset = nFrame + ScaleLength(1, nDpi);
    RECT rcFill = {rc.left + nInset, rc.top + nInset, rc.right - nInset, rc.bottom - nInset};
    if (rcFill.right <= rcFill.left || rcFill.bottom <= rcFill.top)
        return;
    const int64_t nDone = std::min<int64_t>(int64_t{nPos} - nMin, int64_t{nMax} - nMin);
    const int64_t nRange = int64_t{nMax} - nMin;
    if (bVertical)
        rcFill.top = rcFill.bottom - static_cast<LONG>((rcFill.bottom - rcFill.top) * nDone / nRange);
    else
        rcFill.right = rcFill.left + static_cast<LONG>((rcFill.right - rcFill.left) * nDone / nRange);
    RoundedBox(hDC, rcFill, ScaleLength(palette.m_nChunkRadius, nDpi), ToColorRef(palette.m_clrAccent), 0, 0);
}

void PaintComboFrame(HDC hDC, const RECT& rcClient, const RECT& rcButton, const CSkinPalette& palette, UINT nDpi,
                     bool bFocused, bool bDisabled)
{
    CSavedDc saved(hDC);
    FillSolid(hDC, rcClient, ToColorRef(palette.m_clrWindow));
    const COLORREF clrField = ToColorRef(bDisabled ? palette.m_clrWindow : palette.m_clrBase);
    RoundedBox(hDC, rcClient, ScaleLength(palette.m_nBorderRadius, nDpi), clrField,
               std::max(ScaleLength(palette.m_nBorderWidth, nDpi), 1),
               ToColorRef(bFocused && !bDisabled ? palette.m_clrAccent : palette.m_clrBorder));

    // The arrow: a triangle in the text colour, so the box never looks like a plain text field.
    const COLORREF clrArrow = ToColorRef(bDisabled ? palette.m_clrMutedText : palette.m_clrText);
    const int nHalfWidth = ScaleLength(4, nDpi);
    const int nHeight = ScaleLength(4, nDpi);
    const int nCentreX = (rcButton.left + rcButton.right) / 2;
    const int nTop = (rcButton.top + rcButton.bottom - nHeight) / 2;
    const POINT aptArrow[3] = {{nCentreX - nHalfWidth, nTop}, {nCentreX + nHalfWidth, nTop}, {nCentreX, nTop + nHeight}};
    CBrush brush(::CreateSolidBrush(clrArrow));
    CPen pen(::CreatePen(PS_SOLID, 1, clrArrow));
    CSelection selBrush(hDC, brush.Get());
    CSelection selPen(hDC, pen.Get());
    ::Polygon(hDC, aptArrow, 3);
}

void PaintFieldFrame(HDC hDC, const RECT& rcWindow, int nThickness, const CSkinPalette& palette, bool bFocused,
                     bool bDisabled)
{
    const COLORREF clrLine = ToColorRef(bFocused && !bDisabled ? palette.m_clrAccent : palette.m_clrBorder);
    const COLORREF clrInside = ToColorRef(bDisabled ? palette.m_clrWindow : palette.m_clrBase);
    CBrush brLine(::CreateSolidBrush(clrLine));
    CBrush brInside(::CreateSolidBrush(clrInside));
    RECT rc = rcWindow;
    for (int i = 0; i < nThickness && rc.right > rc.left && rc.bottom > rc.top; ++i) {
        ::FrameRect(hDC, &rc, i == 0 ? brLine.Get() : brInside.Get());
        ::InflateRect(&rc, -1, -1);
    }
}
