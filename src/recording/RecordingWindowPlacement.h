#pragma once

#include "platform/ScreenGeometry.h"

#include <QList>
#include <QRect>
#include <QRectF>
#include <QRegion>
#include <QSizeF>
#include <QString>

#include <optional>

// Where the recording controls window and the setup panel go next to a recording area, and where the
// red frame goes around it. Pure geometry in Qt's global points (top-left origin, y down) and root
// pixels, so tests run it on any screen list.
class RecordingWindowPlacement {
public:
    // The gap between the area and the window, and the margin kept from the screen's edges.
    static constexpr double kGap = 20.0;
    static constexpr double kMargin = 20.0;
    // The frame line's width in points.
    static constexpr double kFrameLineWidth = 3.0;

    enum class Rule { Above, Below, Right, Center };

    struct Placement {
        Rule rule = Rule::Center;
        double spaceAbove = 0; // from the screen's top edge to the area's top edge
        double spaceBelow = 0; // from the area's bottom edge to the screen's bottom edge
        QRectF frame;
    };

    // A recording area (main-screen points, top-left origin) in Qt global points.
    static QRectF areaToGlobal(const QRectF& area, const QList<platform::ScreenInfo>& screens);
    // The first screen whose frame meets `globalArea`, else the primary, else the first listed.
    static std::optional<platform::ScreenInfo> screenFor(const QRectF& globalArea, const QList<platform::ScreenInfo>& screens);

    // The controls window: above the area, else below, else to its right, else over its middle;
    // then kept kMargin inside the screen.
    static Placement controlsWindow(const QRectF& globalArea, const QRectF& screen, const QSizeF& size);
    // The setup panel: centred under the area, else over it, else under it all the same; then kept
    // on the screen like the controls window, so a full-screen area cannot push it off.
    static Placement setupPanel(const QRectF& globalArea, const QRectF& screen, const QSizeF& size);

    // The root pixels the recorder grabs for `area` (main-screen points, top-left origin): the area
    // at the video's even size, rounded outward on `primary`; without a screen, its points as pixels.
    // The frame is placed from the same rectangle, so that no scale or odd size records any of it.
    static QRect recordedPixels(const QRectF& area, const std::optional<platform::ScreenInfo>& primary);
    // The frame line around `recorded` pixels at `devicePixelRatio`: kFrameLineWidth points rounded
    // up to whole pixels, on the pixels next to them on every side and on none of them.
    static QRegion frameLinePixels(const QRect& recorded, double devicePixelRatio);

    // The controls window's log line for `rule`.
    static QString ruleLogLine(Rule rule);

private:
    static QRectF keepOnScreen(const QRectF& frame, const QRectF& screen);
};
