#pragma once
// CUpdateDlg on Windows: the program's main window, built from dialog template 167. It shows
// the banner, offers the COM ports present, lets the operator pick a pattern file, and on
// "開始更新" runs an update inside the button's handler, with the same button cancelling it.
// The update's steps (CUpdateController), the transfer, the link, the settings and the
// sentences are the core's; this holds only what is Win32.

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/pattern_preview.h"
#include "app/update_controller.h"
#include "serial/enum_ports.h"
#include "serial/link_messages.h"
#include "transfer/transfer_host.h"
#include "ui/win32/banner.h"
#include "ui/win32/preview_window.h"
#include "ui/win32/taskbar_progress.h"
#include "ui/win32/window_icon.h"
#include "ui/win32/win32_api.h"

class CMatrixApp;

// Posted to the dialog when its link owner has queued something: a link message, or an
// error text of the port engine.
constexpr UINT WM_APP_LINK_MESSAGE = WM_APP + 1;
constexpr UINT WM_APP_PORT_ERROR = WM_APP + 2;

// The owner a link is opened with. The monitor thread queues its notifications here and wakes
// the dialog with a posted message; the dialog takes them on its own thread. Notifications
// still queued when the owner goes (its link replaced) belong to no transfer: synchronous ones
// release their sender.
class CWin32LinkOwner : public ILinkOwner {
public:
    explicit CWin32LinkOwner(HWND hTarget) : m_hTarget(hTarget) {}
    ~CWin32LinkOwner() override;
    CWin32LinkOwner(const CWin32LinkOwner&) = delete;
    CWin32LinkOwner& operator=(const CWin32LinkOwner&) = delete;

    void PostLinkMessage(CLinkMessage msg) override;
    void ShowPortError(const std::string& strText, const std::string& strCaption) override;

    bool TakeMessage(CLinkMessage* pMsg);
    bool TakePortError(std::string* pstrText, std::string* pstrCaption);

private:
    HWND m_hTarget;
    std::mutex m_mutex;
    std::deque<CLinkMessage> m_messages;
    std::deque<std::pair<std::string, std::string>> m_errors;
};

// Pumps the thread's messages for the transfer: waits in MsgWaitForMultipleObjectsEx until a
// message arrives or the time is up, so it never spins, then dispatches every message waiting
// through the dialog's key filter.
class CWin32MessagePump : public IMessagePump {
public:
    explicit CWin32MessagePump(HWND hDialog) : m_hDialog(hDialog) {}
    bool WaitAndDispatch(uint32_t nMaxWaitMs, int* pnQuitCode) override;

private:
    HWND m_hDialog;
};

// Drives a progress bar control. Byte offsets beyond its int range are scaled down so the bar
// still fills in proportion.
class CWin32ProgressBar : public IProgressBar {
public:
    explicit CWin32ProgressBar(HWND hBar) : m_hBar(hBar) {}
    void SetRange(uint64_t nMin, uint64_t nMax) override;
    void SetPos(uint64_t nPos) override;

private:
    int Scale(uint64_t nValue) const;
    HWND m_hBar;
    unsigned m_nShift = 0;
};

// Dispatches one message of the thread as the dialog's loop does: a key-down of Enter or
// Escape for a window of hDialog has its key code replaced by 0 (neither closes the dialog
// nor presses its default button); dialog navigation keys go to the dialog.
void DispatchDialogMessage(HWND hDialog, MSG& msg);

// The dialog's windows; what a press of "開始更新" does is the core's CUpdateController, which
// this dialog serves as its view.
class CUpdateDlg : private IUpdateView {
public:
    explicit CUpdateDlg(CMatrixApp& app);
    ~CUpdateDlg() override;
    CUpdateDlg(const CUpdateDlg&) = delete;
    CUpdateDlg& operator=(const CUpdateDlg&) = delete;

    // Creates the dialog without a parent and runs it until it ends; returns IDOK, or -1 when
    // it could not be created. A quit message ends it too and is posted again for the caller.
    int DoModal();
    HWND GetSafeHwnd() const { return m_hWnd; }
    // The file in the file field (the program's FILE argument, before the dialog opens).
    void SetFileName(const std::string& strFileName);

    // Who hears that setting.ini could not be written at a press of "開始更新" (see
    // CUpdateController::SetSaveFailureHandler).
    using SaveFailureHandler = CUpdateController::SaveFailureHandler;
    void SetSaveFailureHandler(SaveFailureHandler fnHandler) { m_controller.SetSaveFailureHandler(std::move(fnHandler)); }

    // Button handlers: start or cancel (1084), choose the file (1016), exit (1085).
    void OnStartUpdate();
    void OnChooseFile();
    void OnExit();
    // The "預覽圖樣" window for the file in the field: opened beside the dialog, or brought up to
    // date and raised when it is open; never given the activation. Unless the operator asked for
    // it (bAsked), it does not open where it would lie over the dialog.
    void OpenPreview(bool bAsked);

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT nMsg, WPARAM wParam);
    // WM_COMMAND from control nId with notification nCode.
    INT_PTR OnCommand(UINT nId, UINT nCode);
    void OnInitDialog();
    void OnCloseRequest();
    void DrawBanner();
    void FillPortCombo(uint32_t nSelectPort);
    std::string GetDlgItemText(int nId) const;
    void TakeLinkMessages();
    void TakePortErrors();
    void EndDialog(int nResult);
    void OnFileChosen();
    void PollPreview();
    void ShowFileFieldMenu(HWND hEdit, LPARAM lParam);
    static LRESULT CALLBACK FileFieldProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam, UINT_PTR nId,
                                          DWORD_PTR dwThis);

    // The view the update's steps are run over.
    std::string GetFileFieldText() override;
    bool TakePortChoice(int32_t* pnPort, std::string* pstrTyped) override;
    uint32_t GetDoubleClickTime() const override;
    void SetCaption(const std::string& strText) override;
    void ClearProgressBar() override;
    void ShowBox(const std::string& strText, EBoxIcon eIcon) override;
    ILinkOwner* ReplaceLinkOwner() override;
    void ShowUpdating(bool bUpdating) override;
    CTransferOutcome ServeTransfer(const TransferRun& fnTransfer) override;
    void CloseDialog() override;
    void ShowHint(const std::string& strText) override;

    CMatrixApp& m_app;
    HWND m_hWnd = nullptr;
    CBanner m_banner;
    CWindowIcon m_icon;
    CUIntArray m_aPorts;
    // The file named before the window was made, put into its field when it is.
    std::string m_strFileName;
    // The owner the current link was opened with; replaced with each new link.
    std::unique_ptr<CWin32LinkOwner> m_pLinkOwner;
    // The update's progress on the taskbar button, while the window is there.
    std::unique_ptr<CTaskbarProgress> m_pTaskbar;
    CPreviewWindow m_preview;
    CPreviewFileWatch m_previewWatch;
    // A file was chosen while the preview could not open (the dialog not yet shown, an update
    // running): it opens as soon as it can.
    bool m_bPreviewPending = false;
    bool m_bEnded = false;
    int m_nResult = IDOK;
    CUpdateController m_controller{m_app, *this};
};
