#include "screenshots/CaptureOverlayView.h"

#include "platform/SystemColors.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

CaptureOverlayView::CaptureOverlayView(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::CrossCursor);
    // The window handles the mouse; the view only draws.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoFillBackground(false);
}

QString CaptureOverlayView::hintText()
{
    return QStringLiteral("Выберите область для скриншота • ESC для отмены");
}

void CaptureOverlayView::setSelectionRect(const QRectF& rect)
{
    m_selectionRect = rect;
    update();
}

void CaptureOverlayView::setFrozenBackground(const QImage& image)
{
    m_frozen = image;
    update();
}

void CaptureOverlayView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF bounds = rect();
    if (m_frozen.isNull()) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(bounds, Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    } else {
        painter.drawImage(QPointF(0, 0), m_frozen);
    }
    painter.fillRect(bounds, QColor::fromRgbF(0, 0, 0, 0.3));

    if (m_selectionRect.width() > 0 && m_selectionRect.height() > 0) {
        if (m_frozen.isNull()) {
            // Punch a fully transparent hole into the veil.
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(m_selectionRect, Qt::transparent);
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        } else {
            painter.save();
            painter.setClipRect(m_selectionRect);
            painter.drawImage(QPointF(0, 0), m_frozen);
            painter.restore();
        }
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(platform::SystemColors::blue(), 2.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(m_selectionRect);
        return;
    }

    QFont font = QApplication::font();
    font.setPixelSize(16);
    font.setWeight(QFont::Medium);
    const QString text = hintText();
    const QFontMetricsF metrics(font);
    const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
    const QRectF textRect(QPointF(bounds.center().x() - size.width() * 0.5, bounds.center().y() - size.height() * 0.5), size);
    const QRectF pill = textRect.adjusted(-12, -6, 12, 6);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(pill, 6, 6);
    painter.fillPath(path, QColor::fromRgbF(0, 0, 0, 0.7));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}
