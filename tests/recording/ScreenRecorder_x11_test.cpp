#include "recording/ScreenRecorder.h"

#include "app/DebugLogger.h"
#include "platform/Mp4Writer.h"
#include "recording/MediaFileProbe.h"
#include "recording/RecordingFrameWindow.h"
#include "support/PatternWindow.h"
#include "support/SmallDisk.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

using platform::AppError;

namespace {

using namespace std::chrono_literals;

// A window of one colour, optionally with a white bar that moves right at 150 points a second.
class TestWindow : public QWidget {
public:
    TestWindow(const QRect& geometry, QColor background, bool movingBar = false, bool clickThrough = false)
        : m_background(background)
        , m_movingBar(movingBar)
    {
        Qt::WindowFlags flags = Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint;
        if (clickThrough)
            flags |= Qt::WindowTransparentForInput;
        setWindowFlags(flags);
        setGeometry(geometry);
        if (movingBar) {
            connect(&m_timer, &QTimer::timeout, this, [this] { update(); });
            m_timer.start(8);
        }
        m_clock.start();
        show();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_background);
        if (m_movingBar) {
            const int x = int(m_clock.elapsed() * 150 / 1000) % (width() - 20);
            painter.fillRect(QRect(x, 0, 20, height()), Qt::white);
        }
    }

private:
    QColor m_background;
    bool m_movingBar;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

struct StopAnswer {
    bool answered = false;
    std::optional<QString> url;
    std::optional<AppError> error;
};

void startAndWait(ScreenRecorder& recorder, const QRectF& area, const RecordingSettings& settings = {})
{
    bool started = false;
    recorder.startRecording(area, settings, [&](bool success, std::optional<AppError> error) {
        started = success;
        EXPECT_TRUE(success) << (error ? error->localizedDescription.toStdString() : "");
    });
    ASSERT_TRUE(started);
    ASSERT_TRUE(test::waitUntil([&] { return recorder.isRecording(); }, 2s));
}

std::shared_ptr<StopAnswer> stop(ScreenRecorder& recorder)
{
    auto answer = std::make_shared<StopAnswer>();
    recorder.stopRecording([answer](std::optional<QString> url, std::optional<AppError> error) {
        answer->answered = true;
        answer->url = url;
        answer->error = error;
    });
    return answer;
}

QString finishedFile(ScreenRecorder& recorder)
{
    auto answer = stop(recorder);
    EXPECT_TRUE(test::waitUntil([&] { return answer->answered; }, 20s));
    EXPECT_FALSE(answer->error) << (answer->error ? answer->error->localizedDescription.toStdString() : "");
    return answer->url.value_or(QString());
}

// Stops a recording that a write failure has ended: no file comes back and the error says why;
// `text` receives what it says.
void stopAfterWriteFailure(ScreenRecorder& recorder, QString* text)
{
    auto answer = stop(recorder);
    ASSERT_TRUE(test::waitUntil([&] { return answer->answered; }, 20s));
    EXPECT_FALSE(answer->url);
    ASSERT_TRUE(answer->error);
    EXPECT_EQ(answer->error->code, ScreenRecorder::WriteFailed);
    *text = answer->error->localizedDescription;
}

void waitForFrames(ScreenRecorder& recorder, int frames)
{
    ASSERT_TRUE(test::waitUntil([&] { return recorder.frameCount() >= frames; }, 10s)) << recorder.frameCount();
}

// Appends until `count` frames are in (ticks within one 1/600 s slot are dropped).
void captureFrames(ScreenRecorder& recorder, int count)
{
    for (int guard = 0; recorder.frameCount() < count && guard < 1000; ++guard) {
        recorder.captureFrame();
        std::this_thread::sleep_for(3ms);
    }
    ASSERT_EQ(recorder.frameCount(), count);
}

// Starts a recording whose frames the test captures by hand, with the first `count` in.
void startByHand(ScreenRecorder& recorder, const QRectF& area, int count)
{
    recorder.setFrameTimerEnabled(false);
    startAndWait(recorder, area);
    captureFrames(recorder, count);
}

QStringList logLines()
{
    DebugLogger::shared().flush();
    QFile file(DebugLogger::shared().logFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

bool logHas(const QString& text)
{
    for (const QString& line : logLines())
        if (line.contains(text))
            return true;
    return false;
}

bool isRingBlue(QRgb c)
{
    return qBlue(c) > qRed(c) + 40 && qBlue(c) > qGreen(c) + 15;
}

} // namespace

TEST(ScreenRecorderX11, RefusalsAndTheMinimumLength)
{
    TestWindow window(QRect(100, 100, 200, 150), QColor(90, 90, 90));
    test::spin(200ms);
    const QRectF area(100, 100, 200, 150);

    ScreenRecorder recorder;
    recorder.setFrameTimerEnabled(false);
    bool answered = false;
    recorder.startRecording(area, {}, [&](bool success, std::optional<AppError>) { answered = success; });
    EXPECT_TRUE(answered) << "the start is answered before startRecording returns";
    EXPECT_FALSE(recorder.isRecording()) << "recording begins on the next turn of the event loop";

    // Too early to stop: refused, and the recording then begins as usual.
    auto early = stop(recorder);
    EXPECT_TRUE(early->answered);
    ASSERT_TRUE(early->error);
    EXPECT_EQ(early->error->code, 2);
    ASSERT_TRUE(test::waitUntil([&] { return recorder.isRecording(); }, 2s));

    const QString path = recorder.outputURL();
    EXPECT_EQ(QFileInfo(path).absolutePath(), ScreenRecorder::recordingsDirectory());
    EXPECT_TRUE(QRegularExpression(R"(^ScreenRecord_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d\.mp4$)").match(QFileInfo(path).fileName()).hasMatch())
        << path.toStdString();
    // The frames go to a hidden in-progress file beside it until the stop.
    const QString partial = recorder.inProgressURL();
    EXPECT_EQ(partial, QFileInfo(path).absolutePath() + "/." + QFileInfo(path).fileName() + ".part");
    EXPECT_TRUE(QFile::exists(partial));
    EXPECT_FALSE(QFile::exists(path));

    // A second start leaves the running recording alone.
    std::optional<AppError> second;
    recorder.startRecording(QRectF(0, 0, 50, 50), {true, true, true}, [&](bool success, std::optional<AppError> error) {
        EXPECT_FALSE(success);
        second = error;
    });
    ASSERT_TRUE(second);
    EXPECT_EQ(second->code, 1);
    EXPECT_EQ(second->localizedDescription, "Already recording");
    EXPECT_EQ(recorder.recordingArea(), area);
    EXPECT_EQ(recorder.settings(), RecordingSettings{});
    EXPECT_EQ(recorder.outputURL(), path);

    captureFrames(recorder, 29);
    auto tooShort = stop(recorder);
    EXPECT_TRUE(tooShort->answered);
    EXPECT_FALSE(tooShort->url);
    ASSERT_TRUE(tooShort->error);
    EXPECT_EQ(tooShort->error->domain, "Kestrova");
    EXPECT_EQ(tooShort->error->code, 5);
    EXPECT_EQ(tooShort->error->localizedDescription, "Запись слишком короткая");
    EXPECT_EQ(tooShort->error->localizedFailureReason, "Минимальная длительность записи - 1 секунда");
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(QFile::exists(partial)) << "too short to keep: it is removed";
    EXPECT_TRUE(recorder.outputURL().isEmpty());
    EXPECT_EQ(recorder.frameCount(), 0);
    EXPECT_TRUE(logHas("ScreenRecorder: ERROR - Too few frames (29), need at least 30 frames (1 second)"));
}

TEST(ScreenRecorderX11, ThirtyFramesMakeAFile)
{
    TestWindow window(QRect(100, 100, 200, 150), QColor(90, 90, 90));
    test::spin(200ms);
    ScreenRecorder recorder;
    startByHand(recorder, QRectF(100, 100, 200, 150), 30);
    auto answer = stop(recorder);
    EXPECT_FALSE(answer->answered) << "the file is finished in the background";
    ASSERT_TRUE(test::waitUntil([&] { return answer->answered; }, 20s));
    ASSERT_TRUE(answer->url) << (answer->error ? answer->error->localizedDescription.toStdString() : "");
    EXPECT_FALSE(answer->error);
    const QString path = *answer->url;
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(media::videoFrames(path).size(), 30u);
    EXPECT_TRUE(recorder.outputURL().isEmpty());
    EXPECT_FALSE(recorder.settings());
    EXPECT_EQ(recorder.frameCount(), 0);
    EXPECT_EQ(recorder.recordingDuration(), 0);
    EXPECT_TRUE(logHas("ScreenRecorder: Recording finished successfully - URL: " + path));
}

TEST(ScreenRecorderX11, RecordsAMovingBarAtThirtyFramesASecond)
{
    const QRect where(100, 100, 400, 300);
    TestWindow window(where, QColor(60, 60, 60), true);
    test::spin(300ms);

    ScreenRecorder recorder;
    int durationChanges = 0;
    QObject::connect(&recorder, &ScreenRecorder::recordingDurationChanged, [&] { ++durationChanges; });
    startAndWait(recorder, QRectF(where));
    test::spin(2s);
    EXPECT_GT(recorder.recordingDuration(), 1.8);
    EXPECT_GT(durationChanges, 50);
    const QString path = finishedFile(recorder);
    ASSERT_FALSE(path.isEmpty());

    const QJsonObject probed = media::probe(path);
    const QJsonObject video = media::stream(probed, "video");
    EXPECT_EQ(video.value("codec_name").toString(), "h264");
    EXPECT_EQ(video.value("width").toInt(), 400);
    EXPECT_EQ(video.value("height").toInt(), 300);
    EXPECT_EQ(media::streamCount(probed, "audio"), 0);
    EXPECT_NEAR(media::number(probed.value("format").toObject(), "duration"), 2.0, 0.2);
    // The finished file is one faststart MP4, not the fragments it was recorded in.
    const QStringList boxes = media::topLevelBoxes(path);
    EXPECT_GE(boxes.indexOf("moov"), 0) << boxes.join(' ').toStdString();
    EXPECT_LT(boxes.indexOf("moov"), boxes.indexOf("mdat")) << boxes.join(' ').toStdString();
    EXPECT_FALSE(boxes.contains("moof")) << boxes.join(' ').toStdString();
    EXPECT_FALSE(QFile::exists(ScreenRecorder::inProgressPath(path)));

    const auto infos = media::videoFrames(path);
    EXPECT_NEAR(double(infos.size()), 60, 6);
    ASSERT_GT(infos.size(), 40u);
    EXPECT_LT(infos.front().time, 0.1) << "the first frame comes right after the start";
    double worstGap = 0;
    for (size_t i = 1; i < infos.size(); ++i) {
        EXPECT_GT(infos[i].time, infos[i - 1].time);
        worstGap = std::max(worstGap, infos[i].time - infos[i - 1].time);
    }
    // A stalled frame timer shows as a long hole; a loaded machine may merge a few deadlines.
    EXPECT_LT(worstGap, 0.25);

    const auto frames = media::decodeFrames(path, QSize(400, 300));
    ASSERT_EQ(frames.size(), infos.size());
    const auto barAt = [](const QImage& frame) {
        for (int x = 0; x < frame.width(); ++x)
            if (qGray(frame.pixel(x, 150)) > 200)
                return x;
        return -1;
    };
    // Nothing but the window in the first frame: its background everywhere off the bar.
    const QImage& first = frames.front();
    const int firstBar = barAt(first);
    ASSERT_GE(firstBar, 0);
    for (int y = 10; y < 300; y += 40) {
        for (int x = 10; x < 400; x += 40) {
            if (x < firstBar - 4 || x > firstBar + 24) {
                EXPECT_LE(media::colourDistance(first.pixel(x, y), qRgb(60, 60, 60)), 6) << x << "," << y;
            }
        }
    }
    const int later = barAt(frames[30]);
    EXPECT_GT(later, firstBar + 100) << "150 points a second, about one second later";
    EXPECT_LT(later, firstBar + 200);
}

TEST(ScreenRecorderX11, AnAreaPartlyOffTheScreenIsBlackThere)
{
    // The area hangs 40 points over the top edge and 100 over the right edge of the screen.
    TestWindow window(QRect(1820, 0, 100, 80), QColor(250, 250, 250));
    test::spin(200ms);
    ScreenRecorder recorder;
    startAndWait(recorder, QRectF(1820, -40, 200, 160));
    waitForFrames(recorder, 35);
    const QString path = finishedFile(recorder);
    ASSERT_FALSE(path.isEmpty());
    const auto frames = media::decodeFrames(path, QSize(200, 160));
    ASSERT_GE(frames.size(), 30u);
    const QImage& frame = frames[10];
    const struct {
        QPoint at;
        QRgb colour;
    } samples[] = {
        {{50, 80}, qRgb(250, 250, 250)}, {{10, 45}, qRgb(250, 250, 250)}, {{90, 115}, qRgb(250, 250, 250)},
        {{50, 20}, qRgb(0, 0, 0)},       {{150, 80}, qRgb(0, 0, 0)},      {{190, 5}, qRgb(0, 0, 0)},
        {{110, 150}, qRgb(0, 0, 0)},
    };
    for (const auto& sample : samples)
        EXPECT_LE(media::colourDistance(frame.pixel(sample.at), sample.colour), 6) << sample.at.x() << "," << sample.at.y();
}

// The red frame shown around the area while it records leaves no trace in the video: the edge
// rows and columns are the pattern beneath, as well as the middle of the picture is.
TEST(ScreenRecorderX11, TheFrameAroundTheAreaIsNotRecorded)
{
    const QRect where(100, 100, 600, 400);
    test::PatternWindow pattern(where);
    pattern.show();
    // Rows 60 to 239 of the pattern: green 60 and more, far from the frame's red.
    const QRect area(140, 160, 400, 180);
    RecordingFrameWindow frame{QRectF(area)};
    ASSERT_TRUE(test::waitUntil([&] { return pattern.isVisible() && frame.isVisible(); }, 2s));
    test::spin(300ms);

    ScreenRecorder recorder;
    startAndWait(recorder, QRectF(area));
    waitForFrames(recorder, 35);
    const QString path = finishedFile(recorder);
    ASSERT_FALSE(path.isEmpty());
    const auto frames = media::decodeFrames(path, area.size());
    ASSERT_GE(frames.size(), 30u);
    const QImage expected = pattern.pattern().copy(area.translated(-where.topLeft()));
    const QImage& decoded = frames[frames.size() / 2];

    // Mean distance from the pattern along one row or column of the video.
    const auto lineError = [&](bool row, int at) {
        const int n = row ? area.width() : area.height();
        double sum = 0;
        for (int i = 0; i < n; ++i) {
            const QPoint p = row ? QPoint(i, at) : QPoint(at, i);
            sum += media::colourDistance(decoded.pixel(p), expected.pixel(p));
        }
        return sum / n;
    };
    const double middle = (lineError(true, area.height() / 2) + lineError(false, area.width() / 2)) / 2;
    EXPECT_LT(middle, 12) << "the pattern itself comes through";
    const struct {
        const char* edge;
        bool row;
        int at;
    } edges[] = {
        {"top", true, 0},   {"top+1", true, 1},   {"bottom", true, area.height() - 1},  {"bottom-1", true, area.height() - 2},
        {"left", false, 0}, {"left+1", false, 1}, {"right", false, area.width() - 1}, {"right-1", false, area.width() - 2},
    };
    for (const auto& e : edges) {
        const double error = lineError(e.row, e.at);
        EXPECT_LT(error, middle + 8) << e.edge << ": " << error << " against " << middle << " in the middle";
        int red = 0;
        const int n = e.row ? area.width() : area.height();
        for (int i = 0; i < n; ++i) {
            const QRgb c = decoded.pixel(e.row ? QPoint(i, e.at) : QPoint(e.at, i));
            red += qRed(c) > 200 && qGreen(c) < 40 && qBlue(c) < 60;
        }
        EXPECT_EQ(red, 0) << e.edge;
    }
}

TEST(ScreenRecorderX11, ClicksInTheAreaDrawRingsWhereTheyHappened)
{
    const QRect where(200, 200, 400, 300);
    // Clicks pass through it to the desktop, as through another program's window.
    TestWindow window(where, QColor(128, 128, 128), false, true);
    // One of our own windows inside the area: a click on it draws nothing.
    TestWindow own(QRect(550, 420, 40, 40), QColor(200, 200, 60));
    test::spin(300ms);

    ScreenRecorder recorder;
    RecordingSettings settings;
    settings.showClickIndicator = true;
    startAndWait(recorder, QRectF(where), settings);
    waitForFrames(recorder, 10);
    ASSERT_TRUE(test::xdotoolBlocking({"mousemove", "100", "100", "click", "1"})); // outside
    ASSERT_TRUE(test::xdotoolBlocking({"mousemove", "560", "430", "click", "1"})); // our own window
    test::spin(200ms);
    const double clicked = recorder.startTime();
    ASSERT_TRUE(test::xdotoolBlocking({"mousemove", "300", "280", "click", "1"}));
    ASSERT_TRUE(test::waitUntil([&] { return !recorder.clickAnimations().isEmpty(); }, 2s));
    const auto rings = recorder.clickAnimations();
    ASSERT_EQ(rings.size(), 1);
    EXPECT_EQ(rings[0].position, QPointF(100, 80));
    EXPECT_DOUBLE_EQ(rings[0].duration, 0.8);
    const double ringTime = rings[0].startTime - clicked;
    test::spin(1200ms);
    EXPECT_TRUE(recorder.clickAnimations().isEmpty()) << "rings leave the list after their 0.8 s";
    const QString path = finishedFile(recorder);
    ASSERT_FALSE(path.isEmpty());

    EXPECT_TRUE(logHas("ScreenRecorder: Click is outside recording area"));
    EXPECT_TRUE(logHas("ScreenRecorder: Click is within recording area, relative position: (100.0, 80.0)"));
    EXPECT_FALSE(logHas("relative position: (360.0, 230.0)"));

    const auto infos = media::videoFrames(path);
    const auto frames = media::decodeFrames(path, QSize(400, 300));
    ASSERT_EQ(infos.size(), frames.size());
    int ringFrames = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        const double age = infos[i].time - ringTime;
        double sx = 0, sy = 0, farthest = 0, nearest = 1e9;
        int count = 0;
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x)
                if (isRingBlue(frames[i].pixel(x, y))) {
                    sx += x;
                    sy += y;
                    ++count;
                    const double r = std::hypot(x - 100.0, y - 80.0);
                    farthest = std::max(farthest, r);
                    nearest = std::min(nearest, r);
                }
        if (age < -0.05 || age > 0.85) {
            EXPECT_LT(count, 5) << "no ring in frame " << i << " at " << age << " s from the click";
            continue;
        }
        if (age < 0.05 || age > 0.6 || count < 20)
            continue; // around its start and its faded end
        ++ringFrames;
        EXPECT_NEAR(sx / count, 100, 3) << "frame " << i;
        EXPECT_NEAR(sy / count, 80, 3) << "frame " << i;
        const double expected = 20 + 30 * age / 0.8;
        EXPECT_NEAR(farthest, expected + 1.5, 5) << "frame " << i << " at " << age;
        EXPECT_NEAR(nearest, expected - 1.5, 5) << "frame " << i << " at " << age;
    }
    EXPECT_GT(ringFrames, 8);
}

