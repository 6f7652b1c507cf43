#include "cloud/UserPlan.h"

#include "cloud/JSONObjectDecoder.h"
#include "cloud/JSONObjectEncoder.h"

Expected<UserPlan, DecodingError> UserPlan::decode(const nlohmann::json& json, const QString& path)
{
    JSONObjectDecoder d(json, path);
    UserPlan p;
    p.name = d.string("name");
    p.slug = d.string("slug");
    p.description = d.optionalString("description");
    p.storageLimitBytes = d.optionalInteger("storage_limit_bytes");
    p.storageLimitGb = d.optionalDouble("storage_limit_gb");
    p.uploadLimitBytes = d.optionalInteger("upload_limit_bytes");
    p.uploadLimitMb = d.optionalInteger("upload_limit_mb");
    p.maxMonthlyUploads = d.optionalInteger("max_monthly_uploads");
    p.allowPrivateLinks = d.optionalBoolean("allow_private_links");
    p.allowCustomBranding = d.optionalBoolean("allow_custom_branding");
    p.allowPublicLinks = d.optionalBoolean("allow_public_links");
    p.priceFormatted = d.optionalString("price_formatted");
    if (d.failed())
        return d.error();
    return p;
}

nlohmann::json UserPlan::toJson() const
{
    JSONObjectEncoder e;
    e.set("name", name);
    e.set("slug", slug);
    e.setIfPresent("description", description);
    e.setIfPresent("storage_limit_bytes", storageLimitBytes);
    e.setIfPresent("storage_limit_gb", storageLimitGb);
    e.setIfPresent("upload_limit_bytes", uploadLimitBytes);
    e.setIfPresent("upload_limit_mb", uploadLimitMb);
    e.setIfPresent("max_monthly_uploads", maxMonthlyUploads);
    e.setIfPresent("allow_private_links", allowPrivateLinks);
    e.setIfPresent("allow_custom_branding", allowCustomBranding);
    e.setIfPresent("allow_public_links", allowPublicLinks);
    e.setIfPresent("price_formatted", priceFormatted);
    return e.json();
}
