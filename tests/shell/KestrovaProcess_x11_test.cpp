// The built program on the test X server: a hot key from the settings file reaches the delegate.
#include "platform/FileWriteCounter.h"
#include "recording/MediaFileProbe.h"
#include "recording/RecordingControlsView.h"
#include "recording/RecordingControlsWindow.h"
#include "support/ProcessConsole.h"
#include "support/ProcessSession.h"
#include "support/TrayHost.h"

#include <QToolButton>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <xcb/xcb.h>

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
