#include "platform/PixelGrabber.h"

#include "support/PatternWindow.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using test::PatternWindow;

TEST(PixelGrabber, ReadsExactPixelsWithAndWithoutSharedMemory)
{
    QString error;
    auto grabber = platform::PixelGrabber::create(&error);
    ASSERT_TRUE(grabber) << error.toStdString();
    EXPECT_EQ(grabber->rootGeometry(), QRect(0, 0, 1920, 1080));
    EXPECT_TRUE(grabber->usesShm());

    const QRect where(100, 50, 300, 200);
    PatternWindow window(where);
    window.show();
    const QImage expected = window.pattern();
    ASSERT_TRUE(test::waitUntil([&] { return grabber->grab(where) == expected; }, std::chrono::seconds(5)));

    for (bool shm : {true, false}) {
        grabber->setUseShm(shm);
        const QImage image = grabber->grab(where.adjusted(10, 20, -30, -40), &error);
        ASSERT_FALSE(image.isNull()) << error.toStdString();
        EXPECT_EQ(image.format(), QImage::Format_RGB32);
        EXPECT_EQ(image, expected.copy(10, 20, 260, 140)) << "shm " << shm;
        // Opaque: converting keeps every pixel visible.
        EXPECT_EQ(qAlpha(image.convertToFormat(QImage::Format_ARGB32).pixel(5, 5)), 255);
    }
}

TEST(PixelGrabber, AreaOutsideTheRootIsBlack)
{
    auto grabber = platform::PixelGrabber::create();
    ASSERT_TRUE(grabber);
    const QRect where(0, 0, 64, 64);
    PatternWindow window(where);
    window.show();
    ASSERT_TRUE(test::waitUntil([&] { return grabber->grab(where) == window.pattern(); }, std::chrono::seconds(5)));

    const QImage image = grabber->grab(QRect(-16, -8, 48, 40));
    ASSERT_EQ(image.size(), QSize(48, 40));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(15, 39), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(47, 7), qRgb(0, 0, 0));
    EXPECT_EQ(image.copy(16, 8, 32, 32), window.pattern().copy(0, 0, 32, 32));

    const QImage offScreen = grabber->grab(QRect(5000, 5000, 10, 10));
    ASSERT_EQ(offScreen.size(), QSize(10, 10));
    EXPECT_EQ(offScreen.pixel(9, 9), qRgb(0, 0, 0));
    EXPECT_TRUE(grabber->grab(QRect()).isNull());
}

TEST(PixelGrabber, NoDisplayIsAnError)
{
    QString error;
    EXPECT_FALSE(platform::PixelGrabber::create(&error, ":4242"));
    EXPECT_FALSE(error.isEmpty());
}
