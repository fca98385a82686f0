#pragma once
// What a press of "開始更新" does, once for both dialogs: take the port chosen, read and check
// the file before the port opens, keep the port in setting.ini, replace the link and open the
// port, run the transfer, show how it ended; and the same button cancelling a running update.
// Each dialog gives its own widgets through IUpdateView; no toolkit here.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/update_log.h"
#include "serial/link_messages.h"
#include "transfer/record_transfer.h"
#include "transfer/transfer_host.h"

class CMatrixApp;

// The icon of a box the dialog shows with the program's caption.
enum class EBoxIcon { Information, Warning };

// What starting an update asks of its dialog.
class IUpdateView {
public:
    virtual ~IUpdateView() = default;
    // The file field's text, as the operator left it.
    virtual std::string GetFileFieldText() = 0;
    // The port the drop-down names: true with its number in *pnPort. False when it names none
    // this dialog takes, with what the operator typed (trimmed, "" for nothing) in *pstrTyped.
    virtual bool TakePortChoice(int32_t* pnPort, std::string* pstrTyped) = 0;
    // The system's double-click time in milliseconds.
    virtual uint32_t GetDoubleClickTime() const = 0;
    virtual void SetCaption(const std::string& strText) = 0;
    // The progress bar empty, as before any update.
    virtual void ClearProgressBar() = 0;
    virtual void ShowBox(const std::string& strText, EBoxIcon eIcon) = 0;
    // Makes the owner a new link is opened with, keeps it, and drops the one before (whose link
    // is gone already). The owner lives until the next call or the dialog's end.
    virtual ILinkOwner* ReplaceLinkOwner() = 0;
    // The start button reads "取消更新" while an update runs (bUpdating), "開始更新" otherwise.
    virtual void ShowUpdating(bool bUpdating) = 0;
    // Runs fnTransfer with this dialog's progress bar and message pump, which serve the transfer
    // while it runs; returns its outcome.
    using TransferRun = std::function<CTransferOutcome(IProgressBar* pProgress, IMessagePump* pPump)>;
    virtual CTransferOutcome ServeTransfer(const TransferRun& fnTransfer) = 0;
    // Ends the dialog as 離開 does.
    virtual void CloseDialog() = 0;
    // A notice that must not block the update nor take the caption (the transfer's): shown
    // beside the dialog, it goes away by itself or when the operator closes it.
    virtual void ShowHint(const std::string& strText) = 0;
};

// The update's steps over a dialog's view, and the transfer's status window: progress texts go
// to the caption, the transfer's boxes to the view's.
class CUpdateController : public IStatusWindow {
public:
    // The dialog's one transfer object starts idle, as the dialog's construction leaves it.
    CUpdateController(CMatrixApp& app, IUpdateView& view);
    CUpdateController(const CUpdateController&) = delete;
    CUpdateController& operator=(const CUpdateController&) = delete;

    // Who hears that setting.ini (strPath) could not be written at a press of "開始更新"
    // (strError: one English sentence naming the file and why). By default a box says so each
    // time; start-up may route it to a notice that tells the operator only once per run.
    using SaveFailureHandler = std::function<void(const std::string& strPath, const std::string& strError)>;
    void SetSaveFailureHandler(SaveFailureHandler fnHandler) { m_fnSaveFailure = std::move(fnHandler); }

    // The press of "開始更新": starts an update and returns when it has ended, or cancels the
    // one running (a second press within the double-click time is the rest of a double-click).
    void OnStartUpdate();
    // The dialog is asked to close (離開, the window manager, a logoff). True when it may close
    // now; during an update false: the update is cancelled and the dialog closes once it ended.
    bool RequestClose();
    // From "取消更新" shown until the button reads "開始更新" again.
    bool IsUpdating() const { return m_bUpdating; }
    // The dialog's link messages go to its transfer (the reply assembler, a lost link).
    void DispatchLinkMessage(const CLinkMessage& msg) { m_transfer.DispatchLinkMessage(msg); }
    // The transfer the dialog's updates run on, one after the other.
    CRecordTransfer& GetTransfer() { return m_transfer; }

    void SetWindowText(const std::string& strText) override;
    void MessageBox(const std::string& strText) override;
    void ReportFileProblem(const CPatternFileProblem& problem, const std::string& strText) override;

private:
    void SaveSettings();
    bool OpenLink(int nPort, std::string* pstrFailure);
    // Writes the update's line to the update log; a log that cannot be written is said once
    // per run, without stopping anything.
    void RecordUpdate(CUpdateRecorder& recorder, const CTransferOutcome& outcome, const std::vector<uint8_t>& data,
                      const std::string& strReason);
    CTransferOutcome RunTransfer(const std::vector<uint8_t>& data);
    void ShowEnding(const CTransferOutcome& outcome);
    void EndUpdate();

    CMatrixApp& m_app;
    IUpdateView& m_view;
    CRecordTransfer m_transfer;
    SaveFailureHandler m_fnSaveFailure;
    bool m_bUpdating = false;
    // The dialog was asked to close during an update: it closes once the update has ended.
    bool m_bCloseAfterUpdate = false;
    // The tick of the press that started the current update.
    uint32_t m_nStartPress = 0;
};
