// The application's screenshot preview with the real cloud account and uploader, against the
// local fake of the service: the cloud is offered once the account is signed in, and an upload
// from the tool bar files the service's link. The same preview has the real own-server and Yandex
// Disk uploaders: an own-server upload goes through curl to a local FTP server. And the program's
// own check of its token at launch.
#include "shell/AppDelegate.h"
#include "app/AppState.h"
#include "shell/DelegateFixture.h"
#include "support/ProcessSession.h"
#include "shell/StatusBarController.h"
#include "cloud/APIClient.h"
#include "cloud/AuthManager.h"
#include "cloud/CloudTestSupport.h"
#include "platform/ScreenAccess.h"
#include "platform/SecretServiceKeychain.h"
#include "screenshots/EditorFixtures.h"
#include "screenshots/ScreenshotHistoryManager.h"
#include "screenshots/ScreenshotPreviewView.h"
#include "screenshots/ScreenshotPreviewWindowController.h"
#include "screenshots/ScreenshotToolbar.h"
#include "uploads/FileUploader.h"
#include "uploads/KestrovaCloudAccount.h"
#include "uploads/KestrovaUploader.h"
#include "uploads/YandexDiskUploader.h"
#include "uploads/YandexFakeServer.h"
#include "platform/InMemoryKeychain.h"
#include "screenshots/PreviewErrorBanner.h"

#include "LocalServers.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <memory>

using namespace cloudtest;

namespace {

class KestrovaCloudPreview : public test::DelegateFixture {
protected:
    static void SetUpTestSuite()
    {
        DelegateFixture::SetUpTestSuite();
        fake = new CloudFake();
        // Before anything makes the shared client.
        rootTaken = APIClient::setSharedServiceRootForTesting(fake->root());
    }
    static void TearDownTestSuite()
    {
        delete fake;
        fake = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(fake->running()) << "the cloud fake did not start";
        ASSERT_TRUE(rootTaken);
        DelegateFixture::SetUp();
    }

    // Launches the program, changes its settings with `change` and shows a preview; its upload
    // button, or null when the preview or the button did not come.
    QPushButton* previewWithSettings(const std::function<void(ServerSettings&)>& change, int seed)
    {
        delegate = std::make_unique<AppDelegate>();
        delegate->applicationDidFinishLaunching();
        ServerSettings settings = delegate->appState().serverSettings();
        change(settings);
        delegate->appState().setServerSettings(settings);
        shown = delegate->previewWindowController();
        if (!shown)
            return nullptr;
        shown->showPreview(fixtures::noise(160, 90, seed));
        if (!test::waitUntil([&] { return shown->view() && shown->toolbar(); }, 2s))
            return nullptr;
        return qobject_cast<QPushButton*>(shown->toolbar()->item("upload"));
    }
    // The settings of an upload to `server` in its folder "/shots".
    static void ownServer(ServerSettings& s, const test::LocalFtpServer& server, const QString& password)
    {
        s.ftpHost = "127.0.0.1";
        s.ftpPort = server.port();
        s.ftpUsername = "anna";
        s.ftpPassword = password;
        s.ftpDirectory = "/shots";
        s.baseURL = "https://shots.example.test/";
    }

    // The window controller of the program previewWithSettings launched.
    ScreenshotPreviewWindowController* shown = nullptr;
    static inline CloudFake* fake = nullptr;
    static inline bool rootTaken = false;
};

} // namespace

