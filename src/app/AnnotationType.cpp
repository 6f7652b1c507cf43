#include "app/AnnotationType.h"

namespace AnnotationTypes {

const QList<AnnotationType>& allCases()
{
    static const QList<AnnotationType> cases = {
        AnnotationType::arrow, AnnotationType::line, AnnotationType::rectangle, AnnotationType::circle,
        AnnotationType::text, AnnotationType::pen, AnnotationType::blur,
    };
    return cases;
}

QString rawValue(AnnotationType type)
{
    switch (type) {
    case AnnotationType::arrow: return QStringLiteral("arrow");
    case AnnotationType::line: return QStringLiteral("line");
    case AnnotationType::rectangle: return QStringLiteral("rectangle");
    case AnnotationType::circle: return QStringLiteral("circle");
    case AnnotationType::text: return QStringLiteral("text");
    case AnnotationType::pen: return QStringLiteral("pen");
    case AnnotationType::blur: return QStringLiteral("blur");
    }
    return {};
}

std::optional<AnnotationType> fromRawValue(const QString& raw)
{
    for (AnnotationType t : allCases())
        if (rawValue(t) == raw)
            return t;
    return std::nullopt;
}

} // namespace AnnotationTypes
