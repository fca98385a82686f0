#include "app/update_controller.h"

#include <new>

#include "app/matrix_app.h"
#include "app/operator_texts.h"
#include "app/startup.h"
#include "app/update_dlg_template.h"
#include "platform/tick_clock.h"
#include "serial/serial_link.h"

CUpdateController::CUpdateController(CMatrixApp& app, IUpdateView& view) : m_app(app), m_view(view)
{
    g_bTransferring = 0;
}

void CUpdateController::OnStartUpdate()
{
    const std::string strFile = m_view.GetFileFieldText();
    if (g_bTransferring || m_bUpdating) {
        // The same button cancels a running update; the transfer sees it at its next check.
        // The second click of a double-click on "開始更新" is not a request to cancel.
        if (m_bUpdating && TicksSince(m_nStartPress) < m_view.GetDoubleClickTime())
            return;
        g_bCancelTransfer = 1;
        return;
    }
    // Nothing of the last run stays on show: the caption and bar belong to this press now.
    m_view.SetCaption(UPDATE_DLG_TEMPLATE.pszCaption);
    m_view.ClearProgressBar();
    m_app.SetTransferFile(strFile);

    int32_t nPort = 0;
    std::string strTyped;
    if (!m_view.TakePortChoice(&nPort, &strTyped)) {
        m_view.ShowBox(PortNotChosenText(strTyped), EBoxIcon::Warning);
        return;
    }
    m_app.m_nComPort = nPort;
    SaveSettings();

    // The whole file is read and checked before the port is touched: a file that must not be
    // sent never opens the port, and what goes out is exactly what was checked.
    std::vector<uint8_t> data;
    CTransferOutcome refused;
    if (!LoadPatternFile(this, m_app.GetTransferFile(), &data, &refused))
        return;
    if (!OpenLink(nPort))
        return;

    m_nStartPress = GetTickCount();
    m_bUpdating = true;
    m_bCloseAfterUpdate = false;
    m_view.ShowUpdating(true);
    const CTransferOutcome outcome = RunTransfer(data);
    if (m_bCloseAfterUpdate) {
        // Asked to close while updating: the transfer was cancelled (its end byte sent); the
        // dialog now closes without the closing instruction nobody asked for.
        EndUpdate();
        m_view.CloseDialog();
        return;
    }
    ShowEnding(outcome);
    EndUpdate();
    // A close asked for while the last box was up is carried out now.
    if (m_bCloseAfterUpdate)
        m_view.CloseDialog();
}

bool CUpdateController::RequestClose()
{
    if (!m_bUpdating)
        return true;
    // OnStartUpdate closes the dialog once the transfer has sent its end byte.
    g_bCancelTransfer = 1;
    m_bCloseAfterUpdate = true;
    return false;
}

void CUpdateController::SaveSettings()
{
    // A choice that cannot be kept is said, but does not stop the update.
    if (m_app.SaveSettings())
        return;
    const std::string strPath = m_app.GetSettingsPath();
    if (m_fnSaveFailure)
        m_fnSaveFailure(strPath, m_app.GetSettingsError());
    else
        m_view.ShowBox(SettingsProblemText(DescribeSaveFailure(strPath, m_app.GetSettingsError())), EBoxIcon::Warning);
}

bool CUpdateController::OpenLink(int nPort)
{
    // The previous link (and its monitor thread) goes before a new one is opened; its owner
    // only after it, since the link may post to that owner until it is destroyed.
    delete g_pSerialLink;
    g_pSerialLink = nullptr;
    ILinkOwner* pOwner = m_view.ReplaceLinkOwner();
    g_pSerialLink = new (std::nothrow) CSerialLink;
    if (g_pSerialLink == nullptr)
        return false;
    if (!OpenUpdateLink(*g_pSerialLink, pOwner, nPort)) {
        // Not silent: the operator learns which port and why (busy, absent, no permission).
        m_view.ShowBox(PortOpenFailureText(nPort, g_pSerialLink->GetOpenFailure()), EBoxIcon::Warning);
        return false;
    }
    return true;
}

CTransferOutcome CUpdateController::RunTransfer(const std::vector<uint8_t>& data)
{
    return m_view.ServeTransfer([this, &data](IProgressBar* pProgress, IMessagePump* pPump) {
        return RunUpdateTransfer(this, m_app, data, pProgress, pPump);
    });
}

void CUpdateController::ShowEnding(const CTransferOutcome& outcome)
{
    // One box: how to finish on the device, or that the update did not complete.
    bool bWarning = false;
    const std::string strEnding = UpdateEndingText(outcome, &bWarning);
    if (!strEnding.empty())
        m_view.ShowBox(strEnding, bWarning ? EBoxIcon::Warning : EBoxIcon::Information);
}

void CUpdateController::EndUpdate()
{
    m_bUpdating = false;
    m_view.ShowUpdating(false);
}

void CUpdateController::SetWindowText(const std::string& strText)
{
    m_view.SetCaption(strText);
}

void CUpdateController::MessageBox(const std::string& strText)
{
    m_view.ShowBox(strText, EBoxIcon::Information);
}

void CUpdateController::ReportFileProblem(const CPatternFileProblem& problem, const std::string& strText)
{
    m_view.ShowBox(PatternFileProblemText(problem, strText), EBoxIcon::Warning);
}
