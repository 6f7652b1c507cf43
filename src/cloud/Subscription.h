#pragma once

#include "cloud/DecodingError.h"
#include "cloud/Expected.h"
#include "cloud/SubscriptionPlan.h"

#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

// The account's subscription record.
struct Subscription {
    qint64 id = 0;
    qint64 userId = 0;
    qint64 planId = 0;
    QString status;
    std::optional<QString> startsAt;
    std::optional<QString> endsAt;
    QString createdAt;
    QString updatedAt;
    std::optional<SubscriptionPlan> plan;

    static Expected<Subscription, DecodingError> decode(const nlohmann::json& json, const QString& path = QString());
    nlohmann::json toJson() const;

    friend bool operator==(const Subscription&, const Subscription&) = default;
};
