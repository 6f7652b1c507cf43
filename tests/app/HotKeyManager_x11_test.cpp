// Global hot keys on the test X server, pressed with xdotool (XTest).
#include "app/HotKeyManager.h"

#include "platform/GlobalKeyGrabber.h"
#include "platform/NotificationCenter.h"
#include "support/TestSupport.h"

#include <QMap>
#include <QObject>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace std::chrono_literals;
using G = platform::GlobalKeyGrabber;

namespace {

void xmodmap(const QStringList& expressions)
{
    QStringList arguments;
    for (const QString& e : expressions)
        arguments << "-e" << e;
    const auto result = test::run("/usr/bin/xmodmap", arguments, 10s);
    ASSERT_TRUE(result.finished && result.exitCode == 0) << result.output.toStdString();
}

// Another X client on its own connection.
class OtherClient {
public:
    OtherClient()
        : m_connection(xcb_connect(nullptr, nullptr))
    {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        m_symbols = xcb_key_symbols_alloc(m_connection);
    }
    ~OtherClient()
    {
        xcb_key_symbols_free(m_symbols);
        xcb_disconnect(m_connection);
    }
    xcb_keycode_t keycode(xcb_keysym_t keysym)
    {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(m_symbols, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        return code;
    }
    // The X error code, or 0.
    int grab(xcb_keysym_t keysym, quint16 modifiers)
    {
        xcb_generic_error_t* error = xcb_request_check(
            m_connection, xcb_grab_key_checked(m_connection, 0, m_root, modifiers, keycode(keysym), XCB_GRAB_MODE_ASYNC,
                                               XCB_GRAB_MODE_ASYNC));
        const int code = error ? error->error_code : 0;
        std::free(error);
        return code;
    }
    // Key presses that reached this client's grabs within `timeout`.
    // Key presses that reach this client: waits up to `timeout` for the first, then a little
    // longer for any that follow it.
    int pressesWithin(std::chrono::milliseconds timeout)
    {
        int presses = 0;
        const auto drain = [&] {
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
                if ((event->response_type & 0x7F) == XCB_KEY_PRESS)
                    ++presses;
                std::free(event);
            }
            return false;
        };
        test::waitUntil([&] { drain(); return presses > 0; }, timeout);
        test::waitUntil(drain, std::chrono::milliseconds(200));
        return presses;
    }

private:
    xcb_connection_t* m_connection;
    xcb_window_t m_root = 0;
    xcb_key_symbols_t* m_symbols = nullptr;
};

const QStringList notificationNames{"captureScreenHotKey", "captureFullScreenHotKey", "startScreenRecordingHotKey"};

class HotKeyX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!G::isAvailable())
            GTEST_SKIP() << "needs the xcb platform";
        // The other client below grabs exact modifiers, which a lock left on by an earlier test breaks.
        ASSERT_TRUE(test::releaseLockKeys());
        for (const QString& name : notificationNames)
            platform::NotificationCenter::defaultCenter().addObserver(name, &context,
                                                                      [this](const platform::Notification& n) { ++received[n.name]; });
        // A combination of its own that marks the point where every earlier key event has been read.
        sentinel = std::make_unique<G>();
        sentinel->install();
        ASSERT_EQ(sentinel->grab(99, 0xffc9 /* F12 */, G::controlMask | G::shiftMask), G::success);
        QObject::connect(sentinel.get(), &G::pressed, &context, [this] { ++sentinelPresses; });
    }
    void TearDown() override
    {
        manager().restore();
        manager().updateHotkeys("", "", "");
    }
    static HotKeyManager& manager() { return HotKeyManager::shared(); }

    QStringList update(const QString& area, const QString& fullScreen, const QString& recording)
    {
        ::testing::internal::CaptureStdout();
        manager().updateHotkeys(area, fullScreen, recording);
        return QString::fromStdString(::testing::internal::GetCapturedStdout()).split('\n', Qt::SkipEmptyParts);
    }
    // Presses `combo`, then waits until every event up to it has been handled.
    void press(const QString& combo)
    {
        ASSERT_TRUE(test::xdotoolBlocking({"key", combo}));
        const int before = sentinelPresses;
        ASSERT_TRUE(test::xdotoolBlocking({"key", "ctrl+shift+F12"}));
        ASSERT_TRUE(test::waitUntil([&] { return sentinelPresses > before; }, 5s)) << "the sentinel key never arrived";
        test::spin(20ms); // the notifications are queued after the X event
    }
    int count(const QString& name) const { return received.value(name); }
    int total() const
    {
        int n = 0;
        for (int v : received)
            n += v;
        return n;
    }

    QObject context;
    QMap<QString, int> received;
    std::unique_ptr<G> sentinel;
    int sentinelPresses = 0;
};

} // namespace

