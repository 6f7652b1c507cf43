// The working copy and its saving: what reaches the AppState, the user defaults and the keychain
// record, and when.
#include "settings/SettingsViewModel.h"

#include "SettingsTestSupport.h"
#include "app/HotKeyManager.h"
#include "app/Localization.h"
#include "platform/FileWriteCounter.h"
#include "platform/NotificationCenter.h"
#include "settings/SettingsView.h"
#include "support/DebugLogText.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QObject>
#include <QScopeGuard>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace settingstest;
using namespace std::chrono_literals;

namespace {

const QStringList thirteenKeys = [] {
    QStringList keys{"uploadProvider", "ftpHost",      "ftpPort",      "ftpUsername",         "useSFTP",
                     "useFTPS",        "ftpDirectory", "baseURL",      "yandexFolder",        "yandexPublicBaseURL",
                     "screenshotHotkey", "fullScreenHotkey", "screenRecordingHotkey"};
    keys.sort();
    return keys;
}();

// Counts the posts of one notification while it lives.
class NotificationCounter {
public:
    explicit NotificationCounter(const QString& name)
    {
        m_token = platform::NotificationCenter::defaultCenter().addObserver(name, &m_context,
                                                                            [this](const platform::Notification&) { ++count; });
    }
    ~NotificationCounter() { platform::NotificationCenter::defaultCenter().removeObserver(m_token); }
    int count = 0;

private:
    QObject m_context;
    platform::NotificationCenter::Token m_token = 0;
};

class SettingsModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetStores();
        appState = std::make_unique<AppState>();
        model = std::make_unique<SettingsViewModel>(*appState, account.manager.get());
    }
    void TearDown() override
    {
        model.reset();
        appState.reset();
    }

    // Stores settings as an earlier session of the window would have, and makes a fresh state over them.
    void storeAndReload(const std::function<void(ServerSettings&)>& change)
    {
        {
            AppState earlier;
            SettingsViewModel writer(earlier, account.manager.get());
            writer.appear();
            writer.edit(change);
            writer.selectSection(SettingsSection::account);
        }
        model.reset();
        appState = std::make_unique<AppState>();
        model = std::make_unique<SettingsViewModel>(*appState, account.manager.get());
    }

    OfflineAccount account;
    std::unique_ptr<AppState> appState;
    std::unique_ptr<SettingsViewModel> model;
};

} // namespace

TEST_F(SettingsModelTest, SaveWritesExactlyTheThirteenKeysWithTheirTypesAndNoSecret)
{
    model->appear();
    model->edit([](ServerSettings& s) {
        s.ftpHost = "files.example.org";
        s.ftpPort = 2121;
        s.ftpUsername = "anna";
        s.ftpPassword = "ftp-secret-1";
        s.useFTPS = true;
        s.yandexAccessToken = "yandex-token-1";
        s.yandexRefreshToken = "yandex-refresh-1";
        s.dropboxAccessToken = "dropbox-token-1";
        s.webdavPassword = "webdav-secret-1";
        s.screenshotHotkey = "cmd+shift+4";
        s.lastUsedUploadProvider = UploadProvider::yandexDisk;
    });
    EXPECT_TRUE(storedKeys().isEmpty()); // edits alone save nothing
    model->saveToUserDefaults();

    EXPECT_EQ(storedKeys(), thirteenKeys);
    const platform::UserDefaults defaults = platform::UserDefaults::standard();
    EXPECT_EQ(defaults.string("uploadProvider"), "kestrova");
    EXPECT_EQ(defaults.string("ftpHost"), "files.example.org");
    EXPECT_EQ(defaults.integer("ftpPort"), 2121);
    EXPECT_EQ(defaults.boolean("useSFTP"), false);
    EXPECT_EQ(defaults.boolean("useFTPS"), true);
    EXPECT_EQ(defaults.string("yandexFolder"), "app:/");
    EXPECT_EQ(defaults.string("screenshotHotkey"), "cmd+shift+4");
    // Empty texts are written, not left out.
    EXPECT_EQ(defaults.string("fullScreenHotkey"), "");
    EXPECT_EQ(defaults.string("ftpDirectory"), "");
    const QString file = storedFileText();
    EXPECT_TRUE(file.contains("ftpPort=2121")) << file.toStdString();
    EXPECT_TRUE(file.contains("useFTPS=true")) << file.toStdString();
    for (const char* secret : {"ftp-secret-1", "yandex-token-1", "yandex-refresh-1", "dropbox-token-1", "webdav-secret-1"})
        EXPECT_FALSE(file.contains(secret)) << secret;

    // The secrets went into the keychain record, cache and item alike.
    const auto stored = keychainRecord();
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, cachedRecord());
    EXPECT_EQ(stored->ftpPasswords.value("anna@files.example.org"), "ftp-secret-1");
    EXPECT_EQ(stored->yandexAccessToken, "yandex-token-1");
    EXPECT_EQ(stored->yandexRefreshToken, "yandex-refresh-1");
    EXPECT_EQ(stored->ftpPassword, ""); // the single password field is not the saver's
}

