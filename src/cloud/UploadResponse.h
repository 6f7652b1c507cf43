#pragma once

#include "cloud/DecodingError.h"
#include "cloud/Expected.h"
#include "cloud/MediaFile.h"

#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

// The answer to a file upload.
struct UploadResponse {
    MediaFile file;
    std::optional<QString> url;
    std::optional<QString> message;

    static Expected<UploadResponse, DecodingError> decode(const nlohmann::json& json, const QString& path = QString());
    nlohmann::json toJson() const;

    friend bool operator==(const UploadResponse&, const UploadResponse&) = default;
};
