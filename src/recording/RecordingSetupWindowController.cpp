#include "recording/RecordingSetupWindowController.h"

#include "app/DebugLogger.h"
#include "platform/Application.h"
#include "platform/NumberFormat.h"
#include "recording/RecordingSetupView.h"
#include "recording/RecordingWindowPlacement.h"
#include "recording/ScreenBackdrop.h"
#include "recording/SelectionOverlayView.h"
#include "recording/WindowBackgroundDrag.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QScreen>
#include <QWidget>

using platform::NumberFormat;

namespace {

constexpr double kCornerRadius = 12;

void log(const QString& message, std::source_location where = std::source_location::current())
{
    DebugLogger::shared().log(message, where);
}

// The panel's dark rounded background. Translucent over a compositor; solid and shaped to its
// rounded corners without one.
class SetupPanel : public QWidget {
public:
    explicit SetupPanel(bool translucent)
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
        , m_translucent(translucent)
    {
        setAttribute(Qt::WA_QuitOnClose, false);
        // Tooltips show on hover also while another application is active.
        setAttribute(Qt::WA_AlwaysShowToolTips);
        if (translucent)
            setAttribute(Qt::WA_TranslucentBackground);
        new WindowBackgroundDrag(this);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_translucent ? QColor(30, 30, 32, 235) : QColor(30, 30, 32));
        painter.drawRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
    }
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        if (m_translucent)
            return;
        QBitmap shape(size());
        shape.fill(Qt::color0);
        QPainter painter(&shape);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::color1);
        painter.drawRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
        painter.end();
        setMask(shape);
    }

private:
    bool m_translucent;
};


} // namespace

