#pragma once

#include "screenshots/CloudAccount.h"
#include "screenshots/CloudImageUploader.h"
#include "screenshots/DriveFileUploader.h"
#include "screenshots/OwnServerUploader.h"

#include <QPointer>

#include <functional>
#include <memory>

// The uploaders and the account the screenshot preview works with. A service left empty counts
// as unavailable: its provider is not offered, the cloud behaves as signed out.
struct PreviewUploadServices {
    // The process-wide cloud account and uploader.
    QPointer<CloudAccount> account;
    QPointer<CloudImageUploader> cloudUploader;
    // Each preview makes its own own-server and Yandex Disk uploader.
    std::function<std::unique_ptr<OwnServerUploader>()> makeOwnServerUploader;
    std::function<std::unique_ptr<DriveFileUploader>()> makeYandexUploader;
};
