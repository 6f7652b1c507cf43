#include "cloud/APIClient.h"

#include "app/AppState.h"
#include "cloud/CloudTestSupport.h"
#include "platform/InMemoryKeychain.h"
#include "support/StdoutTap.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>

using namespace cloudtest;
using nlohmann::json;

namespace {

// The CSRF token the fake hands out, as its cookie carries it percent-escaped.
const QString kCsrfToken = QStringLiteral("eyJpdiI6Ikp2a1ZrT0E9PSIsInZhbHVlIjoiZmFrZSJ9==");

template <typename T>
struct Await {
    std::optional<Expected<T, CloudError>> result;
    APIClient::Completion<T> callback()
    {
        return [this](Expected<T, CloudError> r) { result = std::move(r); };
    }
    bool wait(std::chrono::milliseconds timeout = 15s)
    {
        return test::waitUntil([this] { return result.has_value(); }, timeout);
    }
    const CloudError& error() const { return result->error(); }
};

// An error answer of the fake, what the caller must get from it, and what the log must show in the
// form its test checks.
template <typename Log>
struct ErrorCase {
    const char* name;
    int status;
    std::string body;
    const char* contentType;
    std::function<void(const CloudError&)> check;
    Log log;
};

class APIClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fake.running()) << "the cloud fake did not start";
        keychain = std::make_shared<platform::InMemoryKeychain>();
        platform::KeychainBackend::setCurrent(keychain);
        AppState::resetCredentialsForTesting();
        AppState::loadCredentials(); // an empty record, as after the first AppState
        client = std::make_unique<APIClient>(fake.root());
        client->setAuthToken(std::nullopt); // signed out; tests that need a token sign in
    }

    // Signs in as the fake's account; returns the token.
    QString signIn()
    {
        Await<LoginResponse> login;
        client->login("user@example.com", "secret123", &context, login.callback());
        EXPECT_TRUE(login.wait());
        EXPECT_TRUE(login.result && *login.result) << (login.result && !*login.result
                                                           ? login.error().localizedDescription().toStdString()
                                                           : std::string());
        return login.result && *login.result ? (*login.result)->token : QString();
    }

    Expected<User, CloudError> currentUser()
    {
        Await<User> me;
        client->getCurrentUser(&context, me.callback());
        EXPECT_TRUE(me.wait());
        return me.result.value_or(CloudError(APIClientError::invalidResponse()));
    }

    Expected<UploadResponse, CloudError> upload(const QByteArray& data, const QString& name, bool isPublic = true)
    {
        Await<UploadResponse> up;
        client->uploadFile(data, name, isPublic, &context, up.callback());
        EXPECT_TRUE(up.wait());
        return up.result.value_or(CloudError(APIClientError::invalidResponse()));
    }

    // The failure of GET /auth/me ("GET") or of an upload ("POST"); none when it succeeds.
    std::optional<CloudError> failureOf(const std::string& method)
    {
        if (method == "GET") {
            auto me = currentUser();
            return me ? std::nullopt : std::optional(me.error());
        }
        auto up = upload("abc", "a.png");
        return up ? std::nullopt : std::optional(up.error());
    }

    QString storedToken() const { return AppState::credentials().value_or(SecureCredentials{}).kestrovaApiToken; }

    // A root where nothing listens: the port of a fake that has stopped.
    static QString deadRoot()
    {
        quint16 port;
        {
            CloudFake gone(5s);
            port = gone.port();
        }
        return QStringLiteral("http://127.0.0.1:%1").arg(port);
    }

    CloudFake fake;
    std::shared_ptr<platform::InMemoryKeychain> keychain;
    QObject context;
    std::unique_ptr<APIClient> client;
};

} // namespace

TEST_F(APIClientTest, TokenAtCreationComesFromTheCachedRecord)
{
    AppState::resetCredentialsForTesting();
    EXPECT_FALSE(APIClient(fake.root()).authToken()) << "no record cached: no token";

    AppState::loadCredentials();
    EXPECT_EQ(APIClient(fake.root()).authToken(), QString()) << "an empty stored token is a token";

    AppState::setKestrovaApiToken(QStringLiteral("abc"));
    EXPECT_EQ(APIClient(fake.root()).authToken(), "abc");

    EXPECT_EQ(client->baseURL(), fake.root() + "/api/v1");
    EXPECT_EQ(client->sanctumURL(), fake.root());
    EXPECT_EQ(client->webPageURL("/password/reset"), QUrl(fake.root() + "/password/reset"));
    EXPECT_EQ(APIClient::productServiceRoot.startsWith("https://"), true);
}

