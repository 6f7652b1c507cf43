#pragma once

#include "cloud/DecodingError.h"
#include "cloud/Expected.h"

#include <QtGlobal>

#include <nlohmann/json.hpp>

#include <optional>

struct User;

// The storage summary of the signed-in account, derived on the client from the account record.
struct StorageUsage {
    qint64 totalBytes = 0;
    qint64 usedBytes = 0;
    qint64 remainingBytes = 0; // never negative
    qint64 uploadCount = 0;
    qint64 maxFileSize = 0;
    std::optional<qint64> maxMonthlyUploads;
    qint64 monthlyUploadsUsed = 0;

    // Nothing when the record has no usage counters.
    static std::optional<StorageUsage> from(const User& user);

    static Expected<StorageUsage, DecodingError> decode(const nlohmann::json& json, const QString& path = QString());
    nlohmann::json toJson() const;

    friend bool operator==(const StorageUsage&, const StorageUsage&) = default;
};
