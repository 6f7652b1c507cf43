// The recording flow of the application delegate: selection, setup, recorder, frame and controls,
// stop, and the hand-over of the finished file.
#include "shell/AppDelegate.h"
#include "shell/StatusBarController.h"

#include "app/DebugLogger.h"
#include "app/PermissionsManager.h"
#include "platform/Application.h"
#include "platform/NumberFormat.h"
#include "platform/ScreenAccess.h"
#include "platform/ScreenGeometry.h"
#include "recording/RecordingWindowPlacement.h"
#include "video/VideoPreviewWindow.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

using platform::AppError;
using platform::NumberFormat;

namespace {

// The recording windows are hidden at once after a finished recording and released this much
// later, once the video preview has taken the front.
constexpr int kReleaseDelayMs = 1000;
// A controls window the window system has not mapped by then is brought to the front once more.
constexpr int kControlsVisibilityCheckMs = 100;
// Quitting waits this long for a recording's file to be finished.
constexpr std::chrono::milliseconds kShutdownStopTimeout{2000};

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString optionalRect(const std::optional<QRectF>& rect)
{
    return rect ? QStringLiteral("Optional(") + NumberFormat::rect(*rect) + QLatin1Char(')') : QStringLiteral("nil");
}

QString optionalError(const std::optional<AppError>& error)
{
    if (!error)
        return QStringLiteral("nil");
    return QStringLiteral("Optional(Error Domain=%1 Code=%2 \"%3\")").arg(error->domain).arg(error->code).arg(error->localizedDescription);
}

QString optionalUrl(const std::optional<QUrl>& url)
{
    return url ? QStringLiteral("Optional(") + url->toString() + QLatin1Char(')') : QStringLiteral("nil");
}

QString shutdownResultText(ScreenRecorder::ShutdownResult result)
{
    switch (result) {
    case ScreenRecorder::ShutdownResult::NothingToStop:
        return QStringLiteral("nothing to stop");
    case ScreenRecorder::ShutdownResult::Finished:
        return QStringLiteral("file finished");
    case ScreenRecorder::ShutdownResult::TooShort:
        return QStringLiteral("too short, nothing kept");
    case ScreenRecorder::ShutdownResult::Failed:
        return QStringLiteral("failed");
    case ScreenRecorder::ShutdownResult::TimedOut:
        return QStringLiteral("timed out");
    }
    return QStringLiteral("unknown");
}

} // namespace

// MARK: - Injection points

void AppDelegate::setRecordingFlowFactories(RecordingFlowFactories factories)
{
    m_recordingFactories = RecordingFlowFactories::completed(std::move(factories));
}

RecordingFlowFactories& AppDelegate::recordingFactories()
{
    if (!m_recordingFactories)
        m_recordingFactories = RecordingFlowFactories::standard();
    return *m_recordingFactories;
}

bool AppDelegate::isRecordingRunning() const
{
    return m_screenRecorder.object && m_screenRecorder.object->isRecording();
}

// MARK: - Start request and selection

void AppDelegate::startScreenRecording()
{
    auto& logger = DebugLogger::shared();
    logger.log(QStringLiteral("Starting screen recording - checking permissions first"));
    logLifecycleState(QStringLiteral("startScreenRecording"));

    if (isRecordingRunning()) {
        logger.log(QStringLiteral("Recording already in progress, ignoring request"));
        showRecordingInProgressAlert();
        return;
    }
    if (m_isProcessingVideo) {
        logger.log(QStringLiteral("Video processing in progress, ignoring request"));
        showVideoProcessingAlert();
        return;
    }
    closeVideoPreview();

    if (!platform::ScreenAccess::preflight()) {
        logger.log(QStringLiteral("Screen recording permission denied, requesting permission"));
        QPointer<AppDelegate> self(this);
        permissionsManager().requestScreenRecordingPermission([self](bool granted) {
            DebugLogger::shared().log(QStringLiteral("Permission request result: ") + boolText(granted));
            if (!self)
                return;
            if (granted)
                self->showRecordingSelectionWindow();
            else
                self->showPermissionError();
        });
        return;
    }
    logger.log(QStringLiteral("Screen recording permission granted, showing selection interface"));
    logger.log(QStringLiteral("Creating ScreenRecordingSelectionWindow"));
    showRecordingSelectionWindow();
    logger.log(QStringLiteral("ScreenRecordingSelectionWindow created successfully"));
}

