#pragma once

// A small tmpfs mounted over a folder for the life of the object, for writes that meet a full
// disk. Mounting needs root; mounted() says whether it took, error() why not.

#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>

#include <sys/mount.h>

namespace test {

class SmallDisk {
public:
    // `size` in mount's words ("16k", "2m").
    SmallDisk(const QString& folder, const QString& size)
        : m_folder(folder)
    {
        const QByteArray options = "size=" + size.toLatin1() + ",mode=0700";
        if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) == 0)
            m_mounted = true;
        else
            m_error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }
    // Why the mount failed, for the skip line.
    std::string error() const { return "cannot mount a small tmpfs here (needs root): " + m_error.toStdString(); }

private:
    QString m_folder;
    QString m_error;
    bool m_mounted = false;
};

} // namespace test
