#include "cloud/UploadResponse.h"

#include "cloud/JSONObjectDecoder.h"
#include "cloud/JSONObjectEncoder.h"

Expected<UploadResponse, DecodingError> UploadResponse::decode(const nlohmann::json& json, const QString& path)
{
    JSONObjectDecoder d(json, path);
    auto file = d.model<MediaFile>("file", MediaFile::decode);
    auto url = d.optionalString("url");
    auto message = d.optionalString("message");
    if (d.failed())
        return d.error();
    return UploadResponse{*file, url, message};
}

nlohmann::json UploadResponse::toJson() const
{
    JSONObjectEncoder e;
    e.set("file", file.toJson());
    e.setIfPresent("url", url);
    e.setIfPresent("message", message);
    return e.json();
}
