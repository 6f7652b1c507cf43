#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>

#include <functional>
#include <mutex>
#include <optional>

class PermissionsManager;
class ScreenCaptureWindow;

// Area and full-screen screenshots. The image handed to a completion has the screen's device
// pixel ratio set: its pixels are the screen's, its deviceIndependentSize() is in points.
class ScreenCapture : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(std::optional<QImage>)>;

    explicit ScreenCapture(QObject* parent = nullptr);
    ~ScreenCapture() override;

    // Held weakly; assigned by the owner before each request.
    QPointer<PermissionsManager> permissionsManager;

    void captureScreen(Completion completion);
    void captureFullScreen(Completion completion);
    bool isCapturing() const;

private:
    // The permission service for a new request, with the lock held; none when a capture runs (the
    // request is dropped) or no service is set (the request ends with nothing).
    PermissionsManager* acceptRequest(Completion& completion);
    // Asks for the permission, busy meanwhile; granted, `granted` takes the completion, else it
    // gets nothing.
    void askPermissionThen(PermissionsManager* manager, Completion completion, void (ScreenCapture::*granted)(Completion));
    void performCapture(Completion completion);
    // `then` runs once the windows we hid are gone from the screen, or after a bounded wait.
    void whenOurWindowsAreOffScreen(std::function<void()> then);
    // `completion`, after which the capture is idle and, a moment later, the windows it hid are
    // back, with the application activated when `activate`.
    Completion restoringAfter(quint64 hidden, bool activate, Completion completion);
    void startInteractiveCapture(Completion completion);
    // Asks the permission service; `answer` runs once, also when the service goes away unanswered.
    void requestPermission(PermissionsManager* manager, std::function<void(bool granted)> answer);

    mutable std::recursive_mutex m_captureLock;
    bool m_isCapturing = false;
    QPointer<ScreenCaptureWindow> m_window;
};
