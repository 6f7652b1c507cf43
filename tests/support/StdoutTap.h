#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <chrono>

namespace test {

// What this process writes to standard output while the tap lives. It goes into a temporary file,
// which never blocks the writer however much is written before it is read.
class StdoutTap {
public:
    StdoutTap();
    ~StdoutTap();
    StdoutTap(const StdoutTap&) = delete;
    StdoutTap& operator=(const StdoutTap&) = delete;

    // Everything written since the tap began.
    QString text();
    // The text in lines, without the empty ones.
    QStringList lines();
    // Processes events until a whole line equal to `line` was written.
    bool waitFor(const QString& line, std::chrono::milliseconds timeout = std::chrono::seconds(3));

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace test
