#pragma once

#include <QRectF>

#include <optional>

// Receives the end of a recording-area selection: the area (main-screen points, top-left origin,
// y down), or nothing when the selection was cancelled.
class ScreenRecordingSelectionDelegate {
public:
    virtual ~ScreenRecordingSelectionDelegate() = default;
    virtual void screenRecordingSelectionDidFinish(std::optional<QRectF> rect) = 0;
};
