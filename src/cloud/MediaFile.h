#pragma once

#include "cloud/AnyCodable.h"
#include "cloud/DecodingError.h"
#include "cloud/Expected.h"

#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

// A file stored by the service. Server versions name several members differently ("filename",
// "size_bytes", "disk", "path", "public_slug"); the decoder takes either name, and only the
// identity, names, type, size and timestamps are required.
struct MediaFile {
    qint64 id = 0;
    qint64 userId = 0;
    QString fileName;
    std::optional<QString> originalName;
    QString mimeType;
    qint64 fileSize = 0;
    std::optional<QString> storageProvider;
    std::optional<QString> storagePath;
    bool isPublic = false;
    std::optional<QString> slug;
    std::optional<QString> publicUrl;
    std::optional<QString> thumbnailPath;
    std::optional<AnyCodable::Object> metadata;
    QString createdAt;
    QString updatedAt;

    static Expected<MediaFile, DecodingError> decode(const nlohmann::json& json, const QString& path = QString());
    // Writes the first name of every member pair only.
    nlohmann::json toJson() const;

    friend bool operator==(const MediaFile&, const MediaFile&) = default;
};
