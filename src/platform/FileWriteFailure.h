#pragma once

#include <QString>

#include <optional>

namespace platform {

// The words shown to the user for why a file could not be written, for the causes that have words
// of their own (a full disk, an I/O error); the recording's write failures and the saving of a
// video speak of them alike. Other causes keep the system's text.
class FileWriteFailure {
public:
    // `errnoValue` is the write's errno (FFmpeg's AVERROR codes are its negatives).
    static std::optional<QString> reason(int errnoValue);
};

} // namespace platform
