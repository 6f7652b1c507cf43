#include "uploads/YandexDiskError.h"

namespace YandexDiskErrors {

QString errorDescription(YandexDiskError error)
{
    switch (error) {
    case YandexDiskError::noAccessToken: return QStringLiteral("Токен доступа не найден");
    case YandexDiskError::invalidURL: return QStringLiteral("Неверный URL");
    case YandexDiskError::noData: return QStringLiteral("Нет данных в ответе");
    case YandexDiskError::invalidResponse: return QStringLiteral("Неверный формат ответа");
    case YandexDiskError::uploadFailed: return QStringLiteral("Ошибка загрузки файла");
    case YandexDiskError::answerTooLarge: return QStringLiteral("Ответ сервера больше 1 МиБ; он не прочитан");
    }
    return {};
}

platform::AppError toAppError(YandexDiskError error)
{
    return platform::AppError{domain, static_cast<int>(error), errorDescription(error)};
}

} // namespace YandexDiskErrors
