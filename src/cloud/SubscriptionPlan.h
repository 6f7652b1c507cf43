#pragma once

#include "cloud/AnyCodable.h"
#include "cloud/DecodingError.h"
#include "cloud/Expected.h"

#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

// The full plan record inside a subscription.
struct SubscriptionPlan {
    qint64 id = 0;
    QString name;
    QString slug;
    std::optional<QString> description;
    QString price; // exact decimal, as text
    QString currency;
    QString billingPeriod;
    AnyCodable::Object features;
    bool isActive = false;
    qint64 displayOrder = 0;
    QString createdAt;
    QString updatedAt;

    // Whole-number entries of `features`; absent for any other kind of value.
    std::optional<qint64> maxStorageBytes() const;
    std::optional<qint64> maxFileSizeBytes() const;
    std::optional<qint64> maxMonthlyUploads() const;

    static Expected<SubscriptionPlan, DecodingError> decode(const nlohmann::json& json, const QString& path = QString());
    nlohmann::json toJson() const;

    friend bool operator==(const SubscriptionPlan&, const SubscriptionPlan&) = default;

private:
    std::optional<qint64> integerFeature(const char* key) const;
};
