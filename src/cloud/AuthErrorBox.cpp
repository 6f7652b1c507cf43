#include "cloud/AuthErrorBox.h"

#include "cloud/AuthFormParts.h"
#include "platform/SystemColors.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

AuthErrorBox::AuthErrorBox(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("errorBox"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    auto* icon = AuthFormParts::symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), 12,
                                            platform::SystemColors::red(), this);
    icon->setAlignment(Qt::AlignTop);
    layout->addWidget(icon, 0, Qt::AlignTop);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("errorText"));
    m_text->setFont(AuthFormParts::captionFont());
    m_text->setWordWrap(true);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette palette = m_text->palette();
    palette.setColor(QPalette::WindowText, platform::SystemColors::red());
    m_text->setPalette(palette);
    layout->addWidget(m_text, 1);
}

void AuthErrorBox::setMessage(const QString& message)
{
    m_text->setText(message);
}

QString AuthErrorBox::message() const
{
    return m_text->text();
}

void AuthErrorBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = platform::SystemColors::red();
    fill.setAlphaF(0.1);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 4, 4);
    painter.fillPath(shape, fill);
}
