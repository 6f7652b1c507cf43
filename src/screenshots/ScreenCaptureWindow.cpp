#include "screenshots/ScreenCaptureWindow.h"

#include "platform/CompositingManager.h"
#include "platform/Console.h"
#include "platform/NumberFormat.h"
#include "platform/OnScreenTracker.h"
#include "platform/PixelGrabber.h"
#include "platform/WindowStackReader.h"
#include "screenshots/CaptureOverlayView.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cmath>
#include <memory>

using platform::NumberFormat;
using platform::ScreenGeometry;
using platform::ScreenInfo;

namespace {

// The pause between hiding the overlay and reading the pixels: the windows beneath repaint meanwhile.
constexpr int kHideDelayMs = 50;

void print(const QString& line)
{
    platform::Console::printLine(QStringLiteral("ScreenCaptureWindow: ") + line);
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString pixelSize(const QImage& image)
{
    return QString::number(image.width()) + QLatin1Char('x') + QString::number(image.height());
}

QString pointSize(const std::optional<QImage>& image)
{
    return NumberFormat::size(image ? image->deviceIndependentSize() : QSizeF(0, 0));
}

bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// One grabber for the display methods and the overlay's frozen background (GUI thread only). After
// a failed read it is dropped, so a broken connection is made again on the next use.
std::unique_ptr<platform::PixelGrabber>& grabberSlot()
{
    static std::unique_ptr<platform::PixelGrabber> grabber;
    return grabber;
}

platform::PixelGrabber* sharedGrabber(QString* error)
{
    auto& grabber = grabberSlot();
    if (!grabber)
        grabber = platform::PixelGrabber::create(error);
    return grabber.get();
}

QImage grabScreenPixels(const ScreenInfo& screen, bool plainRequests, QString* error)
{
    if (!onX11()) {
        if (error)
            *error = QStringLiteral("no X11 display");
        return {};
    }
    platform::PixelGrabber* grabber = sharedGrabber(error);
    if (!grabber)
        return {};
    const bool shm = grabber->usesShm();
    if (plainRequests)
        grabber->setUseShm(false);
    QImage image = grabber->grab(screen.nativeGeometry, error);
    if (plainRequests)
        grabber->setUseShm(shm);
    if (image.isNull())
        grabberSlot().reset();
    else
        image.setDevicePixelRatio(screen.devicePixelRatio);
    return image;
}

std::unique_ptr<platform::WindowStackReader>& windowReaderSlot()
{
    static std::unique_ptr<platform::WindowStackReader> reader;
    return reader;
}

platform::WindowStackReader* sharedWindowReader(QString* error)
{
    auto& reader = windowReaderSlot();
    if (!reader)
        reader = platform::WindowStackReader::create(error);
    return reader.get();
}

std::optional<ScreenCaptureWindow::CaptureMethods>& injectedMethods()
{
    static std::optional<ScreenCaptureWindow::CaptureMethods> methods;
    return methods;
}

double primaryHeight(const ScreenInfo& screen)
{
    const auto primary = ScreenGeometry::primaryScreen();
    return primary ? primary->geometry.height() : screen.geometry.height();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Geometry

std::optional<ScreenInfo> ScreenCaptureWindow::chooseScreen(const QList<ScreenInfo>& screens, const QPoint& cursor,
                                                            const std::optional<ScreenInfo>& mainScreen)
{
    for (const ScreenInfo& screen : screens)
        if (screen.geometry.contains(cursor))
            return screen;
    if (!screens.isEmpty())
        return screens.first();
    return mainScreen;
}

std::optional<ScreenInfo> ScreenCaptureWindow::chooseMainScreen(const QList<ScreenInfo>& screens,
                                                                const std::optional<QPoint>& activeWindowCenter)
{
    if (activeWindowCenter)
        for (const ScreenInfo& screen : screens)
            if (screen.geometry.contains(*activeWindowCenter))
                return screen;
    return ScreenGeometry::primaryOf(screens);
}

std::optional<ScreenInfo> ScreenCaptureWindow::mainScreen()
{
    std::optional<QPoint> center;
    if (QWidget* active = QApplication::activeWindow())
        center = active->frameGeometry().center();
    return chooseMainScreen(ScreenGeometry::screens(), center);
}

QRect ScreenCaptureWindow::selectionToGlobalPixels(const QRectF& selection, const QRect& windowFrame, const ScreenInfo& screen)
{
    const QRectF onScreen = selection.translated(QPointF(windowFrame.topLeft() - screen.geometry.topLeft()));
    return ScreenGeometry::rootToGlobalTopLeftPixels(ScreenGeometry::screenAreaToRootPixels(onScreen, screen));
}

QRect ScreenCaptureWindow::screenToGlobalPixels(const ScreenInfo& screen)
{
    return ScreenGeometry::rootToGlobalTopLeftPixels(screen.nativeGeometry);
}

QRect ScreenCaptureWindow::displayCropRect(const QRect& rect, const ScreenInfo& screen)
{
    return rect.translated(-screenToGlobalPixels(screen).topLeft());
}

// ---------------------------------------------------------------------------------------------
// The window

ScreenCaptureWindow::ScreenCaptureWindow()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint)
    , m_inputGrab(this, [this] { tryGrabInput(); })
{
    setAttribute(Qt::WA_QuitOnClose, false);
    m_targetScreen = chooseScreen(ScreenGeometry::screens(), QCursor::pos(), mainScreen());
    if (m_targetScreen)
        m_frame = m_targetScreen->geometry;
    setupWindow();
}

ScreenCaptureWindow::~ScreenCaptureWindow()
{
    m_destroying = true;
    completeCapture(std::nullopt);
    // A capture scheduled by mouse-up that can no longer run still ends, with nothing.
    if (Completion deferred = std::exchange(m_deferredCompletion, nullptr))
        deferred(std::nullopt);
    print(QStringLiteral("deinit called"));
}

void ScreenCaptureWindow::setupWindow()
{
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    print(QStringLiteral("Setting up overlay for frame: ") + NumberFormat::rect(m_frame));

    m_overlayView = new CaptureOverlayView(this);
    // A veil over the live screen needs a compositing manager; without one, paint the screen as
    // it is now under the veil. Either way the capture reads the display after the overlay is gone.
    QImage frozen;
    if (onX11() && m_targetScreen && !platform::CompositingManager::isRunning())
        frozen = grabScreenPixels(*m_targetScreen, false, nullptr);
    m_overlayView->setScreenBackdrop(frozen);
    if (m_targetScreen)
        if (QScreen* screen = ScreenGeometry::qscreen(*m_targetScreen))
            setScreen(screen);
    setGeometry(m_frame);
    m_overlayView->setGeometry(rect());
}

void ScreenCaptureWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_overlayView)
        m_overlayView->setGeometry(rect());
}

