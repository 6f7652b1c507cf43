#pragma once

#include "platform/AppError.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <nlohmann/json.hpp>

#include <optional>
#include <variant>

class QNetworkReply;

// One finished Yandex Disk request, read from its reply at once and then passed around by value.
// Classified by HTTP status first: an HTTP error answer is a response, not a transport error.
struct YandexDiskResponse {
    // Set when the request failed below HTTP (refused, reset, timed out, TLS, ...).
    std::optional<platform::AppError> transportError;
    // False when no HTTP status arrived (and no transport error either, e.g. another scheme).
    bool isHTTP = false;
    int status = -1; // -1 unless isHTTP
    QString reason;  // the status line's text ("Internal Server Error"), when it had one
    QByteArray body; // empty counts as no body
    // Where a redirect that was not followed points, resolved against the request's address.
    std::optional<QUrl> redirectTarget;

    // Every answer of the Disk API is a small JSON text; a longer one is abandoned as it arrives.
    static constexpr qsizetype maxBodyBytes = 1024 * 1024;

    // `received`: the part of the body already taken from the reply.
    static YandexDiskResponse read(QNetworkReply* reply, const QByteArray& received = {});
    static YandexDiskResponse transportFailure(platform::AppError error);

    bool hasBody() const { return !body.isEmpty(); }
    // The status in decimal, "-1" when not an HTTP response.
    QString statusText() const { return QString::number(isHTTP ? status : -1); }
    // "HTTP 500: Internal Server Error", or "HTTP 500" when the status line had no text.
    QString statusLine() const;
    // The body as UTF-8; empty when there is none or it is not valid UTF-8.
    QString bodyText() const;

    // The body as a JSON object, or the reading error: noData, the reader's own error, or
    // invalidResponse for JSON that is not an object.
    std::variant<nlohmann::json, platform::AppError> jsonObject() const;
    // The object when the body is one; anything else is simply none.
    std::optional<nlohmann::json> jsonObjectIfAny() const;

    // The text under `key` of a JSON object, when it is a string.
    static std::optional<QString> text(const nlohmann::json& object, const char* key);
};

namespace YandexDiskResponses {

inline const QString transportDomain = QStringLiteral("QNetworkReply");
inline const QString jsonDomain = QStringLiteral("JSONReader");

} // namespace YandexDiskResponses
