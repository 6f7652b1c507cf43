#include "screenshots/ScreenshotPreviewWindowController.h"

#include "app/AppState.h"
#include "platform/Application.h"
#include "platform/Console.h"
#include "platform/ImageAssets.h"
#include "platform/NotificationCenter.h"
#include "platform/SystemColors.h"
#include "platform/UserDefaults.h"
#include "screenshots/ScreenshotHistoryManager.h"

#include <QAbstractButton>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

const QString ScreenshotPreviewWindowController::actionNotification = QStringLiteral("screenshotAction");

namespace {

const char* const kDropdownMenuProperty = "dropdownMenu";
constexpr double kToolbarSymbolSize = 20;
// The design's teal in the dark appearance.
const QColor kSystemTeal(64, 200, 224);

void printLine(const QString& text)
{
    platform::Console::printLine(QStringLiteral("ScreenshotPreviewWindowController: ") + text);
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(30, 30, 32);
    const QColor base(40, 40, 43);
    const QColor text(Qt::white);
    const QColor disabledText(255, 255, 255, 90);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(58, 58, 62));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, text);
    palette.setColor(QPalette::Highlight, platform::SystemColors::accent());
    palette.setColor(QPalette::HighlightedText, text);
    palette.setColor(QPalette::ToolTipBase, QColor(50, 50, 54));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, disabledText);
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

// A tool bar symbol tinted the way the bar's items are: the symbol covered by `tint` at `opacity`.
std::optional<QImage> toolbarSymbol(const QString& name, const QColor& tint, double opacity)
{
    auto image = platform::ImageAssets::named(name, kToolbarSymbolSize);
    if (!image)
        return std::nullopt;
    return ScreenshotToolbar::tinted(*image, tint, opacity);
}

QToolButton* iconItem(const QString& identifier, const QString& label, const QString& toolTip,
                      const std::optional<QImage>& image)
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

// The provider's image as its upload buttons show it: own server and WebDAV in their colour.
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
    "QPushButton:pressed { background: rgba(255, 255, 255, 14); }");

} // namespace

ScreenshotPreviewWindowController::ScreenshotPreviewWindowController(AppState* appState, ScreenshotHistoryManager* historyManager,
                                                                     RecentCapturesRefresher statusBarController, QObject* parent)
    : QObject(parent)
    , m_appState(appState)
    , m_historyManager(historyManager)
    , m_statusBarController(std::move(statusBarController))
{
    if (appState)
        connect(appState, &AppState::serverSettingsChanged, this, &ScreenshotPreviewWindowController::followLastUsedProvider);
}

ScreenshotPreviewWindowController::~ScreenshotPreviewWindowController()
{
    delete m_window.data();
}

QSizeF ScreenshotPreviewWindowController::contentSize(const QSizeF& imageSize, const std::optional<QRectF>& visibleFrame)
{
    const double maxWidth = visibleFrame ? 0.7 * visibleFrame->width() : 1344;
    const double maxHeight = visibleFrame ? 0.7 * visibleFrame->height() - chromeHeight : 688;
    // Shrunk to fit, never enlarged.
    const double scale = std::max(0.0, std::min({maxWidth / imageSize.width(), maxHeight / imageSize.height(), 1.0}));
    return {imageSize.width() * scale, imageSize.height() * scale + chromeHeight};
}

QString ScreenshotPreviewWindowController::windowTitle(const QSizeF& imageSize)
{
    return QStringLiteral("Скриншот — ") + QString::number(static_cast<long long>(imageSize.width())) + QStringLiteral("×")
        + QString::number(static_cast<long long>(imageSize.height()));
}

void ScreenshotPreviewWindowController::showPreview(const QImage& image)
{
    if (!m_isShowingPreview && !m_window) {
        ++m_showGeneration;
        createAndShowPreviewWindow(image);
        return;
    }
    printLine(QStringLiteral("Force closing existing preview window before creating new one"));
    closeWindow();
    const quint64 generation = ++m_showGeneration;
    QTimer::singleShot(replaceDelayMs, this, [this, image, generation] {
        if (generation == m_showGeneration)
            createAndShowPreviewWindow(image);
    });
}

