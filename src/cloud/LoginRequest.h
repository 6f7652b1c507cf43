#pragma once

#include <QString>

#include <nlohmann/json.hpp>

// The body of the sign-in request.
struct LoginRequest {
    QString email;
    QString password;

    nlohmann::json toJson() const;
};
