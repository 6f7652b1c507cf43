#include "shell/StatusBarController.h"

#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "app/HotKeyManager.h"
#include "app/Localization.h"
#include "shell/SettingsWindowController.h"
#include "cloud/AuthManager.h"
#include "platform/Application.h"
#include "platform/ImageAssets.h"
#include "platform/NotificationCenter.h"
#include "screenshots/ScreenshotHistoryManager.h"
#include "video/VideoPreviewWindow.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QProxyStyle>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

const QString kRecentTitle = QStringLiteral("Последние скриншоты");
const QString kCloudMark = QStringLiteral("\u2601\uFE0F ");
constexpr double kThumbnailPoints = 32;
constexpr double kIconPoints = 18;
// How often the launch looks for a system tray while it waits for one.
constexpr int kTrayPollMilliseconds = 100;

const char* const kTagProperty = "tag";

std::mutex trayProbeMutex;
std::function<bool()>& trayProbe()
{
    static std::function<bool()> probe;
    return probe;
}

// Menu rows as tall as their 32-point thumbnails.
class ThumbnailMenuStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_SmallIconSize)
            return static_cast<int>(kThumbnailPoints);
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

QStyle* thumbnailMenuStyle()
{
    // Never deleted: menus waiting for deferred deletion may still refer to it at exit.
    static QStyle* style = new ThumbnailMenuStyle;
    return style;
}

QString hotKeySuffix(const QString& hotkey)
{
    return hotkey.isEmpty() ? QString() : QStringLiteral(" (") + HotKeyManager::displayText(hotkey) + QLatin1Char(')');
}

// The tray icon at the sizes trays ask for; XEmbed trays scale whatever they get to their height.
QIcon trayIcon(bool* usedFallback)
{
    const bool named = platform::ImageAssets::exists(QStringLiteral("StatusBarIcon"));
    *usedFallback = !named;
    QIcon icon;
    for (int pixels : {16, 22, 24, 32, 36, 48}) {
        const double points = pixels / 2.0;
        std::optional<QImage> image = named
            ? platform::ImageAssets::named(QStringLiteral("StatusBarIcon"), points)
            // A one-colour glyph, light for the dark panels most trays sit on.
            : platform::ImageAssets::symbol(QStringLiteral("camera.fill"), points, QColor(242, 242, 247));
        if (!image)
            continue;
        image->setDevicePixelRatio(1.0);
        icon.addPixmap(QPixmap::fromImage(*image));
    }
    return icon;
}

} // namespace

StatusBarController::StatusBarController(AppState* appState, QObject* parent)
    : QObject(parent)
    , m_appState(appState)
    , m_authManager(&AuthManager::shared())
    , m_settingsWindowController(std::make_unique<SettingsWindowController>(appState))
{
    setupStatusBar();
}

StatusBarController::~StatusBarController()
{
    // The icon leaves the tray before its menu goes.
    if (m_statusItem) {
        m_statusItem->hide();
        m_statusItem->setContextMenu(nullptr);
    }
    m_statusItem.reset();
    m_menu.reset();
}

void StatusBarController::setTrayAvailabilityProbeForTesting(std::function<bool()> probe)
{
    std::lock_guard lock(trayProbeMutex);
    trayProbe() = std::move(probe);
}

bool StatusBarController::isTrayAvailable()
{
    {
        std::lock_guard lock(trayProbeMutex);
        if (trayProbe())
            return trayProbe()();
    }
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void StatusBarController::setupStatusBar()
{
    m_statusItem = std::make_unique<QSystemTrayIcon>();
    bool fallback = false;
    m_statusItem->setIcon(trayIcon(&fallback));
    m_statusItem->setToolTip(QStringLiteral("Kestrova"));
    // A left click opens the menu as well; the tray itself opens it on a right click.
    connect(m_statusItem.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            popUpMenu(QCursor::pos());
    });
    setMenu(createMenu());
    m_statusItem->show();
    watchTrayAvailability();
}

void StatusBarController::watchTrayAvailability()
{
    if (isTrayAvailable())
        return;
    // Trays often start together with the session: give one a moment to appear.
    auto* poll = new QTimer(this);
    poll->setInterval(kTrayPollMilliseconds);
    QElapsedTimer waited;
    waited.start();
    connect(poll, &QTimer::timeout, this, [this, poll, waited] {
        if (isTrayAvailable()) {
            poll->deleteLater();
            return;
        }
        if (waited.elapsed() < trayWaitMilliseconds)
            return;
        poll->deleteLater();
        DebugLogger::shared().log(
            QStringLiteral("No system tray available; opening the settings window so that Kestrova stays reachable"));
        openSettings();
    });
    poll->start();
}

