#pragma once

#include "app/StatusBarController.h"
#include "app/UploadProvider.h"
#include "screenshots/PreviewUploadServices.h"
#include "screenshots/ScreenshotPreviewView.h"
#include "screenshots/ScreenshotToolbar.h"

#include <QImage>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QStringList>

#include <optional>

class AppState;
class QAbstractButton;
class PreviewToolbarItems;
class ScreenshotHistoryManager;

// The one screenshot preview of the process: sizes and places its window, builds the tool bar
// (save, copy, upload, done), decides which upload providers it offers, remembers the one last
// chosen, and closes the window again. It saves and uploads nothing itself: every tool bar action
// is posted as "screenshotAction" for the window's ScreenshotPreviewView. GUI thread only.
class ScreenshotPreviewWindowController : public QObject {
    Q_OBJECT
public:
    static const QString actionNotification; // "screenshotAction"
    static constexpr int replaceDelayMs = 50;
    // What the window's decorations take of the visible area beyond its contents: the window
    // manager's title bar and borders, drawn outside the window's own size on Linux.
    static constexpr QSizeF frameAllowance{16, 48};

    ScreenshotPreviewWindowController(AppState* appState, ScreenshotHistoryManager* historyManager,
                                      StatusBarController* statusBarController, QObject* parent = nullptr)
        : ScreenshotPreviewWindowController(appState, historyManager, recentCapturesRefresher(statusBarController), parent)
    {
    }
    ScreenshotPreviewWindowController(AppState* appState, ScreenshotHistoryManager* historyManager,
                                      RecentCapturesRefresher statusBarController, QObject* parent = nullptr);
    ~ScreenshotPreviewWindowController() override;

    // The uploaders the previews work with; none until the application has them.
    void setUploadServices(const PreviewUploadServices& services) { m_services = services; }
    const PreviewUploadServices& uploadServices() const { return m_services; }
    // Handed to every new preview view (tests: clock and save panel).
    void setViewEnvironment(const ScreenshotPreviewView::Environment& environment) { m_viewEnvironment = environment; }

    // Shows `image` in a new preview window, replacing an open one after 0.05 s.
    void showPreview(const QImage& image);
    // Closes the preview, clears the screenshot state and returns to the accessory policy. Safe
    // when nothing is open.
    void closeWindow();
    // The delayed close after an upload: closes only `window`, and only while it is the open preview.
    void closeWindowIfShowing(const QWidget* window);

    // The providers the tool bar offers, in case order.
    QList<UploadProvider> getAvailableProviders() const;

    // Tool bar actions.
    void saveLocally();
    void copyToClipboard();
    void uploadWithLastProvider();
    // Ctrl+U: what the upload item's click does.
    void uploadWithShownProvider();
    void uploadToKestrova();
    void uploadSSH();
    void uploadYandex();
    void uploadDropbox();
    void uploadGoogleDrive();
    void uploadWebDAV();
    void done();
    void showProviderMenu(QAbstractButton* sender);
    // The provider actions: remember `provider` as last used, then post its id.
    void uploadWithProvider(UploadProvider provider);

    // Tool bar items.
    static QStringList toolbarDefaultItemIdentifiers();
    static QStringList toolbarAllowedItemIdentifiers();
    // The item widget for `identifier`, or null for an identifier outside the table.
    QWidget* toolbarItem(const QString& identifier);

    // Window sizing: the content size for an image of `imageSize` points on a screen whose visible
    // frame is `visibleFrame` (none: no screen).
    // `chrome` is what the bars around the picture need: their minimum width, and their height.
    static QSizeF contentSize(const QSizeF& imageSize, const std::optional<QRectF>& visibleFrame, const QSizeF& chrome);
    // "Скриншот — 1512×982"
    static QString windowTitle(const QSizeF& imageSize);

    QWidget* window() const { return m_window; }
    bool isShowingPreview() const { return m_isShowingPreview; }
    ScreenshotPreviewView* view() const { return m_view; }
    ScreenshotToolbar* toolbar() const { return m_toolbar; }
    // The split button's provider menu, while the tool bar has one.
    QMenu* providerMenu() const;

    // The status menu is built above this library; the call to it is compiled on the caller's side.
    static RecentCapturesRefresher recentCapturesRefresher(StatusBarController* statusBarController)
    {
        if (!statusBarController)
            return {};
        return [bar = QPointer<StatusBarController>(statusBarController)](const QList<Screenshot>& screenshots) {
            if (bar)
                bar->updateRecentScreenshots(screenshots);
        };
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createAndShowPreviewWindow(const QImage& image);
    void windowWillClose();
    void clearScreenshotState();
    void post(const QString& action);
    // The last used provider by the settings (the cloud without them).
    UploadProvider lastUsedProvider() const;
    // Keeps the split button on the provider its click uploads to.
    void followLastUsedProvider();

    QPointer<QWidget> m_window;
    QPointer<AppState> m_appState;
    QPointer<ScreenshotHistoryManager> m_historyManager;
    RecentCapturesRefresher m_statusBarController;
    bool m_isShowingPreview = false;

    PreviewUploadServices m_services;
    ScreenshotPreviewView::Environment m_viewEnvironment;
    QPointer<ScreenshotPreviewView> m_view;
    QPointer<ScreenshotToolbar> m_toolbar;
    // The upload item's providers and split button, which follow the last used provider.
    PreviewToolbarItems* m_toolbarItems = nullptr;
    // Counts showPreview calls: a delayed creation that a later call superseded does not run.
    quint64 m_showGeneration = 0;
};
