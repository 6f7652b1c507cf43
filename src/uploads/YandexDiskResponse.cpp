#include "uploads/YandexDiskResponse.h"

#include "uploads/YandexDiskError.h"

#include <QNetworkReply>
#include <QStringDecoder>

namespace {

platform::AppError transportErrorOf(QNetworkReply* reply)
{
    const QNetworkReply::NetworkError code = reply->error();
    QString description = reply->errorString();
    // A transfer time-out aborts the reply, which Qt reports as "Operation canceled"; nothing else
    // here cancels a request, so say what happened.
    if (code == QNetworkReply::OperationCanceledError || code == QNetworkReply::TimeoutError)
        description = QStringLiteral("Превышен лимит времени на запрос.");
    else if (code == QNetworkReply::InsecureRedirectError)
        description = QStringLiteral("Сервер перенаправил запрос на другой адрес; токен туда не отправляется.");
    return platform::AppError{YandexDiskResponses::transportDomain, static_cast<int>(code), description};
}

// Network and proxy errors (below 200) happen before or instead of an HTTP answer; the classes
// from 200 up are Qt's mapping of HTTP statuses.
bool isBelowHTTP(QNetworkReply::NetworkError code)
{
    return code != QNetworkReply::NoError && static_cast<int>(code) < 200;
}

} // namespace

YandexDiskResponse YandexDiskResponse::read(QNetworkReply* reply, const QByteArray& received)
{
    YandexDiskResponse response;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError code = reply->error();
    if (isBelowHTTP(code) || (code != QNetworkReply::NoError && !status.isValid())) {
        response.transportError = transportErrorOf(reply);
        return response;
    }
    if (status.isValid()) {
        response.isHTTP = true;
        response.status = status.toInt();
        response.reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    }
    const QVariant target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
    if (target.isValid())
        response.redirectTarget = reply->url().resolved(target.toUrl());
    response.body = received + reply->read(maxBodyBytes + 1 - received.size());
    if (response.body.size() > maxBodyBytes)
        return transportFailure(YandexDiskErrors::toAppError(YandexDiskError::answerTooLarge));
    return response;
}

YandexDiskResponse YandexDiskResponse::transportFailure(platform::AppError error)
{
    YandexDiskResponse response;
    response.transportError = std::move(error);
    return response;
}

QString YandexDiskResponse::statusLine() const
{
    const QString line = QStringLiteral("HTTP ") + statusText();
    return reason.isEmpty() ? line : line + QStringLiteral(": ") + reason;
}

QString YandexDiskResponse::bodyText() const
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(body);
    if (decoder.hasError())
        return {};
    return text;
}

std::variant<nlohmann::json, platform::AppError> YandexDiskResponse::jsonObject() const
{
    if (!hasBody())
        return YandexDiskErrors::toAppError(YandexDiskError::noData);
    nlohmann::json value;
    try {
        value = nlohmann::json::parse(body.cbegin(), body.cend());
    } catch (const nlohmann::json::exception& e) {
        return platform::AppError{YandexDiskResponses::jsonDomain, e.id,
                                  QStringLiteral("Ответ сервера не является корректным JSON"),
                                  QString::fromUtf8(e.what())};
    }
    if (!value.is_object())
        return YandexDiskErrors::toAppError(YandexDiskError::invalidResponse);
    return value;
}

std::optional<nlohmann::json> YandexDiskResponse::jsonObjectIfAny() const
{
    auto result = jsonObject();
    if (auto* object = std::get_if<nlohmann::json>(&result))
        return std::move(*object);
    return std::nullopt;
}

std::optional<QString> YandexDiskResponse::text(const nlohmann::json& object, const char* key)
{
    if (!object.is_object())
        return std::nullopt;
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    return QString::fromStdString(it->get<std::string>());
}
