#pragma once

#include "cloud/DecodingError.h"
#include "cloud/Expected.h"
#include "cloud/User.h"

#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

// The answer to a sign-in. Servers differ in where they put the token: at the top level or inside
// "data", as "token", "access_token" or "accessToken"; a top-level token or user always wins.
struct LoginResponse {
    QString token;
    std::optional<User> user;

    static Expected<LoginResponse, DecodingError> decode(const nlohmann::json& json, const QString& path = QString());
    nlohmann::json toJson() const;

    friend bool operator==(const LoginResponse&, const LoginResponse&) = default;
};
