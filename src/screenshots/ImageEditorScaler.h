#pragma once

#include <QImage>
#include <QRect>
#include <QSize>

// Scales the editor's picture to the canvas's device pixels: area averaging when reducing, linear
// interpolation between pixel centres when enlarging, each axis on its own (the filters of
// QImage::scaled with Qt::SmoothTransformation).
//
// Every result pixel is computed from its own position only, so any rectangle of the result can
// be computed alone and equals that rectangle of the whole result, bit for bit. That lets a live
// blur refresh the few canvas pixels a segment changed without a seam against the rest.
// QImage::scaled cannot do that: scaling a part of the picture only matches the whole where the
// part's edges fall on whole pixels of both sizes.
class ImageEditorScaler {
public:
    // The whole picture scaled to `size`, in Format_ARGB32_Premultiplied with device pixel ratio 1.
    // The picture's own pixels (as premultiplied) when `size` is its size.
    static QImage scaled(const QImage& picture, const QSize& size);

    // Computes the pixels `area` of scaled(picture, target.size()) into `target`, which must be in
    // Format_ARGB32_Premultiplied; `area` is clipped to the target.
    static void scaleArea(const QImage& picture, QImage& target, const QRect& area);

    // The pixels of a result of `size` that a change of the picture's `pixels` can reach.
    static QRect reach(const QSize& pictureSize, const QSize& size, const QRect& pixels);
};
