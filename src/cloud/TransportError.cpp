#include "cloud/TransportError.h"

namespace {

QString codeName(TransportError::Code code)
{
    using Code = TransportError::Code;
    switch (code) {
    case Code::timedOut: return QStringLiteral("timedOut");
    case Code::cannotFindHost: return QStringLiteral("cannotFindHost");
    case Code::cannotConnectToHost: return QStringLiteral("cannotConnectToHost");
    case Code::networkConnectionLost: return QStringLiteral("networkConnectionLost");
    case Code::notConnectedToInternet: return QStringLiteral("notConnectedToInternet");
    case Code::secureConnectionFailed: return QStringLiteral("secureConnectionFailed");
    case Code::cancelled: return QStringLiteral("cancelled");
    case Code::redirectRefused: return QStringLiteral("redirectRefused");
    case Code::unknown: return QStringLiteral("unknown");
    }
    return QString();
}

} // namespace

TransportError TransportError::make(Code code, QNetworkReply::NetworkError networkError, const QString& detail)
{
    TransportError e;
    e.code = code;
    e.networkError = networkError;
    switch (code) {
    case Code::timedOut:
        e.localizedDescription = QStringLiteral("The request timed out.");
        break;
    case Code::cannotFindHost:
        e.localizedDescription = QStringLiteral("A server with the specified hostname could not be found.");
        break;
    case Code::cannotConnectToHost:
        e.localizedDescription = QStringLiteral("Could not connect to the server.");
        break;
    case Code::networkConnectionLost:
        e.localizedDescription = QStringLiteral("The network connection was lost.");
        break;
    case Code::notConnectedToInternet:
        e.localizedDescription = QStringLiteral("The Internet connection appears to be offline.");
        break;
    case Code::secureConnectionFailed:
        e.localizedDescription =
            QStringLiteral("An SSL error has occurred and a secure connection to the server cannot be made.");
        break;
    case Code::cancelled:
        e.localizedDescription = QStringLiteral("cancelled");
        break;
    case Code::redirectRefused:
        // `detail`: the origin the server pointed at.
        e.localizedDescription = QStringLiteral("The server sent the request on to another host (%1); it was not "
                                                "followed, so that the account's credentials stay with the service.")
                                     .arg(detail);
        break;
    case Code::unknown:
        e.localizedDescription = detail.isEmpty() ? QStringLiteral("An unknown network error occurred.") : detail;
        break;
    }
    return e;
}

TransportError TransportError::redirectRefused(const QUrl& target)
{
    // The origin only: the rest of the address may carry what the other host handed out.
    return make(Code::redirectRefused, QNetworkReply::InsecureRedirectError,
                target.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
                    .toString());
}

TransportError TransportError::fromReply(QNetworkReply::NetworkError error, const QString& errorString, bool timedOut)
{
    if (timedOut)
        return make(Code::timedOut, error);
    switch (error) {
    case QNetworkReply::TimeoutError:
        return make(Code::timedOut, error);
    case QNetworkReply::HostNotFoundError:
        return make(Code::cannotFindHost, error);
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
        return make(Code::cannotConnectToHost, error);
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
        return make(Code::networkConnectionLost, error);
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::BackgroundRequestNotAllowedError:
        return make(Code::notConnectedToInternet, error);
    case QNetworkReply::SslHandshakeFailedError:
        return make(Code::secureConnectionFailed, error);
    case QNetworkReply::OperationCanceledError:
        return make(Code::cancelled, error);
    default:
        return make(Code::unknown, error, errorString);
    }
}

QString TransportError::debugDescription() const
{
    return QStringLiteral("TransportError.%1(%2)").arg(codeName(code), localizedDescription);
}