void ScreenCaptureWindow::present()
{
    show();
    raise();
    activateWindow();
    m_overlayView->setFocus(Qt::OtherFocusReason);
    m_inputGrab.resetAttempts();
    tryGrabInput();
}

void ScreenCaptureWindow::tryGrabInput()
{
    if (const std::optional<QString> failure = m_inputGrab.tryGrab(!m_isCompleted))
        print(*failure);
}

void ScreenCaptureWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_startPoint = event->position();
    m_currentRect = QRectF(*m_startPoint, QSizeF(0, 0));
    print(QStringLiteral("mouseDown at ") + NumberFormat::point(*m_startPoint));
}

void ScreenCaptureWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_startPoint || !(event->buttons() & Qt::LeftButton))
        return;
    const QPointF p = event->position();
    const QPointF& start = *m_startPoint;
    m_currentRect = QRectF(std::min(p.x(), start.x()), std::min(p.y(), start.y()), std::abs(p.x() - start.x()),
                           std::abs(p.y() - start.y()));
    m_overlayView->setSelectionRect(m_currentRect);
    print(QStringLiteral("mouseDragged currentRect = ") + NumberFormat::rect(m_currentRect));
}

void ScreenCaptureWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    print(QStringLiteral("mouseUp - currentRect = ") + NumberFormat::rect(m_currentRect));
    if (m_isCompleted) {
        print(QStringLiteral("Already completed, ignoring mouseUp"));
        return;
    }
    if (m_currentRect.width() > kMinimumSelection && m_currentRect.height() > kMinimumSelection) {
        const QRect converted = convertToScreenCoordinates(m_currentRect);
        print(QStringLiteral("Converted to screen rect = ") + NumberFormat::rect(converted));
        m_deferredCompletion = captureCompletion;
        const std::optional<ScreenInfo> screen = m_targetScreen;
        m_isCompleted = true;
        m_inputGrab.release();
        hide();
        QTimer::singleShot(kHideDelayMs, this, [this, converted, screen] {
            // The server's word that the overlay has gone, not only our request.
            platform::OnScreenTracker::shared().whenOffScreen(this, kOffScreenTimeout, [this, converted, screen](bool) {
                print(QStringLiteral("Window hidden, capturing..."));
                const std::optional<QImage> image = captureScreenRectStatic(converted, screen);
                print(QStringLiteral("Captured image size: ") + pointSize(image));
                print(QStringLiteral("Calling completion with image: ") + boolText(image.has_value()));
                if (Completion completion = std::exchange(m_deferredCompletion, nullptr))
                    completion(image);
                deleteLater();
            });
        });
        return;
    }
    print(QStringLiteral("Rect too small (") + NumberFormat::decimal(m_currentRect.width()) + QLatin1Char('x')
          + NumberFormat::decimal(m_currentRect.height()) + QStringLiteral("), closing"));
    completeCapture(std::nullopt);
}

