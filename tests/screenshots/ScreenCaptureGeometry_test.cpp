// Coordinates of the capture on injected screen lists, and the order of the capture chain with
// its methods replaced. Some cases start from bottom-left frames (y up) and are turned into
// top-left ones with flipped(): y becomes height - y - h.
#include "platform/ScreenGeometry.h"
#include "screenshots/CaptureTestSupport.h"
#include "screenshots/ScreenCaptureWindow.h"
#include "support/InjectedScreens.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstring>

using capturetest::InjectedMethods;
using platform::ScreenGeometry;
using platform::ScreenInfo;
using test::InjectedScreens;

namespace {

// Bottom-left y of a rectangle inside a frame `height` high, as top-left y.
double flipped(double y, double h, double height)
{
    return height - y - h;
}

} // namespace

TEST(ScreenCaptureGeometry, SelectionToGlobalPixels)
{
    // Retina-like primary of 1440 x 900 points at scale 2.
    const ScreenInfo retina = ScreenGeometry::describe({0, 0, 1440, 900}, 2.0, true, "retina");
    // A 900-point primary with a 1920 x 1080 monitor to its right whose bottom-left y is -180,
    // that is top-left y 900 - (-180) - 1080 = 0.
    const ScreenInfo small = ScreenGeometry::describe({0, 0, 1440, 900}, 1.0, true, "small");
    const ScreenInfo right = ScreenGeometry::describe({1440, static_cast<int>(flipped(-180, 1080, 900)), 1920, 1080}, 1.0, false, "right");
    // A primary that is not at the root's origin, with a monitor to its left.
    const ScreenInfo offsetPrimary = ScreenGeometry::describe({1280, 0, 1920, 1080}, 1.0, true, "offset");
    const ScreenInfo left = ScreenGeometry::describe({0, 0, 1280, 1024}, 1.0, false, "left");
    // Fractional ratio, alone and as an offset primary.
    const ScreenInfo hidpi = ScreenGeometry::describe({0, 0, 1536, 864}, 1.25, true, "hidpi");
    const ScreenInfo hidpiOffset = ScreenGeometry::describe({1280, 0, 1536, 864}, 1.25, true, "hidpi-offset");

    const struct {
        QList<ScreenInfo> screens;
        ScreenInfo screen;
        QRectF selection; // window coordinates, top-left
        QRect expected;
    } cases[] = {
        {{retina}, retina, {100, flipped(200, 150, 900), 300, 150}, {200, 1100, 600, 300}},
        {{small, right}, right, {10, flipped(20, 50, 1080), 100, 50}, {1450, 1010, 100, 50}},
        {{offsetPrimary, left}, offsetPrimary, {10, 10, 100, 100}, {10, 10, 100, 100}},
        {{offsetPrimary, left}, left, {10, 10, 100, 100}, {-1270, 10, 100, 100}},
        {{hidpi}, hidpi, {100, 200, 240, 160}, {125, 250, 300, 200}},
        {{hidpi}, hidpi, {0.5, 0.5, 8, 8}, {0, 0, 11, 11}},
        {{hidpiOffset, left}, hidpiOffset, {8, 8, 80, 80}, {10, 10, 100, 100}},
        {{hidpiOffset, left}, left, {1270, 1014, 10, 10}, {-10, 1014, 10, 10}},
    };
    for (const auto& c : cases) {
        InjectedScreens injected(c.screens);
        EXPECT_EQ(ScreenCaptureWindow::selectionToGlobalPixels(c.selection, c.screen.geometry, c.screen), c.expected)
            << c.screen.name.toStdString() << " " << c.selection.x();
    }
}

TEST(ScreenCaptureGeometry, FullSelectionOnAFractionalScreenCoversItsPixelsExactly)
{
    // 2560 x 1440 pixels at 1.5 are 1707 x 960 points; the whole overlay is the whole monitor.
    const ScreenInfo wide = ScreenGeometry::describe({0, 0, 1707, 960}, 1.5, true, "wide", {0, 0, 2560, 1440});
    const ScreenInfo laptop = ScreenGeometry::describe({2560, 0, 911, 512}, 1.5, false, "laptop", {2560, 0, 1366, 768});
    InjectedScreens injected({wide, laptop});
    EXPECT_EQ(ScreenCaptureWindow::selectionToGlobalPixels({0, 0, 1707, 960}, wide.geometry, wide), QRect(0, 0, 2560, 1440));
    EXPECT_EQ(ScreenCaptureWindow::screenToGlobalPixels(wide), QRect(0, 0, 2560, 1440));
    EXPECT_EQ(ScreenCaptureWindow::selectionToGlobalPixels({0, 0, 911, 512}, laptop.geometry, laptop),
              QRect(2560, 0, 1366, 768));
    EXPECT_EQ(ScreenCaptureWindow::screenToGlobalPixels(laptop), QRect(2560, 0, 1366, 768));
}

