#include "cloud/AuthFormParts.h"

#include "cloud/AuthErrorBox.h"
#include "cloud/AuthFormModel.h"
#include "cloud/AuthPrimaryButton.h"
#include "platform/ImageAssets.h"
#include "platform/SystemColors.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QFont sized(int pixels, QFont::Weight weight = QFont::Normal)
{
    QFont font;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QPixmap symbolPixmap(const QString& symbol, double pointSize, const QColor& tint)
{
    auto image = platform::ImageAssets::symbol(symbol, pointSize, tint);
    return image ? QPixmap::fromImage(*image) : QPixmap();
}

} // namespace

QColor AuthFormParts::secondaryColor()
{
    return platform::SystemColors::gray();
}

QFont AuthFormParts::titleFont()
{
    return sized(17, QFont::Bold);
}

QFont AuthFormParts::subheadlineFont()
{
    return sized(12);
}

QFont AuthFormParts::captionFont()
{
    return sized(11);
}

QFont AuthFormParts::smallCaptionFont()
{
    return sized(10);
}

QLabel* AuthFormParts::symbolLabel(const QString& symbol, double pointSize, const QColor& tint, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(symbolPixmap(symbol, pointSize, tint));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QToolButton* AuthFormParts::closeButton(QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("closeButton"));
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setIcon(QIcon(symbolPixmap(QStringLiteral("xmark.circle.fill"), 22, secondaryColor())));
    button->setIconSize(QSize(22, 22));
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    return button;
}

QWidget* AuthFormParts::header(const QString& symbol, const QString& title, const QString& subtitle, QWidget* parent)
{
    auto* block = new QWidget(parent);
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(symbolLabel(symbol, 48, platform::SystemColors::blue(), block));
    auto* titleLabel = new QLabel(title, block);
    titleLabel->setObjectName(QStringLiteral("titleLabel"));
    titleLabel->setFont(titleFont());
    titleLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(titleLabel);
    auto* subtitleLabel = secondaryLabel(subtitle, subheadlineFont(), block);
    subtitleLabel->setObjectName(QStringLiteral("subtitleLabel"));
    subtitleLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(subtitleLabel);
    return block;
}

QWidget* AuthFormParts::fieldGroup(const QString& caption, QLineEdit* field, QWidget* parent)
{
    auto* group = new QWidget(parent);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(secondaryLabel(caption, captionFont(), group));
    field->setParent(group);
    layout->addWidget(field);
    return group;
}

QLineEdit* AuthFormParts::textField(const QString& placeholder, bool secure, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setPlaceholderText(placeholder);
    if (secure)
        field->setEchoMode(QLineEdit::Password);
    field->setClearButtonEnabled(false);
    return field;
}

QPushButton* AuthFormParts::linkButton(const QString& text, const QFont& font, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setFlat(true);
    button->setFont(font);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; color: %1; background: transparent; }"
                                         "QPushButton:disabled { color: %2; }")
                              .arg(platform::SystemColors::blue().name(), secondaryColor().name()));
    return button;
}

QLabel* AuthFormParts::secondaryLabel(const QString& text, const QFont& font, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondaryColor());
    label->setPalette(palette);
    return label;
}

AuthFormParts::Frame AuthFormParts::frame(QWidget* view, const QString& symbol, const QString& title,
                                          const QString& subtitle)
{
    Frame frame;
    frame.root = new QVBoxLayout(view);
    frame.root->setContentsMargins(0, 8, 0, 20);
    frame.root->setSpacing(20);

    auto* topBar = new QHBoxLayout;
    topBar->setContentsMargins(0, 0, 8, 0);
    topBar->addStretch(1);
    frame.close = closeButton(view);
    topBar->addWidget(frame.close);
    frame.root->addLayout(topBar);

    frame.root->addWidget(header(symbol, title, subtitle, view));

    frame.form = new QWidget(view);
    frame.formLayout = new QVBoxLayout(frame.form);
    frame.formLayout->setContentsMargins(20, 0, 20, 0);
    frame.formLayout->setSpacing(16);
    frame.root->addWidget(frame.form);
    return frame;
}

QLineEdit* AuthFormParts::addField(QVBoxLayout* layout, const char* objectName, const QString& caption,
                                   const QString& placeholder, bool secure, QWidget* parent)
{
    QLineEdit* field = textField(placeholder, secure, parent);
    field->setObjectName(QString::fromLatin1(objectName));
    layout->addWidget(fieldGroup(caption, field, parent));
    return field;
}

AuthFormParts::Actions AuthFormParts::addActions(QVBoxLayout* layout, const QString& question, const QString& linkText,
                                                 const char* linkName, QWidget* parent)
{
    Actions actions;
    actions.errorBox = new AuthErrorBox(parent);
    layout->addWidget(actions.errorBox);
    actions.primary = new AuthPrimaryButton(parent);
    layout->addWidget(actions.primary);

    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    row->addStretch(1);
    row->addWidget(secondaryLabel(question, captionFont(), parent));
    actions.link = linkButton(linkText, captionFont(), parent);
    actions.link->setObjectName(QString::fromLatin1(linkName));
    row->addWidget(actions.link);
    row->addStretch(1);
    layout->addLayout(row);
    return actions;
}

QLabel* AuthFormParts::termsLabel(const QString& text, QWidget* parent)
{
    QLabel* terms = secondaryLabel(text, smallCaptionFont(), parent);
    terms->setAlignment(Qt::AlignCenter);
    terms->setWordWrap(true);
    terms->setContentsMargins(20, 0, 20, 0);
    return terms;
}

void AuthFormParts::syncText(QLineEdit* field, const QString& text)
{
    if (field->text() != text)
        field->setText(text);
}

void AuthFormParts::showState(const AuthFormModel& model, AuthPrimaryButton* primary, AuthErrorBox* errorBox)
{
    primary->setEnabled(model.isPrimaryEnabled());
    primary->setText(model.primaryTitle());
    primary->setBusy(model.isLoading());
    const auto error = model.errorText();
    errorBox->setVisible(error.has_value());
    errorBox->setMessage(error.value_or(QString()));
}
