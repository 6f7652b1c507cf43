#include "platform/XdgPaths.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

QString fromEnvOr(const char* name, const QString& fallback)
{
    const QString value = qEnvironmentVariable(name);
    // The XDG rules ignore relative paths.
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return fallback;
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why the folder at `path` could be reached by another user, or empty when it is private to us.
QString privacyProblem(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return QStringLiteral("cannot be read: ") + systemReason(errno);
    if (S_ISLNK(info.st_mode))
        return QStringLiteral("is a symbolic link");
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("is not a folder");
    if (info.st_uid != ::geteuid())
        return QStringLiteral("belongs to another user");
    if ((info.st_mode & 07777) != 0700)
        return QStringLiteral("has mode 0%1, not 0700").arg(info.st_mode & 07777, 0, 8);
    return {};
}

// Makes the folder 0700 unless it exists; then the same check as for one found.
QString makePrivateFolder(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) == 0) {
        // The umask may have taken bits away; a folder just made is ours to set. O_NOFOLLOW: the
        // name still has to be that folder.
        const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            ::fchmod(fd, 0700);
            ::close(fd);
        }
    } else if (errno != EEXIST) {
        return QStringLiteral("could not be made: ") + systemReason(errno);
    }
    return privacyProblem(path);
}

} // namespace

QString XdgPaths::home()
{
    return QDir::homePath();
}

QString XdgPaths::configHome()
{
    return fromEnvOr("XDG_CONFIG_HOME", home() + QStringLiteral("/.config"));
}

QString XdgPaths::dataHome()
{
    return fromEnvOr("XDG_DATA_HOME", home() + QStringLiteral("/.local/share"));
}

QString XdgPaths::stateHome()
{
    return fromEnvOr("XDG_STATE_HOME", home() + QStringLiteral("/.local/state"));
}

QString XdgPaths::cacheHome()
{
    return fromEnvOr("XDG_CACHE_HOME", home() + QStringLiteral("/.cache"));
}

QString XdgPaths::runtimeDir(QStringList* refused)
{
    const auto accepted = [refused](const QString& path, const QString& problem) {
        if (problem.isEmpty())
            return true;
        if (refused)
            refused->append(path + QLatin1Char(' ') + problem);
        return false;
    };
    // The session's folder is made by the session, never by us.
    const QString session = fromEnvOr("XDG_RUNTIME_DIR", QString());
    if (!session.isEmpty() && accepted(session, privacyProblem(session)))
        return session;
    // Qt answers an empty path when $TMPDIR names no folder.
    if (const QString temporary = QDir::tempPath(); !temporary.isEmpty()) {
        const QString path = temporary + QStringLiteral("/kestrova-runtime-") + QString::number(::getuid());
        if (accepted(path, makePrivateFolder(path)))
            return path;
    }
    const QString parent = cacheHome() + QStringLiteral("/Kestrova");
    const QString path = parent + QStringLiteral("/runtime");
    QDir().mkpath(parent);
    if (accepted(path, makePrivateFolder(path)))
        return path;
    return {};
}

QString XdgPaths::picturesDir()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return dir.isEmpty() ? home() + QStringLiteral("/Pictures") : dir;
}

QString XdgPaths::documentsDir()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return dir.isEmpty() ? home() + QStringLiteral("/Documents") : dir;
}

QString XdgPaths::tempDir()
{
    return QDir::tempPath();
}

} // namespace platform
