#include "cloud/RegisterRequest.h"

#include "cloud/JSONObjectEncoder.h"

nlohmann::json RegisterRequest::toJson() const
{
    JSONObjectEncoder e;
    e.set("name", name);
    e.set("email", email);
    e.set("password", password);
    e.set("password_confirmation", passwordConfirmation);
    return e.json();
}
