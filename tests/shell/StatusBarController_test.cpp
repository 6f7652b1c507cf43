// The tray menu against a real capture history in a temporary folder, on the offscreen platform:
// titles, recent captures and what their actions do to the files, the clipboard and the browser.
#include "shell/StatusBarController.h"

#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "app/HotKeyManager.h"
#include "app/Localization.h"
#include "shell/SettingsWindowController.h"
#include "cloud/APIClient.h"
#include "platform/Application.h"
#include "platform/ImageAssets.h"
#include "platform/NotificationCenter.h"
#include "screenshots/ScreenshotHistoryManager.h"
#include "support/DebugLogText.h"
#include "support/TestSupport.h"
#include "video/VideoPreviewWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// Stands in for the browser and the desktop's file opener.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher()
    {
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlCatcher() override
    {
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

QImage solid(const QColor& color, QSize size = QSize(40, 20))
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

QStringList titles(const QMenu* menu)
{
    QStringList result;
    for (const QAction* action : menu->actions())
        result.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return result;
}

QAction* find(const QMenu* menu, const QString& title)
{
    for (QAction* action : menu->actions())
        if (action->text() == title)
            return action;
    return nullptr;
}

QString logText()
{
    return test::debugLogText();
}

const QString cloud = QString::fromUtf8("\xE2\x98\x81\xEF\xB8\x8F ");

class StatusMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        StatusBarController::setTrayAvailabilityProbeForTesting([] { return true; });
        ScreenshotHistoryManager::Environment environment;
        environment.directory = folder.path();
        // A second apart, so every file gets its own name and the order is certain.
        environment.now = [this] { return clock = clock.addSecs(1); };
        history = std::make_unique<ScreenshotHistoryManager>(environment);
        controller = std::make_unique<StatusBarController>(&appState);
        controller->historyManager = history.get();
    }
    void TearDown() override
    {
        controller.reset();
        StatusBarController::setTrayAvailabilityProbeForTesting({});
        platform::Application::shared().setActivationPolicy(platform::ActivationPolicy::accessory);
    }
    void refresh() { controller->updateRecentScreenshots(history->screenshots()); }
    QMenu* recent() const { return find(controller->menu(), "Последние скриншоты")->menu(); }
    // The item of the entry at `row` of the recent-captures submenu, and its own submenu.
    QAction* entryItem(int row) const { return recent()->actions().at(row); }
    QAction* entryAction(int row, const QString& title) const { return find(entryItem(row)->menu(), title); }

    QTemporaryDir folder;
    QDateTime clock = QDateTime(QDate(2024, 5, 1), QTime(14, 5));
    AppState appState;
    std::unique_ptr<ScreenshotHistoryManager> history;
    std::unique_ptr<StatusBarController> controller;
};

} // namespace