TEST(ScreenRecorderX11, MicrophoneTrackIsTheSineInStepWithThePicture)
{
    if (qEnvironmentVariable("KESTROVA_PULSE") != "1")
        GTEST_SKIP() << "PulseAudio with the sine source is not running (scripts/test starts it)";
    TestWindow window(QRect(0, 0, 320, 240), QColor(30, 90, 30));
    test::spin(200ms);
    ScreenRecorder recorder;
    RecordingSettings settings;
    settings.recordMicrophone = true;
    startAndWait(recorder, QRectF(0, 0, 320, 240), settings);
    // The sine source hands its samples over in bursts: three seconds see several.
    test::spin(3s);
    const QString path = finishedFile(recorder);
    ASSERT_FALSE(path.isEmpty());

    const QJsonObject probed = media::probe(path);
    const QJsonObject video = media::stream(probed, "video");
    const QJsonObject audio = media::stream(probed, "audio");
    ASSERT_FALSE(audio.isEmpty());
    EXPECT_EQ(audio.value("codec_name").toString(), "aac");
    EXPECT_EQ(audio.value("sample_rate").toString(), "44100");
    EXPECT_EQ(audio.value("channels").toInt(), 2);
    const double videoDuration = media::number(video, "duration");
    const double audioDuration = media::number(audio, "duration");
    EXPECT_NEAR(videoDuration, 3.0, 0.3);
    EXPECT_NEAR(audioDuration, videoDuration, 0.1);
    EXPECT_NEAR(media::number(audio, "start_time"), 0, 0.1);
    EXPECT_EQ(media::dominantFrequency(media::decodeAudio(path), 44100), 440);
}

