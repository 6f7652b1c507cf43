// The video preview window: building it, its tool bar, the format switch, saving and "done". The
// uploads are in VideoPreviewWindowUploads.cpp.
#include "video/VideoPreviewWindow.h"

#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "cloud/APIClient.h"
#include "cloud/AuthManager.h"
#include "platform/Console.h"
#include "platform/FileWriteFailure.h"
#include "platform/MediaFrameReader.h"
#include "platform/UserDefaults.h"
#include "screenshots/PreviewToolbarItems.h"
#include "screenshots/ScreenshotHistoryManager.h"
#include "screenshots/ScreenshotToolbar.h"
#include "uploads/UploadFileNames.h"
#include "video/FileDialogVideoSavePanel.h"
#include "video/MessageBoxVideoAlertPresenter.h"
#include "video/VideoPlayerView.h"
#include "video/VideoProgressIndicator.h"
#include "video/VideoSuccessBanner.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMediaPlayer>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

#include <cerrno>
#include <cmath>

#include <unistd.h>

const QString VideoPreviewWindow::toolbarIdentifier = QStringLiteral("VideoToolbar");

namespace {

// The upload buttons' and the format segments' bezel; the chosen segment is lighter.
QString bezelStyle()
{
    return PreviewToolbarItems::bezelStyle + QStringLiteral("QPushButton:checked { background: rgba(255, 255, 255, 70); }");
}

} // namespace

VideoPreviewWindow::VideoPreviewWindow(const QString& videoURL, AppState* appState, ScreenshotHistoryManager* historyManager,
                                       RecentCapturesRefresher statusBarController, Environment environment, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_videoURL(videoURL)
    , m_appState(appState)
    , m_historyManager(historyManager)
    , m_statusBarController(std::move(statusBarController))
    , m_environment(std::move(environment))
{
    DebugLogger::shared().log(QStringLiteral("VideoPreviewWindow: init called with URL: ") + videoURL);
    if (!m_environment.savePanel)
        m_environment.savePanel = std::make_shared<FileDialogVideoSavePanel>();
    if (!m_environment.alerts)
        m_environment.alerts = std::make_shared<MessageBoxVideoAlertPresenter>();
    if (!m_environment.isCloudSignedIn)
        m_environment.isCloudSignedIn = [] { return AuthManager::shared().isAuthenticated(); };
    if (!m_environment.cloudClient)
        m_environment.cloudClient = []() -> APIClient& { return APIClient::shared(); };

    setObjectName(QStringLiteral("VideoPreviewWindow"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setPalette(PreviewToolbarItems::darkPalette());
    setAutoFillBackground(true);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_toolbar = new ScreenshotToolbar(this);
    m_toolbar->setObjectName(toolbarIdentifier);
    m_content = new QWidget(this);
    m_content->setObjectName(QStringLiteral("contentView"));
    auto* fill = new QVBoxLayout(m_content);
    fill->setContentsMargins(0, 0, 0, 0);
    m_playerView = new VideoPlayerView(m_content);
    fill->addWidget(m_playerView);
    m_content->installEventFilter(this);
    column->addWidget(m_toolbar);
    column->addWidget(m_content, 1);
    m_playerView->setSource(videoURL);

    // A file that cannot be read counts as 0 s: the title says so and no GIF is offered.
    if (auto reader = platform::MediaFrameReader::open(videoURL)) {
        const double duration = reader->duration();
        m_videoDuration = std::isfinite(duration) && duration > 0 ? duration : 0;
    }
    setWindowTitle(titleForDuration(m_videoDuration));

    resize(800, 600);
    setMinimumSize(600, 400);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect frame = screen->availableGeometry();
        move(frame.x() + (frame.width() - width()) / 2, frame.y() + (frame.height() - height()) / 2);
    }

    m_toolbarItems = new PreviewToolbarItems(&PreviewToolbarItems::darkPalette, bezelStyle(),
                                             {[this](UploadProvider provider) { runUploadAction(provider); },
                                              [this] { uploadWithLastProvider(); }},
                                             this);
    buildToolbar();
    if (m_appState)
        connect(m_appState, &AppState::serverSettingsChanged, this, &VideoPreviewWindow::followLastUsedProvider);
    // No copy item here: Ctrl+C stays free. Ctrl+U does what a click on the upload item does.
    PreviewToolbarItems::installKeys(this, {[this] { saveLocally(); }, {},
                                            [this] {
                                                const QList<UploadProvider>& providers = m_toolbarItems->providers();
                                                if (providers.size() == 1)
                                                    runUploadAction(providers.first());
                                                else if (!providers.isEmpty())
                                                    uploadWithLastProvider();
                                            },
                                            [this] { done(); }, [this] { close(); }});
    DebugLogger::shared().log(QStringLiteral("VideoPreviewWindow: init completed successfully"));
}

VideoPreviewWindow::~VideoPreviewWindow() = default;

GIFConverter::ConversionSettings VideoPreviewWindow::gifSettings()
{
    return GIFConverter::ConversionSettings{10, 800, 0, maxGIFDuration};
}

QString VideoPreviewWindow::titleForDuration(double duration)
{
    const long long seconds = std::isfinite(duration) && duration > 0 ? static_cast<long long>(std::trunc(duration)) : 0;
    return QStringLiteral("Видео (") + QString::number(seconds) + QStringLiteral(" сек)");
}

bool VideoPreviewWindow::offersGIF(double duration)
{
    return duration > 0 && duration <= maxGIFDuration;
}

void VideoPreviewWindow::release()
{
    m_released = true;
    releaseIfIdle();
}

void VideoPreviewWindow::releaseIfIdle()
{
    if (m_released && m_closed && m_runningTasks == 0)
        deleteLater();
}

void VideoPreviewWindow::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (!event->isAccepted())
        return;
    m_closed = true;
    // Playback ends with the window; the file stays.
    if (m_playerView)
        m_playerView->player()->pause();
    releaseIfIdle();
}

void VideoPreviewWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_closed = false;
}

