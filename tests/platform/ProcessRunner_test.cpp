#include "platform/ProcessRunner.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using platform::ProcessRequest;
using platform::ProcessResult;
using Outcome = platform::ProcessResult::Outcome;

namespace {

ProcessRequest shell(const QString& script)
{
    ProcessRequest request;
    request.program = "/bin/sh";
    request.arguments = {"-c", script};
    return request;
}

} // namespace

TEST(ProcessRunner, OutcomesOfRuns)
{
    const struct {
        const char* script;
        Outcome outcome;
        int exitCode;
        const char* output;
    } cases[] = {
        {"echo out; echo err >&2; echo again", Outcome::exited, 0, "out\nerr\nagain\n"},
        {"printf 'no luck' >&2; exit 3", Outcome::exited, 3, "no luck"},
        {"kill -9 $$", Outcome::crashed, -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const ProcessResult result = platform::ProcessRunner::run(shell(c.script));
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.output, QByteArray(c.output));
        EXPECT_EQ(result.succeeded(), c.outcome == Outcome::exited && c.exitCode == 0);
    }
}

TEST(ProcessRunner, ProgramsThatCannotStartAreFailures)
{
    for (const QString& program : {QString("/usr/bin/no-such-program"), QString("sh"), QDir::tempPath()}) {
        SCOPED_TRACE(program.toStdString());
        ProcessRequest request;
        request.program = program;
        const ProcessResult result = platform::ProcessRunner::run(request);
        EXPECT_EQ(result.outcome, Outcome::failedToStart);
        EXPECT_FALSE(result.succeeded());
        EXPECT_FALSE(result.errorText.isEmpty());
    }
}

TEST(ProcessRunner, InputAndEnvironmentReachTheProgram)
{
    ProcessRequest request = shell("cat; printf '|%s|%s' \"$KESTROVA_A\" \"$HOME\"");
    request.standardInput = QByteArray("line one\nsecret \"x\"\0tail", 24);
    request.environment = {{"KESTROVA_A", "значение с пробелом"}};
    const ProcessResult result = platform::ProcessRunner::run(request);
    ASSERT_TRUE(result.succeeded()) << result.output.toStdString();
    EXPECT_EQ(result.output, request.standardInput + "|значение с пробелом|" + qgetenv("HOME"));

    // Input is closed even when empty, so a reader never waits.
    request = shell("cat; echo done");
    request.timeLimit = std::chrono::seconds(5);
    EXPECT_EQ(platform::ProcessRunner::run(request).output, "done\n");

    // A large input that the program reads slowly is written whole.
    request = shell("sleep 0.2; wc -c");
    request.standardInput = QByteArray(3 * 1024 * 1024, 'x');
    EXPECT_EQ(platform::ProcessRunner::run(request).output.trimmed(), "3145728");
}

TEST(ProcessRunner, ATimeLimitKillsTheProgram)
{
    ProcessRequest request = shell("echo started; exec sleep 30");
    request.timeLimit = std::chrono::milliseconds(300);
    QElapsedTimer timer;
    timer.start();
    const ProcessResult result = platform::ProcessRunner::run(request);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(result.outcome, Outcome::timedOut);
    EXPECT_FALSE(result.succeeded());
    EXPECT_EQ(result.output, "started\n");
}

TEST(ProcessRunner, LargeOutputDoesNotStallAndRunsInParallel)
{
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&good, i] {
            ProcessRequest request = shell(QString("head -c %1 /dev/zero").arg(2 * 1024 * 1024 + i));
            request.timeLimit = std::chrono::seconds(20);
            const ProcessResult result = platform::ProcessRunner::run(request);
            if (result.succeeded() && result.output.size() == 2 * 1024 * 1024 + i)
                ++good;
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(good.load(), 4);
}

TEST(ProcessRunner, ObserversSeeTheLiveProcess)
{
    std::atomic<qint64> perRequest{0};
    QByteArray cmdline;
    platform::ProcessRunner::setStartObserver([&](qint64 pid, const ProcessRequest& request) {
        EXPECT_EQ(request.program, "/bin/sh");
        // The program waits for its input, so it is alive; the entry can still read empty for a
        // moment around the exec on a loaded machine.
        for (int attempt = 0; attempt < 100 && cmdline.isEmpty(); ++attempt) {
            QFile file(QString("/proc/%1/cmdline").arg(pid));
            if (file.open(QIODevice::ReadOnly))
                cmdline = file.readAll();
            if (cmdline.isEmpty())
                QThread::msleep(10);
        }
    });
    ProcessRequest request = shell("read line; echo $line");
    request.standardInput = "hello\n";
    request.onStarted = [&](qint64 pid) { perRequest = pid; };
    const ProcessResult result = platform::ProcessRunner::run(request);
    platform::ProcessRunner::setStartObserver(nullptr);
    EXPECT_EQ(result.output, "hello\n");
    EXPECT_GT(perRequest.load(), 0);
    EXPECT_EQ(cmdline, QByteArray("/bin/sh") + '\0' + "-c" + '\0' + "read line; echo $line" + '\0');
}
