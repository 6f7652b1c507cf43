#pragma once
// An X server of one test's own: a fresh Xvfb, as at the start of a desktop session, whose core
// keyboard has not yet taken the keymap of the device the test's keys come from (its first fake key
// tells every client that the keyboard changed). Optionally a slow link to it (slow_x_link.py) for
// a program that should get the server's answers late, as on a loaded desktop.
#include "support/TestSupport.h"

#include <QProcess>
#include <QString>

#include <chrono>

namespace test {

class PrivateXServer {
public:
    explicit PrivateXServer(std::chrono::milliseconds linkDelay = std::chrono::milliseconds(0))
    {
        using namespace std::chrono_literals;
        // The server picks a free display itself and writes its number to its standard output.
        m_server.setProcessChannelMode(QProcess::SeparateChannels);
        m_server.setStandardErrorFile(QProcess::nullDevice());
        m_server.start("/usr/bin/Xvfb", {"-displayfd", "1", "-screen", "0", "1920x1080x24", "-nolisten", "tcp", "-noreset"});
        if (!m_server.waitForStarted(5000))
            return;
        QByteArray number;
        if (!test::waitUntil([&] {
                number += m_server.readAllStandardOutput();
                return number.contains('\n') || m_server.state() == QProcess::NotRunning;
            }, 10s) || !number.contains('\n'))
            return;
        m_number = number.trimmed().toInt();
        if (linkDelay.count() > 0) {
            m_link.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            m_link.start("/usr/bin/python3", {test::sourcePath("tests/shell/slow_x_link.py"),
                                              QString("/tmp/.X11-unix/X%1").arg(m_number), QString::number(linkDelay.count())});
            QByteArray port;
            if (m_link.waitForStarted(5000))
                test::waitUntil([&] {
                    port += m_link.readAllStandardOutput();
                    return port.contains('\n') || m_link.state() == QProcess::NotRunning;
                }, 10s);
            // An X display over TCP listens on 6000 + its number.
            m_linkDisplay = port.trimmed().toInt() - 6000;
        }
        m_ready = test::run("/usr/bin/xdpyinfo", {"-display", display()}, 10s).exitCode == 0;
    }
    ~PrivateXServer()
    {
        if (m_link.state() != QProcess::NotRunning) {
            m_link.closeWriteChannel();
            if (!m_link.waitForFinished(3000))
                m_link.kill();
            m_link.waitForFinished(1000);
        }
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            if (!m_server.waitForFinished(3000))
                m_server.kill();
            m_server.waitForFinished(1000);
        }
    }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    bool running() const { return m_ready && (m_link.state() == QProcess::Running || m_linkDisplay == 0); }
    // The server itself, for DISPLAY.
    QString display() const { return QString(":%1").arg(m_number); }
    // The server over the slow link.
    QString slowDisplay() const { return QString("127.0.0.1:%1").arg(m_linkDisplay); }

private:
    QProcess m_server;
    QProcess m_link;
    int m_number = -1;
    int m_linkDisplay = 0;
    bool m_ready = false;
};

} // namespace test
