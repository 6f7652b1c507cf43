// The built program as a process, each copy with a private home, runtime folder and log.
#include "support/ProcessSession.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using test::Session;
using test::stop;

namespace {

const QString launched = "Application finished launching";

} // namespace

TEST(KestrovaProcess, SecondInstanceTerminatesUnlessAllowed)
{
    Session session;
    auto first = session.start();
    ASSERT_TRUE(session.waitForLog(launched)) << session.logText().toStdString();

    // Only exactly "1" allows a second copy.
    int refused = 0;
    const char* const values[] = {nullptr, "true", "01", " 1", ""};
    for (const char* value : values) {
        QMap<QString, QString> extra;
        if (value)
            extra.insert("KESTROVA_ALLOW_MULTIPLE", value);
        auto second = session.start(extra);
        ASSERT_TRUE(second->waitForFinished(10000)) << (value ? value : "<unset>");
        EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second->exitCode(), 0);
        EXPECT_EQ(session.count("applicationDidFinishLaunching: Another instance is already running, terminating"), ++refused);
    }
    EXPECT_EQ(session.count(launched), 1);

    // However long the first copy has been running.
    QFile lock(session.runtimeDir() + "/app.kestrova.Kestrova.lock");
    ASSERT_TRUE(lock.exists());
    ASSERT_TRUE(lock.open(QIODevice::ReadWrite));
    ASSERT_TRUE(lock.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    lock.close();
    auto late = session.start();
    ASSERT_TRUE(late->waitForFinished(10000));
    EXPECT_EQ(session.count("Another instance is already running, terminating"), ++refused);

    auto allowed = session.start({{"KESTROVA_ALLOW_MULTIPLE", "1"}});
    EXPECT_TRUE(session.waitForLog(launched, 2));
    EXPECT_EQ(allowed->state(), QProcess::Running);
    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_EQ(session.count("Another instance is already running, terminating"), refused);
    stop(*allowed);
    stop(*first);
}

