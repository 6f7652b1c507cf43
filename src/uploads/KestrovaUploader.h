#pragma once

#include "cloud/Expected.h"
#include "screenshots/CloudImageUploader.h"
#include "uploads/UploadError.h"

#include <QImage>
#include <QString>

#include <functional>
#include <optional>
#include <source_location>

class APIClient;
class AuthManager;
struct UploadResponse;

// Uploads screenshots to the signed-in Kestrova Cloud account: PNG through APIClient::uploadFile,
// then a reload of the account, then the file's public link. GUI thread only; every result comes
// through one completion on the GUI thread.
class KestrovaUploader : public CloudImageUploader {
    Q_OBJECT
public:
    // The argument of the progress callback. Nothing reports progress yet: the client sends the
    // whole body at once.
    struct UploadProgress {
        qint64 completedBytes = 0;
        qint64 totalBytes = 0;
    };
    using ProgressHandler = std::function<void(const UploadProgress&)>;
    using Result = Expected<QString, UploadError>;
    using Completion = std::function<void(const Result&)>;

    // The process-wide uploader over APIClient::shared() and AuthManager::shared(); never destroyed.
    static KestrovaUploader& shared();

    // An uploader over the given client and account (tests give ones of the local fake).
    KestrovaUploader(APIClient& apiClient, AuthManager& authManager, QObject* parent = nullptr);

    APIClient& apiClient() const { return m_apiClient; }
    AuthManager& authManager() const { return m_authManager; }

    // Signed out: `completion` runs at once with notAuthenticated and isUploading is left alone.
    // Otherwise isUploading is true until the upload ends, and false again before `completion`
    // runs with the link or the error. `fileName` absent: "screenshot_<seconds since 1970>.png".
    // `progress` is never called. A second request while one runs is accepted and runs alongside.
    void uploadImage(const QImage& image, const std::optional<QString>& fileName, bool isPublic,
                     ProgressHandler progress, Completion completion);
    // The same for the screenshot preview, whose completion takes the failure's report texts.
    void uploadImage(const QImage& image, const std::optional<QString>& fileName, bool isPublic,
                     UploadCompletion completion) override;

private:
    void startUpload(const QImage& image, const std::optional<QString>& fileName, bool isPublic, const Completion& completion,
                     const std::source_location& where);
    void uploadSucceeded(const UploadResponse& response, const Completion& completion, const std::source_location& where);
    void uploadFailed(const UploadError& converted, const QString& description, const Completion& completion,
                      const std::source_location& where);
    void finish(const Result& result, const Completion& completion);
    // The file's public link, else the service root + "/" + its slug.
    Result extractPublicURL(const UploadResponse& response) const;

    APIClient& m_apiClient;
    AuthManager& m_authManager;
};
