#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QWidget;

// What the sign-in and sign-up forms share: fonts and colours of the design, the close
// button, the header, labelled fields and link buttons.
class AuthFormParts {
public:
    static QColor secondaryColor();
    static QFont titleFont();       // title 2, bold
    static QFont subheadlineFont();
    static QFont captionFont();
    static QFont smallCaptionFont(); // caption 2

    // A symbol image in a label, `pointSize` high.
    static QLabel* symbolLabel(const QString& symbol, double pointSize, const QColor& tint, QWidget* parent);
    // The round close button of the top bar.
    static QToolButton* closeButton(QWidget* parent);
    // The symbol, title and subtitle over the form.
    static QWidget* header(const QString& symbol, const QString& title, const QString& subtitle, QWidget* parent);
    // A caption above its field, 4 points apart.
    static QWidget* fieldGroup(const QString& caption, QLineEdit* field, QWidget* parent);
    static QLineEdit* textField(const QString& placeholder, bool secure, QWidget* parent);
    // A borderless button drawn as a link.
    static QPushButton* linkButton(const QString& text, const QFont& font, QWidget* parent);
    // A label in the secondary colour.
    static QLabel* secondaryLabel(const QString& text, const QFont& font, QWidget* parent);
};
