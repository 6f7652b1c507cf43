// The recording's floating windows on the test X server, with the settings window open, without a
// window manager and under a real one (openbox): the controls window and the frame stay above the
// settings window, also after it is brought forward again, and the stop button takes the click;
// the selection veil stays above it too.
#include "shell/AppDelegate.h"
#include "shell/RecordingFlowFakes.h"
#include "shell/SettingsWindowController.h"
#include "cloud/APIClient.h"
#include "recording/RecordingControlsView.h"
#include "recording/RecordingControlsWindow.h"
#include "recording/RecordingFrameWindow.h"
#include "recording/ScreenRecordingSelectionWindow.h"
#include "support/OpenboxSession.h"

#include <QApplication>
#include <QWindow>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

template <typename Window>
Window* shown()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<Window*>(widget); window && window->isVisible())
            return window;
    return nullptr;
}

void controlsAndFrameStayAboveTheSettingsWindow()
{
    test::XDisplayFacts x;
    ASSERT_TRUE(x.isValid());

    APIClient::setSharedServiceRootForTesting(QStringLiteral("http://127.0.0.1:1"));
    flowtest::FakeFlow fake;
    // The recorder stands in; the windows are the real ones. Its file never comes.
    fake.configureRecorder = [](flowtest::RecorderRecord& record) { record.holdFinish = true; };
    RecordingFlowFactories factories;
    factories.recorder = fake.factories().recorder;
    factories.alerts = fake.alerts;
    AppDelegate delegate;
    delegate.setRecordingFlowFactories(factories);

    SettingsWindowController settings(&delegate.appState());
    settings.showSettings();
    QWidget* settingsWindow = settings.window();
    ASSERT_TRUE(settingsWindow);
    ASSERT_TRUE(test::waitUntil([&] { return settingsWindow->windowHandle() && settingsWindow->windowHandle()->isExposed(); }, 10s));
    ASSERT_TRUE(test::waitUntil([&] { return QApplication::activeWindow() == settingsWindow; }, 5s));

    // The selection veil over the whole screen stays above the settings window brought forward.
    {
        auto selection = std::make_unique<ScreenRecordingSelectionWindow>();
        test::spin(300ms);
        settings.showSettings();
        test::spin(800ms);
        EXPECT_GT(x.stackingIndex(selection.get()), x.stackingIndex(settingsWindow)) << "the selection is under the settings window";
    }
    test::spin(300ms);

    // Beside the settings window, which openbox centres: the two overlap only a little.
    delegate.startRecordingInRect(QRectF(100, 100, 600, 400), RecordingSettings{});
    RecordingControlsWindow* controls = nullptr;
    RecordingFrameWindow* frame = nullptr;
    ASSERT_TRUE(test::waitUntil([&] { return (controls = shown<RecordingControlsWindow>()) && (frame = shown<RecordingFrameWindow>()); }, 5s));
    test::spin(800ms);

    auto above = [&](const char* when) {
        const int under = x.stackingIndex(settingsWindow);
        EXPECT_GE(under, 0) << when;
        EXPECT_GT(x.stackingIndex(controls), under) << when << ": the controls window is under the settings window";
        EXPECT_GT(x.stackingIndex(frame), under) << when << ": the frame is under the settings window";
    };
    above("after the start");

    // The user brings the settings window forward: by the tray menu, and by a click into it.
    settings.showSettings();
    test::spin(800ms);
    above("after showSettings");
    const QPoint inside = settingsWindow->mapToGlobal(QPoint(settingsWindow->width() - 20, settingsWindow->height() - 20));
    ASSERT_TRUE(test::xdotool({"mousemove", QString::number(inside.x()), QString::number(inside.y()), "click", "1"}));
    test::spin(800ms);
    above("after a click into the settings window");

    // The stop button takes the click where it is seen.
    QToolButton* stop = controls->controlsView()->stopButton();
    const QPoint button = stop->mapToGlobal(stop->rect().center());
    ASSERT_TRUE(test::xdotool({"mousemove", QString::number(button.x()), QString::number(button.y()), "click", "1"}));
    ASSERT_FALSE(fake.recorders.empty());
    EXPECT_TRUE(test::waitUntil([&] { return fake.recorders.back()->stops == 1; }, 5s));
}

} // namespace

TEST(RecordingWindowsStackingX11, WithoutAWindowManager)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    controlsAndFrameStayAboveTheSettingsWindow();
    // The recording's windows go with the next turn of the event loop: not into the next test.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(RecordingWindowsStackingX11, UnderOpenbox)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::OpenboxSession wm;
    if (!wm.isRunning())
        GTEST_SKIP() << "needs openbox";
    controlsAndFrameStayAboveTheSettingsWindow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
