// The hot-key string format and the registry's bookkeeping, without an X server (offscreen).
#include "app/HotKeyManager.h"

#include "platform/GlobalKeyGrabber.h"
#include "platform/NotificationCenter.h"

#include <QObject>

#include <gtest/gtest.h>

namespace {

using G = platform::GlobalKeyGrabber;

QStringList consoleLines(const std::function<void()>& action)
{
    ::testing::internal::CaptureStdout();
    action();
    return QString::fromStdString(::testing::internal::GetCapturedStdout()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

TEST(HotKeyManagerParsing, Strings)
{
    const struct {
        const char* string;
        std::optional<std::pair<quint32, quint32>> expected;
    } cases[] = {
        {"cmd+shift+4", std::pair{21u, 0x300u}},
        {" Command + Option + F1 ", std::pair{122u, 0x900u}},
        {"ctrl+alt+shift+cmd+space", std::pair{49u, 0x1B00u}},
        {"\tcontrol\t+\tq", std::pair{12u, 0x1000u}},
        {"CTRL+ctrl+control+x", std::pair{7u, 0x1000u}}, // repeats add nothing
        {"shift+cmd+option+ctrl+return", std::pair{36u, 0x1B00u}},
        {"a", std::pair{0u, 0u}},                 // no modifier needed
        {"cmd+a+b", std::pair{11u, 0x100u}},      // the last key wins
        {"b+cmd", std::pair{11u, 0x100u}},        // in any order
        {"alt+Esc", std::pair{53u, 0x800u}},
        {"ctrl+enter", std::pair{36u, 0x1000u}},
        {"cmd+tab", std::pair{48u, 0x100u}},
        {"cmd+shift", std::nullopt},
        {"cmd+", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"cmd+f13", std::nullopt},
        {"cmd+é", std::nullopt},
        {"cmd+a+f13", std::nullopt}, // the last key decides
        {"cmd+shift+44", std::nullopt},
        {"a+super", std::nullopt},   // not a modifier name, so the key
        {"cmd+ a b", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HotKeyManager::parseHotkeyString(QString::fromUtf8(c.string)), c.expected) << c.string;
}

TEST(HotKeyManagerParsing, DisplayTextInLinuxNotation)
{
    const std::pair<const char*, const char*> cases[] = {
        {"ctrl+shift+a", "Ctrl+Shift+A"},
        {"cmd+shift+f", "Super+Shift+F"},
        {"cmd+shift+4", "Super+Shift+4"},
        {"ctrl+alt+f5", "Ctrl+Alt+F5"},
        {"cmd+ctrl+alt+shift+f12", "Super+Ctrl+Alt+Shift+F12"},
        {"shift+cmd+option+control+return", "Super+Ctrl+Alt+Shift+Return"}, // the format's order
        {"command+enter", "Super+Return"},
        {"cmd+esc", "Super+Esc"},
        {"CMD+Escape", "Super+Esc"},
        {"shift+space", "Shift+Space"},
        {"alt+tab", "Alt+Tab"},
        {"ctrl+0", "Ctrl+0"},
        {" ctrl + q ", "Ctrl+Q"},
        {"cmd+a+b", "Super+B"}, // as parsed: the last key counts
        {"ctrl+left", "Ctrl+Left"},
        {"ctrl+f13", "Ctrl+F13"},
        {"cmd+shift", "Super+Shift"},
        {"", ""},
    };
    for (const auto& [string, shown] : cases)
        EXPECT_EQ(HotKeyManager::displayText(QString::fromLatin1(string)), QString::fromLatin1(shown)) << string;
}

TEST(HotKeyManagerParsing, KeyTableWithItsKeysyms)
{
    const struct {
        const char* name;
        quint32 code;
        quint32 keysym;
    } keys[] = {
        {"a", 0, 'a'},        {"b", 11, 'b'},        {"c", 8, 'c'},         {"d", 2, 'd'},        {"e", 14, 'e'},
        {"f", 3, 'f'},        {"g", 5, 'g'},         {"h", 4, 'h'},         {"i", 34, 'i'},       {"j", 38, 'j'},
        {"k", 40, 'k'},       {"l", 37, 'l'},        {"m", 46, 'm'},        {"n", 45, 'n'},       {"o", 31, 'o'},
        {"p", 35, 'p'},       {"q", 12, 'q'},        {"r", 15, 'r'},        {"s", 1, 's'},        {"t", 17, 't'},
        {"u", 32, 'u'},       {"v", 9, 'v'},         {"w", 13, 'w'},        {"x", 7, 'x'},        {"y", 16, 'y'},
        {"z", 6, 'z'},        {"0", 29, '0'},        {"1", 18, '1'},        {"2", 19, '2'},       {"3", 20, '3'},
        {"4", 21, '4'},       {"5", 23, '5'},        {"6", 22, '6'},        {"7", 26, '7'},       {"8", 28, '8'},
        {"9", 25, '9'},       {"space", 49, 0x20},   {"enter", 36, 0xff0d}, {"return", 36, 0xff0d},
        {"tab", 48, 0xff09},  {"escape", 53, 0xff1b}, {"esc", 53, 0xff1b},  {"f1", 122, 0xffbe},
        {"f2", 120, 0xffbf},  {"f3", 99, 0xffc0},    {"f4", 118, 0xffc1},   {"f5", 96, 0xffc2},   {"f6", 97, 0xffc3},
        {"f7", 98, 0xffc4},   {"f8", 100, 0xffc5},   {"f9", 101, 0xffc6},   {"f10", 109, 0xffc7}, {"f11", 103, 0xffc8},
        {"f12", 111, 0xffc9},
    };
    for (const auto& k : keys) {
        EXPECT_EQ(HotKeyManager::keyCodeForString(k.name), k.code) << k.name;
        EXPECT_EQ(HotKeyManager::keysymForKeyCode(k.code), k.keysym) << k.name;
    }
    // Names are matched as given; the parser lower-cases before looking up.
    EXPECT_EQ(HotKeyManager::keyCodeForString("A"), std::nullopt);
    EXPECT_EQ(HotKeyManager::keyCodeForString("f0"), std::nullopt);
    EXPECT_EQ(HotKeyManager::keysymForKeyCode(10), 0u); // a code outside the table
}

TEST(HotKeyManagerParsing, ModifierBitsOnX)
{
    EXPECT_EQ(HotKeyManager::x11Modifiers(0), 0);
    EXPECT_EQ(HotKeyManager::x11Modifiers(HotKeyManager::cmdKey), G::mod4Mask);
    EXPECT_EQ(HotKeyManager::x11Modifiers(HotKeyManager::controlKey), G::controlMask);
    EXPECT_EQ(HotKeyManager::x11Modifiers(HotKeyManager::optionKey), G::mod1Mask);
    EXPECT_EQ(HotKeyManager::x11Modifiers(HotKeyManager::shiftKey), G::shiftMask);
    EXPECT_EQ(HotKeyManager::x11Modifiers(0x1B00), G::mod4Mask | G::controlMask | G::mod1Mask | G::shiftMask);
}

TEST(HotKeyManagerParsing, IdsAndSignature)
{
    EXPECT_EQ(HotKeyManager::hotKeySignature, 0x4B484B59u);
    EXPECT_EQ(HotKeyManager::areaHotKeyID.id, 1u);
    EXPECT_EQ(HotKeyManager::fullScreenHotKeyID.id, 2u);
    EXPECT_EQ(HotKeyManager::screenRecordingHotKeyID.id, 4u);
}

TEST(HotKeyManagerRegistry, InvalidStringsAndFailuresOnlyPrint)
{
    auto& manager = HotKeyManager::shared();
    const QStringList lines = consoleLines([&] { manager.updateHotkeys("cmd+f13", "", "ctrl+alt+r"); });
    EXPECT_TRUE(lines.contains("Invalid hotkey string for area: cmd+f13")) << lines.join('\n').toStdString();
    // Nothing to grab with on the offscreen platform: refused with the failure line.
    EXPECT_TRUE(lines.contains("Failed to register screenRecording hotkey: -1")) << lines.join('\n').toStdString();
    EXPECT_FALSE(lines.join('\n').contains("fullScreen"));
    EXPECT_TRUE(manager.registeredIDs().isEmpty());
    const QMap<QString, QString> expected{{"area", "cmd+f13"}, {"fullScreen", ""}, {"screenRecording", "ctrl+alt+r"}};
    EXPECT_EQ(manager.currentHotkeys(), expected);
    manager.updateHotkeys("", "", "");
}

TEST(HotKeyManagerRegistry, DisableAndRestorePrintOnceAndKeepTheStrings)
{
    auto& manager = HotKeyManager::shared();
    manager.updateHotkeys("", "", "");
    EXPECT_TRUE(consoleLines([&] { manager.restore(); }).isEmpty()); // without a disable: nothing

    QStringList lines = consoleLines([&] {
        manager.temporarilyDisable();
        manager.temporarilyDisable();
    });
    EXPECT_EQ(lines, QStringList{"HotKeyManager: Temporarily disabled all hotkeys"});
    EXPECT_TRUE(manager.isTemporarilyDisabled());
    EXPECT_FALSE(manager.isEventHandlerInstalled());

    // A change saved while disabled is stored, not registered...
    lines = consoleLines([&] { manager.updateHotkeys("cmd+shift+4", "f13", ""); });
    EXPECT_TRUE(lines.isEmpty()) << lines.join('\n').toStdString();
    EXPECT_FALSE(manager.isEventHandlerInstalled());
    EXPECT_EQ(manager.currentHotkeys().value("area"), "cmd+shift+4");
    EXPECT_TRUE(manager.isTemporarilyDisabled());

    // ...and registered by restore.
    lines = consoleLines([&] { manager.restore(); });
    EXPECT_FALSE(manager.isTemporarilyDisabled());
    ASSERT_EQ(lines.size(), 3) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0], "Failed to register area hotkey: -1");
    EXPECT_EQ(lines[1], "Invalid hotkey string for fullScreen: f13");
    EXPECT_EQ(lines[2], "HotKeyManager: Restored all hotkeys");
    EXPECT_TRUE(manager.isEventHandlerInstalled());
    EXPECT_TRUE(consoleLines([&] { manager.restore(); }).isEmpty());

    manager.unregisterAllHotKeys();
    EXPECT_FALSE(manager.isEventHandlerInstalled());
    EXPECT_EQ(manager.currentHotkeys().value("area"), "cmd+shift+4"); // unregistering keeps the strings
    manager.updateHotkeys("", "", "");
}

TEST(HotKeyManagerRegistry, EventIdsPostTheirNotifications)
{
    auto& center = platform::NotificationCenter::defaultCenter();
    QObject context;
    QStringList received;
    for (const char* name : {"captureScreenHotKey", "captureFullScreenHotKey", "startScreenRecordingHotKey"})
        center.addObserver(name, &context, [&](const platform::Notification& n) { received.append(n.name); });
    auto& manager = HotKeyManager::shared();
    const QStringList lines = consoleLines([&] {
        for (quint32 id : {1u, 2u, 3u, 4u, 0u})
            manager.handleHotKeyEvent(id);
    });
    EXPECT_EQ(received, (QStringList{"captureScreenHotKey", "captureFullScreenHotKey", "startScreenRecordingHotKey"}));
    EXPECT_EQ(lines, (QStringList{"Unknown hotkey ID: 3", "Unknown hotkey ID: 0"}));
}
