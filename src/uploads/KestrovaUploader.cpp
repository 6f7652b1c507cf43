#include "uploads/KestrovaUploader.h"

#include "app/DebugLogger.h"
#include "cloud/APIClient.h"
#include "cloud/AuthManager.h"
#include "cloud/UploadResponse.h"
#include "platform/Console.h"
#include "platform/NumberFormat.h"
#include "uploads/UploadFileNames.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageWriter>
#include <QPointer>
#include <QThread>

KestrovaUploader& KestrovaUploader::shared()
{
    static KestrovaUploader* instance = [] {
        Q_ASSERT(!QCoreApplication::instance() || QThread::currentThread() == QCoreApplication::instance()->thread());
        return new KestrovaUploader(APIClient::shared(), AuthManager::shared());
    }();
    return *instance;
}

KestrovaUploader::KestrovaUploader(APIClient& apiClient, AuthManager& authManager, QObject* parent)
    : CloudImageUploader(parent)
    , m_apiClient(apiClient)
    , m_authManager(authManager)
{
}

void KestrovaUploader::uploadImage(const QImage& image, const std::optional<QString>& fileName, bool isPublic,
                                   UploadCompletion completion)
{
    uploadImage(image, fileName, isPublic, ProgressHandler(), [completion = std::move(completion)](const Result& result) {
        if (!completion)
            return;
        if (result)
            completion(UploadResult::success(*result));
        else
            completion(UploadResult::error(result.error().failure()));
    });
}

void KestrovaUploader::uploadImage(const QImage& image, const std::optional<QString>& fileName, bool isPublic,
                                   ProgressHandler progress, Completion completion)
{
    Q_UNUSED(progress);
    // Every line of the upload names this operation, wherever in the chain it is written.
    const std::source_location where = std::source_location::current();
    if (!m_authManager.isAuthenticated()) {
        if (completion)
            completion(UploadError::notAuthenticated());
        return;
    }
    setIsUploading(true);
    QMetaObject::invokeMethod(
        this,
        [this, image, fileName, isPublic, completion, where] { startUpload(image, fileName, isPublic, completion, where); },
        Qt::QueuedConnection);
}

void KestrovaUploader::startUpload(const QImage& image, const std::optional<QString>& fileName, bool isPublic,
                                   const Completion& completion, const std::source_location& where)
{
    auto& log = DebugLogger::shared();
    log.log(QStringLiteral("KestrovaUploader: Starting image conversion"), where);
    const QSizeF size = image.deviceIndependentSize();
    log.log(QStringLiteral("KestrovaUploader: Image size: ") + platform::NumberFormat::decimal(size.width())
                + QStringLiteral(" x ") + platform::NumberFormat::decimal(size.height()),
            where);
    log.log(QStringLiteral("KestrovaUploader: Image representations count: ") + QString::number(image.isNull() ? 0 : 1),
            where);

    // The pixels, then an image PNG can store as it is, then the PNG itself.
    if (image.isNull()) {
        log.log(QStringLiteral("KestrovaUploader ERROR: tiffRepresentation returned nil!"), where);
        const UploadError error = UploadError::imageConversionFailed();
        uploadFailed(error, error.localizedDescription(), completion, where);
        return;
    }
    log.log(QStringLiteral("KestrovaUploader: Got tiffData, size: ") + QString::number(image.sizeInBytes())
                + QStringLiteral(" bytes"),
            where);
    const QImage bitmap =
        image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (bitmap.isNull()) {
        log.log(QStringLiteral("KestrovaUploader ERROR: NSBitmapImageRep(data:) returned nil!"), where);
        const UploadError error = UploadError::imageConversionFailed();
        uploadFailed(error, error.localizedDescription(), completion, where);
        return;
    }
    log.log(QStringLiteral("KestrovaUploader: Created bitmapImage"), where);
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        if (!writer.write(bitmap))
            png.clear();
    }
    if (png.isEmpty()) {
        log.log(QStringLiteral("KestrovaUploader ERROR: PNG representation returned nil!"), where);
        const UploadError error = UploadError::imageConversionFailed();
        uploadFailed(error, error.localizedDescription(), completion, where);
        return;
    }
    log.log(QStringLiteral("KestrovaUploader: PNG data created, size: ") + QString::number(png.size())
                + QStringLiteral(" bytes"),
            where);
    const QString name = fileName.value_or(UploadFileNames::screenshot());
    log.log(QStringLiteral("KestrovaUploader: Calling uploadFile with fileName: ") + name, where);

    m_apiClient.uploadFile(png, name, isPublic, this,
                           [this, completion, where](Expected<UploadResponse, CloudError> result) {
                               if (result) {
                                   uploadSucceeded(*result, completion, where);
                                   return;
                               }
                               const CloudError& error = result.error();
                               const UploadError converted =
                                   error.apiError() ? UploadError::apiError(error.apiError()->localizedDescription())
                                                    : UploadError::networkError(error.localizedDescription());
                               uploadFailed(converted, error.localizedDescription(), completion, where);
                           });
}

void KestrovaUploader::uploadSucceeded(const UploadResponse& response, const Completion& completion,
                                       const std::source_location& where)
{
    // The account is reloaded before the caller hears of the success; its own failures do not
    // change the result.
    m_authManager.refreshUser(this, [this, response, completion, where] {
        m_authManager.fetchStorageUsage();
        const Result link = extractPublicURL(response);
        if (!link) {
            uploadFailed(link.error(), link.error().localizedDescription(), completion, where);
            return;
        }
        platform::Console::printLine(QStringLiteral("KestrovaUploader: Upload successful - ") + *link);
        finish(link, completion);
    });
}

void KestrovaUploader::uploadFailed(const UploadError& converted, const QString& description,
                                    const Completion& completion, const std::source_location& where)
{
    DebugLogger::shared().logErrorMessage(description, where);
    platform::Console::printLine(QStringLiteral("KestrovaUploader: Upload failed - ") + converted.localizedDescription());
    finish(converted, completion);
}

void KestrovaUploader::finish(const Result& result, const Completion& completion)
{
    setIsUploading(false);
    if (completion)
        completion(result);
}

KestrovaUploader::Result KestrovaUploader::extractPublicURL(const UploadResponse& response) const
{
    if (response.file.publicUrl && !response.file.publicUrl->isEmpty())
        return *response.file.publicUrl;
    if (response.file.slug && !response.file.slug->isEmpty())
        return m_apiClient.sanctumURL() + QLatin1Char('/') + *response.file.slug;
    return UploadError::noPublicURL();
}
