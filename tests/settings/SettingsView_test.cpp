// The settings window's widgets on the offscreen platform: sidebar, upload section, result alert,
// Yandex sign-in sheet (real WebEngine against the Yandex fake), about section and the host.
#include "settings/SettingsView.h"

#include "SettingsTestSupport.h"
#include "app/Localization.h"
#include "shell/SettingsWindowController.h"
#include "cloud/WebPageOpener.h"
#include "platform/ImageAssets.h"
#include "settings/AboutSectionView.h"
#include "settings/ActivityIndicator.h"
#include "settings/HotkeyRecorderView.h"
#include "settings/HotkeysSectionView.h"
#include "settings/HotkeySaveToast.h"
#include "settings/SettingsViewModel.h"
#include "settings/UploadSectionView.h"
#include "settings/YandexSignInSheet.h"
#include "uploads/LocalServers.h"
#include "uploads/YandexDiskUploader.h"
#include "uploads/YandexFakeServer.h"

#include <QCheckBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>


using namespace settingstest;
using namespace std::chrono_literals;

namespace {

template <typename T = QWidget>
T* child(const QWidget* parent, const char* name)
{
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_TRUE(found) << name;
    return found;
}

bool shown(const QWidget* widget)
{
    return widget && widget->isVisible();
}

class SettingsViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The host makes its view over the shared account manager: keep it on this machine.
        APIClient::setSharedServiceRootForTesting(deadRoot());
        L::setLanguageForTesting(AppLanguage::ru);
    }
    void SetUp() override
    {
        resetStores();
        appState = std::make_unique<AppState>();
        window = std::make_unique<QWidget>();
        window->resize(600, 500);
        auto* layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        view = new SettingsView(*appState, window.get(), account.manager.get());
        layout->addWidget(view);
        auto presenter = std::make_unique<RecordingAlertPresenter>();
        alerts = presenter.get();
        view->setAlertPresenter(std::move(presenter));
        window->show();
    }
    void TearDown() override
    {
        window.reset();
        YandexDiskUploader::setOriginsForTesting({}, {});
        WebPageOpener::setHandlerForTesting({});
    }

    UploadSectionView* openUpload()
    {
        view->sidebarRow(SettingsSection::upload)->click();
        return qobject_cast<UploadSectionView*>(view->currentSection());
    }

    OfflineAccount account;
    std::unique_ptr<AppState> appState;
    std::unique_ptr<QWidget> window;
    SettingsView* view = nullptr;
    RecordingAlertPresenter* alerts = nullptr;
};

} // namespace

TEST_F(SettingsViewTest, SidebarRowsShowTheirSectionAndSave)
{
    const std::pair<SettingsSection, const char*> rows[] = {
        {SettingsSection::account, "AccountSectionView"},
        {SettingsSection::upload, "UploadSectionView"},
        {SettingsSection::hotkeys, "HotkeysSectionView"},
        {SettingsSection::about, "AboutSectionView"},
    };
    // In sidebar order, top to bottom.
    int lastY = -1;
    for (const auto& [section, name] : rows) {
        QPushButton* row = view->sidebarRow(section);
        ASSERT_TRUE(row);
        EXPECT_GT(row->y(), lastY);
        lastY = row->y();
        EXPECT_TRUE(row->findChild<QLabel*>()); // icon and title
    }
    EXPECT_GE(child(view, "settingsSidebar")->width(), 180);
    EXPECT_EQ(view->currentSection()->objectName(), "AccountSectionView");
    EXPECT_TRUE(view->sidebarRow(SettingsSection::account)->property("selected").toBool());

    for (const auto& [section, name] : rows) {
        SCOPED_TRACE(name);
        QFile::remove(platform::UserDefaults::standardFilePath());
        view->sidebarRow(section)->click();
        EXPECT_EQ(view->currentSection()->objectName(), name);
        EXPECT_TRUE(view->sidebarRow(section)->property("selected").toBool());
        EXPECT_EQ(storedKeys().size(), 13); // every click saves, the selected row's too
        view->sidebarRow(section)->click();
        EXPECT_EQ(view->currentSection()->objectName(), name);
    }
}