void AppDelegate::showRecordingSelectionWindow()
{
    DebugLogger::shared().log(QStringLiteral("AppDelegate: Creating ScreenRecordingSelectionWindow"));
    // Only the newest request's window is held. An earlier one still open is closed first: it
    // gives up the keyboard and mouse before the new one takes them.
    if (m_recordingSelectionWindow) {
        m_recordingSelectionWindow->close();
        m_recordingSelectionWindow.reset();
    }
    m_recordingSelectionWindow = recordingFactories().selectionWindow(this);
    DebugLogger::shared().log(QStringLiteral("AppDelegate: Set self as delegate for selection window"));
    logLifecycleState(QStringLiteral("showRecordingSelectionWindow"));
}

void AppDelegate::screenRecordingSelectionDidFinish(std::optional<QRectF> rect)
{
    auto& logger = DebugLogger::shared();
    logger.log(QStringLiteral("AppDelegate: screenRecordingSelectionDidFinish called with rect: ") + optionalRect(rect));
    logLifecycleState(QStringLiteral("screenRecordingSelectionDidFinish"));
    m_recordingSelectionWindow.reset();
    if (rect) {
        logger.log(QStringLiteral("Valid rect selected, showing setup window"));
        showRecordingSetupWindow(*rect);
    } else {
        logger.log(QStringLiteral("Screen recording cancelled by user or invalid selection"));
    }
}

void AppDelegate::showRecordingSetupWindow(const QRectF& rect)
{
    auto& logger = DebugLogger::shared();
    logger.log(QStringLiteral("AppDelegate: Creating RecordingSetupWindow for rect: ") + NumberFormat::rect(rect));
    QPointer<AppDelegate> self(this);
    auto onStart = [self, rect](const RecordingSettings& settings) {
        if (!self)
            return;
        DebugLogger::shared().log(QStringLiteral("AppDelegate: onStart closure called with rect: ") + NumberFormat::rect(rect));
        self->startRecordingWithSettings(rect, settings);
    };
    auto onCancel = [self] {
        if (!self)
            return;
        DebugLogger::shared().log(QStringLiteral("AppDelegate: onCancel closure called"));
        self->cancelRecording();
    };
    logger.log(QStringLiteral("AppDelegate: Creating RecordingSetupWindow"));
    m_recordingSetupWindowController = recordingFactories().setupWindow(rect, onStart, onCancel);
    logger.log(QStringLiteral("AppDelegate: RecordingSetupWindowController created successfully"));
    logLifecycleState(QStringLiteral("activation for setup window"));
    m_recordingSetupWindowController->makeKeyAndOrderFront();
    logger.log(QStringLiteral("AppDelegate: RecordingSetupWindowController presented"));
    logLifecycleState(QStringLiteral("setup window presented"));
}

void AppDelegate::startRecordingWithSettings(const QRectF& rect, const RecordingSettings& settings)
{
    auto& logger = DebugLogger::shared();
    logger.log(QStringLiteral("=== START RECORDING FLOW BEGIN ==="));
    logger.log(QStringLiteral("AppDelegate: Starting recording with settings - mic: ") + boolText(settings.recordMicrophone)
               + QStringLiteral(", clicks: ") + boolText(settings.showClickIndicator));
    logLifecycleState(QStringLiteral("before closing setup window"));
    logger.log(QStringLiteral("AppDelegate: Overlay closed"));
    if (m_recordingSetupWindowController) {
        m_recordingSetupWindowController->close();
        m_recordingSetupWindowController.reset();
    }
    logger.log(QStringLiteral("AppDelegate: Setup window closed"));
    logLifecycleState(QStringLiteral("after closing setup window"));
    logger.log(QStringLiteral("AppDelegate: Keeping current activation policy for recording start"));
    logLifecycleState(QStringLiteral("startRecordingWithSettings"));

    if (settings.showClickIndicator) {
        m_clickIndicatorOverlay = {recordingFactories().clickIndicatorOverlay(), ++m_recordingSerial};
        m_clickIndicatorOverlay.object->makeKeyAndOrderFront();
        logger.log(QStringLiteral("AppDelegate: Click indicator created"));
    }

    logger.log(QStringLiteral("AppDelegate: About to call startRecordingInRect"));
    logLifecycleState(QStringLiteral("before startRecordingInRect"));
    startRecordingInRect(rect, settings);
    logger.log(QStringLiteral("AppDelegate: startRecordingInRect called"));
    logLifecycleState(QStringLiteral("after startRecordingInRect"));
    logger.log(QStringLiteral("=== START RECORDING FLOW END ==="));
}

