#include "cloud/AuthPrimaryButton.h"

#include "platform/SystemColors.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// The spinner at 0.8 of a small control, 4 points before the text.
constexpr int kSpinnerSize = 13;
constexpr int kSpinnerGap = 4;

} // namespace

AuthPrimaryButton::AuthPrimaryButton(QWidget* parent)
    : QPushButton(parent)
{
    setObjectName(QStringLiteral("primaryButton"));
    setCursor(Qt::PointingHandCursor);
    QFont f = font();
    f.setWeight(QFont::Medium);
    setFont(f);
    // One turn in about a second.
    m_spin.setInterval(40);
    connect(&m_spin, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

void AuthPrimaryButton::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    if (busy)
        m_spin.start();
    else
        m_spin.stop();
    update();
}

QSize AuthPrimaryButton::sizeHint() const
{
    // The label's height with 8 points above and below.
    return QSize(fontMetrics().horizontalAdvance(text()) + 40, fontMetrics().height() + 16);
}

void AuthPrimaryButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = platform::SystemColors::blue();
    if (!isEnabled())
        fill.setAlphaF(0.4);
    else if (isDown())
        fill = fill.darker(120);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    painter.fillPath(shape, fill);
    if (hasFocus()) {
        painter.setPen(QPen(fill.lighter(140), 1.5));
        painter.drawPath(shape);
    }

    QColor ink(Qt::white);
    if (!isEnabled())
        ink.setAlphaF(0.6);
    const int textWidth = fontMetrics().horizontalAdvance(text());
    const int total = textWidth + (m_busy ? kSpinnerSize + kSpinnerGap : 0);
    int x = (width() - total) / 2;
    if (m_busy) {
        const QRectF spinner(x, (height() - kSpinnerSize) / 2.0, kSpinnerSize, kSpinnerSize);
        painter.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(spinner.adjusted(1, 1, -1, -1), -m_angle * 16, 270 * 16);
        x += kSpinnerSize + kSpinnerGap;
    }
    painter.setPen(ink);
    painter.setFont(font());
    painter.drawText(QRect(x, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
}
