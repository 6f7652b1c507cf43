#pragma once

#include "cloud/DecodingError.h"
#include "cloud/Expected.h"
#include "cloud/User.h"

#include <nlohmann/json.hpp>

// The answer to the current-user request.
struct UserResponse {
    User user;

    static Expected<UserResponse, DecodingError> decode(const nlohmann::json& json, const QString& path = QString());
    nlohmann::json toJson() const;
};
