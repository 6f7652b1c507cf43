#pragma once

#include "platform/InputGrab.h"
#include "platform/ScreenGeometry.h"

#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

class CaptureOverlayView;

// The overlay of one area capture: a frameless, override-redirect window over the screen under
// the pointer that takes keyboard and mouse while the user drags a rectangle. A new one is made
// for every capture. Its class-level functions are the pixel capture chain, which reads a
// rectangle given in global top-left pixels.
class ScreenCaptureWindow : public QWidget {
    Q_OBJECT
public:
    using Completion = std::function<void(std::optional<QImage>)>;
    // The screen-saver level: above everything else on the desktop.
    static constexpr int kWindowLevel = 1000;
    // A selection must be larger than this many points in both directions.
    static constexpr double kMinimumSelection = 5.0;
    // How long a capture waits for the X server (and a window manager, for the frames around our
    // windows) to take the windows it hid off the screen before it reads the pixels all the same.
    // Both answer within milliseconds; this only bounds a window manager that never does.
    static constexpr std::chrono::milliseconds kOffScreenTimeout{500};

    // Chooses the screen under the pointer and covers it.
    ScreenCaptureWindow();
    ~ScreenCaptureWindow() override;

    // The completion of the capture in progress.
    Completion captureCompletion;

    std::optional<QPointF> startPoint() const { return m_startPoint; }
    // The selection in window coordinates (points, top-left origin).
    QRectF currentRect() const { return m_currentRect; }
    CaptureOverlayView* overlayView() const { return m_overlayView; }
    std::optional<platform::ScreenInfo> targetScreen() const { return m_targetScreen; }
    // The area the window covers, in Qt global points.
    QRect frame() const { return m_frame; }
    bool isCompleted() const { return m_isCompleted; }
    int level() const { return kWindowLevel; }

    // Shows the window in front and takes keyboard and mouse, retrying for a moment while another
    // client (a tray menu that just closed) still holds them.
    void present();
    bool hasInputGrabs() const { return m_inputGrab.hasGrabs(); }

    void completeCapture(std::optional<QImage> image);
    // A selection in window coordinates, in global top-left pixels.
    QRect convertToScreenCoordinates(const QRectF& rect) const;

    // Geometry, free of any window so tests can run it on injected screen lists.
    // The screen of `cursor` (Qt global points), else the first listed, else `mainScreen`.
    static std::optional<platform::ScreenInfo> chooseScreen(const QList<platform::ScreenInfo>& screens, const QPoint& cursor,
                                                            const std::optional<platform::ScreenInfo>& mainScreen);
    // The screen holding the active window (`activeWindowCenter`), else the primary.
    static std::optional<platform::ScreenInfo> chooseMainScreen(const QList<platform::ScreenInfo>& screens,
                                                                const std::optional<QPoint>& activeWindowCenter);
    // The main screen of the running application.
    static std::optional<platform::ScreenInfo> mainScreen();
    // A selection in window coordinates of a window covering `windowFrame` on `screen`, in global top-left pixels.
    static QRect selectionToGlobalPixels(const QRectF& selection, const QRect& windowFrame, const platform::ScreenInfo& screen);
    // The whole of `screen` in global top-left pixels.
    static QRect screenToGlobalPixels(const platform::ScreenInfo& screen);
    // A rectangle in global top-left pixels, relative to `screen`'s own top-left pixel.
    static QRect displayCropRect(const QRect& rect, const platform::ScreenInfo& screen);

    // The chain: methods tried in order, the first image wins. `rect` is in global top-left
    // pixels; no screen means the main screen. Images carry the screen's device pixel ratio.
    static std::optional<QImage> captureScreenRectStatic(const QRect& rect, const std::optional<platform::ScreenInfo>& screen);
    // 1: the screen's pixels through the shared grabber, cropped to the part of `rect` on it.
    static std::optional<QImage> captureDisplayDirectly(const QRect& rect, const std::optional<platform::ScreenInfo>& screen);
    // 2: the same through the grabber's plain GetImage path, without the bounds check.
    static std::optional<QImage> fallbackToDisplayCapture(const QRect& rect, const std::optional<platform::ScreenInfo>& screen);
    // 3: the other processes' top-level windows composed bottom to top; `rootRect` in root pixels.
    static std::optional<QImage> captureExcludingOurApp(const QRect& rootRect, qint32 ourPID);
    // 4: whatever the display shows there, through Qt's own screen grab; black where the
    // rectangle leaves the screen the grab runs on.
    static std::optional<QImage> captureAllVisibleWindows(const QRect& rect, const platform::ScreenInfo& screen);

    // Arguments of QScreen::grabWindow(0, x, y, w, h) on a screen: Qt counts x and y from that
    // screen's native top-left and multiplies all four by its ratio, rounding each.
    struct ScreenGrabRequest {
        QRect points;      // x, y, w, h to pass
        QSize grabbedSize; // the pixels Qt will read
        QRect source;      // the wanted pixels within them
        QPoint target;     // where those go in the image of the requested rectangle
    };
    // The request for the part of `rootRect` (root pixels) on the screen `screenNative` and inside
    // `rootWindow` (none: not cut); nullopt when no such part exists.
    static std::optional<ScreenGrabRequest> screenGrabRequest(const QRect& rootRect, const QRect& screenNative, double ratio,
                                                              const QRect& rootWindow);
    // The screen's output name; none for a screen the display does not name.
    static std::optional<QString> getDisplayIDForScreenStatic(const platform::ScreenInfo& screen);

    // Tests: replace the methods of the chain (nullopt restores the real ones).
    struct CaptureMethods {
        std::function<std::optional<QImage>(const QRect&, const std::optional<platform::ScreenInfo>&)> direct;
        std::function<std::optional<QImage>(const QRect&, const std::optional<platform::ScreenInfo>&)> fallback;
        std::function<std::optional<QImage>(const QRect&, qint32)> excludingOurApp;
        std::function<std::optional<QImage>(const QRect&, const platform::ScreenInfo&)> allWindows;
    };
    static CaptureMethods defaultCaptureMethods();
    static void setCaptureMethodsForTesting(std::optional<CaptureMethods> methods);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setupWindow();
    void closeWindow();
    void tryGrabInput();

    std::optional<QPointF> m_startPoint;
    QRectF m_currentRect;
    CaptureOverlayView* m_overlayView = nullptr;
    std::optional<platform::ScreenInfo> m_targetScreen;
    QRect m_frame;
    bool m_isCompleted = false;
    bool m_destroying = false;
    platform::InputGrab m_inputGrab;
    // The completion taken by a successful mouse-up, until the delayed capture hands it the image.
    Completion m_deferredCompletion;
};
