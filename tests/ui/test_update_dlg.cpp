// The update dialog on the offscreen platform: its template, its port list from a links
// directory of pseudo-terminals, its keys, and whole updates against the device simulator.
// Every box and file dialog is answered by the test through IUpdateDlgPrompts.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/matrix_app.h"
#include "app/operator_texts.h"
#include "app/update_dlg_template.h"
#include "platform/posix/com_ports.h"
#include "platform/posix/pseudo_terminal.h"
#include "serial/serial_link.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"
#include "transfer/record_transfer.h"
#include "ui/qt/qt_hosts.h"
#include "ui/qt/update_dlg.h"

namespace fs = std::filesystem;

namespace {

const QString START_TEXT = QStringLiteral("開始更新");
const QString CANCEL_TEXT = QStringLiteral("取消更新");
const QString CLOSING_INSTRUCTION = QStringLiteral("請按住機器del鍵3秒後放開,待機器畫面閃爍3次後完成更新");

// A pseudo-terminal whose slave stands in for a serial adapter, open from the start.
struct COpenPseudoTerminal : CPseudoTerminal {
    COpenPseudoTerminal() { Open(false); }
};

// Points the COM port namespace at a directory of the test's own for its lifetime.
class CPortsDirectory {
public:
    CPortsDirectory() : m_path(m_dir.Path() / "ports")
    {
        fs::create_directories(m_path);
        const char* pszOld = std::getenv("MATRIX_PORTS_DIR");
        if (pszOld != nullptr)
            m_strOld = pszOld;
        setenv("MATRIX_PORTS_DIR", m_path.c_str(), 1);
    }
    ~CPortsDirectory()
    {
        if (m_strOld)
            setenv("MATRIX_PORTS_DIR", m_strOld->c_str(), 1);
        else
            unsetenv("MATRIX_PORTS_DIR");
    }
    void Link(int nPort, const std::string& strDevice)
    {
        fs::create_symlink(strDevice, m_path / ("COM" + std::to_string(nPort)));
    }
    const fs::path& Path() const { return m_path; }

private:
    CTempDir m_dir;
    fs::path m_path;
    std::optional<std::string> m_strOld;
};

struct CShownBox {
    QString strText;
    QString strCaption;
    QMessageBox::Icon eIcon;
    bool bHasParent;
};

class CFakePrompts : public IUpdateDlgPrompts {
public:
    void ShowMessageBox(QWidget* pParent, const QString& strText, const QString& strCaption,
                        QMessageBox::Icon eIcon) override
    {
        m_aBoxes.push_back({strText, strCaption, eIcon, pParent != nullptr});
        // What the operator does while the box is up.
        if (m_fnWhileBoxUp)
            m_fnWhileBoxUp(strText);
    }
    bool RunFileDialog(QFileDialog& dialog) override
    {
        ++m_nFileDialogs;
        return m_fnFileDialog ? m_fnFileDialog(dialog) : false;
    }
    std::vector<CShownBox> m_aBoxes;
    int m_nFileDialogs = 0;
    std::function<bool(QFileDialog&)> m_fnFileDialog;
    std::function<void(const QString&)> m_fnWhileBoxUp;
};

// The device simulator, registered as COM nPort in the current ports directory.
class CSimulator {
public:
    bool Start(int nPort, const QStringList& extraArgs)
    {
        m_process.setProgram(QStringLiteral(MATRIX_BIN_DIR "/matrixctl"));
        m_process.setArguments(QStringList{QStringLiteral("simulate"), QStringLiteral("--port"), QString::number(nPort)}
                               + extraArgs);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        // The first line, "COM<n> <pty path>", says the device is linked and listening.
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(10000))
                return false;
        }
        m_strFirstLine = QString::fromUtf8(m_process.readLine()).trimmed();
        return m_strFirstLine.startsWith(QStringLiteral("COM%1 ").arg(nPort));
    }
    // Waits for a --once simulator to end; true when it exited cleanly (it saw and answered
    // the end-of-transfer byte).
    bool WaitForCleanExit()
    {
        // The dialog's event loop may already have taken the simulator's end, and then
        // waitForFinished says false for a process that has finished.
        const bool bEnded = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(20000);
        return bEnded && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    QString Log() { return QString::fromUtf8(m_process.readAllStandardError()); }
    ~CSimulator()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QString m_strFirstLine;

private:
    QProcess m_process;
};

// Runs the test's settings in a directory of its own without changing the current directory
// (the executable name differs from the command line's file name).
void PointSettingsAt(CMatrixApp& app, const fs::path& dir)
{
    app.SetCommandLine((dir / "matrix-update").string(), "matrix_ui_tests_host");
}

// The first nRecords records of the sample pattern file, written to dir.
fs::path WritePatternFile(const fs::path& dir, size_t nRecords)
{
    const std::string strSample = ReadFileText(fs::path(MATRIX_SOURCE_DIR) / "res" / "sample.bin");
    const fs::path path = dir / "pattern.bin";
    std::ofstream(path, std::ios::binary) << strSample.substr(0, nRecords * RECORD_SIZE);
    return path;
}

QPushButton* Button(const CUpdateDlg& dlg, int nId)
{
    return qobject_cast<QPushButton*>(dlg.GetDlgItem(nId));
}

QComboBox* PortCombo(const CUpdateDlg& dlg)
{
    return qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_PORT_COMBO));
}

