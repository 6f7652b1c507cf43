#include "screenshots/BlurBrush.h"

#include "screenshots/GaussianBlur.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

QRect BlurBrush::maskRect(const QImage& image, const QList<QPointF>& points, double brushSize)
{
    if (image.isNull() || points.isEmpty() || !(brushSize > 0))
        return {};
    const double dpr = image.devicePixelRatio();
    double minX = points.first().x(), maxX = minX, minY = points.first().y(), maxY = minY;
    for (const QPointF& p : points) {
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
            return {};
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    // Half the brush around the path, plus a pixel for the antialiased rim.
    const double grow = brushSize / 2 * dpr + 1;
    const QRectF covered(QPointF(minX * dpr - grow, minY * dpr - grow), QPointF(maxX * dpr + grow, maxY * dpr + grow));
    // Clip in floating point first: a far-away point must not overflow the integer rectangle.
    const QRectF clipped = covered.intersected(QRectF(image.rect()));
    if (clipped.isEmpty())
        return {};
    return clipped.toAlignedRect().intersected(image.rect());
}

QRect BlurBrush::applyBlurAlongPathInPlace(QImage& image, const QList<QPointF>& points, double brushSize)
{
    const QRect area = maskRect(image, points, brushSize);
    if (area.isEmpty())
        return {};
    if (image.format() != QImage::Format_ARGB32_Premultiplied) {
        QImage converted = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (converted.isNull())
            return {};
        image = converted;
    }

    const double dpr = image.devicePixelRatio();
    QImage mask(area.size(), QImage::Format_Alpha8);
    if (mask.isNull())
        return {};
    mask.fill(0);
    {
        QPainter painter(&mask);
        if (!painter.isActive())
            return {};
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(-area.topLeft());
        QPainterPath path(points.first() * dpr);
        for (qsizetype i = 1; i < points.size(); ++i)
            path.lineTo(points[i] * dpr);
        if (path.elementCount() < 2) {
            // A stroke that never moves: its round caps make a dot (a path drops zero-length
            // segments, so draw the dot itself).
            painter.setPen(Qt::NoPen);
            painter.setBrush(Qt::white);
            painter.drawEllipse(points.first() * dpr, brushSize * dpr / 2, brushSize * dpr / 2);
        } else {
            painter.setPen(QPen(Qt::white, brushSize * dpr, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(path);
        }
    }

    const QImage blurred = GaussianBlur::blurredRegion(image, area);
    if (blurred.isNull())
        return {};

    for (int y = 0; y < area.height(); ++y) {
        const uchar* m = mask.constScanLine(y);
        const uchar* b = blurred.constScanLine(y);
        uchar* d = image.scanLine(area.top() + y) + 4 * area.left();
        for (int x = 0; x < area.width(); ++x) {
            const int cover = m[x];
            if (cover == 0)
                continue;
            for (int c = 0; c < 4; ++c) {
                const int i = 4 * x + c;
                d[i] = static_cast<uchar>((d[i] * (255 - cover) + b[i] * cover + 127) / 255);
            }
        }
    }
    return area;
}

QImage BlurBrush::applyBlurAlongPath(const QImage& image, const QList<QPointF>& points, double brushSize)
{
    QImage result = image;
    if (applyBlurAlongPathInPlace(result, points, brushSize).isEmpty())
        return image;
    return result;
}
