// The recording flow of the application delegate as a table of request sequences, driven with
// stand-in windows, recorders and alerts (RecordingFlowFakes.h).
#include "shell/AppDelegate.h"

#include "app/DebugLogger.h"
#include "shell/RecordingFlowFakes.h"
#include "cloud/APIClient.h"
#include "platform/Application.h"
#include "platform/ScreenAccess.h"
#include "support/DebugLogText.h"
#include "support/TestSupport.h"
#include "video/VideoPreviewWindow.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cerrno>

using namespace std::chrono_literals;
using flowtest::FakeFlow;
using platform::AppError;

namespace {

const QRectF kArea(200, 200, 800, 600);

class Flow {
public:
    Flow()
    {
        DebugLogger::shared().flush();
        m_logStart = logText().size();
        // The video preview asks the cloud account; its client talks to a dead local port.
        APIClient::setSharedServiceRootForTesting(QStringLiteral("http://127.0.0.1:1"));
        delegate = std::make_unique<AppDelegate>();
        delegate->setRecordingFlowFactories(fake.factories());
    }
    ~Flow() { delegate.reset(); }

    static QString logText() { return test::debugLogText(); }
    // "function: message" for every line since the flow was made.
    QStringList messages() const { return test::debugLogMessages(m_logStart); }
    bool logged(const QString& message) const
    {
        const QStringList all = messages();
        return std::any_of(all.begin(), all.end(), [&](const QString& m) { return m.endsWith(message); });
    }

    // Lets the queued hops of the flow and the stand-ins run.
    static void settle() { test::spin(30ms); }

    void hotKey() { delegate->startScreenRecording(); }
    void select(std::optional<QRectF> area = kArea)
    {
        auto window = fake.last("selection");
        ASSERT_TRUE(window && window->delegate);
        // As the window does: hidden, then the report.
        window->visible = false;
        window->delegate->screenRecordingSelectionDidFinish(area);
    }
    void pressStart(const RecordingSettings& settings = {})
    {
        auto setup = fake.last("setup");
        ASSERT_TRUE(setup && setup->onStart);
        setup->onStart(settings);
        settle();
    }
    void pressCancel()
    {
        auto setup = fake.last("setup");
        ASSERT_TRUE(setup && setup->onCancel);
        setup->onCancel();
    }
    void record(const RecordingSettings& settings = {})
    {
        hotKey();
        select();
        pressStart(settings);
    }
    void pressStop()
    {
        auto controls = fake.last("controls");
        ASSERT_TRUE(controls && controls->onStop);
        controls->onStop();
    }
    QStringList alertTitles() const
    {
        QStringList titles;
        for (const auto& alert : fake.alerts->shown)
            titles.append(alert.messageText);
        return titles;
    }