bool VideoPreviewWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_content && event->type() == QEvent::Resize)
        layoutOverlays();
    return QWidget::eventFilter(watched, event);
}

void VideoPreviewWindow::layoutOverlays()
{
    if (!m_content)
        return;
    const QSize area = m_content->size();
    if (m_progressIndicator)
        m_progressIndicator->move((area.width() - m_progressIndicator->width()) / 2,
                                  (area.height() - m_progressIndicator->height()) / 2);
    for (VideoSuccessBanner* banner : m_content->findChildren<VideoSuccessBanner*>(QString(), Qt::FindDirectChildrenOnly))
        banner->move((area.width() - banner->width()) / 2, VideoSuccessBanner::topInset);
}

ServerSettings VideoPreviewWindow::currentSettings() const
{
    return m_appState ? m_appState->serverSettings() : ServerSettings{};
}

QString VideoPreviewWindow::formatText() const
{
    return m_selectedFormat == VideoExportFormat::gif ? QStringLiteral("GIF") : QStringLiteral("MP4");
}

// MARK: - Tool bar

QStringList VideoPreviewWindow::toolbarAllowedItemIdentifiers() const
{
    QStringList identifiers;
    if (offersGIF(m_videoDuration))
        identifiers << QStringLiteral("format");
    identifiers << QStringLiteral("save") << QStringLiteral("upload") << QStringLiteral("done") << ScreenshotToolbar::spaceIdentifier
                << ScreenshotToolbar::flexibleSpaceIdentifier;
    return identifiers;
}

QStringList VideoPreviewWindow::toolbarDefaultItemIdentifiers() const
{
    QStringList identifiers;
    if (offersGIF(m_videoDuration))
        identifiers << QStringLiteral("format") << ScreenshotToolbar::spaceIdentifier;
    identifiers << QStringLiteral("save") << ScreenshotToolbar::spaceIdentifier << QStringLiteral("upload")
                << ScreenshotToolbar::flexibleSpaceIdentifier << QStringLiteral("done");
    return identifiers;
}

void VideoPreviewWindow::buildToolbar()
{
    m_toolbar->setItems(toolbarDefaultItemIdentifiers(), [this](const QString& identifier) { return toolbarItem(identifier); });
}

QList<UploadProvider> VideoPreviewWindow::getAvailableProviders() const
{
    return PreviewToolbarItems::configuredProviders(currentSettings(),
                                                    m_environment.isCloudSignedIn && m_environment.isCloudSignedIn());
}

