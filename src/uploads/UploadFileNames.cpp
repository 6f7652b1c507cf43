#include "uploads/UploadFileNames.h"

#include <charconv>
#include <chrono>

QString UploadFileNames::screenshot()
{
    return QStringLiteral("screenshot_") + secondsSince1970Text() + QStringLiteral(".png");
}

QString UploadFileNames::secondsSince1970Text()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return secondsText(std::chrono::duration<double>(now).count());
}

QString UploadFileNames::secondsText(double seconds)
{
    // Locale-independent; fixed notation keeps the exponent out of file names.
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed);
    QString text = ec == std::errc() ? QString::fromLatin1(buffer, end - buffer) : QStringLiteral("0");
    if (!text.contains(QLatin1Char('.')))
        text += QStringLiteral(".0");
    return text;
}

QString UploadFileNames::lastDirectoryName(const QString& directory)
{
    // The web server serves the folder by its name, however the path to it was typed.
    QString trimmed = directory;
    while (trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    return trimmed.section(QLatin1Char('/'), -1);
}

QString UploadFileNames::ownServerLink(const QString& baseURL, const QString& directory, const QString& fileName)
{
    QString link = baseURL;
    if (link.endsWith(QLatin1Char('/')))
        link.chop(1);
    const QString folder = lastDirectoryName(directory);
    if (!folder.isEmpty())
        link += QLatin1Char('/') + folder;
    return link + QLatin1Char('/') + fileName;
}