void AppDelegate::cancelRecording()
{
    auto& logger = DebugLogger::shared();
    logger.log(QStringLiteral("AppDelegate: Recording cancelled by user"));
    if (m_recordingSelectionWindow) {
        m_recordingSelectionWindow->close();
        m_recordingSelectionWindow.reset();
        logger.log(QStringLiteral("AppDelegate: Selection window closed"));
    }
    if (m_recordingSetupWindowController) {
        m_recordingSetupWindowController->close();
        m_recordingSetupWindowController.reset();
        logger.log(QStringLiteral("AppDelegate: Setup window closed"));
    }
    logger.log(QStringLiteral("AppDelegate: Cancel recording complete"));
    logLifecycleState(QStringLiteral("cancelRecording"));
}

// MARK: - Recorder

void AppDelegate::startRecordingInRect(const QRectF& rect, const RecordingSettings& settings)
{
    DebugLogger::shared().log(QStringLiteral("AppDelegate: Starting recording in rect: ") + NumberFormat::rect(rect)
                              + QStringLiteral(" with settings"));
    m_screenRecorder = {recordingFactories().recorder(), ++m_recordingSerial};
    QPointer<AppDelegate> self(this);
    // A full disk or a removed folder ends the recording at once; the stop files what was written
    // and its answer brings the alert.
    m_screenRecorder.object->setWriteFailureHandler([self] {
        if (!self)
            return;
        DebugLogger::shared().log(QStringLiteral("AppDelegate: Writing the recording failed, stopping"));
        for (RecordingSlot<RecordingFlowWindowPtr>* slot :
             {&self->m_simpleControlsWindow, &self->m_recordingFrameWindow, &self->m_clickIndicatorOverlay})
            if (slot->object)
                slot->object->orderOut();
        self->stopRecording();
    });
    m_screenRecorder.object->startRecording(rect, settings, [self, rect](bool success, std::optional<AppError> error) {
        DebugLogger::shared().log(QStringLiteral("AppDelegate: startRecording completion - success: ") + boolText(success)
                                  + QStringLiteral(", error: ") + optionalError(error));
        // Always after the call that answered has returned.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, rect, success, error] {
                auto& logger = DebugLogger::shared();
                if (!success) {
                    logger.log(QStringLiteral("AppDelegate: Failed to start recording"));
                    if (error)
                        logger.logError(*error);
                    if (!self)
                        return;
                    if (self->m_clickIndicatorOverlay.object) {
                        self->m_clickIndicatorOverlay.object->close();
                        self->m_clickIndicatorOverlay = {};
                    }
                    // The failed recorder stays until the next start replaces it; it blocks nothing.
                    self->showRecordingError(error ? error->localizedDescription : QStringLiteral("Неизвестная ошибка"));
                    return;
                }
                logger.log(QStringLiteral("AppDelegate: Recording started successfully, showing frame"));
                if (!self)
                    return;
                self->logLifecycleState(QStringLiteral("recording started"));
                self->m_currentRecordingArea = rect;
                self->m_recordingFrameWindow = {self->recordingFactories().frameWindow(rect), ++self->m_recordingSerial};
                self->showRecordingControls(self->m_screenRecorder.object.get());
            },
            Qt::QueuedConnection);
    });
}

