#pragma once

#include "screenshots/UploadResult.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <optional>

// The process-wide uploader to the cloud service as the screenshot preview uses it.
class CloudImageUploader : public QObject {
    Q_OBJECT
public:
    explicit CloudImageUploader(QObject* parent = nullptr);

    bool isUploading() const { return m_isUploading; }

    // Without a signed-in account: `completion` at once with UploadFailure::notAuthenticated(),
    // isUploading unchanged. Otherwise isUploading is true until the upload ends; it is cleared
    // before `completion` runs on the GUI thread with the public link or the failure (whose
    // technicalDescription is set).
    virtual void uploadImage(const QImage& image, const std::optional<QString>& fileName, bool isPublic,
                             UploadCompletion completion) = 0;

signals:
    void isUploadingChanged();

protected:
    void setIsUploading(bool uploading);

private:
    bool m_isUploading = false;
};
