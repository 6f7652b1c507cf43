#include "app/ToastNotification.h"

#include "platform/ImageAssets.h"

#include <QFontMetrics>
#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

constexpr int kIconSize = 14;
constexpr int kSpacing = 8;
constexpr int kPadH = 14;
constexpr int kPadV = 10;
constexpr double kShadowBlur = 8;
constexpr double kShadowDown = 4;
const QColor kShadow(0, 0, 0, 31); // black at 12 %
// The thin dark material and the primary text on it.
const QColor kMaterial(44, 44, 46, 235);
const QColor kPrimaryText(255, 255, 255, 235);

QFont messageFont()
{
    QFont font;
    font.setPixelSize(13);
    font.setWeight(QFont::Medium);
    return font;
}

} // namespace

ToastNotification::ToastNotification(const QString& message, const QString& icon, ToastType type, QWidget* parent)
    : QWidget(parent)
    , m_message(message)
    , m_icon(icon)
    , m_type(type)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    // The shadow is drawn outside the capsule, which fills the widget exactly.
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setBlurRadius(kShadowBlur);
    shadow->setOffset(0, kShadowDown);
    shadow->setColor(kShadow);
    setGraphicsEffect(shadow);
    resize(sizeHint());
}

QSize ToastNotification::sizeHint() const
{
    const QFontMetrics metrics(messageFont());
    const int contentW = kIconSize + kSpacing + metrics.horizontalAdvance(m_message);
    const int contentH = std::max(kIconSize, metrics.height());
    return QSize(contentW + 2 * kPadH, contentH + 2 * kPadV);
}

void ToastNotification::setOpacity(double opacity)
{
    opacity = std::clamp(opacity, 0.0, 1.0);
    if (opacity == m_opacity)
        return;
    m_opacity = opacity;
    update();
}

void ToastNotification::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_opacity);
    const QRectF capsule = QRectF(rect());
    const double radius = capsule.height() / 2;

    QPainterPath path;
    path.addRoundedRect(capsule, radius, radius);
    painter.fillPath(path, kMaterial);

    const QRectF iconRect(capsule.left() + kPadH, capsule.center().y() - kIconSize / 2.0, kIconSize, kIconSize);
    if (auto image = platform::ImageAssets::symbol(m_icon, kIconSize, ToastTypes::tint(m_type)))
        painter.drawImage(iconRect, *image);
    painter.setFont(messageFont());
    painter.setPen(kPrimaryText);
    const QRectF textRect(iconRect.right() + kSpacing, capsule.top(), capsule.right() - kPadH - iconRect.right() - kSpacing,
                          capsule.height());
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, m_message);
}
