#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class PermissionsManager;
class QTimer;

// The window shown at launch when the screen cannot be read (under Wayland, for example): it says
// why access is needed, polls once a second for it and finishes as soon as it is there, or when
// the user goes on without it. Closing it from the title bar only hides it; the poll goes on.
class PermissionRequestWindowController : public QObject {
    Q_OBJECT
public:
    // `onComplete` runs at the end of every close(), so possibly more than once.
    PermissionRequestWindowController(PermissionsManager& permissionsManager, std::function<void()> onComplete,
                                      QObject* parent = nullptr);
    ~PermissionRequestWindowController() override;

    // Builds and shows the window, brings the application to the front and starts the poll.
    void show();
    // Stops the poll, closes and releases the window, then runs the completion.
    void close();

    // The window from show() until close(); nullptr otherwise.
    QWidget* window() const { return m_window; }
    bool isPolling() const;

    static constexpr int pollIntervalMilliseconds = 1000;
    // The main button opens the privacy settings this long after asking for access.
    static constexpr int openSettingsDelayMilliseconds = 300;
    // Tests: what opening the privacy settings does.
    static void setPrivacySettingsOpenerForTesting(std::function<void()> opener);

private:
    void requestPermissionAndOpenSettings();
    void startPermissionCheck();
    static void openPrivacySettings();

    QPointer<QWidget> m_window;
    QPointer<PermissionsManager> m_permissionsManager;
    std::function<void()> m_onComplete;
    QTimer* m_checkTimer = nullptr;
};
