#include "platform/WindowShape.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace platform {

bool WindowShape::makeInvisible(QWidget* window)
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c || !window)
        return false;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
    if (!shape || !shape->present)
        return false;
    const auto id = static_cast<xcb_window_t>(window->winId());
    bool ok = true;
    for (xcb_shape_kind_t kind : {XCB_SHAPE_SK_BOUNDING, XCB_SHAPE_SK_INPUT}) {
        xcb_generic_error_t* error = xcb_request_check(
            c, xcb_shape_rectangles_checked(c, XCB_SHAPE_SO_SET, kind, XCB_CLIP_ORDERING_UNSORTED, id, 0, 0, 0, nullptr));
        if (error) {
            ok = false;
            std::free(error);
        }
    }
    return ok;
}

} // namespace platform