// Runs in a child without a sound server (see below).
TEST(ScreenRecorderX11, DISABLED_RecordWithAMicrophoneThatCannotStart)
{
    TestWindow window(QRect(0, 0, 160, 120), QColor(30, 30, 90));
    test::spin(200ms);
    ScreenRecorder recorder;
    RecordingSettings settings;
    settings.recordMicrophone = true;
    startAndWait(recorder, QRectF(0, 0, 160, 120), settings);
    waitForFrames(recorder, 35);
    const QString path = finishedFile(recorder);
    ASSERT_FALSE(path.isEmpty());
    std::printf("RECORDED %s\n", path.toUtf8().constData());
}

TEST(ScreenRecorderX11, WithoutASoundServerTheFileHasVideoOnly)
{
    QTemporaryDir home;
    for (const char* sub : {"Documents", ".config", ".local/state", ".cache", ".local/share"})
        QDir().mkpath(home.filePath(sub));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PULSE_SERVER", "unix:" + home.filePath("no-pulse-here"));
    environment.insert("KESTROVA_TEST_HOME", home.path());
    const auto child = test::run(QCoreApplication::applicationFilePath(),
                                 {"--gtest_also_run_disabled_tests",
                                  "--gtest_filter=ScreenRecorderX11.DISABLED_RecordWithAMicrophoneThatCannotStart"},
                                 60s, environment);
    ASSERT_TRUE(child.finished);
    ASSERT_EQ(child.exitCode, 0) << child.output.toStdString();
    const QRegularExpressionMatch recorded = QRegularExpression("RECORDED (\\S+)").match(QString::fromUtf8(child.output));
    ASSERT_TRUE(recorded.hasMatch()) << child.output.toStdString();
    const QJsonObject probed = media::probe(recorded.captured(1));
    EXPECT_EQ(media::streamCount(probed, "video"), 1);
    EXPECT_EQ(media::streamCount(probed, "audio"), 0);
    EXPECT_TRUE(child.output.contains("Kestrova: Failed to start audio engine - ")) << child.output.toStdString();

    QFile log(home.filePath(".local/state/Kestrova/kestrova.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString lines = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(QRegularExpression(R"(\] setupMicrophoneCapture: ERROR: \S)").match(lines).hasMatch()) << lines.toStdString();
}

TEST(ScreenRecorderX11, QuittingFinishesTheFileWithinTheTimeGiven)
{
    TestWindow window(QRect(0, 0, 320, 240), QColor(90, 30, 30));
    test::spin(200ms);

    // While recording: no time for a copy into a faststart file; the fragmented file takes the name.
    {
        ScreenRecorder recorder;
        startByHand(recorder, QRectF(0, 0, 320, 240), 35);
        const QString path = recorder.outputURL();
        EXPECT_EQ(recorder.stopRecordingAndWait(20s), ScreenRecorder::ShutdownResult::Finished);
        EXPECT_FALSE(recorder.isRecording());
        EXPECT_EQ(media::videoFrames(path).size(), 35u);
        EXPECT_FALSE(QFile::exists(ScreenRecorder::inProgressPath(path)));
        const QStringList boxes = media::topLevelBoxes(path);
        ASSERT_TRUE(boxes.contains("moov")) << boxes.join(' ').toStdString();
        EXPECT_TRUE(boxes.contains("moof")) << boxes.join(' ').toStdString();
        const media::Output checked = media::runTool("/usr/bin/ffprobe", {"-v", "error", path});
        EXPECT_TRUE(checked.ok && checked.err.isEmpty()) << checked.err.toStdString();
    }
    // While an ordinary stop is finishing: the wait joins it, and the stop's answer still comes.
    {
        ScreenRecorder recorder;
        startAndWait(recorder, QRectF(0, 0, 320, 240));
        waitForFrames(recorder, 35);
        auto answer = stop(recorder);
        EXPECT_EQ(recorder.stopRecordingAndWait(20s), ScreenRecorder::ShutdownResult::Finished);
        ASSERT_TRUE(test::waitUntil([&] { return answer->answered; }, 5s));
        ASSERT_TRUE(answer->url);
        EXPECT_GE(media::videoFrames(*answer->url).size(), 35u);
    }
    // Too short to keep.
    {
        ScreenRecorder recorder;
        startAndWait(recorder, QRectF(0, 0, 320, 240));
        const QString path = recorder.outputURL();
        EXPECT_EQ(recorder.stopRecordingAndWait(20s), ScreenRecorder::ShutdownResult::TooShort);
        EXPECT_FALSE(QFile::exists(path));
    }
    // Released while recording: the file is still finished.
    {
        auto recorder = std::make_unique<ScreenRecorder>();
        startAndWait(*recorder, QRectF(0, 0, 320, 240));
        waitForFrames(*recorder, 35);
        const QString path = recorder->outputURL();
        recorder.reset();
        EXPECT_TRUE(test::waitUntil(
            [&] {
                const QStringList boxes = media::topLevelBoxes(path);
                return boxes.indexOf("moov") >= 0 && boxes.indexOf("moov") < boxes.indexOf("mdat");
            },
            20s));
        EXPECT_GE(media::videoFrames(path).size(), 35u);
    }
}

// A wait that runs out gives the finish up: the file is still completed on the writer's thread,
// but nothing comes back to the GUI thread any more, as the application may be gone by then.
TEST(ScreenRecorderX11, AFinishGivenUpReportsNothing)
{
    TestWindow window(QRect(0, 0, 320, 240), QColor(30, 90, 30));
    test::spin(200ms);
    ScreenRecorder recorder;
    startByHand(recorder, QRectF(0, 0, 320, 240), 35);
    test::spin(50ms);
    ASSERT_GT(recorder.recordingDuration(), 0); // a delivered finish would set it back to 0
    const QString path = recorder.outputURL();
    int durationChanges = 0;
    QObject::connect(&recorder, &ScreenRecorder::recordingDurationChanged, [&] { ++durationChanges; });
    auto answer = stop(recorder);
    if (recorder.stopRecordingAndWait(0ms) != ScreenRecorder::ShutdownResult::TimedOut)
        GTEST_SKIP() << "the file was finished before the wait could run out";
    ASSERT_TRUE(test::waitUntil([&] { return media::topLevelBoxes(path).contains("moov"); }, 20s));
    test::spin(300ms);
    EXPECT_FALSE(answer->answered);
    EXPECT_EQ(durationChanges, 0);
    EXPECT_EQ(media::videoFrames(path).size(), 35u);
}

namespace {

// A window of fresh noise on every repaint: the encoder spends its whole bit rate on it.
class NoiseWindow : public QWidget {
public:
    explicit NoiseWindow(const QRect& geometry)
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setGeometry(geometry);
        connect(&m_timer, &QTimer::timeout, this, [this] { update(); });
        m_timer.start(16);
        show();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QImage noise(size(), QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y) {
            auto* line = reinterpret_cast<quint32*>(noise.scanLine(y));
            for (int x = 0; x < noise.width(); ++x) {
                m_seed = m_seed * 1664525u + 1013904223u;
                line[x] = 0xff000000u | (m_seed >> 8);
            }
        }
        QPainter(this).drawImage(0, 0, noise);
    }

private:
    QTimer m_timer;
    quint32 m_seed = 12345;
};

} // namespace

