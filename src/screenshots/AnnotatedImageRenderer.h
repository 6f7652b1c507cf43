#pragma once

#include "app/Annotation.h"

#include <QImage>
#include <QList>
#include <QSizeF>

class QPainter;

// The output image of a screenshot: the captured picture with the blur strokes applied and every
// other annotation drawn in, at the picture's full pixel resolution. This is what save, done and
// the uploads hand on; it shows exactly what the editor showed over its canvas.
class AnnotatedImageRenderer {
public:
    // The annotated picture: as many pixels as `image` has, with its device pixel ratio, drawn in
    // image points (annotation coordinates). `image` itself when no bitmap or painter can be made.
    static QImage renderImageWithAnnotations(const QImage& image, const QList<Annotation>& annotations);

    // `image` with every blur annotation applied, in list order, segment by segment, exactly as the
    // editor applied them while the strokes were drawn.
    static QImage applyBlurAnnotations(const QImage& image, const QList<Annotation>& annotations);

    // Draws one annotation in image coordinates (scale 1, no offset). Blur draws nothing here.
    static void drawAnnotationToContext(QPainter& painter, const Annotation& annotation, const QSizeF& imageSize);
};
