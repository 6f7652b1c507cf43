#include "recording/RecordingFrameView.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

// Line width 3, wholly outside the area: none of it may end up in the recording.
constexpr int kLineWidth = 3;
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

QRegion RecordingFrameView::lineRegion() const
{
    // The three pixels next to the area's edge pixels, on every side; what lies off the screen
    // (an area at the screen's edge) falls outside the window and is not drawn.
    const QRect area = pixelRect();
    return QRegion(area.adjusted(-kLineWidth, -kLineWidth, kLineWidth, kLineWidth)) - QRegion(area);
}

QRegion RecordingFrameView::paintedRegion() const
{
    return lineRegion() + QRegion(badgeRect().toAlignedRect());
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
    // Whole pixels, no antialiasing: a blended edge pixel inside the area would be recorded.
    const QRegion line = lineRegion();
    if (m_opaque) {
        // Solid colours only: without a compositor nothing blends with the screen beneath.
        for (const QRect& r : line)
            painter.fillRect(r, Qt::red);
        painter.fillRect(badge.toAlignedRect(), Qt::black);
    } else {
        for (const QRect& r : line)
            painter.fillRect(r, QColor::fromRgbF(1, 0, 0, 0.8f));
        painter.fillRect(badge, QColor::fromRgbF(0, 0, 0, 0.7f));
        // The text's own background, as an attributed string draws it.
        painter.fillRect(textRect, QColor::fromRgbF(0, 0, 0, 0.7f));
    }
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(badgeFont());
    painter.setPen(Qt::red);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, badgeText());
}