// Runs in a child that the test kills (see below).
TEST(ScreenRecorderX11, DISABLED_RecordUntilKilled)
{
    TestWindow window(QRect(0, 0, 320, 240), QColor(30, 60, 120), true);
    test::spin(200ms);
    ScreenRecorder recorder;
    startAndWait(recorder, QRectF(0, 0, 320, 240));
    waitForFrames(recorder, 1);
    std::printf("RECORDING %s\n", recorder.inProgressURL().toUtf8().constData());
    std::fflush(stdout);
    test::spin(60s);
}

// A kill loses at most the last half second: the in-progress file plays up to there, and the
// next launch's recovery files it as a finished recording (bench/crash_bench.cpp measures the loss).
TEST(ScreenRecorderX11, AKilledRecordingPlaysAndIsRecovered)
{
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KESTROVA_TEST_HOME", home.path());
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests", "--gtest_filter=ScreenRecorderX11.DISABLED_RecordUntilKilled"});
    ASSERT_TRUE(child.waitForStarted(5000));
    QByteArray output;
    QString partial;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            output += child.readAll();
            const auto match = QRegularExpression("RECORDING (\\S+)\n").match(QString::fromUtf8(output));
            if (match.hasMatch())
                partial = match.captured(1);
            return !partial.isEmpty() || child.state() == QProcess::NotRunning;
        },
        20s));
    ASSERT_FALSE(partial.isEmpty()) << output.toStdString();
    test::spin(3s);
    child.kill(); // SIGKILL: nothing of the recorder runs after this
    ASSERT_TRUE(child.waitForFinished(5000));

    // What a crash leaves: the fragments of the first two and a half to three seconds (the last
    // half second had not reached the disk yet).
    ASSERT_TRUE(QFile::exists(partial));
    const QDir folder = QFileInfo(partial).dir();
    EXPECT_TRUE(folder.entryList({"*.mp4"}, QDir::Files).isEmpty()) << "nothing looks finished yet";
    const media::Output checked = media::runTool("/usr/bin/ffprobe", {"-v", "error", "-f", "mp4", partial});
    EXPECT_TRUE(checked.ok) << checked.err.toStdString();
    const auto crashed = media::videoFrames(partial);
    EXPECT_GE(crashed.size(), 45u);
    EXPECT_LE(crashed.size(), 95u);
    ASSERT_FALSE(crashed.empty());
    EXPECT_GT(crashed.back().time, 1.5);
    EXPECT_LT(crashed.back().time, 3.2);

    const QList<ScreenRecorder::FiledRecording> filed = ScreenRecorder::recoverUnfinishedRecordings(folder.path());
    ASSERT_EQ(filed.size(), 1);
    EXPECT_EQ(filed[0].outcome, ScreenRecorder::FiledRecording::Outcome::Finished);
    // A fragment the kill cut off half-way is dropped with its half second.
    EXPECT_LE(filed[0].frames, qint64(crashed.size()));
    EXPECT_GE(filed[0].frames + 16, qint64(crashed.size()));
    const QString path = filed[0].path;
    EXPECT_EQ(QFileInfo(path).fileName(), QFileInfo(partial).fileName().mid(1).chopped(5));
    EXPECT_TRUE(QRegularExpression(R"(^ScreenRecord_.*\.mp4$)").match(QFileInfo(path).fileName()).hasMatch());
    EXPECT_FALSE(QFile::exists(partial));
    EXPECT_EQ(qint64(media::videoFrames(path).size()), filed[0].frames);
    const QStringList boxes = media::topLevelBoxes(path);
    EXPECT_LT(boxes.indexOf("moov"), boxes.indexOf("mdat")) << boxes.join(' ').toStdString();
    EXPECT_FALSE(boxes.contains("moof"));
    const QJsonObject video = media::stream(media::probe(path), "video");
    EXPECT_EQ(video.value("codec_name").toString(), "h264");
    EXPECT_EQ(video.value("profile").toString(), "High");
    EXPECT_EQ(video.value("width").toInt(), 320);
    EXPECT_TRUE(ScreenRecorder::recoverUnfinishedRecordings(folder.path()).isEmpty()) << "filed once";
}

