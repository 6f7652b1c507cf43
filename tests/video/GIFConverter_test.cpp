// The GIF converter on videos made with the ffmpeg program, and on frame sources that fail.
#include "video/GIFConverter.h"

#include "cloud/CloudTestSupport.h"
#include "video/VideoTestSupport.h"

#include <QPointer>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <limits>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Case = GIFConverter::ConversionError::Case;

namespace {

struct Outcome {
    bool done = false;
    std::optional<GIFConverter::Result> result;
    std::vector<double> progress;
    bool convertingWhenDone = true;
};

// Runs one conversion to its end through the event loop.
Outcome convert(GIFConverter& converter, const QString& video, const QString& gif,
                const GIFConverter::ConversionSettings& settings = {})
{
    auto outcome = std::make_shared<Outcome>();
    QPointer<GIFConverter> guard(&converter);
    converter.convertToGIF(video, gif, settings, [outcome](double value) { outcome->progress.push_back(value); },
                           [outcome, guard](const GIFConverter::Result& result) {
                               outcome->result = result;
                               outcome->done = true;
                               outcome->convertingWhenDone = guard && guard->isConverting();
                           });
    EXPECT_TRUE(converter.isConverting());
    EXPECT_TRUE(test::waitUntil([&] { return outcome->done; }, 120s));
    return *outcome;
}

// A video of `duration` seconds whose frames at `failing` indices (times index / 10) cannot be read.
class ScriptedSource : public GIFConverter::FrameSource {
public:
    ScriptedSource(double duration, std::vector<int> failing, std::chrono::milliseconds delay = 0ms)
        : m_duration(duration)
        , m_failing(std::move(failing))
        , m_delay(delay)
    {
    }
    double duration() const override { return m_duration; }
    QImage frameAt(double seconds, QString* error) override
    {
        if (m_delay.count())
            QThread::msleep(static_cast<unsigned long>(m_delay.count()));
        const int index = static_cast<int>(std::lround(seconds * 10));
        if (std::find(m_failing.begin(), m_failing.end(), index) != m_failing.end()) {
            *error = QStringLiteral("no frame here");
            return {};
        }
        QImage image(32, 24, QImage::Format_RGB32);
        image.fill(QColor(index * 20 % 256, 100, 200));
        return image;
    }

private:
    double m_duration;
    std::vector<int> m_failing;
    std::chrono::milliseconds m_delay;
};

class GIFConverterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString& name) const { return dir.path() + "/" + name; }
    QTemporaryDir dir;
};

} // namespace

TEST(GIFConverterErrors, TextsTruncateTheSeconds)
{
    using E = GIFConverter::ConversionError;
    const struct {
        E error;
        const char* text;
    } cases[] = {
        {E::videoTooLong(30.4, 30), "Видео слишком длинное (30 сек). Максимум для GIF: 30 сек"},
        {E::videoTooLong(95.99, 30.9), "Видео слишком длинное (95 сек). Максимум для GIF: 30 сек"},
        {E::videoTooLong(std::numeric_limits<double>::infinity(), 30), "Видео слишком длинное (∞ сек). Максимум для GIF: 30 сек"},
        {E::of(Case::failedToLoadAsset), "Не удалось загрузить видео"},
        {E::of(Case::failedToCreateDestination), "Не удалось создать GIF файл"},
        {E::of(Case::failedToFinalizeGIF), "Не удалось записать GIF файл"},
        {E::of(Case::noFramesExtracted), "Не удалось извлечь кадры из видео"},
        {E::of(Case::cancelled), "Конвертация отменена"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.errorDescription(), QString::fromUtf8(c.text));
        EXPECT_EQ(c.error.toAppError().localizedDescription, QString::fromUtf8(c.text));
        EXPECT_EQ(c.error.toAppError().domain, "GIFConverter.ConversionError");
    }
}

