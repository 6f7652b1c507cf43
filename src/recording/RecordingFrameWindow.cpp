#include "recording/RecordingFrameWindow.h"

#include "app/DebugLogger.h"
#include "platform/NumberFormat.h"
#include "platform/WindowShape.h"
#include "recording/RecordingFrameView.h"
#include "recording/RecordingWindowPlacement.h"
#include "recording/ScreenBackdrop.h"

#include <QGuiApplication>
#include <QScreen>

using platform::NumberFormat;

RecordingFrameWindow::RecordingFrameWindow(const QRectF& recordingRect)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint
                           | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus)
    , m_recordingRect(recordingRect)
{
    m_shaped = ScreenBackdrop::makeClickThrough(this);

    const std::optional<platform::ScreenInfo> screen = platform::ScreenGeometry::primaryScreen();
    const QRect frame = screen ? screen->geometry : QRect();
    setGeometry(frame);

    // The window's device pixels start at the screen's native top-left.
    const QPoint nativeOrigin = screen ? screen->nativeGeometry.topLeft() : QPoint();
    const QRect recorded = RecordingWindowPlacement::recordedPixels(recordingRect, screen).translated(-nativeOrigin);
    m_view = new RecordingFrameView(recordingRect, QPointF(), recorded, screen ? screen->devicePixelRatio : 1.0, m_shaped, this);
    m_view->setGeometry(rect());
    if (screen) {
        DebugLogger::shared().log(QStringLiteral("RecordingFrameView: Original rect: ") + NumberFormat::rect(recordingRect));
        DebugLogger::shared().log(QStringLiteral("RecordingFrameView: Drawing rect: ") + NumberFormat::rect(m_view->drawingRect()));
        DebugLogger::shared().log(QStringLiteral("RecordingFrameView: Screen frame: ") + NumberFormat::rect(frame));
    }
    // In device pixels: a mask in points would be scaled and rounded onto the recorded pixels.
    if (m_shaped)
        platform::WindowShape::setBoundingShape(this, m_view->paintedRegion());

    show();
    raise();
    DebugLogger::shared().log(QStringLiteral("RecordingFrameWindow: Created frame window for rect: ")
                              + NumberFormat::rect(recordingRect));
}

void RecordingFrameWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_view)
        m_view->setGeometry(rect());
}
