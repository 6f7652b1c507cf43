#include "platform/Mp4Writer.h"

#include "recording/MediaFileProbe.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <thread>

using platform::Mp4Writer;

namespace {

constexpr int rate = 44100;

// Quadrant colours that change every ten frames: a swapped channel, a flipped image or the
// wrong colour matrix each put a quadrant far off.
const QRgb palette[4] = {qRgb(200, 30, 30), qRgb(30, 180, 60), qRgb(40, 60, 200), qRgb(235, 235, 235)};

QRgb quadrantColour(int frame, int quadrant)
{
    return palette[(quadrant + frame / 10) % 4];
}

QImage quadrantFrame(const QSize& size, int frame)
{
    QImage image(size, QImage::Format_RGB32);
    const int w = size.width() / 2;
    const int h = size.height() / 2;
    QPainter painter(&image);
    for (int q = 0; q < 4; ++q) {
        painter.fillRect(QRect((q % 2) * w, (q / 2) * h, w, h), QColor(quadrantColour(frame, q)));
    }
    return image;
}

std::vector<float> sine(int frames, double frequency, int channels, qint64 firstSample)
{
    std::vector<float> samples(static_cast<size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        const float v = 0.5f * float(std::sin(2 * std::numbers::pi * frequency * double(firstSample + i) / rate));
        for (int c = 0; c < channels; ++c)
            samples[static_cast<size_t>(i) * channels + c] = v;
    }
    return samples;
}

std::shared_ptr<Mp4Writer> startedWriter(const QString& path, const QSize& size, bool audio,
                                         Mp4Writer::Layout layout = Mp4Writer::Layout::Faststart)
{
    platform::AppError error;
    auto writer = Mp4Writer::create(path, &error);
    EXPECT_TRUE(writer) << error.localizedDescription.toStdString();
    if (!writer)
        return nullptr;
    writer->setLayout(layout);
    platform::Mp4VideoSettings video;
    video.size = size;
    EXPECT_TRUE(writer->addVideoTrack(video, &error)) << error.localizedDescription.toStdString();
    if (audio) {
        EXPECT_TRUE(writer->addAudioTrack({}, &error)) << error.localizedDescription.toStdString();
    }
    EXPECT_TRUE(writer->startWriting(&error)) << error.localizedDescription.toStdString();
    return writer;
}

} // namespace

