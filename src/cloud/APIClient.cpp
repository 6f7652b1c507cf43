#include "cloud/APIClient.h"

#include "app/AnswerExcerpt.h"
#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "cloud/JSONObjectDecoder.h"
#include "cloud/LoginRequest.h"
#include "cloud/RegisterRequest.h"
#include "cloud/UserResponse.h"
#include "platform/Console.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>
#include <QUuid>

namespace {

// The body as text for a log line.
QString bodyText(const QByteArray& body)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(body);
    return decoder.hasError() ? QStringLiteral("<non-utf8 data>") : text;
}

// A secret's shape for a log or console line; never any of its characters.
QString hidden(const QString& secret)
{
    return QStringLiteral("<hidden, %1 characters>").arg(secret.size());
}

// A service error as the user, the console and the log get it: a message or field message the
// length of a page cut to its start, and any password of the request it repeats masked.
APIError shownToTheUser(APIError error, const QStringList& secrets)
{
    const auto shown = [&secrets](QString text) {
        for (const QString& secret : secrets)
            text.replace(secret, QStringLiteral("••••••••"));
        return AnswerExcerpt::of(text);
    };
    error.message = shown(error.message);
    if (error.errors)
        for (QStringList& messages : *error.errors)
            for (QString& message : messages)
                message = shown(message);
    return error;
}

