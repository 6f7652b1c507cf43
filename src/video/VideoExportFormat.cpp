#include "video/VideoExportFormat.h"

namespace VideoExportFormats {

const QList<VideoExportFormat>& allCases()
{
    static const QList<VideoExportFormat> cases{VideoExportFormat::mp4, VideoExportFormat::gif};
    return cases;
}

QString rawValue(VideoExportFormat format)
{
    return format == VideoExportFormat::gif ? QStringLiteral("GIF") : QStringLiteral("MP4");
}

QString fileExtension(VideoExportFormat format)
{
    return format == VideoExportFormat::gif ? QStringLiteral("gif") : QStringLiteral("mp4");
}

} // namespace VideoExportFormats
