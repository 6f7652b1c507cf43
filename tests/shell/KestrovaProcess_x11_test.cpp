// The built program on the test X server: a hot key from the settings file reaches the delegate.
#include "platform/FileWriteCounter.h"
#include "recording/MediaFileProbe.h"
#include "recording/RecordingControlsView.h"
#include "recording/RecordingControlsWindow.h"
#include "shell/PrivateXServer.h"
#include "shell/SettingsWindowLayout.h"
#include "support/OpenboxSession.h"
#include "support/ProcessConsole.h"
#include "support/ProcessSession.h"
#include "support/ReadOnlyFolder.h"
#include "support/TrayHost.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QToolButton>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QString launched = "Application finished launching";
const QString refused = "Another instance is already running, terminating";

// The visible windows of a process, as the X server lists them.
QStringList visibleWindows(const QProcess& process, const QString& name = {})
{
    QStringList arguments{"search", "--onlyvisible", "--pid", QString::number(process.processId())};
    if (!name.isEmpty())
        arguments << "--name" << "^" + name + "$";
    else
        arguments << "";
    QByteArray output;
    test::xdotool(arguments, &output);
    QStringList windows;
    static const QRegularExpression number("^\\d+$");
    for (const QString& line : QString::fromUtf8(output).split('\n', Qt::SkipEmptyParts)) {
        if (!number.match(line).hasMatch())
            continue;
        // xdotool's pattern also matches windows without a name of their own (Qt's group leader).
        QByteArray title;
        if (!name.isEmpty() && (!test::xdotool({"getwindowname", line}, &title) || QString::fromUtf8(title).trimmed() != name))
            continue;
        windows.append(line);
    }
    return windows;
}

// What a window manager does when the user closes a window: WM_DELETE_WINDOW to its client. The
// send is checked, a round trip: a request flushed just before disconnecting can go unread.
bool askToClose(quint32 window)
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    auto atom = [connection](const char* name) {
        xcb_intern_atom_reply_t* reply
            = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return value;
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    bool sent = false;
    if (!xcb_connection_has_error(connection) && event.type != XCB_ATOM_NONE && event.data.data32[0] != XCB_ATOM_NONE) {
        xcb_generic_error_t* error = xcb_request_check(
            connection, xcb_send_event_checked(connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event)));
        sent = error == nullptr;
        free(error);
    }
    xcb_disconnect(connection);
    return sent;
}

// A second start: it tells the running copy, logs its line and exits 0.
void startAgain(const test::Session& session, int times)
{
    auto second = session.start();
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(session.waitForLog(refused, times)) << session.logText().toStdString();
}

} // namespace

TEST(KestrovaProcessX11, StartingAgainWithATrayOpensTheRunningCopysMenu)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::TrayHost tray;
    ASSERT_TRUE(tray.running());
    test::Session session;
    auto first = session.start();
    ASSERT_TRUE(session.waitForLog(launched)) << session.logText().toStdString();
    test::spin(500ms);
    const int before = visibleWindows(*first).size();

    ASSERT_TRUE(test::xdotoolBlocking({"mousemove", "700", "500"}));
    startAgain(session, 1);
    EXPECT_TRUE(session.waitForLog("applicationShouldHandleReopen: Reopen requested, visible windows: false"))
        << session.logText().toStdString();
    // The status menu: one more window of the first copy on the screen.
    EXPECT_TRUE(test::waitUntil([&] { return visibleWindows(*first).size() > before; }, 5s));
    EXPECT_EQ(session.count(launched), 1);
    EXPECT_EQ(first->state(), QProcess::Running);
    test::stop(*first);
    EXPECT_EQ(first->exitCode(), 0);
}

