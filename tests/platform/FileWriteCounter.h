#pragma once

// Counts the times one file is written while this lives, as inotify sees its folder: each time a
// new version is renamed over it, the way QSaveFile (and so QSettings) writes a file. The moves of
// the new versions' own names are watched too: inotify folds an event into an identical one before
// it, and a move from another name stands between two renames over the file.

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/inotify.h>
#include <unistd.h>

namespace test {

class FileWriteCounter {
public:
    explicit FileWriteCounter(const QString& path)
        : m_name(QFile::encodeName(QFileInfo(path).fileName()))
        , m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0)
            m_watch = inotify_add_watch(m_fd, QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                                        IN_MOVED_FROM | IN_MOVED_TO);
    }
    ~FileWriteCounter()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileWriteCounter(const FileWriteCounter&) = delete;
    FileWriteCounter& operator=(const FileWriteCounter&) = delete;

    bool isValid() const { return m_fd >= 0 && m_watch >= 0; }

    // The writes seen so far.
    int writes()
    {
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
            if (length <= 0)
                break;
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                if ((event->mask & IN_MOVED_TO) && event->len > 0 && QByteArray(event->name) == m_name)
                    ++m_writes;
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return m_writes;
    }

private:
    QByteArray m_name;
    int m_fd = -1;
    int m_watch = -1;
    int m_writes = 0;
};

} // namespace test
