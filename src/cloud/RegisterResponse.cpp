#include "cloud/RegisterResponse.h"

#include "cloud/LoginResponse.h"

Expected<RegisterResponse, DecodingError> RegisterResponse::decode(const nlohmann::json& json, const QString& path)
{
    auto login = LoginResponse::decode(json, path);
    if (!login)
        return login.error();
    return RegisterResponse{login->token, login->user};
}

nlohmann::json RegisterResponse::toJson() const
{
    return LoginResponse{token, user}.toJson();
}
