// Videos made with the ffmpeg program, read back through the frame reader. H.264 is lossy, so
// colours are compared with a tolerance.
#include "platform/MediaFrameReader.h"

#include "support/TestSupport.h"

#include <QColor>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Far below the error of decoding with the wrong matrix (tens of levels on saturated colours).
constexpr int kTolerance = 6;
// Scaled reads go through swscale's 8-bit tables for packed RGB, as the ffmpeg program's scaling
// does: a few levels more, still far below a wrong matrix.
constexpr int kScaledTolerance = 10;

class MediaFrameReaderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString make(const QString& name, const QStringList& arguments)
    {
        const QString out = dir.path() + "/" + name;
        const auto result = test::run("/usr/bin/ffmpeg", QStringList{"-v", "error", "-y"} + arguments + QStringList{out});
        EXPECT_EQ(result.exitCode, 0) << result.output.toStdString();
        return out;
    }
    QString colourVideo(const QString& name, const QString& colour, const QStringList& colourOptions)
    {
        return make(name, QStringList{"-f", "lavfi", "-i", "color=c=" + colour + ":s=96x64:r=10:d=0.5"} + colourOptions
                              + QStringList{"-c:v", "libx264", "-crf", "12"});
    }

    QTemporaryDir dir;
};

void expectColour(const QImage& image, QPoint at, QColor expected, const char* what, int tolerance = kTolerance)
{
    const QColor got = image.pixelColor(at);
    EXPECT_NEAR(got.red(), expected.red(), tolerance) << what;
    EXPECT_NEAR(got.green(), expected.green(), tolerance) << what;
    EXPECT_NEAR(got.blue(), expected.blue(), tolerance) << what;
}

} // namespace

TEST_F(MediaFrameReaderTest, DecodesWithTheTaggedColourMatrixAndRange)
{
    const QColor colour(200, 40, 60);
    const QString hex = "0x" + colour.name().mid(1);
    const struct {
        const char* name;
        QStringList options;
    } cases[] = {
        // How our recordings are written: BT.709 matrix, limited range, tagged.
        {"bt709.mp4",
         {"-vf", "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p", "-colorspace", "bt709", "-color_primaries",
          "bt709", "-color_trc", "bt709", "-color_range", "tv"}},
        {"bt601.mp4", {"-vf", "scale=out_color_matrix=bt601:out_range=tv,format=yuv420p", "-colorspace", "smpte170m", "-color_range", "tv"}},
        {"fullrange.mp4",
         {"-vf", "scale=out_color_matrix=bt709:out_range=pc,format=yuv420p", "-colorspace", "bt709", "-color_range", "pc"}},
        // Untagged streams are read as BT.601.
        {"untagged.mp4", {"-vf", "scale=out_color_matrix=bt601:out_range=tv,format=yuv420p"}},
    };
    for (const auto& c : cases) {
        const QString path = colourVideo(c.name, hex, c.options);
        QString error;
        auto reader = platform::MediaFrameReader::open(path, &error);
        ASSERT_TRUE(reader) << c.name << ": " << error.toStdString();
        EXPECT_EQ(reader->frameSize(), QSize(96, 64));
        const QImage frame = reader->frameAt(0.1, &error);
        ASSERT_FALSE(frame.isNull()) << c.name << ": " << error.toStdString();
        EXPECT_EQ(frame.format(), QImage::Format_RGB32);
        expectColour(frame, {48, 32}, colour, c.name);
        EXPECT_EQ(qAlpha(frame.pixel(0, 0)), 255);
        // Scaled in the same conversion, in both formats: the same matrix and range.
        for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_RGB888}) {
            const QImage small = reader->frameAt(0.2, QSize(48, 32), format, &error);
            ASSERT_FALSE(small.isNull()) << c.name << ": " << error.toStdString();
            EXPECT_EQ(small.size(), QSize(48, 32));
            EXPECT_EQ(small.format(), format);
            expectColour(small, {24, 16}, colour, c.name, kScaledTolerance);
        }
    }
}

