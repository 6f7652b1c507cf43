#pragma once
// A user session for starting the built kestrova program: a private home with its XDG folders and
// runtime folder. Copies started in the same session share the single-instance lock and the log.
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <memory>

namespace test {

class Session {
public:
    Session()
    {
        for (const char* sub : {"state", "config", "run"})
            QDir().mkpath(m_home.path() + '/' + sub);
        QFile::setPermissions(m_home.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString home() const { return m_home.path(); }
    QProcessEnvironment environment(const QMap<QString, QString>& extra = {}) const
    {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_home.path());
        env.insert("XDG_STATE_HOME", m_home.path() + "/state");
        env.insert("XDG_CONFIG_HOME", m_home.path() + "/config");
        env.insert("XDG_RUNTIME_DIR", m_home.path() + "/run");
        for (const char* name : {"KESTROVA_ALLOW_MULTIPLE", "KESTROVA_DEBUG_AUTO", "KESTROVA_DEBUG_SETUP"})
            env.remove(name);
        for (auto it = extra.begin(); it != extra.end(); ++it)
            env.insert(it.key(), it.value());
        return env;
    }
    QString logText() const
    {
        QFile file(m_home.path() + "/state/Kestrova/kestrova.log");
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QString runtimeDir() const { return m_home.path() + "/run"; }
    QStringList logLines() const { return logText().split('\n', Qt::SkipEmptyParts); }
    int count(const QString& message) const
    {
        int n = 0;
        for (const QString& line : logLines())
            n += line.endsWith(message);
        return n;
    }
    bool waitForLog(const QString& message, int times = 1, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const
    {
        return test::waitUntil([&] { return count(message) >= times; }, timeout);
    }
    // The time of the first line ending in `message`.
    QDateTime timeOf(const QString& message) const
    {
        for (const QString& line : logLines())
            if (line.endsWith(message))
                return QDateTime::fromString(line.mid(1, 23), "yyyy-MM-dd HH:mm:ss.zzz");
        return {};
    }

    std::unique_ptr<QProcess> start(const QMap<QString, QString>& extra = {}) const
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment(extra));
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(test::kestrovaBinary(), {});
        process->waitForStarted(5000);
        return process;
    }

private:
    QTemporaryDir m_home;
};

inline void stop(QProcess& process, int signal = SIGTERM)
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(process.processId()), signal);
    process.waitForFinished(10000);
}

} // namespace test
