#pragma once

#include "platform/AppError.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <source_location>
#include <thread>

// The diagnostic log: one line per notable step, appended to $XDG_STATE_HOME/Kestrova/kestrova.log
// by one writer thread. Callers never wait for the disk. The writer is started by the first queued
// line and ends after writerIdleTime without one, so an idle program holds no thread for it.
class DebugLogger {
public:
    static DebugLogger& shared();

    QString logFilePath() const { return m_logFilePath; }

    void log(const QString& message, std::source_location where = std::source_location::current());
    void logError(const platform::AppError& error, std::source_location where = std::source_location::current());
    void logErrorMessage(const QString& message, std::source_location where = std::source_location::current());
    // Appends one finished line (a line feed is added). A line past maxLineBytes of UTF-8 is cut on
    // a character boundary and ends in "… [cut from <its size> bytes]", within the bound.
    void appendToLog(const QString& line);

    // Blocks until every queued line has been written (or dropped).
    void flush();

    // "[yyyy-MM-dd HH:mm:ss.SSS] [file:line] function: message"
    static QString formatLine(const QString& message, const std::source_location& where);
    // The bare operation name of a compiler function signature: "void A::b(int)" -> "b".
    static QString functionName(const char* signature);
    static QString timestamp();

    // The writer thread's name, as /proc/<pid>/task/<tid>/comm shows it.
    static constexpr const char* writerThreadName = "kestrova-log";
    static constexpr std::chrono::milliseconds writerIdleTime{2000};
    // The longest line written: an error page or a whole answer is no diagnostic line.
    static constexpr qsizetype maxLineBytes = 4096;

private:
    DebugLogger();
    void run();
    void stop();

    QString m_logFilePath;
    QByteArray m_logFilePathBytes;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<QByteArray> m_queue;
    bool m_busy = false;
    bool m_stopping = false;
    // Guarded by m_mutex; m_writer may hold a writer that has already returned (joined when replaced).
    bool m_writerRunning = false;
    std::thread m_writer;
};
