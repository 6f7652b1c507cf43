#pragma once

#include <QString>

#include <optional>

// A failed upload as the preview shows and logs it. Uploaders that report through a completion
// hand one of these; the cloud upload error fills technicalDescription, others leave it empty.
struct UploadFailure {
    // The error's type name, for the log ("UploadError", "YandexDiskError", ...).
    QString typeName;
    // The text for the user.
    QString localizedDescription;
    // The full description of the error value, for the log.
    QString description;
    // The cloud upload error's technical text ("UploadError.notAuthenticated: User not logged in");
    // present exactly when the failure is a cloud upload error.
    std::optional<QString> technicalDescription;

    // The cloud upload error for an upload attempted without a signed-in account.
    static UploadFailure notAuthenticated();
};
