#pragma once

#include <QString>

namespace platform {

// An error as a value: a domain ("Kestrova", "FileUploader", ...), a code within it, and the text
// shown to the user.
struct AppError {
    QString domain;
    int code = 0;
    QString localizedDescription;
    // Why it failed, when there is more to say than the description.
    QString localizedFailureReason{};

    friend bool operator==(const AppError&, const AppError&) = default;
};

} // namespace platform
