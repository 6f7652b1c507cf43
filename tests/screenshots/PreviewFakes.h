#pragma once

// Stand-ins for the uploaders, the account and the save panel of the screenshot preview.

#include "screenshots/CloudAccount.h"
#include "screenshots/CloudImageUploader.h"
#include "screenshots/DriveFileUploader.h"
#include "screenshots/OwnServerUploader.h"
#include "screenshots/PreviewUploadServices.h"
#include "screenshots/SavePanel.h"
#include "support/TestSupport.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>

namespace fakes {

// Runs the deletions queued with deleteLater(); outside a running event loop processEvents() does not.
inline void runDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Spins, running queued deletions too, until `condition` holds.
inline bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    return test::waitUntil([&] {
        runDeferredDeletes();
        return condition();
    }, timeout);
}

class Account : public CloudAccount {
public:
    using CloudAccount::setIsAuthenticated;
};

// An uploader whose upload runs until the test finishes it.
template <typename Uploader>
class HeldUploader : public Uploader {
public:
    UploadCompletion pending;

    void finish(const UploadResult& result)
    {
        this->setIsUploading(false);
        auto completion = std::move(pending);
        pending = nullptr;
        completion(result);
    }

protected:
    void hold(UploadCompletion completion)
    {
        this->setIsUploading(true);
        pending = std::move(completion);
    }
};

// Answers as the cloud uploader does: at once when signed out, else when the test says so.
class CloudUploader : public HeldUploader<CloudImageUploader> {
public:
    struct Call {
        QImage image;
        std::optional<QString> fileName;
        bool isPublic = false;
    };
    bool signedIn = true;
    QList<Call> calls;

    void uploadImage(const QImage& image, const std::optional<QString>& fileName, bool isPublic,
                     UploadCompletion completion) override
    {
        calls.append({image, fileName, isPublic});
        if (!signedIn) {
            completion(UploadResult::error(UploadFailure::notAuthenticated()));
            return;
        }
        hold(std::move(completion));
    }
};

class DriveUploader : public HeldUploader<DriveFileUploader> {
public:
    struct Call {
        QByteArray data;
        QString filename;
        QString folder;
    };
    QList<Call> calls;

    void uploadFile(const QByteArray& data, const QString& filename, const QString& folder, UploadCompletion completion) override
    {
        calls.append({data, filename, folder});
        hold(std::move(completion));
    }
};

// Publishes as the own-server uploader does; validation and transfer outcomes are the test's.
class ServerUploader : public OwnServerUploader {
public:
    struct Call {
        QImage image;
        ServerSettings settings;
    };
    QList<Call> calls;
    std::optional<QString> refuseWith;

    void uploadImage(const QImage& image, const ServerSettings& settings) override
    {
        calls.append({image, settings});
        if (refuseWith) {
            setLastError(*refuseWith);
            return;
        }
        if (isUploading()) {
            setLastError(QStringLiteral("Дождитесь завершения текущей загрузки"));
            return;
        }
        setIsUploading(true);
        setLastError(std::nullopt);
        setLastUploadedURL(std::nullopt);
    }
    void succeed(const QString& link)
    {
        setLastUploadedURL(link);
        QGuiApplication::clipboard()->setText(link);
        setIsUploading(false);
    }
    void fail(const QString& error)
    {
        setLastError(error);
        setIsUploading(false);
    }
};

// The uploaders the previews were given, newest last.
struct Services {
    Account account;
    CloudUploader cloud;
    QList<QPointer<ServerUploader>> servers;
    QList<QPointer<DriveUploader>> drives;

    PreviewUploadServices services(bool withServer = true, bool withDrive = true)
    {
        PreviewUploadServices s;
        s.account = &account;
        s.cloudUploader = &cloud;
        if (withServer)
            s.makeOwnServerUploader = [this] {
                auto uploader = std::make_unique<ServerUploader>();
                servers.append(uploader.get());
                return std::unique_ptr<OwnServerUploader>(std::move(uploader));
            };
        if (withDrive)
            s.makeYandexUploader = [this] {
                auto uploader = std::make_unique<DriveUploader>();
                drives.append(uploader.get());
                return std::unique_ptr<DriveFileUploader>(std::move(uploader));
            };
        return s;
    }
};

class SavePanel : public ::SavePanel {
public:
    std::optional<QString> answer;
    QList<Options> asked;
    std::optional<QString> runModal(QWidget*, const Options& options) override
    {
        asked.append(options);
        return answer;
    }
};

} // namespace fakes