TEST_F(APIClientTest, SignInFetchesTheCsrfCookieOnceAndStoresTheToken)
{
    const QString token = signIn();
    ASSERT_FALSE(token.isEmpty());
    EXPECT_EQ(client->authToken(), token);
    EXPECT_EQ(storedToken(), token);
    EXPECT_EQ(keychain->item("Kestrova", "kestrova_credentials").has_value(), true);

    // The cookie is stored now: a second sign-in goes straight to the service.
    signIn();
    EXPECT_EQ(fake.requestLines(), QStringList({"GET /sanctum/csrf-cookie", "POST /api/v1/auth/login",
                                                "POST /api/v1/auth/login"}));
    const auto requests = fake.requests();
    const RecordedRequest& csrf = requests[0];
    EXPECT_EQ(csrf.header("Accept"), "application/json");
    EXPECT_FALSE(csrf.header("Authorization"));
    EXPECT_FALSE(csrf.header("X-XSRF-TOKEN"));
    const RecordedRequest& login = requests[1];
    EXPECT_EQ(login.header("Content-Type"), "application/json");
    EXPECT_EQ(login.header("Accept"), "application/json");
    EXPECT_EQ(login.header("X-Requested-With"), "XMLHttpRequest");
    EXPECT_EQ(login.header("X-XSRF-TOKEN"), kCsrfToken) << "the cookie's value with its escapes decoded";
    EXPECT_FALSE(login.header("Authorization"));
    EXPECT_TRUE(login.header("Cookie").value_or("").contains("XSRF-TOKEN=")) << "stored cookies go along";
    EXPECT_EQ(json::parse(login.body.toStdString()), json({{"email", "user@example.com"}, {"password", "secret123"}}));
}

TEST_F(APIClientTest, CurrentUserNeedsAToken)
{
    auto none = currentUser();
    ASSERT_FALSE(none);
    EXPECT_TRUE(none.error().is(APIClientError::Case::unauthorized));
    EXPECT_EQ(none.error().localizedDescription(), "Unauthorized. Please log in again.");
    EXPECT_TRUE(fake.requests().empty()) << "nothing is sent without a token";

    const QString token = signIn();
    fake.resetRequests();
    auto me = currentUser();
    ASSERT_TRUE(me);
    EXPECT_EQ(me->email, "user@example.com");
    ASSERT_TRUE(me->usage);
    // GET skips the CSRF step, yet carries the stored cookie's header.
    const auto requests = fake.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/api/v1/auth/me");
    EXPECT_EQ(requests[0].header("Authorization"), "Bearer " + token);
    EXPECT_EQ(requests[0].header("X-XSRF-TOKEN"), kCsrfToken);
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
}

TEST_F(APIClientTest, UnauthorizedAnswerClearsTheToken)
{
    // An empty stored token still counts: it is sent as "Bearer " and refused.
    client->setAuthToken(QString());
    AppState::setKestrovaApiToken(QStringLiteral("was-stored"));
    LogMark mark;
    auto me = currentUser();
    ASSERT_FALSE(me);
    EXPECT_TRUE(me.error().is(APIClientError::Case::unauthorized));
    EXPECT_FALSE(client->authToken());
    EXPECT_EQ(storedToken(), QString());
    const auto requests = fake.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Authorization"), "Bearer ") << requests[0].header("Authorization").value_or("<none>").toStdString();
    EXPECT_TRUE(mark.lines().isEmpty()) << "a 401 writes no log line";
}

TEST_F(APIClientTest, UnauthorizedAnswerKeepsATokenThatReplacedTheRefusedOne)
{
    // The refused request went out with an old token; a sign-in finished while it was out.
    client->setAuthToken(QStringLiteral("old"));
    fake.rule("GET", "/api/v1/auth/me", 401, json{{"message", "Unauthenticated."}}, 1, 0.5);
    Await<User> me;
    client->getCurrentUser(&context, me.callback());
    test::spin(100ms);
    client->setAuthToken(QStringLiteral("new"));
    ASSERT_TRUE(me.wait());
    EXPECT_TRUE(me.error().is(APIClientError::Case::unauthorized));
    EXPECT_EQ(client->authToken(), "new");
}

