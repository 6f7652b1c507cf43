#include "video/VideoSuccessBanner.h"

#include "platform/ImageAssets.h"
#include "platform/SystemColors.h"

#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace {
// The control background of the dark appearance.
const QColor kControlBackground(30, 30, 30);
} // namespace

VideoSuccessBanner::VideoSuccessBanner(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("successBanner"));
    setFixedHeight(bannerHeight);
    setAttribute(Qt::WA_TransparentForMouseEvents);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 0, 12, 0);
    row->setSpacing(8);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("successIcon"));
    icon->setFixedSize(20, 20);
    icon->setAccessibleDescription(QStringLiteral("Success"));
    if (auto symbol = platform::ImageAssets::symbol(QStringLiteral("checkmark.circle.fill"), 20, platform::SystemColors::green()))
        icon->setPixmap(QPixmap::fromImage(*symbol));
    auto* label = new QLabel(QStringLiteral("Загружено"), this);
    label->setObjectName(QStringLiteral("successLabel"));
    QFont font = label->font();
    font.setPixelSize(13);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addWidget(label, 0, Qt::AlignVCenter);

    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, 51));
    shadow->setOffset(0, 2);
    shadow->setBlurRadius(8);
    setGraphicsEffect(shadow);
    adjustSize();
}

QString VideoSuccessBanner::text() const
{
    const auto* label = findChild<QLabel*>(QStringLiteral("successLabel"));
    return label ? label->text() : QString();
}

void VideoSuccessBanner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor background = kControlBackground;
    background.setAlphaF(0.95f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(rect()), 10, 10);
}
