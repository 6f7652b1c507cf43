#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QString>

#include <functional>
#include <optional>

namespace platform {

// One screen as the geometry code sees it. `geometry` is Qt's: device-independent points whose
// origin is the screen's native top-left (Qt keeps screen origins unscaled); `nativeGeometry` is
// the screen's area of the X root window in pixels.
struct ScreenInfo {
    QString name;
    QRect geometry;
    QRect nativeGeometry;
    double devicePixelRatio = 1.0;
    bool primary = false;
};

// Conversions between screen points, root-window pixels and "global top-left pixels" (root pixels
// relative to the primary screen's native top-left, which need not be the root's origin). Device
// pixel ratios may be fractional; every conversion to pixels rounds outward, in one place.
class ScreenGeometry {
public:
    // The screens in Qt's order, the primary first; from QGuiApplication unless a test injected a list.
    static QList<ScreenInfo> screens();
    static std::optional<ScreenInfo> primaryScreen();
    // The screen whose point geometry contains `globalPoint`, else nullopt.
    static std::optional<ScreenInfo> screenAt(const QPoint& globalPoint);
    // Tests: answer with `list` (empty: back to the real screens).
    static void setScreensForTesting(const QList<ScreenInfo>& list);

    static ScreenInfo describe(const QRect& geometry, double devicePixelRatio, bool primary, const QString& name = {});

    // The smallest integer rectangle that contains `rect`.
    static QRect roundOutward(const QRectF& rect);
    // A rectangle in points relative to `screen`'s top-left, in root pixels.
    static QRect screenPointsToRootPixels(const QRectF& localPoints, const ScreenInfo& screen);
    // A rectangle in Qt global points on `screen`, in root pixels.
    static QRect globalPointsToRootPixels(const QRectF& globalPoints, const ScreenInfo& screen);
    static QRect rootToGlobalTopLeftPixels(const QRect& rootPixels);
    static QRect globalTopLeftPixelsToRoot(const QRect& globalTopLeft);
    // The primary screen's native top-left in the root window.
    static QPoint primaryNativeOrigin();
};

} // namespace platform
