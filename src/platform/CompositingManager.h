#pragma once

namespace platform {

// Whether a compositing manager runs on the X display (it owns the _NET_WM_CM_S<screen>
// selection). Only then do translucent windows show what lies beneath them; without one, a
// full-screen veil has to paint a frozen picture of the screen under itself.
class CompositingManager {
public:
    static bool isRunning();
};

} // namespace platform
