#include "platform/ScreenGeometry.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>
#include <mutex>

namespace platform {
namespace {

std::mutex injectedMutex;
QList<ScreenInfo>& injected()
{
    static QList<ScreenInfo> list;
    return list;
}

} // namespace

ScreenInfo ScreenGeometry::describe(const QRect& geometry, double devicePixelRatio, bool primary, const QString& name)
{
    ScreenInfo info;
    info.name = name;
    info.geometry = geometry;
    info.devicePixelRatio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    info.primary = primary;
    info.nativeGeometry = QRect(geometry.topLeft(),
                                QSize(static_cast<int>(std::lround(geometry.width() * info.devicePixelRatio)),
                                      static_cast<int>(std::lround(geometry.height() * info.devicePixelRatio))));
    return info;
}

QList<ScreenInfo> ScreenGeometry::screens()
{
    {
        std::lock_guard lock(injectedMutex);
        if (!injected().isEmpty())
            return injected();
    }
    QList<ScreenInfo> list;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (QScreen* screen : QGuiApplication::screens()) {
        ScreenInfo info = describe(screen->geometry(), screen->devicePixelRatio(), screen == primary, screen->name());
        if (info.primary)
            list.prepend(info);
        else
            list.append(info);
    }
    return list;
}

std::optional<ScreenInfo> ScreenGeometry::primaryScreen()
{
    const QList<ScreenInfo> list = screens();
    for (const ScreenInfo& s : list)
        if (s.primary)
            return s;
    if (!list.isEmpty())
        return list.first();
    return std::nullopt;
}

std::optional<ScreenInfo> ScreenGeometry::screenAt(const QPoint& globalPoint)
{
    for (const ScreenInfo& s : screens())
        if (s.geometry.contains(globalPoint))
            return s;
    return std::nullopt;
}

void ScreenGeometry::setScreensForTesting(const QList<ScreenInfo>& list)
{
    std::lock_guard lock(injectedMutex);
    injected() = list;
}

QRect ScreenGeometry::roundOutward(const QRectF& rect)
{
    const QRectF r = rect.normalized();
    // A tolerance keeps values like 299.99999999 (from 1.25 x 239.99999) from growing a pixel.
    constexpr double eps = 1e-6;
    const int left = static_cast<int>(std::floor(r.left() + eps));
    const int top = static_cast<int>(std::floor(r.top() + eps));
    const int right = static_cast<int>(std::ceil(r.right() - eps));
    const int bottom = static_cast<int>(std::ceil(r.bottom() - eps));
    return QRect(QPoint(left, top), QSize(std::max(0, right - left), std::max(0, bottom - top)));
}

QRect ScreenGeometry::screenPointsToRootPixels(const QRectF& local, const ScreenInfo& screen)
{
    const double s = screen.devicePixelRatio;
    const QRectF pixels(screen.nativeGeometry.x() + local.x() * s, screen.nativeGeometry.y() + local.y() * s,
                        local.width() * s, local.height() * s);
    return roundOutward(pixels);
}

QRect ScreenGeometry::globalPointsToRootPixels(const QRectF& global, const ScreenInfo& screen)
{
    return screenPointsToRootPixels(global.translated(-QPointF(screen.geometry.topLeft())), screen);
}

QPoint ScreenGeometry::primaryNativeOrigin()
{
    const auto primary = primaryScreen();
    return primary ? primary->nativeGeometry.topLeft() : QPoint();
}

QRect ScreenGeometry::rootToGlobalTopLeftPixels(const QRect& rootPixels)
{
    return rootPixels.translated(-primaryNativeOrigin());
}

QRect ScreenGeometry::globalTopLeftPixelsToRoot(const QRect& globalTopLeft)
{
    return globalTopLeft.translated(primaryNativeOrigin());
}

} // namespace platform
