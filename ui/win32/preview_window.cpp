#include "ui/win32/preview_window.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

// Last: it brings in <windows.h> its own way.
#include "platform/win32/wide_string.h"

namespace {

const wchar_t* const PREVIEW_CLASS = L"MatrixUpdatePatternPreview";
constexpr int MARGIN = 8;
constexpr COLORREF REFUSAL_COLOUR = RGB(0xB0, 0x00, 0x20);
// Long paths break anywhere, Chinese sentences between any two characters.
constexpr UINT TEXT_FORMAT = DT_LEFT | DT_TOP | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX;
// A face Windows links to its Chinese fonts, as the message boxes' is.
const wchar_t* const FONT_FACE = L"Tahoma";

COLORREF Colour(uint32_t nColour)
{
    return RGB((nColour >> 16) & 0xFF, (nColour >> 8) & 0xFF, nColour & 0xFF);
}

// A GDI object of its owner, deleted with it; selected into a device context only through
// CSelection, which puts the one before back first.
class CGdiObject {
public:
    explicit CGdiObject(HGDIOBJ hObject) : m_hObject(hObject) {}
    ~CGdiObject()
    {
        if (m_hObject != nullptr)
            ::DeleteObject(m_hObject);
    }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    HGDIOBJ Get() const { return m_hObject; }

private:
    HGDIOBJ m_hObject;
};

class CSelection {
public:
    CSelection(HDC hDC, HGDIOBJ hObject) : m_hDC(hDC), m_hOld(hObject != nullptr ? ::SelectObject(hDC, hObject) : nullptr) {}
    ~CSelection()
    {
        if (m_hOld != nullptr)
            ::SelectObject(m_hDC, m_hOld);
    }
    CSelection(const CSelection&) = delete;
    CSelection& operator=(const CSelection&) = delete;

private:
    HDC m_hDC;
    HGDIOBJ m_hOld;
};

HFONT MakeFont(int nPixels)
{
    return ::CreateFontW(-std::max(nPixels, 1), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, FONT_FACE);
}

int Round(double dValue)
{
    return static_cast<int>(std::lround(dValue));
}

void DrawLine(HDC hDC, POINT origin, const CPictureLine& line)
{
    ::MoveToEx(hDC, origin.x + Round(line.dX1), origin.y + Round(line.dY1), nullptr);
    ::LineTo(hDC, origin.x + Round(line.dX2), origin.y + Round(line.dY2));
}

void DrawText(HDC hDC, POINT origin, const CPictureText& text)
{
    if (text.strText.empty())
        return;
    UINT nAlign = TA_BASELINE | TA_LEFT;
    if (text.eAlign == ETextAlign::Centre)
        nAlign = TA_BASELINE | TA_CENTER;
    else if (text.eAlign == ETextAlign::Right)
        nAlign = TA_BASELINE | TA_RIGHT;
    ::SetTextAlign(hDC, nAlign);
    const std::wstring str = Utf8ToWide(text.strText);
    ::TextOutW(hDC, origin.x + Round(text.dX), origin.y + Round(text.dY), str.c_str(), static_cast<int>(str.size()));
}

void DrawDot(HDC hDC, POINT origin, double dX, double dY, double dRadius)
{
    const int nX = origin.x + Round(dX);
    const int nY = origin.y + Round(dY);
    const int nRadius = std::max(1, Round(dRadius));
    // Without a pen the ellipse leaves out its right and bottom edge: one more pixel each way.
    ::Ellipse(hDC, nX - nRadius, nY - nRadius, nX + nRadius + 1, nY + nRadius + 1);
}

} // namespace

CPreviewWindow::~CPreviewWindow()
{
    if (m_hWnd != nullptr)
        ::DestroyWindow(m_hWnd);
    if (m_hTextFont != nullptr)
        ::DeleteObject(m_hTextFont);
}

