#include "platform/ScreenGeometry.h"

#include "support/InjectedScreens.h"

#include <gtest/gtest.h>

using platform::ScreenGeometry;
using platform::ScreenInfo;
using test::InjectedScreens;

TEST(ScreenGeometry, RoundOutwardTable)
{
    const struct {
        QRectF in;
        QRect out;
    } cases[] = {
        {{0, 0, 10, 10}, {0, 0, 10, 10}},
        {{0.5, 0.5, 10, 10}, {0, 0, 11, 11}},
        {{-0.25, -1.75, 2, 2}, {-1, -2, 3, 3}},
        {{1.25 * 240, 0, 1.25 * 239.99999999, 1}, {300, 0, 300, 1}},
        {{10, 10, -4, -4}, {6, 6, 4, 4}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScreenGeometry::roundOutward(c.in), c.out) << c.in.x() << "," << c.in.y();
}

TEST(ScreenGeometry, PointsToPixelsOnFractionalAndOffsetScreens)
{
    // A primary at root (1280, 0) with ratio 1.25 and a monitor to its left at ratio 1.
    const ScreenInfo primary = ScreenGeometry::describe({1280, 0, 1536, 864}, 1.25, true, "primary");
    const ScreenInfo left = ScreenGeometry::describe({0, 100, 1280, 1024}, 1.0, false, "left");
    InjectedScreens screens({primary, left});
    EXPECT_EQ(primary.nativeGeometry, QRect(1280, 0, 1920, 1080));

    EXPECT_EQ(ScreenGeometry::screenPointsToRootPixels({200, 200, 800, 600}, primary), QRect(1530, 250, 1000, 750));
    EXPECT_EQ(ScreenGeometry::screenPointsToRootPixels({0.3, 0.3, 1, 1}, primary), QRect(1280, 0, 2, 2));
    EXPECT_EQ(ScreenGeometry::globalPointsToRootPixels({1380, 10, 100, 100}, primary), QRect(1405, 12, 125, 126));

    // Global top-left pixels count from the primary's native origin, so the left monitor is negative.
    EXPECT_EQ(ScreenGeometry::primaryNativeOrigin(), QPoint(1280, 0));
    EXPECT_EQ(ScreenGeometry::rootToGlobalTopLeftPixels(QRect(10, 110, 50, 50)), QRect(-1270, 110, 50, 50));
    EXPECT_EQ(ScreenGeometry::globalTopLeftPixelsToRoot(QRect(0, 0, 1920, 1080)), primary.nativeGeometry);

    EXPECT_EQ(ScreenGeometry::screenAt({50, 500})->name, "left");
    EXPECT_EQ(ScreenGeometry::screenAt({1300, 5})->name, "primary");
    EXPECT_FALSE(ScreenGeometry::screenAt({50, 50}));
    EXPECT_EQ(ScreenGeometry::primaryScreen()->name, "primary");
}

TEST(ScreenGeometry, NativeRectangleComesFromTheMonitorOfTheSameName)
{
    // Qt rounds a screen's point size: 2560 pixels at 1.5 are 1707 points, which times 1.5 is 2560.5.
    const QHash<QString, QRect> monitors{{"DP-1", {0, 0, 2560, 1440}}, {"HDMI-1", {2560, 0, 1366, 768}},
                                         {"eDP-1", {-1920, 200, 1920, 1080}}};
    const QRect root(-1920, 0, 2560 + 1366 + 1920, 1440);
    const struct {
        const char* name;
        QRect points;
        double ratio;
        QHash<QString, QRect> monitors;
        QRect root;
        QRect expected;
    } cases[] = {
        {"DP-1", {0, 0, 1707, 960}, 1.5, monitors, root, {0, 0, 2560, 1440}},
        {"HDMI-1", {2560, 0, 911, 512}, 1.5, monitors, root, {2560, 0, 1366, 768}},
        {"eDP-1", {-1920, 200, 1536, 864}, 1.25, monitors, root, {-1920, 200, 1920, 1080}},
        // No monitor of that name: estimated from the points, kept inside the root.
        {"DP-2", {0, 0, 1707, 960}, 1.5, monitors, {0, 0, 2560, 1440}, {0, 0, 2560, 1440}},
        {"DP-2", {2560, 0, 911, 512}, 1.5, {}, {0, 0, 3926, 1440}, {2560, 0, 1366, 768}},
        {"", {0, 0, 1707, 960}, 1.5, monitors, {}, {0, 0, 2561, 1440}},
        {"DP-1", {0, 0, 1536, 864}, 1.25, {{"DP-1", {}}}, {}, {0, 0, 1920, 1080}},
        // Where the estimate is right, the root does not cut it.
        {"X", {1280, 0, 1536, 864}, 1.25, {}, {0, 0, 3200, 1080}, {1280, 0, 1920, 1080}},
    };
    for (const auto& c : cases) {
        const QRect native = ScreenGeometry::nativeGeometryFor(c.name, c.points, c.ratio, c.monitors, c.root);
        EXPECT_EQ(native, c.expected) << c.name << " " << c.points.width();
        const ScreenInfo screen = ScreenGeometry::describe(c.points, c.ratio, true, c.name, native);
        EXPECT_EQ(screen.nativeGeometry, c.expected);
        EXPECT_EQ(screen.geometry, c.points);
        EXPECT_EQ(screen.devicePixelRatio, c.ratio);
    }

    // The whole screen in points covers exactly the monitor's pixels, not the half pixel beyond.
    const ScreenInfo dp1 = ScreenGeometry::describe({0, 0, 1707, 960}, 1.5, true, "DP-1", {0, 0, 2560, 1440});
    InjectedScreens screens({dp1});
    EXPECT_EQ(ScreenGeometry::screenAreaToRootPixels({0, 0, 1707, 960}, dp1), QRect(0, 0, 2560, 1440));
    EXPECT_EQ(ScreenGeometry::screenAreaToRootPixels({1700, 950, 7, 10}, dp1), QRect(2550, 1425, 10, 15));
    EXPECT_EQ(ScreenGeometry::screenAreaToRootPixels({100, 100, 10, 10}, dp1), QRect(150, 150, 15, 15));
}

TEST(ScreenGeometry, RealScreensPutThePrimaryFirst)
{
    const auto list = ScreenGeometry::screens();
    ASSERT_FALSE(list.isEmpty());
    EXPECT_TRUE(list.first().primary);
}
