#include "uploads/FileUploader.h"
#include "uploads/YandexDiskUploader.h"

#include "app/UploadProvider.h"
#include "platform/Console.h"
#include "platform/DesktopNotifications.h"
#include "platform/ProcessRunner.h"
#include "uploads/FtpCommand.h"
#include "uploads/MainQueue.h"
#include "uploads/SftpPortProbe.h"
#include "uploads/SftpScript.h"
#include "uploads/TemporaryUploadFiles.h"
#include "uploads/UploadFileNames.h"
#include "uploads/UploadWorkers.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImageWriter>
#include <QStringDecoder>
#include <QUrl>
#include <QUuid>

namespace {

void print(const QString& line)
{
    platform::Console::printLine(QStringLiteral("FileUploader: ") + line);
}

// Program output as text; output that is not valid UTF-8 counts as no text at all.
QString decodedOutput(const QByteArray& output)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(output);
    return decoder.hasError() ? QString() : text;
}

// The status shown in a failure text; a run that did not end by itself has none of its own.
int statusOf(const platform::ProcessResult& result)
{
    return result.outcome == platform::ProcessResult::Outcome::exited ? result.exitCode : -1;
}

platform::AppError startError(const platform::ProcessResult& result)
{
    return {QStringLiteral("ProcessRunner"), 1, result.errorText};
}

QString joined(const QString& directory, const QString& name)
{
    return directory + QLatin1Char('/') + name;
}

// ssh's own message names the file and a command; this says what the user can do, in the user's
// terms. It keeps "Host key verification failed" for the banner's hint.
QString hostKeyChangedText(const QString& hostName)
{
    return QStringLiteral("Ключ сервера %1 изменился, соединение прервано до отправки пароля "
                          "(Host key verification failed). Если ключ сервера сменили намеренно, удалите строку "
                          "«%1» из файла %2 и повторите загрузку.")
        .arg(hostName, SftpScript::knownHostsPath());
}

// A completion that hands a test's outcome to `completion` on the GUI thread, unless `context`
// was given and has gone.
FileUploader::TestCompletion delivered(QObject* context, FileUploader::TestCompletion completion)
{
    const QPointer<QObject> guard(context);
    const bool hadContext = context != nullptr;
    return [guard, hadContext, completion = std::move(completion)](const ConnectionTestResult& result) {
        MainQueue::post([guard, hadContext, completion, result] {
            if (hadContext && !guard)
                return;
            if (completion)
                completion(result);
        });
    };
}

} // namespace

const QString FileUploader::errorDomain = QStringLiteral("FileUploader");

FileUploader::FileUploader(QObject* parent)
    : OwnServerUploader(parent)
{
    // Every worker's outcome comes back through it; made here, on the GUI thread.
    MainQueue::prepare();
}

FileUploader::~FileUploader() = default;

platform::AppError FileUploader::error(int code, const QString& description)
{
    return {errorDomain, code, description};
}

// --- Published state (GUI thread). Every assignment is announced, as observers expect. ---

void FileUploader::setUploadProgress(double value)
{
    m_uploadProgress = value;
    emit uploadProgressChanged();
}

void FileUploader::setUploadCompleted(bool value)
{
    m_uploadCompleted = value;
    emit uploadCompletedChanged();
}

// --- The request ---

FileUploader::Validation FileUploader::validateSettings(const ServerSettings& settings)
{
    const auto invalid = [](const char* text) { return Validation{false, QString::fromUtf8(text)}; };
    const Validation valid{true, std::nullopt};
    // A provider that needs one setting fails on its absence alone.
    const auto required = [&](const QString& value, const char* text) { return value.isEmpty() ? invalid(text) : valid; };
    switch (settings.uploadProvider) {
    case UploadProvider::kestrovaCloud:
        break;
    case UploadProvider::ssh: {
        // The host is not trimmed here: a host of spaces passes, and the transfer reports it.
        if (settings.ftpHost.isEmpty())
            return invalid("Не указан адрес SSH/SFTP сервера");
        if (settings.ftpUsername.isEmpty())
            return invalid("Не указано имя пользователя для SSH/SFTP");
        const QString base = settings.baseURL.trimmed();
        if (base.isEmpty())
            return invalid("Не указан Base URL для формирования ссылки");
        if (!base.startsWith(QStringLiteral("http://")) && !base.startsWith(QStringLiteral("https://")))
            return invalid("Base URL должен начинаться с http:// или https://");
        if (const std::optional<QString> refusal = controlCharacterError(settings))
            return Validation{false, refusal};
        break;
    }
    case UploadProvider::yandexDisk:
        return required(settings.yandexAccessToken, "Необходима авторизация в Яндекс.Диске");
    case UploadProvider::dropbox:
        return required(settings.dropboxAccessToken, "Необходима авторизация в Dropbox");
    case UploadProvider::googleDrive:
        return required(settings.googleDriveAccessToken, "Необходима авторизация в Google Drive");
    case UploadProvider::webdav:
        return required(settings.webdavURL, "Не указан URL WebDAV сервера");
    }
    return valid;
}

