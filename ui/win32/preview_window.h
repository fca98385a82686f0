#pragma once
// The "預覽圖樣" window beside the update dialog on Windows: a plain window of its own class,
// owned by the dialog, that draws what the core says of a pattern file (app/pattern_preview.h)
// with GDI. It never takes the activation: shown, raised and clicked, the dialog keeps it.

#include <vector>

#include "app/pattern_preview.h"
#include "ui/win32/win32_api.h"

class CPreviewWindow {
public:
    CPreviewWindow() = default;
    ~CPreviewWindow();
    CPreviewWindow(const CPreviewWindow&) = delete;
    CPreviewWindow& operator=(const CPreviewWindow&) = delete;

    // Shows contents: the window is made on first use and placed beside hDialog on its
    // monitor's work area each time it opens; when open already, it is brought up to date and
    // raised. Unless the operator asked for it (bAsked), it does not open where it would lie over
    // the dialog (a screen too small for both). False when it did not open.
    bool Open(HWND hDialog, CPreviewContents contents, bool bAsked);
    void ShowContents(CPreviewContents contents);
    void Hide();
    bool IsOpen() const;
    // The operator closed it since it last opened.
    bool WasDismissed() const { return m_bDismissed; }

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);
    bool Create(HWND hDialog);
    void LayOut();
    void Paint(HDC hDC, int nWidth, int nHeight);
    void DrawPicture(HDC hDC);

    HWND m_hWnd = nullptr;
    HFONT m_hTextFont = nullptr;
    bool m_bDismissed = false;
    CPreviewContents m_contents;
    CPatternPicture m_picture;
    POINT m_pictureOrigin = {0, 0};
    std::vector<RECT> m_aLineRects;
};