TEST_F(APIClientTest, ErrorAnswersOfJsonRequests)
{
    signIn();
    using Case = ErrorCase<QString>; // log: the start of the request's first log message
    const std::string html = "<html><body>Server Error</body></html>";
    const std::string validation = R"({"message":"M","errors":{"email":["E"]}})";
    const std::vector<Case> cases = {
        {"422 with a service error body", 422, validation, "application/json",
         [](const CloudError& e) {
             ASSERT_TRUE(e.apiError());
             EXPECT_EQ(e.localizedDescription(), "M\nE");
         },
         "request: ERROR: HTTP 422 GET /auth/me: " + QString::fromStdString(validation)},
        {"500 with a web page", 500, html, "text/html",
         [](const CloudError& e) {
             ASSERT_TRUE(e.is(APIClientError::Case::httpError));
             EXPECT_EQ(e.clientError()->statusCode, 500);
             EXPECT_EQ(e.localizedDescription(), "HTTP Error: 500");
         },
         "request: ERROR: HTTP 500 GET /auth/me: " + QString::fromStdString(html)},
        {"400 that is not UTF-8", 400, "\xff\xfe\xfd", "application/octet-stream",
         [](const CloudError& e) { EXPECT_TRUE(e.is(APIClientError::Case::httpError)); },
         "request: ERROR: HTTP 400 GET /auth/me: <non-utf8 data>"},
        {"200 with malformed JSON", 200, "{\"user\": {", "application/json",
         [](const CloudError& e) {
             ASSERT_TRUE(e.is(APIClientError::Case::decodingError));
             EXPECT_TRUE(e.localizedDescription().startsWith("Failed to decode response: The data couldn't be read"));
         },
         "request: ERROR: Decoding failed for GET /auth/me: "},
        {"200 without the user", 200, R"({"data":{}})", "application/json",
         [](const CloudError& e) { EXPECT_TRUE(e.is(APIClientError::Case::decodingError)); },
         "request: ERROR: Decoding failed for GET /auth/me: "},
        {"204 has no body to decode", 204, "", "application/json",
         [](const CloudError& e) { EXPECT_TRUE(e.is(APIClientError::Case::decodingError)); },
         "request: ERROR: Decoding failed for GET /auth/me: "},
    };
    for (const Case& c : cases) {
        fake.rule("GET", "/api/v1/auth/me", c.status, c.body, 1, 0, c.contentType);
        LogMark mark;
        auto me = currentUser();
        ASSERT_FALSE(me) << c.name;
        c.check(me.error());
        const QStringList messages = mark.messages();
        ASSERT_FALSE(messages.isEmpty()) << c.name;
        EXPECT_TRUE(messages[0].startsWith(c.log)) << c.name << ": " << messages[0].toStdString();
        EXPECT_TRUE(client->authToken()) << c.name << ": only a 401 clears the token";
    }
    // The decoding line carries the body on its second line.
    fake.rule("GET", "/api/v1/auth/me", 200, std::string("[1,2]"));
    LogMark mark;
    currentUser();
    EXPECT_TRUE(mark.lines().contains("Raw response: [1,2]")) << mark.lines().join('\n').toStdString();
}

TEST_F(APIClientTest, SignInFailuresKeepTheToken)
{
    client->setAuthToken(QStringLiteral("keep"));
    Await<LoginResponse> wrong;
    client->login("user@example.com", "wrong", &context, wrong.callback());
    ASSERT_TRUE(wrong.wait());
    ASSERT_TRUE(wrong.error().apiError());
    EXPECT_EQ(wrong.error().localizedDescription(),
              "The provided credentials are incorrect.\nThese credentials do not match our records.");
    EXPECT_EQ(client->authToken(), "keep");

    // A malformed sign-in answer is reported without its text: it may hold the token.
    fake.rule("POST", "/api/v1/auth/login", 200, json{{"data", {{"secret_token", "s3cr3t-value"}}}});
    LogMark mark;
    Await<LoginResponse> odd;
    client->login("user@example.com", "secret123", &context, odd.callback());
    ASSERT_TRUE(odd.wait());
    EXPECT_TRUE(odd.error().is(APIClientError::Case::decodingError));
    EXPECT_TRUE(odd.error().localizedDescription().contains("Missing token in login response"));
    EXPECT_FALSE(mark.lines().join('\n').contains("s3cr3t-value"));
    EXPECT_EQ(client->authToken(), "keep");
}

TEST_F(APIClientTest, SignUpCreatesTheAccountAndStoresItsToken)
{
    Await<RegisterResponse> created;
    client->registerAccount("Анна", "anna@example.com", "12345678", "12345678", &context, created.callback());
    ASSERT_TRUE(created.wait());
    ASSERT_TRUE(*created.result);
    EXPECT_EQ((*created.result)->user->name, "Анна");
    EXPECT_EQ(client->authToken(), (*created.result)->token);
    EXPECT_EQ(storedToken(), (*created.result)->token);
    const auto requests = fake.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(json::parse(requests[1].body.toStdString()),
              json({{"name", "Анна"}, {"email", "anna@example.com"}, {"password", "12345678"},
                    {"password_confirmation", "12345678"}}));

    LogMark mark;
    Await<RegisterResponse> taken;
    client->registerAccount("B", "anna@example.com", "12345678", "12345678", &context, taken.callback());
    ASSERT_TRUE(taken.wait());
    ASSERT_TRUE(taken.error().apiError());
    EXPECT_EQ(taken.error().localizedDescription(), "The email has already been taken.\nThe email has already been taken.");
    ASSERT_FALSE(mark.messages().isEmpty());
    // The request carried the password: the service's message is logged, not its answer.
    EXPECT_EQ(mark.messages().mid(0, 2), QStringList({"request: ERROR: HTTP 422 POST /auth/register: The email has already been taken.",
                                                      "The email has already been taken."}));
}

