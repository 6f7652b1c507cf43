#pragma once

#include "screenshots/UploadResult.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// The uploader to a cloud drive (Yandex Disk) as the screenshot preview uses it: one file in, its
// published link out through the completion, which runs on the GUI thread.
class DriveFileUploader : public QObject {
    Q_OBJECT
public:
    explicit DriveFileUploader(QObject* parent = nullptr);

    bool isUploading() const { return m_isUploading; }

    // Uploads `data` as `filename` into the application's folder and publishes it. `folder` is
    // passed on from the settings; the drive may ignore it.
    virtual void uploadFile(const QByteArray& data, const QString& filename, const QString& folder,
                            UploadCompletion completion) = 0;

signals:
    void isUploadingChanged();

protected:
    void setIsUploading(bool uploading);

private:
    bool m_isUploading = false;
};
