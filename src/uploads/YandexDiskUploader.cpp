#include "uploads/YandexDiskUploader.h"

#include "app/AnswerExcerpt.h"
#include "app/AppState.h"
#include "uploads/YandexDiskResponse.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <mutex>

namespace {

struct TestOverrides {
    std::mutex mutex;
    QString apiRoot;
    QString oauthOrigin;
    double timeoutScale = 1.0;
};

TestOverrides& overrides()
{
    static TestOverrides* o = new TestOverrides;
    return *o;
}

// Request time-outs in milliseconds. Qt's transfer time-out, like the one they stand for, counts
// from the last byte that moved, so a large upload is not cut off while it makes progress.
constexpr int apiTimeoutMs = 30'000;
constexpr int transferTimeoutMs = 60'000;
constexpr int operationTimeoutMs = 15'000;
constexpr int connectionTestTimeoutMs = 60'000;
// Besides the idle limits above, every exchange has a total deadline, so that a server trickling its
// answer byte by byte cannot hold an upload for ever. The bytes get what a slow line of 50 KiB/s
// needs for them, and never less than a minute.
constexpr int apiDeadlineMs = 60'000;
constexpr int uploadDeadlineMinimumMs = 60'000;
constexpr qint64 uploadFloorBytesPerSecond = 50 * 1024;
// Redirects of the byte upload followed, each again as PUT with the bytes.
constexpr int uploadRedirectHops = 5;

constexpr int operationRetries = 10;
constexpr int linkRetries = 5;
// Publishing is asynchronous on Yandex's side; 0.6 s between answers gives the service time to
// finish without making the user wait long (about 6.6 s at most for the operation, 3 s for the link).
constexpr double repeatDelay = 0.6;

// Every request goes through one manager, like a shared session; it lives on the GUI thread.
QNetworkAccessManager* sharedSession()
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = new QNetworkAccessManager(QCoreApplication::instance());
    return manager;
}

void runOnMain(std::function<void()> work)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

// Letters, digits and "-._~" stay as they are; so do ":" "/" "@" and a few other characters that a
// query value may carry literally. "&", "=", "+", "#", "%" and spaces are encoded, so that a file name
// containing them reaches the service whole ("+" would otherwise be read back as a space).
QString encodeQueryPart(const QString& text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text, QByteArrayLiteral(":/@!$'()*,;?")));
}

bool isWebAddress(const QUrl& url)
{
    // Only HTTP(S): an address from an answer must never make the manager write or read a local
    // file (file:, qrc:, data:).
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http")) && !url.host().isEmpty();
}

std::optional<QUrl> webAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!isWebAddress(url))
        return std::nullopt;
    return url;
}

std::optional<QUrl> apiAddress(const QString& apiURL, const QString& relative,
                               const QList<std::pair<QString, QString>>& queryItems)
{
    auto url = webAddress(apiURL + relative);
    if (!url)
        return std::nullopt;
    QStringList parts;
    for (const auto& [name, value] : queryItems)
        parts << encodeQueryPart(name) + QLatin1Char('=') + encodeQueryPart(value);
    url->setQuery(parts.join(QLatin1Char('&')), QUrl::StrictMode);
    if (!url->isValid())
        return std::nullopt;
    return url;
}

// A token goes into a header line: one with a line break or another control character would let it
// add headers of its own, so it is not used at all.
bool isUsableToken(const QString& token)
{
    if (token.isEmpty())
        return false;
    for (const QChar c : token)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    return true;
}

std::optional<QString> storedToken()
{
    const auto credentials = AppState::credentials();
    if (!credentials || !isUsableToken(credentials->yandexAccessToken))
        return std::nullopt;
    return credentials->yandexAccessToken;
}

int scaled(qint64 milliseconds, double scale)
{
    return static_cast<int>(std::clamp<qint64>(static_cast<qint64>(milliseconds * scale), 1, INT_MAX));
}