    FakeFlow fake;
    std::unique_ptr<AppDelegate> delegate;

private:
    qsizetype m_logStart = 0;
};

struct FlowCase {
    const char* name;
    bool screenAccess = true;
    std::function<void(Flow&)> configure; // before the steps: how the recorders answer
    std::function<void(Flow&)> steps;
    QStringList alerts;        // message texts of the alerts shown, in order
    QStringList logged;        // lines that must appear (line ends)
    std::function<void(Flow&)> check;
};

void PrintTo(const FlowCase& c, std::ostream* os)
{
    *os << c.name;
}

const QString kLogPathLine = QStringLiteral("\n\nЛог: ");

const FlowCase kCases[] = {
    {
        // The disk fills mid-recording: the frame and the controls go at once, the stop files
        // what was written, and the alert says why and where it is.
        "AWriteFailureStopsAtOnceAndTheAlertNamesTheCause",
        true,
        [](Flow& f) {
            f.fake.configureRecorder = [](flowtest::RecorderRecord& r) {
                r.finishedPath.reset();
                r.finishError = ScreenRecorder::writeFailure(AppError{"Mp4Writer", -ENOSPC, "No space left on device"},
                                                             QStringLiteral("/tmp/ScreenRecord_full.mp4"));
                r.holdFinish = true;
            };
        },
        [](Flow& f) {
            f.record();
            auto recorder = f.fake.recorders.back();
            ASSERT_TRUE(recorder->writeFailureHandler);
            recorder->writeFailureHandler();
            EXPECT_EQ(recorder->stops, 1);
            EXPECT_FALSE(f.fake.last("frame")->visible);
            EXPECT_FALSE(f.fake.last("controls")->visible);
            recorder->finish();
            Flow::settle();
        },
        {"Ошибка записи"},
        {"AppDelegate: Writing the recording failed, stopping", "AppDelegate: Recording failed"},
        [](Flow& f) {
            ASSERT_EQ(f.fake.alerts->shown.size(), 1u);
            const QString text = f.fake.alerts->shown[0].informativeText;
            EXPECT_TRUE(text.startsWith("Запись остановлена: на диске закончилось место.\n")) << text.toStdString();
            EXPECT_TRUE(text.contains("/tmp/ScreenRecord_full.mp4")) << text.toStdString();
            EXPECT_GE(f.fake.last("frame")->closed, 1);
            EXPECT_GE(f.fake.last("controls")->closed, 1);
            EXPECT_EQ(f.fake.count("controls"), 1);
        },
    },
    {
        "HotKeyWhileRecordingIsRefused",
        true,
        {},
        [](Flow& f) {
            f.record();
            f.hotKey();
        },
        {"Запись уже выполняется"},
        {"startScreenRecording: Recording already in progress, ignoring request"},
        [](Flow& f) {
            const auto& alert = f.fake.alerts->shown.front();
            EXPECT_EQ(alert.informativeText, "Дождитесь завершения текущей записи перед началом новой.");
            EXPECT_EQ(alert.buttons, QStringList{"OK"});
            EXPECT_EQ(f.fake.count("selection"), 1);
            EXPECT_TRUE(f.fake.last("frame")->visible);
            EXPECT_TRUE(f.fake.last("controls")->visible);
            EXPECT_TRUE(f.fake.recorders.front()->recording);
        },
    },
    {
        "HotKeyWhileTheFileIsFinishingIsRefused",
        true,
        [](Flow& f) { f.fake.configureRecorder = [](flowtest::RecorderRecord& r) { r.holdFinish = true; }; },
        [](Flow& f) {
            f.record();
            f.pressStop();
            f.hotKey();
        },
        {"Обработка видео"},
        {"startScreenRecording: Video processing in progress, ignoring request"},
        [](Flow& f) {
            EXPECT_EQ(f.fake.alerts->shown.front().informativeText,
                      "Дождитесь завершения обработки видео перед началом новой записи.");
            EXPECT_TRUE(f.delegate->isProcessingVideo());
            EXPECT_EQ(f.fake.count("selection"), 1);
        },
    },
    {
        "DeniedPermissionShowsNothing",
        false,
        {},
        [](Flow& f) {
            f.hotKey();
            test::waitUntil([&] { return f.logged("Permission denied, system will show permission dialog"); }, 2s);
        },
        {},
        {"startScreenRecording: Screen recording permission denied, requesting permission",
         "startScreenRecording: Permission request result: false",
         "showPermissionError: AppDelegate: Permission denied, system will show permission dialog"},
        [](Flow& f) { EXPECT_EQ(f.fake.count("selection"), 0); },
    },
    {
        "HotKeyWithAPreviewOpenClosesItBeforeTheDeniedPermission",
        true,
        {},
        [](Flow& f) {
            f.record();
            f.pressStop();
            f.settle();
            ASSERT_NE(f.delegate->videoPreviewWindow(), nullptr);
            platform::ScreenAccess::setProbeForTesting([] { return false; });
            f.hotKey();
            test::waitUntil([&] { return f.logged("Permission denied, system will show permission dialog"); }, 2s);
        },
        {},
        {"startScreenRecording: Closing previous video preview window before new recording",
         "startScreenRecording: Screen recording permission denied, requesting permission",
         "startScreenRecording: Permission request result: false"},
        [](Flow& f) {
            EXPECT_EQ(f.delegate->videoPreviewWindow(), nullptr);
            EXPECT_EQ(f.fake.count("selection"), 1); // only the first recording's
        },
    },
    {
        "CancelledSelectionEndsTheRequest",
        true,
        {},
        [](Flow& f) {
            f.hotKey();
            f.select(std::nullopt);
        },
        {},
        {"screenRecordingSelectionDidFinish: AppDelegate: screenRecordingSelectionDidFinish called with rect: nil",
         "screenRecordingSelectionDidFinish: Screen recording cancelled by user or invalid selection"},
        [](Flow& f) {
            EXPECT_TRUE(f.fake.last("selection")->released);
            EXPECT_EQ(f.fake.count("setup"), 0);
            EXPECT_EQ(f.delegate->recordingSelectionWindow(), nullptr);
        },
    },
    {
        "CancelledSetupClosesThePanel",
        true,
        {},
        [](Flow& f) {
            f.hotKey();
            f.select();
            f.pressCancel();
        },
        {},
        {"showRecordingSetupWindow: AppDelegate: onCancel closure called", "cancelRecording: AppDelegate: Setup window closed",
         "cancelRecording: AppDelegate: Cancel recording complete"},
        [](Flow& f) {
            const auto setup = f.fake.last("setup");
            EXPECT_EQ(setup->area, kArea);
            EXPECT_EQ(setup->shown, 1);
            EXPECT_EQ(setup->closed, 1);
            EXPECT_TRUE(setup->released);
            EXPECT_TRUE(f.fake.recorders.empty());
        },
    },
    {
        "StartFailureWithoutAnErrorSaysUnknownError",
        true,
        [](Flow& f) { f.fake.configureRecorder = [](flowtest::RecorderRecord& r) { r.startSucceeds = false; }; },
        [](Flow& f) { f.record(RecordingSettings{false, false, true}); },
        {"Ошибка записи"},
        {"startRecordingInRect: AppDelegate: startRecording completion - success: false, error: nil",
         "startRecordingInRect: AppDelegate: Failed to start recording",
         "showRecordingError: ERROR: Ошибка записи: Неизвестная ошибка"},
        [](Flow& f) {
            EXPECT_EQ(f.fake.alerts->shown.front().informativeText,
                      "Неизвестная ошибка" + kLogPathLine + DebugLogger::shared().logFilePath());
            EXPECT_EQ(f.fake.alerts->shown.front().buttons, (QStringList{"OK", "Скопировать"}));
            // The click overlay goes; no frame or controls come; the failed recorder blocks nothing.
            const auto clicks = f.fake.last("clicks");
            ASSERT_TRUE(clicks);
            EXPECT_EQ(clicks->closed, 1);
            EXPECT_TRUE(clicks->released);
            EXPECT_EQ(f.fake.count("frame"), 0);
            EXPECT_EQ(f.fake.count("controls"), 0);
            EXPECT_NE(f.delegate->screenRecorder(), nullptr);
            f.hotKey();
            EXPECT_EQ(f.fake.count("selection"), 2);
        },
    },
    {
        "StartFailureShowsTheRecordersText",
        true,
        [](Flow& f) {
            f.fake.configureRecorder = [](flowtest::RecorderRecord& r) {
                r.startSucceeds = false;
                r.startError = AppError{"FileSystem", 13, "Permission denied"};
            };
        },
        [](Flow& f) { f.record(); },
        {"Ошибка записи"},
        {"startRecordingInRect: AppDelegate: startRecording completion - success: false, error: "
         "Optional(Error Domain=FileSystem Code=13 \"Permission denied\")",
         "startRecordingInRect: ERROR: Permission denied"},
        [](Flow& f) {
            EXPECT_TRUE(f.fake.alerts->shown.front().informativeText.startsWith("Permission denied\n\nЛог: "));
            EXPECT_EQ(f.fake.count("clicks"), 0); // not chosen: never made
        },
    },
    {
        "TooShortAStopClosesEverythingWithTheAlert",
        true,
        [](Flow& f) { f.fake.configureRecorder = [](flowtest::RecorderRecord& r) { r.tooShort = true; }; },
        [](Flow& f) {
            f.record(RecordingSettings{true, false, true});
            f.pressStop();
            f.settle();
        },
        {"Ошибка записи"},
        {"handleRecordingCompletion: AppDelegate: Recording failed",
         "handleRecordingCompletion: ERROR: Запись слишком короткая",
         "showRecordingError: ERROR: Ошибка записи: Запись слишком короткая",
         "showRecordingError: AppDelegate: Showing recording error: Запись слишком короткая"},
        [](Flow& f) {
            EXPECT_EQ(f.fake.alerts->shown.front().informativeText,
                      "Запись слишком короткая" + kLogPathLine + DebugLogger::shared().logFilePath());
            for (const char* kind : {"frame", "controls", "clicks"}) {
                EXPECT_EQ(f.fake.last(kind)->closed, 1) << kind;
                EXPECT_TRUE(f.fake.last(kind)->released) << kind;
            }
            EXPECT_TRUE(f.fake.recorders.front()->released);
            EXPECT_FALSE(f.delegate->isProcessingVideo());
            EXPECT_FALSE(f.logged("AppDelegate: Creating VideoPreviewWindow"));
            EXPECT_EQ(f.delegate->videoPreviewWindow(), nullptr);
        },
    },
    {
        "FinishedRecordingIsHandedOnAndReleasedASecondLater",
        true,
        {},
        [](Flow& f) {
            f.record(RecordingSettings{false, false, true});
            // A recording outlasts the controls window's 0.1 s visibility check.
            test::spin(150ms);
            f.pressStop();
            f.settle();
        },
        {},
        {"stopRecording: AppDelegate: isProcessingVideo set to true",
         "stopRecording: AppDelegate: stopRecording completion called",
         "handleRecordingCompletion: AppDelegate: handleRecordingCompletion called - url: "
         "Optional(file:///tmp/ScreenRecord_test.mp4), error: nil",
         "handleRecordingCompletion: AppDelegate: Recording completed successfully: /tmp/ScreenRecord_test.mp4",
         "handleRecordingCompletion: AppDelegate: Creating VideoPreviewWindow",
         "VideoPreviewWindow: VideoPreviewWindow: init called with URL: /tmp/ScreenRecord_test.mp4",
         "handleRecordingCompletion: AppDelegate: Making VideoPreviewWindow key and front",
         "handleRecordingCompletion: AppDelegate: VideoPreviewWindow shown",
         "handleRecordingCompletion: AppDelegate: Hiding recording windows"},
        [](Flow& f) {
            ASSERT_NE(f.delegate->videoPreviewWindow(), nullptr);
            EXPECT_TRUE(f.delegate->videoPreviewWindow()->isVisible());
            EXPECT_EQ(f.delegate->currentRecordingArea(), kArea);
            EXPECT_EQ(f.fake.recorders.front()->area, kArea);
            EXPECT_EQ(f.fake.last("frame")->area, kArea);
            // Hidden at once, not closed; released a second later.
            for (const char* kind : {"frame", "controls", "clicks"}) {
                const auto w = f.fake.last(kind);
                EXPECT_FALSE(w->visible) << kind;
                EXPECT_EQ(w->closed, 0) << kind;
                EXPECT_FALSE(w->released) << kind;
            }
            EXPECT_FALSE(f.fake.recorders.front()->released);
            EXPECT_TRUE(test::waitUntil([&] { return f.fake.recorders.front()->released; }, 1500ms));
            for (const char* kind : {"frame", "controls", "clicks"})
                EXPECT_TRUE(f.fake.last(kind)->released) << kind;
            EXPECT_TRUE(f.logged("AppDelegate: Recording window cleanup complete"));
            EXPECT_EQ(platform::Application::shared().activationPolicy(), platform::ActivationPolicy::regular);
        },
    },
    {
        "TheDelayedReleaseLeavesARecordingStartedMeanwhile",
        true,
        {},
        [](Flow& f) {
            f.record(RecordingSettings{false, false, true});
            f.pressStop();
            f.settle();
            f.record(RecordingSettings{false, false, true}); // within the second
            test::spin(1200ms);
        },
        {},
        {"handleRecordingCompletion: AppDelegate: Recording window cleanup complete"},
        [](Flow& f) {
            ASSERT_EQ(f.fake.recorders.size(), 2u);
            EXPECT_TRUE(f.fake.recorders[0]->released);
            EXPECT_FALSE(f.fake.recorders[1]->released);
            EXPECT_TRUE(f.fake.recorders[1]->recording);
            for (const char* kind : {"frame", "controls", "clicks"}) {
                int n = 0;
                for (const auto& w : f.fake.windows) {
                    if (w->kind != kind)
                        continue;
                    EXPECT_EQ(w->released, ++n == 1) << kind << " " << n;
                }
                EXPECT_EQ(n, 2) << kind;
            }
            EXPECT_NE(f.delegate->recordingFrameWindow(), nullptr);
            EXPECT_NE(f.delegate->simpleControlsWindow(), nullptr);
            EXPECT_NE(f.delegate->clickIndicatorOverlay(), nullptr);
            EXPECT_TRUE(f.fake.last("frame")->visible);
            // The second recording still stops normally.
            // The hot key closed the first preview; the second stop opens a new one.
            EXPECT_TRUE(f.logged("startScreenRecording: Closing previous video preview window before new recording"));
            EXPECT_EQ(f.delegate->videoPreviewWindow(), nullptr);
            f.pressStop();
            f.settle();
            EXPECT_NE(f.delegate->videoPreviewWindow(), nullptr);
        },
    },
    {
        "ASecondStopPressIsIgnored",
        true,
        [](Flow& f) { f.fake.configureRecorder = [](flowtest::RecorderRecord& r) { r.holdFinish = true; }; },
        [](Flow& f) {
            f.record();
            f.pressStop();
            f.pressStop();
            f.settle();
            f.fake.recorders.front()->finish();
            f.settle();
        },
        {},
        {"stopRecording: AppDelegate: Stop already requested, ignoring",
         "handleRecordingCompletion: AppDelegate: VideoPreviewWindow shown"},
        [](Flow& f) {
            EXPECT_EQ(f.fake.recorders.front()->stops, 1);
            EXPECT_FALSE(f.logged("Ошибка записи"));
            EXPECT_FALSE(f.delegate->isProcessingVideo());
        },
    },
    {
        "AStopRefusedAsNotRecordingIsAFailure",
        true,
        {},
        [](Flow& f) {
            f.hotKey();
            f.select();
            f.fake.last("setup")->onStart({});
            // Before the recorder's first turn: it is not recording yet.
            f.delegate->stopRecording();
            f.settle();
        },
        {"Ошибка записи"},
        {"handleRecordingCompletion: AppDelegate: Recording failed"},
        [](Flow& f) {
            EXPECT_TRUE(f.fake.alerts->shown.front().informativeText.startsWith("Not recording\n\n"));
            EXPECT_EQ(f.delegate->screenRecorder(), nullptr);
            EXPECT_FALSE(f.delegate->isProcessingVideo());
        },
    },
    {
        "AStopAnswerWithNeitherFileNorErrorIsACancel",
        true,
        [](Flow& f) { f.fake.configureRecorder = [](flowtest::RecorderRecord& r) { r.finishedPath.reset(); }; },
        [](Flow& f) {
            f.record();
            f.pressStop();
            f.settle();
        },
        {},
        {"handleRecordingCompletion: AppDelegate: Recording cancelled"},
        [](Flow& f) {
            EXPECT_EQ(f.fake.last("frame")->closed, 1);
            EXPECT_EQ(f.fake.last("controls")->closed, 1);
            EXPECT_EQ(f.delegate->screenRecorder(), nullptr);
        },
    },
    {
        "StopWithoutARecorderOnlyLogs",
        true,
        {},
        [](Flow& f) { f.delegate->stopRecording(); },
        {},
        {"stopRecording: AppDelegate: No recorder to stop"},
        [](Flow& f) { EXPECT_FALSE(f.delegate->isProcessingVideo()); },
    },
    {
        "ANewRequestDuringSetupHoldsOnlyTheNewestSelection",
        true,
        {},
        [](Flow& f) {
            f.hotKey();
            f.hotKey();
        },
        {},
        {},
        [](Flow& f) {
            ASSERT_EQ(f.fake.count("selection"), 2);
            EXPECT_EQ(f.fake.windows[0]->closed, 1); // it gives up the input first
            EXPECT_TRUE(f.fake.windows[0]->released);
            EXPECT_FALSE(f.fake.windows[1]->released);
            EXPECT_TRUE(f.fake.alerts->shown.empty());
        },
    },
    {
        "TheControlsWindowIsPlacedAboveTheArea",
        true,
        {},
        [](Flow& f) { f.record(); },
        {},
        {"positionControlsWindowNearArea: AppDelegate: Positioning ABOVE recording area",
         "positionControlsWindowNearArea: AppDelegate: Setting controls window frame to (520.0, 110.0, 160.0, 70.0)",
         "showRecordingControls: AppDelegate: Recording controls window created and shown"},
        [](Flow& f) {
            const auto controls = f.fake.last("controls");
            EXPECT_EQ(controls->frame, QRectF(520, 110, 160, 70));
            EXPECT_TRUE(controls->visible);
        },
    },
    {
        "QuittingWhileRecordingStopsTheRecorderAndClosesTheWindows",
        true,
        {},
        [](Flow& f) {
            f.record(RecordingSettings{false, false, true});
            f.delegate->applicationWillTerminate();
        },
        {},
        {"stopRecorderForShutdown: AppDelegate: Recorder stopped for shutdown: file finished"},
        [](Flow& f) {
            EXPECT_EQ(f.fake.recorders.front()->shutdownStops, 1);
            EXPECT_TRUE(f.fake.recorders.front()->released);
            for (const char* kind : {"frame", "controls", "clicks"}) {
                EXPECT_EQ(f.fake.last(kind)->closed, 1) << kind;
                EXPECT_TRUE(f.fake.last(kind)->released) << kind;
            }
        },
    },
};

class RecordingFlowTable : public ::testing::TestWithParam<FlowCase> {
protected:
    void TearDown() override
    {
        platform::ScreenAccess::setProbeForTesting({});
        platform::Application::shared().setActivationPolicy(platform::ActivationPolicy::accessory);
    }
};

} // namespace

