#include "cloud/AuthManager.h"

#include "app/AppState.h"
#include "cloud/APIClient.h"
#include "cloud/CloudTestSupport.h"
#include "platform/InMemoryKeychain.h"
#include "support/StdoutTap.h"

#include <QTimer>
#include <QUuid>

#include <gtest/gtest.h>

using namespace cloudtest;
using nlohmann::json;

namespace {

class AuthManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fake.running()) << "the cloud fake did not start";
        keychain = std::make_shared<platform::InMemoryKeychain>();
        platform::KeychainBackend::setCurrent(keychain);
        AppState::resetCredentialsForTesting();
        AppState::loadCredentials();
        client = std::make_unique<APIClient>(fake.root());
        client->setAuthToken(std::nullopt);
    }

    std::unique_ptr<AuthManager> makeManager(std::chrono::milliseconds refresh = std::chrono::minutes(5))
    {
        auto m = std::make_unique<AuthManager>(client.get());
        m->setRefreshIntervalForTesting(refresh);
        return m;
    }

    // Runs one operation of `m` and waits for its end.
    template <typename Start>
    void run(AuthManager& m, Start start)
    {
        bool done = false;
        start(m, [&] { done = true; });
        ASSERT_TRUE(test::waitUntil([&] { return done; }, 15s));
    }

    void login(AuthManager& m, const QString& email = "user@example.com", const QString& password = "secret123")
    {
        run(m, [&](AuthManager& a, auto done) { a.login(email, password, &context, done); });
    }

    int meRequests() { return static_cast<int>(fake.requestLines().count("GET /api/v1/auth/me")); }
    QString storedToken() const { return AppState::credentials().value_or(SecureCredentials{}).kestrovaApiToken; }

    // A new launch: the keychain holds a record with `token`, read into the cache, and a client
    // restores it from there.
    std::unique_ptr<APIClient> launchWithStoredToken(const QString& token, const QString& root)
    {
        SecureCredentials record;
        record.kestrovaApiToken = token;
        record.yandexAccessToken = "ya";
        keychain->putItem("Kestrova", "kestrova_credentials", {record.toJson(), "label", "description"});
        AppState::resetCredentialsForTesting();
        AppState::loadCredentials();
        return std::make_unique<APIClient>(root);
    }
    std::optional<SecureCredentials> keychainRecord() const
    {
        const auto item = keychain->item("Kestrova", "kestrova_credentials");
        return item ? SecureCredentials::fromJson(item->data) : std::nullopt;
    }

    CloudFake fake;
    QObject context;
    std::shared_ptr<platform::InMemoryKeychain> keychain;
    std::unique_ptr<APIClient> client;
};

} // namespace

TEST_F(AuthManagerTest, NoTokenAtCreationMeansNoRequest)
{
    auto m = makeManager();
    test::spin(300ms);
    EXPECT_TRUE(fake.requests().empty());
    EXPECT_FALSE(m->isAuthenticated());
    EXPECT_FALSE(m->isLoading());
    EXPECT_FALSE(m->userRefreshTimer());
    EXPECT_EQ(m->storageInfo(), "Storage: N/A");
}

TEST_F(AuthManagerTest, AnEmptyStoredTokenIsNoToken)
{
    // A signed-out start (the record's token is "") and a fresh one (no item at all).
    for (const bool haveItem : {true, false}) {
        fake.resetRequests();
        auto restored = haveItem ? launchWithStoredToken(QString(), fake.root()) : std::make_unique<APIClient>(fake.root());
        const int writes = keychain->writeCount();
        test::StdoutTap console;
        AuthManager m(restored.get());
        test::spin(300ms);
        EXPECT_TRUE(fake.requests().empty()) << haveItem;
        EXPECT_FALSE(restored->authToken()) << haveItem << ": the client holds no token, not an empty one";
        EXPECT_FALSE(m.isAuthenticated()) << haveItem;
        EXPECT_FALSE(console.lines().join('\n').contains("Auth status check")) << haveItem;
        EXPECT_EQ(keychain->writeCount(), writes) << haveItem << ": a signed-out start writes nothing";
        keychain = std::make_shared<platform::InMemoryKeychain>();
        platform::KeychainBackend::setCurrent(keychain);
        AppState::resetCredentialsForTesting();
        AppState::loadCredentials();
    }
}

