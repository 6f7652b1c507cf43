#pragma once

#include <QFile>
#include <QString>

#include <optional>

namespace platform {

// A file that may be changed or removed in a folder where names can lead elsewhere: a regular
// file, not a symbolic link, with no other name (a hard link), owned by this user. Anything else
// with the name of a file of ours (a link to a document, another user's file) is not ours to touch.
// Changes go through the file that was opened and checked, not through its name, which may have
// been swapped meanwhile.
class OwnFile {
public:
    // Why the entry `path` names is not such a file ("a symbolic link", "a file with 2 links",
    // "owned by another user", "not a regular file", or why it could not be looked at); nothing
    // when it is one. Links are not followed.
    static std::optional<QString> whyNotOwn(const QString& path);
    // Whether anything has the name `path`, a link that leads nowhere included.
    static bool nameTaken(const QString& path);
    // Creates `path` as a new empty file; fails when anything has that name, a link included.
    // 0, or the errno of the failure.
    static int createNew(const QString& path);

    // Opens `path` for reading and writing when it is such a file, without following a link.
    bool open(const QString& path, QString* whyNot = nullptr);
    QFile& file() { return m_file; }

private:
    QFile m_file;
};

} // namespace platform
