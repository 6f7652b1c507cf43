#pragma once

#include "platform/ScreenAccess.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class PermissionsManager;
class QLabel;
class QPushButton;

// The content of the screen-access permission window: why access is needed, whether it has been
// granted, and the two buttons. Follows the manager's flag while it shows. Where the session
// itself forbids reading the screen (Wayland), it says so instead, and its one button closes it.
class PermissionRequestView : public QWidget {
    Q_OBJECT
public:
    PermissionRequestView(PermissionsManager& permissionsManager, std::function<void()> onRequestPermission,
                          std::function<void()> onSkip,
                          platform::ScreenAccess::Obstacle obstacle = platform::ScreenAccess::Obstacle::unreadableRoot,
                          QWidget* parent = nullptr);

    QPushButton* requestButton() const { return m_requestButton; }
    QPushButton* skipButton() const { return m_skipButton; }
    // No access can be granted in this session: the texts say so and the main button closes.
    bool sessionForbidsCapture() const { return m_sessionForbids; }

    // Its size, when the desktop's fonts let the texts fit.
    static constexpr int defaultWidth = 480;
    static constexpr int defaultHeight = 380;

private:
    void updateGrantedState();

    QPointer<PermissionsManager> m_permissionsManager;
    bool m_sessionForbids = false;
    std::function<void()> m_onRequestPermission;
    std::function<void()> m_onSkip;
    QWidget* m_grantedRow = nullptr;
    QLabel* m_hint = nullptr;
    QPushButton* m_requestButton = nullptr;
    QPushButton* m_skipButton = nullptr;
};