TEST_F(SettingsViewTest, UploadSectionFollowsTheWorkingCopy)
{
    UploadSectionView* upload = openUpload();
    ASSERT_TRUE(upload);
    auto* form = child(upload, "serverForm");
    auto* testArea = child(upload, "testArea");
    EXPECT_FALSE(shown(form));
    EXPECT_FALSE(shown(testArea)); // no test for the cloud

    // Choosing SSH/SFTP shows the form and saves the provider at once, the form still empty.
    upload->providerRow(UploadProvider::ssh)->click();
    EXPECT_TRUE(shown(form));
    EXPECT_TRUE(shown(testArea));
    EXPECT_EQ(platform::UserDefaults::standard().string("uploadProvider"), "ssh");
    EXPECT_TRUE(upload->providerRow(UploadProvider::ssh)->property("selected").toBool());
    auto* testButton = child<QPushButton>(upload, "testConnectionButton");
    EXPECT_FALSE(testButton->isEnabled());
    EXPECT_EQ(child<QLabel>(upload, "testConnectionLabel")->text(), "Тестировать подключение");

    // Typing edits the copy only; host and user enable the test, no password needed.
    QTest::keyClicks(child<QLineEdit>(upload, "hostField"), "ftp.example.org");
    QTest::keyClicks(child<QLineEdit>(upload, "userField"), "anna");
    EXPECT_EQ(view->model()->settings().ftpHost, "ftp.example.org");
    EXPECT_TRUE(testButton->isEnabled());
    EXPECT_EQ(appState->serverSettings().ftpHost, "");
    EXPECT_EQ(platform::UserDefaults::standard().string("ftpHost"), "");
    EXPECT_EQ(child<QLineEdit>(upload, "passwordField")->echoMode(), QLineEdit::Password);
    // Return in a field saves what the form holds.
    QTest::keyClick(child<QLineEdit>(upload, "userField"), Qt::Key_Return);
    EXPECT_EQ(appState->serverSettings().ftpHost, "ftp.example.org");
    EXPECT_EQ(platform::UserDefaults::standard().string("ftpUsername"), "anna");

    // Port: whole numbers only; the SFTP switch and "Сброс" apply the port rule.
    auto* port = child<QLineEdit>(upload, "portField");
    EXPECT_EQ(port->text(), "21");
    port->selectAll();
    QTest::keyClicks(port, "2121");
    EXPECT_EQ(view->model()->settings().ftpPort, 2121);
    QTest::keyClicks(port, "x");
    EXPECT_EQ(view->model()->settings().ftpPort, 2121);
    auto* ftps = child<QCheckBox>(upload, "useFTPSSwitch");
    ftps->click();
    EXPECT_TRUE(view->model()->settings().useFTPS);
    child<QCheckBox>(upload, "useSFTPSwitch")->click();
    EXPECT_EQ(view->model()->settings().ftpPort, 22);
    EXPECT_EQ(port->text(), "22");
    EXPECT_FALSE(shown(ftps)); // hidden under SFTP, its value kept
    EXPECT_TRUE(view->model()->settings().useFTPS);
    port->selectAll();
    QTest::keyClicks(port, "2200");
    child<QPushButton>(upload, "resetPortButton")->click();
    EXPECT_EQ(port->text(), "22");

    // Yandex Disk: the sign-in button without a token, the signed-in row with one, and back.
    upload->providerRow(UploadProvider::yandexDisk)->click();
    EXPECT_FALSE(shown(form));
    EXPECT_TRUE(shown(testArea));
    EXPECT_TRUE(shown(child(upload, "yandexSignInButton")));
    EXPECT_FALSE(testButton->isEnabled());
    view->model()->handleYandexToken("token-1");
    EXPECT_TRUE(shown(child(upload, "yandexSignedInLabel")));
    EXPECT_FALSE(shown(child(upload, "yandexSignInButton")));
    EXPECT_TRUE(testButton->isEnabled());
    child<QPushButton>(upload, "yandexSignOutButton")->click();
    EXPECT_TRUE(shown(child(upload, "yandexSignInButton")));
    EXPECT_FALSE(testButton->isEnabled());
    EXPECT_EQ(appState->serverSettings().yandexAccessToken, "token-1");

    upload->providerRow(UploadProvider::kestrovaCloud)->click();
    EXPECT_FALSE(shown(testArea));
}

