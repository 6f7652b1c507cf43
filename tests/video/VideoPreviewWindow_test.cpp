// The video preview window without a screen: its title and tool bar, the provider choice, the
// format switch, saving as MP4 and GIF, "done" and the providers that are not supported yet.
#include "video/VideoPreviewWindow.h"

#include "cloud/CloudTestSupport.h"
#include "platform/ImageAssets.h"
#include "platform/UserDefaults.h"
#include "screenshots/ScreenshotToolbar.h"
#include "support/SmallDisk.h"
#include "support/StdoutTap.h"
#include "video/VideoPlayerView.h"
#include "video/VideoTestSupport.h"

#include <QMediaPlayer>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

using namespace std::chrono_literals;
using videotest::Harness;

namespace {

class VideoPreviewWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        recording = videotest::makeVideo(h.dir.path(), "recording.mp4", "color=c=0xc02030", 1.0);
        ASSERT_FALSE(recording.isEmpty());
    }

    QByteArray bytes(const QString& path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QPushButton* segment(VideoPreviewWindow& window, const char* name) const
    {
        return window.toolbar()->findChild<QPushButton*>(QStringLiteral("segment") + name);
    }

    Harness h;
    QString recording;
};

} // namespace

TEST_F(VideoPreviewWindowTest, TitleAndToolbarFollowTheDuration)
{
    const struct {
        const char* name;
        double seconds;
        int rate;
        const char* title;
        bool format;
    } cases[] = {
        {"exactly30.mp4", 30.0, 10, "Видео (30 сек)", true},
        {"over30.mp4", 30.05, 100, "Видео (30 сек)", false},
        {"short.mp4", 12.7, 10, "Видео (12 сек)", true},
        {"missing.mp4", -1, 0, "Видео (0 сек)", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString video = c.seconds > 0 ? videotest::makeVideo(h.dir.path(), c.name, "color=c=blue", c.seconds, QSize(32, 32), c.rate)
                                            : h.path(c.name);
        auto window = h.window(video);
        EXPECT_EQ(window->windowTitle(), QString::fromUtf8(c.title));
        EXPECT_EQ(window->isVisible(), false) << "built hidden";
        EXPECT_EQ(window->size(), QSize(800, 600));
        EXPECT_EQ(window->minimumSize(), QSize(600, 400));
        EXPECT_EQ(window->toolbar()->objectName(), "VideoToolbar");
        const QStringList expected = c.format ? QStringList{"format", "space", "save", "space", "upload", "flexibleSpace", "done"}
                                              : QStringList{"save", "space", "upload", "flexibleSpace", "done"};
        EXPECT_EQ(window->toolbar()->itemIdentifiers(), expected);
        EXPECT_EQ(window->toolbarAllowedItemIdentifiers().contains("format"), c.format);
        EXPECT_EQ(window->toolbarItem("format") != nullptr, c.format);
        delete window->toolbarItem("format");
        EXPECT_EQ(window->toolbarItem("share"), nullptr);
        EXPECT_EQ(window->selectedFormat(), VideoExportFormat::mp4);
        EXPECT_EQ(window->playerView()->player()->playbackState(), QMediaPlayer::StoppedState) << "playback not started";
    }
}

TEST_F(VideoPreviewWindowTest, ItemsCarryTheirTipsAndTheFormatSwitchLogs)
{
    auto window = h.window(recording);
    auto* save = window->toolbar()->findChild<QToolButton*>("save");
    auto* done = window->toolbar()->findChild<QToolButton*>("done");
    QWidget* format = window->toolbar()->item("format");
    ASSERT_TRUE(save && done && format);
    EXPECT_EQ(save->toolTip(), "Сохранить видео на диск (Ctrl+S)");
    EXPECT_EQ(done->toolTip(), "Удалить временный файл и закрыть (Enter)");
    EXPECT_EQ(format->toolTip(), "Выбрать формат экспорта: MP4 или GIF");
    EXPECT_FALSE(save->icon().isNull());
    ASSERT_TRUE(segment(*window, "MP4") && segment(*window, "GIF"));
    EXPECT_TRUE(segment(*window, "MP4")->isChecked());
    EXPECT_EQ(segment(*window, "GIF")->width(), 50);

    cloudtest::LogMark mark;
    segment(*window, "GIF")->click();
    EXPECT_EQ(window->selectedFormat(), VideoExportFormat::gif);
    segment(*window, "MP4")->click();
    EXPECT_EQ(window->selectedFormat(), VideoExportFormat::mp4);
    EXPECT_EQ(mark.messages(), (QStringList{"formatChanged: VideoPreviewWindow: Format changed to GIF",
                                            "formatChanged: VideoPreviewWindow: Format changed to MP4"}));
}

TEST_F(VideoPreviewWindowTest, TheUploadItemFollowsTheOfferedProviders)
{
    const struct {
        const char* what;
        bool cloud;
        std::function<void(ServerSettings&)> settings;
        QList<UploadProvider> offered;
        const char* kind; // "disabled", "button" or "split"
        const char* tip;  // of the item, or of the split button's main half
        UploadProvider active;
    } cases[] = {
        {"none", false, [](ServerSettings&) {}, {}, "disabled", "Настройте провайдер загрузки в настройках", UploadProvider::kestrovaCloud},
        {"own server only", false, [](ServerSettings& s) { s.ftpHost = "files.example"; }, {UploadProvider::ssh}, "button",
         "Загрузить в SSH/SFTP (Ctrl+U)", UploadProvider::ssh},
        {"cloud only", true, [](ServerSettings&) {}, {UploadProvider::kestrovaCloud}, "button", "Загрузить в Kestrova Cloud (Ctrl+U)",
         UploadProvider::kestrovaCloud},
        {"all, last used offered", true,
         [](ServerSettings& s) {
             s.ftpHost = "h";
             s.yandexAccessToken = "y";
             s.dropboxAccessToken = "d";
             s.googleDriveAccessToken = "g";
             s.webdavURL = "w";
             s.lastUsedUploadProvider = UploadProvider::yandexDisk;
         },
         {UploadProvider::kestrovaCloud, UploadProvider::ssh, UploadProvider::yandexDisk, UploadProvider::dropbox,
          UploadProvider::googleDrive, UploadProvider::webdav},
         "split", "Загрузить в Яндекс.Диск (Ctrl+U)", UploadProvider::yandexDisk},
        {"last used not offered", false,
         [](ServerSettings& s) {
             s.yandexAccessToken = "y";
             s.webdavURL = "w";
             s.lastUsedUploadProvider = UploadProvider::ssh;
         },
         {UploadProvider::yandexDisk, UploadProvider::webdav}, "split", "Загрузить в Яндекс.Диск (Ctrl+U)", UploadProvider::yandexDisk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        h.cloudSignedIn = c.cloud;
        h.appState.setServerSettings(ServerSettings{});
        h.changeSettings(c.settings);
        auto window = h.window(recording);
        EXPECT_EQ(window->getAvailableProviders(), c.offered);
        QWidget* item = window->toolbar()->item("upload");
        ASSERT_TRUE(item);
        const QString kind = c.kind;
        if (kind == "disabled") {
            EXPECT_FALSE(item->isEnabled());
            EXPECT_EQ(item->toolTip(), QString::fromUtf8(c.tip));
            EXPECT_TRUE(qobject_cast<QToolButton*>(item));
            EXPECT_EQ(window->providerMenu(), nullptr);
        } else if (kind == "button") {
            auto* button = qobject_cast<QPushButton*>(item);
            ASSERT_TRUE(button);
            EXPECT_EQ(button->text(), "Загрузить");
            EXPECT_EQ(button->toolTip(), QString::fromUtf8(c.tip));
            EXPECT_EQ(button->size(), QSize(110, 28));
            EXPECT_EQ(window->providerMenu(), nullptr);
        } else {
            auto* main = item->findChild<QPushButton*>("uploadMain");
            auto* arrow = item->findChild<QPushButton*>("uploadArrow");
            ASSERT_TRUE(main && arrow);
            EXPECT_EQ(main->toolTip(), QString::fromUtf8(c.tip));
            EXPECT_EQ(main->geometry(), QRect(0, 0, 105, 28));
            EXPECT_EQ(arrow->geometry(), QRect(105, 0, 25, 28));
            EXPECT_EQ(arrow->toolTip(), "Выбрать хранилище");
            ASSERT_TRUE(window->providerMenu());
            QStringList titles, checked;
            for (QAction* action : window->providerMenu()->actions()) {
                titles << action->text();
                if (action->isChecked())
                    checked << action->text();
            }
            QStringList expected;
            for (UploadProvider p : c.offered)
                expected << UploadProviders::displayName(p);
            EXPECT_EQ(titles, expected);
            EXPECT_EQ(checked, QStringList{UploadProviders::displayName(c.active)});
        }
    }
}

TEST_F(VideoPreviewWindowTest, TheSplitButtonShowsWhereItsClickGoes)
{
    h.changeSettings([](ServerSettings& s) {
        s.dropboxAccessToken = "d";
        s.webdavURL = "w";
        s.lastUsedUploadProvider = UploadProvider::ssh; // not offered
    });
    auto window = h.window(recording);
    auto* main = window->toolbar()->item("upload")->findChild<QPushButton*>("uploadMain");
    ASSERT_TRUE(main);
    EXPECT_EQ(main->toolTip(), "Загрузить в Dropbox (Ctrl+U)");
    // The click goes to the provider shown, not to the unoffered last used one.
    main->click();
    ASSERT_EQ(h.alerts->shown.size(), 1u);
    EXPECT_EQ(h.alerts->shown[0].messageText, "Dropbox");
    EXPECT_FALSE(window->isUploading());
    // Choosing another one from the menu moves the main half along.
    window->providerMenu()->actions().at(1)->trigger();
    EXPECT_EQ(h.appState.serverSettings().lastUsedUploadProvider, UploadProvider::webdav);
    EXPECT_EQ(main->toolTip(), "Загрузить в WebDAV (Ctrl+U)");
    EXPECT_TRUE(window->providerMenu()->actions().at(1)->isChecked());
    EXPECT_FALSE(window->providerMenu()->actions().at(0)->isChecked());
    main->click();
    EXPECT_EQ(h.alerts->messages(), (QStringList{"Dropbox", "WebDAV", "WebDAV"}));
}

TEST_F(VideoPreviewWindowTest, UnsupportedProvidersRememberTheChoiceAndSaySo)
{
    const struct {
        void (VideoPreviewWindow::*action)();
        UploadProvider provider;
        const char* stored;
        const char* message;
        const char* text;
    } cases[] = {
        {&VideoPreviewWindow::uploadDropbox, UploadProvider::dropbox, "dropbox", "Dropbox", "Dropbox пока не поддерживается"},
        {&VideoPreviewWindow::uploadGoogleDrive, UploadProvider::googleDrive, "gdrive", "Google Drive", "Google Drive пока не поддерживается"},
        {&VideoPreviewWindow::uploadWebDAV, UploadProvider::webdav, "webdav", "WebDAV", "WebDAV пока не поддерживается"},
    };
    auto window = h.window(recording);
    cloudtest::LogMark mark;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        h.alerts->shown.clear();
        (window.get()->*c.action)();
        ASSERT_EQ(h.alerts->shown.size(), 1u);
        EXPECT_EQ(h.alerts->shown[0].messageText, QString::fromUtf8(c.message));
        EXPECT_EQ(h.alerts->shown[0].informativeText, QString::fromUtf8(c.text));
        EXPECT_EQ(h.alerts->shown[0].style, VideoAlertPresenter::Style::informational);
        EXPECT_EQ(h.appState.serverSettings().lastUsedUploadProvider, c.provider);
        EXPECT_EQ(platform::UserDefaults::standard().string("lastUsedUploadProvider"), QString::fromUtf8(c.stored));
        EXPECT_FALSE(window->isUploading());
        EXPECT_FALSE(window->progressIndicator());
    }
    EXPECT_TRUE(mark.messages().isEmpty());
}

TEST_F(VideoPreviewWindowTest, DoneDeletesTheRecordingAndCloses)
{
    auto window = h.window(recording);
    window->show();
    window->done();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(QFile::exists(recording));
    // Once more, with the file already gone: silently closed.
    window->show();
    window->done();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(h.alerts->shown.empty());

    // Closing by the title bar keeps the file.
    const QString kept = videotest::makeVideo(h.dir.path(), "kept.mp4", "color=c=red", 0.5);
    auto other = h.window(kept);
    other->show();
    other->close();
    EXPECT_TRUE(QFile::exists(kept));
}

TEST_F(VideoPreviewWindowTest, SavingAsMP4CopiesTheRecordingIntoTheHistoryAndCloses)
{
    auto window = h.window(recording);
    window->show();
    window->saveLocally();
    ASSERT_EQ(h.panel->opened.size(), 1u);
    EXPECT_EQ(h.panel->opened[0].format, VideoExportFormat::mp4);
    EXPECT_TRUE(QRegularExpression(R"(^Kestrova-\d+\.\d+\.mp4$)").match(h.panel->opened[0].proposedName).hasMatch())
        << h.panel->opened[0].proposedName.toStdString();

    const QString target = h.path("copy.mp4");
    test::StdoutTap console;
    h.panel->answer(target);
    EXPECT_EQ(bytes(target), bytes(recording));
    EXPECT_TRUE(QFile::exists(recording)) << "the recording stays";
    EXPECT_TRUE(console.lines().contains("Video saved to: " + target));
    ASSERT_EQ(h.history->screenshots().size(), 1);
    EXPECT_EQ(h.history->screenshots().first().videoURL, target);
    EXPECT_FALSE(h.history->screenshots().first().remoteURL);
    EXPECT_EQ(h.refreshes, 1);
    EXPECT_EQ(h.lastRefresh.size(), 1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(h.alerts->shown.empty());
}

TEST_F(VideoPreviewWindowTest, SavingOverAnExistingFileReplacesIt)
{
    // The save panel has asked whether to replace the file and was answered yes.
    auto window = h.window(recording);
    window->show();
    const QString existing = h.path("existing.mp4");
    ASSERT_TRUE(test::writeFile(existing, "an older video"));
    const QStringList before = QDir(h.dir.path()).entryList(QDir::Files);
    window->saveLocally();
    h.panel->answer(existing);
    EXPECT_TRUE(h.alerts->shown.empty()) << h.alerts->shown[0].informativeText.toStdString();
    EXPECT_EQ(bytes(existing), bytes(recording));
    EXPECT_EQ(QDir(h.dir.path()).entryList(QDir::Files), before) << "no copy left beside it";
    ASSERT_EQ(h.history->screenshots().size(), 1);
    EXPECT_EQ(h.history->screenshots().first().videoURL, existing);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(VideoPreviewWindowTest, ACopyThatFailsKeepsTheExistingFileAndCancellingChangesNothing)
{
    auto window = h.window(recording);
    window->show();
    const QString existing = h.path("existing.mp4");
    ASSERT_TRUE(test::writeFile(existing, "precious"));
    const QStringList before = QDir(h.dir.path()).entryList(QDir::Files);
    ASSERT_GT(QFileInfo(recording).size(), 1024);
    window->saveLocally();
    {
        // The disk fills up part way through the copy: writes beyond 1 KiB fail, as on a full disk.
        const rlimit saved = [] {
            rlimit limit{};
            getrlimit(RLIMIT_FSIZE, &limit);
            return limit;
        }();
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 1024;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        h.panel->answer(existing);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    ASSERT_EQ(h.alerts->shown.size(), 1u);
    EXPECT_EQ(h.alerts->shown[0].messageText, "Ошибка");
    EXPECT_EQ(h.alerts->shown[0].style, VideoAlertPresenter::Style::warning);
    const QString text = h.alerts->shown[0].informativeText;
    EXPECT_TRUE(text.startsWith("Не удалось сохранить видео: ") && text.size() > 30) << text.toStdString();
    EXPECT_EQ(bytes(existing), "precious");
    EXPECT_EQ(QDir(h.dir.path()).entryList(QDir::Files), before) << "the unfinished copy is gone";
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(h.history->screenshots().isEmpty());
    EXPECT_EQ(h.refreshes, 0);

    // The recording gone meanwhile: the same alert, and the log says why (the log itself could
    // not be written while the disk was full above).
    const QString moved = h.path("moved.mp4");
    ASSERT_TRUE(QFile::rename(recording, moved));
    cloudtest::LogMark mark;
    window->saveLocally();
    h.panel->answer(existing);
    ASSERT_EQ(h.alerts->shown.size(), 2u);
    const QString gone = h.alerts->shown[1].informativeText;
    EXPECT_TRUE(gone.startsWith("Не удалось сохранить видео: ") && gone.size() > 30) << gone.toStdString();
    EXPECT_TRUE(mark.messages().contains("saveAsMP4: ERROR: " + gone.mid(QStringLiteral("Не удалось сохранить видео: ").size())));
    EXPECT_EQ(bytes(existing), "precious");

    window->saveLocally();
    h.panel->answer(std::nullopt);
    EXPECT_EQ(h.alerts->shown.size(), 2u);
    EXPECT_TRUE(window->isVisible());
}

// Replacing a file on a disk that fills up during the copy: the alert says the disk is full, in the
// words the recording uses, and the file keeps its bytes.
TEST_F(VideoPreviewWindowTest, AFullDiskIsNamedAndTheReplacedFileKeepsItsBytes)
{
    const QString big = videotest::makeVideo(h.dir.path(), "big.mp4", "testsrc2", 1.0, QSize(320, 240), 30);
    ASSERT_GT(QFileInfo(big).size(), 64 * 1024);
    const QString disk = h.path("disk");
    ASSERT_TRUE(QDir().mkpath(disk));
    // 16 KiB: room for the old file and a few pages of the copy.
    const test::SmallDisk small(disk, "16k");
    if (!small.mounted())
        GTEST_SKIP() << small.error();
    const QString existing = disk + "/existing.mp4";
    ASSERT_TRUE(test::writeFile(existing, "precious"));

    auto window = h.window(big);
    window->show();
    cloudtest::LogMark mark;
    window->saveLocally();
    h.panel->answer(existing);
    ASSERT_EQ(h.alerts->shown.size(), 1u);
    EXPECT_EQ(h.alerts->shown[0].informativeText, "Не удалось сохранить видео: на диске закончилось место");
    EXPECT_TRUE(mark.messages().contains("saveAsMP4: ERROR: на диске закончилось место")) << mark.messages().join('\n').toStdString();
    EXPECT_EQ(bytes(existing), "precious");
    EXPECT_EQ(QDir(disk).entryList(QDir::Files), QStringList{"existing.mp4"}) << "the unfinished copy is gone";
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(h.history->screenshots().isEmpty());
}

TEST_F(VideoPreviewWindowTest, SavingAsGIFConvertsWithTheSpinnerAndFilesTheGIF)
{
    auto window = h.window(recording);
    window->show();
    segment(*window, "GIF")->click();
    window->saveLocally();
    ASSERT_EQ(h.panel->opened.size(), 1u);
    EXPECT_EQ(h.panel->opened[0].format, VideoExportFormat::gif);
    EXPECT_TRUE(h.panel->opened[0].proposedName.endsWith(".gif"));

    const QString target = h.path("clip.gif");
    cloudtest::LogMark mark;
    h.panel->answer(target);
    ASSERT_TRUE(window->progressIndicator());
    EXPECT_TRUE(window->progressIndicator()->isVisible());
    EXPECT_TRUE(window->progressIndicator()->isAnimating());
    ASSERT_TRUE(window->gifConverter());
    ASSERT_TRUE(test::waitUntil([&] { return !window->isVisible(); }, 60s));
    EXPECT_FALSE(window->progressIndicator()->isVisible());
    EXPECT_FALSE(window->progressIndicator()->isAnimating());

    const videotest::GifInfo info = videotest::probeGIF(target);
    EXPECT_EQ(info.codec, "gif");
    EXPECT_EQ(info.frames, 10);
    EXPECT_EQ(info.loopCount, 0);
    EXPECT_EQ(info.width, 64);
    const auto frames = media::decodeGIF(target, QSize(64, 48));
    ASSERT_EQ(frames.size(), 10u);
    EXPECT_LE(media::colourDistance(frames[5].pixel(32, 24), qRgb(0xc0, 0x20, 0x30)), 12);
    ASSERT_EQ(h.history->screenshots().size(), 1);
    EXPECT_EQ(h.history->screenshots().first().videoURL, target);
    EXPECT_EQ(h.refreshes, 1);
    EXPECT_TRUE(mark.messages().contains("saveAsGIF: VideoPreviewWindow: GIF saved to " + target));
    EXPECT_TRUE(QFile::exists(recording));
}

TEST_F(VideoPreviewWindowTest, AFailedGIFShowsTheConvertersTextAlone)
{
    auto window = h.window(recording);
    window->show();
    segment(*window, "GIF")->click();
    window->saveLocally();
    const QString target = h.path("no/such/folder/clip.gif");
    cloudtest::LogMark mark;
    h.panel->answer(target);
    ASSERT_TRUE(test::waitUntil([&] { return !h.alerts->shown.empty(); }, 60s));
    EXPECT_EQ(h.alerts->shown[0].messageText, "Ошибка");
    EXPECT_EQ(h.alerts->shown[0].informativeText, "Не удалось создать GIF файл");
    EXPECT_TRUE(mark.messages().contains("saveAsGIF: ERROR: Не удалось создать GIF файл"));
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->progressIndicator()->isVisible());
    EXPECT_TRUE(h.history->screenshots().isEmpty());
}

TEST_F(VideoPreviewWindowTest, TheFileIsWrittenInTheFormatThePanelWasOpenedWith)
{
    auto window = h.window(recording);
    window->show();
    window->saveLocally(); // MP4
    segment(*window, "GIF")->click();
    const QString target = h.path("still.mp4");
    h.panel->answer(target);
    EXPECT_EQ(bytes(target), bytes(recording)) << "a copy of the MP4, not a GIF under an .mp4 name";
    EXPECT_FALSE(window->isVisible());
}

TEST_F(VideoPreviewWindowTest, AReleasedWindowGoesOnceClosed)
{
    QPointer<VideoPreviewWindow> window = h.window(recording).release();
    window->show();
    window->release();
    test::spin(50ms);
    ASSERT_TRUE(window) << "still shown";
    window->close();
    EXPECT_TRUE(test::waitUntil([&] { return window.isNull(); }, 2s));

    // Never shown: it goes at once.
    QPointer<VideoPreviewWindow> hidden = h.window(recording).release();
    hidden->release();
    EXPECT_TRUE(test::waitUntil([&] {
        Harness::runDeferredDeletes();
        return hidden.isNull();
    }, 2s));
}