TEST_F(MediaFrameReaderTest, FrameAtGivesTheFrameOnScreenAtThatTime)
{
    // Five colours of 0.2 s each at 10 frames per second, a key frame every 4 frames.
    QStringList arguments;
    const QStringList colours = {"red", "lime", "blue", "yellow", "white"};
    QString graph;
    for (int i = 0; i < colours.size(); ++i) {
        arguments << "-f" << "lavfi" << "-i" << "color=c=" + colours[i] + ":s=64x48:r=10:d=0.2";
        graph += QStringLiteral("[%1:v]").arg(i);
    }
    graph += QStringLiteral("concat=n=%1:v=1[v]").arg(colours.size());
    arguments << "-filter_complex" << graph << "-map" << "[v]" << "-c:v" << "libx264" << "-g" << "4" << "-pix_fmt" << "yuv420p";
    const QString path = make("steps.mp4", arguments);
    auto reader = platform::MediaFrameReader::open(path);
    ASSERT_TRUE(reader);
    EXPECT_NEAR(reader->duration(), 1.0, 0.05);
    EXPECT_NEAR(reader->frameRate(), 10.0, 0.01);

    const QColor red(255, 0, 0), lime(0, 255, 0), blue(0, 0, 255), yellow(255, 255, 0), white(255, 255, 255);
    const struct {
        double at;
        QColor colour;
    } steps[] = {
        // Forward in small steps (read on), jumps ahead and back (seek), and past the end.
        {0.0, red}, {0.05, red}, {0.15, red}, {0.25, lime}, {0.35, lime}, {0.45, blue}, {0.95, white},
        {0.1, red}, {0.65, yellow}, {0.55, blue}, {5.0, white}, {0.31, lime}, {-1.0, red},
    };
    for (const auto& step : steps) {
        QString error;
        const QImage frame = reader->frameAt(step.at, &error);
        ASSERT_FALSE(frame.isNull()) << step.at << ": " << error.toStdString();
        expectColour(frame, {32, 24}, step.colour, QByteArray::number(step.at).constData());
    }
}

TEST_F(MediaFrameReaderTest, AppliesTheDisplayRotationAsFFmpegDoes)
{
    // Left half red, right half blue, with a display rotation in the container.
    const QString upright = make("upright.mp4", {"-f", "lavfi", "-i",
                                                 "color=c=blue:s=160x120:r=10:d=0.5,drawbox=x=0:y=0:w=80:h=120:color=red:t=fill",
                                                 "-c:v", "libx264", "-pix_fmt", "yuv420p"});
    const QString rotated = make("rotated.mp4", {"-i", upright, "-c", "copy", "-metadata:s:v:0", "rotate=90"});
    // The ffmpeg program's own rendering of the first frame, rotation applied.
    const QString still = make("still.png", {"-i", rotated, "-frames:v", "1"});
    const QImage expected(still);
    ASSERT_EQ(expected.size(), QSize(120, 160));

    auto reader = platform::MediaFrameReader::open(rotated);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->frameSize(), QSize(120, 160));
    EXPECT_TRUE(reader->rotation() == 90 || reader->rotation() == 270);
    const QImage frame = reader->frameAt(0.1);
    ASSERT_EQ(frame.size(), QSize(120, 160));
    for (const QPoint at : {QPoint(60, 20), QPoint(60, 140), QPoint(10, 60), QPoint(110, 100)})
        expectColour(frame, at, expected.pixelColor(at), "rotated");
    EXPECT_NE(frame.pixelColor(60, 20).red() > 128, frame.pixelColor(60, 140).red() > 128);

    // Scaled to half, as shown: turned as well.
    QString error;
    const QImage half = reader->frameAt(0.2, QSize(60, 80), QImage::Format_RGB888, &error);
    ASSERT_EQ(half.size(), QSize(60, 80)) << error.toStdString();
    for (const QPoint at : {QPoint(60, 20), QPoint(60, 140), QPoint(10, 60), QPoint(110, 100)})
        expectColour(half, at / 2, expected.pixelColor(at), "rotated, scaled", kScaledTolerance);
    EXPECT_TRUE(reader->frameAt(0.3, QSize(), QImage::Format_RGB32, &error).isNull());
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(MediaFrameReaderTest, FilesWithoutPicturesAreErrors)
{
    QFile garbage(dir.path() + "/garbage.mp4");
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(8192, '\x5a'));
    garbage.close();
    const QString audio = make("tone.m4a", {"-f", "lavfi", "-i", "sine=frequency=440:duration=0.5", "-c:a", "aac"});
    // A truncated video: the header survives, the frames do not.
    const QString whole = colourVideo("whole.mp4", "red", {"-movflags", "+faststart"});
    QFile cut(whole);
    ASSERT_TRUE(cut.open(QIODevice::ReadWrite));
    cut.resize(cut.size() / 3);
    cut.close();

    for (const QString& path : {dir.path() + "/garbage.mp4", dir.path() + "/missing.mp4", audio, QStringLiteral("http://127.0.0.1:9/x.mp4")}) {
        QString error;
        EXPECT_FALSE(platform::MediaFrameReader::open(path, &error)) << path.toStdString();
        EXPECT_FALSE(error.isEmpty()) << path.toStdString();
    }
    // The truncated file opens; a frame from it either decodes or fails with a reason, never crashes.
    QString error;
    if (auto reader = platform::MediaFrameReader::open(whole, &error)) {
        const QImage frame = reader->frameAt(0.4, &error);
        EXPECT_TRUE(!frame.isNull() || !error.isEmpty());
    }
}
