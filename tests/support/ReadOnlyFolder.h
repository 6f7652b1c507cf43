#pragma once

// A folder made read-only for the life of the object by a read-only bind mount of itself: files in
// it can be read but not written, replaced or added, also by root. Mounting needs root;
// mounted() says whether it took, error() why not.

#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/mount.h>

namespace test {

class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& folder)
        : m_folder(QFile::encodeName(folder))
    {
        if (::mount(m_folder.constData(), m_folder.constData(), nullptr, MS_BIND, nullptr) != 0) {
            m_error = std::strerror(errno);
            return;
        }
        m_bound = true;
        if (::mount(nullptr, m_folder.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            m_error = std::strerror(errno);
        else
            m_readOnly = true;
    }
    ~ReadOnlyFolder()
    {
        if (m_bound)
            ::umount2(m_folder.constData(), MNT_DETACH);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    bool mounted() const { return m_readOnly; }
    std::string error() const { return "cannot make a folder read-only here (needs root): " + m_error; }

private:
    QByteArray m_folder;
    std::string m_error;
    bool m_bound = false;
    bool m_readOnly = false;
};

} // namespace test