int uploadDeadline(qsizetype bytes, double scale)
{
    return scaled(std::max<qint64>(uploadDeadlineMinimumMs, bytes * 1000 / uploadFloorBytesPerSecond), scale);
}

bool sameOrigin(const QUrl& a, const QUrl& b)
{
    const auto port = [](const QUrl& url) {
        return url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
    };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
           && port(a) == port(b);
}

// `deadlineMs`: the total time the exchange may take; past it the reply is aborted, which reads
// as a time-out.
void send(const QNetworkRequest& request, const QByteArray& verb, const QByteArray& body, int deadlineMs,
          std::function<void(const YandexDiskResponse&)> done)
{
    QNetworkReply* reply = sharedSession()->sendCustomRequest(request, verb, body);
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline->start(std::max(1, deadlineMs));

    // The body is taken as it arrives and the reply abandoned once it passes the limit, so a huge
    // answer is never held whole; the small read buffer keeps Qt from reading far ahead.
    struct Received {
        QByteArray body;
        bool tooLarge = false;
    };
    auto received = std::make_shared<Received>();
    reply->setReadBufferSize(64 * 1024);
    const auto abandon = [reply, received] {
        received->tooLarge = true;
        reply->abort();
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, received, abandon] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (!received->tooLarge && length.isValid() && length.toLongLong() > YandexDiskResponse::maxBodyBytes)
            abandon();
    });
    QObject::connect(reply, &QIODevice::readyRead, reply, [reply, received, abandon] {
        if (received->tooLarge)
            return;
        received->body += reply->read(YandexDiskResponse::maxBodyBytes + 1 - received->body.size());
        if (received->body.size() > YandexDiskResponse::maxBodyBytes)
            abandon();
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, received, done = std::move(done)] {
        const YandexDiskResponse response =
            received->tooLarge ? YandexDiskResponse::transportFailure(YandexDiskErrors::toAppError(YandexDiskError::answerTooLarge))
                               : YandexDiskResponse::read(reply, received->body);
        reply->deleteLater();
        done(response);
    });
}

void after(double seconds, std::function<void()> work)
{
    QTimer::singleShot(static_cast<int>(seconds * 1000), sharedSession(), std::move(work));
}

platform::AppError inlineError(const QString& message)
{
    return YandexDiskUploader::InlineError{message}.toAppError();
}

} // namespace

YandexDiskUploader::YandexDiskUploader(QObject* parent)
    : DriveFileUploader(parent)
{
    {
        std::lock_guard lock(overrides().mutex);
        const QString apiRoot = overrides().apiRoot.isEmpty() ? yandexAPIRoot : overrides().apiRoot;
        m_apiURL = apiRoot + QStringLiteral("/v1/disk");
        m_oauthOrigin = overrides().oauthOrigin.isEmpty() ? yandexOAuthOrigin : overrides().oauthOrigin;
        m_timeoutScale = overrides().timeoutScale;
    }
    // Made on a worker thread, the uploader would live where no event loop runs; its flag changes
    // are delivered on the GUI thread.
    if (!parent && QCoreApplication::instance() && thread() != QCoreApplication::instance()->thread())
        moveToThread(QCoreApplication::instance()->thread());
}

void YandexDiskUploader::setOriginsForTesting(const QString& apiRoot, const QString& oauthOrigin)
{
    std::lock_guard lock(overrides().mutex);
    overrides().apiRoot = apiRoot;
    overrides().oauthOrigin = oauthOrigin;
}

void YandexDiskUploader::setTimeoutScaleForTesting(double scale)
{
    std::lock_guard lock(overrides().mutex);
    overrides().timeoutScale = scale > 0 ? scale : 1.0;
}