std::optional<QString> FileUploader::controlCharacterError(const ServerSettings& settings, const QString& fileName)
{
    const struct {
        const QString& value;
        const char* text;
    } fields[] = {
        {settings.ftpHost, "Адрес сервера содержит недопустимые символы"},
        {settings.ftpUsername, "Имя пользователя содержит недопустимые символы"},
        {settings.ftpPassword, "Пароль содержит недопустимые символы"},
        {settings.ftpDirectory, "Путь к папке на сервере содержит недопустимые символы"},
        {settings.baseURL, "Base URL содержит недопустимые символы"},
        {fileName, "Имя файла содержит недопустимые символы"},
    };
    for (const auto& field : fields)
        if (FtpCommand::holdsControlCharacter(field.value))
            return QString::fromUtf8(field.text);
    return std::nullopt;
}

QString FileUploader::createFileURL(const QString& filename, const ServerSettings& settings)
{
    if (settings.baseURL.isEmpty())
        return filename;
    return UploadFileNames::ownServerLink(settings.baseURL, settings.ftpDirectory, filename);
}

void FileUploader::uploadImage(const QImage& image, const ServerSettings& settings)
{
    print(QStringLiteral("Starting upload process with provider: ") + UploadProviders::displayName(settings.uploadProvider));

    const Validation validation = validateSettings(settings);
    if (!validation.isValid) {
        setLastError(validation.error);
        print(QStringLiteral("Settings validation failed: ") + validation.error.value_or(QStringLiteral("Unknown error")));
        return;
    }
    if (isUploading()) {
        setLastError(QStringLiteral("Дождитесь завершения текущей загрузки"));
        print(QStringLiteral("Already uploading"));
        return;
    }

    // Raised here rather than from a queued step, so a request made right after this one is
    // refused even before the worker has begun.
    setIsUploading(true);
    setUploadProgress(0.0);
    setLastError(std::nullopt);
    setUploadCompleted(false);
    m_lastUsedSettings = settings;

    const Job job{QPointer<FileUploader>(this), m_currentProcessId};
    UploadWorkers::run([job, image, settings] { convertAndDispatch(job, image, settings); });
}

void FileUploader::publish(const Job& job, std::function<void(FileUploader&)> change)
{
    MainQueue::post([uploader = job.uploader, change = std::move(change)] {
        if (uploader)
            change(*uploader);
    });
}

void FileUploader::publishFailure(const Job& job, const QString& text)
{
    publish(job, [text](FileUploader& u) {
        u.setLastError(text);
        u.setIsUploading(false);
        u.setUploadCompleted(false);
    });
}

void FileUploader::convertAndDispatch(const Job& job, const QImage& image, const ServerSettings& settings)
{
    print(QStringLiteral("Converting image to PNG"));
    if (image.isNull()) {
        print(QStringLiteral("Failed to get TIFF representation"));
        publishFailure(job, QStringLiteral("Ошибка: не удалось получить TIFF представление изображения. "
                                           "Попробуйте сделать новый скриншот."));
        return;
    }
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        if (!writer.write(image) || png.isEmpty()) {
            print(QStringLiteral("Failed to convert to PNG"));
            publishFailure(job, QStringLiteral("Ошибка: не удалось конвертировать изображение в PNG формат. "
                                               "Попробуйте уменьшить разрешение скриншота."));
            return;
        }
    }

    const QString filename = UploadFileNames::screenshot();
    print(QStringLiteral("PNG data ready, size: %1 bytes, filename: %2").arg(png.size()).arg(filename));

    switch (settings.uploadProvider) {
    case UploadProvider::ssh:
        if (settings.useSFTP) {
            print(QStringLiteral("Using SFTP upload"));
            uploadViaSFTP(job, png, filename, settings);
        } else {
            print(QStringLiteral("Using FTP upload"));
            uploadViaFTP(job, png, filename, settings);
        }
        break;
    case UploadProvider::yandexDisk:
        print(QStringLiteral("Using Yandex.Disk upload"));
        uploadViaYandexDisk(job, png, filename, settings);
        break;
    case UploadProvider::kestrovaCloud:
        print(QStringLiteral("Kestrova Cloud upload - not handled by FileUploader"));
        publishFailure(job, QStringLiteral("Загрузка в Kestrova Cloud обрабатывается отдельно"));
        break;
    case UploadProvider::dropbox:
    case UploadProvider::googleDrive:
    case UploadProvider::webdav: {
        const QString name = UploadProviders::displayName(settings.uploadProvider);
        print(name + QStringLiteral(" not yet implemented"));
        publishFailure(job, name + QStringLiteral(" пока не поддерживается"));
        break;
    }
    }
}

