#include "platform/OwnFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

QString errnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

std::optional<QString> whyNot(const struct stat& info)
{
    if (S_ISLNK(info.st_mode))
        return QStringLiteral("a symbolic link");
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("not a regular file");
    if (info.st_nlink != 1)
        return QStringLiteral("a file with %1 links").arg(info.st_nlink);
    if (info.st_uid != ::geteuid())
        return QStringLiteral("owned by another user");
    return std::nullopt;
}

} // namespace

std::optional<QString> OwnFile::whyNotOwn(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return errnoText(errno);
    return whyNot(info);
}

bool OwnFile::nameTaken(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 || errno != ENOENT;
}

int OwnFile::createNew(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

bool OwnFile::open(const QString& path, QString* reason)
{
    m_file.close();
    const auto refuse = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    // Not blocking on a FIFO that has the name, and not following a link.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return refuse(errno == ELOOP ? QStringLiteral("a symbolic link") : errnoText(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        return refuse(errnoText(code));
    }
    if (const std::optional<QString> why = whyNot(info)) {
        ::close(fd);
        return refuse(*why);
    }
    if (!m_file.open(fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return refuse(m_file.errorString());
    }
    return true;
}

} // namespace platform