TEST(Mp4Writer, EvenVideoSizes)
{
    const struct {
        QSizeF points;
        QSize video;
    } cases[] = {
        {{640.7, 480.2}, {640, 480}}, {{641, 481}, {640, 480}}, {{1920, 1080}, {1920, 1080}},
        {{3.9, 2.5}, {2, 2}},         {{1.9, 400}, {0, 400}},   {{-10, 20}, {0, 20}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Mp4Writer::evenVideoSize(c.points), c.video) << c.points.width() << "x" << c.points.height();
}

TEST(Mp4Writer, H264HighBt709WithAacAndTheIndexInFront)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("quadrants.mp4");
    const QSize size(320, 240);
    auto writer = startedWriter(path, size, true);
    ASSERT_TRUE(writer);

    // 3 s of video at 30 fps and a 440 Hz tone in 1024-sample blocks, from two threads as in a recording.
    const int frames = 90;
    std::thread audio([&] {
        for (qint64 at = 0; at < 3 * rate; at += 1024) {
            const int n = int(std::min<qint64>(1024, 3 * rate - at));
            const auto block = sine(n, 440, 2, at);
            EXPECT_EQ(writer->appendAudioSamples(block.data(), n, double(at) / rate), Mp4Writer::AppendResult::Appended);
        }
    });
    for (int i = 0; i < frames; ++i)
        ASSERT_EQ(writer->appendVideoFrame(quadrantFrame(size, i), i / 30.0), Mp4Writer::AppendResult::Appended) << i;
    audio.join();
    ASSERT_TRUE(writer->finishWriting());
    EXPECT_EQ(writer->status(), Mp4Writer::Status::Completed);
    EXPECT_EQ(writer->videoFramesAppended(), frames);

    const QJsonObject probed = media::probe(path);
    const QJsonObject video = media::stream(probed, "video");
    EXPECT_EQ(video.value("codec_name").toString(), "h264");
    EXPECT_EQ(video.value("profile").toString(), "High");
    EXPECT_EQ(video.value("pix_fmt").toString(), "yuv420p");
    EXPECT_EQ(video.value("width").toInt(), 320);
    EXPECT_EQ(video.value("height").toInt(), 240);
    EXPECT_EQ(video.value("color_space").toString(), "bt709");
    EXPECT_EQ(video.value("color_primaries").toString(), "bt709");
    EXPECT_EQ(video.value("color_transfer").toString(), "bt709");
    EXPECT_EQ(video.value("color_range").toString(), "tv");
    EXPECT_NEAR(media::number(probed.value("format").toObject(), "duration"), 3.0, 0.1);

    const QJsonObject aac = media::stream(probed, "audio");
    EXPECT_EQ(aac.value("codec_name").toString(), "aac");
    EXPECT_EQ(aac.value("sample_rate").toString(), "44100");
    EXPECT_EQ(aac.value("channels").toInt(), 2);
    EXPECT_NEAR(media::number(aac, "duration"), 3.0, 0.05);
    EXPECT_NEAR(media::number(aac, "bit_rate"), 128000, 30000);

    const QStringList boxes = media::topLevelBoxes(path);
    ASSERT_TRUE(boxes.contains("moov") && boxes.contains("mdat")) << boxes.join(' ').toStdString();
    EXPECT_LT(boxes.indexOf("moov"), boxes.indexOf("mdat")) << boxes.join(' ').toStdString();

    const auto infos = media::videoFrames(path);
    ASSERT_EQ(int(infos.size()), frames);
    int lastKey = -1;
    for (int i = 0; i < frames; ++i) {
        EXPECT_NEAR(infos[size_t(i)].time, i / 30.0, 0.002) << i;
        if (infos[size_t(i)].key) {
            EXPECT_LE(i - lastKey, 30) << "key frames " << lastKey << " and " << i;
            lastKey = i;
        }
    }
    EXPECT_TRUE(infos.front().key);
    EXPECT_LE(frames - lastKey, 30);

    const auto decoded = media::decodeFrames(path, size);
    ASSERT_EQ(int(decoded.size()), frames);
    for (int i = 5; i < frames; i += 10) {
        for (int q = 0; q < 4; ++q) {
            const QPoint centre((q % 2) * 160 + 80, (q / 2) * 120 + 60);
            const QRgb got = decoded[size_t(i)].pixel(centre);
            EXPECT_LE(media::colourDistance(got, quadrantColour(i, q)), 8)
                << "frame " << i << " quadrant " << q << ": " << QColor(got).name().toStdString() << " instead of "
                << QColor(quadrantColour(i, q)).name().toStdString();
        }
    }

    const auto samples = media::decodeAudio(path);
    EXPECT_NEAR(double(samples.size()) / rate, 3.0, 0.03);
    EXPECT_EQ(media::dominantFrequency(samples, rate), 440);
}

TEST(Mp4Writer, ScalesFramesToTheVideoSize)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("scaled.mp4");
    auto writer = startedWriter(path, QSize(160, 120), false);
    ASSERT_TRUE(writer);
    // A frame at twice the density, as from a 2x screen.
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(writer->appendVideoFrame(quadrantFrame(QSize(320, 240), 0), i / 30.0), Mp4Writer::AppendResult::Appended);
    ASSERT_TRUE(writer->finishWriting());
    const auto decoded = media::decodeFrames(path, QSize(160, 120));
    ASSERT_EQ(decoded.size(), 10u);
    EXPECT_LE(media::colourDistance(decoded[5].pixel(40, 30), quadrantColour(0, 0)), 8);
    EXPECT_LE(media::colourDistance(decoded[5].pixel(120, 90), quadrantColour(0, 3)), 8);
}

