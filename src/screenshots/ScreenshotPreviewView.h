#pragma once

#include "app/UploadProvider.h"
#include "platform/NotificationCenter.h"
#include "screenshots/PreviewUploadServices.h"
#include "screenshots/SavePanel.h"
#include "screenshots/Screenshot.h"
#include "screenshots/UploadFailure.h"

#include <QDateTime>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AppState;
class ImageEditorView;
class PreviewErrorBanner;
class ScreenshotHistoryManager;
class ScreenshotPreviewWindowController;

// Rebuilds the status menu's recent captures from the history's entries (empty: no status menu).
using RecentCapturesRefresher = std::function<void(const QList<Screenshot>&)>;

// The root view of the screenshot preview window: the annotation editor over the captured image,
// the error banners under it, the upload indicator and the toasts over it. It carries out the
// tool bar's "screenshotAction" notifications: save, copy, done, and the uploads.
//
// Upload results do not depend on the view: an upload still running when its window closes files
// its entry and puts its link on the clipboard all the same, and its delayed close closes only the
// window it was started in.
class ScreenshotPreviewView : public QWidget {
    Q_OBJECT
public:
    // What a preview reads from the outside world besides its collaborators; tests replace parts.
    struct Environment {
        std::function<QDateTime()> now;       // empty: the system clock
        std::shared_ptr<SavePanel> savePanel; // empty: the desktop's file dialog
    };

    static constexpr int closeDelayMs = 800;
    static constexpr int copiedResetMs = 2000;

    ScreenshotPreviewView(const QImage& image, AppState* appState, ScreenshotHistoryManager* historyManager,
                          RecentCapturesRefresher statusBarController, ScreenshotPreviewWindowController* windowController,
                          const PreviewUploadServices& services = {}, Environment environment = {},
                          QWidget* parent = nullptr);
    ~ScreenshotPreviewView() override;

    // The notification's "action" entry, by exact comparison; anything else does nothing.
    void dispatch(const platform::Notification& notification);
    // After the window closed: tool bar actions no longer reach this view.
    void stopObservingActions();

    void saveImageLocally();
    void copyToClipboard();
    void saveToHistoryAndClose();
    void uploadToKestrovaCloud();
    void uploadToSSH();
    void uploadToDropbox();
    void uploadToGoogleDrive();
    void uploadToWebDAV();
    void performKestrovaUpload();
    void performYandexUpload();

    // Error banner (red): save failures and the cloud and Yandex Disk failures.
    void reportSaveError(const QString& message, const std::optional<QString>& technical = std::nullopt);
    void reportUploadError(const UploadFailure& error);
    void copyErrorToClipboard();
    // Own-server banner (orange).
    void copySSHErrorToClipboard(const QString& error);
    // The hint shown for an own-server error text.
    static QString parseSSHError(const QString& error);

    // The report texts the copy buttons put on the clipboard.
    static QString errorReport(const QDateTime& time, const std::optional<QString>& saveError,
                               const std::optional<QString>& technicalError, const QString& logFilePath);
    static QString sshErrorReport(const QDateTime& time, const QString& error, const QString& host, int port,
                                  const QString& logFilePath);
    // "2026-12-09 01:02:48 +0000"
    static QString reportTime(const QDateTime& time);
    // "screenshot_1733700000.123456.png"
    static QString uploadFileName(const QDateTime& time);
    // The file actually written for a name chosen in the save panel, and the format it gets: JPEG
    // for ".jpg"/".jpeg", PNG for any other suffix, at the path as chosen; a name without any
    // suffix gets ".png" appended.
    struct SaveTarget {
        QString path;
        QByteArray format; // "png" or "jpeg"
    };
    static SaveTarget saveTarget(const QString& chosenPath);

    // The picture with its annotations drawn in (the output of save, done and the uploads).
    QImage renderImageWithAnnotations() const;
    // The annotated picture while editing, else the picture as captured.
    QImage outputImage() const;

    const QImage& image() const { return m_image; }
    const std::optional<QString>& saveError() const { return m_saveError; }
    const std::optional<QString>& technicalError() const { return m_technicalError; }
    bool showCopiedTooltip() const { return m_showCopiedTooltip; }
    bool isUploadIndicatorShown() const;
    // An upload started here has not reported its outcome yet; further upload requests are ignored.
    bool isUploadInFlight() const { return m_uploadInFlight; }

    OwnServerUploader* fileUploader() const { return m_fileUploader; }
    DriveFileUploader* yandexUploader() const { return m_yandexUploader; }
    CloudImageUploader* cloudUploader() const { return m_services.cloudUploader; }
    ImageEditorView* editor() const { return m_editor; }
    PreviewErrorBanner* errorBanner() const { return m_errorBanner; }
    PreviewErrorBanner* serverBanner() const { return m_serverBanner; }
    QWidget* uploadIndicator() const { return m_indicator; }

signals:
    void stateChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct UploadContext;

    QDateTime now() const;
    std::shared_ptr<UploadContext> uploadContext(const QImage& output);
    void uploadFinished();
    void setErrors(const std::optional<QString>& message, const std::optional<QString>& technical);
    void refreshBanners();
    void refreshIndicator();
    void placeIndicator();
    void refreshStatusMenu();
    void showUnsupportedToast(UploadProvider provider);
    void watchServerUploader();

    const QImage m_image;
    QPointer<AppState> m_appState;
    QPointer<ScreenshotHistoryManager> m_historyManager;
    RecentCapturesRefresher m_statusBarController;
    QPointer<ScreenshotPreviewWindowController> m_windowController;
    PreviewUploadServices m_services;
    Environment m_environment;
    QPointer<OwnServerUploader> m_fileUploader;
    QPointer<DriveFileUploader> m_yandexUploader;
    // The own-server upload in flight: the output image taken when it started.
    std::shared_ptr<UploadContext> m_serverUpload;
    int m_pendingDriveCompletions = 0;
    bool m_uploadInFlight = false;

    std::optional<QString> m_saveError;
    std::optional<QString> m_technicalError;
    bool m_showCopiedTooltip = false;

    ImageEditorView* m_editor = nullptr;
    PreviewErrorBanner* m_serverBanner = nullptr;
    PreviewErrorBanner* m_errorBanner = nullptr;
    QWidget* m_indicator = nullptr;
    std::optional<platform::NotificationCenter::Token> m_actionObserver;
};
