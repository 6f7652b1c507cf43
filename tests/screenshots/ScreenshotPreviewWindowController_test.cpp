// The preview controller on the offscreen platform: sizing, the tool bar and its upload item, the
// provider choice, and the window's life.
#include "screenshots/ScreenshotPreviewWindowController.h"

#include "app/AppState.h"
#include "platform/Application.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "screenshots/ImageEditorCanvas.h"
#include "screenshots/ImageEditorModel.h"
#include "screenshots/ImageEditorToolbar.h"
#include "screenshots/ImageEditorView.h"
#include "screenshots/ScreenshotHistoryManager.h"
#include "screenshots/ScreenshotPreviewView.h"
#include "screenshots/ScreenshotToolbar.h"
#include "support/StdoutTap.h"

#include "EditorFixtures.h"
#include "PreviewFakes.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;

namespace {

// Every "action" posted as screenshotAction while it lives, with the last-used provider as stored
// at the moment of delivery.
class ActionRecorder {
public:
    explicit ActionRecorder(AppState& state)
    {
        m_token = platform::NotificationCenter::defaultCenter().addObserver(
            "screenshotAction", &m_context, [this, &state](const platform::Notification& n) {
                actions.append(n.userInfo.value("action").toString());
                storedInSettings.append(UploadProviders::rawValue(state.serverSettings().lastUsedUploadProvider));
                storedInDefaults.append(platform::UserDefaults::standard().string("lastUsedUploadProvider").value_or("<none>"));
            });
    }
    ~ActionRecorder() { platform::NotificationCenter::defaultCenter().removeObserver(m_token); }
    QStringList actions, storedInSettings, storedInDefaults;

private:
    QObject m_context;
    platform::NotificationCenter::Token m_token = 0;
};

class PreviewController : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        platform::UserDefaults::standard().remove("lastUsedUploadProvider");
        history = std::make_unique<ScreenshotHistoryManager>(ScreenshotHistoryManager::Environment{dir.path() + "/history", {}, {}});
        controller = std::make_unique<ScreenshotPreviewWindowController>(&state, history.get(), RecentCapturesRefresher());
        controller->setViewEnvironment({{}, std::make_shared<fakes::SavePanel>()});
    }
    void TearDown() override
    {
        controller->closeWindow();
        test::spin(10ms);
    }
    void configure(bool signedIn, const QString& host, const QString& yandexToken, UploadProvider lastUsed,
                   bool withServer = true, bool withDrive = true)
    {
        fake.account.setIsAuthenticated(signedIn);
        ServerSettings settings = state.serverSettings();
        settings.ftpHost = host;
        settings.yandexAccessToken = yandexToken;
        settings.lastUsedUploadProvider = lastUsed;
        state.setServerSettings(settings);
        controller->setUploadServices(fake.services(withServer, withDrive));
    }
    // Opens a preview and returns its tool bar's upload item.
    QWidget* openWithUploadItem()
    {
        controller->showPreview(fixtures::noise(200, 100));
        return controller->toolbar() ? controller->toolbar()->item("upload") : nullptr;
    }

    QTemporaryDir dir;
    AppState state;
    fakes::Services fake;
    std::unique_ptr<ScreenshotHistoryManager> history;
    std::unique_ptr<ScreenshotPreviewWindowController> controller;
};

} // namespace