void ScreenCaptureWindow::keyPressEvent(QKeyEvent* event)
{
    // Every key is taken here; none reaches another widget.
    event->accept();
    if (event->key() == Qt::Key_Escape) {
        print(QStringLiteral("ESC pressed, cancelling capture"));
        completeCapture(std::nullopt);
    }
}

void ScreenCaptureWindow::completeCapture(std::optional<QImage> image)
{
    if (m_isCompleted) {
        print(QStringLiteral("Already completed, ignoring completion"));
        return;
    }
    m_isCompleted = true;
    closeWindow();
    print(QStringLiteral("Calling completion with image: ") + boolText(image.has_value()));
    if (Completion completion = std::exchange(captureCompletion, nullptr))
        completion(image);
}

void ScreenCaptureWindow::closeWindow()
{
    print(QStringLiteral("Closing window"));
    m_inputGrab.release();
    if (m_destroying)
        return;
    QTimer::singleShot(0, this, [this] {
        hide();
        deleteLater();
    });
}

QRect ScreenCaptureWindow::convertToScreenCoordinates(const QRectF& rect) const
{
    const std::optional<ScreenInfo> screen = m_targetScreen ? m_targetScreen : mainScreen();
    if (!screen)
        return rect.toAlignedRect();
    const QRect result = selectionToGlobalPixels(rect, m_frame, *screen);
    print(QStringLiteral("convertToScreenCoordinates - primary height: ") + NumberFormat::decimal(primaryHeight(*screen))
          + QStringLiteral(", screen: ") + NumberFormat::rect(screen->geometry) + QStringLiteral(", result: ")
          + NumberFormat::rect(result));
    return result;
}

// ---------------------------------------------------------------------------------------------
// The pixel capture chain