QWidget* VideoPreviewWindow::toolbarItem(const QString& identifier)
{
    if (identifier == QLatin1String("format")) {
        if (!offersGIF(m_videoDuration))
            return nullptr;
        auto* item = new QWidget;
        item->setObjectName(identifier);
        item->setAccessibleName(QStringLiteral("Формат"));
        item->setToolTip(QStringLiteral("Выбрать формат экспорта: MP4 или GIF"));
        item->setMinimumSize(100, 28);
        item->setMaximumSize(110, 28);
        auto* row = new QHBoxLayout(item);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(0);
        auto* group = new QButtonGroup(item);
        group->setExclusive(true);
        int index = 0;
        for (VideoExportFormat format : VideoExportFormats::allCases()) {
            auto* segment = new QPushButton(VideoExportFormats::rawValue(format), item);
            segment->setObjectName(QStringLiteral("segment") + VideoExportFormats::rawValue(format));
            segment->setCheckable(true);
            segment->setChecked(index == 0);
            segment->setFixedSize(50, 28);
            segment->setFocusPolicy(Qt::NoFocus);
            segment->setStyleSheet(bezelStyle());
            group->addButton(segment, index++);
            row->addWidget(segment);
        }
        connect(group, &QButtonGroup::idClicked, this, &VideoPreviewWindow::formatChanged);
        return item;
    }
    if (identifier == QLatin1String("save")) {
        auto* item = PreviewToolbarItems::saveItem(QStringLiteral("Сохранить видео на диск (Ctrl+S)"));
        connect(item, &QToolButton::clicked, this, &VideoPreviewWindow::saveLocally);
        return item;
    }
    if (identifier == QLatin1String("done")) {
        auto* item = PreviewToolbarItems::doneItem(QStringLiteral("Удалить временный файл и закрыть (Enter)"));
        connect(item, &QToolButton::clicked, this, &VideoPreviewWindow::done);
        return item;
    }
    if (identifier != QLatin1String("upload"))
        return nullptr;
    return m_toolbarItems->uploadItem(identifier, getAvailableProviders(), currentSettings().lastUsedUploadProvider);
}

QMenu* VideoPreviewWindow::providerMenu() const
{
    return m_toolbarItems->providerMenu();
}

const QList<UploadProvider>& VideoPreviewWindow::toolbarProviders() const
{
    return m_toolbarItems->providers();
}

void VideoPreviewWindow::followLastUsedProvider()
{
    m_toolbarItems->followLastUsedProvider(currentSettings().lastUsedUploadProvider);
}

void VideoPreviewWindow::showProviderMenu(QAbstractButton* sender)
{
    PreviewToolbarItems::showProviderMenu(sender);
}

void VideoPreviewWindow::uploadWithLastProvider()
{
    runUploadAction(m_toolbarItems->activeProvider(currentSettings().lastUsedUploadProvider));
}

void VideoPreviewWindow::runUploadAction(UploadProvider provider)
{
    switch (provider) {
    case UploadProvider::kestrovaCloud: uploadToKestrova(); return;
    case UploadProvider::ssh: uploadSSH(); return;
    case UploadProvider::yandexDisk: uploadYandex(); return;
    case UploadProvider::dropbox: uploadDropbox(); return;
    case UploadProvider::googleDrive: uploadGoogleDrive(); return;
    case UploadProvider::webdav: uploadWebDAV(); return;
    }
}

void VideoPreviewWindow::formatChanged(int selectedSegment)
{
    const QList<VideoExportFormat>& formats = VideoExportFormats::allCases();
    if (selectedSegment < 0 || selectedSegment >= formats.size())
        return;
    m_selectedFormat = formats[selectedSegment];
    DebugLogger::shared().log(QStringLiteral("VideoPreviewWindow: Format changed to ") + VideoExportFormats::rawValue(m_selectedFormat));
}

void VideoPreviewWindow::done()
{
    // A file already gone is no reason to keep the window.
    QFile::remove(m_videoURL);
    close();
}

// MARK: - Saving