TEST_F(StatusMenu, TitlesShowTheStoredHotKeys)
{
    struct Case {
        QString area, full, recording;
        QStringList capture; // the screenshot submenu
        QString recordingTitle;
    };
    const Case cases[] = {
        {"", "", "", {"Выбранная область", "Весь экран"}, "Запись экрана"},
        {"cmd+shift+4", "", "ctrl+alt+r", {"Выбранная область (Super+Shift+4)", "Весь экран"}, "Запись экрана (Ctrl+Alt+R)"},
        {"ctrl+shift+a", "cmd+shift+f", "alt+space",
         {"Выбранная область (Ctrl+Shift+A)", "Весь экран (Super+Shift+F)"}, "Запись экрана (Alt+Space)"},
        // Shown even when it would not register.
        {"", "f13", "", {"Выбранная область", "Весь экран (F13)"}, "Запись экрана"},
    };
    for (const Case& c : cases) {
        ServerSettings settings = appState.serverSettings();
        settings.screenshotHotkey = c.area;
        settings.fullScreenHotkey = c.full;
        settings.screenRecordingHotkey = c.recording;
        appState.setServerSettings(settings);
        const std::unique_ptr<QMenu> menu = controller->createMenu();
        EXPECT_EQ(titles(menu.get()), (QStringList{"Скриншот", "-", c.recordingTitle, "-", "Последние скриншоты", "-",
                                                   "Настройки", "-", "Выход"}));
        EXPECT_EQ(titles(find(menu.get(), "Скриншот")->menu()), c.capture);
        // Fresh from createMenu: no captures listed, not even the placeholder.
        EXPECT_TRUE(find(menu.get(), "Последние скриншоты")->menu()->actions().isEmpty());
        EXPECT_EQ(find(menu.get(), "Настройки")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
        EXPECT_EQ(find(menu.get(), "Выход")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    }
}

TEST_F(StatusMenu, CaptureItemsPostTheHotKeyNotificationsAndSettingsOpensTheHost)
{
    auto& center = platform::NotificationCenter::defaultCenter();
    QStringList posted;
    QObject context;
    for (const QString& name : {NotificationName::captureScreenHotKey, NotificationName::captureFullScreenHotKey,
                                NotificationName::startScreenRecordingHotKey})
        center.addObserver(name, &context, [&posted, name](const platform::Notification& n) {
            EXPECT_TRUE(n.userInfo.isEmpty());
            posted.append(name);
        });
    QMenu* menu = controller->menu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(controller->statusItem()->contextMenu(), menu);
    find(find(menu, "Скриншот")->menu(), "Выбранная область")->trigger();
    find(find(menu, "Скриншот")->menu(), "Весь экран")->trigger();
    find(menu, "Запись экрана")->trigger();
    test::spin(20ms);
    EXPECT_EQ(posted, (QStringList{"captureScreenHotKey", "captureFullScreenHotKey", "startScreenRecordingHotKey"}));

    find(menu, "Настройки")->trigger();
    QWidget* window = controller->settingsWindowController()->window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    window->close();
}

TEST_F(StatusMenu, RecentCapturesNewestFirstWithTheirActions)
{
    L::setLanguageForTesting(AppLanguage::en); // as under the tests' C locale
    refresh();
    ASSERT_EQ(recent()->actions().size(), 1);
    QAction* placeholder = recent()->actions().first();
    EXPECT_EQ(placeholder->text(), "Здесь появятся ваши последние скриншоты");
    EXPECT_FALSE(placeholder->isEnabled());
    EXPECT_EQ(placeholder->menu(), nullptr);

    ASSERT_TRUE(history->addScreenshot(solid(Qt::red)));                        // oldest, no link
    ASSERT_TRUE(history->addScreenshot(solid(Qt::green), QString()));           // link file was empty
    ASSERT_TRUE(history->addScreenshot(solid(Qt::blue), "https://k.example/c")); // newest, uploaded
    refresh();
    const QList<QAction*> items = recent()->actions();
    ASSERT_EQ(items.size(), 3);
    const QList<Screenshot>& entries = history->screenshots();
    const QStringList five{"Открыть", "Копировать", "Копировать ссылку", "Show in Folder", "-", "Удалить"};
    const QStringList four{"Открыть", "Копировать", "Show in Folder", "-", "Удалить"};
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        QAction* item = items[row];
        EXPECT_EQ(item->property("tag").toInt(), row);
        EXPECT_EQ(item->data().value<QUuid>(), entries[row].id);
        const bool linked = row < 2;
        EXPECT_EQ(item->text(), (linked ? cloud : QString()) + entries[row].displayName());
        EXPECT_FALSE(item->icon().isNull());
        ASSERT_TRUE(item->menu());
        EXPECT_EQ(titles(item->menu()), linked ? five : four);
        for (QAction* action : item->menu()->actions()) {
            if (!action->isSeparator()) {
                EXPECT_EQ(action->property("tag").toInt(), row);
            }
        }
    }
    EXPECT_TRUE(items[0]->text().startsWith(cloud));
    // The thumbnails are drawn at 32 points.
    EXPECT_EQ(recent()->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, recent()), 32);
}

