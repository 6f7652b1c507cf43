#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QUuid>

#include <optional>

// One entry of the capture history: a screenshot filed in the history folder, or a recording kept
// in memory with a thumbnail. Paths are local file paths.
struct Screenshot {
    QUuid id;
    // The picture the menu shows: the screenshot itself or the recording's thumbnail.
    QImage image;
    QDateTime createdAt;
    // The image file in the history folder; none for a recording.
    std::optional<QString> filePath;
    // The public link, when the capture was uploaded.
    std::optional<QString> remoteURL;
    bool isVideo = false;
    // The recording's file; none for a screenshot.
    std::optional<QString> videoURL;

    // "Скриншот 14:05" or "Видео 14:05": the time in the current locale's short format, no date.
    QString displayName() const;

    // Entries are identified by their id alone.
    friend bool operator==(const Screenshot& a, const Screenshot& b) { return a.id == b.id; }
};
