#include "screenshots/CloudImageUploader.h"

CloudImageUploader::CloudImageUploader(QObject* parent)
    : QObject(parent)
{
}

void CloudImageUploader::setIsUploading(bool uploading)
{
    if (m_isUploading == uploading)
        return;
    m_isUploading = uploading;
    emit isUploadingChanged();
}
