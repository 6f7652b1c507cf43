#include "app/ToastContainer.h"
#include "app/ToastManager.h"
#include "app/ToastNotification.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QWidget>

#include <gtest/gtest.h>

#include <limits>

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

    ToastManager::shared().show("Ссылка скопирована", "link", ToastType::success, 1.5);
    ASSERT_TRUE(container->currentNotification());
    EXPECT_EQ(container->currentNotification()->message(), "Ссылка скопирована");
    EXPECT_TRUE(other.findChildren<ToastNotification*>().isEmpty());
    // Top-right corner, inset by 16 points, once it has slid in (slowly on a loaded machine).
    test::waitUntil([&] { return container->currentNotification() && container->currentNotification()->y() == 16; }, 1200ms);
    ASSERT_TRUE(container->currentNotification());
    const QRect r = container->currentNotification()->geometry();
    EXPECT_EQ(r.right(), 600 - 16 - 1);
    EXPECT_EQ(r.top(), 16);
    ASSERT_TRUE(test::waitUntil([&] { return !container->currentNotification(); }, 4s));
}

TEST(ToastContainer, CapsulesComeInFromTheTopEdgeAndLeaveTheSameWay)
{
    QWidget host;
    host.resize(600, 400);
    ToastContainer* container = ToastContainer::install(&host);
    host.show();
    auto& toasts = ToastManager::shared();

    toasts.show("Ссылка скопирована", "link", ToastType::success, 2.0);
    QPointer<ToastNotification> first = container->currentNotification();
    ASSERT_TRUE(first);
    // Starts above the top edge, transparent.
    EXPECT_LT(first->y(), ToastContainer::inset);
    EXPECT_LT(first->opacity(), 0.5);
    ASSERT_TRUE(test::waitUntil([&] { return first->opacity() == 1.0; }, 1s));
    EXPECT_EQ(first->y(), ToastContainer::inset);

    // The same text again is a new capsule that comes in again; the old one leaves upwards.
    toasts.show("Ссылка скопирована", "link", ToastType::success, 2.0);
    QPointer<ToastNotification> second = container->currentNotification();
    ASSERT_TRUE(second);
    EXPECT_NE(second.data(), first.data());
    EXPECT_LT(second->opacity(), 0.5);
    ASSERT_TRUE(first); // still on its way out
    test::spin(100ms);
    if (first) {
        EXPECT_LT(first->y(), ToastContainer::inset);
        EXPECT_LT(first->opacity(), 1.0);
    }
    EXPECT_TRUE(test::waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return first.isNull();
    }, 1s));
    EXPECT_EQ(container->findChildren<ToastNotification*>().size(), 1);
    EXPECT_EQ(second->icon(), "link");
    EXPECT_EQ(second->type(), ToastType::success);
    toasts.show("x", "link", ToastType::info, 0);
    ASSERT_TRUE(test::waitUntil([&] { return !toasts.currentToast(); }, 1s));
}

TEST(ToastContainer, TheCapsuleCastsItsShadowBelowIt)
{
    QWidget host;
    host.resize(600, 200);
    host.setStyleSheet("background: white;");
    ToastContainer* container = ToastContainer::install(&host);
    host.show();
    ToastManager::shared().show("Dropbox пока не поддерживается", "exclamationmark.triangle", ToastType::warning, 2.0);
    ASSERT_TRUE(test::waitUntil([&] { return container->currentNotification()->opacity() == 1.0; }, 1s));
    test::spin(50ms);
    const QImage shot = host.grab().toImage();
    const QRect capsule = container->currentNotification()->geometry();
    const int x = capsule.center().x();
    const QColor inside = shot.pixelColor(capsule.left() + 8, capsule.center().y()); // left of the symbol
    const QColor below = shot.pixelColor(x, capsule.bottom() + 4);
    const QColor above = shot.pixelColor(x, capsule.top() - 3);
    const QColor far = shot.pixelColor(x, capsule.bottom() + 40);
    EXPECT_LT(inside.lightness(), 80); // the dark capsule
    EXPECT_LT(below.lightness(), far.lightness()); // shadow, offset downwards
    EXPECT_GT(below.lightness(), 180);             // and faint
    EXPECT_LE(below.lightness(), above.lightness());
    ToastManager::shared().show("x", "link", ToastType::info, 0);
    ASSERT_TRUE(test::waitUntil([] { return !ToastManager::shared().currentToast(); }, 1s));
}

TEST(ToastManager, DurationsOutsideATimersRangeAreClamped)
{
    auto& toasts = ToastManager::shared();
    toasts.show("forever", "link", ToastType::info, std::numeric_limits<double>::infinity());
    EXPECT_GT(toasts.remainingMilliseconds(), 1'000'000'000);
    toasts.show("long", "link", ToastType::info, 1e12);
    EXPECT_GT(toasts.remainingMilliseconds(), 1'000'000'000);
    toasts.show("negative", "link", ToastType::info, -5);
    ASSERT_TRUE(test::waitUntil([&] { return !toasts.currentToast(); }, 1s));
    toasts.show("nan", "link", ToastType::info, std::numeric_limits<double>::quiet_NaN());
    ASSERT_TRUE(test::waitUntil([&] { return !toasts.currentToast(); }, 1s));
}