// The reveal item names no other desktop's file manager, in either language.
TEST_F(StatusMenu, TheRevealItemNamesTheFolder)
{
    ASSERT_TRUE(history->addScreenshot(solid(Qt::red)));
    const struct {
        AppLanguage language;
        const char* title;
    } cases[] = {{AppLanguage::ru, "Показать в папке"}, {AppLanguage::en, "Show in Folder"}};
    for (const auto& c : cases) {
        L::setLanguageForTesting(c.language);
        refresh();
        EXPECT_EQ(titles(entryItem(0)->menu()), (QStringList{"Открыть", "Копировать", QString::fromUtf8(c.title), "-", "Удалить"}));
    }
}

TEST_F(StatusMenu, EntryActionsOpenCopyAndDelete)
{
    UrlCatcher catcher;
    ASSERT_TRUE(history->addScreenshot(solid(Qt::red), "javascript:alert(1)")); // row 3
    ASSERT_TRUE(history->addScreenshot(solid(Qt::yellow)));                     // row 2
    ASSERT_TRUE(history->addScreenshot(solid(Qt::green), QString()));           // row 1
    ASSERT_TRUE(history->addScreenshot(solid(Qt::blue), "https://k.example/c")); // row 0
    refresh();
    const QList<Screenshot> entries = history->screenshots();
    QClipboard* clipboard = QGuiApplication::clipboard();

    // Open: the uploaded one in the browser; the others as files, a link of another scheme too.
    for (int row : {0, 1, 2, 3})
        entryAction(row, "Открыть")->trigger();
    ASSERT_EQ(catcher.urls.size(), 4);
    EXPECT_EQ(catcher.urls[0], QUrl("https://k.example/c"));
    EXPECT_EQ(catcher.urls[1], QUrl::fromLocalFile(*entries[1].filePath));
    EXPECT_EQ(catcher.urls[2], QUrl::fromLocalFile(*entries[2].filePath));
    EXPECT_EQ(catcher.urls[3], QUrl::fromLocalFile(*entries[3].filePath));

    // Copy: the picture read from its file.
    entryAction(0, "Копировать")->trigger();
    EXPECT_EQ(clipboard->image().pixelColor(5, 5), QColor(Qt::blue));
    // Copy link, also an empty one.
    entryAction(0, "Копировать ссылку")->trigger();
    EXPECT_EQ(clipboard->text(), "https://k.example/c");
    entryAction(1, "Копировать ссылку")->trigger();
    EXPECT_TRUE(clipboard->text().isEmpty());
    EXPECT_TRUE(clipboard->image().isNull());

    // Delete: the entry, its picture and its link file go; the list is rebuilt once the action is done.
    const QString png = *entries[0].filePath;
    ASSERT_TRUE(QFile::exists(ScreenshotHistoryManager::linkFilePath(png)));
    entryAction(0, "Удалить")->trigger();
    EXPECT_FALSE(QFile::exists(png));
    EXPECT_FALSE(QFile::exists(ScreenshotHistoryManager::linkFilePath(png)));
    ASSERT_EQ(history->screenshots().size(), 3);
    ASSERT_TRUE(test::waitUntil([&] { return recent()->actions().size() == 3; }, 1s));
    EXPECT_EQ(entryItem(0)->data().value<QUuid>(), entries[1].id);
    EXPECT_TRUE(QFile::exists(*entries[1].filePath));
}

TEST_F(StatusMenu, AMenuBuiltBeforeAChangeActsOnItsOwnEntry)
{
    ASSERT_TRUE(history->addScreenshot(solid(Qt::red)));
    ASSERT_TRUE(history->addScreenshot(solid(Qt::blue)));
    refresh();
    const Screenshot shown = history->screenshots()[0];
    QAction* staleDelete = entryAction(0, "Удалить");
    QAction* staleCopy = entryAction(1, "Копировать");

    // A new capture arrives while the menu still lists the old ones at their old places.
    ASSERT_TRUE(history->addScreenshot(solid(Qt::green)));
    const Screenshot newest = history->screenshots()[0];
    staleDelete->trigger();
    ASSERT_EQ(history->screenshots().size(), 2);
    EXPECT_EQ(history->screenshots()[0].id, newest.id);
    EXPECT_TRUE(QFile::exists(*newest.filePath));
    EXPECT_FALSE(QFile::exists(*shown.filePath));
    staleCopy->trigger(); // the red one, though index 1 now holds another
    EXPECT_EQ(QGuiApplication::clipboard()->image().pixelColor(1, 1), QColor(Qt::red));

    // An entry that is gone by now: nothing happens.
    test::spin(20ms);
    refresh();
    QAction* gone = entryAction(0, "Удалить");
    history->removeScreenshot(history->screenshots()[0]);
    const int before = history->screenshots().size();
    gone->trigger();
    EXPECT_EQ(history->screenshots().size(), before);
}

