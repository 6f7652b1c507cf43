#include "platform/ScreenGeometry.h"

#include "platform/XcbConnection.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

std::mutex injectedMutex;
QList<ScreenInfo>& injected()
{
    static QList<ScreenInfo> list;
    return list;
}

struct XDisplay {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
};

// Qt's own connection and the root of the screen it was opened on. Asked on Qt's connection, as
// opening another one would race with connections that other threads open (the recorder's grabber).
XDisplay qtDisplay()
{
    xcb_connection_t* connection = XcbConnection::qtConnection();
    if (!connection)
        return {};
    int screenNumber = 0;
    char* host = nullptr;
    int displayNumber = 0;
    if (xcb_parse_display(nullptr, &host, &displayNumber, &screenNumber))
        std::free(host);
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem > 1; ++i)
        xcb_screen_next(&it);
    if (!it.rem)
        return {};
    return {connection, it.data->root};
}

} // namespace

ScreenInfo ScreenGeometry::describe(const QRect& geometry, double devicePixelRatio, bool primary, const QString& name,
                                    const QRect& nativeGeometry)
{
    ScreenInfo info;
    info.name = name;
    info.geometry = geometry;
    info.devicePixelRatio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    info.primary = primary;
    info.nativeGeometry = nativeGeometry;
    return info;
}

ScreenInfo ScreenGeometry::describe(const QRect& geometry, double devicePixelRatio, bool primary, const QString& name)
{
    return describe(geometry, devicePixelRatio, primary, name, estimatedNativeGeometry(geometry, devicePixelRatio));
}

ScreenInfo ScreenGeometry::describe(const QScreen& screen)
{
    const QRect geometry = screen.geometry();
    const double ratio = screen.devicePixelRatio();
    return describe(geometry, ratio, &screen == QGuiApplication::primaryScreen(), screen.name(),
                    nativeGeometryFor(screen.name(), geometry, ratio, nativeMonitors(), rootGeometry()));
}

QRect ScreenGeometry::estimatedNativeGeometry(const QRect& geometry, double devicePixelRatio, const QRect& root)
{
    const double ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const QRect estimate(geometry.topLeft(), QSize(static_cast<int>(std::lround(geometry.width() * ratio)),
                                                   static_cast<int>(std::lround(geometry.height() * ratio))));
    return root.isEmpty() ? estimate : estimate.intersected(root);
}

QRect ScreenGeometry::nativeGeometryFor(const QString& name, const QRect& geometry, double devicePixelRatio,
                                        const QHash<QString, QRect>& monitors, const QRect& root)
{
    if (!name.isEmpty()) {
        const auto monitor = monitors.constFind(name);
        if (monitor != monitors.constEnd() && !monitor->isEmpty())
            return *monitor;
    }
    return estimatedNativeGeometry(geometry, devicePixelRatio, root);
}

QHash<QString, QRect> ScreenGeometry::nativeMonitors()
{
    QHash<QString, QRect> result;
    const XDisplay display = qtDisplay();
    if (!display.connection)
        return result;
    xcb_connection_t* c = display.connection;
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
    if (!randr || !randr->present)
        return result;
    // A server older than RandR 1.5 answers with an error, taken here rather than by Qt's event loop.
    xcb_generic_error_t* error = nullptr;
    xcb_randr_get_monitors_reply_t* reply =
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, display.root, 1), &error);
    std::free(error);
    if (!reply)
        return result;
    // Monitors are named by atoms: ask for every name first, then read the answers.
    QList<std::pair<xcb_get_atom_name_cookie_t, QRect>> pending;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem; xcb_randr_monitor_info_next(&it))
        pending.append({xcb_get_atom_name(c, it.data->name), QRect(it.data->x, it.data->y, it.data->width, it.data->height)});
    std::free(reply);
    for (const auto& [cookie, rect] : pending) {
        xcb_generic_error_t* nameError = nullptr;
        if (xcb_get_atom_name_reply_t* name = xcb_get_atom_name_reply(c, cookie, &nameError)) {
            result.insert(QString::fromLatin1(xcb_get_atom_name_name(name), xcb_get_atom_name_name_length(name)), rect);
            std::free(name);
        }
        std::free(nameError);
    }
    return result;
}

QRect ScreenGeometry::rootGeometry()
{
    const XDisplay display = qtDisplay();
    if (!display.connection)
        return {};
    xcb_generic_error_t* error = nullptr;
    xcb_get_geometry_reply_t* reply =
        xcb_get_geometry_reply(display.connection, xcb_get_geometry(display.connection, display.root), &error);
    std::free(error);
    if (!reply)
        return {};
    const QRect root(0, 0, reply->width, reply->height);
    std::free(reply);
    return root;
}

QList<ScreenInfo> ScreenGeometry::screens()
{
    {
        std::lock_guard lock(injectedMutex);
        if (!injected().isEmpty())
            return injected();
    }
    QList<ScreenInfo> list;
    for (QScreen* screen : QGuiApplication::screens()) {
        ScreenInfo info = describe(*screen);
        if (info.primary)
            list.prepend(info);
        else
            list.append(info);
    }
    return list;
}

std::optional<ScreenInfo> ScreenGeometry::primaryScreen()
{
    return primaryOf(screens());
}

std::optional<ScreenInfo> ScreenGeometry::primaryOf(const QList<ScreenInfo>& list)
{
    for (const ScreenInfo& s : list)
        if (s.primary)
            return s;
    if (!list.isEmpty())
        return list.first();
    return std::nullopt;
}

QScreen* ScreenGeometry::qscreen(const ScreenInfo& screen)
{
    for (QScreen* candidate : QGuiApplication::screens())
        if (candidate->name() == screen.name)
            return candidate;
    return QGuiApplication::primaryScreen();
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

QRect ScreenGeometry::screenAreaToRootPixels(const QRectF& local, const ScreenInfo& screen)
{
    return screenPointsToRootPixels(local, screen).intersected(screen.nativeGeometry);
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