// Shared by the tests that run an update: a ports directory, a settings directory, a device
// simulator and a dialog set up for it, and the dialog's captions and progress positions as they
// change.
class UpdateDlgUpdate : public testing::Test {
protected:
    void SetUp() override
    {
        ResetReplyAssembler();
        PointSettingsAt(m_app, m_settings.Path());
    }
    void TearDown() override { DropLink(); }
    // The link of the last update goes, as start-up's end would take it.
    static void DropLink()
    {
        delete g_pSerialLink;
        g_pSerialLink = nullptr;
    }
    // The device simulator as COM nPort, answering as extraArgs say; the port is the one the
    // settings name.
    bool StartDevice(CSimulator& simulator, int nPort, const QStringList& extraArgs)
    {
        m_app.m_nComPort = nPort;
        return simulator.Start(nPort, extraArgs);
    }
    // A dialog on the test's application, its boxes answered by the test and its captions and
    // bar positions recorded afresh, with the first nRecords records of the sample pattern file
    // in its file field (nothing for 0).
    std::unique_ptr<CUpdateDlg> MakeDialog(size_t nRecords)
    {
        m_aCaptions.clear();
        m_aPositions.clear();
        m_prompts.m_aBoxes.clear();
        auto pDlg = std::make_unique<CUpdateDlg>(m_app);
        pDlg->SetPrompts(&m_prompts);
        Watch(*pDlg);
        if (nRecords > 0)
            pDlg->SetFileName(QString::fromStdString(WritePatternFile(m_settings.Path(), nRecords).string()));
        return pDlg;
    }
    void Watch(CUpdateDlg& dlg)
    {
        QObject::connect(&dlg, &QWidget::windowTitleChanged, &dlg, [this](const QString& strTitle) {
            m_aCaptions.push_back(strTitle);
            if (m_fnOnCaption)
                m_fnOnCaption(strTitle);
        });
        auto* pBar = qobject_cast<QProgressBar*>(dlg.GetDlgItem(IDC_PROGRESS));
        QObject::connect(pBar, &QProgressBar::valueChanged, &dlg, [this](int nValue) { m_aPositions.push_back(nValue); });
    }
    int CaptionCount(const QString& strCaption) const
    {
        return static_cast<int>(std::count(m_aCaptions.begin(), m_aCaptions.end(), strCaption));
    }

    CPortsDirectory m_ports;
    CTempDir m_settings;
    CMatrixApp m_app;
    CFakePrompts m_prompts;
    std::vector<QString> m_aCaptions;
    std::vector<int> m_aPositions;
    std::function<void(const QString&)> m_fnOnCaption;
};

TEST(UpdateDlgLayout, ControlsAsTheTemplate)
{
    CMatrixApp app;
    CUpdateDlg dlg(app);
    EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8(UPDATE_DLG_TEMPLATE.pszCaption));
    // No system menu, so no close button.
    EXPECT_TRUE(dlg.windowFlags() & Qt::CustomizeWindowHint);
    EXPECT_TRUE(dlg.windowFlags() & Qt::WindowTitleHint);
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_EQ(dlg.size(), dlg.MapDialogRect(0, 0, UPDATE_DLG_TEMPLATE.nWidth, UPDATE_DLG_TEMPLATE.nHeight).size());

    // Every control of the template (the Windows resource script is held to the same table),
    // as the Qt widget that stands for its kind.
    const std::map<EDlgControlKind, const char*> kinds = {
        {EDlgControlKind::Frame, "CPictureFrame"},   {EDlgControlKind::GroupBox, "QGroupBox"},
        {EDlgControlKind::Text, "QLabel"},           {EDlgControlKind::DropDown, "CPortCombo"},
        {EDlgControlKind::Edit, "QLineEdit"},        {EDlgControlKind::PushButton, "QPushButton"},
        {EDlgControlKind::DefaultButton, "QPushButton"}, {EDlgControlKind::ProgressBar, "QProgressBar"},
    };
    std::vector<QGroupBox*> groups;
    for (QGroupBox* pGroup : dlg.findChildren<QGroupBox*>())
        groups.push_back(pGroup);
    ASSERT_EQ(groups.size(), 2u);
    for (const CDlgControl& c : UPDATE_DLG_TEMPLATE.controls) {
        SCOPED_TRACE(c.pszText);
        SCOPED_TRACE(c.nId);
        const QString strText = QString::fromUtf8(c.pszText);
        QWidget* pControl = dlg.GetDlgItem(c.nId);
        if (c.nId == IDC_STATIC) {
            // The group boxes have no id; each is found by its title.
            const auto it = std::find_if(groups.begin(), groups.end(),
                                         [&strText](QGroupBox* pGroup) { return pGroup->title() == strText; });
            pControl = it != groups.end() ? *it : nullptr;
        }
        ASSERT_NE(pControl, nullptr);
        EXPECT_STREQ(pControl->metaObject()->className(), kinds.at(c.eKind));
        const QRect expected = dlg.MapDialogRect(c.nX, c.nY, c.nWidth, c.nHeight);
        EXPECT_EQ(pControl->pos(), expected.topLeft());
        EXPECT_EQ(pControl->width(), expected.width());
        // The combo's template height is its dropped-down list; the closed box is one line.
        if (c.eKind != EDlgControlKind::DropDown) {
            EXPECT_EQ(pControl->height(), expected.height());
        }
        if (auto* pLabel = qobject_cast<QLabel*>(pControl)) {
            EXPECT_EQ(pLabel->text(), strText);
        }
        if (auto* pButton = qobject_cast<QPushButton*>(pControl)) {
            EXPECT_EQ(pButton->text(), strText);
            EXPECT_EQ(pButton->isDefault(), c.eKind == EDlgControlKind::DefaultButton);
        }
        if (auto* pCombo = qobject_cast<QComboBox*>(pControl)) {
            EXPECT_EQ(pCombo->isEditable(), (c.nStyles & DLG_STYLE_DROP_DOWN) != 0);
        }
    }
    EXPECT_TRUE(Button(dlg, IDC_START_UPDATE)->isDefault());
    EXPECT_TRUE(PortCombo(dlg)->isEditable());

    // Dialog units follow the font: 4 horizontal units are one average character, 8 vertical
    // units one line.
    const QFontMetrics metrics(dlg.font());
    EXPECT_NEAR(dlg.MapDialogRect(0, 0, 400, 0).width(), metrics.averageCharWidth() * 100, 100 * 1.5);
    EXPECT_EQ(dlg.MapDialogRect(0, 0, 0, 800).height(), metrics.height() * 100);
}

TEST(UpdateDlgLayout, FontsAreThere)
{
    // Times New Roman, or its metric twin; the Chinese texts from a Traditional Chinese font.
    const QString strFamily = QFontInfo(UpdateDialogFont()).family();
    EXPECT_TRUE(strFamily == QStringLiteral("Times New Roman") || strFamily == QStringLiteral("Liberation Serif"))
        << strFamily.toStdString();
    EXPECT_EQ(QFontInfo(UpdateDialogFont()).pointSize(), 10);
    const QStringList chinese = QFontDatabase::families(QFontDatabase::TraditionalChinese);
    EXPECT_TRUE(chinese.contains(QStringLiteral("AR PL UMing TW"))) << chinese.join(", ").toStdString();
}

