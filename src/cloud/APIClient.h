#pragma once

#include "cloud/CloudError.h"
#include "cloud/Expected.h"
#include "cloud/LoginResponse.h"
#include "cloud/RegisterResponse.h"
#include "cloud/UploadResponse.h"
#include "cloud/User.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

class QNetworkAccessManager;
class QNetworkCookieJar;
class QNetworkRequest;

// The one client of the Kestrova Cloud REST service: its addresses, its own network session and
// cookie jar (where the service's CSRF cookie lives) and the bearer token of the signed-in account.
//
// Every operation is asynchronous: it returns at once and hands its result to `completion` on the
// thread of `context`, later, through the event loop. The completion is dropped when `context` is
// destroyed first (nullptr: the client itself is the context; a context on another thread must not
// be destroyed while its operation runs). Operations may be started from any thread; the network
// work runs on the client's thread (the GUI thread) without blocking it.
class APIClient : public QObject {
    Q_OBJECT
public:
    template <typename T>
    using Completion = std::function<void(Expected<T, CloudError>)>;

    // The product's service: scheme and host, no trailing slash.
    static inline const QString productServiceRoot = QStringLiteral("https://cloud.kestrova.app");

    static APIClient& shared();
    // Tests: the root shared() is created with, instead of the product's (a local fake, or a dead
    // local port so that nothing leaves the machine). False once shared() exists.
    static bool setSharedServiceRootForTesting(const QString& serviceRoot);

    // A client of the service at `serviceRoot` (tests use the local fake's http://127.0.0.1:<port>).
    // The token is the one of the cached credentials record, when one is cached.
    explicit APIClient(const QString& serviceRoot, QObject* parent = nullptr);
    ~APIClient() override;

    // The service root + "/api/v1".
    const QString& baseURL() const { return m_baseURL; }
    // The service root itself; the service's web pages lie under it as well.
    const QString& sanctumURL() const { return m_sanctumURL; }
    // A web page of the service: the root followed by `path` ("/password/reset").
    QUrl webPageURL(const QString& path) const;
    QNetworkCookieJar* cookieStorage() const { return m_cookieStorage; }

    // Present (an empty text included) when a token is held.
    std::optional<QString> authToken() const;
    // Changes the held token only; the stored credentials are left alone.
    void setAuthToken(const std::optional<QString>& token);

    // The value of the "XSRF-TOKEN" cookie, percent-escapes decoded; nullopt when none is stored.
    std::optional<QString> getXsrfToken() const;

    // POST /auth/login. On success the answer's token is held and stored.
    void login(const QString& email, const QString& password, QObject* context, Completion<LoginResponse> completion);
    // POST /auth/register ("register" is a C++ keyword). On success the answer's token is held and stored.
    void registerAccount(const QString& name, const QString& email, const QString& password,
                         const QString& passwordConfirmation, QObject* context, Completion<RegisterResponse> completion);
    // GET /auth/me with the token.
    void getCurrentUser(QObject* context, Completion<User> completion);
    // POST /auth/logout when it can; never fails: the token is cleared whatever the service answers.
    void logout(QObject* context, std::function<void()> completion);
    // POST /files as a multipart form with the fields "file" and "is_public".
    void uploadFile(const QByteArray& fileData, const QString& fileName, bool isPublic, QObject* context,
                    Completion<UploadResponse> completion);

    // The content type of an upload, chosen by the end of its name (case-sensitive).
    static QString contentType(const QString& fileName);
    // The whole multipart body of an upload.
    static QByteArray multipartBody(const QByteArray& fileData, const QString& fileName, bool isPublic,
                                    const QString& boundary);

    // The longest answer body read: every wire model fits many times over. A longer answer is
    // abandoned as soon as it passes the limit.
    static constexpr qsizetype maxAnswerBytes = 1024 * 1024;
    // The most of an answer body one log line holds; with the line's other text it stays within
    // the log's bound of a line (DebugLogger::maxLineBytes), which would cut off the size noted here.
    static constexpr qsizetype maxLoggedAnswerBytes = 3 * 1024;

    // Tests: the idle limit of each request (60 s) and the limit of each whole exchange (300 s).
    void setTimeoutsForTesting(std::chrono::milliseconds request, std::chrono::milliseconds resource);

private:
    struct Answer {
        int statusCode = 0;
        QByteArray body;
        // The answer passed maxAnswerBytes and was abandoned: `body` holds its first bytes only.
        bool cutOff = false;
        qint64 declaredSize = -1; // its Content-Length, when it gave one
    };
    using Exchange = Expected<Answer, CloudError>;
    using Failure = std::optional<CloudError>;
    // Decodes a successful answer into the caller's storage; nullopt on success.
    using BodyDecoder = std::function<std::optional<DecodingError>(const nlohmann::json&)>;

    void getCsrfCookie(std::function<void(Failure)> done);
    void csrfPreStep(std::function<void(Failure)> done);
    // The generic JSON request. `decodeBody` empty: the body of a success is not read.
    void request(const QByteArray& method, const QString& path, std::optional<nlohmann::json> body,
                 bool requiresAuth, BodyDecoder decodeBody, std::function<void(Failure)> done);
    template <typename T>
    void requestModel(const QByteArray& method, const QString& path, std::optional<nlohmann::json> body,
                      bool requiresAuth, std::function<void(Expected<T, CloudError>)> done);
    void send(QNetworkRequest request, const QByteArray& method, const std::optional<QByteArray>& body,
              std::function<void(Exchange)> done);

    // Holds and stores a new token.
    void storeToken(const QString& token);
    // After a 401: forgets the token the request was sent with, unless another has replaced it since.
    void clearTokenAfterUnauthorized(const std::optional<QString>& sentToken);
    void clearToken();

    template <typename T>
    void deliver(const QPointer<QObject>& context, bool hadContext, Completion<T> completion, Expected<T, CloudError> result);
    void deliver(const QPointer<QObject>& context, bool hadContext, std::function<void()> completion);
    // The body for a log line: at most maxLoggedAnswerBytes of it, with the full size when cut.
    static QString loggedBody(const Answer& answer);
    // "<n> bytes", or "more than <limit> bytes" for an abandoned answer of unknown length.
    static QString answerSize(const Answer& answer);
    // Runs `work` on the client's thread: at once when already there.
    void onOwnThread(std::function<void()> work);

    QString m_baseURL;
    QString m_sanctumURL;
    QNetworkAccessManager* m_session = nullptr;
    QNetworkCookieJar* m_cookieStorage = nullptr;
    mutable std::mutex m_tokenMutex;
    std::optional<QString> m_authToken;
    std::chrono::milliseconds m_requestTimeout{60000};
    std::chrono::milliseconds m_resourceTimeout{300000};
};