TEST_F(SettingsViewTest, TestProgressAndTheResultAlertOverAnySection)
{
    UploadSectionView* upload = openUpload();
    upload->providerRow(UploadProvider::ssh)->click();
    child<QCheckBox>(upload, "useSFTPSwitch")->click();
    QTest::keyClicks(child<QLineEdit>(upload, "hostField"), "127.0.0.1");
    QTest::keyClicks(child<QLineEdit>(upload, "userField"), "anna");
    auto* port = child<QLineEdit>(upload, "portField");
    port->selectAll();
    QTest::keyClicks(port, QString::number(test::freeLoopbackPort()));

    auto* testButton = child<QPushButton>(upload, "testConnectionButton");
    testButton->click();
    EXPECT_FALSE(testButton->isEnabled());
    EXPECT_EQ(child<QLabel>(upload, "testConnectionLabel")->text(), "Тестирую...");
    EXPECT_TRUE(child<ActivityIndicator>(upload, "testProgress")->isAnimating());

    // The test goes on while another section is shown; its alert opens over that one.
    view->sidebarRow(SettingsSection::about)->click();
    ASSERT_TRUE(test::waitUntil([&] { return !alerts->shown.empty(); }, 20s));
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].alert.title, "Результат тестирования");
    EXPECT_EQ(alerts->shown[0].alert.message, "✗ Ошибка SSH/SFTP соединения: Не удалось подключиться к SFTP серверу");
    EXPECT_EQ(alerts->shown[0].alert.button, "OK");
    EXPECT_EQ(alerts->windows[0], window.get());
    EXPECT_TRUE(view->model()->showingTestResult());
    alerts->dismissLast();
    EXPECT_FALSE(view->model()->showingTestResult());

    upload = openUpload();
    EXPECT_TRUE(child<QPushButton>(upload, "testConnectionButton")->isEnabled());
    EXPECT_EQ(child<QLabel>(upload, "testConnectionLabel")->text(), "Тестировать подключение");
}

TEST_F(SettingsViewTest, YandexSignInSheetHandsTheTokenOverAndCloses)
{
    test::YandexFakeServer fake;
    ASSERT_TRUE(fake.start()) << fake.error.toStdString();
    YandexDiskUploader::setOriginsForTesting(fake.origin(), fake.origin());

    UploadSectionView* upload = openUpload();
    upload->providerRow(UploadProvider::yandexDisk)->click();
    child<QPushButton>(upload, "yandexSignInButton")->click();
    YandexSignInSheet* sheet = view->yandexSheet();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_GE(sheet->minimumWidth(), 640);
    EXPECT_GE(sheet->minimumHeight(), 560);
    // The web view from its module, which this program does not link: loaded for this sheet.
    ASSERT_TRUE(sheet->webView());
    EXPECT_STREQ(sheet->webView()->metaObject()->className(), "YandexOAuthWebView");
    EXPECT_EQ(sheet->webView()->property("authURL").toUrl(), YandexDiskUploader::implicitAuthURL());

    // The fake's page redirects with the token at once.
    QPointer<YandexSignInSheet> watched(sheet);
    ASSERT_TRUE(test::waitUntil([&] { return !view->model()->showYandexOAuthSheet(); }, 60s));
    test::spin(100ms);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watched.isNull());
    EXPECT_EQ(appState->serverSettings().yandexAccessToken, "oauth-token-1");
    EXPECT_EQ(keychainRecord()->yandexAccessToken, "oauth-token-1");
    EXPECT_EQ(cachedRecord().yandexAccessToken, "oauth-token-1");
    EXPECT_TRUE(shown(child(upload, "yandexSignedInLabel")));
}

TEST_F(SettingsViewTest, YandexSheetWithoutAddressAndItsCloseButton)
{
    // An origin that is no web address: no sign-in link can be formed.
    YandexDiskUploader::setOriginsForTesting({}, QStringLiteral("ftp://127.0.0.1"));
    ASSERT_FALSE(YandexDiskUploader::implicitAuthURL());
    view->model()->setShowYandexOAuthSheet(true);
    YandexSignInSheet* sheet = view->yandexSheet();
    ASSERT_TRUE(sheet);
    EXPECT_FALSE(sheet->webView());
    EXPECT_EQ(child<QLabel>(sheet, "missingLinkText")->text(), "Не удалось сформировать ссылку авторизации");
    child<QToolButton>(sheet, "closeButton")->click();
    EXPECT_FALSE(view->model()->showYandexOAuthSheet());
    EXPECT_FALSE(view->yandexSheet());

    // Escape closes it as well, and the flag follows.
    view->model()->setShowYandexOAuthSheet(true);
    ASSERT_TRUE(view->yandexSheet());
    view->yandexSheet()->reject();
    EXPECT_FALSE(view->model()->showYandexOAuthSheet());
    EXPECT_EQ(view->model()->settings().yandexAccessToken, "");
}

