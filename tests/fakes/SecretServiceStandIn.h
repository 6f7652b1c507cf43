#pragma once

// tests/fakes/secret_service.py: a stand-in Secret Service on a private session bus. Programs
// pointed at address() find org.freedesktop.secrets there; nothing else runs on that bus.
// stall: takes every call and never answers. locked: a locked keyring whose unlock prompts are
// all dismissed.

#include "support/TestSupport.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>

namespace test {

class SecretServiceStandIn {
public:
    enum class Mode { stall, locked };

    explicit SecretServiceStandIn(Mode mode, std::chrono::seconds lifetime = std::chrono::seconds(90))
    {
        m_process.setProgram(QStringLiteral("/usr/bin/python3"));
        m_process.setArguments({test::sourcePath(QStringLiteral("tests/fakes/secret_service.py")),
                                QStringLiteral("--mode"), mode == Mode::stall ? QStringLiteral("stall") : QStringLiteral("locked"),
                                QStringLiteral("--lifetime"), QString::number(lifetime.count())});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return;
        test::waitUntil([&] {
            read();
            return !m_address.isEmpty() || m_process.state() == QProcess::NotRunning;
        }, std::chrono::seconds(10));
    }
    ~SecretServiceStandIn()
    {
        // Closing stdin stops it and its bus.
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
    SecretServiceStandIn(const SecretServiceStandIn&) = delete;
    SecretServiceStandIn& operator=(const SecretServiceStandIn&) = delete;

    bool running() const { return !m_address.isEmpty(); }
    // The private bus, for DBUS_SESSION_BUS_ADDRESS.
    QString address() const { return m_address; }
    // "<interface>.<member> <path>" of every call received so far.
    QStringList calls()
    {
        read();
        return m_calls;
    }
    bool waitForCalls(std::chrono::milliseconds timeout)
    {
        return test::waitUntil([&] { return !calls().isEmpty(); }, timeout);
    }
    // How many calls so far were of `member` ("org.freedesktop.Secret.Prompt.Prompt").
    int count(const QString& member)
    {
        int n = 0;
        for (const QString& call : calls())
            n += call.startsWith(member + QLatin1Char(' '));
        return n;
    }

private:
    void read()
    {
        m_buffer += m_process.readAllStandardOutput();
        qsizetype end;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_buffer.left(end));
            m_buffer.remove(0, end + 1);
            if (line.startsWith(QLatin1String("ADDRESS ")))
                m_address = line.mid(8);
            else if (line.startsWith(QLatin1String("CALL ")))
                m_calls.append(line.mid(5));
        }
    }

    QProcess m_process;
    QByteArray m_buffer;
    QString m_address;
    QStringList m_calls;
};

} // namespace test
