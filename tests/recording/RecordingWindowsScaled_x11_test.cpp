// The red frame of a recording at the display's device pixel ratio; tests.cmake runs this binary
// once per ratio (1, 1.25, 1.5, 2). Fractional ratios put the area's edges between device pixels:
// the frame must stay on the pixels around those the recorder grabs, so the video's edge rows and
// columns show only what lies beneath.
#include "platform/Mp4Writer.h"
#include "platform/PixelGrabber.h"
#include "recording/MediaFileProbe.h"
#include "recording/RecordingFrameWindow.h"
#include "recording/ScreenBackdrop.h"
#include "recording/ScreenRecorder.h"
#include "support/TestSupport.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace {

const QColor kBackground(40, 160, 200);

class SolidWindow : public QWidget {
public:
    explicit SolidWindow(const QRect& geometry)
    {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus
                       | Qt::WindowTransparentForInput);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setGeometry(geometry);
        show();
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), kBackground); }
};

bool isBackground(QRgb c, int tolerance)
{
    return media::colourDistance(c, kBackground.rgb()) <= tolerance;
}

// A recording of `area` with 30 frames captured by hand; the file's path, empty on failure.
QString record(const QRectF& area)
{
    ScreenRecorder recorder;
    recorder.setFrameTimerEnabled(false);
    bool started = false;
    recorder.startRecording(area, {}, [&](bool success, std::optional<platform::AppError>) { started = success; });
    if (!started || !test::waitUntil([&] { return recorder.isRecording(); }, 2s))
        return {};
    // Ticks within one 1/600 s slot are dropped: a short pause between captures.
    for (int guard = 0; recorder.frameCount() < 30 && guard < 1000; ++guard) {
        recorder.captureFrame();
        std::this_thread::sleep_for(3ms);
    }
    std::optional<QString> url;
    bool answered = false;
    recorder.stopRecording([&](std::optional<QString> u, std::optional<platform::AppError>) {
        url = u;
        answered = true;
    });
    if (!test::waitUntil([&] { return answered; }, 20s))
        return {};
    return url.value_or(QString());
}

QImage firstFrame(const QString& path, const QSize& size)
{
    const auto frames = path.isEmpty() ? std::vector<QImage>() : media::decodeFrames(path, size);
    return frames.empty() ? QImage() : frames.front();
}

} // namespace

TEST(RecordingFrameAtScale, TheVideoShowsNoPixelOfTheFrame)
{
    ASSERT_TRUE(test::haveDisplay());
    ASSERT_FALSE(ScreenBackdrop::compositingAvailable()) << "the test display has no compositing manager";
    const double ratio = QGuiApplication::primaryScreen()->devicePixelRatio();
    const QString expectedRatio = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
    ASSERT_DOUBLE_EQ(ratio, expectedRatio.toDouble()) << "the display's ratio is not the one this run is for";
    const auto grabber = platform::PixelGrabber::create();
    ASSERT_TRUE(grabber);
    SolidWindow beneath(QRect(40, 40, 700, 500));
    ASSERT_TRUE(test::waitUntil([&] {
        const QImage shot = grabber->grab(QRect(QPoint(300, 300) * ratio, QSize(1, 1)));
        return !shot.isNull() && isBackground(shot.pixel(0, 0), 0);
    }, 3s));

    const struct {
        const char* what;
        QRectF area;
    } cases[] = {
        {"even", {140, 160, 400, 180}},
        {"odd", {141, 161, 401, 181}},
        {"odd, at odd points", {99, 123, 333, 247}},
        {"fractional", {100.5, 120.25, 301.5, 201.75}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Around the area on the screen: no red before the frame shows, then its red, painted whole.
        const QRect around = QRectF(c.area.topLeft() * ratio, c.area.size() * ratio).toAlignedRect().adjusted(-20, -20, 20, 20);
        const auto redPixels = [&] {
            const QImage shot = grabber->grab(around);
            int red = 0;
            for (int y = 0; y < shot.height(); ++y)
                for (int x = 0; x < shot.width(); ++x)
                    red += QColor(shot.pixel(x, y)) == QColor(Qt::red);
            return red;
        };
        ASSERT_TRUE(test::waitUntil([&] { return redPixels() == 0; }, 3s));
        const QSize video = platform::Mp4Writer::evenVideoSize(c.area.size());
        // The same area without the frame: what the edges show when nothing of the frame is in.
        const QImage bare = firstFrame(record(c.area), video);
        ASSERT_FALSE(bare.isNull());
        ASSERT_TRUE(isBackground(bare.pixel(video.width() / 2, video.height() / 2), 12));

        RecordingFrameWindow frame(c.area);
        int seen = 0;
        ASSERT_TRUE(test::waitUntil([&] {
            const int now = redPixels();
            const bool settled = now > 0 && now == seen;
            seen = now;
            return settled;
        }, 3s));
        const QImage first = firstFrame(record(c.area), video);
        ASSERT_FALSE(first.isNull());
        // The video's outer two rows and columns on every side, against the recording without the
        // frame (H.264 is lossy; a pixel of the frame shifts the colour by 40 and more).
        const struct {
            const char* edge;
            bool row;
            int at;
        } edges[] = {
            {"top", true, 0},   {"top+1", true, 1},   {"bottom", true, video.height() - 1},  {"bottom-1", true, video.height() - 2},
            {"left", false, 0}, {"left+1", false, 1}, {"right", false, video.width() - 1}, {"right-1", false, video.width() - 2},
        };
        for (const auto& e : edges) {
            const int n = e.row ? video.width() : video.height();
            int off = 0;
            QRgb worst = 0, beneath = 0;
            QPoint where;
            for (int i = 0; i < n; ++i) {
                const QPoint at = e.row ? QPoint(i, e.at) : QPoint(e.at, i);
                const QRgb p = first.pixel(at);
                if (media::colourDistance(p, bare.pixel(at)) > 24) {
                    ++off;
                    worst = p;
                    beneath = bare.pixel(at);
                    where = at;
                }
            }
            EXPECT_EQ(off, 0) << e.edge << " at ratio " << ratio << ", e.g. at " << where.x() << "," << where.y() << ": "
                              << qRed(worst) << "," << qGreen(worst) << "," << qBlue(worst) << " against " << qRed(beneath) << ","
                              << qGreen(beneath) << "," << qBlue(beneath) << " without the frame";
        }
    }
}
