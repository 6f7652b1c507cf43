#include "shell/AppDelegate.h"

#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "app/HotKeyManager.h"
#include "shell/PermissionRequestWindowController.h"
#include "app/PermissionsManager.h"
#include "shell/StatusBarController.h"
#include "app/Localization.h"
#include "app/ToastManager.h"
#include "cloud/AuthManager.h"
#include "uploads/FileUploader.h"
#include "uploads/KestrovaCloudAccount.h"
#include "uploads/KestrovaUploader.h"
#include "uploads/TemporaryUploadFiles.h"
#include "uploads/YandexDiskUploader.h"
#include "platform/Application.h"
#include "platform/Console.h"
#include "platform/DesktopNotifications.h"
#include "platform/NumberFormat.h"
#include "platform/ScreenAccess.h"
#include "platform/SingleInstanceLock.h"
#include "platform/WindowShape.h"
#include "recording/ScreenRecorder.h"
#include "screenshots/ScreenCapture.h"
#include "screenshots/ScreenshotHistoryManager.h"
#include "screenshots/ScreenshotPreviewWindowController.h"
#include "uploads/MainQueue.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <thread>

namespace {

// The area the development hooks pretend was selected.
const QRectF debugRecordingRect(200, 200, 800, 600);

QString environmentValue(const char* name)
{
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariable(name) : QStringLiteral("<nil>");
}

QString address(const void* object)
{
    return QStringLiteral("0x%1").arg(reinterpret_cast<quintptr>(object), 16, 16, QLatin1Char('0'));
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// The name a recording is filed under, for its in-progress file ".<name>.part" too.
QString recordingName(const QString& path)
{
    QString name = QFileInfo(path).fileName();
    if (name.startsWith(QLatin1Char('.')) && name.endsWith(QLatin1String(".part")))
        name = name.mid(1, name.size() - 1 - int(qstrlen(".part")));
    return name;
}

// A few names and the count of the rest: a launch may find hundreds.
QString namedRecordings(const QStringList& names, const QString& one, const QString& many)
{
    constexpr int named = 3;
    QString text = (names.size() == 1 ? one : many) + names.mid(0, named).join(QStringLiteral(", "));
    if (names.size() > named)
        text += L::text(QStringLiteral(" и ещё %1"), QStringLiteral(" and %1 more")).arg(names.size() - named);
    return text;
}

// Recordings cut off by a crash, a kill or a power loss are filed on a thread of their own
// (copying a long one takes a while); the user hears of each, kept however short or lost. The thread
// is its own, and the list comes back through MainQueue: a thread checker follows both, not Qt's
// pool and queue.
void recoverUnfinishedRecordings(QObject* context)
{
    // Joined at exit: a quit does not cut a copy off half-way.
    static struct Recovery {
        std::thread thread;
        ~Recovery()
        {
            if (thread.joinable())
                thread.join();
        }
    } recovery;
    if (recovery.thread.joinable())
        recovery.thread.join(); // an earlier launch's, in tests
    MainQueue::prepare();
    recovery.thread = std::thread([context = QPointer<QObject>(context)] {
        MainQueue::post([context, filed = ScreenRecorder::recoverUnfinishedRecordings()] {
            if (!context)
                return;
            QStringList kept;
            QStringList lost; // removed with nothing to play, or unreadable and left where it was
            for (const ScreenRecorder::FiledRecording& f : filed) {
                using Outcome = ScreenRecorder::FiledRecording::Outcome;
                const QString reason = f.error ? f.error->localizedDescription : QString();
                switch (f.outcome) {
                case Outcome::Finished:
                case Outcome::Fragmented:
                    DebugLogger::shared().log(QStringLiteral("AppDelegate: Recovered an unfinished recording: ") + f.path
                                              + QStringLiteral(" (") + QString::number(f.frames) + QStringLiteral(" frames)"));
                    kept.append(QFileInfo(f.path).fileName());
                    break;
                case Outcome::TooShort:
                    DebugLogger::shared().log(QStringLiteral("AppDelegate: Removed an unfinished recording too short to keep (")
                                              + QString::number(f.frames) + QStringLiteral(" frames)"));
                    lost.append(recordingName(f.path));
                    break;
                case Outcome::Failed:
                    DebugLogger::shared().logErrorMessage(QStringLiteral("Could not recover the unfinished recording ") + f.path
                                                          + QStringLiteral(": ") + reason);
                    lost.append(recordingName(f.path));
                    break;
                case Outcome::NotOurs:
                    DebugLogger::shared().log(QStringLiteral("AppDelegate: Left alone ") + f.path
                                              + QStringLiteral(", not a recording of ours: ") + reason);
                    break;
                }
            }
            if (kept.isEmpty() && lost.isEmpty())
                return;
            QStringList lines;
            if (!kept.isEmpty())
                lines.append(namedRecordings(kept,
                                             L::text(QStringLiteral("Прерванная запись восстановлена: "),
                                                     QStringLiteral("Interrupted recording recovered: ")),
                                             L::text(QStringLiteral("Прерванные записи восстановлены: "),
                                                     QStringLiteral("Interrupted recordings recovered: "))));
            if (!lost.isEmpty())
                lines.append(namedRecordings(lost,
                                             L::text(QStringLiteral("Прерванная запись не восстановлена: "),
                                                     QStringLiteral("Interrupted recording not recovered: ")),
                                             L::text(QStringLiteral("Прерванные записи не восстановлены: "),
                                                     QStringLiteral("Interrupted recordings not recovered: "))));
            const QString text = lines.join(QLatin1Char('\n'));
            if (lost.isEmpty())
                ToastManager::shared().show(text, QStringLiteral("checkmark.circle.fill"), ToastType::success, 5);
            else
                ToastManager::shared().show(text, QStringLiteral("exclamationmark.triangle.fill"), ToastType::warning, 5);
            // At launch no window of ours may be open to show the toast.
            platform::DesktopNotifications::post(QStringLiteral("Kestrova"), text);
        });
    });
}

} // namespace

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent)
    , m_appState(std::make_unique<AppState>())
    , m_hotKeyManager(HotKeyManager::shared())
    , m_historyManager(std::make_unique<ScreenshotHistoryManager>())
{
}

