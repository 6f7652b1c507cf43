// The built program killed, or asked to end, in the middle of an own-server upload to a local
// server that takes the connection and never answers: the transfer programs end with it, and the
// next launch removes the upload folder it left in the temporary folder.
#include "support/AreaCaptureByHotKey.h"
#include "support/ProcessConsole.h"
#include "support/ProcessSession.h"
#include "support/TrayHost.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTcpServer>
#include <QTemporaryDir>

#include <csignal>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// The name and parent of each process, from /proc/<pid>/stat (the name may hold spaces and ")").
struct ProcessEntry {
    QString name;
    qint64 parent = 0;
    char state = '?';
};

std::optional<ProcessEntry> processEntry(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = file.readAll();
    const int open = text.indexOf('(');
    const int close = text.lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() < 2 || fields[0].isEmpty())
        return std::nullopt;
    return ProcessEntry{QString::fromUtf8(text.mid(open + 1, close - open - 1)), fields[1].toLongLong(), fields[0][0]};
}

// The live descendants of `root`, by process id.
QMap<qint64, QString> descendants(qint64 root)
{
    QMap<qint64, ProcessEntry> all;
    for (const QString& name : QDir("/proc").entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = name.toLongLong(&number);
        if (!number)
            continue;
        if (const auto entry = processEntry(pid))
            all.insert(pid, *entry);
    }
    QMap<qint64, QString> found;
    for (auto it = all.cbegin(); it != all.cend(); ++it) {
        if (it->state == 'Z')
            continue;
        for (qint64 up = it->parent, hops = 0; up > 1 && hops < 32; up = all.value(up).parent, ++hops) {
            if (up == root) {
                found.insert(it.key(), it->name);
                break;
            }
        }
    }
    return found;
}

// Gone, or dead and waiting for its new parent to reap it.
bool ended(qint64 pid)
{
    const auto entry = processEntry(pid);
    return !entry || entry->state == 'Z';
}

QStringList uploadFolders(const QString& temporary)
{
    return QDir(temporary).entryList({"kestrova-upload-*"}, QDir::Dirs | QDir::Hidden | QDir::System);
}

} // namespace

TEST(KilledUploadX11, TheTransferProgramsEndWithTheProgramAndTheNextLaunchRemovesTheUploadFolder)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::TrayHost tray;
    // Takes connections into its backlog and never reads them: no greeting, no SSH banner.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    silent.pauseAccepting();

    struct Case {
        const char* name;
        bool sftp;
        int signal;
        QStringList programs; // what runs while the transfer waits
    };
    const Case cases[] = {
        {"FTP, killed", false, SIGKILL, {"curl"}},
        {"SFTP, killed", true, SIGKILL, {"expect", "sftp", "ssh"}},
        {"FTP, asked to end", false, SIGTERM, {"curl"}},
        {"SFTP, asked to end", true, SIGTERM, {"expect", "sftp", "ssh"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::Session session;
        QTemporaryDir temporary;
        ASSERT_TRUE(temporary.isValid());
        ASSERT_TRUE(test::writeFile(session.home() + "/config/Kestrova/Kestrova.conf",
                                    QString("[General]\nscreenshotHotkey=ctrl+alt+k\nuploadProvider=ssh\n"
                                            "lastUsedUploadProvider=ssh\nftpHost=127.0.0.1\nftpPort=%1\n"
                                            "ftpUsername=tester\nuseSFTP=%2\nbaseURL=http://127.0.0.1/shots\n")
                                        .arg(silent.serverPort())
                                        .arg(c.sftp ? "true" : "false")
                                        .toUtf8()));
        const QMap<QString, QString> env{{"TMPDIR", temporary.path()}, {"XDG_DATA_HOME", session.home() + "/data"}};

        auto process = session.start(env);
        test::ProcessConsole console(*process);
        ASSERT_TRUE(console.waitForStart("Successfully registered area hotkey: ctrl+alt+k")) << console.text().toStdString();
        ASSERT_TRUE(session.waitForLog("Application finished launching"));
        ASSERT_TRUE(test::captureAreaByHotKey(console, "ctrl+alt+k", QRect(300, 200, 400, 300)));
        ASSERT_TRUE(test::waitUntil([] { return test::visibleWindowNamed("400×300").has_value(); }, 10s))
            << console.text().toStdString();
        test::spin(300ms);
        ASSERT_TRUE(test::xdotool({"key", "--clearmodifiers", "ctrl+u"}));

        // The transfer is under way: its programs run, its folder holds the copy.
        QMap<qint64, QString> children;
        const bool started = test::waitUntil([&] {
            children = descendants(process->processId());
            const QStringList names = children.values();
            return std::all_of(c.programs.begin(), c.programs.end(), [&](const QString& p) { return names.contains(p); });
        }, 15s);
        ASSERT_TRUE(started) << QStringList(children.values()).join(' ').toStdString() << console.text().toStdString();
        ASSERT_EQ(uploadFolders(temporary.path()).size(), 1);

        ::kill(static_cast<pid_t>(process->processId()), c.signal);
        ASSERT_TRUE(process->waitForFinished(10000));
        const bool allEnded = test::waitUntil([&] {
            return std::all_of(children.keyBegin(), children.keyEnd(), [](qint64 pid) { return ended(pid); });
        }, 5s);
        QStringList left;
        for (auto it = children.cbegin(); it != children.cend(); ++it) {
            if (!ended(it.key())) {
                left << it.value();
                ::kill(static_cast<pid_t>(it.key()), SIGKILL);
            }
        }
        EXPECT_TRUE(allEnded) << "still running: " << left.join(' ').toStdString();

        // The next launch finds the folder of a copy that is gone.
        auto next = session.start(env);
        ASSERT_TRUE(session.waitForLog("Application finished launching", 2)) << session.logText().toStdString();
        EXPECT_TRUE(uploadFolders(temporary.path()).isEmpty()) << uploadFolders(temporary.path()).join(' ').toStdString();
        test::stop(*next);
    }
}
