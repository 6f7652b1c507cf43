#pragma once
// The application's debug log as the tests read it: the whole file once queued lines are written,
// and its messages without their time and place.
#include "app/DebugLogger.h"

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace test {

inline QString debugLogText()
{
    DebugLogger::shared().flush();
    QFile file(DebugLogger::shared().logFilePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// "function: message" for every line after the first `from` characters of the log.
inline QStringList debugLogMessages(qsizetype from = 0)
{
    QStringList result;
    static const QRegularExpression prefix(R"(^\[[^\]]+\] \[[^\]]+\] )");
    for (const QString& line : debugLogText().mid(from).split('\n', Qt::SkipEmptyParts))
        result.append(QString(line).remove(prefix));
    return result;
}

} // namespace test