// Percent-escapes decoded; nullopt when an escape is malformed or the bytes are not UTF-8.
std::optional<QString> removingPercentEncoding(const QString& value)
{
    const QByteArray raw = value.toUtf8();
    QByteArray decoded;
    decoded.reserve(raw.size());
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            decoded.append(raw[i]);
            continue;
        }
        if (i + 2 >= raw.size())
            return std::nullopt;
        const int high = hex(raw[i + 1]);
        const int low = hex(raw[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        decoded.append(static_cast<char>(high * 16 + low));
        i += 2;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(decoded);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// Errors below 200 are the connection's and the proxy's: the answer, if any began, is incomplete.
bool isTransportLevel(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

} // namespace

namespace {

std::mutex sharedRootMutex;
bool sharedCreated = false;
QString& sharedRoot()
{
    // KESTROVA_SERVICE_ROOT points the program at a local stand-in of the service (its tests set
    // it). Only a plain loopback origin is taken: the token must never go where the environment says.
    static QString root = [] {
        const QString given = qEnvironmentVariable("KESTROVA_SERVICE_ROOT");
        const QUrl url(given, QUrl::StrictMode);
        const bool loopback = url.isValid() && url.scheme() == QLatin1String("http")
                              && (url.host() == QLatin1String("127.0.0.1") || url.host() == QLatin1String("localhost"))
                              && url.path().isEmpty() && !url.hasQuery() && !url.hasFragment() && url.userInfo().isEmpty();
        return loopback ? given : APIClient::productServiceRoot;
    }();
    return root;
}

} // namespace

bool APIClient::setSharedServiceRootForTesting(const QString& serviceRoot)
{
    std::lock_guard lock(sharedRootMutex);
    if (sharedCreated)
        return false;
    sharedRoot() = serviceRoot;
    return true;
}

APIClient& APIClient::shared()
{
    // Never destroyed: it owns network objects that must not outlive the application object's
    // teardown in the wrong order. Created once, also when first used from two threads at once.
    static APIClient* instance = [] {
        QString root;
        {
            std::lock_guard lock(sharedRootMutex);
            sharedCreated = true;
            root = sharedRoot();
        }
        auto* client = new APIClient(root);
        if (QCoreApplication::instance() && client->thread() != QCoreApplication::instance()->thread())
            client->moveToThread(QCoreApplication::instance()->thread());
        return client;
    }();
    return *instance;
}

APIClient::APIClient(const QString& serviceRoot, QObject* parent)
    : QObject(parent)
    , m_baseURL(serviceRoot + QStringLiteral("/api/v1"))
    , m_sanctumURL(serviceRoot)
    , m_session(new QNetworkAccessManager(this))
    , m_cookieStorage(new QNetworkCookieJar(m_session))
{
    // The jar accepts every cookie the service sets and QNetworkAccessManager sends the stored
    // ones with each request.
    m_session->setCookieJar(m_cookieStorage);
    if (auto record = AppState::credentials())
        m_authToken = record->kestrovaApiToken;
}

APIClient::~APIClient() = default;

QUrl APIClient::webPageURL(const QString& path) const
{
    return QUrl(m_sanctumURL + path);
}

std::optional<QString> APIClient::authToken() const
{
    std::lock_guard lock(m_tokenMutex);
    return m_authToken;
}

void APIClient::setAuthToken(const std::optional<QString>& token)
{
    std::lock_guard lock(m_tokenMutex);
    m_authToken = token;
}

void APIClient::storeToken(const QString& token)
{
    // Held across the store so the held token and the stored one change together.
    std::lock_guard lock(m_tokenMutex);
    m_authToken = token;
    AppState::setKestrovaApiToken(token);
}

void APIClient::clearToken()
{
    std::lock_guard lock(m_tokenMutex);
    m_authToken.reset();
    AppState::setKestrovaApiToken(std::nullopt);
}

void APIClient::clearTokenAfterUnauthorized(const std::optional<QString>& sentToken)
{
    std::lock_guard lock(m_tokenMutex);
    // A sign-in that finished while this request was out has brought a token the 401 says nothing about.
    if (m_authToken != sentToken)
        return;
    m_authToken.reset();
    AppState::setKestrovaApiToken(std::nullopt);
}

void APIClient::setTimeoutsForTesting(std::chrono::milliseconds request, std::chrono::milliseconds resource)
{
    m_requestTimeout = request;
    m_resourceTimeout = resource;
}

void APIClient::onOwnThread(std::function<void()> work)
{
    if (QThread::currentThread() == thread())
        work();
    else
        QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

template <typename T>
void APIClient::deliver(const QPointer<QObject>& context, bool hadContext, Completion<T> completion,
                        Expected<T, CloudError> result)
{
    if (!completion || (hadContext && !context))
        return;
    QObject* target = hadContext ? context.data() : this;
    QMetaObject::invokeMethod(
        target, [completion = std::move(completion), result = std::move(result)] { completion(result); },
        Qt::QueuedConnection);
}

void APIClient::deliver(const QPointer<QObject>& context, bool hadContext, std::function<void()> completion)
{
    if (!completion || (hadContext && !context))
        return;
    QObject* target = hadContext ? context.data() : this;
    QMetaObject::invokeMethod(target, std::move(completion), Qt::QueuedConnection);
}

std::optional<QString> APIClient::getXsrfToken() const
{
    const QUrl url(m_sanctumURL + QLatin1Char('/'));
    if (!url.isValid())
        return std::nullopt;
    for (const QNetworkCookie& cookie : m_cookieStorage->cookiesForUrl(url)) {
        if (cookie.name() != "XSRF-TOKEN")
            continue;
        const QString raw = QString::fromUtf8(cookie.value());
        const QString value = removingPercentEncoding(raw).value_or(raw);
        // The cookie is the service's anti-forgery secret: its characters stay off the console.
        platform::Console::printLine(QStringLiteral("APIClient: XSRF-TOKEN found: ") + hidden(value));
        return value;
    }
    platform::Console::printLine(QStringLiteral("APIClient: XSRF-TOKEN not found in cookies"));
    return std::nullopt;
}

namespace {

// Same scheme, host and port; a missing port is the scheme's own.
bool sameOrigin(const QUrl& a, const QUrl& b)
{
    const auto defaultPort = [](const QUrl& url) { return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80; };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
           && a.port(defaultPort(a)) == b.port(defaultPort(b));
}

} // namespace

QString APIClient::answerSize(const Answer& answer)
{
    // A whole answer is measured as read: its Content-Length may count compressed bytes.
    if (!answer.cutOff)
        return QStringLiteral("%1 bytes").arg(answer.body.size());
    if (answer.declaredSize > maxAnswerBytes)
        return QStringLiteral("%1 bytes").arg(answer.declaredSize);
    return QStringLiteral("more than %1 bytes").arg(maxAnswerBytes);
}

QString APIClient::loggedBody(const Answer& answer)
{
    if (!answer.cutOff && answer.body.size() <= maxLoggedAnswerBytes)
        return bodyText(answer.body);
    qsizetype cut = std::min(answer.body.size(), maxLoggedAnswerBytes);
    // Back to the start of a UTF-8 sequence, so a cut character does not make the whole text unreadable.
    while (cut > 0 && cut < answer.body.size() && (static_cast<uchar>(answer.body[cut]) & 0xC0) == 0x80)
        --cut;
    return bodyText(answer.body.left(cut)) + QStringLiteral(" [cut: the first %1 of %2]").arg(cut).arg(answerSize(answer));
}

void APIClient::send(QNetworkRequest request, const QByteArray& method, const std::optional<QByteArray>& body,
                     std::function<void(Exchange)> done)
{
    request.setTransferTimeout(static_cast<int>(m_requestTimeout.count()));
    // Every redirect is looked at before it is followed: see `redirected` below.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    const bool carriesCredentials = request.hasRawHeader("Authorization") || request.hasRawHeader("X-XSRF-TOKEN");
    const QUrl origin = request.url();
    QNetworkReply* reply = body ? m_session->sendCustomRequest(request, method, *body)
                                : m_session->sendCustomRequest(request, method);

    struct Progress {
        bool timedOut = false;
        std::optional<QUrl> refusedRedirect;
        Answer answer;
    };
    auto progress = std::make_shared<Progress>();

    // The headers go along with a followed redirect: one that carries the token or the anti-forgery
    // value goes to the service's own origin only. So does one that carries a cookie: the jar
    // matches cookies by host alone, so the session would go to any port of the host; the jar is
    // asked again at the redirect, since the redirecting answer may have set one. Others follow
    // unless they leave HTTPS.
    connect(reply, &QNetworkReply::redirected, this,
            [this, reply, origin, carriesCredentials, progress](const QUrl& url) {
        const QUrl target = reply->url().resolved(url);
        const bool downgrade = origin.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0
                               && target.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0;
        const bool carriesCookies = !m_cookieStorage->cookiesForUrl(reply->url()).isEmpty()
                                    || !m_cookieStorage->cookiesForUrl(target).isEmpty();
        if (((carriesCredentials || carriesCookies) && !sameOrigin(origin, target)) || downgrade) {
            progress->refusedRedirect = target;
            reply->abort();
            return;
        }
        progress->answer = Answer();
        emit reply->redirectAllowed();
    });

    // The body is taken as it arrives, up to the limit; past it the reply is abandoned, so a huge
    // answer is never held whole. One that announces a length past the limit is abandoned as soon as
    // there is enough of it for the log. A small read buffer keeps Qt from reading far ahead of us.
    reply->setReadBufferSize(64 * 1024);
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, progress] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            progress->answer.declaredSize = length.toLongLong();
    });
    connect(reply, &QIODevice::readyRead, this, [reply, progress] {
        Answer& answer = progress->answer;
        if (answer.cutOff)
            return;
        const qsizetype wanted = answer.declaredSize > maxAnswerBytes ? maxLoggedAnswerBytes : maxAnswerBytes + 1;
        answer.body += reply->read(wanted - answer.body.size());
        if (answer.body.size() >= wanted) {
            answer.cutOff = true;
            reply->abort();
        }
    });

    // The idle limit is Qt's transfer time-out; the limit of the whole exchange is this timer.
    auto* resourceLimit = new QTimer(reply);
    resourceLimit->setSingleShot(true);
    connect(resourceLimit, &QTimer::timeout, reply, [reply, progress] {
        progress->timedOut = true;
        reply->abort();
    });
    resourceLimit->start(m_resourceTimeout);

    connect(reply, &QNetworkReply::finished, this, [reply, progress, done = std::move(done)] {
        reply->deleteLater();
        const QNetworkReply::NetworkError error = reply->error();
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (progress->refusedRedirect) {
            done(CloudError(TransportError::redirectRefused(*progress->refusedRedirect)));
            return;
        }
        Answer& answer = progress->answer;
        // An answer that announced more than the limit is never read whole, however it ended.
        if (!answer.cutOff && answer.declaredSize > maxAnswerBytes && status.isValid())
            answer.cutOff = true;
        if (answer.cutOff && !progress->timedOut) {
            if (status.isValid()) {
                answer.statusCode = status.toInt();
                done(answer);
            } else {
                done(CloudError(APIClientError::invalidResponse()));
            }
            return;
        }
        // The client never cancels a request itself: a cancelled one ran into a time limit.
        const bool limitReached = progress->timedOut || error == QNetworkReply::OperationCanceledError;
        if (isTransportLevel(error)) {
            done(CloudError(TransportError::fromReply(error, reply->errorString(), limitReached)));
            return;
        }
        if (status.isValid()) {
            if (reply->isOpen())
                answer.body += reply->read(maxAnswerBytes + 1 - answer.body.size());
            answer.cutOff = answer.body.size() > maxAnswerBytes;
            answer.statusCode = status.toInt();
            done(answer);
            return;
        }
        if (error != QNetworkReply::NoError) {
            done(CloudError(TransportError::fromReply(error, reply->errorString(), limitReached)));
            return;
        }
        done(CloudError(APIClientError::invalidResponse()));
    });
}