TEST_F(SettingsModelTest, MergeNeverOverwritesStoredSecretsWithEmptyOnes)
{
    AppState::updateCredentials([](SecureCredentials& r) {
        r.ftpPassword = "legacy";
        r.kestrovaApiToken = "cloud-token";
        r.yandexAccessToken = "stored-access";
        r.yandexRefreshToken = "stored-refresh";
        r.ftpPasswords = {{"anna@old.example.org", "old-secret"}};
    });
    model->appear();

    // An empty password and empty tokens: nothing of the record changes.
    model->edit([](ServerSettings& s) {
        s.ftpHost = "old.example.org";
        s.ftpUsername = "anna";
        s.ftpPassword.clear();
        s.yandexAccessToken.clear();
        s.yandexRefreshToken.clear();
    });
    model->saveToUserDefaults();
    SecureCredentials record = *keychainRecord();
    EXPECT_EQ(record.ftpPasswords, (QMap<QString, QString>{{"anna@old.example.org", "old-secret"}}));
    EXPECT_EQ(record.yandexAccessToken, "stored-access");
    EXPECT_EQ(record.yandexRefreshToken, "stored-refresh");

    // A password for another host is a second entry; the first stays.
    model->edit([](ServerSettings& s) {
        s.ftpHost = "new.example.org";
        s.ftpPassword = "new-secret";
    });
    model->saveToUserDefaults();
    record = *keychainRecord();
    EXPECT_EQ(record.ftpPasswords, (QMap<QString, QString>{{"anna@old.example.org", "old-secret"},
                                                           {"anna@new.example.org", "new-secret"}}));
    EXPECT_EQ(record.ftpPassword, "legacy");
    EXPECT_EQ(record.kestrovaApiToken, "cloud-token");
    EXPECT_EQ(record, cachedRecord());

    // The key is taken as typed: blanks and empty parts included.
    model->edit([](ServerSettings& s) {
        s.ftpHost.clear();
        s.ftpUsername = " anna ";
        s.ftpPassword = "p";
    });
    model->saveToUserDefaults();
    EXPECT_EQ(keychainRecord()->ftpPasswords.value(" anna @"), "p");
}

TEST_F(SettingsModelTest, ASaveWithNothingChangedStillRewritesEverything)
{
    model->appear();
    model->saveToUserDefaults();
    ASSERT_EQ(storedKeys(), thirteenKeys);
    QFile::remove(platform::UserDefaults::standardFilePath());
    platform::KeychainBackend::setCurrent(std::make_shared<platform::InMemoryKeychain>());
    ASSERT_FALSE(keychainRecord());

    model->saveToUserDefaults();
    EXPECT_EQ(storedKeys(), thirteenKeys);
    EXPECT_TRUE(keychainRecord());
}

TEST_F(SettingsModelTest, NothingIsValidatedAndAStoredPortOfZeroReadsBackAs21)
{
    struct Case {
        int port;
        int readBack;
    };
    for (const Case c : {Case{0, 21}, Case{-5, 21}, Case{70000, 21}, Case{2222, 2222}}) {
        SCOPED_TRACE(c.port);
        model->appear();
        model->edit([&](ServerSettings& s) {
            s.ftpPort = c.port;
            s.ftpHost = "not a host at all ::";
        });
        model->saveToUserDefaults();
        EXPECT_EQ(platform::UserDefaults::standard().integer("ftpPort"), c.port);
        EXPECT_EQ(platform::UserDefaults::standard().string("ftpHost"), "not a host at all ::");
        EXPECT_EQ(AppState().serverSettings().ftpPort, c.readBack);
    }
}