// A grab a little larger than the video, as the recorder makes of an area with odd or fractional
// sides. The frame is a view into a buffer that goes on past it, in another colour for each of two
// encodings: what follows the frame must not reach the video (the two decode alike), nor may a
// row's first pixels reach the end of the row before (the right edge keeps its colour).
TEST(Mp4Writer, AnOddSizedFrameIsConvertedFromItsOwnPixelsOnly)
{
    const QRgb body = qRgb(40, 160, 200);
    const QRgb leftColumn = qRgb(255, 0, 0);
    const struct {
        QSize frame;
        QSize video;
    } cases[] = {
        {{301, 201}, {300, 200}},
        {{301, 200}, {300, 200}},
        {{300, 201}, {300, 200}},
        {{603, 403}, {300, 200}},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        const int w = c.frame.width();
        const int h = c.frame.height();
        SCOPED_TRACE(testing::Message() << w << "x" << h << " to " << c.video.width() << "x" << c.video.height());
        std::vector<QImage> firstFrames;
        for (const QRgb after : {qRgb(255, 0, 255), qRgb(0, 255, 0)}) {
            std::vector<QRgb> memory(size_t(w) * (h + 1), after);
            for (int y = 0; y < h; ++y) {
                std::fill_n(memory.begin() + qsizetype(y) * w, w, body);
                memory[size_t(y) * w] = leftColumn;
            }
            const QImage frame(reinterpret_cast<const uchar*>(memory.data()), w, h, w * 4, QImage::Format_RGB32);
            const QString path = dir.filePath(QStringLiteral("edge-%1x%2-%3.mp4").arg(w).arg(h).arg(qRed(after)));
            auto writer = startedWriter(path, c.video, false);
            ASSERT_TRUE(writer);
            ASSERT_EQ(writer->appendVideoFrame(frame, 0), Mp4Writer::AppendResult::Appended);
            ASSERT_TRUE(writer->finishWriting());
            const auto decoded = media::decodeFrames(path, c.video);
            ASSERT_EQ(decoded.size(), 1u);
            firstFrames.push_back(decoded.front());
        }
        const QImage& first = firstFrames.front();
        int differing = 0;
        QPoint where;
        for (int y = 0; y < first.height(); ++y)
            for (int x = 0; x < first.width(); ++x)
                if (first.pixel(x, y) != firstFrames.back().pixel(x, y)) {
                    ++differing;
                    where = QPoint(x, y);
                }
        EXPECT_EQ(differing, 0) << "pixels that depend on the memory after the frame, e.g. at " << where.x() << ","
                                << where.y();
        // The right two columns lie well away from the red one on the left.
        int off = 0;
        QRgb worst = body;
        for (int y = 0; y < first.height(); ++y)
            for (int x = first.width() - 2; x < first.width(); ++x)
                if (media::colourDistance(first.pixel(x, y), body) > 8) {
                    ++off;
                    worst = first.pixel(x, y);
                    where = QPoint(x, y);
                }
        EXPECT_EQ(off, 0) << "pixels of the right edge off its colour, e.g. at " << where.x() << "," << where.y() << ": "
                          << qRed(worst) << "," << qGreen(worst) << "," << qBlue(worst);
    }
}

TEST(Mp4Writer, PresentationTimesOnlyGrow)
{
    QTemporaryDir dir;
    auto writer = startedWriter(dir.filePath("times.mp4"), QSize(64, 64), false);
    ASSERT_TRUE(writer);
    const QImage frame = quadrantFrame(QSize(64, 64), 0);
    const struct {
        double seconds;
        Mp4Writer::AppendResult result;
    } steps[] = {
        {0.0, Mp4Writer::AppendResult::Appended},
        {0.0005, Mp4Writer::AppendResult::Dropped}, // the same 1/600 s slot
        {0.1, Mp4Writer::AppendResult::Appended},
        {0.05, Mp4Writer::AppendResult::Dropped}, // back in time
        {-1, Mp4Writer::AppendResult::Dropped},
        {0.1 + 1.0 / 600, Mp4Writer::AppendResult::Appended},
    };
    for (const auto& step : steps)
        EXPECT_EQ(writer->appendVideoFrame(frame, step.seconds), step.result) << step.seconds;
    EXPECT_EQ(writer->videoFramesAppended(), 3);
    EXPECT_EQ(writer->appendVideoFrame(QImage(), 0.5), Mp4Writer::AppendResult::Failed);
    ASSERT_TRUE(writer->finishWriting());
    EXPECT_EQ(media::videoFrames(writer->path()).size(), 3u);
}

