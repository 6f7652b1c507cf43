#pragma once

// Watches every program that platform::ProcessRunner starts while it lives: the command line and
// environment of the program and of all its descendants (expect's sftp and ssh), as /proc shows
// them to any local user, and the files of the upload folder as they are while the program runs.

#include "platform/ProcessRunner.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMap>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace test {

class ProcessSpy {
public:
    struct Snapshot {
        qint64 pid = 0;
        QByteArray cmdline; // NUL-separated, as in /proc
        QByteArray environ;
    };
    struct FileSeen {
        QString path;
        QFileDevice::Permissions permissions;
        QByteArray content;
    };
    struct FolderSeen {
        QString path;
        QFileDevice::Permissions permissions;
        QList<FileSeen> files;
    };

    ProcessSpy()
    {
        platform::ProcessRunner::setStartObserver(
            [this](qint64 pid, const platform::ProcessRequest& request) { started(pid, request); });
    }
    ~ProcessSpy()
    {
        platform::ProcessRunner::setStartObserver(nullptr);
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(m_mutex);
            threads.swap(m_threads);
        }
        for (auto& t : threads)
            t.join();
    }

    QList<Snapshot> snapshots() const
    {
        std::lock_guard lock(m_mutex);
        return m_snapshots;
    }
    QList<FolderSeen> folders() const
    {
        std::lock_guard lock(m_mutex);
        return m_folders;
    }
    QList<platform::ProcessRequest> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    // Every command line seen, arguments joined by spaces.
    QStringList commandLines() const
    {
        QStringList lines;
        for (const Snapshot& s : snapshots())
            lines << QString::fromUtf8(QByteArray(s.cmdline).replace('\0', ' ')).trimmed();
        lines.removeDuplicates();
        return lines;
    }
    // True when `secret` occurs in any command line or environment that was seen.
    bool anyProcessShows(const QByteArray& secret) const
    {
        for (const Snapshot& s : snapshots()) {
            if (s.cmdline.contains(secret) || s.environ.contains(secret))
                return true;
        }
        return false;
    }

private:
    static QByteArray readProc(qint64 pid, const char* name)
    {
        QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // The parent and the state letter from /proc/<pid>/stat (the name may hold spaces and ")").
    static bool stat(qint64 pid, qint64* parent, char* state)
    {
        const QByteArray text = readProc(pid, "stat");
        const int close = text.lastIndexOf(')');
        if (close < 0)
            return false;
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (fields.size() < 2)
            return false;
        *state = fields[0].isEmpty() ? '?' : fields[0][0];
        *parent = fields[1].toLongLong();
        return true;
    }

    void record(qint64 pid)
    {
        Snapshot s{pid, readProc(pid, "cmdline"), readProc(pid, "environ")};
        if (s.cmdline.isEmpty())
            return;
        std::lock_guard lock(m_mutex);
        for (const Snapshot& known : m_snapshots) {
            if (known.pid == s.pid && known.cmdline == s.cmdline && known.environ == s.environ)
                return;
        }
        m_snapshots.append(s);
    }

    void recordFolder(const QString& path)
    {
        FolderSeen folder{path, QFileInfo(path).permissions(), {}};
        for (const QFileInfo& info : QDir(path).entryInfoList(QDir::Files | QDir::Hidden)) {
            QFile file(info.absoluteFilePath());
            file.open(QIODevice::ReadOnly);
            folder.files.append({info.absoluteFilePath(), info.permissions(), file.readAll()});
        }
        std::lock_guard lock(m_mutex);
        m_folders.append(folder);
    }

    void started(qint64 pid, const platform::ProcessRequest& request)
    {
        record(pid);
        // The folder of the upload: that of curl's -T file, or of the script expect runs.
        const int t = request.arguments.indexOf(QStringLiteral("-T"));
        if (t >= 0 && t + 1 < request.arguments.size())
            recordFolder(QFileInfo(request.arguments[t + 1]).absolutePath());
        else if (request.program.endsWith(QStringLiteral("/expect")) && !request.arguments.isEmpty())
            recordFolder(QFileInfo(request.arguments[0]).absolutePath());
        {
            std::lock_guard lock(m_mutex);
            m_requests.append(request);
        }
        // The descendants start later; follow them until the program has ended.
        std::lock_guard lock(m_mutex);
        m_threads.emplace_back([this, pid] {
            for (;;) {
                qint64 parent = 0;
                char state = '?';
                if (!stat(pid, &parent, &state) || state == 'Z')
                    return;
                record(pid);
                QMap<qint64, qint64> parents;
                for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
                    bool number = false;
                    const qint64 other = entry.toLongLong(&number);
                    qint64 otherParent = 0;
                    char otherState = '?';
                    if (number && stat(other, &otherParent, &otherState))
                        parents.insert(other, otherParent);
                }
                for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
                    for (qint64 up = it.value(), hops = 0; up > 1 && hops < 16; up = parents.value(up), ++hops) {
                        if (up == pid) {
                            record(it.key());
                            break;
                        }
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }

    mutable std::mutex m_mutex;
    std::vector<std::thread> m_threads;
    QList<Snapshot> m_snapshots;
    QList<FolderSeen> m_folders;
    QList<platform::ProcessRequest> m_requests;
};

} // namespace test
