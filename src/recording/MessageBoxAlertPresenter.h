#pragma once

#include "recording/RecordingAlertPresenter.h"

// The alerts as application-modal message boxes.
class MessageBoxAlertPresenter : public RecordingAlertPresenter {
public:
    int runModal(const Alert& alert) override;
};