TEST(UpdateDlgInit, PortsFromALinksDirectory)
{
    CPortsDirectory ports;
    COpenPseudoTerminal pty3, pty7, pty12;
    ports.Link(3, pty3.GetSlavePath());
    ports.Link(7, pty7.GetSlavePath());
    ports.Link(12, pty12.GetSlavePath());

    struct {
        int32_t nStored;
        uint32_t nExpectedSelected; // 0: the first listed port
    } const aCases[] = {{7, 7}, {12, 12}, {99, 0}, {1, 0}};
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.nStored);
        CMatrixApp app;
        app.m_nComPort = c.nStored;
        CUpdateDlg dlg(app);
        const CUIntArray& list = dlg.GetPortList();
        QComboBox* pCombo = PortCombo(dlg);
        ASSERT_EQ(static_cast<size_t>(pCombo->count()), list.GetSize());
        std::vector<uint32_t> aListed;
        for (size_t i = 0; i < list.GetSize(); ++i) {
            aListed.push_back(list[i]);
            EXPECT_EQ(pCombo->itemText(static_cast<int>(i)), QStringLiteral("COM%1").arg(list[i]));
            const std::string strDevice = ResolveComPort(static_cast<int>(list[i])).strDevice;
            EXPECT_EQ(pCombo->itemData(static_cast<int>(i), Qt::ToolTipRole).toString().toStdString(), strDevice);
        }
        for (uint32_t nPort : {3u, 7u, 12u})
            EXPECT_NE(std::find(aListed.begin(), aListed.end(), nPort), aListed.end()) << nPort;
        ASSERT_GE(pCombo->currentIndex(), 0);
        const uint32_t nSelected = list[static_cast<size_t>(pCombo->currentIndex())];
        EXPECT_EQ(nSelected, c.nExpectedSelected != 0 ? c.nExpectedSelected : list[0]);
        // Our links carry the pseudo-terminals' paths as their tooltips.
        const int nIndex7 = pCombo->findText(QStringLiteral("COM7"));
        EXPECT_EQ(pCombo->itemData(nIndex7, Qt::ToolTipRole).toString().toStdString(), pty7.GetSlavePath());
    }
}

TEST(UpdateDlgInit, BannerLoadedAndDrawn)
{
    CMatrixApp app;
    CUpdateDlg dlg(app);
    const CDibImage& picture = dlg.GetPicture();
    ASSERT_FALSE(picture.IsEmpty());
    EXPECT_EQ(picture.GetWidth(), 603);
    EXPECT_EQ(picture.GetHeight(), 168);
    EXPECT_EQ(picture.GetBitCount(), 24u);
    // The frame shows the picture, not its white ground: the banner is dark.
    QWidget* pFrame = dlg.GetDlgItem(IDC_PICTURE);
    const QImage shot = pFrame->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    EXPECT_LT(qGray(shot.pixel(shot.width() / 2, 1)), 128);
    EXPECT_LT(qGray(shot.pixel(1, shot.height() - 2)), 128);
}

TEST(UpdateDlgInit, DropDownRefreshesKeepingTheSelection)
{
    CPortsDirectory ports;
    COpenPseudoTerminal pty4, pty8, pty9;
    ports.Link(4, pty4.GetSlavePath());
    ports.Link(8, pty8.GetSlavePath());
    CMatrixApp app;
    app.m_nComPort = 8;
    CUpdateDlg dlg(app);
    QComboBox* pCombo = PortCombo(dlg);
    EXPECT_EQ(pCombo->findText(QStringLiteral("COM9")), -1);

    // An adapter plugged in after start-up shows when the list is opened.
    ports.Link(9, pty9.GetSlavePath());
    pCombo->showPopup();
    pCombo->hidePopup();
    EXPECT_NE(pCombo->findText(QStringLiteral("COM9")), -1);
    EXPECT_EQ(pCombo->currentText(), QStringLiteral("COM8"));
    EXPECT_EQ(static_cast<size_t>(pCombo->count()), dlg.GetPortList().GetSize());

    // Typed text is kept as it is.
    pCombo->setEditText(QStringLiteral("com9"));
    dlg.RefreshPortList();
    EXPECT_EQ(pCombo->currentText(), QStringLiteral("com9"));
}