void APIClient::getCsrfCookie(std::function<void(Failure)> done)
{
    const QUrl url(m_sanctumURL + QStringLiteral("/sanctum/csrf-cookie"));
    if (!url.isValid()) {
        done(CloudError(APIClientError::invalidURL()));
        return;
    }
    QNetworkRequest request(url);
    request.setRawHeader("Accept", "application/json");
    send(request, "GET", std::nullopt, [done = std::move(done)](Exchange exchange) {
        if (!exchange) {
            done(exchange.error());
            return;
        }
        // Any status will do: whether a cookie came is learnt from the jar.
        platform::Console::printLine(QStringLiteral("APIClient: CSRF cookie received, status: ")
                                     + QString::number(exchange->statusCode));
        done(std::nullopt);
    });
}

void APIClient::csrfPreStep(std::function<void(Failure)> done)
{
    if (getXsrfToken()) {
        done(std::nullopt);
        return;
    }
    getCsrfCookie([this, done = std::move(done)](Failure failure) {
        if (failure) {
            done(failure);
            return;
        }
        if (!getXsrfToken()) {
            done(CloudError(APIClientError::missingCsrfToken()));
            return;
        }
        done(std::nullopt);
    });
}

void APIClient::request(const QByteArray& method, const QString& path, std::optional<nlohmann::json> body,
                        bool requiresAuth, BodyDecoder decodeBody, std::function<void(Failure)> done)
{
    auto afterCsrf = [this, method, path, body = std::move(body), requiresAuth, decodeBody = std::move(decodeBody),
                      done](Failure csrfFailure) mutable {
        if (csrfFailure) {
            done(csrfFailure);
            return;
        }
        const QUrl url(m_baseURL + path);
        if (!url.isValid()) {
            done(CloudError(APIClientError::invalidURL()));
            return;
        }
        QNetworkRequest request(url);
        request.setRawHeader("Content-Type", "application/json");
        request.setRawHeader("Accept", "application/json");
        request.setRawHeader("X-Requested-With", "XMLHttpRequest");
        const std::optional<QString> token = authToken();
        if (requiresAuth) {
            if (!token) {
                done(CloudError(APIClientError::unauthorized()));
                return;
            }
            request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
        }
        if (auto xsrf = getXsrfToken())
            request.setRawHeader("X-XSRF-TOKEN", xsrf->toUtf8());

        // The passwords the request carries: a service error that repeats one shows it masked.
        QStringList secrets;
        if (body && body->is_object())
            for (const char* key : {"password", "password_confirmation"})
                if (const auto it = body->find(key); it != body->end() && it->is_string() && !it->get<std::string>().empty())
                    secrets << QString::fromStdString(it->get<std::string>());
        std::optional<QByteArray> payload;
        if (body) {
            // Texts come from QString, so they are valid UTF-8 and the dump cannot fail.
            const std::string text = body->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            payload = QByteArray(text.data(), static_cast<qsizetype>(text.size()));
        }

        send(request, method, payload,
             [this, method, path, requiresAuth, token, secrets, decodeBody = std::move(decodeBody), done](Exchange exchange) {
                 if (!exchange) {
                     done(exchange.error());
                     return;
                 }
                 const Answer& answer = *exchange;
                 // Sign-in and sign-up: the request carries the password, the answer the token.
                 const bool signIn = path == QLatin1String("/auth/login") || path == QLatin1String("/auth/register");
                 if (answer.statusCode == 401) {
                     clearTokenAfterUnauthorized(requiresAuth ? token : authToken());
                     done(CloudError(APIClientError::unauthorized()));
                     return;
                 }
                 const QString verb = QString::fromLatin1(method);
                 if (answer.statusCode < 400) {
                     if (!decodeBody) {
                         done(std::nullopt);
                         return;
                     }
                     if (answer.cutOff) {
                         DebugLogger::shared().logErrorMessage(QStringLiteral("Answer too large for ") + verb
                                                               + QLatin1Char(' ') + path + QStringLiteral(": ")
                                                               + answerSize(answer) + QStringLiteral(", not read"));
                         done(CloudError(APIClientError::responseTooLarge()));
                         return;
                     }
                     auto json = JSONObjectDecoder::parse(answer.body);
                     std::optional<DecodingError> failure = json ? decodeBody(*json) : json.error();
                     if (!failure) {
                         done(std::nullopt);
                         return;
                     }
                     // A sign-in answer holds the token wherever it is, so its text stays out of the log.
                     const QString raw = signIn
                                             ? QStringLiteral("<%1 bytes not shown: the answer may hold a token>")
                                                   .arg(answer.body.size())
                                             : loggedBody(answer);
                     DebugLogger::shared().logErrorMessage(QStringLiteral("Decoding failed for ") + verb
                                                           + QLatin1Char(' ') + path + QStringLiteral(": ")
                                                           + failure->localizedDescription()
                                                           + QStringLiteral("\nRaw response: ") + raw);
                     done(CloudError(APIClientError::decodingError(*failure)));
                     return;
                 }
                 // The first bytes of an abandoned answer are no service error body.
                 auto json = answer.cutOff ? Expected<nlohmann::json, DecodingError>(DecodingError())
                                           : JSONObjectDecoder::parse(answer.body);
                 std::optional<APIError> serviceError;
                 if (json) {
                     if (auto decoded = APIError::decode(*json))
                         serviceError = shownToTheUser(std::move(decoded).value(), secrets);
                 }
                 // An error page may echo the request, and a sign-in request carries the password:
                 // of its answer only the service's own message is logged.
                 QString shown;
                 if (!signIn)
                     shown = loggedBody(answer);
                 else if (serviceError)
                     shown = serviceError->localizedDescription();
                 else
                     shown = QStringLiteral("<%1 not shown: the request carried a password>").arg(answerSize(answer));
                 DebugLogger::shared().logErrorMessage(QStringLiteral("HTTP ") + QString::number(answer.statusCode)
                                                       + QLatin1Char(' ') + verb + QLatin1Char(' ') + path
                                                       + QStringLiteral(": ") + shown);
                 done(serviceError ? CloudError(*serviceError) : CloudError(APIClientError::httpError(answer.statusCode)));
             });
    };

    if (method != "GET")
        csrfPreStep(std::move(afterCsrf));
    else
        afterCsrf(std::nullopt);
}