TEST(ScreenCaptureGeometry, ScreenGrabArgumentsCountFromTheScreensOwnOrigin)
{
    using Request = ScreenCaptureWindow::ScreenGrabRequest;
    const QRect primaryAt1280(1280, 0, 1920, 1080);
    const QRect leftMonitor(0, 100, 1280, 1024);
    const QRect root(0, 0, 3200, 1124);
    const struct {
        const char* what;
        QRect rootRect, screen;
        double ratio;
        QRect rootWindow;
        std::optional<Request> expected;
    } cases[] = {
        {"primary not at the root origin", {1300, 10, 100, 50}, primaryAt1280, 1.0, root,
         Request{{20, 10, 100, 50}, {100, 50}, {0, 0, 100, 50}, {0, 0}}},
        {"monitor left of the primary, rect over its corner", {1200, 90, 200, 100}, leftMonitor, 1.0, root,
         Request{{1200, 0, 80, 90}, {80, 90}, {0, 0, 80, 90}, {0, 10}}},
        {"ratio 1.25 on the offset primary", {1405, 12, 125, 126}, primaryAt1280, 1.25, root,
         Request{{100, 9, 100, 102}, {125, 128}, {0, 1, 125, 126}, {0, 0}}},
        {"ratio 1.25 past the screen's bottom-right", {3100, 1000, 200, 200}, primaryAt1280, 1.25, root,
         Request{{1456, 800, 80, 64}, {100, 80}, {0, 0, 100, 80}, {0, 0}}},
        {"ratio 1.5 between points", {1, 1, 3, 3}, {0, 0, 2560, 1440}, 1.5, {0, 0, 2560, 1440},
         Request{{0, 0, 3, 3}, {5, 5}, {1, 1, 3, 3}, {0, 0}}},
        {"estimated screen a pixel past the root", {2500, 0, 100, 10}, {0, 0, 2561, 1440}, 1.5, {0, 0, 2560, 1440},
         Request{{1666, 0, 41, 7}, {62, 11}, {1, 0, 60, 10}, {0, 0}}},
        {"wholly on another screen", {10, 200, 50, 50}, primaryAt1280, 1.0, root, std::nullopt},
        {"wholly outside the root", {-100, 200, 50, 50}, {-200, 0, 400, 400}, 1.0, {0, 0, 400, 400}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto request = ScreenCaptureWindow::screenGrabRequest(c.rootRect, c.screen, c.ratio, c.rootWindow);
        ASSERT_EQ(request.has_value(), c.expected.has_value()) << c.what;
        if (!request)
            continue;
        EXPECT_EQ(request->points, c.expected->points) << c.what;
        EXPECT_EQ(request->grabbedSize, c.expected->grabbedSize) << c.what;
        EXPECT_EQ(request->source, c.expected->source) << c.what;
        EXPECT_EQ(request->target, c.expected->target) << c.what;
    }
}

TEST(ScreenCaptureGeometry, ScreenGrabReadsEveryWantedPixelAtAnyRatio)
{
    // What Qt reads for the request (its own rounding) must hold the wanted pixels where the
    // request says they are.
    const QRect screen(-1280, 100, 1280, 1024);
    for (double ratio : {1.0, 1.1, 1.25, 1.5, 1.75, 2.0, 2.5}) {
        for (int x = -1290; x < -1250; x += 3) {
            for (int size : {1, 2, 7, 64}) {
                const QRect wanted(x, 100 + (x & 7), size, size + 1);
                const auto request = ScreenCaptureWindow::screenGrabRequest(wanted, screen, ratio, {});
                const QRect visible = wanted.intersected(screen);
                ASSERT_EQ(request.has_value(), !visible.isEmpty());
                if (!request)
                    continue;
                const QPoint readFrom(qRound(request->points.x() * ratio), qRound(request->points.y() * ratio));
                const QSize read(qRound(request->points.width() * ratio), qRound(request->points.height() * ratio));
                EXPECT_EQ(read, request->grabbedSize);
                EXPECT_TRUE(QRect(QPoint(0, 0), read).contains(request->source)) << ratio << " " << x;
                EXPECT_EQ(screen.topLeft() + readFrom + request->source.topLeft(), visible.topLeft()) << ratio << " " << x;
                EXPECT_EQ(request->source.size(), visible.size());
                EXPECT_EQ(wanted.topLeft() + request->target, visible.topLeft());
            }
        }
    }
}

TEST(ScreenCaptureGeometry, DisplayCropAndWholeScreenRectangles)
{
    const ScreenInfo retina = ScreenGeometry::describe({0, 0, 1440, 900}, 2.0, true, "retina");
    const ScreenInfo small = ScreenGeometry::describe({0, 0, 1440, 900}, 1.0, true, "small");
    const ScreenInfo right = ScreenGeometry::describe({1440, 0, 1920, 1080}, 1.0, false, "right");
    const ScreenInfo offsetPrimary = ScreenGeometry::describe({1280, 0, 1920, 1080}, 1.0, true, "offset");
    const ScreenInfo left = ScreenGeometry::describe({0, 100, 1280, 1024}, 1.0, false, "left");

    {
        InjectedScreens injected({retina});
        EXPECT_EQ(ScreenCaptureWindow::displayCropRect({200, 1100, 600, 300}, retina), QRect(200, 1100, 600, 300));
        EXPECT_EQ(ScreenCaptureWindow::screenToGlobalPixels(retina), QRect(0, 0, 2880, 1800));
    }
    {
        InjectedScreens injected({small, right});
        EXPECT_EQ(ScreenCaptureWindow::displayCropRect({1450, 1010, 100, 50}, right), QRect(10, 1010, 100, 50));
        EXPECT_EQ(ScreenCaptureWindow::screenToGlobalPixels(right), QRect(1440, 0, 1920, 1080));
    }
    {
        // A main screen that is not the primary: the full-screen capture covers exactly it.
        InjectedScreens injected({offsetPrimary, left});
        EXPECT_EQ(ScreenCaptureWindow::screenToGlobalPixels(left), QRect(-1280, 100, 1280, 1024));
        EXPECT_EQ(ScreenCaptureWindow::displayCropRect({-1270, 110, 20, 20}, left), QRect(10, 10, 20, 20));
        EXPECT_EQ(ScreenCaptureWindow::screenToGlobalPixels(offsetPrimary), QRect(0, 0, 1920, 1080));
    }
}

TEST(ScreenCaptureGeometry, ScreenChoice)
{
    const ScreenInfo primary = ScreenGeometry::describe({1280, 0, 1920, 1080}, 1.0, true, "primary");
    const ScreenInfo left = ScreenGeometry::describe({0, 0, 1280, 1024}, 1.0, false, "left");
    const ScreenInfo top = ScreenGeometry::describe({1280, -900, 1440, 900}, 1.0, false, "top");
    const QList<ScreenInfo> screens = {primary, left, top};

    // The overlay covers the screen under the pointer, else the first listed, else the main one.
    EXPECT_EQ(ScreenCaptureWindow::chooseScreen(screens, {100, 100}, primary)->name, "left");
    EXPECT_EQ(ScreenCaptureWindow::chooseScreen(screens, {1300, -1}, primary)->name, "top");
    EXPECT_EQ(ScreenCaptureWindow::chooseScreen(screens, {1300, 0}, left)->name, "primary");
    EXPECT_EQ(ScreenCaptureWindow::chooseScreen(screens, {100, 1050}, left)->name, "primary"); // below "left"
    EXPECT_EQ(ScreenCaptureWindow::chooseScreen({}, {0, 0}, left)->name, "left");
    EXPECT_FALSE(ScreenCaptureWindow::chooseScreen({}, {0, 0}, std::nullopt));

    // The main screen holds the active window, else it is the primary wherever it is listed.
    EXPECT_EQ(ScreenCaptureWindow::chooseMainScreen(screens, QPoint(640, 500))->name, "left");
    EXPECT_EQ(ScreenCaptureWindow::chooseMainScreen(screens, QPoint(-50, -50))->name, "primary");
    EXPECT_EQ(ScreenCaptureWindow::chooseMainScreen({left, primary}, std::nullopt)->name, "primary");
    EXPECT_FALSE(ScreenCaptureWindow::chooseMainScreen({}, std::nullopt));
}

TEST(ScreenCaptureGeometry, ChainTriesTheMethodsInOrderUntilOneGivesAnImage)
{
    const ScreenInfo primary = ScreenGeometry::describe({1280, 0, 1536, 864}, 1.25, true, "primary");
    const ScreenInfo left = ScreenGeometry::describe({0, 0, 1280, 1024}, 1.0, false, "left");
    InjectedScreens injected({primary, left});
    const QImage picture(QSize(40, 20), QImage::Format_RGB32);

    const struct {
        int succeeding; // 1..4, or 0 for none
        const char* lastLine;
    } cases[] = {
        {1, "ScreenCaptureWindow: Successfully captured display image\n"},
        {2, "ScreenCaptureWindow: Successfully captured with fallback display method\n"},
        {3, "ScreenCaptureWindow: Successfully captured excluding our app\n"},
        {4, "ScreenCaptureWindow: SUCCESS - created image of size (32.0, 16.0)\n"},
        {0, "ScreenCaptureWindow: Failed to capture with all windows\nScreenCaptureWindow: All capture methods failed\n"},
    };
    for (const auto& c : cases) {
        QStringList calls;
        QRect rootRectSeen;
        qint32 pidSeen = 0;
        auto answer = [&](int method) { return c.succeeding == method ? std::optional<QImage>(picture) : std::nullopt; };
        ScreenCaptureWindow::CaptureMethods methods;
        methods.direct = [&](const QRect&, const std::optional<ScreenInfo>& s) {
            calls << "direct:" + s->name;
            return answer(1);
        };
        methods.fallback = [&](const QRect&, const std::optional<ScreenInfo>& s) {
            calls << "fallback:" + s->name;
            return answer(2);
        };
        methods.excludingOurApp = [&](const QRect& rootRect, qint32 pid) {
            calls << "excluding";
            rootRectSeen = rootRect;
            pidSeen = pid;
            return answer(3);
        };
        methods.allWindows = [&](const QRect&, const ScreenInfo& s) {
            calls << "all:" + s.name;
            return answer(4);
        };
        InjectedMethods replaced(methods);

        testing::internal::CaptureStdout();
        // No screen given: the main screen (the primary, as no window is active).
        const auto image = ScreenCaptureWindow::captureScreenRectStatic({10, 20, 40, 20}, std::nullopt);
        const std::string out = testing::internal::GetCapturedStdout();

        const QStringList all = {"direct:primary", "fallback:primary", "excluding", "all:primary"};
        EXPECT_EQ(calls, all.mid(0, c.succeeding ? c.succeeding : 4)) << c.succeeding;
        EXPECT_EQ(image.has_value(), c.succeeding != 0);
        if (c.succeeding >= 3) {
            // Window methods get the screen's ratio put on their image.
            EXPECT_EQ(image->devicePixelRatio(), 1.25);
        }
        if (c.succeeding == 0 || c.succeeding >= 3) {
            // Method 3 works in root pixels: the global rectangle moved by the primary's origin.
            EXPECT_EQ(rootRectSeen, QRect(1290, 20, 40, 20));
            EXPECT_EQ(pidSeen, static_cast<qint32>(QCoreApplication::applicationPid()));
        }
        EXPECT_EQ(out.rfind(c.lastLine), out.size() - std::strlen(c.lastLine)) << out;
        EXPECT_EQ(out.rfind("ScreenCaptureWindow: Capturing rect (10.0, 20.0, 40.0, 20.0)\n", 0), 0u) << out;
    }
}

TEST(ScreenCaptureGeometry, RealMethodsFailHonestlyWithoutAnXDisplay)
{
    // The offscreen platform has no X display: every method reports failure and the chain says so.
    const ScreenInfo screen = ScreenGeometry::describe({0, 0, 800, 600}, 1.0, true, "offscreen");
    InjectedScreens injected({screen});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ScreenCaptureWindow::captureScreenRectStatic({0, 0, 10, 10}, screen));
    const std::string out = testing::internal::GetCapturedStdout();
    for (const char* line : {"ScreenCaptureWindow: Failed to capture full display\n",
                             "ScreenCaptureWindow: Failed to capture display\nScreenCaptureWindow: Fallback failed to create image\n",
                             "ScreenCaptureWindow: Could not get window list for exclusion\n",
                             "ScreenCaptureWindow: All capture methods failed\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line << out;
}
