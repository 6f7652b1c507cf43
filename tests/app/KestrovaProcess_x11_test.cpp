// The built program on the test X server: a hot key from the settings file reaches the delegate.
#include "app/ProcessConsole.h"
#include "app/ProcessSession.h"
#include "support/TrayHost.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(KestrovaProcessX11, HotKeysFromTheSettingsFileStartTheirFlows)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::TrayHost tray;
    test::Session session;
    QDir().mkpath(session.home() + "/config/Kestrova");
    QFile settings(session.home() + "/config/Kestrova/Kestrova.conf");
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[General]\nscreenshotHotkey=ctrl+alt+k\nfullScreenHotkey=f13\nscreenRecordingHotkey=ctrl+alt+r\n");
    settings.close();

    auto process = session.start();
    test::ProcessConsole console(*process);
    ASSERT_TRUE(console.waitFor("Successfully registered area hotkey: ctrl+alt+k")) << console.text().toStdString();
    EXPECT_TRUE(console.waitFor("Invalid hotkey string for fullScreen: f13"));
    EXPECT_TRUE(console.waitFor("Successfully registered screenRecording hotkey: ctrl+alt+r"));
    ASSERT_TRUE(session.waitForLog("Application finished launching"));
    // On X11 the root window can be read: no permission window, straight to the tray.
    EXPECT_EQ(session.count("checkPermissionsOnLaunch: Screen recording permission already granted"), 1);
    EXPECT_TRUE(session.logText().contains(QRegularExpression(R"(Lifecycle: didFinishLaunching \| policy=accessory \|)")));

    ASSERT_TRUE(test::xdotoolBlocking({"key", "ctrl+alt+r"}));
    EXPECT_TRUE(session.waitForLog("startScreenRecording: Starting screen recording - checking permissions first"))
        << session.logText().toStdString();
    // The recording's selection window holds the keyboard: Esc gives it back.
    EXPECT_TRUE(session.waitForLog("ScreenRecordingSelectionWindow: Window made key and front"));
    test::spin(300ms);
    ASSERT_TRUE(test::xdotoolBlocking({"key", "Escape"}));
    EXPECT_TRUE(session.waitForLog("Screen recording cancelled by user or invalid selection")) << session.logText().toStdString();
    // Last: the area capture may take the keyboard for its overlay.
    ASSERT_TRUE(test::xdotoolBlocking({"key", "ctrl+alt+k"}));
    EXPECT_TRUE(console.waitFor("AppDelegate: Closing any existing preview window before capturing new screenshot"))
        << console.text().toStdString();

    test::stop(*process);
    EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process->exitCode(), 0);
    EXPECT_TRUE(console.waitFor("Kestrova app terminating", 2s));
    EXPECT_TRUE(session.logLines().last().contains("Lifecycle: applicationWillTerminate"));
}