TEST(PreviewControllerSizing, ShrinksOnlyToFitTheVisibleAreaAndKeepsTheBarsWidth)
{
    // Bars 700 wide and 92 high; the window manager's frame takes 16 x 48 of the visible area.
    const QSizeF chrome(700, 92);
    const struct {
        QSizeF image;
        std::optional<QRectF> visibleFrame;
        QSizeF content;
    } cases[] = {
        // Bounds 1424 x 735: the height limits, scale 0.3675.
        {{3000, 2000}, QRectF(0, 25, 1440, 875), {1102.5, 827}},
        // Fits: its own size, not the 70 % of the screen.
        {{1400, 700}, QRectF(0, 25, 1440, 875), {1400, 792}},
        // Narrower than the bars: the bars' width, the picture unscaled.
        {{200, 100}, QRectF(0, 25, 1440, 875), {700, 192}},
        // No screen: 1344 x 688 bounds, the width limits (0.672).
        {{2000, 1000}, std::nullopt, {1344, 764}},
        {{1000, 2000}, std::nullopt, {700, 780}},
    };
    for (const auto& c : cases) {
        const QSizeF got = ScreenshotPreviewWindowController::contentSize(c.image, c.visibleFrame, chrome);
        EXPECT_DOUBLE_EQ(got.width(), c.content.width()) << c.image.width() << "x" << c.image.height();
        EXPECT_DOUBLE_EQ(got.height(), c.content.height()) << c.image.width() << "x" << c.image.height();
    }
    EXPECT_EQ(ScreenshotPreviewWindowController::windowTitle({1512.9, 982.2}), QString("Скриншот — 1512×982"));
}

TEST_F(PreviewController, WindowIsSizedTitledAndSwitchesThePolicy)
{
    platform::Application::shared().setActivationPolicy(platform::ActivationPolicy::accessory);
    // 400 x 200 pixels at a device pixel ratio of 2: 200 x 100 points.
    controller->showPreview(fixtures::noise(400, 200, 1, 2.0));
    QWidget* window = controller->window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(controller->isShowingPreview());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QString("Скриншот — 200×100"));
    // As wide as its bars need, as high as the picture and the bars: the picture at its own size,
    // centred.
    EXPECT_GT(window->minimumWidth(), 300);
    EXPECT_EQ(window->width(), window->minimumWidth());
    const QSize canvas = controller->view()->editor()->canvas()->size();
    // The window is at least 200 high: the picture sits in the middle of a canvas a little higher.
    const int bars = controller->toolbar()->height() + controller->view()->editor()->toolbar()->height();
    EXPECT_EQ(window->height(), std::max(200, 100 + bars));
    EXPECT_EQ(canvas.height(), window->height() - bars);
    const auto fit = ImageEditorModel::aspectFit(canvas, {200, 100});
    EXPECT_DOUBLE_EQ(fit.scale, 1.0);
    EXPECT_EQ(fit.offset, QPointF((canvas.width() - 200) / 2.0, (canvas.height() - 100) / 2.0));
    EXPECT_EQ(platform::Application::shared().activationPolicy(), platform::ActivationPolicy::regular);
    // The screenshot state is set for the editor.
    EXPECT_TRUE(state.isEditing());
    EXPECT_EQ(state.capturedImage().size(), QSize(400, 200));
    EXPECT_TRUE(state.annotations().isEmpty());

    controller->closeWindow();
    EXPECT_FALSE(controller->window());
    EXPECT_FALSE(controller->isShowingPreview());
    EXPECT_FALSE(state.isEditing());
    EXPECT_TRUE(state.capturedImage().isNull());
    EXPECT_EQ(platform::Application::shared().activationPolicy(), platform::ActivationPolicy::accessory);
}

TEST_F(PreviewController, ToolbarItemsInOrderWithTheirTexts)
{
    controller->showPreview(fixtures::noise(200, 100));
    ScreenshotToolbar* bar = controller->toolbar();
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->objectName(), QString("ScreenshotToolbar"));
    EXPECT_EQ(bar->itemIdentifiers(), QStringList({"save", "copy", "space", "upload", "flexibleSpace", "done"}));
    const struct {
        const char* id;
        const char* label;
        const char* toolTip;
    } items[] = {
        {"save", "Сохранить", "Сохранить скриншот на диск (Ctrl+S)"},
        {"copy", "Копировать", "Копировать изображение в буфер обмена (Ctrl+C)"},
        {"done", "Готово", "Сохранить в историю и закрыть (Enter)"},
    };
    for (const auto& item : items) {
        auto* button = qobject_cast<QToolButton*>(bar->item(item.id));
        ASSERT_TRUE(button) << item.id;
        EXPECT_EQ(button->accessibleName(), QString(item.label));
        EXPECT_EQ(button->toolTip(), QString(item.toolTip));
        EXPECT_FALSE(button->icon().isNull()) << item.id;
        EXPECT_TRUE(button->shortcut().isEmpty());
    }
    EXPECT_EQ(controller->toolbarItem("bogus"), nullptr);
    EXPECT_EQ(ScreenshotPreviewWindowController::toolbarAllowedItemIdentifiers(),
              QStringList({"save", "copy", "upload", "done", "space", "flexibleSpace"}));

    ActionRecorder recorder(state);
    for (const char* id : {"save", "copy"})
        qobject_cast<QToolButton*>(bar->item(id))->click();
    EXPECT_EQ(recorder.actions, QStringList({"save", "copy"}));
}