std::optional<QUrl> YandexDiskUploader::implicitAuthURL()
{
    QString origin;
    {
        std::lock_guard lock(overrides().mutex);
        origin = overrides().oauthOrigin.isEmpty() ? yandexOAuthOrigin : overrides().oauthOrigin;
    }
    const auto url = apiAddress(origin, QStringLiteral("/authorize"),
                                {{QStringLiteral("response_type"), QStringLiteral("token")},
                                 {QStringLiteral("client_id"), clientId},
                                 {QStringLiteral("redirect_uri"), origin + QStringLiteral("/verification_code")},
                                 {QStringLiteral("scope"), scopes}});
    return url;
}

void YandexDiskUploader::uploadFile(const QByteArray& data, const QString& filename, const QString& folder,
                                    UploadCompletion completion)
{
    uploadFile(data, filename, folder, Completion([completion = std::move(completion)](const Result& result) {
        if (!completion)
            return;
        if (result.success) {
            completion(UploadResult::success(result.link));
            return;
        }
        const QString type = result.error.domain.section(QLatin1Char('.'), -1);
        completion(UploadResult::error(UploadFailure{
            type, result.error.localizedDescription,
            type + QStringLiteral("(\"") + result.error.localizedDescription + QStringLiteral("\")"), std::nullopt}));
    }));
}

void YandexDiskUploader::uploadFile(const QByteArray& data, const QString& filename, const QString& folder,
                                    Completion completion)
{
    Q_UNUSED(folder);
    const QPointer<YandexDiskUploader> self(this);
    QMetaObject::invokeMethod(this, [self] { if (self) self->setIsUploading(true); }, Qt::QueuedConnection);

    auto finish = [self, completion = std::move(completion)](const Result& result) {
        finishUpload(self, result, completion);
    };
    const auto token = storedToken();
    if (!token) {
        finish(Result::failed(YandexDiskErrors::toAppError(YandexDiskError::noAccessToken)));
        return;
    }
    RequestContext context{m_apiURL, QByteArrayLiteral("OAuth ") + token->toUtf8(), m_timeoutScale};
    runOnMain([context, data, filename, finish] { runUpload(context, data, filename, finish); });
}

void YandexDiskUploader::finishUpload(QPointer<YandexDiskUploader> uploader, const Result& result,
                                      const Completion& completion)
{
    runOnMain([uploader, result, completion] {
        if (uploader)
            uploader->setIsUploading(false);
        if (completion)
            completion(result);
    });
}

QString YandexDiskUploader::directoryPart(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString directory = slash < 0 ? path : path.left(slash);
    return directory == QLatin1String("app:") ? QStringLiteral("app:/") : directory;
}

void YandexDiskUploader::runUpload(const RequestContext& context, const QByteArray& data, const QString& filename,
                                   const std::function<void(const Result&)>& finish)
{
    const QString filePath = QStringLiteral("app:/") + filename;
    const QString directory = directoryPart(filePath);

    auto afterFolder = [context, data, filePath, finish] {
        getUploadURL(context, filePath, [context, data, filePath, finish](TextResult address) {
            if (auto* error = std::get_if<platform::AppError>(&address)) {
                finish(Result::failed(*error));
                return;
            }
            performUpload(context, data, std::get<QString>(address),
                          [context, filePath, finish](std::optional<platform::AppError> error) {
                if (error) {
                    finish(Result::failed(*error));
                    return;
                }
                // The bytes are stored: from here on the upload succeeds, with the Disk path when
                // no link can be had.
                publishAndFetchPublicURL(context, filePath, [filePath, finish](TextResult link) {
                    if (auto* text = std::get_if<QString>(&link))
                        finish(Result::succeeded(*text));
                    else
                        finish(Result::succeeded(filePath));
                });
            });
        });
    };

    const QString tested = directory.trimmed();
    if (tested == QLatin1String("app:/") || tested.toLower() == QLatin1String("app:") || tested.isEmpty()) {
        afterFolder();
        return;
    }
    ensureFolderExists(context, directory, [afterFolder, finish](std::optional<platform::AppError> error) {
        if (error)
            finish(Result::failed(*error));
        else
            afterFolder();
    });
}

