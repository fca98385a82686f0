// CDibImage::Draw: the one part of the bitmap holder that paints, with a Qt painter standing
// in for the device context. The colour table (palette or masks) is built from the holder on
// every call, as the holder may have been changed in between.

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <bit>
#include <vector>

#include "bitmap/dib_image.h"

namespace {

// Scales the bits of one mask in a pixel to 0..255.
struct CMaskChannel {
    uint32_t dwMask = 0;
    int nShift = 0;
    uint32_t nMax = 0;

    explicit CMaskChannel(uint32_t dwMaskIn) : dwMask(dwMaskIn)
    {
        if (dwMask != 0) {
            nShift = std::countr_zero(dwMask);
            nMax = dwMask >> nShift;
        }
    }
    uint32_t Value(uint32_t dwPixel) const
    {
        if (nMax == 0)
            return 0;
        // Masks need not be contiguous; whatever the bits give is scaled by the mask's span.
        return static_cast<uint32_t>(static_cast<uint64_t>((dwPixel & dwMask) >> nShift) * 255 / nMax);
    }
};

QList<QRgb> BuildColourTable(const CDibImage& image)
{
    const uint32_t nEntries = image.GetPaletteSize();
    std::vector<RGBQUAD> aEntries(nEntries, RGBQUAD{0, 0, 0, 0});
    image.GetPaletteEntries(0, static_cast<int>(nEntries), aEntries.data());
    QList<QRgb> table;
    table.reserve(static_cast<qsizetype>(nEntries));
    for (const RGBQUAD& q : aEntries)
        table.append(qRgb(q.rgbRed, q.rgbGreen, q.rgbBlue));
    return table;
}

// The pixel block converted into an image of its own in eFormat: fnRow(pSrc, pDst) fills each
// row of it from the holder's row (a null image when there is no memory for it).
template <typename RowConversion>
QImage ConvertedImage(const CDibImage& image, QImage::Format eFormat, RowConversion fnRow)
{
    QImage q(image.GetWidth(), image.GetHeight(), eFormat);
    if (q.isNull())
        return q;
    const qsizetype nStride = static_cast<qsizetype>(image.GetStride());
    for (int y = 0; y < image.GetHeight(); ++y)
        fnRow(image.GetBits() + y * nStride, q.scanLine(y));
    return q;
}

// The pixel block as a QImage in memory order (bottom row first). Depths Qt reads directly
// share the holder's memory; the others are converted into an image of their own.
QImage MemoryOrderImage(const CDibImage& image)
{
    const int nWidth = image.GetWidth();
    const int nHeight = image.GetHeight();
    const qsizetype nStride = static_cast<qsizetype>(image.GetStride());
    const uint8_t* pBits = image.GetBits();
    QImage q;
    switch (image.GetBitCount()) {
    case 1:
        q = QImage(pBits, nWidth, nHeight, nStride, QImage::Format_Mono);
        break;
    case 4:
        // Qt does not read 4 bits per pixel: one palette index a byte.
        q = ConvertedImage(image, QImage::Format_Indexed8, [nWidth](const uint8_t* pSrc, uchar* pDst) {
            for (int x = 0; x < nWidth; ++x)
                pDst[x] = (x & 1) ? (pSrc[x / 2] & 0x0F) : (pSrc[x / 2] >> 4);
        });
        break;
    case 8:
        q = QImage(pBits, nWidth, nHeight, nStride, QImage::Format_Indexed8);
        break;
    case 16: {
        const CMaskChannel red(image.GetRedMask()), green(image.GetGreenMask()), blue(image.GetBlueMask());
        return ConvertedImage(image, QImage::Format_RGB32, [&, nWidth](const uint8_t* pSrc, uchar* pLine) {
            QRgb* pDst = reinterpret_cast<QRgb*>(pLine);
            for (int x = 0; x < nWidth; ++x) {
                const uint32_t dwPixel = static_cast<uint32_t>(pSrc[2 * x]) | (static_cast<uint32_t>(pSrc[2 * x + 1]) << 8);
                pDst[x] = qRgb(static_cast<int>(red.Value(dwPixel)), static_cast<int>(green.Value(dwPixel)),
                               static_cast<int>(blue.Value(dwPixel)));
            }
        });
    }
    case 24:
        return QImage(pBits, nWidth, nHeight, nStride, QImage::Format_BGR888);
    case 32:
        // Blue, green, red and an unused byte: the unused byte is not alpha, so it is set
        // opaque rather than trusted.
        return ConvertedImage(image, QImage::Format_RGB32, [nWidth](const uint8_t* pSrc, uchar* pLine) {
            QRgb* pDst = reinterpret_cast<QRgb*>(pLine);
            for (int x = 0; x < nWidth; ++x)
                pDst[x] = qRgb(pSrc[4 * x + 2], pSrc[4 * x + 1], pSrc[4 * x]);
        });
    default:
        return QImage();
    }
    // The indexed depths draw through the holder's palette.
    if (!q.isNull())
        q.setColorTable(BuildColourTable(image));
    return q;
}

} // namespace

void CDibImage::Draw(QPainter& painter, const CDibRect& dst, const CDibRect& src) const
{
    if (IsEmpty())
        return;
    const int64_t nSrcWidth = int64_t{src.nRight} - src.nLeft;
    const int64_t nSrcHeight = int64_t{src.nBottom} - src.nTop;
    const int64_t nDstWidth = int64_t{dst.nRight} - dst.nLeft;
    const int64_t nDstHeight = int64_t{dst.nBottom} - dst.nTop;
    if (nSrcWidth <= 0 || nSrcHeight <= 0 || nDstWidth <= 0 || nDstHeight <= 0)
        return;

    // Only the part of the source inside the image is read; the destination shrinks with it
    // in proportion, so what is drawn lands where the whole rectangle would have put it.
    const int64_t nLeft = std::max<int64_t>(src.nLeft, 0);
    const int64_t nTop = std::max<int64_t>(src.nTop, 0);
    const int64_t nRight = std::min<int64_t>(src.nRight, GetWidth());
    const int64_t nBottom = std::min<int64_t>(src.nBottom, GetHeight());
    if (nLeft >= nRight || nTop >= nBottom)
        return;
    const double dScaleX = static_cast<double>(nDstWidth) / static_cast<double>(nSrcWidth);
    const double dScaleY = static_cast<double>(nDstHeight) / static_cast<double>(nSrcHeight);
    const QRectF target(dst.nLeft + (nLeft - src.nLeft) * dScaleX, dst.nTop + (nTop - src.nTop) * dScaleY,
                        (nRight - nLeft) * dScaleX, (nBottom - nTop) * dScaleY);

    const QImage image = MemoryOrderImage(*this);
    if (image.isNull())
        return;
    // Rows are stored bottom-up: in memory the source's bottom row comes first.
    const QRectF source(static_cast<qreal>(nLeft), static_cast<qreal>(GetHeight() - nBottom),
                        static_cast<qreal>(nRight - nLeft), static_cast<qreal>(nBottom - nTop));

    painter.save();
    // Colour on colour: every destination pixel takes one source pixel, no smoothing.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    // Flip vertically about the target's middle, so the memory image's first row (the
    // picture's bottom) lands at the bottom of the target.
    painter.translate(0, target.top() + target.bottom());
    painter.scale(1, -1);
    painter.drawImage(target, image, source);
    painter.restore();
}
