#pragma once

#include "app/UploadProvider.h"
#include "platform/AppError.h"
#include "platform/ProcessRunner.h"
#include "screenshots/ScreenshotPreviewWindowController.h"
#include "video/GIFConverter.h"
#include "video/VideoAlertPresenter.h"
#include "video/VideoExportFormat.h"
#include "video/VideoProgressIndicator.h"
#include "video/VideoSavePanel.h"
#include "video/VideoSuccessBanner.h"

#include <QByteArray>
#include <QList>
#include <QMenu>
#include <QPushButton>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <source_location>

class APIClient;
class AppState;
class PreviewToolbarItems;
class QAbstractButton;
class ScreenshotHistoryManager;
class ScreenshotToolbar;
class VideoPlayerView;

// The preview of one finished recording: a player, and a tool bar with the export format (MP4 or,
// for recordings of at most 30 s, GIF), saving to a file, uploading to one of the configured
// providers, and "done", which deletes the recording and closes the window. A saved copy or an
// uploaded recording goes into the capture history and the status menu is refreshed.
//
// Built hidden; the caller shows it. Closing it keeps the recording and the window; release()
// gives it up, and it deletes itself once closed and no cloud or own-server upload needs it any
// more (those finish and file their link even after the window was closed). GUI thread only.
class VideoPreviewWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr double maxGIFDuration = 30.0;
    static const QString toolbarIdentifier; // "VideoToolbar"
    // How long the banner of a finished upload shows before the window closes.
    static constexpr int closeAfterUploadMs = 800;

    // What the window reaches of the outside world; parts left empty are the real ones.
    struct Environment {
        std::shared_ptr<VideoSavePanel> savePanel;
        std::shared_ptr<VideoAlertPresenter> alerts;
        // Whether the cloud account is signed in (AuthManager::shared()).
        std::function<bool()> isCloudSignedIn;
        // The cloud client uploads go through (APIClient::shared()).
        std::function<APIClient&()> cloudClient;
    };

    VideoPreviewWindow(const QString& videoURL, AppState* appState, ScreenshotHistoryManager* historyManager,
                       RecentCapturesRefresher statusBarController, Environment environment = {}, QWidget* parent = nullptr);
    ~VideoPreviewWindow() override;

    // The owner gives the window up: it deletes itself as soon as it is closed and idle.
    void release();

    // State.
    const QString& videoURL() const { return m_videoURL; }
    bool isUploading() const { return m_isUploading; }
    VideoExportFormat selectedFormat() const { return m_selectedFormat; }
    double videoDuration() const { return m_videoDuration; }
    GIFConverter* gifConverter() const { return m_gifConverter.get(); }
    VideoProgressIndicator* progressIndicator() const { return m_progressIndicator; }
    VideoSuccessBanner* successBanner() const { return m_successBanner; }
    VideoPlayerView* playerView() const { return m_playerView; }
    ScreenshotToolbar* toolbar() const { return m_toolbar; }
    // The split button's provider menu, when the tool bar has one.
    QMenu* providerMenu() const;
    // The providers the tool bar was built with.
    const QList<UploadProvider>& toolbarProviders() const;

    // "Видео (12 сек)": the duration truncated to whole seconds.
    static QString titleForDuration(double duration);
    // What every GIF of the window is made with: 10 frames a second, at most 800 x 800, looping for
    // ever, from recordings of at most 30 s.
    static GIFConverter::ConversionSettings gifSettings();
    // Whether a recording of `duration` seconds may be exported as a GIF: 0 < duration <= 30.
    static bool offersGIF(double duration);

    // Tool bar.
    QStringList toolbarAllowedItemIdentifiers() const;
    QStringList toolbarDefaultItemIdentifiers() const;
    // The item widget for `identifier`, or null for an identifier outside the table.
    QWidget* toolbarItem(const QString& identifier);
    // The providers offered for upload, in case order, by the current settings and account.
    QList<UploadProvider> getAvailableProviders() const;

    // Tool bar actions.
    void formatChanged(int selectedSegment);
    void saveLocally();
    void uploadWithLastProvider();
    void showProviderMenu(QAbstractButton* sender);
    void uploadToKestrova();
    void uploadSSH();
    void uploadYandex();
    void uploadDropbox();
    void uploadGoogleDrive();
    void uploadWebDAV();
    void done();

    // Saving.
    void saveAsMP4(const QString& path);
    void saveAsGIF(const QString& path);
    void showError(const QString& text);

    // Uploads: the prologue, then the payload and the transfer.
    void performKestrovaUpload();
    void performSSHUpload();
    void performYandexUpload();
    void showProgressIndicator();
    void showSuccessBanner();

    // The own-server upload's link: the Base URL less one trailing "/", "/" + the last name of the
    // directory when that is not empty, then "/" + the file name.
    static QString ownServerLink(const ServerSettings& settings, const QString& fileName);
    // "video-" + seconds since 1970 + ".mp4" or ".gif".
    static QString uploadName(VideoExportFormat format);
    // The error of a failed curl run: domain "FTPUpload", curl's status, curl's message.
    static platform::AppError curlError(const platform::ProcessResult& result);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Payload {
        QByteArray data;
        QString name;
    };
    // Why no payload: the error, and whether it came from making the GIF (not from reading the MP4).
    struct PayloadFailure {
        platform::AppError error;
        bool duringGIF = false;
    };
    using PayloadDone = std::function<void(const std::optional<Payload>&, const std::optional<PayloadFailure>&)>;

    void buildToolbar();
    void followLastUsedProvider();
    void runUploadAction(UploadProvider provider);
    void layoutOverlays();

    void beginUpload(UploadProvider provider, const QString& firstMessage,
                     std::source_location where = std::source_location::current());
    // Reads the MP4, or makes and reads the GIF; `gifSizeLine` is the line logged after a GIF
    // ("... size: " + count + " bytes"). Runs `done` on this window's thread, once.
    void preparePayload(const QString& gifSizeLine, PayloadDone done, std::source_location where = std::source_location::current());
    void hideProgressIndicator();
    void finishUploadWithSuccess(const std::optional<QString>& link, bool putLinkOnClipboard);
    void finishUploadWithFailure(const QString& localizedDescription);
    void endTask();
    void releaseIfIdle();
    void refreshStatusMenu();
    void presentAlert(const QString& message, const QString& informative, VideoAlertPresenter::Style style);
    void rememberUnsupportedProvider(UploadProvider provider);
    ServerSettings currentSettings() const;
    QString formatText() const;

    const QString m_videoURL;
    QPointer<AppState> m_appState;
    bool m_isUploading = false;
    QPointer<VideoProgressIndicator> m_progressIndicator;
    QPointer<VideoSuccessBanner> m_successBanner;
    QPointer<ScreenshotHistoryManager> m_historyManager;
    RecentCapturesRefresher m_statusBarController;
    VideoExportFormat m_selectedFormat = VideoExportFormat::mp4;
    std::shared_ptr<GIFConverter> m_gifConverter;
    double m_videoDuration = 0;

    Environment m_environment;
    QWidget* m_content = nullptr;
    VideoPlayerView* m_playerView = nullptr;
    ScreenshotToolbar* m_toolbar = nullptr;
    // The upload item's providers and split button, which follow the last used provider.
    PreviewToolbarItems* m_toolbarItems = nullptr;
    // Cloud and own-server uploads under way: they keep a released window alive until they end.
    int m_runningTasks = 0;
    bool m_released = false;
    // Not on screen: never shown yet, or closed since.
    bool m_closed = true;
};
