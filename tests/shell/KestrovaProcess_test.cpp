// The built program as a process, each copy with a private home, runtime folder and log.
#include "support/ProcessConsole.h"
#include "support/ProcessSession.h"
#include "support/ThrowAwayUser.h"

#include <QLocalServer>
#include <QLockFile>
#include <QRegularExpression>

#include <sys/stat.h>

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

namespace {

// What another local user can leave where the program looks for its runtime folder: a lock that
// reads as held by a live copy (this test process holds it) and a socket of their own listening.
class PlantedRuntimeFolder {
public:
    enum class Kind {
        otherUsersFolder,
        linkToOtherUsersFolder,
        ourFolderOpenToAll,
    };

    PlantedRuntimeFolder(const test::ThrowAwayUser& owner, const QString& path, Kind kind)
        : m_path(path)
        , m_folder(kind == Kind::linkToOtherUsersFolder ? path + "-target" : path)
    {
        QDir().mkpath(m_folder);
        m_ok = ::chmod(QFile::encodeName(m_folder).constData(), 0777) == 0
            && (kind == Kind::ourFolderOpenToAll || owner.own(m_folder));
        if (kind == Kind::linkToOtherUsersFolder)
            m_ok = m_ok && QFile::link(m_folder, path) && owner.own(path);
        m_lock = std::make_unique<QLockFile>(lockPath());
        m_ok = m_ok && m_lock->tryLock(0) && owner.own(lockPath());
        QObject::connect(&m_server, &QLocalServer::newConnection, [this] { ++m_connections; });
        m_ok = m_ok && m_server.listen(m_folder + "/app.kestrova.Kestrova.socket") && owner.own(m_server.fullServerName());
        m_lockText = lockText();
        m_ok = m_ok && !m_lockText.isEmpty();
    }
    bool ok() const { return m_ok; }
    QString path() const { return m_path; }
    int connections() const { return m_connections; }
    // The planted files as they were put there.
    bool untouched() const { return lockText() == m_lockText && QFileInfo::exists(m_server.fullServerName()); }

private:
    QString lockPath() const { return m_folder + "/app.kestrova.Kestrova.lock"; }
    QByteArray lockText() const
    {
        QFile lock(lockPath());
        return lock.open(QIODevice::ReadOnly) ? lock.readAll() : QByteArray();
    }

    QString m_path;
    QString m_folder;
    bool m_ok = false;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    QByteArray m_lockText;
    int m_connections = 0;
};

bool isPrivateFolderOfOurs(const QString& path)
{
    struct stat info{};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid()
        && (info.st_mode & 07777) == 0700;
}

} // namespace