namespace {

QNetworkRequest apiRequest(const QUrl& url, const QByteArray& authorization, int timeoutMs, bool acceptJson = true)
{
    QNetworkRequest request(url);
    request.setRawHeader(QByteArrayLiteral("Authorization"), authorization);
    if (acceptJson)
        request.setRawHeader(QByteArrayLiteral("Accept"), QByteArrayLiteral("application/json"));
    request.setTransferTimeout(timeoutMs);
    // The token must not follow a redirect to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    return request;
}

// Sends `request`; a transport failure goes to `failed`, any answer of the service to `answered`.
void exchange(const QNetworkRequest& request, const QByteArray& verb, const QByteArray& body, int deadlineMs,
              std::function<void(const platform::AppError&)> failed, std::function<void(const YandexDiskResponse&)> answered)
{
    send(request, verb, body, deadlineMs, [failed = std::move(failed), answered = std::move(answered)](const YandexDiskResponse& response) {
        if (response.transportError) {
            failed(*response.transportError);
            return;
        }
        answered(response);
    });
}

// "<what> (HTTP <status>). Ответ: <body>".
platform::AppError statusError(const QString& what, const YandexDiskResponse& response)
{
    return inlineError(what + QStringLiteral(" (HTTP ") + response.statusText() + QStringLiteral("). Ответ: ")
                       + AnswerExcerpt::of(response.bodyText()));
}

} // namespace

void YandexDiskUploader::callAPI(const RequestContext& context, const QString& relative,
                                 const QList<std::pair<QString, QString>>& queryItems, const QByteArray& verb,
                                 std::function<void(const platform::AppError&)> failed,
                                 std::function<void(const YandexDiskResponse&)> answered)
{
    const auto url = apiAddress(context.apiURL, relative, queryItems);
    if (!url) {
        failed(YandexDiskErrors::toAppError(YandexDiskError::invalidURL));
        return;
    }
    exchange(apiRequest(*url, context.authorization, scaled(apiTimeoutMs, context.timeoutScale)), verb, {},
             scaled(apiDeadlineMs, context.timeoutScale), std::move(failed), std::move(answered));
}

void YandexDiskUploader::ensureFolderExists(const RequestContext& context, const QString& path, StepDone completion)
{
    callAPI(context, QStringLiteral("/resources"), {{QStringLiteral("path"), path}}, "PUT", completion,
            [completion](const YandexDiskResponse& response) {
        // 409: the folder is already there.
        if (response.isHTTP && (response.status == 201 || response.status == 409)) {
            completion(std::nullopt);
            return;
        }
        completion(statusError(QStringLiteral("Ошибка создания папки"), response));
    });
}

void YandexDiskUploader::getUploadURL(const RequestContext& context, const QString& path, TextDone completion)
{
    callAPI(context, QStringLiteral("/resources/upload"),
            {{QStringLiteral("path"), path}, {QStringLiteral("overwrite"), QStringLiteral("true")}}, "GET", completion,
            [completion](const YandexDiskResponse& response) {
        if (!response.isHTTP) {
            completion(inlineError(QStringLiteral("Неизвестный ответ сервера при получении upload URL")));
            return;
        }
        auto read = response.jsonObject();
        if (auto* error = std::get_if<platform::AppError>(&read)) {
            // An error page (HTML, or nothing at all) says no more than its status.
            if (response.status != 200)
                completion(inlineError(QStringLiteral("Ошибка запроса upload URL (HTTP ") + response.statusText()
                                       + (response.reason.isEmpty() ? QStringLiteral(")")
                                                                    : QStringLiteral("): ") + response.reason)));
            else
                completion(*error);
            return;
        }
        const nlohmann::json& object = std::get<nlohmann::json>(read);
        const auto href = YandexDiskResponse::text(object, "href");
        if (response.status == 200 && href) {
            completion(*href);
            return;
        }
        QStringList parts{QStringLiteral("Ошибка запроса upload URL (HTTP ") + response.statusText() + QLatin1Char(')')};
        if (const auto error = YandexDiskResponse::text(object, "error"))
            parts << AnswerExcerpt::of(*error);
        for (const char* key : {"message", "description", "error_description"}) {
            if (const auto message = YandexDiskResponse::text(object, key)) {
                parts << AnswerExcerpt::of(*message);
                break;
            }
        }
        completion(inlineError(parts.join(QStringLiteral(": "))));
    });
}