AppDelegate::~AppDelegate()
{
    delete m_anchorWindow.data();
}

ScreenCapture& AppDelegate::screenCapture()
{
    if (!m_screenCapture)
        m_screenCapture = new ScreenCapture(this);
    return *m_screenCapture;
}

PermissionsManager& AppDelegate::permissionsManager()
{
    if (!m_permissionsManager)
        m_permissionsManager = new PermissionsManager(this);
    return *m_permissionsManager;
}

void AppDelegate::applicationDidFinishLaunching()
{
    auto& logger = DebugLogger::shared();
    auto& application = platform::Application::shared();
    logger.log(QStringLiteral("Application starting up"));
    // Found by the delegate's state before anything was logged.
    const QString keychainError = AppState::takeCredentialsLoadError();
    if (!keychainError.isEmpty())
        logger.logErrorMessage(keychainError);

    m_instanceLock = std::make_unique<platform::SingleInstanceLock>(platform::Application::bundleIdentifier());
    const auto lock = m_instanceLock->tryAcquire();
    if (lock == platform::SingleInstanceLock::Result::unavailable)
        logger.logErrorMessage(QStringLiteral("Single-instance check unavailable: ") + m_instanceLock->errorText());
    if (lock == platform::SingleInstanceLock::Result::heldByAnother
        && qEnvironmentVariable("KESTROVA_ALLOW_MULTIPLE") != QLatin1String("1")) {
        // Starting the program again is how a Linux user reopens it: the running copy comes forward.
        m_instanceLock->notifyRunningInstance();
        logger.log(QStringLiteral("Another instance is already running, terminating"));
        QCoreApplication::exit(0);
        return;
    }
    if (m_instanceLock->isHeld()
        && !m_instanceLock->listenForReopen(this, [this] { applicationShouldHandleReopen(hasVisibleWindows()); }))
        logger.logErrorMessage(QStringLiteral("Reopen from a second start unavailable: ") + m_instanceLock->errorText());

    // Only the copy that holds the lock: another's in-progress file is its running recording, and
    // its upload folders are in use.
    if (m_instanceLock->isHeld()) {
        recoverUnfinishedRecordings(this);
        TemporaryUploadFiles::removeStale();
    } else {
        logger.log(QStringLiteral("Unfinished recordings are left to the copy that holds the single-instance lock"));
    }

    application.setActivationPolicy(platform::ActivationPolicy::regular);
    setupMainMenu();
    application.disableSuddenTermination();
    application.disableAutomaticTermination(automaticTerminationReason);

    createAnchorWindow();
    logLifecycleState(QStringLiteral("anchor window created"));

    setupStatusBarController();
    checkPermissionsOnLaunch();

    logger.log(QStringLiteral("Application finished launching"));
    logLifecycleState(QStringLiteral("didFinishLaunching"));

    // Development hooks: skip straight to the setup panel, or to a recording of a fixed area.
    const QString setup = environmentValue("KESTROVA_DEBUG_SETUP");
    const QString automatic = environmentValue("KESTROVA_DEBUG_AUTO");
    logger.log(QStringLiteral("KESTROVA_DEBUG_SETUP=") + setup + QStringLiteral(" KESTROVA_DEBUG_AUTO=") + automatic);
    const QString rectText = platform::NumberFormat::rect(debugRecordingRect);
    if (automatic == QLatin1String("1")) {
        logger.log(QStringLiteral("KESTROVA_DEBUG_AUTO active - simulating selection with rect ") + rectText);
        QTimer::singleShot(1000, this, [this] { screenRecordingSelectionDidFinish(debugRecordingRect); });
    } else if (setup == QLatin1String("1")) {
        logger.log(QStringLiteral("Application launching with KESTROVA_DEBUG_SETUP - scheduling debug setup window"));
        QTimer::singleShot(1000, this, [this, rectText] {
            DebugLogger::shared().log(QStringLiteral("Showing debug RecordingSetupWindow for rect: ") + rectText);
            showRecordingSetupWindow(debugRecordingRect);
        });
    }
}

