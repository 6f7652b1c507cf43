#pragma once
// One cycle of what users did before a quit that aborted: the built program records 2 s of the
// area of its development hook with the microphone, opens the video preview, and gets SIGTERM.
// Shared by a test (a few cycles) and a benchmark (30 cycles); needs the X server and PulseAudio
// (scripts/headless), and nothing of GoogleTest.
#include "recording/RecordingControlsView.h"
#include "recording/RecordingControlsWindow.h"
#include "recording/RecordingSetupView.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QToolButton>

#include <chrono>
#include <csignal>
#include <functional>

namespace micquit {

struct CycleResult {
    bool reachedPreview = false;
    bool microphoneStarted = false;
    bool exited = false;     // ended within the time given
    bool crashed = false;    // ended by a signal (an assertion's abort is SIGABRT)
    int exitCode = -1;
    QString step;            // where the cycle stopped short, when it did
    QByteArray output;       // the program's stdout and stderr
    QString log;             // its diagnostic log
};

inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeout.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

inline QByteArray xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("/usr/bin/xdotool"), arguments);
    process.waitForFinished(5000);
    return process.readAllStandardOutput();
}

// The environment of a private session in `home`, whose folders it makes, with the development
// hook that selects an area a second after launch.
inline QProcessEnvironment hookSession(const QString& home)
{
    for (const char* sub : {"state", "config", "run"})
        QDir().mkpath(home + '/' + sub);
    QFile::setPermissions(home + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The sound server's socket lies in the runtime folder that the program's own one replaces.
    if (!env.contains("PULSE_SERVER") && env.contains("XDG_RUNTIME_DIR"))
        env.insert("PULSE_SERVER", "unix:" + env.value("XDG_RUNTIME_DIR") + "/pulse/native");
    env.insert("HOME", home);
    env.insert("XDG_STATE_HOME", home + "/state");
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_RUNTIME_DIR", home + "/run");
    env.remove("KESTROVA_DEBUG_SETUP");
    env.insert("KESTROVA_DEBUG_AUTO", "1");
    return env;
}

// Where `button` lies in a window of `size` laid out like `window`.
inline QPoint buttonCentre(QWidget& window, QToolButton* button)
{
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.show();
    QCoreApplication::processEvents();
    return button->mapTo(&window, button->rect().center());
}

// `quitAfter`: how long the preview is open before SIGTERM (the abort depended on that timing).
inline CycleResult runCycle(const QString& binary, std::chrono::milliseconds quitAfter = std::chrono::milliseconds(700),
                            std::chrono::milliseconds recordFor = std::chrono::seconds(2))
{
    using namespace std::chrono_literals;
    CycleResult result;
    QTemporaryDir home;
    const QProcessEnvironment env = hookSession(home.path());
    const QString logPath = home.path() + "/state/Kestrova/kestrova.log";
    const auto logHas = [&](const QString& text) {
        QFile log(logPath);
        return log.open(QIODevice::ReadOnly) && log.readAll().contains(text.toUtf8());
    };

    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(binary, {});
    const auto finish = [&](const QString& step) {
        result.step = step;
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
        result.output += process.readAll();
        QFile log(logPath);
        if (log.open(QIODevice::ReadOnly))
            result.log = QString::fromUtf8(log.readAll());
        return result;
    };
    if (!process.waitForStarted(5000))
        return finish("start");

    // The hook selects the area and the setup panel takes the keyboard.
    if (!waitUntil([&] { return logHas("RecordingSetupWindowController: window made key and front"); }, 15s))
        return finish("setup panel");
    QPoint panel;
    if (!waitUntil(
            [&] {
                const QString geometry = QString::fromUtf8(xdotool({"getwindowfocus", "getwindowgeometry"}));
                const auto match = QRegularExpression(R"(Position: (\d+),(\d+).*\n\s*Geometry: 320x48)").match(geometry);
                if (match.hasMatch())
                    panel = QPoint(match.captured(1).toInt(), match.captured(2).toInt());
                return match.hasMatch();
            },
            5s))
        return finish("setup panel focus");
    RecordingSetupView layout(QRectF(200, 200, 800, 600), [](const RecordingSettings&) {}, [] {});
    layout.resize(320, RecordingSetupView::kHeight);
    const QPoint microphone = panel + buttonCentre(layout, layout.microphoneButton());
    xdotool({"mousemove", QString::number(microphone.x()), QString::number(microphone.y()), "click", "1"});
    QCoreApplication::processEvents();
    QThread::msleep(200);
    xdotool({"key", "Return"});
    if (!waitUntil([&] { return logHas("AppDelegate: Recording controls window created and shown"); }, 10s))
        return finish("recording");
    // The stop button where the placement put the controls window.
    QString frameText;
    {
        QFile log(logPath);
        if (log.open(QIODevice::ReadOnly))
            for (const QString& line : QString::fromUtf8(log.readAll()).split('\n'))
                if (const auto match = QRegularExpression(R"(Setting controls window frame to \((.*)\)$)").match(line);
                    match.hasMatch())
                    frameText = match.captured(1);
    }
    const QStringList numbers = frameText.split(", ");
    if (numbers.size() != 4)
        return finish("controls window frame");
    RecordingControlsWindow controls([] {});
    const QPoint stop = QPoint(int(numbers[0].toDouble()), int(numbers[1].toDouble()))
        + buttonCentre(controls, controls.controlsView()->stopButton());
    waitUntil([] { return false; }, recordFor);
    xdotool({"mousemove", QString::number(stop.x()), QString::number(stop.y()), "click", "1"});
    if (!waitUntil([&] { return logHas("AppDelegate: Video preview window setup complete"); }, 20s))
        return finish("video preview");
    result.reachedPreview = true;
    waitUntil([] { return false; }, quitAfter);

    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    result.exited = process.waitForFinished(15000);
    result.output += process.readAll();
    result.microphoneStarted = result.output.contains("Kestrova: Audio engine started for microphone recording");
    if (!result.exited)
        return finish("quit");
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    return finish({});
}

} // namespace micquit
