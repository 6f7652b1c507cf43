#pragma once

#include "platform/AppError.h"
#include "platform/NotificationCenter.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <optional>

class AppState;
class HotKeyManager;
class PermissionsManager;
class QAction;
class QMenu;
class ScreenCapture;
class ScreenshotHistoryManager;
class ScreenshotPreviewWindowController;
struct RecordingSettings;

namespace platform {
class SingleInstanceLock;
}

// The application delegate: launches the tray application, routes the capture commands, owns the
// process-wide objects and tears them down at termination. Lives for the whole process; GUI thread.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Application life cycle, called by KestrovaApp.
    void applicationDidFinishLaunching();
    bool applicationShouldTerminateAfterLastWindowClosed();
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
    QMenu* mainMenu() const { return m_mainMenu.get(); }

    // Recording flow (AppDelegateRecording.cpp).
    void startScreenRecording();
    void showRecordingSelectionWindow();
    void screenRecordingSelectionDidFinish(std::optional<QRectF> rect);
    void showRecordingSetupWindow(const QRectF& rect);
    void startRecordingWithSettings(const QRectF& rect, const RecordingSettings& settings);
    void cancelRecording();
    void startRecordingInRect(const QRectF& rect, const RecordingSettings& settings);
    void stopRecording();
    void handleRecordingCompletion(const std::optional<QUrl>& url, const std::optional<platform::AppError>& error);

    // Reason given to the automatic-termination switches.
    const QString automaticTerminationReason = QStringLiteral("KestrovaActiveSession");

private:
    void setupMainMenu();
    void setupStatusBarController();
    void checkPermissionsOnLaunch();
    void runDevelopmentHooks();
    void createAnchorWindow();
    void updateMainMenuShortcuts();
    void registerConfiguredHotkeys();

    // Steps whose windows and controllers are built elsewhere.
    void createStatusBarController();
    void createPreviewWindowController();
    void rebuildStatusMenu();
    void releaseStatusBarController();
    void closePreviewWindow();
    void showPreview(const QImage& image);
    void showPermissionWindow();
    void showSettingsWindow();
    void showAboutPanel();
    void popUpStatusMenu();
    // Stops a running recorder and finishes its file, waiting a bounded time, before the process ends.
    void stopRecorderForShutdown();
    void closeRecordingWindowsForShutdown();

    void removeObserver(std::optional<platform::NotificationCenter::Token>& token);

    std::unique_ptr<AppState> m_appState;
    HotKeyManager& m_hotKeyManager;
    std::unique_ptr<ScreenshotHistoryManager> m_historyManager;
    ScreenshotPreviewWindowController* m_previewWindowController = nullptr;
    QPointer<QWidget> m_anchorWindow;
    bool m_isProcessingVideo = false;
    std::optional<QRectF> m_currentRecordingArea;
    ScreenCapture* m_screenCapture = nullptr;
    PermissionsManager* m_permissionsManager = nullptr;
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
