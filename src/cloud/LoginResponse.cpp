#include "cloud/LoginResponse.h"

#include "cloud/JSONObjectDecoder.h"
#include "cloud/JSONObjectEncoder.h"

namespace {

// The answer with the token and user at the top level.
struct Direct {
    std::optional<QString> token;
    std::optional<QString> access_token;
    std::optional<QString> accessToken;
    std::optional<User> user;

    std::optional<QString> firstToken() const
    {
        if (token)
            return token;
        if (access_token)
            return access_token;
        return accessToken;
    }

    static Expected<Direct, DecodingError> decode(const nlohmann::json& json, const QString& path)
    {
        JSONObjectDecoder d(json, path);
        Direct r;
        r.token = d.optionalString("token");
        r.access_token = d.optionalString("access_token");
        r.accessToken = d.optionalString("accessToken");
        r.user = d.optionalModel<User>("user", User::decode);
        if (d.failed())
            return d.error();
        return r;
    }
};

// The answer wrapped in a "data" envelope, possibly with members at the top level as well.
struct Wrapper {
    std::optional<Direct> data;
    std::optional<QString> token;
    std::optional<QString> access_token;
    std::optional<QString> accessToken;
    std::optional<User> user;

    static Expected<Wrapper, DecodingError> decode(const nlohmann::json& json, const QString& path)
    {
        JSONObjectDecoder d(json, path);
        Wrapper r;
        r.data = d.optionalModel<Direct>("data", Direct::decode);
        r.token = d.optionalString("token");
        r.access_token = d.optionalString("access_token");
        r.accessToken = d.optionalString("accessToken");
        r.user = d.optionalModel<User>("user", User::decode);
        if (d.failed())
            return d.error();
        return r;
    }
};

} // namespace

Expected<LoginResponse, DecodingError> LoginResponse::decode(const nlohmann::json& json, const QString& path)
{
    if (auto direct = Direct::decode(json, path)) {
        if (auto token = direct->firstToken())
            return LoginResponse{*token, direct->user};
    }

    auto wrapper = Wrapper::decode(json, path);
    if (!wrapper)
        return wrapper.error();
    const Wrapper& w = *wrapper;
    QString token;
    if (w.token)
        token = *w.token;
    else if (w.access_token)
        token = *w.access_token;
    else if (w.accessToken)
        token = *w.accessToken;
    else if (auto inner = w.data ? w.data->firstToken() : std::nullopt)
        token = *inner;
    else
        return DecodingError::dataCorrupted(path, QStringLiteral("Missing token in login response"));

    std::optional<User> user = w.user;
    if (!user && w.data)
        user = w.data->user;
    return LoginResponse{token, user};
}

nlohmann::json LoginResponse::toJson() const
{
    JSONObjectEncoder e;
    e.set("token", token);
    if (user)
        e.set("user", user->toJson());
    return e.json();
}