TEST(Mp4Writer, RefusesBadSetUpsAndLeavesNoFileBehind)
{
    QTemporaryDir dir;
    platform::AppError error;

    auto odd = Mp4Writer::create(dir.filePath("odd.mp4"));
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->addVideoTrack({QSize(641, 481)}, &error));
    EXPECT_EQ(error.domain, Mp4Writer::errorDomain());
    EXPECT_FALSE(odd->startWriting(&error)) << "no video track";

    const QString unreachable = dir.filePath("missing-folder/x.mp4");
    auto nowhere = Mp4Writer::create(unreachable);
    ASSERT_TRUE(nowhere->addVideoTrack({QSize(64, 64)}));
    error = {};
    EXPECT_FALSE(nowhere->startWriting(&error));
    EXPECT_FALSE(error.localizedDescription.isEmpty());
    EXPECT_EQ(nowhere->status(), Mp4Writer::Status::Failed);
    EXPECT_FALSE(QFile::exists(unreachable));

    EXPECT_FALSE(Mp4Writer::create(QString()));

    // Cancelled, or dropped unfinished: the half-written file goes.
    const QString cancelled = dir.filePath("cancelled.mp4");
    auto writer = startedWriter(cancelled, QSize(64, 64), true);
    writer->appendVideoFrame(quadrantFrame(QSize(64, 64), 0), 0);
    ASSERT_TRUE(QFile::exists(cancelled));
    writer->cancelWriting();
    EXPECT_FALSE(QFile::exists(cancelled));
    EXPECT_EQ(writer->appendVideoFrame(quadrantFrame(QSize(64, 64), 0), 1), Mp4Writer::AppendResult::Failed);

    const QString dropped = dir.filePath("dropped.mp4");
    startedWriter(dropped, QSize(64, 64), false).reset();
    EXPECT_FALSE(QFile::exists(dropped));
}

TEST(Mp4Writer, NothingIsAppendedOnceFinishing)
{
    QTemporaryDir dir;
    auto writer = startedWriter(dir.filePath("finish.mp4"), QSize(64, 64), true);
    ASSERT_TRUE(writer);
    const QImage frame = quadrantFrame(QSize(64, 64), 0);
    for (int i = 0; i < 5; ++i)
        writer->appendVideoFrame(frame, i / 30.0);
    std::atomic<bool> finished{false};
    std::atomic<bool> onOtherThread{false};
    const auto caller = std::this_thread::get_id();
    writer->finishWritingInBackground([&](bool success) {
        onOtherThread = std::this_thread::get_id() != caller;
        finished = success;
    });
    ASSERT_TRUE(test::waitUntil([&] { return writer->status() == Mp4Writer::Status::Completed; }, std::chrono::seconds(10)));
    ASSERT_TRUE(test::waitUntil([&] { return finished.load(); }, std::chrono::seconds(2)));
    EXPECT_TRUE(onOtherThread);
    const auto samples = sine(1024, 440, 2, 0);
    EXPECT_EQ(writer->appendVideoFrame(frame, 1.0), Mp4Writer::AppendResult::Failed);
    EXPECT_EQ(writer->appendAudioSamples(samples.data(), 1024, 1.0), Mp4Writer::AppendResult::Failed);
    EXPECT_TRUE(writer->finishWriting()) << "finishing twice reports the first result";
    EXPECT_EQ(media::videoFrames(writer->path()).size(), 5u);
}

// With the index at the end nothing is moved when finishing: the index follows the media data
// and the file reads as it is.
TEST(Mp4Writer, TheIndexGoesInFrontUnlessAskedToStayAtTheEnd)
{
    using Placement = Mp4Writer::IndexPlacement;
    const struct {
        const char* what;
        Placement placement;
        bool leaveAtEndFirst;
        bool indexInFront;
    } cases[] = {
        {"an ordinary finish", Placement::Front, false, true},
        {"a finish with the index at the end", Placement::End, false, false},
        {"asked before an ordinary finish", Placement::Front, true, false},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath("index.mp4");
        const QSize size(128, 96);
        auto writer = startedWriter(path, size, true);
        ASSERT_TRUE(writer) << c.what;
        const int frames = 45;
        const int samplesPerFrame = rate / 30;
        for (int i = 0; i < frames; ++i) {
            ASSERT_EQ(writer->appendVideoFrame(quadrantFrame(size, i), i / 30.0), Mp4Writer::AppendResult::Appended);
            const auto block = sine(samplesPerFrame, 440, 2, qint64(i) * samplesPerFrame);
            ASSERT_EQ(writer->appendAudioSamples(block.data(), samplesPerFrame, i / 30.0), Mp4Writer::AppendResult::Appended);
        }
        if (c.leaveAtEndFirst)
            writer->leaveIndexAtEnd();
        ASSERT_TRUE(writer->finishWriting(c.placement)) << c.what;

        const QStringList boxes = media::topLevelBoxes(path);
        ASSERT_TRUE(boxes.contains("moov") && boxes.contains("mdat")) << c.what << ": " << boxes.join(' ').toStdString();
        EXPECT_EQ(boxes.indexOf("moov") < boxes.indexOf("mdat"), c.indexInFront) << c.what << ": " << boxes.join(' ').toStdString();
        const media::Output checked = media::runTool("/usr/bin/ffprobe", {"-v", "error", path});
        EXPECT_TRUE(checked.ok) << c.what;
        EXPECT_TRUE(checked.err.isEmpty()) << c.what << ": " << checked.err.toStdString();
        EXPECT_EQ(int(media::videoFrames(path).size()), frames) << c.what;
        const QJsonObject probed = media::probe(path);
        EXPECT_EQ(media::streamCount(probed, "audio"), 1) << c.what;
        EXPECT_NEAR(media::number(probed.value("format").toObject(), "duration"), 1.5, 0.1) << c.what;
        EXPECT_EQ(media::dominantFrequency(media::decodeAudio(path), rate), 440) << c.what;
    }
}

