// The delegate in this process on the offscreen platform: launch, routing, menu and shutdown.
#include "shell/AppDelegate.h"

#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "shell/DelegateFixture.h"
#include "app/HotKeyManager.h"
#include "shell/PermissionRequestWindowController.h"
#include "app/PermissionsManager.h"
#include "shell/SettingsWindowController.h"
#include "shell/StatusBarController.h"
#include "platform/Application.h"
#include "platform/InMemoryKeychain.h"
#include "platform/NotificationCenter.h"
#include "platform/ScreenAccess.h"
#include "support/DebugLogText.h"
#include "support/StdoutTap.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QSystemTrayIcon>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QStringList observedNames{"captureScreenHotKey", "captureFullScreenHotKey", "startScreenRecordingHotKey",
                                "hotkeySettingsChanged"};

class AppDelegateTest : public test::DelegateFixture {
protected:
    void SetUp() override
    {
        DebugLogger::shared().flush();
        m_logStart = logText().size();
        DelegateFixture::SetUp();
    }
    void TearDown() override
    {
        DelegateFixture::TearDown();
        HotKeyManager::shared().updateHotkeys("", "", "");
    }
    void launch(bool accessGranted)
    {
        screenAccess = accessGranted;
        delegate = std::make_unique<AppDelegate>();
        delegate->applicationDidFinishLaunching();
    }
    static QString logText() { return test::debugLogText(); }
    // The messages logged since the test began, without their time and place.
    QStringList messages() const { return test::debugLogMessages(m_logStart); }
    static int observers()
    {
        int n = 0;
        for (const QString& name : observedNames)
            n += platform::NotificationCenter::defaultCenter().observerCount(name);
        return n;
    }
    static QString addressPattern() { return QStringLiteral("0x[0-9a-f]{16}"); }

    qsizetype m_logStart = 0;
};

} // namespace