void ScreenshotPreviewWindowController::createAndShowPreviewWindow(const QImage& image)
{
    m_isShowingPreview = true;
    if (m_appState) {
        m_appState->setAnnotations({});
        m_appState->setCapturedImage(image);
        m_appState->setIsEditing(true);
    }

    const QSizeF imageSize = image.deviceIndependentSize();
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setObjectName(QStringLiteral("ScreenshotPreviewWindow"));
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->setWindowTitle(windowTitle(imageSize));
    window->setPalette(darkPalette());
    window->setAutoFillBackground(true);
    m_window = window;

    auto* column = new QVBoxLayout(window);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_toolbar = new ScreenshotToolbar(window);
    m_toolbar->setItems(toolbarDefaultItemIdentifiers(), [this](const QString& identifier) { return toolbarItem(identifier); });
    m_view = new ScreenshotPreviewView(image, m_appState, m_historyManager, m_statusBarController, this, m_services,
                                       m_viewEnvironment, window);
    column->addWidget(m_toolbar);
    column->addWidget(m_view, 1);
    window->setMinimumSize(300, 200);

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSizeF content = contentSize(imageSize, screen ? std::optional<QRectF>(screen->availableGeometry()) : std::nullopt);
    const QSize size(static_cast<int>(std::lround(content.width())), static_cast<int>(std::lround(content.height())));
    window->resize(size);
    if (screen) {
        const QRect frame = screen->geometry();
        window->move(frame.x() + (frame.width() - size.width()) / 2, frame.y() + (frame.height() - size.height()) / 2);
    }

    window->show();
    window->raise();
    window->activateWindow();
    window->installEventFilter(this);

    auto& application = platform::Application::shared();
    application.setActivationPolicy(platform::ActivationPolicy::regular);
    application.activateIgnoringOtherApps();
}

void ScreenshotPreviewWindowController::clearScreenshotState()
{
    if (m_appState) {
        m_appState->setCapturedImage(QImage());
        m_appState->setIsEditing(false);
        m_appState->setAnnotations({});
    }
    m_isShowingPreview = false;
    platform::Application::shared().setActivationPolicy(platform::ActivationPolicy::accessory);
}

void ScreenshotPreviewWindowController::closeWindow()
{
    printLine(QStringLiteral("closeWindow() called, isShowingPreview=") + boolText(m_isShowingPreview)
              + QStringLiteral(", window=") + boolText(!m_window.isNull()));
    // A replacement still waiting for its 0.05 s does not open after this.
    ++m_showGeneration;
    if (QWidget* window = m_window) {
        window->removeEventFilter(this);
        if (m_view)
            m_view->stopObservingActions();
        window->hide();
        window->close();
        // Later: the view closing its own window is still on the stack.
        window->deleteLater();
        m_window = nullptr;
    }
    m_view = nullptr;
    m_toolbar = nullptr;
    m_splitMainButton = nullptr;
    m_providerMenu = nullptr;
    m_toolbarProviders.clear();
    clearScreenshotState();
}

void ScreenshotPreviewWindowController::closeWindowIfShowing(const QWidget* window)
{
    if (window && window == m_window && m_isShowingPreview)
        closeWindow();
}

bool ScreenshotPreviewWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Close)
        windowWillClose();
    return QObject::eventFilter(watched, event);
}

void ScreenshotPreviewWindowController::windowWillClose()
{
    // Closed from its title bar: the window is kept until the next closeWindow().
    if (m_view)
        m_view->stopObservingActions();
    clearScreenshotState();
}

