#pragma once
// What a program started by a test has written to its console, read as it comes.
#include "support/TestSupport.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <functional>

namespace test {

class ProcessConsole {
public:
    explicit ProcessConsole(QProcess& process)
        : m_process(process)
    {
    }
    // Waits for a whole line equal to `line`.
    bool waitFor(const QString& line, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        return waitForLine([&](const QString& l) { return l == line; }, timeout);
    }
    // Waits for a line that begins with `start`.
    bool waitForStart(const QString& start, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        return waitForLine([&](const QString& l) { return l.startsWith(start); }, timeout);
    }
    // Everything read so far.
    QString text() const { return m_text; }

private:
    bool waitForLine(const std::function<bool(const QString&)>& matches, std::chrono::milliseconds timeout)
    {
        return test::waitUntil([&] {
            m_text += QString::fromUtf8(m_process.readAll());
            const QStringList lines = m_text.split('\n');
            return std::any_of(lines.begin(), lines.end(), matches);
        }, timeout);
    }

    QProcess& m_process;
    QString m_text;
};

} // namespace test
