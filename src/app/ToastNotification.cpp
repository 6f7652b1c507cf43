#include "app/ToastNotification.h"

#include "platform/ImageAssets.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kIconSize = 14;
constexpr int kSpacing = 8;
constexpr int kPadH = 14;
constexpr int kPadV = 10;
constexpr int kShadowBlur = 8;
constexpr int kShadowDown = 4;

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
    resize(sizeHint());
}

QSize ToastNotification::sizeHint() const
{
    const QFontMetrics metrics(messageFont());
    const int contentW = kIconSize + kSpacing + metrics.horizontalAdvance(m_message);
    const int contentH = std::max(kIconSize, metrics.height());
    // Room around the capsule for its shadow.
    return QSize(contentW + 2 * kPadH + 2 * kShadowBlur, contentH + 2 * kPadV + 2 * kShadowBlur + kShadowDown);
}

void ToastNotification::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF capsule = QRectF(rect()).adjusted(kShadowBlur, kShadowBlur, -kShadowBlur, -kShadowBlur - kShadowDown);
    const double radius = capsule.height() / 2;

    // A soft shadow: black at 12 % spread over a few rings below the capsule.
    for (int i = kShadowBlur; i > 0; i -= 2) {
        QPainterPath ring;
        ring.addRoundedRect(capsule.adjusted(-i, -i + kShadowDown, i, i + kShadowDown), radius + i, radius + i);
        painter.fillPath(ring, QColor(0, 0, 0, static_cast<int>(0.12 * 255 / (kShadowBlur / 2))));
    }
    QPainterPath path;
    path.addRoundedRect(capsule, radius, radius);
    painter.fillPath(path, QColor(44, 44, 46, 235)); // the thin dark material

    const QRectF iconRect(capsule.left() + kPadH, capsule.center().y() - kIconSize / 2.0, kIconSize, kIconSize);
    if (auto image = platform::ImageAssets::symbol(m_icon, kIconSize, ToastTypes::tint(m_type)))
        painter.drawImage(iconRect, *image);
    painter.setFont(messageFont());
    painter.setPen(QColor(255, 255, 255, 235));
    const QRectF textRect(iconRect.right() + kSpacing, capsule.top(), capsule.right() - kPadH - iconRect.right() - kSpacing,
                          capsule.height());
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, m_message);
}
