#include "settings/SettingsStyle.h"

#include "platform/ImageAssets.h"
#include "platform/SystemColors.h"

#include <QFrame>
#include <QLabel>

QFont SettingsStyle::sized(int pixels, QFont::Weight weight)
{
    QFont font;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QFont SettingsStyle::bodyFont()
{
    return sized(13);
}

QFont SettingsStyle::headlineFont()
{
    return sized(13, QFont::DemiBold);
}

QFont SettingsStyle::subheadlineFont()
{
    return sized(12);
}

QFont SettingsStyle::captionFont()
{
    return sized(11);
}

QFont SettingsStyle::smallCaptionFont()
{
    return sized(10);
}

QFont SettingsStyle::title3Font()
{
    return sized(15, QFont::DemiBold);
}

QColor SettingsStyle::primaryColor()
{
    return QColor(255, 255, 255, 235);
}

QColor SettingsStyle::secondaryColor()
{
    return platform::SystemColors::gray();
}

QColor SettingsStyle::accentColor()
{
    return platform::SystemColors::accent();
}

QColor SettingsStyle::controlBackgroundColor()
{
    return QColor(44, 44, 46);
}

QColor SettingsStyle::textBackgroundColor()
{
    return QColor(30, 30, 30);
}

QPixmap SettingsStyle::symbol(const QString& name, double pointSize, const QColor& tint)
{
    const auto image = platform::ImageAssets::symbol(name, pointSize, tint);
    return image ? QPixmap::fromImage(*image) : QPixmap();
}

QLabel* SettingsStyle::symbolLabel(const QString& name, double pointSize, const QColor& tint, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(symbol(name, pointSize, tint));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QLabel* SettingsStyle::label(const QString& text, const QFont& font, const QColor& color, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    setTextColor(label, color);
    return label;
}

void SettingsStyle::setTextColor(QLabel* label, const QColor& color)
{
    // A style sheet rather than the palette: inside a styled button the palette is not used.
    label->setStyleSheet(QStringLiteral("QLabel { color: %1; background: transparent; }").arg(css(color)));
}

QFrame* SettingsStyle::divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: rgba(255, 255, 255, 26); border: none;"));
    return line;
}

QString SettingsStyle::css(const QColor& color)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(color.red()).arg(color.green()).arg(color.blue()).arg(color.alpha());
}