// A flash in the picture and a click in the sound given the same time come out together, also
// when the audio starts late and has a gap.
// In the faststart file, in the fragments of a recording, and in the faststart copy of those.
TEST(Mp4Writer, PictureAndSoundStayInStep)
{
    for (const char* form : {"faststart", "fragmented", "copied"}) {
        SCOPED_TRACE(form);
        QTemporaryDir dir;
        const bool fragments = std::string(form) != "faststart";
        const QString written = dir.filePath(fragments ? "sync.mp4.part" : "sync.mp4");
        const QSize size(160, 120);
        platform::AppError error;
        auto writer = Mp4Writer::create(written, &error);
        ASSERT_TRUE(writer);
        if (fragments)
            writer->setLayout(Mp4Writer::Layout::Fragmented);
        platform::Mp4VideoSettings settings;
        settings.size = size;
        ASSERT_TRUE(writer->addVideoTrack(settings, &error));
        ASSERT_TRUE(writer->addAudioTrack({}, &error));
        ASSERT_TRUE(writer->startWriting(&error));
        QImage dark(size, QImage::Format_RGB32);
        dark.fill(Qt::black);
        QImage bright(size, QImage::Format_RGB32);
        bright.fill(Qt::white);
        const double flash = 1.0;
        const qint64 clickSample = qint64(flash * rate);
        // Each frame, then the sound captured until the next one, as a recording hands them on.
        qint64 at = qint64(0.25 * rate);
        for (int f = 0; f < 60; ++f) {
            const double t = f / 30.0;
            writer->appendVideoFrame(t >= flash && t < flash + 0.1 ? bright : dark, t);
            for (; at < std::min<qint64>(2 * rate, qint64((t + 1.0 / 30) * rate)); at += 1024) {
                if (at > qint64(0.6 * rate) && at < qint64(0.8 * rate))
                    continue; // lost upstream
                std::vector<float> block(2048, 0.0f);
                for (int i = 0; i < 1024; ++i)
                    if (at + i >= clickSample && at + i < clickSample + 220)
                        block[size_t(i) * 2] = block[size_t(i) * 2 + 1] = 0.9f;
                writer->appendAudioSamples(block.data(), 1024, double(at) / rate);
            }
        }
        ASSERT_TRUE(writer->finishWriting());
        QString path = written;
        if (std::string(form) == "copied") {
            path = dir.filePath("sync.mp4");
            ASSERT_TRUE(Mp4Writer::remuxToFaststart(written, path, nullptr, &error)) << error.localizedDescription.toStdString();
        }

        const auto infos = media::videoFrames(path);
        const auto frames = media::decodeFrames(path, QSize(16, 12));
        ASSERT_EQ(infos.size(), frames.size());
        double flashTime = -1;
        for (size_t i = 0; i < frames.size() && flashTime < 0; ++i)
            if (qGray(frames[i].pixel(8, 6)) > 128)
                flashTime = infos[i].time;

        const QJsonObject audio = media::stream(media::probe(path), "audio");
        const double audioStart = media::number(audio, "start_time");
        const auto samples = media::decodeAudio(path);
        double clickTime = -1;
        for (size_t i = 0; i < samples.size() && clickTime < 0; ++i)
            if (std::abs(samples[i]) > 0.3f)
                clickTime = audioStart + double(i) / rate;

        // The encoder's priming frame may stay in front of the first sample, as silence.
        EXPECT_GE(audioStart, 0.25 - 1024.0 / rate - 0.001);
        EXPECT_LE(audioStart, 0.25 + 0.001);
        EXPECT_NEAR(flashTime, flash, 0.002);
        EXPECT_NEAR(clickTime, flash, 0.01);
        EXPECT_LT(std::abs(clickTime - flashTime), 0.040);
    }
}

