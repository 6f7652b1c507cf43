#pragma once

#include <QString>

#include <functional>

namespace platform {

// Whether this process may read the screen. On an X11 session any client can read the root
// window, so access is granted when we run on X11 and the root can be read; under Wayland X
// clients cannot see other programs' windows, so access is never granted there. There is no
// prompt to show and no settings page to open on Linux.
class ScreenAccess {
public:
    // What stands in the way, if anything.
    enum class Obstacle {
        none,
        waylandSession, // the session itself forbids it: nothing the user can grant
        otherPlatform,  // Qt runs on a platform other than xcb
        unreadableRoot, // X11, but the root window could not be read
    };
    struct Answer {
        Obstacle obstacle = Obstacle::none;
        QString reason; // for log lines, "" when granted
    };

    static bool preflight();
    // The request call: the same answer as preflight; nothing is shown.
    static bool request();
    // Why access is missing, for log lines ("" when granted).
    static QString unavailableReason();
    // The obstacle and its reason from one probe of the display.
    static Answer check();

    // Tests: answer from `probe` instead of the display; an empty function restores the real check.
    static void setProbeForTesting(std::function<bool()> probe);
    // Tests: a full answer, obstacle and reason, instead of the display.
    static void setAnswerProbeForTesting(std::function<Answer()> probe);
};

} // namespace platform