bool CPreviewWindow::Create(HWND hDialog)
{
    const HINSTANCE hInstance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (!::GetClassInfoExW(hInstance, PREVIEW_CLASS, &wc)) {
        wc = {};
        wc.cbSize = sizeof(wc);
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = &CPreviewWindow::WindowProc;
        wc.hInstance = hInstance;
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hIcon = reinterpret_cast<HICON>(::SendMessageW(hDialog, WM_GETICON, ICON_BIG, 0));
        wc.lpszClassName = PREVIEW_CLASS;
        if (::RegisterClassExW(&wc) == 0)
            return false;
    }
    // Owned by the dialog: above it, hidden and destroyed with it, no taskbar button of its own.
    m_hWnd = ::CreateWindowExW(0, PREVIEW_CLASS, L"預覽圖樣", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME,
                               CW_USEDEFAULT, CW_USEDEFAULT, 400, 400, hDialog, nullptr, hInstance, this);
    if (m_hWnd == nullptr)
        return false;
    const HDC hDC = ::GetDC(m_hWnd);
    const int nDpi = hDC != nullptr ? ::GetDeviceCaps(hDC, LOGPIXELSY) : 96;
    if (hDC != nullptr)
        ::ReleaseDC(m_hWnd, hDC);
    m_hTextFont = MakeFont(::MulDiv(9, nDpi, 72) + 3);
    return true;
}

bool CPreviewWindow::Open(HWND hDialog, CPreviewContents contents, bool bAsked)
{
    const bool bWasOpen = IsOpen();
    if (bWasOpen) {
        ShowContents(std::move(contents));
        ::SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        return true;
    }
    RECT rcDialog;
    ::GetWindowRect(hDialog, &rcDialog);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    RECT rcWork = rcDialog;
    if (::GetMonitorInfoW(::MonitorFromWindow(hDialog, MONITOR_DEFAULTTONEAREST), &monitor))
        rcWork = monitor.rcWork;
    const CPreviewPlacement placement = PlacePreviewWindow(
        CScreenRect{rcDialog.left, rcDialog.top, rcDialog.right - rcDialog.left, rcDialog.bottom - rcDialog.top},
        CScreenRect{rcWork.left, rcWork.top, rcWork.right - rcWork.left, rcWork.bottom - rcWork.top});
    if (placement.bOverDialog && !bAsked)
        return false;
    if (m_hWnd == nullptr && !Create(hDialog))
        return false;
    m_bDismissed = false;
    const CScreenRect& rect = placement.rect;
    // Its size first, so that the contents are laid out for it.
    ::SetWindowPos(m_hWnd, HWND_TOP, rect.nLeft, rect.nTop, rect.nWidth, rect.nHeight, SWP_NOACTIVATE);
    ShowContents(std::move(contents));
    ::ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
    return true;
}

void CPreviewWindow::ShowContents(CPreviewContents contents)
{
    m_contents = std::move(contents);
    if (m_hWnd == nullptr)
        return;
    ::SetWindowTextW(m_hWnd, Utf8ToWide(m_contents.strTitle).c_str());
    LayOut();
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CPreviewWindow::Hide()
{
    if (m_hWnd != nullptr)
        ::ShowWindow(m_hWnd, SW_HIDE);
}

bool CPreviewWindow::IsOpen() const
{
    return m_hWnd != nullptr && ::IsWindowVisible(m_hWnd);
}

void CPreviewWindow::LayOut()
{
    RECT rcClient;
    ::GetClientRect(m_hWnd, &rcClient);
    const int nWidth = rcClient.right;
    m_aLineRects.clear();
    int nTop = MARGIN;
    if (const HDC hDC = ::GetDC(m_hWnd)) {
        CSelection font(hDC, m_hTextFont);
        for (const std::string& strLine : m_contents.astrLines) {
            const std::wstring str = Utf8ToWide(strLine);
            RECT rc = {MARGIN, nTop, std::max(MARGIN + 1, nWidth - MARGIN), nTop};
            ::DrawTextW(hDC, str.c_str(), static_cast<int>(str.size()), &rc, TEXT_FORMAT | DT_CALCRECT);
            rc.right = std::max(MARGIN + 1, nWidth - MARGIN);
            m_aLineRects.push_back(rc);
            nTop = rc.bottom + MARGIN / 2;
        }
        ::ReleaseDC(m_hWnd, hDC);
    }
    m_picture = BuildPreviewPicture(m_contents, nWidth, std::max(1, static_cast<int>(rcClient.bottom) - nTop));
    m_pictureOrigin = POINT{std::max(0, (nWidth - m_picture.nWidth) / 2), nTop};
}

LRESULT CALLBACK CPreviewWindow::WindowProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    if (nMsg == WM_NCCREATE) {
        auto* pCreate = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* pThis = static_cast<CPreviewWindow*>(pCreate->lpCreateParams);
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pThis));
        pThis->m_hWnd = hWnd;
    }
    auto* pThis = reinterpret_cast<CPreviewWindow*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (pThis == nullptr)
        return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
    if (nMsg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        pThis->m_hWnd = nullptr;
        return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
    }
    return pThis->OnMessage(nMsg, wParam, lParam);
}