TEST(UpdateDlgKeys, EnterAndEscapeNeverCloseTheDialog)
{
    CMatrixApp app;
    CUpdateDlg dlg(app);
    CFakePrompts prompts;
    dlg.SetPrompts(&prompts);
    dlg.show();
    int nPresses = 0;
    QObject::connect(Button(dlg, 1084), &QPushButton::clicked, [&nPresses] { ++nPresses; });
    auto* pFileEdit = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_FILE_NAME));
    QWidget* aTargets[] = {&dlg, PortCombo(dlg)->lineEdit(), pFileEdit, Button(dlg, 1084),
                           Button(dlg, 1085)};
    for (QWidget* pTarget : aTargets) {
        for (int nKey : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            for (auto eModifiers : {Qt::NoModifier, Qt::AltModifier}) {
                QKeyEvent press(QEvent::KeyPress, nKey, eModifiers);
                QCoreApplication::sendEvent(pTarget, &press);
                QKeyEvent release(QEvent::KeyRelease, nKey, eModifiers);
                QCoreApplication::sendEvent(pTarget, &release);
            }
        }
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_EQ(nPresses, 0);
    EXPECT_TRUE(prompts.m_aBoxes.empty());

    // Other keys still reach the controls.
    pFileEdit->setFocus();
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QCoreApplication::sendEvent(pFileEdit, &letter);
    EXPECT_EQ(pFileEdit->text(), QStringLiteral("a"));

    // 離開 ends the dialog with OK.
    Button(dlg, 1085)->click();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

TEST(UpdateDlgFile, ChooseAndDrop)
{
    CTempDir dir;
    const fs::path chosen = dir.Path() / "chosen.dat";
    std::ofstream(chosen) << "x";
    CMatrixApp app;
    CUpdateDlg dlg(app);
    CFakePrompts prompts;
    dlg.SetPrompts(&prompts);
    dlg.SetFileName(QStringLiteral("/somewhere/old.bin"));

    // The dialog offers one filter labelled *.bin that lists every file, opens on the current
    // name and completes a bare name with .bin.
    prompts.m_fnFileDialog = [&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("*.bin (*)")});
        EXPECT_TRUE(dialog.testOption(QFileDialog::HideNameFilterDetails));
        EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("bin"));
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog.parentWidget(), &dlg);
        dialog.setDirectory(QString::fromStdString(dir.Path().string()));
        dialog.selectFile(QString::fromStdString(chosen.string()));
        return true;
    };
    Button(dlg, IDC_CHOOSE_FILE)->click();
    EXPECT_EQ(prompts.m_nFileDialogs, 1);
    EXPECT_EQ(dlg.GetFileName().toStdString(), chosen.string());

    // Cancelling changes nothing.
    prompts.m_fnFileDialog = [](QFileDialog&) { return false; };
    Button(dlg, IDC_CHOOSE_FILE)->click();
    EXPECT_EQ(dlg.GetFileName().toStdString(), chosen.string());

    // A file dropped onto the dialog becomes the file name; anything else is refused.
    struct {
        QUrl url;
        bool bTaken;
    } const aDrops[] = {
        {QUrl(QStringLiteral("https://example.invalid/pattern.bin")), false},
        {QUrl::fromLocalFile(QStringLiteral("/tmp/dropped.bin")), true},
    };
    for (const auto& d : aDrops) {
        QMimeData mime;
        mime.setUrls({d.url});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&dlg, &enter);
        EXPECT_EQ(enter.isAccepted(), d.bTaken) << d.url.toString().toStdString();
        if (enter.isAccepted()) {
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&dlg, &drop);
        }
    }
    EXPECT_EQ(dlg.GetFileName(), QStringLiteral("/tmp/dropped.bin"));
}

TEST(UpdateDlgFile, OpensWhereTheOperatorsFilesAre)
{
    CTempDir dir;
    fs::create_directory(dir.Path() / "a");
    fs::create_directory(dir.Path() / "b");
    const QString strA = QString::fromStdString((dir.Path() / "a").string());
    const QString strB = QString::fromStdString((dir.Path() / "b").string());
    CMatrixApp app;
    CUpdateDlg dlg(app);
    CFakePrompts prompts;
    dlg.SetPrompts(&prompts);
    struct {
        const char* pszWhat;
        QString strField;      // the edit field before the press
        QString strChoose;     // the folder a file is chosen in ("": the operator cancels)
        QString strExpected;   // where the file dialog opened
    } const aCases[] = {
        {"nothing chosen yet", QString(), QString(), QDir::homePath()},
        {"the field's folder", strA + "/x.bin", strB, strA},
        {"the last folder used", QString(), QString(), strB},
        {"a field naming a folder that is gone", QStringLiteral("/nonexistent-folder/y.bin"), QString(), strB},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        dlg.SetFileName(c.strField);
        QString strOpened;
        prompts.m_fnFileDialog = [&](QFileDialog& dialog) {
            strOpened = dialog.directory().absolutePath();
            if (c.strChoose.isEmpty())
                return false;
            dialog.setDirectory(c.strChoose);
            dialog.selectFile(c.strChoose + "/p.bin");
            return true;
        };
        Button(dlg, IDC_CHOOSE_FILE)->click();
        EXPECT_EQ(strOpened, QDir(c.strExpected).absolutePath());
    }
    // The last folder is the application's, which setting.ini keeps: the dialog of the next
    // start opens there too.
    EXPECT_EQ(QString::fromStdString(app.m_strLastFolder), strB);
    CUpdateDlg next(app);
    next.SetPrompts(&prompts);
    QString strOpened;
    prompts.m_fnFileDialog = [&](QFileDialog& dialog) {
        strOpened = dialog.directory().absolutePath();
        return false;
    };
    Button(next, IDC_CHOOSE_FILE)->click();
    EXPECT_EQ(strOpened, QDir(strB).absolutePath());
}

TEST(UpdateDlgLayout, ShrinksToFitASmallScreen)
{
    const QFont font = UpdateDialogFont();
    const QSize natural = UpdateDialogSize(font);
    struct {
        const char* pszWhat;
        QSize area;
        bool bShrunk;
    } const aCases[] = {
        {"room to spare", natural * 2, false},
        {"exactly enough", natural, false},
        {"too low", QSize(natural.width() * 2, natural.height() * 2 / 3), true},
        {"too narrow", QSize(natural.width() * 3 / 4, natural.height()), true},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        const QFont fitted = FitUpdateDialogFont(font, c.area);
        const QSize size = UpdateDialogSize(fitted);
        EXPECT_LE(size.width(), c.area.width());
        EXPECT_LE(size.height(), c.area.height());
        EXPECT_EQ(fitted.pointSizeF() < font.pointSizeF(), c.bShrunk);
        EXPECT_EQ(fitted.families(), font.families());
    }
}

TEST(UpdateDlgTexts, ABusyPortNamesItsHolderAndWhatToDo)
{
    struct {
        int nPid;
        const char* pszCommand;
        bool bModemManager;
        const char* pszSentence;
    } const aCases[] = {
        {0, "", false, "COM5 (/dev/ttyUSB0) 忙碌中:另一個程式正在使用它。請關閉該程式後再按「開始更新」。"},
        {4321, "minicom", false, "COM5 (/dev/ttyUSB0) 忙碌中:minicom (pid 4321) 正在使用它。請關閉該程式後再按「開始更新」。"},
        {612, "ModemManager", true,
         "COM5 (/dev/ttyUSB0) 忙碌中:ModemManager (pid 612) 正在偵測它。請以 udev 規則為這個轉接器設定 "
         "ENV{ID_MM_DEVICE_IGNORE}=\"1\",或停止 ModemManager 服務,再按「開始更新」。"},
    };
    for (const auto& c : aCases) {
        CPortOpenFailure failure;
        failure.eKind = EPortOpenError::Busy;
        failure.strDevice = "/dev/ttyUSB0";
        failure.nHolderPid = c.nPid;
        failure.strHolderCommand = c.pszCommand;
        failure.bHolderIsModemManager = c.bModemManager;
        EXPECT_EQ(PortOpenFailureText(5, failure), c.pszSentence);
    }
}

