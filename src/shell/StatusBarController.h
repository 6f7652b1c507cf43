#pragma once

#include "screenshots/ScreenshotPreviewView.h"
#include "screenshots/Screenshot.h"
#include "screenshots/ScreenshotHistoryManager.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class AppState;
class AuthManager;
class QAction;
class QMenu;
class QSystemTrayIcon;
class SettingsWindowController;

// The tray icon and its menu: the capture commands (posted as the hot keys' notifications), the
// recent captures with their actions, settings and quit. It never starts a capture itself.
// GUI thread only.
class StatusBarController : public QObject {
    Q_OBJECT
public:
    explicit StatusBarController(AppState* appState, QObject* parent = nullptr);
    ~StatusBarController() override;

    // The capture history; assigned by the delegate after creation.
    QPointer<ScreenshotHistoryManager> historyManager;

    // The tray icon; it shows the installed menu.
    QSystemTrayIcon* statusItem() const { return m_statusItem.get(); }
    // Whether a system tray shows the status item now.
    bool hasTray() const { return m_statusItem && isTrayAvailable(); }
    // The installed menu, or nullptr.
    QMenu* menu() const { return m_menu.get(); }
    AppState* appState() const { return m_appState; }
    // The account manager, only held: taking it at creation makes it exist from launch on.
    AuthManager* authManager() const { return m_authManager; }
    SettingsWindowController* settingsWindowController() const { return m_settingsWindowController.get(); }

    // A new menu with an empty recent-captures submenu (not even the placeholder).
    std::unique_ptr<QMenu> createMenu();
    // Installs `menu` as the tray icon's menu; the previous one is discarded once it is idle.
    void setMenu(std::unique_ptr<QMenu> menu);
    // Shows the installed menu at a point on the screen.
    void popUpMenu(const QPoint& globalPosition);

    // Menu actions.
    void captureScreen();
    void captureFullScreen();
    void startScreenRecording();
    void openSettings();
    void quit();

    // Rebuilds the recent-captures submenu of the installed menu from `screenshots` (newest first).
    void updateRecentScreenshots(const QList<Screenshot>& screenshots);
    // What the preview windows call to refresh the recent captures; does nothing once this is gone.
    RecentCapturesRefresher recentCapturesRefresher();

    // Entry actions, each taking the menu item chosen. An item carries its entry's position in the
    // list it was built from (its "tag") and the entry's id; the action works on the entry with that
    // id in the current history, so a menu built before a change never acts on another capture.
    void openScreenshotAtIndex(QAction* item);
    void copyScreenshotAtIndex(QAction* item);
    void revealScreenshotAtIndex(QAction* item);
    void copyURLAtIndex(QAction* item);
    void deleteScreenshotAtIndex(QAction* item);

    // The whole image scaled to fit `size` points (enlarged or reduced), centred on a clear image
    // of that size, rendered at `devicePixelRatio` pixels per point.
    static QImage createThumbnail(const QImage& image, const QSizeF& size, qreal devicePixelRatio = 2.0);
    // The link to open in the browser: only an http or https address with a host.
    static std::optional<QUrl> browserURL(const std::optional<QString>& remoteURL);

    // How long the launch waits for a system tray before it opens the settings window instead.
    static constexpr int trayWaitMilliseconds = 3000;
    // Tests: answer whether a system tray exists from `probe`; an empty function restores the real check.
    static void setTrayAvailabilityProbeForTesting(std::function<bool()> probe);

private:
    void setupStatusBar();
    void watchTrayAvailability();
    static bool isTrayAvailable();
    QAction* addEntryAction(QMenu* menu, const QString& title, const Screenshot& entry, int tag,
                            void (StatusBarController::*action)(QAction*));
    std::optional<Screenshot> entryFor(QAction* item) const;
    // Opens a recording in the video preview.
    void openVideoPreview(const QString& videoURL);

    std::unique_ptr<QSystemTrayIcon> m_statusItem;
    AppState* m_appState;
    AuthManager* m_authManager;
    std::unique_ptr<SettingsWindowController> m_settingsWindowController;
    std::unique_ptr<QMenu> m_menu;
};
