#pragma once

#include <QString>

namespace platform {

// Desktop notifications through org.freedesktop.Notifications on the session bus.
class DesktopNotifications {
public:
    // Shows one notification with the desktop's default sound and time-out. Never blocks and
    // reports nothing: without a bus or a notification service nothing is shown. GUI thread.
    static void post(const QString& title, const QString& body);
};

} // namespace platform
