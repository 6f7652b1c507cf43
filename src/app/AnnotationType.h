#pragma once

#include <QList>
#include <QString>

#include <optional>

// The annotation editor's tools; the raw value equals the name.
enum class AnnotationType {
    arrow,
    line,
    rectangle,
    circle,
    text,
    pen,
    blur,
};

namespace AnnotationTypes {

const QList<AnnotationType>& allCases();
QString rawValue(AnnotationType type);
std::optional<AnnotationType> fromRawValue(const QString& raw);

} // namespace AnnotationTypes