QList<UploadProvider> ScreenshotPreviewWindowController::getAvailableProviders() const
{
    QList<UploadProvider> providers;
    if (m_services.account && m_services.account->isAuthenticated())
        providers.append(UploadProvider::kestrovaCloud);
    const ServerSettings settings = m_appState ? m_appState->serverSettings() : ServerSettings{};
    // A provider whose uploader this build does not have is not offered.
    if (!settings.ftpHost.isEmpty() && m_services.makeOwnServerUploader)
        providers.append(UploadProvider::ssh);
    if (!settings.yandexAccessToken.isEmpty() && m_services.makeYandexUploader)
        providers.append(UploadProvider::yandexDisk);
    if (!settings.dropboxAccessToken.isEmpty())
        providers.append(UploadProvider::dropbox);
    if (!settings.googleDriveAccessToken.isEmpty())
        providers.append(UploadProvider::googleDrive);
    if (!settings.webdavURL.isEmpty())
        providers.append(UploadProvider::webdav);
    return providers;
}

UploadProvider ScreenshotPreviewWindowController::activeProvider(const QList<UploadProvider>& providers, UploadProvider lastUsed)
{
    if (providers.contains(lastUsed) || providers.isEmpty())
        return lastUsed;
    return providers.first();
}

QStringList ScreenshotPreviewWindowController::toolbarDefaultItemIdentifiers()
{
    return {QStringLiteral("save"), QStringLiteral("copy"), ScreenshotToolbar::spaceIdentifier, QStringLiteral("upload"),
            ScreenshotToolbar::flexibleSpaceIdentifier, QStringLiteral("done")};
}

QStringList ScreenshotPreviewWindowController::toolbarAllowedItemIdentifiers()
{
    return {QStringLiteral("save"), QStringLiteral("copy"), QStringLiteral("upload"), QStringLiteral("done"),
            ScreenshotToolbar::spaceIdentifier, ScreenshotToolbar::flexibleSpaceIdentifier};
}

QWidget* ScreenshotPreviewWindowController::toolbarItem(const QString& identifier)
{
    using platform::SystemColors;
    if (identifier == QLatin1String("save")) {
        auto* item = iconItem(identifier, QStringLiteral("Сохранить"), QStringLiteral("Сохранить скриншот на диск (⌘S)"),
                              toolbarSymbol(QStringLiteral("square.and.arrow.down"), SystemColors::blue(), 0.7));
        connect(item, &QToolButton::clicked, this, &ScreenshotPreviewWindowController::saveLocally);
        return item;
    }
    if (identifier == QLatin1String("copy")) {
        auto* item = iconItem(identifier, QStringLiteral("Копировать"), QStringLiteral("Копировать изображение в буфер обмена (⌘C)"),
                              toolbarSymbol(QStringLiteral("doc.on.doc"), kSystemTeal, 0.7));
        connect(item, &QToolButton::clicked, this, &ScreenshotPreviewWindowController::copyToClipboard);
        return item;
    }
    if (identifier == QLatin1String("done")) {
        auto* item = iconItem(identifier, QStringLiteral("Готово"), QStringLiteral("Сохранить в историю и закрыть (⏎)"),
                              toolbarSymbol(QStringLiteral("checkmark.circle.fill"), SystemColors::green(), 0.7));
        connect(item, &QToolButton::clicked, this, &ScreenshotPreviewWindowController::done);
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
        auto* button = new QPushButton;
        button->setObjectName(identifier);
        styleUploadButton(button, provider);
        button->setMinimumSize(110, 28);
        button->setMaximumSize(120, 28);
        button->resize(110, 28);
        connect(button, &QPushButton::clicked, this, [this, provider] { uploadWithProvider(provider); });
        return button;
    }
    const UploadProvider active =
        activeProvider(providers, m_appState ? m_appState->serverSettings().lastUsedUploadProvider : UploadProvider::kestrovaCloud);
    QWidget* split = createSplitUploadButton(providers, active);
    split->setObjectName(identifier);
    return split;
}

void ScreenshotPreviewWindowController::styleUploadButton(QPushButton* button, UploadProvider provider)
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

