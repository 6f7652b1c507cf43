// The hot-key recorder in the real settings window on the test X server, with keys pressed through
// XTest: while a field listens, the global grabs are released and the combination reaches the field.
#include "settings/HotkeyRecorderView.h"

#include "SettingsTestSupport.h"
#include "app/HotKeyManager.h"
#include "app/Localization.h"
#include "shell/SettingsWindowController.h"
#include "platform/NotificationCenter.h"
#include "settings/HotkeysSectionView.h"
#include "settings/SettingsView.h"
#include "settings/SettingsViewModel.h"

#include <QApplication>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace settingstest;
using namespace std::chrono_literals;

TEST(HotkeyRecorderOnX, GrabsAreReleasedWhileListeningAndRealPressesAreRecorded)
{
    ASSERT_TRUE(test::haveDisplay());
    ASSERT_TRUE(APIClient::setSharedServiceRootForTesting(deadRoot()));
    L::setLanguageForTesting(AppLanguage::en);
    resetStores();

    HotKeyManager& manager = HotKeyManager::shared();
    manager.updateHotkeys(QStringLiteral("ctrl+alt+k"), QString(), QString());
    ASSERT_EQ(manager.registeredIDs(), QList<quint32>{1});
    QObject context;
    int captures = 0;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        NotificationName::captureScreenHotKey, &context, [&](const platform::Notification&) { ++captures; });

    AppState appState;
    SettingsWindowController host(&appState);
    host.showSettings();
    auto* view = host.window()->findChild<SettingsView*>();
    ASSERT_TRUE(view);
    ASSERT_TRUE(test::waitUntil([&] { return host.window()->isActiveWindow(); }, 5s));
    view->sidebarRow(SettingsSection::hotkeys)->click();
    auto* section = qobject_cast<HotkeysSectionView*>(view->currentSection());
    ASSERT_TRUE(section);
    HotkeyRecorderView* area = section->recorders().at(0);

    // Idle: the combination is a global hot key.
    ASSERT_TRUE(test::xdotoolBlocking({"key", "ctrl+alt+k"}));
    ASSERT_TRUE(test::waitUntil([&] { return captures == 1; }, 5s));

    // Listening: no grab, the same press lands in the field.
    area->findChild<QPushButton*>("hotkeyField")->click();
    ASSERT_TRUE(area->isRecording());
    EXPECT_TRUE(manager.isTemporarilyDisabled());
    EXPECT_TRUE(manager.registeredIDs().isEmpty());
    ASSERT_TRUE(test::waitUntil([&] { return QApplication::focusWidget() == area->keyCatcher(); }, 5s));
    ASSERT_TRUE(test::xdotoolBlocking({"key", "ctrl+alt+k"}));
    ASSERT_TRUE(test::waitUntil([&] { return !area->isRecording(); }, 5s));
    EXPECT_EQ(view->model()->settings().screenshotHotkey, "ctrl+alt+k");
    test::spin(200ms);
    EXPECT_EQ(captures, 1);
    // Recording ends by switching the grabs back on, with the combinations saved before.
    EXPECT_FALSE(manager.isTemporarilyDisabled());
    EXPECT_EQ(manager.registeredIDs(), QList<quint32>{1});

    // The key as it is, not what Shift makes of it: Super-Shift-4 is cmd+shift+4, not "$".
    struct Case {
        const char* keys;
        const char* recorded; // nullptr: ignored, still listening
    };
    const Case cases[] = {
        {"super+shift+4", "cmd+shift+4"},
        {"a", nullptr},
        {"super+KP_4", nullptr},
        {"ctrl+Left", nullptr},
        {"super+Escape", "cmd+esc"},
        {"shift+ctrl+Tab", "ctrl+shift+tab"},
        {"alt+F12", "alt+f12"},
        {"super+shift+bracketleft", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        if (!area->isRecording())
            area->findChild<QPushButton*>("hotkeyField")->click();
        ASSERT_TRUE(test::waitUntil([&] { return QApplication::focusWidget() == area->keyCatcher(); }, 5s));
        const QString before = view->model()->settings().screenshotHotkey;
        ASSERT_TRUE(test::xdotoolBlocking({"key", QString::fromLatin1(c.keys)}));
        if (c.recorded) {
            ASSERT_TRUE(test::waitUntil([&] { return !area->isRecording(); }, 5s));
            EXPECT_EQ(view->model()->settings().screenshotHotkey, QString::fromLatin1(c.recorded));
        } else {
            test::spin(300ms);
            EXPECT_TRUE(area->isRecording());
            EXPECT_EQ(view->model()->settings().screenshotHotkey, before);
        }
    }
    EXPECT_EQ(area->conflictWarning().has_value(), false);
    // xdotool turns NumLock on to type the keypad key and leaves it on; the X server outlives us.
    EXPECT_TRUE(test::releaseLockKeys());

    // Nothing was saved: the state and the manager still hold the old combination.
    EXPECT_EQ(appState.serverSettings().screenshotHotkey, "");
    host.window()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(manager.isTemporarilyDisabled()); // the listening row went with the window
    platform::NotificationCenter::defaultCenter().removeObserver(token);
    manager.updateHotkeys(QString(), QString(), QString());
}
