#include "settings/AboutSectionView.h"

#include "platform/ImageAssets.h"
#include "settings/SettingsStyle.h"
#include "settings/SettingsViewModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int iconSide = 48;

// The application icon cut to rounded corners, or the camera symbol when there is no icon.
QLabel* appIcon(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("appIcon"));
    label->setFixedSize(iconSide, iconSide);
    label->setAlignment(Qt::AlignCenter);
    if (const auto image = platform::ImageAssets::named(QStringLiteral("AppIcon"), iconSide)) {
        QPixmap rounded(image->size());
        rounded.setDevicePixelRatio(image->devicePixelRatio());
        rounded.fill(Qt::transparent);
        QPainter painter(&rounded);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(0, 0, iconSide, iconSide), 10, 10);
        painter.setClipPath(clip);
        painter.drawImage(QRectF(0, 0, iconSide, iconSide), *image);
        painter.end();
        label->setPixmap(rounded);
        label->setProperty("symbol", QString());
    } else {
        label->setPixmap(SettingsStyle::symbol(QStringLiteral("camera.fill"), 32, SettingsStyle::primaryColor()));
        label->setProperty("symbol", QStringLiteral("camera.fill"));
    }
    return label;
}

QHBoxLayout* factRow(const QString& label, const QString& value, const QString& name, QWidget* parent)
{
    auto* row = new QHBoxLayout;
    row->addWidget(SettingsStyle::label(label, SettingsStyle::bodyFont(), SettingsStyle::secondaryColor(), parent));
    row->addStretch(1);
    QFont semibold = SettingsStyle::bodyFont();
    semibold.setWeight(QFont::DemiBold);
    auto* shown = SettingsStyle::label(value, semibold, SettingsStyle::primaryColor(), parent);
    shown->setObjectName(name);
    row->addWidget(shown);
    return row;
}

} // namespace

AboutSectionView::AboutSectionView(SettingsViewModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("AboutSectionView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(appIcon(this), 0, Qt::AlignVCenter);
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    auto* product = SettingsStyle::label(QStringLiteral("Kestrova"), SettingsStyle::title3Font(), SettingsStyle::primaryColor(), this);
    product->setObjectName(QStringLiteral("productName"));
    names->addWidget(product);
    names->addWidget(SettingsStyle::label(QStringLiteral("Скриншоты и запись экрана"), SettingsStyle::captionFont(),
                                          SettingsStyle::secondaryColor(), this));
    header->addLayout(names);
    header->addStretch(1);
    layout->addLayout(header);
    layout->addSpacing(16);

    auto* facts = new QVBoxLayout;
    facts->setSpacing(8);
    facts->addLayout(factRow(QStringLiteral("Версия:"), SettingsViewModel::appVersion(), QStringLiteral("appVersion"), this));
    facts->addLayout(factRow(QStringLiteral("Сборка:"), SettingsViewModel::appBuild(), QStringLiteral("appBuild"), this));
    facts->addLayout(factRow(QStringLiteral("Дата сборки:"), SettingsViewModel::buildDate(), QStringLiteral("buildDate"), this));
    layout->addLayout(facts);

    layout->addSpacing(12);
    layout->addWidget(SettingsStyle::divider(this));
    layout->addSpacing(12);

    QPushButton* site = makeLinkRow(QStringLiteral("globe"), QStringLiteral("Сайт проекта"), QStringLiteral("siteLink"));
    layout->addWidget(site);
    QPushButton* privacy = makeLinkRow(QStringLiteral("hand.raised.fill"), QStringLiteral("Политика конфиденциальности"),
                                   QStringLiteral("privacyLink"));
    layout->addWidget(privacy);
    connect(site, &QPushButton::clicked, m_model, &SettingsViewModel::openSite);
    connect(privacy, &QPushButton::clicked, m_model, &SettingsViewModel::openPrivacyPolicy);

    layout->addStretch(1);
    auto* copyright = SettingsStyle::label(SettingsViewModel::copyrightLine(), SettingsStyle::captionFont(),
                                           SettingsStyle::secondaryColor(), this);
    copyright->setObjectName(QStringLiteral("copyrightLine"));
    copyright->setAlignment(Qt::AlignCenter);
    layout->addWidget(copyright);
}

QPushButton* AboutSectionView::makeLinkRow(const QString& symbol, const QString& text, const QString& name)
{
    auto* row = new QPushButton(this);
    row->setObjectName(name);
    row->setFlat(true);
    row->setCursor(Qt::PointingHandCursor);
    row->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; }"));
    row->setMinimumHeight(36);
    auto* content = new QHBoxLayout(row);
    content->setContentsMargins(0, 8, 0, 8);
    content->addWidget(SettingsStyle::symbolLabel(symbol, 14, SettingsStyle::primaryColor(), row));
    content->addWidget(SettingsStyle::label(text, SettingsStyle::bodyFont(), SettingsStyle::primaryColor(), row));
    content->addStretch(1);
    content->addWidget(SettingsStyle::symbolLabel(QStringLiteral("arrow.up.right"), 10, SettingsStyle::secondaryColor(), row));
    return row;
}
