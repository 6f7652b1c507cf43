#include "uploads/TemporaryUploadFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cerrno>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kFolderPrefix = QStringLiteral("kestrova-upload-");

// "kestrova-upload-<pid>-XXXXXX": the process that made it, and QTemporaryDir's six letters.
// Folders made before the process id was part of the name have the letters alone; no copy running
// beside the lock holder makes those.
const QRegularExpression& folderName()
{
    static const QRegularExpression name(QStringLiteral("^kestrova-upload-(?:(\\d+)-)?[A-Za-z0-9]{6}$"));
    return name;
}

bool processIsRunning(qint64 pid)
{
    return pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

// A real folder of ours; a link, or another user's folder of that name, is not ours to remove.
bool isOwnFolder(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

} // namespace

QString TemporaryUploadFiles::createFolder(QString* error)
{
    // Qt answers an empty path when $TMPDIR names no folder; the upload folder would then be made
    // at the root of the file system.
    const QString base = QDir::tempPath();
    if (base.isEmpty()) {
        if (error)
            *error = QStringLiteral("temporary folder not found: ") + qEnvironmentVariable("TMPDIR");
        return {};
    }
    QTemporaryDir folder(base + QLatin1Char('/') + kFolderPrefix + QString::number(::getpid()) + QStringLiteral("-XXXXXX"));
    if (!folder.isValid()) {
        if (error)
            *error = folder.errorString();
        return {};
    }
    // Removed by remove() once its files are gone, not when this object ends.
    folder.setAutoRemove(false);
    return folder.path();
}

QString TemporaryUploadFiles::writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return file.errorString();
    // A file that existed keeps its old mode through open(); the copy is private either way.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(data) != data.size())
        return file.errorString();
    if (!file.flush())
        return file.errorString();
    return {};
}

void TemporaryUploadFiles::remove(const QString& path)
{
    QFile::remove(path);
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (folder.fileName().startsWith(kFolderPrefix))
        QDir().rmdir(folder.absoluteFilePath()); // only succeeds once the folder is empty
}

void TemporaryUploadFiles::removeStale()
{
    const QString base = QDir::tempPath();
    if (base.isEmpty())
        return;
    const QDir folder(base);
    for (const QString& name : folder.entryList({kFolderPrefix + QLatin1Char('*')}, QDir::AllEntries | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch match = folderName().match(name);
        if (!match.hasMatch())
            continue;
        if (const QString pid = match.captured(1); !pid.isEmpty() && processIsRunning(pid.toLongLong()))
            continue;
        const QString path = folder.filePath(name);
        if (isOwnFolder(path))
            QDir(path).removeRecursively();
    }
}
