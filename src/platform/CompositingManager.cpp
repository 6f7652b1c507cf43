#include "platform/CompositingManager.h"

#include <QByteArray>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

namespace platform {

bool CompositingManager::isRunning()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    // Asked on Qt's own connection: opening one here would race with connections that other
    // threads open (the recorder's grabber), since libXau's XauFileName keeps a static buffer.
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || xcb_connection_has_error(connection))
        return false;
    // The screen named by $DISPLAY, as Qt's connection uses it; parsing opens nothing.
    int screenNumber = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screenNumber))
        std::free(host);
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screenNumber);
    bool running = false;
    if (auto* atom = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.constData()), nullptr)) {
        if (auto* owner = xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr)) {
            running = owner->owner != XCB_WINDOW_NONE;
            std::free(owner);
        }
        std::free(atom);
    }
    return running;
}

} // namespace platform
