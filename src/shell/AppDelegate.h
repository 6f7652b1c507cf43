#pragma once

#include "platform/AppError.h"
#include "platform/NotificationCenter.h"
#include "recording/RecordingFlowFactories.h"
#include "recording/ScreenRecordingSelectionDelegate.h"
#include "screenshots/ScreenshotPreviewView.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <source_location>

class AppState;
class HotKeyManager;
class PermissionRequestWindowController;
class PermissionsManager;
class QAction;
class QMenu;
class ScreenCapture;
class ScreenshotHistoryManager;
class ScreenshotPreviewWindowController;
class StatusBarController;
class VideoPreviewWindow;
struct RecordingSettings;

namespace platform {
class SingleInstanceLock;
}

// The application delegate: launches the tray application, routes the capture commands, owns the
// process-wide objects and tears them down at termination. Lives for the whole process; GUI thread.
class AppDelegate : public QObject, public ScreenRecordingSelectionDelegate {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Application life cycle, called by KestrovaApp.
    void applicationDidFinishLaunching();
    bool applicationShouldTerminateAfterLastWindowClosed();
    // Starting the program again: the status menu at the pointer, or the settings window when
    // there is no tray to open it from.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void applicationWillTerminate();

    // Area and full-screen screenshots; called by the capture notifications.
    void captureScreen();
    void captureFullScreen();

    // "Lifecycle: <label> | policy=... | windows=[...] | anchor..." in the diagnostic log.
    void logLifecycleState(const QString& label);
    QString lifecycleState(const QString& label) const;

    AppState& appState() { return *m_appState; }
    ScreenshotHistoryManager& historyManager() { return *m_historyManager; }
    // The one screenshot preview of the process; none before launch and after termination.
    ScreenshotPreviewWindowController* previewWindowController() const { return m_previewWindowController; }
    // Created on first use; one of each for the process.
    ScreenCapture& screenCapture();
    PermissionsManager& permissionsManager();

    QWidget* anchorWindow() const { return m_anchorWindow; }
    // The tray icon and its menu, from launch to termination.
    StatusBarController* statusBarController() const { return m_statusBarController.get(); }
    // The launch-time permission window while it has not finished.
    PermissionRequestWindowController* permissionRequestWindow() const { return m_permissionRequestWindow; }
    QMenu* mainMenu() const { return m_mainMenu.get(); }

    // Recording flow (AppDelegateRecording.cpp).
    void startScreenRecording();
    void showRecordingSelectionWindow();
    void screenRecordingSelectionDidFinish(std::optional<QRectF> rect) override;
    void showRecordingSetupWindow(const QRectF& rect);
    void startRecordingWithSettings(const QRectF& rect, const RecordingSettings& settings);
    void cancelRecording();
    void startRecordingInRect(const QRectF& rect, const RecordingSettings& settings);
    void stopRecording();
    void handleRecordingCompletion(const std::optional<QUrl>& url, const std::optional<platform::AppError>& error);
    // Recording controls window and alerts.
    void showRecordingControls(RecordingFlowRecorder* recorder);
    void positionControlsWindowNearArea(RecordingFlowWindow& window, const QRectF& recordingArea);
    void showRecordingInProgressAlert();
    void showVideoProcessingAlert();
    void showPermissionError();
    void showRecordingError(const QString& message);
    // What the flow creates; parts left empty are the real ones. Before the first recording.
    void setRecordingFlowFactories(RecordingFlowFactories factories);
    // The flow's state and what it holds, for tests.
    bool isProcessingVideo() const { return m_isProcessingVideo; }
    std::optional<QRectF> currentRecordingArea() const { return m_currentRecordingArea; }
    RecordingFlowWindow* recordingSelectionWindow() const { return m_recordingSelectionWindow.get(); }
    RecordingFlowWindow* recordingSetupWindowController() const { return m_recordingSetupWindowController.get(); }
    RecordingFlowWindow* simpleControlsWindow() const { return m_simpleControlsWindow.object.get(); }
    RecordingFlowWindow* recordingFrameWindow() const { return m_recordingFrameWindow.object.get(); }
    RecordingFlowWindow* clickIndicatorOverlay() const { return m_clickIndicatorOverlay.object.get(); }
    RecordingFlowRecorder* screenRecorder() const { return m_screenRecorder.object.get(); }
    // The preview of the last finished recording, until the next recording closes it.
    VideoPreviewWindow* videoPreviewWindow() const { return m_videoPreviewWindow.get(); }