TEST_F(PreviewController, OfferedProvidersFollowSignInSettingsAndAvailableUploaders)
{
    const struct {
        bool signedIn;
        QString host, token;
        bool withServer, withDrive;
        QString dropbox, webdav;
        QList<UploadProvider> expected;
    } cases[] = {
        {false, "", "", true, true, "", "", {}},
        {true, "", "", true, true, "", "", {UploadProvider::kestrovaCloud}},
        {true, "ftp.example.org", "tok", true, true, "", "",
         {UploadProvider::kestrovaCloud, UploadProvider::ssh, UploadProvider::yandexDisk}},
        // A host of one space counts: nothing is trimmed.
        {false, " ", "", true, true, "", "", {UploadProvider::ssh}},
        {false, "h", "t", true, true, "x", "https://dav", {UploadProvider::ssh, UploadProvider::yandexDisk,
                                                            UploadProvider::dropbox, UploadProvider::webdav}},
        // Without its uploader a provider is not offered.
        {true, "h", "t", false, false, "", "", {UploadProvider::kestrovaCloud}},
    };
    for (const auto& c : cases) {
        configure(c.signedIn, c.host, c.token, UploadProvider::kestrovaCloud, c.withServer, c.withDrive);
        ServerSettings settings = state.serverSettings();
        settings.dropboxAccessToken = c.dropbox;
        settings.webdavURL = c.webdav;
        state.setServerSettings(settings);
        EXPECT_EQ(controller->getAvailableProviders(), c.expected) << c.host.toStdString() << "/" << c.token.toStdString();
    }
}

TEST_F(PreviewController, UploadItemWithoutProvidersIsDisabled)
{
    configure(false, "", "", UploadProvider::kestrovaCloud);
    auto* item = qobject_cast<QToolButton*>(openWithUploadItem());
    ASSERT_TRUE(item);
    EXPECT_FALSE(item->isEnabled());
    EXPECT_EQ(item->accessibleName(), QString("Загрузить"));
    EXPECT_EQ(item->toolTip(), QString("Настройте провайдер загрузки в настройках"));
    EXPECT_FALSE(item->icon().isNull()); // icloud.slash
}

TEST_F(PreviewController, SingleProviderButtonUploadsThereAndRemembersIt)
{
    configure(false, "ftp.example.org", "", UploadProvider::kestrovaCloud);
    auto* button = qobject_cast<QPushButton*>(openWithUploadItem());
    ASSERT_TRUE(button);
    EXPECT_EQ(button->text(), QString("Загрузить"));
    EXPECT_EQ(button->toolTip(), QString("Загрузить в SSH/SFTP (Ctrl+U)"));
    EXPECT_EQ(button->minimumSize(), QSize(110, 28));
    EXPECT_EQ(button->maximumSize(), QSize(120, 28));
    EXPECT_FALSE(button->icon().isNull());

    ActionRecorder recorder(state);
    button->click();
    EXPECT_EQ(recorder.actions, QStringList({"ssh"}));
    // Stored in the settings and the user defaults before the notification went out.
    EXPECT_EQ(recorder.storedInSettings, QStringList({"ssh"}));
    EXPECT_EQ(recorder.storedInDefaults, QStringList({"ssh"}));
}

