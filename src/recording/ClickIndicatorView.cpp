#include "recording/ClickIndicatorView.h"

#include "platform/SystemColors.h"

#include <QEasingCurve>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// About 60 steps a second: smooth enough for a 0.4 s ring, cheap for a few rings at a time.
constexpr int kFrameIntervalMs = 16;

double progress(qint64 elapsedMs)
{
    const double t = std::clamp(double(elapsedMs) / ClickIndicatorView::kLifetimeMs, 0.0, 1.0);
    return QEasingCurve(QEasingCurve::OutCubic).valueForProgress(t);
}

QColor ringColor(double opacity)
{
    QColor color = platform::SystemColors::blue();
    color.setAlphaF(static_cast<float>(std::clamp(0.8 * opacity, 0.0, 1.0)));
    return color;
}

// The pixels of a ring of `size` points around `center` with a 2-point line centred on the circle.
QRegion annulus(const QPointF& center, double size)
{
    const double outer = size / 2 + ClickIndicatorView::kLineWidth / 2;
    const double inner = std::max(0.0, size / 2 - ClickIndicatorView::kLineWidth / 2);
    auto disc = [&](double radius) {
        const QRectF box(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
        return QRegion(box.toAlignedRect(), QRegion::Ellipse);
    };
    QRegion region = disc(outer);
    if (inner > 1)
        region -= disc(inner);
    return region;
}

} // namespace

ClickIndicatorView::ClickIndicatorView(bool opaque, QWidget* parent)
    : QWidget(parent)
    , m_opaque(opaque)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoFillBackground(false);
    m_clock.start();
    m_frameTimer.setInterval(kFrameIntervalMs);
    connect(&m_frameTimer, &QTimer::timeout, this, &ClickIndicatorView::advance);
}

double ClickIndicatorView::sizeAt(qint64 elapsedMs)
{
    return kStartSize + (kEndSize - kStartSize) * progress(elapsedMs);
}

double ClickIndicatorView::opacityAt(qint64 elapsedMs)
{
    return kStartOpacity * (1.0 - progress(elapsedMs));
}

void ClickIndicatorView::showClick(const QPointF& point)
{
    ClickAnimation ring;
    ring.id = QUuid::createUuid();
    ring.position = point;
    ring.size = kStartSize;
    ring.opacity = kStartOpacity;
    ring.startedMs = m_clock.elapsed();
    m_clicks.append(ring);
    const QUuid id = ring.id;
    QTimer::singleShot(kLifetimeMs, this, [this, id] { remove(id); });
    if (!m_frameTimer.isActive())
        m_frameTimer.start();
    changed();
}

void ClickIndicatorView::advance()
{
    const qint64 now = m_clock.elapsed();
    for (ClickAnimation& ring : m_clicks) {
        ring.size = sizeAt(now - ring.startedMs);
        ring.opacity = opacityAt(now - ring.startedMs);
    }
    changed();
}

void ClickIndicatorView::remove(const QUuid& id)
{
    m_clicks.removeIf([&](const ClickAnimation& ring) { return ring.id == id; });
    if (m_clicks.isEmpty())
        m_frameTimer.stop();
    changed();
}

void ClickIndicatorView::changed()
{
    update();
    if (onRingsChanged)
        onRingsChanged();
}

QRegion ClickIndicatorView::ringRegion() const
{
    QRegion region;
    for (const ClickAnimation& ring : m_clicks)
        region += annulus(ring.position, ring.size);
    return region;
}

void ClickIndicatorView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    for (const ClickAnimation& ring : m_clicks) {
        if (m_opaque) {
            // No blending without a compositor: the ring's pixels in the solid colour.
            QPainterPath path;
            path.addRegion(annulus(ring.position, ring.size));
            painter.fillPath(path, platform::SystemColors::blue());
            continue;
        }
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(ringColor(ring.opacity), kLineWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(ring.position, ring.size / 2, ring.size / 2);
    }
}
