#include "recording/ScreenRecordingSelectionWindow.h"

#include "app/DebugLogger.h"
#include "platform/Application.h"
#include "platform/NumberFormat.h"
#include "recording/ScreenBackdrop.h"
#include "recording/SelectionOverlayView.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cmath>

using platform::NumberFormat;

namespace {

// The events the selection handles, by the system's codes of their types. Moves reach it only
// with the left button held, so a move is a left drag.
constexpr struct {
    QEvent::Type type;
    int code;
} kEventTypeCodes[] = {
    {QEvent::MouseButtonPress, 1},
    {QEvent::MouseButtonRelease, 2},
    {QEvent::MouseMove, 6},
    {QEvent::KeyPress, 10},
};

void log(const QString& message, std::source_location where = std::source_location::current())
{
    DebugLogger::shared().log(QStringLiteral("ScreenRecordingSelectionWindow: ") + message, where);
}

} // namespace

int ScreenRecordingSelectionWindow::eventTypeCode(QEvent::Type type)
{
    for (const auto& entry : kEventTypeCodes)
        if (entry.type == type)
            return entry.code;
    return 0;
}

QRectF ScreenRecordingSelectionWindow::spannedRect(const QPointF& a, const QPointF& b)
{
    return QRectF(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::abs(a.x() - b.x()), std::abs(a.y() - b.y()));
}

QRectF ScreenRecordingSelectionWindow::areaForSelection(const QRectF& selection, const QPointF& windowOrigin,
                                                        const QPointF& primaryOrigin)
{
    return selection.translated(windowOrigin - primaryOrigin);
}

ScreenRecordingSelectionWindow::ScreenRecordingSelectionWindow()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint)
    , m_inputGrab(this, [this] { tryGrabInput(); })
{
    log(QStringLiteral("init called"));
    setAttribute(Qt::WA_QuitOnClose, false);
    const std::optional<platform::ScreenInfo> screen = platform::ScreenGeometry::primaryScreen();
    if (screen)
        m_frame = screen->geometry;
    log(QStringLiteral("Screen rect: ") + NumberFormat::rect(m_frame));
    if (screen)
        if (QScreen* qscreen = platform::ScreenGeometry::qscreen(*screen))
            setScreen(qscreen);
    setGeometry(m_frame);
    log(QStringLiteral("Window created"));

    // A veil over the live screen needs a compositing manager; without one it paints the screen as
    // it is now. The picture is taken before the window maps, so it never holds the veil itself.
    m_selectionView = new SelectionOverlayView(this);
    QImage frozen;
    if (screen && !ScreenBackdrop::compositingAvailable())
        frozen = ScreenBackdrop::freeze(*screen);
    m_selectionView->setScreenBackdrop(frozen);
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
    log(QStringLiteral("Window properties set"));

    m_selectionView->setGeometry(rect());
    log(QStringLiteral("View and events setup complete"));

    show();
    raise();
    activateWindow();
    setFocus(Qt::OtherFocusReason);
    tryGrabInput();
    platform::Application::shared().activateIgnoringOtherApps();
    log(QStringLiteral("Window made key and front"));
    // Nothing to select on: the request ends as a cancelled selection, not as a window nobody sees.
    if (!screen) {
        log(QStringLiteral("No screen to select on"));
        cancelSelection();
    }
}

ScreenRecordingSelectionWindow::~ScreenRecordingSelectionWindow()
{
    log(QStringLiteral("deinit called"));
    m_inputGrab.release();
}

void ScreenRecordingSelectionWindow::setSelectionDelegate(ScreenRecordingSelectionDelegate* delegate)
{
    m_delegate = delegate;
    m_delegateObject = dynamic_cast<QObject*>(delegate);
    m_delegateIsObject = m_delegateObject != nullptr;
}

ScreenRecordingSelectionDelegate* ScreenRecordingSelectionWindow::selectionDelegate() const
{
    if (m_delegateIsObject && !m_delegateObject)
        return nullptr;
    return m_delegate;
}

void ScreenRecordingSelectionWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_selectionView)
        m_selectionView->setGeometry(rect());
}

void ScreenRecordingSelectionWindow::hideEvent(QHideEvent* event)
{
    // However it is hidden (by its owner too), a hidden window holds no grab: X grabs belong to the
    // client, and another window of ours may need them next.
    m_inputGrab.release();
    QWidget::hideEvent(event);
}

void ScreenRecordingSelectionWindow::tryGrabInput()
{
    if (const std::optional<QString> failure = m_inputGrab.tryGrab(m_acceptingEvents))
        log(*failure);
}

// The events the selection looks at: left button down, up and dragged, and keys.
void ScreenRecordingSelectionWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        handleEvent(event);
}

void ScreenRecordingSelectionWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        handleEvent(event);
}

void ScreenRecordingSelectionWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        handleEvent(event);
}