template <typename T>
void APIClient::requestModel(const QByteArray& method, const QString& path, std::optional<nlohmann::json> body,
                             bool requiresAuth, std::function<void(Expected<T, CloudError>)> done)
{
    auto decoded = std::make_shared<std::optional<T>>();
    BodyDecoder decodeBody = [decoded](const nlohmann::json& json) -> std::optional<DecodingError> {
        auto result = T::decode(json);
        if (!result)
            return result.error();
        *decoded = std::move(result).value();
        return std::nullopt;
    };
    request(method, path, std::move(body), requiresAuth, std::move(decodeBody),
            [decoded, done = std::move(done)](Failure failure) {
                if (failure)
                    done(*failure);
                else
                    done(std::move(**decoded));
            });
}

void APIClient::login(const QString& email, const QString& password, QObject* context,
                      Completion<LoginResponse> completion)
{
    const QPointer<QObject> guard(context);
    const bool hadContext = context != nullptr;
    onOwnThread([=, this] {
        csrfPreStep([=, this](Failure failure) {
            if (failure) {
                deliver<LoginResponse>(guard, hadContext, completion, *failure);
                return;
            }
            requestModel<LoginResponse>("POST", QStringLiteral("/auth/login"), LoginRequest{email, password}.toJson(),
                                        false, [=, this](Expected<LoginResponse, CloudError> result) {
                                            if (result)
                                                storeToken(result->token);
                                            deliver<LoginResponse>(guard, hadContext, completion, std::move(result));
                                        });
        });
    });
}

