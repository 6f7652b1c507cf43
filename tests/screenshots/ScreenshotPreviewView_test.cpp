// The preview's actions on the offscreen platform, with fake uploaders and save panel, a real
// history folder and the real (in-process) clipboard.
#include "screenshots/ScreenshotPreviewView.h"

#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "app/Localization.h"
#include "app/ToastManager.h"
#include "platform/NotificationCenter.h"
#include "screenshots/AnnotatedImageRenderer.h"
#include "screenshots/PreviewErrorBanner.h"
#include "screenshots/ScreenshotHistoryManager.h"
#include "screenshots/ScreenshotPreviewWindowController.h"
#include "support/StdoutTap.h"

#include "EditorFixtures.h"
#include "PreviewFakes.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;

namespace {

const QDateTime kNow = QDateTime::fromMSecsSinceEpoch(1733700000123, Qt::UTC);

QImage clipboardImage()
{
    return QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QString clipboardText()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasText() && !data->hasImage() ? data->text() : QString();
}

// The lines of the diagnostic log, once every queued line is written.
QStringList logLines()
{
    DebugLogger::shared().flush();
    QFile file(DebugLogger::shared().logFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The log's lines after the first `from`, as "function: message" without time and source place.
QStringList logMessagesSince(qsizetype from)
{
    static const QRegularExpression prefix(R"(^\[[^\]]+\] \[[^\]]+:\d+\] )");
    QStringList messages;
    for (const QString& line : logLines().mid(from))
        messages.append(QString(line).remove(prefix));
    return messages;
}

void post(const QVariantMap& userInfo)
{
    platform::NotificationCenter::defaultCenter().post("screenshotAction", userInfo);
}

void post(const QString& action)
{
    post({{"action", action}});
}

class PreviewView : public ::testing::Test {
protected:
    void SetUp() override
    {
        L::setLanguageForTesting(AppLanguage::ru);
        ASSERT_TRUE(dir.isValid());
        QGuiApplication::clipboard()->clear();
        panel = std::make_shared<fakes::SavePanel>();
        historyDir = dir.path() + "/history";
        history = std::make_unique<ScreenshotHistoryManager>(ScreenshotHistoryManager::Environment{historyDir, {}, {}});
        makeController();
        picture = fixtures::noise(120, 80, 7);
        arrow = fixtures::annotation(AnnotationType::arrow, {10, 10}, {100, 60}, QColor(255, 0, 0), 4);
    }
    void TearDown() override
    {
        controller->closeWindow();
        test::spin(10ms);
    }
    void makeController()
    {
        controller = std::make_unique<ScreenshotPreviewWindowController>(
            &state, history.get(), [this](const QList<Screenshot>& entries) { menuRefreshes.append(entries.size()); });
        controller->setViewEnvironment({[] { return kNow; }, panel});
        controller->setUploadServices(fake.services());
    }
    // Opens a preview of `picture` with an arrow drawn on it.
    ScreenshotPreviewView* open()
    {
        controller->showPreview(picture);
        // A preview replacing an open one comes 0.05 s later.
        test::waitUntil([&] { return controller->view() != nullptr; }, 1s);
        state.setAnnotations({arrow});
        return controller->view();
    }
    QImage annotated() const { return AnnotatedImageRenderer::renderImageWithAnnotations(picture, {arrow}); }
    std::optional<QString> linkOfNewest() const
    {
        return history->screenshots().isEmpty() ? std::nullopt : history->screenshots().first().remoteURL;
    }

    QTemporaryDir dir;
    QString historyDir;
    AppState state;
    fakes::Services fake;
    std::shared_ptr<fakes::SavePanel> panel;
    std::unique_ptr<ScreenshotHistoryManager> history;
    std::unique_ptr<ScreenshotPreviewWindowController> controller;
    QList<int> menuRefreshes;
    QImage picture;
    Annotation arrow;
};

} // namespace

TEST_F(PreviewView, CopyPutsThePictureWithoutAnnotationsOnTheClipboard)
{
    ScreenshotPreviewView* view = open();
    ASSERT_TRUE(view);
    ASSERT_TRUE(fixtures::difference(annotated(), picture).has_value()); // the arrow shows in the output
    test::StdoutTap console;
    post("copy");
    EXPECT_FALSE(fixtures::difference(clipboardImage(), picture)) << fixtures::difference(clipboardImage(), picture)->toStdString();
    EXPECT_TRUE(console.lines().contains("ScreenshotPreviewWindow: Screenshot copied to clipboard"));
    EXPECT_TRUE(history->screenshots().isEmpty());
    EXPECT_TRUE(controller->isShowingPreview());
}

TEST_F(PreviewView, DoneFilesAndCopiesTheAnnotatedPictureAndClosesAtOnce)
{
    open();
    test::StdoutTap console;
    post("done");
    ASSERT_EQ(history->screenshots().size(), 1);
    EXPECT_EQ(history->screenshots().first().remoteURL, std::nullopt);
    QImage filed(*history->screenshots().first().filePath);
    EXPECT_FALSE(fixtures::difference(filed, annotated()));
    EXPECT_FALSE(fixtures::difference(clipboardImage(), annotated()));
    EXPECT_EQ(menuRefreshes, QList<int>({1}));
    EXPECT_TRUE(console.lines().contains("ScreenshotPreviewWindow: Screenshot saved and copied to clipboard"));
    EXPECT_FALSE(controller->window());
    EXPECT_TRUE(fake.cloud.calls.isEmpty());
}

TEST_F(PreviewView, DoneKeepsTheWindowWithABannerWhenTheHistoryCannotWrite)
{
    // A history folder under a plain file can never be made.
    QFile blocker(dir.path() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    history = std::make_unique<ScreenshotHistoryManager>(ScreenshotHistoryManager::Environment{dir.path() + "/blocker/history", {}, {}});
    makeController();
    ScreenshotPreviewView* view = open();
    post("done");
    EXPECT_TRUE(controller->isShowingPreview());
    ASSERT_TRUE(controller->window());
    EXPECT_EQ(view->saveError(), QString("Не удалось сохранить скриншот в историю"));
    ASSERT_TRUE(view->technicalError());
    EXPECT_TRUE(view->technicalError()->contains("blocker/history"));
    EXPECT_TRUE(view->errorBanner()->isVisibleTo(controller->window()));
    EXPECT_EQ(view->errorBanner()->message(), QString("Не удалось сохранить скриншот в историю"));
    // The picture is on the clipboard as well, but not only there.
    EXPECT_FALSE(fixtures::difference(clipboardImage(), annotated()));
    EXPECT_TRUE(menuRefreshes.isEmpty());
}

TEST_F(PreviewView, SaveWritesTheAnnotatedPictureInTheFormatOfItsName)
{
    ScreenshotPreviewView* view = open();
    const struct {
        QString chosen, written;
        QByteArray format;
    } cases[] = {
        {"shot.png", "shot.png", "png"},
        {"shot.jpg", "shot.jpg", "jpeg"},
        {"Shot.JPEG", "Shot.JPEG", "jpeg"},
        {"shot", "shot.png", "png"},
        // Any other suffix: PNG bytes under the name as chosen.
        {"shot.gif", "shot.gif", "png"},
        {"shot.v2.tiff", "shot.v2.tiff", "png"},
        {"shot.", "shot.", "png"},
    };
    // A file the panel never asked about stays as it is.
    QFile bystander(dir.path() + "/shot.gif.png");
    ASSERT_TRUE(bystander.open(QIODevice::WriteOnly));
    bystander.write("keep");
    bystander.close();
    int entries = 0;
    for (const auto& c : cases) {
        panel->answer = dir.path() + "/" + c.chosen;
        test::StdoutTap console;
        post("save");
        const QString path = dir.path() + "/" + c.written;
        QImageReader reader(path);
        EXPECT_EQ(reader.format(), c.format) << c.chosen.toStdString();
        const QImage written = reader.read();
        ASSERT_FALSE(written.isNull()) << c.chosen.toStdString();
        if (c.format == "png")
            EXPECT_FALSE(fixtures::difference(written, annotated())) << c.chosen.toStdString();
        else
            EXPECT_EQ(written.size(), picture.size());
        EXPECT_TRUE(console.lines().contains("ScreenshotPreviewWindow: Screenshot saved to " + c.written));
        EXPECT_FALSE(fixtures::difference(clipboardImage(), annotated()));
        EXPECT_EQ(history->screenshots().size(), ++entries);
        EXPECT_FALSE(view->saveError());
    }
    ASSERT_TRUE(bystander.open(QIODevice::ReadOnly));
    EXPECT_EQ(bystander.readAll(), QByteArray("keep"));
    EXPECT_EQ(panel->asked.last().title, QString("Сохранить скриншот"));
    EXPECT_EQ(panel->asked.last().proposedName, QString("screenshot_1733700000.123.png"));
    EXPECT_TRUE(controller->isShowingPreview()); // save leaves the window open
}

TEST_F(PreviewView, SaveFailureShowsTheBannerAndCancelClearsIt)
{
    ScreenshotPreviewView* view = open();
    test::StdoutTap console;
    panel->answer = dir.path() + "/missing-folder/shot.png";
    post("save");
    ASSERT_TRUE(view->saveError());
    EXPECT_FALSE(view->saveError()->isEmpty());
    // Without a technical text the message stands in for it.
    EXPECT_EQ(view->technicalError(), view->saveError());
    EXPECT_TRUE(console.lines().contains("ScreenshotPreviewWindow: Save error: " + *view->saveError()));
    EXPECT_TRUE(view->errorBanner()->isVisibleTo(view));
    EXPECT_EQ(view->errorBanner()->hint(), QString("Нажмите «Скопировать» для получения технической информации"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/missing-folder"));
    EXPECT_TRUE(history->screenshots().isEmpty());

    panel->answer.reset();
    post("save");
    EXPECT_FALSE(view->saveError());
    EXPECT_FALSE(view->errorBanner()->isVisibleTo(view));
    EXPECT_TRUE(history->screenshots().isEmpty());
}

TEST_F(PreviewView, SavingOverAReadOnlyFileKeepsItsContent)
{
    ScreenshotPreviewView* view = open();
    const QString path = dir.path() + "/locked.png";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("old");
    file.close();
    QFile::setPermissions(path, QFile::ReadOwner);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    panel->answer = path;
    post("save");
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes anywhere";
    EXPECT_TRUE(view->saveError());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("old"));
}

TEST_F(PreviewView, CloudSuccessFilesTheLinkCopiesItAndClosesAfterEightTenths)
{
    ScreenshotPreviewView* view = open();
    fake.account.setIsAuthenticated(true);
    post("kestrova");
    ASSERT_EQ(fake.cloud.calls.size(), 1);
    EXPECT_EQ(fake.cloud.calls[0].fileName, QString("screenshot_1733700000.123.png"));
    EXPECT_TRUE(fake.cloud.calls[0].isPublic);
    EXPECT_FALSE(fixtures::difference(fake.cloud.calls[0].image, annotated()));
    EXPECT_TRUE(view->isUploadIndicatorShown());
    EXPECT_TRUE(view->uploadIndicator()->isVisibleTo(view));

    QElapsedTimer clock;
    clock.start();
    fake.cloud.finish(UploadResult::success("https://kestrova.example/s/abc"));
    EXPECT_FALSE(view->isUploadIndicatorShown());
    ASSERT_EQ(history->screenshots().size(), 1);
    EXPECT_EQ(linkOfNewest(), QString("https://kestrova.example/s/abc"));
    EXPECT_FALSE(fixtures::difference(QImage(*history->screenshots().first().filePath), annotated()));
    EXPECT_EQ(clipboardText(), QString("https://kestrova.example/s/abc"));
    ASSERT_TRUE(ToastManager::shared().currentToast());
    EXPECT_EQ(ToastManager::shared().currentToast()->message, QString("Ссылка скопирована"));
    EXPECT_EQ(ToastManager::shared().currentToast()->icon, QString("link"));
    EXPECT_EQ(ToastManager::shared().currentToast()->type, ToastType::success);
    EXPECT_EQ(menuRefreshes, QList<int>({1}));

    EXPECT_TRUE(controller->isShowingPreview());
    ASSERT_TRUE(test::waitUntil([&] { return !controller->isShowingPreview(); }, 3s));
    EXPECT_GE(clock.elapsed(), 750);
}

TEST_F(PreviewView, CloudUploadsWriteTheirStepsToTheDiagnosticLog)
{
    open();
    fake.account.setIsAuthenticated(true);
    qsizetype mark = logLines().size();
    post("kestrova");
    fake.cloud.finish(UploadResult::success("https://kestrova.example/s/abc"));
    EXPECT_EQ(logMessagesSince(mark), QStringList({
                                          "uploadToKestrovaCloud: === BUTTON PRESSED: uploadToKestrovaCloud ===",
                                          "performKestrovaUpload: appState.isEditing: true",
                                          "performKestrovaUpload: finalImage size: 120.0 x 80.0",
                                          "performKestrovaUpload: finalImage representations: 1",
                                          "performKestrovaUpload: === UPLOAD SUCCESS: https://kestrova.example/s/abc ===",
                                      }));

    open();
    mark = logLines().size();
    post("kestrova");
    fake.cloud.finish(UploadResult::error({"UploadError", "Нет сети", "networkError(\"offline\")",
                                           QString("UploadError.networkError: offline")}));
    EXPECT_EQ(logMessagesSince(mark), QStringList({
                                          "uploadToKestrovaCloud: === BUTTON PRESSED: uploadToKestrovaCloud ===",
                                          "performKestrovaUpload: appState.isEditing: true",
                                          "performKestrovaUpload: finalImage size: 120.0 x 80.0",
                                          "performKestrovaUpload: finalImage representations: 1",
                                          "performKestrovaUpload: === UPLOAD FAILURE ===",
                                          "performKestrovaUpload: Error type: UploadError",
                                          "performKestrovaUpload: Error description: Нет сети",
                                          "performKestrovaUpload: Error: networkError(\"offline\")",
                                          "reportUploadError: ERROR: Нет сети",
                                      }));
}

TEST_F(PreviewView, TheDelayedCloseSparesAPreviewOpenedMeanwhile)
{
    open();
    fake.account.setIsAuthenticated(true);
    post("kestrova");
    fake.cloud.finish(UploadResult::success("https://kestrova.example/s/1"));
    // A new capture within the 0.8 s.
    controller->showPreview(fixtures::noise(90, 60, 9));
    ASSERT_TRUE(test::waitUntil([&] { return controller->isShowingPreview(); }, 1s));
    QPointer<QWidget> newer = controller->window();
    test::spin(1200ms);
    EXPECT_TRUE(controller->isShowingPreview());
    EXPECT_EQ(controller->window(), newer.data());
    EXPECT_TRUE(newer && newer->isVisible());
}

TEST_F(PreviewView, UploadsThatOutliveTheirWindowStillFileTheirLink)
{
    fake.account.setIsAuthenticated(true);
    ServerSettings settings = state.serverSettings();
    settings.ftpHost = "ftp.example.org";
    state.setServerSettings(settings);

    for (const char* provider : {"kestrova", "yandex", "ssh"}) {
        SCOPED_TRACE(provider);
        const int before = int(history->screenshots().size());
        QPointer<ScreenshotPreviewView> view = open();
        post(provider);
        QPointer<fakes::DriveUploader> drive = fake.drives.last();
        QPointer<fakes::ServerUploader> server = fake.servers.last();
        // The window goes (title-bar close, then the next capture), the view with it.
        controller->window()->close();
        controller->closeWindow();
        ASSERT_TRUE(fakes::waitFor([&] { return view.isNull(); }, 1s));
        // Another preview is open when the result comes.
        controller->showPreview(fixtures::noise(90, 60, 9));
        QPointer<QWidget> newer = controller->window();
        const QString link = QString("https://example.org/") + provider;
        if (QString(provider) == "kestrova") {
            fake.cloud.finish(UploadResult::success(link));
        } else if (QString(provider) == "yandex") {
            ASSERT_TRUE(drive);
            drive->finish(UploadResult::success(link));
        } else {
            ASSERT_TRUE(server);
            ASSERT_EQ(server->calls.size(), 1);
            server->succeed(link);
        }
        ASSERT_EQ(int(history->screenshots().size()), before + 1);
        EXPECT_EQ(linkOfNewest(), link);
        EXPECT_FALSE(fixtures::difference(QImage(*history->screenshots().first().filePath), annotated()));
        EXPECT_EQ(clipboardText(), link);
        test::spin(1000ms);
        fakes::runDeferredDeletes();
        // The orphaned uploader is released once it has reported; the newer preview stays.
        EXPECT_TRUE(drive.isNull() || QString(provider) != "yandex");
        EXPECT_TRUE(server.isNull() || QString(provider) != "ssh");
        EXPECT_TRUE(newer && newer->isVisible());
        controller->closeWindow();
        test::spin(10ms);
    }
}

TEST_F(PreviewView, AFailureAfterTheWindowClosedIsLoggedNotShown)
{
    QPointer<ScreenshotPreviewView> view = open();
    post("yandex");
    QPointer<fakes::DriveUploader> drive = fake.drives.last();
    controller->closeWindow();
    ASSERT_TRUE(fakes::waitFor([&] { return view.isNull(); }, 1s));
    ASSERT_TRUE(drive);
    drive->finish(UploadResult::error({"YandexDiskError", "Сервис недоступен", "serviceUnavailable", std::nullopt}));
    EXPECT_TRUE(history->screenshots().isEmpty());
    fakes::runDeferredDeletes();
    EXPECT_TRUE(drive.isNull());
}

TEST_F(PreviewView, ASecondUploadRequestWhileOneRunsIsIgnored)
{
    ScreenshotPreviewView* view = open();
    fake.account.setIsAuthenticated(true);
    test::StdoutTap console;
    post("kestrova");
    post("kestrova");
    post("yandex");
    EXPECT_EQ(fake.cloud.calls.size(), 1);
    EXPECT_TRUE(fake.drives.last()->calls.isEmpty());
    EXPECT_TRUE(console.lines().contains("ScreenshotPreviewWindow: Upload already in progress, ignoring request"));
    EXPECT_TRUE(view->isUploadInFlight());
    fake.cloud.finish(UploadResult::error({"UploadError", "Нет сети", "networkError(\"offline\")",
                                           QString("UploadError.networkError: offline")}));
    EXPECT_FALSE(view->isUploadInFlight());
    post("yandex");
    EXPECT_EQ(fake.drives.last()->calls.size(), 1);

    // The own-server uploader's busy refusal never happens, so its next link is not swallowed.
    fake.drives.last()->finish(UploadResult::error({"YandexDiskError", "x", "x", std::nullopt}));
    ServerSettings settings = state.serverSettings();
    settings.ftpHost = "ftp.example.org";
    state.setServerSettings(settings);
    post("ssh");
    post("ssh");
    fakes::ServerUploader* server = fake.servers.last();
    EXPECT_EQ(server->calls.size(), 1);
    EXPECT_FALSE(server->lastError());
    server->succeed("https://example.org/s.png");
    EXPECT_EQ(linkOfNewest(), QString("https://example.org/s.png"));
}

TEST_F(PreviewView, CloudWhileSignedOutShowsTheBannerAtOnce)
{
    ScreenshotPreviewView* view = open();
    fake.cloud.signedIn = false;
    post("kestrova");
    EXPECT_FALSE(view->isUploadIndicatorShown());
    EXPECT_FALSE(view->isUploadInFlight());
    EXPECT_EQ(view->saveError(), QString("Войдите в аккаунт для загрузки файлов"));
    EXPECT_EQ(view->technicalError(), QString("UploadError.notAuthenticated: User not logged in"));
    EXPECT_TRUE(controller->isShowingPreview());
    EXPECT_TRUE(history->screenshots().isEmpty());

    // Without any cloud uploader in the build the answer is the same.
    PreviewUploadServices none;
    controller->setUploadServices(none);
    view = open();
    post("kestrova");
    EXPECT_EQ(view->saveError(), QString("Войдите в аккаунт для загрузки файлов"));
    EXPECT_EQ(view->technicalError(), QString("UploadError.notAuthenticated: User not logged in"));
}

TEST_F(PreviewView, UploadFailuresFillTheErrorBanner)
{
    ScreenshotPreviewView* view = open();
    post("yandex");
    fake.drives.last()->finish(UploadResult::error({"YandexDiskError", "Файл слишком большой", "fileTooLarge", std::nullopt}));
    EXPECT_EQ(view->saveError(), QString("Ошибка при загрузке. Попробуйте ещё раз."));
    EXPECT_EQ(view->technicalError(), QString("Файл слишком большой"));
    EXPECT_TRUE(controller->isShowingPreview());
    ASSERT_EQ(fake.drives.last()->calls.size(), 1);
    const auto& call = fake.drives.last()->calls[0];
    EXPECT_EQ(call.filename, QString("screenshot_1733700000.123.png"));
    EXPECT_EQ(call.folder, QString("app:/"));
    EXPECT_FALSE(fixtures::difference(QImage::fromData(call.data, "png"), annotated()));

    view->errorBanner()->closeButton()->click();
    EXPECT_FALSE(view->saveError());
    EXPECT_FALSE(view->technicalError());
    EXPECT_FALSE(view->errorBanner()->isVisibleTo(view));
}

TEST_F(PreviewView, OwnServerUploadUsesTheServerAndReportsThroughItsFields)
{
    ServerSettings settings = state.serverSettings();
    settings.ftpHost = "ftp.example.org";
    settings.uploadProvider = UploadProvider::kestrovaCloud; // the default names the cloud
    state.setServerSettings(settings);
    ScreenshotPreviewView* view = open();
    fakes::ServerUploader* server = fake.servers.last();

    server->refuseWith = "Укажите Base URL";
    post("ssh");
    ASSERT_EQ(server->calls.size(), 1);
    EXPECT_EQ(server->calls[0].settings.uploadProvider, UploadProvider::ssh);
    EXPECT_EQ(server->calls[0].settings.ftpHost, QString("ftp.example.org"));
    EXPECT_FALSE(view->isUploadInFlight());
    EXPECT_TRUE(view->serverBanner()->isVisibleTo(view));
    EXPECT_EQ(view->serverBanner()->message(), QString("Ошибка загрузки на сервер. Проверьте настройки подключения."));
    EXPECT_EQ(view->serverBanner()->hint(), QString("Нажмите «Скопировать» для получения технической информации"));
    view->serverBanner()->closeButton()->click();
    EXPECT_FALSE(server->lastError());
    EXPECT_FALSE(view->serverBanner()->isVisibleTo(view));

    // The same refusal again shows again.
    post("ssh");
    EXPECT_TRUE(view->serverBanner()->isVisibleTo(view));
    server->setLastError(std::nullopt);

    server->refuseWith.reset();
    post("ssh");
    EXPECT_TRUE(view->isUploadIndicatorShown());
    server->fail("curl: (7) Failed to connect: Connection refused");
    EXPECT_EQ(view->serverBanner()->message(), QString("Не удалось подключиться к серверу. Проверьте адрес и порт."));
    EXPECT_FALSE(view->isUploadIndicatorShown());
    EXPECT_TRUE(history->screenshots().isEmpty());

    post("ssh");
    EXPECT_FALSE(view->serverBanner()->isVisibleTo(view)); // a new upload clears the error
    server->succeed("https://files.example.org/shots/screenshot_1.png");
    EXPECT_EQ(linkOfNewest(), QString("https://files.example.org/shots/screenshot_1.png"));
    ASSERT_TRUE(ToastManager::shared().currentToast());
    EXPECT_EQ(ToastManager::shared().currentToast()->message, QString("Загружено"));
    EXPECT_EQ(ToastManager::shared().currentToast()->icon, QString("checkmark.circle.fill"));
    EXPECT_TRUE(test::waitUntil([&] { return !controller->isShowingPreview(); }, 3s));
}

TEST_F(PreviewView, UnsupportedProvidersOnlyToast)
{
    const struct {
        const char* action;
        const char* message;
    } cases[] = {
        {"dropbox", "Dropbox пока не поддерживается"},
        {"gdrive", "Google Drive пока не поддерживается"},
        {"webdav", "WebDAV пока не поддерживается"},
    };
    ScreenshotPreviewView* view = open();
    for (const auto& c : cases) {
        post(c.action);
        ASSERT_TRUE(ToastManager::shared().currentToast()) << c.action;
        EXPECT_EQ(ToastManager::shared().currentToast()->message, QString(c.message));
        EXPECT_EQ(ToastManager::shared().currentToast()->icon, QString("exclamationmark.triangle"));
        EXPECT_EQ(ToastManager::shared().currentToast()->type, ToastType::warning);
        EXPECT_NEAR(ToastManager::shared().remainingMilliseconds(), 2000, 200);
    }
    EXPECT_FALSE(view->saveError());
    EXPECT_TRUE(history->screenshots().isEmpty());
    EXPECT_TRUE(controller->isShowingPreview());

    // Without their uploaders, own server and Yandex Disk answer the same way.
    controller->setUploadServices({});
    view = open();
    post("ssh");
    EXPECT_EQ(ToastManager::shared().currentToast()->message, QString("SSH/SFTP пока не поддерживается"));
    post("yandex");
    EXPECT_EQ(ToastManager::shared().currentToast()->message, QString("Яндекс.Диск пока не поддерживается"));
}

TEST_F(PreviewView, UnknownOrMalformedActionsDoNothing)
{
    open();
    fake.account.setIsAuthenticated(true);
    post("Save");
    post("");
    post(QVariantMap{});
    post(QVariantMap{{"action", 42}});
    post(QVariantMap{{"verb", "save"}});
    EXPECT_TRUE(panel->asked.isEmpty());
    EXPECT_TRUE(fake.cloud.calls.isEmpty());
    EXPECT_TRUE(history->screenshots().isEmpty());
    EXPECT_TRUE(controller->isShowingPreview());
}

TEST_F(PreviewView, AClosedWindowNoLongerTakesActions)
{
    open();
    QPointer<QWidget> window = controller->window();
    window->close(); // title bar: the window is kept
    post("done");
    EXPECT_TRUE(history->screenshots().isEmpty());
}
