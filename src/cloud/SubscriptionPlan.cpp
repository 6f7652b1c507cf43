#include "cloud/SubscriptionPlan.h"

#include "cloud/JSONObjectDecoder.h"
#include "cloud/JSONObjectEncoder.h"

std::optional<qint64> SubscriptionPlan::integerFeature(const char* key) const
{
    const auto it = features.find(QString::fromLatin1(key));
    return it == features.end() ? std::nullopt : it->second.intValue();
}

std::optional<qint64> SubscriptionPlan::maxStorageBytes() const
{
    return integerFeature("max_storage_bytes");
}

std::optional<qint64> SubscriptionPlan::maxFileSizeBytes() const
{
    return integerFeature("max_file_size_bytes");
}

std::optional<qint64> SubscriptionPlan::maxMonthlyUploads() const
{
    return integerFeature("max_monthly_uploads");
}

Expected<SubscriptionPlan, DecodingError> SubscriptionPlan::decode(const nlohmann::json& json, const QString& path)
{
    JSONObjectDecoder d(json, path);
    SubscriptionPlan p;
    p.id = d.integer("id");
    p.name = d.string("name");
    p.slug = d.string("slug");
    p.description = d.optionalString("description");
    p.price = d.decimal("price");
    p.currency = d.string("currency");
    p.billingPeriod = d.string("billing_period");
    p.features = d.anyObject("features");
    p.isActive = d.boolean("is_active");
    p.displayOrder = d.integer("display_order");
    p.createdAt = d.string("created_at");
    p.updatedAt = d.string("updated_at");
    if (d.failed())
        return d.error();
    return p;
}

nlohmann::json SubscriptionPlan::toJson() const
{
    JSONObjectEncoder e;
    e.set("id", id);
    e.set("name", name);
    e.set("slug", slug);
    e.setIfPresent("description", description);
    e.setDecimal("price", price);
    e.set("currency", currency);
    e.set("billing_period", billingPeriod);
    e.set("features", AnyCodable::toJson(features));
    e.set("is_active", isActive);
    e.set("display_order", displayOrder);
    e.set("created_at", createdAt);
    e.set("updated_at", updatedAt);
    return e.json();
}
