#include "screenshots/AnnotatedImageRenderer.h"

#include "platform/Console.h"
#include "screenshots/AnnotationPainter.h"
#include "screenshots/BlurBrush.h"

#include <QPainter>

QImage AnnotatedImageRenderer::applyBlurAnnotations(const QImage& image, const QList<Annotation>& annotations)
{
    QImage picture = image;
    for (const Annotation& annotation : annotations) {
        if (annotation.type != AnnotationType::blur || !annotation.pathPoints)
            continue;
        const QList<QPointF>& points = *annotation.pathPoints;
        for (qsizetype i = 0; i + 1 < points.size(); ++i)
            BlurBrush::applyBlurAlongPathInPlace(picture, {points[i], points[i + 1]}, annotation.lineWidth);
    }
    return picture;
}

void AnnotatedImageRenderer::drawAnnotationToContext(QPainter& painter, const Annotation& annotation, const QSizeF& imageSize)
{
    // Image coordinates are the bitmap's own (top-left origin, y down): nothing to flip.
    Q_UNUSED(imageSize);
    AnnotationPainter::drawAnnotation(painter, annotation, 1.0, QPointF(0, 0));
}

QImage AnnotatedImageRenderer::renderImageWithAnnotations(const QImage& image, const QList<Annotation>& annotations)
{
    // The bitmap has the picture's pixels, not its point size: on a screen with a device pixel
    // ratio above 1 a bitmap of the point size would throw away resolution. The painter works in
    // points (QPainter honours the bitmap's ratio), so annotations keep their image coordinates.
    QImage output;
    if (!image.isNull())
        output = QImage(image.size(), QImage::Format_ARGB32_Premultiplied);
    if (output.isNull()) {
        platform::Console::printLine(QStringLiteral("Failed to create bitmap representation, returning original image"));
        return image;
    }
    output.setDevicePixelRatio(image.devicePixelRatio());
    output.fill(Qt::transparent);

    QPainter painter;
    if (!painter.begin(&output)) {
        platform::Console::printLine(QStringLiteral("Failed to create graphics context, returning original image"));
        return image;
    }
    const QSizeF size = image.deviceIndependentSize();
    const QImage picture = applyBlurAnnotations(image, annotations);
    // Source, not source-over: the picture's pixels are copied as they are, partly transparent
    // blurred borders included.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRectF(QPointF(0, 0), size), picture);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    for (const Annotation& annotation : annotations)
        drawAnnotationToContext(painter, annotation, size);
    painter.end();
    return output;
}
