#include "ui/qt/update_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cmath>
#include <vector>

#include "app/matrix_app.h"
#include "app/startup.h"
#include "platform/posix/com_ports.h"
#include "platform/resources.h"
#include "serial/serial_link.h"
#include "transfer/record_transfer.h"
#include "ui/qt/preview_window.h"
#include "ui/qt/qt_hosts.h"

namespace {

const char* const CONTROL_ID_PROPERTY = "controlId";

constexpr int BANNER_TIMER_MS = 500;
constexpr int BANNER_RESOURCE = 171;

// The boxes and file dialog a person answers.
class CModalPrompts : public IUpdateDlgPrompts {
public:
    void ShowMessageBox(QWidget* pParent, const QString& strText, const QString& strCaption,
                        QMessageBox::Icon eIcon) override
    {
        QMessageBox box(eIcon, strCaption, strText, QMessageBox::Ok, pParent);
        // The operator can select and copy what the box says (into a report, say); on Linux a
        // message box does not copy itself on Ctrl+C as it does on Windows.
        box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        box.exec();
    }
    bool RunFileDialog(QFileDialog& dialog) override { return dialog.exec() == QDialog::Accepted; }
};

QString AppCaption()
{
    QString strName = QGuiApplication::applicationDisplayName();
    return strName.isEmpty() ? QStringLiteral("matrix-update") : strName;
}

// Rounded a * b / c, as dialog units are mapped to pixels.
int MulDiv(int a, int b, int c)
{
    return static_cast<int>((static_cast<int64_t>(a) * b + c / 2) / c);
}

// Dialog units follow the font: a horizontal unit is a quarter of the average character
// width, a vertical unit an eighth of the character height.
QSize DialogBaseUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int nAlphabetWidth =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize(std::max(1, (nAlphabetWidth / 26 + 1) / 2), std::max(1, metrics.height()));
}

// Room kept for the window manager's title bar and border around the dialog.
constexpr int WINDOW_FRAME_ALLOWANCE_X = 16;
constexpr int WINDOW_FRAME_ALLOWANCE_Y = 48;

} // namespace

QSize UpdateDialogSize(const QFont& font)
{
    const QSize units = DialogBaseUnits(font);
    return QSize(MulDiv(UPDATE_DLG_TEMPLATE.nWidth, units.width(), 4), MulDiv(UPDATE_DLG_TEMPLATE.nHeight, units.height(), 8));
}

QFont FitUpdateDialogFont(const QFont& font, const QSize& areaSize)
{
    QFont fitted = font;
    if (areaSize.width() <= 0 || areaSize.height() <= 0)
        return fitted;
    // Text metrics do not scale exactly with the point size, so shrink until it fits, with a
    // floor so that the text stays readable on the smallest screens.
    for (int i = 0; i < 20; ++i) {
        const QSize size = UpdateDialogSize(fitted);
        if (size.width() <= areaSize.width() && size.height() <= areaSize.height())
            break;
        const double fScale = std::min(static_cast<double>(areaSize.width()) / size.width(),
                                       static_cast<double>(areaSize.height()) / size.height());
        const double fPoints = std::floor(fitted.pointSizeF() * std::min(fScale, 0.97) * 4.0) / 4.0;
        if (fPoints < 5.0)
            break;
        fitted.setPointSizeF(fPoints);
    }
    return fitted;
}

void CPortCombo::showPopup()
{
    emit PopupAboutToShow();
    QComboBox::showPopup();
}

CPictureFrame::CPictureFrame(const CDibImage& picture, QWidget* pParent) : QWidget(pParent), m_picture(picture)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CPictureFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!m_picture.IsEmpty()) {
        m_picture.Draw(painter, CDibRect{0, 0, width(), height()},
                       CDibRect{0, 0, m_picture.GetWidth(), m_picture.GetHeight()});
    }
}

QFont UpdateDialogFont()
{
    QFont font;
    font.setFamilies({QString::fromUtf8(UPDATE_DLG_TEMPLATE.pszFont), QStringLiteral("Liberation Serif"),
                      QStringLiteral("AR PL UMing TW"), QStringLiteral("AR PL UMing TW MBE")});
    font.setPointSize(UPDATE_DLG_TEMPLATE.nPointSize);
    font.setStyleHint(QFont::Serif);
    return font;
}

