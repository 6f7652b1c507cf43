#pragma once

#include "cloud/DecodingError.h"
#include "cloud/Expected.h"
#include "cloud/Subscription.h"
#include "cloud/UserPlan.h"
#include "cloud/UserUsage.h"

#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

// The account record of the service.
struct User {
    qint64 id = 0;
    QString name;
    std::optional<QString> displayName;
    QString email;
    std::optional<QString> locale;
    std::optional<QString> timezone;
    std::optional<QString> emailVerifiedAt;
    std::optional<QString> createdAt;
    std::optional<QString> updatedAt;
    std::optional<Subscription> subscription;
    std::optional<UserPlan> plan;
    std::optional<UserUsage> usage;

    static Expected<User, DecodingError> decode(const nlohmann::json& json, const QString& path = QString());
    nlohmann::json toJson() const;

    friend bool operator==(const User&, const User&) = default;
};