TEST_P(RecordingFlowTable, Sequence)
{
    const FlowCase& c = GetParam();
    const bool access = c.screenAccess;
    platform::ScreenAccess::setProbeForTesting([access] { return access; });
    Flow flow;
    if (c.configure)
        c.configure(flow);
    c.steps(flow);
    Flow::settle();
    EXPECT_EQ(flow.alertTitles(), c.alerts);
    // In the order given, each after the one before.
    const QStringList got = flow.messages();
    qsizetype at = 0;
    for (const QString& line : c.logged) {
        const auto it = std::find_if(got.begin() + at, got.end(), [&](const QString& m) { return m.endsWith(line); });
        EXPECT_NE(it, got.end()) << "missing in order: " << line.toStdString() << "\n" << got.join('\n').toStdString();
        if (it != got.end())
            at = it - got.begin() + 1;
    }
    if (c.check)
        c.check(flow);
}

INSTANTIATE_TEST_SUITE_P(Flow, RecordingFlowTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FlowCase>& info) { return std::string(info.param.name); });

TEST(RecordingFlowAlerts, CopyPutsTheWholeTextOnTheClipboardAndOkLeavesIt)
{
    Flow flow;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("before");
    flow.fake.alerts->answer = 0;
    flow.delegate->showRecordingError("Запись слишком короткая");
    EXPECT_EQ(clipboard->text(), "before");
    flow.fake.alerts->answer = 1;
    flow.delegate->showRecordingError("Запись слишком короткая");
    EXPECT_EQ(clipboard->text(), "Запись слишком короткая\n\nЛог: " + DebugLogger::shared().logFilePath());
    ASSERT_EQ(flow.fake.alerts->shown.size(), 2u);
    EXPECT_EQ(flow.fake.alerts->shown[1].messageText, "Ошибка записи");
}

TEST(RecordingFlowAlerts, TheDevelopmentHookAreaReachesTheSetupPanel)
{
    Flow flow;
    flow.delegate->screenRecordingSelectionDidFinish(QRectF(200, 200, 800, 600));
    const QStringList got = flow.messages();
    EXPECT_TRUE(got.contains("screenRecordingSelectionDidFinish: AppDelegate: screenRecordingSelectionDidFinish called with "
                             "rect: Optional((200.0, 200.0, 800.0, 600.0))"))
        << got.join('\n').toStdString();
    ASSERT_TRUE(flow.fake.last("setup"));
    EXPECT_EQ(flow.fake.last("setup")->area, QRectF(200, 200, 800, 600));
    EXPECT_EQ(flow.fake.last("setup")->shown, 1);
}
