#include "shell/PermissionRequestWindowController.h"

#include "app/DebugLogger.h"
#include "app/Localization.h"
#include "shell/PermissionRequestView.h"
#include "app/PermissionsManager.h"
#include "platform/Application.h"
#include "platform/ScreenAccess.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace {

std::function<void()>& privacySettingsOpener()
{
    static std::function<void()> opener;
    return opener;
}

QPalette darkPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(30, 30, 32));
    palette.setColor(QPalette::WindowText, QColor(255, 255, 255, 235));
    palette.setColor(QPalette::Button, QColor(58, 58, 60));
    palette.setColor(QPalette::ButtonText, QColor(255, 255, 255, 235));
    palette.setColor(QPalette::Highlight, QColor(10, 132, 255));
    return palette;
}

} // namespace

PermissionRequestWindowController::PermissionRequestWindowController(PermissionsManager& permissionsManager,
                                                                     std::function<void()> onComplete, QObject* parent)
    : QObject(parent)
    , m_permissionsManager(&permissionsManager)
    , m_onComplete(std::move(onComplete))
{
}

PermissionRequestWindowController::~PermissionRequestWindowController()
{
    delete m_window.data();
}

void PermissionRequestWindowController::setPrivacySettingsOpenerForTesting(std::function<void()> opener)
{
    privacySettingsOpener() = std::move(opener);
}

bool PermissionRequestWindowController::isPolling() const
{
    return m_checkTimer && m_checkTimer->isActive();
}

void PermissionRequestWindowController::show()
{
    if (!m_permissionsManager)
        return;
    if (m_window) {
        // Shown again: the same window comes forward rather than a second one.
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
        startPermissionCheck();
        return;
    }
    QPointer<PermissionRequestWindowController> self(this);
    auto* view = new PermissionRequestView(
        *m_permissionsManager,
        [self] {
            if (self)
                self->requestPermissionAndOpenSettings();
        },
        [self] {
            if (self)
                self->close();
        },
        platform::ScreenAccess::check().obstacle);

    // Titled and closable; neither minimisable nor resizable. Closing it only hides it: the
    // controller keeps it until close().
    auto* window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->setWindowTitle(L::text(QStringLiteral("Требуется разрешение"), QStringLiteral("Permission Required")));
    window->setPalette(darkPalette());
    window->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    view->setParent(window);
    window->setFixedSize(view->size());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        window->move(available.center() - QPoint(view->width() / 2, view->height() / 2));
    }
    m_window = window;

    auto& application = platform::Application::shared();
    application.setActivationPolicy(platform::ActivationPolicy::regular);
    window->show();
    window->raise();
    window->activateWindow();
    application.activateIgnoringOtherApps();

    startPermissionCheck();
}

void PermissionRequestWindowController::startPermissionCheck()
{
    if (m_checkTimer)
        m_checkTimer->stop();
    else
        m_checkTimer = new QTimer(this);
    m_checkTimer->setInterval(pollIntervalMilliseconds);
    m_checkTimer->disconnect(this);
    connect(m_checkTimer, &QTimer::timeout, this, [this] {
        if (!platform::ScreenAccess::preflight())
            return;
        // The flag is set even if the controller is released before the job runs.
        QPointer<PermissionRequestWindowController> self(this);
        QPointer<PermissionsManager> manager = m_permissionsManager;
        QMetaObject::invokeMethod(qApp, [self, manager] {
            if (manager)
                manager->setScreenRecordingPermissionGranted(true);
            if (self)
                self->close();
        }, Qt::QueuedConnection);
    });
    m_checkTimer->start();
}

void PermissionRequestWindowController::requestPermissionAndOpenSettings()
{
    // The answer comes from the poll, which keeps running.
    platform::ScreenAccess::request();
    QTimer::singleShot(openSettingsDelayMilliseconds, qApp, [] { openPrivacySettings(); });
}

void PermissionRequestWindowController::openPrivacySettings()
{
    if (privacySettingsOpener()) {
        privacySettingsOpener()();
        return;
    }
    // No desktop setting grants X clients access to the screen: say why it is missing instead.
    DebugLogger::shared().log(QStringLiteral("Screen capture is not available: ") + platform::ScreenAccess::unavailableReason()
                              + QStringLiteral("; no privacy settings page to open on this system"));
}

void PermissionRequestWindowController::close()
{
    if (m_checkTimer)
        m_checkTimer->stop();
    if (QWidget* window = m_window) {
        window->hide();
        window->close();
        window->deleteLater();
    }
    m_window = nullptr;
    // A copy: the completion may release this controller.
    const std::function<void()> onComplete = m_onComplete;
    if (onComplete)
        onComplete();
}