TEST_F(APIClientTest, CsrfStepFailures)
{
    struct Case {
        const char* name;
        json csrf;
    };
    const std::vector<Case> cases = {
        {"500 without a cookie", {{"status", 500}, {"set_cookie", false}}},
        {"cookie name in other letter case", {{"status", 204}, {"set_cookie", true}, {"cookie_name", "xsrf-token"}}},
    };
    for (const Case& c : cases) {
        CloudFake own;
        ASSERT_TRUE(own.running());
        own.configure({{"csrf", c.csrf}});
        APIClient fresh(own.root());
        test::StdoutTap console;
        Await<RegisterResponse> r;
        fresh.registerAccount("A", "a@b.c", "12345678", "12345678", &context, r.callback());
        ASSERT_TRUE(r.wait()) << c.name;
        EXPECT_TRUE(r.error().is(APIClientError::Case::missingCsrfToken)) << c.name;
        EXPECT_EQ(r.error().localizedDescription(), "Unable to obtain CSRF token from the server");
        EXPECT_EQ(own.requestLines(), QStringList{"GET /sanctum/csrf-cookie"}) << c.name;
        const QStringList lines = console.lines();
        EXPECT_TRUE(lines.contains("APIClient: XSRF-TOKEN not found in cookies")) << c.name;
        EXPECT_TRUE(lines.contains(QStringLiteral("APIClient: CSRF cookie received, status: %1")
                                       .arg(c.csrf["status"].get<int>())))
            << c.name;
    }
}

TEST_F(APIClientTest, XsrfTokenLookup)
{
    QNetworkCookieJar* jar = client->cookieStorage();
    const QUrl root(fake.root() + "/");
    auto set = [&](const QByteArray& name, const QByteArray& value) {
        QNetworkCookie cookie(name, value);
        cookie.setPath("/");
        jar->setCookiesFromUrl({cookie}, root);
    };
    test::StdoutTap console;
    EXPECT_FALSE(client->getXsrfToken());
    set("xsrf-token", "lower");
    EXPECT_FALSE(client->getXsrfToken()) << "the name is compared case-sensitively";
    struct Case {
        QByteArray stored;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"a%3Db", "a=b"},
        {"50%zz", "50%zz"},            // no valid escape: the raw value
        {"50%", "50%"},                // an escape cut short
        {"%E2%82%AC", "€"},
        {"%FF%FE", "%FF%FE"},          // escapes that are no UTF-8
        {"plain", "plain"},
    };
    for (const Case& c : cases) {
        set("XSRF-TOKEN", c.stored);
        EXPECT_EQ(client->getXsrfToken(), c.expected) << c.stored.toStdString();
    }
    const QStringList lines = console.lines();
    EXPECT_TRUE(lines.contains("APIClient: XSRF-TOKEN found: <hidden, 5 characters>"));
    for (const QString& line : lines)
        EXPECT_FALSE(line.contains("plain")) << "the cookie's value stays off the console";
}

TEST_F(APIClientTest, SignOut)
{
    signIn();
    fake.resetRequests();
    bool done = false;
    client->logout(&context, [&] { done = true; });
    ASSERT_TRUE(test::waitUntil([&] { return done; }, 15s));
    EXPECT_FALSE(client->authToken());
    EXPECT_EQ(storedToken(), QString());
    const auto requests = fake.requests();
    ASSERT_EQ(requests.size(), 1u) << "the cookie is stored: no CSRF request";
    EXPECT_EQ(requests[0].path, "/api/v1/auth/logout");
    EXPECT_EQ(requests[0].body, "{}");
    EXPECT_TRUE(requests[0].header("Authorization"));

    // Without a token the request is not sent, and the sign-out still succeeds.
    test::StdoutTap console;
    done = false;
    client->logout(&context, [&] { done = true; });
    ASSERT_TRUE(test::waitUntil([&] { return done; }, 15s));
    EXPECT_TRUE(console.lines().contains(
        "Logout API call failed: APIClientError.unauthorized, but clearing local token anyway"));
}

TEST_F(APIClientTest, SignOutWithoutNetworkStillClearsTheToken)
{
    APIClient offline(deadRoot());
    offline.setAuthToken(QStringLiteral("t"));
    AppState::setKestrovaApiToken(QStringLiteral("t"));
    test::StdoutTap console;
    bool done = false;
    offline.logout(&context, [&] { done = true; });
    ASSERT_TRUE(test::waitUntil([&] { return done; }, 15s));
    EXPECT_FALSE(offline.authToken());
    EXPECT_EQ(storedToken(), QString());
    EXPECT_TRUE(console.lines().contains(
        "Logout API call failed: TransportError.cannotConnectToHost(Could not connect to the server.), "
        "but clearing local token anyway"))
        << console.lines().join('\n').toStdString();
}

