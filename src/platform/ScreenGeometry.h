#pragma once

#include <QHash>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QString>

#include <functional>
#include <optional>

class QScreen;

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
    // The primary screen of `list`, else its first; nullopt for an empty list.
    static std::optional<ScreenInfo> primaryOf(const QList<ScreenInfo>& list);
    // Qt's screen of `screen`'s name, else the primary (an injected list may name one the display lacks).
    static QScreen* qscreen(const ScreenInfo& screen);
    // The screen whose point geometry contains `globalPoint`, else nullopt.
    static std::optional<ScreenInfo> screenAt(const QPoint& globalPoint);
    // Tests: answer with `list` (empty: back to the real screens).
    static void setScreensForTesting(const QList<ScreenInfo>& list);

    // A screen whose native rectangle is known.
    static ScreenInfo describe(const QRect& geometry, double devicePixelRatio, bool primary, const QString& name,
                               const QRect& nativeGeometry);
    // A screen whose native rectangle is estimated from its points (see estimatedNativeGeometry,
    // without a root to keep it in).
    static ScreenInfo describe(const QRect& geometry, double devicePixelRatio, bool primary, const QString& name = {});
    // A real screen, with the native rectangle the display reports for it; ignores injected lists.
    static ScreenInfo describe(const QScreen& screen);

    // The native rectangle of the screen called `name`: the monitor of that name in `monitors`
    // (name -> root pixels), else an estimate. Qt rounds a screen's point size, so point size times
    // ratio can be a pixel larger than the monitor (2560 at 1.5 is 1707 points, 2560.5 pixels); the
    // estimate rounds to the nearest pixel and stays inside `root` when one is given.
    static QRect nativeGeometryFor(const QString& name, const QRect& geometry, double devicePixelRatio,
                                   const QHash<QString, QRect>& monitors, const QRect& root = {});
    static QRect estimatedNativeGeometry(const QRect& geometry, double devicePixelRatio, const QRect& root = {});
    // The display's monitors by name, in root pixels (RandR 1.5); empty when not on X11.
    static QHash<QString, QRect> nativeMonitors();
    // The X root window in pixels; empty when not on X11.
    static QRect rootGeometry();

    // The smallest integer rectangle that contains `rect`.
    static QRect roundOutward(const QRectF& rect);
    // A rectangle in points relative to `screen`'s top-left, in root pixels.
    static QRect screenPointsToRootPixels(const QRectF& localPoints, const ScreenInfo& screen);
    // The same cut to the screen's own pixels: an area of the screen, such as a selection on it,
    // never reaches the half pixel beyond a fractionally scaled edge.
    static QRect screenAreaToRootPixels(const QRectF& localPoints, const ScreenInfo& screen);
    // A rectangle in Qt global points on `screen`, in root pixels.
    static QRect globalPointsToRootPixels(const QRectF& globalPoints, const ScreenInfo& screen);
    static QRect rootToGlobalTopLeftPixels(const QRect& rootPixels);
    static QRect globalTopLeftPixelsToRoot(const QRect& globalTopLeft);
    // The primary screen's native top-left in the root window.
    static QPoint primaryNativeOrigin();
};

} // namespace platform
