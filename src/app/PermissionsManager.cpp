#include "app/PermissionsManager.h"

#include "app/DebugLogger.h"
#include "platform/Application.h"
#include "platform/ScreenAccess.h"

#include <QTimer>

PermissionsManager::PermissionsManager(QObject* parent)
    : QObject(parent)
{
}

void PermissionsManager::setScreenRecordingPermissionGranted(bool granted)
{
    if (m_granted == granted)
        return;
    m_granted = granted;
    emit screenRecordingPermissionGrantedChanged();
}

void PermissionsManager::setChecking(bool checking)
{
    if (m_checking == checking)
        return;
    m_checking = checking;
    emit isCheckingPermissionsChanged();
}

void PermissionsManager::requestScreenRecordingPermission(std::function<void(bool)> completion)
{
    QTimer::singleShot(0, this, [this, completion = std::move(completion)]() mutable {
        setChecking(true);
        if (platform::ScreenAccess::preflight()) {
            setChecking(false);
            setScreenRecordingPermissionGranted(true);
            completion(true);
            return;
        }
        // In front of other programs, where the system prompt would appear.
        platform::Application::shared().activateIgnoringOtherApps();
        QTimer::singleShot(200, this, [this, completion = std::move(completion)] {
            const bool granted = platform::ScreenAccess::request();
            setChecking(false);
            setScreenRecordingPermissionGranted(granted);
            if (!granted) {
                // There is no settings page that grants screen access on Linux.
                DebugLogger::shared().log(QStringLiteral("Screen capture is not available: ")
                                          + platform::ScreenAccess::unavailableReason()
                                          + QStringLiteral("; no privacy settings page to open on this system"));
            }
            completion(granted);
        });
    });
}