TEST(KestrovaProcess, WithoutAnXDisplayItSaysSoAndExits)
{
    // A console, a Wayland-only session, an empty DISPLAY: Qt picks its default platform.
    struct Case {
        const char* name;
        QMap<QString, QString> env;
    };
    const Case cases[] = {
        {"console", {}},
        {"Wayland only", {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_SESSION_TYPE", "wayland"}}},
        {"empty DISPLAY", {{"DISPLAY", ""}}},
        {"xcb asked for", {{"QT_QPA_PLATFORM", "xcb"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session session;
        QProcessEnvironment env = session.environment(c.env);
        if (!c.env.contains("DISPLAY"))
            env.remove("DISPLAY");
        if (!c.env.contains("QT_QPA_PLATFORM"))
            env.remove("QT_QPA_PLATFORM");
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(test::kestrovaBinary(), {});
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 1);
        EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
        const QString error = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(error.count('\n'), 1) << error.toStdString();
        EXPECT_TRUE(error.endsWith('\n'));
        EXPECT_TRUE(error.contains("needs an X11 session or XWayland")) << error.toStdString();
        EXPECT_TRUE(error.contains("screen") && error.contains("hot keys")) << error.toStdString();
        // Before anything else: no log, no lock.
        EXPECT_TRUE(session.logText().isEmpty());
        EXPECT_FALSE(QFile::exists(session.runtimeDir() + "/app.kestrova.Kestrova.lock"));
    }
}

TEST(KestrovaProcess, ALockLeftByAKilledCopyDoesNotBlock)
{
    Session session;
    auto first = session.start();
    ASSERT_TRUE(session.waitForLog(launched));
    stop(*first, SIGKILL);
    auto second = session.start();
    EXPECT_TRUE(session.waitForLog(launched, 2)) << session.logText().toStdString();
    EXPECT_EQ(session.count("Another instance is already running, terminating"), 0);
    stop(*second);
}

TEST(KestrovaProcess, SignalsRunTheShutdownSequence)
{
    for (int signal : {SIGTERM, SIGINT}) {
        Session session;
        auto process = session.start();
        ASSERT_TRUE(session.waitForLog("KESTROVA_DEBUG_SETUP=<nil> KESTROVA_DEBUG_AUTO=<nil>")) << session.logText().toStdString();
        ::kill(static_cast<pid_t>(process->processId()), signal);
        ASSERT_TRUE(process->waitForFinished(10000)) << signal;
        EXPECT_EQ(process->exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(process->exitCode(), 0) << signal;
        EXPECT_TRUE(process->readAll().contains("Kestrova app terminating\n")) << signal;
        const QStringList lines = session.logLines();
        ASSERT_GE(lines.size(), 2);
        EXPECT_TRUE(lines[lines.size() - 2].endsWith("applicationWillTerminate: Application will terminate")) << signal;
        EXPECT_TRUE(QRegularExpression(R"(logLifecycleState: Lifecycle: applicationWillTerminate \| policy=\w+ \| windows=\[.*\] \| anchor=nil$)")
                        .match(lines.last())
                        .hasMatch())
            << lines.last().toStdString();
    }
}

TEST(KestrovaProcess, DevelopmentHooks)
{
    // The hooks are part of the launch: their lines, the delayed one too, carry its name.
    const QString launch = "applicationDidFinishLaunching: ";
    const QString autoLine = launch + "KESTROVA_DEBUG_AUTO active - simulating selection with rect (200.0, 200.0, 800.0, 600.0)";
    const QString selection = "AppDelegate: screenRecordingSelectionDidFinish called with rect: Optional((200.0, 200.0, 800.0, 600.0))";
    const QString setupLine = launch + "Application launching with KESTROVA_DEBUG_SETUP - scheduling debug setup window";
    const QString setupShown = launch + "Showing debug RecordingSetupWindow for rect: (200.0, 200.0, 800.0, 600.0)";
    const QString setupWindow = "AppDelegate: Creating RecordingSetupWindow for rect: (200.0, 200.0, 800.0, 600.0)";
    struct Case {
        QMap<QString, QString> env;
        QString envLine;
        QString scheduled; // "" when nothing is scheduled
        QString delayed;
    };
    const Case cases[] = {
        {{{"KESTROVA_DEBUG_AUTO", "1"}, {"KESTROVA_DEBUG_SETUP", "1"}}, "KESTROVA_DEBUG_SETUP=1 KESTROVA_DEBUG_AUTO=1", autoLine, selection},
        {{{"KESTROVA_DEBUG_SETUP", "1"}}, "KESTROVA_DEBUG_SETUP=1 KESTROVA_DEBUG_AUTO=<nil>", setupLine, setupShown},
        {{{"KESTROVA_DEBUG_AUTO", "true"}, {"KESTROVA_DEBUG_SETUP", "01"}}, "KESTROVA_DEBUG_SETUP=01 KESTROVA_DEBUG_AUTO=true", "", ""},
        {{{"KESTROVA_DEBUG_AUTO", ""}}, "KESTROVA_DEBUG_SETUP=<nil> KESTROVA_DEBUG_AUTO=", "", ""},
    };
    // All copies at once, each in its own session.
    std::vector<std::unique_ptr<Session>> sessions;
    std::vector<std::unique_ptr<QProcess>> processes;
    for (const Case& c : cases) {
        sessions.push_back(std::make_unique<Session>());
        processes.push_back(sessions.back()->start(c.env));
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const Session& s = *sessions[i];
        SCOPED_TRACE(c.envLine.toStdString());
        ASSERT_TRUE(s.waitForLog(launch + c.envLine)) << s.logText().toStdString();
        if (!c.scheduled.isEmpty()) {
            // Written right after the variables' line, but the log's writer thread may lag behind.
            ASSERT_TRUE(s.waitForLog(c.scheduled)) << s.logText().toStdString();
            EXPECT_EQ(s.count(c.scheduled), 1);
            ASSERT_TRUE(s.waitForLog(c.delayed, 1, 5s)) << s.logText().toStdString();
            const qint64 delay = s.timeOf(c.scheduled).msecsTo(s.timeOf(c.delayed));
            EXPECT_GE(delay, 950);
            EXPECT_LT(delay, 3000);
        }
    }
    test::spin(1500ms); // past every delayed hook
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const Session& s = *sessions[i];
        SCOPED_TRACE(c.envLine.toStdString());
        // Only the chosen hook, once.
        for (const QString& line : {autoLine, selection, setupLine, setupShown, setupWindow}) {
            // Both hooks end at the setup panel: the simulated selection goes on to it.
            const bool chosen = line == c.scheduled || line == c.delayed
                || ((c.delayed == setupShown || c.delayed == selection) && line == setupWindow);
            EXPECT_EQ(s.count(line), chosen ? 1 : 0) << line.toStdString();
        }
        stop(*processes[i]);
    }
}
