#include "settings/ActivityIndicator.h"

#include <QPainter>
#include <QTimer>

namespace {

constexpr int spokes = 12;
// One spoke every 80 ms: a full turn a second, as the system's indicators go.
constexpr int stepMs = 1000 / spokes;

} // namespace

ActivityIndicator::ActivityIndicator(int diameter, QWidget* parent)
    : QWidget(parent)
    , m_diameter(diameter)
    , m_timer(new QTimer(this))
{
    setFixedSize(diameter, diameter);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_timer->setInterval(stepMs);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % spokes;
        update();
    });
}

bool ActivityIndicator::isAnimating() const
{
    return m_timer->isActive();
}

void ActivityIndicator::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_timer->start();
}

void ActivityIndicator::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_timer->stop();
}

void ActivityIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const double radius = m_diameter / 2.0;
    QColor color = m_color;
    for (int i = 0; i < spokes; ++i) {
        const int age = (m_step - i + spokes) % spokes;
        color.setAlphaF(1.0 - 0.75 * age / (spokes - 1));
        painter.setPen(QPen(color, std::max(1.5, radius / 4), Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(360.0 * i / spokes);
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.9));
        painter.restore();
    }
}
