#pragma once

class QRegion;
class QWidget;

namespace platform {

// X11 window shapes set directly through Qt's xcb connection.
class WindowShape {
public:
    // Gives the window an empty bounding and input shape: it stays mapped but draws no pixel and
    // takes no event, with or without a compositing manager (an opacity of 0 needs one). False when
    // not on X11 or the server lacks the SHAPE extension.
    static bool makeInvisible(QWidget* window);
    // Shapes the window's drawing (not its input) to `pixels`, given in the window's own device
    // pixels. Unlike QWidget::setMask, whose points Qt scales and rounds, this keeps every pixel
    // edge where it is at fractional device pixel ratios. False when not on X11 or without SHAPE.
    static bool setBoundingShape(QWidget* window, const QRegion& pixels);
};

} // namespace platform