void ScreenRecordingSelectionWindow::keyPressEvent(QKeyEvent* event)
{
    handleEvent(event);
}

void ScreenRecordingSelectionWindow::handleEvent(QEvent* event)
{
    if (!m_acceptingEvents)
        return;
    log(QStringLiteral("handleEvent called with type: ") + QString::number(eventTypeCode(event->type())));
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const QPointF point = static_cast<QMouseEvent*>(event)->position();
        log(QStringLiteral("Left mouse down at: ") + NumberFormat::point(point));
        m_startPoint = point;
        m_currentPoint = point;
        m_isSelecting = true;
        updateSelection();
        break;
    }
    case QEvent::MouseMove:
        if (m_isSelecting) {
            const QPointF point = static_cast<QMouseEvent*>(event)->position();
            log(QStringLiteral("Mouse dragged to: ") + NumberFormat::point(point));
            m_currentPoint = point;
            updateSelection();
        }
        break;
    case QEvent::MouseButtonRelease:
        // The selection ends where the last drag left it, not at the release.
        if (m_isSelecting) {
            log(QStringLiteral("Left mouse up, finishing selection"));
            m_isSelecting = false;
            finishSelection();
        }
        break;
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        log(QStringLiteral("Key down with code: ") + QString::number(key->nativeScanCode()));
        if (key->key() == Qt::Key_Escape) {
            log(QStringLiteral("Escape key pressed, cancelling selection"));
            cancelSelection();
        }
        break;
    }
    default:
        log(QStringLiteral("Unhandled event type: ") + QString::number(eventTypeCode(event->type())));
        break;
    }
}

void ScreenRecordingSelectionWindow::updateSelection()
{
    if (m_selectionView)
        m_selectionView->setSelectionRect(spannedRect(m_startPoint, m_currentPoint));
}

void ScreenRecordingSelectionWindow::finishSelection()
{
    log(QStringLiteral("finishSelection called"));
    const QRectF r = spannedRect(m_startPoint, m_currentPoint);
    log(QStringLiteral("Selection finished with rect: ") + NumberFormat::rect(r));
    if (r.width() < kMinimumSize || r.height() < kMinimumSize) {
        log(QStringLiteral("Selection too small (") + NumberFormat::decimal(r.width()) + QLatin1Char('x')
            + NumberFormat::decimal(r.height()) + QStringLiteral("), cancelling"));
        cancelSelection();
        return;
    }
    log(QStringLiteral("Converting window coordinates to screen coordinates"));
    const QRectF area = convertWindowToScreenRect(r);
    log(QStringLiteral("Converted to screen rect: ") + NumberFormat::rect(area));
    log(QStringLiteral("Preparing delegate callback for screenRect: ") + NumberFormat::rect(area));
    log(QStringLiteral("Hiding window (not closing)"));
    report(area, true);
}

QRectF ScreenRecordingSelectionWindow::convertWindowToScreenRect(const QRectF& rect) const
{
    log(QStringLiteral("convertWindowToScreenRect called with: ") + NumberFormat::rect(rect));
    const QScreen* screen = windowHandle() ? windowHandle()->screen() : this->screen();
    if (!screen) {
        log(QStringLiteral("No screen available, returning original rect"));
        return rect;
    }
    log(QStringLiteral("Screen frame: ") + NumberFormat::rect(screen->geometry()));
    log(QStringLiteral("Window frame: ") + NumberFormat::rect(geometry()));
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QPointF primaryOrigin = primary ? QPointF(primary->geometry().topLeft()) : QPointF();
    const QRectF area = areaForSelection(rect, geometry().topLeft(), primaryOrigin);
    log(QStringLiteral("Converted screen rect: ") + NumberFormat::rect(area));
    return area;
}

void ScreenRecordingSelectionWindow::cancelSelection()
{
    log(QStringLiteral("cancelSelection called"));
    report(std::nullopt, false);
}

void ScreenRecordingSelectionWindow::hideWindow()
{
    m_acceptingEvents = false;
    m_isSelecting = false;
    m_inputGrab.release();
    hide();
}

void ScreenRecordingSelectionWindow::report(std::optional<QRectF> area, bool logged, std::source_location where)
{
    // The delegate of this moment is the one told, whatever is set meanwhile.
    ScreenRecordingSelectionDelegate* delegate = selectionDelegate();
    QPointer<QObject> guard = m_delegateObject;
    const bool guarded = delegate && m_delegateIsObject;
    hideWindow();
    // The report needs nothing of the window, which its owner may drop meanwhile.
    QTimer::singleShot(kReportDelayMs, QCoreApplication::instance(), [delegate, guard, guarded, area, logged, where] {
        if (logged)
            log(QStringLiteral("Notifying delegate with rect: ") + NumberFormat::rect(*area), where);
        if (!delegate || (guarded && !guard))
            return;
        delegate->screenRecordingSelectionDidFinish(area);
    });
}
