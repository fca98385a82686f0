#pragma once
// The skin put on the windows of one thread: a window-creation hook of that thread adopts each
// dialog and control as it is made and subclasses it; the subclasses answer the dialogs'
// control-colour messages with the skin's brushes and draw buttons, group boxes, the drop-down's
// frame and arrow, field frames and progress bars themselves. Destroying the object undoes all
// of it: hook and subclasses removed, brushes deleted, every window still there redrawn in the
// ordinary look.
//
// Everything here runs on the thread that made the object: the hook is that thread's, and a
// subclass can only be added or removed by the thread that owns the window.

#include <windows.h>

#include <memory>
#include <unordered_map>

#include "skin/skin_palette.h"
#include "ui/win32/skinlib/gdi_owners.h"

enum class ESkinnedKind {
    DIALOG,      // dialogs and message boxes: the background and the colours of their controls
    PUSH_BUTTON, // drawn whole
    GROUP_BOX,   // frame and title drawn
    FIELD,       // edit fields and lists: the frame around them
    COMBO_BOX,   // frame and drop-down button drawn over the system's drawing
    PROGRESS,    // drawn whole, its frame too
};

class CSkinnedWindows;

struct CSkinnedWindow {
    CSkinnedWindows* m_pOwner = nullptr;
    ESkinnedKind m_eKind = ESkinnedKind::DIALOG;
    bool m_bHot = false; // the mouse is over it (buttons)
};

class CSkinnedWindows {
public:
    explicit CSkinnedWindows(const CSkinPalette& palette);
    ~CSkinnedWindows();
    CSkinnedWindows(const CSkinnedWindows&) = delete;
    CSkinnedWindows& operator=(const CSkinnedWindows&) = delete;

    // Sets the calling thread's window-creation hook and adopts the windows that thread already
    // has. False when the hook or the brushes cannot be made (nothing is then changed).
    bool Install();
    DWORD GetThreadId() const { return m_dwThread; }
    // The skin draws only while high contrast is off: the person who turned it on needs the
    // system's colours more than ours.
    bool IsDrawing() const { return m_bDrawing; }

    LRESULT HandleMessage(HWND hWnd, CSkinnedWindow& window, UINT nMsg, WPARAM wParam, LPARAM lParam);
    // The window is going: its subclass is removed and it is forgotten.
    void Forget(HWND hWnd);
    void Adopt(HWND hWnd, const CREATESTRUCTW* pCreate);

private:
    static LRESULT CALLBACK CreationHook(int nCode, WPARAM wParam, LPARAM lParam);

    LRESULT HandleDialog(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleButton(HWND hWnd, CSkinnedWindow& window, UINT nMsg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleGroupBox(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleField(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleCombo(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleProgress(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);

    void PaintButton(HWND hWnd, const CSkinnedWindow& window, HDC hDC);
    void PaintGroup(HWND hWnd, HDC hDC);
    void PaintProgress(HWND hWnd, HDC hDC);
    void PaintComboOver(HWND hWnd, HDC hGiven);
    void PaintFrameOver(HWND hWnd);
    // Checks high contrast again and redraws every skinned window when that changed.
    void CheckHighContrast();
    void RedrawAll();

    CSkinPalette m_palette;
    // Answers to the control-colour messages: they must live as long as the skin.
    CBrush m_brWindow;
    CBrush m_brBase;
    HHOOK m_hHook = nullptr;
    DWORD m_dwThread = 0;
    bool m_bDrawing = true;
    std::unordered_map<HWND, std::unique_ptr<CSkinnedWindow>> m_mapWindows;
};
