#include "platform/XcbConnection.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform {

xcb_connection_t* XcbConnection::qtConnection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    return connection && !xcb_connection_has_error(connection) ? connection : nullptr;
}

XcbConnection::~XcbConnection()
{
    if (connection)
        xcb_disconnect(connection);
}

bool XcbConnection::open(const char* displayName, QString* error)
{
    int screenNumber = 0;
    connection = xcb_connect(displayName, &screenNumber);
    if (!connection || xcb_connection_has_error(connection)) {
        if (error)
            *error = QStringLiteral("cannot connect to the X display");
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        if (error)
            *error = QStringLiteral("the X display has no screen");
        return false;
    }
    root = it.data->root;
    rootGeometry = QRect(0, 0, it.data->width_in_pixels, it.data->height_in_pixels);
    rootDepth = it.data->root_depth;
    return true;
}

bool XcbConnection::readImage(xcb_drawable_t drawable, const QRect& area, QImage& target, const QPoint& at,
                              bool forceOpaque, const QString& refused, QString* error)
{
    const int w = area.width();
    const int h = area.height();
    // GetImage answers are limited by the maximum request length: read in bands.
    const uint32_t maxBytes = xcb_get_maximum_request_length(connection) * 4u;
    const int bandRows = std::max(1, static_cast<int>(std::min<uint64_t>(h, (maxBytes - 64) / (static_cast<uint64_t>(w) * 4))));
    for (int y = 0; y < h; y += bandRows) {
        const int rows = std::min(bandRows, h - y);
        xcb_generic_error_t* xerror = nullptr;
        xcb_get_image_reply_t* reply = xcb_get_image_reply(
            connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<int16_t>(area.x()),
                          static_cast<int16_t>(area.y() + y), static_cast<uint16_t>(w), static_cast<uint16_t>(rows), ~0u),
            &xerror);
        if (!reply) {
            if (error)
                *error = refused.arg(xerror ? xerror->error_code : 0);
            std::free(xerror);
            return false;
        }
        const int length = xcb_get_image_data_length(reply);
        if (length < w * rows * 4) {
            std::free(reply);
            if (error)
                *error = QStringLiteral("short GetImage reply");
            return false;
        }
        copyRows(xcb_get_image_data(reply), w * 4, target, at + QPoint(0, y), w, rows, forceOpaque);
        std::free(reply);
    }
    return true;
}

void XcbConnection::copyRows(const uchar* source, int sourceStride, QImage& target, const QPoint& at, int width,
                             int height, bool forceOpaque)
{
    for (int y = 0; y < height; ++y) {
        const auto* from = reinterpret_cast<const quint32*>(source + static_cast<size_t>(y) * sourceStride);
        auto* to = reinterpret_cast<quint32*>(target.scanLine(at.y() + y)) + at.x();
        if (forceOpaque) {
            for (int x = 0; x < width; ++x)
                to[x] = from[x] | 0xff000000u;
        } else {
            std::memcpy(to, from, static_cast<size_t>(width) * 4);
        }
    }
}

} // namespace platform