TEST_F(SettingsModelTest, TheFourSaveMomentsPushTheWorkingCopyAndSave)
{
    model->appear();
    const auto typeHost = [&](const QString& host) { model->edit([&](ServerSettings& s) { s.ftpHost = host; }); };
    const auto storedHost = [] { return platform::UserDefaults::standard().string("ftpHost"); };

    // Typing alone reaches neither the state nor the stores.
    typeHost("a.example.org");
    EXPECT_EQ(appState->serverSettings().ftpHost, "");
    EXPECT_FALSE(storedHost());

    // 1. A sidebar click, also on the section already shown.
    ASSERT_EQ(model->selectedSection(), SettingsSection::account);
    model->selectSection(SettingsSection::account);
    EXPECT_EQ(appState->serverSettings().ftpHost, "a.example.org");
    EXPECT_EQ(storedHost(), "a.example.org");

    // 2. A provider change saves at once, before any field of the new provider is touched.
    typeHost("b.example.org");
    model->chooseProvider(UploadProvider::ssh);
    EXPECT_EQ(appState->serverSettings().uploadProvider, UploadProvider::ssh);
    EXPECT_EQ(platform::UserDefaults::standard().string("uploadProvider"), "ssh");
    EXPECT_EQ(storedHost(), "b.example.org");
    // Choosing the provider already chosen changes nothing and saves nothing.
    typeHost("c.example.org");
    model->chooseProvider(UploadProvider::ssh);
    EXPECT_EQ(storedHost(), "b.example.org");

    // 3. A Yandex sign-in.
    NotificationCounter signIns("YandexDiskAuthSuccess");
    model->setShowYandexOAuthSheet(true);
    model->handleYandexToken("fresh-token");
    EXPECT_EQ(signIns.count, 1);
    EXPECT_FALSE(model->showYandexOAuthSheet());
    EXPECT_EQ(storedHost(), "c.example.org");
    EXPECT_EQ(appState->serverSettings().yandexAccessToken, "fresh-token");
    EXPECT_EQ(keychainRecord()->yandexAccessToken, "fresh-token");
    EXPECT_EQ(cachedRecord().yandexAccessToken, "fresh-token");

    // 4. The hot keys' Save, which also tells the delegate.
    NotificationCounter hotkeys(NotificationName::hotkeySettingsChanged);
    typeHost("d.example.org");
    model->edit([](ServerSettings& s) { s.fullScreenHotkey = "ctrl+alt+f5"; });
    model->saveHotkeys();
    EXPECT_EQ(hotkeys.count, 1);
    EXPECT_EQ(storedHost(), "d.example.org");
    EXPECT_EQ(platform::UserDefaults::standard().string("fullScreenHotkey"), "ctrl+alt+f5");
    EXPECT_EQ(appState->serverSettings().fullScreenHotkey, "ctrl+alt+f5");

    // Edits kept by closing the window re-register the hot keys only when one of them changed.
    typeHost("e.example.org");
    model->saveEdits();
    EXPECT_EQ(hotkeys.count, 1);
    model->edit([](ServerSettings& s) { s.screenRecordingHotkey = "ctrl+alt+r"; });
    model->saveEdits();
    EXPECT_EQ(hotkeys.count, 2);
    EXPECT_EQ(appState->serverSettings().screenRecordingHotkey, "ctrl+alt+r");
    typeHost("d.example.org");
    model->saveEdits();

    // Unsaved edits are lost with the window: the next one starts from the state.
    typeHost("lost.example.org");
    model = std::make_unique<SettingsViewModel>(*appState, account.manager.get());
    model->appear();
    EXPECT_EQ(model->settings().ftpHost, "d.example.org");
    EXPECT_EQ(storedHost(), "d.example.org");
}