// What recovery makes of what a crash can leave: a fragment cut off mid-way, fewer frames than a
// stopped recording needs (kept: a crash cut it short), no frame at all, half a copy into the
// faststart file.
TEST(ScreenRecorderX11, RecoveryTrimsCutOffFragmentsAndDropsWhatCannotPlay)
{
    TestWindow window(QRect(0, 0, 320, 240), QColor(120, 60, 30), true);
    test::spin(200ms);
    QTemporaryDir folder;
    // Recordings in fragments, 100, 20 and 10 frames, left unfinished as a kill leaves them: only
    // the fragments that were complete are on disk.
    const auto recordFragments = [&](const QString& name, int frames) {
        const QString partial = ScreenRecorder::inProgressPath(folder.filePath(name));
        auto writer = platform::Mp4Writer::create(partial);
        writer->setLayout(platform::Mp4Writer::Layout::Fragmented);
        platform::Mp4VideoSettings video;
        video.size = QSize(320, 240);
        video.maxKeyFrameInterval = 30;
        EXPECT_TRUE(writer->addVideoTrack(video));
        EXPECT_TRUE(writer->startWriting());
        QImage frame(320, 240, QImage::Format_RGB32);
        for (int i = 0; i < frames; ++i) {
            frame.fill(QColor(i * 5 % 256, 80, 160));
            writer->appendVideoFrame(frame, i / 30.0);
        }
        writer->abandonWriting();
        return partial;
    };
    const QString cut = recordFragments("ScreenRecord_2026-01-01_10-00-00.mp4", 100);
    const QString shortOne = recordFragments("ScreenRecord_2026-01-01_11-00-00.mp4", 20);
    const QString nothing = recordFragments("ScreenRecord_2026-01-01_12-00-00.mp4", 10);
    // The last fragment of the first one only half on disk.
    const qint64 whole = QFileInfo(cut).size();
    ASSERT_GT(whole, 0);
    {
        QFile file(cut);
        ASSERT_TRUE(file.open(QIODevice::Append));
        // A fragment's header that promises 64 KiB, and only the start of them.
        file.write(QByteArray("\x00\x01\x00\x00moof", 8) + QByteArray(300, '\x01'));
    }
    QFile half(folder.filePath(".ScreenRecord_2026-01-01_10-00-00.mp4.faststart"));
    ASSERT_TRUE(half.open(QIODevice::WriteOnly));
    half.write("not yet an MP4");
    half.close();

    const QList<ScreenRecorder::FiledRecording> filed = ScreenRecorder::recoverUnfinishedRecordings(folder.path());
    ASSERT_EQ(filed.size(), 3);
    using Outcome = ScreenRecorder::FiledRecording::Outcome;
    EXPECT_EQ(filed[0].outcome, Outcome::Finished);
    EXPECT_EQ(filed[0].frames, 98) << "seven whole fragments of 14 frames; the eighth, half-written, is cut off";
    EXPECT_EQ(filed[1].outcome, Outcome::Finished);
    EXPECT_EQ(filed[1].frames, 14);
    for (int i : {0, 1}) {
        EXPECT_EQ(media::runTool("/usr/bin/ffprobe", {"-v", "error", filed[i].path}).err, QByteArray()) << i;
        EXPECT_EQ(qint64(media::videoFrames(filed[i].path).size()), filed[i].frames) << i;
    }
    EXPECT_EQ(filed[2].outcome, Outcome::TooShort);
    EXPECT_FALSE(QFile::exists(shortOne));
    EXPECT_FALSE(QFile::exists(nothing));
    EXPECT_FALSE(QFile::exists(half.fileName()));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"ScreenRecord_2026-01-01_10-00-00.mp4", "ScreenRecord_2026-01-01_11-00-00.mp4"}));
}

