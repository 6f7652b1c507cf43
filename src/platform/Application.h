#pragma once

#include <QObject>
#include <QString>

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

    // Brings one of our windows to the front and gives it the focus, unless one of ours is already
    // active. Does nothing when no window is shown.
    void activateIgnoringOtherApps();

signals:
    void activationPolicyChanged(platform::ActivationPolicy policy);

private:
    Application() = default;

    ActivationPolicy m_policy = ActivationPolicy::regular;
    int m_suddenTerminationDisabled = 0;
    int m_automaticTerminationDisabled = 0;
};

} // namespace platform
