#pragma once

#include "app/AnnotationType.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>
#include <QUuid>

#include <optional>

// One drawn annotation, in image coordinates (points of the captured picture, y down).
struct Annotation {
    QUuid id = QUuid::createUuid();
    AnnotationType type = AnnotationType::arrow;
    QPointF startPoint;
    QPointF endPoint;
    std::optional<QString> text;  // text annotations only
    QColor color;                 // gray for a blur stroke
    double lineWidth = 3.0;       // for blur the brush width (five times the chosen width)
    std::optional<QList<QPointF>> pathPoints; // pen and blur strokes only
};