void AppDelegate::stopRecording()
{
    auto& logger = DebugLogger::shared();
    logger.log(QStringLiteral("AppDelegate: Stopping recording"));
    if (!m_screenRecorder.object) {
        logger.log(QStringLiteral("AppDelegate: No recorder to stop"));
        return;
    }
    // A second stop would reach a recorder that is already finishing the file; it refuses, and that
    // refusal would end the successful recording as a failed one.
    if (m_isProcessingVideo) {
        logger.log(QStringLiteral("AppDelegate: Stop already requested, ignoring"));
        return;
    }
    m_isProcessingVideo = true;
    logger.log(QStringLiteral("AppDelegate: isProcessingVideo set to true"));
    logger.log(QStringLiteral("AppDelegate: Calling recorder.stopRecording"));
    QPointer<AppDelegate> self(this);
    m_screenRecorder.object->stopRecording([self](std::optional<QString> path, std::optional<AppError> error) {
        DebugLogger::shared().log(QStringLiteral("AppDelegate: stopRecording completion called"));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, path, error] {
                if (!self) {
                    DebugLogger::shared().log(QStringLiteral("AppDelegate: self is nil in stopRecording completion"));
                    return;
                }
                DebugLogger::shared().log(QStringLiteral("AppDelegate: Dispatching to handleRecordingCompletion"));
                std::optional<QUrl> url;
                if (path)
                    url = QUrl::fromLocalFile(*path);
                self->handleRecordingCompletion(url, error);
            },
            Qt::QueuedConnection);
    });
    logger.log(QStringLiteral("AppDelegate: recorder.stopRecording called successfully"));
}

// MARK: - Completion

void AppDelegate::closeRecordingWindows()
{
    // The controls, the frame, the click overlay and the selection window, in that order.
    for (RecordingSlot<RecordingFlowWindowPtr>* slot : {&m_simpleControlsWindow, &m_recordingFrameWindow, &m_clickIndicatorOverlay}) {
        if (slot->object) {
            slot->object->close();
            *slot = {};
        }
    }
    if (m_recordingSelectionWindow) {
        m_recordingSelectionWindow->close();
        m_recordingSelectionWindow.reset();
    }
}

void AppDelegate::handleRecordingCompletion(const std::optional<QUrl>& url, const std::optional<AppError>& error)
{
    auto& logger = DebugLogger::shared();
    logger.log(QStringLiteral("AppDelegate: handleRecordingCompletion called - url: ") + optionalUrl(url)
               + QStringLiteral(", error: ") + optionalError(error));
    m_isProcessingVideo = false;

    if (!url && !error) {
        logger.log(QStringLiteral("AppDelegate: Recording cancelled"));
        closeRecordingWindows();
        m_screenRecorder = {};
        logLifecycleState(QStringLiteral("handleRecordingCompletion - cancelled"));
        return;
    }
    if (!url) {
        logger.log(QStringLiteral("AppDelegate: Recording failed"));
        logger.logError(*error);
        closeRecordingWindows();
        m_screenRecorder = {};
        showRecordingError(error->localizedDescription);
        logLifecycleState(QStringLiteral("handleRecordingCompletion - error"));
        return;
    }

    logger.log(QStringLiteral("AppDelegate: Recording completed successfully: ") + url->toLocalFile());
    closeVideoPreview(QStringLiteral("AppDelegate: Closing previous video preview window"));
    logger.log(QStringLiteral("AppDelegate: Creating VideoPreviewWindow"));
    m_videoPreviewWindow.reset(
        new VideoPreviewWindow(url->toLocalFile(), m_appState.get(), m_historyManager.get(),
                               recentCapturesRefresher()));
    logger.log(QStringLiteral("AppDelegate: Making VideoPreviewWindow key and front"));
    m_videoPreviewWindow->show();
    m_videoPreviewWindow->raise();
    m_videoPreviewWindow->activateWindow();
    platform::Application::shared().activateIgnoringOtherApps();
    logger.log(QStringLiteral("AppDelegate: VideoPreviewWindow shown"));
    logLifecycleState(QStringLiteral("after showing VideoPreviewWindow"));
    logger.log(QStringLiteral("AppDelegate: Hiding recording windows"));
    for (RecordingSlot<RecordingFlowWindowPtr>* slot : {&m_simpleControlsWindow, &m_recordingFrameWindow, &m_clickIndicatorOverlay})
        if (slot->object)
            slot->object->orderOut();

    // The objects of this recording, by the serials of their assignment: a recording started
    // within the second keeps its own.
    const quint64 controls = m_simpleControlsWindow.serial;
    const quint64 frame = m_recordingFrameWindow.serial;
    const quint64 clicks = m_clickIndicatorOverlay.serial;
    const quint64 recorder = m_screenRecorder.serial;
    QPointer<AppDelegate> self(this);
    QTimer::singleShot(kReleaseDelayMs, QCoreApplication::instance(), [self, controls, frame, clicks, recorder] {
        DebugLogger::shared().log(QStringLiteral("AppDelegate: Cleaning up recording window references (delayed)"));
        if (self)
            self->releaseFinishedRecording(controls, frame, clicks, recorder);
        DebugLogger::shared().log(QStringLiteral("AppDelegate: Recording window cleanup complete"));
    });
    logger.log(QStringLiteral("AppDelegate: Video preview window setup complete"));
    logLifecycleState(QStringLiteral("handleRecordingCompletion - success"));
}

