// The video preview window: building it, its tool bar, the format switch, saving and "done". The
// uploads are in VideoPreviewWindowUploads.cpp.
#include "video/VideoPreviewWindow.h"

#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "cloud/APIClient.h"
#include "cloud/AuthManager.h"
#include "platform/Console.h"
#include "platform/ImageAssets.h"
#include "platform/MediaFrameReader.h"
#include "platform/SystemColors.h"
#include "platform/UserDefaults.h"
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
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

const QString VideoPreviewWindow::toolbarIdentifier = QStringLiteral("VideoToolbar");

namespace {

const char* const kDropdownMenuProperty = "dropdownMenu";
constexpr double kToolbarSymbolSize = 20;

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(30, 30, 32);
    const QColor text(Qt::white);
    const QColor disabledText(255, 255, 255, 90);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(40, 40, 43));
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(58, 58, 62));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, text);
    palette.setColor(QPalette::Highlight, platform::SystemColors::accent());
    palette.setColor(QPalette::HighlightedText, text);
    palette.setColor(QPalette::ToolTipBase, QColor(50, 50, 54));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Light, QColor(80, 80, 84));
    palette.setColor(QPalette::Midlight, QColor(66, 66, 70));
    palette.setColor(QPalette::Mid, QColor(48, 48, 52));
    palette.setColor(QPalette::Dark, QColor(20, 20, 22));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    return palette;
}

QIcon iconOf(const std::optional<QImage>& image)
{
    return image ? QIcon(QPixmap::fromImage(*image)) : QIcon();
}

std::optional<QImage> toolbarSymbol(const QString& name, const QColor& tint, double opacity)
{
    auto image = platform::ImageAssets::named(name, kToolbarSymbolSize);
    if (!image)
        return std::nullopt;
    return ScreenshotToolbar::tinted(*image, tint, opacity);
}

QToolButton* iconItem(const QString& identifier, const QString& label, const QString& toolTip, const std::optional<QImage>& image)
{
    auto* button = new QToolButton;
    button->setObjectName(identifier);
    button->setText(label);
    button->setAccessibleName(label);
    button->setToolTip(toolTip);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(iconOf(image));
    button->setIconSize(QSize(int(kToolbarSymbolSize), int(kToolbarSymbolSize)));
    button->setFixedSize(32, 28);
    return button;
}

// The provider's image on an upload button: own server and WebDAV in their colour.
std::optional<QImage> buttonImage(UploadProvider provider)
{
    auto image = UploadProviders::getImage(provider, 14);
    if (image && (provider == UploadProvider::ssh || provider == UploadProvider::webdav))
        return ScreenshotToolbar::tinted(*image, UploadProviders::color(provider), 0.8);
    return image;
}

std::optional<QImage> menuImage(UploadProvider provider)
{
    auto image = UploadProviders::getImage(provider, 16);
    if (!image)
        return image;
    if (provider == UploadProvider::ssh)
        return ScreenshotToolbar::tinted(*image, platform::SystemColors::orange(), 1.0);
    if (provider == UploadProvider::webdav)
        return ScreenshotToolbar::tinted(*image, platform::SystemColors::gray(), 1.0);
    return image;
}

QString uploadToolTip(UploadProvider provider)
{
    return QStringLiteral("Загрузить в ") + UploadProviders::displayName(provider) + QStringLiteral(" (⌘U)");
}

