#include "platform/XdgPaths.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

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

QString XdgPaths::runtimeDir()
{
    const QString value = fromEnvOr("XDG_RUNTIME_DIR", QString());
    if (!value.isEmpty())
        return value;
    const QString fallback = QDir::tempPath() + QStringLiteral("/kestrova-runtime-") + QString::number(getuid());
    QDir().mkpath(fallback);
    QFile::setPermissions(fallback, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return fallback;
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
