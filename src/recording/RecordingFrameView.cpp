#include "recording/RecordingFrameView.h"

#include "platform/ScreenGeometry.h"
#include "recording/RecordingWindowPlacement.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>

namespace {

// The badge's top edge lies this far below the frame's bottom edge; the text is inset in it.
constexpr double kBadgeGap = 10.0;
constexpr double kBadgePaddingX = 8.0;
constexpr double kBadgePaddingY = 4.0;

} // namespace

RecordingFrameView::RecordingFrameView(const QRectF& recordingRect, const QPointF& viewOrigin, const QRect& recordedPixels,
                                       double devicePixelRatio, bool opaque, QWidget* parent)
    : QWidget(parent)
    , m_originalRecordingRect(recordingRect)
    , m_drawingRect(recordingRect.translated(-viewOrigin))
    , m_recordedPixels(recordedPixels)
    , m_ratio(devicePixelRatio > 0 ? devicePixelRatio : 1.0)
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

QRect RecordingFrameView::badgePixels() const
{
    const QRectF badge = badgeRect();
    return platform::ScreenGeometry::roundOutward(QRectF(badge.topLeft() * m_ratio, badge.size() * m_ratio));
}

QRegion RecordingFrameView::lineRegion() const
{
    // What lies off the screen (an area at the screen's edge) falls outside the window and is not drawn.
    return RecordingWindowPlacement::frameLinePixels(m_recordedPixels, m_ratio);
}

QRegion RecordingFrameView::paintedRegion() const
{
    return lineRegion() + QRegion(badgePixels());
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
    // Whole device pixels, no antialiasing: a blended edge pixel inside the area would be recorded.
    painter.save();
    painter.scale(1 / m_ratio, 1 / m_ratio);
    const QColor lineColour = m_opaque ? QColor(Qt::red) : QColor::fromRgbF(1, 0, 0, 0.8f);
    for (const QRect& r : lineRegion())
        painter.fillRect(r, lineColour);
    // Solid colours only when opaque: without a compositor nothing blends with the screen beneath.
    if (m_opaque)
        painter.fillRect(badgePixels(), Qt::black);
    painter.restore();
    if (!m_opaque) {
        painter.fillRect(badge, QColor::fromRgbF(0, 0, 0, 0.7f));
        // The text's own background, as an attributed string draws it.
        painter.fillRect(textRect, QColor::fromRgbF(0, 0, 0, 0.7f));
    }
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(badgeFont());
    painter.setPen(Qt::red);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, badgeText());
}