const QString kBezelStyle = QStringLiteral(
    "QPushButton { color: white; background: rgba(255, 255, 255, 22); border: 1px solid rgba(255, 255, 255, 45);"
    " border-radius: 6px; padding: 0 6px; text-align: center; }"
    "QPushButton:hover { background: rgba(255, 255, 255, 34); }"
    "QPushButton:pressed { background: rgba(255, 255, 255, 14); }"
    "QPushButton:checked { background: rgba(255, 255, 255, 70); }");


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
    setPalette(darkPalette());
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

    buildToolbar();
    if (m_appState)
        connect(m_appState, &AppState::serverSettingsChanged, this, &VideoPreviewWindow::followLastUsedProvider);
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
    QList<UploadProvider> providers;
    if (m_environment.isCloudSignedIn && m_environment.isCloudSignedIn())
        providers.append(UploadProvider::kestrovaCloud);
    const ServerSettings settings = currentSettings();
    if (!settings.ftpHost.isEmpty())
        providers.append(UploadProvider::ssh);
    if (!settings.yandexAccessToken.isEmpty())
        providers.append(UploadProvider::yandexDisk);
    if (!settings.dropboxAccessToken.isEmpty())
        providers.append(UploadProvider::dropbox);
    if (!settings.googleDriveAccessToken.isEmpty())
        providers.append(UploadProvider::googleDrive);
    if (!settings.webdavURL.isEmpty())
        providers.append(UploadProvider::webdav);
    return providers;
}

UploadProvider VideoPreviewWindow::activeProvider(const QList<UploadProvider>& providers, UploadProvider lastUsed)
{
    if (providers.contains(lastUsed) || providers.isEmpty())
        return lastUsed;
    return providers.first();
}

QWidget* VideoPreviewWindow::toolbarItem(const QString& identifier)
{
    using platform::SystemColors;
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
            segment->setStyleSheet(kBezelStyle);
            group->addButton(segment, index++);
            row->addWidget(segment);
        }
        connect(group, &QButtonGroup::idClicked, this, &VideoPreviewWindow::formatChanged);
        return item;
    }
    if (identifier == QLatin1String("save")) {
        auto* item = iconItem(identifier, QStringLiteral("Сохранить"), QStringLiteral("Сохранить видео на диск (⌘S)"),
                              toolbarSymbol(QStringLiteral("square.and.arrow.down"), SystemColors::blue(), 0.7));
        connect(item, &QToolButton::clicked, this, &VideoPreviewWindow::saveLocally);
        return item;
    }
    if (identifier == QLatin1String("done")) {
        auto* item = iconItem(identifier, QStringLiteral("Готово"), QStringLiteral("Удалить временный файл и закрыть (⏎)"),
                              toolbarSymbol(QStringLiteral("checkmark.circle.fill"), SystemColors::green(), 0.7));
        connect(item, &QToolButton::clicked, this, &VideoPreviewWindow::done);
        return item;
    }
    if (identifier != QLatin1String("upload"))
        return nullptr;

    const QList<UploadProvider> providers = getAvailableProviders();
    m_toolbarProviders = providers;
    if (providers.isEmpty()) {
        auto* item = iconItem(identifier, QStringLiteral("Загрузить"), QStringLiteral("Настройте провайдер загрузки в настройках"),
                              // Untinted symbols take the bar's text colour.
                              platform::ImageAssets::symbol(QStringLiteral("icloud.slash"), kToolbarSymbolSize, Qt::white));
        item->setEnabled(false);
        return item;
    }
    if (providers.size() == 1) {
        const UploadProvider provider = providers.first();
        QPushButton* button = makeUploadButton(provider);
        button->setObjectName(identifier);
        button->setMinimumSize(110, 28);
        button->setMaximumSize(120, 28);
        button->resize(110, 28);
        connect(button, &QPushButton::clicked, this, [this, provider] { runUploadAction(provider); });
        return button;
    }
    const UploadProvider active = activeProvider(providers, currentSettings().lastUsedUploadProvider);
    // 130 x 28, inside the item's 120 to 140 points.
    QWidget* split = createSplitUploadButton(providers, active);
    split->setObjectName(identifier);
    return split;
}

QPushButton* VideoPreviewWindow::makeUploadButton(UploadProvider provider)
{
    auto* button = new QPushButton;
    styleUploadButton(button, provider);
    return button;
}

