#include "ui/win32/skinlib/skinned_windows.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "ui/win32/skinlib/skin_painter.h"

namespace {

constexpr UINT_PTR SKIN_SUBCLASS_ID = 0x534B4E; // one subclass of ours per window

// The skin whose hook is set (one per process: a second load replaces the first).
CSkinnedWindows* g_pHookOwner = nullptr;

LRESULT CALLBACK SkinSubclassProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR dwRefData)
{
    auto* pWindow = reinterpret_cast<CSkinnedWindow*>(dwRefData);
    if (nMsg == WM_NCDESTROY) {
        // The last message a window gets: the subclass goes now, as the record it points to.
        pWindow->m_pOwner->Forget(hWnd);
        return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
    }
    return pWindow->m_pOwner->HandleMessage(hWnd, *pWindow, nMsg, wParam, lParam);
}

bool IsClass(const wchar_t* pszClass, const wchar_t* pszName)
{
    return ::lstrcmpiW(pszClass, pszName) == 0;
}

std::wstring ClassOf(HWND hWnd)
{
    wchar_t szClass[64] = {};
    ::GetClassNameW(hWnd, szClass, static_cast<int>(std::size(szClass)));
    return szClass;
}

// Which of our looks a new window gets, from its class and style; false for windows the skin
// leaves to the system (static texts and check boxes take their colours from their dialog).
bool ClassifyWindow(HWND hWnd, LONG_PTR nStyle, HWND hParent, ESkinnedKind* peKind)
{
    const std::wstring strClass = ClassOf(hWnd);
    const wchar_t* pszClass = strClass.c_str();
    if (IsClass(pszClass, L"#32770")) {
        *peKind = ESkinnedKind::DIALOG;
        return true;
    }
    if (IsClass(pszClass, L"Button")) {
        // Buttons with a picture or drawn by their owner stay as their owner made them.
        if ((nStyle & (BS_BITMAP | BS_ICON)) != 0)
            return false;
        switch (nStyle & BS_TYPEMASK) {
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON:
            *peKind = ESkinnedKind::PUSH_BUTTON;
            return true;
        case BS_GROUPBOX:
            *peKind = ESkinnedKind::GROUP_BOX;
            return true;
        default:
            return false;
        }
    }
    if (IsClass(pszClass, L"Edit")) {
        // The edit inside a drop-down has no frame of its own: the drop-down draws it.
        if (hParent != nullptr && IsClass(ClassOf(hParent).c_str(), L"ComboBox"))
            return false;
        *peKind = ESkinnedKind::FIELD;
        return true;
    }
    if (IsClass(pszClass, L"ListBox") || IsClass(pszClass, L"ComboLBox")) {
        *peKind = ESkinnedKind::FIELD;
        return true;
    }
    if (IsClass(pszClass, L"ComboBox")) {
        const LONG_PTR nType = nStyle & 3;
        if (nType != CBS_DROPDOWN && nType != CBS_DROPDOWNLIST)
            return false;
        *peKind = ESkinnedKind::COMBO_BOX;
        return true;
    }
    if (IsClass(pszClass, PROGRESS_CLASSW)) {
        // A marquee shows activity, not an amount: left to the system.
        if ((nStyle & PBS_MARQUEE) != 0)
            return false;
        *peKind = ESkinnedKind::PROGRESS;
        return true;
    }
    return false;
}

// The window's DPI: its monitor's where the system can tell (Windows 10 1607 and later), else
// the screen's.
UINT WindowDpi(HWND hWnd)
{
    using GetDpiForWindowProc = UINT(WINAPI*)(HWND);
    static const auto pfnGetDpiForWindow = reinterpret_cast<GetDpiForWindowProc>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (pfnGetDpiForWindow != nullptr) {
        const UINT nDpi = pfnGetDpiForWindow(hWnd);
        if (nDpi != 0)
            return nDpi;
    }
    CWindowDc dc(hWnd, false);
    const int nDpi = dc.Get() != nullptr ? ::GetDeviceCaps(dc.Get(), LOGPIXELSY) : 0;
    return nDpi > 0 ? static_cast<UINT>(nDpi) : USER_DEFAULT_SCREEN_DPI;
}

