#include "support/StdoutTap.h"

#include "support/TestSupport.h"

#include <QFile>

#include <cstdio>

#include <unistd.h>

namespace test {

StdoutTap::StdoutTap()
{
    std::fflush(stdout);
    if (!m_file.open())
        return;
    m_saved = ::dup(STDOUT_FILENO);
    ::dup2(m_file.handle(), STDOUT_FILENO);
}

StdoutTap::~StdoutTap()
{
    std::fflush(stdout);
    if (m_saved < 0)
        return;
    ::dup2(m_saved, STDOUT_FILENO);
    ::close(m_saved);
}

QString StdoutTap::text()
{
    std::fflush(stdout);
    QFile reader(m_file.fileName());
    if (m_saved < 0 || !reader.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(reader.readAll());
}

QStringList StdoutTap::lines()
{
    return text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool StdoutTap::waitFor(const QString& line, std::chrono::milliseconds timeout)
{
    return waitUntil([&] { return text().split(QLatin1Char('\n')).contains(line); }, timeout);
}

} // namespace test