TEST(GIFConverterSizes, FitsWithinTheSquareWithoutEnlarging)
{
    const struct {
        QSize in;
        QSize out;
    } cases[] = {
        {{1920, 1080}, {800, 450}}, {{1080, 1920}, {450, 800}}, {{800, 800}, {800, 800}},
        {{640, 480}, {640, 480}},   {{2000, 10}, {800, 4}},      {{5000, 1}, {800, 1}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GIFConverter::fittedSize(c.in, 800), c.out) << c.in.width() << "x" << c.in.height();
}

TEST_F(GIFConverterTest, SamplesTenFramesASecondIntoALoopingGIF)
{
    const struct {
        double seconds;
        int frames;
        int rate;
    } cases[] = {
        {2.99, 29, 100}, // 0.0, 0.1 ... 2.8
        {0.05, 1, 100},  // a single frame at 0
        {30.0, 300, 10}, // the longest accepted
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        const QString video = videotest::makeVideo(dir.path(), QStringLiteral("v%1.mp4").arg(c.seconds), "color=c=0x2050d0",
                                                   c.seconds, QSize(64, 48), c.rate);
        ASSERT_FALSE(video.isEmpty());
        const QString gif = path(QStringLiteral("v%1.gif").arg(c.seconds));
        cloudtest::LogMark mark;
        GIFConverter converter;
        const Outcome outcome = convert(converter, video, gif);
        ASSERT_TRUE(outcome.result && *outcome.result) << outcome.result->error().errorDescription().toStdString();
        EXPECT_EQ(outcome.result->value(), gif);
        EXPECT_FALSE(outcome.convertingWhenDone) << "state published before the result";
        EXPECT_DOUBLE_EQ(converter.progress(), 1.0);

        const videotest::GifInfo info = videotest::probeGIF(gif);
        EXPECT_EQ(info.codec, "gif");
        EXPECT_EQ(info.width, 64);
        EXPECT_EQ(info.height, 48);
        EXPECT_EQ(info.frames, c.frames);
        EXPECT_EQ(info.loopCount, 0);
        ASSERT_EQ(int(info.times.size()), c.frames);
        for (int i = 0; i < c.frames; ++i)
            EXPECT_NEAR(info.times[size_t(i)], 0.1 * i, 1e-6) << i;
        const auto decoded = media::decodeGIF(gif, QSize(64, 48));
        ASSERT_FALSE(decoded.empty());
        EXPECT_LE(media::colourDistance(decoded.back().pixel(32, 24), qRgb(0x20, 0x50, 0xd0)), 10);

        // n values while reading, the same number while writing, in order.
        ASSERT_EQ(int(outcome.progress.size()), 2 * c.frames);
        EXPECT_DOUBLE_EQ(outcome.progress[size_t(c.frames - 1)], 0.5);
        EXPECT_DOUBLE_EQ(outcome.progress.back(), 1.0);
        EXPECT_TRUE(std::is_sorted(outcome.progress.begin(), outcome.progress.end()));

        const QStringList lines = mark.messages();
        EXPECT_TRUE(lines.contains("performConversion: GIFConverter: Starting conversion from " + video));
        EXPECT_TRUE(lines.contains(QStringLiteral("performConversion: GIFConverter: Extracting %1 frames at 10.0 FPS").arg(c.frames)));
        EXPECT_TRUE(lines.contains(QStringLiteral("performConversion: GIFConverter: Extracted %1 frames, creating GIF...").arg(c.frames)));
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString& l) {
            return l.startsWith("performConversion: GIFConverter: GIF created successfully, size: ") && l.endsWith(" MB");
        }));
    }
}

TEST_F(GIFConverterTest, LargeFramesAreScaledDownAndTheDurationIsLogged)
{
    const QString video = videotest::makeVideo(dir.path(), "wide.mp4", "testsrc2", 0.3, QSize(1600, 900), 10);
    ASSERT_FALSE(video.isEmpty());
    cloudtest::LogMark mark;
    GIFConverter converter;
    const Outcome outcome = convert(converter, video, path("wide.gif"));
    ASSERT_TRUE(outcome.result && *outcome.result);
    const videotest::GifInfo info = videotest::probeGIF(path("wide.gif"));
    EXPECT_EQ(info.width, 800);
    EXPECT_EQ(info.height, 450);
    EXPECT_EQ(info.frames, 3);
    EXPECT_TRUE(mark.messages().contains("performConversion: GIFConverter: Video duration: 0.3 seconds"));
}

