#include "screenshots/PreviewErrorBanner.h"

#include "app/Localization.h"
#include "platform/ImageAssets.h"
#include "platform/SystemColors.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QFont pixelFont(int pixels, QFont::Weight weight = QFont::Normal)
{
    QFont font;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QIcon symbolIcon(const QString& name, double size, const QColor& tint)
{
    if (auto image = platform::ImageAssets::symbol(name, size, tint))
        return QIcon(QPixmap::fromImage(*image));
    return {};
}

QColor secondaryText()
{
    return QColor(255, 255, 255, 140);
}

} // namespace

PreviewErrorBanner::PreviewErrorBanner(const QColor& color, QWidget* parent)
    : QWidget(parent)
    , m_color(color)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(16, 10, 16, 10);
    outer->setSpacing(8);
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    outer->addLayout(row);

    auto* symbol = new QLabel(this);
    if (auto image = platform::ImageAssets::symbol(QStringLiteral("exclamationmark.triangle.fill"), 16, color))
        symbol->setPixmap(QPixmap::fromImage(*image));
    row->addWidget(symbol, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setFont(pixelFont(13, QFont::Medium));
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("hint"));
    m_hint->setFont(pixelFont(11));
    m_hint->setWordWrap(true);
    m_hint->setTextFormat(Qt::PlainText);
    QPalette hintPalette = m_hint->palette();
    hintPalette.setColor(QPalette::WindowText, secondaryText());
    m_hint->setPalette(hintPalette);
    m_hint->hide();
    texts->addWidget(m_message);
    texts->addWidget(m_hint);
    row->addLayout(texts, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_copyButton = new QPushButton(this);
    m_copyButton->setObjectName(QStringLiteral("copy"));
    m_copyButton->setFont(pixelFont(11));
    m_copyButton->setFocusPolicy(Qt::NoFocus);
    m_copyButton->setCursor(Qt::PointingHandCursor);
    connect(m_copyButton, &QPushButton::clicked, this, [this] {
        if (onCopy)
            onCopy();
    });
    m_closeButton = new QToolButton(this);
    m_closeButton->setObjectName(QStringLiteral("close"));
    m_closeButton->setAutoRaise(true);
    m_closeButton->setFocusPolicy(Qt::NoFocus);
    m_closeButton->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill"), 14, secondaryText()));
    m_closeButton->setIconSize(QSize(14, 14));
    m_closeButton->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    connect(m_closeButton, &QToolButton::clicked, this, [this] {
        if (onClose)
            onClose();
    });
    buttons->addWidget(m_copyButton, 0, Qt::AlignVCenter);
    buttons->addWidget(m_closeButton, 0, Qt::AlignVCenter);
    row->addLayout(buttons);

    setCopied(false);
}

void PreviewErrorBanner::setMessage(const QString& message)
{
    m_message->setText(message);
}

void PreviewErrorBanner::setHint(const std::optional<QString>& hint)
{
    m_hint->setText(hint.value_or(QString()));
    m_hint->setVisible(hint.has_value());
}

QString PreviewErrorBanner::message() const
{
    return m_message->text();
}

std::optional<QString> PreviewErrorBanner::hint() const
{
    if (m_hint->isHidden())
        return std::nullopt;
    return m_hint->text();
}

void PreviewErrorBanner::setCopied(bool copied)
{
    m_copied = copied;
    const QColor green = platform::SystemColors::green();
    m_copyButton->setText(copied ? L::text(QStringLiteral("Скопировано"), QStringLiteral("Copied"))
                                 : L::text(QStringLiteral("Скопировать"), QStringLiteral("Copy")));
    m_copyButton->setIcon(symbolIcon(copied ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc"), 11,
                                     copied ? green : QColor(Qt::white)));
    m_copyButton->setIconSize(QSize(11, 11));
    const QString border = copied ? QStringLiteral("rgba(48, 209, 88, 150)") : QStringLiteral("rgba(255, 255, 255, 60)");
    const QString fill = copied ? QStringLiteral("rgba(48, 209, 88, 50)") : QStringLiteral("rgba(255, 255, 255, 20)");
    m_copyButton->setStyleSheet(QStringLiteral("QPushButton { border: 1px solid %1; border-radius: 5px; background: %2;"
                                               " padding: 2px 8px; color: %3; }")
                                    .arg(border, fill, copied ? green.name() : QStringLiteral("white")));
}

void PreviewErrorBanner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QColor band = m_color;
    band.setAlphaF(0.08f);
    painter.fillRect(rect(), band);
    QColor line = m_color;
    line.setAlphaF(0.40f);
    painter.fillRect(QRect(0, 0, width(), 2), line);
}
