#include "recording/ScreenRecorder.h"

#include "platform/SystemColors.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QPainter>

#include <gtest/gtest.h>

TEST(ScreenRecorder, StopWithoutARecordingIsRefusedAtOnce)
{
    ScreenRecorder recorder;
    bool answered = false;
    recorder.stopRecording([&](std::optional<QString> url, std::optional<platform::AppError> error) {
        answered = true;
        EXPECT_FALSE(url);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, "Kestrova");
        EXPECT_EQ(error->code, 2);
        EXPECT_EQ(error->localizedDescription, "Not recording");
    });
    EXPECT_TRUE(answered) << "refusals are answered before stopRecording returns";
    EXPECT_EQ(recorder.stopRecordingAndWait(std::chrono::seconds(1)), ScreenRecorder::ShutdownResult::NothingToStop);
}

TEST(ScreenRecorder, FileNameAndFolder)
{
    EXPECT_EQ(ScreenRecorder::fileName(QDateTime(QDate(2025, 3, 7), QTime(9, 5, 3))), "ScreenRecord_2025-03-07_09-05-03.mp4");
    EXPECT_EQ(ScreenRecorder::fileName(QDateTime(QDate(2025, 12, 31), QTime(23, 59, 59))), "ScreenRecord_2025-12-31_23-59-59.mp4");
    EXPECT_EQ(ScreenRecorder::recordingsDirectory(), QDir::homePath() + "/Documents/ScreenRecordings");
    EXPECT_EQ(ScreenRecorder::videoSize(QRectF(10.5, 20.25, 640.7, 480.2)), QSize(640, 480));
}

TEST(ScreenRecorder, ClicksOnTheLeftAndTopEdgesAreInsideTheArea)
{
    const QRectF area(100, 50, 400, 300);
    const struct {
        QPointF point;
        std::optional<QPointF> offset;
    } cases[] = {
        {{110, 60}, QPointF(10, 10)},  {{100, 50}, QPointF(0, 0)},    {{100, 349.5}, QPointF(0, 299.5)},
        {{500, 60}, std::nullopt},     {{110, 350}, std::nullopt},    {{99.9, 60}, std::nullopt},
        {{110, 49.9}, std::nullopt},   {{499.9, 349.9}, QPointF(399.9, 299.9)},
    };
    for (const auto& c : cases) {
        const auto offset = ScreenRecorder::clickOffset(c.point, area);
        ASSERT_EQ(offset.has_value(), c.offset.has_value()) << c.point.x() << "," << c.point.y();
        if (offset) {
            EXPECT_NEAR(offset->x(), c.offset->x(), 1e-9);
            EXPECT_NEAR(offset->y(), c.offset->y(), 1e-9);
        }
    }
}

// A ring starts at 20 points, grows to 50 and fades out over its 0.8 s, around its click.
TEST(ScreenRecorder, RingsGrowAndFade)
{
    const auto draw = [](double age) {
        QImage image(200, 200, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        ScreenRecorder::drawMouseClickAnimations(painter, {{QPointF(100, 80), 10.0, 0.8}}, 10.0 + age);
        return image;
    };
    const auto isBlue = [](QRgb c) { return qBlue(c) > 200 && qRed(c) < 200; };
    const QRgb blue = platform::SystemColors::blue().rgb();

    const QImage fresh = draw(0);
    EXPECT_EQ(fresh.pixel(120, 80), blue); // radius 20, full colour
    EXPECT_EQ(fresh.pixel(100, 60), blue);
    EXPECT_EQ(fresh.pixel(100, 80), qRgb(255, 255, 255));
    EXPECT_EQ(fresh.pixel(131, 80), qRgb(255, 255, 255));

    const QImage half = draw(0.4); // radius 35, half faded
    EXPECT_TRUE(isBlue(half.pixel(135, 80)));
    EXPECT_NEAR(qRed(half.pixel(135, 80)), (255 + 10) / 2, 8);
    EXPECT_EQ(half.pixel(120, 80), qRgb(255, 255, 255));

    const QImage late = draw(0.79); // nearly 50, nearly gone
    EXPECT_GT(qRed(late.pixel(150, 80)), 240);
    EXPECT_EQ(late.pixel(135, 80), qRgb(255, 255, 255));
}
