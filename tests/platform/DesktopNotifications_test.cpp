// Notifications against a stand-in notification server on the private session bus of the run.
#include "platform/DesktopNotifications.h"

#include "fakes/FakeNotificationService.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QVariantMap>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(DesktopNotifications, PostsTitleAndBodyAsTheServerReadsThem)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus";
    const QString body = "Файл a&b.png <загружен>\nСсылка: https://example.test/?a=1&b=2";
    const struct {
        bool markup;
        QString expectedBody;
    } cases[] = {
        {false, body},
        // A markup server would read "&" and "<" as markup: they arrive escaped.
        {true, "Файл a&amp;b.png &lt;загружен&gt;\nСсылка: https://example.test/?a=1&amp;b=2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.markup ? "markup" : "plain");
        test::FakeNotificationService service(c.markup);
        ASSERT_TRUE(service.owned());
        platform::DesktopNotifications::post("Скриншот загружен", body);
        ASSERT_TRUE(test::waitUntil([&] { return !service.posted().isEmpty(); }, 5s));
        const test::PostedNotification n = service.posted().first();
        EXPECT_EQ(n.appName, "Kestrova");
        EXPECT_EQ(n.summary, "Скриншот загружен");
        EXPECT_EQ(n.body, c.expectedBody);
        EXPECT_EQ(n.expireTimeout, -1);
        // The default sound, and nothing else asked of the server.
        EXPECT_EQ(n.hints, (QVariantMap{{"sound-name", QString("message-new-instant")}}));
        test::spin(50ms);
        EXPECT_EQ(service.posted().size(), 1);
    }
}

TEST(DesktopNotifications, AServerThatNeverAnswersBlocksNothing)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus";
    test::FakeNotificationService service(false, 120s, /*answer=*/false);
    ASSERT_TRUE(service.owned());
    QElapsedTimer timer;
    timer.start();
    platform::DesktopNotifications::post("title", "body");
    EXPECT_LT(timer.elapsed(), 100);
    test::spin(200ms);
    EXPECT_TRUE(service.posted().isEmpty());
}