// Fragments while writing, then a stream copy into one faststart file: the same frames, colours
// and sound, the same track settings, the index before the media data.
TEST(Mp4Writer, FragmentedFilesCopyIntoFaststartOnesUnchanged)
{
    QTemporaryDir dir;
    const QString fragmented = dir.filePath("recording.mp4.part");
    const QSize size(320, 240);
    platform::AppError error;
    auto writer = Mp4Writer::create(fragmented, &error);
    ASSERT_TRUE(writer);
    writer->setLayout(Mp4Writer::Layout::Fragmented);
    platform::Mp4VideoSettings video;
    video.size = size;
    ASSERT_TRUE(writer->addVideoTrack(video, &error));
    ASSERT_TRUE(writer->addAudioTrack({}, &error));
    ASSERT_TRUE(writer->startWriting(&error));
    const int frames = 90;
    for (int i = 0; i < frames; ++i) {
        ASSERT_EQ(writer->appendVideoFrame(quadrantFrame(size, i), i / 30.0), Mp4Writer::AppendResult::Appended);
        const qint64 at = qint64(i) * rate / 30;
        const int n = int(qint64(i + 1) * rate / 30 - at);
        const auto block = sine(n, 440, 2, at);
        writer->appendAudioSamples(block.data(), n, double(at) / rate);
    }
    ASSERT_TRUE(writer->finishWriting());
    QStringList boxes = media::topLevelBoxes(fragmented);
    EXPECT_EQ(boxes.value(1), "moov") << boxes.join(' ').toStdString();
    EXPECT_GE(boxes.count("moof"), 6) << "a fragment every half second";
    EXPECT_EQ(Mp4Writer::countVideoFrames(fragmented), frames);

    const QString faststart = dir.filePath("recording.mp4");
    ASSERT_TRUE(Mp4Writer::remuxToFaststart(fragmented, faststart, nullptr, &error)) << error.localizedDescription.toStdString();
    boxes = media::topLevelBoxes(faststart);
    EXPECT_LT(boxes.indexOf("moov"), boxes.indexOf("mdat")) << boxes.join(' ').toStdString();
    EXPECT_FALSE(boxes.contains("moof"));
    EXPECT_EQ(Mp4Writer::countVideoFrames(faststart), frames);
    const QJsonObject probed = media::probe(faststart);
    const QJsonObject v = media::stream(probed, "video");
    const QJsonObject a = media::stream(probed, "audio");
    EXPECT_EQ(v.value("profile").toString(), "High");
    EXPECT_EQ(v.value("color_space").toString(), "bt709");
    EXPECT_NEAR(media::number(v, "duration"), 3.0, 0.05); // picture and sound in step: see PictureAndSoundStayInStep
    EXPECT_EQ(a.value("codec_name").toString(), "aac");
    EXPECT_EQ(a.value("channels").toInt(), 2);
    EXPECT_NEAR(media::number(a, "duration"), 3.0, 0.05);
    EXPECT_EQ(media::dominantFrequency(media::decodeAudio(faststart), rate), 440);
    const auto decoded = media::decodeFrames(faststart, size);
    ASSERT_EQ(decoded.size(), size_t(frames));
    for (int i : {0, 45, 89})
        EXPECT_LE(media::colourDistance(decoded[size_t(i)].pixel(80, 60), quadrantColour(i, 0)), 12) << i;

    // Nothing to copy, or nowhere to put it: an error, and no file.
    EXPECT_FALSE(Mp4Writer::remuxToFaststart(dir.filePath("missing.mp4"), dir.filePath("out.mp4"), nullptr, &error));
    EXPECT_FALSE(error.localizedDescription.isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath("out.mp4")));
    EXPECT_FALSE(Mp4Writer::remuxToFaststart(fragmented, dir.filePath("no/such/folder.mp4"), nullptr, &error));
    // Asked to give up: the copy is removed.
    std::atomic<bool> abort{true};
    EXPECT_FALSE(Mp4Writer::remuxToFaststart(fragmented, dir.filePath("given-up.mp4"), &abort, &error));
    EXPECT_FALSE(QFile::exists(dir.filePath("given-up.mp4")));
    EXPECT_EQ(Mp4Writer::countVideoFrames(dir.filePath("missing.mp4")), -1);
}

