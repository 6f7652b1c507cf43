// The uploads of the video preview: the shared prologue, payload, spinner and endings, and the
// transfers to the cloud, the own server (curl over FTP or FTPS) and Yandex Disk.
#include "video/VideoPreviewWindow.h"

#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "cloud/APIClient.h"
#include "platform/UserDefaults.h"
#include "screenshots/ScreenshotHistoryManager.h"
#include "uploads/FileUploader.h"
#include "uploads/FtpCommand.h"
#include "uploads/MainQueue.h"
#include "uploads/TemporaryUploadFiles.h"
#include "uploads/UploadFileNames.h"
#include "uploads/UploadWorkers.h"
#include "uploads/YandexDiskUploader.h"
#include "video/VideoProgressIndicator.h"
#include "video/VideoSuccessBanner.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QPointer>
#include <QStringDecoder>
#include <QTimer>
#include <QUuid>

using platform::AppError;

namespace {


// The developers' form of an error in log lines.
QString describe(const AppError& error)
{
    return QStringLiteral("Error Domain=%1 Code=%2 \"%3\"").arg(error.domain).arg(error.code).arg(error.localizedDescription);
}

AppError fileError(const QFile& file)
{
    return AppError{QStringLiteral("FileSystem"), static_cast<int>(file.error()), file.errorString()};
}

std::optional<QByteArray> readWholeFile(const QString& path, AppError* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = fileError(file);
        return std::nullopt;
    }
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = fileError(file);
        return std::nullopt;
    }
    return data;
}

void putOnClipboard(const QString& link)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(link);
}

} // namespace

QString VideoPreviewWindow::uploadName(VideoExportFormat format)
{
    return QStringLiteral("video-") + UploadFileNames::secondsSince1970Text() + QLatin1Char('.')
           + VideoExportFormats::fileExtension(format);
}

QString VideoPreviewWindow::ownServerLink(const ServerSettings& settings, const QString& fileName)
{
    return UploadFileNames::ownServerLink(settings.baseURL, settings.ftpDirectory, fileName);
}

AppError VideoPreviewWindow::curlError(const platform::ProcessResult& result)
{
    const QString domain = QStringLiteral("FTPUpload");
    switch (result.outcome) {
    case platform::ProcessResult::Outcome::exited: {
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        QString text = decoder(result.output);
        if (decoder.hasError())
            text = QStringLiteral("Unknown error");
        return AppError{domain, result.exitCode, text};
    }
    case platform::ProcessResult::Outcome::failedToStart:
        return AppError{QStringLiteral("ProcessRunner"), 1, result.errorText};
    case platform::ProcessResult::Outcome::timedOut:
        return AppError{domain, -1, QStringLiteral("curl did not finish in time")};
    case platform::ProcessResult::Outcome::crashed:
        return AppError{domain, -1, QStringLiteral("curl ended abnormally: ") + result.errorText};
    }
    return AppError{domain, -1, QStringLiteral("Unknown error")};
}

// MARK: - Shared steps

void VideoPreviewWindow::beginUpload(UploadProvider provider, const QString& firstMessage, std::source_location where)
{
    m_isUploading = true;
    if (m_appState)
        m_appState->setLastUsedUploadProvider(provider);
    platform::UserDefaults::standard().setString(QStringLiteral("lastUsedUploadProvider"), UploadProviders::rawValue(provider));
    DebugLogger::shared().log(firstMessage, where);
    showProgressIndicator();
}

