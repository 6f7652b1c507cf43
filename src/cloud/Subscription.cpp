#include "cloud/Subscription.h"

#include "cloud/JSONObjectDecoder.h"
#include "cloud/JSONObjectEncoder.h"

Expected<Subscription, DecodingError> Subscription::decode(const nlohmann::json& json, const QString& path)
{
    JSONObjectDecoder d(json, path);
    Subscription s;
    s.id = d.integer("id");
    s.userId = d.integer("user_id");
    s.planId = d.integer("plan_id");
    s.status = d.string("status");
    s.startsAt = d.optionalString("starts_at");
    s.endsAt = d.optionalString("ends_at");
    s.createdAt = d.string("created_at");
    s.updatedAt = d.string("updated_at");
    s.plan = d.optionalModel<SubscriptionPlan>("plan", SubscriptionPlan::decode);
    if (d.failed())
        return d.error();
    return s;
}

nlohmann::json Subscription::toJson() const
{
    JSONObjectEncoder e;
    e.set("id", id);
    e.set("user_id", userId);
    e.set("plan_id", planId);
    e.set("status", status);
    e.setIfPresent("starts_at", startsAt);
    e.setIfPresent("ends_at", endsAt);
    e.set("created_at", createdAt);
    e.set("updated_at", updatedAt);
    if (plan)
        e.set("plan", plan->toJson());
    return e.json();
}