TEST(KestrovaProcessX11, StartingAgainWithoutATrayShowsTheClosedSettingsWindow)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::Session session;
    auto first = session.start();
    ASSERT_TRUE(session.waitForLog("No system tray available; opening the settings window so that Kestrova stays reachable", 1, 10s))
        << session.logText().toStdString();
    QStringList settings;
    ASSERT_TRUE(test::waitUntil([&] { return !(settings = visibleWindows(*first, "Настройки")).isEmpty(); }, 5s));

    // Closed and shown again twice: the window a second start shows answers the close button too.
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(askToClose(settings.first().toUInt()));
        ASSERT_TRUE(test::waitUntil([&] { return visibleWindows(*first, "Настройки").isEmpty(); }, 5s));
        EXPECT_EQ(first->state(), QProcess::Running); // a tray application: it runs on

        startAgain(session, round);
        ASSERT_TRUE(test::waitUntil([&] { return !(settings = visibleWindows(*first, "Настройки")).isEmpty(); }, 5s))
            << session.logText().toStdString();
    }
    EXPECT_EQ(session.count(launched), 1);
    test::stop(*first);
    EXPECT_EQ(first->exitCode(), 0);
}

TEST(KestrovaProcessX11, HotKeysFromTheSettingsFileStartTheirFlows)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::TrayHost tray;
    test::Session session;
    ASSERT_TRUE(test::writeFile(session.home() + "/config/Kestrova/Kestrova.conf",
                                "[General]\nscreenshotHotkey=ctrl+alt+k\nfullScreenHotkey=f13\nscreenRecordingHotkey=ctrl+alt+r\n"));

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

TEST(KestrovaProcessX11, AtIdleItHoldsNeitherTheWebViewNorAGLDriverNorGStreamer)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::TrayHost tray;
    test::Session session;
    auto process = session.start();
    ASSERT_TRUE(session.waitForLog(launched)) << session.logText().toStdString();
    test::spin(1s);
    QFile maps(QString("/proc/%1/maps").arg(process->processId()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QString mapped = QString::fromUtf8(maps.readAll());
    // Loaded at the first sign-in, the first GL use and the first video preview or recording.
    for (const char* library : {"libQt6WebEngine", "libkestrova_yandex_webview", "_dri.so", "libgallium", "libgstreamer"})
        EXPECT_FALSE(mapped.contains(library)) << library;
    test::stop(*process);
}

namespace {

// The names of the process's threads, as /proc shows them (cut to 15 characters).
QStringList threadNames(qint64 pid)
{
    QStringList names;
    const QDir tasks(QString("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task) + "/comm");
        if (comm.open(QIODevice::ReadOnly))
            names.append(QString::fromUtf8(comm.readAll()).trimmed());
    }
    return names;
}

} // namespace

TEST(KestrovaProcessX11, AtIdleNoLogWriterThreadWaits)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::TrayHost tray;
    test::Session session;
    auto process = session.start();
    ASSERT_TRUE(session.waitForLog(launched)) << session.logText().toStdString();
    // The log writer ends about 2 s after the last launch line; bounded well past that.
    QStringList names;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    do {
        test::spin(200ms);
        names = threadNames(process->processId());
    } while (names.contains("kestrova-log") && std::chrono::steady_clock::now() < deadline);
    EXPECT_FALSE(names.contains("kestrova-log")) << names.join(", ").toStdString();
    test::stop(*process);
}

TEST(KestrovaProcessX11, ASaveOfTheSettingsWindowWritesTheFileOnceAndSaysSoWhenItCannot)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::Session session;
    const QString folder = session.home() + "/config/Kestrova";
    const QString file = folder + "/Kestrova.conf";
    ASSERT_TRUE(test::writeFile(file, "[General]\nftpHost=example.org\n"));
    // Without a tray the program opens its settings window.
    auto process = session.start({{"LANGUAGE", "en"}, {"LC_ALL", "C.UTF-8"}});
    ASSERT_TRUE(session.waitForLog("No system tray available; opening the settings window so that Kestrova stays reachable", 1, 10s))
        << session.logText().toStdString();
    std::optional<QRect> window;
    ASSERT_TRUE(test::waitUntil([&] { return (window = test::visibleWindowGeometry("Настройки")).has_value(); }, 5s));
    // A click on a section of the sidebar saves; the rows are 34 points high, 6 apart, from 12 down.
    const auto clickSection = [&](int row) {
        return test::xdotool({"mousemove", QString::number(window->left() + 60), QString::number(window->top() + 12 + row * 40 + 19),
                              "click", "1"});
    };

    test::FileWriteCounter counter(file);
    ASSERT_TRUE(counter.isValid());
    ASSERT_TRUE(clickSection(1));
    ASSERT_TRUE(test::waitUntil([&] { return counter.writes() >= 1; }, 5s));
    // The keys of one save are written together, or one after another within the same moment.
    test::spin(300ms);
    EXPECT_EQ(counter.writes(), 1);
    EXPECT_FALSE(session.logText().contains("Could not write the settings file"));

    // The settings folder becomes a file: nobody, root included, can write the settings there.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(test::writeFile(folder, "not a folder"));
    ASSERT_TRUE(clickSection(2));
    EXPECT_TRUE(session.waitForLog("Could not write the settings file " + file)) << session.logText().toStdString();
    EXPECT_TRUE(test::waitUntil([] { return test::visibleWindowNamed("Settings not saved").has_value(); }, 5s));

    test::stop(*process);
    EXPECT_EQ(process->exitCode(), 0);
}