namespace {

// The video frames a player finds in the file as it is on disk at this moment, read as recovery
// reads what a kill left: a copy, cut back to its last complete box.
qint64 framesOnDisk(const QString& path, const QString& scratch)
{
    QFile::remove(scratch);
    if (!QFile::copy(path, scratch))
        return 0;
    Mp4Writer::trimToCompleteBoxes(scratch);
    return Mp4Writer::hasIndex(scratch) ? std::max<qint64>(0, Mp4Writer::countVideoFrames(scratch)) : 0;
}

// Whether the first video sample of every fragment's media data is a key frame, and how many
// fragments there are.
struct FragmentStarts {
    int fragments = 0;
    int startingOnAKeyFrame = 0;
};

FragmentStarts fragmentStarts(const QString& path)
{
    QFile file(path);
    std::vector<std::pair<qint64, qint64>> mdats; // [from, to) of each mdat's payload
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (qint64 at = 0; at + 8 <= file.size();) {
        file.seek(at);
        const QByteArray header = file.read(8);
        const qint64 size = (qint64(uchar(header[0])) << 24) | (qint64(uchar(header[1])) << 16)
            | (qint64(uchar(header[2])) << 8) | qint64(uchar(header[3]));
        if (size < 8)
            break;
        if (header.mid(4, 4) == "mdat")
            mdats.emplace_back(at + 8, at + size);
        at += size;
    }
    const media::Output packets = media::runTool(
        "/usr/bin/ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pos,flags", "-of", "json", path});
    FragmentStarts result;
    const QJsonArray list = QJsonDocument::fromJson(packets.out).object().value("packets").toArray();
    for (const auto& [from, to] : mdats) {
        for (const QJsonValue& v : list) {
            const qint64 pos = v.toObject().value("pos").toString().toLongLong();
            if (pos < from || pos >= to)
                continue;
            ++result.fragments;
            result.startingOnAKeyFrame += v.toObject().value("flags").toString().startsWith('K');
            break;
        }
    }
    return result;
}

} // namespace