// --- FTP and FTPS (worker thread) ---

void FileUploader::uploadViaFTP(const Job& job, const QByteArray& data, const QString& filename,
                                const ServerSettings& settings)
{
    print(QStringLiteral("Starting FTP upload (curl)"));
    if (settings.ftpHost.trimmed().isEmpty()) {
        publishFailure(job, QStringLiteral("Не указан адрес FTP сервера"));
        return;
    }

    QString reason;
    const QString folder = TemporaryUploadFiles::createFolder(&reason);
    const QString copyPath = joined(folder, filename);
    if (!folder.isEmpty())
        reason = TemporaryUploadFiles::writeFile(copyPath, data);
    if (folder.isEmpty() || !reason.isEmpty()) {
        if (!folder.isEmpty())
            TemporaryUploadFiles::remove(copyPath);
        publishFailure(job, QStringLiteral("Не удалось подготовить файл для FTP: ") + reason);
        return;
    }

    const platform::ProcessResult result =
        FtpCommand::uploadOutcome(runTransfer(job, FtpCommand::uploadRequest(settings, copyPath, filename)), filename);

    if (result.outcome == platform::ProcessResult::Outcome::failedToStart) {
        const QString text = QStringLiteral("Ошибка запуска curl: ") + result.errorText;
        publish(job, [text](FileUploader& u) {
            u.m_currentProcessId->store(0);
            u.setIsUploading(false);
            u.setUploadCompleted(false);
            u.setLastError(text);
        });
        TemporaryUploadFiles::remove(copyPath);
        return;
    }

    publishTransferEnd(job, result, filename, settings, false, [](FileUploader& u, const QString& output, int status) {
        u.setUploadCompleted(false);
        // curl's own message, as it printed it.
        u.setLastError(!output.isEmpty() ? output : QStringLiteral("Ошибка FTP (код %1)").arg(status));
    });
    TemporaryUploadFiles::remove(copyPath);
}

// --- SFTP (worker thread) ---

