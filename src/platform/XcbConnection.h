#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

#include <xcb/xcb.h>

#include <cstdint>

namespace platform {

// An X connection of its own to a display's default screen, for the readers that fetch pixels
// apart from Qt's connection. Disconnects when destroyed.
struct XcbConnection {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    QRect rootGeometry; // the root window in root pixels
    uint8_t rootDepth = 0;

    // Qt's own connection when the application runs on xcb and the connection is sound, else null.
    // Asked on it rather than on a new one: opening connections races with those other threads
    // open (the recorder's grabber), since libXau's XauFileName keeps a static buffer.
    static xcb_connection_t* qtConnection();

    XcbConnection() = default;
    ~XcbConnection();
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    // Connects to $DISPLAY (or `displayName`) and finds its screen; false with a reason when that
    // is not possible.
    bool open(const char* displayName, QString* error);

    // Reads `area` of `drawable` (in the drawable's pixels, 32 bits each) into `target` at `at` by
    // plain GetImage, in bands the maximum request length allows. False with a reason when the
    // server refuses a band (`refused`, whose remaining placeholder takes the X error code) or
    // answers short.
    bool readImage(xcb_drawable_t drawable, const QRect& area, QImage& target, const QPoint& at, bool forceOpaque,
                   const QString& refused, QString* error);

    // Copies rows of 32-bit pixels `sourceStride` bytes apart into `target` at `at`, setting alpha
    // when asked.
    static void copyRows(const uchar* source, int sourceStride, QImage& target, const QPoint& at, int width, int height,
                         bool forceOpaque);
};

} // namespace platform
