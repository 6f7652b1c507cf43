#include "app/AppState.h"

#include "app/DebugLogger.h"
#include "app/KeychainService.h"
#include "platform/InMemoryKeychain.h"
#include "platform/UserDefaults.h"

#include <QFile>

#include <gtest/gtest.h>

#include <thread>

namespace {

const QString kAccount = "kestrova_credentials";

class AppStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile::remove(platform::UserDefaults::standardFilePath());
        keychain = std::make_shared<platform::InMemoryKeychain>();
        platform::KeychainBackend::setCurrent(keychain);
        AppState::resetCredentialsForTesting();
    }
    void store(const QString& key, const QString& value)
    {
        auto defaults = platform::UserDefaults::standard();
        defaults.setString(key, value);
        defaults.sync();
    }
    void putRecord(const QByteArray& json)
    {
        keychain->putItem("Kestrova", kAccount, {json, "label", "description"});
    }
    std::optional<SecureCredentials> storedRecord()
    {
        auto item = keychain->item("Kestrova", kAccount);
        return item ? SecureCredentials::fromJson(item->data) : std::nullopt;
    }
    std::shared_ptr<platform::InMemoryKeychain> keychain;
};

} // namespace

TEST_F(AppStateTest, FreshInstallation)
{
    AppState state;
    const ServerSettings& s = state.serverSettings();
    EXPECT_EQ(s, ServerSettings{});
    EXPECT_EQ(s.uploadProvider, UploadProvider::kestrovaCloud);
    EXPECT_EQ(s.ftpPort, 21);
    EXPECT_EQ(s.yandexFolder, "app:/");
    EXPECT_EQ(s.dropboxFolder, "/Screenshots");
    EXPECT_EQ(s.webdavDirectory, "/screenshots");
    EXPECT_TRUE(s.screenshotHotkey.isEmpty() && s.fullScreenHotkey.isEmpty() && s.screenRecordingHotkey.isEmpty());
    EXPECT_EQ(AppState::credentials(), SecureCredentials{});
    EXPECT_EQ(keychain->writeCount(), 0);
}

TEST_F(AppStateTest, PortTable)
{
    const struct {
        const char* stored;
        int port;
    } cases[] = {{nullptr, 21}, {"0", 21}, {"abc", 21}, {"2121", 2121}, {"22", 22}, {"-5", 21}, {"", 21}};
    for (const auto& c : cases) {
        QFile::remove(platform::UserDefaults::standardFilePath());
        if (c.stored)
            store("ftpPort", c.stored);
        AppState state;
        EXPECT_EQ(state.serverSettings().ftpPort, c.port) << (c.stored ? c.stored : "absent");
    }
}

TEST_F(AppStateTest, ProvidersAndTexts)
{
    store("uploadProvider", "ftp");
    store("lastUsedUploadProvider", "yandex");
    store("yandexFolder", "");
    store("ftpDirectory", "/var/www/shots");
    store("useSFTP", "true");
    store("screenRecordingHotkey", "cmd+shift+5");
    AppState state;
    const ServerSettings& s = state.serverSettings();
    EXPECT_EQ(s.uploadProvider, UploadProvider::kestrovaCloud); // unknown id ignored
    EXPECT_EQ(s.lastUsedUploadProvider, UploadProvider::yandexDisk);
    EXPECT_EQ(s.yandexFolder, ""); // a stored empty text stays empty
    EXPECT_EQ(s.ftpDirectory, "/var/www/shots");
    EXPECT_TRUE(s.useSFTP);
    EXPECT_FALSE(s.useFTPS);
    EXPECT_EQ(s.screenRecordingHotkey, "cmd+shift+5");
}

TEST_F(AppStateTest, PasswordIsFoundOnlyForTheExactUserAtHost)
{
    SecureCredentials record;
    record.yandexAccessToken = "ya";
    record.ftpPasswords.insert("alice@example.org", "s3cret");
    putRecord(record.toJson());
    const struct {
        const char* user;
        const char* host;
        const char* password;
    } cases[] = {{"alice", "example.org", "s3cret"}, {"Alice", "example.org", ""}, {"alice", "example.org.", ""},
                 {"alice", "", ""}};
    for (const auto& c : cases) {
        store("ftpUsername", c.user);
        store("ftpHost", c.host);
        AppState state;
        EXPECT_EQ(state.serverSettings().ftpPassword, c.password) << c.user << "@" << c.host;
        EXPECT_EQ(state.serverSettings().yandexAccessToken, "ya");
    }
}

