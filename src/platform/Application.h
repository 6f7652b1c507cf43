#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace platform {

// How the application shows itself. There is no Dock on Linux: the policy is kept as state that the
// shell switches and logs, and that gates the main menu's shortcuts.
enum class ActivationPolicy {
    regular,    // windows and the main menu
    accessory,  // tray only
    prohibited, // nothing
};

// Process-wide application state that the desktop has no counterpart for: the activation policy,
// the sudden/automatic termination switches, and the application's identity.
class Application : public QObject {
    Q_OBJECT
public:
    static Application& shared();

    // Fixed reverse-DNS identifier of the product (names the single-instance lock).
    static QString bundleIdentifier();
    // "regular", "accessory" or "prohibited".
    static QString policyName(ActivationPolicy policy);

    ActivationPolicy activationPolicy() const { return m_policy; }
    void setActivationPolicy(ActivationPolicy policy);

    // Counted like the platform switches they stand for: each disable needs one enable.
    void disableSuddenTermination();
    void enableSuddenTermination();
    bool suddenTerminationEnabled() const { return m_suddenTerminationDisabled == 0; }
    void disableAutomaticTermination(const QString& reason);
    void enableAutomaticTermination(const QString& reason);
    bool automaticTerminationEnabled() const { return m_automaticTerminationDisabled == 0; }

    // Brings our front window (the one shown last) to the front and gives it the focus, unless one
    // of ours is already active; the floating windows stay above it. Does nothing when no window is
    // shown.
    void activateIgnoringOtherApps();

    // Counts the showings of our top-level windows; a window shown after a reading has a larger one.
    quint64 showSerial() const { return m_showSerial; }
    // Shows `window` again after it was hidden at `hiddenAt` (a showSerial()). A window of ours
    // shown meanwhile keeps the front and the focus, with `window` beneath it; without one
    // `window` comes to the front as usual.
    void restoreWindow(QWidget* window, quint64 hiddenAt);
    // Raises our shown floating windows (those that stay on top: the recording's controls, frame
    // and rings, toasts) above our other windows. Without a window manager nothing else keeps them
    // there, and one of ours raised later would cover them.
    void raiseFloatingWindows();

signals:
    void activationPolicyChanged(platform::ActivationPolicy policy);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Application() = default;
    void watchWindows();

    struct Shown {
        QPointer<QWidget> window;
        quint64 serial = 0;
    };
    // Our shown window that takes the front: the last shown, after `since`, other than `except`.
    QWidget* frontWindow(quint64 since = 0, const QWidget* except = nullptr) const;
    void noteShown(QWidget* window);

    QList<Shown> m_shown; // oldest first
    quint64 m_showSerial = 0;
    bool m_floatingRaisePending = false;
    bool m_watching = false;

    ActivationPolicy m_policy = ActivationPolicy::regular;
    int m_suddenTerminationDisabled = 0;
    int m_automaticTerminationDisabled = 0;
};

} // namespace platform
