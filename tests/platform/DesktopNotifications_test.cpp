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
    using Replies = test::FakeNotificationService::Replies;
    const struct {
        const char* name;
        Replies replies;
        QStringList calls; // what reaches the server
    } cases[] = {
        // The notification goes out; its answer is of no use and is not waited for.
        {"no answer to the notification", Replies::capabilitiesOnly, {"GetCapabilities", "Notify"}},
        // Without the capabilities the body cannot be made safe: nothing more is sent.
        {"no answer at all", Replies::none, {"GetCapabilities"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakeNotificationService service(false, 120s, c.replies);
        ASSERT_TRUE(service.owned());
        QElapsedTimer timer;
        timer.start();
        platform::DesktopNotifications::post("title", "body");
        EXPECT_LT(timer.elapsed(), 100) << "the caller waited for the server";

        // The event loop goes on turning while the server sits on its calls: a call made from it
        // that waited for its answer would hold it for seconds.
        timer.restart();
        EXPECT_TRUE(test::waitUntil([&] { return service.calls() == c.calls; }, 3s)) << service.calls().join(',').toStdString();
        test::spin(300ms);
        EXPECT_LT(timer.elapsed(), 2000) << "an event of the call waited for the server";
        EXPECT_EQ(service.calls(), c.calls);
        const QList<test::PostedNotification> posted = service.posted();
        ASSERT_EQ(posted.size(), c.calls.contains("Notify") ? 1 : 0);
        if (!posted.isEmpty()) {
            EXPECT_EQ(posted[0].summary, "title");
            EXPECT_EQ(posted[0].body, "body");
        }
    }
}
