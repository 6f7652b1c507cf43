// GIFs written through FFmpeg and read back with the real ffprobe and ffmpeg programs.
#include "platform/GifWriter.h"

#include "recording/MediaFileProbe.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/resource.h>

namespace {

// Flat colours survive the palette exactly up to its rounding.
constexpr int kTolerance = 8;

QImage quarters(const QSize& size, QColor a, QColor b, QColor c, QColor d)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    const int w = size.width() / 2;
    const int h = size.height() / 2;
    painter.fillRect(0, 0, w, h, a);
    painter.fillRect(w, 0, size.width() - w, h, b);
    painter.fillRect(0, h, w, size.height() - h, c);
    painter.fillRect(w, h, size.width() - w, size.height() - h, d);
    return image;
}

class GifWriterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString& name) const { return dir.path() + "/" + name; }
    QTemporaryDir dir;
};

} // namespace

TEST_F(GifWriterTest, WritesEveryFrameWithItsDelayAndColoursLoopingForEver)
{
    const QSize size(64, 48);
    const QList<QImage> frames{
        quarters(size, QColor(220, 30, 40), QColor(20, 200, 60), QColor(30, 60, 220), Qt::white),
        quarters(size, Qt::black, QColor(220, 30, 40), QColor(20, 200, 60), QColor(30, 60, 220)),
        quarters(size, QColor(30, 60, 220), Qt::white, Qt::black, QColor(250, 210, 20)),
    };
    const QString out = path("three.gif");
    auto writer = platform::GifWriter::create(out, {size, 10, 0});
    ASSERT_TRUE(writer);
    QString error;
    ASSERT_TRUE(writer->preparePalette(frames, &error)) << error.toStdString();
    for (const QImage& frame : frames)
        ASSERT_TRUE(writer->addFrame(frame, &error)) << error.toStdString();
    EXPECT_FALSE(QFile::exists(out)) << "nothing at the path before finish";
    ASSERT_TRUE(writer->finish(&error)) << error.toStdString();
    EXPECT_EQ(writer->framesWritten(), 3);

    const QJsonObject video = media::stream(media::probe(out, {"-count_frames"}), "video");
    EXPECT_EQ(video.value("codec_name").toString(), "gif");
    EXPECT_EQ(video.value("width").toInt(), 64);
    EXPECT_EQ(video.value("height").toInt(), 48);
    EXPECT_EQ(video.value("nb_read_frames").toString(), "3");
    EXPECT_EQ(media::gifLoopCount(out), 0);
    const auto times = media::videoFrames(out);
    ASSERT_EQ(times.size(), 3u);
    for (size_t i = 0; i < times.size(); ++i)
        EXPECT_NEAR(times[i].time, 0.1 * double(i), 1e-6) << i;

    const auto decoded = media::decodeGIF(out, size);
    ASSERT_EQ(decoded.size(), 3u);
    for (size_t i = 0; i < decoded.size(); ++i)
        for (const QPoint at : {QPoint(8, 8), QPoint(56, 8), QPoint(8, 40), QPoint(56, 40)})
            EXPECT_LE(media::colourDistance(decoded[i].pixel(at), frames[int(i)].pixel(at)), kTolerance) << i << " " << at.x() << "," << at.y();
}

TEST_F(GifWriterTest, ManyFramesFedOneByOneComeOutInTheirOrder)
{
    // More frames than mapping threads, each its own colour, counted for the palette as they come
    // and handed over in a format the writer converts itself.
    const QSize size(40, 30);
    QList<QImage> frames;
    for (int i = 0; i < 40; ++i) {
        QImage frame(size, QImage::Format_RGB888);
        frame.fill(QColor::fromHsv(i * 9, 220, 60 + (i % 5) * 45));
        frames.append(frame);
    }
    const QString out = path("many.gif");
    auto writer = platform::GifWriter::create(out, {size, 10, 0});
    ASSERT_TRUE(writer);
    QString error;
    for (const QImage& frame : frames)
        ASSERT_TRUE(writer->addToPalette(frame, &error)) << error.toStdString();
    ASSERT_TRUE(writer->preparePalette(&error)) << error.toStdString();
    EXPECT_FALSE(writer->addToPalette(frames[0], &error)) << "the palette is set";
    for (const QImage& frame : frames)
        ASSERT_TRUE(writer->addFrame(frame, &error)) << error.toStdString();
    ASSERT_TRUE(writer->finish(&error)) << error.toStdString();
    EXPECT_EQ(writer->framesWritten(), 40);

    const auto decoded = media::decodeGIF(out, size);
    ASSERT_EQ(decoded.size(), 40u);
    for (size_t i = 0; i < decoded.size(); ++i)
        EXPECT_LE(media::colourDistance(decoded[i].pixel(20, 15), frames[int(i)].pixel(20, 15)), kTolerance) << i;
}