void AppDelegate::createAnchorWindow()
{
    // Invisible and inert: frameless, outside the window manager's lists, no focus, no input, and
    // an empty shape so that not even its one pixel shows without a compositor.
    auto* anchor = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint
                                            | Qt::WindowStaysOnBottomHint | Qt::WindowDoesNotAcceptFocus
                                            | Qt::WindowTransparentForInput);
    anchor->setAttribute(Qt::WA_ShowWithoutActivating);
    anchor->setAttribute(Qt::WA_TranslucentBackground);
    anchor->setAttribute(Qt::WA_QuitOnClose, false);
    anchor->setWindowOpacity(0.0);
    // (0, 0, 1, 1) in bottom-left screen coordinates: the bottom-left pixel of the primary screen.
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QRect screen = primary ? primary->geometry() : QRect(0, 0, 1, 1);
    anchor->setGeometry(screen.left(), screen.bottom(), 1, 1);
    // The main menu's shortcuts live on a window that exists and is shown for the whole session.
    if (m_mainMenu)
        anchor->addActions({m_settingsAction, m_quitAction});
    anchor->show();
    platform::WindowShape::makeInvisible(anchor);
    platform::Application::keepDuringCaptures(anchor);
    m_anchorWindow = anchor;
}

void AppDelegate::setupMainMenu()
{
    m_mainMenu = std::make_unique<QMenu>();
    QMenu* appMenu = m_mainMenu->addMenu(QString());

    QAction* about = appMenu->addAction(QStringLiteral("О программе Kestrova"));
    connect(about, &QAction::triggered, this, [this] { showAboutPanel(); });
    appMenu->addSeparator();

    m_settingsAction = appMenu->addAction(QStringLiteral("Настройки..."));
    m_settingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_settingsAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(m_settingsAction, &QAction::triggered, this, [this] { showSettingsWindow(); });
    appMenu->addSeparator();

    m_quitAction = appMenu->addAction(QStringLiteral("Quit Kestrova"));
    m_quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quitAction->setShortcutContext(Qt::ApplicationShortcut);
    // Leaves the main loop; the shutdown sequence runs from aboutToQuit.
    connect(m_quitAction, &QAction::triggered, this, [] { QCoreApplication::exit(0); });

    if (m_anchorWindow)
        m_anchorWindow->addActions({m_settingsAction, m_quitAction});
    connect(&platform::Application::shared(), &platform::Application::activationPolicyChanged, this,
            &AppDelegate::updateMainMenuShortcuts);
    updateMainMenuShortcuts();
}

