#include "platform/GlobalClickSource.h"

#include "platform/MediaClock.h"
#include "support/TestSupport.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using platform::GlobalClick;
using platform::GlobalClickSource;

TEST(GlobalClickSource, SeesLeftAndRightPressesAnywhereWithTheirPosition)
{
    auto& source = GlobalClickSource::shared();
    QObject context;
    std::vector<GlobalClick> clicks;
    QString error;
    const quint64 id = source.subscribe(&context, [&](const GlobalClick& click) { clicks.push_back(click); }, &error);
    ASSERT_NE(id, 0u) << error.toStdString();
    EXPECT_EQ(source.subscriberCount(), 1);

    // One of our own windows under the pointer does not hide the press.
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    window.setGeometry(500, 500, 200, 200);
    window.show();
    test::spin(std::chrono::milliseconds(200));

    const double before = platform::MediaClock::now();
    ASSERT_TRUE(test::xdotoolBlocking({"mousemove", "123", "456", "click", "1"}));
    ASSERT_TRUE(test::xdotoolBlocking({"mousemove", "600", "600", "click", "3"}));
    ASSERT_TRUE(test::xdotoolBlocking({"click", "2"})); // middle: not a click here
    ASSERT_TRUE(test::xdotoolBlocking({"mousemove", "1919", "0", "click", "1"}));
    ASSERT_TRUE(test::waitUntil([&] { return clicks.size() >= 3; }, std::chrono::seconds(5)));
    test::spin(std::chrono::milliseconds(200));
    ASSERT_EQ(clicks.size(), 3u);
    EXPECT_EQ(clicks[0].rootPosition, QPoint(123, 456));
    EXPECT_EQ(clicks[0].button, 1);
    EXPECT_EQ(clicks[1].rootPosition, QPoint(600, 600));
    EXPECT_EQ(clicks[1].button, 3);
    EXPECT_EQ(clicks[2].rootPosition, QPoint(1919, 0));
    for (const GlobalClick& click : clicks) {
        EXPECT_GE(click.mediaTime, before);
        EXPECT_LE(click.mediaTime, platform::MediaClock::now());
    }
    EXPECT_LE(clicks[0].mediaTime, clicks[1].mediaTime);

    source.unsubscribe(id);
    EXPECT_EQ(source.subscriberCount(), 0);
    ASSERT_TRUE(test::xdotoolBlocking({"click", "1"}));
    test::spin(std::chrono::milliseconds(300));
    EXPECT_EQ(clicks.size(), 3u) << "no delivery after unsubscribing";
}

TEST(GlobalClickSource, EverySubscriberGetsEachClickUntilItLeaves)
{
    auto& source = GlobalClickSource::shared();
    int first = 0;
    int second = 0;
    QObject firstContext;
    auto secondContext = std::make_unique<QObject>();
    const quint64 a = source.subscribe(&firstContext, [&](const GlobalClick&) { ++first; });
    const quint64 b = source.subscribe(secondContext.get(), [&](const GlobalClick&) { ++second; });
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);

    ASSERT_TRUE(test::xdotoolBlocking({"mousemove", "50", "50", "click", "1"}));
    ASSERT_TRUE(test::waitUntil([&] { return first == 1 && second == 1; }, std::chrono::seconds(5)));

    // A destroyed context leaves by itself, also with a click already on its way.
    ASSERT_TRUE(test::xdotoolBlocking({"click", "1"}));
    secondContext.reset();
    EXPECT_EQ(source.subscriberCount(), 1);
    ASSERT_TRUE(test::waitUntil([&] { return first == 2; }, std::chrono::seconds(5)));
    test::spin(std::chrono::milliseconds(200));
    EXPECT_EQ(second, 1);

    source.unsubscribe(a);
    source.unsubscribe(a); // twice: ignored
    EXPECT_EQ(source.subscriberCount(), 0);

    // The reader stops with the last subscriber and starts again with the next.
    int third = 0;
    QObject thirdContext;
    const quint64 c = source.subscribe(&thirdContext, [&](const GlobalClick&) { ++third; });
    ASSERT_NE(c, 0u);
    ASSERT_TRUE(test::xdotoolBlocking({"click", "3"}));
    EXPECT_TRUE(test::waitUntil([&] { return third == 1; }, std::chrono::seconds(5)));
    source.unsubscribe(c);
}
