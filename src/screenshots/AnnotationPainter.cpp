#include "screenshots/AnnotationPainter.h"

#include <QFontDatabase>
#include <QPainter>

#include <cmath>

QFont AnnotationPainter::textFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    // A pixel size is in the painter's logical units, so the text is 16 points on the canvas and
    // 16 image points in the output whatever the paint device's resolution.
    font.setPixelSize(kTextSize);
    font.setWeight(QFont::DemiBold);
    return font;
}

QPainterPath AnnotationPainter::strokePath(const Annotation& annotation, double scale, const QPointF& offset)
{
    const QPointF a = map(annotation.startPoint, scale, offset);
    const QPointF b = map(annotation.endPoint, scale, offset);
    QPainterPath path;
    switch (annotation.type) {
    case AnnotationType::arrow: {
        path.moveTo(a);
        path.lineTo(b);
        const double theta = std::atan2(b.y() - a.y(), b.x() - a.x());
        for (double side : {-kArrowHeadAngle, kArrowHeadAngle}) {
            path.moveTo(b);
            path.lineTo(b.x() - kArrowHeadLength * std::cos(theta + side), b.y() - kArrowHeadLength * std::sin(theta + side));
        }
        break;
    }
    case AnnotationType::line:
        path.moveTo(a);
        path.lineTo(b);
        break;
    case AnnotationType::rectangle:
        path.addRect(QRectF(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::abs(b.x() - a.x()), std::abs(b.y() - a.y())));
        break;
    case AnnotationType::circle: {
        // The drag is a diameter of the circle, in whatever direction it went.
        const double radius = std::hypot(b.x() - a.x(), b.y() - a.y()) / 2;
        path.addEllipse((a + b) / 2, radius, radius);
        break;
    }
    case AnnotationType::pen:
        if (annotation.pathPoints && annotation.pathPoints->size() >= 2) {
            const QList<QPointF>& points = *annotation.pathPoints;
            path.moveTo(map(points.first(), scale, offset));
            for (qsizetype i = 1; i < points.size(); ++i)
                path.lineTo(map(points[i], scale, offset));
        } else {
            path.moveTo(a);
            path.lineTo(b);
        }
        break;
    case AnnotationType::text:
    case AnnotationType::blur:
        break;
    }
    return path;
}

void AnnotationPainter::drawAnnotation(QPainter& painter, const Annotation& annotation, double scale, const QPointF& offset)
{
    if (annotation.type == AnnotationType::blur)
        return; // the blur changes the picture itself
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (annotation.type == AnnotationType::text) {
        if (annotation.text) {
            painter.setFont(textFont());
            painter.setPen(annotation.color);
            // Top-left of the text block at the start point; lines break only at typed line breaks.
            const QPointF a = map(annotation.startPoint, scale, offset);
            painter.drawText(QRectF(a, QSizeF(0, 0)), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, *annotation.text);
        }
    } else {
        QPen pen(annotation.color, annotation.lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        pen.setMiterLimit(10);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(strokePath(annotation, scale, offset));
    }
    painter.restore();
}
