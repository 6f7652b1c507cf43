#pragma once

#include "cloud/DecodingError.h"
#include "cloud/Expected.h"

#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

// The plan summary inside the account record.
struct UserPlan {
    QString name;
    QString slug;
    std::optional<QString> description;
    std::optional<qint64> storageLimitBytes;
    std::optional<double> storageLimitGb;
    std::optional<qint64> uploadLimitBytes;
    std::optional<qint64> uploadLimitMb;
    std::optional<qint64> maxMonthlyUploads;
    std::optional<bool> allowPrivateLinks;
    std::optional<bool> allowCustomBranding;
    std::optional<bool> allowPublicLinks;
    std::optional<QString> priceFormatted;

    static Expected<UserPlan, DecodingError> decode(const nlohmann::json& json, const QString& path = QString());
    nlohmann::json toJson() const;

    friend bool operator==(const UserPlan&, const UserPlan&) = default;
};
