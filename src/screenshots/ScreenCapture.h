#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>

#include <functional>
#include <mutex>
#include <optional>

class PermissionsManager;

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
    mutable std::recursive_mutex m_captureLock;
    bool m_isCapturing = false;
};
