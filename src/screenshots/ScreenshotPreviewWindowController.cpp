#include "screenshots/ScreenshotPreviewWindowController.h"

#include "app/AppState.h"
#include "platform/Application.h"
#include "platform/Console.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "screenshots/ImageEditorCanvas.h"
#include "screenshots/ImageEditorToolbar.h"
#include "screenshots/ImageEditorView.h"
#include "screenshots/PreviewToolbarItems.h"
#include "screenshots/ScreenshotPreviewView.h"
#include "screenshots/ScreenshotHistoryManager.h"

#include <QAbstractButton>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

const QString ScreenshotPreviewWindowController::actionNotification = QStringLiteral("screenshotAction");

namespace {

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

// The previews' dark palette, with placeholder text dimmed like disabled text.
QPalette windowPalette()
{
    QPalette palette = PreviewToolbarItems::darkPalette();
    palette.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 90));
    return palette;
}

} // namespace

ScreenshotPreviewWindowController::ScreenshotPreviewWindowController(AppState* appState, ScreenshotHistoryManager* historyManager,
                                                                     RecentCapturesRefresher statusBarController, QObject* parent)
    : QObject(parent)
    , m_appState(appState)
    , m_historyManager(historyManager)
    , m_statusBarController(std::move(statusBarController))
    , m_toolbarItems(new PreviewToolbarItems(windowPalette, PreviewToolbarItems::bezelStyle,
                                             {[this](UploadProvider provider) { uploadWithProvider(provider); },
                                              [this] { uploadWithLastProvider(); }},
                                             this))
{
    if (appState)
        connect(appState, &AppState::serverSettingsChanged, this, &ScreenshotPreviewWindowController::followLastUsedProvider);
}

ScreenshotPreviewWindowController::~ScreenshotPreviewWindowController()
{
    delete m_window.data();
}

QSizeF ScreenshotPreviewWindowController::contentSize(const QSizeF& imageSize, const std::optional<QRectF>& visibleFrame,
                                                     const QSizeF& chrome)
{
    const double maxWidth = visibleFrame ? visibleFrame->width() - frameAllowance.width() : 1344;
    const double maxHeight = visibleFrame ? visibleFrame->height() - frameAllowance.height() - chrome.height() : 688;
    // Shown at its own size when it fits: shrunk only to fit the visible area, never enlarged, so
    // the text in a capture stays sharp. The bars keep their width; a narrower picture is centred.
    const double scale = std::max(0.0, std::min({maxWidth / imageSize.width(), maxHeight / imageSize.height(), 1.0}));
    return {std::max(imageSize.width() * scale, chrome.width()), imageSize.height() * scale + chrome.height()};
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
    window->setPalette(windowPalette());
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
    PreviewToolbarItems::installKeys(window, {[this] { saveLocally(); }, [this] { copyToClipboard(); },
                                              [this] { uploadWithShownProvider(); }, [this] { done(); },
                                              [window] { window->close(); }});

    const QScreen* screen = QGuiApplication::primaryScreen();
    const std::optional<QRectF> visible = screen ? std::optional<QRectF>(screen->availableGeometry()) : std::nullopt;
    const QWidget* canvas = m_view->editor()->canvas();
    // `measured`: the window is laid out, and what it has around the drawing area is known exactly;
    // before, the bars' size hints tell.
    auto place = [&](bool measured) {
        // Never narrower than the bars' items need (their size hints, at any device pixel ratio): a
        // narrower window would pile the tools on each other and cut the width menu's label.
        const QSize bars = column->totalMinimumSize();
        window->setMinimumSize(std::max(300, bars.width()), std::max(200, bars.height()));
        const double around = measured ? window->height() - canvas->height()
                                       : m_toolbar->sizeHint().height() + m_view->editor()->toolbar()->sizeHint().height();
        const QSizeF content = contentSize(imageSize, visible, QSizeF(window->minimumWidth(), around));
        // Rounded up: a window a fraction short would scale the picture down by that fraction.
        const QSize size(static_cast<int>(std::ceil(content.width())), static_cast<int>(std::ceil(content.height())));
        window->resize(size);
        if (screen) {
            const QRect frame = screen->geometry();
            window->move(frame.x() + (frame.width() - size.width()) / 2, frame.y() + (frame.height() - size.height()) / 2);
        }
    };
    place(false);
    window->show();
    // Showing polished and laid out the window: the same sizing again with what it really takes.
    place(true);
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
    m_toolbarItems->clear();
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
    const ServerSettings settings = m_appState ? m_appState->serverSettings() : ServerSettings{};
    // A provider whose uploader this build does not have is not offered.
    return PreviewToolbarItems::configuredProviders(
        settings, m_services.account && m_services.account->isAuthenticated(), [this](UploadProvider provider) {
            if (provider == UploadProvider::ssh)
                return bool(m_services.makeOwnServerUploader);
            if (provider == UploadProvider::yandexDisk)
                return bool(m_services.makeYandexUploader);
            return true;
        });
}

UploadProvider ScreenshotPreviewWindowController::lastUsedProvider() const
{
    return m_appState ? m_appState->serverSettings().lastUsedUploadProvider : UploadProvider::kestrovaCloud;
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
    if (identifier == QLatin1String("save")) {
        auto* item = PreviewToolbarItems::saveItem(QStringLiteral("Сохранить скриншот на диск (Ctrl+S)"));
        connect(item, &QToolButton::clicked, this, &ScreenshotPreviewWindowController::saveLocally);
        return item;
    }
    if (identifier == QLatin1String("copy")) {
        auto* item = PreviewToolbarItems::iconItem(
            identifier, QStringLiteral("Копировать"), QStringLiteral("Копировать изображение в буфер обмена (Ctrl+C)"),
            PreviewToolbarItems::symbol(QStringLiteral("doc.on.doc"), kSystemTeal, 0.7));
        connect(item, &QToolButton::clicked, this, &ScreenshotPreviewWindowController::copyToClipboard);
        return item;
    }
    if (identifier == QLatin1String("done")) {
        auto* item = PreviewToolbarItems::doneItem(QStringLiteral("Сохранить в историю и закрыть (Enter)"));
        connect(item, &QToolButton::clicked, this, &ScreenshotPreviewWindowController::done);
        return item;
    }
    if (identifier != QLatin1String("upload"))
        return nullptr;
    return m_toolbarItems->uploadItem(identifier, getAvailableProviders(), lastUsedProvider());
}

QMenu* ScreenshotPreviewWindowController::providerMenu() const
{
    return m_toolbarItems->providerMenu();
}

void ScreenshotPreviewWindowController::followLastUsedProvider()
{
    if (m_appState)
        m_toolbarItems->followLastUsedProvider(m_appState->serverSettings().lastUsedUploadProvider);
}

void ScreenshotPreviewWindowController::showProviderMenu(QAbstractButton* sender)
{
    PreviewToolbarItems::showProviderMenu(sender);
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
    post(UploadProviders::rawValue(m_toolbarItems->activeProvider(lastUsedProvider())));
}

void ScreenshotPreviewWindowController::uploadWithShownProvider()
{
    // What a click on the upload item does: nothing while it is disabled, its one provider, or the
    // split button's main part.
    const QList<UploadProvider>& providers = m_toolbarItems->providers();
    if (providers.isEmpty())
        return;
    if (providers.size() == 1)
        uploadWithProvider(providers.first());
    else
        uploadWithLastProvider();
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