CUpdateDlg::CUpdateDlg(CMatrixApp& app, QWidget* pParent)
    : QDialog(pParent), m_app(app), m_pModalPrompts(std::make_unique<CModalPrompts>())
{
    m_pPrompts = m_pModalPrompts.get();
    CreateControls();
    OnInitDialog();
}

CUpdateDlg::~CUpdateDlg()
{
    qApp->removeEventFilter(this);
    // The link outlives the dialog (start-up destroys it); it must not post to us any more.
    if (g_pSerialLink != nullptr)
        g_pSerialLink->SetOwner(nullptr);
}

void CUpdateDlg::SetPrompts(IUpdateDlgPrompts* pPrompts)
{
    m_pPrompts = pPrompts != nullptr ? pPrompts : m_pModalPrompts.get();
}

void CUpdateDlg::SetSaveFailureHandler(SaveFailureHandler fnHandler)
{
    m_controller.SetSaveFailureHandler(std::move(fnHandler));
}

void CUpdateDlg::CreateControls()
{
    SetUpWindow();
    // Created in the template's order, which is also the tab order; later controls lie above
    // the group boxes that frame them.
    for (const CDlgControl& control : UPDATE_DLG_TEMPLATE.controls)
        PlaceControl(CreateControl(control), control);
    ConnectControls();
    // Enter and Escape reach the dialog's own controls through the application.
    qApp->installEventFilter(this);
}

void CUpdateDlg::SetUpWindow()
{
    // Pop-up with a caption and a modal frame, but no system menu: no close button either.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QString::fromUtf8(UPDATE_DLG_TEMPLATE.pszCaption));
    // A large scale factor on a small screen would put the buttons out of reach: the layout
    // follows the font, so a smaller font keeps the whole dialog on the screen.
    QFont dialogFont = UpdateDialogFont();
    if (const QScreen* pScreen = QGuiApplication::primaryScreen()) {
        const QSize available = pScreen->availableGeometry().size();
        dialogFont = FitUpdateDialogFont(dialogFont, QSize(available.width() - WINDOW_FRAME_ALLOWANCE_X,
                                                           available.height() - WINDOW_FRAME_ALLOWANCE_Y));
    }
    setFont(dialogFont);
    setAcceptDrops(true);

    const QSize units = DialogBaseUnits(font());
    m_nBaseUnitX = units.width();
    m_nBaseUnitY = units.height();
    setFixedSize(MapDialogRect(0, 0, UPDATE_DLG_TEMPLATE.nWidth, UPDATE_DLG_TEMPLATE.nHeight).size());
}

QWidget* CUpdateDlg::CreateControl(const CDlgControl& control)
{
    const QString strText = QString::fromUtf8(control.pszText);
    switch (control.eKind) {
    case EDlgControlKind::Frame:
        m_pPictureFrame = new CPictureFrame(m_picture, this);
        return m_pPictureFrame;
    case EDlgControlKind::GroupBox:
        return new QGroupBox(strText, this);
    case EDlgControlKind::Text: {
        auto* pLabel = new QLabel(strText, this);
        pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return pLabel;
    }
    case EDlgControlKind::DropDown:
        m_pPortCombo = new CPortCombo(this);
        m_pPortCombo->setEditable((control.nStyles & DLG_STYLE_DROP_DOWN) != 0);
        m_pPortCombo->setInsertPolicy(QComboBox::NoInsert);
        if (QLineEdit* pEdit = m_pPortCombo->lineEdit()) {
            pEdit->setAcceptDrops(false);
            // Under a style sheet the combo's own edit field takes the application's font
            // instead of the one it inherits; it is given the dialog's explicitly.
            pEdit->setFont(font());
        }
        return m_pPortCombo;
    case EDlgControlKind::Edit:
        m_pFileEdit = new QLineEdit(this);
        m_pFileEdit->setAcceptDrops(false); // a dropped file is taken by the dialog as a whole
        m_pFileEdit->setContextMenuPolicy(Qt::CustomContextMenu);
        return m_pFileEdit;
    case EDlgControlKind::PushButton:
    case EDlgControlKind::DefaultButton: {
        auto* pButton = new QPushButton(strText, this);
        pButton->setAutoDefault(false);
        pButton->setDefault(control.eKind == EDlgControlKind::DefaultButton);
        return pButton;
    }
    case EDlgControlKind::ProgressBar:
        m_pProgress = new QProgressBar(this);
        m_pProgress->setTextVisible(false);
        return m_pProgress;
    }
    return new QWidget(this);
}

