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
    static bool preflight();
    // The request call: the same answer as preflight; nothing is shown.
    static bool request();
    // Why access is missing, for log lines ("" when granted).
    static QString unavailableReason();

    // Tests: answer from `probe` instead of the display; an empty function restores the real check.
    static void setProbeForTesting(std::function<bool()> probe);
};

} // namespace platform
