#pragma once

#include "cloud/AnyCodable.h"
#include "cloud/DecodingError.h"
#include "cloud/Expected.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <optional>

// Reads the members of one JSON object for a model's decoder, in the order the model declares
// them. The first failure is kept and every later read returns an empty value, so a decoder reads
// straight through and checks failed() once at the end.
//
// Presence: required members fail when missing, null or of the wrong type; optional members are
// absent when missing or null and fail on a wrong type; the try... readers never fail.
// Types: a JSON integer literal is an integer, any number a double, true/false a boolean.
class JSONObjectDecoder {
public:
    // Fails at once when `json` is not an object.
    JSONObjectDecoder(const nlohmann::json& json, QString path = QString());

    // Parses a response body; an empty or malformed body is a dataCorrupted error.
    static Expected<nlohmann::json, DecodingError> parse(const QByteArray& body);

    bool failed() const { return m_error.has_value(); }
    const DecodingError& error() const { return *m_error; }
    void fail(const DecodingError& error);
    QString pathFor(const char* key) const;
    const QString& path() const { return m_path; }

    QString string(const char* key);
    qint64 integer(const char* key);
    bool boolean(const char* key);
    // An exact decimal number, as its shortest text ("9.99", "10").
    QString decimal(const char* key);
    AnyCodable::Object anyObject(const char* key);

    std::optional<QString> optionalString(const char* key);
    std::optional<qint64> optionalInteger(const char* key);
    std::optional<double> optionalDouble(const char* key);
    std::optional<bool> optionalBoolean(const char* key);
    std::optional<QMap<QString, QStringList>> optionalStringListMap(const char* key);

    std::optional<QString> tryString(const char* key) const;
    std::optional<qint64> tryInteger(const char* key) const;
    std::optional<bool> tryBoolean(const char* key) const;
    std::optional<AnyCodable::Object> tryAnyObject(const char* key) const;

    template <typename T, typename Decode>
    std::optional<T> model(const char* key, Decode decode)
    {
        return nested<T>(key, decode, true);
    }
    template <typename T, typename Decode>
    std::optional<T> optionalModel(const char* key, Decode decode)
    {
        return nested<T>(key, decode, false);
    }

    // Value conversions shared with other readers; nullopt when the value is of another kind.
    static std::optional<QString> asString(const nlohmann::json& value);
    static std::optional<qint64> asInteger(const nlohmann::json& value);
    static std::optional<double> asDouble(const nlohmann::json& value);
    static std::optional<bool> asBoolean(const nlohmann::json& value);
    static std::optional<QString> asDecimal(const nlohmann::json& value);

private:
    const nlohmann::json* member(const char* key) const;
    // The member for a required (or optional) read; nullptr when there is nothing to read.
    const nlohmann::json* present(const char* key, bool required);

    template <typename T, typename Convert>
    std::optional<T> read(const char* key, bool required, Convert convert, const char* typeName)
    {
        const nlohmann::json* value = present(key, required);
        if (!value)
            return std::nullopt;
        auto converted = convert(*value);
        if (!converted)
            fail(DecodingError::typeMismatch(pathFor(key), QString::fromLatin1(typeName)));
        return converted;
    }

    template <typename T, typename Decode>
    std::optional<T> nested(const char* key, Decode decode, bool required)
    {
        const nlohmann::json* value = present(key, required);
        if (!value)
            return std::nullopt;
        Expected<T, DecodingError> decoded = decode(*value, pathFor(key));
        if (!decoded) {
            fail(decoded.error());
            return std::nullopt;
        }
        return std::move(decoded).value();
    }

    const nlohmann::json& m_json;
    QString m_path;
    std::optional<DecodingError> m_error;
};
