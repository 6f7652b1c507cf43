#include "recording/RecordingControlsWindow.h"

#include "recording/RecordingControlsView.h"
#include "recording/ScreenBackdrop.h"
#include "recording/WindowBackgroundDrag.h"

#include <QPainter>
#include <QVBoxLayout>

namespace {

// The dark appearance's window background; 95 % opaque where a compositor can blend it.
const QColor kBackground(40, 40, 42);

} // namespace

RecordingControlsWindow::RecordingControlsWindow(std::function<void()> onStop)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_QuitOnClose, false);
    // The user works in another application while recording: the stop button's tooltip shows anyway.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    m_translucent = ScreenBackdrop::compositingAvailable();
    if (m_translucent)
        setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new RecordingControlsView(std::move(onStop), this);
    layout->addWidget(m_view, 0, Qt::AlignCenter);
    setFixedSize(kSize);
    new WindowBackgroundDrag(this);
}

void RecordingControlsWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QColor background = kBackground;
    if (m_translucent)
        background.setAlphaF(0.95f);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), background);
}