void APIClient::registerAccount(const QString& name, const QString& email, const QString& password,
                                const QString& passwordConfirmation, QObject* context,
                                Completion<RegisterResponse> completion)
{
    const QPointer<QObject> guard(context);
    const bool hadContext = context != nullptr;
    onOwnThread([=, this] {
        csrfPreStep([=, this](Failure failure) {
            if (failure) {
                deliver<RegisterResponse>(guard, hadContext, completion, *failure);
                return;
            }
            const RegisterRequest body{name, email, password, passwordConfirmation};
            requestModel<RegisterResponse>("POST", QStringLiteral("/auth/register"), body.toJson(), false,
                                           [=, this](Expected<RegisterResponse, CloudError> result) {
                                               if (result)
                                                   storeToken(result->token);
                                               deliver<RegisterResponse>(guard, hadContext, completion, std::move(result));
                                           });
        });
    });
}

void APIClient::getCurrentUser(QObject* context, Completion<User> completion)
{
    const QPointer<QObject> guard(context);
    const bool hadContext = context != nullptr;
    onOwnThread([=, this] {
        requestModel<UserResponse>("GET", QStringLiteral("/auth/me"), std::nullopt, true,
                                   [=, this](Expected<UserResponse, CloudError> result) {
                                       if (result)
                                           deliver<User>(guard, hadContext, completion, result->user);
                                       else
                                           deliver<User>(guard, hadContext, completion, result.error());
                                   });
    });
}

