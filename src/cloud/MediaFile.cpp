#include "cloud/MediaFile.h"

#include "cloud/JSONObjectDecoder.h"
#include "cloud/JSONObjectEncoder.h"

Expected<MediaFile, DecodingError> MediaFile::decode(const nlohmann::json& json, const QString& path)
{
    JSONObjectDecoder d(json, path);
    MediaFile f;
    f.id = d.integer("id");
    f.userId = d.integer("user_id");
    if (auto name = d.tryString("file_name"))
        f.fileName = *name;
    else
        f.fileName = d.string("filename");
    f.originalName = d.tryString("original_name");
    f.mimeType = d.string("mime_type");
    if (auto size = d.tryInteger("file_size"))
        f.fileSize = *size;
    else
        f.fileSize = d.integer("size_bytes");
    f.storageProvider = d.tryString("storage_provider");
    if (!f.storageProvider)
        f.storageProvider = d.tryString("disk");
    f.storagePath = d.tryString("storage_path");
    if (!f.storagePath)
        f.storagePath = d.tryString("path");
    if (auto isPublic = d.tryBoolean("is_public"))
        f.isPublic = *isPublic;
    else
        f.isPublic = d.tryString("public_slug").has_value();
    f.slug = d.tryString("slug");
    if (!f.slug)
        f.slug = d.tryString("public_slug");
    f.publicUrl = d.tryString("public_url");
    f.thumbnailPath = d.tryString("thumbnail_path");
    f.metadata = d.tryAnyObject("metadata");
    f.createdAt = d.string("created_at");
    f.updatedAt = d.string("updated_at");
    if (d.failed())
        return d.error();
    return f;
}

nlohmann::json MediaFile::toJson() const
{
    JSONObjectEncoder e;
    e.set("id", id);
    e.set("user_id", userId);
    e.set("file_name", fileName);
    e.setIfPresent("original_name", originalName);
    e.set("mime_type", mimeType);
    e.set("file_size", fileSize);
    e.setIfPresent("storage_provider", storageProvider);
    e.setIfPresent("storage_path", storagePath);
    e.set("is_public", isPublic);
    e.setIfPresent("slug", slug);
    e.setIfPresent("public_url", publicUrl);
    e.setIfPresent("thumbnail_path", thumbnailPath);
    if (metadata)
        e.set("metadata", AnyCodable::toJson(*metadata));
    e.set("created_at", createdAt);
    e.set("updated_at", updatedAt);
    return e.json();
}
