#include "app/PermissionsManager.h"

#include "app/DebugLogger.h"
#include "platform/ScreenAccess.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

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
        // Bring our windows forward, as the system prompt would.
        if (QWidget* window = QApplication::activeWindow())
            window->activateWindow();
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
