#pragma once

// The options of one recording, as the setup panel hands them over.
struct RecordingSettings {
    bool recordMicrophone = false;
    // Only reported in the start's log line: no system sound is captured.
    bool recordSystemAudio = false;
    // The on-screen click indicator, and click rings drawn into the frames.
    bool showClickIndicator = false;

    friend bool operator==(const RecordingSettings&, const RecordingSettings&) = default;
};