ScreenCaptureWindow::CaptureMethods ScreenCaptureWindow::defaultCaptureMethods()
{
    return {&ScreenCaptureWindow::captureDisplayDirectly, &ScreenCaptureWindow::fallbackToDisplayCapture,
            &ScreenCaptureWindow::captureExcludingOurApp, &ScreenCaptureWindow::captureAllVisibleWindows};
}

void ScreenCaptureWindow::setCaptureMethodsForTesting(std::optional<CaptureMethods> methods)
{
    injectedMethods() = std::move(methods);
}

std::optional<QString> ScreenCaptureWindow::getDisplayIDForScreenStatic(const ScreenInfo& screen)
{
    if (screen.name.isEmpty() || screen.nativeGeometry.isEmpty()) {
        print(QStringLiteral("Could not get screen number"));
        return std::nullopt;
    }
    print(QStringLiteral("Found display ID: ") + screen.name);
    return screen.name;
}

std::optional<QImage> ScreenCaptureWindow::captureScreenRectStatic(const QRect& rect, const std::optional<ScreenInfo>& given)
{
    print(QStringLiteral("Capturing rect ") + NumberFormat::rect(rect));
    const std::optional<ScreenInfo> screen = given ? given : mainScreen();
    if (!screen) {
        print(QStringLiteral("No screen found"));
        return std::nullopt;
    }
    const CaptureMethods methods = injectedMethods().value_or(defaultCaptureMethods());

    print(QStringLiteral("Trying direct display capture"));
    if (auto image = methods.direct(rect, screen)) {
        print(QStringLiteral("Successfully captured display image"));
        return image;
    }
    print(QStringLiteral("Trying fallback display capture"));
    if (auto image = methods.fallback(rect, screen)) {
        print(QStringLiteral("Successfully captured with fallback display method"));
        return image;
    }
    // Window geometry on X11 is in root pixels, not points.
    print(QStringLiteral("Trying to capture excluding our app"));
    if (auto image = methods.excludingOurApp(ScreenGeometry::globalTopLeftPixelsToRoot(rect),
                                             static_cast<qint32>(QCoreApplication::applicationPid()))) {
        image->setDevicePixelRatio(screen->devicePixelRatio);
        print(QStringLiteral("Successfully captured excluding our app"));
        return image;
    }
    print(QStringLiteral("Trying CGWindowListCreateImage with all visible windows"));
    auto image = methods.allWindows(rect, *screen);
    if (!image) {
        print(QStringLiteral("Failed to capture with all windows"));
        print(QStringLiteral("All capture methods failed"));
        return std::nullopt;
    }
    print(QStringLiteral("Successfully captured all windows image of size ") + pixelSize(*image));
    image->setDevicePixelRatio(screen->devicePixelRatio);
    print(QStringLiteral("SUCCESS - created image of size ") + pointSize(image));
    return image;
}

std::optional<QImage> ScreenCaptureWindow::captureDisplayDirectly(const QRect& rect, const std::optional<ScreenInfo>& given)
{
    print(QStringLiteral("Starting direct display capture"));
    const std::optional<ScreenInfo> screen = given ? given : mainScreen();
    if (!screen) {
        print(QStringLiteral("No screen found for direct capture"));
        return std::nullopt;
    }
    const std::optional<QString> displayID = getDisplayIDForScreenStatic(*screen);
    if (!displayID) {
        print(QStringLiteral("Could not get display ID"));
        return std::nullopt;
    }
    print(QStringLiteral("Capturing from display ") + *displayID);
    QString error;
    const QImage display = grabScreenPixels(*screen, false, &error);
    if (display.isNull()) {
        print(QStringLiteral("Failed to capture full display"));
        return std::nullopt;
    }
    print(QStringLiteral("Captured full display of size ") + pixelSize(display));

    const double s = screen->devicePixelRatio;
    const QPoint topLeft = screenToGlobalPixels(*screen).topLeft();
    const QRect crop = displayCropRect(rect, *screen);
    print(QStringLiteral("Screen frame: ") + NumberFormat::rect(screen->geometry));
    print(QStringLiteral("Scale factor: ") + NumberFormat::decimal(s));
    print(QStringLiteral("Primary screen height: ") + NumberFormat::decimal(primaryHeight(*screen)));
    print(QStringLiteral("Screen top in CGImage coords: ") + NumberFormat::decimal(topLeft.y()));
    print(QStringLiteral("Original rect: ") + NumberFormat::rect(rect));
    print(QStringLiteral("Crop rect for display: ") + NumberFormat::rect(crop));

    const QRect bounds(QPoint(0, 0), display.size());
    if (!bounds.intersects(crop)) {
        print(QStringLiteral("Crop rect outside of display image bounds"));
        return std::nullopt;
    }
    const QRect visible = bounds.intersected(crop);
    QImage image = display.copy(visible);
    if (image.isNull()) {
        print(QStringLiteral("Failed to crop display image with rect ") + NumberFormat::rect(visible));
        return std::nullopt;
    }
    image.setDevicePixelRatio(s);
    print(QStringLiteral("Successfully created cropped image of size ") + pointSize(image));
    return image;
}