TEST_F(AppStateTest, SecondAppStateDoesNotReadTheKeychainAgain)
{
    AppState first;
    SecureCredentials changed;
    changed.kestrovaApiToken = "later";
    putRecord(changed.toJson());
    AppState second;
    EXPECT_EQ(AppState::credentials()->kestrovaApiToken, "");
}

TEST_F(AppStateTest, UndecodableRecordBecomesTheEmptyRecordAndIsBackedUpByteForByteBeforeOverwrite)
{
    const struct {
        const char* name;
        QByteArray stored;
    } cases[] = {
        {"lacks a key", R"({"ftpPassword":"","yandexAccessToken":"tok","yandexRefreshToken":"","kestrovaApiToken":"k"})"},
        {"not UTF-8", QByteArray("{\"kestrovaApiToken\":\"\xff\xfe\xc3\"}")},
        {"not JSON", QByteArray("\x00\x01garbage", 9)},
    };
    for (const auto& c : cases) {
        SetUp();
        putRecord(c.stored);
        AppState state;
        EXPECT_EQ(AppState::credentials(), SecureCredentials{}) << c.name;
        AppState::setKestrovaApiToken(QStringLiteral("new"));
        ASSERT_TRUE(keychain->item("Kestrova", kAccount + ".bak")) << c.name;
        EXPECT_EQ(keychain->item("Kestrova", kAccount + ".bak")->data, c.stored) << c.name;
        EXPECT_EQ(storedRecord()->kestrovaApiToken, "new") << c.name;
    }
}

TEST_F(AppStateTest, SignOutStoresEmptyTokenAndKeepsTheRest)
{
    SecureCredentials record;
    record.kestrovaApiToken = "k";
    record.yandexRefreshToken = "r";
    record.ftpPasswords.insert("u@h", "p");
    putRecord(record.toJson());
    AppState state;
    AppState::setKestrovaApiToken(std::nullopt);
    record.kestrovaApiToken = "";
    EXPECT_EQ(storedRecord(), record);
    EXPECT_EQ(keychain->item("Kestrova", kAccount)->label, "label"); // updated, not re-created
    EXPECT_FALSE(keychain->item("Kestrova", kAccount + ".bak"));
}

TEST_F(AppStateTest, FirstSaveCreatesTheItemWithLabelAndDescription)
{
    AppState state;
    AppState::setKestrovaApiToken(QStringLiteral("k"));
    auto item = keychain->item("Kestrova", kAccount);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->label, "Kestrova - настройки и токены авторизации");
    EXPECT_EQ(item->description, "Данные для авторизации в облачных сервисах Kestrova");
}

TEST_F(AppStateTest, UnreadableKeychainIsNeverOverwrittenBlindly)
{
    SecureCredentials record;
    record.yandexAccessToken = "precious";
    record.ftpPasswords.insert("u@h", "p");
    putRecord(record.toJson());
    keychain->setUnavailable(true);
    AppState state;
    EXPECT_EQ(AppState::credentials(), SecureCredentials{});

    // Still unreadable at the first write: nothing is written, the cache keeps the change.
    const int writes = keychain->writeCount();
    EXPECT_FALSE(AppState::updateCredentials([](SecureCredentials& r) { r.kestrovaApiToken = "k1"; }));
    EXPECT_EQ(keychain->writeCount(), writes);
    EXPECT_EQ(AppState::credentials()->kestrovaApiToken, "k1");

    // Readable again: the stored record is read back and the change applied to it.
    keychain->setUnavailable(false);
    EXPECT_TRUE(AppState::updateCredentials([](SecureCredentials& r) { r.kestrovaApiToken = "k2"; }));
    record.kestrovaApiToken = "k2";
    EXPECT_EQ(storedRecord(), record);
    EXPECT_EQ(AppState::credentials(), record);
}

