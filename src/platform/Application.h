#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
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

    // Takes our windows off the screen for a capture: every shown top-level window but menus, tool
    // tips, the tray icon (it lives in the tray's window), a modal dialog (hiding it would answer
    // it) and the windows kept with keepDuringCaptures(). Windows an earlier capture hid and has not
    // brought back yet stay hidden and pass to this one. Returns the token to bring them back with.
    quint64 hideWindowsForCapture();
    // Brings back what the capture `token` hid, as it was: the same windows (not those closed or
    // shown by others meanwhile), in the same places and stacking. A window of ours shown meanwhile
    // (the preview) keeps the front and the focus, with them beneath it; without one the window
    // that had the focus gets it back. Nothing when a later capture has taken them over. True when
    // it gave one of ours the focus.
    bool restoreWindowsAfterCapture(quint64 token);
    // A window that stays up while a capture takes ours off the screen: one that shows nothing of
    // its own (the anchor), or a test's stand-in for another program's window.
    static void keepDuringCaptures(QWidget* window);
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
    // What the captures have hidden and not yet brought back.
    struct HiddenForCapture {
        QPointer<QWidget> window;
        QRect geometry;
    };
    QList<HiddenForCapture> m_hiddenForCapture; // bottom to top
    QPointer<QWidget> m_activeBeforeCapture;
    quint64 m_hiddenAt = 0;
    quint64 m_captureToken = 0;
    bool m_restoring = false;
    quint64 m_showSerial = 0;
    bool m_floatingRaisePending = false;
    bool m_watching = false;

    ActivationPolicy m_policy = ActivationPolicy::regular;
    int m_suddenTerminationDisabled = 0;
    int m_automaticTerminationDisabled = 0;
};

} // namespace platform