TEST_F(UpdateDlgUpdate, PortChoiceAndOpenFailuresAreReported)
{
    COpenPseudoTerminal pty5, pty7, ptyGone;
    m_ports.Link(5, pty5.GetSlavePath());
    m_ports.Link(7, pty7.GetSlavePath());
    m_ports.Link(11, ptyGone.GetSlavePath());
    // COM7 is held by another program.
    const int nHolder = ::open(pty7.GetSlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(nHolder, 0);
    ASSERT_EQ(flock(nHolder, LOCK_EX | LOCK_NB), 0);

    m_app.m_nComPort = 5;
    const std::unique_ptr<CUpdateDlg> pDlg = MakeDialog(2);
    CUpdateDlg& dlg = *pDlg;
    // COM11's adapter goes away after the list was made: its link now names nothing. (Only
    // closing the pseudo-terminal would race: a test running beside this one may be given the
    // same terminal number at once.)
    ptyGone.Close();
    fs::remove(m_ports.Path() / "COM11");
    m_ports.Link(11, (m_settings.Path() / "unplugged-adapter").string());

    struct {
        const char* pszTyped;       // nullptr: choose the listed entry named in pszEntry
        const char* pszEntry;
        int32_t nSavedPort;         // 0: nothing saved
        const char* pszBoxContains; // the one box shown
    } const aCases[] = {
        {"", nullptr, 0, "未選擇通訊埠:請在"},
        {"COM99", nullptr, 0, "「COM99」不是這台電腦上的通訊埠"},
        {"hello", nullptr, 0, "「hello」不是這台電腦上的通訊埠"},
        {"com7", nullptr, 7, "忙碌中"},
        {"7", nullptr, 7, "忙碌中"},
        {nullptr, "COM7", 7, "忙碌中"},
        {nullptr, "COM11", 11, "不存在"},
    };
    const fs::path settings = m_settings.Path() / "setting.ini";
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszTyped != nullptr ? c.pszTyped : c.pszEntry);
        fs::remove(settings);
        m_prompts.m_aBoxes.clear();
        QComboBox* pCombo = PortCombo(dlg);
        if (c.pszTyped != nullptr) {
            pCombo->setCurrentIndex(-1);
            pCombo->setEditText(QString::fromUtf8(c.pszTyped));
        } else {
            pCombo->setCurrentIndex(pCombo->findText(QString::fromUtf8(c.pszEntry)));
            ASSERT_GE(pCombo->currentIndex(), 0);
        }
        Button(dlg, 1084)->click();
        ASSERT_EQ(m_prompts.m_aBoxes.size(), 1u);
        EXPECT_TRUE(m_prompts.m_aBoxes[0].strText.contains(QString::fromUtf8(c.pszBoxContains)))
            << m_prompts.m_aBoxes[0].strText.toStdString();
        EXPECT_EQ(m_prompts.m_aBoxes[0].eIcon, QMessageBox::Warning);
        EXPECT_EQ(Button(dlg, 1084)->text(), START_TEXT);
        EXPECT_EQ(g_bTransferring, 0);
        if (c.nSavedPort != 0) {
            // The choice is written at the press, even though the port then does not open.
            EXPECT_NE(ReadFileText(settings).find("ComPort=" + std::to_string(c.nSavedPort)), std::string::npos);
            EXPECT_NE(m_prompts.m_aBoxes[0].strText.indexOf(QStringLiteral("COM%1").arg(c.nSavedPort)), -1);
        } else {
            EXPECT_FALSE(fs::exists(settings));
        }
    }
    ::close(nHolder);
}

TEST_F(UpdateDlgUpdate, WholeUpdateAgainstTheSimulator)
{
    CSimulator simulator;
    ASSERT_TRUE(StartDevice(simulator, 23, {QStringLiteral("--reply"), QStringLiteral("ok"), QStringLiteral("--once")}));
    const std::unique_ptr<CUpdateDlg> pDlg = MakeDialog(10);
    CUpdateDlg& dlg = *pDlg;
    dlg.show();
    ASSERT_EQ(PortCombo(dlg)->currentText(), QStringLiteral("COM23"));

    const fs::path settings = m_settings.Path() / "setting.ini";
    std::string strSettingsAtStart;
    QString strButtonDuring;
    QImage screenshot;
    m_fnOnCaption = [&](const QString& strCaption) {
        if (strSettingsAtStart.empty())
            strSettingsAtStart = ReadFileText(settings);
        if (strCaption == QStringLiteral("傳送第6/10筆")) {
            strButtonDuring = Button(dlg, 1084)->text();
            screenshot = dlg.grab().toImage();
        }
    };
    Button(dlg, 1084)->click();

    std::vector<QString> aExpected{QStringLiteral("Now program 10 data...")};
    for (int i = 0; i < 10; ++i) {
        aExpected.push_back(QStringLiteral("傳送第%1/10筆").arg(i));
        aExpected.push_back(QStringLiteral("傳送第%1筆資料回應OK").arg(i));
    }
    aExpected.push_back(QStringLiteral("點矩陣繪圖軟體 傳輸埠:COM23 已傳送共 10 行資料..."));
    EXPECT_EQ(m_aCaptions, aExpected);
    EXPECT_EQ(dlg.windowTitle(), aExpected.back());

    auto* pBar = qobject_cast<QProgressBar*>(dlg.GetDlgItem(IDC_PROGRESS));
    EXPECT_EQ(pBar->minimum(), 0);
    EXPECT_EQ(pBar->maximum(), 120);
    // Each record's offset once it is handled, then full.
    EXPECT_EQ(m_aPositions, (std::vector<int>{0, 12, 24, 36, 48, 60, 72, 84, 96, 108, 120}));

    EXPECT_NE(strSettingsAtStart.find("ComPort=23"), std::string::npos) << strSettingsAtStart;
    EXPECT_EQ(strButtonDuring, CANCEL_TEXT);
    EXPECT_EQ(Button(dlg, 1084)->text(), START_TEXT);
    ASSERT_EQ(m_prompts.m_aBoxes.size(), 1u);
    EXPECT_EQ(m_prompts.m_aBoxes[0].strText, CLOSING_INSTRUCTION);
    EXPECT_EQ(m_prompts.m_aBoxes[0].strCaption, QStringLiteral("matrix-update"));
    EXPECT_TRUE(simulator.WaitForCleanExit()) << simulator.Log().toStdString();

    // The picture for the documentation: the dialog mid-update under its caption, as the
    // window manager would frame it. Saved only when asked for.
    ASSERT_FALSE(screenshot.isNull());
    const QByteArray screenshotPath = qgetenv("MATRIX_SCREENSHOT");
    if (!screenshotPath.isEmpty()) {
        const int nTitle = QFontMetrics(dlg.font()).height() + 12;
        QImage framed(screenshot.width() + 2, screenshot.height() + nTitle + 1, QImage::Format_RGB32);
        framed.fill(QColor(60, 64, 72));
        QPainter painter(&framed);
        painter.setPen(Qt::white);
        painter.setFont(dlg.font());
        painter.drawText(QRect(8, 0, framed.width() - 16, nTitle), Qt::AlignVCenter | Qt::AlignLeft,
                         QStringLiteral("傳送第6/10筆"));
        painter.drawImage(1, nTitle, screenshot);
        painter.end();
        EXPECT_TRUE(framed.save(QString::fromUtf8(screenshotPath)));
    }
}

