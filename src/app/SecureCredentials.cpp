#include "app/SecureCredentials.h"

#include <nlohmann/json.hpp>

namespace {

const char* const kFtpPassword = "ftpPassword";
const char* const kYandexAccessToken = "yandexAccessToken";
const char* const kYandexRefreshToken = "yandexRefreshToken";
const char* const kKestrovaApiToken = "kestrovaApiToken";
const char* const kFtpPasswords = "ftpPasswords";

std::string utf8(const QString& s)
{
    return s.toStdString();
}

} // namespace

QByteArray SecureCredentials::toJson() const
{
    nlohmann::ordered_json passwords = nlohmann::ordered_json::object();
    for (auto it = ftpPasswords.cbegin(); it != ftpPasswords.cend(); ++it)
        passwords[utf8(it.key())] = utf8(it.value());
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object[kFtpPassword] = utf8(ftpPassword);
    object[kYandexAccessToken] = utf8(yandexAccessToken);
    object[kYandexRefreshToken] = utf8(yandexRefreshToken);
    object[kKestrovaApiToken] = utf8(kestrovaApiToken);
    object[kFtpPasswords] = std::move(passwords);
    // Replace rather than throw on text that is not valid UTF-8 (QString never produces it).
    const std::string text = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return QByteArray::fromStdString(text);
}

std::optional<SecureCredentials> SecureCredentials::fromJson(const QByteArray& utf8Text)
{
    const nlohmann::json object = nlohmann::json::parse(utf8Text.constData(), utf8Text.constData() + utf8Text.size(),
                                                        nullptr, /*allow_exceptions=*/false);
    if (object.is_discarded() || !object.is_object())
        return std::nullopt;
    auto text = [&](const char* key) -> std::optional<QString> {
        const auto it = object.find(key);
        if (it == object.end() || !it->is_string())
            return std::nullopt;
        return QString::fromStdString(it->get<std::string>());
    };
    SecureCredentials record;
    const auto ftpPassword = text(kFtpPassword);
    const auto access = text(kYandexAccessToken);
    const auto refresh = text(kYandexRefreshToken);
    const auto api = text(kKestrovaApiToken);
    const auto passwords = object.find(kFtpPasswords);
    if (!ftpPassword || !access || !refresh || !api || passwords == object.end() || !passwords->is_object())
        return std::nullopt;
    for (auto it = passwords->begin(); it != passwords->end(); ++it) {
        if (!it->is_string())
            return std::nullopt;
        record.ftpPasswords.insert(QString::fromStdString(it.key()), QString::fromStdString(it->get<std::string>()));
    }
    record.ftpPassword = *ftpPassword;
    record.yandexAccessToken = *access;
    record.yandexRefreshToken = *refresh;
    record.kestrovaApiToken = *api;
    return record;
}
