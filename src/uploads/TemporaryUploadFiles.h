#pragma once

#include <QByteArray>
#include <QString>

// The temporary files of uploads (copies of the bytes, scripts): each upload gets a folder of its
// own, readable by the user alone, in the system temporary folder. The programs that read them die
// with the process (ProcessRunner); what a killed process leaves goes at the next launch.
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
    // The upload folders left by copies of the program that are gone (killed mid-upload): each folder
    // names the process that made it. Only real folders of this user are removed, never a link.
    // For the launch of the copy that holds the single-instance lock; runs on the calling thread.
    static void removeStale();
};