namespace {

// One PUT of the bytes to `url`; a redirect is followed here, again as PUT with the bytes: left to
// Qt, a 301, 302 or 303 would become a GET without them, whose success would pass for a stored file.
void putBytes(const QUrl& url, const QByteArray& data, int idleMs, const QDeadlineTimer& deadline, int hopsLeft,
              const std::function<void(std::optional<platform::AppError>)>& completion)
{
    // The upload address authorises the transfer itself: no token goes there.
    QNetworkRequest request(url);
    request.setRawHeader(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("image/png"));
    request.setTransferTimeout(idleMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    const int remaining = static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, INT_MAX));
    exchange(request, "PUT", data, remaining, completion, [=](const YandexDiskResponse& response) {
        if (response.isHTTP && response.status >= 200 && response.status <= 299) {
            completion(std::nullopt);
            return;
        }
        if (response.isHTTP && response.status >= 300 && response.status <= 399 && response.redirectTarget
            && hopsLeft > 0 && isWebAddress(*response.redirectTarget)) {
            const bool downgrade = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0
                                   && response.redirectTarget->scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0;
            if (!downgrade) {
                putBytes(*response.redirectTarget, data, idleMs, deadline, hopsLeft - 1, completion);
                return;
            }
        }
        completion(statusError(QStringLiteral("Ошибка загрузки"), response));
    });
}

} // namespace

void YandexDiskUploader::performUpload(const RequestContext& context, const QByteArray& data,
                                       const QString& uploadURL, StepDone completion)
{
    const auto url = webAddress(uploadURL);
    if (!url) {
        completion(YandexDiskErrors::toAppError(YandexDiskError::invalidURL));
        return;
    }
    const QDeadlineTimer deadline(uploadDeadline(data.size(), context.timeoutScale));
    putBytes(*url, data, scaled(transferTimeoutMs, context.timeoutScale), deadline, uploadRedirectHops, completion);
}

void YandexDiskUploader::publishAndFetchPublicURL(const RequestContext& context, const QString& path,
                                                  TextDone completion)
{
    callAPI(context, QStringLiteral("/resources/publish"), {{QStringLiteral("path"), path}}, "PUT", completion,
            [context, path, completion](const YandexDiskResponse& response) {
        const int status = response.isHTTP ? response.status : -1;
        std::optional<QString> href;
        if (const auto object = response.jsonObjectIfAny())
            href = YandexDiskResponse::text(*object, "href");
        const auto fetchLink = [context, path, completion] {
            fetchPublicURLWithRetries(context, path, linkRetries, repeatDelay, completion);
        };
        if (status == 202) {
            // Published in the background: wait for the operation, then read the link whatever
            // the wait gave.
            if (const auto operation = href ? webAddress(*href) : std::nullopt) {
                pollOperation(context, *operation, operationRetries, repeatDelay, [fetchLink](bool) { fetchLink(); });
                return;
            }
            fetchLink();
            return;
        }
        if (status >= 200 && status <= 299) {
            fetchLink();
            return;
        }
        completion(statusError(QStringLiteral("Ошибка публикации"), response));
    });
}

