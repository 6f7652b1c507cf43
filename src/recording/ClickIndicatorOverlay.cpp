#include "recording/ClickIndicatorOverlay.h"

#include "app/DebugLogger.h"
#include "platform/GlobalClickSource.h"
#include "recording/ClickIndicatorView.h"
#include "recording/ScreenBackdrop.h"

#include <QGuiApplication>
#include <QWindow>

ClickIndicatorOverlay::ClickIndicatorOverlay()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput
                           | Qt::WindowDoesNotAcceptFocus)
{
    m_shaped = ScreenBackdrop::makeClickThrough(this);
    const std::optional<platform::ScreenInfo> screen = platform::ScreenGeometry::primaryScreen();
    setGeometry(screen ? screen->geometry : QRect());

    m_view = new ClickIndicatorView(m_shaped, this);
    m_view->setGeometry(rect());
    if (m_shaped) {
        m_view->onRingsChanged = [this] { updateShape(); };
        updateShape();
    }
    setupMouseMonitoring();
}

ClickIndicatorOverlay::~ClickIndicatorOverlay()
{
    if (m_subscription)
        platform::GlobalClickSource::shared().unsubscribe(m_subscription);
}

void ClickIndicatorOverlay::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_view)
        m_view->setGeometry(rect());
}

void ClickIndicatorOverlay::setupMouseMonitoring()
{
    QString reason;
    m_subscription = platform::GlobalClickSource::shared().subscribe(
        this, [this](const platform::GlobalClick& click) { handleGlobalClick(click.rootPosition); }, &reason);
    if (!m_subscription)
        DebugLogger::shared().logErrorMessage(QStringLiteral("Click indicator cannot see clicks: ") + reason);
}

void ClickIndicatorOverlay::handleGlobalClick(const QPoint& rootPixel)
{
    const std::optional<platform::ScreenInfo> primary = platform::ScreenGeometry::primaryScreen();
    if (!primary || !m_view)
        return;
    // The point relative to the main screen's top-left is the point in the view, which covers it.
    const QPointF point = QPointF(rootPixel - primary->nativeGeometry.topLeft()) / primary->devicePixelRatio;
    // Presses on our own windows (the controls, the setup panel) are the user's, not the recording's.
    const QPoint global = primary->geometry.topLeft() + point.toPoint();
    if (QWindow* window = QGuiApplication::topLevelAt(global); window && window != windowHandle())
        return;
    m_view->showClick(point);
}

void ClickIndicatorOverlay::updateShape()
{
    const QRegion rings = m_view->ringRegion();
    // An empty mask would mean no shape at all, the whole window: a pixel beside the window
    // shapes it to nothing instead.
    setMask(rings.isEmpty() ? QRegion(-1, -1, 1, 1) : rings);
}
