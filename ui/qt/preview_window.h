#pragma once
// The "預覽圖樣" window beside the update dialog: it draws what the core says of a pattern file
// (app/pattern_preview.h) with a QPainter, and nothing else. It never takes the focus, so the
// operator goes on typing in the dialog while it is up.

#include <QWidget>

#include "app/pattern_preview.h"

class CPreviewWindow : public QWidget {
    Q_OBJECT
public:
    // A window of its own, owned by (and closed with) pDialog.
    explicit CPreviewWindow(QWidget* pDialog);

    void ShowContents(CPreviewContents contents);
    const CPreviewContents& Contents() const { return m_contents; }
    // The picture as drawn now, and where its top left corner is in the window.
    const CPatternPicture& Picture() const { return m_picture; }
    QPoint PictureOrigin() const { return m_pictureOrigin; }

signals:
    // The operator closed the window.
    void ClosedByOperator();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void LayOut();
    QFont TextFont() const;

    CPreviewContents m_contents;
    CPatternPicture m_picture;
    QPoint m_pictureOrigin;
    std::vector<QRect> m_aLineRects;
};
