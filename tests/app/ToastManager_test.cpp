#include "app/ToastContainer.h"
#include "app/ToastManager.h"
#include "app/ToastNotification.h"

#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QWidget>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(ToastManager, ANewToastReplacesTheCurrentOneAndGetsItsFullDuration)
{
    auto& toasts = ToastManager::shared();
    QElapsedTimer clock;
    clock.start();
    toasts.show("first", "link", ToastType::success, 1.0);
    const QUuid firstId = toasts.currentToast()->id;
    test::spin(400ms);
    toasts.show("second", "exclamationmark.triangle", ToastType::warning, 1.0);
    const qint64 secondShownAt = clock.elapsed();
    ASSERT_TRUE(toasts.currentToast());
    EXPECT_EQ(toasts.currentToast()->message, "second");
    EXPECT_NE(toasts.currentToast()->id, firstId);

    // The first toast's removal was cancelled: the second gets its full time.
    EXPECT_GT(toasts.remainingMilliseconds(), 900);
    ASSERT_TRUE(test::waitUntil([&] { return !toasts.currentToast(); }, 3s));
    EXPECT_GE(clock.elapsed() - secondShownAt, 990);
}

TEST(ToastManager, TheSameMessageTwiceIsANewToast)
{
    auto& toasts = ToastManager::shared();
    int changes = 0;
    QObject context;
    QObject::connect(&toasts, &ToastManager::currentToastChanged, &context, [&] { ++changes; });
    toasts.show("Ссылка скопирована", "link", ToastType::success, 0.8);
    const QUuid first = toasts.currentToast()->id;
    toasts.show("Ссылка скопирована", "link", ToastType::success, 0.8);
    EXPECT_EQ(changes, 2);
    EXPECT_NE(toasts.currentToast()->id, first);
}

TEST(ToastContainer, OnlyWindowsThatInstallItShowToasts)
{
    QWidget host;
    host.resize(600, 400);
    QWidget other;
    other.resize(600, 400);
    ToastContainer* container = ToastContainer::install(&host);
    host.show();
    other.show();

    ToastManager::shared().show("Ссылка скопирована", "link", ToastType::success, 0.5);
    ASSERT_TRUE(container->currentNotification());
    EXPECT_EQ(container->currentNotification()->message(), "Ссылка скопирована");
    EXPECT_TRUE(other.findChildren<ToastNotification*>().isEmpty());
    test::spin(250ms);
    // Top-right corner, inset by 16 points.
    const QRect r = container->currentNotification()->geometry();
    EXPECT_EQ(r.right(), 600 - 16 - 1);
    EXPECT_EQ(r.top(), 16);
    ASSERT_TRUE(test::waitUntil([&] { return !container->currentNotification(); }, 2s));
}
