#pragma once

#include "video/VideoAlertPresenter.h"

// The alerts as window-modal message boxes over the preview.
class MessageBoxVideoAlertPresenter : public VideoAlertPresenter {
public:
    void present(QWidget* window, const Alert& alert) override;
};
