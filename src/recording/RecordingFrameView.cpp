#include "recording/RecordingFrameView.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

// Line width 3, centred on the area's edge.
constexpr double kLineWidth = 3.0;
// The badge's top edge lies this far below the frame's bottom edge; the text is inset in it.
constexpr double kBadgeGap = 10.0;
constexpr double kBadgePaddingX = 8.0;
constexpr double kBadgePaddingY = 4.0;

} // namespace

RecordingFrameView::RecordingFrameView(const QRectF& recordingRect, const QPointF& viewOrigin, bool opaque, QWidget* parent)
    : QWidget(parent)
    , m_originalRecordingRect(recordingRect)
    , m_drawingRect(recordingRect.translated(-viewOrigin))
    , m_opaque(opaque)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoFillBackground(false);
}

QString RecordingFrameView::badgeText()
{
    return QStringLiteral("REC \u25CF");
}

QFont RecordingFrameView::badgeFont()
{
    QFont font = QApplication::font();
    font.setPixelSize(14);
    font.setBold(true);
    return font;
}

QRectF RecordingFrameView::badgeRect() const
{
    const QFontMetricsF metrics(badgeFont());
    const double w = metrics.horizontalAdvance(badgeText());
    const double h = metrics.height();
    return QRectF(m_drawingRect.left(), m_drawingRect.bottom() + kBadgeGap, w + 2 * kBadgePaddingX, h + 2 * kBadgePaddingY);
}

QRect RecordingFrameView::pixelRect() const
{
    const QRectF& r = m_drawingRect;
    const int left = static_cast<int>(std::lround(r.left()));
    const int top = static_cast<int>(std::lround(r.top()));
    return QRect(QPoint(left, top), QPoint(static_cast<int>(std::lround(r.right())) - 1,
                                           static_cast<int>(std::lround(r.bottom())) - 1));
}

QRegion RecordingFrameView::paintedRegion() const
{
    // One pixel outside the area's edge pixels and two inside them, on every side.
    const QRect area = pixelRect();
    QRegion line = QRegion(area.adjusted(-1, -1, 1, 1));
    if (area.width() > 4 && area.height() > 4)
        line -= QRegion(area.adjusted(2, 2, -2, -2));
    return line + QRegion(badgeRect().toAlignedRect());
}

void RecordingFrameView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF badge = badgeRect();
    const QRectF textRect(badge.left() + kBadgePaddingX, badge.top() + kBadgePaddingY, badge.width() - 2 * kBadgePaddingX,
                          badge.height() - 2 * kBadgePaddingY);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (m_opaque) {
        // Solid colours only: without a compositor nothing blends with the screen beneath.
        const QRegion painted = paintedRegion();
        for (const QRect& r : painted)
            painter.fillRect(r, Qt::red);
        painter.fillRect(badge.toAlignedRect(), Qt::black);
    } else {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor::fromRgbF(1, 0, 0, 0.8f), kLineWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(m_drawingRect);
        painter.fillRect(badge, QColor::fromRgbF(0, 0, 0, 0.7f));
        // The text's own background, as an attributed string draws it.
        painter.fillRect(textRect, QColor::fromRgbF(0, 0, 0, 0.7f));
    }
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(badgeFont());
    painter.setPen(Qt::red);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, badgeText());
}
