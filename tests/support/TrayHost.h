#pragma once

#include "support/TestSupport.h"

#include <QProcess>
#include <QSystemTrayIcon>

#include <chrono>

namespace test {

// A small tray host (trayer) at the top right of the test screen, for the length of one test.
// Programs started while it runs find a system tray, so they do not fall back to opening the
// settings window.
class TrayHost {
public:
    TrayHost()
    {
        using namespace std::chrono_literals;
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start("/usr/bin/trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"});
        m_process.waitForStarted(5000);
        waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 3s);
    }
    ~TrayHost()
    {
        using namespace std::chrono_literals;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
        // Until the selection is free again, Qt would still see a tray.
        waitUntil([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 3s);
    }
    TrayHost(const TrayHost&) = delete;
    TrayHost& operator=(const TrayHost&) = delete;

    bool running() const { return m_process.state() == QProcess::Running; }

private:
    QProcess m_process;
};

} // namespace test