TEST_F(SettingsViewTest, HotkeysSectionSavesAndShowsItsToast)
{
    view->sidebarRow(SettingsSection::hotkeys)->click();
    auto* section = qobject_cast<HotkeysSectionView*>(view->currentSection());
    ASSERT_TRUE(section);
    ASSERT_EQ(section->recorders().size(), 3);
    const QStringList labels{"Захват области:", "Весь экран:", "Запись экрана:"};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(section->recorders()[i]->label(), labels[i]);

    // The same combination in two rows is allowed.
    for (HotkeyRecorderView* recorder : {section->recorders()[1], section->recorders()[2]}) {
        recorder->toggleRecording();
        recorder->handleKeyEvent(QKeyEvent(QEvent::KeyPress, Qt::Key_5, Qt::ControlModifier | Qt::AltModifier));
    }
    EXPECT_EQ(view->model()->settings().fullScreenHotkey, "ctrl+alt+5");
    EXPECT_EQ(view->model()->settings().screenRecordingHotkey, "ctrl+alt+5");
    EXPECT_EQ(platform::UserDefaults::standard().string("fullScreenHotkey"), ""); // as the section switch saved it

    EXPECT_FALSE(section->toast()->isShowing());
    child<QPushButton>(section, "saveHotkeysButton")->click();
    EXPECT_EQ(platform::UserDefaults::standard().string("screenRecordingHotkey"), "ctrl+alt+5");
    EXPECT_TRUE(section->toast()->isShowing());
    ASSERT_TRUE(test::waitUntil([&] { return section->toast()->isVisible() && section->toast()->opacity() == 1.0; }, 2s));
    EXPECT_EQ(section->toast()->y(), 2); // resting 8 points below the top, shadow margin included
    ASSERT_TRUE(test::waitUntil([&] { return !section->toast()->isVisible(); }, 4s));
}

TEST_F(SettingsViewTest, AboutSectionFactsAndLinks)
{
    std::vector<QUrl> opened;
    WebPageOpener::setHandlerForTesting([&](const QUrl& url) { opened.push_back(url); });
    SettingsViewModel::setBundleInfoForTesting(QVariantMap{{"version", "2.4.1"}, {"build", 381}});
    view->sidebarRow(SettingsSection::about)->click();
    QWidget* about = view->currentSection();
    EXPECT_EQ(child<QLabel>(about, "appVersion")->text(), "2.4.1");
    // An entry that is not text counts as missing.
    EXPECT_EQ(child<QLabel>(about, "appBuild")->text(), "Unknown");
    EXPECT_EQ(child<QLabel>(about, "copyrightLine")->text(),
              QStringLiteral("© %1 Kestrova").arg(QDate::currentDate().year()));
    EXPECT_FALSE(child<QLabel>(about, "buildDate")->text().isEmpty());
    // No application icon among the assets: the camera symbol in the same frame.
    EXPECT_EQ(child<QLabel>(about, "appIcon")->property("symbol").toString(), "camera.fill");
    EXPECT_EQ(child<QLabel>(about, "appIcon")->size(), QSize(48, 48));

    child<QPushButton>(about, "siteLink")->click();
    child<QPushButton>(about, "privacyLink")->click();
    const QString root = account.client->sanctumURL();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl(root));
    EXPECT_EQ(opened[1], QUrl(root + "/privacy"));

    SettingsViewModel::setBundleInfoForTesting(QVariantMap{});
    EXPECT_EQ(SettingsViewModel::appVersion(), "Unknown");
    EXPECT_EQ(SettingsViewModel::appBuild(), "Unknown");
    SettingsViewModel::setBundleInfoForTesting(std::nullopt);
    EXPECT_EQ(SettingsViewModel::appBuild(), "1");
}

TEST_F(SettingsViewTest, TheHostShowsTheRealViewOverItsState)
{
    window.reset();
    ServerSettings stored = appState->serverSettings();
    stored.uploadProvider = UploadProvider::ssh;
    stored.ftpHost = "host.example.org";
    appState->setServerSettings(stored);

    SettingsWindowController host(appState.get());
    host.showSettings();
    auto* hosted = host.window()->findChild<SettingsView*>();
    ASSERT_TRUE(hosted);
    hosted->sidebarRow(SettingsSection::upload)->click();
    auto* host1 = hosted->currentSection()->findChild<QLineEdit*>("hostField");
    ASSERT_TRUE(host1);
    EXPECT_EQ(host1->text(), "host.example.org");

    // Typed and then closed, with no other save between: kept, in the state and the file.
    QTest::keyClicks(host1, ".typed");
    EXPECT_EQ(appState->serverSettings().ftpHost, "host.example.org");
    host.window()->close();
    EXPECT_EQ(appState->serverSettings().ftpHost, "host.example.org.typed");
    EXPECT_EQ(platform::UserDefaults::standard().string("ftpHost"), "host.example.org.typed");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    host.showSettings();
    hosted = host.window()->findChild<SettingsView*>();
    hosted->sidebarRow(SettingsSection::upload)->click();
    EXPECT_EQ(hosted->currentSection()->findChild<QLineEdit*>("hostField")->text(), "host.example.org.typed");
    host.window()->close();
}