TEST_F(APIClientTest, TransportFailures)
{
    APIClient offline(deadRoot());
    offline.setAuthToken(QStringLiteral("t"));
    Await<User> refused;
    offline.getCurrentUser(&context, refused.callback());
    ASSERT_TRUE(refused.wait());
    ASSERT_TRUE(refused.error().transportError());
    EXPECT_EQ(refused.error().transportError()->code, TransportError::Code::cannotConnectToHost);
    EXPECT_EQ(refused.error().localizedDescription(), "Could not connect to the server.");
    EXPECT_EQ(offline.authToken(), "t") << "a transport failure leaves the token";

    // No answer within the idle limit, and no end within the limit of the whole exchange.
    client->setAuthToken(QStringLiteral("t"));
    using ms = std::chrono::milliseconds;
    for (auto [idle, whole] : {std::pair<ms, ms>{300ms, 20s}, std::pair<ms, ms>{10s, 500ms}}) {
        fake.rule("GET", "/api/v1/auth/me", 200, json{{"user", {{"id", 1}}}}, 1, 3.0);
        client->setTimeoutsForTesting(idle, whole);
        const auto started = std::chrono::steady_clock::now();
        Await<User> slow;
        client->getCurrentUser(&context, slow.callback());
        ASSERT_TRUE(slow.wait());
        ASSERT_TRUE(slow.error().transportError());
        EXPECT_EQ(slow.error().transportError()->code, TransportError::Code::timedOut);
        EXPECT_EQ(slow.error().localizedDescription(), "The request timed out.");
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2500ms);
    }
}

TEST_F(APIClientTest, CompletionIsDroppedWithItsContext)
{
    signIn();
    fake.rule("GET", "/api/v1/auth/me", 200, json{{"user", {{"id", 1}, {"name", "n"}, {"email", "e"}}}}, 1, 0.3);
    auto* gone = new QObject;
    bool called = false;
    client->getCurrentUser(gone, [&](Expected<User, CloudError>) { called = true; });
    delete gone;
    // A second request shows when the first one's answer has come back.
    auto later = currentUser();
    test::spin(200ms);
    EXPECT_FALSE(called);
}

TEST_F(APIClientTest, OperationsStartedOnAnotherThreadCompleteOnTheContextsThread)
{
    signIn();
    Await<User> me;
    QThread* completedOn = nullptr;
    std::thread starter([&] {
        client->getCurrentUser(&context, [&](Expected<User, CloudError> r) {
            completedOn = QThread::currentThread();
            me.result = std::move(r);
        });
    });
    starter.join();
    ASSERT_TRUE(me.wait());
    EXPECT_TRUE(*me.result);
    EXPECT_EQ(completedOn, QCoreApplication::instance()->thread());
}

TEST(APIClientUpload, MultipartBodyFraming)
{
    const QString boundary = QStringLiteral("0F3A56C2-1B2D-4E5F-8A9B-0C1D2E3F4A5B");
    struct Case {
        const char* name;
        const char* type;
        int framing;
    };
    const std::vector<Case> cases = {
        {"a.png", "image/png", 264},         {"a.gif", "image/gif", 264},
        {"a.mp4", "video/mp4", 264},         {"a.jpg", "image/jpeg", 265},
        {"a.jpeg", "image/jpeg", 265},       {"a.mov", "video/quicktime", 270},
        {"A.PNG", "application/octet-stream", 279}, {"noext", "application/octet-stream", 279},
        {"a.png.txt", "application/octet-stream", 279},
    };
    const QByteArray data("\x00\x01\x02png", 6);
    for (const Case& c : cases) {
        const QString name = QString::fromUtf8(c.name);
        EXPECT_EQ(APIClient::contentType(name), c.type) << c.name;
        const QByteArray body = APIClient::multipartBody(data, name, true, boundary);
        EXPECT_EQ(body.size(), data.size() + c.framing + name.toUtf8().size()) << c.name;
    }
    const QByteArray empty = APIClient::multipartBody({}, "e.png", false, boundary);
    EXPECT_EQ(empty, "--" + boundary.toUtf8() +
                         "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"e.png\"\r\n"
                         "Content-Type: image/png\r\n\r\n\r\n--"
                         + boundary.toUtf8() + "\r\nContent-Disposition: form-data; name=\"is_public\"\r\n\r\n0\r\n--"
                         + boundary.toUtf8() + "--\r\n");
    const QString quoted = QStringLiteral("say \"hi\" \\ ü.png");
    EXPECT_TRUE(APIClient::multipartBody("x", quoted, true, boundary).contains("filename=\"" + quoted.toUtf8() + "\"\r\n"));
}

