// Every skin of the archive on the update dialog, offscreen: a skin may change colours, but
// every control must stay usable. The drop-down's arrow and the buttons' focus mark must be
// drawn, the buttons keep the template's height, and every control keeps the dialog's font.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionComboBox>

#include <string>
#include <vector>

#include "app/matrix_app.h"
#include "platform/resources.h"
#include "skin/zip_reader.h"
#include "ui/qt/update_dlg.h"

namespace {

// How far apart two colours are: the sum of the channel differences.
int ColourDistance(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
}

// A mark a person can see: at least this many pixels this far from what surrounds them.
constexpr int VISIBLE_DISTANCE = 90;
constexpr int VISIBLE_PIXELS = 8;

// The pixels inside rect that stand out from the colour at its corner point (the background
// the rectangle is drawn on).
int PixelsStandingOut(const QImage& image, const QRect& rect, QRgb background)
{
    int nCount = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (image.rect().contains(x, y) && ColourDistance(image.pixel(x, y), background) >= VISIBLE_DISTANCE)
                ++nCount;
        }
    }
    return nCount;
}

// The pixels that differ between two renderings of the same widget.
int PixelsChanged(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return a.width() * a.height();
    int nCount = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (ColourDistance(a.pixel(x, y), b.pixel(x, y)) >= VISIBLE_DISTANCE)
                ++nCount;
        }
    }
    return nCount;
}

struct CSkin {
    std::string strName;
    QString strStyleSheet;
};

std::vector<CSkin> ReadSkinArchive()
{
    std::vector<CSkin> aSkins;
    const uint8_t* pData = nullptr;
    size_t nSize = 0;
    if (!FindProgramResource("ZIPDB", "IDR_SKIN", &pData, &nSize))
        return aSkins;
    std::unique_ptr<ZipArchive> pArchive = ZipOpenMemory(pData, nSize);
    if (!pArchive)
        return aSkins;
    ZipEntryInfo count{};
    ZipGetEntry(pArchive.get(), -1, &count);
    for (int i = 0; i < count.m_nIndex; ++i) {
        ZipEntryInfo info{};
        std::vector<uint8_t> text;
        if (ZipGetEntry(pArchive.get(), i, &info) != ZIP_OK ||
            ZipReadEntryToMemory(pArchive.get(), i, &text, 1024 * 1024) != ZIP_OK)
            break;
        aSkins.push_back({info.m_szName, QString::fromUtf8(reinterpret_cast<const char*>(text.data()),
                                                           static_cast<qsizetype>(text.size()))});
    }
    ZipClose(pArchive);
    return aSkins;
}

class CStyleSheetReset {
public:
    ~CStyleSheetReset() { qApp->setStyleSheet(QString()); }
};

TEST(Skins, EveryControlStaysUsableUnderEverySkin)
{
    const std::vector<CSkin> aSkins = ReadSkinArchive();
    ASSERT_EQ(aSkins.size(), 69u);
    CStyleSheetReset reset;
    for (const CSkin& skin : aSkins) {
        SCOPED_TRACE(skin.strName);
        qApp->setStyleSheet(skin.strStyleSheet);
        CMatrixApp app;
        CUpdateDlg dlg(app);
        dlg.show();
        QApplication::setActiveWindow(&dlg);
        QApplication::processEvents();

        // The drop-down's arrow: something drawn in its button, against the box's own colour.
        auto* pCombo = qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_PORT_COMBO));
        ASSERT_NE(pCombo, nullptr);
        QStyleOptionComboBox option;
        option.initFrom(pCombo);
        option.editable = true;
        option.subControls = QStyle::SC_All;
        const QRect arrow =
            pCombo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, pCombo);
        ASSERT_FALSE(arrow.isEmpty());
        const QImage combo = pCombo->grab().toImage();
        const QRgb comboBase = combo.pixel(pCombo->lineEdit()->geometry().center());
        EXPECT_GE(PixelsStandingOut(combo, arrow.adjusted(2, 2, -2, -2), comboBase), VISIBLE_PIXELS)
            << "the drop-down arrow is not drawn";

        // The focus mark, on the default button and on an ordinary one.
        for (int nId : {int{IDC_START_UPDATE}, int{IDC_EXIT}}) {
            SCOPED_TRACE(nId);
            auto* pButton = qobject_cast<QPushButton*>(dlg.GetDlgItem(nId));
            ASSERT_NE(pButton, nullptr);
            pCombo->setFocus(Qt::TabFocusReason);
            QApplication::processEvents();
            const QImage unfocused = pButton->grab().toImage();
            pButton->setFocus(Qt::TabFocusReason);
            QApplication::processEvents();
            ASSERT_TRUE(pButton->hasFocus());
            const QImage focused = pButton->grab().toImage();
            EXPECT_GE(PixelsChanged(unfocused, focused), 2 * (pButton->width() + pButton->height()) / 2)
                << "the focus mark is not visible";
            // The template's height, not the skin's.
            EXPECT_EQ(pButton->height(), dlg.MapDialogRect(0, 0, 0, 14).height());
        }

        // Every control in the dialog's font.
        const QString strFamily = QFontInfo(dlg.font()).family();
        for (QWidget* pWidget : dlg.findChildren<QWidget*>()) {
            if (pWidget->window() != &dlg)
                continue; // the drop-down's list is a window of its own
            EXPECT_EQ(QFontInfo(pWidget->font()).family().toStdString(), strFamily.toStdString())
                << pWidget->metaObject()->className();
            EXPECT_EQ(QFontInfo(pWidget->font()).pointSize(), QFontInfo(dlg.font()).pointSize())
                << pWidget->metaObject()->className();
        }
    }
}

} // namespace