TEST_F(AppDelegateTest, LaunchAndShutdownInOrder)
{
    launch(true);
    const QString anchor = QStringLiteral("anchor@") + addressPattern() + QStringLiteral(" visible=true");
    const QStringList expected{
        "applicationDidFinishLaunching: Application starting up",
        "logLifecycleState: Lifecycle: anchor window created \\| policy=regular \\| windows=\\[.*<untitled>@" + addressPattern()
            + " \\[key=false visible=true\\].*\\] \\| " + anchor,
        "checkPermissionsOnLaunch: Checking screen recording permissions on launch",
        "checkPermissionsOnLaunch: Screen recording permission already granted",
        "applicationDidFinishLaunching: Application finished launching",
        "logLifecycleState: Lifecycle: didFinishLaunching \\| policy=accessory \\| windows=\\[.*\\] \\| " + anchor,
        "applicationDidFinishLaunching: KESTROVA_DEBUG_SETUP=<nil> KESTROVA_DEBUG_AUTO=<nil>",
    };
    QStringList got = messages();
    ASSERT_EQ(got.size(), expected.size()) << got.join('\n').toStdString();
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(QRegularExpression("^" + expected[i] + "$").match(got[i]).hasMatch()) << got[i].toStdString();

    auto& application = platform::Application::shared();
    EXPECT_EQ(application.activationPolicy(), platform::ActivationPolicy::accessory);
    EXPECT_TRUE(delegate->permissionsManager().screenRecordingPermissionGranted());
    EXPECT_FALSE(application.suddenTerminationEnabled());
    EXPECT_FALSE(application.automaticTerminationEnabled());
    EXPECT_EQ(observers(), 4);

    QWidget* anchorWindow = delegate->anchorWindow();
    ASSERT_TRUE(anchorWindow);
    EXPECT_EQ(anchorWindow->size(), QSize(1, 1));
    EXPECT_TRUE(anchorWindow->isVisible());
    EXPECT_TRUE(anchorWindow->windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(anchorWindow->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_EQ(anchorWindow->geometry().bottomLeft(), QGuiApplication::primaryScreen()->geometry().bottomLeft());

    const qsizetype before = got.size();
    test::StdoutTap console;
    delegate->applicationWillTerminate();
    delegate->applicationWillTerminate(); // once only
    // The preview closes (its controller says so) and goes with the delegate's other windows.
    EXPECT_TRUE(console.text().startsWith("Kestrova app terminating\n"
                                          "ScreenshotPreviewWindowController: closeWindow() called, isShowingPreview=false, window=false\n"))
        << console.text().toStdString();
    EXPECT_EQ(console.text().count("closeWindow() called"), 1);
    EXPECT_EQ(delegate->previewWindowController(), nullptr);
    got = messages().mid(before);
    ASSERT_EQ(got.size(), 2) << got.join('\n').toStdString();
    EXPECT_EQ(got[0], "applicationWillTerminate: Application will terminate");
    EXPECT_TRUE(QRegularExpression(R"(^logLifecycleState: Lifecycle: applicationWillTerminate \| policy=accessory \| windows=\[.*\] \| anchor=nil$)")
                    .match(got[1])
                    .hasMatch())
        << got[1].toStdString();
    EXPECT_FALSE(got[1].contains(QStringLiteral("%1").arg(reinterpret_cast<quintptr>(anchorWindow), 16, 16, QLatin1Char('0'))));
    EXPECT_EQ(observers(), 0);
    EXPECT_TRUE(application.suddenTerminationEnabled());
    EXPECT_TRUE(application.automaticTerminationEnabled());
    EXPECT_EQ(delegate->anchorWindow(), nullptr);

    // Notifications after shutdown reach nothing.
    platform::NotificationCenter::defaultCenter().post("startScreenRecordingHotKey");
    EXPECT_FALSE(messages().join('\n').contains("Starting screen recording"));

    // Without a preview controller a capture request is refused.
    test::StdoutTap afterwards;
    delegate->captureScreen();
    delegate->captureFullScreen();
    EXPECT_EQ(afterwards.text(), "AppDelegate: No preview window controller available\n"
                                 "AppDelegate: No preview window controller available\n");
}

TEST_F(AppDelegateTest, MissingPermissionKeepsTheRegularPolicyUntilTheWindowFinishes)
{
    launch(false);
    const QStringList got = messages();
    // Followed at once by the reason.
    const qsizetype notGranted =
        got.indexOf("checkPermissionsOnLaunch: Screen recording permission not granted, showing permission request window");
    ASSERT_GE(notGranted, 0) << got.join('\n').toStdString();
    ASSERT_LT(notGranted + 1, got.size());
    EXPECT_EQ(got[notGranted + 1], "checkPermissionsOnLaunch: Screen capture is not available: screen access denied by test probe");
    const auto finished = std::find_if(got.begin(), got.end(), [](const QString& m) { return m.contains("Lifecycle: didFinishLaunching"); });
    ASSERT_NE(finished, got.end());
    EXPECT_TRUE(finished->contains("policy=regular")) << finished->toStdString();
    EXPECT_FALSE(delegate->permissionsManager().screenRecordingPermissionGranted());
    EXPECT_EQ(platform::Application::shared().activationPolicy(), platform::ActivationPolicy::regular);
    PermissionRequestWindowController* window = delegate->permissionRequestWindow();
    ASSERT_TRUE(window);
    QPointer<PermissionRequestWindowController> released(window);
    ASSERT_TRUE(window->window());
    EXPECT_TRUE(window->window()->isVisible());

    // Access granted in the meantime: the next poll finds it.
    test::spin(300ms);
    screenAccess = true;
    const QString closed = "checkPermissionsOnLaunch: Permission request window closed";
    ASSERT_TRUE(test::waitUntil([&] { return messages().contains(closed); }, 2s));
    EXPECT_TRUE(delegate->permissionsManager().screenRecordingPermissionGranted());
    EXPECT_EQ(platform::Application::shared().activationPolicy(), platform::ActivationPolicy::accessory);
    EXPECT_EQ(delegate->permissionRequestWindow(), nullptr);
    EXPECT_TRUE(test::waitUntil([&] { return released.isNull(); }, 1s));
    test::spin(1200ms);
    EXPECT_EQ(messages().count(closed), 1);
}

TEST_F(AppDelegateTest, UnderWaylandTheLaunchSaysWhyCaptureIsUnavailable)
{
    // The real check, not the probe: a Wayland session is recognised from its environment.
    platform::ScreenAccess::setProbeForTesting({});
    const QByteArray savedDisplay = qgetenv("WAYLAND_DISPLAY");
    const bool hadDisplay = qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    launch(false);
    if (hadDisplay)
        qputenv("WAYLAND_DISPLAY", savedDisplay);
    else
        qunsetenv("WAYLAND_DISPLAY");

    const QStringList got = messages();
    const qsizetype notGranted =
        got.indexOf("checkPermissionsOnLaunch: Screen recording permission not granted, showing permission request window");
    ASSERT_GE(notGranted, 0) << got.join('\n').toStdString();
    ASSERT_LT(notGranted + 1, got.size());
    EXPECT_EQ(got[notGranted + 1], "checkPermissionsOnLaunch: Screen capture is not available: this is a Wayland session, "
                                   "where X clients cannot read the screen");
    EXPECT_TRUE(delegate->permissionRequestWindow());
}

TEST_F(AppDelegateTest, AnUnreadableKeychainIsReportedAfterTheStartUpLine)
{
    // No Secret Service: the delegate's state reads the keychain before anything is logged.
    auto keychain = std::make_shared<platform::InMemoryKeychain>();
    keychain->setUnavailable(true);
    platform::KeychainBackend::setCurrent(keychain);
    AppState::resetCredentialsForTesting();
    delegate = std::make_unique<AppDelegate>();
    EXPECT_TRUE(messages().isEmpty()) << messages().join('\n').toStdString();
    delegate->applicationDidFinishLaunching();
    const QStringList got = messages();
    ASSERT_GE(got.size(), 3);
    EXPECT_EQ(got[0], "applicationDidFinishLaunching: Application starting up");
    EXPECT_EQ(got[1], "applicationDidFinishLaunching: ERROR: Keychain could not be read: the keychain is unavailable");
    EXPECT_EQ(got.filter("Keychain could not be read").size(), 1);

    // Reported once: the next launch in this process has nothing to say.
    delegate->applicationWillTerminate();
    delegate.reset();
    const qsizetype before = messages().size();
    launch(true);
    EXPECT_EQ(messages().mid(before).filter("Keychain could not be read").size(), 0);

    platform::KeychainBackend::setCurrent(std::make_shared<platform::InMemoryKeychain>());
    AppState::resetCredentialsForTesting();
}

TEST_F(AppDelegateTest, CaptureNotificationsStartTheirFlows)
{
    launch(true);
    screenAccess = false; // the capture then ends without an image
    test::StdoutTap console;
    auto& center = platform::NotificationCenter::defaultCenter();
    center.post("captureScreenHotKey");
    EXPECT_TRUE(console.waitFor("AppDelegate: Closing any existing preview window before capturing new screenshot"));
    EXPECT_TRUE(console.waitFor("AppDelegate: Failed to capture screenshot")) << console.text().toStdString();
    center.post("captureFullScreenHotKey");
    EXPECT_TRUE(console.waitFor("AppDelegate: Closing any existing preview window before capturing full screen"));
    EXPECT_TRUE(console.waitFor("AppDelegate: Failed to capture full screen")) << console.text().toStdString();
    center.post("startScreenRecordingHotKey");
    EXPECT_TRUE(messages().contains("startScreenRecording: Starting screen recording - checking permissions first"));
}

TEST_F(AppDelegateTest, HotkeySettingsChangedRegistersTheStringsOfThatMoment)
{
    launch(true);
    const QMap<QString, QString> none{{"area", ""}, {"fullScreen", ""}, {"screenRecording", ""}};
    EXPECT_EQ(HotKeyManager::shared().currentHotkeys(), none); // a fresh installation registers nothing

    ServerSettings settings = delegate->appState().serverSettings();
    settings.screenshotHotkey = "cmd+shift+4";
    settings.screenRecordingHotkey = "ctrl+alt+r";
    delegate->appState().setServerSettings(settings);
    EXPECT_EQ(HotKeyManager::shared().currentHotkeys(), none); // nothing happens before the notification
    platform::NotificationCenter::defaultCenter().post("hotkeySettingsChanged");
    const QMap<QString, QString> changed{{"area", "cmd+shift+4"}, {"fullScreen", ""}, {"screenRecording", "ctrl+alt+r"}};
    EXPECT_EQ(HotKeyManager::shared().currentHotkeys(), changed);
}

TEST_F(AppDelegateTest, TheStatusMenuFollowsTheHotKeysAndKeepsTheRecentCaptures)
{
    launch(true);
    StatusBarController* controller = delegate->statusBarController();
    ASSERT_TRUE(controller && controller->statusItem() && controller->menu());
    EXPECT_EQ(controller->historyManager, &delegate->historyManager());
    auto menuItem = [&](const QString& title) -> QAction* {
        for (QAction* action : controller->menu()->actions())
            if (action->text() == title)
                return action;
        return nullptr;
    };
    // Filled at launch: the (empty) history shows its placeholder.
    ASSERT_TRUE(menuItem("Последние скриншоты"));
    const QMenu* recent = menuItem("Последние скриншоты")->menu();
    ASSERT_EQ(recent->actions().size(), 1);
    EXPECT_EQ(recent->actions()[0]->text(), "Здесь появятся ваши последние скриншоты");
    EXPECT_TRUE(menuItem("Запись экрана"));

    ServerSettings settings = delegate->appState().serverSettings();
    settings.screenRecordingHotkey = "ctrl+alt+r";
    delegate->appState().setServerSettings(settings);
    const QMenu* before = controller->menu();
    platform::NotificationCenter::defaultCenter().post("hotkeySettingsChanged");
    EXPECT_NE(controller->menu(), before);
    EXPECT_EQ(controller->statusItem()->contextMenu(), controller->menu());
    EXPECT_TRUE(menuItem("Запись экрана (Ctrl+Alt+R)"));
    ASSERT_EQ(menuItem("Последние скриншоты")->menu()->actions().size(), 1);

    // Reopening the running application pops the menu up.
    EXPECT_FALSE(delegate->applicationShouldHandleReopen(false));
    EXPECT_TRUE(test::waitUntil([&] { return controller->menu()->isVisible(); }, 1s));
    controller->menu()->hide();

    // The status item goes at termination.
    delegate->applicationWillTerminate();
    EXPECT_EQ(delegate->statusBarController(), nullptr);
}

TEST_F(AppDelegateTest, MainMenuAndItsShortcutsWhileRegular)
{
    launch(true);
    QMenu* mainMenu = delegate->mainMenu();
    ASSERT_TRUE(mainMenu);
    ASSERT_EQ(mainMenu->actions().size(), 1);
    QAction* top = mainMenu->actions().first();
    EXPECT_TRUE(top->text().isEmpty());
    ASSERT_TRUE(top->menu());
    QStringList items;
    QAction* settings = nullptr;
    QAction* quit = nullptr;
    for (QAction* action : top->menu()->actions()) {
        items.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        if (action->text() == "Настройки...")
            settings = action;
        if (action->text() == "Quit Kestrova")
            quit = action;
    }
    EXPECT_EQ(items, (QStringList{"О программе Kestrova", "-", "Настройки...", "-", "Quit Kestrova"}));
    ASSERT_TRUE(settings && quit);
    EXPECT_EQ(settings->shortcut(), QKeySequence("Ctrl+,"));
    EXPECT_EQ(quit->shortcut(), QKeySequence("Ctrl+Q"));
    EXPECT_EQ(settings->shortcutContext(), Qt::ApplicationShortcut);
    EXPECT_EQ(quit->shortcutContext(), Qt::ApplicationShortcut);
    EXPECT_TRUE(top->menu()->actions().first()->shortcut().isEmpty());

    // Typed into any window of ours, but only while the policy is regular.
    QWidget window;
    window.show();
    window.activateWindow();
    ASSERT_TRUE(test::waitUntil([&] { return window.isActiveWindow(); }, 2s));
    auto& application = platform::Application::shared();
    auto settingsWindow = [&]() -> QWidget* {
        return delegate->statusBarController()->settingsWindowController()->window();
    };
    ASSERT_EQ(application.activationPolicy(), platform::ActivationPolicy::accessory);
    QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
    test::spin(50ms);
    EXPECT_EQ(settingsWindow(), nullptr);
    EXPECT_FALSE(settings->isEnabled());
    EXPECT_FALSE(quit->isEnabled());

    application.setActivationPolicy(platform::ActivationPolicy::regular);
    EXPECT_TRUE(settings->isEnabled());
    EXPECT_TRUE(quit->isEnabled());
    QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
    ASSERT_TRUE(test::waitUntil([&] { return settingsWindow() != nullptr; }, 2s));
    // The settings host the tray menu opens, not a window of its own.
    EXPECT_EQ(settingsWindow()->windowTitle(), "Настройки");
    EXPECT_TRUE(settingsWindow()->isVisible());
    settings->trigger();
    int hosts = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        hosts += w->isVisible() && w->windowTitle() == "Настройки";
    EXPECT_EQ(hosts, 1);
    settingsWindow()->close();
    EXPECT_EQ(application.activationPolicy(), platform::ActivationPolicy::accessory);
}

TEST_F(AppDelegateTest, LifecycleLineListsEveryWindow)
{
    launch(true);
    QWidget titled;
    titled.setWindowTitle("Проба");
    titled.show();
    QWidget hidden;
    hidden.setWindowTitle("скрытое");
    hidden.show();
    hidden.hide();
    QWidget neverShown; // no window of its own yet
    neverShown.setWindowTitle("never");
    const QString line = delegate->lifecycleState("label");
    const QString a = addressPattern();
    const auto match = QRegularExpression("^Lifecycle: label \\| policy=accessory \\| windows=\\[(.*)\\] \\| anchor@(" + a
                                          + ") visible=true$")
                           .match(line);
    ASSERT_TRUE(match.hasMatch()) << line.toStdString();
    const QString windows = match.captured(1);
    auto address = [](const void* p) { return QStringLiteral("0x%1").arg(reinterpret_cast<quintptr>(p), 16, 16, QLatin1Char('0')); };
    EXPECT_TRUE(windows.contains("<untitled>@" + match.captured(2) + " [key=false visible=true]")) << windows.toStdString();
    EXPECT_TRUE(windows.contains("Проба@" + address(&titled) + " [key=" + (titled.isActiveWindow() ? "true" : "false")
                                 + " visible=true]"))
        << windows.toStdString();
    EXPECT_TRUE(windows.contains("скрытое@" + address(&hidden) + " [key=false visible=false]")) << windows.toStdString();
    EXPECT_FALSE(windows.contains("never"));
    // Made in that order.
    EXPECT_LT(windows.indexOf("<untitled>@"), windows.indexOf("Проба@"));
    EXPECT_LT(windows.indexOf("Проба@"), windows.indexOf("скрытое@"));
    EXPECT_EQ(windows.count(", ") + 1, windows.count("@"));
}

TEST_F(AppDelegateTest, LastWindowClosedKeepsRunning)
{
    launch(true);
    EXPECT_FALSE(delegate->applicationShouldTerminateAfterLastWindowClosed());
    const QStringList got = messages();
    ASSERT_GE(got.size(), 2);
    EXPECT_EQ(got[got.size() - 2],
              "applicationShouldTerminateAfterLastWindowClosed: AppDelegate: applicationShouldTerminateAfterLastWindowClosed "
              "called - returning FALSE");
    EXPECT_TRUE(got.last().startsWith("logLifecycleState: Lifecycle: applicationShouldTerminateAfterLastWindowClosed | "));
    EXPECT_FALSE(delegate->applicationShouldHandleReopen(false));
}