// The recordings folder on a 2 MiB file system that noise fills in a few seconds: the recording
// stops at the failed write, the stop keeps the fragments written before it under the normal name
// and answers with the cause.
TEST(ScreenRecorderX11, AFullDiskStopsTheRecordingAndKeepsWhatWasWritten)
{
    const QString documents = test::testHome() + "/Documents";
    ASSERT_TRUE(QDir().mkpath(documents));
    const test::SmallDisk small(documents, "2m");
    if (!small.mounted())
        GTEST_SKIP() << small.error();

    NoiseWindow noise(QRect(0, 0, 480, 360));
    test::spin(200ms);
    ScreenRecorder recorder;
    int failures = 0;
    recorder.setWriteFailureHandler([&] { ++failures; });
    startAndWait(recorder, QRectF(0, 0, 480, 360));
    const QString path = recorder.outputURL();
    ASSERT_TRUE(path.startsWith(documents)) << path.toStdString();
    ASSERT_TRUE(test::waitUntil([&] { return failures > 0; }, 30s)) << "the disk never filled";
    EXPECT_EQ(failures, 1);
    // Capture stopped with the failure: no frame is counted after it.
    const int frames = recorder.frameCount();
    EXPECT_GT(frames, 30);
    test::spin(300ms);
    EXPECT_EQ(recorder.frameCount(), frames);

    QString text;
    ASSERT_NO_FATAL_FAILURE(stopAfterWriteFailure(recorder, &text));
    EXPECT_TRUE(text.startsWith("Запись остановлена: на диске закончилось место.")) << text.toStdString();
    EXPECT_TRUE(text.contains(path)) << text.toStdString();
    EXPECT_FALSE(QFile::exists(ScreenRecorder::inProgressPath(path)));
    ASSERT_TRUE(QFile::exists(path));
    const media::Output checked = media::runTool("/usr/bin/ffprobe", {"-v", "error", path});
    EXPECT_TRUE(checked.ok && checked.err.isEmpty()) << checked.err.toStdString();
    const auto kept = media::videoFrames(path);
    EXPECT_GE(kept.size(), 30u);
    EXPECT_LE(kept.size(), size_t(frames));
    EXPECT_TRUE(logHas("ScreenRecorder: ERROR - Writing the file failed, stopping"));
}