TEST_F(UpdateDlgUpdate, SecondPressCancelsButADoubleClickDoesNot)
{
    // A device at the line's own pace, so an update of 60 records outlasts a double-click.
    struct {
        const char* pszWhat;
        int nPort;
        int nSecondPressAfterMs; // after the caption of record 2
        bool bCancelled;
    } const aCases[] = {
        {"a later press cancels", 24, QApplication::doubleClickInterval() + 100, true},
        {"the second click of a double-click", 30, 0, false},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        CSimulator simulator;
        ASSERT_TRUE(StartDevice(simulator, c.nPort, {QStringLiteral("--reply"), QStringLiteral("ok"), QStringLiteral("--once"),
                                                     QStringLiteral("--pace"), QStringLiteral("9600")}));
        const std::unique_ptr<CUpdateDlg> pDlg = MakeDialog(60);
        CUpdateDlg& dlg = *pDlg;
        m_fnOnCaption = [&](const QString& strCaption) {
            if (strCaption == QStringLiteral("傳送第2/60筆"))
                QTimer::singleShot(c.nSecondPressAfterMs, Button(dlg, 1084), &QPushButton::click);
        };
        Button(dlg, 1084)->click();
        m_fnOnCaption = nullptr;

        EXPECT_EQ(CaptionCount(QStringLiteral("傳送第59/60筆")), c.bCancelled ? 0 : 1);
        // A cancelled run says so in its final caption; a finished one does not.
        const QString strCancelled = QStringLiteral(" 已取消更新");
        EXPECT_EQ(dlg.windowTitle().endsWith(strCancelled), c.bCancelled) << dlg.windowTitle().toStdString();
        EXPECT_TRUE(dlg.windowTitle().startsWith(QStringLiteral("點矩陣繪圖軟體 傳輸埠:COM%1 已傳送共 ").arg(c.nPort)));
        // The end-of-transfer byte still went out: the --once device answered it and ended.
        EXPECT_TRUE(simulator.WaitForCleanExit()) << simulator.Log().toStdString();
        // One box: how to finish after the whole update, the warning after a cancel.
        ASSERT_EQ(m_prompts.m_aBoxes.size(), 1u);
        const CShownBox& box = m_prompts.m_aBoxes[0];
        if (c.bCancelled) {
            EXPECT_TRUE(box.strText.startsWith(QStringLiteral("更新未完成:已取消更新,傳輸埠 COM%1 ").arg(c.nPort)))
                << box.strText.toStdString();
            EXPECT_FALSE(box.strText.contains(QStringLiteral("完成更新")));
            EXPECT_EQ(box.eIcon, QMessageBox::Warning);
        } else {
            EXPECT_EQ(box.strText, CLOSING_INSTRUCTION);
            EXPECT_EQ(box.eIcon, QMessageBox::Information);
        }
        EXPECT_EQ(Button(dlg, 1084)->text(), START_TEXT);
        EXPECT_EQ(g_bTransferring, 0);
        DropLink();
    }
}

TEST_F(UpdateDlgUpdate, ClosingDuringAnUpdateCancelsItFirst)
{
    struct {
        const char* pszWhat;
        int nPort;
        bool bExitButton; // else the window manager closes the window
    } const aCases[] = {{"離開 pressed", 25, true}, {"closed from outside", 27, false}};
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        CSimulator simulator;
        ASSERT_TRUE(StartDevice(simulator, c.nPort, {QStringLiteral("--reply"), QStringLiteral("ok"), QStringLiteral("--once")}));
        const std::unique_ptr<CUpdateDlg> pDlg = MakeDialog(10);
        CUpdateDlg& dlg = *pDlg;
        dlg.show();
        m_fnOnCaption = [&](const QString& strCaption) {
            if (strCaption != QStringLiteral("傳送第1/10筆"))
                return;
            if (c.bExitButton)
                QTimer::singleShot(0, Button(dlg, 1085), &QPushButton::click);
            else
                QTimer::singleShot(0, &dlg, [&dlg] { dlg.close(); });
        };
        Button(dlg, 1084)->click();
        m_fnOnCaption = nullptr;
        EXPECT_EQ(CaptionCount(QStringLiteral("傳送第2/10筆")), 0);
        // Cancelled, its end byte sent, and then closed without the closing instruction.
        EXPECT_TRUE(simulator.WaitForCleanExit()) << simulator.Log().toStdString();
        EXPECT_TRUE(m_prompts.m_aBoxes.empty());
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        DropLink();
    }
}