RecordingSetupWindowController::RecordingSetupWindowController(const QRectF& selectedArea,
                                                               std::function<void(const RecordingSettings&)> onStart,
                                                               std::function<void()> onCancel, QObject* parent)
    : QObject(parent)
    , m_selectedArea(selectedArea)
    , m_onStart(std::move(onStart))
    , m_onCancel(std::move(onCancel))
{
    m_panel = std::make_unique<SetupPanel>(ScreenBackdrop::compositingAvailable());
    m_view = new RecordingSetupView(selectedArea, m_onStart, m_onCancel, m_panel.get());
    auto* layout = new QHBoxLayout(m_panel.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    m_panel->setGeometry(QRect(QPoint(0, 0), kPanelSize));
    m_panel->setFixedSize(kPanelSize);
    log(QStringLiteral("RecordingSetupWindowController initialized"));
}

RecordingSetupWindowController::~RecordingSetupWindowController() = default;

QWidget* RecordingSetupWindowController::window() const
{
    return m_panel.get();
}

QWidget* RecordingSetupWindowController::selectionOverlay() const
{
    return m_selectionOverlay.get();
}

void RecordingSetupWindowController::present()
{
    log(QStringLiteral("RecordingSetupWindowController: present() called"));
    if (!m_panel) {
        log(QStringLiteral("RecordingSetupWindowController: ERROR - window is nil!"));
        return;
    }
    log(QStringLiteral("RecordingSetupWindowController: window exists, creating overlay"));
    createSelectionOverlay();
    log(QStringLiteral("RecordingSetupWindowController: overlay created, positioning window"));
    repositionNearSelectedArea();
    log(QStringLiteral("RecordingSetupWindowController: window positioned, showing window"));
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    platform::Application::shared().activateIgnoringOtherApps();
    log(QStringLiteral("RecordingSetupWindowController: window made key and front"));
}

void RecordingSetupWindowController::createSelectionOverlay()
{
    const QList<platform::ScreenInfo> screens = platform::ScreenGeometry::screens();
    const QRectF globalArea = RecordingWindowPlacement::areaToGlobal(m_selectedArea, screens);
    const std::optional<platform::ScreenInfo> screen = RecordingWindowPlacement::screenFor(globalArea, screens);
    if (!screen)
        return;
    const QRectF& a = m_selectedArea;
    log(QStringLiteral("RecordingSetupWindowController: Creating overlay - selectedArea origin: (") + NumberFormat::decimal(a.x())
        + QStringLiteral(", ") + NumberFormat::decimal(a.y()) + QLatin1Char(')'));
    log(QStringLiteral("RecordingSetupWindowController: Creating overlay - selectedArea size: (")
        + NumberFormat::decimal(a.width()) + QStringLiteral(" x ") + NumberFormat::decimal(a.height()) + QLatin1Char(')'));
    log(QStringLiteral("RecordingSetupWindowController: Creating overlay - screen.frame: ") + NumberFormat::rect(screen->geometry));

    auto overlay = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                                          | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    overlay->setAttribute(Qt::WA_QuitOnClose, false);
    overlay->setAttribute(Qt::WA_ShowWithoutActivating);
    overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    if (QScreen* qscreen = platform::ScreenGeometry::qscreen(*screen))
        overlay->setScreen(qscreen);
    overlay->setGeometry(screen->geometry);
    auto* view = new SelectionOverlayView(overlay.get());
    view->setGeometry(overlay->rect());
    // Without a compositing manager the veil shows the screen as it is now; the panel is not
    // shown yet and the selection window has gone, so the picture holds neither.
    QImage frozen;
    if (!ScreenBackdrop::compositingAvailable())
        frozen = ScreenBackdrop::freeze(*screen);
    view->setScreenBackdrop(frozen);
    const QRectF converted = globalArea.translated(-QPointF(screen->geometry.topLeft()));
    view->setSelectionRect(converted);
    log(QStringLiteral("RecordingSetupWindowController: Converted overlay rect: ") + NumberFormat::rect(converted)
        + QStringLiteral(" from screen rect: ") + NumberFormat::rect(m_selectedArea));
    overlay->show();
    overlay->raise();
    m_overlayView = view;
    m_selectionOverlay = std::move(overlay);
    log(QStringLiteral("RecordingSetupWindowController: Created selection overlay for rect ") + NumberFormat::rect(m_selectedArea));
}

void RecordingSetupWindowController::repositionNearSelectedArea()
{
    if (!m_panel)
        return;
    const QList<platform::ScreenInfo> screens = platform::ScreenGeometry::screens();
    const QRectF globalArea = RecordingWindowPlacement::areaToGlobal(m_selectedArea, screens);
    const std::optional<platform::ScreenInfo> screen = RecordingWindowPlacement::screenFor(globalArea, screens);
    if (!screen)
        return;
    const auto placement = RecordingWindowPlacement::setupPanel(globalArea, QRectF(screen->geometry), QSizeF(m_panel->size()));
    const QRectF& frame = placement.frame;
    log(QStringLiteral("RecordingSetupWindowController: Positioning - spaceAbove: ") + NumberFormat::decimal(placement.spaceAbove)
        + QStringLiteral(", spaceBelow: ") + NumberFormat::decimal(placement.spaceBelow));
    log(QStringLiteral("RecordingSetupWindowController: Setting window frame to ") + NumberFormat::rect(frame));
    log(QStringLiteral("RecordingSetupWindowController: selectedArea maxY: ") + NumberFormat::decimal(globalArea.bottom())
        + QStringLiteral(", yPosition: ") + NumberFormat::decimal(frame.y()) + QStringLiteral(", difference: ")
        + NumberFormat::decimal(frame.y() - globalArea.bottom()));
    m_panel->setGeometry(frame.toRect());
    log(QStringLiteral("RecordingSetupWindowController: Actual window frame after setFrame: ")
        + NumberFormat::rect(m_panel->geometry()));
}

void RecordingSetupWindowController::close()
{
    log(QStringLiteral("RecordingSetupWindowController.close called"));
    if (m_selectionOverlay) {
        m_selectionOverlay->hide();
        // Not inside one of its handlers: the overlay takes no input.
        m_selectionOverlay.reset();
        m_overlayView = nullptr;
    }
    if (m_panel)
        m_panel->hide();
}