void APIClient::logout(QObject* context, std::function<void()> completion)
{
    const QPointer<QObject> guard(context);
    const bool hadContext = context != nullptr;
    onOwnThread([=, this] {
        auto finish = [=, this](Failure failure) {
            if (failure)
                platform::Console::printLine(QStringLiteral("Logout API call failed: ") + failure->debugDescription()
                                             + QStringLiteral(", but clearing local token anyway"));
            clearToken();
            deliver(guard, hadContext, completion);
        };
        csrfPreStep([=, this](Failure failure) {
            if (failure) {
                finish(failure);
                return;
            }
            // The empty object "{}" as body; the answer's body is not read.
            request("POST", QStringLiteral("/auth/logout"), nlohmann::json::object(), true, BodyDecoder(), finish);
        });
    });
}

QString APIClient::contentType(const QString& fileName)
{
    static const std::pair<const char*, const char*> types[] = {
        {".png", "image/png"}, {".jpg", "image/jpeg"}, {".jpeg", "image/jpeg"},   {".gif", "image/gif"},
        {".mp4", "video/mp4"}, {".mov", "video/quicktime"},
    };
    for (const auto& [ending, type] : types)
        if (fileName.endsWith(QLatin1String(ending), Qt::CaseSensitive))
            return QString::fromLatin1(type);
    return QStringLiteral("application/octet-stream");
}

QByteArray APIClient::multipartBody(const QByteArray& fileData, const QString& fileName, bool isPublic,
                                    const QString& boundary)
{
    const QByteArray b = boundary.toUtf8();
    QByteArray body;
    body.reserve(fileData.size() + 300 + fileName.size() * 3);
    body += "--" + b + "\r\n";
    // The name goes in as it is: the service reads it back byte for byte.
    body += "Content-Disposition: form-data; name=\"file\"; filename=\"" + fileName.toUtf8() + "\"\r\n";
    body += "Content-Type: " + contentType(fileName).toUtf8() + "\r\n\r\n";
    body += fileData;
    body += "\r\n";
    body += "--" + b + "\r\n";
    body += "Content-Disposition: form-data; name=\"is_public\"\r\n\r\n";
    body += isPublic ? "1" : "0";
    body += "\r\n";
    body += "--" + b + "--\r\n";
    return body;
}

