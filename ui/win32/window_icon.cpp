#include "ui/win32/window_icon.h"

#include "res/win/program_resources.h"
#include "ui/win32/win32_api.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace {

constexpr UINT_PTR ICON_SUBCLASS_ID = 0x1C0;

// Both calls came with Windows 10 1607; on older systems the program is system aware and the
// plain metrics are already those of its (only) DPI.
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);

template <typename Fn>
Fn FindUser32Function(const char* pszName)
{
    HMODULE hUser32 = ::GetModuleHandleW(L"user32.dll");
    if (hUser32 == nullptr)
        return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(hUser32, pszName)));
}

int IconMetric(HWND hWnd, int nIndex)
{
    static const auto pfnGetDpiForWindow = FindUser32Function<GetDpiForWindowFn>("GetDpiForWindow");
    static const auto pfnGetSystemMetricsForDpi = FindUser32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    if (pfnGetDpiForWindow != nullptr && pfnGetSystemMetricsForDpi != nullptr) {
        const UINT nDpi = pfnGetDpiForWindow(hWnd);
        if (nDpi != 0)
            return pfnGetSystemMetricsForDpi(nIndex, nDpi);
    }
    return ::GetSystemMetrics(nIndex);
}

HICON LoadProgramIcon(int nWidth, int nHeight)
{
    // Not shared: an icon loaded at an exact size is the caller's to destroy.
    return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PROGRAM_ICON),
                                           IMAGE_ICON, nWidth, nHeight, LR_DEFAULTCOLOR));
}

LRESULT CALLBACK IconSubclassProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR dwRefData)
{
    auto* pIcon = reinterpret_cast<CWindowIcon*>(dwRefData);
    if (nMsg == WM_DPICHANGED) {
        const LRESULT nResult = ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
        pIcon->Apply();
        return nResult;
    }
    if (nMsg == WM_NCDESTROY)
        pIcon->Detach();
    return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
}

void ReplaceIcon(HICON* phHeld, HICON hNew)
{
    if (*phHeld != nullptr)
        ::DestroyIcon(*phHeld);
    *phHeld = hNew;
}

} // namespace

CWindowIcon::~CWindowIcon()
{
    if (m_hWnd != nullptr)
        Detach();
    ReplaceIcon(&m_hBigIcon, nullptr);
    ReplaceIcon(&m_hSmallIcon, nullptr);
}

void CWindowIcon::Attach(HWND hWnd)
{
    if (m_hWnd != nullptr)
        Detach();
    m_hWnd = hWnd;
    ::SetWindowSubclass(hWnd, &IconSubclassProc, ICON_SUBCLASS_ID, reinterpret_cast<DWORD_PTR>(this));
    Apply();
}

void CWindowIcon::Apply()
{
    if (m_hWnd == nullptr)
        return;
    // The window holds on to the icon it was given: the old one is freed only once the new one
    // has taken its place.
    if (HICON hBig = LoadProgramIcon(IconMetric(m_hWnd, SM_CXICON), IconMetric(m_hWnd, SM_CYICON))) {
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hBig));
        ReplaceIcon(&m_hBigIcon, hBig);
    }
    if (HICON hSmall = LoadProgramIcon(IconMetric(m_hWnd, SM_CXSMICON), IconMetric(m_hWnd, SM_CYSMICON))) {
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hSmall));
        ReplaceIcon(&m_hSmallIcon, hSmall);
    }
}

void CWindowIcon::Detach()
{
    ::RemoveWindowSubclass(m_hWnd, &IconSubclassProc, ICON_SUBCLASS_ID);
    m_hWnd = nullptr;
}
