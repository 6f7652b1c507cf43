#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <optional>
#include <cstdlib>

#include <xcb/xcb.h>

namespace test {
namespace {
QString homePath;
}

QString testHome()
{
    return homePath;
}

void setTestHome(const QString& path)
{
    homePath = path;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() >= timeout.count())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

void spin(std::chrono::milliseconds duration)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < duration.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

QString sourcePath(const QString& relative)
{
    return QStringLiteral(KESTROVA_SOURCE_DIR "/") + relative;
}

QString kestrovaBinary()
{
    return QStringLiteral(KESTROVA_BINARY_DIR "/kestrova");
}

ProcessResult run(const QString& program, const QStringList& arguments, std::chrono::milliseconds timeout,
                  const QProcessEnvironment& environment, const QByteArray& input)
{
    ProcessResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return result;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(static_cast<int>(timeout.count()))) {
        process.kill();
        process.waitForFinished(2000);
        result.output = process.readAll();
        return result;
    }
    result.finished = true;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = process.readAll();
    return result;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush();
}

bool haveDisplay()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    return run(QStringLiteral("/usr/bin/xdpyinfo"), {}, std::chrono::seconds(5)).exitCode == 0;
}

bool xdotool(const QStringList& arguments, QByteArray* output)
{
    QProcess process;
    process.start(QStringLiteral("/usr/bin/xdotool"), arguments);
    if (!process.waitForStarted(5000))
        return false;
    const bool done = waitUntil([&] { return process.state() == QProcess::NotRunning; }, std::chrono::seconds(10));
    if (!done)
        process.kill();
    process.waitForFinished(1000);
    if (output)
        *output = process.readAllStandardOutput();
    const bool succeeded = done && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    // The caller's assertion names the call; what xdotool said about it goes to the test's log.
    if (const QByteArray errors = process.readAllStandardError(); !succeeded && !errors.isEmpty())
        std::fprintf(stderr, "xdotool %s: %s\n", qUtf8Printable(arguments.join(' ')), errors.trimmed().constData());
    return succeeded;
}

bool xdotoolBlocking(const QStringList& arguments)
{
    const ProcessResult result = run(QStringLiteral("/usr/bin/xdotool"), arguments, std::chrono::seconds(10));
    const bool succeeded = result.finished && result.exitCode == 0;
    if (!succeeded && !result.output.isEmpty())
        std::fprintf(stderr, "xdotool %s: %s\n", qUtf8Printable(arguments.join(' ')), result.output.trimmed().constData());
    return succeeded;
}

QStringList xdotoolDrag(QPoint from, QPoint to)
{
    QStringList steps{"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown", "1"};
    for (int i = 1; i <= 4; ++i) {
        const QPoint p = from + (to - from) * i / 4;
        steps << "mousemove" << QString::number(p.x()) << QString::number(p.y()) << "sleep" << "0.05";
    }
    steps << "mouseup" << "1";
    return steps;
}

std::optional<quint32> visibleWindowNamed(const QString& name)
{
    QByteArray ids;
    if (!xdotool({"search", "--onlyvisible", "--name", name}, &ids))
        return std::nullopt;
    const QList<QByteArray> list = ids.trimmed().split('\n');
    if (list.isEmpty() || list.last().isEmpty())
        return std::nullopt;
    return quint32(list.last().toULong());
}

std::optional<QRect> visibleWindowGeometry(const QString& name)
{
    const std::optional<quint32> id = visibleWindowNamed(name);
    if (!id)
        return std::nullopt;
    QByteArray shell;
    if (!xdotool({"getwindowgeometry", "--shell", QString::number(*id)}, &shell))
        return std::nullopt;
    QMap<QString, int> values;
    for (const QByteArray& line : shell.split('\n'))
        if (const qsizetype eq = line.indexOf('='); eq > 0)
            values.insert(QString::fromLatin1(line.left(eq)), line.mid(eq + 1).toInt());
    return QRect(values.value("X"), values.value("Y"), values.value("WIDTH"), values.value("HEIGHT"));
}

namespace {
// The modifier state of the core keyboard, from the pointer query on the root window.
std::optional<uint16_t> modifierState()
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    std::optional<uint16_t> mask;
    if (!xcb_connection_has_error(connection)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        if (xcb_query_pointer_reply_t* reply =
                xcb_query_pointer_reply(connection, xcb_query_pointer(connection, screen->root), nullptr)) {
            mask = reply->mask;
            std::free(reply);
        }
    }
    xcb_disconnect(connection);
    return mask;
}
} // namespace

bool releaseLockKeys()
{
    const std::optional<uint16_t> mask = modifierState();
    if (!mask)
        return false;
    if ((*mask & XCB_MOD_MASK_LOCK) && !xdotoolBlocking({QStringLiteral("key"), QStringLiteral("Caps_Lock")}))
        return false;
    if ((*mask & XCB_MOD_MASK_2) && !xdotoolBlocking({QStringLiteral("key"), QStringLiteral("Num_Lock")}))
        return false;
    const std::optional<uint16_t> after = modifierState();
    return after && !(*after & (XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2));
}

} // namespace test