void AppDelegate::updateMainMenuShortcuts()
{
    // The main menu exists only while the policy is regular, and with it its key equivalents.
    const bool regular = platform::Application::shared().activationPolicy() == platform::ActivationPolicy::regular;
    for (QAction* action : {m_settingsAction, m_quitAction})
        if (action)
            action->setEnabled(regular);
}

void AppDelegate::setupStatusBarController()
{
    createStatusBarController();
    createPreviewWindowController();

    auto& center = platform::NotificationCenter::defaultCenter();
    QPointer<AppDelegate> self(this);
    m_captureObserver = center.addObserver(NotificationName::captureScreenHotKey, this, [self](const platform::Notification&) {
        if (self)
            self->captureScreen();
    });
    m_fullScreenObserver = center.addObserver(NotificationName::captureFullScreenHotKey, this,
                                              [self](const platform::Notification&) {
                                                  if (self)
                                                      self->captureFullScreen();
                                              });
    m_screenRecordingObserver = center.addObserver(NotificationName::startScreenRecordingHotKey, this,
                                                   [self](const platform::Notification&) {
                                                       if (self)
                                                           self->startScreenRecording();
                                                   });

    registerConfiguredHotkeys();

    m_settingsObserver = center.addObserver(NotificationName::hotkeySettingsChanged, this,
                                            [self](const platform::Notification&) {
                                                if (!self)
                                                    return;
                                                self->registerConfiguredHotkeys();
                                                self->rebuildStatusMenu();
                                            });
}

void AppDelegate::registerConfiguredHotkeys()
{
    const ServerSettings& settings = m_appState->serverSettings();
    m_hotKeyManager.updateHotkeys(settings.screenshotHotkey, settings.fullScreenHotkey, settings.screenRecordingHotkey);
}

void AppDelegate::checkPermissionsOnLaunch()
{
    auto& logger = DebugLogger::shared();
    logger.log(QStringLiteral("Checking screen recording permissions on launch"));
    // The preflight answer and, when it is no, why: one probe of the display for both.
    const QString reason = platform::ScreenAccess::unavailableReason();
    if (reason.isEmpty()) {
        logger.log(QStringLiteral("Screen recording permission already granted"));
        permissionsManager().setScreenRecordingPermissionGranted(true);
        platform::Application::shared().setActivationPolicy(platform::ActivationPolicy::accessory);
        return;
    }
    logger.log(QStringLiteral("Screen recording permission not granted, showing permission request window"));
    logger.log(QStringLiteral("Screen capture is not available: ") + reason);

    QPointer<AppDelegate> self(this);
    // Runs at the end of every close() of the window, so it may run more than once.
    m_permissionRequestWindow = new PermissionRequestWindowController(permissionsManager(), [self] {
        DebugLogger::shared().log(QStringLiteral("Permission request window closed"));
        if (self && self->m_permissionRequestWindow) {
            // Released once its close() has returned.
            self->m_permissionRequestWindow->deleteLater();
            self->m_permissionRequestWindow = nullptr;
        }
        platform::Application::shared().setActivationPolicy(platform::ActivationPolicy::accessory);
    }, this);
    m_permissionRequestWindow->show();
}

void AppDelegate::captureScreen()
{
    startCapture(&ScreenCapture::captureScreen,
                 QStringLiteral("AppDelegate: Closing any existing preview window before capturing new screenshot"),
                 QStringLiteral("AppDelegate: Failed to capture screenshot"));
}

void AppDelegate::captureFullScreen()
{
    startCapture(&ScreenCapture::captureFullScreen,
                 QStringLiteral("AppDelegate: Closing any existing preview window before capturing full screen"),
                 QStringLiteral("AppDelegate: Failed to capture full screen"));
}

