#include "platform/ScreenGeometry.h"

#include <gtest/gtest.h>

using platform::ScreenGeometry;
using platform::ScreenInfo;

namespace {

struct InjectedScreens {
    explicit InjectedScreens(const QList<ScreenInfo>& list) { ScreenGeometry::setScreensForTesting(list); }
    ~InjectedScreens() { ScreenGeometry::setScreensForTesting({}); }
};

} // namespace

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

TEST(ScreenGeometry, RealScreensPutThePrimaryFirst)
{
    const auto list = ScreenGeometry::screens();
    ASSERT_FALSE(list.isEmpty());
    EXPECT_TRUE(list.first().primary);
}