TEST_F(APIClientTest, UploadsAreFormsTheServiceReads)
{
    const QString token = signIn();
    fake.resetRequests();
    struct Case {
        QString name;
        bool isPublic;
        const char* type;
    };
    const std::vector<Case> cases = {
        {"screenshot_1700000000.123.png", true, "image/png"},
        {"video-1700000000.5.mp4", true, "video/mp4"},
        {"A.PNG", false, "application/octet-stream"},
        {"photo.jpeg", true, "image/jpeg"},
        {"say \"hi\" ü.gif", true, "image/gif"},
    };
    QByteArray data;
    for (int i = 0; i < 70000; ++i)
        data.append(static_cast<char>(i * 7));
    data.append("\r\n--not-the-boundary\r\n");
    for (const Case& c : cases) {
        auto answer = upload(data, c.name, c.isPublic);
        ASSERT_TRUE(answer) << c.name.toStdString() << ": " << answer.error().localizedDescription().toStdString();
        EXPECT_EQ(answer->file.fileName, c.name);
        EXPECT_EQ(answer->file.isPublic, c.isPublic);
        EXPECT_TRUE(answer->url.value_or("").startsWith(fake.root() + "/f/"));
    }
    const auto requests = fake.requests();
    ASSERT_EQ(requests.size(), 2 * cases.size());
    const QRegularExpression boundary("^multipart/form-data; boundary=[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$");
    QStringList boundaries;
    for (size_t i = 0; i < cases.size(); ++i) {
        // The CSRF request goes before every upload, even with the cookie stored.
        EXPECT_EQ(requests[2 * i].path, "/sanctum/csrf-cookie");
        const RecordedRequest& r = requests[2 * i + 1];
        EXPECT_EQ(r.path, "/api/v1/files");
        EXPECT_EQ(r.header("Authorization"), "Bearer " + token);
        EXPECT_EQ(r.header("X-XSRF-TOKEN"), kCsrfToken);
        EXPECT_EQ(r.header("Accept"), "application/json");
        EXPECT_FALSE(r.header("X-Requested-With"));
        const QString contentType = r.header("Content-Type").value_or("");
        EXPECT_TRUE(boundary.match(contentType).hasMatch()) << contentType.toStdString();
        boundaries << contentType;
        ASSERT_TRUE(r.multipart.is_object()) << "the fake could not read the form";
        EXPECT_EQ(QByteArray::fromBase64(QByteArray::fromStdString(r.multipart["filename"].get<std::string>())),
                  cases[i].name.toUtf8());
        EXPECT_EQ(r.multipart["content_type"], cases[i].type);
        EXPECT_EQ(r.multipart["is_public"], cases[i].isPublic ? "1" : "0");
        EXPECT_EQ(r.multipart["size"], data.size());
        EXPECT_EQ(r.multipart["sha256"],
                  QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().toStdString());
    }
    boundaries.removeDuplicates();
    EXPECT_EQ(boundaries.size(), static_cast<qsizetype>(cases.size())) << "a new boundary for every upload";

    auto empty = upload({}, "empty.png");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->file.fileSize, 0);
}

TEST_F(APIClientTest, UploadLogLinesKeepTheTokenOut)
{
    const QString token = signIn();
    LogMark mark;
    auto answer = upload("abc", "a.png");
    ASSERT_TRUE(answer);
    const QStringList m = mark.messages();
    ASSERT_GE(m.size(), 8);
    EXPECT_EQ(m[0], "uploadFile: APIClient: Uploading file to POST /files");
    EXPECT_EQ(m[1], "uploadFile: APIClient: File size: 3 bytes, fileName: a.png");
    EXPECT_EQ(m[2], QStringLiteral("uploadFile: APIClient: Body size: %1 bytes").arg(3 + 264 + 5));
    EXPECT_EQ(m[3], QStringLiteral("uploadFile: APIClient: Auth token present: <hidden, %1 characters>").arg(token.size()));
    EXPECT_EQ(m[4], "uploadFile: APIClient: Response status: 201");
    EXPECT_TRUE(m[5].startsWith("uploadFile: APIClient: Response data size: "));
    EXPECT_TRUE(m[6].startsWith("uploadFile: APIClient: Response body: {\"file\": {"));
    EXPECT_EQ(m[7], QStringLiteral("uploadFile: APIClient: Upload successful, file ID: %1").arg(answer->file.id));
    EXPECT_FALSE(mark.lines().join('\n').contains(token));
}