void CUpdateDlg::PlaceControl(QWidget* pWidget, const CDlgControl& control)
{
    const QRect rect = MapDialogRect(control.nX, control.nY, control.nWidth, control.nHeight);
    if (control.eKind == EDlgControlKind::DropDown) {
        // The template's height is the dropped-down list's; the closed box is as high as its
        // font needs.
        const int nBoxHeight = pWidget->sizeHint().height();
        pWidget->setGeometry(rect.x(), rect.y(), rect.width(), nBoxHeight);
        m_pPortCombo->setMaxVisibleItems(
            std::max(1, (rect.height() - nBoxHeight) / std::max(1, QFontMetrics(font()).height())));
    } else {
        pWidget->setGeometry(rect);
    }
    if (control.nId != IDC_STATIC) {
        pWidget->setProperty(CONTROL_ID_PROPERTY, control.nId);
        pWidget->setObjectName(QStringLiteral("control%1").arg(control.nId));
    }
}

void CUpdateDlg::ConnectControls()
{
    m_pStartButton = qobject_cast<QPushButton*>(GetDlgItem(IDC_START_UPDATE));
    connect(m_pStartButton, &QPushButton::clicked, this, &CUpdateDlg::OnStartUpdate);
    connect(qobject_cast<QPushButton*>(GetDlgItem(IDC_CHOOSE_FILE)), &QPushButton::clicked, this,
            &CUpdateDlg::OnChooseFile);
    connect(qobject_cast<QPushButton*>(GetDlgItem(IDC_EXIT)), &QPushButton::clicked, this, &CUpdateDlg::OnExit);
    connect(m_pPortCombo, &CPortCombo::PopupAboutToShow, this, &CUpdateDlg::RefreshPortList);
    connect(m_pFileEdit, &QLineEdit::customContextMenuRequested, this, &CUpdateDlg::ShowFileFieldMenu);
}

QRect CUpdateDlg::MapDialogRect(int nX, int nY, int nWidth, int nHeight) const
{
    const int nLeft = MulDiv(nX, m_nBaseUnitX, 4);
    const int nTop = MulDiv(nY, m_nBaseUnitY, 8);
    const int nRight = MulDiv(nX + nWidth, m_nBaseUnitX, 4);
    const int nBottom = MulDiv(nY + nHeight, m_nBaseUnitY, 8);
    return QRect(nLeft, nTop, nRight - nLeft, nBottom - nTop);
}

QWidget* CUpdateDlg::GetDlgItem(int nId) const
{
    for (QWidget* pChild : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (pChild->property(CONTROL_ID_PROPERTY).toInt() == nId)
            return pChild;
    }
    return nullptr;
}

bool CUpdateDlg::OnInitDialog()
{
    FillPortCombo(static_cast<uint32_t>(m_app.m_nComPort), QString());
    if (m_pPortCombo->count() > 0)
        m_pPortCombo->setCurrentIndex(std::max(0, m_pPortCombo->currentIndex()));
    if (!m_picture.IsEmpty())
        m_picture.Clear();
    LoadBanner();
    m_nBannerTimer = startTimer(BANNER_TIMER_MS);
    return true;
}

void CUpdateDlg::FillPortCombo(uint32_t nSelectPort, const QString& strKeepText)
{
    EnumerateComPorts(m_aPorts);
    const QSignalBlocker blocker(m_pPortCombo);
    m_pPortCombo->clear();
    int nSelect = -1;
    for (size_t i = 0; i < m_aPorts.GetSize(); ++i) {
        const uint32_t nPort = m_aPorts[i];
        const CComPortResolution resolution = ResolveComPort(static_cast<int>(nPort));
        m_pPortCombo->addItem(QStringLiteral("COM%1").arg(nPort));
        m_pPortCombo->setItemData(static_cast<int>(i), QString::fromStdString(resolution.strDevice), Qt::ToolTipRole);
        if (nSelect < 0 && nPort == nSelectPort)
            nSelect = static_cast<int>(i);
    }
    m_pPortCombo->setCurrentIndex(nSelect);
    if (nSelect < 0)
        m_pPortCombo->setEditText(strKeepText);
}