TEST_F(StatusMenu, DeletingTheLastEntryLeavesThePlaceholder)
{
    ASSERT_TRUE(history->addScreenshot(solid(Qt::red)));
    refresh();
    const QString png = *history->screenshots()[0].filePath;
    // Chosen in the open menu, which goes on using the item and its submenu after the action.
    QPointer<QMenu> actions = entryItem(0)->menu();
    QPointer<QAction> remove = entryAction(0, "Удалить");
    actions->popup(QPoint(100, 100));
    ASSERT_TRUE(test::waitUntil([&] { return actions->isVisible(); }, 1s));
    actions->setActiveAction(remove);
    QTest::keyClick(actions, Qt::Key_Return);
    EXPECT_FALSE(QFile::exists(png));
    EXPECT_TRUE(remove); // still alive right after its own action
    ASSERT_TRUE(test::waitUntil([&] { return recent()->actions().size() == 1 && !recent()->actions()[0]->menu(); }, 1s));
    EXPECT_EQ(recent()->actions()[0]->text(), "Здесь появятся ваши последние скриншоты");
    EXPECT_TRUE(test::waitUntil([&] { return remove.isNull(); }, 1s));
}

TEST_F(StatusMenu, RecordingEntries)
{
    // The preview asks the cloud account; its client talks to a dead local port.
    APIClient::setSharedServiceRootForTesting(QStringLiteral("http://127.0.0.1:1"));
    UrlCatcher catcher;
    const QString video = folder.path() + "/clip.mp4";
    const auto made = test::run("/usr/bin/ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "color=c=red:s=64x48:r=20:d=0.5",
                                                    "-c:v", "libx264", "-pix_fmt", "yuv420p", video});
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    ASSERT_TRUE(history->addVideo(video));
    ASSERT_TRUE(history->addVideo(video, "https://k.example/v"));
    refresh();
    ASSERT_EQ(recent()->actions().size(), 2);
    EXPECT_TRUE(entryItem(0)->text().startsWith(cloud + "Видео "));
    EXPECT_TRUE(entryItem(1)->text().startsWith("Видео "));

    // With a link: the browser. Without: the video preview, with the recording's file.
    entryAction(0, "Открыть")->trigger();
    entryAction(1, "Открыть")->trigger();
    EXPECT_EQ(catcher.urls, (QList<QUrl>{QUrl("https://k.example/v")}));
    QPointer<VideoPreviewWindow> preview;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<VideoPreviewWindow*>(widget); window && window->videoURL() == video)
            preview = window;
    ASSERT_TRUE(preview);
    EXPECT_TRUE(preview->isVisible());
    EXPECT_TRUE(logText().contains("VideoPreviewWindow: init called with URL: " + video));
    // Nobody keeps it: closed, it goes.
    preview->close();
    EXPECT_TRUE(test::waitUntil([&] { return preview.isNull(); }, 2s));

    // A recording has no picture file to copy.
    QGuiApplication::clipboard()->setText("before");
    entryAction(1, "Копировать")->trigger();
    EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());
    EXPECT_TRUE(QGuiApplication::clipboard()->image().isNull());
    // Deleting a recording leaves its file.
    entryAction(1, "Удалить")->trigger();
    EXPECT_EQ(history->screenshots().size(), 1);
    EXPECT_TRUE(QFile::exists(video));
}

