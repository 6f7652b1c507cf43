#include "uploads/SftpPortProbe.h"

#include <QCoreApplication>

SftpPortProbe::SftpPortProbe(std::function<void(bool)> done)
    : QObject(QCoreApplication::instance())
    , m_done(std::move(done))
{
    m_timeLimit.setSingleShot(true);
    m_timeLimit.setInterval(timeLimitMs);
    connect(&m_timeLimit, &QTimer::timeout, this, [this] { finish(false); });
    connect(&m_socket, &QTcpSocket::connected, this, [this] { finish(true); });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] { finish(false); });
}

void SftpPortProbe::start(const QString& host, int port, std::function<void(bool reachable)> done)
{
    auto* probe = new SftpPortProbe(std::move(done));
    if (port < 0 || port > 65535) {
        // Delivered like every other outcome: later, never inside the caller.
        QMetaObject::invokeMethod(probe, [probe] { probe->finish(false); }, Qt::QueuedConnection);
        return;
    }
    probe->m_timeLimit.start();
    probe->m_socket.connectToHost(host, static_cast<quint16>(port));
}

void SftpPortProbe::finish(bool reachable)
{
    // The socket's answer and the time limit may both arrive; only the first counts.
    if (m_finished)
        return;
    m_finished = true;
    m_timeLimit.stop();
    m_socket.abort();
    deleteLater();
    if (m_done)
        m_done(reachable);
}