TEST_F(GifWriterTest, ScalesFramesOfAnotherSizeAndKeepsTheLoopCountGiven)
{
    const QSize size(40, 20);
    const QImage big = quarters(QSize(80, 40), Qt::red, Qt::red, Qt::blue, Qt::blue);
    const QString out = path("scaled.gif");
    auto writer = platform::GifWriter::create(out, {size, 25, 3});
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->preparePalette({big}));
    ASSERT_TRUE(writer->addFrame(big));
    ASSERT_TRUE(writer->finish());
    const QJsonObject video = media::stream(media::probe(out), "video");
    EXPECT_EQ(video.value("width").toInt(), 40);
    EXPECT_EQ(video.value("height").toInt(), 20);
    EXPECT_EQ(media::gifLoopCount(out), 3);
    const auto decoded = media::decodeGIF(out, size);
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_LE(media::colourDistance(decoded[0].pixel(20, 2), qRgb(255, 0, 0)), kTolerance);
    EXPECT_LE(media::colourDistance(decoded[0].pixel(20, 17), qRgb(0, 0, 255)), kTolerance);
}

TEST_F(GifWriterTest, AFailedOrAbandonedWriteLeavesThePathAsItWas)
{
    const QString out = path("kept.gif");
    ASSERT_TRUE(test::run("/bin/sh", {"-c", "printf earlier > '" + out + "'"}).exitCode == 0);
    const QImage frame = quarters(QSize(16, 16), Qt::red, Qt::green, Qt::blue, Qt::white);
    {
        auto writer = platform::GifWriter::create(out, {QSize(16, 16), 10, 0});
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->preparePalette({frame}));
        ASSERT_TRUE(writer->addFrame(frame));
        // Dropped without finish.
    }
    {
        auto writer = platform::GifWriter::create(out, {QSize(16, 16), 10, 0});
        ASSERT_TRUE(writer);
        QString error;
        EXPECT_FALSE(writer->addFrame(frame, &error)) << "no palette yet";
        EXPECT_FALSE(writer->finish(&error));
        EXPECT_FALSE(writer->addFrame(frame, &error)) << "finished";
    }
    {
        // The disk fills up part way: writes beyond 1 KiB fail. No shortened GIF replaces the file,
        // also when the whole of it is small enough to pass through a write buffer.
        QList<QImage> noise;
        std::mt19937 random(7);
        for (int i = 0; i < 4; ++i) {
            QImage image(32, 32, QImage::Format_RGB32);
            for (int y = 0; y < 32; ++y)
                for (int x = 0; x < 32; ++x)
                    image.setPixel(x, y, 0xff000000u | (random() & 0xffffffu));
            noise.append(image);
        }
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 1024;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        auto writer = platform::GifWriter::create(out, {QSize(32, 32), 10, 0});
        bool written = writer && writer->preparePalette(noise);
        for (const QImage& image : noise)
            written = written && writer->addFrame(image);
        written = written && writer->finish();
        writer.reset();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(written);
    }
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "earlier");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"kept.gif"}) << "no temporary file left";

    QString error;
    EXPECT_FALSE(platform::GifWriter::create(path("missing/folder/x.gif"), {QSize(16, 16), 10, 0}, &error));
    EXPECT_FALSE(error.isEmpty());
    for (const QSize bad : {QSize(0, 10), QSize(10, -1), QSize(70000, 10)})
        EXPECT_FALSE(platform::GifWriter::create(path("bad.gif"), {bad, 10, 0}));
}
