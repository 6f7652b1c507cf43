#include "screenshots/ScreenCapture.h"

#include "app/PermissionsManager.h"
#include "platform/Application.h"
#include "platform/Console.h"
#include "platform/OnScreenTracker.h"
#include "platform/ScreenAccess.h"
#include "screenshots/ScreenCaptureWindow.h"

#include <QApplication>
#include <QTimer>

namespace {

// The pauses around the overlay: our windows are gone from the screen before the overlay
// appears, and come back only after the caller has had the image.
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

void ScreenCapture::whenOurWindowsAreOffScreen(std::function<void()> then)
{
    auto& tracker = platform::OnScreenTracker::shared();
    tracker.whenOffScreen(this, ScreenCaptureWindow::kOffScreenTimeout, [then = std::move(then)](bool inTime) {
        if (!inTime)
            print(QStringLiteral("Our windows are still on the screen, capturing anyway"));
        then();
    });
}

ScreenCapture::Completion ScreenCapture::restoringAfter(quint64 hidden, bool activate, Completion completion)
{
    QPointer<ScreenCapture> self(this);
    return [self, hidden, activate, completion = std::move(completion)](std::optional<QImage> image) {
        if (self) {
            std::lock_guard lock(self->m_captureLock);
            self->m_isCapturing = false;
        }
        completion(std::move(image));
        QTimer::singleShot(kRestoreDelayMs, qApp, [hidden, activate] {
            // Back beneath what the capture opened meanwhile (the preview), never over it. After
            // an area capture the application is activated also when nothing had the focus: its
            // front window, the one shown last, gets it.
            auto& application = platform::Application::shared();
            if (!application.restoreWindowsAfterCapture(hidden) && activate)
                application.activateIgnoringOtherApps();
        });
    };
}

void ScreenCapture::performCapture(Completion completion)
{
    m_isCapturing = true;
    // Every window of ours, not only the focused one: with nothing focused (a preview just filed,
    // no window manager) the others would be in the picture.
    const quint64 hidden = platform::Application::shared().hideWindowsForCapture();
    QTimer::singleShot(kOverlayDelayMs, this, [this, completion = restoringAfter(hidden, true, std::move(completion))]() mutable {
        // The overlay paints what the screen shows at its start: none of ours by then.
        whenOurWindowsAreOffScreen([this, completion = std::move(completion)]() mutable {
            startInteractiveCapture(std::move(completion));
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
        // The screen of the focused window: found while it is still shown.
        const auto screen = ScreenCaptureWindow::mainScreen();
        if (!screen) {
            print(QStringLiteral("No main screen found"));
            m_isCapturing = false;
            completion(std::nullopt);
            return;
        }
        // The picture shows the screen without us, also without a preview closed just before:
        // its pixels stay there until the windows beneath have been exposed and repainted.
        const quint64 hidden = platform::Application::shared().hideWindowsForCapture();
        whenOurWindowsAreOffScreen([screen, completion = restoringAfter(hidden, false, std::move(completion))] {
            completion(ScreenCaptureWindow::captureScreenRectStatic(ScreenCaptureWindow::screenToGlobalPixels(*screen), screen));
        });
        return;
    }
    // Every check runs again, as if the permission had been there from the start.
    askPermissionThen(manager, std::move(completion), &ScreenCapture::captureFullScreen);
}
