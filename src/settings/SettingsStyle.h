#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QString>

class QFrame;
class QLabel;
class QWidget;

// The fonts, colours and small pieces the sections of the settings window share.
class SettingsStyle {
public:
    static QFont bodyFont();
    static QFont headlineFont();     // body size, semibold
    static QFont subheadlineFont();
    static QFont captionFont();
    static QFont smallCaptionFont(); // caption 2
    static QFont title3Font();
    static QFont sized(int pixels, QFont::Weight weight = QFont::Normal);

    static QColor primaryColor();
    static QColor secondaryColor();
    static QColor accentColor();
    static QColor controlBackgroundColor();
    static QColor textBackgroundColor();

    // A symbol of the design tinted with `tint`, `pointSize` high; an empty pixmap when unknown.
    static QPixmap symbol(const QString& name, double pointSize, const QColor& tint);
    static QLabel* symbolLabel(const QString& name, double pointSize, const QColor& tint, QWidget* parent);
    static QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent);
    static void setTextColor(QLabel* label, const QColor& color);
    // A thin horizontal line in the separator colour.
    static QFrame* divider(QWidget* parent);
    // The colour as a stylesheet value, its alpha included.
    static QString css(const QColor& color);
};
