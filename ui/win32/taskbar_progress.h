#pragma once
// The update's progress on the dialog's taskbar button, so that an operator working in another
// window sees it: a normal bar while records are sent, an error bar once the link was lost or
// records went without a reply, no bar when idle. Through the shell's taskbar list
// (ITaskbarList3, Windows 7 and later); where there is none (no shell running), nothing is shown
// and the update goes on as ever.

#include <cstdint>

#include "transfer/transfer_host.h"
#include "ui/win32/win32_api.h"

struct ITaskbarList3;

class CTaskbarProgress {
public:
    explicit CTaskbarProgress(HWND hWnd);
    ~CTaskbarProgress();
    CTaskbarProgress(const CTaskbarProgress&) = delete;
    CTaskbarProgress& operator=(const CTaskbarProgress&) = delete;

    // The message the shell sends a window once its taskbar button exists, and again whenever
    // the taskbar was made anew (Explorer restarted): the bar is shown again then.
    static UINT GetButtonCreatedMessage();
    void OnButtonCreated();

    // A normal bar at nPos of nMax.
    void ShowProgress(uint64_t nPos, uint64_t nMax);
    // The update went wrong (link lost, records without reply): the bar turns to the error state.
    void ShowError();
    // Idle: no bar.
    void Clear();

private:
    enum class EState { None, Normal, Error };
    bool Connect();
    void Apply();

    HWND m_hWnd;
    bool m_bComReady = false;
    ITaskbarList3* m_pList = nullptr;
    EState m_eState = EState::None;
    // What the taskbar was last told, so that the state goes to it once per change.
    EState m_eShownState = EState::None;
    bool m_bStateShown = false;
    uint64_t m_nPos = 0;
    uint64_t m_nMax = 0;
};

// The dialog's progress bar with the taskbar button (when there is one) following it.
class CTaskbarMirroredBar : public IProgressBar {
public:
    CTaskbarMirroredBar(IProgressBar* pBar, CTaskbarProgress* pTaskbar) : m_pBar(pBar), m_pTaskbar(pTaskbar) {}
    void SetRange(uint64_t nMin, uint64_t nMax) override;
    void SetPos(uint64_t nPos) override;

private:
    IProgressBar* m_pBar;
    CTaskbarProgress* m_pTaskbar;
    uint64_t m_nMin = 0;
    uint64_t m_nMax = 0;
};