void AppDelegate::releaseFinishedRecording(quint64 controls, quint64 frame, quint64 clicks, quint64 recorder)
{
    auto release = [](auto& slot, quint64 serial) {
        if (slot.object && slot.serial == serial)
            slot = {};
    };
    release(m_simpleControlsWindow, controls);
    release(m_recordingFrameWindow, frame);
    release(m_clickIndicatorOverlay, clicks);
    release(m_screenRecorder, recorder);
}

// MARK: - Video preview

void AppDelegate::VideoPreviewRelease::operator()(VideoPreviewWindow* window) const
{
    window->close();
    window->release();
}

void AppDelegate::closeVideoPreview(const QString& message, std::source_location where)
{
    if (!m_videoPreviewWindow)
        return;
    DebugLogger::shared().log(message, where);
    m_videoPreviewWindow.reset();
}

// MARK: - Controls window

void AppDelegate::showRecordingControls(RecordingFlowRecorder*)
{
    auto& logger = DebugLogger::shared();
    logger.log(QStringLiteral("AppDelegate: Creating and showing recording controls window"));
    QPointer<AppDelegate> self(this);
    m_simpleControlsWindow = {recordingFactories().controlsWindow([self] {
                                  if (self)
                                      self->stopRecording();
                              }),
                              ++m_recordingSerial};
    RecordingFlowWindow& window = *m_simpleControlsWindow.object;
    if (m_currentRecordingArea)
        positionControlsWindowNearArea(window, *m_currentRecordingArea);
    else
        window.center();

    logger.log(QStringLiteral("AppDelegate: Switching to .regular mode for recording controls"));
    auto& application = platform::Application::shared();
    application.setActivationPolicy(platform::ActivationPolicy::regular);
    application.activateIgnoringOtherApps();
    window.makeKeyAndOrderFront();
    window.orderFrontRegardless();
    application.activateIgnoringOtherApps();

    const quint64 serial = m_simpleControlsWindow.serial;
    QTimer::singleShot(kControlsVisibilityCheckMs, this, [this, serial] {
        RecordingFlowWindow* controls = m_simpleControlsWindow.object.get();
        if (!controls || m_simpleControlsWindow.serial != serial || controls->isVisible())
            return;
        DebugLogger::shared().log(QStringLiteral("AppDelegate: Controls window not visible after delay, forcing visibility"));
        controls->orderFrontRegardless();
        platform::Application::shared().activateIgnoringOtherApps();
    });
    logger.log(QStringLiteral("AppDelegate: Recording controls window created and shown"));
    logLifecycleState(QStringLiteral("showRecordingControls"));
}

