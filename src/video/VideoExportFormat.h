#pragma once

#include <QList>
#include <QString>

// The export format of the video preview: the recording as it is, or an animated GIF of it.
enum class VideoExportFormat {
    mp4,
    gif,
};

namespace VideoExportFormats {

// In the order of the format switch's segments.
const QList<VideoExportFormat>& allCases();
// "MP4" or "GIF": the switch's labels and the text of the format log line.
QString rawValue(VideoExportFormat format);
// The file name extension, without the dot: "mp4" or "gif".
QString fileExtension(VideoExportFormat format);

} // namespace VideoExportFormats
