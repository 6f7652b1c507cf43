#include "app/DebugLogger.h"

#include "platform/XdgPaths.h"

#include <QDir>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

DebugLogger& DebugLogger::shared()
{
    // Never destroyed: lines logged late in the exit path must still find it. The writer is
    // drained and joined by an exit handler instead.
    static DebugLogger* instance = [] {
        auto* logger = new DebugLogger;
        std::atexit([] { shared().stop(); });
        return logger;
    }();
    return *instance;
}

DebugLogger::DebugLogger()
{
    QString folder = platform::XdgPaths::stateHome();
    if (folder.isEmpty())
        folder = QDir::tempPath();
    folder += QStringLiteral("/Kestrova");
    QDir().mkpath(folder);
    m_logFilePath = folder + QStringLiteral("/kestrova.log");
    m_logFilePathBytes = QFile::encodeName(m_logFilePath);
    if (!QFile::exists(m_logFilePath)) {
        const int fd = ::open(m_logFilePathBytes.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
}

QString DebugLogger::timestamp()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis));
    return QString::fromLatin1(buffer);
}

QString DebugLogger::functionName(const char* signature)
{
    std::string_view s(signature ? signature : "");
    // Cut at the parameter list of the named function (a lambda's own list comes later).
    const auto paren = s.find('(');
    std::string_view head = paren == std::string_view::npos ? s : s.substr(0, paren);
    const auto scope = head.rfind("::");
    if (scope != std::string_view::npos)
        head = head.substr(scope + 2);
    const auto space = head.rfind(' ');
    if (space != std::string_view::npos)
        head = head.substr(space + 1);
    while (!head.empty() && (head.front() == '*' || head.front() == '&'))
        head.remove_prefix(1);
    return QString::fromUtf8(head.data(), static_cast<qsizetype>(head.size()));
}

QString DebugLogger::formatLine(const QString& message, const std::source_location& where)
{
    const QString file = QString::fromUtf8(where.file_name()).section(QLatin1Char('/'), -1);
    return QStringLiteral("[%1] [%2:%3] %4: %5")
        .arg(timestamp(), file, QString::number(where.line()), functionName(where.function_name()), message);
}

void DebugLogger::log(const QString& message, std::source_location where)
{
    appendToLog(formatLine(message, where));
}

void DebugLogger::logError(const platform::AppError& error, std::source_location where)
{
    appendToLog(formatLine(QStringLiteral("ERROR: ") + error.localizedDescription, where));
}

void DebugLogger::logErrorMessage(const QString& message, std::source_location where)
{
    appendToLog(formatLine(QStringLiteral("ERROR: ") + message, where));
}

void DebugLogger::appendToLog(const QString& line)
{
    QByteArray bytes = line.toUtf8();
    if (bytes.size() > maxLineBytes) {
        const QByteArray note = QStringLiteral("\u2026 [cut from %1 bytes]").arg(bytes.size()).toUtf8();
        qsizetype cut = maxLineBytes - note.size();
        // Back to the first byte of a character: a split one would make the line invalid UTF-8.
        while (cut > 0 && (static_cast<uchar>(bytes[cut]) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
        bytes += note;
    }
    bytes.append('\n');
    std::thread finished;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_queue.push_back(std::move(bytes));
        if (!m_writerRunning) {
            // The previous writer has left its loop (it cleared the flag under this lock), so
            // the join below only waits for its return.
            finished = std::move(m_writer);
            m_writerRunning = true;
            m_writer = std::thread([this] { run(); });
        }
    }
    m_wake.notify_one();
    if (finished.joinable())
        finished.join();
}

void DebugLogger::flush()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

void DebugLogger::run()
{
    pthread_setname_np(pthread_self(), writerThreadName);
    std::unique_lock lock(m_mutex);
    for (;;) {
        const bool woken = m_wake.wait_for(lock, writerIdleTime, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty() && (m_stopping || !woken))
            break;
        QByteArray bytes = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        // Opened per line and never created here: a deleted log stays deleted until the next start.
        const int fd = ::open(m_logFilePathBytes.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd >= 0) {
            const char* p = bytes.constData();
            qsizetype left = bytes.size();
            while (left > 0) {
                const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
                if (n <= 0)
                    break;
                p += n;
                left -= n;
            }
            ::close(fd);
        }
        lock.lock();
        m_busy = false;
        if (m_queue.empty())
            m_idle.notify_all();
    }
    m_writerRunning = false;
    m_idle.notify_all();
}

void DebugLogger::stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_writer.joinable())
        m_writer.join();
}