void AppDelegate::startCapture(void (ScreenCapture::*capture)(std::function<void(std::optional<QImage>)>),
                               const QString& closingLine, const QString& failureLine)
{
    if (!m_previewWindowController) {
        platform::Console::printLine(QStringLiteral("AppDelegate: No preview window controller available"));
        return;
    }
    platform::Console::printLine(closingLine);
    closePreviewWindow();
    // The recording's veil and setup bar float above our other windows, the preview among them:
    // the screenshot ends that selection as its cancel button would.
    if (m_recordingSelectionWindow || m_recordingSetupWindowController) {
        DebugLogger::shared().log(QStringLiteral("AppDelegate: Ending the recording area selection for the screenshot"));
        cancelRecording();
    }
    ScreenCapture& screenshots = screenCapture();
    screenshots.permissionsManager = &permissionsManager();
    QPointer<AppDelegate> self(this);
    (screenshots.*capture)([self, failureLine](std::optional<QImage> image) {
        // May arrive on any thread; windows are only touched on the GUI thread.
        QMetaObject::invokeMethod(qApp, [self, failureLine, image = std::move(image)] {
            if (!self)
                return;
            if (image)
                self->showPreview(*image);
            else
                platform::Console::printLine(failureLine);
        }, Qt::QueuedConnection);
    });
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    DebugLogger::shared().log(QStringLiteral("Reopen requested, visible windows: ") + boolText(hasVisibleWindows));
    // Without a tray the menu has nowhere to open from: the settings window is the way in.
    if (m_statusBarController && !m_statusBarController->hasTray())
        showSettingsWindow();
    else
        popUpStatusMenu();
    return false;
}

bool AppDelegate::hasVisibleWindows() const
{
    // Not the anchor nor the tray icon's own window: both bypass the window manager.
    for (const QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && !window->windowFlags().testFlag(Qt::BypassWindowManagerHint)
            && window->windowType() != Qt::Popup)
            return true;
    return false;
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed()
{
    DebugLogger::shared().log(
        QStringLiteral("AppDelegate: applicationShouldTerminateAfterLastWindowClosed called - returning FALSE"));
    logLifecycleState(QStringLiteral("applicationShouldTerminateAfterLastWindowClosed"));
    return false;
}

void AppDelegate::removeObserver(std::optional<platform::NotificationCenter::Token>& token)
{
    if (token)
        platform::NotificationCenter::defaultCenter().removeObserver(*token);
    token.reset();
}

void AppDelegate::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    platform::Console::printLine(QStringLiteral("Kestrova app terminating"));
    DebugLogger::shared().log(QStringLiteral("Application will terminate"));

    auto& application = platform::Application::shared();
    application.enableSuddenTermination();
    application.enableAutomaticTermination(automaticTerminationReason);

    removeObserver(m_captureObserver);
    removeObserver(m_settingsObserver);
    removeObserver(m_fullScreenObserver);
    removeObserver(m_screenRecordingObserver);

    closePreviewWindow();
    releaseStatusBarController();
    // Before the recording windows go: a recorder still writing is finished, not cut off mid-frame.
    // Its microphone's audio source is stopped and destroyed with it, before the player's audio
    // sink: then the video preview's player goes while the event loop is still there to delete it
    // (the windows' deferred deletes run below), not in the static teardown after main, where the
    // sound server's connections of Qt Multimedia go in no set order and PulseAudio may abort.
    stopRecorderForShutdown();
    m_videoPreviewWindow.reset();
    closeRecordingWindowsForShutdown();
    if (m_anchorWindow) {
        m_anchorWindow->close();
        delete m_anchorWindow.data();
    }

    logLifecycleState(QStringLiteral("applicationWillTerminate"));
}

