#pragma once
// CUpdateDlg: the program's main window. It shows the banner, offers the COM ports present,
// lets the operator pick a pattern file, and on "開始更新" runs an update inside the button's
// handler, with the same button cancelling it. The update's steps are the core's
// (CUpdateController, the same for the Windows dialog); this holds only what is Qt.

#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QString>

#include <functional>
#include <memory>
#include <string>

#include "app/pattern_preview.h"
#include "app/update_controller.h"
#include "app/update_dlg_template.h"
#include "bitmap/dib_image.h"
#include "serial/enum_ports.h"
#include "transfer/transfer_host.h"

class CMatrixApp;
class CQtLinkOwner;
class CPreviewWindow;
class QFileDialog;
class QLineEdit;
class QProgressBar;
class QPushButton;

// Every box and file dialog the update dialog shows goes through here, so that tests can
// answer them instead of a person.
class IUpdateDlgPrompts {
public:
    virtual ~IUpdateDlgPrompts() = default;
    // A modal box with an OK button. pParent is none for the port engine's error box.
    virtual void ShowMessageBox(QWidget* pParent, const QString& strText, const QString& strCaption,
                                QMessageBox::Icon eIcon) = 0;
    // Runs the prepared file-open dialog; true when the operator confirmed a file
    // (dialog.selectedFiles() then holds it).
    virtual bool RunFileDialog(QFileDialog& dialog) = 0;
};

// The port drop-down: it asks for a fresh port list each time it is opened, so an adapter
// plugged in after start-up appears.
class CPortCombo : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;

signals:
    void PopupAboutToShow();
};

// Control 1004: a white rectangle the banner picture is drawn into.
class CPictureFrame : public QWidget {
    Q_OBJECT
public:
    CPictureFrame(const CDibImage& picture, QWidget* pParent);

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    const CDibImage& m_picture;
};

// The dialog's widgets; what a press of "開始更新" does is the core's CUpdateController, which
// this dialog serves as its view.
class CUpdateDlg : public QDialog, private IUpdateView {
    Q_OBJECT
public:
    // The controls' ids are the template's (app/update_dlg_template.h).
    enum { IDD = IDD_UPDATE_DIALOG };

    explicit CUpdateDlg(CMatrixApp& app, QWidget* pParent = nullptr);
    ~CUpdateDlg() override;

    // Replaces the boxes and file dialog (nullptr: the ordinary modal ones again).
    void SetPrompts(IUpdateDlgPrompts* pPrompts);
    // Who hears that setting.ini could not be written at a press of "開始更新" (see
    // CUpdateController::SetSaveFailureHandler).
    using SaveFailureHandler = CUpdateController::SaveFailureHandler;
    void SetSaveFailureHandler(SaveFailureHandler fnHandler);

    // The control with the template's id, or nullptr.
    QWidget* GetDlgItem(int nId) const;
    // A rectangle in dialog units as pixels for the dialog's font.
    QRect MapDialogRect(int nX, int nY, int nWidth, int nHeight) const;

    // The transfer this dialog's updates run on.
    CRecordTransfer& GetTransfer() { return m_controller.GetTransfer(); }
    const CUIntArray& GetPortList() const { return m_aPorts; }
    const CDibImage& GetPicture() const { return m_picture; }
    QString GetFileName() const;
    void SetFileName(const QString& strFileName);

    // Button handlers: start or cancel (1084), choose the file (1016), exit (1085).
    void OnStartUpdate();
    void OnChooseFile();
    void OnExit();
    // Lists the ports again, keeping the selection (or the typed text).
    void RefreshPortList();
    // The "預覽圖樣" window for the file in the field: opened beside the dialog, or brought up to
    // date and raised when it is open; never given the focus. Unless the operator asked for it
    // (bAsked), it does not open where it would lie over the dialog (a screen too small for
    // both). nullptr until first opened.
    void OpenPreview(bool bAsked);
    CPreviewWindow* GetPreviewWindow() const { return m_pPreview; }

protected:
    bool event(QEvent* pEvent) override;
    bool eventFilter(QObject* pObject, QEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;

private:
    void CreateControls();
    void SetUpWindow();
    QWidget* CreateControl(const CDlgControl& control);
    void PlaceControl(QWidget* pWidget, const CDlgControl& control);
    void ConnectControls();
    bool OnInitDialog();
    void FillPortCombo(uint32_t nSelectPort, const QString& strKeepText);
    void LoadBanner();
    void ShowPortError(const std::string& strText, const std::string& strCaption);
    void OnFileChosen();
    void ShowFileFieldMenu(const QPoint& pos);
    void RefreshPreview();

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
    CDibImage m_picture;
    CPortCombo* m_pPortCombo = nullptr;
    CPictureFrame* m_pPictureFrame = nullptr;
    CUIntArray m_aPorts;
    QProgressBar* m_pProgress = nullptr;
    QLineEdit* m_pFileEdit = nullptr;
    QPushButton* m_pStartButton = nullptr;

    IUpdateDlgPrompts* m_pPrompts;
    std::unique_ptr<IUpdateDlgPrompts> m_pModalPrompts;
    // The owner the current link was opened with; replaced with each new link.
    std::unique_ptr<CQtLinkOwner> m_pLinkOwner;
    int m_nBannerTimer = 0;
    CPreviewWindow* m_pPreview = nullptr; // a child window of its own, made at first use
    CPreviewFileWatch m_previewWatch;
    // The operator closed the preview: a file chosen later does not bring it back by itself.
    bool m_bPreviewDismissed = false;
    // A file was chosen while the preview could not open (the dialog not yet shown, an update
    // running): it opens as soon as it can.
    bool m_bPreviewPending = false;
    int m_nBaseUnitX = 1;
    int m_nBaseUnitY = 1;
    CUpdateController m_controller{m_app, *this};
};

// The size of the dialog, in pixels, when laid out with font.
QSize UpdateDialogSize(const QFont& font);
// font, made smaller when the dialog laid out with it would not fit into an area of
// areaSize pixels (the screen's available area less the window frame), so every control
// stays on the screen.
QFont FitUpdateDialogFont(const QFont& font, const QSize& areaSize);

// The dialog's font: the template's (Times New Roman 10 pt), else the metric-compatible
// Liberation Serif, with a Traditional Chinese font for the Chinese texts.
QFont UpdateDialogFont();