TEST_F(AppStateTest, ChangesMadeWhileTheKeychainIsUnreadableAreAllKept)
{
    SecureCredentials record;
    record.kestrovaApiToken = "old cloud token";
    record.yandexAccessToken = "ya";
    record.yandexRefreshToken = "yr";
    record.ftpPasswords.insert("u@h", "p");
    record.ftpPasswords.insert("gone@h", "x");
    putRecord(record.toJson());
    keychain->setUnavailable(true);
    AppState state;
    const int writes = keychain->writeCount();

    // While the keyring is locked: a sign-in, a sign-out (the value the empty stand-in already
    // has), a sign-in again, a new password, a removed one.
    AppState::setKestrovaApiToken(QStringLiteral("cloud"));
    EXPECT_FALSE(AppState::updateCredentials([](SecureCredentials& r) { r.yandexAccessToken = ""; }));
    EXPECT_FALSE(AppState::updateCredentials([](SecureCredentials& r) {
        r.ftpPasswords.insert("new@h", "np");
        r.ftpPasswords.insert("u@h", "p2");
    }));
    {
        // The local is gone before the keychain reads again: the change owns its copy.
        const QString refresh = QStringLiteral("refresh");
        EXPECT_FALSE(AppState::updateCredentials([refresh](SecureCredentials& r) { r.yandexRefreshToken = refresh; }));
    }
    EXPECT_EQ(keychain->writeCount(), writes);
    EXPECT_EQ(AppState::credentials()->kestrovaApiToken, "cloud");
    EXPECT_EQ(AppState::credentials()->yandexRefreshToken, "refresh");

    // Unlocked: the stored record takes every kept change in order, then this one, in one write.
    keychain->setUnavailable(false);
    EXPECT_TRUE(AppState::updateCredentials([](SecureCredentials& r) {
        r.ftpPasswords.remove("gone@h");
        r.ftpPassword = "single";
    }));
    EXPECT_EQ(keychain->writeCount(), writes + 1);
    SecureCredentials expected = record;
    expected.kestrovaApiToken = "cloud";
    expected.yandexAccessToken = "";
    expected.yandexRefreshToken = "refresh";
    expected.ftpPassword = "single";
    expected.ftpPasswords = {{"u@h", "p2"}, {"new@h", "np"}};
    EXPECT_EQ(storedRecord(), expected);
    EXPECT_EQ(AppState::credentials(), expected);

    // Applied once: later writes start from the stored record alone.
    AppState::setKestrovaApiToken(QStringLiteral("cloud 2"));
    expected.kestrovaApiToken = "cloud 2";
    EXPECT_EQ(storedRecord(), expected);
}

TEST_F(AppStateTest, LaterChangesOverrideEarlierOnesKeptWhileUnreadable)
{
    SecureCredentials stored;
    stored.kestrovaApiToken = "stored";
    putRecord(stored.toJson());
    keychain->setUnavailable(true);
    AppState state;
    AppState::setKestrovaApiToken(QStringLiteral("first"));
    AppState::setKestrovaApiToken(QStringLiteral("second"));
    AppState::setKestrovaApiToken(std::nullopt); // signed out again
    keychain->setUnavailable(false);
    EXPECT_TRUE(AppState::updateCredentials([](SecureCredentials& r) { r.yandexAccessToken = "ya"; }));
    SecureCredentials expected;
    expected.yandexAccessToken = "ya";
    EXPECT_EQ(storedRecord(), expected);
}

TEST_F(AppStateTest, AnUnreadableLoadIsReportedOnceWithoutLogging)
{
    keychain->setUnavailable(true);
    DebugLogger::shared().flush();
    QFile log(DebugLogger::shared().logFilePath());
    const qint64 before = log.size();
    AppState state;
    DebugLogger::shared().flush();
    EXPECT_EQ(QFile(DebugLogger::shared().logFilePath()).size(), before); // the launch logs it
    EXPECT_EQ(AppState::takeCredentialsLoadError(), "Keychain could not be read: the keychain is unavailable");
    EXPECT_EQ(AppState::takeCredentialsLoadError(), "");

    keychain->setUnavailable(false);
    AppState::loadCredentials();
    EXPECT_EQ(AppState::takeCredentialsLoadError(), "");
}

TEST_F(AppStateTest, CredentialsCacheIsSafeAcrossThreads)
{
    AppState state;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                AppState::setKestrovaApiToken(QStringLiteral("t%1-%2").arg(t).arg(i));
                (void)AppState::credentials();
            }
        });
    }
    for (auto& th : threads)
        th.join();
    // The item holds the cache's last state: writes were not interleaved.
    EXPECT_EQ(storedRecord(), AppState::credentials());
}

TEST_F(AppStateTest, CapturedImageAssignmentPrintsItsConsoleLine)
{
    AppState state;
    testing::internal::CaptureStdout();
    state.setCapturedImage(QImage(4, 4, QImage::Format_ARGB32));
    state.setCapturedImage(QImage());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "AppState: capturedImage updated - has image\nAppState: capturedImage updated - nil\n");
}
