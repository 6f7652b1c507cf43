#include "screenshots/Screenshot.h"

#include <QLocale>

QString Screenshot::displayName() const
{
    const QString kind = isVideo ? QStringLiteral("Видео ") : QStringLiteral("Скриншот ");
    return kind + QLocale().toString(createdAt.toLocalTime().time(), QLocale::ShortFormat);
}
