#pragma once

#include "video/VideoSavePanel.h"

// The save panel of the desktop: a QFileDialog window in the recordings folder offering the one
// file type of the format.
class FileDialogVideoSavePanel : public VideoSavePanel {
public:
    void begin(const Options& options, Completion completion) override;
};
