#include "cloud/StorageUsage.h"

#include "cloud/JSONObjectDecoder.h"
#include "cloud/JSONObjectEncoder.h"
#include "cloud/User.h"

#include <limits>

namespace {

// total - used, held at the ends of the range instead of overflowing, and never below zero.
qint64 remaining(qint64 total, qint64 used)
{
    qint64 difference = 0;
    if (__builtin_sub_overflow(total, used, &difference))
        difference = used < 0 ? std::numeric_limits<qint64>::max() : 0;
    return difference < 0 ? 0 : difference;
}

} // namespace

std::optional<StorageUsage> StorageUsage::from(const User& user)
{
    if (!user.usage)
        return std::nullopt;
    const UserUsage& usage = *user.usage;
    const std::optional<SubscriptionPlan> subscriptionPlan = user.subscription ? user.subscription->plan : std::nullopt;
    auto fromPlan = [&](auto member) -> std::optional<qint64> { return user.plan ? (*user.plan).*member : std::nullopt; };

    StorageUsage s;
    s.usedBytes = usage.usedBytes.value_or(0);
    if (usage.totalBytes)
        s.totalBytes = *usage.totalBytes;
    else if (auto limit = fromPlan(&UserPlan::storageLimitBytes))
        s.totalBytes = *limit;
    else if (auto limit = subscriptionPlan ? subscriptionPlan->maxStorageBytes() : std::nullopt)
        s.totalBytes = *limit;
    s.remainingBytes = remaining(s.totalBytes, s.usedBytes);
    s.uploadCount = usage.uploadsThisMonth.value_or(0);
    s.monthlyUploadsUsed = s.uploadCount;
    if (auto limit = fromPlan(&UserPlan::uploadLimitBytes))
        s.maxFileSize = *limit;
    else if (auto limit = subscriptionPlan ? subscriptionPlan->maxFileSizeBytes() : std::nullopt)
        s.maxFileSize = *limit;
    else
        s.maxFileSize = s.totalBytes;
    s.maxMonthlyUploads = fromPlan(&UserPlan::maxMonthlyUploads);
    if (!s.maxMonthlyUploads && subscriptionPlan)
        s.maxMonthlyUploads = subscriptionPlan->maxMonthlyUploads();
    return s;
}

Expected<StorageUsage, DecodingError> StorageUsage::decode(const nlohmann::json& json, const QString& path)
{
    JSONObjectDecoder d(json, path);
    StorageUsage s;
    s.totalBytes = d.integer("total_bytes");
    s.usedBytes = d.integer("used_bytes");
    s.remainingBytes = d.integer("remaining_bytes");
    s.uploadCount = d.integer("upload_count");
    s.maxFileSize = d.integer("max_file_size");
    s.maxMonthlyUploads = d.optionalInteger("max_monthly_uploads");
    s.monthlyUploadsUsed = d.integer("monthly_uploads_used");
    if (d.failed())
        return d.error();
    return s;
}

nlohmann::json StorageUsage::toJson() const
{
    JSONObjectEncoder e;
    e.set("total_bytes", totalBytes);
    e.set("used_bytes", usedBytes);
    e.set("remaining_bytes", remainingBytes);
    e.set("upload_count", uploadCount);
    e.set("max_file_size", maxFileSize);
    e.setIfPresent("max_monthly_uploads", maxMonthlyUploads);
    e.set("monthly_uploads_used", monthlyUploadsUsed);
    return e.json();
}