TEST_F(APIClientTest, UploadFailures)
{
    // No token: no Authorization field; the service's 401 leaves the token absent.
    LogMark mark;
    auto anonymous = upload("abc", "a.png");
    ASSERT_FALSE(anonymous);
    EXPECT_TRUE(anonymous.error().is(APIClientError::Case::unauthorized));
    EXPECT_FALSE(fake.requests().back().header("Authorization"));
    EXPECT_FALSE(client->authToken());
    EXPECT_EQ(mark.messages().last(), "uploadFile: ERROR: HTTP 401 POST /files: Unauthorized");

    signIn();
    using Case = ErrorCase<QStringList>; // log: the last messages of the upload
    const std::string page = "<html>Too Large</html>";
    const std::vector<Case> cases = {
        {"413 web page", 413, page, "text/html",
         [](const CloudError& e) { EXPECT_EQ(e.localizedDescription(), "HTTP Error: 413"); },
         {"uploadFile: ERROR: HTTP 413 POST /files: <html>Too Large</html>"}},
        {"422 service error", 422, R"({"message":"The file field is required."})", "application/json",
         [](const CloudError& e) {
             ASSERT_TRUE(e.apiError());
             EXPECT_EQ(e.localizedDescription(), "The file field is required.");
         },
         {"uploadFile: ERROR: HTTP 422 POST /files: {\"message\":\"The file field is required.\"}"}},
        {"200 without a file", 200, R"({"url":"x"})", "application/json",
         [](const CloudError& e) { EXPECT_TRUE(e.is(APIClientError::Case::decodingError)); },
         {"uploadFile: ERROR: APIClient: Raw response: {\"url\":\"x\"}"}},
    };
    for (const Case& c : cases) {
        fake.rule("POST", "/api/v1/files", c.status, c.body, 1, 0, c.contentType);
        LogMark m;
        auto answer = upload("abc", "a.png");
        ASSERT_FALSE(answer) << c.name;
        c.check(answer.error());
        EXPECT_EQ(m.messages().mid(m.messages().size() - c.log.size()), c.log) << c.name;
        EXPECT_TRUE(client->authToken()) << c.name;
    }

    // The CSRF request fails in transport: the upload is not attempted.
    fake.resetRequests();
    fake.rule("GET", "/sanctum/csrf-cookie", 204, std::string(), 1, 3.0);
    client->setTimeoutsForTesting(300ms, 20s);
    auto unsent = upload("abc", "a.png");
    ASSERT_FALSE(unsent);
    ASSERT_TRUE(unsent.error().transportError());
    test::spin(200ms);
    EXPECT_EQ(fake.requestLines(), QStringList{"GET /sanctum/csrf-cookie"});
}

TEST_F(APIClientTest, CredentialsFollowNoRedirectToAnotherOrigin)
{
    // Another port of 127.0.0.1 is another origin, as another host would be.
    CloudFake other;
    ASSERT_TRUE(other.running()) << "the second cloud fake did not start";
    const QString token = signIn();
    struct Case {
        const char* operation; // of failureOf
        const char* method;
        const char* path;
        int status;
    };
    // The CSRF request before an upload carries no header of the account, but the session and
    // XSRF cookies: the jar does not tell ports apart, so they would go to the other port.
    for (const Case& c : {Case{"GET", "GET", "/api/v1/auth/me", 302}, Case{"GET", "GET", "/api/v1/auth/me", 307},
                          Case{"POST", "POST", "/api/v1/files", 302}, Case{"POST", "POST", "/api/v1/files", 307},
                          Case{"POST", "GET", "/sanctum/csrf-cookie", 302}, Case{"POST", "GET", "/sanctum/csrf-cookie", 307}}) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path + " " + std::to_string(c.status));
        fake.addRule({{"method", c.method}, {"path", c.path}, {"status", c.status}, {"body", ""},
                      {"headers", {{"Location", other.root().toStdString() + c.path}}}});
        other.resetRequests();
        const std::optional<CloudError> error = failureOf(c.operation);
        ASSERT_TRUE(error);
        ASSERT_TRUE(error->transportError()) << error->debugDescription().toStdString();
        EXPECT_EQ(error->transportError()->code, TransportError::Code::redirectRefused);
        EXPECT_TRUE(error->localizedDescription().contains(other.root())) << error->localizedDescription().toStdString();
        EXPECT_TRUE(other.requests().empty()) << "the other origin was sent a request";
        EXPECT_EQ(client->authToken(), token);
    }

    // Within the service's own origin a redirect is followed, headers and all.
    fake.addRule({{"method", "GET"}, {"path", "/api/v1/auth/me"}, {"status", 307}, {"body", ""},
                  {"headers", {{"Location", fake.root().toStdString() + "/api/v1/auth/me?again=1"}}}});
    fake.resetRequests();
    ASSERT_TRUE(currentUser());
    const auto requests = fake.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].header("Authorization"), "Bearer " + token);
}

