#include "cloud/LoginRequest.h"

#include "cloud/JSONObjectEncoder.h"

nlohmann::json LoginRequest::toJson() const
{
    JSONObjectEncoder e;
    e.set("email", email);
    e.set("password", password);
    return e.json();
}