TEST_F(KestrovaCloudPreview, CloudIsOfferedWhileSignedInAndItsUploadFilesTheServicesLink)
{
    delegate = std::make_unique<AppDelegate>();
    delegate->applicationDidFinishLaunching();

    // The status menu took the account manager at launch; the preview has the shared uploader and
    // an account that follows the manager.
    AuthManager& auth = AuthManager::shared();
    ASSERT_TRUE(delegate->statusBarController());
    EXPECT_EQ(delegate->statusBarController()->authManager(), &auth);
    ScreenshotPreviewWindowController* controller = delegate->previewWindowController();
    ASSERT_TRUE(controller);
    const PreviewUploadServices services = controller->uploadServices();
    EXPECT_EQ(services.cloudUploader.data(), &KestrovaUploader::shared());
    EXPECT_EQ(&KestrovaUploader::shared().authManager(), &auth);
    EXPECT_EQ(&KestrovaUploader::shared().apiClient(), &APIClient::shared());
    ASSERT_TRUE(qobject_cast<KestrovaCloudAccount*>(services.account.data()));

    // The stored token is empty, which is none: nothing is checked at launch.
    test::spin(300ms);
    EXPECT_FALSE(fake->requestLines().contains("GET /api/v1/auth/me"));
    EXPECT_FALSE(auth.isAuthenticated());
    EXPECT_FALSE(services.account->isAuthenticated());
    EXPECT_FALSE(controller->getAvailableProviders().contains(UploadProvider::kestrovaCloud));

    bool signedIn = false;
    auth.login("user@example.com", "secret123", nullptr, [&] { signedIn = true; });
    ASSERT_TRUE(test::waitUntil([&] { return signedIn; }, 15s));
    ASSERT_TRUE(auth.isAuthenticated());
    EXPECT_TRUE(services.account->isAuthenticated());
    EXPECT_EQ(controller->getAvailableProviders(), QList<UploadProvider>({UploadProvider::kestrovaCloud}));

    fake->resetRequests();
    controller->showPreview(fixtures::noise(160, 90, 5));
    ASSERT_TRUE(test::waitUntil([&] { return controller->toolbar() != nullptr; }, 2s));
    auto* button = qobject_cast<QPushButton*>(controller->toolbar()->item("upload"));
    ASSERT_TRUE(button);
    EXPECT_EQ(button->toolTip(), QString("Загрузить в Kestrova Cloud (Ctrl+U)"));
    button->click();

    const QString link = fake->root() + "/f/f100";
    ScreenshotHistoryManager& history = delegate->historyManager();
    ASSERT_TRUE(test::waitUntil([&] { return !history.screenshots().isEmpty(); }, 20s));
    EXPECT_EQ(history.screenshots().first().remoteURL, link);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);
    EXPECT_FALSE(KestrovaUploader::shared().isUploading());
    EXPECT_EQ(fake->requestLines(), QStringList({"GET /sanctum/csrf-cookie", "POST /api/v1/files", "GET /api/v1/auth/me"}));
    const RecordedRequest upload = fake->requests()[1];
    const QString name = QString::fromUtf8(
        QByteArray::fromBase64(QByteArray::fromStdString(upload.multipart["filename"].get<std::string>())));
    EXPECT_TRUE(QRegularExpression(R"(^screenshot_\d+\.\d+\.png$)").match(name).hasMatch()) << name.toStdString();
    EXPECT_EQ(upload.multipart["is_public"], "1");
    // The window closes 0.8 s after the success.
    ASSERT_TRUE(test::waitUntil([&] { return !controller->isShowingPreview(); }, 3s));

    bool signedOut = false;
    auth.logout(nullptr, [&] { signedOut = true; });
    ASSERT_TRUE(test::waitUntil([&] { return signedOut; }, 15s));
    EXPECT_FALSE(services.account->isAuthenticated());
    EXPECT_FALSE(controller->getAvailableProviders().contains(UploadProvider::kestrovaCloud));
}

