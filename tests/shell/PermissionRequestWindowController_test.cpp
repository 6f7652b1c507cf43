// The screen-access permission window on the offscreen platform, with a fake access probe.
#include "shell/PermissionRequestWindowController.h"

#include "app/Localization.h"
#include "shell/PermissionRequestView.h"
#include "app/PermissionsManager.h"
#include "platform/Application.h"
#include "platform/ScreenAccess.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class PermissionWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::ScreenAccess::setProbeForTesting([this] {
            ++probes;
            return granted;
        });
        PermissionRequestWindowController::setPrivacySettingsOpenerForTesting([this] { opened.append(clock.elapsed()); });
        platform::Application::shared().setActivationPolicy(platform::ActivationPolicy::accessory);
        clock.start();
        controller = std::make_unique<PermissionRequestWindowController>(manager, [this] {
            ++completions;
            platform::Application::shared().setActivationPolicy(platform::ActivationPolicy::accessory);
        });
    }
    void TearDown() override
    {
        controller.reset();
        platform::ScreenAccess::setProbeForTesting({});
        PermissionRequestWindowController::setPrivacySettingsOpenerForTesting({});
        L::setLanguageForTesting(AppLanguage::en);
    }
    PermissionRequestView* view() const { return controller->window()->findChild<PermissionRequestView*>(); }
    QLabel* label(const char* name) const { return controller->window()->findChild<QLabel*>(name); }
    static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    bool granted = false;
    int probes = 0;
    int completions = 0;
    QList<qint64> opened;
    QElapsedTimer clock;
    PermissionsManager manager;
    std::unique_ptr<PermissionRequestWindowController> controller;
};

} // namespace

TEST_F(PermissionWindow, AccessGrantedWhileShowingFinishesAtTheNextPoll)
{
    controller->show();
    QPointer<QWidget> window = controller->window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    // 480 by 380, taller only where the desktop's fonts need it.
    EXPECT_EQ(window->width(), 480);
    EXPECT_GE(window->height(), 380);
    EXPECT_LE(window->height(), 480);
    EXPECT_EQ(window->minimumSize(), window->maximumSize()); // not resizable
    EXPECT_EQ(platform::Application::shared().activationPolicy(), platform::ActivationPolicy::regular);
    EXPECT_TRUE(controller->isPolling());
    controller->show(); // again: the same window
    EXPECT_EQ(controller->window(), window.data());
    test::spin(1100ms);
    EXPECT_GE(probes, 1); // polled, not granted: nothing happens
    EXPECT_EQ(completions, 0);

    granted = true;
    const qint64 flipped = clock.elapsed();
    // Within one poll interval (1.0 s), with room for a loaded machine.
    ASSERT_TRUE(test::waitUntil([&] { return completions > 0; }, 1600ms)) << clock.elapsed() - flipped;
    EXPECT_TRUE(manager.screenRecordingPermissionGranted());
    EXPECT_EQ(controller->window(), nullptr);
    EXPECT_FALSE(controller->isPolling());
    EXPECT_EQ(platform::Application::shared().activationPolicy(), platform::ActivationPolicy::accessory);
    flushDeletes();
    EXPECT_TRUE(window.isNull());
    test::spin(1200ms);
    EXPECT_EQ(completions, 1);
}

TEST_F(PermissionWindow, ContinuingWithoutAccessClosesAtOnceAndLeavesTheFlag)
{
    controller->show();
    QTest::mouseClick(view()->skipButton(), Qt::LeftButton);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(controller->window(), nullptr);
    EXPECT_FALSE(controller->isPolling());
    EXPECT_FALSE(manager.screenRecordingPermissionGranted());
    granted = true;
    test::spin(1300ms);
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(manager.screenRecordingPermissionGranted());
}

TEST_F(PermissionWindow, TheTitleBarCloseOnlyHidesItAndThePollGoesOn)
{
    controller->show();
    QWidget* window = controller->window();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(controller->window(), window); // kept
    EXPECT_TRUE(controller->isPolling());
    test::spin(1200ms);
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(platform::Application::shared().activationPolicy(), platform::ActivationPolicy::regular);

    granted = true;
    ASSERT_TRUE(test::waitUntil([&] { return completions > 0; }, 2s));
    EXPECT_EQ(controller->window(), nullptr);
    EXPECT_TRUE(manager.screenRecordingPermissionGranted());
    EXPECT_EQ(platform::Application::shared().activationPolicy(), platform::ActivationPolicy::accessory);

    // close() keeps no record: calling it again runs the completion again, with nothing to close.
    controller->close();
    EXPECT_EQ(completions, 2);
}

TEST_F(PermissionWindow, TheMainButtonAsksAndOpensTheSettingsEachTimeWithoutStoppingThePoll)
{
    controller->show();
    const int before = probes;
    const qint64 first = clock.elapsed();
    QTest::mouseClick(view()->requestButton(), Qt::LeftButton);
    EXPECT_GT(probes, before); // asked at once
    EXPECT_TRUE(opened.isEmpty());
    const qint64 second = clock.elapsed();
    QTest::mouseClick(view()->requestButton(), Qt::LeftButton);
    ASSERT_TRUE(test::waitUntil([&] { return opened.size() == 2; }, 2s));
    EXPECT_GE(opened[0] - first, PermissionRequestWindowController::openSettingsDelayMilliseconds - 10);
    EXPECT_GE(opened[1] - second, PermissionRequestWindowController::openSettingsDelayMilliseconds - 10);
    EXPECT_TRUE(controller->isPolling());
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_EQ(completions, 0);
}