TEST_F(PreviewController, SplitButtonShowsTheLastUsedProviderAndChecksItInTheMenu)
{
    configure(true, "ftp.example.org", "token", UploadProvider::yandexDisk);
    QWidget* split = openWithUploadItem();
    ASSERT_TRUE(split);
    EXPECT_EQ(split->size(), QSize(130, 28));
    auto* main = split->findChild<QPushButton*>("uploadMain");
    auto* arrow = split->findChild<QPushButton*>("uploadArrow");
    ASSERT_TRUE(main && arrow);
    EXPECT_EQ(main->geometry(), QRect(0, 0, 105, 28));
    EXPECT_EQ(arrow->geometry(), QRect(105, 0, 25, 28));
    EXPECT_EQ(main->toolTip(), QString("Загрузить в Яндекс.Диск (Ctrl+U)"));
    EXPECT_EQ(arrow->toolTip(), QString("Выбрать хранилище"));

    auto* menu = qobject_cast<QMenu*>(arrow->property("dropdownMenu").value<QObject*>());
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->parent(), arrow);
    QStringList titles, checked;
    for (QAction* action : menu->actions()) {
        titles.append(action->text());
        if (action->isChecked())
            checked.append(action->text());
        EXPECT_TRUE(action->shortcut().isEmpty());
        EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();
    }
    EXPECT_EQ(titles, QStringList({"Kestrova Cloud", "SSH/SFTP", "Яндекс.Диск"}));
    EXPECT_EQ(checked, QStringList({"Яндекс.Диск"}));

    ActionRecorder recorder(state);
    main->click();
    EXPECT_EQ(recorder.actions, QStringList({"yandex"}));
    EXPECT_EQ(recorder.storedInDefaults, QStringList({"<none>"})); // the main part stores nothing

    controller->showProviderMenu(arrow);
    EXPECT_TRUE(test::waitUntil([&] { return menu->isVisible(); }, 1s));
    EXPECT_EQ(menu->pos(), arrow->mapToGlobal(QPoint(0, arrow->height() + 2)));
    menu->hide();
}

TEST_F(PreviewController, SplitButtonUploadsWhereItShowsAndFollowsTheLastUsedProvider)
{
    // Signed out, the stored default (the cloud) is not offered: the button shows the first offered.
    configure(false, "ftp.example.org", "token", UploadProvider::kestrovaCloud);
    QWidget* split = openWithUploadItem();
    ASSERT_TRUE(split);
    auto* main = split->findChild<QPushButton*>("uploadMain");
    auto* menu = controller->providerMenu();
    ASSERT_TRUE(main && menu);
    EXPECT_EQ(main->toolTip(), QString("Загрузить в SSH/SFTP (Ctrl+U)"));

    ActionRecorder recorder(state);
    main->click();
    EXPECT_EQ(recorder.actions.last(), QString("ssh")); // not the cloud it does not show

    // Choosing Yandex in the menu stores it first, and the button changes with it.
    menu->actions().at(1)->trigger();
    EXPECT_EQ(recorder.actions.last(), QString("yandex"));
    EXPECT_EQ(recorder.storedInSettings.last(), QString("yandex"));
    EXPECT_EQ(recorder.storedInDefaults.last(), QString("yandex"));
    EXPECT_EQ(main->toolTip(), QString("Загрузить в Яндекс.Диск (Ctrl+U)"));
    EXPECT_TRUE(menu->actions().at(1)->isChecked());
    EXPECT_FALSE(menu->actions().at(0)->isChecked());
    main->click();
    EXPECT_EQ(recorder.actions.last(), QString("yandex"));

    // A change made elsewhere is followed too.
    state.setLastUsedUploadProvider(UploadProvider::ssh);
    EXPECT_EQ(main->toolTip(), QString("Загрузить в SSH/SFTP (Ctrl+U)"));
    main->click();
    EXPECT_EQ(recorder.actions.last(), QString("ssh"));
}