LRESULT CPreviewWindow::OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    switch (nMsg) {
    case WM_MOUSEACTIVATE:
        // Clicked, moved or resized, it leaves the activation (and the caret) with the dialog.
        return MA_NOACTIVATE;
    case WM_CLOSE:
        // Kept for the next opening from the file field's menu.
        m_bDismissed = true;
        ::ShowWindow(m_hWnd, SW_HIDE);
        return 0;
    case WM_GETMINMAXINFO: {
        auto* pInfo = reinterpret_cast<MINMAXINFO*>(lParam);
        pInfo->ptMinTrackSize.x = PREVIEW_MIN_WIDTH;
        pInfo->ptMinTrackSize.y = 160;
        return 0;
    }
    case WM_SIZE:
        LayOut();
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
        return 0;
    case WM_ERASEBKGND:
        // Everything is painted at once, off the screen first, so nothing flickers.
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        const HDC hDC = ::BeginPaint(m_hWnd, &ps);
        RECT rcClient;
        ::GetClientRect(m_hWnd, &rcClient);
        if (hDC != nullptr && rcClient.right > 0 && rcClient.bottom > 0) {
            const HDC hMemory = ::CreateCompatibleDC(hDC);
            CGdiObject bitmap(::CreateCompatibleBitmap(hDC, rcClient.right, rcClient.bottom));
            if (hMemory != nullptr && bitmap.Get() != nullptr) {
                {
                    CSelection selected(hMemory, bitmap.Get());
                    Paint(hMemory, rcClient.right, rcClient.bottom);
                    ::BitBlt(hDC, 0, 0, rcClient.right, rcClient.bottom, hMemory, 0, 0, SRCCOPY);
                }
            }
            if (hMemory != nullptr)
                ::DeleteDC(hMemory);
        }
        ::EndPaint(m_hWnd, &ps);
        return 0;
    }
    default:
        return ::DefWindowProcW(m_hWnd, nMsg, wParam, lParam);
    }
}

