// The settings-window host on the offscreen platform: one window, its look, the policy switches.
#include "shell/SettingsWindowController.h"

#include "app/AppState.h"
#include "platform/Application.h"
#include "settings/SettingsView.h"
#include "settings/SettingsViewModel.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QPointer>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

int settingsWindows()
{
    int n = 0;
    for (const QWidget* w : QApplication::topLevelWidgets())
        n += w->isVisible() && w->windowTitle() == QStringLiteral("Настройки");
    return n;
}

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class SettingsHost : public ::testing::Test {
protected:
    void SetUp() override { application.setActivationPolicy(platform::ActivationPolicy::accessory); }
    void TearDown() override { application.setActivationPolicy(platform::ActivationPolicy::accessory); }
    platform::Application& application = platform::Application::shared();
    AppState appState;
};

} // namespace

TEST_F(SettingsHost, OneFixedDarkWindowWhileOpen)
{
    SettingsWindowController host(&appState);
    EXPECT_EQ(host.window(), nullptr); // nothing until shown
    host.showSettings();
    QWidget* window = host.window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Настройки");
    EXPECT_EQ(window->size(), QSize(600, 500));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_LT(window->palette().color(QPalette::Window).lightness(), 60);
    EXPECT_TRUE(window->findChild<QWidget*>("SettingsView"));
    EXPECT_EQ(application.activationPolicy(), platform::ActivationPolicy::regular);

    // Chosen again: the same window comes forward.
    application.setActivationPolicy(platform::ActivationPolicy::accessory);
    host.showSettings();
    EXPECT_EQ(host.window(), window);
    EXPECT_EQ(settingsWindows(), 1);
    EXPECT_EQ(application.activationPolicy(), platform::ActivationPolicy::regular);
}

TEST_F(SettingsHost, ClosingDiscardsTheWindowAndReopeningBuildsAFreshOne)
{
    SettingsWindowController host(&appState);
    host.showSettings();
    QPointer<QWidget> first = host.window();
    QPointer<QWidget> firstView = first->findChild<QWidget*>("SettingsView");
    // Another window of ours stays open: the policy is not reference-counted.
    QWidget preview;
    preview.show();
    EXPECT_TRUE(host.windowShouldClose());
    first->close();
    EXPECT_EQ(host.window(), nullptr);
    EXPECT_EQ(application.activationPolicy(), platform::ActivationPolicy::accessory);
    flushDeletes();
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(firstView.isNull());

    host.showSettings();
    ASSERT_TRUE(host.window());
    EXPECT_TRUE(host.window()->findChild<QWidget*>("SettingsView"));
    EXPECT_EQ(settingsWindows(), 1);
    EXPECT_EQ(application.activationPolicy(), platform::ActivationPolicy::regular);
}

TEST_F(SettingsHost, TheWindowGoesWithItsController)
{
    QPointer<QWidget> window;
    {
        SettingsWindowController host(&appState);
        host.showSettings();
        window = host.window();
    }
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(settingsWindows(), 0);
}

TEST_F(SettingsHost, AWindowHiddenAndShownAgainKeepsItsEditsAndANewOneLoads)
{
    SettingsWindowController host(&appState);
    host.showSettings();
    auto model = [&host] { return host.window()->findChild<SettingsView*>()->model(); };
    model()->edit([](ServerSettings& s) {
        s.ftpHost = "ftp.example.org";
        s.screenshotHotkey = "ctrl+alt+j";
    });
    // As a capture does: hidden while the screen is grabbed, then shown again.
    host.window()->hide();
    host.window()->show();
    EXPECT_EQ(model()->settings().ftpHost, "ftp.example.org");
    EXPECT_EQ(model()->settings().screenshotHotkey, "ctrl+alt+j");
    EXPECT_EQ(appState.serverSettings().ftpHost, ""); // still unsaved
    // Chosen from the menu while it is open: the same window, the same edits.
    host.showSettings();
    EXPECT_EQ(model()->settings().ftpHost, "ftp.example.org");

    // Opened anew after a close: loaded from the settings as they stand.
    host.window()->close();
    flushDeletes();
    ServerSettings stored = appState.serverSettings();
    stored.ftpHost = "sftp.example.net";
    appState.setServerSettings(stored);
    host.showSettings();
    EXPECT_EQ(model()->settings().ftpHost, "sftp.example.net");
}