void FileUploader::uploadViaSFTP(const Job& job, const QByteArray& data, const QString& filename,
                                 const ServerSettings& settings)
{
    print(QStringLiteral("Starting SFTP upload"));
    const auto preparationFailure = [&job](const QString& cause) {
        publish(job, [cause](FileUploader& u) {
            u.setIsUploading(false);
            u.setUploadCompleted(false);
            u.setLastError(QStringLiteral("Ошибка подготовки файла для SFTP загрузки: ") + cause);
        });
    };

    QString reason;
    const QString folder = TemporaryUploadFiles::createFolder(&reason);
    if (folder.isEmpty()) {
        preparationFailure(reason);
        return;
    }
    const QString copyPath = joined(folder, filename);
    const QString scriptPath =
        joined(folder, QStringLiteral("sftp_upload_") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
                           + QStringLiteral(".exp"));
    const QString batchPath = joined(folder, QStringLiteral("sftp_batch"));
    const auto removeAll = [&] {
        for (const QString& path : {copyPath, scriptPath, batchPath})
            TemporaryUploadFiles::remove(path);
    };

    if (reason = TemporaryUploadFiles::writeFile(copyPath, data); !reason.isEmpty()) {
        removeAll();
        preparationFailure(reason);
        return;
    }
    const std::optional<QByteArray> batch = SftpScript::batchText(settings.ftpDirectory, copyPath, filename);
    if (!batch) {
        removeAll();
        preparationFailure(QStringLiteral("имя каталога содержит недопустимые символы"));
        return;
    }
    reason = TemporaryUploadFiles::writeFile(scriptPath, SftpScript::scriptText());
    if (reason.isEmpty())
        reason = TemporaryUploadFiles::writeFile(batchPath, *batch);
    if (!reason.isEmpty()) {
        removeAll();
        preparationFailure(reason);
        return;
    }

    if (reason = SftpScript::prepareKnownHostsFolder(); !reason.isEmpty()) {
        removeAll();
        preparationFailure(reason);
        return;
    }

    const platform::ProcessResult chmod = platform::ProcessRunner::run(SftpScript::chmodRequest(scriptPath));
    if (!chmod.succeeded()) {
        const QString cause = chmod.outcome == platform::ProcessResult::Outcome::failedToStart
                                  ? chmod.errorText
                                  : QStringLiteral("Не удалось сделать скрипт исполняемым");
        removeAll();
        preparationFailure(error(3, QStringLiteral("Ошибка подготовки скрипта: ") + cause).localizedDescription);
        return;
    }

    const platform::ProcessResult result = runTransfer(job, SftpScript::request(settings, scriptPath, batchPath));
    if (result.outcome == platform::ProcessResult::Outcome::failedToStart) {
        removeAll();
        preparationFailure(error(4, QStringLiteral("Ошибка запуска процесса загрузки: ") + result.errorText).localizedDescription);
        return;
    }

    const QString hostName = SftpScript::knownHostsName(settings.ftpHost, settings.ftpPort);
    publishTransferEnd(job, result, filename, settings, true, [hostName](FileUploader& u, const QString& output, int status) {
        QString detail = output.isEmpty() ? QStringLiteral("Неизвестная ошибка SFTP") : output.trimmed();
        if (status == SftpScript::hostKeyChangedStatus)
            detail = hostKeyChangedText(hostName);
        u.setLastError(QStringLiteral("Ошибка SFTP (код %1): ").arg(status) + detail);
    });
    removeAll();
}

// --- Transfers by a program (worker thread) ---

platform::ProcessResult FileUploader::runTransfer(const Job& job, platform::ProcessRequest request)
{
    request.onStarted = [processId = job.processId](qint64 pid) { processId->store(pid); };
    return platform::ProcessRunner::run(request);
}

void FileUploader::publishTransferEnd(const Job& job, const platform::ProcessResult& result, const QString& filename,
                                      const ServerSettings& settings, bool notify, TransferFailure failure)
{
    const bool stored = result.succeeded();
    const QString output = decodedOutput(result.output);
    const int status = statusOf(result);
    publish(job, [stored, output, status, filename, settings, notify, failure = std::move(failure)](FileUploader& u) {
        u.m_currentProcessId->store(0);
        u.setIsUploading(false);
        if (!stored) {
            failure(u, output, status);
            return;
        }
        u.publishTransferSuccess(filename, settings);
        if (notify)
            showSuccessNotification(filename, createFileURL(filename, settings));
    });
}

// --- Yandex Disk ---

void FileUploader::uploadViaYandexDisk(const Job& job, const QByteArray& data, const QString& filename,
                                       const ServerSettings& settings)
{
    print(QStringLiteral("Starting Yandex.Disk upload for ") + filename);
    // The client lives on the GUI thread, as its answers do.
    publish(job, [data, filename, settings](FileUploader& u) {
        startYandexDiskUpload(data, filename, [uploader = QPointer<FileUploader>(&u), filename, settings](
                                                  std::optional<QString> link, QString errorDescription) {
            MainQueue::post([uploader, filename, settings, link, errorDescription] {
                if (!uploader)
                    return;
                FileUploader& u = *uploader;
                if (!link) {
                    print(QStringLiteral("Yandex.Disk upload failed: ") + errorDescription);
                    u.setUploadProgress(0.0);
                    u.setIsUploading(false);
                    u.setUploadCompleted(false);
                    u.setLastError(QStringLiteral("Ошибка загрузки на Яндекс.Диск: ") + errorDescription);
                    return;
                }
                print(QStringLiteral("Yandex.Disk upload successful"));
                u.setUploadProgress(1.0);
                u.setIsUploading(false);
                u.setUploadCompleted(true);
                u.setLastError(std::nullopt);
                const QString shown = settings.yandexPublicBaseURL.isEmpty()
                                          ? *link
                                          : settings.yandexPublicBaseURL + QLatin1Char('/') + filename;
                u.setLastUploadedURL(shown);
                MainQueue::post([shown] { copyToClipboard(shown); });
                print(QStringLiteral("Yandex.Disk URL copied to clipboard: ") + shown);
            });
        });
    });
}

