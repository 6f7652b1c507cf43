// The built program under a real window manager (openbox) on the test X server: with the settings
// window open, an area capture's preview ends up the topmost and the active window, and the
// settings window comes back beneath it.
#include "support/AreaCaptureByHotKey.h"
#include "support/ProcessConsole.h"
#include "support/ProcessSession.h"
#include "support/OpenboxSession.h"


#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(PreviewStackingX11, WithTheSettingsWindowOpenThePreviewIsTopmostAndActive)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::OpenboxSession wm;
    if (!wm.isRunning())
        GTEST_SKIP() << "needs openbox";
    test::XDisplayFacts x;
    ASSERT_TRUE(x.isValid());

    test::Session session;
    ASSERT_TRUE(test::writeFile(session.home() + "/config/Kestrova/Kestrova.conf", "[General]\nscreenshotHotkey=ctrl+alt+k\n"));

    // No tray host: the program opens its settings window, and it has the focus.
    auto process = session.start();
    test::ProcessConsole console(*process);
    ASSERT_TRUE(console.waitForStart("Successfully registered area hotkey: ctrl+alt+k")) << console.text().toStdString();
    std::optional<xcb_window_t> settingsWindow;
    ASSERT_TRUE(test::waitUntil([&] { return (settingsWindow = test::visibleWindowNamed("Настройки")).has_value(); }, 10s));
    ASSERT_TRUE(test::waitUntil([&] { return x.activeWindow() == settingsWindow; }, 5s));

    ASSERT_TRUE(test::captureAreaByHotKey(console, "ctrl+alt+k", QRect(300, 200, 400, 300)));

    std::optional<xcb_window_t> preview;
    ASSERT_TRUE(test::waitUntil([&] { return (preview = test::visibleWindowNamed("400×300")).has_value(); }, 10s)) << console.text().toStdString();
    // The settings window is back, and the restore 0.05 s after the capture is long done.
    ASSERT_TRUE(test::waitUntil([&] { return test::visibleWindowNamed("Настройки").has_value(); }, 5s));
    test::spin(1500ms);

    const QList<xcb_window_t> stack = x.shownRootChildren();
    ASSERT_FALSE(stack.isEmpty());
    EXPECT_EQ(stack.last(), x.topLevelOf(*preview)) << "the preview is the last child of the root";
    EXPECT_LT(stack.indexOf(x.topLevelOf(*test::visibleWindowNamed("Настройки"))), stack.indexOf(x.topLevelOf(*preview)));
    EXPECT_EQ(x.activeWindow(), preview) << "the preview is _NET_ACTIVE_WINDOW";

    test::stop(*process);
    EXPECT_EQ(process->exitCode(), 0);
}
