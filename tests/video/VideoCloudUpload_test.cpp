// Recordings uploaded from the video preview to the local fake of the cloud service through the
// shared client and account, exactly as the application wires them.
#include "video/VideoPreviewWindow.h"

#include "cloud/APIClient.h"
#include "cloud/AuthManager.h"
#include "cloud/CloudTestSupport.h"
#include "video/VideoTestSupport.h"

#include <QClipboard>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QGuiApplication>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using cloudtest::CloudFake;
using videotest::Harness;

namespace {

CloudFake* fake = nullptr;

QString sha256(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

QByteArray bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class CloudVideoUpload : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        fake = new CloudFake;
        ASSERT_TRUE(fake->running());
        ASSERT_TRUE(APIClient::setSharedServiceRootForTesting(fake->root()));
        AppState::loadCredentials();
        AuthManager::shared().login("user@example.com", "secret123");
        ASSERT_TRUE(test::waitUntil([] { return AuthManager::shared().isAuthenticated(); }, 15s));
    }
    static void TearDownTestSuite()
    {
        delete fake;
        fake = nullptr;
    }
    void SetUp() override
    {
        fake->resetRequests();
        recording = videotest::makeVideo(h.dir.path(), "recording.mp4", "color=c=0x8040c0", 1.0);
        ASSERT_FALSE(recording.isEmpty());
        QGuiApplication::clipboard()->setText("earlier");
        ASSERT_TRUE(QDir().mkpath(h.path("tmp")));
        savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(h.path("tmp")));
    }
    void TearDown() override
    {
        if (savedTmp.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", savedTmp);
    }

    // The window as the application makes it: the account and client are the shared ones.
    std::unique_ptr<VideoPreviewWindow> window()
    {
        VideoPreviewWindow::Environment environment;
        environment.savePanel = h.panel;
        environment.alerts = h.alerts;
        auto window = std::make_unique<VideoPreviewWindow>(recording, &h.appState, h.history.get(), h.refresher(), environment);
        Harness::settlePlayer(*window);
        window->show();
        return window;
    }

    std::vector<cloudtest::RecordedRequest> uploads()
    {
        std::vector<cloudtest::RecordedRequest> found;
        for (auto& r : fake->requests())
            if (r.path == "/api/v1/files")
                found.push_back(std::move(r));
        return found;
    }

    QStringList leftovers() const
    {
        QStringList found;
        QDirIterator it(h.path("tmp"), {"kestrova-upload-*", "temp_*"}, QDir::AllEntries | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }

    Harness h;
    QString recording;
    QByteArray savedTmp;
};

TEST_F(CloudVideoUpload, TheRecordingIsSentAsItIsAndItsLinkFiled)
{
    auto w = window();
    ASSERT_TRUE(w->getAvailableProviders().contains(UploadProvider::kestrovaCloud));
    cloudtest::LogMark mark;
    w->uploadToKestrova();
    EXPECT_TRUE(w->isUploading());
    w->uploadToKestrova(); // ignored while it runs
    ASSERT_TRUE(test::waitUntil([&] { return !w->isUploading(); }, 60s));
    ASSERT_TRUE(h.alerts->shown.empty()) << h.alerts->shown[0].informativeText.toStdString();

    const auto sent = uploads();
    ASSERT_EQ(sent.size(), 1u);
    const QString name = QString::fromUtf8(QByteArray::fromBase64(QByteArray::fromStdString(sent[0].multipart["filename"].get<std::string>())));
    EXPECT_TRUE(QRegularExpression(R"(^video-\d+\.\d+\.mp4$)").match(name).hasMatch()) << name.toStdString();
    EXPECT_EQ(sent[0].multipart["content_type"], "video/mp4");
    EXPECT_EQ(sent[0].multipart["is_public"], "1");
    EXPECT_EQ(QString::fromStdString(sent[0].multipart["sha256"].get<std::string>()), sha256(bytes(recording)));

    const QString link = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(link.startsWith(fake->root() + "/f/")) << link.toStdString();
    ASSERT_EQ(h.history->screenshots().size(), 1);
    EXPECT_EQ(h.history->screenshots().first().remoteURL, link);
    EXPECT_EQ(h.refreshes, 1);
    EXPECT_EQ(h.appState.serverSettings().lastUsedUploadProvider, UploadProvider::kestrovaCloud);
    EXPECT_TRUE(test::waitUntil([&] { return !w->isVisible(); }, 3s));

    const QStringList own = mark.messages().filter(QRegularExpression("^performKestrovaUpload: "));
    EXPECT_EQ(own, (QStringList{"performKestrovaUpload: VideoPreviewWindow: Starting upload to Kestrova (format: MP4)",
                                QStringLiteral("performKestrovaUpload: VideoPreviewWindow: MP4 data size: %1 bytes")
                                    .arg(QFileInfo(recording).size()),
                                "performKestrovaUpload: VideoPreviewWindow: Upload successful",
                                "performKestrovaUpload: VideoPreviewWindow: Public URL copied to clipboard: " + link}));
}

TEST_F(CloudVideoUpload, AGIFIsSentAsAGIFAndNoTemporaryFileStays)
{
    auto w = window();
    w->formatChanged(1);
    cloudtest::LogMark mark;
    w->uploadToKestrova();
    ASSERT_TRUE(test::waitUntil([&] { return !w->isUploading(); }, 60s));
    ASSERT_TRUE(h.alerts->shown.empty());
    const auto sent = uploads();
    ASSERT_EQ(sent.size(), 1u);
    const QString name = QString::fromUtf8(QByteArray::fromBase64(QByteArray::fromStdString(sent[0].multipart["filename"].get<std::string>())));
    EXPECT_TRUE(name.startsWith("video-") && name.endsWith(".gif")) << name.toStdString();
    EXPECT_EQ(sent[0].multipart["content_type"], "image/gif");
    const int size = sent[0].multipart["size"].get<int>();
    EXPECT_TRUE(mark.messages().contains(QStringLiteral("performKestrovaUpload: VideoPreviewWindow: GIF converted, size: %1 bytes").arg(size)));
    EXPECT_EQ(h.history->screenshots().first().videoURL, recording);
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();
}

TEST_F(CloudVideoUpload, AnAnswerWithoutALinkStillCounts)
{
    const nlohmann::json answer = {{"file",
                                    {{"id", 7}, {"user_id", 1}, {"file_name", "x.mp4"}, {"mime_type", "video/mp4"}, {"file_size", 10},
                                     {"is_public", true}, {"created_at", "2024-01-01T00:00:00.000000Z"},
                                     {"updated_at", "2024-01-01T00:00:00.000000Z"}}},
                                   {"message", "File uploaded"}};
    fake->rule("POST", "/api/v1/files", 201, answer);
    auto w = window();
    cloudtest::LogMark mark;
    w->uploadToKestrova();
    ASSERT_TRUE(test::waitUntil([&] { return !w->isUploading(); }, 60s));
    ASSERT_TRUE(h.alerts->shown.empty()) << h.alerts->shown[0].informativeText.toStdString();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "earlier");
    EXPECT_TRUE(mark.messages().contains("performKestrovaUpload: VideoPreviewWindow: WARNING - No URL in response"));
    ASSERT_EQ(h.history->screenshots().size(), 1);
    EXPECT_FALSE(h.history->screenshots().first().remoteURL);
    ASSERT_TRUE(w->successBanner());
    EXPECT_TRUE(test::waitUntil([&] { return !w->isVisible(); }, 3s));
}

