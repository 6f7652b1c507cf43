#pragma once

#include <QByteArray>
#include <QString>

// The temporary files of uploads (copies of the bytes, scripts): each upload gets a folder of its
// own, readable by the user alone, in the system temporary folder.
class TemporaryUploadFiles {
public:
    // A new private folder (mode 0700). On failure: an empty path, and `error` gets the reason.
    static QString createFolder(QString* error);
    // Writes `data` to a new file of mode 0600 at `path`, replacing a file of that name. Empty on
    // success, otherwise the system's reason.
    static QString writeFile(const QString& path, const QByteArray& data);
    // The removal step of a temporary copy: removes the file, then its folder when that is an
    // upload folder left empty. Errors (a missing file, no permission) are ignored. Runs on the
    // calling thread.
    static void remove(const QString& path);
};