TEST_F(UpdateDlgUpdate, SecondUpdateReplacesTheLink)
{
    CSimulator simulator;
    ASSERT_TRUE(StartDevice(simulator, 26, {QStringLiteral("--reply"), QStringLiteral("ok")}));
    const std::unique_ptr<CUpdateDlg> pDlg = MakeDialog(3);
    CUpdateDlg& dlg = *pDlg;
    const QString strFinal = QStringLiteral("點矩陣繪圖軟體 傳輸埠:COM26 已傳送共 3 行資料...");
    // A press while the first update's closing box is up starts nothing, and does not cancel
    // the next update either.
    int nPressesInBox = 0;
    m_prompts.m_fnWhileBoxUp = [&](const QString&) {
        if (nPressesInBox++ == 0)
            Button(dlg, 1084)->click();
    };
    auto* pBar = qobject_cast<QProgressBar*>(dlg.GetDlgItem(IDC_PROGRESS));
    std::vector<int> aStartPositions;
    m_fnOnCaption = [&](const QString& strCaption) {
        if (strCaption.startsWith(QStringLiteral("Now program")))
            aStartPositions.push_back(pBar->value());
    };
    for (int nRun = 1; nRun <= 2; ++nRun) {
        SCOPED_TRACE(nRun);
        Button(dlg, 1084)->click();
        // Each run starts from an empty bar, not from where the last one ended.
        ASSERT_EQ(aStartPositions.size(), static_cast<size_t>(nRun));
        EXPECT_EQ(aStartPositions.back(), 0);
        // The port is opened exclusively: had the first link stayed open, the second open would
        // have been refused as busy.
        ASSERT_EQ(m_prompts.m_aBoxes.size(), static_cast<size_t>(nRun));
        EXPECT_EQ(m_prompts.m_aBoxes.back().strText, CLOSING_INSTRUCTION);
        EXPECT_EQ(CaptionCount(QStringLiteral("傳送第2筆資料回應OK")), nRun);
        EXPECT_EQ(CaptionCount(strFinal), nRun);
    }
    ASSERT_NE(g_pSerialLink, nullptr);
    EXPECT_TRUE(g_pSerialLink->IsMonitorRunning());
}

TEST_F(UpdateDlgUpdate, BytesFromAReplacedLinkAreNeverTheNewUpdatesReply)
{
    CSimulator simulator;
    ASSERT_TRUE(StartDevice(simulator, 30, {QStringLiteral("--reply"), QStringLiteral("silent")}));
    const std::unique_ptr<CUpdateDlg> pDlg = MakeDialog(1);
    CUpdateDlg& dlg = *pDlg;
    // An owner made before the update's own: a link it belonged to was replaced since, yet its
    // bytes, a whole good reply, still arrive while the new update waits for its answer.
    CQtLinkOwner oldOwner(&dlg, [](const std::string&, const std::string&) {});
    bool bPosted = false;
    m_fnOnCaption = [&](const QString& strCaption) {
        if (bPosted || strCaption != QStringLiteral("傳送第0/1筆"))
            return;
        bPosted = true;
        const uint8_t abGoodReply[] = {0xFB, 'o', 'k', 0xFE};
        for (uint8_t nByte : abGoodReply)
            oldOwner.PostLinkMessage(CLinkMessage{WM_LINK_RXBYTE, nByte, 30, nullptr});
    };
    const uint32_t nLimit = g_nReplyTimeLimitMs;
    g_nReplyTimeLimitMs = 100;
    Button(dlg, 1084)->click();
    g_nReplyTimeLimitMs = nLimit;

    EXPECT_TRUE(bPosted);
    EXPECT_EQ(CaptionCount(QStringLiteral("傳送第0筆資料回應OK")), 0);
    EXPECT_GE(CaptionCount(QStringLiteral("傳送第0筆資料無回應")), 1);
    ASSERT_EQ(m_prompts.m_aBoxes.size(), 1u);
    EXPECT_TRUE(m_prompts.m_aBoxes[0].strText.contains(QStringLiteral("0/1 筆資料,其中 1 筆無回應")))
        << m_prompts.m_aBoxes[0].strText.toStdString();
}

TEST_F(UpdateDlgUpdate, FileProblemsAreReported)
{
    CSimulator simulator;
    ASSERT_TRUE(StartDevice(simulator, 28, {QStringLiteral("--reply"), QStringLiteral("ok")}));
    const fs::path empty = m_settings.Path() / "empty.bin";
    std::ofstream(empty).close();
    const fs::path partial = m_settings.Path() / "partial.bin";
    std::ofstream(partial, std::ios::binary)
        << ReadFileText(WritePatternFile(m_settings.Path(), 2)) << std::string("\x01\x02\x03\x04\x05", 5);
    const fs::path missing = m_settings.Path() / "missing.bin";
    const fs::path folder = m_settings.Path() / "folder.bin";
    fs::create_directory(folder);
    const fs::path csv = m_settings.Path() / "rows.bin";
    std::ofstream(csv) << "x,y,i1,i2,i3\n1.5,2.25,1,2,3\n";
    const QString strTitle = QStringLiteral("RED udized idirediz");
    struct {
        const char* pszWhat;
        std::string strFile;
        const char* pszProblemBox;  // nullptr: no box about the file
        bool bClosingInstruction;   // how to finish on the device, only when something was sent
        const char* pszCaptionEnd;  // the final caption ends so (nullptr: the dialog's own title)
    } const aCases[] = {
        {"no file chosen", "", "未選擇圖樣檔案", false, nullptr},
        {"missing file", missing.string(), "無法開啟檔案 " , false, nullptr},
        {"a directory", folder.string(), "這是資料夾", false, nullptr},
        {"empty file", empty.string(), "傳送檔案為0,請先轉檔", false, nullptr},
        {"a CSV file renamed .bin", csv.string(), " 不是圖樣檔案:第 1 筆資料(第 0 位元組起)的開頭是 0x78,應為 0xC1。", false,
         nullptr},
        {"trailing partial record", partial.string(), nullptr, true, "已傳送共 2 行資料... 檔案尾端 5 位元組不足一筆,未傳送"},
    };
    const std::unique_ptr<CUpdateDlg> pDlg = MakeDialog(0);
    CUpdateDlg& dlg = *pDlg;
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        m_prompts.m_aBoxes.clear();
        dlg.SetFileName(QString::fromStdString(c.strFile));
        Button(dlg, 1084)->click();
        const size_t nBoxes = (c.pszProblemBox != nullptr ? 1u : 0u) + (c.bClosingInstruction ? 1u : 0u);
        ASSERT_EQ(m_prompts.m_aBoxes.size(), nBoxes);
        if (c.pszProblemBox != nullptr) {
            const CShownBox& box = m_prompts.m_aBoxes[0];
            EXPECT_TRUE(box.strText.contains(QString::fromUtf8(c.pszProblemBox))) << box.strText.toStdString();
            // Every sentence names the file, but the empty file's, which is the device's own.
            if (!c.strFile.empty() && box.strText != QStringLiteral("傳送檔案為0,請先轉檔")) {
                EXPECT_TRUE(box.strText.contains(QString::fromStdString(c.strFile))) << box.strText.toStdString();
            }
            EXPECT_EQ(box.strCaption, QStringLiteral("matrix-update"));
            EXPECT_EQ(box.eIcon, QMessageBox::Warning);
        }
        if (c.bClosingInstruction) {
            EXPECT_EQ(m_prompts.m_aBoxes.back().strText, CLOSING_INSTRUCTION);
        }
        // The previous row's ending never stays on show.
        if (c.pszCaptionEnd != nullptr) {
            EXPECT_TRUE(dlg.windowTitle().endsWith(QString::fromUtf8(c.pszCaptionEnd))) << dlg.windowTitle().toStdString();
        } else {
            EXPECT_EQ(dlg.windowTitle(), strTitle);
        }
        EXPECT_EQ(Button(dlg, 1084)->text(), START_TEXT);
        // A file that cannot be sent never opens the port (no update ran before these rows).
        EXPECT_EQ(g_pSerialLink != nullptr, c.bClosingInstruction);
    }
}

