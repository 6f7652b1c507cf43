// The tray icon on the test X server: with trayer as the tray host the icon appears and a click
// opens the menu; with no tray host at all the settings window opens in its place.
#include "shell/StatusBarController.h"

#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "shell/SettingsWindowController.h"
#include "platform/Application.h"
#include "support/TestSupport.h"
#include "support/TrayHost.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

QString logText()
{
    DebugLogger::shared().flush();
    QFile file(DebugLogger::shared().logFilePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

using Trayer = test::TrayHost;

// trayer's panel, which holds the icons it embeds; 0 while there is none.
QString panelWindow()
{
    const auto found = test::run("/usr/bin/xdotool", {"search", "--name", "^panel$"}, 5s);
    return found.exitCode == 0 ? QString::fromUtf8(found.output).split('\n', Qt::SkipEmptyParts).value(0) : QString();
}

// Our icon window sits in the panel (it carries the application's name).
bool iconEmbedded()
{
    const QString panel = panelWindow();
    if (panel.isEmpty())
        return false;
    const auto tree = test::run("/usr/bin/xwininfo", {"-id", panel, "-tree"}, 5s);
    return tree.exitCode == 0 && QString::fromUtf8(tree.output).contains('"' + QCoreApplication::applicationName() + '"');
}

class TrayX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::haveDisplay() || QGuiApplication::platformName() != "xcb")
            GTEST_SKIP() << "needs the X server";
    }
    void TearDown() override { platform::Application::shared().setActivationPolicy(platform::ActivationPolicy::accessory); }
    AppState appState;
};

} // namespace

TEST_F(TrayX11, WithoutATrayHostTheSettingsWindowOpensOnce)
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "a tray host is already running on this display";
    const QString line = "No system tray available; opening the settings window so that Kestrova stays reachable";
    const int before = logText().count(line);
    QElapsedTimer clock;
    clock.start();
    StatusBarController controller(&appState);
    SettingsWindowController* settings = controller.settingsWindowController();
    ASSERT_TRUE(test::waitUntil([&] { return settings->window() != nullptr; }, 6s));
    // It waited for a tray to turn up first.
    EXPECT_GE(clock.elapsed(), StatusBarController::trayWaitMilliseconds - 100);
    EXPECT_TRUE(settings->window()->isVisible());
    EXPECT_EQ(settings->window()->windowTitle(), "Настройки");
    EXPECT_EQ(platform::Application::shared().activationPolicy(), platform::ActivationPolicy::regular);
    EXPECT_EQ(logText().count(line), before + 1);

    // Once: closed, it stays closed.
    settings->window()->close();
    test::spin(500ms);
    EXPECT_EQ(settings->window(), nullptr);
    EXPECT_EQ(logText().count(line), before + 1);
}

TEST_F(TrayX11, WithTrayerTheIconAppearsAndAClickOpensTheMenu)
{
    Trayer trayer;
    ASSERT_TRUE(trayer.running());
    ASSERT_TRUE(test::waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5s));
    StatusBarController controller(&appState);
    ASSERT_TRUE(test::waitUntil([] { return iconEmbedded(); }, 5s)) << "icon never embedded";
    QMenu* menu = controller.menu();
    ASSERT_TRUE(menu);

    // The panel is only as wide as the one icon it holds; 24 pixels high at the top right.
    const QString panel = panelWindow();
    const QPoint centre(QGuiApplication::primaryScreen()->geometry().right() - 12, 12);
    for (const char* button : {"1", "3"}) {
        SCOPED_TRACE(button);
        ASSERT_FALSE(menu->isVisible());
        ASSERT_TRUE(test::xdotoolBlocking({"mousemove", "--window", panel, "12", "12"}));
        // Qt drops a press on a window the pointer has not been seen entering yet.
        test::spin(300ms);
        ASSERT_TRUE(test::xdotoolBlocking({"click", button}));
        ASSERT_TRUE(test::waitUntil([&] { return menu->isVisible(); }, 3s));
        // Right by the icon, whole on the screen.
        EXPECT_TRUE(QGuiApplication::primaryScreen()->geometry().contains(menu->geometry()));
        EXPECT_LT((menu->geometry().topRight() - centre).manhattanLength(), 400);
        menu->hide();
        ASSERT_TRUE(test::waitUntil([&] { return !menu->isVisible(); }, 2s));
        test::spin(200ms);
    }
    // The tray was there: no settings window in its place.
    test::spin(std::chrono::milliseconds(StatusBarController::trayWaitMilliseconds));
    EXPECT_EQ(controller.settingsWindowController()->window(), nullptr);
}

TEST_F(TrayX11, ATrayHostThatStartsLaterStillGetsTheIcon)
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "a tray host is already running on this display";
    StatusBarController controller(&appState);
    test::spin(500ms);
    Trayer trayer;
    ASSERT_TRUE(trayer.running());
    EXPECT_TRUE(test::waitUntil([] { return iconEmbedded(); }, 5s));
    test::spin(std::chrono::milliseconds(StatusBarController::trayWaitMilliseconds));
    EXPECT_EQ(controller.settingsWindowController()->window(), nullptr);
}
