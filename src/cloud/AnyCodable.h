#pragma once

#include <QString>
#include <QtGlobal>

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <type_traits>
#include <variant>
#include <vector>

// One free-form JSON value (the "features" of a plan, the "metadata" of a file). Decoding never
// fails; JSON null, and anything that is none of the other kinds, is the empty value.
class AnyCodable {
public:
    using Array = std::vector<AnyCodable>;
    using Object = std::map<QString, AnyCodable>;
    using Value = std::variant<std::monostate, bool, qint64, double, QString, Array, Object>;

    AnyCodable() = default;
    // One of the kinds of Value, constructed in place.
    template <typename T>
        requires(!std::is_same_v<std::remove_cvref_t<T>, AnyCodable> && std::is_constructible_v<Value, T &&>)
    explicit AnyCodable(T&& v)
        : value(std::forward<T>(v))
    {
    }

    Value value;

    bool isNull() const { return std::holds_alternative<std::monostate>(value); }
    // The value when it is of that kind; a whole-number literal is an Int, any other number a Double.
    std::optional<bool> boolValue() const;
    std::optional<qint64> intValue() const;
    std::optional<double> doubleValue() const;
    std::optional<QString> stringValue() const;

    static AnyCodable decode(const nlohmann::json& json);
    static Object decodeObject(const nlohmann::json& object);
    nlohmann::json toJson() const;
    static nlohmann::json toJson(const Object& object);

    friend bool operator==(const AnyCodable&, const AnyCodable&) = default;
};