TEST_F(StatusMenu, AReplacedMenuKeepsTheRecentCaptures)
{
    ASSERT_TRUE(history->addScreenshot(solid(Qt::red)));
    refresh();
    QPointer<QMenu> old = controller->menu();
    ServerSettings settings = appState.serverSettings();
    settings.screenshotHotkey = "cmd+shift+4";
    appState.setServerSettings(settings);
    controller->setMenu(controller->createMenu());
    refresh();
    EXPECT_EQ(controller->statusItem()->contextMenu(), controller->menu());
    EXPECT_EQ(titles(find(controller->menu(), "Скриншот")->menu()).first(), "Выбранная область (Super+Shift+4)");
    EXPECT_EQ(recent()->actions().size(), 1);
    // Discarded once idle (deferred deletions posted from here run when asked for).
    EXPECT_TRUE(old);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(old.isNull());
}

TEST(StatusMenuThumbnail, FitsTheWholePictureInto32Points)
{
    struct Case {
        QSize source;
        QRect drawn; // in points
    };
    const Case cases[] = {
        {{1600, 800}, {0, 8, 32, 16}},
        {{8, 8}, {0, 0, 32, 32}},
        {{10, 40}, {12, 0, 8, 32}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source.width());
        const QImage thumbnail = StatusBarController::createThumbnail(solid(Qt::red, c.source), QSizeF(32, 32), 1.0);
        ASSERT_EQ(thumbnail.size(), QSize(32, 32));
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const bool inside = c.drawn.adjusted(1, 1, -1, -1).contains(x, y);
                const bool outside = !c.drawn.adjusted(-1, -1, 1, 1).contains(x, y);
                const QColor pixel = thumbnail.pixelColor(x, y);
                if (inside) {
                    ASSERT_EQ(pixel, QColor(Qt::red)) << x << "," << y;
                }
                if (outside) {
                    ASSERT_EQ(pixel.alpha(), 0) << x << "," << y;
                }
            }
    }
    // At the menu's pixel density: 64 pixels for 32 points.
    const QImage sharp = StatusBarController::createThumbnail(solid(Qt::red, {1600, 800}), QSizeF(32, 32));
    EXPECT_EQ(sharp.size(), QSize(64, 64));
    EXPECT_EQ(sharp.devicePixelRatio(), 2.0);
    EXPECT_EQ(sharp.pixelColor(32, 15).alpha(), 0);
    EXPECT_EQ(sharp.pixelColor(32, 17), QColor(Qt::red));
    // No picture: a clear square, no crash.
    EXPECT_EQ(StatusBarController::createThumbnail(QImage(), QSizeF(32, 32), 1.0).pixelColor(16, 16).alpha(), 0);
}

TEST(StatusMenuLinks, OnlyWebAddressesOpenInTheBrowser)
{
    const std::pair<const char*, bool> cases[] = {
        {"https://k.example/c", true},  {"http://k.example/c?x=1#y", true}, {"HTTPS://K.EXAMPLE/c", true},
        {"", false},                    {"javascript:alert(1)", false},      {"file:///etc/passwd", false},
        {"ftp://k.example/c", false},   {"https://", false},                 {"k.example/c", false},
        {"http://exa mple.com", false}, {"smb://host/share", false},
    };
    for (const auto& [text, opens] : cases)
        EXPECT_EQ(StatusBarController::browserURL(QString::fromUtf8(text)).has_value(), opens) << text;
    EXPECT_FALSE(StatusBarController::browserURL(std::nullopt));
}

TEST(StatusMenuIcon, TheNamedImageOrTheCameraSymbol)
{
    StatusBarController::setTrayAvailabilityProbeForTesting([] { return true; });
    AppState state;
    for (bool hidden : {false, true}) {
        platform::ImageAssets::setHiddenForTesting(hidden ? QStringList{"StatusBarIcon"} : QStringList{});
        StatusBarController controller(&state);
        const QIcon icon = controller.statusItem()->icon();
        EXPECT_FALSE(icon.isNull());
        EXPECT_FALSE(icon.pixmap(18, 18).isNull());
        EXPECT_EQ(controller.statusItem()->toolTip(), "Kestrova"); // with either image
    }
    platform::ImageAssets::setHiddenForTesting({});
    StatusBarController::setTrayAvailabilityProbeForTesting({});
}

#include "StatusBarController_test.moc"
