#include "app/DebugLogger.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace {

QStringList logLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

int threadsNamed(const char* name)
{
    int count = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task) + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            ++count;
    }
    return count;
}

// Polls until no writer thread is left, bounded well past its idle time.
bool writerEndsWithin(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (threadsNamed(DebugLogger::writerThreadName) > 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

void namedOperation()
{
    DebugLogger::shared().logErrorMessage("the disk is full");
}

} // namespace

TEST(DebugLogger, LivesInTheStateFolder)
{
    EXPECT_EQ(DebugLogger::shared().logFilePath(), qEnvironmentVariable("XDG_STATE_HOME") + "/Kestrova/kestrova.log");
    EXPECT_TRUE(QFile::exists(DebugLogger::shared().logFilePath()));
}

TEST(DebugLogger, LineFormat)
{
    auto& logger = DebugLogger::shared();
    logger.log("Application starting up");
    const int line = __LINE__ - 1;
    namedOperation();
    logger.logError({"Kestrova", 5, "Запись слишком короткая"});
    logger.log("two\nlines");
    logger.flush();
    const QStringList lines = logLines(logger.logFilePath());
    ASSERT_GE(lines.size(), 5);
    const QRegularExpression stamp(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
    const QString first = lines[lines.size() - 5];
    EXPECT_TRUE(stamp.match(first).hasMatch()) << first.toStdString();
    EXPECT_TRUE(first.endsWith(QStringLiteral("] [DebugLogger_test.cpp:%1] TestBody: Application starting up").arg(line)))
        << first.toStdString();
    EXPECT_TRUE(lines[lines.size() - 4].endsWith("] namedOperation: ERROR: the disk is full"));
    EXPECT_TRUE(lines[lines.size() - 3].endsWith("] TestBody: ERROR: Запись слишком короткая"));
    EXPECT_TRUE(lines[lines.size() - 2].endsWith("] TestBody: two"));
    EXPECT_EQ(lines.last(), "lines");
}

TEST(DebugLogger, LongLinesAreCutOnACharacterBoundaryWithTheirSizeNoted)
{
    auto& logger = DebugLogger::shared();
    const int bound = DebugLogger::maxLineBytes;
    const QString emoji = QString::fromUtf8("\xF0\x9F\x93\xB7"); // 4 bytes in UTF-8, 2 UTF-16 units
    struct Case {
        std::string what;
        QString message;
    };
    std::vector<Case> cases = {
        {"an error page of 200 KB", "<html>" + QString(200 * 1024, 'x') + "</html>"},
        {"two-byte letters", QString(5000, QChar(0x0436))},
        {"three-byte characters", QString("a") + QString(3000, QChar(0x4E2D))},
        {"many physical lines", QString("line\n").repeated(2000)},
    };
    // The bound falls on each byte of a four-byte character in turn.
    for (int pad = 0; pad < 4; ++pad)
        cases.push_back({"four-byte characters after " + std::to_string(pad), QString(pad, 'p') + emoji.repeated(3000)});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString marker = "[ref " + QString::number(qHash(c.message)) + "] ";
        logger.log(marker + c.message);
        const int line = __LINE__ - 1;
        logger.flush();
        QFile file(logger.logFilePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray all = file.readAll();
        const qsizetype start = all.lastIndexOf(marker.toUtf8());
        ASSERT_GE(start, 0);
        const qsizetype lineStart = all.lastIndexOf('\n', start) + 1;
        const QByteArray written = all.mid(lineStart, all.size() - 1 - lineStart); // one entry, its line feed off
        const qsizetype whole = (start - lineStart) + (marker + c.message).toUtf8().size();
        EXPECT_LE(written.size(), bound);
        EXPECT_GE(written.size(), bound - 8) << "cut far below the bound";
        const QString text = QString::fromUtf8(written);
        EXPECT_EQ(text.toUtf8(), written) << "not valid UTF-8";
        EXPECT_FALSE(text.contains(QChar::ReplacementCharacter));
        const QString note = QStringLiteral("\u2026 [cut from %1 bytes]").arg(whole);
        EXPECT_TRUE(text.endsWith(note)) << text.right(80).toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("[DebugLogger_test.cpp:%1] TestBody: ").arg(line)));
        // What is kept is the line's beginning, byte for byte.
        const QString kept = text.left(text.size() - note.size());
        EXPECT_TRUE((marker + c.message).startsWith(kept.mid(kept.indexOf(marker))));
    }

    // A line that fits is written whole, up to the last byte of the bound.
    const QString prefix = DebugLogger::formatLine({}, std::source_location::current());
    const QString fitting = QString(bound - prefix.toUtf8().size(), 'f');
    logger.log(fitting);
    logger.flush();
    const QStringList lines = logLines(logger.logFilePath());
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().endsWith(fitting)) << lines.last().right(60).toStdString();
    EXPECT_EQ(lines.last().toUtf8().size(), bound);
}

