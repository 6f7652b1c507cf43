#include "screenshots/UploadFailure.h"

UploadFailure UploadFailure::notAuthenticated()
{
    return {QStringLiteral("UploadError"), QStringLiteral("Войдите в аккаунт для загрузки файлов"),
            QStringLiteral("notAuthenticated"), QStringLiteral("UploadError.notAuthenticated: User not logged in")};
}
