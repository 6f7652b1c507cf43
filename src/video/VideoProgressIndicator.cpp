#include "video/VideoProgressIndicator.h"

#include <QPainter>

namespace {
constexpr int kSpokes = 12;
// One spoke further every 80 ms: about one turn a second.
constexpr int kStepMs = 80;
} // namespace

VideoProgressIndicator::VideoProgressIndicator(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(side, side);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_timer.setInterval(kStepMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % kSpokes;
        update();
    });
}

void VideoProgressIndicator::startAnimation()
{
    m_timer.start();
}

void VideoProgressIndicator::stopAnimation()
{
    m_timer.stop();
}

void VideoProgressIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const double outer = side / 2.0 - 1;
    const double inner = outer * 0.45;
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the current step is brightest; the ones behind it fade.
        const int age = (m_step - i + kSpokes) % kSpokes;
        QColor color(Qt::white);
        color.setAlphaF(float(1.0 - 0.75 * age / (kSpokes - 1)));
        painter.setPen(QPen(color, 3, Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(360.0 * i / kSpokes);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer));
        painter.restore();
    }
}