    // Reason given to the automatic-termination switches.
    const QString automaticTerminationReason = QStringLiteral("KestrovaActiveSession");

private:
    void setupMainMenu();
    void setupStatusBarController();
    void checkPermissionsOnLaunch();
    void createAnchorWindow();
    void updateMainMenuShortcuts();
    void registerConfiguredHotkeys();

    // Steps whose windows and controllers are built elsewhere.
    void createStatusBarController();
    void createPreviewWindowController();
    // The status menu's refresh of its recent captures, for the preview windows.
    RecentCapturesRefresher recentCapturesRefresher() const;
    void rebuildStatusMenu();
    void releaseStatusBarController();
    void closePreviewWindow();
    // Closes an open preview and runs `capture` (an area or the full screen) with `closingLine` in
    // the console; its image opens a new preview, no image writes `failureLine`.
    void startCapture(void (ScreenCapture::*capture)(std::function<void(std::optional<QImage>)>), const QString& closingLine,
                      const QString& failureLine);
    void showPreview(const QImage& image);
    void showSettingsWindow();
    void showAboutPanel();
    void popUpStatusMenu();
    bool hasVisibleWindows() const;
    // Stops a running recorder and finishes its file, waiting a bounded time, before the process ends.
    void stopRecorderForShutdown();
    void closeRecordingWindowsForShutdown();

    // Recording flow steps.
    RecordingFlowFactories& recordingFactories();
    bool isRecordingRunning() const;
    void closeRecordingWindows();
    void releaseFinishedRecording(quint64 controls, quint64 frame, quint64 clicks, quint64 recorder);
    int runRecordingAlert(const RecordingAlertPresenter::Alert& alert);
    // Closes the video preview of the previous recording; `message` is logged, as written by the
    // caller, when there is one to close.
    void closeVideoPreview(const QString& message = QStringLiteral("Closing previous video preview window before new recording"),
                           std::source_location where = std::source_location::current());
    // Dropping the preview closes it; it goes once an upload it still runs has ended.
    struct VideoPreviewRelease {
        void operator()(VideoPreviewWindow* window) const;
    };

    void removeObserver(std::optional<platform::NotificationCenter::Token>& token);

    std::unique_ptr<AppState> m_appState;
    HotKeyManager& m_hotKeyManager;
    std::unique_ptr<ScreenshotHistoryManager> m_historyManager;
    std::unique_ptr<StatusBarController> m_statusBarController;
    ScreenshotPreviewWindowController* m_previewWindowController = nullptr;
    QPointer<QWidget> m_anchorWindow;
    bool m_isProcessingVideo = false;
    std::optional<QRectF> m_currentRecordingArea;
    // The recording flow's windows and recorder. Those released after a delay carry the serial
    // of their assignment, so a delayed release only drops the objects it was scheduled for.
    template <typename Pointer>
    struct RecordingSlot {
        Pointer object;
        quint64 serial = 0;
    };
    std::optional<RecordingFlowFactories> m_recordingFactories;
    RecordingFlowWindowPtr m_recordingSelectionWindow;
    RecordingFlowWindowPtr m_recordingSetupWindowController;
    RecordingSlot<RecordingFlowWindowPtr> m_simpleControlsWindow;
    RecordingSlot<RecordingFlowWindowPtr> m_recordingFrameWindow;
    RecordingSlot<RecordingFlowWindowPtr> m_clickIndicatorOverlay;
    RecordingSlot<std::unique_ptr<RecordingFlowRecorder>> m_screenRecorder;
    quint64 m_recordingSerial = 0;
    std::unique_ptr<VideoPreviewWindow, VideoPreviewRelease> m_videoPreviewWindow;
    ScreenCapture* m_screenCapture = nullptr;
    PermissionsManager* m_permissionsManager = nullptr;
    PermissionRequestWindowController* m_permissionRequestWindow = nullptr;
    std::optional<platform::NotificationCenter::Token> m_captureObserver;
    std::optional<platform::NotificationCenter::Token> m_settingsObserver;
    std::optional<platform::NotificationCenter::Token> m_fullScreenObserver;
    std::optional<platform::NotificationCenter::Token> m_screenRecordingObserver;

    std::unique_ptr<platform::SingleInstanceLock> m_instanceLock;
    std::unique_ptr<QMenu> m_mainMenu;
    QAction* m_settingsAction = nullptr;
    QAction* m_quitAction = nullptr;
    bool m_terminated = false;
};