TEST_F(APIClientTest, AnswersAreReadUpToALimit)
{
    signIn();
    // A valid account record just under the limit is read; one just over it is not.
    fake.configure({{"user", {{"padding", std::string(1000 * 1000, 'a')}}}});
    EXPECT_TRUE(currentUser());
    fake.configure({{"user", {{"padding", std::string(APIClient::maxAnswerBytes, 'a')}}}});
    auto big = currentUser();
    ASSERT_FALSE(big);
    EXPECT_TRUE(big.error().is(APIClientError::Case::responseTooLarge));
    EXPECT_EQ(big.error().localizedDescription(), "The server's answer is larger than 1 MiB; it was not read.");
    fake.configure({{"user", json::object()}});

    // 50 MB answers: the request fails at once, the log grows by a few KiB, and the client hangs up
    // long before the server has sent it all.
    const std::string chunk = "<p>" + std::string(1021, 'x');
    const int repeat = 50 * 1024;
    struct Case {
        const char* name;
        const char* method;
        const char* path;
        int status;
        bool declared; // with a Content-Length
        std::function<void(const CloudError&)> check;
    };
    const auto httpError = [](const CloudError& e) { EXPECT_EQ(e.localizedDescription(), "HTTP Error: 500"); };
    const auto tooLarge = [](const CloudError& e) { EXPECT_TRUE(e.is(APIClientError::Case::responseTooLarge)); };
    const std::vector<Case> cases{
        {"error page of a JSON request", "GET", "/api/v1/auth/me", 500, true, httpError},
        {"error page without a length", "GET", "/api/v1/auth/me", 500, false, httpError},
        {"error page of an upload", "POST", "/api/v1/files", 500, true, httpError},
        {"success of an upload without a length", "POST", "/api/v1/files", 201, false, tooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.resetRequests();
        fake.addRule({{"method", c.method}, {"path", c.path}, {"status", c.status}, {"body", chunk}, {"repeat", repeat},
                      {"length", c.declared}, {"content_type", "text/html"}});
        LogMark mark;
        const auto started = std::chrono::steady_clock::now();
        const std::optional<CloudError> error = failureOf(c.method);
        ASSERT_TRUE(error);
        c.check(*error);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
        const QStringList lines = mark.lines();
        qsizetype total = 0;
        for (const QString& line : lines) {
            total += line.toUtf8().size();
            EXPECT_LE(line.size(), APIClient::maxLoggedAnswerBytes + 200) << line.left(200).toStdString();
        }
        EXPECT_LT(total, 16 * 1024);
        EXPECT_TRUE(lines.join('\n').contains(c.declared ? QStringLiteral("[cut: the first 3072 of 52428800 bytes]")
                                                         : QStringLiteral("[cut: the first 3072 of more than 1048576 bytes]")))
            << lines.join('\n').left(600).toStdString();
        std::optional<qint64> sent;
        test::waitUntil([&] {
            for (const auto& r : fake.requests())
                if (r.path == c.path && r.sent)
                    sent = r.sent;
            return sent.has_value();
        }, 5s);
        ASSERT_TRUE(sent);
        EXPECT_LT(*sent, 25 * 1024 * 1024) << "the answer was read to its end";
    }
}

TEST_F(APIClientTest, SuccessfulUploadLogsItsAnswerCut)
{
    signIn();
    const std::string message(10000, 'm');
    const json answer = {{"file",
                          {{"id", 7}, {"user_id", 1}, {"file_name", "a.png"}, {"original_name", "a.png"},
                           {"mime_type", "image/png"}, {"file_size", 3}, {"storage_provider", "local"},
                           {"storage_path", "uploads/f7"}, {"is_public", true}, {"slug", "f7"},
                           {"public_url", "http://127.0.0.1/f/f7"}, {"created_at", "2024-01-01T00:00:00.000000Z"},
                           {"updated_at", "2024-01-01T00:00:00.000000Z"}}},
                         {"url", "http://127.0.0.1/f/f7"},
                         {"message", message}};
    fake.rule("POST", "/api/v1/files", 201, answer);
    LogMark mark;
    auto result = upload("abc", "a.png");
    ASSERT_TRUE(result) << result.error().debugDescription().toStdString();
    EXPECT_EQ(result->file.id, 7);
    const QStringList m = mark.messages();
    const QString size = QString::number(answer.dump().size());
    EXPECT_TRUE(m.contains("uploadFile: APIClient: Response data size: " + size + " bytes")) << m.join('\n').left(800).toStdString();
    const auto body = std::find_if(m.begin(), m.end(), [](const QString& line) { return line.startsWith("uploadFile: APIClient: Response body: "); });
    ASSERT_NE(body, m.end());
    EXPECT_TRUE(body->endsWith(" [cut: the first 3072 of " + size + " bytes]")) << body->right(100).toStdString();
    EXPECT_LE(body->size(), APIClient::maxLoggedAnswerBytes + 100);
}