TEST(DebugLogger, FunctionNames)
{
    const struct {
        const char* signature;
        const char* name;
    } cases[] = {
        {"void AppDelegate::applicationDidFinishLaunching()", "applicationDidFinishLaunching"},
        {"AppDelegate::captureScreen()::<lambda(QImage)>", "captureScreen"},
        {"static DebugLogger& DebugLogger::shared()", "shared"},
        {"int main(int, char**)", "main"},
        {"const QString* ns::Type::name(int) const", "name"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DebugLogger::functionName(c.signature).toStdString(), c.name);
}

TEST(DebugLogger, LinesFromManyThreadsAreAllWrittenWhole)
{
    auto& logger = DebugLogger::shared();
    const int before = logLines(logger.logFilePath()).size();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &logger] {
            for (int i = 0; i < 100; ++i)
                logger.log(QStringLiteral("thread %1 line %2 ").arg(t).arg(i) + QString(200, 'x'));
        });
    for (auto& th : threads)
        th.join();
    logger.flush();
    const QStringList lines = logLines(logger.logFilePath());
    ASSERT_EQ(lines.size() - before, 400);
    for (int i = before; i < lines.size(); ++i)
        ASSERT_TRUE(lines[i].endsWith(QString(200, 'x'))) << lines[i].toStdString();
}

TEST(DebugLogger, WriterEndsWhenIdleAndReturnsForTheNextLine)
{
    auto& logger = DebugLogger::shared();
    const auto limit = DebugLogger::writerIdleTime + std::chrono::seconds(5);
    for (int round = 0; round < 2; ++round) {
        logger.log(QStringLiteral("round %1 first").arg(round));
        logger.log(QStringLiteral("round %1 second").arg(round));
        logger.flush();
        EXPECT_EQ(threadsNamed(DebugLogger::writerThreadName), 1) << "round " << round;
        ASSERT_TRUE(writerEndsWithin(limit)) << "round " << round;
        const QStringList lines = logLines(logger.logFilePath());
        ASSERT_GE(lines.size(), 2);
        EXPECT_TRUE(lines[lines.size() - 2].endsWith(QStringLiteral("round %1 first").arg(round)));
        EXPECT_TRUE(lines.last().endsWith(QStringLiteral("round %1 second").arg(round)));
    }
}

TEST(DebugLogger, ExitDrainsQueuedLines)
{
    QTemporaryDir state;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("KESTROVA_TEST_HOME", state.path());
    const auto result = test::run(QCoreApplication::applicationFilePath(),
                                  {"--gtest_filter=DebugLoggerChild.*", "--gtest_also_run_disabled_tests"},
                                  std::chrono::seconds(30), env);
    ASSERT_EQ(result.exitCode, 0) << result.output.toStdString();
    const QStringList lines = logLines(state.path() + "/.local/state/Kestrova/kestrova.log");
    ASSERT_EQ(lines.size(), 2000);
    EXPECT_TRUE(lines.last().endsWith("last line 1999"));
}

TEST(DebugLoggerChild, DISABLED_LogsAndExitsWithoutFlushing)
{
    for (int i = 0; i < 2000; ++i)
        DebugLogger::shared().log(QStringLiteral("last line %1").arg(i));
}

TEST(DebugLogger, DeletedFileIsNotRecreated)
{
    QTemporaryDir state;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("KESTROVA_TEST_HOME", state.path());
    const auto result = test::run(QCoreApplication::applicationFilePath(),
                                  {"--gtest_filter=DebugLoggerDeleteChild.*", "--gtest_also_run_disabled_tests"},
                                  std::chrono::seconds(30), env);
    ASSERT_EQ(result.exitCode, 0) << result.output.toStdString();
    EXPECT_FALSE(QFile::exists(state.path() + "/.local/state/Kestrova/kestrova.log"));
}

TEST(DebugLoggerDeleteChild, DISABLED_DeleteThenLog)
{
    auto& logger = DebugLogger::shared();
    logger.log("first");
    logger.flush();
    QFile::remove(logger.logFilePath());
    logger.log("lost");
    logger.flush();
}
