// The credentials cache over a keychain that takes its time, as the Secret Service does: the
// launch's read answers in the background, and a write waits in a nested event loop whose events
// may change the credentials again.
#include "app/AppState.h"
#include "cloud/APIClient.h"
#include "cloud/AuthManager.h"
#include "cloud/CloudTestSupport.h"
#include "platform/InMemoryKeychain.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

namespace {

const QString kAccount = "kestrova_credentials";

// Reads answer after `readDelay` (off the GUI thread, where the launch reads); each write waits
// in a nested event loop, as the Secret Service backend does on the GUI thread, and runs `duringWrite`
// from there once.
class SlowKeychain : public platform::InMemoryKeychain {
public:
    platform::KeychainLookup lookup(const QString& service, const QString& account) override
    {
        ++reads;
        std::this_thread::sleep_for(readDelay.load());
        return InMemoryKeychain::lookup(service, account);
    }
    platform::KeychainStatus update(const QString& service, const QString& account, const QByteArray& data,
                                    QString* errorText) override
    {
        waitNested();
        return InMemoryKeychain::update(service, account, data, errorText);
    }
    platform::KeychainStatus add(const QString& service, const QString& account, const QByteArray& data,
                                 const QString& label, const QString& description, QString* errorText) override
    {
        waitNested();
        return InMemoryKeychain::add(service, account, data, label, description, errorText);
    }
    bool mayBlock() const override { return true; }

    std::atomic<std::chrono::milliseconds> readDelay{0ms};
    std::atomic<int> reads{0};
    std::function<void()> duringWrite;

private:
    void waitNested()
    {
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        if (auto during = std::exchange(duringWrite, {}))
            QTimer::singleShot(0, &loop, during);
        loop.exec();
    }
};

class CredentialsCacheTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile::remove(platform::UserDefaults::standardFilePath());
        keychain = std::make_shared<SlowKeychain>();
        platform::KeychainBackend::setCurrent(keychain);
        AppState::resetCredentialsForTesting();
    }
    void TearDown() override
    {
        platform::KeychainBackend::setCurrent(std::make_shared<platform::InMemoryKeychain>());
        AppState::resetCredentialsForTesting();
        AppState::loadCredentials();
    }
    void putRecord(const SecureCredentials& record)
    {
        keychain->putItem("Kestrova", kAccount, {record.toJson(), "label", "description"});
    }
    std::optional<SecureCredentials> storedRecord() const
    {
        auto item = keychain->item("Kestrova", kAccount);
        return item ? SecureCredentials::fromJson(item->data) : std::nullopt;
    }
    std::shared_ptr<SlowKeychain> keychain;
};

} // namespace

TEST_F(CredentialsCacheTest, TheLaunchReadAnswersInTheBackgroundAndKeepsTheChangesMadeMeanwhile)
{
    SecureCredentials stored;
    stored.kestrovaApiToken = "cloud";
    stored.yandexAccessToken = "ya";
    stored.ftpPasswords.insert("u@h", "p");
    putRecord(stored);
    keychain->readDelay = 500ms;

    int announced = 0;
    QObject observer;
    platform::NotificationCenter::defaultCenter().addObserver(AppState::credentialsReadNotification, &observer,
                                                              [&](const platform::Notification&) { ++announced; });
    const auto started = std::chrono::steady_clock::now();
    AppState state;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 300ms) << "the GUI thread does not wait for the read";
    EXPECT_TRUE(AppState::credentialsLoaded());
    EXPECT_EQ(AppState::credentials(), SecureCredentials{}) << "nothing is known before it answers";

    // A change while the read is out: kept, not written over a record nobody has seen yet. A 401
    // clearing the (unknown) token changes nothing.
    AppState::setKestrovaApiToken(std::nullopt);
    EXPECT_FALSE(AppState::updateCredentials([](SecureCredentials& r) { r.yandexRefreshToken = "refresh"; }));
    EXPECT_EQ(keychain->writeCount(), 0);

    ASSERT_TRUE(test::waitUntil([&] { return announced == 1; }, 5s));
    SecureCredentials expected = stored;
    expected.yandexRefreshToken = "refresh";
    EXPECT_EQ(AppState::credentials(), expected);
    EXPECT_EQ(storedRecord(), expected) << "the change kept meanwhile is written onto the stored record";
    EXPECT_EQ(keychain->writeCount(), 1);
    EXPECT_EQ(state.serverSettings().yandexAccessToken, "ya") << "the settings take the secrets read";
    EXPECT_EQ(keychain->reads.load(), 2) << "the launch's read, and the write's look-up";
}

TEST_F(CredentialsCacheTest, AFailedLaunchReadIsLoggedWhenItAnswersAfterTheLaunch)
{
    keychain->setUnavailable(true);
    keychain->readDelay = 300ms;
    AppState state;
    EXPECT_EQ(AppState::takeCredentialsLoadError(), "") << "the launch finds nothing to report yet";
    DebugLogger::shared().flush();
    const qint64 before = QFile(DebugLogger::shared().logFilePath()).size();
    ASSERT_TRUE(test::waitUntil([&] {
        DebugLogger::shared().flush();
        return QFile(DebugLogger::shared().logFilePath()).size() > before;
    }, 5s));
    QFile log(DebugLogger::shared().logFilePath());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    log.seek(before);
    EXPECT_TRUE(log.readAll().contains("Keychain could not be read: the keychain is unavailable"));
}

TEST_F(CredentialsCacheTest, TheAccountChecksTheTokenOnceTheLaunchReadHasAnswered)
{
    cloudtest::CloudFake fake;
    ASSERT_TRUE(fake.running()) << "the cloud fake did not start";
    SecureCredentials stored;
    stored.kestrovaApiToken = "stale-token";
    putRecord(stored);
    keychain->readDelay = 300ms;
    AppState state;
    APIClient client(fake.root());
    AuthManager manager(&client);
    EXPECT_FALSE(client.authToken()) << "nothing read yet";
    ASSERT_TRUE(test::waitUntil([&] { return fake.requestLines().contains("GET /api/v1/auth/me"); }, 5s));
    const auto requests = fake.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Authorization"), "Bearer stale-token");
}

TEST_F(CredentialsCacheTest, AChangeMadeWhileAWriteWaitsIsWrittenAfterIt)
{
    SecureCredentials stored;
    stored.yandexAccessToken = "ya";
    putRecord(stored);
    keychain->readDelay = 0ms;
    AppState::loadCredentials();
    // A sign-in answer arrives while the first write waits for the keychain.
    keychain->duringWrite = [] { AppState::setKestrovaApiToken(QStringLiteral("second")); };
    AppState::setKestrovaApiToken(QStringLiteral("first"));
    ASSERT_FALSE(keychain->duringWrite) << "the nested wait ran the event";
    EXPECT_EQ(AppState::credentials()->kestrovaApiToken, "second");
    ASSERT_TRUE(storedRecord());
    EXPECT_EQ(storedRecord()->kestrovaApiToken, "second") << "the later change is the one stored";
    EXPECT_EQ(storedRecord()->yandexAccessToken, "ya");
}