// What a kill leaves of a recording is what reached the disk: at every frame appended, the file
// as it is holds every frame but those of the last half second, and each fragment starts on a key
// frame. The encoder's look-ahead and B-frames would hold frames back, and so would the muxer's
// interleaving while it waits for sound that comes late or not at all.
TEST(Mp4Writer, AFragmentedFileOnDiskLagsTheLastFrameByLessThanHalfASecond)
{
    const struct {
        const char* what;
        int framesPerSecond;
        bool soundTrack;
        double soundFrom; // seconds; never when past the end
    } cases[] = {
        {"picture only", 30, false, 0},
        {"sound in step", 30, true, 0},
        {"sound from 1.2 s on", 30, true, 1.2},
        {"a sound track that never gets a sample", 30, true, 99},
        {"a slow capture, 20 frames a second", 20, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString path = dir.filePath("recording.mp4.part");
        const QSize size(320, 240);
        auto writer = startedWriter(path, size, c.soundTrack, Mp4Writer::Layout::Fragmented);
        ASSERT_TRUE(writer);

        const int frames = 3 * c.framesPerSecond;
        // A frame timer's ticks are a few milliseconds late or early.
        std::vector<double> times;
        for (int i = 0; i < frames; ++i)
            times.push_back(double(i) / c.framesPerSecond + (i % 3) * 0.004);
        double worstLag = 0;
        qint64 nextSample = 0;
        for (int i = 0; i < frames; ++i) {
            const double t = times[size_t(i)];
            ASSERT_EQ(writer->appendVideoFrame(quadrantFrame(size, i), t), Mp4Writer::AppendResult::Appended) << i;
            const qint64 until = qint64((double(i + 1) / c.framesPerSecond) * rate);
            if (c.soundTrack && t >= c.soundFrom) {
                nextSample = std::max(nextSample, qint64(c.soundFrom * rate));
                const auto block = sine(int(until - nextSample), 440, 2, nextSample);
                writer->appendAudioSamples(block.data(), int(until - nextSample), double(nextSample) / rate);
                nextSample = until;
            }
            // From the last frame appended back to the first one a kill would lose.
            const qint64 kept = framesOnDisk(path, dir.filePath("snapshot.mp4"));
            ASSERT_LE(kept, i + 1);
            if (kept <= i) {
                worstLag = std::max(worstLag, t - times[size_t(kept)]);
            }
        }
        EXPECT_LT(worstLag, 0.5);
        EXPECT_GT(worstLag, 0.3) << "fragments of about half a second, not one a frame";
        ASSERT_TRUE(writer->finishWriting());

        const FragmentStarts starts = fragmentStarts(path);
        EXPECT_GE(starts.fragments, 6);
        EXPECT_EQ(starts.startingOnAKeyFrame, starts.fragments);
        const media::Output checked = media::runTool(
        "/usr/bin/ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path});
        EXPECT_TRUE(checked.ok && checked.err.isEmpty()) << checked.err.toStdString();
        EXPECT_EQ(checked.out.trimmed().toInt(), frames);
        // Each frame at its own time, also where a fragment ends.
        const auto shown = media::videoFrames(path);
        ASSERT_EQ(int(shown.size()), frames);
        for (int i = 0; i < frames; ++i)
            EXPECT_NEAR(shown[size_t(i)].time - shown[0].time, times[size_t(i)] - times[0], 0.002) << i;
        if (!c.soundTrack || c.soundFrom > 3)
            continue;
        // The sound starts where its first samples were timed, silence or not before it, in the
        // fragments and in their faststart copy.
        const QString copy = dir.filePath("recording.mp4");
        platform::AppError error;
        ASSERT_TRUE(Mp4Writer::remuxToFaststart(path, copy, nullptr, &error)) << error.localizedDescription.toStdString();
        for (const QString& file : {path, copy}) {
            const double start = media::number(media::stream(media::probe(file), "audio"), "start_time");
            const auto samples = media::decodeAudio(file);
            const auto onset = std::find_if(samples.begin(), samples.end(), [](float v) { return std::abs(v) > 0.1f; });
            ASSERT_NE(onset, samples.end());
            EXPECT_NEAR(start + double(onset - samples.begin()) / rate, c.soundFrom, 0.01) << file.toStdString();
        }
    }
}

// A copy's name already taken by a link to a document, or by a file: the copy is refused and what
// the name leads to keeps its bytes.
TEST(Mp4Writer, ACopyIsNeverWrittenThroughANameThatIsTaken)
{
    QTemporaryDir dir;
    const QString source = dir.filePath("source.mp4");
    auto writer = startedWriter(source, QSize(64, 64), false);
    ASSERT_TRUE(writer);
    for (int i = 0; i < 10; ++i)
        writer->appendVideoFrame(quadrantFrame(QSize(64, 64), i), i / 30.0);
    ASSERT_TRUE(writer->finishWriting());

    const QByteArray text(5000, 'd');
    const QString document = dir.filePath("document.txt");
    ASSERT_TRUE(test::writeFile(document, text));
    const QString link = dir.filePath("link.mp4");
    ASSERT_TRUE(QFile::link(document, link));
    const QString file = dir.filePath("file.mp4");
    ASSERT_TRUE(test::writeFile(file, text));
    for (const QString& destination : {link, file}) {
        platform::AppError error;
        EXPECT_FALSE(Mp4Writer::remuxToFaststart(source, destination, nullptr, &error)) << destination.toStdString();
        EXPECT_TRUE(error.localizedDescription.contains("exists")) << error.localizedDescription.toStdString();
        EXPECT_TRUE(QFileInfo(destination).isSymLink() || QFileInfo::exists(destination)) << "not removed";
    }
    QFile read(document);
    ASSERT_TRUE(read.open(QIODevice::ReadOnly));
    EXPECT_EQ(read.readAll(), text);
    QFile other(file);
    ASSERT_TRUE(other.open(QIODevice::ReadOnly));
    EXPECT_EQ(other.readAll(), text);
}
