#include "screenshots/ScreenshotToolbar.h"

#include <QHBoxLayout>
#include <QPainter>

const QString ScreenshotToolbar::identifierName = QStringLiteral("ScreenshotToolbar");
const QString ScreenshotToolbar::spaceIdentifier = QStringLiteral("space");
const QString ScreenshotToolbar::flexibleSpaceIdentifier = QStringLiteral("flexibleSpace");

namespace {
constexpr int kSideMargin = 12;
constexpr int kItemSpacing = 6;
constexpr int kSpaceWidth = 8;
} // namespace

ScreenshotToolbar::ScreenshotToolbar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(identifierName);
    setFixedHeight(barHeight);
    m_row = new QHBoxLayout(this);
    m_row->setContentsMargins(kSideMargin, 0, kSideMargin, 0);
    m_row->setSpacing(kItemSpacing);
}

void ScreenshotToolbar::setItems(const QStringList& identifiers, const std::function<QWidget*(const QString&)>& makeItem)
{
    while (QLayoutItem* old = m_row->takeAt(0)) {
        delete old->widget();
        delete old;
    }
    m_items.clear();
    m_identifiers.clear();
    for (const QString& identifier : identifiers) {
        if (identifier == spaceIdentifier) {
            m_row->addSpacing(kSpaceWidth);
        } else if (identifier == flexibleSpaceIdentifier) {
            m_row->addStretch(1);
        } else {
            QWidget* widget = makeItem ? makeItem(identifier) : nullptr;
            if (!widget)
                continue;
            widget->setParent(this);
            m_row->addWidget(widget, 0, Qt::AlignVCenter);
            m_items.insert(identifier, widget);
        }
        m_identifiers.append(identifier);
    }
}

QImage ScreenshotToolbar::tinted(const QImage& image, const QColor& color, double opacity)
{
    QImage copy = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QColor fill = color;
    fill.setAlphaF(float(opacity));
    QPainter painter(&copy);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(QRect(QPoint(0, 0), copy.size()), fill);
    painter.end();
    copy.setDevicePixelRatio(image.devicePixelRatio());
    return copy;
}

void ScreenshotToolbar::paintEvent(QPaintEvent*)
{
    // A hairline under the bar parts it from the editor.
    QPainter painter(this);
    painter.setPen(QColor(255, 255, 255, 26));
    painter.drawLine(0, height() - 1, width(), height() - 1);
}
