#pragma once

#include <QString>

namespace platform {

// FFmpeg's own text for one of its negative error codes (AVERROR).
QString ffmpegErrorText(int code);

} // namespace platform