void FileUploader::startYandexDiskUpload(const QByteArray& data, const QString& filename, YandexCompletion completion)
{
    // A new client for each use; it goes away once it has answered.
    auto* client = new YandexDiskUploader;
    client->uploadFile(data, filename, QString(), [client, completion](const YandexDiskUploader::Result& result) {
        client->deleteLater();
        if (result.success)
            completion(result.link, QString());
        else
            completion(std::nullopt, result.error.localizedDescription);
    });
}

void FileUploader::startYandexDiskTest(std::function<void(bool success)> completion)
{
    auto* client = new YandexDiskUploader;
    client->testConnection([client, completion](bool success, const QString&) {
        client->deleteLater();
        completion(success);
    });
}

// --- Outcomes (GUI thread) ---

void FileUploader::publishTransferSuccess(const QString& filename, const ServerSettings& settings)
{
    // lastError stays as it is: empty since the start, unless a refused request wrote to it.
    setUploadProgress(1.0);
    const QString link = createFileURL(filename, settings);
    setLastUploadedURL(link);
    setUploadCompleted(true);
    copyToClipboard(link);
}

void FileUploader::copyToClipboard(const QString& link)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(link);
}

void FileUploader::showSuccessNotification(const QString& filename, const QString& url)
{
    platform::DesktopNotifications::post(QStringLiteral("Скриншот загружен"),
                                         QStringLiteral("Файл ") + filename + QStringLiteral(" успешно загружен на сервер.\n")
                                             + QStringLiteral("Ссылка скопирована в буфер обмена: ") + url);
}

// --- Connection tests ---

void FileUploader::testConnection(const ServerSettings& settings, QObject* context, TestCompletion completion)
{
    const TestCompletion done = delivered(context, completion);
    switch (settings.uploadProvider) {
    case UploadProvider::kestrovaCloud:
        done(ConnectionTestResult::reached(true));
        return;
    case UploadProvider::ssh:
        testSSHConnection(settings, context, completion);
        return;
    case UploadProvider::yandexDisk:
        testYandexDiskConnection(done);
        return;
    case UploadProvider::dropbox:
    case UploadProvider::googleDrive:
    case UploadProvider::webdav:
        done(ConnectionTestResult::reached(false));
        return;
    }
}

void FileUploader::testSSHConnection(const ServerSettings& settings, QObject* context, TestCompletion completion)
{
    const TestCompletion done = delivered(context, completion);
    if (const std::optional<QString> refusal = controlCharacterError(settings)) {
        done(ConnectionTestResult::failed(error(5, *refusal)));
        return;
    }
    if (settings.useSFTP)
        testSFTPConnection(settings, done);
    else
        testFTPConnection(settings, done);
}

void FileUploader::testFTPConnection(const ServerSettings& settings, TestCompletion completion)
{
    UploadWorkers::run([settings, completion] {
        if (!QUrl(FtpCommand::listingURL(settings), QUrl::StrictMode).isValid()) {
            completion(ConnectionTestResult::failed(error(1, QStringLiteral("Неверный URL сервера"))));
            return;
        }
        // The listing itself is discarded; only curl's status counts.
        const platform::ProcessResult result = platform::ProcessRunner::run(FtpCommand::testRequest(settings));
        if (result.outcome == platform::ProcessResult::Outcome::failedToStart) {
            completion(ConnectionTestResult::failed(startError(result)));
            return;
        }
        completion(ConnectionTestResult::reached(result.succeeded()));
    });
}

void FileUploader::testSFTPConnection(const ServerSettings& settings, TestCompletion completion)
{
    SftpPortProbe::start(settings.ftpHost, settings.ftpPort, [completion](bool reachable) {
        completion(reachable ? ConnectionTestResult::reached(true)
                             : ConnectionTestResult::failed(error(2, QStringLiteral("Не удалось подключиться к SFTP серверу"))));
    });
}

void FileUploader::testYandexDiskConnection(TestCompletion completion)
{
    startYandexDiskTest([completion](bool success) { completion(ConnectionTestResult::reached(success)); });
}