std::unique_ptr<QMenu> StatusBarController::createMenu()
{
    auto menu = std::make_unique<QMenu>();
    const ServerSettings& settings = m_appState->serverSettings();

    QMenu* screenshot = menu->addMenu(QStringLiteral("Скриншот"));
    connect(screenshot->addAction(QStringLiteral("Выбранная область") + hotKeySuffix(settings.screenshotHotkey)),
            &QAction::triggered, this, &StatusBarController::captureScreen);
    connect(screenshot->addAction(QStringLiteral("Весь экран") + hotKeySuffix(settings.fullScreenHotkey)),
            &QAction::triggered, this, &StatusBarController::captureFullScreen);
    menu->addSeparator();

    connect(menu->addAction(QStringLiteral("Запись экрана") + hotKeySuffix(settings.screenRecordingHotkey)),
            &QAction::triggered, this, &StatusBarController::startScreenRecording);
    menu->addSeparator();

    QMenu* recent = menu->addMenu(kRecentTitle);
    recent->setStyle(thumbnailMenuStyle());
    menu->addSeparator();

    QAction* settingsItem = menu->addAction(QStringLiteral("Настройки"));
    settingsItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(settingsItem, &QAction::triggered, this, &StatusBarController::openSettings);
    menu->addSeparator();

    QAction* quitItem = menu->addAction(QStringLiteral("Выход"));
    quitItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quitItem, &QAction::triggered, this, &StatusBarController::quit);
    return menu;
}

void StatusBarController::setMenu(std::unique_ptr<QMenu> menu)
{
    if (m_menu) {
        // It may be open, or be handling the action that led here.
        m_menu->hide();
        m_menu.release()->deleteLater();
    }
    m_menu = std::move(menu);
    if (m_statusItem)
        m_statusItem->setContextMenu(m_menu.get());
}

void StatusBarController::popUpMenu(const QPoint& globalPosition)
{
    if (m_statusItem && m_menu)
        m_menu->popup(globalPosition);
}

void StatusBarController::captureScreen()
{
    platform::NotificationCenter::defaultCenter().post(NotificationName::captureScreenHotKey);
}

void StatusBarController::captureFullScreen()
{
    platform::NotificationCenter::defaultCenter().post(NotificationName::captureFullScreenHotKey);
}

void StatusBarController::startScreenRecording()
{
    platform::NotificationCenter::defaultCenter().post(NotificationName::startScreenRecordingHotKey);
}

void StatusBarController::openSettings()
{
    if (m_settingsWindowController)
        m_settingsWindowController->showSettings();
}

void StatusBarController::quit()
{
    // Leaves the main loop; the delegate's shutdown sequence runs from there.
    QCoreApplication::exit(0);
}

QAction* StatusBarController::addEntryAction(QMenu* menu, const QString& title, const Screenshot& entry, int tag,
                                             void (StatusBarController::*action)(QAction*))
{
    QAction* item = menu->addAction(title);
    item->setData(QVariant::fromValue(entry.id));
    item->setProperty(kTagProperty, tag);
    connect(item, &QAction::triggered, this, [this, item, action] { (this->*action)(item); });
    return item;
}

void StatusBarController::updateRecentScreenshots(const QList<Screenshot>& screenshots)
{
    if (!m_statusItem || !m_menu)
        return;
    const QList<QAction*> topLevel = m_menu->actions();
    const auto found = std::find_if(topLevel.begin(), topLevel.end(),
                                    [](const QAction* action) { return action->text() == kRecentTitle; });
    if (found == topLevel.end() || !(*found)->menu())
        return;
    QMenu* recent = (*found)->menu();

    // Old items go once idle: this may run while one of them is being handled.
    const QList<QAction*> old = recent->actions();
    for (QAction* action : old) {
        recent->removeAction(action);
        if (QMenu* submenu = action->menu())
            submenu->deleteLater();
        action->deleteLater();
    }

    if (screenshots.isEmpty()) {
        QAction* placeholder = recent->addAction(QStringLiteral("Здесь появятся ваши последние скриншоты"));
        placeholder->setEnabled(false);
        return;
    }

    for (int index = 0; index < screenshots.size(); ++index) {
        const Screenshot& entry = screenshots[index];
        const QString title = (entry.remoteURL ? kCloudMark : QString()) + entry.displayName();
        QAction* item = addEntryAction(recent, title, entry, index, &StatusBarController::openScreenshotAtIndex);
        item->setIcon(QIcon(QPixmap::fromImage(createThumbnail(entry.image, QSizeF(kThumbnailPoints, kThumbnailPoints)))));

        auto* actions = new QMenu(recent);
        addEntryAction(actions, QStringLiteral("Открыть"), entry, index, &StatusBarController::openScreenshotAtIndex);
        addEntryAction(actions, QStringLiteral("Копировать"), entry, index, &StatusBarController::copyScreenshotAtIndex);
        if (entry.remoteURL)
            addEntryAction(actions, QStringLiteral("Копировать ссылку"), entry, index, &StatusBarController::copyURLAtIndex);
        addEntryAction(actions, L::text(QStringLiteral("Показать в папке"), QStringLiteral("Show in Folder")), entry, index,
                       &StatusBarController::revealScreenshotAtIndex);
        actions->addSeparator();
        addEntryAction(actions, QStringLiteral("Удалить"), entry, index, &StatusBarController::deleteScreenshotAtIndex);
        item->setMenu(actions);
    }
}

