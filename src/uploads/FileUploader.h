#pragma once

#include "app/ServerSettings.h"
#include "platform/AppError.h"
#include "platform/ProcessRunner.h"
#include "screenshots/OwnServerUploader.h"
#include "uploads/ConnectionTestResult.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// Sends one screenshot to the user's own server (FTP or FTPS through curl, SFTP through an expect
// script driving sftp) or, when the settings name it, to Yandex Disk; and runs the connection tests
// of the settings window.
//
// It reports only through its properties, which change on the GUI thread: a success is a change of
// lastUploadedURL to a link while lastError is empty; a failure is a change of lastError to a text.
// The PNG step and the outside programs run on a worker thread. A running transfer cannot be
// cancelled; destroying the uploader only drops its outcome (temporary files are still removed).
// isUploading, lastError (cleared at the start of each accepted request) and lastUploadedURL (not
// cleared by a new request) are the published values of OwnServerUploader.
class FileUploader : public OwnServerUploader {
    Q_OBJECT
public:
    static const QString errorDomain; // "FileUploader"

    struct Validation {
        bool isValid = false;
        std::optional<QString> error; // set exactly when not valid
    };

    explicit FileUploader(QObject* parent = nullptr);
    ~FileUploader() override;

    // 0.0 at the start of each accepted request, 1.0 after a success.
    double uploadProgress() const { return m_uploadProgress; }
    bool uploadCompleted() const { return m_uploadCompleted; }
    // The settings of the latest accepted request.
    const std::optional<ServerSettings>& lastUsedSettings() const { return m_lastUsedSettings; }
    // The process id of the running curl or expect, 0 when none runs.
    qint64 currentProcessId() const { return m_currentProcessId->load(); }

    // Checks the settings, refuses a second request while one runs, then converts the image to PNG
    // and sends it to the provider of `settings.uploadProvider`. GUI thread.
    void uploadImage(const QImage& image, const ServerSettings& settings) override;

    // The connection test for `settings.uploadProvider`: true at once for the cloud, false at once
    // for the providers without an uploader. `completion` runs once on the GUI thread, and not at all
    // when `context` is given and has been destroyed by then. None of the published properties change.
    using TestCompletion = std::function<void(const ConnectionTestResult&)>;
    void testConnection(const ServerSettings& settings, QObject* context, TestCompletion completion);
    // SFTP: a TCP connection to the port within 10 s (true, or the code-2 error). FTP/FTPS: curl
    // lists the directory with the credentials (true or false; code 1 when no address can be formed;
    // the start error when curl cannot be started). Settings with a control character give the
    // code-5 error before anything connects.
    void testSSHConnection(const ServerSettings& settings, QObject* context, TestCompletion completion);

    // For the own server: after the texts of the missing settings, a host, user name, password,
    // directory or Base URL holding a control character is refused (see controlCharacterError).
    static Validation validateSettings(const ServerSettings& settings);
    // The refusal of a host, user name, password, directory, Base URL or file name that holds a
    // control character (C0, DEL or C1): a line break there would end an FTP command or an sftp
    // batch line and start another one of the server's choosing, or break the link put on the
    // clipboard and in the history. Nullopt when every value is clean.
    static std::optional<QString> controlCharacterError(const ServerSettings& settings, const QString& fileName = {});
    // The public link: Base URL less one trailing "/", "/" + the directory's last name (trailing
    // slashes ignored) when it has one, "/" + the file name; the file name alone when the Base URL
    // is empty.
    static QString createFileURL(const QString& filename, const ServerSettings& settings);

    static platform::AppError error(int code, const QString& description);

signals:
    void uploadProgressChanged();
    void uploadCompletedChanged();

private:
    // Everything below the request runs on a worker thread. It holds only a guarded pointer to the
    // uploader, never dereferenced there; state changes go back to the GUI thread through publish().
    struct Job {
        QPointer<FileUploader> uploader;
        std::shared_ptr<std::atomic<qint64>> processId;
    };
    static void publish(const Job& job, std::function<void(FileUploader&)> change);
    static void publishFailure(const Job& job, const QString& text);
    static void convertAndDispatch(const Job& job, const QImage& image, const ServerSettings& settings);
    static void uploadViaFTP(const Job& job, const QByteArray& data, const QString& filename,
                             const ServerSettings& settings);
    static void uploadViaSFTP(const Job& job, const QByteArray& data, const QString& filename,
                              const ServerSettings& settings);
    static void uploadViaYandexDisk(const Job& job, const QByteArray& data, const QString& filename,
                                    const ServerSettings& settings);
    // Runs a transfer program with its process id stored in the job while it runs.
    static platform::ProcessResult runTransfer(const Job& job, platform::ProcessRequest request);
    // Writes the error of a transfer that ran and failed, from the program's output and status.
    using TransferFailure = std::function<void(FileUploader&, const QString& output, int status)>;
    // The end of a transfer that ran: the process id cleared and the flag lowered, then the link of
    // the stored file (with a notification when `notify`) or `failure`.
    static void publishTransferEnd(const Job& job, const platform::ProcessResult& result, const QString& filename,
                                   const ServerSettings& settings, bool notify, TransferFailure failure);

    // The Yandex Disk client's calls, on the GUI thread: the link or the error's description.
    using YandexCompletion = std::function<void(std::optional<QString> link, QString errorDescription)>;
    static void startYandexDiskUpload(const QByteArray& data, const QString& filename, YandexCompletion completion);
    static void startYandexDiskTest(std::function<void(bool success)> completion);

    // GUI thread.
    void publishTransferSuccess(const QString& filename, const ServerSettings& settings);
    static void showSuccessNotification(const QString& filename, const QString& url);
    static void copyToClipboard(const QString& link);
    // The tests own nothing of the uploader, which may be gone before they end.
    static void testFTPConnection(const ServerSettings& settings, TestCompletion completion);
    static void testSFTPConnection(const ServerSettings& settings, TestCompletion completion);
    static void testYandexDiskConnection(TestCompletion completion);

    void setUploadProgress(double value);
    void setUploadCompleted(bool value);

    double m_uploadProgress = 0.0;
    bool m_uploadCompleted = false;
    std::optional<ServerSettings> m_lastUsedSettings;
    // Set on the worker as the program starts, cleared on the GUI thread with the outcome; shared so
    // that a worker outliving the uploader still writes to valid memory.
    std::shared_ptr<std::atomic<qint64>> m_currentProcessId = std::make_shared<std::atomic<qint64>>(0);
};
