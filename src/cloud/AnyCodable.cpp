#include "cloud/AnyCodable.h"

#include <limits>

std::optional<bool> AnyCodable::boolValue() const
{
    if (auto* v = std::get_if<bool>(&value))
        return *v;
    return std::nullopt;
}

std::optional<qint64> AnyCodable::intValue() const
{
    if (auto* v = std::get_if<qint64>(&value))
        return *v;
    return std::nullopt;
}

std::optional<double> AnyCodable::doubleValue() const
{
    if (auto* v = std::get_if<double>(&value))
        return *v;
    return std::nullopt;
}

std::optional<QString> AnyCodable::stringValue() const
{
    if (auto* v = std::get_if<QString>(&value))
        return *v;
    return std::nullopt;
}

AnyCodable AnyCodable::decode(const nlohmann::json& json)
{
    using Type = nlohmann::json::value_t;
    switch (json.type()) {
    case Type::boolean:
        return AnyCodable(json.get<bool>());
    case Type::number_integer:
        return AnyCodable(json.get<qint64>());
    case Type::number_unsigned: {
        const auto u = json.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))
            return AnyCodable(static_cast<qint64>(u));
        return AnyCodable(static_cast<double>(u));
    }
    case Type::number_float:
        return AnyCodable(json.get<double>());
    case Type::string:
        return AnyCodable(QString::fromStdString(json.get_ref<const std::string&>()));
    case Type::array: {
        Array items;
        items.reserve(json.size());
        for (const auto& item : json)
            items.push_back(decode(item));
        return AnyCodable(std::move(items));
    }
    case Type::object:
        return AnyCodable(decodeObject(json));
    default:
        return AnyCodable();
    }
}

AnyCodable::Object AnyCodable::decodeObject(const nlohmann::json& object)
{
    Object result;
    if (!object.is_object())
        return result;
    for (auto it = object.begin(); it != object.end(); ++it)
        result.emplace(QString::fromStdString(it.key()), decode(it.value()));
    return result;
}

nlohmann::json AnyCodable::toJson() const
{
    struct Writer {
        nlohmann::json operator()(std::monostate) const { return nullptr; }
        nlohmann::json operator()(bool v) const { return v; }
        nlohmann::json operator()(qint64 v) const { return v; }
        nlohmann::json operator()(double v) const { return v; }
        nlohmann::json operator()(const QString& v) const { return v.toStdString(); }
        nlohmann::json operator()(const Array& v) const
        {
            nlohmann::json out = nlohmann::json::array();
            for (const auto& item : v)
                out.push_back(item.toJson());
            return out;
        }
        nlohmann::json operator()(const Object& v) const { return AnyCodable::toJson(v); }
    };
    return std::visit(Writer{}, value);
}

nlohmann::json AnyCodable::toJson(const Object& object)
{
    nlohmann::json out = nlohmann::json::object();
    for (const auto& [key, item] : object)
        out[key.toStdString()] = item.toJson();
    return out;
}