TEST_F(AuthManagerTest, OnlyA401ClearsTheStoredTokenAtStart)
{
    quint16 closedPort;
    {
        CloudFake gone(5s);
        closedPort = gone.port();
    }
    const QString offlineRoot = QStringLiteral("http://127.0.0.1:%1").arg(closedPort);
    struct Case {
        const char* name;
        bool offline;
        int status;
        const char* body;
        double delay;
        bool cleared;
    };
    const Case cases[] = {
        {"offline", true, 0, "", 0, false},
        {"time-out", false, 200, R"({"user":{"id":1}})", 3.0, false},
        {"server error", false, 503, "<html><body>Service Unavailable</body></html>", 0, false},
        {"undecodable", false, 200, "<html>not json</html>", 0, false},
        {"refused", false, 401, R"({"message":"Unauthenticated."})", 0, true},
    };
    for (const Case& c : cases) {
        fake.resetRequests();
        if (!c.offline)
            fake.rule("GET", "/api/v1/auth/me", c.status, std::string(c.body), 1, c.delay,
                      c.status == 503 ? "text/html" : "application/json");
        auto restored = launchWithStoredToken(QStringLiteral("stored-token"), c.offline ? offlineRoot : fake.root());
        restored->setTimeoutsForTesting(500ms, 20s);
        ASSERT_EQ(restored->authToken(), QStringLiteral("stored-token")) << c.name;
        const int writes = keychain->writeCount();
        test::StdoutTap console;
        AuthManager m(restored.get());
        ASSERT_TRUE(test::waitUntil([&] { return console.lines().join('\n').contains("AuthManager: Auth status check failed"); }, 15s))
            << c.name;
        EXPECT_FALSE(m.isAuthenticated()) << c.name << ": signed out for this run";
        EXPECT_FALSE(m.currentUser()) << c.name;
        EXPECT_FALSE(m.userRefreshTimer()) << c.name;
        EXPECT_FALSE(m.errorMessage()) << c.name << ": a start check sets no error text";
        EXPECT_FALSE(restored->authToken()) << c.name;
        if (!c.offline) {
            const auto requests = fake.requests();
            ASSERT_EQ(requests.size(), 1u) << c.name;
            EXPECT_EQ(requests[0].header("Authorization"), "Bearer stored-token") << c.name;
        }
        const auto stored = keychainRecord();
        ASSERT_TRUE(stored) << c.name;
        EXPECT_EQ(stored->yandexAccessToken, "ya") << c.name;
        if (c.cleared) {
            EXPECT_TRUE(console.lines().contains("AuthManager: Auth status check failed, token invalid")) << c.name;
            EXPECT_EQ(stored->kestrovaApiToken, QString()) << c.name;
            EXPECT_EQ(storedToken(), QString()) << c.name;
        } else {
            EXPECT_FALSE(console.lines().contains("AuthManager: Auth status check failed, token invalid")) << c.name;
            EXPECT_EQ(stored->kestrovaApiToken, "stored-token") << c.name << ": the next launch checks it again";
            EXPECT_EQ(storedToken(), "stored-token") << c.name;
            EXPECT_EQ(keychain->writeCount(), writes) << c.name;
        }
    }
}

TEST_F(AuthManagerTest, ATokenNeverReadIsNeverCheckedNorCleared)
{
    SecureCredentials record;
    record.kestrovaApiToken = "real";
    record.yandexAccessToken = "ya";
    keychain->putItem("Kestrova", "kestrova_credentials", {record.toJson(), "label", "description"});
    // A keyring outage at launch: the record cannot be read.
    keychain->setUnavailable(true);
    AppState::resetCredentialsForTesting();
    AppState::loadCredentials();
    (void)AppState::takeCredentialsLoadError();
    APIClient restored(fake.root());
    AuthManager m(&restored);
    EXPECT_FALSE(restored.authToken()) << "held: \"" << restored.authToken().value_or("<none>").toStdString() << '"';
    test::spin(300ms);
    EXPECT_EQ(meRequests(), 0) << "no start check of a token that was never read";

    // A refused sign-in answers 401 while no token is held: nothing about the stored one.
    fake.rule("POST", "/api/v1/auth/login", 401, json{{"message", "Unauthenticated."}});
    run(m, [&](AuthManager& a, auto done) { a.login("user@example.com", "wrong", &context, done); });
    EXPECT_FALSE(m.isAuthenticated());

    // The keyring reads again and the next change is written over the stored record.
    keychain->setUnavailable(false);
    EXPECT_TRUE(AppState::updateCredentials([](SecureCredentials& r) { r.ftpPassword = "p"; }));
    const auto stored = keychainRecord();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->kestrovaApiToken, "real");
    EXPECT_EQ(stored->yandexAccessToken, "ya");
    EXPECT_EQ(stored->ftpPassword, "p");
}

