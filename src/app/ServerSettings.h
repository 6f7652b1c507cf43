#pragma once

#include "app/UploadProvider.h"

#include <QString>

// The settings record. Which fields persist, and where, is decided by AppState::loadSettings and
// the settings window's save; the Dropbox, Google Drive and WebDAV fields live in memory only.
struct ServerSettings {
    UploadProvider uploadProvider = UploadProvider::kestrovaCloud;
    UploadProvider lastUsedUploadProvider = UploadProvider::kestrovaCloud;
    QString ftpHost;
    int ftpPort = 21;
    QString ftpUsername;
    QString ftpPassword;
    bool useSFTP = false;
    bool useFTPS = false;
    QString ftpDirectory;
    QString baseURL;
    QString yandexAccessToken;
    QString yandexRefreshToken;
    QString yandexFolder = QStringLiteral("app:/");
    QString yandexPublicBaseURL;
    QString dropboxAccessToken;
    QString dropboxRefreshToken;
    QString dropboxFolder = QStringLiteral("/Screenshots");
    QString googleDriveAccessToken;
    QString googleDriveRefreshToken;
    QString googleDriveFolderId;
    QString webdavURL;
    QString webdavUsername;
    QString webdavPassword;
    QString webdavDirectory = QStringLiteral("/screenshots");
    QString webdavBaseURL;
    QString screenshotHotkey;
    QString fullScreenHotkey;
    QString screenRecordingHotkey;

    friend bool operator==(const ServerSettings&, const ServerSettings&) = default;
};