// A settings file that can be read but not written: opening the window loads a stored provider,
// which saves, and the alert about it comes above the window, not hidden under it where it would
// leave the window deaf to clicks. Closing the window saves too, and says so with no window left.
TEST(KestrovaProcessX11, ASettingsFileThatCannotBeWrittenIsSaidInFrontAlsoAtOpenAndClose)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::Session session;
    const QString folder = session.home() + "/config/Kestrova";
    const QString file = folder + "/Kestrova.conf";
    ASSERT_TRUE(test::writeFile(file, "[General]\nuploadProvider=ssh\nftpHost=example.org\n"));
    const test::ReadOnlyFolder readOnly(folder);
    if (!readOnly.mounted())
        GTEST_SKIP() << readOnly.error();
    test::XDisplayFacts x;
    ASSERT_TRUE(x.isValid());
    const QString alertName = "Settings not saved";

    for (const bool windowManager : {false, true}) {
        SCOPED_TRACE(windowManager ? "openbox" : "no window manager");
        std::optional<test::OpenboxSession> wm;
        if (windowManager && !wm.emplace().isRunning()) {
            ADD_FAILURE() << "openbox did not start";
            continue;
        }
        auto process = session.start({{"LANGUAGE", "en"}, {"LC_ALL", "C.UTF-8"}});
        const QString failed = "Could not write the settings file " + file;
        ASSERT_TRUE(test::waitUntil([&] { return visibleWindows(*process, alertName).size() == 1; }, 10s))
            << session.logText().toStdString();
        const quint32 settings = visibleWindows(*process, "Настройки").value(0).toUInt();
        const quint32 alert = visibleWindows(*process, alertName).value(0).toUInt();
        ASSERT_NE(settings, 0u);
        // Long past the window's own raise.
        test::spin(1s);
        const QList<xcb_window_t> stack = x.shownRootChildren();
        EXPECT_GT(stack.indexOf(x.topLevelOf(alert)), stack.indexOf(x.topLevelOf(settings))) << "the alert is above the window";

        ASSERT_TRUE(askToClose(alert));
        ASSERT_TRUE(test::waitUntil([&] { return visibleWindows(*process, alertName).isEmpty(); }, 5s));
        const int failures = session.count(failed);
        ASSERT_TRUE(askToClose(settings));
        ASSERT_TRUE(session.waitForLog(failed, failures + 1, 5s)) << session.logText().toStdString();
        EXPECT_TRUE(test::waitUntil([&] { return visibleWindows(*process, alertName).size() == 1; }, 5s))
            << "the save at the close is announced";
        EXPECT_TRUE(visibleWindows(*process, "Настройки").isEmpty());

        test::stop(*process);
        EXPECT_EQ(process->exitCode(), 0);
    }
}