TEST_F(HotKeyX11, EachCommandPostsItsNotification)
{
    const QStringList lines = update("ctrl+alt+k", "Ctrl + Alt + J", "cmd+shift+5");
    EXPECT_EQ(lines, (QStringList{"Successfully registered area hotkey: ctrl+alt+k",
                                  "Successfully registered fullScreen hotkey: Ctrl + Alt + J",
                                  "Successfully registered screenRecording hotkey: cmd+shift+5"}));
    press("ctrl+alt+k");
    EXPECT_EQ(count("captureScreenHotKey"), 1);
    press("ctrl+alt+j");
    EXPECT_EQ(count("captureFullScreenHotKey"), 1);
    press("super+shift+5");
    EXPECT_EQ(count("startScreenRecordingHotKey"), 1);
    EXPECT_EQ(total(), 3);

    // Other modifiers, or fewer, are other combinations.
    press("ctrl+k");
    press("ctrl+alt+shift+k");
    press("ctrl+alt+l");
    EXPECT_EQ(total(), 3);
}

TEST_F(HotKeyX11, CapsLockAndNumLockDoNotMatter)
{
    update("ctrl+alt+k", "", "");
    const QStringList states[] = {{"Num_Lock"}, {"Caps_Lock"}, {"Num_Lock", "Caps_Lock"}};
    int expected = 0;
    for (const QStringList& locks : states) {
        ASSERT_TRUE(test::xdotoolBlocking(QStringList{"key"} + locks)); // on
        press("ctrl+alt+k");
        ASSERT_TRUE(test::xdotoolBlocking(QStringList{"key"} + locks)); // off again
        EXPECT_EQ(count("captureScreenHotKey"), ++expected) << locks.join('+').toStdString();
    }
}

TEST_F(HotKeyX11, NothingFiresWhileDisabledAndAgainAfterRestore)
{
    update("ctrl+alt+k", "", "");
    manager().temporarilyDisable();
    press("ctrl+alt+k");
    EXPECT_EQ(total(), 0);
    // Really released: another client may take the combination meanwhile.
    {
        OtherClient other;
        EXPECT_EQ(other.grab('k', G::controlMask | G::mod1Mask), 0);
    }
    manager().restore();
    press("ctrl+alt+k");
    EXPECT_EQ(count("captureScreenHotKey"), 1);
}

TEST_F(HotKeyX11, ChangesSavedWhileDisabledAreRegisteredOnRestore)
{
    update("ctrl+alt+k", "", "");
    manager().temporarilyDisable();
    const QStringList lines = update("ctrl+alt+m", "", "");
    EXPECT_TRUE(lines.isEmpty()) << lines.join('\n').toStdString();
    press("ctrl+alt+m");
    press("ctrl+alt+k");
    EXPECT_EQ(total(), 0);

    manager().restore();
    press("ctrl+alt+m");
    press("ctrl+alt+k");
    EXPECT_EQ(count("captureScreenHotKey"), 1);
}

TEST_F(HotKeyX11, ACombinationHeldByAnotherClientFails)
{
    OtherClient other;
    ASSERT_EQ(other.grab('g', G::controlMask | G::mod1Mask), 0);
    const QStringList lines = update("ctrl+alt+g", "ctrl+alt+h", "");
    EXPECT_EQ(lines, (QStringList{"Failed to register area hotkey: 10",
                                  "Successfully registered fullScreen hotkey: ctrl+alt+h"}));
    EXPECT_EQ(manager().registeredIDs(), QList<quint32>{2});
    press("ctrl+alt+h");
    EXPECT_EQ(count("captureFullScreenHotKey"), 1);
    // The other client keeps its grab.
    press("ctrl+alt+g");
    EXPECT_EQ(other.pressesWithin(3s), 1);
    EXPECT_EQ(count("captureScreenHotKey"), 0);
}

