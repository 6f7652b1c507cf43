#include "platform/NotificationCenter.h"

#include "support/TestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using platform::Notification;
using platform::NotificationCenter;

TEST(NotificationCenter, DeliversByNameUntilRemoved)
{
    NotificationCenter center;
    QObject context;
    QStringList seen;
    const auto token = center.addObserver("a", &context, [&](const Notification& n) {
        seen << n.name + ":" + n.userInfo.value("id").toString();
    });
    center.addObserver("b", &context, [&](const Notification& n) { seen << n.name; });
    center.post("a", {{"id", "kestrova"}});
    center.post("c");
    center.removeObserver(token);
    center.post("a");
    center.post("b");
    EXPECT_EQ(seen, (QStringList{"a:kestrova", "b"}));
}

TEST(NotificationCenter, ObserverOfADestroyedContextIsNeverCalled)
{
    NotificationCenter center;
    int calls = 0;
    auto context = std::make_unique<QObject>();
    center.addObserver("a", context.get(), [&](const Notification&) { ++calls; });
    context.reset();
    center.post("a");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(center.observerCount("a"), 0);
}

TEST(NotificationCenter, ObserverRemovedByAnEarlierObserverOfTheSamePostIsSkipped)
{
    NotificationCenter center;
    QObject context;
    int second = 0;
    NotificationCenter::Token secondToken = 0;
    center.addObserver("a", &context, [&](const Notification&) { center.removeObserver(secondToken); });
    secondToken = center.addObserver("a", &context, [&](const Notification&) { ++second; });
    center.post("a");
    EXPECT_EQ(second, 0);
}

TEST(NotificationCenter, PostFromAnotherThreadArrivesOnTheGuiThread)
{
    NotificationCenter center;
    QObject context;
    QThread* deliveredOn = nullptr;
    center.addObserver("a", &context, [&](const Notification&) { deliveredOn = QThread::currentThread(); });
    std::thread poster([&] { center.post("a"); });
    poster.join();
    EXPECT_EQ(deliveredOn, nullptr); // queued, not run on the poster
    ASSERT_TRUE(test::waitUntil([&] { return deliveredOn != nullptr; }, std::chrono::seconds(2)));
    EXPECT_EQ(deliveredOn, QThread::currentThread());
}
