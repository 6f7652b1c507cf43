// Recordings uploaded from the video preview to the local fake of Yandex Disk through the real
// client: the link chosen, the history and clipboard, and the failures before and during the upload.
#include "video/VideoPreviewWindow.h"

#include "cloud/CloudTestSupport.h"
#include "platform/UserDefaults.h"
#include "uploads/YandexDiskUploader.h"
#include "uploads/YandexFakeTest.h"
#include "video/VideoTestSupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using nlohmann::json;
using videotest::Harness;

class YandexVideoUpload : public test::YandexFakeTest {
protected:
    void SetUp() override
    {
        YandexFakeTest::SetUp();
        if (HasFatalFailure())
            return;
        AppState::updateCredentials([](SecureCredentials& record) { record.yandexAccessToken = QStringLiteral("test-token"); });
        h.changeSettings([](ServerSettings& s) { s.yandexAccessToken = "test-token"; });
        recording = videotest::makeVideo(h.dir.path(), "recording.mp4", "color=c=0x40a040", 1.0);
        ASSERT_FALSE(recording.isEmpty());
        QGuiApplication::clipboard()->setText("earlier");
    }

    bool settle(VideoPreviewWindow& window) { return test::waitUntil([&] { return !window.isUploading(); }, 60s); }
    // The one file on the fake Disk: its name under "app:/" and its size.
    static std::pair<QString, qint64> storedFile()
    {
        const json files = fake->files();
        if (!files.is_object() || files.size() != 1)
            return {};
        const auto it = files.begin();
        return {QString::fromStdString(it.key()), it.value().get<qint64>()};
    }

    Harness h;
    QString recording;
};

TEST_F(YandexVideoUpload, TheRecordingIsStoredAndItsPublicLinkFiled)
{
    auto window = h.window(recording);
    window->show();
    cloudtest::LogMark mark;
    window->uploadYandex();
    EXPECT_TRUE(window->isUploading());
    EXPECT_EQ(h.appState.serverSettings().lastUsedUploadProvider, UploadProvider::yandexDisk);
    EXPECT_EQ(platform::UserDefaults::standard().string("lastUsedUploadProvider"), "yandex");
    window->uploadSSH(); // ignored while it runs
    ASSERT_TRUE(settle(*window));
    ASSERT_TRUE(h.alerts->shown.empty()) << h.alerts->shown[0].informativeText.toStdString();

    const auto [path, size] = storedFile();
    EXPECT_TRUE(QRegularExpression(R"(^app:/video-\d+\.\d+\.mp4$)").match(path).hasMatch()) << path.toStdString();
    EXPECT_EQ(size, QFileInfo(recording).size());
    const QString link = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(link.startsWith("https://yadi.sk/d/")) << link.toStdString();
    ASSERT_EQ(h.history->screenshots().size(), 1);
    EXPECT_EQ(h.history->screenshots().first().videoURL, recording);
    EXPECT_EQ(h.history->screenshots().first().remoteURL, link);
    EXPECT_EQ(h.refreshes, 1);
    ASSERT_TRUE(window->successBanner());
    EXPECT_FALSE(window->progressIndicator()->isVisible());
    EXPECT_TRUE(test::waitUntil([&] { return !window->isVisible(); }, 3s));
    EXPECT_EQ(mark.messages(), QStringList{"performYandexUpload: VideoPreviewWindow: Starting Yandex upload (format: MP4)"});
}

TEST_F(YandexVideoUpload, ThePublicBaseIsReadWhenTheAnswerArrivesAndTakenAsTyped)
{
    auto window = h.window(recording);
    window->show();
    window->uploadYandex();
    // Changed while the upload runs: the answer takes the new base.
    h.changeSettings([](ServerSettings& s) { s.yandexPublicBaseURL = "https://cdn.example/v/"; });
    ASSERT_TRUE(settle(*window));
    const QString name = storedFile().first.mid(5);
    ASSERT_FALSE(name.isEmpty());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "https://cdn.example/v//" + name);
    EXPECT_EQ(h.history->screenshots().first().remoteURL, "https://cdn.example/v//" + name);
}

TEST_F(YandexVideoUpload, AGIFIsUploadedUnderAGIFName)
{
    auto window = h.window(recording);
    window->show();
    window->formatChanged(1);
    cloudtest::LogMark mark;
    window->uploadYandex();
    ASSERT_TRUE(settle(*window));
    const auto [path, size] = storedFile();
    EXPECT_TRUE(QRegularExpression(R"(^app:/video-\d+\.\d+\.gif$)").match(path).hasMatch()) << path.toStdString();
    EXPECT_TRUE(mark.messages().contains(
        QStringLiteral("performYandexUpload: VideoPreviewWindow: GIF converted for Yandex, size: %1 bytes").arg(size)));
    EXPECT_EQ(h.history->screenshots().first().videoURL, recording);
}

