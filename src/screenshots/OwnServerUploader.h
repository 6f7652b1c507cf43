#pragma once

#include "app/ServerSettings.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <optional>

// The uploader to the user's own server as the screenshot preview uses it. It reports only through
// its published values, all changed on the GUI thread: isUploading while a transfer runs, the
// public link of the last success (which it also puts on the clipboard), or the text of the last
// failure or refusal. A new one starts with everything reset. Every set of the two texts is
// published, also when the value is the same as before (a refusal repeated word for word is news).
class OwnServerUploader : public QObject {
    Q_OBJECT
public:
    explicit OwnServerUploader(QObject* parent = nullptr);

    bool isUploading() const { return m_isUploading; }
    const std::optional<QString>& lastError() const { return m_lastError; }
    const std::optional<QString>& lastUploadedURL() const { return m_lastUploadedURL; }
    // The preview clears the error when the user dismisses its banner.
    void setLastError(const std::optional<QString>& error);

    // Validates `settings` for their provider and uploads `image` as PNG; refuses (through
    // lastError) invalid settings and a second upload while one runs.
    virtual void uploadImage(const QImage& image, const ServerSettings& settings) = 0;

signals:
    void isUploadingChanged();
    void lastErrorChanged();
    void lastUploadedURLChanged();

protected:
    void setIsUploading(bool uploading);
    void setLastUploadedURL(const std::optional<QString>& link);

private:
    bool m_isUploading = false;
    std::optional<QString> m_lastError;
    std::optional<QString> m_lastUploadedURL;
};
