#include "cloud/APIClientError.h"

APIClientError APIClientError::httpError(int statusCode)
{
    APIClientError e = of(Case::httpError);
    e.statusCode = statusCode;
    return e;
}

APIClientError APIClientError::decodingError(const DecodingError& error)
{
    APIClientError e = of(Case::decodingError);
    e.decoding = error;
    e.underlyingDescription = error.localizedDescription();
    return e;
}

QString APIClientError::errorDescription() const
{
    switch (kind) {
    case Case::httpError:
        return QStringLiteral("HTTP Error: ") + QString::number(statusCode);
    case Case::decodingError:
        return QStringLiteral("Failed to decode response: ") + underlyingDescription;
    case Case::encodingError:
        return QStringLiteral("Failed to encode request: ") + underlyingDescription;
    case Case::networkError:
        return QStringLiteral("Network error: ") + underlyingDescription;
    case Case::invalidURL:
        return QStringLiteral("Invalid URL");
    case Case::invalidResponse:
        return QStringLiteral("Invalid server response");
    case Case::unauthorized:
        return QStringLiteral("Unauthorized. Please log in again.");
    case Case::missingCsrfToken:
        return QStringLiteral("Unable to obtain CSRF token from the server");
    case Case::responseTooLarge:
        return QStringLiteral("The server's answer is larger than 1 MiB; it was not read.");
    }
    return QString();
}

QString APIClientError::debugDescription() const
{
    switch (kind) {
    case Case::httpError:
        return QStringLiteral("httpError(statusCode: %1)").arg(statusCode);
    case Case::decodingError:
        return QStringLiteral("decodingError(%1)").arg(decoding ? decoding->debugDescription : underlyingDescription);
    case Case::encodingError:
        return QStringLiteral("encodingError(%1)").arg(underlyingDescription);
    case Case::networkError:
        return QStringLiteral("networkError(%1)").arg(underlyingDescription);
    case Case::invalidURL:
        return QStringLiteral("invalidURL");
    case Case::invalidResponse:
        return QStringLiteral("invalidResponse");
    case Case::unauthorized:
        return QStringLiteral("unauthorized");
    case Case::missingCsrfToken:
        return QStringLiteral("missingCsrfToken");
    case Case::responseTooLarge:
        return QStringLiteral("responseTooLarge");
    }
    return QString();
}
