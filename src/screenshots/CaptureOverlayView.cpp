#include "screenshots/CaptureOverlayView.h"

#include "platform/SystemColors.h"

#include <QPainter>
#include <QPainterPath>

CaptureOverlayView::CaptureOverlayView(QWidget* parent)
    : SelectionVeilView(hintText(), platform::SystemColors::blue(), parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

QString CaptureOverlayView::hintText()
{
    return QStringLiteral("Выберите область для скриншота • ESC для отмены");
}

void CaptureOverlayView::paintHintBox(QPainter& painter, const QRectF& textRect)
{
    const QRectF pill = textRect.adjusted(-12, -6, 12, 6);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(pill, 6, 6);
    painter.fillPath(path, QColor::fromRgbF(0, 0, 0, 0.7));
}