TEST_F(AuthManagerTest, StoringTheTokenAlreadyHeldWritesNothing)
{
    const int start = keychain->writeCount();
    AppState::setKestrovaApiToken(std::nullopt);
    EXPECT_EQ(keychain->writeCount(), start) << "clearing an empty token";
    AppState::setKestrovaApiToken(QStringLiteral("t"));
    EXPECT_EQ(keychain->writeCount(), start + 1);
    AppState::setKestrovaApiToken(QStringLiteral("t"));
    EXPECT_EQ(keychain->writeCount(), start + 1) << "the same token again";
    AppState::setKestrovaApiToken(std::nullopt);
    AppState::setKestrovaApiToken(std::nullopt);
    EXPECT_EQ(keychain->writeCount(), start + 2) << "signed out twice";
    EXPECT_EQ(keychainRecord()->kestrovaApiToken, QString());

    // A signed-in user signing out: one write of the empty token.
    auto m = makeManager();
    login(*m);
    const int afterLogin = keychain->writeCount();
    run(*m, [&](AuthManager& a, auto done) { a.logout(&context, done); });
    EXPECT_EQ(keychain->writeCount(), afterLogin + 1);
    EXPECT_EQ(keychainRecord()->kestrovaApiToken, QString());
}

TEST_F(AuthManagerTest, StartCheckOfAValidTokenSignsIn)
{
    {
        auto first = makeManager();
        login(*first);
    }
    ASSERT_TRUE(client->authToken());
    test::StdoutTap console;
    auto m = makeManager();
    ASSERT_TRUE(test::waitUntil([&] { return m->isAuthenticated(); }, 15s));
    ASSERT_TRUE(m->currentUser());
    EXPECT_EQ(m->currentUser()->email, "user@example.com");
    EXPECT_TRUE(m->storageUsage());
    EXPECT_TRUE(m->userRefreshTimer());
    EXPECT_TRUE(console.lines().contains("AuthManager: Auth status check successful for user: user@example.com"));
}

TEST_F(AuthManagerTest, SignInTakesTheUserFromTheAnswerOrAsksForIt)
{
    struct Case {
        const char* shape;
        int meRequests;
    };
    for (const Case& c : {Case{"user", 0}, Case{"token_only", 1}, Case{"data", 0}}) {
        fake.configure({{"login_shape", c.shape}});
        fake.resetRequests();
        client->setAuthToken(std::nullopt);
        auto m = makeManager();
        bool userWasThere = false;
        QObject::connect(m.get(), &AuthManager::isAuthenticatedChanged, m.get(),
                         [&] { userWasThere = m->isAuthenticated() && m->currentUser().has_value(); });
        test::StdoutTap console;
        login(*m);
        EXPECT_TRUE(m->isAuthenticated()) << c.shape;
        EXPECT_TRUE(userWasThere) << c.shape << ": the record is in place when the state turns signed in";
        EXPECT_EQ(m->currentUser()->name, "Test User") << c.shape;
        EXPECT_FALSE(m->isLoading());
        EXPECT_FALSE(m->errorMessage());
        EXPECT_EQ(meRequests(), c.meRequests) << c.shape;
        EXPECT_EQ(m->storageInfo(), "Storage: 0.50 / 1.00 GB (50%)");
        EXPECT_TRUE(console.lines().contains("AuthManager: Login successful for user: user@example.com")) << c.shape;
    }
}

TEST_F(AuthManagerTest, RefusedSignInShowsTheServiceMessage)
{
    auto m = makeManager();
    bool done = false;
    test::StdoutTap console;
    m->login("user@example.com", "wrong", &context, [&] { done = true; });
    EXPECT_TRUE(m->isLoading());
    ASSERT_TRUE(test::waitUntil([&] { return done; }, 15s));
    EXPECT_EQ(m->errorMessage(), "The provided credentials are incorrect.\nThese credentials do not match our records.");
    EXPECT_FALSE(m->isLoading());
    EXPECT_FALSE(m->isAuthenticated());
    EXPECT_TRUE(console.lines().contains("AuthManager: Login failed - The provided credentials are incorrect."));

    // The next attempt clears the text when it starts.
    m->login("user@example.com", "secret123", &context, [] {});
    EXPECT_FALSE(m->errorMessage());
    ASSERT_TRUE(test::waitUntil([&] { return m->isAuthenticated(); }, 15s));
}

