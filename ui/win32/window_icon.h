#pragma once
// The program's icon in a window's title bar, on the taskbar and in Alt-Tab (WM_SETICON, big
// and small), at the sizes the window's monitor asks for. The program is per-monitor DPI aware,
// so a window moved to a monitor of another scale gets its icons again at the new sizes.

struct HWND__;
struct HICON__;

class CWindowIcon {
public:
    CWindowIcon() = default;
    ~CWindowIcon();
    CWindowIcon(const CWindowIcon&) = delete;
    CWindowIcon& operator=(const CWindowIcon&) = delete;

    // Sets the program's icon on hWnd, and sets it again at each change of the window's DPI
    // until the window is destroyed. An icon that cannot be loaded leaves the window's icon
    // as it was. The icons are freed when this object goes, which must be after the window.
    void Attach(HWND__* hWnd);

    // Loads the icons at the window's current sizes and sets them; called again on a DPI change.
    void Apply();
    // The window is being destroyed: it no longer needs the icons.
    void Detach();

private:
    HWND__* m_hWnd = nullptr;
    HICON__* m_hBigIcon = nullptr;
    HICON__* m_hSmallIcon = nullptr;
};
