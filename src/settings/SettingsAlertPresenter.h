#pragma once

#include <QString>

#include <functional>

class QWidget;

// Shows the settings window's alerts. Behind an interface so that no test waits on a dialog.
class SettingsAlertPresenter {
public:
    struct Alert {
        QString title;
        QString message;
        QString button;
    };

    virtual ~SettingsAlertPresenter() = default;
    // Shows `alert` over `window` (on its own when null) and returns at once; `onDismiss` runs once,
    // when the user closes it.
    virtual void present(QWidget* window, const Alert& alert, std::function<void()> onDismiss) = 0;
};
