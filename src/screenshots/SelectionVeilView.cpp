#include "screenshots/SelectionVeilView.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>

SelectionVeilView::SelectionVeilView(const QString& hint, const QColor& outline, QWidget* parent)
    : QWidget(parent)
    , m_hint(hint)
    , m_outline(outline)
{
    setCursor(Qt::CrossCursor);
    // The window handles the mouse; the view only draws.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoFillBackground(false);
}

void SelectionVeilView::setSelectionRect(const QRectF& rect)
{
    m_selectionRect = rect;
    update();
}

void SelectionVeilView::setFrozenBackground(const QImage& image)
{
    m_frozen = image;
    update();
}

void SelectionVeilView::setScreenBackdrop(const QImage& frozen)
{
    if (!frozen.isNull()) {
        setFrozenBackground(frozen);
        window()->setAttribute(Qt::WA_OpaquePaintEvent);
    } else {
        window()->setAttribute(Qt::WA_TranslucentBackground);
    }
}

void SelectionVeilView::paintEvent(QPaintEvent*)
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
    painter.fillRect(bounds, QColor::fromRgbF(0, 0, 0, 0.3f));

    const QRectF selection = m_selectionRect;
    if (selection.width() <= 0 || selection.height() <= 0) {
        paintHint(painter, bounds.center());
        return;
    }
    if (m_frozen.isNull()) {
        // Punch a fully transparent hole into the veil.
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(selection, Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    } else {
        painter.save();
        painter.setClipRect(selection);
        painter.drawImage(QPointF(0, 0), m_frozen);
        painter.restore();
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(m_outline, 2.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(selection);
    paintSelectionMarks(painter, selection);
}

void SelectionVeilView::paintSelectionMarks(QPainter&, const QRectF&)
{
}

void SelectionVeilView::paintHint(QPainter& painter, const QPointF& center)
{
    QFont font = QApplication::font();
    font.setPixelSize(16);
    font.setWeight(QFont::Medium);
    const QFontMetricsF metrics(font);
    const QSizeF size(metrics.horizontalAdvance(m_hint), metrics.height());
    const QRectF textRect(QPointF(center.x() - size.width() / 2, center.y() - size.height() / 2), size);
    paintHintBox(painter, textRect);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_hint);
}
