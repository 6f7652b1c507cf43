#pragma once

// Shared by the video tests: recordings made with the ffmpeg program, GIFs read back with ffprobe
// and ffmpeg, and stand-ins for the save panel and the alerts.

#include "recording/MediaFileProbe.h"
#include "support/TestSupport.h"
#include "video/VideoAlertPresenter.h"
#include "video/VideoSavePanel.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace videotest {

// A video of `seconds` from the lavfi source `source` (e.g. "color=c=red"), `size` pixels, `rate`
// frames a second, H.264 in MP4. Empty when ffmpeg failed.
inline QString makeVideo(const QString& folder, const QString& name, const QString& source, double seconds,
                         const QSize& size = QSize(64, 48), int rate = 100)
{
    const QString out = folder + "/" + name;
    const QString input = QStringLiteral("%1%2s=%3x%4:r=%5:d=%6").arg(source, source.contains('=') ? ":" : "=").arg(size.width()).arg(size.height()).arg(rate).arg(seconds);
    const auto result = test::run("/usr/bin/ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", input, "-c:v", "libx264",
                                                      "-pix_fmt", "yuv420p", "-preset", "ultrafast", out},
                                  std::chrono::seconds(60));
    EXPECT_EQ(result.exitCode, 0) << result.output.toStdString();
    return result.exitCode == 0 ? out : QString();
}

struct GifInfo {
    QString codec;
    int width = 0;
    int height = 0;
    int frames = 0;
    std::vector<double> times; // presentation time of each frame
    int loopCount = -2;
};

inline GifInfo probeGIF(const QString& path)
{
    GifInfo info;
    const QJsonObject video = media::stream(media::probe(path, {"-count_frames"}), "video");
    info.codec = video.value("codec_name").toString();
    info.width = video.value("width").toInt();
    info.height = video.value("height").toInt();
    info.frames = video.value("nb_read_frames").toString().toInt();
    for (const auto& frame : media::videoFrames(path))
        info.times.push_back(frame.time);
    info.loopCount = media::gifLoopCount(path);
    return info;
}

// Answers each save panel with the next of `answers` (none: cancelled) from the event loop.
class FakeSavePanel : public VideoSavePanel {
public:
    void begin(const Options& options, Completion completion) override
    {
        opened.push_back(options);
        pending.push_back(std::move(completion));
    }
    // Closes the oldest open panel with `path` (none: cancelled).
    void answer(const std::optional<QString>& path)
    {
        ASSERT_FALSE(pending.empty());
        Completion completion = std::move(pending.front());
        pending.erase(pending.begin());
        completion(path);
    }
    std::vector<Options> opened;
    std::vector<Completion> pending;
};

class FakeAlerts : public VideoAlertPresenter {
public:
    void present(QWidget*, const Alert& alert) override { shown.push_back(alert); }
    QStringList messages() const
    {
        QStringList result;
        for (const Alert& alert : shown)
            result << alert.messageText;
        return result;
    }
    std::vector<Alert> shown;
};

} // namespace videotest

#include "app/AppState.h"
#include "cloud/APIClient.h"
#include "screenshots/ScreenshotHistoryManager.h"
#include "video/VideoPreviewWindow.h"

#include <QCoreApplication>
#include <QMediaPlayer>
#include <QTemporaryDir>

#include "video/VideoPlayerView.h"

#include <memory>

namespace videotest {

// One preview's surroundings: a folder with a recording, the shared state, a capture history of
// its own, the status menu's refresh counted, and the dialogs replaced.
struct Harness {
    Harness()
    {
        EXPECT_TRUE(dir.isValid());
        ScreenshotHistoryManager::Environment environment;
        environment.directory = dir.path() + "/history";
        history = std::make_unique<ScreenshotHistoryManager>(environment);
    }

    VideoPreviewWindow::Environment environment()
    {
        VideoPreviewWindow::Environment environment;
        environment.savePanel = panel;
        environment.alerts = alerts;
        environment.isCloudSignedIn = [this] { return cloudSignedIn; };
        // A dead local port unless a test brings the fake: nothing leaves the machine.
        environment.cloudClient = [this]() -> APIClient& { return cloud ? *cloud : deadCloud; };
        return environment;
    }

    std::unique_ptr<VideoPreviewWindow> window(const QString& video)
    {
        auto window = std::make_unique<VideoPreviewWindow>(video, &appState, history.get(), refresher(), environment());
        settlePlayer(*window);
        return window;
    }

    // Lets the player finish loading, as it does while a real window waits for the user: a
    // pipeline still loading when its window goes waits for the GUI thread a while.
    static void settlePlayer(VideoPreviewWindow& window)
    {
        QMediaPlayer* player = window.playerView()->player();
        test::waitUntil([player] { return player->mediaStatus() != QMediaPlayer::LoadingMedia; }, std::chrono::seconds(5));
    }

    // Deletions asked for outside any event (as the tests do) run here.
    static void runDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    RecentCapturesRefresher refresher()
    {
        return [this](const QList<Screenshot>& screenshots) {
            ++refreshes;
            lastRefresh = screenshots;
        };
    }

    void changeSettings(const std::function<void(ServerSettings&)>& change)
    {
        ServerSettings settings = appState.serverSettings();
        change(settings);
        appState.setServerSettings(settings);
    }

    QString path(const QString& name) const { return dir.path() + "/" + name; }

    QTemporaryDir dir;
    AppState appState;
    std::unique_ptr<ScreenshotHistoryManager> history;
    int refreshes = 0;
    QList<Screenshot> lastRefresh;
    std::shared_ptr<FakeSavePanel> panel = std::make_shared<FakeSavePanel>();
    std::shared_ptr<FakeAlerts> alerts = std::make_shared<FakeAlerts>();
    bool cloudSignedIn = false;
    APIClient* cloud = nullptr;
    APIClient deadCloud{QStringLiteral("http://127.0.0.1:1")};
};

} // namespace videotest
