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