void VideoPreviewWindow::saveLocally()
{
    const VideoExportFormat format = m_selectedFormat;
    VideoSavePanel::Options options;
    options.format = format;
    options.proposedName = QStringLiteral("Kestrova-") + UploadFileNames::secondsSince1970Text() + QLatin1Char('.')
                           + VideoExportFormats::fileExtension(format);
    QPointer<VideoPreviewWindow> self(this);
    m_environment.savePanel->begin(options, [self, format](const std::optional<QString>& path) {
        if (!self || !path)
            return;
        // Written in the format the panel offered and named: a switch of the format meanwhile does
        // not put a GIF into a ".mp4" file.
        if (format == VideoExportFormat::gif)
            self->saveAsGIF(*path);
        else
            self->saveAsMP4(*path);
    });
}

namespace {

// The user's words for a failed write with `errnoValue`: a full disk is named as such.
QString writeFailureText(int errnoValue)
{
    return platform::FileWriteFailure::reason(errnoValue).value_or(qt_error_string(errnoValue));
}

// Writes all of `size` bytes to `fd`; false with errno set when the file system refuses the rest.
bool writeAll(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0)
            errno = EIO; // nothing taken and no reason given
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// Copies `from` to `to`, replacing a file there (the save panel has asked about that already). The
// bytes go to a file beside `to` that is renamed over it once complete: a copy that fails half way
// (a full disk, a vanished recording) leaves what was at `to` as it was.
bool copyReplacing(const QString& from, const QString& to, QString* error)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = source.errorString();
        return false;
    }
    QSaveFile target(to);
    // Unbuffered, and written through its descriptor: Qt takes a write that the disk accepts only
    // in part for a success without an error, and its error kinds do not tell a full disk from
    // other failures; errno does.
    if (!target.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = target.errorString();
        return false;
    }
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 read = source.read(chunk.data(), chunk.size());
        if (read < 0) {
            *error = source.errorString();
            return false;
        }
        if (read == 0)
            break;
        if (!writeAll(target.handle(), chunk.constData(), read)) {
            *error = writeFailureText(errno);
            return false;
        }
    }
    if (!target.commit()) {
        *error = target.errorString();
        return false;
    }
    return true;
}

} // namespace

void VideoPreviewWindow::saveAsMP4(const QString& path)
{
    QString description;
    if (!copyReplacing(m_videoURL, path, &description)) {
        DebugLogger::shared().logErrorMessage(description);
        showError(QStringLiteral("Не удалось сохранить видео: ") + description);
        return;
    }
    platform::Console::printLine(QStringLiteral("Video saved to: ") + path);
    if (m_historyManager)
        m_historyManager->addVideo(path);
    refreshStatusMenu();
    close();
}

void VideoPreviewWindow::saveAsGIF(const QString& path)
{
    showProgressIndicator();
    auto converter = std::make_shared<GIFConverter>();
    m_gifConverter = converter;
    QPointer<VideoPreviewWindow> self(this);
    // The converter is held until its result arrives, even when a later save or upload replaces it here.
    converter->convertToGIF(m_videoURL, path, gifSettings(), [](double) {},
                            [self, converter, path](const GIFConverter::Result& result) {
                                if (!self)
                                    return;
                                self->hideProgressIndicator();
                                if (!result) {
                                    const QString description = result.error().errorDescription();
                                    DebugLogger::shared().logErrorMessage(description);
                                    self->showError(description);
                                    return;
                                }
                                if (self->m_historyManager)
                                    self->m_historyManager->addVideo(path);
                                self->refreshStatusMenu();
                                DebugLogger::shared().log(QStringLiteral("VideoPreviewWindow: GIF saved to ") + path);
                                self->close();
                            });
}

void VideoPreviewWindow::showError(const QString& text)
{
    presentAlert(QStringLiteral("Ошибка"), text, VideoAlertPresenter::Style::warning);
}

void VideoPreviewWindow::presentAlert(const QString& message, const QString& informative, VideoAlertPresenter::Style style)
{
    m_environment.alerts->present(this, VideoAlertPresenter::Alert{message, informative, style});
}

void VideoPreviewWindow::refreshStatusMenu()
{
    if (m_statusBarController)
        m_statusBarController(m_historyManager ? m_historyManager->screenshots() : QList<Screenshot>{});
}