void VideoPreviewWindow::preparePayload(const QString& gifSizeLine, PayloadDone done, std::source_location where)
{
    // Later, from the event loop, as a task started by the upload: the action returns first.
    QMetaObject::invokeMethod(
        this,
        [this, gifSizeLine, done = std::move(done), where] {
            if (m_selectedFormat == VideoExportFormat::mp4) {
                AppError error;
                std::optional<QByteArray> data = readWholeFile(m_videoURL, &error);
                if (!data) {
                    done(std::nullopt, PayloadFailure{error, false});
                    return;
                }
                done(Payload{std::move(*data), uploadName(VideoExportFormat::mp4)}, std::nullopt);
                return;
            }

            QString folderError;
            const QString folder = TemporaryUploadFiles::createFolder(&folderError);
            if (folder.isEmpty()) {
                done(std::nullopt, PayloadFailure{AppError{QStringLiteral("FileSystem"), 0, folderError}, true});
                return;
            }
            const QString temporaryGIF = folder + QStringLiteral("/temp_")
                                         + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".gif");
            auto converter = std::make_shared<GIFConverter>();
            m_gifConverter = converter;
            converter->convertToGIF(
                m_videoURL, temporaryGIF, gifSettings(), {},
                [converter, temporaryGIF, gifSizeLine, done, where](const GIFConverter::Result& result) {
                    // The temporary GIF goes on every path: nothing of the recording is left behind.
                    if (!result) {
                        TemporaryUploadFiles::remove(temporaryGIF);
                        done(std::nullopt, PayloadFailure{result.error().toAppError(), true});
                        return;
                    }
                    AppError error;
                    std::optional<QByteArray> data = readWholeFile(temporaryGIF, &error);
                    TemporaryUploadFiles::remove(temporaryGIF);
                    if (!data) {
                        done(std::nullopt, PayloadFailure{error, true});
                        return;
                    }
                    const QString name = uploadName(VideoExportFormat::gif);
                    DebugLogger::shared().log(gifSizeLine + QString::number(data->size()) + QStringLiteral(" bytes"), where);
                    done(Payload{std::move(*data), name}, std::nullopt);
                });
        },
        Qt::QueuedConnection);
}

void VideoPreviewWindow::showProgressIndicator()
{
    if (!m_content)
        return;
    if (!m_progressIndicator) {
        m_progressIndicator = new VideoProgressIndicator(m_content);
        m_progressIndicator->setObjectName(QStringLiteral("progressIndicator"));
    }
    m_progressIndicator->raise();
    layoutOverlays();
    m_progressIndicator->startAnimation();
    m_progressIndicator->show();
}

void VideoPreviewWindow::hideProgressIndicator()
{
    if (!m_progressIndicator)
        return;
    m_progressIndicator->stopAnimation();
    m_progressIndicator->hide();
}

void VideoPreviewWindow::showSuccessBanner()
{
    if (!m_content)
        return;
    // Earlier banners stay; the window closes soon after this one.
    auto* banner = new VideoSuccessBanner(m_content);
    m_successBanner = banner;
    banner->raise();
    banner->show();
    layoutOverlays();
}

void VideoPreviewWindow::finishUploadWithSuccess(const std::optional<QString>& link, bool putLinkOnClipboard)
{
    hideProgressIndicator();
    m_isUploading = false;
    if (putLinkOnClipboard && link)
        putOnClipboard(*link);
    if (m_historyManager)
        m_historyManager->addVideo(m_videoURL, link);
    refreshStatusMenu();
    showSuccessBanner();
    // Closing keeps the recording.
    QTimer::singleShot(closeAfterUploadMs, this, [this] { close(); });
}

void VideoPreviewWindow::finishUploadWithFailure(const QString& localizedDescription)
{
    hideProgressIndicator();
    m_isUploading = false;
    presentAlert(QStringLiteral("Ошибка загрузки"), localizedDescription, VideoAlertPresenter::Style::warning);
}

void VideoPreviewWindow::endTask()
{
    --m_runningTasks;
    releaseIfIdle();
}

// MARK: - Upload actions

void VideoPreviewWindow::uploadToKestrova()
{
    if (!m_isUploading)
        performKestrovaUpload();
}

void VideoPreviewWindow::uploadSSH()
{
    if (!m_isUploading)
        performSSHUpload();
}

void VideoPreviewWindow::uploadYandex()
{
    if (!m_isUploading)
        performYandexUpload();
}

void VideoPreviewWindow::rememberUnsupportedProvider(UploadProvider provider)
{
    if (m_appState)
        m_appState->setLastUsedUploadProvider(provider);
    platform::UserDefaults::standard().setString(QStringLiteral("lastUsedUploadProvider"), UploadProviders::rawValue(provider));
    const QString name = UploadProviders::displayName(provider);
    presentAlert(name, name + QStringLiteral(" пока не поддерживается"), VideoAlertPresenter::Style::informational);
}

void VideoPreviewWindow::uploadDropbox()
{
    rememberUnsupportedProvider(UploadProvider::dropbox);
}