TEST_F(UpdateDlgUpdate, ALostLinkIsShownInsteadOfTheClosingInstruction)
{
    auto pSimulator = std::make_unique<CSimulator>();
    // A device that never answers, so the transfer is still waiting when it goes away.
    ASSERT_TRUE(StartDevice(*pSimulator, 29, {QStringLiteral("--reply"), QStringLiteral("silent")}));
    const std::unique_ptr<CUpdateDlg> pDlg = MakeDialog(3);
    CUpdateDlg& dlg = *pDlg;
    m_fnOnCaption = [&](const QString& strCaption) {
        // The adapter is pulled while record 1 waits for its reply.
        if (strCaption == QStringLiteral("傳送第1/3筆"))
            QTimer::singleShot(0, &dlg, [&pSimulator] { pSimulator.reset(); });
    };
    // Record 0 gets no answer; shorten the limit so it is given up quickly.
    const uint32_t nLimit = g_nReplyTimeLimitMs;
    g_nReplyTimeLimitMs = 20;
    Button(dlg, 1084)->click();
    g_nReplyTimeLimitMs = nLimit;

    ASSERT_EQ(m_prompts.m_aBoxes.size(), 1u);
    EXPECT_NE(m_prompts.m_aBoxes[0].strText, CLOSING_INSTRUCTION);
    EXPECT_TRUE(m_prompts.m_aBoxes[0].strText.startsWith(QStringLiteral("更新未完成:傳輸埠 COM29 連線中斷,裝置只確認收到 0/3 筆資料")))
        << m_prompts.m_aBoxes[0].strText.toStdString();
    EXPECT_EQ(m_prompts.m_aBoxes[0].eIcon, QMessageBox::Warning);
    EXPECT_TRUE(dlg.windowTitle().contains(QStringLiteral("COM29 連線中斷")));
    EXPECT_EQ(CaptionCount(QStringLiteral("傳送第2/3筆")), 0);
    EXPECT_EQ(Button(dlg, 1084)->text(), START_TEXT);
    EXPECT_EQ(g_bTransferring, 0);
}

TEST_F(UpdateDlgUpdate, SettingsThatCannotBeSavedAreSaidAndTheUpdateGoesOn)
{
    COpenPseudoTerminal pty;
    m_ports.Link(6, pty.GetSlavePath());
    // setting.ini would go into a directory that is not there, and the configuration folder
    // cannot be made instead (its parent is a file).
    m_app.SetCommandLine((m_settings.Path() / "gone" / "matrix-update").string(), "matrix_ui_tests_host");
    std::ofstream(m_settings.Path() / "file") << "x";
    CEnvGuard env;
    env.Set("XDG_CONFIG_HOME", (m_settings.Path() / "file").string());
    m_app.m_nComPort = 6;
    for (bool bHandler : {false, true}) {
        SCOPED_TRACE(bHandler ? "routed to a handler" : "a box");
        const std::unique_ptr<CUpdateDlg> pDlg = MakeDialog(0);
        CUpdateDlg& dlg = *pDlg;
        std::vector<std::string> aHandled;
        if (bHandler)
            dlg.SetSaveFailureHandler([&aHandled](const std::string& strPath, const std::string&) {
                aHandled.push_back(strPath);
            });
        Button(dlg, 1084)->click();
        // Then the transfer ran into the next problem: no file was chosen.
        ASSERT_EQ(m_prompts.m_aBoxes.size(), bHandler ? 1u : 2u);
        const std::string strSaid =
            bHandler ? (aHandled.empty() ? std::string() : aHandled[0]) : m_prompts.m_aBoxes[0].strText.toStdString();
        EXPECT_NE(strSaid.find("gone/setting.ini"), std::string::npos) << strSaid;
        if (!bHandler) {
            EXPECT_TRUE(m_prompts.m_aBoxes[0].strText.startsWith(QStringLiteral("無法儲存設定檔 ")));
            EXPECT_TRUE(m_prompts.m_aBoxes[0].strText.contains(QStringLiteral("檔案或資料夾不存在")));
        }
        EXPECT_EQ(aHandled.size(), bHandler ? 1u : 0u);
        EXPECT_TRUE(m_prompts.m_aBoxes.back().strText.contains(QStringLiteral("未選擇圖樣檔案")));
        DropLink();
    }
}

} // namespace