std::optional<Screenshot> StatusBarController::entryFor(QAction* item) const
{
    if (!item || !historyManager)
        return std::nullopt;
    const QUuid id = item->data().value<QUuid>();
    if (id.isNull())
        return std::nullopt;
    for (const Screenshot& entry : historyManager->screenshots())
        if (entry.id == id)
            return entry;
    return std::nullopt;
}

std::optional<QUrl> StatusBarController::browserURL(const std::optional<QString>& remoteURL)
{
    if (!remoteURL || remoteURL->isEmpty())
        return std::nullopt;
    const QUrl url(*remoteURL, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty())
        return std::nullopt;
    return url;
}

void StatusBarController::openScreenshotAtIndex(QAction* item)
{
    const std::optional<Screenshot> entry = entryFor(item);
    if (!entry)
        return;
    if (const std::optional<QUrl> url = browserURL(entry->remoteURL)) {
        QDesktopServices::openUrl(*url);
        return;
    }
    if (!entry->isVideo) {
        historyManager->openScreenshot(*entry);
        return;
    }
    if (entry->videoURL)
        openVideoPreview(*entry->videoURL);
}

void StatusBarController::openVideoPreview(const QString& videoURL)
{
    // Nobody keeps this window: it lives while it is shown (and while an upload of it finishes).
    auto* window = new VideoPreviewWindow(videoURL, m_appState, historyManager.data(), recentCapturesRefresher());
    window->show();
    window->raise();
    window->activateWindow();
    window->release();
    platform::Application::shared().activateIgnoringOtherApps();
}

void StatusBarController::copyScreenshotAtIndex(QAction* item)
{
    if (const std::optional<Screenshot> entry = entryFor(item))
        historyManager->copyScreenshotToClipboard(*entry);
}

void StatusBarController::copyURLAtIndex(QAction* item)
{
    const std::optional<Screenshot> entry = entryFor(item);
    if (!entry || !entry->remoteURL)
        return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(*entry->remoteURL);
}

void StatusBarController::revealScreenshotAtIndex(QAction* item)
{
    if (const std::optional<Screenshot> entry = entryFor(item))
        historyManager->revealScreenshotInFinder(*entry);
}

void StatusBarController::deleteScreenshotAtIndex(QAction* item)
{
    const std::optional<Screenshot> entry = entryFor(item);
    if (!entry)
        return;
    historyManager->removeScreenshot(*entry);
    // Rebuilt once the menu is done with the item being handled: the rebuild discards that item.
    QTimer::singleShot(0, this, [this] {
        if (historyManager)
            updateRecentScreenshots(historyManager->screenshots());
    });
}

QImage StatusBarController::createThumbnail(const QImage& image, const QSizeF& size, qreal devicePixelRatio)
{
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QImage thumbnail(std::max(1, static_cast<int>(std::ceil(size.width() * ratio))),
                     std::max(1, static_cast<int>(std::ceil(size.height() * ratio))), QImage::Format_ARGB32_Premultiplied);
    thumbnail.fill(Qt::transparent);
    thumbnail.setDevicePixelRatio(ratio);
    const QSizeF source = image.deviceIndependentSize();
    if (image.isNull() || source.width() <= 0 || source.height() <= 0)
        return thumbnail;
    const qreal f = std::min(size.width() / source.width(), size.height() / source.height());
    const QSizeF drawn(source.width() * f, source.height() * f);
    const QRectF target(QPointF((size.width() - drawn.width()) * 0.5, (size.height() - drawn.height()) * 0.5), drawn);
    QPainter painter(&thumbnail);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(target, image);
    return thumbnail;
}

RecentCapturesRefresher StatusBarController::recentCapturesRefresher()
{
    return [bar = QPointer<StatusBarController>(this)](const QList<Screenshot>& screenshots) {
        if (bar)
            bar->updateRecentScreenshots(screenshots);
    };
}
