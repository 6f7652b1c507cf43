#pragma once

#include "platform/ScreenGeometry.h"

#include <QImage>

#include <optional>

class QWidget;

// What the recording overlays need to look clear over the live screen. Translucent windows show
// what lies beneath them only while a compositing manager runs; without one a veil paints a frozen
// picture of the screen, and the frame and the click rings become shaped windows.
class ScreenBackdrop {
public:
    static bool compositingAvailable();
    // Readies `window` as an overlay that every click passes through and that shows without focus:
    // translucent with a compositing manager; without one true, and the window must be shaped to
    // what it draws.
    static bool makeClickThrough(QWidget* window);
    // The screen's pixels as they are now, with its device pixel ratio set; null off X11 or when
    // the display refuses.
    static QImage freeze(const platform::ScreenInfo& screen);

    // Tests: answer compositingAvailable() with `running` (nullopt: ask the display again).
    static void setCompositingForTesting(std::optional<bool> running);
};