// The recordings folder removed mid-recording: writes into the removed file would still succeed,
// so the recorder looks for it once a second and stops when it is gone.
TEST(ScreenRecorderX11, ARemovedFolderStopsTheRecording)
{
    TestWindow window(QRect(0, 0, 320, 240), QColor(60, 120, 30), true);
    test::spin(200ms);
    ScreenRecorder recorder;
    int failures = 0;
    recorder.setWriteFailureHandler([&] { ++failures; });
    startAndWait(recorder, QRectF(0, 0, 320, 240));
    waitForFrames(recorder, 10);
    ASSERT_TRUE(QDir(ScreenRecorder::recordingsDirectory()).removeRecursively());
    ASSERT_TRUE(test::waitUntil([&] { return failures > 0; }, 3s)) << "still recording into a removed folder";
    const int frames = recorder.frameCount();
    test::spin(200ms);
    EXPECT_EQ(recorder.frameCount(), frames);
    QString text;
    ASSERT_NO_FATAL_FAILURE(stopAfterWriteFailure(recorder, &text));
    EXPECT_TRUE(text.startsWith("Запись остановлена: папка записей удалена.")) << text.toStdString();
    // The next recording makes the folder again.
    ScreenRecorder next;
    startByHand(next, QRectF(0, 0, 320, 240), 30);
    EXPECT_FALSE(finishedFile(next).isEmpty());
}