TEST_F(CloudVideoUpload, FailuresShowTheirTextAndLeaveTheWindowReady)
{
    auto w = window();
    const struct {
        const char* what;
        std::function<void()> prepare;
        const char* text; // beginning of the alert's text
    } cases[] = {
        {"the service refuses", [] { fake->rule("POST", "/api/v1/files", 413, nlohmann::json{{"message", "File too large"}}); },
         "File too large"},
        {"the recording is gone", [this] { QFile::rename(recording, recording + ".away"); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        h.alerts->shown.clear();
        c.prepare();
        cloudtest::LogMark mark;
        w->uploadToKestrova();
        ASSERT_TRUE(test::waitUntil([&] { return !w->isUploading(); }, 60s));
        ASSERT_EQ(h.alerts->shown.size(), 1u);
        EXPECT_EQ(h.alerts->shown[0].messageText, "Ошибка загрузки");
        const QString text = h.alerts->shown[0].informativeText;
        EXPECT_FALSE(text.isEmpty());
        EXPECT_TRUE(text.startsWith(QString::fromUtf8(c.text))) << text.toStdString();
        const QStringList own = mark.messages().filter(QRegularExpression("^performKestrovaUpload: "));
        // The start line (and for a read recording its size), then the failure twice.
        ASSERT_GE(own.size(), 3) << own.join('\n').toStdString();
        const QString failure = own[own.size() - 2];
        EXPECT_TRUE(failure.startsWith("performKestrovaUpload: VideoPreviewWindow: Upload failed with error: ")) << failure.toStdString();
        EXPECT_EQ(own.last(), "performKestrovaUpload: ERROR: " + text);
        EXPECT_TRUE(w->isVisible());
        EXPECT_FALSE(w->progressIndicator()->isVisible());
        EXPECT_TRUE(h.history->screenshots().isEmpty());
        EXPECT_EQ(QGuiApplication::clipboard()->text(), "earlier");
    }
    QFile::rename(recording + ".away", recording);
}