TEST_F(GIFConverterTest, RefusesWhatItCannotConvert)
{
    const QString longVideo = videotest::makeVideo(dir.path(), "long.mp4", "color=c=red", 30.4, QSize(32, 32), 10);
    QFile text(path("notes.mp4"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a video");
    text.close();
    const QString fine = videotest::makeVideo(dir.path(), "fine.mp4", "color=c=red", 0.2);
    const struct {
        const char* what;
        QString video;
        QString gif;
        GIFConverter::ConversionError error;
    } cases[] = {
        {"too long", longVideo, path("long.gif"), GIFConverter::ConversionError::videoTooLong(30.4, 30)},
        {"missing file", path("nothing.mp4"), path("nothing.gif"), GIFConverter::ConversionError::of(Case::failedToLoadAsset)},
        {"not a video", path("notes.mp4"), path("notes.gif"), GIFConverter::ConversionError::of(Case::failedToLoadAsset)},
        {"no such folder", fine, path("missing/out.gif"), GIFConverter::ConversionError::of(Case::failedToCreateDestination)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GIFConverter converter;
        const Outcome outcome = convert(converter, c.video, c.gif);
        ASSERT_TRUE(outcome.result);
        ASSERT_FALSE(*outcome.result);
        EXPECT_EQ(outcome.result->error().kind, c.error.kind);
        if (c.error.kind == Case::videoTooLong) {
            EXPECT_NEAR(outcome.result->error().duration, 30.4, 0.01);
            EXPECT_EQ(outcome.result->error().errorDescription(), c.error.errorDescription());
        }
        EXPECT_FALSE(converter.isConverting());
        EXPECT_EQ(converter.progress(), 0.0);
        EXPECT_FALSE(QFile::exists(c.gif));
    }
}

TEST_F(GIFConverterTest, FramesThatCannotBeReadAreLeftOut)
{
    cloudtest::LogMark mark;
    GIFConverter converter;
    converter.setFrameSourceFactoryForTesting([](const QString&) { return std::make_unique<ScriptedSource>(0.5, std::vector<int>{1, 3}); });
    const Outcome outcome = convert(converter, "scripted", path("gaps.gif"));
    ASSERT_TRUE(outcome.result && *outcome.result);
    const videotest::GifInfo info = videotest::probeGIF(path("gaps.gif"));
    EXPECT_EQ(info.frames, 3);
    EXPECT_EQ(info.times, (std::vector<double>{0.0, 0.1, 0.2}));
    // Each of the five reads counts, then each of the three writes.
    ASSERT_EQ(outcome.progress.size(), 8u);
    EXPECT_EQ(outcome.progress[1], 0.2);
    EXPECT_EQ(outcome.progress[4], 0.5);
    EXPECT_EQ(outcome.progress.back(), 1.0);
    EXPECT_TRUE(mark.messages().contains("performConversion: GIFConverter: Failed to extract frame 3: no frame here"));

    // None readable: nothing is written.
    converter.setFrameSourceFactoryForTesting(
        [](const QString&) { return std::make_unique<ScriptedSource>(0.3, std::vector<int>{0, 1, 2}); });
    const Outcome none = convert(converter, "scripted", path("none.gif"));
    ASSERT_TRUE(none.result && !*none.result);
    EXPECT_EQ(none.result->error().kind, Case::noFramesExtracted);
    EXPECT_EQ(none.progress.size(), 3u);
    EXPECT_FALSE(QFile::exists(path("none.gif")));
    EXPECT_EQ(converter.progress(), 0.0);
}

TEST_F(GIFConverterTest, CancellingStopsBeforeTheNextFrame)
{
    GIFConverter converter;
    converter.setFrameSourceFactoryForTesting([](const QString&) { return std::make_unique<ScriptedSource>(3.0, std::vector<int>{}, 20ms); });
    auto outcome = std::make_shared<Outcome>();
    converter.convertToGIF("scripted", path("cancelled.gif"), {}, {}, [outcome](const GIFConverter::Result& r) {
        outcome->result = r;
        outcome->done = true;
    });
    converter.cancel();
    ASSERT_TRUE(test::waitUntil([&] { return outcome->done; }, 30s));
    ASSERT_FALSE(*outcome->result);
    EXPECT_EQ(outcome->result->error().kind, Case::cancelled);
    EXPECT_FALSE(QFile::exists(path("cancelled.gif")));

    // The next conversion starts afresh.
    converter.setFrameSourceFactoryForTesting([](const QString&) { return std::make_unique<ScriptedSource>(0.2, std::vector<int>{}); });
    EXPECT_TRUE(*convert(converter, "scripted", path("after.gif")).result);
}

TEST_F(GIFConverterTest, AConverterGoneBeforeItsWorkBeganYieldsCancelled)
{
    // Every worker busy, so the conversion waits in the queue while its converter is destroyed.
    QThreadPool* pool = QThreadPool::globalInstance();
    QSemaphore release;
    QSemaphore started;
    const int workers = pool->maxThreadCount();
    for (int i = 0; i < workers; ++i)
        pool->start([&] {
            started.release();
            release.acquire();
        });
    ASSERT_TRUE(started.tryAcquire(workers, 10000));
    auto outcome = std::make_shared<Outcome>();
    {
        GIFConverter converter;
        converter.convertToGIF("unused.mp4", path("never.gif"), {}, [outcome](double v) { outcome->progress.push_back(v); },
                               [outcome](const GIFConverter::Result& r) {
                                   outcome->result = r;
                                   outcome->done = true;
                               });
    }
    release.release(workers);
    ASSERT_TRUE(test::waitUntil([&] { return outcome->done; }, 10s));
    ASSERT_FALSE(*outcome->result);
    EXPECT_EQ(outcome->result->error().kind, Case::cancelled);
    EXPECT_TRUE(outcome->progress.empty());
    pool->waitForDone();
}
