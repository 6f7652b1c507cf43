#include "platform/CompositingManager.h"

#include "platform/XcbConnection.h"

#include <QByteArray>

#include <xcb/xcb.h>

#include <cstdlib>

namespace platform {

bool CompositingManager::isRunning()
{
    xcb_connection_t* connection = XcbConnection::qtConnection();
    if (!connection)
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
