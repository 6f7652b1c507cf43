#pragma once

// The fake Yandex Disk API and OAuth page (tests/fakes/yandex_disk.py), started as a child process on
// 127.0.0.1 and driven through its control routes.

#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace test {

class YandexFakeServer {
public:
    ~YandexFakeServer() { stop(); }

    // Starts the fake; false (with `error`) when it did not report a port or did not accept
    // connections within a few seconds.
    bool start(std::chrono::seconds lifetime = std::chrono::seconds(300))
    {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::SeparateChannels);
        m_process->start(QStringLiteral("/usr/bin/python3"),
                         {sourcePath(QStringLiteral("tests/fakes/yandex_disk.py")), QStringLiteral("--lifetime"),
                          QString::number(lifetime.count())});
        if (!m_process->waitForStarted(5000)) {
            error = QStringLiteral("python3 did not start");
            return false;
        }
        QByteArray line;
        QElapsedTimer timer;
        timer.start();
        while (!line.contains('\n') && timer.elapsed() < 10'000) {
            m_process->waitForReadyRead(100);
            line += m_process->readAllStandardOutput();
        }
        if (!line.startsWith("PORT ")) {
            error = QStringLiteral("no port from the fake: ") + QString::fromUtf8(line + m_process->readAllStandardError());
            return false;
        }
        m_port = line.mid(5).trimmed().toInt();
        // The port is bound before it is printed; still make sure it accepts connections.
        while (timer.elapsed() < 10'000) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(m_port));
            if (probe.waitForConnected(200))
                return true;
            QThread::msleep(50);
        }
        error = QStringLiteral("the fake does not accept connections");
        return false;
    }

    void stop()
    {
        if (!m_process)
            return;
        m_process->kill();
        m_process->waitForFinished(3000);
        m_process.reset();
    }

    int port() const { return m_port; }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    bool configure(const nlohmann::json& change) { return call("POST", "/_control/config", change.dump()).has_value(); }
    bool reset() { return call("POST", "/_control/reset", "{}").has_value(); }
    // Every request the fake answered since the last reset, oldest first.
    nlohmann::json log() { return parsed(call("GET", "/_control/log", {})); }
    nlohmann::json files() { return parsed(call("GET", "/_control/files", {})); }

    std::vector<std::string> routes()
    {
        std::vector<std::string> result;
        for (const auto& entry : log())
            result.push_back(routeOf(entry));
        return result;
    }
    std::vector<nlohmann::json> requests(const std::string& route)
    {
        std::vector<nlohmann::json> result;
        for (const auto& entry : log())
            if (routeOf(entry) == route)
                result.push_back(entry);
        return result;
    }

    QString error;

private:
    std::optional<QByteArray> call(const QByteArray& verb, const QString& path, const std::string& body)
    {
        QNetworkRequest request(QUrl(origin() + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        request.setTransferTimeout(5000);
        QNetworkReply* reply = m_manager.sendCustomRequest(request, verb, QByteArray::fromStdString(body));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        std::optional<QByteArray> result;
        if (reply->error() == QNetworkReply::NoError)
            result = reply->readAll();
        reply->deleteLater();
        return result;
    }

    static std::string routeOf(const nlohmann::json& entry)
    {
        const auto it = entry.find("route");
        return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string();
    }

    static nlohmann::json parsed(const std::optional<QByteArray>& body)
    {
        if (!body)
            return nlohmann::json::array();
        return nlohmann::json::parse(body->toStdString(), nullptr, false);
    }

    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
    QNetworkAccessManager m_manager;
};

} // namespace test
