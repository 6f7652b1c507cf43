#include "screenshots/OwnServerUploader.h"

OwnServerUploader::OwnServerUploader(QObject* parent)
    : QObject(parent)
{
}

void OwnServerUploader::setLastError(const std::optional<QString>& error)
{
    m_lastError = error;
    emit lastErrorChanged();
}

void OwnServerUploader::setIsUploading(bool uploading)
{
    if (m_isUploading == uploading)
        return;
    m_isUploading = uploading;
    emit isUploadingChanged();
}

void OwnServerUploader::setLastUploadedURL(const std::optional<QString>& link)
{
    m_lastUploadedURL = link;
    emit lastUploadedURLChanged();
}
