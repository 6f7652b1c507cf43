#include "cloud/User.h"

#include "cloud/JSONObjectDecoder.h"
#include "cloud/JSONObjectEncoder.h"

Expected<User, DecodingError> User::decode(const nlohmann::json& json, const QString& path)
{
    JSONObjectDecoder d(json, path);
    User u;
    u.id = d.integer("id");
    u.name = d.string("name");
    u.displayName = d.optionalString("display_name");
    u.email = d.string("email");
    u.locale = d.optionalString("locale");
    u.timezone = d.optionalString("timezone");
    u.emailVerifiedAt = d.optionalString("email_verified_at");
    u.createdAt = d.optionalString("created_at");
    u.updatedAt = d.optionalString("updated_at");
    u.subscription = d.optionalModel<Subscription>("subscription", Subscription::decode);
    u.plan = d.optionalModel<UserPlan>("plan", UserPlan::decode);
    u.usage = d.optionalModel<UserUsage>("usage", UserUsage::decode);
    if (d.failed())
        return d.error();
    return u;
}

nlohmann::json User::toJson() const
{
    JSONObjectEncoder e;
    e.set("id", id);
    e.set("name", name);
    e.setIfPresent("display_name", displayName);
    e.set("email", email);
    e.setIfPresent("locale", locale);
    e.setIfPresent("timezone", timezone);
    e.setIfPresent("email_verified_at", emailVerifiedAt);
    e.setIfPresent("created_at", createdAt);
    e.setIfPresent("updated_at", updatedAt);
    if (subscription)
        e.set("subscription", subscription->toJson());
    if (plan)
        e.set("plan", plan->toJson());
    if (usage)
        e.set("usage", usage->toJson());
    return e.json();
}