TEST_F(SettingsModelTest, AppearingLoadsTheStateAndALoadedProviderCountsAsAChange)
{
    storeAndReload([](ServerSettings& s) {
        s.uploadProvider = UploadProvider::ssh;
        s.ftpHost = "stored.example.org";
    });
    // Someone else changes the state's copy meanwhile; the window shows what the state holds.
    ServerSettings current = appState->serverSettings();
    current.ftpDirectory = "/pushed";
    appState->setServerSettings(current);
    QFile::remove(platform::UserDefaults::standardFilePath());

    EXPECT_EQ(model->settings().uploadProvider, UploadProvider::kestrovaCloud); // defaults until it appears
    model->appear();
    EXPECT_EQ(model->settings().ftpHost, "stored.example.org");
    EXPECT_EQ(model->settings().ftpDirectory, "/pushed");
    // The load moved the provider away from the cloud: the loaded values were saved at once.
    EXPECT_EQ(platform::UserDefaults::standard().string("ftpDirectory"), "/pushed");

    // With the cloud stored, a load is no provider change and saves nothing.
    storeAndReload([](ServerSettings& s) { s.uploadProvider = UploadProvider::kestrovaCloud; });
    QFile::remove(platform::UserDefaults::standardFilePath());
    model->appear();
    EXPECT_TRUE(storedKeys().isEmpty());
}

TEST_F(SettingsModelTest, ASignInElsewhereReloadsEveryOpenWindow)
{
    model->appear();
    AppState otherState;
    SettingsViewModel other(otherState, account.manager.get());
    other.appear();
    other.appear(); // one subscription, however often it appears
    EXPECT_EQ(platform::NotificationCenter::defaultCenter().observerCount("YandexDiskAuthSuccess"), 2);

    // Our state gets the token from elsewhere (another window's sign-in), then the notification.
    ServerSettings withToken = appState->serverSettings();
    withToken.yandexAccessToken = "from-elsewhere";
    appState->setServerSettings(withToken);
    other.handleYandexToken("other-token");
    EXPECT_EQ(model->settings().yandexAccessToken, "from-elsewhere");
}

TEST_F(SettingsModelTest, PortRuleFollowsTheSwitchAndResetButNotALoad)
{
    model->appear();
    model->edit([](ServerSettings& s) { s.ftpPort = 2121; });
    model->setUseSFTP(true);
    EXPECT_EQ(model->settings().ftpPort, 22);
    model->edit([](ServerSettings& s) { s.ftpPort = 2222; });
    model->setUseSFTP(false);
    EXPECT_EQ(model->settings().ftpPort, 21);
    model->edit([](ServerSettings& s) { s.ftpPort = 999; });
    model->resetPort();
    EXPECT_EQ(model->settings().ftpPort, 21);
    model->setUseSFTP(true);
    model->edit([](ServerSettings& s) { s.ftpPort = 999; });
    model->resetPort();
    EXPECT_EQ(model->settings().ftpPort, 22);
    EXPECT_FALSE(platform::UserDefaults::standard().contains("ftpPort")); // neither saves

    // A stored SFTP server on a custom port keeps its port when the window opens.
    storeAndReload([](ServerSettings& s) {
        s.uploadProvider = UploadProvider::ssh;
        s.useSFTP = true;
        s.ftpPort = 2200;
    });
    model->appear();
    EXPECT_EQ(model->settings().ftpPort, 2200);
    EXPECT_EQ(platform::UserDefaults::standard().integer("ftpPort"), 2200);
}

TEST_F(SettingsModelTest, FtpsKeepsItsValueUnderSftp)
{
    model->appear();
    model->edit([](ServerSettings& s) { s.useFTPS = true; });
    model->setUseSFTP(true);
    model->selectSection(SettingsSection::upload);
    EXPECT_TRUE(model->settings().useFTPS);
    EXPECT_EQ(platform::UserDefaults::standard().boolean("useFTPS"), true);
    EXPECT_EQ(platform::UserDefaults::standard().boolean("useSFTP"), true);
}

