#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class AuthErrorBox;
class AuthFormModel;
class AuthPrimaryButton;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class QWidget;

// What the sign-in and sign-up forms share: fonts and colours of the design, the frame with its
// close button and header, labelled fields, the actions under them and link buttons.
class AuthFormParts {
public:
    // The parts of a form view that frame() and addActions() make.
    struct Frame {
        QVBoxLayout* root;
        QToolButton* close;
        QWidget* form;           // the fields' block, 20 in from the sides
        QVBoxLayout* formLayout; // its parts 16 apart
    };
    struct Actions {
        AuthErrorBox* errorBox;
        AuthPrimaryButton* primary;
        QPushButton* link;
    };

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

    // The layout of `view`: the top bar with the close button, the header, then the empty form block.
    static Frame frame(QWidget* view, const QString& symbol, const QString& title, const QString& subtitle);
    // A captioned field named `objectName`, added to `layout`.
    static QLineEdit* addField(QVBoxLayout* layout, const char* objectName, const QString& caption,
                               const QString& placeholder, bool secure, QWidget* parent);
    // Under the fields: the error box, the primary button and a centred line of `question` and the
    // link `linkText`, named `linkName`, that leads to the other form.
    static Actions addActions(QVBoxLayout* layout, const QString& question, const QString& linkText,
                              const char* linkName, QWidget* parent);
    // The small print at the foot of a form, centred.
    static QLabel* termsLabel(const QString& text, QWidget* parent);

    // A field showing `text`, left alone when it already does (so the cursor stays).
    static void syncText(QLineEdit* field, const QString& text);
    // The primary button and the error box as `model` has them.
    static void showState(const AuthFormModel& model, AuthPrimaryButton* primary, AuthErrorBox* errorBox);
};
