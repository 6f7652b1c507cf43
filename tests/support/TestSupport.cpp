#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QThread>

#include <cstdio>

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

} // namespace test
