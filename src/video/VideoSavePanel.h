#pragma once

#include "video/VideoExportFormat.h"

#include <QString>

#include <functional>
#include <optional>

// The "save as" panel of the video preview, behind an interface so that no test waits on a dialog.
class VideoSavePanel {
public:
    struct Options {
        // The file type the panel offers, and the proposed name (with its extension).
        VideoExportFormat format = VideoExportFormat::mp4;
        QString proposedName;
    };
    using Completion = std::function<void(const std::optional<QString>& path)>;

    virtual ~VideoSavePanel() = default;
    // Opens the panel as a window of its own and returns at once. `completion` runs once, on the
    // GUI thread, with the chosen file's path, or none when the user cancelled.
    virtual void begin(const Options& options, Completion completion) = 0;
};
