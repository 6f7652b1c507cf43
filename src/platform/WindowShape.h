#pragma once

class QWidget;

namespace platform {

// X11 window shapes set directly through Qt's xcb connection.
class WindowShape {
public:
    // Gives the window an empty bounding and input shape: it stays mapped but draws no pixel and
    // takes no event, with or without a compositing manager (an opacity of 0 needs one). False when
    // not on X11 or the server lacks the SHAPE extension.
    static bool makeInvisible(QWidget* window);
};

} // namespace platform