std::optional<QImage> ScreenCaptureWindow::fallbackToDisplayCapture(const QRect& rect, const std::optional<ScreenInfo>& given)
{
    print(QStringLiteral("Using fallback display capture"));
    const std::optional<ScreenInfo> screen = given ? given : mainScreen();
    if (!screen) {
        print(QStringLiteral("No screen found for fallback"));
        return std::nullopt;
    }
    auto fail = [] {
        print(QStringLiteral("Fallback failed to create image"));
        return std::nullopt;
    };
    const std::optional<QString> displayID = getDisplayIDForScreenStatic(*screen);
    if (!displayID) {
        print(QStringLiteral("Failed to get display ID"));
        return fail();
    }
    print(QStringLiteral("Fallback to CGDisplayCreateImage for display ") + *displayID);
    QString error;
    const QImage display = grabScreenPixels(*screen, true, &error);
    if (display.isNull()) {
        print(QStringLiteral("Failed to capture display"));
        return fail();
    }
    print(QStringLiteral("Successfully captured full display of size ") + pixelSize(display));
    const double s = screen->devicePixelRatio;
    const QRect crop = displayCropRect(rect, *screen);
    print(QStringLiteral("Screen frame: ") + NumberFormat::rect(screen->geometry));
    print(QStringLiteral("Scale factor: ") + NumberFormat::decimal(s));
    print(QStringLiteral("Original rect: ") + NumberFormat::rect(rect));
    print(QStringLiteral("Display rect for cropping: ") + NumberFormat::rect(crop));
    const QRect visible = QRect(QPoint(0, 0), display.size()).intersected(crop);
    QImage image = visible.isEmpty() ? QImage() : display.copy(visible);
    if (image.isNull()) {
        print(QStringLiteral("Failed to crop image with rect ") + NumberFormat::rect(visible));
        return fail();
    }
    image.setDevicePixelRatio(s);
    print(QStringLiteral("SUCCESS - created cropped image of size ") + pointSize(image));
    return image;
}

std::optional<QImage> ScreenCaptureWindow::captureExcludingOurApp(const QRect& rootRect, qint32 ourPID)
{
    QString error;
    platform::WindowStackReader* reader = onX11() ? sharedWindowReader(&error) : nullptr;
    const auto windows = reader ? reader->windows(&error) : std::nullopt;
    if (!windows) {
        if (reader)
            windowReaderSlot().reset();
        print(QStringLiteral("Could not get window list for exclusion"));
        return std::nullopt;
    }
    QList<platform::TopLevelWindow> included;
    for (const platform::TopLevelWindow& window : *windows) {
        // Windows that do not say whose they are, and the desktop's wallpaper, are left out.
        if (!window.pid || window.desktop)
            continue;
        if (*window.pid == ourPID) {
            print(QStringLiteral("Excluding our app window ") + QString::number(window.id));
            continue;
        }
        if (!window.geometry.intersects(rootRect))
            continue;
        print(QStringLiteral("Including window ") + QString::number(window.id) + QStringLiteral(" from PID ")
              + QString::number(*window.pid));
        included.append(window);
    }
    if (!included.isEmpty()) {
        int drawn = 0;
        QImage image = reader->compose(included, rootRect, &drawn);
        if (drawn > 0 && !image.isNull()) {
            print(QStringLiteral("Created composite image excluding our app with ") + QString::number(included.size())
                  + QStringLiteral(" windows"));
            return image;
        }
    }
    print(QStringLiteral("No suitable windows found for exclusion capture"));
    return std::nullopt;
}

