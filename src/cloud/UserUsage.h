#pragma once

#include "cloud/DecodingError.h"
#include "cloud/Expected.h"

#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

// The usage counters inside the account record.
struct UserUsage {
    std::optional<qint64> usedBytes;
    std::optional<qint64> totalBytes;
    std::optional<qint64> uploadsThisMonth;
    std::optional<QString> lastUploadAt;

    static Expected<UserUsage, DecodingError> decode(const nlohmann::json& json, const QString& path = QString());
    nlohmann::json toJson() const;

    friend bool operator==(const UserUsage&, const UserUsage&) = default;
};
