#include "cloud/JSONObjectDecoder.h"

#include <array>
#include <charconv>
#include <limits>

JSONObjectDecoder::JSONObjectDecoder(const nlohmann::json& json, QString path)
    : m_json(json)
    , m_path(std::move(path))
{
    if (!m_json.is_object())
        fail(m_json.is_null() ? DecodingError::valueNotFound(m_path)
                              : DecodingError::typeMismatch(m_path, QStringLiteral("an object")));
}

Expected<nlohmann::json, DecodingError> JSONObjectDecoder::parse(const QByteArray& body)
{
    nlohmann::json json = nlohmann::json::parse(body.constData(), body.constData() + body.size(), nullptr, false);
    if (json.is_discarded())
        return DecodingError::dataCorrupted(QString(), QStringLiteral("The given data was not valid JSON."));
    return json;
}

void JSONObjectDecoder::fail(const DecodingError& error)
{
    if (!m_error)
        m_error = error;
}

QString JSONObjectDecoder::pathFor(const char* key) const
{
    const QString name = QString::fromLatin1(key);
    return m_path.isEmpty() ? name : m_path + QLatin1Char('.') + name;
}

const nlohmann::json* JSONObjectDecoder::member(const char* key) const
{
    if (!m_json.is_object())
        return nullptr;
    const auto it = m_json.find(key);
    return it == m_json.end() ? nullptr : &*it;
}

const nlohmann::json* JSONObjectDecoder::present(const char* key, bool required)
{
    if (failed())
        return nullptr;
    const nlohmann::json* value = member(key);
    if (!value) {
        if (required)
            fail(DecodingError::keyNotFound(pathFor(key)));
        return nullptr;
    }
    if (value->is_null()) {
        if (required)
            fail(DecodingError::valueNotFound(pathFor(key)));
        return nullptr;
    }
    return value;
}

std::optional<QString> JSONObjectDecoder::asString(const nlohmann::json& value)
{
    if (!value.is_string())
        return std::nullopt;
    return QString::fromStdString(value.get_ref<const std::string&>());
}

std::optional<qint64> JSONObjectDecoder::asInteger(const nlohmann::json& value)
{
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return static_cast<qint64>(u);
    }
    if (value.is_number_integer())
        return value.get<qint64>();
    return std::nullopt;
}

std::optional<double> JSONObjectDecoder::asDouble(const nlohmann::json& value)
{
    if (!value.is_number())
        return std::nullopt;
    return value.get<double>();
}

std::optional<bool> JSONObjectDecoder::asBoolean(const nlohmann::json& value)
{
    if (!value.is_boolean())
        return std::nullopt;
    return value.get<bool>();
}

std::optional<QString> JSONObjectDecoder::asDecimal(const nlohmann::json& value)
{
    if (value.is_number_integer())
        return QString::fromStdString(value.dump());
    if (!value.is_number_float())
        return std::nullopt;
    // The shortest text that reads back as the same double is the literal the service sent for
    // any price of up to 15 significant digits.
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value.get<double>());
    return QString::fromLatin1(buffer.data(), static_cast<qsizetype>(result.ptr - buffer.data()));
}

QString JSONObjectDecoder::string(const char* key)
{
    return read<QString>(key, true, asString, "a string").value_or(QString());
}

qint64 JSONObjectDecoder::integer(const char* key)
{
    return read<qint64>(key, true, asInteger, "an integer").value_or(0);
}

bool JSONObjectDecoder::boolean(const char* key)
{
    return read<bool>(key, true, asBoolean, "a boolean").value_or(false);
}

QString JSONObjectDecoder::decimal(const char* key)
{
    return read<QString>(key, true, asDecimal, "a decimal number").value_or(QString());
}

AnyCodable::Object JSONObjectDecoder::anyObject(const char* key)
{
    const nlohmann::json* value = present(key, true);
    if (!value)
        return {};
    if (!value->is_object()) {
        fail(DecodingError::typeMismatch(pathFor(key), QStringLiteral("an object")));
        return {};
    }
    return AnyCodable::decodeObject(*value);
}

std::optional<QString> JSONObjectDecoder::optionalString(const char* key)
{
    return read<QString>(key, false, asString, "a string");
}

std::optional<qint64> JSONObjectDecoder::optionalInteger(const char* key)
{
    return read<qint64>(key, false, asInteger, "an integer");
}

std::optional<double> JSONObjectDecoder::optionalDouble(const char* key)
{
    return read<double>(key, false, asDouble, "a number");
}

std::optional<bool> JSONObjectDecoder::optionalBoolean(const char* key)
{
    return read<bool>(key, false, asBoolean, "a boolean");
}

std::optional<QMap<QString, QStringList>> JSONObjectDecoder::optionalStringListMap(const char* key)
{
    const nlohmann::json* value = present(key, false);
    if (!value)
        return std::nullopt;
    if (!value->is_object()) {
        fail(DecodingError::typeMismatch(pathFor(key), QStringLiteral("an object of string arrays")));
        return std::nullopt;
    }
    QMap<QString, QStringList> result;
    for (auto it = value->begin(); it != value->end(); ++it) {
        const QString field = QString::fromStdString(it.key());
        const QString fieldPath = pathFor(key) + QLatin1Char('.') + field;
        if (!it.value().is_array()) {
            fail(DecodingError::typeMismatch(fieldPath, QStringLiteral("an array of strings")));
            return std::nullopt;
        }
        QStringList messages;
        for (const auto& message : it.value()) {
            auto text = asString(message);
            if (!text) {
                fail(DecodingError::typeMismatch(fieldPath, QStringLiteral("a string")));
                return std::nullopt;
            }
            messages.append(*text);
        }
        result.insert(field, messages);
    }
    return result;
}

std::optional<QString> JSONObjectDecoder::tryString(const char* key) const
{
    const nlohmann::json* value = member(key);
    return value ? asString(*value) : std::nullopt;
}

std::optional<qint64> JSONObjectDecoder::tryInteger(const char* key) const
{
    const nlohmann::json* value = member(key);
    return value ? asInteger(*value) : std::nullopt;
}

std::optional<bool> JSONObjectDecoder::tryBoolean(const char* key) const
{
    const nlohmann::json* value = member(key);
    return value ? asBoolean(*value) : std::nullopt;
}

std::optional<AnyCodable::Object> JSONObjectDecoder::tryAnyObject(const char* key) const
{
    const nlohmann::json* value = member(key);
    if (!value || !value->is_object())
        return std::nullopt;
    return AnyCodable::decodeObject(*value);
}