std::optional<ScreenCaptureWindow::ScreenGrabRequest> ScreenCaptureWindow::screenGrabRequest(const QRect& rootRect,
                                                                                          const QRect& screenNative,
                                                                                          double ratio,
                                                                                          const QRect& rootWindow)
{
    QRect visible = rootRect.intersected(screenNative);
    if (!rootWindow.isEmpty())
        visible = visible.intersected(rootWindow);
    if (visible.isEmpty())
        return std::nullopt;
    const double f = ratio > 0 ? ratio : 1.0;
    // Qt turns the points into pixels as qRound(v * f) each and reads from the screen's native
    // top-left on. Points rounded down give an origin at or before the wanted pixel; the size in
    // points rounded up then reaches past the wanted end.
    const QPoint local = visible.topLeft() - screenNative.topLeft();
    const QPoint points(static_cast<int>(std::floor(local.x() / f)), static_cast<int>(std::floor(local.y() / f)));
    const QPoint readFrom(qRound(points.x() * f), qRound(points.y() * f));
    const QSize pointSize(static_cast<int>(std::ceil((local.x() + visible.width() - readFrom.x()) / f - 1e-9)),
                          static_cast<int>(std::ceil((local.y() + visible.height() - readFrom.y()) / f - 1e-9)));
    ScreenGrabRequest request;
    request.points = QRect(points, pointSize);
    request.grabbedSize = QSize(qRound(pointSize.width() * f), qRound(pointSize.height() * f));
    request.source = QRect(local - readFrom, visible.size());
    request.target = visible.topLeft() - rootRect.topLeft();
    return request;
}

std::optional<QImage> ScreenCaptureWindow::captureAllVisibleWindows(const QRect& rect, const ScreenInfo& screen)
{
    if (!onX11() || rect.isEmpty())
        return std::nullopt;
    QScreen* qscreen = ScreenGeometry::qscreen(screen);
    if (!qscreen)
        return std::nullopt;
    // grabWindow(0, ...) counts from the native top-left of the screen it is called on, which is
    // the real screen found here (an injected list may name one the display does not have).
    const QRect root = ScreenGeometry::globalTopLeftPixelsToRoot(rect);
    const ScreenInfo grabbed = ScreenGeometry::describe(*qscreen);
    const auto request = screenGrabRequest(root, grabbed.nativeGeometry, grabbed.devicePixelRatio, ScreenGeometry::rootGeometry());
    if (!request)
        return std::nullopt;
    const QRect& p = request->points;
    const QPixmap pixmap = qscreen->grabWindow(0, p.x(), p.y(), p.width(), p.height());
    if (pixmap.isNull())
        return std::nullopt;
    QImage pixels = pixmap.toImage().convertToFormat(QImage::Format_RGB32);
    pixels.setDevicePixelRatio(1.0);
    // The server leaves whatever it could not copy undefined: only the visible part is taken, the
    // rest of the rectangle is black.
    const QRect source = request->source.intersected(pixels.rect());
    if (source.isEmpty())
        return std::nullopt;
    QImage image(rect.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(request->target + (source.topLeft() - request->source.topLeft()), pixels, source);
    painter.end();
    return image;
}