void AppDelegate::positionControlsWindowNearArea(RecordingFlowWindow& window, const QRectF& recordingArea)
{
    auto& logger = DebugLogger::shared();
    const QSizeF size = window.frame().size();
    const QList<platform::ScreenInfo> screens = platform::ScreenGeometry::screens();
    const QRectF area = RecordingWindowPlacement::areaToGlobal(recordingArea, screens);
    const std::optional<platform::ScreenInfo> screen = RecordingWindowPlacement::screenFor(area, screens);
    if (!screen) {
        logger.log(QStringLiteral("AppDelegate: No screen found, centering window"));
        window.center();
        return;
    }
    const QRectF screenFrame(screen->geometry);
    logger.log(QStringLiteral("AppDelegate: positionControlsWindow - recordingArea: ") + NumberFormat::rect(recordingArea));
    logger.log(QStringLiteral("AppDelegate: positionControlsWindow - screen.frame: ") + NumberFormat::rect(screenFrame));
    const auto placement = RecordingWindowPlacement::controlsWindow(area, screenFrame, size);
    logger.log(QStringLiteral("AppDelegate: spaceAbove: ") + NumberFormat::decimal(placement.spaceAbove)
               + QStringLiteral(", spaceBelow: ") + NumberFormat::decimal(placement.spaceBelow));
    logger.log(RecordingWindowPlacement::ruleLogLine(placement.rule));
    logger.log(QStringLiteral("AppDelegate: Setting controls window frame to ") + NumberFormat::rect(placement.frame));
    window.setFrame(placement.frame);
    window.orderFrontRegardless();
    logger.log(QStringLiteral("AppDelegate: Controls window positioned and made visible"));
}

// MARK: - Alerts

int AppDelegate::runRecordingAlert(const RecordingAlertPresenter::Alert& alert)
{
    const std::shared_ptr<RecordingAlertPresenter> alerts = recordingFactories().alerts;
    return alerts ? alerts->runModal(alert) : 0;
}

void AppDelegate::showRecordingInProgressAlert()
{
    runRecordingAlert({QStringLiteral("Запись уже выполняется"),
                       QStringLiteral("Дождитесь завершения текущей записи перед началом новой."), {QStringLiteral("OK")}});
}

void AppDelegate::showVideoProcessingAlert()
{
    runRecordingAlert({QStringLiteral("Обработка видео"),
                       QStringLiteral("Дождитесь завершения обработки видео перед началом новой записи."),
                       {QStringLiteral("OK")}});
}

void AppDelegate::showPermissionError()
{
    DebugLogger::shared().log(QStringLiteral("AppDelegate: Permission denied, system will show permission dialog"));
}

void AppDelegate::showRecordingError(const QString& message)
{
    auto& logger = DebugLogger::shared();
    logger.logErrorMessage(QStringLiteral("Ошибка записи: ") + message);
    const QString text = message + QStringLiteral("\n\nЛог: ") + logger.logFilePath();
    logger.log(QStringLiteral("AppDelegate: Showing recording error: ") + message);
    const int button = runRecordingAlert({QStringLiteral("Ошибка записи"), text,
                                          {QStringLiteral("OK"), QStringLiteral("Скопировать")}});
    if (button == 1) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(text);
    }
}

// MARK: - Shutdown

void AppDelegate::stopRecorderForShutdown()
{
    if (!m_screenRecorder.object)
        return;
    // A recording under way, or a file being finished, is completed before the process goes.
    const ScreenRecorder::ShutdownResult result = m_screenRecorder.object->stopRecordingAndWait(kShutdownStopTimeout);
    if (result != ScreenRecorder::ShutdownResult::NothingToStop)
        DebugLogger::shared().log(QStringLiteral("AppDelegate: Recorder stopped for shutdown: ") + shutdownResultText(result));
    m_screenRecorder = {};
}

void AppDelegate::closeRecordingWindowsForShutdown()
{
    if (m_recordingSelectionWindow) {
        m_recordingSelectionWindow->close();
        m_recordingSelectionWindow.reset();
    }
    if (m_recordingSetupWindowController) {
        m_recordingSetupWindowController->close();
        m_recordingSetupWindowController.reset();
    }
    for (RecordingSlot<RecordingFlowWindowPtr>* slot : {&m_simpleControlsWindow, &m_recordingFrameWindow, &m_clickIndicatorOverlay}) {
        if (slot->object) {
            slot->object->close();
            *slot = {};
        }
    }
    // The windows go on the next turn of the event loop, and there is none after this.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