TEST_F(AuthManagerTest, SignInAndSignUpFailuresGetTheirPrefix)
{
    quint16 port;
    {
        CloudFake gone(5s);
        port = gone.port();
    }
    APIClient offline(QStringLiteral("http://127.0.0.1:%1").arg(port));
    offline.setAuthToken(std::nullopt);
    AuthManager away(&offline);
    test::StdoutTap console;
    run(away, [&](AuthManager& a, auto done) { a.login("a@b", "p", &context, done); });
    EXPECT_EQ(away.errorMessage(), "Login failed: Could not connect to the server.");
    EXPECT_TRUE(console.lines().contains("AuthManager: Login failed - Could not connect to the server."));

    fake.configure({{"csrf", {{"set_cookie", false}}}});
    auto m = makeManager();
    run(*m, [&](AuthManager& a, auto done) { a.registerAccount("A", "a@b.c", "12345678", "12345678", &context, done); });
    EXPECT_EQ(m->errorMessage(), "Registration failed: Unable to obtain CSRF token from the server");
    EXPECT_TRUE(console.lines().contains("AuthManager: Registration failed - Unable to obtain CSRF token from the server"));
    EXPECT_FALSE(m->isLoading());

    // A sign-in whose follow-up user request fails leaves the token stored and the account signed out.
    fake.configure({{"csrf", {{"set_cookie", true}}}, {"login_shape", "token_only"}});
    fake.rule("GET", "/api/v1/auth/me", 500, std::string("<html>oops</html>"), 1, 0, "text/html");
    login(*m);
    EXPECT_EQ(m->errorMessage(), "Login failed: HTTP Error: 500");
    EXPECT_FALSE(m->isAuthenticated());
    EXPECT_TRUE(client->authToken());
}

