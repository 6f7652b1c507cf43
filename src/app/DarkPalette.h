#pragma once

#include <QColor>
#include <QPalette>

class QWidget;

// The dark heads-up look of the settings window and of the windows it opens (sign-in, sign-up),
// whatever the desktop's theme.
class DarkPalette {
public:
    static QColor background();
    static QPalette palette();
    // Gives a window (or a view that becomes one) the palette and a filled background. Windows do
    // not inherit their parent's palette, so each one that should look dark calls this itself.
    static void apply(QWidget* widget);
};