namespace {

// The centre of the stop button of the controls window that `session`'s copy placed and logged.
std::optional<QPoint> stopButton(const test::Session& session)
{
    QString frame;
    static const QRegularExpression placed(R"(Setting controls window frame to \((.*)\)$)");
    for (const QString& line : session.logLines())
        if (const auto match = placed.match(line); match.hasMatch())
            frame = match.captured(1);
    const QStringList numbers = frame.split(", ");
    if (numbers.size() != 4)
        return std::nullopt;
    RecordingControlsWindow layout([] {});
    layout.setAttribute(Qt::WA_DontShowOnScreen);
    layout.show();
    test::spin(50ms);
    QToolButton* stop = layout.controlsView()->stopButton();
    return QPoint(int(numbers[0].toDouble()), int(numbers[1].toDouble())) + stop->mapTo(&layout, stop->rect().center());
}

} // namespace

// A second copy, allowed by KESTROVA_ALLOW_MULTIPLE=1, started while the first one records: the
// in-progress file it finds is the first copy's running recording, not what a crash left. It
// leaves the file alone, and the first copy's recording goes on and finishes as usual.
TEST(KestrovaProcessX11, ASecondCopyLeavesTheRunningRecordingAlone)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::TrayHost tray;
    test::Session session;
    // The development hook selects an area; Return on the setup panel starts the recording.
    auto first = session.start({{"KESTROVA_DEBUG_AUTO", "1"}});
    ASSERT_TRUE(session.waitForLog("RecordingSetupWindowController: window made key and front")) << session.logText().toStdString();
    ASSERT_TRUE(test::waitUntil([] {
        return test::run("/usr/bin/xdotool", {"getwindowfocus", "getwindowgeometry"}, 5s).output.contains("Geometry: 320x48");
    }, 5s)) << "the setup panel has the keyboard";
    ASSERT_TRUE(test::xdotoolBlocking({"key", "Return"}));
    ASSERT_TRUE(session.waitForLog("ScreenRecorder: FIRST frame captured successfully!")) << session.logText().toStdString();

    auto second = session.start({{"KESTROVA_ALLOW_MULTIPLE", "1"}});
    ASSERT_TRUE(session.waitForLog(launched, 2)) << session.logText().toStdString();
    // The recording looks for its file before the line of every 30th frame: two such lines after
    // the second launch have seen a file filed away from under it.
    const auto lastFrame = [&] {
        static const QRegularExpression line(R"(ScreenRecorder: Frame (\d+) captured successfully)");
        int last = 0;
        for (auto it = line.globalMatch(session.logText()); it.hasNext();)
            last = std::max(last, it.next().captured(1).toInt());
        return last;
    };
    const QString failed = "ScreenRecorder: ERROR - Writing the file failed, stopping";
    const int seen = (lastFrame() / 30 + 2) * 30;
    ASSERT_TRUE(test::waitUntil([&] { return lastFrame() >= seen || session.logText().contains(failed); }, 10s))
        << session.logText().toStdString();
    EXPECT_FALSE(session.logText().contains(failed)) << session.logText().toStdString();
    EXPECT_FALSE(session.logText().contains("AppDelegate: Recovered an unfinished recording: "));
    EXPECT_EQ(session.count("applicationDidFinishLaunching: Unfinished recordings are left to the copy that holds the single-instance lock"), 1);

    const std::optional<QPoint> stop = stopButton(session);
    ASSERT_TRUE(stop) << session.logText().toStdString();
    ASSERT_TRUE(test::xdotoolBlocking({"mousemove", QString::number(stop->x()), QString::number(stop->y()), "click", "1"}));
    ASSERT_TRUE(session.waitForLog("AppDelegate: Video preview window setup complete")) << session.logText().toStdString();
    QString path;
    static const QRegularExpression completed("Recording completed successfully: (.*)$");
    for (const QString& line : session.logLines())
        if (const auto match = completed.match(line); match.hasMatch())
            path = match.captured(1);
    ASSERT_FALSE(path.isEmpty()) << session.logText().toStdString();
    const media::Output checked = media::runTool(
        "/usr/bin/ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path});
    EXPECT_TRUE(checked.ok && checked.err.isEmpty()) << checked.err.toStdString();
    EXPECT_GE(checked.out.trimmed().toInt(), seen);
    EXPECT_FALSE(QFile::exists(QFileInfo(path).path() + "/." + QFileInfo(path).fileName() + ".part"));
    test::stop(*second);
    test::stop(*first);
    EXPECT_EQ(first->exitCode(), 0);
}

