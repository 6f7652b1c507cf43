#include "screenshots/ScreenCapture.h"

#include "app/PermissionsManager.h"
#include "platform/Application.h"
#include "platform/Console.h"
#include "platform/ScreenAccess.h"
#include "screenshots/ScreenCaptureWindow.h"

#include <QApplication>
#include <QTimer>

namespace {

// The pauses around the overlay: the main window is gone from the screen before the overlay
// appears, and comes back only after the caller has had the image.
constexpr int kOverlayDelayMs = 50;
constexpr int kRestoreDelayMs = 50;

void print(const QString& line)
{
    platform::Console::printLine(QStringLiteral("ScreenCapture: ") + line);
}

} // namespace

ScreenCapture::ScreenCapture(QObject* parent)
    : QObject(parent)
{
}

ScreenCapture::~ScreenCapture()
{
    // An overlay still open ends with nothing.
    delete m_window.data();
}

bool ScreenCapture::isCapturing() const
{
    std::lock_guard lock(m_captureLock);
    return m_isCapturing;
}

QWidget* ScreenCapture::currentMainWindow()
{
    QWidget* window = QApplication::activeWindow();
    if (!window || !window->isVisible() || qobject_cast<ScreenCaptureWindow*>(window))
        return nullptr;
    switch (window->windowType()) {
    case Qt::Popup:
    case Qt::ToolTip:
    case Qt::Tool:
    case Qt::SplashScreen:
        return nullptr;
    default:
        return window;
    }
}

void ScreenCapture::requestPermission(PermissionsManager* manager, std::function<void(bool)> answer)
{
    struct Pending {
        bool answered = false;
        QMetaObject::Connection managerGone;
    };
    auto pending = std::make_shared<Pending>();
    auto deliver = [pending, answer = std::move(answer)](bool granted) {
        if (pending->answered)
            return;
        pending->answered = true;
        QObject::disconnect(pending->managerGone);
        answer(granted);
    };
    // A service destroyed before it answered would leave the capture busy for good.
    pending->managerGone = connect(manager, &QObject::destroyed, this, [deliver] { deliver(false); });
    manager->requestScreenRecordingPermission(deliver);
}

PermissionsManager* ScreenCapture::acceptRequest(Completion& completion)
{
    if (m_isCapturing) {
        print(QStringLiteral("Already capturing, ignoring request"));
        return nullptr;
    }
    PermissionsManager* manager = permissionsManager.data();
    if (!manager) {
        print(QStringLiteral("No permissions manager"));
        completion(std::nullopt);
    }
    return manager;
}

void ScreenCapture::askPermissionThen(PermissionsManager* manager, Completion completion,
                                      void (ScreenCapture::*granted)(Completion))
{
    // Busy while the request is open, so a second request cannot open a second overlay.
    m_isCapturing = true;
    QPointer<ScreenCapture> self(this);
    requestPermission(manager, [self, granted, completion = std::move(completion)](bool answer) mutable {
        if (self) {
            std::lock_guard lock(self->m_captureLock);
            self->m_isCapturing = false;
        }
        if (!answer) {
            completion(std::nullopt);
            return;
        }
        if (self)
            (self.data()->*granted)(std::move(completion));
    });
}

void ScreenCapture::captureScreen(Completion completion)
{
    print(QStringLiteral("captureScreen called"));
    std::lock_guard lock(m_captureLock);
    PermissionsManager* manager = acceptRequest(completion);
    if (!manager)
        return;
    if (platform::ScreenAccess::preflight()) {
        print(QStringLiteral("Permission granted, starting capture"));
        performCapture(std::move(completion));
        return;
    }
    print(QStringLiteral("No permission, showing custom dialog"));
    askPermissionThen(manager, std::move(completion), &ScreenCapture::performCapture);
}

void ScreenCapture::performCapture(Completion completion)
{
    m_isCapturing = true;
    QPointer<QWidget> mainWindow = currentMainWindow();
    const quint64 hiddenAt = platform::Application::shared().showSerial();
    if (mainWindow)
        mainWindow->hide();
    QTimer::singleShot(kOverlayDelayMs, this, [this, completion = std::move(completion), mainWindow, hiddenAt]() mutable {
        QPointer<ScreenCapture> self(this);
        startInteractiveCapture([self, completion = std::move(completion), mainWindow, hiddenAt](std::optional<QImage> image) {
            if (self) {
                std::lock_guard lock(self->m_captureLock);
                self->m_isCapturing = false;
            }
            completion(std::move(image));
            QTimer::singleShot(kRestoreDelayMs, qApp, [mainWindow, hiddenAt] {
                // The main window comes back beneath what the capture opened meanwhile (the
                // preview), never over it. The application is activated also when there was no
                // main window: its front window, the one shown last, gets the focus.
                auto& application = platform::Application::shared();
                if (mainWindow)
                    application.restoreWindow(mainWindow, hiddenAt);
                application.activateIgnoringOtherApps();
            });
        });
    });
}

void ScreenCapture::startInteractiveCapture(Completion completion)
{
    auto* window = new ScreenCaptureWindow();
    window->captureCompletion = std::move(completion);
    m_window = window;
    window->present();
    platform::Console::printLine(QStringLiteral("ScreenCaptureWindow: Created new capture window with level ")
                                 + QString::number(window->level()));
}

void ScreenCapture::captureFullScreen(Completion completion)
{
    print(QStringLiteral("captureFullScreen called"));
    std::lock_guard lock(m_captureLock);
    PermissionsManager* manager = acceptRequest(completion);
    if (!manager)
        return;
    if (platform::ScreenAccess::preflight()) {
        m_isCapturing = true;
        const auto screen = ScreenCaptureWindow::mainScreen();
        if (!screen) {
            print(QStringLiteral("No main screen found"));
            m_isCapturing = false;
            completion(std::nullopt);
            return;
        }
        std::optional<QImage> image =
            ScreenCaptureWindow::captureScreenRectStatic(ScreenCaptureWindow::screenToGlobalPixels(*screen), screen);
        m_isCapturing = false;
        completion(std::move(image));
        return;
    }
    // Every check runs again, as if the permission had been there from the start.
    askPermissionThen(manager, std::move(completion), &ScreenCapture::captureFullScreen);
}
