#include "recording/SelectionOverlayView.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>

SelectionOverlayView::SelectionOverlayView(QWidget* parent)
    : QWidget(parent)
{
    setCursor(Qt::CrossCursor);
    // The window handles the events; the view only draws.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoFillBackground(false);
}

QString SelectionOverlayView::hintText()
{
    return QStringLiteral("Выберите область экрана для записи");
}

QColor SelectionOverlayView::outlineColor()
{
    return QColor::fromRgbF(0.2f, 0.6f, 1.0f, 1.0f);
}

void SelectionOverlayView::setSelectionRect(const QRectF& rect)
{
    m_selectionRect = rect;
    update();
}

void SelectionOverlayView::setFrozenBackground(const QImage& image)
{
    m_frozen = image;
    update();
}

void SelectionOverlayView::paintEvent(QPaintEvent*)
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
        drawText(painter, hintText(), bounds.center());
        return;
    }
    if (m_frozen.isNull()) {
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillRect(selection, Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    } else {
        painter.save();
        painter.setClipRect(selection);
        painter.drawImage(QPointF(0, 0), m_frozen);
        painter.restore();
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(outlineColor(), 2.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(selection);
    painter.setPen(Qt::NoPen);
    painter.setBrush(outlineColor());
    for (const QPointF& corner : {selection.topLeft(), selection.topRight(), selection.bottomLeft(), selection.bottomRight()})
        painter.drawEllipse(QRectF(corner.x() - 4, corner.y() - 4, 8, 8));
}

void SelectionOverlayView::drawText(QPainter& painter, const QString& text, const QPointF& center)
{
    QFont font = QApplication::font();
    font.setPixelSize(16);
    font.setWeight(QFont::Medium);
    const QFontMetricsF metrics(font);
    const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
    const QRectF textRect(QPointF(center.x() - size.width() / 2, center.y() - size.height() / 2), size);
    const QColor background = QColor::fromRgbF(0, 0, 0, 0.7f);
    painter.fillRect(textRect.adjusted(-8, -4, 8, 4), background);
    // The text's own background lies over the padded box, as an attributed string draws it.
    painter.fillRect(textRect, background);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}
