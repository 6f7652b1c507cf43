#include "app/DarkPalette.h"

#include <QWidget>

QColor DarkPalette::background()
{
    return QColor(30, 30, 32);
}

QPalette DarkPalette::palette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, background());
    palette.setColor(QPalette::WindowText, QColor(255, 255, 255, 235));
    palette.setColor(QPalette::Base, QColor(44, 44, 46));
    palette.setColor(QPalette::AlternateBase, QColor(58, 58, 60));
    palette.setColor(QPalette::Text, QColor(255, 255, 255, 235));
    palette.setColor(QPalette::Button, QColor(58, 58, 60));
    palette.setColor(QPalette::ButtonText, QColor(255, 255, 255, 235));
    palette.setColor(QPalette::PlaceholderText, QColor(235, 235, 245, 76));
    palette.setColor(QPalette::Highlight, QColor(10, 132, 255));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(44, 44, 46));
    palette.setColor(QPalette::ToolTipText, Qt::white);
    return palette;
}

void DarkPalette::apply(QWidget* widget)
{
    widget->setPalette(palette());
    widget->setAutoFillBackground(true);
}
