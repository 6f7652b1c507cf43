#include "platform/ImageAssets.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>
#include <mutex>

namespace platform {
namespace {

std::mutex hiddenMutex;
QStringList& hiddenNames()
{
    static QStringList names;
    return names;
}

QString resourcePath(const QString& name)
{
    return QStringLiteral(":/icons/%1.svg").arg(name);
}

constexpr double kPixelDensity = 2.0;

} // namespace

bool ImageAssets::exists(const QString& name)
{
    {
        std::lock_guard lock(hiddenMutex);
        if (hiddenNames().contains(name))
            return false;
    }
    return QFile::exists(resourcePath(name));
}

std::optional<QImage> ImageAssets::named(const QString& name, double pointSize)
{
    if (!exists(name) || pointSize <= 0)
        return std::nullopt;
    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid())
        return std::nullopt;
    const int pixels = std::max(1, static_cast<int>(std::ceil(pointSize * kPixelDensity)));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QSizeF content = renderer.defaultSize();
    content.scale(pixels, pixels, Qt::KeepAspectRatio);
    renderer.render(&painter, QRectF((pixels - content.width()) / 2, (pixels - content.height()) / 2,
                                     content.width(), content.height()));
    painter.end();
    image.setDevicePixelRatio(kPixelDensity);
    return image;
}

std::optional<QImage> ImageAssets::symbol(const QString& name, double pointSize, const QColor& tint)
{
    auto image = named(name, pointSize);
    if (!image)
        return std::nullopt;
    QPainter painter(&*image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image->rect(), tint.isValid() ? tint : QColor(Qt::black));
    painter.end();
    return image;
}

void ImageAssets::setHiddenForTesting(const QStringList& names)
{
    std::lock_guard lock(hiddenMutex);
    hiddenNames() = names;
}

} // namespace platform
