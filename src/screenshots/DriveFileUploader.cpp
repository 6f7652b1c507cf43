#include "screenshots/DriveFileUploader.h"

DriveFileUploader::DriveFileUploader(QObject* parent)
    : QObject(parent)
{
}

void DriveFileUploader::setIsUploading(bool uploading)
{
    if (m_isUploading == uploading)
        return;
    m_isUploading = uploading;
    emit isUploadingChanged();
}
