#include "cloud/UserUsage.h"

#include "cloud/JSONObjectDecoder.h"
#include "cloud/JSONObjectEncoder.h"

Expected<UserUsage, DecodingError> UserUsage::decode(const nlohmann::json& json, const QString& path)
{
    JSONObjectDecoder d(json, path);
    UserUsage u;
    u.usedBytes = d.optionalInteger("used_bytes");
    u.totalBytes = d.optionalInteger("total_bytes");
    u.uploadsThisMonth = d.optionalInteger("uploads_this_month");
    u.lastUploadAt = d.optionalString("last_upload_at");
    if (d.failed())
        return d.error();
    return u;
}

nlohmann::json UserUsage::toJson() const
{
    JSONObjectEncoder e;
    e.setIfPresent("used_bytes", usedBytes);
    e.setIfPresent("total_bytes", totalBytes);
    e.setIfPresent("uploads_this_month", uploadsThisMonth);
    e.setIfPresent("last_upload_at", lastUploadAt);
    return e.json();
}
