#pragma once

#include "settings/SettingsAlertPresenter.h"

// The alerts as message boxes modal to their window.
class MessageBoxSettingsAlertPresenter : public SettingsAlertPresenter {
public:
    void present(QWidget* window, const Alert& alert, std::function<void()> onDismiss) override;
};