TEST_F(YandexVideoUpload, WhenPublishingFailsTheDiskPathStandsForTheLink)
{
    ASSERT_TRUE(fake->configure({{"overrides", {{"publish", json::array({{{"status", 500}}})}}}}));
    auto window = h.window(recording);
    window->show();
    window->uploadYandex();
    ASSERT_TRUE(settle(*window));
    const QString path = storedFile().first;
    EXPECT_EQ(QGuiApplication::clipboard()->text(), path);
    EXPECT_EQ(h.history->screenshots().first().remoteURL, path);
}

TEST_F(YandexVideoUpload, FailuresAreShownEachInItsOwnWay)
{
    const struct {
        const char* what;
        double seconds;
        std::function<void(const QString& video, VideoPreviewWindow&)> prepare;
        const char* title;
        const char* text;     // beginning of the alert's text
        QStringList extraLog; // after the start line
        bool requestsSent;
    } cases[] = {
        {"the service refuses", 0.5,
         [](const QString&, VideoPreviewWindow&) {
             ASSERT_TRUE(fake->configure(
                 {{"overrides", {{"upload_url", json::array({{{"status", 507}, {"json", {{"error", "E"}, {"message", "Full"}}}}})}}}}));
         },
         "Ошибка загрузки", "Ошибка запроса upload URL (HTTP 507): E: Full",
         {"performYandexUpload: ERROR: Ошибка запроса upload URL (HTTP 507): E: Full"}, true},
        // The switch is not offered for so long a video; the action still is.
        {"the GIF cannot be made", 31, [](const QString&, VideoPreviewWindow& window) { window.formatChanged(1); }, "Ошибка",
         "Видео слишком длинное (31 сек). Максимум для GIF: 30 сек", {}, false},
        {"the recording is gone", 0.5, [](const QString& video, VideoPreviewWindow&) { QFile::remove(video); }, "Ошибка загрузки", "",
         {"performYandexUpload: VideoPreviewWindow: Failed to read video data for Yandex upload"}, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(fake->reset());
        h.alerts->shown.clear();
        const QString video = videotest::makeVideo(h.dir.path(), QStringLiteral("case%1.mp4").arg(++n), "color=c=red", c.seconds,
                                                   QSize(32, 32), 10);
        auto window = h.window(video);
        window->show();
        c.prepare(video, *window);
        cloudtest::LogMark mark;
        window->uploadYandex();
        ASSERT_TRUE(settle(*window));
        ASSERT_EQ(h.alerts->shown.size(), 1u);
        EXPECT_EQ(h.alerts->shown[0].messageText, QString::fromUtf8(c.title));
        const QString text = h.alerts->shown[0].informativeText;
        EXPECT_TRUE(text.startsWith(QString::fromUtf8(c.text))) << text.toStdString();
        EXPECT_FALSE(text.isEmpty());
        // The window's own lines, after its start line.
        QStringList log = mark.messages().filter(QRegularExpression("^perform(Yandex|)Upload: "));
        ASSERT_FALSE(log.isEmpty());
        log.removeFirst();
        EXPECT_EQ(log, c.extraLog);
        EXPECT_EQ(!fake->log().empty(), c.requestsSent);
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(window->progressIndicator()->isVisible());
        EXPECT_TRUE(h.history->screenshots().isEmpty());
        EXPECT_EQ(QGuiApplication::clipboard()->text(), "earlier");
    }
}

TEST_F(YandexVideoUpload, AResultForAWindowThatIsGoneIsDropped)
{
    // The link takes a second to come, and the window is closed and released meanwhile.
    ASSERT_TRUE(fake->configure(
        {{"overrides", {{"resource", json::array({{{"status", 200}, {"json", {{"public_url", "https://yadi.sk/d/late"}}}, {"delay", 1.0}}})}}}}));
    QPointer<VideoPreviewWindow> window = h.window(recording).release();
    window->show();
    window->uploadYandex();
    ASSERT_TRUE(test::waitUntil([&] { return !fake->requests("resource").empty(); }, 20s));
    window->close();
    window->release();
    ASSERT_TRUE(test::waitUntil([&] {
        Harness::runDeferredDeletes();
        return window.isNull();
    }, 5s)) << "a Yandex upload does not keep its window";
    test::spin(1500ms);
    EXPECT_FALSE(storedFile().first.isEmpty()) << "the file stays on the Disk";
    EXPECT_TRUE(h.history->screenshots().isEmpty());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "earlier");
}