void CPreviewWindow::Paint(HDC hDC, int nWidth, int nHeight)
{
    const RECT rcAll = {0, 0, nWidth, nHeight};
    ::FillRect(hDC, &rcAll, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::SetBkMode(hDC, TRANSPARENT);
    {
        CSelection font(hDC, m_hTextFont);
        ::SetTextColor(hDC, m_contents.bRefused ? REFUSAL_COLOUR : RGB(0, 0, 0));
        ::SetTextAlign(hDC, TA_LEFT | TA_TOP);
        for (size_t i = 0; i < m_aLineRects.size() && i < m_contents.astrLines.size(); ++i) {
            const std::wstring str = Utf8ToWide(m_contents.astrLines[i]);
            RECT rc = m_aLineRects[i];
            ::DrawTextW(hDC, str.c_str(), static_cast<int>(str.size()), &rc, TEXT_FORMAT);
        }
    }
    if (!m_picture.aPoints.empty())
        DrawPicture(hDC);
}

// The picture, in the order the core lays it out for: nothing hides what matters.
void CPreviewWindow::DrawPicture(HDC hDC)
{
    const CPatternPicture& picture = m_picture;
    const POINT o = m_pictureOrigin;
    CGdiObject background(::CreateSolidBrush(Colour(picture.nBackground)));
    const RECT rcPicture = {o.x, o.y, o.x + picture.nWidth, o.y + picture.nHeight};
    ::FillRect(hDC, &rcPicture, static_cast<HBRUSH>(background.Get()));
    {
        CGdiObject gridPen(::CreatePen(PS_SOLID, 1, Colour(picture.nGrid)));
        CSelection pen(hDC, gridPen.Get());
        for (const auto* pTicks : {&picture.aXTicks, &picture.aYTicks})
            for (const CPictureTick& tick : *pTicks)
                DrawLine(hDC, o, tick.grid);
    }
    CGdiObject inkPen(::CreatePen(PS_SOLID, 1, Colour(picture.nInk)));
    {
        CSelection pen(hDC, inkPen.Get());
        CSelection brush(hDC, ::GetStockObject(NULL_BRUSH));
        const CPictureRect& frame = picture.frame;
        ::Rectangle(hDC, o.x + Round(frame.dLeft), o.y + Round(frame.dTop), o.x + Round(frame.dLeft + frame.dWidth) + 1,
                    o.y + Round(frame.dTop + frame.dHeight) + 1);
        for (const auto* pTicks : {&picture.aXTicks, &picture.aYTicks})
            for (const CPictureTick& tick : *pTicks)
                DrawLine(hDC, o, tick.mark);
    }
    if (picture.aPoints.size() > 1) {
        std::vector<POINT> aOrder;
        aOrder.reserve(picture.aPoints.size());
        for (const CPicturePoint& point : picture.aPoints)
            aOrder.push_back(POINT{o.x + Round(point.dX), o.y + Round(point.dY)});
        CGdiObject orderPen(::CreatePen(PS_SOLID, std::max(1, Round(picture.dOrderLineWidth)), Colour(picture.nOrderLine)));
        CSelection pen(hDC, orderPen.Get());
        ::Polyline(hDC, aOrder.data(), static_cast<int>(aOrder.size()));
    }

    // One brush per colour, made once for all the dots.
    std::vector<std::unique_ptr<CGdiObject>> aBrushes;
    for (uint32_t nColour : picture.aColours)
        aBrushes.push_back(std::make_unique<CGdiObject>(::CreateSolidBrush(Colour(nColour))));
    {
        CSelection pen(hDC, ::GetStockObject(NULL_PEN));
        CSelection brush(hDC, aBrushes.empty() ? nullptr : aBrushes.front()->Get());
        for (const CPicturePoint& point : picture.aPoints) {
            if (point.nColour < aBrushes.size())
                ::SelectObject(hDC, aBrushes[point.nColour]->Get());
            DrawDot(hDC, o, point.dX, point.dY, picture.dDotRadius);
        }
        for (const CPictureLegendEntry& entry : picture.aLegend) {
            if (entry.nColour < aBrushes.size())
                ::SelectObject(hDC, aBrushes[entry.nColour]->Get());
            DrawDot(hDC, o, entry.dX, entry.dY, picture.dLegendDotRadius);
        }
    }

    CGdiObject pictureFont(MakeFont(Round(picture.dFontSize)));
    CSelection font(hDC, pictureFont.Get());
    ::SetTextColor(hDC, Colour(picture.nInk));
    for (const auto* pTicks : {&picture.aXTicks, &picture.aYTicks})
        for (const CPictureTick& tick : *pTicks)
            DrawText(hDC, o, tick.label);
    DrawText(hDC, o, picture.xName);
    DrawText(hDC, o, picture.yName);
    DrawText(hDC, o, picture.legendTitle);
    for (const CPictureLegendEntry& entry : picture.aLegend)
        DrawText(hDC, o, entry.label);
    for (const CPictureText& line : picture.aCaption)
        DrawText(hDC, o, line);
    ::SetTextAlign(hDC, TA_LEFT | TA_TOP);
}