TEST_F(HotKeyX11, APartlyRefusedGrabLeavesNothingBehind)
{
    // Only the NumLock variant is taken: the combination must not stay half grabbed by us.
    {
        OtherClient other;
        ASSERT_EQ(other.grab('g', G::controlMask | G::mod1Mask | G::mod2Mask), 0);
        EXPECT_EQ(update("ctrl+alt+g", "", ""), QStringList{"Failed to register area hotkey: 10"});
    }
    OtherClient next;
    EXPECT_EQ(next.grab('g', G::controlMask | G::mod1Mask), 0);
    EXPECT_EQ(next.grab('g', G::controlMask | G::mod1Mask | G::lockMask), 0);
}

TEST_F(HotKeyX11, TheSameCombinationForTwoCommandsFailsForTheSecond)
{
    const QStringList lines = update("ctrl+alt+k", "alt+ctrl+K", "");
    EXPECT_EQ(lines, (QStringList{"Successfully registered area hotkey: ctrl+alt+k", "Failed to register fullScreen hotkey: 10"}));
    press("ctrl+alt+k");
    EXPECT_EQ(count("captureScreenHotKey"), 1);
    EXPECT_EQ(count("captureFullScreenHotKey"), 0);
}

TEST_F(HotKeyX11, KeysAreGrabbedAgainAfterAKeymapChange)
{
    OtherClient probe;
    const quint8 kCode = probe.keycode('k');
    const quint8 jCode = probe.keycode('j');
    ASSERT_NE(kCode, 0);
    ASSERT_NE(jCode, 0);
    update("ctrl+alt+k", "", "");
    auto restoreKeymap = [&] {
        xmodmap({QStringLiteral("keycode %1 = j J j J").arg(jCode), QStringLiteral("keycode %1 = k K k K").arg(kCode)});
    };
    // Swap the two keys: "k" now comes from the key that typed "j".
    xmodmap({QStringLiteral("keycode %1 = k K k K").arg(jCode), QStringLiteral("keycode %1 = j J j J").arg(kCode)});
    test::spin(300ms);
    press("ctrl+alt+k");
    const int afterSwap = count("captureScreenHotKey");
    press("ctrl+alt+j"); // the old key code: no longer ours
    const int afterOldKey = count("captureScreenHotKey");
    restoreKeymap();
    test::spin(300ms);
    EXPECT_EQ(afterSwap, 1);
    EXPECT_EQ(afterOldKey, 1);
    press("ctrl+alt+k");
    EXPECT_EQ(count("captureScreenHotKey"), 2);
}

TEST_F(HotKeyX11, KeyRepeatsAreOnePress)
{
    G grabber;
    grabber.install();
    ASSERT_EQ(grabber.grab(7, 'r', G::controlMask | G::mod1Mask), G::success);
    int presses = 0;
    QObject::connect(&grabber, &G::pressed, &context, [&](quint32 id) { presses += id == 7; });
    OtherClient probe;
    const quint8 code = probe.keycode('r');
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(xcb_connect(nullptr, nullptr))).data->root;
    auto feed = [&](quint8 type, quint32 time) {
        xcb_key_press_event_t event{};
        event.response_type = type;
        event.detail = code;
        event.time = time;
        event.root = root;
        event.event = root;
        event.state = G::controlMask | G::mod1Mask | G::mod2Mask;
        return grabber.nativeEventFilter("xcb_generic_event_t", &event, nullptr);
    };
    EXPECT_TRUE(feed(XCB_KEY_PRESS, 1000));
    EXPECT_TRUE(feed(XCB_KEY_RELEASE, 1600)); // classic repeat: release and press at one time
    EXPECT_TRUE(feed(XCB_KEY_PRESS, 1600));
    EXPECT_TRUE(feed(XCB_KEY_PRESS, 1640)); // detectable repeat: presses only
    EXPECT_TRUE(feed(XCB_KEY_RELEASE, 1700));
    EXPECT_TRUE(feed(XCB_KEY_PRESS, 2500)); // a new press
    EXPECT_TRUE(feed(XCB_KEY_PRESS, 4000)); // its release went elsewhere; long after, a new press
    test::spin(50ms);
    EXPECT_EQ(presses, 3);

    // Real presses from the server.
    ASSERT_TRUE(test::xdotoolBlocking({"key", "ctrl+alt+r"}));
    ASSERT_TRUE(test::xdotoolBlocking({"key", "ctrl+alt+r"}));
    EXPECT_TRUE(test::waitUntil([&] { return presses == 5; }, 3s)) << presses;
}
