#pragma once

#include "app/Annotation.h"

#include <QFont>
#include <QPainterPath>
#include <QPointF>

class QPainter;

// The one drawing routine of annotations, shared by the editor's canvas and the output image.
//
// An image point p lands on the target at p * scale + offset. Only positions are mapped: the line
// width, the 15-unit arrow head and the 16-unit text are in target units (screen points on the
// canvas, image points in the output), never multiplied by the scale.
class AnnotationPainter {
public:
    static constexpr double kArrowHeadLength = 15.0;
    static constexpr double kArrowHeadAngle = 3.14159265358979323846 / 6;
    static constexpr int kTextSize = 16;

    static void drawAnnotation(QPainter& painter, const Annotation& annotation, double scale, const QPointF& offset);

    // The stroked path of arrow, line, rectangle, circle and pen, in target coordinates; empty for
    // text and blur, which stroke nothing.
    static QPainterPath strokePath(const Annotation& annotation, double scale, const QPointF& offset);

    // The system font at 16 units, semibold: the text annotations and the inline text field.
    static QFont textFont();

    static QPointF map(const QPointF& imagePoint, double scale, const QPointF& offset)
    {
        return imagePoint * scale + offset;
    }
};
