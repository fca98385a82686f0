#pragma once
// CUpdateDlg: the program's main window. It shows the banner, offers the COM ports present,
// lets the operator pick a pattern file, and on "開始更新" opens the port and runs the record
// transfer inside the button's handler, with the same button cancelling it.

#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QString>

#include <functional>
#include <memory>
#include <string>

#include "app/update_dlg_template.h"
#include "bitmap/dib_image.h"
#include "serial/enum_ports.h"
#include "transfer/transfer_host.h"

class CMatrixApp;
class CQtLinkOwner;
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

class CUpdateDlg : public QDialog, public IStatusWindow {
    Q_OBJECT
public:
    // The controls' ids are the template's (app/update_dlg_template.h).
    enum { IDD = IDD_UPDATE_DIALOG };

    explicit CUpdateDlg(CMatrixApp& app, QWidget* pParent = nullptr);
    ~CUpdateDlg() override;

    // Replaces the boxes and file dialog (nullptr: the ordinary modal ones again).
    void SetPrompts(IUpdateDlgPrompts* pPrompts);
    // Who hears that setting.ini (strPath) could not be written at a press of "開始更新"
    // (strError: one English sentence naming the file and why). By default a box says so each
    // time; start-up may route it to a notice that tells the operator only once per run.
    using SaveFailureHandler = std::function<void(const std::string& strPath, const std::string& strError)>;
    void SetSaveFailureHandler(SaveFailureHandler fnHandler);

    // The control with the template's id, or nullptr.
    QWidget* GetDlgItem(int nId) const;
    // A rectangle in dialog units as pixels for the dialog's font.
    QRect MapDialogRect(int nX, int nY, int nWidth, int nHeight) const;

    const CUIntArray& GetPortList() const { return m_aPorts; }
    const CDibImage& GetPicture() const { return m_picture; }
    QString GetFileName() const;
    void SetFileName(const QString& strFileName);

    // The record transfer's status window: the caption, and boxes with the default caption.
    void SetWindowText(const std::string& strText) override;
    void MessageBox(const std::string& strText) override;
    void ReportFileProblem(const CPatternFileProblem& problem, const std::string& strText) override;

    // Button handlers: start or cancel (1084), choose the file (1016), exit (1085).
    void OnStartUpdate();
    void OnChooseFile();
    void OnExit();
    // Lists the ports again, keeping the selection (or the typed text).
    void RefreshPortList();

protected:
    bool event(QEvent* pEvent) override;
    bool eventFilter(QObject* pObject, QEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
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
    bool TakePortChoice(int32_t* pnPort);
    void ShowBox(const QString& strText, QMessageBox::Icon eIcon);
    void ShowPortError(const std::string& strText, const std::string& strCaption);
    void EndUpdate();

    CMatrixApp& m_app;
    CDibImage m_picture;
    CPortCombo* m_pPortCombo = nullptr;
    CPictureFrame* m_pPictureFrame = nullptr;
    CUIntArray m_aPorts;
    QProgressBar* m_pProgress = nullptr;
    QLineEdit* m_pFileEdit = nullptr;
    QPushButton* m_pStartButton = nullptr;
    QString m_strFileName;

    IUpdateDlgPrompts* m_pPrompts;
    SaveFailureHandler m_fnSaveFailure;
    std::unique_ptr<IUpdateDlgPrompts> m_pModalPrompts;
    // The owner the current link was opened with; replaced with each new link.
    std::unique_ptr<CQtLinkOwner> m_pLinkOwner;
    int m_nBannerTimer = 0;
    int m_nBaseUnitX = 1;
    int m_nBaseUnitY = 1;
    // From "取消更新" shown until the button reads "開始更新" again.
    bool m_bUpdating = false;
    // The dialog was asked to close during an update: it closes once the update has ended.
    bool m_bCloseAfterUpdate = false;
    // Since the press that started the current update: a second press within the system's
    // double-click interval is the rest of a double-click, not a cancel request.
    QElapsedTimer m_startPress;
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
