#pragma once

// Shared by the cloud tests: the local fake of the REST service and the diagnostic log's lines.

#include "app/DebugLogger.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTcpSocket>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <vector>

#include <unistd.h>

// Readable QString values in failure messages.
inline void PrintTo(const QString& value, std::ostream* out)
{
    *out << '"' << value.toStdString() << '"';
}

namespace cloudtest {

using namespace std::chrono_literals;

struct RecordedRequest {
    QString method;
    QString path;
    std::vector<std::pair<QString, QString>> headers;
    QByteArray body;
    nlohmann::json multipart; // null unless the fake read an upload form
    std::optional<qint64> sent; // bytes of a repeated answer the client took before it hung up

    std::optional<QString> header(const QString& name) const
    {
        for (const auto& [key, value] : headers)
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        return std::nullopt;
    }
};

// tests/fakes/cloud_api.py on an ephemeral port of 127.0.0.1; it stops by itself after its
// lifetime, and when this object closes its stdin.
class CloudFake {
public:
    explicit CloudFake(std::chrono::seconds lifetime = 120s)
    {
        m_process.setProgram(QStringLiteral("/usr/bin/python3"));
        m_process.setArguments({test::sourcePath(QStringLiteral("tests/fakes/cloud_api.py")), QStringLiteral("--lifetime"),
                                QString::number(lifetime.count())});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return;
        QByteArray line;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!line.contains('\n') && std::chrono::steady_clock::now() < deadline) {
            m_process.waitForReadyRead(200);
            line += m_process.readAllStandardOutput();
        }
        if (!line.startsWith("PORT "))
            return;
        const quint16 port = static_cast<quint16>(line.mid(5).trimmed().toUInt());
        // Bounded connect loop: the port is printed before serve_forever starts accepting.
        for (int attempt = 0; attempt < 50; ++attempt) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), port);
            if (probe.waitForConnected(100)) {
                m_port = port;
                return;
            }
            ::usleep(100 * 1000);
        }
    }

    ~CloudFake()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    bool running() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QString root() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    // One control call over a blocking socket, so no event of the test runs meanwhile.
    nlohmann::json control(const char* method, const char* path, const nlohmann::json& body = nlohmann::json::object())
    {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), m_port);
        if (!socket.waitForConnected(3000))
            return nullptr;
        const std::string text = body.dump();
        QByteArray request = QByteArray(method) + ' ' + path + " HTTP/1.0\r\nHost: fake\r\nContent-Length: "
                             + QByteArray::number(static_cast<qsizetype>(text.size())) + "\r\n\r\n" + text.c_str();
        socket.write(request);
        socket.waitForBytesWritten(3000);
        QByteArray answer;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (socket.state() == QAbstractSocket::ConnectedState && std::chrono::steady_clock::now() < deadline) {
            socket.waitForReadyRead(100);
            answer += socket.readAll();
        }
        answer += socket.readAll();
        const qsizetype split = answer.indexOf("\r\n\r\n");
        if (split < 0)
            return nullptr;
        const QByteArray payload = answer.mid(split + 4);
        return nlohmann::json::parse(payload.constData(), payload.constData() + payload.size(), nullptr, false);
    }

    void configure(const nlohmann::json& options) { control("POST", "/__fake/configure", options); }
    // Answers `method path` with `status` and `body` (a JSON value or a raw text) instead of the service.
    void rule(const char* method, const char* path, int status, const nlohmann::json& body, int times = 1,
              double delaySeconds = 0, const char* contentType = "application/json")
    {
        configure({{"rules",
                    {{{"method", method},
                      {"path", path},
                      {"status", status},
                      {"body_b64", QByteArray::fromStdString(body.is_string() ? body.get<std::string>() : body.dump())
                                       .toBase64()
                                       .toStdString()},
                      {"times", times},
                      {"delay", delaySeconds},
                      {"content_type", contentType}}}}});
    }
    // A rule given whole: the fields of "rules" in tests/fakes/cloud_api.py ("headers", "repeat", ...).
    void addRule(const nlohmann::json& rule) { configure({{"rules", nlohmann::json::array({rule})}}); }
    void resetRequests() { control("POST", "/__fake/reset"); }

    std::vector<RecordedRequest> requests()
    {
        std::vector<RecordedRequest> result;
        const nlohmann::json all = control("GET", "/__fake/requests");
        if (!all.is_array())
            return result;
        for (const auto& item : all) {
            RecordedRequest r;
            r.method = QString::fromStdString(item["method"].get<std::string>());
            r.path = QString::fromStdString(item["path"].get<std::string>());
            for (const auto& h : item["headers"])
                r.headers.emplace_back(QString::fromStdString(h[0].get<std::string>()),
                                       QString::fromStdString(h[1].get<std::string>()));
            r.body = QByteArray::fromBase64(QByteArray::fromStdString(item["body"].get<std::string>()));
            if (item.contains("multipart"))
                r.multipart = item["multipart"];
            if (item.contains("sent"))
                r.sent = item["sent"].get<qint64>();
            result.push_back(std::move(r));
        }
        return result;
    }

    // "GET /sanctum/csrf-cookie", "POST /api/v1/auth/login", ...
    QStringList requestLines()
    {
        QStringList lines;
        for (const auto& r : requests())
            lines << r.method + QLatin1Char(' ') + r.path;
        return lines;
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// The messages of the diagnostic log written since `mark` lines: "function: message" without the
// time and source position.
inline QStringList logLines()
{
    DebugLogger::shared().flush();
    QFile file(DebugLogger::shared().logFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

class LogMark {
public:
    LogMark()
        : m_start(logLines().size())
    {
    }
    // Whole lines written since the mark.
    QStringList lines() const { return logLines().mid(m_start); }
    // The same, each cut after its "] " source position: "uploadFile: APIClient: ...".
    QStringList messages() const
    {
        QStringList result;
        for (const QString& line : lines()) {
            const qsizetype position = line.indexOf(QStringLiteral("] ["));
            const qsizetype end = position < 0 ? -1 : line.indexOf(QStringLiteral("] "), position + 3);
            result << (end < 0 ? line : line.mid(end + 2));
        }
        return result;
    }

private:
    qsizetype m_start;
};

} // namespace cloudtest
