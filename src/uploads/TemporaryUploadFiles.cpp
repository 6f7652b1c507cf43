#include "uploads/TemporaryUploadFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

const QString kFolderPrefix = QStringLiteral("kestrova-upload-");

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
    QTemporaryDir folder(base + QLatin1Char('/') + kFolderPrefix + QStringLiteral("XXXXXX"));
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