TEST_F(PermissionWindow, TheGrantedRowFollowsTheManagersFlag)
{
    controller->show();
    QWidget* row = controller->window()->findChild<QWidget*>("grantedRow");
    ASSERT_TRUE(row && label("hint"));
    EXPECT_FALSE(row->isVisible());
    EXPECT_TRUE(label("hint")->isVisible());
    manager.setScreenRecordingPermissionGranted(true); // a capture's request found access
    EXPECT_TRUE(row->isVisible());
    EXPECT_FALSE(label("hint")->isVisible());
    test::spin(1200ms);
    EXPECT_TRUE(controller->window()->isVisible()); // only the poll closes it
    manager.setScreenRecordingPermissionGranted(false);
    EXPECT_FALSE(row->isVisible());
    EXPECT_TRUE(label("hint")->isVisible());
}

TEST_F(PermissionWindow, EveryTextInTheInterfaceLanguage)
{
    struct Texts {
        AppLanguage language;
        QString title, heading, explanation, hint, granted, request, skip;
    };
    const Texts cases[] = {
        {AppLanguage::ru, "Требуется разрешение", "Разрешение на запись экрана",
         "Kestrova требуется разрешение на запись экрана для создания скриншотов и записи видео.\n\nНажмите кнопку ниже, "
         "чтобы открыть Системные настройки и добавить Kestrova в список разрешённых приложений.",
         "После добавления Kestrova в список, вернитесь в это окно.", "Разрешение получено", "Открыть Системные настройки",
         "Продолжить без разрешения"},
        {AppLanguage::en, "Permission Required", "Screen Recording Permission",
         "Kestrova needs Screen Recording permission to capture screenshots and record video.\n\nClick the button below to "
         "open System Settings and add Kestrova to the allowed applications.",
         "After adding Kestrova to the list, return to this window.", "Permission Granted", "Open System Settings",
         "Continue Without Permission"},
    };
    for (const Texts& t : cases) {
        SCOPED_TRACE(AppLanguages::rawValue(t.language).toStdString());
        L::setLanguageForTesting(t.language);
        PermissionRequestWindowController window(manager, [] {});
        window.show();
        QWidget* w = window.window();
        EXPECT_EQ(w->windowTitle(), t.title);
        EXPECT_EQ(w->findChild<QLabel*>("heading")->text(), t.heading);
        EXPECT_EQ(w->findChild<QLabel*>("explanation")->text(), t.explanation);
        EXPECT_EQ(w->findChild<QLabel*>("hint")->text(), t.hint);
        QStringList labels;
        for (const QLabel* l : w->findChild<QWidget*>("grantedRow")->findChildren<QLabel*>())
            labels.append(l->text());
        EXPECT_TRUE(labels.contains(t.granted));
        const PermissionRequestView* v = w->findChild<PermissionRequestView*>();
        EXPECT_EQ(v->requestButton()->text(), t.request);
        EXPECT_EQ(v->skipButton()->text(), t.skip);
        window.close();
    }
}

TEST_F(PermissionWindow, ReleasingTheControllerTakesItsWindowAndStopsThePoll)
{
    controller->show();
    QPointer<QWidget> window = controller->window();
    controller.reset();
    EXPECT_TRUE(window.isNull());
    granted = true;
    test::spin(1200ms);
    EXPECT_EQ(completions, 0);
    EXPECT_FALSE(manager.screenRecordingPermissionGranted());
}

TEST_F(PermissionWindow, UnderWaylandItSaysWhyAndItsButtonCloses)
{
    // The probe's answer in an XWayland client of a Wayland session.
    platform::ScreenAccess::setAnswerProbeForTesting([this]() -> platform::ScreenAccess::Answer {
        ++probes;
        return {platform::ScreenAccess::Obstacle::waylandSession, "this is a Wayland session, where X clients cannot read the screen"};
    });
    struct Texts {
        AppLanguage language;
        QString explanation, button;
    };
    const Texts cases[] = {
        {AppLanguage::ru,
         "Kestrova не может снимать экран в этом сеансе: в сеансе Wayland программы X11 не видят экран.\n\nДля скриншотов и "
         "записи видео выберите сеанс X11 (Xorg) на экране входа и запустите Kestrova снова.",
         "Закрыть"},
        {AppLanguage::en,
         "Kestrova cannot capture the screen in this session: in a Wayland session X11 programs cannot see the screen.\n\nFor "
         "screenshots and video recording, choose an X11 (Xorg) session on the login screen and start Kestrova again.",
         "Close"},
    };
    for (const Texts& t : cases) {
        SCOPED_TRACE(AppLanguages::rawValue(t.language).toStdString());
        L::setLanguageForTesting(t.language);
        completions = 0;
        controller = std::make_unique<PermissionRequestWindowController>(manager, [this] { ++completions; });
        controller->show();
        QWidget* w = controller->window();
        ASSERT_TRUE(w);
        EXPECT_EQ(label("explanation")->text(), t.explanation);
        // Nothing to come back from, nothing to open, nothing else to choose.
        EXPECT_FALSE(label("hint")->isVisible());
        EXPECT_FALSE(view()->skipButton()->isVisible());
        EXPECT_EQ(view()->requestButton()->text(), t.button);
        EXPECT_TRUE(view()->requestButton()->icon().isNull());
        EXPECT_EQ(w->width(), 480);
        QTest::mouseClick(view()->requestButton(), Qt::LeftButton);
        EXPECT_EQ(completions, 1);
        EXPECT_EQ(controller->window(), nullptr);
        EXPECT_FALSE(controller->isPolling());
        test::spin(std::chrono::milliseconds(PermissionRequestWindowController::openSettingsDelayMilliseconds + 100));
        EXPECT_TRUE(opened.isEmpty()); // no settings page pretended
    }
}
