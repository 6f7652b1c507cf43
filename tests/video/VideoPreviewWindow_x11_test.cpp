// The real preview window on the test X server: it opens with the recording's first frame, a click
// on the play button plays a small MP4, its picture reaches the screen, the banner of an upload lies
// on top of the picture, and the keys its tool tips name run their items.
#include "video/VideoPreviewWindow.h"

#include "platform/PixelGrabber.h"
#include "video/VideoPlayerView.h"
#include "video/VideoTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMediaPlayer>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

QRgb screenPixel(platform::PixelGrabber& grabber, const QPoint& at)
{
    const QImage pixel = grabber.grab(QRect(at, QSize(1, 1)));
    return pixel.isNull() ? 0 : pixel.pixel(0, 0);
}

} // namespace

TEST(VideoPreviewWindowX11, OpensOnTheFirstFrameAndCountsDownAsTheTitleCounts)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    videotest::Harness h;
    // Blue for its first 0.4 s, then red; 1.8 s in all.
    const QColor blue(0x20, 0x40, 0xd0);
    const QString video = h.path("clip.mp4");
    const auto made = test::run("/usr/bin/ffmpeg", {"-v", "error", "-y", "-filter_complex",
                                                    "color=c=0x2040d0:s=320x240:r=25:d=0.4[a];color=c=0xc81e28:s=320x240:r=25:d=1.4[b];"
                                                    "[a][b]concat=n=2:v=1:a=0",
                                                    "-c:v", "libx264", "-pix_fmt", "yuv420p", video});
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    QString error;
    auto grabber = platform::PixelGrabber::create(&error);
    ASSERT_TRUE(grabber) << error.toStdString();

    auto window = h.window(video);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    VideoPlayerView* view = window->playerView();
    const QPoint centre = view->mapToGlobal(QPoint(view->width() / 2, view->height() / 3));
    EXPECT_TRUE(test::waitUntil([&] { return media::colourDistance(screenPixel(*grabber, centre), blue.rgb()) <= 40; }, 3s))
        << "the window opens black, not on its first frame: " << std::hex << screenPixel(*grabber, centre);
    const QImage painted = view->grab().toImage();
    EXPECT_LE(media::colourDistance(painted.pixel(painted.width() / 2, painted.height() / 3), blue.rgb()), 40);
    EXPECT_NE(view->player()->playbackState(), QMediaPlayer::PlayingState) << "nothing plays before Play";

    // 1.8 s: the title says 1 second, and so does the time still to come at the start.
    EXPECT_EQ(window->windowTitle(), "Видео (1 сек)");
    ASSERT_TRUE(test::waitUntil([&] { return view->player()->duration() > 0; }, 10s));
    auto* remaining = view->controls()->findChild<QLabel*>("remaining");
    auto* elapsed = view->controls()->findChild<QLabel*>("elapsed");
    ASSERT_TRUE(remaining && elapsed);
    EXPECT_EQ(remaining->text(), "-0:01");
    EXPECT_EQ(elapsed->text(), "0:00");
    window->close();
}

