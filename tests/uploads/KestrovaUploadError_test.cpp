// The cloud upload error's texts: the two keyword tables for the service's and the network's
// messages, the fixed texts and technical texts, and the failure the preview reports.
#include "uploads/UploadError.h"

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QString& value, std::ostream* out)
{
    *out << '"' << value.toStdString() << '"';
}

namespace {

struct MessageCase {
    const char* message;
    const char* userText;
};

} // namespace

TEST(KestrovaUploadError, ServiceMessagesMapByTheFirstMatchingRow)
{
    const MessageCase cases[] = {
        {"Unauthenticated. 401", "Сессия истекла. Войдите в аккаунт заново."},
        {"UNAUTHORIZED", "Сессия истекла. Войдите в аккаунт заново."},
        // Row 1 is tried before row 3.
        {"500 after 401", "Сессия истекла. Войдите в аккаунт заново."},
        {"Route not found", "Сервис временно недоступен. Попробуйте позже."},
        {"Error 404 for files", "Сервис временно недоступен. Попробуйте позже."},
        {"Internal Server Error", "Ошибка сервера. Попробуйте позже."},
        {"code 500", "Ошибка сервера. Попробуйте позже."},
        {"Payload Too Large", "Файл слишком большой для загрузки."},
        {"413", "Файл слишком большой для загрузки."},
        {"The file field is required.\nThe file must be an image.", "Ошибка при загрузке. Попробуйте ещё раз."},
        {"", "Ошибка при загрузке. Попробуйте ещё раз."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const UploadError error = UploadError::apiError(QString::fromUtf8(c.message));
        EXPECT_EQ(error.errorDescription(), QString::fromUtf8(c.userText));
        EXPECT_EQ(error.localizedDescription(), QString::fromUtf8(c.userText));
        // The technical text keeps the message as it came.
        EXPECT_EQ(error.technicalDescription(), "UploadError.apiError: " + QString::fromUtf8(c.message));
    }
}

TEST(KestrovaUploadError, NetworkMessagesMapByTheFirstMatchingRow)
{
    const MessageCase cases[] = {
        {"The request timed out.", "Превышено время ожидания. Проверьте интернет-соединение."},
        {"Connection TIMEOUT", "Превышено время ожидания. Проверьте интернет-соединение."},
        {"The Internet connection appears to be offline.", "Нет подключения к интернету. Проверьте соединение."},
        {"Could not connect to the server.", "Ошибка сети. Проверьте интернет-соединение."},
        {"The network connection was lost.", "Нет подключения к интернету. Проверьте соединение."},
        // "connection" (row 2) wins over "SSL" (row 3).
        {"An SSL error has occurred and a secure connection to the server cannot be made.",
         "Нет подключения к интернету. Проверьте соединение."},
        {"SSL handshake failed", "Ошибка безопасного соединения. Попробуйте позже."},
        {"The certificate for this server is invalid.", "Ошибка безопасного соединения. Попробуйте позже."},
        {"cancelled", "Загрузка отменена."},
        {"canceled", "Ошибка сети. Проверьте интернет-соединение."},
        // The client's own errors are network errors here, whatever their words say.
        {"Unauthorized. Please log in again.", "Ошибка сети. Проверьте интернет-соединение."},
        {"HTTP Error: 413", "Ошибка сети. Проверьте интернет-соединение."},
        {"", "Ошибка сети. Проверьте интернет-соединение."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const UploadError error = UploadError::networkError(QString::fromUtf8(c.message));
        EXPECT_EQ(error.errorDescription(), QString::fromUtf8(c.userText));
        EXPECT_EQ(error.technicalDescription(), "UploadError.networkError: " + QString::fromUtf8(c.message));
    }
}

TEST(KestrovaUploadError, FixedTextsTechnicalTextsAndTheReportedFailure)
{
    struct Case {
        UploadError error;
        const char* userText;
        const char* technical;
        const char* description;
    };
    const Case cases[] = {
        {UploadError::fileTooLarge("100 MB"), "Файл слишком большой. Максимальный размер: 100 MB",
         "UploadError.fileTooLarge: File exceeds max size 100 MB", "fileTooLarge(maxSize: \"100 MB\")"},
        {UploadError::notAuthenticated(), "Войдите в аккаунт для загрузки файлов",
         "UploadError.notAuthenticated: User not logged in", "notAuthenticated"},
        {UploadError::imageConversionFailed(), "Не удалось обработать изображение",
         "UploadError.imageConversionFailed: Failed to convert NSImage to PNG", "imageConversionFailed"},
        {UploadError::noPublicURL(), "Файл загружен, но ссылка не получена",
         "UploadError.noPublicURL: Server returned no public_url or slug", "noPublicURL"},
        {UploadError::apiError("Say \"hi\"\nnow"), "Ошибка при загрузке. Попробуйте ещё раз.",
         "UploadError.apiError: Say \"hi\"\nnow", "apiError(\"Say \\\"hi\\\"\\nnow\")"},
        {UploadError::networkError("The request timed out."), "Превышено время ожидания. Проверьте интернет-соединение.",
         "UploadError.networkError: The request timed out.", "networkError(\"The request timed out.\")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.technical);
        EXPECT_EQ(c.error.errorDescription(), QString::fromUtf8(c.userText));
        EXPECT_EQ(c.error.technicalDescription(), QString::fromUtf8(c.technical));
        const UploadFailure failure = c.error.failure();
        EXPECT_EQ(failure.typeName, "UploadError");
        EXPECT_EQ(failure.localizedDescription, QString::fromUtf8(c.userText));
        EXPECT_EQ(failure.description, QString::fromUtf8(c.description));
        EXPECT_EQ(failure.technicalDescription, QString::fromUtf8(c.technical));
    }
    // The preview's own stand-in for a missing cloud service says the same as the real error.
    const UploadFailure own = UploadFailure::notAuthenticated();
    const UploadFailure real = UploadError::notAuthenticated().failure();
    EXPECT_EQ(own.typeName, real.typeName);
    EXPECT_EQ(own.localizedDescription, real.localizedDescription);
    EXPECT_EQ(own.description, real.description);
    EXPECT_EQ(own.technicalDescription, real.technicalDescription);
}