TEST_F(KestrovaCloudPreview, ThePreviewHasTheRealServerUploadersAndFilesAnOwnServerLink)
{
    const QString password = "pw-" + test::randomHex(12);
    test::LocalFtpServer server("anna", password);
    ASSERT_GT(server.port(), 0) << server.log().toStdString();

    QPushButton* button = previewWithSettings([&](ServerSettings& s) { ownServer(s, server, password); }, 6);
    ASSERT_TRUE(button);
    // Signed out (the stored token, if any, is refused): the own server is the only provider.
    ASSERT_FALSE(AuthManager::shared().isAuthenticated());
    ScreenshotPreviewView* view = shown->view();
    EXPECT_TRUE(qobject_cast<FileUploader*>(view->fileUploader()));
    EXPECT_TRUE(qobject_cast<YandexDiskUploader*>(view->yandexUploader()));
    EXPECT_EQ(view->cloudUploader(), &KestrovaUploader::shared());
    EXPECT_EQ(button->toolTip(), QString("Загрузить в SSH/SFTP (Ctrl+U)"));
    ScreenshotHistoryManager& history = delegate->historyManager();
    const qsizetype filed = history.screenshots().size();
    QGuiApplication::clipboard()->setText("earlier");
    button->click();

    ASSERT_TRUE(test::waitUntil([&] { return history.screenshots().size() > filed; }, 60s))
        << (view->fileUploader() && view->fileUploader()->lastError() ? view->fileUploader()->lastError()->toStdString() : "");
    const QStringList stored = QDir(server.root() + "/shots").entryList({"screenshot_*.png"}, QDir::Files);
    ASSERT_EQ(stored.size(), 1);
    const QString link = "https://shots.example.test/shots/" + stored.first();
    EXPECT_EQ(history.screenshots().first().remoteURL, link);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);
    EXPECT_EQ(QImage(server.root() + "/shots/" + stored.first()).size(), QSize(160, 90));
    // The window closes 0.8 s after the success.
    ASSERT_TRUE(test::waitUntil([&] { return !shown->isShowingPreview(); }, 3s));
}

TEST_F(KestrovaCloudPreview, ABaseURLWithALineBreakStartsNoUploadAndShowsTheRefusal)
{
    const QString password = "pw-" + test::randomHex(12);
    test::LocalFtpServer server("anna", password);
    ASSERT_GT(server.port(), 0) << server.log().toStdString();

    QPushButton* button = previewWithSettings([&](ServerSettings& s) {
        ownServer(s, server, password);
        s.baseURL = "https://shots.example.test/\n";
        s.lastUsedUploadProvider = UploadProvider::ssh;
    }, 8);
    ASSERT_TRUE(button);
    ScreenshotPreviewView* view = shown->view();
    ScreenshotHistoryManager& history = delegate->historyManager();
    const qsizetype filed = history.screenshots().size();
    QGuiApplication::clipboard()->setText("earlier");
    button->click();

    ASSERT_TRUE(test::waitUntil([&] { return view->serverBanner()->isVisibleTo(view); }, 10s));
    ASSERT_TRUE(view->fileUploader());
    EXPECT_EQ(view->fileUploader()->lastError(), QString("Base URL содержит недопустимые символы"));
    EXPECT_FALSE(view->fileUploader()->isUploading());
    test::spin(300ms);
    EXPECT_TRUE(server.commands().isEmpty()) << server.commands().join("\n").toStdString();
    EXPECT_TRUE(server.files().isEmpty());
    EXPECT_EQ(history.screenshots().size(), filed);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "earlier");
    EXPECT_TRUE(shown->isShowingPreview());
}