void CUpdateDlg::RefreshPortList()
{
    const int nIndex = m_pPortCombo->currentIndex();
    const QString strText = m_pPortCombo->currentText();
    uint32_t nSelected = 0;
    if (nIndex >= 0 && static_cast<size_t>(nIndex) < m_aPorts.GetSize() && strText == m_pPortCombo->itemText(nIndex))
        nSelected = m_aPorts[static_cast<size_t>(nIndex)];
    FillPortCombo(nSelected, strText);
}

void CUpdateDlg::LoadBanner()
{
    const uint8_t* pData = nullptr;
    size_t nSize = 0;
    const std::string strName = std::to_string(BANNER_RESOURCE);
    // A missing or refused banner leaves the picture empty; the dialog works without it.
    if (FindProgramResource("BITMAP", strName.c_str(), &pData, &nSize))
        m_picture.CreateFromPackedDib(pData, nSize);
}

QString CUpdateDlg::GetFileName() const
{
    return m_pFileEdit->text();
}

void CUpdateDlg::SetFileName(const QString& strFileName)
{
    m_pFileEdit->setText(strFileName);
    OnFileChosen();
}

void CUpdateDlg::OnFileChosen()
{
    // A file chosen is a file the operator wants to see; one who closed the preview has said
    // otherwise, until they open it again from the file field's menu.
    if (m_bPreviewDismissed)
        return;
    // Placed beside the dialog once the dialog is on the screen; read once no update runs, so
    // that reading a file never holds up the replies of one.
    if (!isVisible() || m_controller.IsUpdating()) {
        m_bPreviewPending = true;
        return;
    }
    OpenPreview(false);
}

void CUpdateDlg::OpenPreview(bool bAsked)
{
    m_bPreviewPending = false;
    // Beside the dialog on its screen's work area. The preview's frame is taken to be the
    // dialog's, which the window manager has measured already.
    const QScreen* pScreen = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    const QRect dialogFrame = frameGeometry();
    const QRect work = pScreen != nullptr ? pScreen->availableGeometry() : dialogFrame;
    const CPreviewPlacement placement = PlacePreviewWindow(
        CScreenRect{dialogFrame.x(), dialogFrame.y(), dialogFrame.width(), dialogFrame.height()},
        CScreenRect{work.x(), work.y(), work.width(), work.height()});
    const bool bOpen = m_pPreview != nullptr && m_pPreview->isVisible();
    if (!bOpen && placement.bOverDialog && !bAsked)
        return;
    m_bPreviewDismissed = false;
    if (m_pPreview == nullptr) {
        m_pPreview = new CPreviewWindow(this);
        connect(m_pPreview, &CPreviewWindow::ClosedByOperator, this, [this] { m_bPreviewDismissed = true; });
    }
    RefreshPreview();
    if (bOpen) {
        m_pPreview->raise();
        return;
    }
    const CScreenRect& outer = placement.rect;
    const QMargins frame(geometry().left() - dialogFrame.left(), geometry().top() - dialogFrame.top(),
                         dialogFrame.right() - geometry().right(), dialogFrame.bottom() - geometry().bottom());
    m_pPreview->setGeometry(QRect(outer.nLeft, outer.nTop, outer.nWidth, outer.nHeight) - frame);
    m_pPreview->show();
}

void CUpdateDlg::RefreshPreview()
{
    const std::string strPath = m_pFileEdit->text().trimmed().toStdString();
    m_pPreview->ShowContents(LoadPreviewContents(strPath));
    m_previewWatch.Shown(strPath);
}

void CUpdateDlg::ShowFileFieldMenu(const QPoint& pos)
{
    std::unique_ptr<QMenu> pMenu(m_pFileEdit->createStandardContextMenu());
    pMenu->addSeparator();
    QAction* pPreview = pMenu->addAction(QStringLiteral("預覽圖樣"));
    // The preview is read between updates only.
    pPreview->setEnabled(!m_controller.IsUpdating());
    connect(pPreview, &QAction::triggered, this, [this] { OpenPreview(true); });
    pMenu->exec(m_pFileEdit->mapToGlobal(pos));
}

void CUpdateDlg::ShowPortError(const std::string& strText, const std::string& strCaption)
{
    // The engine's own error box: no owner window, stop icon.
    m_pPrompts->ShowMessageBox(nullptr, QString::fromStdString(strText), QString::fromStdString(strCaption),
                               QMessageBox::Critical);
}

void CUpdateDlg::OnStartUpdate()
{
    m_controller.OnStartUpdate();
}

std::string CUpdateDlg::GetFileFieldText()
{
    return m_pFileEdit->text().toStdString();
}

