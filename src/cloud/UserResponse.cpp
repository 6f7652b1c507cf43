#include "cloud/UserResponse.h"

#include "cloud/JSONObjectDecoder.h"
#include "cloud/JSONObjectEncoder.h"

Expected<UserResponse, DecodingError> UserResponse::decode(const nlohmann::json& json, const QString& path)
{
    JSONObjectDecoder d(json, path);
    auto user = d.model<User>("user", User::decode);
    if (d.failed())
        return d.error();
    return UserResponse{*user};
}

nlohmann::json UserResponse::toJson() const
{
    JSONObjectEncoder e;
    e.set("user", user.toJson());
    return e.json();
}