TEST_F(AuthManagerTest, AnErrorPageThatEchoesTheFormKeepsThePasswordOutOfTheLog)
{
    // A framework's debug page shows the request it failed on, the password with it.
    const QString password = "pw-" + QUuid::createUuid().toString(QUuid::Id128);
    const std::string page = "<html><body><h1>Server Error</h1><pre>{{request}}</pre></body></html>";
    const std::string validation = R"({"message":"The given data was invalid.","input":{{request}}})";
    struct Case {
        const char* name;
        const char* path;
        int status;
        std::string body;
        const char* contentType;
        QString shown; // the account's error text
        QString logged; // the request's log message
    };
    const std::vector<Case> cases = {
        {"sign-in, web page", "/api/v1/auth/login", 500, page, "text/html", "Login failed: HTTP Error: 500",
         "request: ERROR: HTTP 500 POST /auth/login: <%1 bytes not shown: the request carried a password>"},
        {"sign-in, service error", "/api/v1/auth/login", 422, validation, "application/json",
         "The given data was invalid.", "request: ERROR: HTTP 422 POST /auth/login: The given data was invalid."},
        {"sign-up, web page", "/api/v1/auth/register", 500, page, "text/html", "Registration failed: HTTP Error: 500",
         "request: ERROR: HTTP 500 POST /auth/register: <%1 bytes not shown: the request carried a password>"},
        {"sign-up, service error", "/api/v1/auth/register", 422, validation, "application/json",
         "The given data was invalid.", "request: ERROR: HTTP 422 POST /auth/register: The given data was invalid."},
        // A database error passed on as the service's own message.
        {"sign-in, service error that repeats the password", "/api/v1/auth/login", 500,
         "{\"message\":\"insert into users values (user@example.com, " + password.toStdString() + ")\"}", "application/json",
         "insert into users values (user@example.com, ••••••••)",
         "request: ERROR: HTTP 500 POST /auth/login: insert into users values (user@example.com, ••••••••)"},
        {"sign-up, field error that repeats the password", "/api/v1/auth/register", 422,
         "{\"message\":\"Invalid.\",\"errors\":{\"password\":[\"" + password.toStdString() + " is too common\"]}}", "application/json",
         "Invalid.\n•••••••• is too common", "request: ERROR: HTTP 422 POST /auth/register: Invalid."},
        // A message the length of a page: the user, the console and the log get its start.
        {"sign-in, a service message of 200 KB", "/api/v1/auth/login", 500,
         "{\"message\":\"" + std::string(200000, 'x') + "\"}", "application/json", QString(200, 'x') + "…",
         "request: ERROR: HTTP 500 POST /auth/login: " + QString(200, 'x') + "…"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.resetRequests();
        fake.addRule({{"method", "POST"}, {"path", c.path}, {"status", c.status}, {"body", c.body}, {"echo", true},
                      {"content_type", c.contentType}});
        auto m = makeManager();
        LogMark mark;
        QString printed;
        {
            test::StdoutTap console; // holds the test's own failure messages too while it lives
            if (QString(c.path).endsWith("login"))
                run(*m, [&](AuthManager& a, auto done) { a.login("user@example.com", password, &context, done); });
            else
                run(*m, [&](AuthManager& a, auto done) { a.registerAccount("A", "a@b.c", password, password, &context, done); });
            printed = console.text();
        }
        EXPECT_EQ(m->errorMessage(), c.shown);

        // The fake did echo it; the log and the console hold neither the password nor the page.
        const auto requests = fake.requests();
        ASSERT_FALSE(requests.empty());
        ASSERT_TRUE(requests.back().body.contains(password.toUtf8()));
        const QStringList messages = mark.messages();
        EXPECT_FALSE(mark.lines().join('\n').contains(password)) << mark.lines().join('\n').toStdString();
        EXPECT_FALSE(printed.contains(password)) << printed.toStdString();
        const qsizetype echoed = QByteArray::fromStdString(c.body).replace("{{request}}", requests.back().body).size();
        const QString logged = c.logged.contains("%1") ? c.logged.arg(echoed) : c.logged;
        EXPECT_TRUE(messages.contains(logged)) << messages.join('\n').toStdString();
    }
}

TEST_F(AuthManagerTest, SignUpSignsIn)
{
    auto m = makeManager();
    test::StdoutTap console;
    run(*m, [&](AuthManager& a, auto done) {
        a.registerAccount("New", "new@example.com", "password1", "password1", &context, done);
    });
    EXPECT_TRUE(m->isAuthenticated());
    EXPECT_EQ(m->currentUser()->email, "new@example.com");
    EXPECT_TRUE(client->authToken());
    EXPECT_EQ(storedToken(), *client->authToken());
    EXPECT_TRUE(console.lines().contains("AuthManager: Registration successful for user: new@example.com"));

    auto other = makeManager();
    run(*other, [&](AuthManager& a, auto done) {
        a.registerAccount("New", "new@example.com", "password1", "password1", &context, done);
    });
    EXPECT_EQ(other->errorMessage(), "The email has already been taken.\nThe email has already been taken.");
}

TEST_F(AuthManagerTest, OneRefreshTimerAtATimeAndNoneAfterSignOut)
{
    auto m = makeManager(250ms);
    login(*m);
    QPointer<QTimer> first = m->userRefreshTimer();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->interval(), 250);
    login(*m);
    QPointer<QTimer> second = m->userRefreshTimer();
    test::spin(50ms);
    EXPECT_FALSE(first) << "the second sign-in replaced the first timer";
    ASSERT_TRUE(second);
    EXPECT_EQ(m->findChildren<QTimer*>().size(), 1);

    // The timer refreshes the account and its storage summary.
    fake.configure({{"user", {{"name", "Renamed"}, {"usage", {{"used_bytes", 0}, {"total_bytes", 1073741824}}}}}});
    ASSERT_TRUE(test::waitUntil([&] { return m->currentUser()->name == "Renamed"; }, 5s));
    EXPECT_EQ(m->storageInfo(), "Storage: 0.00 / 1.00 GB (0%)");

    test::StdoutTap console;
    run(*m, [&](AuthManager& a, auto done) { a.logout(&context, done); });
    EXPECT_TRUE(console.lines().contains("AuthManager: Logout successful"));
    EXPECT_FALSE(m->isAuthenticated());
    EXPECT_FALSE(m->isLoading());
    EXPECT_FALSE(m->currentUser());
    EXPECT_FALSE(m->storageUsage());
    EXPECT_FALSE(m->errorMessage());
    EXPECT_FALSE(m->userRefreshTimer());
    EXPECT_FALSE(client->authToken());
    fake.resetRequests();
    test::spin(700ms);
    EXPECT_EQ(meRequests(), 0) << "no timer fires after sign-out";
}