TEST_F(KestrovaCloudPreview, AYandexErrorPageReachesTheBannerAndTheLogAsAShortText)
{
    test::YandexFakeServer yandex;
    ASSERT_TRUE(yandex.start()) << yandex.error.toStdString();
    YandexDiskUploader::setOriginsForTesting(yandex.origin(), yandex.origin());
    // The token the fake accepts, in a keychain of this test's own.
    auto keychain = std::make_shared<platform::InMemoryKeychain>();
    SecureCredentials record;
    record.yandexAccessToken = "test-token";
    keychain->putItem("Kestrova", "kestrova_credentials", {record.toJson(), "Kestrova", "test"});
    platform::KeychainBackend::setCurrent(keychain);
    AppState::resetCredentialsForTesting();
    const auto restore = qScopeGuard([] {
        YandexDiskUploader::setOriginsForTesting({}, {});
        platform::KeychainBackend::setCurrent(nullptr);
        AppState::resetCredentialsForTesting();
    });
    // The byte transfer answers with a server's error page of 200 KB.
    const std::string page = "<!DOCTYPE html><html><head><title>500 Internal Server Error</title>"
                             "<style>body { font-family: sans-serif; }</style></head><body><h1>Internal Server Error</h1><p>"
                             + std::string(200 * 1024, 'x') + "</p></body></html>";
    ASSERT_TRUE(yandex.configure({{"overrides", {{"upload", {{{"status", 500}, {"body", page}}}}}}}));

    QPushButton* button = previewWithSettings([](ServerSettings& s) {
        s.ftpHost.clear();
        s.yandexAccessToken = "test-token";
        s.lastUsedUploadProvider = UploadProvider::yandexDisk;
    }, 7);
    ASSERT_TRUE(button);
    ScreenshotPreviewView* view = shown->view();
    EXPECT_EQ(button->toolTip(), QString("Загрузить в Яндекс.Диск (Ctrl+U)"));
    LogMark mark;
    button->click();
    ASSERT_TRUE(test::waitUntil([&] { return view->technicalError().has_value(); }, 30s));
    ASSERT_EQ(yandex.requests("upload").size(), 1u);

    // The banner's text and the report behind its copy button: the status and the start of the
    // page's text, not the page.
    EXPECT_TRUE(view->errorBanner()->isVisibleTo(view));
    EXPECT_EQ(view->errorBanner()->message(), QString("Ошибка при загрузке. Попробуйте ещё раз."));
    const QString error = *view->technicalError();
    EXPECT_TRUE(error.startsWith("Ошибка загрузки (HTTP 500). Ответ: 500 Internal Server Error Internal Server Error xxx"))
        << error.left(300).toStdString();
    EXPECT_FALSE(error.contains("<"));
    EXPECT_LE(error.size(), 300);
    view->errorBanner()->copyButton()->click();
    EXPECT_LE(QGuiApplication::clipboard()->text().size(), 1000);

    const QStringList lines = mark.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString& l) { return l.contains("Ошибка загрузки (HTTP 500)"); }));
    for (const QString& line : lines)
        EXPECT_LE(line.toUtf8().size(), DebugLogger::maxLineBytes) << line.left(200).toStdString();
}

TEST_F(KestrovaCloudPreview, TheProgramChecksItsStoredTokenAtLaunchWithTheServiceItIsGiven)
{
    fake->resetRequests();
    // A stored token (in the test session's keyring, restored afterwards) that the fake never issued;
    // an empty one would be no token, and nothing would be checked.
    platform::SecretServiceKeychain keychain;
    const platform::KeychainLookup saved = keychain.lookup("Kestrova", "kestrova_credentials");
    if (saved.status == platform::KeychainStatus::Error)
        GTEST_SKIP() << "needs the Secret Service of the test session: " << saved.errorText.toStdString();
    SecureCredentials stale = saved.status == platform::KeychainStatus::Success
                                  ? SecureCredentials::fromJson(saved.data).value_or(SecureCredentials{})
                                  : SecureCredentials{};
    stale.kestrovaApiToken = "stale-token";
    const auto restore = qScopeGuard([&] {
        if (saved.status == platform::KeychainStatus::Success)
            keychain.update("Kestrova", "kestrova_credentials", saved.data, nullptr);
        else
            test::run("/usr/bin/secret-tool", {"clear", "service", "Kestrova", "account", "kestrova_credentials"});
    });
    if (saved.status == platform::KeychainStatus::Success)
        ASSERT_EQ(keychain.update("Kestrova", "kestrova_credentials", stale.toJson(), nullptr), platform::KeychainStatus::Success);
    else
        ASSERT_EQ(keychain.add("Kestrova", "kestrova_credentials", stale.toJson(), "Kestrova", "test", nullptr),
                  platform::KeychainStatus::Success);
    test::Session session;
    auto process = session.start({{"KESTROVA_SERVICE_ROOT", fake->root()}});
    ASSERT_TRUE(session.waitForLog("Application finished launching")) << session.logText().toStdString();
    // The status menu makes the account manager exist at launch; the stored token is none the fake issued.
    ASSERT_TRUE(test::waitUntil([&] { return fake->requestLines().contains("GET /api/v1/auth/me"); }, 15s));
    ASSERT_TRUE(test::waitUntil([&] { return process->peek(1 << 20).contains("AuthManager: Auth status check failed, token invalid"); },
                                10s))
        << process->readAll().toStdString();
    test::stop(*process);
    EXPECT_EQ(process->exitCode(), 0);
    EXPECT_EQ(fake->requestLines(), QStringList({"GET /api/v1/auth/me"}));
}
