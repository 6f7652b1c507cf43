#include "uploads/UploadError.h"

#include <QStringList>

#include <initializer_list>

namespace {

struct MessageRow {
    std::initializer_list<const char*> keywords;
    const char* text;
};

// The first row with a keyword contained in the lower-cased message gives the text.
QString mapMessage(const QString& message, std::initializer_list<MessageRow> rows, const char* fallback)
{
    const QString lowered = message.toLower();
    for (const MessageRow& row : rows)
        for (const char* keyword : row.keywords)
            if (lowered.contains(QLatin1String(keyword)))
                return QString::fromUtf8(row.text);
    return QString::fromUtf8(fallback);
}

QString caseName(UploadError::Case kind)
{
    using Case = UploadError::Case;
    switch (kind) {
    case Case::fileTooLarge: return QStringLiteral("fileTooLarge");
    case Case::apiError: return QStringLiteral("apiError");
    case Case::networkError: return QStringLiteral("networkError");
    case Case::notAuthenticated: return QStringLiteral("notAuthenticated");
    case Case::imageConversionFailed: return QStringLiteral("imageConversionFailed");
    case Case::noPublicURL: return QStringLiteral("noPublicURL");
    }
    return QString();
}

// A text literal as the log writes a payload: quoted, with quotes, backslashes and line breaks escaped.
QString quoted(const QString& text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"': out += QStringLiteral("\\\""); break;
        case '\\': out += QStringLiteral("\\\\"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\r': out += QStringLiteral("\\r"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        default: out += c;
        }
    }
    return out + QLatin1Char('"');
}

} // namespace

QString UploadError::parseAPIErrorMessage(const QString& message)
{
    return mapMessage(message,
                      {
                          {{"unauthorized", "401"}, "Сессия истекла. Войдите в аккаунт заново."},
                          {{"not found", "404"}, "Сервис временно недоступен. Попробуйте позже."},
                          {{"500", "internal server"}, "Ошибка сервера. Попробуйте позже."},
                          {{"413", "too large", "payload"}, "Файл слишком большой для загрузки."},
                      },
                      "Ошибка при загрузке. Попробуйте ещё раз.");
}

QString UploadError::parseNetworkErrorMessage(const QString& message)
{
    return mapMessage(message,
                      {
                          {{"timed out", "timeout"}, "Превышено время ожидания. Проверьте интернет-соединение."},
                          {{"offline", "internet", "connection"}, "Нет подключения к интернету. Проверьте соединение."},
                          {{"ssl", "certificate"}, "Ошибка безопасного соединения. Попробуйте позже."},
                          {{"cancelled"}, "Загрузка отменена."},
                      },
                      "Ошибка сети. Проверьте интернет-соединение.");
}

QString UploadError::errorDescription() const
{
    switch (m_kind) {
    case Case::fileTooLarge: return QStringLiteral("Файл слишком большой. Максимальный размер: ") + m_payload;
    case Case::apiError: return parseAPIErrorMessage(m_payload);
    case Case::networkError: return parseNetworkErrorMessage(m_payload);
    case Case::notAuthenticated: return QStringLiteral("Войдите в аккаунт для загрузки файлов");
    case Case::imageConversionFailed: return QStringLiteral("Не удалось обработать изображение");
    case Case::noPublicURL: return QStringLiteral("Файл загружен, но ссылка не получена");
    }
    return QString();
}

QString UploadError::technicalDescription() const
{
    switch (m_kind) {
    case Case::fileTooLarge: return QStringLiteral("UploadError.fileTooLarge: File exceeds max size ") + m_payload;
    case Case::apiError: return QStringLiteral("UploadError.apiError: ") + m_payload;
    case Case::networkError: return QStringLiteral("UploadError.networkError: ") + m_payload;
    case Case::notAuthenticated: return QStringLiteral("UploadError.notAuthenticated: User not logged in");
    case Case::imageConversionFailed:
        return QStringLiteral("UploadError.imageConversionFailed: Failed to convert NSImage to PNG");
    case Case::noPublicURL: return QStringLiteral("UploadError.noPublicURL: Server returned no public_url or slug");
    }
    return QString();
}

QString UploadError::description() const
{
    switch (m_kind) {
    case Case::fileTooLarge: return caseName(m_kind) + QStringLiteral("(maxSize: ") + quoted(m_payload) + QLatin1Char(')');
    case Case::apiError:
    case Case::networkError: return caseName(m_kind) + QLatin1Char('(') + quoted(m_payload) + QLatin1Char(')');
    default: return caseName(m_kind);
    }
}

UploadFailure UploadError::failure() const
{
    return {QStringLiteral("UploadError"), errorDescription(), description(), technicalDescription()};
}
