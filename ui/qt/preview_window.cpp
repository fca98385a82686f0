#include "ui/qt/preview_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int MARGIN = 8;
// The lines of a file that will not be sent stand out from those of one that will.
const QColor REFUSAL_COLOUR(0xB0, 0x00, 0x20);
// Long paths break anywhere, Chinese sentences between any two characters.
constexpr int TEXT_FLAGS = Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere;

QColor Rgb(uint32_t nColour)
{
    return QColor((nColour >> 16) & 0xFF, (nColour >> 8) & 0xFF, nColour & 0xFF);
}

QLineF Line(const CPictureLine& line)
{
    return QLineF(line.dX1, line.dY1, line.dX2, line.dY2);
}

void DrawText(QPainter& painter, const CPictureText& text)
{
    if (text.strText.empty())
        return;
    const QString str = QString::fromStdString(text.strText);
    double dX = text.dX;
    const double dWidth = painter.fontMetrics().horizontalAdvance(str);
    if (text.eAlign == ETextAlign::Centre)
        dX -= dWidth / 2;
    else if (text.eAlign == ETextAlign::Right)
        dX -= dWidth;
    painter.drawText(QPointF(dX, text.dY), str);
}

void DrawDot(QPainter& painter, double dX, double dY, double dRadius)
{
    painter.drawEllipse(QPointF(dX, dY), dRadius, dRadius);
}

// The picture, in the order the core lays it out for: nothing hides what matters.
void DrawPicture(QPainter& painter, const CPatternPicture& picture, const QFont& font)
{
    painter.fillRect(QRectF(0, 0, picture.nWidth, picture.nHeight), Rgb(picture.nBackground));
    painter.setPen(QPen(Rgb(picture.nGrid), 1));
    for (const auto* pTicks : {&picture.aXTicks, &picture.aYTicks})
        for (const CPictureTick& tick : *pTicks)
            painter.drawLine(Line(tick.grid));
    painter.setPen(QPen(Rgb(picture.nInk), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(picture.frame.dLeft, picture.frame.dTop, picture.frame.dWidth, picture.frame.dHeight));
    for (const auto* pTicks : {&picture.aXTicks, &picture.aYTicks})
        for (const CPictureTick& tick : *pTicks)
            painter.drawLine(Line(tick.mark));

    if (picture.aPoints.size() > 1) {
        QPainterPath order;
        order.moveTo(picture.aPoints.front().dX, picture.aPoints.front().dY);
        for (size_t i = 1; i < picture.aPoints.size(); ++i)
            order.lineTo(picture.aPoints[i].dX, picture.aPoints[i].dY);
        painter.setPen(QPen(Rgb(picture.nOrderLine), picture.dOrderLineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(order);
    }
    painter.setPen(Qt::NoPen);
    for (const CPicturePoint& point : picture.aPoints) {
        painter.setBrush(Rgb(picture.aColours[point.nColour]));
        DrawDot(painter, point.dX, point.dY, picture.dDotRadius);
    }

    QFont pictureFont = font;
    pictureFont.setPixelSize(std::max(1, static_cast<int>(picture.dFontSize)));
    painter.setFont(pictureFont);
    painter.setPen(Rgb(picture.nInk));
    for (const auto* pTicks : {&picture.aXTicks, &picture.aYTicks})
        for (const CPictureTick& tick : *pTicks)
            DrawText(painter, tick.label);
    DrawText(painter, picture.xName);
    DrawText(painter, picture.yName);
    DrawText(painter, picture.legendTitle);
    for (const CPictureLegendEntry& entry : picture.aLegend) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Rgb(picture.aColours[entry.nColour]));
        DrawDot(painter, entry.dX, entry.dY, picture.dLegendDotRadius);
        painter.setPen(Rgb(picture.nInk));
        DrawText(painter, entry.label);
    }
    for (const CPictureText& line : picture.aCaption)
        DrawText(painter, line);
}

} // namespace

CPreviewWindow::CPreviewWindow(QWidget* pDialog) : QWidget(pDialog, Qt::Window | Qt::WindowDoesNotAcceptFocus)
{
    // Shown, raised and updated without ever taking the focus from the dialog.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(PREVIEW_MIN_WIDTH, 160);
    setWindowTitle(QStringLiteral("預覽圖樣"));
}

QFont CPreviewWindow::TextFont() const
{
    QFont textFont = font();
    textFont.setStyleHint(QFont::SansSerif);
    return textFont;
}

void CPreviewWindow::ShowContents(CPreviewContents contents)
{
    m_contents = std::move(contents);
    setWindowTitle(QString::fromStdString(m_contents.strTitle));
    LayOut();
    update();
}

void CPreviewWindow::LayOut()
{
    const QFontMetrics metrics(TextFont());
    const int nTextWidth = std::max(1, width() - 2 * MARGIN);
    m_aLineRects.clear();
    int nTop = MARGIN;
    for (const std::string& strLine : m_contents.astrLines) {
        const QRect rect = metrics.boundingRect(QRect(MARGIN, nTop, nTextWidth, 100000), TEXT_FLAGS,
                                                QString::fromStdString(strLine));
        m_aLineRects.push_back(QRect(MARGIN, nTop, nTextWidth, rect.height()));
        nTop += rect.height() + MARGIN / 2;
    }
    const int nPictureHeight = std::max(1, height() - nTop);
    m_picture = BuildPreviewPicture(m_contents, width(), nPictureHeight);
    m_pictureOrigin = QPoint(std::max(0, (width() - m_picture.nWidth) / 2), nTop);
}

void CPreviewWindow::resizeEvent(QResizeEvent* pEvent)
{
    LayOut();
    QWidget::resizeEvent(pEvent);
}

void CPreviewWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setFont(TextFont());
    painter.setPen(m_contents.bRefused ? REFUSAL_COLOUR : QColor(Qt::black));
    for (size_t i = 0; i < m_aLineRects.size() && i < m_contents.astrLines.size(); ++i)
        painter.drawText(m_aLineRects[i], TEXT_FLAGS, QString::fromStdString(m_contents.astrLines[i]));
    if (m_picture.aPoints.empty())
        return;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(m_pictureOrigin);
    DrawPicture(painter, m_picture, TextFont());
}

void CPreviewWindow::closeEvent(QCloseEvent* pEvent)
{
    // The dialog only ever hides it: a close is the operator's.
    emit ClosedByOperator();
    QWidget::closeEvent(pEvent);
}
