#pragma once

// Small pictures and comparisons shared by the annotation editor's tests.

#include "app/Annotation.h"

#include <QImage>
#include <QString>

#include <cstring>
#include <optional>
#include <random>

namespace fixtures {

// Opaque noise: every pixel differs from its neighbours, so any blur shows.
inline QImage noise(int width, int height, unsigned seed = 1, double dpr = 1.0,
                    QImage::Format format = QImage::Format_ARGB32_Premultiplied)
{
    QImage image(width, height, format);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(byte(rng), byte(rng), byte(rng)));
    image.setDevicePixelRatio(dpr);
    return image;
}

inline QImage flat(int width, int height, QColor color, double dpr = 1.0)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    image.setDevicePixelRatio(dpr);
    return image;
}

// Byte equality of the premultiplied pixels; empty when equal, else where they first differ.
inline std::optional<QString> difference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return QStringLiteral("sizes differ: %1x%2 vs %3x%4").arg(a.width()).arg(a.height()).arg(b.width()).arg(b.height());
    const QImage pa = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage pb = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < pa.height(); ++y) {
        if (std::memcmp(pa.constScanLine(y), pb.constScanLine(y), 4 * size_t(pa.width())) == 0)
            continue;
        for (int x = 0; x < pa.width(); ++x)
            if (pa.pixel(x, y) != pb.pixel(x, y))
                return QStringLiteral("pixel (%1, %2): %3 vs %4").arg(x).arg(y)
                    .arg(pa.pixel(x, y), 8, 16, QLatin1Char('0')).arg(pb.pixel(x, y), 8, 16, QLatin1Char('0'));
    }
    return std::nullopt;
}

inline Annotation annotation(AnnotationType type, QPointF start, QPointF end, QColor color = QColor(255, 0, 0),
                             double lineWidth = 3)
{
    Annotation a;
    a.type = type;
    a.startPoint = start;
    a.endPoint = end;
    a.color = color;
    a.lineWidth = lineWidth;
    return a;
}

inline Annotation blur(const QList<QPointF>& points, double brushWidth)
{
    Annotation a = annotation(AnnotationType::blur, points.first(), points.last(), QColor(152, 152, 157), brushWidth);
    a.pathPoints = points;
    return a;
}

} // namespace fixtures