TEST_F(AuthManagerTest, RefreshOutcomes)
{
    auto m = makeManager();
    run(*m, [&](AuthManager& a, auto done) { a.refreshUser(&context, done); });
    EXPECT_TRUE(fake.requests().empty()) << "no request while signed out";

    login(*m);
    // Another failure keeps the account and its record.
    fake.rule("GET", "/api/v1/auth/me", 500, std::string("<html/>"), 1, 0, "text/html");
    test::StdoutTap console;
    run(*m, [&](AuthManager& a, auto done) { a.refreshUser(&context, done); });
    EXPECT_TRUE(m->isAuthenticated());
    EXPECT_TRUE(m->currentUser());
    EXPECT_TRUE(console.lines().contains("AuthManager: Failed to refresh user data - HTTP Error: 500"));

    // A record without usage leaves no summary, though signed in.
    fake.configure({{"user", {{"usage", nullptr}}}});
    run(*m, [&](AuthManager& a, auto done) { a.refreshUser(&context, done); });
    EXPECT_TRUE(console.lines().contains("AuthManager: User data refreshed"));
    EXPECT_FALSE(m->storageUsage());
    EXPECT_EQ(m->storageInfo(), "Storage: N/A");

    // An unauthorized answer signs out.
    fake.rule("GET", "/api/v1/auth/me", 401, json{{"message", "Unauthenticated."}});
    run(*m, [&](AuthManager& a, auto done) { a.refreshUser(&context, done); });
    EXPECT_FALSE(m->isAuthenticated());
    EXPECT_FALSE(m->currentUser());
    EXPECT_FALSE(client->authToken());
    EXPECT_FALSE(m->userRefreshTimer());
}

TEST_F(AuthManagerTest, StorageInfoText)
{
    struct Case {
        json usage;
        const char* text;
    };
    const std::vector<Case> cases = {
        {{{"used_bytes", 536870912}, {"total_bytes", 1073741824}}, "Storage: 0.50 / 1.00 GB (50%)"},
        {{{"used_bytes", 100}, {"total_bytes", 0}}, "Storage: 0.00 / 0.00 GB (0%)"},
        {{{"used_bytes", 1073741824LL * 3}, {"total_bytes", 1073741824LL * 2}}, "Storage: 3.00 / 2.00 GB (150%)"},
        {{{"used_bytes", 10737418}, {"total_bytes", 10737418240LL}}, "Storage: 0.01 / 10.00 GB (0%)"},
    };
    auto m = makeManager();
    login(*m);
    for (const Case& c : cases) {
        fake.configure({{"user", {{"usage", c.usage}, {"plan", nullptr}}}});
        run(*m, [&](AuthManager& a, auto done) { a.refreshUser(&context, done); });
        EXPECT_EQ(m->storageInfo(), c.text) << c.usage.dump();
    }
}

TEST_F(AuthManagerTest, LateRefreshAfterSignOutIsDropped)
{
    auto m = makeManager();
    login(*m);
    fake.rule("GET", "/api/v1/auth/me", 200,
              json{{"user", {{"id", 9}, {"name", "Stale"}, {"email", "stale@example.com"}, {"usage", json::object()}}}}, 1,
              0.6);
    bool refreshed = false;
    m->refreshUser(&context, [&] { refreshed = true; });
    test::spin(100ms);
    run(*m, [&](AuthManager& a, auto done) { a.logout(&context, done); });
    ASSERT_TRUE(test::waitUntil([&] { return refreshed; }, 15s));
    EXPECT_FALSE(m->currentUser());
    EXPECT_FALSE(m->storageUsage());
    EXPECT_FALSE(m->isAuthenticated());
}

TEST_F(AuthManagerTest, LateStartCheckFailureKeepsANewSignIn)
{
    client->setAuthToken(QStringLiteral("stale"));
    fake.rule("GET", "/api/v1/auth/me", 401, json{{"message", "Unauthenticated."}}, 1, 0.8);
    auto m = makeManager();
    test::spin(100ms); // the check is out now
    login(*m);
    ASSERT_TRUE(m->isAuthenticated());
    const auto token = client->authToken();
    ASSERT_TRUE(test::waitUntil([&] { return meRequests() == 1; }, 5s));
    test::spin(1200ms);
    EXPECT_TRUE(m->isAuthenticated());
    EXPECT_EQ(client->authToken(), token);
    EXPECT_EQ(storedToken(), *token);
}
