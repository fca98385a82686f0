// The "預覽圖樣" window of the Qt dialog on the offscreen platform: it opens for a file chosen,
// draws the core's dots where the geometry puts them, follows the file, and comes back from
// the file field's menu after the operator closed it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include "app/matrix_app.h"
#include "app/update_dlg_template.h"
#include "tests/support/temp_dir.h"
#include "transfer/pattern.h"
#include "ui/qt/preview_window.h"
#include "ui/qt/update_dlg.h"

namespace fs = std::filesystem;

namespace {

void WriteRecords(const fs::path& path, const std::vector<CPatternValues>& rows)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const CPatternValues& row : rows) {
        uint8_t abRecord[PATTERN_RECORD_SIZE];
        BuildPatternRecord(row, abRecord);
        out.write(reinterpret_cast<const char*>(abRecord), PATTERN_RECORD_SIZE);
    }
}

// Runs the event loop for nMs, so the dialog's timer can fire.
void Spin(int nMs)
{
    QEventLoop loop;
    QTimer::singleShot(nMs, &loop, &QEventLoop::quit);
    loop.exec();
}

int Distance(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
}

} // namespace

TEST(PreviewWindow, OpensForAChosenFileAndDrawsItsDots)
{
    CTempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    // Two values of i1, so two colours; corners and a middle, so a mirrored or upturned
    // picture puts dots where the geometry has none.
    const fs::path path = dir.Path() / "five.bin";
    WriteRecords(path, {{0, 0, 1, 0, 0}, {10, 0, 1, 0, 0}, {10, 6, 2, 0, 0}, {0, 6, 2, 0, 0}, {2, 1, 2, 0, 0}});
    CMatrixApp app;
    CUpdateDlg dlg(app);
    dlg.show();
    // At the screen's left edge, so that the preview has room beside it on the small offscreen
    // screen.
    dlg.move(0, 0);
    QApplication::processEvents();
    auto* pFileEdit = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_FILE_NAME));
    pFileEdit->setFocus();
    dlg.SetFileName(QString::fromStdString(path.string()));
    QApplication::processEvents();

    CPreviewWindow* pPreview = dlg.GetPreviewWindow();
    ASSERT_NE(pPreview, nullptr);
    EXPECT_TRUE(pPreview->isVisible());
    EXPECT_TRUE(pPreview->isWindow());
    EXPECT_EQ(pPreview->windowTitle(), QStringLiteral("預覽圖樣 - five.bin"));
    EXPECT_NE(QApplication::focusWidget(), pPreview);
    EXPECT_EQ(pPreview->Contents().astrLines.front(), "five.bin:共 5 筆資料");

    const CPatternPicture& picture = pPreview->Picture();
    ASSERT_EQ(picture.aPoints.size(), 5u);
    ASSERT_EQ(picture.aColours.size(), 2u);
    const QImage shot = pPreview->grab().toImage();
    const QPoint origin = pPreview->PictureOrigin();
    // Every dot in its colour where the geometry puts it (the pixel under its centre, which
    // smoothing leaves whole)...
    for (const CPicturePoint& point : picture.aPoints) {
        const QPoint at(origin.x() + static_cast<int>(point.dX), origin.y() + static_cast<int>(point.dY));
        SCOPED_TRACE(std::to_string(at.x()) + "," + std::to_string(at.y()));
        ASSERT_TRUE(shot.rect().contains(at));
        const uint32_t nColour = picture.aColours[point.nColour];
        EXPECT_LT(Distance(shot.pixel(at), qRgb(nColour >> 16, (nColour >> 8) & 0xFF, nColour & 0xFF)), 40);
    }
    // ... and none of either colour where a mirrored picture would put one: at (10, 1) and
    // (8, 5), the mirror images of the dot at (2, 1).
    const CPicturePoint& lone = picture.aPoints[4];
    const double dMirrorX = picture.aPoints[0].dX + picture.aPoints[1].dX - lone.dX;
    const double dMirrorY = picture.aPoints[0].dY + picture.aPoints[3].dY - lone.dY;
    for (const QPointF& mirror : {QPointF(dMirrorX, lone.dY), QPointF(lone.dX, dMirrorY)}) {
        const QPoint at = origin + mirror.toPoint();
        for (uint32_t nColour : picture.aColours)
            EXPECT_GT(Distance(shot.pixel(at), qRgb(nColour >> 16, (nColour >> 8) & 0xFF, nColour & 0xFF)), 100);
    }

    // The file written again: the preview follows within two ticks of the dialog's timer.
    WriteRecords(path, {{0, 0, 1, 0, 0}, {1, 1, 1, 0, 0}});
    fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(2));
    for (int i = 0; i < 30 && pPreview->Picture().aPoints.size() != 2; ++i)
        Spin(100);
    EXPECT_EQ(pPreview->Picture().aPoints.size(), 2u);

    // Closed by the operator, it stays closed for the next file chosen; the file field's menu
    // brings it back.
    pPreview->close();
    dlg.SetFileName(QString::fromStdString((dir.Path() / "missing.bin").string()));
    QApplication::processEvents();
    EXPECT_FALSE(pPreview->isVisible());
    bool bOffered = false;
    QTimer::singleShot(0, [&bOffered] {
        auto* pMenu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (pMenu == nullptr)
            return;
        for (QAction* pAction : pMenu->actions()) {
            if (pAction->text() == QStringLiteral("預覽圖樣")) {
                bOffered = true;
                pAction->trigger();
            }
        }
        pMenu->close();
    });
    emit pFileEdit->customContextMenuRequested(QPoint(5, 5));
    QApplication::processEvents();
    EXPECT_TRUE(bOffered);
    EXPECT_TRUE(pPreview->isVisible());
    // A file that cannot be read is said in the window, not in a box.
    ASSERT_EQ(pPreview->Contents().astrLines.size(), 1u);
    EXPECT_NE(pPreview->Contents().astrLines[0].find("無法開啟檔案"), std::string::npos);
    EXPECT_TRUE(pPreview->Picture().aPoints.empty());
    dlg.OnExit();
    EXPECT_FALSE(pPreview->isVisible());
}
