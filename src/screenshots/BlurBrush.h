#pragma once

#include <QImage>
#include <QList>
#include <QPointF>
#include <QRect>

// The blur brush: blurs the part of a picture covered by a stroke with round caps and joins.
//
// Points and the brush width are in image points (the picture's deviceIndependentSize()); the mask
// is drawn in the picture's pixels, so it covers exactly the picture's extent at any device pixel
// ratio. The blur itself is GaussianBlur (sigma 15 px of the bitmap), blended through the
// antialiased mask: full blur where the mask is fully covered, the picture unchanged where it is
// empty, mixed in proportion in between.
class BlurBrush {
public:
    // The brush is five times the line width selected in the editor.
    static constexpr double kBrushWidthFactor = 5.0;

    // A new picture of the same size with the stroke blurred; `image` itself when nothing can be
    // computed (null picture, no points, a stroke wholly outside the picture).
    static QImage applyBlurAlongPath(const QImage& image, const QList<QPointF>& points, double brushSize);

    // The same, changing `image` in place; a picture of another format is converted to
    // Format_ARGB32_Premultiplied first (its device pixel ratio is kept). Returns the pixel
    // rectangle that may have changed, empty when nothing did. The work is limited to that
    // rectangle plus the kernel margin, so a short segment costs the same on any picture size.
    static QRect applyBlurAlongPathInPlace(QImage& image, const QList<QPointF>& points, double brushSize);

    // The pixel rectangle of `image` that the stroke's mask covers (clipped to the picture).
    static QRect maskRect(const QImage& image, const QList<QPointF>& points, double brushSize);
};
