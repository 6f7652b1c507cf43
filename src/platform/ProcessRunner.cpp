#include "platform/ProcessRunner.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

#include <climits>
#include <csignal>
#include <memory>
#include <mutex>

#include <sys/prctl.h>
#include <unistd.h>

namespace platform {
namespace {

// After a kill, how long to wait for the process to be reaped.
constexpr int kReapAfterKillMs = 5000;

std::mutex& observerMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<ProcessRunner::StartObserver>& observerSlot()
{
    static std::shared_ptr<ProcessRunner::StartObserver> slot;
    return slot;
}

std::shared_ptr<ProcessRunner::StartObserver> currentObserver()
{
    std::lock_guard lock(observerMutex());
    return observerSlot();
}

} // namespace

void ProcessRunner::setStartObserver(StartObserver observer)
{
    std::lock_guard lock(observerMutex());
    observerSlot() = observer ? std::make_shared<StartObserver>(std::move(observer)) : nullptr;
}

ProcessResult ProcessRunner::run(const ProcessRequest& request)
{
    ProcessResult result;
    if (!QDir::isAbsolutePath(request.program)) {
        result.errorText = QStringLiteral("Program path is not absolute: ") + request.program;
        return result;
    }

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    // The program dies with us, even when we are killed: the signal comes when the thread that
    // started it ends, and that is this one, which waits below until the program has ended.
    // Checked again after the call: a parent that died before it would never send the signal.
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
    });
    if (!request.environment.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (auto it = request.environment.cbegin(); it != request.environment.cend(); ++it)
            environment.insert(it.key(), it.value());
        process.setProcessEnvironment(environment);
    }
    process.start(request.program, request.arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(-1)) {
        result.errorText = process.errorString();
        return result;
    }
    if (request.onStarted)
        request.onStarted(process.processId());
    if (auto observer = currentObserver())
        (*observer)(process.processId(), request);

    if (!request.standardInput.isEmpty())
        process.write(request.standardInput);
    // Closed after the buffered input has been written; a program reading to the end sees EOF.
    process.closeWriteChannel();

    const auto limit = request.timeLimit.count();
    if (!process.waitForFinished(limit > 0 && limit < INT_MAX ? static_cast<int>(limit) : -1)) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(kReapAfterKillMs);
            result.outcome = ProcessResult::Outcome::timedOut;
            result.output = process.readAll();
            return result;
        }
    }
    result.output = process.readAll();
    if (process.exitStatus() == QProcess::CrashExit) {
        result.outcome = ProcessResult::Outcome::crashed;
        result.errorText = process.errorString();
        return result;
    }
    result.outcome = ProcessResult::Outcome::exited;
    result.exitCode = process.exitCode();
    return result;
}

} // namespace platform