void VideoPreviewWindow::styleUploadButton(QPushButton* button, UploadProvider provider)
{
    QFont font = button->font();
    font.setPixelSize(12);
    font.setWeight(QFont::Medium);
    button->setFont(font);
    button->setText(QStringLiteral("Загрузить"));
    button->setAccessibleName(QStringLiteral("Загрузить"));
    button->setIcon(iconOf(buttonImage(provider)));
    button->setIconSize(QSize(14, 14));
    button->setToolTip(uploadToolTip(provider));
    button->setProperty("provider", UploadProviders::rawValue(provider));
    button->setFocusPolicy(Qt::NoFocus);
    button->setStyleSheet(kBezelStyle);
}

QWidget* VideoPreviewWindow::createSplitUploadButton(const QList<UploadProvider>& providers, UploadProvider activeProvider)
{
    auto* container = new QWidget;
    container->setFixedSize(130, 28);

    QPushButton* main = makeUploadButton(activeProvider);
    main->setParent(container);
    main->setObjectName(QStringLiteral("uploadMain"));
    main->setGeometry(0, 0, 105, 28);
    connect(main, &QPushButton::clicked, this, &VideoPreviewWindow::uploadWithLastProvider);

    auto* arrow = new QPushButton(container);
    arrow->setObjectName(QStringLiteral("uploadArrow"));
    arrow->setGeometry(105, 0, 25, 28);
    arrow->setAccessibleName(QStringLiteral("Выбрать"));
    arrow->setToolTip(QStringLiteral("Выбрать хранилище"));
    arrow->setFocusPolicy(Qt::NoFocus);
    arrow->setStyleSheet(kBezelStyle);
    if (auto chevron = platform::ImageAssets::symbol(QStringLiteral("chevron.down"), 9, Qt::white))
        arrow->setIcon(QIcon(QPixmap::fromImage(*chevron)));
    arrow->setIconSize(QSize(9, 9));
    connect(arrow, &QPushButton::clicked, this, [this, arrow] { showProviderMenu(arrow); });

    // Owned by the arrow button, whose menu it is.
    auto* menu = new QMenu(arrow);
    menu->setPalette(darkPalette());
    for (UploadProvider provider : providers) {
        QAction* action = menu->addAction(iconOf(menuImage(provider)), UploadProviders::displayName(provider));
        action->setCheckable(true);
        action->setChecked(provider == activeProvider);
        action->setData(UploadProviders::rawValue(provider));
        connect(action, &QAction::triggered, this, [this, provider] { runUploadAction(provider); });
    }
    arrow->setProperty(kDropdownMenuProperty, QVariant::fromValue<QObject*>(menu));

    m_splitMainButton = main;
    m_providerMenu = menu;
    return container;
}

void VideoPreviewWindow::followLastUsedProvider()
{
    // What the main half shows is where its click sends the recording.
    if (!m_splitMainButton)
        return;
    const UploadProvider active = activeProvider(m_toolbarProviders, currentSettings().lastUsedUploadProvider);
    if (m_splitMainButton->property("provider").toString() != UploadProviders::rawValue(active))
        styleUploadButton(m_splitMainButton, active);
    if (m_providerMenu)
        for (QAction* action : m_providerMenu->actions())
            action->setChecked(action->data().toString() == UploadProviders::rawValue(active));
}

void VideoPreviewWindow::showProviderMenu(QAbstractButton* sender)
{
    if (!sender)
        return;
    auto* menu = qobject_cast<QMenu*>(sender->property(kDropdownMenuProperty).value<QObject*>());
    if (!menu)
        return;
    menu->popup(sender->mapToGlobal(QPoint(0, sender->height() + 2)));
}

void VideoPreviewWindow::uploadWithLastProvider()
{
    runUploadAction(activeProvider(m_toolbarProviders, currentSettings().lastUsedUploadProvider));
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

void VideoPreviewWindow::saveAsMP4(const QString& path)
{
    QFile source(m_videoURL);
    // QFile::copy never replaces an existing file.
    if (!source.copy(path)) {
        const QString description = source.errorString();
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
