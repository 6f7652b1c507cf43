#include "screenshots/ScreenshotHistoryManager.h"

#include "platform/Console.h"
#include "platform/FileManager.h"
#include "platform/MediaFrameReader.h"
#include "platform/XdgPaths.h"

#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

#include <algorithm>

namespace {

const QStringList kImageExtensions = {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                      QStringLiteral("tiff"), QStringLiteral("bmp")};
// Screenshots filed within one second share a name; these many numbered twins are tried.
constexpr int kMaxNameSuffix = 1000;

void print(const QString& line)
{
    platform::Console::printLine(line);
}

QImage readImage(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read();
}

QString folderProblem(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("the folder “%1” does not exist").arg(path);
    if (!info.isDir())
        return QStringLiteral("“%1” is not a folder").arg(path);
    return QStringLiteral("the folder “%1” cannot be read").arg(path);
}

} // namespace

ScreenshotHistoryManager::ScreenshotHistoryManager(QObject* parent)
    : ScreenshotHistoryManager(Environment{}, parent)
{
}

ScreenshotHistoryManager::ScreenshotHistoryManager(Environment environment, QObject* parent)
    : QObject(parent)
    , m_environment(std::move(environment))
    , m_directory(m_environment.directory.isEmpty() ? platform::XdgPaths::picturesDir() + QStringLiteral("/Kestrova")
                                                    : m_environment.directory)
{
    createScreenshotDirectory();
    loadExistingScreenshots();
}

QDateTime ScreenshotHistoryManager::now() const
{
    return m_environment.now ? m_environment.now() : QDateTime::currentDateTime();
}

std::optional<QDateTime> ScreenshotHistoryManager::creationDate(const QFileInfo& file) const
{
    if (m_environment.creationDate)
        return m_environment.creationDate(file);
    // Not every file system records a birth time; the modification time is the closest stand-in.
    if (const QDateTime birth = file.birthTime(); birth.isValid())
        return birth;
    if (const QDateTime modified = file.lastModified(); modified.isValid())
        return modified;
    return std::nullopt;
}

QString ScreenshotHistoryManager::linkFilePath(const QString& file)
{
    return file + QStringLiteral(".url");
}

std::optional<QString> ScreenshotHistoryManager::readRemoteURL(const QString& file)
{
    QFile link(linkFilePath(file));
    if (!link.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(link.readAll()).trimmed();
}

void ScreenshotHistoryManager::createScreenshotDirectory()
{
    if (!QDir().mkpath(m_directory))
        print(QStringLiteral("Error creating screenshot directory: ") + QStringLiteral("cannot create “%1”").arg(m_directory));
}

void ScreenshotHistoryManager::loadExistingScreenshots()
{
    const QFileInfo folder(m_directory);
    if (!folder.isDir() || !folder.isReadable()) {
        print(QStringLiteral("Error loading existing screenshots: ") + folderProblem(m_directory));
        return;
    }
    // Hidden files are left out; the name order makes equal dates come out the same every time.
    const QFileInfoList listing = QDir(m_directory).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);

    struct Candidate {
        QFileInfo file;
        std::optional<QDateTime> created;
    };
    std::vector<Candidate> candidates;
    for (const QFileInfo& file : listing)
        if (kImageExtensions.contains(file.suffix().toLower()))
            candidates.push_back({file, creationDate(file)});

    // Newest first; an unknown date counts as the most distant past.
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (!a.created || !b.created)
            return a.created.has_value() && !b.created.has_value();
        return *a.created > *b.created;
    });
    if (candidates.size() > static_cast<size_t>(maxHistoryCount))
        candidates.resize(maxHistoryCount);

    for (const Candidate& candidate : candidates) {
        const QString path = candidate.file.absoluteFilePath();
        const QImage image = readImage(path);
        // An unreadable file leaves a gap; no older file takes its place.
        if (image.isNull())
            continue;
        Screenshot entry;
        entry.id = QUuid::createUuid();
        entry.image = image;
        entry.createdAt = candidate.created.value_or(now());
        entry.filePath = path;
        entry.remoteURL = readRemoteURL(path);
        m_screenshots.append(entry);
    }
    if (!m_screenshots.isEmpty())
        emit screenshotsChanged();
}