void APIClient::uploadFile(const QByteArray& fileData, const QString& fileName, bool isPublic, QObject* context,
                           Completion<UploadResponse> completion)
{
    const QPointer<QObject> guard(context);
    const bool hadContext = context != nullptr;
    onOwnThread([=, this] {
        getCsrfCookie([=, this](Failure failure) {
            if (failure) {
                deliver<UploadResponse>(guard, hadContext, completion, *failure);
                return;
            }
            const QUrl url(m_baseURL + QStringLiteral("/files"));
            if (!url.isValid()) {
                deliver<UploadResponse>(guard, hadContext, completion, CloudError(APIClientError::invalidURL()));
                return;
            }
            QNetworkRequest request(url);
            const std::optional<QString> token = authToken();
            if (token)
                request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
            if (auto xsrf = getXsrfToken())
                request.setRawHeader("X-XSRF-TOKEN", xsrf->toUtf8());
            const QString boundary = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
            request.setRawHeader("Content-Type", "multipart/form-data; boundary=" + boundary.toUtf8());
            request.setRawHeader("Accept", "application/json");
            const QByteArray body = multipartBody(fileData, fileName, isPublic, boundary);

            auto& log = DebugLogger::shared();
            log.log(QStringLiteral("APIClient: Uploading file to POST /files"));
            log.log(QStringLiteral("APIClient: File size: %1 bytes, fileName: ").arg(fileData.size()) + fileName);
            log.log(QStringLiteral("APIClient: Body size: %1 bytes").arg(body.size()));
            if (token)
                log.log(QStringLiteral("APIClient: Auth token present: ") + hidden(*token));

            send(request, "POST", body, [=, this](Exchange exchange) {
                if (!exchange) {
                    const CloudError& error = exchange.error();
                    if (error.is(APIClientError::Case::invalidResponse))
                        DebugLogger::shared().logErrorMessage(error.localizedDescription());
                    deliver<UploadResponse>(guard, hadContext, completion, error);
                    return;
                }
                const Answer& answer = *exchange;
                auto& log = DebugLogger::shared();
                const QString text = loggedBody(answer);
                log.log(QStringLiteral("APIClient: Response status: ") + QString::number(answer.statusCode));
                log.log(QStringLiteral("APIClient: Response data size: ") + answerSize(answer));
                log.log(QStringLiteral("APIClient: Response body: ") + text);
                if (answer.statusCode == 401) {
                    clearTokenAfterUnauthorized(token);
                    log.logErrorMessage(QStringLiteral("HTTP 401 POST /files: Unauthorized"));
                    deliver<UploadResponse>(guard, hadContext, completion, CloudError(APIClientError::unauthorized()));
                    return;
                }
                if (answer.statusCode < 400 && answer.cutOff) {
                    log.logErrorMessage(QStringLiteral("APIClient: Answer too large: ") + answerSize(answer)
                                        + QStringLiteral(", not read"));
                    deliver<UploadResponse>(guard, hadContext, completion, CloudError(APIClientError::responseTooLarge()));
                    return;
                }
                if (answer.statusCode < 400) {
                    auto json = JSONObjectDecoder::parse(answer.body);
                    auto decoded = json ? UploadResponse::decode(*json) : Expected<UploadResponse, DecodingError>(json.error());
                    if (decoded) {
                        log.log(QStringLiteral("APIClient: Upload successful, file ID: ") + QString::number(decoded->file.id));
                        deliver<UploadResponse>(guard, hadContext, completion, std::move(decoded).value());
                        return;
                    }
                    log.logErrorMessage(QStringLiteral("APIClient: Decoding failed: ") + decoded.error().localizedDescription());
                    log.logErrorMessage(QStringLiteral("APIClient: Raw response: ") + text);
                    deliver<UploadResponse>(guard, hadContext, completion,
                                            CloudError(APIClientError::decodingError(decoded.error())));
                    return;
                }
                log.logErrorMessage(QStringLiteral("HTTP ") + QString::number(answer.statusCode)
                                    + QStringLiteral(" POST /files: ") + text);
                auto json = answer.cutOff ? Expected<nlohmann::json, DecodingError>(DecodingError())
                                          : JSONObjectDecoder::parse(answer.body);
                if (json) {
                    if (auto serviceError = APIError::decode(*json)) {
                        deliver<UploadResponse>(guard, hadContext, completion, CloudError(*serviceError));
                        return;
                    }
                }
                deliver<UploadResponse>(guard, hadContext, completion,
                                        CloudError(APIClientError::httpError(answer.statusCode)));
            });
        });
    });
}
