#pragma once

#include "recording/RecordingSettings.h"
#include "recording/ScreenRecorder.h"

#include <QRectF>

#include <chrono>
#include <functional>

// What the recording flow needs of a recorder; `ScreenRecorder` stands behind it in the program.
class RecordingFlowRecorder {
public:
    virtual ~RecordingFlowRecorder() = default;
    virtual void startRecording(const QRectF& area, const RecordingSettings& settings,
                                ScreenRecorder::StartCompletion completion) = 0;
    virtual void stopRecording(ScreenRecorder::StopCompletion completion) = 0;
    virtual bool isRecording() const = 0;
    virtual ScreenRecorder::ShutdownResult stopRecordingAndWait(std::chrono::milliseconds timeout) = 0;
    // Called once when writing the file fails mid-recording (see ScreenRecorder).
    virtual void setWriteFailureHandler(std::function<void()> handler) { (void)handler; }
};