QString AppDelegate::lifecycleState(const QString& label) const
{
    const QString policy = platform::Application::policyName(platform::Application::shared().activationPolicy());

    // Every window the application has made, in the order they were made; menus and tool tips
    // are not windows of their own here.
    QHash<const QWindow*, QWidget*> widgetOf;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget* widget : widgets)
        if (const QWindow* handle = widget->windowHandle())
            widgetOf.insert(handle, widget);
    QStringList entries;
    const QWindowList windows = QGuiApplication::topLevelWindows();
    for (const QWindow* window : windows) {
        const Qt::WindowType type = window->type();
        if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::Desktop)
            continue;
        QString title;
        const void* object = window;
        bool key = false;
        bool visible = false;
        if (const QWidget* widget = widgetOf.value(window)) {
            title = widget->windowTitle();
            object = widget;
            key = widget->isActiveWindow();
            visible = widget->isVisible();
        } else {
            title = window->title();
            key = window->isActive();
            visible = window->isVisible();
        }
        entries.append((title.isEmpty() ? QStringLiteral("<untitled>") : title) + QLatin1Char('@') + address(object)
                       + QStringLiteral(" [key=") + boolText(key) + QStringLiteral(" visible=") + boolText(visible)
                       + QLatin1Char(']'));
    }

    const QString anchor = m_anchorWindow
        ? QStringLiteral("anchor@") + address(m_anchorWindow.data()) + QStringLiteral(" visible=")
            + boolText(m_anchorWindow->isVisible())
        : QStringLiteral("anchor=nil");
    return QStringLiteral("Lifecycle: ") + label + QStringLiteral(" | policy=") + policy + QStringLiteral(" | windows=[")
        + entries.join(QStringLiteral(", ")) + QStringLiteral("] | ") + anchor;
}

void AppDelegate::logLifecycleState(const QString& label)
{
    DebugLogger::shared().log(lifecycleState(label));
}

// Steps handed to the status bar, the screenshot preview, the permission window and the settings
// window. Until those exist they do the part of the step that needs none of them.

void AppDelegate::createStatusBarController()
{
    m_statusBarController = std::make_unique<StatusBarController>(m_appState.get());
    m_statusBarController->historyManager = m_historyManager.get();
    m_statusBarController->updateRecentScreenshots(m_historyManager->screenshots());
}

RecentCapturesRefresher AppDelegate::recentCapturesRefresher() const
{
    return m_statusBarController ? m_statusBarController->recentCapturesRefresher() : RecentCapturesRefresher();
}

void AppDelegate::createPreviewWindowController()
{
    m_previewWindowController =
        new ScreenshotPreviewWindowController(m_appState.get(), m_historyManager.get(), recentCapturesRefresher(), this);
    PreviewUploadServices services;
    services.account = new KestrovaCloudAccount(AuthManager::shared(), m_previewWindowController);
    services.cloudUploader = &KestrovaUploader::shared();
    services.makeOwnServerUploader = [] { return std::make_unique<FileUploader>(); };
    services.makeYandexUploader = [] { return std::make_unique<YandexDiskUploader>(); };
    m_previewWindowController->setUploadServices(services);
}

void AppDelegate::rebuildStatusMenu()
{
    // A new menu, so that the titles show the hot keys of now, with the same recent captures.
    if (!m_statusBarController || !m_statusBarController->statusItem())
        return;
    m_statusBarController->setMenu(m_statusBarController->createMenu());
    m_statusBarController->updateRecentScreenshots(m_historyManager->screenshots());
}

void AppDelegate::releaseStatusBarController()
{
    m_statusBarController.reset();
}

void AppDelegate::popUpStatusMenu()
{
    if (m_statusBarController && m_statusBarController->statusItem() && m_statusBarController->menu())
        m_statusBarController->popUpMenu(QCursor::pos());
}

void AppDelegate::closePreviewWindow()
{
    if (!m_previewWindowController)
        return;
    m_previewWindowController->closeWindow();
    // At termination the controller is released right after its window.
    if (m_terminated) {
        delete m_previewWindowController;
        m_previewWindowController = nullptr;
    }
}

void AppDelegate::showPreview(const QImage& image)
{
    if (m_previewWindowController)
        m_previewWindowController->showPreview(image);
}

void AppDelegate::showSettingsWindow()
{
    // The one settings window of the process, the one the tray menu opens.
    if (m_statusBarController)
        m_statusBarController->openSettings();
}

void AppDelegate::showAboutPanel()
{
    auto* panel = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Kestrova"),
                                  QStringLiteral("Kestrova ") + QCoreApplication::applicationVersion());
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setIconPixmap(QIcon(QStringLiteral(":/icons/KestrovaLogo.svg")).pixmap(64, 64));
    panel->setWindowModality(Qt::NonModal);
    panel->show();
}
