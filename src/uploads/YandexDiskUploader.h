#pragma once

#include "platform/AppError.h"
#include "screenshots/DriveFileUploader.h"
#include "uploads/YandexDiskError.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <utility>
#include <variant>

struct YandexDiskResponse;

// Client of the Yandex Disk REST API: stores one file in the application folder of the user's Disk,
// publishes it and hands back its public link; tests whether the stored token is accepted.
//
// The access token is read from AppState::credentials() at the start of every operation; the client
// keeps none. An upload runs on its own once started: the uploader may be destroyed meanwhile and the
// completion still arrives (callers guard what their completion touches). Both operations may be
// called from any thread; the requests run on the GUI thread and every result arrives there.
// isUploading is the published value of DriveFileUploader.
class YandexDiskUploader : public DriveFileUploader {
    Q_OBJECT
public:
    // A failure text composed by the client from the service's answer.
    struct InlineError {
        QString message;
        QString errorDescription() const { return message; }
        platform::AppError toAppError() const { return platform::AppError{domain, 0, message}; }
        static inline const QString domain = QStringLiteral("YandexDiskUploader.InlineError");
    };

    // Success with the public link (or, when publishing failed, the file's Disk path), or the error
    // whose localizedDescription the caller shows.
    struct Result {
        bool success = false;
        QString link;
        platform::AppError error;

        static Result succeeded(const QString& link) { return Result{true, link, {}}; }
        static Result failed(const platform::AppError& error) { return Result{false, {}, error}; }
    };
    using Completion = std::function<void(const Result&)>;
    using TestCompletion = std::function<void(bool success, const QString& message)>;

    // The application's registration with Yandex. Only the API root is used by the client itself;
    // the sign-in address (implicitAuthURL) is built from the same values.
    static inline const QString clientId = QStringLiteral("a41c7e02b9d84f6e93c0d5b8e2f71a64");
    static inline const QString scopes = QStringLiteral("cloud_api:disk.app_folder yadisk:disk");
    static inline const QString yandexOAuthOrigin = QStringLiteral("https://oauth.yandex.ru");
    static inline const QString yandexAPIRoot = QStringLiteral("https://cloud-api.yandex.net");

    explicit YandexDiskUploader(QObject* parent = nullptr);


    // `folder` is accepted and not used: every file goes to "app:/" + filename. The completion runs
    // exactly once, on the GUI thread, never before this returns.
    void uploadFile(const QByteArray& data, const QString& filename, const QString& folder, Completion completion);
    // The same for the screenshot preview: the link, or the failure with its type and texts.
    void uploadFile(const QByteArray& data, const QString& filename, const QString& folder,
                    UploadCompletion completion) override;
    // Without a token (or with an unusable one) and with an address that cannot be formed the
    // completion runs at once on the calling thread; otherwise on the GUI thread after the answer.
    void testConnection(TestCompletion completion);

    // The Yandex OAuth implicit-grant page; none when no address can be formed.
    static std::optional<QUrl> implicitAuthURL();

    QString apiURL() const { return m_apiURL; }
    QString authURL() const { return m_oauthOrigin + QStringLiteral("/authorize"); }
    QString tokenURL() const { return m_oauthOrigin + QStringLiteral("/token"); }
    QString redirectUri() const { return m_oauthOrigin + QStringLiteral("/verification_code"); }

    // Tests: the API root and OAuth origin (scheme, host, port) of uploaders made from now on and of
    // implicitAuthURL(); empty texts restore Yandex's. A time-out scale shortens the request
    // time-outs and the total deadlines alike (1 restores them).
    static void setOriginsForTesting(const QString& apiRoot, const QString& oauthOrigin);
    static void setTimeoutScaleForTesting(double scale);


private:
    using TextResult = std::variant<QString, platform::AppError>;
    using StepDone = std::function<void(std::optional<platform::AppError>)>;
    using TextDone = std::function<void(TextResult)>;

    // What every request of one operation needs; copied into each step.
    struct RequestContext {
        QString apiURL;
        QByteArray authorization; // "OAuth " + token
        double timeoutScale = 1.0;
    };


    // One request to the Disk API with the context's token. An address that cannot be formed and a
    // transport failure go to `failed`, any answer of the service to `answered`.
    static void callAPI(const RequestContext& context, const QString& relative,
                        const QList<std::pair<QString, QString>>& queryItems, const QByteArray& verb,
                        std::function<void(const platform::AppError&)> failed,
                        std::function<void(const YandexDiskResponse&)> answered);
    static void finishUpload(QPointer<YandexDiskUploader> uploader, const Result& result, const Completion& completion);
    static QString directoryPart(const QString& path);
    static void runUpload(const RequestContext& context, const QByteArray& data, const QString& filename,
                          const std::function<void(const Result&)>& finish);
    static void ensureFolderExists(const RequestContext& context, const QString& path, StepDone completion);
    static void getUploadURL(const RequestContext& context, const QString& path, TextDone completion);
    static void performUpload(const RequestContext& context, const QByteArray& data, const QString& uploadURL,
                              StepDone completion);
    static void publishAndFetchPublicURL(const RequestContext& context, const QString& path, TextDone completion);
    static void pollOperation(const RequestContext& context, const QUrl& href, int retries, double delay,
                              std::function<void(bool)> completion);
    static void fetchPublicURLWithRetries(const RequestContext& context, const QString& path, int retries,
                                          double delay, TextDone completion);
    static void fetchResourceInfo(const RequestContext& context, const QString& path,
                                  std::function<void(std::variant<nlohmann::json, platform::AppError>)> completion);

    QString m_apiURL;
    QString m_oauthOrigin;
    double m_timeoutScale = 1.0;
};