TEST(KestrovaProcess, ARuntimeFolderAnotherUserCouldReachIsNotUsed)
{
    QString whyNot;
    const auto other = test::ThrowAwayUser::create("pw-" + test::randomHex(12), &whyNot);
    if (!other)
        GTEST_SKIP() << whyNot.toStdString();

    using Kind = PlantedRuntimeFolder::Kind;
    enum class Where { sessionFolder, temporaryFolder, cacheFolder };
    struct Case {
        const char* name;
        QList<Where> planted;
        Kind kind;
        std::optional<Where> used; // nullopt: none will do, the program runs without the lock
    };
    const Case cases[] = {
        {"temporary folder made by another user", {Where::temporaryFolder}, Kind::otherUsersFolder, Where::cacheFolder},
        {"temporary folder a link to another user's", {Where::temporaryFolder}, Kind::linkToOtherUsersFolder, Where::cacheFolder},
        {"temporary folder of ours open to all", {Where::temporaryFolder}, Kind::ourFolderOpenToAll, Where::cacheFolder},
        {"session folder of another user", {Where::sessionFolder}, Kind::otherUsersFolder, Where::temporaryFolder},
        {"temporary and cache folders taken", {Where::temporaryFolder, Where::cacheFolder}, Kind::otherUsersFolder, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session session;
        // A temporary folder of this test, as open as /tmp, so the machine's own is not touched.
        QTemporaryDir temporary;
        ASSERT_TRUE(temporary.isValid());
        ASSERT_EQ(::chmod(QFile::encodeName(temporary.path()).constData(), 01777), 0);
        const QMap<Where, QString> folders{
            {Where::sessionFolder, session.home() + "/other-run"},
            {Where::temporaryFolder, temporary.path() + "/kestrova-runtime-" + QString::number(getuid())},
            {Where::cacheFolder, session.home() + "/cache/Kestrova/runtime"},
        };
        std::vector<std::unique_ptr<PlantedRuntimeFolder>> planted;
        for (Where where : c.planted) {
            planted.push_back(std::make_unique<PlantedRuntimeFolder>(*other, folders[where], c.kind));
            ASSERT_TRUE(planted.back()->ok());
        }
        QProcessEnvironment env = session.environment({{"TMPDIR", temporary.path()}, {"XDG_CACHE_HOME", session.home() + "/cache"}});
        if (c.planted.contains(Where::sessionFolder))
            env.insert("XDG_RUNTIME_DIR", folders[Where::sessionFolder]);
        else
            env.remove("XDG_RUNTIME_DIR");
        const auto start = [&env] {
            auto process = std::make_unique<QProcess>();
            process->setProcessEnvironment(env);
            process->setProcessChannelMode(QProcess::MergedChannels);
            process->start(test::kestrovaBinary(), {});
            return process;
        };

        auto process = start();
        test::ProcessConsole console(*process);
        ASSERT_TRUE(session.waitForLog(launched)) << session.logText().toStdString() << console.text().toStdString();
        EXPECT_EQ(session.count("Another instance is already running, terminating"), 0);
        for (const auto& p : planted) {
            EXPECT_TRUE(console.waitForStart("Runtime folder not used: " + p->path())) << console.text().toStdString();
            EXPECT_EQ(p->connections(), 0) << "a start reached the other user's socket";
            EXPECT_TRUE(p->untouched());
        }
        if (c.used) {
            const QString folder = folders[*c.used];
            EXPECT_TRUE(isPrivateFolderOfOurs(folder)) << folder.toStdString();
            EXPECT_TRUE(QFileInfo::exists(folder + "/app.kestrova.Kestrova.lock"));
            // A second start finds the running copy there.
            auto second = start();
            ASSERT_TRUE(second->waitForFinished(10000));
            EXPECT_EQ(session.count("Another instance is already running, terminating"), 1);
        } else {
            const QString refusal = "Single-instance check unavailable: no private runtime folder: "
                + folders[Where::temporaryFolder] + " belongs to another user; " + folders[Where::cacheFolder]
                + " belongs to another user";
            EXPECT_TRUE(session.waitForLog(refusal)) << session.logText().toStdString();
            EXPECT_TRUE(console.waitForStart("No private runtime folder: running without the single-instance check"))
                << console.text().toStdString();
        }
        for (const auto& p : planted) {
            EXPECT_EQ(p->connections(), 0);
            EXPECT_TRUE(p->untouched());
        }
        stop(*process);
    }
}

TEST(KestrovaProcess, ALinkAtTheLocksNameIsNotFollowed)
{
    // The link names a lock that reads as held by a live copy: this test process holds it.
    Session session;
    QTemporaryDir elsewhere;
    ASSERT_TRUE(elsewhere.isValid());
    QLockFile held(elsewhere.path() + "/held.lock");
    ASSERT_TRUE(held.tryLock(0));
    ASSERT_TRUE(QFile::link(elsewhere.path() + "/held.lock", session.runtimeDir() + "/app.kestrova.Kestrova.lock"));

    auto process = session.start();
    ASSERT_TRUE(session.waitForLog(launched)) << session.logText().toStdString();
    EXPECT_EQ(session.count("Another instance is already running, terminating"), 0);
    EXPECT_FALSE(QFileInfo(session.runtimeDir() + "/app.kestrova.Kestrova.lock").isSymLink());
    EXPECT_TRUE(QFileInfo(elsewhere.path() + "/held.lock").isFile());
    stop(*process);
}
