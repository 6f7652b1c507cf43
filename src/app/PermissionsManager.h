#pragma once

#include <QObject>

#include <functional>

// The one screen-access permission service of the process.
class PermissionsManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool screenRecordingPermissionGranted READ screenRecordingPermissionGranted
                   WRITE setScreenRecordingPermissionGranted NOTIFY screenRecordingPermissionGrantedChanged)
    Q_PROPERTY(bool isCheckingPermissions READ isCheckingPermissions NOTIFY isCheckingPermissionsChanged)
public:
    explicit PermissionsManager(QObject* parent = nullptr);

    bool screenRecordingPermissionGranted() const { return m_granted; }
    void setScreenRecordingPermissionGranted(bool granted);
    bool isCheckingPermissions() const { return m_checking; }

    // Answers on the GUI thread, exactly once, never before this call returns.
    void requestScreenRecordingPermission(std::function<void(bool granted)> completion);

signals:
    void screenRecordingPermissionGrantedChanged();
    void isCheckingPermissionsChanged();

private:
    void setChecking(bool checking);

    bool m_granted = false;
    bool m_checking = false;
};