QWidget* ScreenshotPreviewWindowController::createSplitUploadButton(const QList<UploadProvider>& providers,
                                                                    UploadProvider activeProvider)
{
    auto* container = new QWidget;
    container->setFixedSize(130, 28);

    auto* main = new QPushButton(container);
    main->setObjectName(QStringLiteral("uploadMain"));
    styleUploadButton(main, activeProvider);
    main->setGeometry(0, 0, 105, 28);
    connect(main, &QPushButton::clicked, this, &ScreenshotPreviewWindowController::uploadWithLastProvider);

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

    // Owned by the arrow button, as the menu it pops up.
    auto* menu = new QMenu(arrow);
    menu->setPalette(darkPalette());
    for (UploadProvider provider : providers) {
        QAction* action = menu->addAction(iconOf(menuImage(provider)), UploadProviders::displayName(provider));
        action->setCheckable(true);
        action->setChecked(provider == activeProvider);
        action->setData(UploadProviders::rawValue(provider));
        connect(action, &QAction::triggered, this, [this, provider] { uploadWithProvider(provider); });
    }
    arrow->setProperty(kDropdownMenuProperty, QVariant::fromValue<QObject*>(menu));

    m_splitMainButton = main;
    m_providerMenu = menu;
    return container;
}

void ScreenshotPreviewWindowController::followLastUsedProvider()
{
    if (!m_splitMainButton || !m_appState)
        return;
    const UploadProvider active = activeProvider(m_toolbarProviders, m_appState->serverSettings().lastUsedUploadProvider);
    if (m_splitMainButton->property("provider").toString() != UploadProviders::rawValue(active))
        styleUploadButton(m_splitMainButton, active);
    if (m_providerMenu)
        for (QAction* action : m_providerMenu->actions())
            action->setChecked(action->data().toString() == UploadProviders::rawValue(active));
}

void ScreenshotPreviewWindowController::showProviderMenu(QAbstractButton* sender)
{
    if (!sender)
        return;
    auto* menu = qobject_cast<QMenu*>(sender->property(kDropdownMenuProperty).value<QObject*>());
    if (!menu)
        return;
    menu->popup(sender->mapToGlobal(QPoint(0, sender->height() + 2)));
}

void ScreenshotPreviewWindowController::post(const QString& action)
{
    platform::NotificationCenter::defaultCenter().post(actionNotification, {{QStringLiteral("action"), action}});
}

void ScreenshotPreviewWindowController::saveLocally()
{
    post(QStringLiteral("save"));
}

void ScreenshotPreviewWindowController::copyToClipboard()
{
    post(QStringLiteral("copy"));
}

void ScreenshotPreviewWindowController::done()
{
    post(QStringLiteral("done"));
}

void ScreenshotPreviewWindowController::uploadWithLastProvider()
{
    // The provider the split button shows, which follows the last used one: what the user sees is
    // where the picture goes.
    const UploadProvider lastUsed = m_appState ? m_appState->serverSettings().lastUsedUploadProvider : UploadProvider::kestrovaCloud;
    post(UploadProviders::rawValue(activeProvider(m_toolbarProviders, lastUsed)));
}

void ScreenshotPreviewWindowController::uploadWithProvider(UploadProvider provider)
{
    if (m_appState)
        m_appState->setLastUsedUploadProvider(provider);
    platform::UserDefaults::standard().setString(QStringLiteral("lastUsedUploadProvider"), UploadProviders::rawValue(provider));
    post(UploadProviders::rawValue(provider));
}

void ScreenshotPreviewWindowController::uploadToKestrova()
{
    uploadWithProvider(UploadProvider::kestrovaCloud);
}

void ScreenshotPreviewWindowController::uploadSSH()
{
    uploadWithProvider(UploadProvider::ssh);
}

void ScreenshotPreviewWindowController::uploadYandex()
{
    uploadWithProvider(UploadProvider::yandexDisk);
}

void ScreenshotPreviewWindowController::uploadDropbox()
{
    uploadWithProvider(UploadProvider::dropbox);
}

void ScreenshotPreviewWindowController::uploadGoogleDrive()
{
    uploadWithProvider(UploadProvider::googleDrive);
}

void ScreenshotPreviewWindowController::uploadWebDAV()
{
    uploadWithProvider(UploadProvider::webdav);
}
