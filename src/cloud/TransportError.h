#pragma once

#include <QNetworkReply>
#include <QString>
#include <QUrl>

// A request that never produced an HTTP answer: no connection, a time-out, a broken TLS handshake.
// The texts are those a desktop user knows from other programs; the upload error texts of the
// uploaders are chosen by words in them ("timed out", "connection", "SSL", "cancelled").
struct TransportError {
    enum class Code {
        timedOut,
        cannotFindHost,
        cannotConnectToHost,
        networkConnectionLost,
        notConnectedToInternet,
        secureConnectionFailed,
        cancelled,
        redirectRefused, // a redirect elsewhere of a request that carries credentials
        unknown,
    };

    Code code = Code::unknown;
    QString localizedDescription;
    QNetworkReply::NetworkError networkError = QNetworkReply::UnknownNetworkError;

    // `timedOut`: the reply was aborted by one of the client's own time limits.
    static TransportError fromReply(QNetworkReply::NetworkError error, const QString& errorString, bool timedOut);
    static TransportError make(Code code, QNetworkReply::NetworkError networkError = QNetworkReply::UnknownNetworkError,
                               const QString& detail = QString());
    // A redirect to `target` refused because the request carries the account's credentials.
    static TransportError redirectRefused(const QUrl& target);

    // "TransportError.timedOut(The request timed out.)"
    QString debugDescription() const;

    friend bool operator==(const TransportError&, const TransportError&) = default;
};
