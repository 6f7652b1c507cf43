#include "recording/RecordingWindowPlacement.h"

#include "platform/Mp4Writer.h"

#include <algorithm>
#include <cmath>

using platform::ScreenInfo;

QRectF RecordingWindowPlacement::areaToGlobal(const QRectF& area, const QList<ScreenInfo>& screens)
{
    for (const ScreenInfo& screen : screens)
        if (screen.primary)
            return area.translated(screen.geometry.topLeft());
    return area;
}

std::optional<ScreenInfo> RecordingWindowPlacement::screenFor(const QRectF& globalArea, const QList<ScreenInfo>& screens)
{
    for (const ScreenInfo& screen : screens)
        if (QRectF(screen.geometry).intersects(globalArea))
            return screen;
    return platform::ScreenGeometry::primaryOf(screens);
}

QRectF RecordingWindowPlacement::keepOnScreen(const QRectF& frame, const QRectF& screen)
{
    // On a screen too small for both margins the left margin wins in x and the bottom margin in y.
    const double x = std::max(screen.left() + kMargin, std::min(frame.x(), screen.right() - frame.width() - kMargin));
    const double y = std::min(screen.bottom() - frame.height() - kMargin, std::max(frame.y(), screen.top() + kMargin));
    return QRectF(x, y, frame.width(), frame.height());
}

RecordingWindowPlacement::Placement RecordingWindowPlacement::controlsWindow(const QRectF& a, const QRectF& s,
                                                                            const QSizeF& size)
{
    const double w = size.width();
    const double h = size.height();
    Placement p;
    p.spaceAbove = a.top() - s.top();
    p.spaceBelow = s.bottom() - a.bottom();
    QPointF origin;
    if (h + kGap <= p.spaceAbove) {
        p.rule = Rule::Above;
        origin = QPointF(a.center().x() - w / 2, a.top() - kGap - h);
    } else if (h + kGap <= p.spaceBelow) {
        p.rule = Rule::Below;
        origin = QPointF(a.center().x() - w / 2, a.bottom() + kGap);
    } else if (w + kGap <= s.right() - a.right()) {
        p.rule = Rule::Right;
        origin = QPointF(a.right() + kGap, a.center().y() - h / 2);
    } else {
        p.rule = Rule::Center;
        origin = QPointF(a.center().x() - w / 2, a.center().y() - h / 2);
    }
    p.frame = keepOnScreen(QRectF(origin, size), s);
    return p;
}

RecordingWindowPlacement::Placement RecordingWindowPlacement::setupPanel(const QRectF& a, const QRectF& s, const QSizeF& size)
{
    const double w = size.width();
    const double h = size.height();
    Placement p;
    p.spaceAbove = a.top() - s.top();
    p.spaceBelow = s.bottom() - a.bottom();
    const double needed = h + kGap;
    double y = a.bottom() + kGap;
    p.rule = Rule::Below;
    if (needed > p.spaceBelow && needed <= p.spaceAbove) {
        p.rule = Rule::Above;
        y = a.top() - kGap - h;
    }
    p.frame = keepOnScreen(QRectF(a.center().x() - w / 2, y, w, h), s);
    return p;
}

QRect RecordingWindowPlacement::recordedPixels(const QRectF& area, const std::optional<ScreenInfo>& primary)
{
    const QRectF shown(area.topLeft(), QSizeF(platform::Mp4Writer::evenVideoSize(area.size())));
    return primary ? platform::ScreenGeometry::screenPointsToRootPixels(shown, *primary)
                   : platform::ScreenGeometry::roundOutward(shown);
}

QRegion RecordingWindowPlacement::frameLinePixels(const QRect& recorded, double devicePixelRatio)
{
    // The tolerance keeps 3 x 1.0000001 from growing a pixel.
    const int width = std::max(1, static_cast<int>(std::ceil(kFrameLineWidth * devicePixelRatio - 1e-6)));
    return QRegion(recorded.adjusted(-width, -width, width, width)) - QRegion(recorded);
}

QString RecordingWindowPlacement::ruleLogLine(Rule rule)
{
    switch (rule) {
    case Rule::Above:
        return QStringLiteral("AppDelegate: Positioning ABOVE recording area");
    case Rule::Below:
        return QStringLiteral("AppDelegate: Positioning BELOW recording area");
    case Rule::Right:
        return QStringLiteral("AppDelegate: Positioning to RIGHT of recording area");
    case Rule::Center:
        break;
    }
    return QStringLiteral("AppDelegate: Positioning at CENTER of recording area");
}