TEST_F(SettingsModelTest, YandexSignOutEmptiesTheWorkingCopyOnly)
{
    model->appear();
    model->handleYandexToken("token-1");
    model->edit([](ServerSettings& s) { s.yandexRefreshToken = "refresh-1"; });
    model->selectSection(SettingsSection::upload);

    model->signOutYandex();
    EXPECT_EQ(model->settings().yandexAccessToken, "");
    EXPECT_EQ(model->settings().yandexRefreshToken, "");
    EXPECT_EQ(appState->serverSettings().yandexAccessToken, "token-1");
    // The next save pushes the empty copy; the stored tokens stay, since empty ones are never written.
    model->selectSection(SettingsSection::upload);
    EXPECT_EQ(appState->serverSettings().yandexAccessToken, "");
    EXPECT_EQ(keychainRecord()->yandexAccessToken, "token-1");
    EXPECT_EQ(cachedRecord().yandexRefreshToken, "refresh-1");
}

TEST_F(SettingsModelTest, TestButtonEnablementByProvider)
{
    struct Case {
        const char* what;
        std::function<void(ServerSettings&)> settings;
        bool offered;
        bool disabled;
    };
    const std::vector<Case> cases{
        {"cloud", [](ServerSettings& s) { s.uploadProvider = UploadProvider::kestrovaCloud; }, false, false},
        {"ssh without host", [](ServerSettings& s) { s.uploadProvider = UploadProvider::ssh; s.ftpUsername = "u"; }, true, true},
        {"ssh without user", [](ServerSettings& s) { s.uploadProvider = UploadProvider::ssh; s.ftpHost = "h"; }, true, true},
        {"ssh without password", [](ServerSettings& s) { s.uploadProvider = UploadProvider::ssh; s.ftpHost = "h"; s.ftpUsername = "u"; }, true, false},
        {"yandex without token", [](ServerSettings& s) { s.uploadProvider = UploadProvider::yandexDisk; }, true, true},
        {"yandex with token", [](ServerSettings& s) { s.uploadProvider = UploadProvider::yandexDisk; s.yandexAccessToken = "t"; }, true, false},
        {"dropbox", [](ServerSettings& s) { s.uploadProvider = UploadProvider::dropbox; }, true, true},
        {"google drive", [](ServerSettings& s) { s.uploadProvider = UploadProvider::googleDrive; }, true, true},
        {"webdav", [](ServerSettings& s) { s.uploadProvider = UploadProvider::webdav; s.webdavURL = "u"; }, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerSettings s;
        c.settings(s);
        model->edit([&](ServerSettings& w) { w = s; });
        EXPECT_EQ(model->isTestOffered(), c.offered);
        EXPECT_EQ(model->isTestDisabled(), c.disabled);
    }

    // After signing out of Yandex the button is disabled, though the keychain keeps the token.
    model->edit([](ServerSettings& s) { s = ServerSettings{}; s.uploadProvider = UploadProvider::yandexDisk; });
    model->handleYandexToken("t");
    model->signOutYandex();
    EXPECT_TRUE(model->isTestDisabled());
    EXPECT_EQ(cachedRecord().yandexAccessToken, "t");

    // A provider without a test starts nothing.
    model->edit([](ServerSettings& s) { s.uploadProvider = UploadProvider::dropbox; });
    model->testConnection();
    EXPECT_FALSE(model->isTestingConnection());
}

TEST_F(SettingsModelTest, HotkeyRecorderChangesPostAndSaveShowsTheToastForItsTime)
{
    model->appear();
    NotificationCounter changes(NotificationName::hotkeySettingsChanged);
    model->edit([](ServerSettings& s) { s.screenshotHotkey = "cmd+shift+4"; });
    model->hotkeyRecorderChanged();
    EXPECT_EQ(changes.count, 1);
    // Recording alone reaches neither the state nor the stores.
    EXPECT_EQ(appState->serverSettings().screenshotHotkey, "");
    EXPECT_FALSE(platform::UserDefaults::standard().contains("screenshotHotkey"));

    // Save with every field empty stores three empty strings.
    model->setToastDurationForTesting(1000);
    QElapsedTimer sinceFirst;
    model->edit([](ServerSettings& s) { s.screenshotHotkey.clear(); });
    sinceFirst.start();
    model->saveHotkeys();
    EXPECT_EQ(changes.count, 2);
    EXPECT_EQ(platform::UserDefaults::standard().string("screenshotHotkey"), "");
    EXPECT_EQ(platform::UserDefaults::standard().string("screenRecordingHotkey"), "");
    EXPECT_TRUE(model->showHotkeySaveNotification());

    // A second Save before the first hides does not extend it: it goes at the first one's time.
    test::spin(500ms);
    model->saveHotkeys();
    EXPECT_TRUE(model->showHotkeySaveNotification());
    ASSERT_TRUE(test::waitUntil([&] { return !model->showHotkeySaveNotification(); }, 3s));
    EXPECT_LT(sinceFirst.elapsed(), 1450);
    EXPECT_EQ(changes.count, 3);
}

TEST_F(SettingsModelTest, EachSaveWritesTheFileOnce)
{
    model->appear();
    model->saveToUserDefaults();
    test::FileWriteCounter counter(platform::UserDefaults::standardFilePath());
    ASSERT_TRUE(counter.isValid());
    model->edit([](ServerSettings& s) { s.ftpHost = "example.org"; });
    model->saveToUserDefaults();
    EXPECT_EQ(counter.writes(), 1);
    model->selectSection(SettingsSection::hotkeys);
    EXPECT_EQ(counter.writes(), 2);
    EXPECT_EQ(storedKeys(), thirteenKeys);
    EXPECT_EQ(platform::UserDefaults::standard().string("ftpHost"), "example.org");
}

TEST_F(SettingsModelTest, ASaveThatCannotWriteTheFileIsLoggedAndAnnouncedAndTheWindowShowsOneAlert)
{
    L::setLanguageForTesting(AppLanguage::ru);
    const QString file = platform::UserDefaults::standardFilePath();
    const QString folder = QFileInfo(file).absolutePath();
    // Root may write anywhere; a folder that is a file stops anyone.
    QDir(folder).removeRecursively();
    ASSERT_TRUE(test::writeFile(folder, "not a folder"));
    const auto restore = qScopeGuard([folder] {
        QFile::remove(folder);
        QDir().mkpath(folder);
    });

    QWidget window;
    auto* view = new SettingsView(*appState, &window, account.manager.get());
    auto presenter = std::make_unique<RecordingAlertPresenter>();
    RecordingAlertPresenter* alerts = presenter.get();
    view->setAlertPresenter(std::move(presenter));
    QSignalSpy failed(view->model(), &SettingsViewModel::saveFailed);
    const qsizetype logStart = test::debugLogText().size();

    view->model()->edit([](ServerSettings& s) { s.ftpHost = "example.org"; });
    view->model()->selectSection(SettingsSection::upload);
    ASSERT_EQ(failed.size(), 1);
    const QString message = "Не удалось записать файл настроек " + file + ". Изменения действуют до выхода из программы.";
    EXPECT_EQ(failed[0][0].toString(), message);
    EXPECT_TRUE(test::debugLogMessages(logStart).contains("saveToUserDefaults: ERROR: Could not write the settings file " + file))
        << test::debugLogMessages(logStart).join('\n').toStdString();
    // The program goes on with the settings the user made.
    EXPECT_EQ(appState->serverSettings().ftpHost, "example.org");
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].alert.title, "Настройки не сохранены");
    EXPECT_EQ(alerts->shown[0].alert.message, message);
    EXPECT_EQ(alerts->shown[0].alert.button, "OK");
    EXPECT_EQ(alerts->windows[0], &window);

    // A save while the alert is open adds none; after its OK the next failure has its own.
    view->model()->selectSection(SettingsSection::hotkeys);
    EXPECT_EQ(failed.size(), 2);
    EXPECT_EQ(alerts->shown.size(), 1u);
    alerts->dismissLast();
    view->model()->selectSection(SettingsSection::about);
    EXPECT_EQ(alerts->shown.size(), 2u);

    // Writable again: the next save stores everything, and says nothing.
    alerts->dismissLast();
    QFile::remove(folder);
    QDir().mkpath(folder);
    view->model()->selectSection(SettingsSection::account);
    EXPECT_EQ(failed.size(), 3);
    EXPECT_EQ(alerts->shown.size(), 2u);
    EXPECT_EQ(platform::UserDefaults::standard().string("ftpHost"), "example.org");
}
