#include "settings/HotkeySaveToast.h"

#include "platform/SystemColors.h"
#include "settings/SettingsStyle.h"

#include <QEasingCurve>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

namespace {

const QString text = QStringLiteral("Настройки сохранены");
constexpr int horizontalPadding = 16;
constexpr int verticalPadding = 10;
constexpr int iconSize = 16;
constexpr int iconGap = 8;
constexpr int radius = 8;
// Room around the card for its shadow (radius 4, offset 2 down).
constexpr int shadowMargin = 6;
constexpr int topInset = 8;

} // namespace

HotkeySaveToast::HotkeySaveToast(QWidget* parent)
    : QWidget(parent)
    , m_animation(new QVariantAnimation(this))
{
    setObjectName(QStringLiteral("hotkeySaveToast"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFont(SettingsStyle::bodyFont());
    resize(sizeHint());
    m_animation->setDuration(transitionMilliseconds);
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) { apply(value.toDouble()); });
    connect(m_animation, &QVariantAnimation::finished, this, [this] {
        if (!m_showing)
            hide();
    });
    parent->installEventFilter(this);
    hide();
}

QSize HotkeySaveToast::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int width = horizontalPadding * 2 + iconSize + iconGap + metrics.horizontalAdvance(text);
    const int height = verticalPadding * 2 + std::max(iconSize, metrics.height());
    return QSize(width + shadowMargin * 2, height + shadowMargin * 2);
}

void HotkeySaveToast::setShowing(bool showing)
{
    if (m_showing == showing)
        return;
    m_showing = showing;
    m_animation->stop();
    m_animation->setStartValue(m_progress);
    m_animation->setEndValue(showing ? 1.0 : 0.0);
    if (showing) {
        show();
        raise();
    }
    m_animation->start();
}

QPoint HotkeySaveToast::restingPosition() const
{
    return QPoint((parentWidget()->width() - width()) / 2, topInset - shadowMargin);
}

void HotkeySaveToast::apply(double progress)
{
    m_progress = progress;
    m_opacity = progress;
    // From just above the parent's top edge down to where it rests.
    const QPoint rest = restingPosition();
    const int hiddenY = -height();
    move(rest.x(), static_cast<int>(hiddenY + (rest.y() - hiddenY) * progress));
    update();
}

bool HotkeySaveToast::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        apply(m_progress);
    return QWidget::eventFilter(watched, event);
}

void HotkeySaveToast::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_opacity);
    const QRectF card = QRectF(rect()).adjusted(shadowMargin, shadowMargin, -shadowMargin, -shadowMargin);

    // Black at 15 % spread over 4 points, a little below the card.
    for (int i = 4; i >= 1; --i) {
        QPainterPath shadow;
        shadow.addRoundedRect(card.translated(0, 2).adjusted(-i, -i, i, i), radius + i, radius + i);
        painter.fillPath(shadow, QColor(0, 0, 0, static_cast<int>(0.15 * 255 / 4)));
    }
    QPainterPath path;
    path.addRoundedRect(card, radius, radius);
    painter.fillPath(path, SettingsStyle::controlBackgroundColor());

    const QPixmap icon = SettingsStyle::symbol(QStringLiteral("checkmark.circle.fill"), iconSize, platform::SystemColors::green());
    const QRectF iconRect(card.left() + horizontalPadding, card.center().y() - iconSize / 2.0, iconSize, iconSize);
    painter.drawPixmap(iconRect, icon, QRectF(icon.rect()));
    painter.setPen(SettingsStyle::primaryColor());
    const QRectF textRect(iconRect.right() + iconGap, card.top(), card.right() - iconRect.right() - iconGap, card.height());
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text);
}
