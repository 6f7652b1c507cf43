#pragma once

#include "platform/AppError.h"

#include <QString>

// The Yandex Disk client's own errors. Their description is the text shown to the user.
enum class YandexDiskError {
    noAccessToken,
    invalidURL,
    noData,
    invalidResponse,
    uploadFailed, // kept for completeness of the set; no operation raises it
    answerTooLarge, // an answer past YandexDiskResponse::maxBodyBytes, abandoned unread
};

namespace YandexDiskErrors {

inline const QString domain = QStringLiteral("YandexDiskError");

QString errorDescription(YandexDiskError error);
// Domain "YandexDiskError", the case's position as code, its description.
platform::AppError toAppError(YandexDiskError error);

} // namespace YandexDiskErrors