namespace {

// Presses a combination on `display` through XTest the way a hand does: the modifiers first, then
// the key. The key goes down only once the program has given up its grab of the combination, if
// it does that within `wait`: another client can then take the combination for a moment.
bool pressWhenTheGrabLapses(const QString& display, xcb_keysym_t key, quint16 modifiers, std::chrono::milliseconds wait)
{
    xcb_connection_t* c = xcb_connect(display.toLatin1().constData(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    auto keycode = [&](xcb_keysym_t keysym) {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        return code;
    };
    QList<xcb_keycode_t> held;
    if (modifiers & XCB_MOD_MASK_CONTROL)
        held.append(keycode(0xffe3 /* Control_L */));
    if (modifiers & XCB_MOD_MASK_1)
        held.append(keycode(0xffe9 /* Alt_L */));
    const xcb_keycode_t code = keycode(key);
    xcb_key_symbols_free(symbols);
    auto fake = [&](quint8 type, xcb_keycode_t detail) {
        xcb_test_fake_input(c, type, detail, XCB_CURRENT_TIME, root, 0, 0, 0);
        xcb_flush(c);
    };
    for (xcb_keycode_t modifier : held)
        fake(XCB_KEY_PRESS, modifier);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline) {
        xcb_generic_error_t* error = xcb_request_check(
            c, xcb_grab_key_checked(c, 0, root, modifiers, code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        const bool taken = error == nullptr;
        std::free(error);
        if (taken) {
            xcb_ungrab_key(c, code, root, modifiers);
            break;
        }
    }
    fake(XCB_KEY_PRESS, code);
    fake(XCB_KEY_RELEASE, code);
    for (auto it = held.crbegin(); it != held.crend(); ++it)
        fake(XCB_KEY_RELEASE, *it);
    // A round trip: every fake key has reached the server before the connection goes.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
    return code != 0 && !held.contains(0);
}

} // namespace

// The first press after a start on a fresh desktop. The server's first fake key also tells every
// client that the keyboard changed, while the rest of the combination is still to come. Over a
// slow link the program hears of it late and answers late, as on a loaded machine.
TEST(KestrovaProcessX11, TheFirstPressOfTheRecordingHotKeyStartsARecordingOnEveryStart)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    for (int start = 1; start <= 5; ++start) {
        SCOPED_TRACE(start);
        test::PrivateXServer desktop(20ms);
        ASSERT_TRUE(desktop.running());
        test::Session session;
        ASSERT_TRUE(test::writeFile(session.home() + "/config/Kestrova/Kestrova.conf",
                                    "[General]\nscreenshotHotkey=ctrl+alt+k\nscreenRecordingHotkey=ctrl+alt+r\n"));
        // Qt's shared-memory images pass a file descriptor, which cannot travel over TCP.
        auto process = session.start({{"DISPLAY", desktop.slowDisplay()}, {"QT_XCB_NO_MITSHM", "1"}});
        test::ProcessConsole console(*process);
        ASSERT_TRUE(console.waitFor("Successfully registered screenRecording hotkey: ctrl+alt+r", 30s)) << console.text().toStdString();
        ASSERT_TRUE(session.waitForLog(launched, 1, 30s)) << session.logText().toStdString();
        ASSERT_TRUE(pressWhenTheGrabLapses(desktop.display(), 'r', XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, 3s));
        EXPECT_TRUE(session.waitForLog("startScreenRecording: Starting screen recording - checking permissions first", 1, 5s))
            << session.logText().toStdString();
        test::stop(*process);
    }
}

namespace {

const QString overlayShown = "ScreenCaptureWindow: Setting up overlay for frame: ";

// Console lines so far that begin with `start`.
int consoleLines(test::ProcessConsole& console, const QString& start)
{
    console.waitForStart("\n", 0ms); // reads what has arrived; no line begins with a line feed
    int n = 0;
    for (const QString& line : console.text().split('\n'))
        n += line.startsWith(start);
    return n;
}

// The program's settings window as the user drives it: pointer clicks at the places the window
// puts its controls, text typed through XTest.
class SettingsWindowOfTheProgram {
public:
    SettingsWindowOfTheProgram(const QProcess& process, const test::SettingsWindowLayout& layout)
        : m_process(process)
        , m_layout(layout)
    {
    }
    // Waits for the window to be on the screen.
    bool shown(std::chrono::milliseconds timeout = 5s)
    {
        QStringList found;
        if (!test::waitUntil([&] { return !(found = visibleWindows(m_process, "Настройки")).isEmpty(); }, timeout))
            return false;
        m_window = found.first().toUInt();
        QByteArray shell;
        if (!test::xdotool({"getwindowgeometry", "--shell", found.first()}, &shell))
            return false;
        for (const QByteArray& line : shell.split('\n')) {
            if (line.startsWith("X="))
                m_topLeft.setX(line.mid(2).toInt());
            if (line.startsWith("Y="))
                m_topLeft.setY(line.mid(2).toInt());
        }
        return true;
    }
    bool hidden(std::chrono::milliseconds timeout = 5s)
    {
        return test::waitUntil([&] { return visibleWindows(m_process, "Настройки").isEmpty(); }, timeout);
    }
    quint32 window() const { return m_window; }
    bool click(QPoint inWindow)
    {
        const QPoint at = m_topLeft + inWindow;
        // Qt drops a press on a window the pointer has not been seen entering yet.
        return test::xdotoolBlocking({"mousemove", QString::number(at.x()), QString::number(at.y()), "sleep", "0.3", "click", "1"});
    }
    bool openSection(SettingsSection section)
    {
        const bool clicked = click(m_layout.row(section));
        test::spin(300ms);
        return clicked;
    }
    bool typeInto(const QString& field, const QString& text)
    {
        const auto at = m_layout.field(field);
        if (!at || !click(*at))
            return false;
        test::spin(200ms);
        return test::xdotoolBlocking({"type", "--delay", "15", text});
    }
    bool clickRecorder(int index)
    {
        const bool clicked = click(m_layout.recorder(index));
        test::spin(300ms);
        return clicked;
    }

private:
    const QProcess& m_process;
    const test::SettingsWindowLayout& m_layout;
    QPoint m_topLeft;
    quint32 m_window = 0;
};

// The settings file of a session, read afresh.
QString storedSetting(const test::Session& session, const QString& key)
{
    return QSettings(session.home() + "/config/Kestrova/Kestrova.conf", QSettings::IniFormat).value(key).toString();
}

// An area capture by its hot key, cancelled with Escape; the settings window comes back.
void captureAndCancel(test::ProcessConsole& console, SettingsWindowOfTheProgram& settings)
{
    const int before = consoleLines(console, overlayShown);
    ASSERT_TRUE(test::xdotoolBlocking({"key", "ctrl+alt+k"}));
    ASSERT_TRUE(test::waitUntil([&] { return consoleLines(console, overlayShown) > before; }, 5s)) << console.text().toStdString();
    EXPECT_TRUE(settings.hidden()) << "the capture hides the settings window";
    test::spin(300ms);
    ASSERT_TRUE(test::xdotoolBlocking({"key", "Escape"}));
    ASSERT_TRUE(settings.shown()) << "the settings window comes back after the capture";
    test::spin(300ms);
}

} // namespace

TEST(KestrovaProcessX11, WhatIsTypedInTheSettingsWindowOutlivesACapture)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    const test::SettingsWindowLayout layout;
    test::Session session;
    ASSERT_TRUE(test::writeFile(session.home() + "/config/Kestrova/Kestrova.conf",
                                "[General]\nuploadProvider=ssh\nscreenshotHotkey=ctrl+alt+k\n"));
    // Without a tray the settings window opens by itself.
    auto process = session.start();
    test::ProcessConsole console(*process);
    ASSERT_TRUE(console.waitFor("Successfully registered area hotkey: ctrl+alt+k")) << console.text().toStdString();
    SettingsWindowOfTheProgram settings(*process, layout);
    ASSERT_TRUE(settings.shown(10s)) << session.logText().toStdString();

    ASSERT_TRUE(settings.openSection(SettingsSection::upload));
    ASSERT_TRUE(settings.typeInto("hostField", "ftp.example.org"));
    ASSERT_NO_FATAL_FAILURE(captureAndCancel(console, settings));

    // A combination recorded and not yet saved, then a capture.
    ASSERT_TRUE(settings.openSection(SettingsSection::hotkeys)); // saves the upload section
    EXPECT_EQ(storedSetting(session, "ftpHost"), "ftp.example.org");
    ASSERT_TRUE(settings.clickRecorder(2));
    ASSERT_TRUE(test::xdotoolBlocking({"key", "ctrl+alt+j"}));
    test::spin(300ms);
    EXPECT_EQ(storedSetting(session, "screenRecordingHotkey"), "");
    ASSERT_NO_FATAL_FAILURE(captureAndCancel(console, settings));

    // Closing keeps what the window holds.
    ASSERT_TRUE(askToClose(settings.window()));
    ASSERT_TRUE(settings.hidden());
    EXPECT_TRUE(test::waitUntil([&] { return storedSetting(session, "screenRecordingHotkey") == "ctrl+alt+j"; }, 3s))
        << storedSetting(session, "screenRecordingHotkey").toStdString();
    EXPECT_EQ(storedSetting(session, "ftpHost"), "ftp.example.org");
    test::stop(*process);
    EXPECT_EQ(process->exitCode(), 0);
}

namespace {

// trayer's panel, which holds the icon it embeds.
QString trayPanel()
{
    const auto found = test::run("/usr/bin/xdotool", {"search", "--name", "^panel$"}, 5s);
    return found.exitCode == 0 ? QString::fromUtf8(found.output).split('\n', Qt::SkipEmptyParts).value(0) : QString();
}

// A click on the tray icon opens the menu; the keys then choose an item in it.
void chooseFromTrayMenu(const QProcess& process, const QStringList& keys)
{
    const QString panel = trayPanel();
    ASSERT_FALSE(panel.isEmpty()) << "no tray panel";
    const int before = visibleWindows(process).size();
    ASSERT_TRUE(test::xdotoolBlocking({"mousemove", "--window", panel, "12", "12"}));
    test::spin(300ms); // Qt drops a press on a window the pointer has not been seen entering yet
    ASSERT_TRUE(test::xdotoolBlocking({"click", "1"}));
    ASSERT_TRUE(test::waitUntil([&] { return visibleWindows(process).size() > before; }, 5s)) << "the tray menu opens";
    test::spin(200ms);
    for (const QString& key : keys) {
        ASSERT_TRUE(test::xdotoolBlocking({"key", key}));
        test::spin(100ms);
    }
}

const QStringList settingsItem{"Down", "Down", "Down", "Down", "Return"};
const QStringList areaCaptureItem{"Down", "Right", "Return"};

} // namespace

TEST(KestrovaProcessX11, ACaptureFromTheTrayMenuEndsListeningForAHotKeyAndTheHotKeysWorkAgain)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    const test::SettingsWindowLayout layout;
    test::TrayHost tray;
    ASSERT_TRUE(tray.running());
    test::Session session;
    ASSERT_TRUE(test::writeFile(session.home() + "/config/Kestrova/Kestrova.conf", "[General]\nscreenshotHotkey=ctrl+alt+k\n"));
    auto process = session.start();
    test::ProcessConsole console(*process);
    ASSERT_TRUE(console.waitFor("Successfully registered area hotkey: ctrl+alt+k")) << console.text().toStdString();
    ASSERT_TRUE(session.waitForLog(launched)) << session.logText().toStdString();
    test::spin(500ms);