TEST_F(PreviewController, ProviderActionsStoreThenPost)
{
    ActionRecorder recorder(state);
    controller->uploadDropbox();
    controller->uploadGoogleDrive();
    controller->uploadWebDAV();
    controller->uploadToKestrova();
    controller->done();
    EXPECT_EQ(recorder.actions, QStringList({"dropbox", "gdrive", "webdav", "kestrova", "done"}));
    EXPECT_EQ(recorder.storedInSettings, QStringList({"dropbox", "gdrive", "webdav", "kestrova", "kestrova"}));
    EXPECT_EQ(recorder.storedInDefaults, QStringList({"dropbox", "gdrive", "webdav", "kestrova", "kestrova"}));
}

TEST_F(PreviewController, ShowingWhileOpenReplacesTheWindowAfterFiftyMilliseconds)
{
    test::StdoutTap console;
    controller->showPreview(fixtures::noise(200, 100, 1));
    QPointer<QWidget> first = controller->window();
    ASSERT_TRUE(first);
    controller->showPreview(fixtures::noise(300, 100, 2));
    EXPECT_TRUE(console.lines().contains(
        "ScreenshotPreviewWindowController: Force closing existing preview window before creating new one"));
    // Closed at once; the new one comes a little later.
    EXPECT_FALSE(controller->window());
    EXPECT_FALSE(first && first->isVisible());
    ASSERT_TRUE(test::waitUntil([&] { return controller->window() != nullptr; }, 1s));
    EXPECT_EQ(controller->window()->windowTitle(), QString("Скриншот — 300×100"));
    fakes::runDeferredDeletes();
    EXPECT_FALSE(first); // the old window is gone

    // A title-bar close keeps the window until the next preview replaces it.
    QPointer<QWidget> second = controller->window();
    second->close();
    EXPECT_FALSE(controller->isShowingPreview());
    EXPECT_EQ(controller->window(), second.data());
    EXPECT_EQ(platform::Application::shared().activationPolicy(), platform::ActivationPolicy::accessory);
    controller->showPreview(fixtures::noise(100, 100, 3));
    EXPECT_FALSE(controller->window());
    ASSERT_TRUE(test::waitUntil([&] { return controller->window() != nullptr; }, 1s));
    EXPECT_EQ(controller->window()->windowTitle(), QString("Скриншот — 100×100"));
}

TEST_F(PreviewController, AReplacementStillWaitingIsDroppedByACloseOrANewerPreview)
{
    controller->showPreview(fixtures::noise(200, 100, 1));
    controller->showPreview(fixtures::noise(300, 100, 2)); // replacing: waits 0.05 s
    controller->closeWindow();                               // e.g. the next capture starts
    test::spin(150ms);
    EXPECT_FALSE(controller->window());

    controller->showPreview(fixtures::noise(200, 100, 1));
    controller->showPreview(fixtures::noise(300, 100, 2)); // waits
    controller->showPreview(fixtures::noise(400, 100, 3)); // idle now: opens at once
    ASSERT_TRUE(controller->window());
    QPointer<QWidget> newest = controller->window();
    test::spin(150ms);
    EXPECT_EQ(controller->window(), newest.data());
    EXPECT_EQ(newest->windowTitle(), QString("Скриншот — 400×100"));
    int previews = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        previews += widget->objectName() == "ScreenshotPreviewWindow" && widget->isVisible();
    EXPECT_EQ(previews, 1);
}

TEST_F(PreviewController, CloseWithNothingOpenStillReturnsToAccessory)
{
    platform::Application::shared().setActivationPolicy(platform::ActivationPolicy::regular);
    test::StdoutTap console;
    controller->closeWindow();
    EXPECT_TRUE(console.lines().contains("ScreenshotPreviewWindowController: closeWindow() called, isShowingPreview=false, window=false"));
    EXPECT_EQ(platform::Application::shared().activationPolicy(), platform::ActivationPolicy::accessory);
}
