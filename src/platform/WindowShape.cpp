#include "platform/WindowShape.h"

#include "platform/XcbConnection.h"

#include <QRegion>
#include <QWidget>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <vector>

namespace platform {
namespace {

// Qt's connection when it is X11 and the server has SHAPE; null otherwise.
xcb_connection_t* shapeConnection()
{
    xcb_connection_t* c = XcbConnection::qtConnection();
    if (!c)
        return nullptr;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
    return shape && shape->present ? c : nullptr;
}

} // namespace

bool WindowShape::makeInvisible(QWidget* window)
{
    xcb_connection_t* c = shapeConnection();
    if (!c || !window)
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

bool WindowShape::setBoundingShape(QWidget* window, const QRegion& pixels)
{
    xcb_connection_t* c = shapeConnection();
    if (!c || !window)
        return false;
    std::vector<xcb_rectangle_t> rects;
    for (const QRect& r : pixels)
        rects.push_back({static_cast<int16_t>(r.x()), static_cast<int16_t>(r.y()), static_cast<uint16_t>(r.width()),
                         static_cast<uint16_t>(r.height())});
    const auto id = static_cast<xcb_window_t>(window->winId());
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_shape_rectangles_checked(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED,
                                                          id, 0, 0, static_cast<uint32_t>(rects.size()), rects.data()));
    const bool ok = !error;
    std::free(error);
    return ok;
}

} // namespace platform