void VideoPreviewWindow::uploadGoogleDrive()
{
    rememberUnsupportedProvider(UploadProvider::googleDrive);
}

void VideoPreviewWindow::uploadWebDAV()
{
    rememberUnsupportedProvider(UploadProvider::webdav);
}

// MARK: - Cloud

void VideoPreviewWindow::performKestrovaUpload()
{
    beginUpload(UploadProvider::kestrovaCloud, QStringLiteral("VideoPreviewWindow: Starting upload to Kestrova (format: ") + formatText()
                                                   + QLatin1Char(')'));
    ++m_runningTasks;
    QPointer<VideoPreviewWindow> self(this);
    const bool mp4 = m_selectedFormat == VideoExportFormat::mp4;
    preparePayload(QStringLiteral("VideoPreviewWindow: GIF converted, size: "),
                   [self, mp4](const std::optional<Payload>& payload, const std::optional<PayloadFailure>& failure) {
                       if (!self)
                           return;
                       auto& log = DebugLogger::shared();
                       if (failure) {
                           log.log(QStringLiteral("VideoPreviewWindow: Upload failed with error: ") + describe(failure->error));
                           log.logError(failure->error);
                           self->finishUploadWithFailure(failure->error.localizedDescription);
                           self->endTask();
                           return;
                       }
                       if (mp4)
                           log.log(QStringLiteral("VideoPreviewWindow: MP4 data size: %1 bytes").arg(payload->data.size()));
                       self->m_environment.cloudClient().uploadFile(
                           payload->data, payload->name, true, self, [self](Expected<UploadResponse, CloudError> result) {
                               if (!self)
                                   return;
                               auto& log = DebugLogger::shared();
                               if (!result) {
                                   const CloudError& error = result.error();
                                   log.log(QStringLiteral("VideoPreviewWindow: Upload failed with error: ") + error.debugDescription());
                                   log.logErrorMessage(error.localizedDescription());
                                   self->finishUploadWithFailure(error.localizedDescription());
                                   self->endTask();
                                   return;
                               }
                               log.log(QStringLiteral("VideoPreviewWindow: Upload successful"));
                               const std::optional<QString> link = result->url;
                               if (link) {
                                   putOnClipboard(*link);
                                   log.log(QStringLiteral("VideoPreviewWindow: Public URL copied to clipboard: ") + *link);
                               } else {
                                   log.log(QStringLiteral("VideoPreviewWindow: WARNING - No URL in response"));
                               }
                               self->finishUploadWithSuccess(link, false);
                               self->endTask();
                           });
                   });
}

// MARK: - Own server