    ASSERT_NO_FATAL_FAILURE(chooseFromTrayMenu(*process, settingsItem));
    SettingsWindowOfTheProgram settings(*process, layout);
    ASSERT_TRUE(settings.shown());
    ASSERT_TRUE(settings.openSection(SettingsSection::hotkeys));
    ASSERT_TRUE(settings.clickRecorder(0));
    ASSERT_TRUE(console.waitFor("HotKeyManager: Temporarily disabled all hotkeys", 3s)) << "the field listens";

    // The hot keys are off while the field listens: the capture comes from the menu.
    ASSERT_NO_FATAL_FAILURE(chooseFromTrayMenu(*process, areaCaptureItem));
    ASSERT_TRUE(test::waitUntil([&] { return consoleLines(console, overlayShown) == 1; }, 5s)) << console.text().toStdString();
    test::spin(300ms);
    ASSERT_TRUE(test::xdotoolBlocking({"key", "Escape"}));
    ASSERT_TRUE(settings.shown());
    test::spin(300ms);

    // Back in the window, right away: the area hot key starts a capture again.
    ASSERT_TRUE(test::xdotoolBlocking({"key", "ctrl+alt+k"}));
    EXPECT_TRUE(test::waitUntil([&] { return consoleLines(console, overlayShown) == 2; }, 5s)) << console.text().toStdString();
    test::spin(300ms);
    ASSERT_TRUE(test::xdotoolBlocking({"key", "Escape"}));
    test::stop(*process);
    EXPECT_EQ(process->exitCode(), 0);
}

