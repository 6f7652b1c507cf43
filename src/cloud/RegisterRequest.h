#pragma once

#include <QString>

#include <nlohmann/json.hpp>

// The body of the sign-up request.
struct RegisterRequest {
    QString name;
    QString email;
    QString password;
    QString passwordConfirmation;

    nlohmann::json toJson() const;
};