void VideoPreviewWindow::performSSHUpload()
{
    beginUpload(UploadProvider::ssh, QStringLiteral("VideoPreviewWindow: Starting SSH upload (format: ") + formatText() + QLatin1Char(')'));
    ++m_runningTasks;
    QPointer<VideoPreviewWindow> self(this);
    preparePayload(QStringLiteral("VideoPreviewWindow: GIF converted for SSH, size: "), [self](const std::optional<Payload>& payload,
                                                                                             const std::optional<PayloadFailure>& failure) {
        if (!self)
            return;
        const auto failWith = [self](const AppError& error) {
            auto& log = DebugLogger::shared();
            log.log(QStringLiteral("VideoPreviewWindow: SSH upload failed with error: ") + describe(error));
            log.logError(error);
            if (!self)
                return;
            self->finishUploadWithFailure(error.localizedDescription);
            self->endTask();
        };
        if (failure) {
            failWith(failure->error);
            return;
        }
        // Read now, after the payload: a change made during a long GIF conversion counts.
        const ServerSettings settings = self->currentSettings();
        // A line break in a credential or a name would become a command of its own on the server.
        if (const std::optional<QString> refusal = FileUploader::controlCharacterError(settings, payload->name)) {
            failWith(FileUploader::error(5, *refusal));
            return;
        }
        QString problem;
        const QString folder = TemporaryUploadFiles::createFolder(&problem);
        if (folder.isEmpty()) {
            failWith(AppError{QStringLiteral("FileSystem"), 0, problem});
            return;
        }
        const QString copy = folder + QLatin1Char('/') + payload->name;
        problem = TemporaryUploadFiles::writeFile(copy, payload->data);
        if (!problem.isEmpty()) {
            TemporaryUploadFiles::remove(copy);
            failWith(AppError{QStringLiteral("FileSystem"), 0, problem});
            return;
        }
        const platform::ProcessRequest request = FtpCommand::uploadRequest(settings, copy, payload->name);
        const QString link = ownServerLink(settings, payload->name);
        // On quit the result below never arrives: the copy goes with the application instead. A curl
        // that has opened it still reads it to the end.
        QPointer<QObject> quitCleanup = new QObject(QCoreApplication::instance());
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, quitCleanup,
                         [copy] { TemporaryUploadFiles::remove(copy); });
        std::function<void(const platform::ProcessResult&)> finished = [self, copy, link, failWith,
                                                                          quitCleanup](const platform::ProcessResult& result) {
            delete quitCleanup.data();
            if (!self) {
                TemporaryUploadFiles::remove(copy);
                return;
            }
            if (result.succeeded()) {
                self->finishUploadWithSuccess(link, true);
                TemporaryUploadFiles::remove(copy);
                self->endTask();
                return;
            }
            TemporaryUploadFiles::remove(copy);
            failWith(curlError(result));
        };
        // curl runs up to its 180 s on an upload worker: not on the GUI thread, and not on the shared
        // pool, whose threads the GIF conversion needs and which the application waits for at exit.
        // The result comes back to the GUI thread, where `finished` checks that the window is still there.
        MainQueue::prepare();
        UploadWorkers::run([request, name = payload->name, finished = std::move(finished)] {
            platform::ProcessResult result = FtpCommand::uploadOutcome(platform::ProcessRunner::run(request), name);
            MainQueue::post([finished, result = std::move(result)] { finished(result); });
        });
    });
}

// MARK: - Yandex Disk

void VideoPreviewWindow::performYandexUpload()
{
    beginUpload(UploadProvider::yandexDisk, QStringLiteral("VideoPreviewWindow: Starting Yandex upload (format: ") + formatText()
                                                + QLatin1Char(')'));
    QPointer<VideoPreviewWindow> self(this);
    preparePayload(QStringLiteral("VideoPreviewWindow: GIF converted for Yandex, size: "), [self](const std::optional<Payload>& payload,
                                                                                                const std::optional<PayloadFailure>& failure) {
        if (!self)
            return;
        if (failure) {
            self->hideProgressIndicator();
            self->m_isUploading = false;
            if (failure->duringGIF) {
                self->showError(failure->error.localizedDescription);
            } else {
                DebugLogger::shared().log(QStringLiteral("VideoPreviewWindow: Failed to read video data for Yandex upload"));
                // Said to the user as well: a spinner that merely stops would look like a success.
                self->presentAlert(QStringLiteral("Ошибка загрузки"), failure->error.localizedDescription,
                                   VideoAlertPresenter::Style::warning);
            }
            return;
        }
        const QString name = payload->name;
        // A new client for each upload; it lives until it has answered.
        auto* uploader = new YandexDiskUploader();
        uploader->uploadFile(payload->data, name, self->currentSettings().yandexFolder,
                             YandexDiskUploader::Completion([uploader, self, name](const YandexDiskUploader::Result& result) {
                                 uploader->deleteLater();
                                 if (!self)
                                     return;
                                 QTimer::singleShot(0, self.data(), [self, result, name] {
                                     self->hideProgressIndicator();
                                     self->m_isUploading = false;
                                     if (!result.success) {
                                         DebugLogger::shared().logError(result.error);
                                         self->presentAlert(QStringLiteral("Ошибка загрузки"), result.error.localizedDescription,
                                                            VideoAlertPresenter::Style::warning);
                                         return;
                                     }
                                     // The base is read now: a change during the upload counts. Taken as typed.
                                     const QString base = self->currentSettings().yandexPublicBaseURL;
                                     const QString link = base.isEmpty() ? result.link : base + QLatin1Char('/') + name;
                                     putOnClipboard(link);
                                     if (self->m_historyManager)
                                         self->m_historyManager->addVideo(self->m_videoURL, link);
                                     self->refreshStatusMenu();
                                     self->showSuccessBanner();
                                     QTimer::singleShot(closeAfterUploadMs, self.data(), [self] { self->close(); });
                                 });
                             }));
    });
}
