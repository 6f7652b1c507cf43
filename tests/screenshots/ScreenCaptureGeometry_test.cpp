// Coordinates of the capture on injected screen lists, and the order of the capture chain with
// its methods replaced. Some cases start from bottom-left frames (y up) and are turned into
// top-left ones with flipped(): y becomes height - y - h.
#include "platform/ScreenGeometry.h"
#include "screenshots/ScreenCaptureWindow.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstring>

using platform::ScreenGeometry;
using platform::ScreenInfo;

namespace {

struct InjectedScreens {
    explicit InjectedScreens(const QList<ScreenInfo>& list) { ScreenGeometry::setScreensForTesting(list); }
    ~InjectedScreens() { ScreenGeometry::setScreensForTesting({}); }
};

struct InjectedMethods {
    explicit InjectedMethods(const ScreenCaptureWindow::CaptureMethods& methods)
    {
        ScreenCaptureWindow::setCaptureMethodsForTesting(methods);
    }
    ~InjectedMethods() { ScreenCaptureWindow::setCaptureMethodsForTesting(std::nullopt); }
};

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