bool ScreenshotHistoryManager::addScreenshot(const QImage& image, const std::optional<QString>& remoteURL)
{
    const QDateTime createdAt = now();
    if (image.isNull())
        return false;
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        if (!writer.write(image) || png.isEmpty())
            return false;
    }

    // Never overwrite an earlier file, nor share one with another entry.
    const QString stem = m_directory + QStringLiteral("/screenshot_") + QString::number(createdAt.toSecsSinceEpoch());
    QFile file;
    QString failure;
    for (int n = 1; n <= kMaxNameSuffix; ++n) {
        const QString candidate = stem + (n == 1 ? QString() : QStringLiteral("_%1").arg(n)) + QStringLiteral(".png");
        const bool taken = std::any_of(m_screenshots.cbegin(), m_screenshots.cend(),
                                       [&](const Screenshot& s) { return s.filePath == candidate; });
        if (taken || QFileInfo::exists(candidate))
            continue;
        file.setFileName(candidate);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            break;
        failure = file.errorString();
        if (QFileInfo::exists(candidate))
            continue; // made by someone else just now
        break;
    }
    if (!file.isOpen()) {
        print(QStringLiteral("Error saving screenshot: ") + (failure.isEmpty() ? QStringLiteral("no free file name") : failure));
        return false;
    }
    if (file.write(png) != png.size() || !file.flush()) {
        const QString error = file.errorString();
        file.close();
        file.remove(); // a truncated PNG would come back as a broken entry
        print(QStringLiteral("Error saving screenshot: ") + error);
        return false;
    }
    file.close();
    const QString path = file.fileName();

    Screenshot entry;
    entry.id = QUuid::createUuid();
    entry.image = image;
    entry.createdAt = createdAt;
    entry.filePath = path;
    entry.remoteURL = remoteURL;
    m_screenshots.prepend(entry);

    if (remoteURL)
        saveRemoteURL(*remoteURL, path);

    if (m_screenshots.size() > maxHistoryCount) {
        for (qsizetype i = maxHistoryCount; i < m_screenshots.size(); ++i) {
            if (const auto& evicted = m_screenshots[i].filePath) {
                QFile::remove(*evicted);
                QFile::remove(linkFilePath(*evicted));
            }
        }
        m_screenshots.resize(maxHistoryCount);
    }
    emit screenshotsChanged();
    print(QStringLiteral("Screenshot saved: ") + QFileInfo(path).fileName());
    return true;
}

bool ScreenshotHistoryManager::addVideo(const QString& videoURL, const std::optional<QString>& remoteURL)
{
    const QDateTime createdAt = now();
    const std::optional<QImage> thumbnail = generateVideoThumbnail(videoURL);
    if (!thumbnail) {
        print(QStringLiteral("Error: Failed to generate video thumbnail"));
        return false;
    }
    Screenshot entry;
    entry.id = QUuid::createUuid();
    entry.image = *thumbnail;
    entry.createdAt = createdAt;
    entry.remoteURL = remoteURL;
    entry.isVideo = true;
    entry.videoURL = videoURL;
    m_screenshots.prepend(entry);

    if (remoteURL)
        saveRemoteURL(*remoteURL, videoURL);
    // Dropped entries keep their files: a screenshot pushed out here reappears after a restart.
    if (m_screenshots.size() > maxHistoryCount)
        m_screenshots.resize(maxHistoryCount);
    emit screenshotsChanged();
    print(QStringLiteral("Video added to history: ") + QFileInfo(videoURL).fileName());
    return true;
}

std::optional<QImage> ScreenshotHistoryManager::generateVideoThumbnail(const QString& videoURL)
{
    QString error;
    QImage frame;
    if (auto reader = platform::MediaFrameReader::open(videoURL, &error))
        frame = reader->frameAt(0.1, &error);
    if (frame.isNull()) {
        print(QStringLiteral("Error generating video thumbnail: ") + error);
        return std::nullopt;
    }
    return frame;
}

void ScreenshotHistoryManager::saveRemoteURL(const QString& link, const QString& file)
{
    QSaveFile out(linkFilePath(file));
    const QByteArray bytes = link.toUtf8();
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        print(QStringLiteral("Error saving remote URL: ") + out.errorString());
}

void ScreenshotHistoryManager::removeScreenshot(const Screenshot& screenshot)
{
    const auto it = std::find_if(m_screenshots.begin(), m_screenshots.end(),
                                 [&](const Screenshot& s) { return s.id == screenshot.id; });
    if (it == m_screenshots.end())
        return;
    m_screenshots.erase(it);
    if (screenshot.filePath) {
        QFile::remove(*screenshot.filePath);
        QFile::remove(linkFilePath(*screenshot.filePath));
    }
    emit screenshotsChanged();
}

void ScreenshotHistoryManager::openScreenshot(const Screenshot& screenshot)
{
    if (screenshot.filePath)
        platform::FileManager::openFile(*screenshot.filePath);
}

void ScreenshotHistoryManager::copyScreenshotToClipboard(const Screenshot& screenshot)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    if (!screenshot.filePath)
        return;
    const QImage image = readImage(*screenshot.filePath);
    if (!image.isNull())
        clipboard->setImage(image);
}

void ScreenshotHistoryManager::revealScreenshotInFinder(const Screenshot& screenshot)
{
    if (screenshot.filePath)
        platform::FileManager::revealFile(*screenshot.filePath);
}