void YandexDiskUploader::pollOperation(const RequestContext& context, const QUrl& href, int retries, double delay,
                                       std::function<void(bool)> completion)
{
    // The operation's address comes from the answer: the token goes to the API's own origin only, and
    // an operation elsewhere counts as one that did not finish.
    if (!sameOrigin(href, QUrl(context.apiURL))) {
        completion(false);
        return;
    }
    send(apiRequest(href, context.authorization, scaled(operationTimeoutMs, context.timeoutScale)), "GET", {},
         scaled(apiDeadlineMs, context.timeoutScale), [context, href, retries, delay, completion](const YandexDiskResponse& response) {
        const auto repeat = [&] {
            if (retries < 1) {
                completion(false);
                return;
            }
            after(delay, [context, href, retries, delay, completion] {
                pollOperation(context, href, retries - 1, delay, completion);
            });
        };
        // Only the body counts: a failed status request is simply asked again.
        const auto object = response.jsonObjectIfAny();
        const auto status = object ? YandexDiskResponse::text(*object, "status") : std::nullopt;
        if (!status) {
            repeat();
            return;
        }
        const QString state = status->toLower();
        if (state == QLatin1String("success"))
            completion(true);
        else if (state == QLatin1String("in-progress") || state == QLatin1String("pending"))
            repeat();
        else
            completion(false);
    });
}

void YandexDiskUploader::fetchPublicURLWithRetries(const RequestContext& context, const QString& path, int retries,
                                                   double delay, TextDone completion)
{
    fetchResourceInfo(context, path, [context, path, retries, delay, completion](
                                         std::variant<nlohmann::json, platform::AppError> resource) {
        const auto repeatOr = [&](const platform::AppError& error) {
            if (retries < 1) {
                completion(error);
                return;
            }
            after(delay, [context, path, retries, delay, completion] {
                fetchPublicURLWithRetries(context, path, retries - 1, delay, completion);
            });
        };
        if (auto* error = std::get_if<platform::AppError>(&resource)) {
            repeatOr(*error);
            return;
        }
        const auto link = YandexDiskResponse::text(std::get<nlohmann::json>(resource), "public_url");
        if (link && !link->isEmpty()) {
            completion(*link);
            return;
        }
        repeatOr(inlineError(QStringLiteral("public_url отсутствует")));
    });
}

void YandexDiskUploader::fetchResourceInfo(const RequestContext& context, const QString& path,
                                           std::function<void(std::variant<nlohmann::json, platform::AppError>)> completion)
{
    callAPI(context, QStringLiteral("/resources"),
            {{QStringLiteral("path"), path}, {QStringLiteral("fields"), QStringLiteral("public_url")}}, "GET", completion,
            [completion](const YandexDiskResponse& response) { completion(response.jsonObject()); });
}

void YandexDiskUploader::testConnection(TestCompletion completion)
{
    const auto token = storedToken();
    if (!token) {
        completion(false, YandexDiskErrors::errorDescription(YandexDiskError::noAccessToken));
        return;
    }
    const QUrl url(m_apiURL + QStringLiteral("/resources?path=app:/"), QUrl::StrictMode);
    if (!isWebAddress(url)) {
        completion(false, YandexDiskErrors::errorDescription(YandexDiskError::invalidURL));
        return;
    }
    const QByteArray authorization = QByteArrayLiteral("OAuth ") + token->toUtf8();
    const int timeout = scaled(connectionTestTimeoutMs, m_timeoutScale);
    const int deadline = scaled(apiDeadlineMs, m_timeoutScale);
    runOnMain([url, authorization, timeout, deadline, completion = std::move(completion)] {
        send(apiRequest(url, authorization, timeout, false), "GET", {}, deadline, [completion](const YandexDiskResponse& response) {
            runOnMain([response, completion] {
                if (response.transportError)
                    completion(false, QStringLiteral("Ошибка: ") + response.transportError->localizedDescription);
                else if (response.isHTTP && response.status == 200)
                    completion(true, QStringLiteral("Соединение с Яндекс.Диском успешно!"));
                else
                    completion(false, QStringLiteral("Ошибка авторизации. Проверьте токен."));
            });
        });
    });
}
