#include "recording/RecordingFrameWindow.h"

#include "app/DebugLogger.h"
#include "platform/NumberFormat.h"
#include "recording/RecordingFrameView.h"
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
    const std::optional<platform::ScreenInfo> primary = platform::ScreenGeometry::primaryScreen();
    const QPoint primaryOrigin = primary ? primary->geometry.topLeft() : QPoint();
    setGeometry(frame);

    m_view = new RecordingFrameView(recordingRect, QPointF(frame.topLeft() - primaryOrigin), m_shaped, this);
    m_view->setGeometry(rect());
    if (screen) {
        DebugLogger::shared().log(QStringLiteral("RecordingFrameView: Original rect: ") + NumberFormat::rect(recordingRect));
        DebugLogger::shared().log(QStringLiteral("RecordingFrameView: Drawing rect: ") + NumberFormat::rect(m_view->drawingRect()));
        DebugLogger::shared().log(QStringLiteral("RecordingFrameView: Screen frame: ") + NumberFormat::rect(frame));
    }
    if (m_shaped)
        setMask(m_view->paintedRegion());

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