bool CUpdateDlg::TakePortChoice(int32_t* pnPort, std::string* pstrTyped)
{
    const int nIndex = m_pPortCombo->currentIndex();
    const QString strText = m_pPortCombo->currentText().trimmed();
    *pstrTyped = strText.toStdString();
    // The selected entry, unless the operator has typed over it.
    if (nIndex >= 0 && static_cast<size_t>(nIndex) < m_aPorts.GetSize() &&
        strText.compare(m_pPortCombo->itemText(nIndex), Qt::CaseInsensitive) == 0) {
        *pnPort = static_cast<int32_t>(m_aPorts[static_cast<size_t>(nIndex)]);
        return true;
    }
    // Typed text: "COMn" in any case, or the bare number, naming a port that is there.
    int nPort = ParseComPortName(strText.toStdString());
    if (nPort == 0) {
        bool bNumber = false;
        const int nNumber = strText.toInt(&bNumber, 10);
        if (bNumber && nNumber > 0)
            nPort = nNumber;
    }
    if (nPort <= 0)
        return false;
    for (size_t i = 0; i < m_aPorts.GetSize(); ++i) {
        if (m_aPorts[i] == static_cast<uint32_t>(nPort)) {
            *pnPort = nPort;
            return true;
        }
    }
    if (!ResolveComPort(nPort).bResolved)
        return false;
    *pnPort = nPort;
    return true;
}

uint32_t CUpdateDlg::GetDoubleClickTime() const
{
    return static_cast<uint32_t>(std::max(0, QApplication::doubleClickInterval()));
}

void CUpdateDlg::SetCaption(const std::string& strText)
{
    setWindowTitle(QString::fromStdString(strText));
}

void CUpdateDlg::ClearProgressBar()
{
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
}

void CUpdateDlg::ShowBox(const std::string& strText, EBoxIcon eIcon)
{
    m_pPrompts->ShowMessageBox(this, QString::fromStdString(strText), AppCaption(),
                               eIcon == EBoxIcon::Warning ? QMessageBox::Warning : QMessageBox::Information);
}

ILinkOwner* CUpdateDlg::ReplaceLinkOwner()
{
    m_pLinkOwner = std::make_unique<CQtLinkOwner>(
        this, [this](const std::string& strText, const std::string& strCaption) { ShowPortError(strText, strCaption); });
    return m_pLinkOwner.get();
}

void CUpdateDlg::ShowUpdating(bool bUpdating)
{
    const char* pszText = bUpdating ? TEXT_CANCEL_UPDATE : FindUpdateDlgControl(IDC_START_UPDATE)->pszText;
    m_pStartButton->setText(QString::fromUtf8(pszText));
}

CTransferOutcome CUpdateDlg::ServeTransfer(const TransferRun& fnTransfer)
{
    CQtProgressBar progress(m_pProgress);
    CQtMessagePump pump;
    return fnTransfer(&progress, &pump);
}

void CUpdateDlg::CloseDialog()
{
    done(QDialog::Accepted);
}

void CUpdateDlg::ShowHint(const std::string& strText)
{
    // A box of its own that does not hold the update up: shown, not run, and gone when closed.
    auto* pHint = new QMessageBox(QMessageBox::Information, AppCaption(), QString::fromStdString(strText),
                                  QMessageBox::Ok, this);
    pHint->setAttribute(Qt::WA_DeleteOnClose);
    pHint->setModal(false);
    pHint->setObjectName("updateLogHint");
    pHint->show();
}

void CUpdateDlg::OnChooseFile()
{
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("bin"));
    // One entry labelled *.bin whose pattern lists every file.
    dialog.setNameFilter(QStringLiteral("*.bin (*)"));
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    // Open where the operator's files are: the folder of the file named in the field, else
    // the last folder used, else home; never the program's own folder.
    const QString strCurrent = m_pFileEdit->text().trimmed();
    QString strFolder;
    if (!strCurrent.isEmpty() && QFileInfo(strCurrent).absoluteDir().exists())
        strFolder = QFileInfo(strCurrent).absolutePath();
    else if (const QString strLast = QString::fromStdString(m_app.m_strLastFolder);
             !strLast.isEmpty() && QDir(strLast).exists())
        strFolder = strLast;
    else
        strFolder = QDir::homePath();
    dialog.setDirectory(strFolder);
    if (!strCurrent.isEmpty())
        dialog.selectFile(QFileInfo(strCurrent).fileName());
    if (!m_pPrompts->RunFileDialog(dialog))
        return;
    const QStringList files = dialog.selectedFiles();
    if (!files.isEmpty()) {
        const QFileInfo chosen(files.first());
        SetFileName(chosen.absoluteFilePath());
        // Kept in setting.ini with the port, so the next start opens here too.
        m_app.m_strLastFolder = chosen.absolutePath().toStdString();
    }
}

