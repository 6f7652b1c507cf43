#include "cloud/APIError.h"

#include "cloud/JSONObjectDecoder.h"
#include "cloud/JSONObjectEncoder.h"

QString APIError::localizedDescription() const
{
    if (!errors || errors->isEmpty())
        return message;
    QStringList collected;
    for (const QStringList& messages : *errors)
        collected += messages;
    return message + QLatin1Char('\n') + collected.join(QLatin1Char('\n'));
}

Expected<APIError, DecodingError> APIError::decode(const nlohmann::json& json, const QString& path)
{
    JSONObjectDecoder d(json, path);
    APIError e;
    e.message = d.string("message");
    e.errors = d.optionalStringListMap("errors");
    if (d.failed())
        return d.error();
    return e;
}

nlohmann::json APIError::toJson() const
{
    JSONObjectEncoder e;
    e.set("message", message);
    if (errors)
        e.set("errors", *errors);
    return e.json();
}
