#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <optional>

// Builds one JSON object for a model's encoder: required members always, optional ones only when
// they hold a value.
class JSONObjectEncoder {
public:
    void set(const char* key, const QString& value) { m_json[key] = value.toStdString(); }
    void set(const char* key, qint64 value) { m_json[key] = value; }
    void set(const char* key, double value) { m_json[key] = value; }
    void set(const char* key, bool value) { m_json[key] = value; }
    void set(const char* key, nlohmann::json value) { m_json[key] = std::move(value); }
    void set(const char* key, const QMap<QString, QStringList>& value);
    // An exact decimal kept as text ("9.99"), written as a JSON number.
    void setDecimal(const char* key, const QString& value);

    template <typename T>
    void setIfPresent(const char* key, const std::optional<T>& value)
    {
        if (value)
            set(key, *value);
    }

    const nlohmann::json& json() const { return m_json; }

private:
    nlohmann::json m_json = nlohmann::json::object();
};