void CUpdateDlg::OnExit()
{
    if (m_controller.RequestClose())
        done(QDialog::Accepted);
}

void CUpdateDlg::closeEvent(QCloseEvent* pEvent)
{
    // Closed from outside during an update: it is cancelled first, and the dialog closes once
    // the transfer has sent its end byte.
    if (!m_controller.RequestClose()) {
        pEvent->ignore();
        return;
    }
    QDialog::closeEvent(pEvent);
}

void CUpdateDlg::showEvent(QShowEvent* pEvent)
{
    QDialog::showEvent(pEvent);
    // The FILE of the command line: the preview opens beside the dialog once it has its place.
    if (m_bPreviewPending)
        QTimer::singleShot(0, this, [this] {
            if (m_bPreviewPending && isVisible() && !m_controller.IsUpdating())
                OpenPreview(false);
        });
}

void CUpdateDlg::hideEvent(QHideEvent* pEvent)
{
    // The preview belongs to the dialog on the screen, and goes with it.
    if (m_pPreview != nullptr && !pEvent->spontaneous())
        m_pPreview->hide();
    QDialog::hideEvent(pEvent);
}

bool CUpdateDlg::eventFilter(QObject* pObject, QEvent* pEvent)
{
    // Neither Enter nor Escape closes the dialog or presses its default button, whichever of
    // its controls has the focus. Other windows (boxes, the file dialog) keep their keys.
    if (pEvent->type() == QEvent::KeyPress && pObject->isWidgetType() &&
        static_cast<QWidget*>(pObject)->window() == this) {
        const int nKey = static_cast<QKeyEvent*>(pEvent)->key();
        if (nKey == Qt::Key_Return || nKey == Qt::Key_Enter || nKey == Qt::Key_Escape)
            return true;
    }
    return QDialog::eventFilter(pObject, pEvent);
}

bool CUpdateDlg::event(QEvent* pEvent)
{
    if (pEvent->type() != CQtLinkEvent::EventType())
        return QDialog::event(pEvent);
    auto* pLinkEvent = static_cast<CQtLinkEvent*>(pEvent);
    const CLinkMessage& msg = pLinkEvent->Message();
    // Messages still queued from a link that has since been replaced belong to no transfer.
    const bool bCurrent = m_pLinkOwner && pLinkEvent->Generation() == m_pLinkOwner->Generation();
    if (bCurrent)
        m_controller.DispatchLinkMessage(msg);
    pLinkEvent->Complete(0);
    return true;
}

void CUpdateDlg::timerEvent(QTimerEvent* pEvent)
{
    if (pEvent->timerId() == m_nBannerTimer) {
        if (!m_picture.IsEmpty())
            m_pPictureFrame->update();
        // The preview follows the file field and the file itself, between updates.
        if (!m_controller.IsUpdating() && isVisible()) {
            if (m_bPreviewPending)
                OpenPreview(false);
            else if (m_pPreview != nullptr && m_pPreview->isVisible() &&
                     m_previewWatch.Poll(m_pFileEdit->text().trimmed().toStdString()))
                RefreshPreview();
        }
        return;
    }
    QDialog::timerEvent(pEvent);
}

void CUpdateDlg::dragEnterEvent(QDragEnterEvent* pEvent)
{
    const QMimeData* pMime = pEvent->mimeData();
    if (pMime->hasUrls() && !pMime->urls().isEmpty() && pMime->urls().first().isLocalFile())
        pEvent->acceptProposedAction();
}

void CUpdateDlg::dropEvent(QDropEvent* pEvent)
{
    const QMimeData* pMime = pEvent->mimeData();
    if (!pMime->hasUrls() || pMime->urls().isEmpty() || !pMime->urls().first().isLocalFile())
        return;
    SetFileName(QFileInfo(pMime->urls().first().toLocalFile()).absoluteFilePath());
    pEvent->acceptProposedAction();
}