bool IsHighContrastOn()
{
    HIGHCONTRASTW hc = {};
    hc.cbSize = sizeof(hc);
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(hc), &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

std::wstring WindowText(HWND hWnd)
{
    const int nLength = ::GetWindowTextLengthW(hWnd);
    if (nLength <= 0)
        return std::wstring();
    std::wstring str(static_cast<size_t>(nLength) + 1, L'\0');
    str.resize(static_cast<size_t>(std::max(::GetWindowTextW(hWnd, str.data(), nLength + 1), 0)));
    return str;
}

HFONT WindowFont(HWND hWnd)
{
    return reinterpret_cast<HFONT>(::SendMessageW(hWnd, WM_GETFONT, 0, 0));
}

bool HidesAccelerators(HWND hWnd)
{
    return (::SendMessageW(hWnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL) != 0;
}

// Draws the window at once over whatever the control has just drawn itself. The standard
// controls draw some changes of state (pressed, focused, new text) straight onto the screen
// instead of through their paint message; the skin draws again right after them.
void RepaintNow(HWND hWnd)
{
    if (::IsWindowVisible(hWnd))
        ::RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_NOERASE);
}

// A transparent window (the group box) is drawn again with what lies behind it.
void RepaintWithBackground(HWND hWnd)
{
    HWND hParent = ::GetParent(hWnd);
    if (hParent == nullptr || !::IsWindowVisible(hWnd)) {
        RepaintNow(hWnd);
        return;
    }
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    ::MapWindowPoints(nullptr, hParent, reinterpret_cast<POINT*>(&rc), 2);
    ::RedrawWindow(hParent, &rc, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

// The width of the frame the system gives a window outside its client area, on the left and
// top (the sides scroll bars never take).
int FrameThickness(HWND hWnd)
{
    RECT rcWindow;
    ::GetWindowRect(hWnd, &rcWindow);
    POINT pt = {0, 0};
    ::ClientToScreen(hWnd, &pt);
    return std::max(0, static_cast<int>(std::min(pt.x - rcWindow.left, pt.y - rcWindow.top)));
}

} // namespace

CSkinnedWindows::CSkinnedWindows(const CSkinPalette& palette) : m_palette(palette) {}

CSkinnedWindows::~CSkinnedWindows()
{
    if (m_hHook != nullptr)
        ::UnhookWindowsHookEx(m_hHook);
    if (g_pHookOwner == this)
        g_pHookOwner = nullptr;
    std::vector<HWND> ahWindows;
    for (const auto& entry : m_mapWindows) {
        ::RemoveWindowSubclass(entry.first, &SkinSubclassProc, SKIN_SUBCLASS_ID);
        ahWindows.push_back(entry.first);
    }
    m_mapWindows.clear();
    // The windows that stay are drawn again, now by the system alone.
    for (HWND hWnd : ahWindows) {
        if (::IsWindow(hWnd))
            ::RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    }
}

bool CSkinnedWindows::Install()
{
    m_brWindow = CBrush(::CreateSolidBrush(ToColorRef(m_palette.m_clrWindow)));
    m_brBase = CBrush(::CreateSolidBrush(ToColorRef(m_palette.m_clrBase)));
    if (!m_brWindow || !m_brBase)
        return false;
    m_dwThread = ::GetCurrentThreadId();
    // A hook of this thread only: the dialog and its boxes are all made on the thread that
    // loads the skin.
    m_hHook = ::SetWindowsHookExW(WH_CBT, &CSkinnedWindows::CreationHook, nullptr, m_dwThread);
    if (m_hHook == nullptr)
        return false;
    g_pHookOwner = this;
    m_bDrawing = !IsHighContrastOn();

    // Windows made before the skin was loaded are adopted too, with all their controls.
    ::EnumThreadWindows(
        m_dwThread,
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto* pThis = reinterpret_cast<CSkinnedWindows*>(lParam);
            pThis->Adopt(hWnd, nullptr);
            ::EnumChildWindows(
                hWnd,
                [](HWND hChild, LPARAM lParamChild) -> BOOL {
                    reinterpret_cast<CSkinnedWindows*>(lParamChild)->Adopt(hChild, nullptr);
                    return TRUE;
                },
                lParam);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(this));
    RedrawAll();
    return true;
}

LRESULT CALLBACK CSkinnedWindows::CreationHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HCBT_CREATEWND && g_pHookOwner != nullptr) {
        const auto* pCreate = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
        g_pHookOwner->Adopt(reinterpret_cast<HWND>(wParam), pCreate->lpcs);
    }
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

void CSkinnedWindows::Adopt(HWND hWnd, const CREATESTRUCTW* pCreate)
{
    if (m_mapWindows.count(hWnd) != 0)
        return;
    // While it is being made, the window's style and parent are the ones it is made with.
    const LONG_PTR nStyle = pCreate != nullptr ? pCreate->style : ::GetWindowLongPtrW(hWnd, GWL_STYLE);
    HWND hParent = pCreate != nullptr ? pCreate->hwndParent : ::GetParent(hWnd);
    ESkinnedKind eKind{};
    if (!ClassifyWindow(hWnd, nStyle, hParent, &eKind))
        return;
    auto pWindow = std::make_unique<CSkinnedWindow>();
    pWindow->m_pOwner = this;
    pWindow->m_eKind = eKind;
    if (!::SetWindowSubclass(hWnd, &SkinSubclassProc, SKIN_SUBCLASS_ID, reinterpret_cast<DWORD_PTR>(pWindow.get())))
        return;
    m_mapWindows.emplace(hWnd, std::move(pWindow));
}

void CSkinnedWindows::Forget(HWND hWnd)
{
    ::RemoveWindowSubclass(hWnd, &SkinSubclassProc, SKIN_SUBCLASS_ID);
    m_mapWindows.erase(hWnd);
}

void CSkinnedWindows::RedrawAll()
{
    for (const auto& entry : m_mapWindows)
        ::RedrawWindow(entry.first, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

void CSkinnedWindows::CheckHighContrast()
{
    const bool bDrawing = !IsHighContrastOn();
    if (bDrawing == m_bDrawing)
        return;
    m_bDrawing = bDrawing;
    RedrawAll();
}

LRESULT CSkinnedWindows::HandleMessage(HWND hWnd, CSkinnedWindow& window, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    if (nMsg == WM_SETTINGCHANGE || nMsg == WM_SYSCOLORCHANGE || nMsg == WM_THEMECHANGED) {
        const LRESULT nResult = ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
        CheckHighContrast();
        return nResult;
    }
    if (!m_bDrawing)
        return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
    switch (window.m_eKind) {
    case ESkinnedKind::DIALOG:
        return HandleDialog(hWnd, nMsg, wParam, lParam);
    case ESkinnedKind::PUSH_BUTTON:
        return HandleButton(hWnd, window, nMsg, wParam, lParam);
    case ESkinnedKind::GROUP_BOX:
        return HandleGroupBox(hWnd, nMsg, wParam, lParam);
    case ESkinnedKind::FIELD:
        return HandleField(hWnd, nMsg, wParam, lParam);
    case ESkinnedKind::COMBO_BOX:
        return HandleCombo(hWnd, nMsg, wParam, lParam);
    case ESkinnedKind::PROGRESS:
        return HandleProgress(hWnd, nMsg, wParam, lParam);
    }
    return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
}

LRESULT CSkinnedWindows::HandleDialog(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    const auto hDC = reinterpret_cast<HDC>(wParam);
    switch (nMsg) {
    case WM_ERASEBKGND: {
        RECT rc;
        ::GetClientRect(hWnd, &rc);
        ::FillRect(hDC, &rc, m_brWindow.Get());
        return 1;
    }
    case WM_CTLCOLORDLG:
        return reinterpret_cast<LRESULT>(m_brWindow.Get());
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        // Texts, group box titles, check boxes, and fields that cannot be edited: on the window.
        ::SetTextColor(hDC, ToColorRef(::IsWindowEnabled(reinterpret_cast<HWND>(lParam)) ? m_palette.m_clrText
                                                                                        : m_palette.m_clrMutedText));
        ::SetBkColor(hDC, ToColorRef(m_palette.m_clrWindow));
        return reinterpret_cast<LRESULT>(m_brWindow.Get());
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        // Fields and lists, also those of a drop-down, which passes its children's requests on.
        ::SetTextColor(hDC, ToColorRef(m_palette.m_clrText));
        ::SetBkColor(hDC, ToColorRef(m_palette.m_clrBase));
        return reinterpret_cast<LRESULT>(m_brBase.Get());
    case WM_DPICHANGED: {
        const LRESULT nResult = ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
        RedrawAll();
        return nResult;
    }
    default:
        return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
    }
}

LRESULT CSkinnedWindows::HandleButton(HWND hWnd, CSkinnedWindow& window, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    switch (nMsg) {
    case WM_PAINT: {
        CPaintDc dc(hWnd);
        PaintButton(hWnd, window, dc.Get());
        return 0;
    }
    case WM_PRINTCLIENT:
        PaintButton(hWnd, window, reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSEMOVE:
        if (!window.m_bHot) {
            window.m_bHot = true;
            TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, hWnd, 0};
            ::TrackMouseEvent(&track);
        } else if (::GetCapture() != hWnd) {
            // Nothing changes while the mouse moves over the button, unless it is held down
            // (then leaving the button releases it).
            return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
        }
        break;
    case WM_MOUSELEAVE:
        window.m_bHot = false;
        break;
    case BM_SETSTATE:
    case BM_SETSTYLE:
    case BM_SETCHECK:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_SETTEXT:
    case WM_SETFONT:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CAPTURECHANGED:
    case WM_UPDATEUISTATE:
        break;
    default:
        return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
    }
    const LRESULT nResult = ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
    RepaintNow(hWnd);
    return nResult;
}

void CSkinnedWindows::PaintButton(HWND hWnd, const CSkinnedWindow& window, HDC hDC)
{
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    const LONG_PTR nStyle = ::GetWindowLongPtrW(hWnd, GWL_STYLE);
    const LRESULT nState = ::SendMessageW(hWnd, BM_GETSTATE, 0, 0);
    CButtonLook look;
    look.m_bDefault = (nStyle & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    look.m_bPressed = (nState & BST_PUSHED) != 0;
    look.m_bHot = window.m_bHot;
    look.m_bFocused = ::GetFocus() == hWnd;
    look.m_bDisabled = !::IsWindowEnabled(hWnd);
    look.m_bHidePrefix = HidesAccelerators(hWnd);
    look.m_bMultiLine = (nStyle & BS_MULTILINE) != 0;
    CBufferedDc buffer(hDC, rc.right, rc.bottom);
    PaintPushButton(buffer.Get(), rc, m_palette, WindowDpi(hWnd), look, WindowFont(hWnd), WindowText(hWnd));
}

LRESULT CSkinnedWindows::HandleGroupBox(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    switch (nMsg) {
    case WM_PAINT: {
        CPaintDc dc(hWnd);
        PaintGroup(hWnd, dc.Get());
        return 0;
    }
    case WM_PRINTCLIENT:
        PaintGroup(hWnd, reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETTEXT:
    case WM_ENABLE:
    case WM_SETFONT:
    case WM_UPDATEUISTATE: {
        const LRESULT nResult = ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
        RepaintWithBackground(hWnd);
        return nResult;
    }
    default:
        return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
    }
}

void CSkinnedWindows::PaintGroup(HWND hWnd, HDC hDC)
{
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    PaintGroupBox(hDC, rc, m_palette, WindowDpi(hWnd), WindowFont(hWnd), WindowText(hWnd), !::IsWindowEnabled(hWnd),
                  HidesAccelerators(hWnd));
}

LRESULT CSkinnedWindows::HandleField(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    switch (nMsg) {
    case WM_NCPAINT:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_STYLECHANGED: {
        const LRESULT nResult = ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
        PaintFrameOver(hWnd);
        return nResult;
    }
    default:
        return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
    }
}

void CSkinnedWindows::PaintFrameOver(HWND hWnd)
{
    const int nThickness = FrameThickness(hWnd);
    if (nThickness <= 0 || !::IsWindowVisible(hWnd))
        return;
    RECT rcWindow;
    ::GetWindowRect(hWnd, &rcWindow);
    const RECT rc = {0, 0, rcWindow.right - rcWindow.left, rcWindow.bottom - rcWindow.top};
    const bool bReadOnly = (::GetWindowLongPtrW(hWnd, GWL_STYLE) & ES_READONLY) != 0 && IsClass(ClassOf(hWnd).c_str(), L"Edit");
    CWindowDc dc(hWnd, true);
    if (dc.Get() != nullptr)
        PaintFieldFrame(dc.Get(), rc, nThickness, m_palette, ::GetFocus() == hWnd, !::IsWindowEnabled(hWnd) || bReadOnly);
}

LRESULT CSkinnedWindows::HandleCombo(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    switch (nMsg) {
    case WM_PRINTCLIENT: {
        const LRESULT nResult = ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
        PaintComboOver(hWnd, reinterpret_cast<HDC>(wParam));
        return nResult;
    }
    case WM_PAINT:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
    case WM_COMMAND: // focus coming to or leaving its edit field
    case WM_SETTEXT:
    case CB_SETCURSEL:
    case CB_SHOWDROPDOWN: {
        const LRESULT nResult = ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
        PaintComboOver(hWnd, nullptr);
        return nResult;
    }
    default:
        return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
    }
}

void CSkinnedWindows::PaintComboOver(HWND hWnd, HDC hGiven)
{
    COMBOBOXINFO info = {};
    info.cbSize = sizeof(info);
    if (!::GetComboBoxInfo(hWnd, &info) || (hGiven == nullptr && !::IsWindowVisible(hWnd)))
        return;
    std::optional<CWindowDc> own;
    if (hGiven == nullptr)
        own.emplace(hWnd, false);
    HDC hDC = hGiven != nullptr ? hGiven : own->Get();
    if (hDC == nullptr)
        return;
    CSavedDc saved(hDC);
    RECT rcClient;
    ::GetClientRect(hWnd, &rcClient);
    // What the drop-down shows (its edit field or the chosen entry) stays as the control drew it.
    ::ExcludeClipRect(hDC, info.rcItem.left, info.rcItem.top, info.rcItem.right, info.rcItem.bottom);
    if (info.hwndItem != nullptr && info.hwndItem != hWnd) {
        RECT rcItem;
        ::GetWindowRect(info.hwndItem, &rcItem);
        ::MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&rcItem), 2);
        ::ExcludeClipRect(hDC, rcItem.left, rcItem.top, rcItem.right, rcItem.bottom);
    }
    HWND hFocus = ::GetFocus();
    const bool bFocused = hFocus == hWnd || (hFocus != nullptr && hFocus == info.hwndItem);
    PaintComboFrame(hDC, rcClient, info.rcButton, m_palette, WindowDpi(hWnd), bFocused, !::IsWindowEnabled(hWnd));
}

LRESULT CSkinnedWindows::HandleProgress(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    switch (nMsg) {
    case WM_PAINT: {
        CPaintDc dc(hWnd);
        PaintProgress(hWnd, dc.Get());
        return 0;
    }
    case WM_PRINTCLIENT:
        PaintProgress(hWnd, reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_NCPAINT: {
        const LRESULT nResult = ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
        PaintFrameOver(hWnd);
        return nResult;
    }
    default:
        return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
    }
}

void CSkinnedWindows::PaintProgress(HWND hWnd, HDC hDC)
{
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    PBRANGE range = {};
    ::SendMessageW(hWnd, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    const int nPos = static_cast<int>(::SendMessageW(hWnd, PBM_GETPOS, 0, 0));
    const bool bVertical = (::GetWindowLongPtrW(hWnd, GWL_STYLE) & PBS_VERTICAL) != 0;
    CBufferedDc buffer(hDC, rc.right, rc.bottom);
    PaintProgressBar(buffer.Get(), rc, m_palette, WindowDpi(hWnd), range.iLow, range.iHigh, nPos, bVertical,
                     FrameThickness(hWnd) > 0);
}
