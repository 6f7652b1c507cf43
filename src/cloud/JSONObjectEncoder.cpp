#include "cloud/JSONObjectEncoder.h"

void JSONObjectEncoder::set(const char* key, const QMap<QString, QStringList>& value)
{
    nlohmann::json object = nlohmann::json::object();
    for (auto it = value.begin(); it != value.end(); ++it) {
        nlohmann::json messages = nlohmann::json::array();
        for (const QString& message : it.value())
            messages.push_back(message.toStdString());
        object[it.key().toStdString()] = std::move(messages);
    }
    m_json[key] = std::move(object);
}

void JSONObjectEncoder::setDecimal(const char* key, const QString& value)
{
    // The text came from a JSON number, so it parses back as one.
    nlohmann::json number = nlohmann::json::parse(value.toStdString(), nullptr, false);
    m_json[key] = number.is_number() ? number : nlohmann::json(0);
}