TEST(VideoPreviewWindowX11, PlaysTheRecordingAndShowsTheBannerOverIt)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    videotest::Harness h;
    const QColor red(200, 30, 40);
    // Picture and sound, as a recording with the microphone has.
    const QString video = h.path("clip.mp4");
    const auto made = test::run("/usr/bin/ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "color=c=0xc81e28:s=320x240:r=25:d=1.5",
                                                    "-f", "lavfi", "-i", "sine=frequency=440:duration=1.5", "-c:v", "libx264",
                                                    "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", video});
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    QString error;
    auto grabber = platform::PixelGrabber::create(&error);
    ASSERT_TRUE(grabber) << error.toStdString();

    auto window = h.window(video);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(window->windowTitle(), "Видео (1 сек)");
    VideoPlayerView* view = window->playerView();
    QMediaPlayer* player = view->player();
    ASSERT_TRUE(test::waitUntil([&] { return player->mediaStatus() == QMediaPlayer::LoadedMedia; }, 10s))
        << int(player->mediaStatus()) << " " << player->errorString().toStdString();
    EXPECT_EQ(player->playbackState(), QMediaPlayer::StoppedState);

    auto* play = view->controls()->findChild<QToolButton*>("playPause");
    ASSERT_TRUE(play && play->isVisible());
    const QPoint button = play->mapToGlobal(play->rect().center());
    ASSERT_TRUE(test::xdotoolBlocking({"mousemove", QString::number(button.x()), QString::number(button.y()), "click", "1"}));
    ASSERT_TRUE(test::waitUntil([&] { return player->playbackState() == QMediaPlayer::PlayingState; }, 5s));
    EXPECT_TRUE(view->audioOutput()) << "the sound goes out once it plays";

    // The picture, scaled into the view, on the screen itself. The limits are generous for the
    // sanitizer builds; a normal build gets there within a second.
    const QPoint centre = view->mapToGlobal(QPoint(view->width() / 2, view->height() / 3));
    ASSERT_TRUE(test::waitUntil([&] { return view->framesReceived() >= 5; }, 15s)) << view->framesReceived();
    EXPECT_TRUE(test::waitUntil([&] { return media::colourDistance(screenPixel(*grabber, centre), red.rgb()) <= 40; }, 10s))
        << std::hex << screenPixel(*grabber, centre);
    EXPECT_TRUE(test::waitUntil([&] { return player->position() > 300; }, 15s));
    EXPECT_TRUE(test::waitUntil([&] { return player->mediaStatus() == QMediaPlayer::EndOfMedia; }, 20s));

    // The banner of a finished upload covers the picture where it lies.
    window->showSuccessBanner();
    ASSERT_TRUE(window->successBanner());
    const QPoint banner = window->successBanner()->mapToGlobal(QPoint(window->successBanner()->width() - 8, 20));
    EXPECT_TRUE(test::waitUntil([&] { return media::colourDistance(screenPixel(*grabber, banner), qRgb(30, 30, 30)) <= 12; }, 10s))
        << std::hex << screenPixel(*grabber, banner);
    EXPECT_EQ(window->successBanner()->geometry().top(), 16);
    window->close();
}

// The keys its tool tips name, typed as a user types them: Ctrl+S saves, Ctrl+U uploads with the
// provider the upload item shows, Return is "done" (the file goes), Escape closes the window as its
// close button does (the file stays). There is no copy item: Ctrl+C does nothing here.
TEST(VideoPreviewWindowX11, TheKeysTheToolTipsNameRunTheirItems)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    videotest::Harness h;
    h.changeSettings([](ServerSettings& s) { s.dropboxAccessToken = "token"; });
    auto open = [&](const QString& name) {
        const QString video = videotest::makeVideo(h.dir.path(), name, "color=c=red", 1);
        auto window = h.window(video);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        EXPECT_TRUE(test::waitUntil([&] { return QApplication::activeWindow() == window.get(); }, 5s));
        return std::make_pair(std::move(window), video);
    };
    auto key = [](const char* keys) { return test::xdotool({"key", "--clearmodifiers", keys}); };

    auto [window, video] = open("done.mp4");
    ASSERT_TRUE(key("ctrl+s"));
    ASSERT_TRUE(test::waitUntil([&] { return h.panel->opened.size() == 1; }, 3s));
    h.panel->answer(std::nullopt);
    ASSERT_TRUE(key("ctrl+u"));
    EXPECT_TRUE(test::waitUntil([&] { return h.alerts->shown.size() == 1; }, 3s)) << "Dropbox is the item's provider";
    ASSERT_TRUE(key("ctrl+c"));
    test::spin(300ms);
    EXPECT_EQ(h.panel->opened.size(), 1u);
    EXPECT_EQ(h.alerts->shown.size(), 1u);
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(key("Return"));
    EXPECT_TRUE(test::waitUntil([&] { return !window->isVisible(); }, 3s));
    EXPECT_FALSE(QFile::exists(video));

    auto [second, kept] = open("escape.mp4");
    ASSERT_TRUE(key("Escape"));
    EXPECT_TRUE(test::waitUntil([&] { return !second->isVisible(); }, 3s));
    EXPECT_TRUE(QFile::exists(kept));
}
