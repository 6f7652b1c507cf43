#pragma once

#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

// Checks that a TCP connection to host:port can be opened within 10 s; no SSH handshake and no
// sign-in. GUI thread; `done` runs there exactly once, and the probe then deletes itself.
class SftpPortProbe : public QObject {
    Q_OBJECT
public:
    static constexpr int timeLimitMs = 10000;

    static void start(const QString& host, int port, std::function<void(bool reachable)> done);

private:
    SftpPortProbe(std::function<void(bool)> done);
    void finish(bool reachable);

    QTcpSocket m_socket;
    QTimer m_timeLimit;
    std::function<void(bool)> m_done;
    bool m_finished = false;
};
