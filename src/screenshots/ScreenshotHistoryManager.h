#pragma once

#include "screenshots/Screenshot.h"

#include <QFileInfo>
#include <QList>
#include <QObject>

#include <functional>
#include <optional>

// The ten most recent captures, newest first. Screenshots are PNG files in Pictures/"Kestrova"
// (with a "<file>.url" link file beside each uploaded one) and come back after a restart;
// recordings live only in memory. GUI thread only; reports through console lines.
class ScreenshotHistoryManager : public QObject {
    Q_OBJECT
public:
    static constexpr int maxHistoryCount = 10;

    // What the history reads from the outside world; tests replace parts of it.
    struct Environment {
        QString directory;                                                     // empty: Pictures/"Kestrova"
        std::function<QDateTime()> now;                                        // empty: the system clock
        std::function<std::optional<QDateTime>(const QFileInfo&)> creationDate; // empty: birth time, else modification time
    };

    explicit ScreenshotHistoryManager(QObject* parent = nullptr);
    explicit ScreenshotHistoryManager(Environment environment, QObject* parent = nullptr);

    const QList<Screenshot>& screenshots() const { return m_screenshots; }
    QString screenshotDirectory() const { return m_directory; }

    // Files the image as a new PNG and puts it first. True only when the PNG was written (a link
    // file that cannot be written leaves the entry without its link and still counts as saved).
    bool addScreenshot(const QImage& image, const std::optional<QString>& remoteURL = std::nullopt);
    // Puts a recording first, with a thumbnail read from the video at 0.1 s. False, with no entry,
    // when no thumbnail can be made.
    bool addVideo(const QString& videoURL, const std::optional<QString>& remoteURL = std::nullopt);
    // Removes the entry with the same id and deletes its PNG and link file (never a recording's files).
    void removeScreenshot(const Screenshot& screenshot);
    void openScreenshot(const Screenshot& screenshot);
    // Puts the image read from the entry's file on the clipboard; an entry without a readable file
    // leaves the clipboard empty.
    void copyScreenshotToClipboard(const Screenshot& screenshot);
    void revealScreenshotInFinder(const Screenshot& screenshot);

    // The link file of a captured file: its whole name plus ".url", in the same folder.
    static QString linkFilePath(const QString& file);
    // The link stored for `file`: the link file's text trimmed at both ends; none when unreadable.
    static std::optional<QString> readRemoteURL(const QString& file);

signals:
    void screenshotsChanged();

private:
    void createScreenshotDirectory();
    void loadExistingScreenshots();
    void saveRemoteURL(const QString& link, const QString& file);
    std::optional<QImage> generateVideoThumbnail(const QString& videoURL);
    QDateTime now() const;
    std::optional<QDateTime> creationDate(const QFileInfo& file) const;

    Environment m_environment;
    QString m_directory;
    QList<Screenshot> m_screenshots;
};
