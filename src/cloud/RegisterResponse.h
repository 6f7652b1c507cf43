#pragma once

#include "cloud/DecodingError.h"
#include "cloud/Expected.h"
#include "cloud/User.h"

#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

// The answer to a sign-up; read exactly like the sign-in answer.
struct RegisterResponse {
    QString token;
    std::optional<User> user;

    static Expected<RegisterResponse, DecodingError> decode(const nlohmann::json& json, const QString& path = QString());
    nlohmann::json toJson() const;

    friend bool operator==(const RegisterResponse&, const RegisterResponse&) = default;
};
