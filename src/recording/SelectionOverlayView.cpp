#include "recording/SelectionOverlayView.h"

#include <QPainter>

SelectionOverlayView::SelectionOverlayView(QWidget* parent)
    : SelectionVeilView(hintText(), outlineColor(), parent)
{
}

QString SelectionOverlayView::hintText()
{
    return QStringLiteral("Выберите область экрана для записи");
}

QColor SelectionOverlayView::outlineColor()
{
    return QColor::fromRgbF(0.2f, 0.6f, 1.0f, 1.0f);
}

void SelectionOverlayView::paintSelectionMarks(QPainter& painter, const QRectF& selection)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(outlineColor());
    for (const QPointF& corner : {selection.topLeft(), selection.topRight(), selection.bottomLeft(), selection.bottomRight()})
        painter.drawEllipse(QRectF(corner.x() - 4, corner.y() - 4, 8, 8));
}

void SelectionOverlayView::paintHintBox(QPainter& painter, const QRectF& textRect)
{
    const QColor background = QColor::fromRgbF(0, 0, 0, 0.7f);
    painter.fillRect(textRect.adjusted(-8, -4, 8, 4), background);
    // The text's own background lies over the padded box, as an attributed string draws it.
    painter.fillRect(textRect, background);
}
