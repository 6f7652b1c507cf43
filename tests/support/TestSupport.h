#pragma once

#include <QByteArray>
#include <QPoint>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

namespace test {

// The private home folder of this test binary.
QString testHome();
void setTestHome(const QString& path);

// Processes Qt events until `condition` holds or `timeout` passes; true when it held.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
// Processes Qt events for `duration`.
void spin(std::chrono::milliseconds duration);

// A file under the source tree, e.g. "tests/fakes/cloud.py".
QString sourcePath(const QString& relative);
// The built kestrova program.
QString kestrovaBinary();
// Writes `bytes` to `path`, making its folder first; true when all of it was written.
bool writeFile(const QString& path, const QByteArray& bytes);

struct ProcessResult {
    int exitCode = -1;
    bool finished = false; // false: timed out and killed
    QByteArray output;     // stdout and stderr merged
};
// Runs a program to completion with a time limit.
ProcessResult run(const QString& program, const QStringList& arguments,
                  std::chrono::milliseconds timeout = std::chrono::seconds(30),
                  const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                  const QByteArray& input = {});

// True when an X server is reachable on $DISPLAY.
bool haveDisplay();
// Runs xdotool while the event loop keeps running (our windows must answer meanwhile); true when
// it finished within 10 s and succeeded. `output` receives what it printed; what it reported on a
// failure goes to standard error.
bool xdotool(const QStringList& arguments, QByteArray* output = nullptr);
// The same with the event loop standing still: what xdotool sent is queued, not yet handled, when it
// returns, and a press and its release reach the application together.
bool xdotoolBlocking(const QStringList& arguments);
// xdotool steps for a left-button drag from `from` to `to` in four moves with short pauses, so the
// window under the pointer sees the motion between the press and the release.
QStringList xdotoolDrag(QPoint from, QPoint to);
// The X id of the last visible window whose name contains `name`, as xdotool finds it.
std::optional<quint32> visibleWindowNamed(const QString& name);
// The geometry of that window as xdotool reports it.
std::optional<QRect> visibleWindowGeometry(const QString& name);
// Turns CapsLock and NumLock off on the X server (xdotool can leave NumLock on after typing a
// keypad key); passive grabs of exact modifiers only match with both off. True when both are off.
bool releaseLockKeys();

} // namespace test