namespace {

const QStringList quitItem{"Down", "Down", "Down", "Down", "Down", "Return"};

// The credentials record in the session's keyring, as another program reads it.
QJsonObject storedCredentials()
{
    const auto found = test::run("/usr/bin/secret-tool", {"lookup", "service", "Kestrova", "account", "kestrova_credentials"}, 10s);
    return found.exitCode == 0 ? QJsonDocument::fromJson(found.output).object() : QJsonObject();
}

void clearStoredCredentials()
{
    for (const char* account : {"kestrova_credentials", "kestrova_credentials.bak"})
        test::run("/usr/bin/secret-tool", {"clear", "service", "Kestrova", "account", account}, 10s);
}

} // namespace

TEST(KestrovaProcessX11, APasswordTypedWithTheSettingsWindowOpenIsInTheKeyringAfterTheProgramQuits)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    if (test::run("/usr/bin/secret-tool", {"search", "service", "Kestrova"}, 10s).exitCode < 0)
        GTEST_SKIP() << "needs the session's keyring";
    const test::SettingsWindowLayout layout;
    test::TrayHost tray;
    ASSERT_TRUE(tray.running());
    const struct {
        const char* name;
        bool fromTheMenu;
    } ways[] = {{"Quit from the tray menu", true}, {"SIGTERM at the end of the session", false}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        clearStoredCredentials();
        test::Session session;
        ASSERT_TRUE(test::writeFile(session.home() + "/config/Kestrova/Kestrova.conf",
                                    "[General]\nuploadProvider=ssh\nftpHost=ftp.example.org\nftpUsername=anna\n"));
        auto process = session.start();
        ASSERT_TRUE(session.waitForLog(launched)) << session.logText().toStdString();
        test::spin(500ms);
        ASSERT_NO_FATAL_FAILURE(chooseFromTrayMenu(*process, settingsItem));
        SettingsWindowOfTheProgram settings(*process, layout);
        ASSERT_TRUE(settings.shown());
        ASSERT_TRUE(settings.openSection(SettingsSection::upload));
        ASSERT_TRUE(settings.typeInto("passwordField", "s3cret!pw"));
        test::spin(200ms);

        if (way.fromTheMenu)
            ASSERT_NO_FATAL_FAILURE(chooseFromTrayMenu(*process, quitItem));
        else
            ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
        ASSERT_TRUE(test::waitUntil([&] { return process->state() == QProcess::NotRunning; }, 10s));
        EXPECT_EQ(process->exitCode(), 0);
        EXPECT_EQ(storedSetting(session, "ftpHost"), "ftp.example.org");
        EXPECT_FALSE(session.logText().contains("given up")) << session.logText().toStdString();
        EXPECT_EQ(storedCredentials().value("ftpPasswords").toObject().value("anna@ftp.example.org").toString(), "s3cret!pw")
            << session.logText().toStdString();
    }
    clearStoredCredentials();
}
