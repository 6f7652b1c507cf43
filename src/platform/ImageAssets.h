#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>

#include <optional>

namespace platform {

// Named images compiled into the program (":/icons/<name>.svg"): product and provider logos, and
// the symbol images that stand for the system symbols of the design.
class ImageAssets {
public:
    // The image rendered to fit size x size points, at twice the pixel density; nullopt when missing.
    static std::optional<QImage> named(const QString& name, double pointSize);
    // A one-colour symbol image tinted with `tint` (black when invalid); nullopt for an unknown symbol.
    static std::optional<QImage> symbol(const QString& name, double pointSize, const QColor& tint = QColor());
    static bool exists(const QString& name);

    // Tests: make some names look missing.
    static void setHiddenForTesting(const QStringList& names);
};

} // namespace platform
