#pragma once

#include "recording/RecordingAlertPresenter.h"
#include "recording/RecordingFlowRecorder.h"
#include "recording/RecordingFlowWindow.h"
#include "recording/RecordingSettings.h"

#include <QRectF>

#include <functional>
#include <memory>

class ScreenRecordingSelectionDelegate;

// Everything the recording flow creates: its windows, its recorder and its alerts. The program
// uses standard(); tests hand the delegate stand-ins, so the flow runs without a screen or dialogs.
struct RecordingFlowFactories {
    // The selection window over the main screen, already showing, reporting to `delegate`.
    std::function<RecordingFlowWindowPtr(ScreenRecordingSelectionDelegate* delegate)> selectionWindow;
    // The setup controller for `area`; makeKeyAndOrderFront() presents it, close() closes it.
    std::function<RecordingFlowWindowPtr(const QRectF& area, std::function<void(const RecordingSettings&)> onStart,
                                         std::function<void()> onCancel)>
        setupWindow;
    // The click indicator, not yet shown.
    std::function<RecordingFlowWindowPtr()> clickIndicatorOverlay;
    // The red frame around `area`, already showing.
    std::function<RecordingFlowWindowPtr(const QRectF& area)> frameWindow;
    // The controls window with its stop action, not yet shown.
    std::function<RecordingFlowWindowPtr(std::function<void()> onStop)> controlsWindow;
    std::function<std::unique_ptr<RecordingFlowRecorder>()> recorder;
    std::shared_ptr<RecordingAlertPresenter> alerts;

    // The real windows, a new ScreenRecorder per recording, and message boxes.
    static RecordingFlowFactories standard();
    // `factories` with every missing part taken from standard().
    static RecordingFlowFactories completed(RecordingFlowFactories factories);
};
