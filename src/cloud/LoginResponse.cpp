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

    // The members of an answer that may stand at its top level or inside "data".
    void read(JSONObjectDecoder& d)
    {
        token = d.optionalString("token");
        access_token = d.optionalString("access_token");
        accessToken = d.optionalString("accessToken");
        user = d.optionalModel<User>("user", User::decode);
    }

    static Expected<Direct, DecodingError> decode(const nlohmann::json& json, const QString& path)
    {
        JSONObjectDecoder d(json, path);
        Direct r;
        r.read(d);
        if (d.failed())
            return d.error();
        return r;
    }
};

// The answer wrapped in a "data" envelope, possibly with members at the top level as well.
struct Wrapper {
    std::optional<Direct> data;
    Direct top;

    static Expected<Wrapper, DecodingError> decode(const nlohmann::json& json, const QString& path)
    {
        JSONObjectDecoder d(json, path);
        Wrapper r;
        r.data = d.optionalModel<Direct>("data", Direct::decode);
        r.top.read(d);
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
    std::optional<QString> token = w.top.firstToken();
    if (!token && w.data)
        token = w.data->firstToken();
    if (!token)
        return DecodingError::dataCorrupted(path, QStringLiteral("Missing token in login response"));

    std::optional<User> user = w.top.user;
    if (!user && w.data)
        user = w.data->user;
    return LoginResponse{*token, user};
}

nlohmann::json LoginResponse::toJson() const
{
    JSONObjectEncoder e;
    e.set("token", token);
    if (user)
        e.set("user", user->toJson());
    return e.json();
}
