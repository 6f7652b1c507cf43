#include "screenshots/ScreenshotHistoryManager.h"

#include "platform/XdgPaths.h"
#include "support/TestSupport.h"
#include "support/UrlCatcher.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <map>

using namespace std::chrono_literals;

namespace {

QImage solid(const QColor& colour, QSize size = {24, 16})
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

QStringList fileNames(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

class History : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    ScreenshotHistoryManager::Environment environment()
    {
        return {dir.path(), [this] { return clock; },
                [this](const QFileInfo& file) -> std::optional<QDateTime> {
                    const auto it = dates.find(file.fileName());
                    if (it == dates.end())
                        return std::nullopt;
                    return it->second;
                }};
    }
    QString path(const QString& name) const { return dir.path() + "/" + name; }
    QString pngName(const QDateTime& at) const { return QStringLiteral("screenshot_%1.png").arg(at.toSecsSinceEpoch()); }

    QTemporaryDir dir;
    QDateTime clock = QDateTime(QDate(2024, 3, 5), QTime(14, 5, 0));
    std::map<QString, QDateTime> dates;
};

} // namespace

TEST_F(History, EleventhScreenshotEvictsTheOldestFilesAndNothingElse)
{
    writeFile(path("notes.txt"), "keep");
    writeFile(path("holiday.gif"), "GIF89a");
    ScreenshotHistoryManager history(environment());
    EXPECT_TRUE(history.screenshots().isEmpty());

    const QDateTime first = clock;
    testing::internal::CaptureStdout();
    for (int i = 0; i < 11; ++i) {
        const std::optional<QString> link = i % 2 == 0 ? std::optional<QString>(QStringLiteral("https://k.example/%1").arg(i)) : std::nullopt;
        ASSERT_TRUE(history.addScreenshot(solid(QColor(i * 20, 0, 0)), link));
        clock = clock.addSecs(1);
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Screenshot saved: " + pngName(first).toStdString() + "\n"), std::string::npos);

    ASSERT_EQ(history.screenshots().size(), 10);
    EXPECT_EQ(history.screenshots().first().createdAt, first.addSecs(10));
    EXPECT_EQ(history.screenshots().last().createdAt, first.addSecs(1));
    EXPECT_EQ(history.screenshots().first().remoteURL, QStringLiteral("https://k.example/10"));
    EXPECT_EQ(history.screenshots()[1].remoteURL, std::nullopt);

    // The oldest PNG and its link file are gone; the other ten PNGs, five links and the
    // foreign files stay.
    const QStringList files = fileNames(dir.path());
    EXPECT_FALSE(files.contains(pngName(first)));
    EXPECT_FALSE(files.contains(pngName(first) + ".url"));
    EXPECT_TRUE(files.contains("notes.txt"));
    EXPECT_TRUE(files.contains("holiday.gif"));
    EXPECT_EQ(files.filter(QRegularExpression(R"(^screenshot_\d+\.png$)")).size(), 10);
    EXPECT_EQ(files.filter(QRegularExpression(R"(\.png\.url$)")).size(), 5);
    for (const Screenshot& s : history.screenshots()) {
        ASSERT_TRUE(s.filePath);
        EXPECT_TRUE(QFile::exists(*s.filePath));
        EXPECT_FALSE(s.isVideo);
        EXPECT_EQ(s.videoURL, std::nullopt);
    }
    // The link file is the bare link: no line end.
    QFile link(path(pngName(first.addSecs(10)) + ".url"));
    ASSERT_TRUE(link.open(QIODevice::ReadOnly));
    EXPECT_EQ(link.readAll(), "https://k.example/10");
}

TEST_F(History, ScreenshotsWithinOneSecondNeverShareOrOverwriteAFile)
{
    writeFile(path(pngName(clock)), "an earlier file of the same name");
    ScreenshotHistoryManager history(environment());
    ASSERT_EQ(history.screenshots().size(), 0); // not an image: skipped at load
    ASSERT_TRUE(history.addScreenshot(solid(Qt::red)));
    ASSERT_TRUE(history.addScreenshot(solid(Qt::green)));
    QSet<QString> paths;
    for (const Screenshot& s : history.screenshots())
        paths.insert(*s.filePath);
    EXPECT_EQ(paths.size(), 2);
    EXPECT_FALSE(paths.contains(path(pngName(clock))));
    QFile earlier(path(pngName(clock)));
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), "an earlier file of the same name");
    // Each file holds its own picture.
    EXPECT_EQ(QImage(*history.screenshots()[0].filePath).pixel(0, 0), QColor(Qt::green).rgb());
    EXPECT_EQ(QImage(*history.screenshots()[1].filePath).pixel(0, 0), QColor(Qt::red).rgb());
}

TEST_F(History, ReloadKeepsTheTenNewestImagesWithTheirLinks)
{
    const QDateTime base(QDate(2024, 1, 1), QTime(9, 0));
    // Twelve image files of every accepted kind, one of them corrupt, dated an hour apart.
    const QStringList names = {"a.png", "b.PNG", "c.jpg", "d.jpeg", "e.tiff", "f.bmp",
                               "g.png", "h.png", "corrupt.png", "j.png", "k.png", "l.png"};
    for (int i = 0; i < names.size(); ++i) {
        const QString name = names[i];
        if (name == "corrupt.png") {
            writeFile(path(name), "\x89PNG\r\n\x1a\n truncated");
        } else {
            const QString format = QFileInfo(name).suffix().toLower() == "jpeg" ? "jpg" : QFileInfo(name).suffix().toLower();
            ASSERT_TRUE(solid(QColor(10 * i, 100, 100)).save(path(name), format.toLatin1())) << name.toStdString();
        }
        dates[name] = base.addSecs(3600 * i);
    }
    // Not entries: other kinds, hidden files, link files.
    for (const char* other : {"clip.gif", "movie.mp4", ".hidden.png", "l.png.url"})
        writeFile(path(other), "x");
    solid(Qt::yellow).save(path(".hidden.png"), "png");
    dates[".hidden.png"] = base.addSecs(100000);
    dates["clip.gif"] = base.addSecs(100000);
    // An undated image counts as the oldest of all.
    solid(Qt::cyan).save(path("undated.png"), "png");

    writeFile(path("l.png.url"), "https://k.example/l\n");
    writeFile(path("k.png.url"), "");
    writeFile(path("j.png.url"), "  https://k.example/j \r\n\t");
    QDir().mkpath(path("h.png.url")); // cannot be read as a file

    ScreenshotHistoryManager history(environment());
    QStringList loaded;
    for (const Screenshot& s : history.screenshots())
        loaded << QFileInfo(*s.filePath).fileName();
    // The ten newest are l..c; the corrupt one leaves a gap that b, a and the undated file do not fill.
    EXPECT_EQ(loaded, QStringList({"l.png", "k.png", "j.png", "h.png", "g.png", "f.bmp", "e.tiff", "d.jpeg", "c.jpg"}));
    ASSERT_EQ(history.screenshots().size(), 9);
    EXPECT_EQ(history.screenshots()[0].remoteURL, QStringLiteral("https://k.example/l"));
    EXPECT_EQ(history.screenshots()[1].remoteURL, QString(""));
    EXPECT_EQ(history.screenshots()[2].remoteURL, QStringLiteral("https://k.example/j"));
    EXPECT_EQ(history.screenshots()[3].remoteURL, std::nullopt);
    EXPECT_EQ(history.screenshots()[4].remoteURL, std::nullopt);
    EXPECT_EQ(history.screenshots()[0].createdAt, base.addSecs(3600 * 11));
    EXPECT_EQ(history.screenshots()[0].image.pixel(0, 0), QColor(110, 100, 100).rgb());
    EXPECT_NE(history.screenshots()[0].id, history.screenshots()[1].id);

    // Fewer than ten files: the undated one comes last, stamped with the current time.
    for (const char* name : {"c.jpg", "d.jpeg", "e.tiff", "f.bmp", "g.png", "h.png", "j.png", "k.png", "l.png", "corrupt.png"})
        QFile::remove(path(name));
    ScreenshotHistoryManager again(environment());
    ASSERT_EQ(again.screenshots().size(), 3);
    EXPECT_EQ(QFileInfo(*again.screenshots()[2].filePath).fileName(), "undated.png");
    EXPECT_EQ(again.screenshots()[2].createdAt, clock);
}

TEST_F(History, ReloadUsesTheFilesOwnDates)
{
    {
        ScreenshotHistoryManager::Environment env{dir.path(), [this] { return clock; }, {}};
        ScreenshotHistoryManager history(env);
        // Names in the opposite order of creation, so only the dates can sort them.
        for (int i = 0; i < 3; ++i) {
            clock = clock.addSecs(-10);
            ASSERT_TRUE(history.addScreenshot(solid(QColor(50 * i, 0, 0)), QStringLiteral("link %1").arg(i)));
            QThread::msleep(30);
        }
    }
    ScreenshotHistoryManager reloaded(ScreenshotHistoryManager::Environment{dir.path(), {}, {}});
    ASSERT_EQ(reloaded.screenshots().size(), 3);
    EXPECT_EQ(reloaded.screenshots()[0].remoteURL, QStringLiteral("link 2"));
    EXPECT_EQ(reloaded.screenshots()[2].remoteURL, QStringLiteral("link 0"));
    EXPECT_LE(reloaded.screenshots()[1].createdAt, reloaded.screenshots()[0].createdAt);
    EXPECT_LE(qAbs(reloaded.screenshots()[0].createdAt.secsTo(QDateTime::currentDateTime())), 60);
}

TEST_F(History, VideosGetAThumbnailAndKeepTheirFiles)
{
    const QString video = path("clip.mp4");
    // Green for the first 50 ms, then red: the frame at 0.1 s is red.
    const auto made = test::run("/usr/bin/ffmpeg",
                                {"-v", "error", "-y", "-f", "lavfi", "-i", "color=c=green:s=64x48:r=20:d=0.05", "-f", "lavfi",
                                 "-i", "color=c=red:s=64x48:r=20:d=0.5", "-filter_complex", "[0:v][1:v]concat=n=2:v=1[v]",
                                 "-map", "[v]", "-c:v", "libx264", "-pix_fmt", "yuv420p", video});
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    writeFile(path("garbage.mp4"), QByteArray(4096, 'g'));

    ScreenshotHistoryManager history(environment());
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(history.addScreenshot(solid(Qt::blue)));
        clock = clock.addSecs(1);
    }
    const QString oldest = *history.screenshots().last().filePath;

    testing::internal::CaptureStdout();
    ASSERT_TRUE(history.addVideo(video, QStringLiteral("https://k.example/v")));
    EXPECT_FALSE(history.addVideo(path("garbage.mp4")));
    EXPECT_FALSE(history.addVideo(path("missing.mp4")));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Video added to history: clip.mp4\n"), std::string::npos);
    EXPECT_NE(out.find("Error generating video thumbnail: "), std::string::npos);
    EXPECT_NE(out.find("Error: Failed to generate video thumbnail\n"), std::string::npos);

    ASSERT_EQ(history.screenshots().size(), 10);
    const Screenshot& entry = history.screenshots().first();
    EXPECT_TRUE(entry.isVideo);
    EXPECT_EQ(entry.videoURL, video);
    EXPECT_EQ(entry.filePath, std::nullopt);
    EXPECT_EQ(entry.remoteURL, QStringLiteral("https://k.example/v"));
    EXPECT_EQ(entry.image.size(), QSize(64, 48));
    const QColor centre = entry.image.pixelColor(32, 24);
    EXPECT_GT(centre.red(), 200);
    EXPECT_LT(centre.green(), 40);
    // Its link beside the video; the screenshot it pushed out keeps its file.
    EXPECT_EQ(ScreenshotHistoryManager::readRemoteURL(video), QStringLiteral("https://k.example/v"));
    EXPECT_TRUE(QFile::exists(oldest));

    // Removing a recording deletes neither the video nor its link.
    history.removeScreenshot(entry);
    EXPECT_EQ(history.screenshots().size(), 9);
    EXPECT_TRUE(QFile::exists(video));
    EXPECT_TRUE(QFile::exists(video + ".url"));
}

TEST_F(History, RemoveDeletesTheEntrysFilesOnly)
{
    ScreenshotHistoryManager history(environment());
    ASSERT_TRUE(history.addScreenshot(solid(Qt::red), QStringLiteral("https://k.example/1")));
    clock = clock.addSecs(1);
    ASSERT_TRUE(history.addScreenshot(solid(Qt::green), QStringLiteral("https://k.example/2")));
    const Screenshot kept = history.screenshots()[1];
    const Screenshot removed = history.screenshots()[0];

    Screenshot stranger = removed;
    stranger.id = QUuid::createUuid();
    history.removeScreenshot(stranger); // not in the history
    EXPECT_EQ(history.screenshots().size(), 2);
    EXPECT_TRUE(QFile::exists(*removed.filePath));

    int changes = 0;
    QObject::connect(&history, &ScreenshotHistoryManager::screenshotsChanged, [&] { ++changes; });
    history.removeScreenshot(removed);
    EXPECT_EQ(changes, 1);
    ASSERT_EQ(history.screenshots().size(), 1);
    EXPECT_EQ(history.screenshots().first(), kept);
    EXPECT_FALSE(QFile::exists(*removed.filePath));
    EXPECT_FALSE(QFile::exists(*removed.filePath + ".url"));
    EXPECT_TRUE(QFile::exists(*kept.filePath));
    EXPECT_TRUE(QFile::exists(*kept.filePath + ".url"));
}

TEST_F(History, CopyOpenAndRevealActOnTheFile)
{
    ScreenshotHistoryManager history(environment());
    ASSERT_TRUE(history.addScreenshot(solid(Qt::red)));
    Screenshot shot = history.screenshots().first();
    // The clipboard gets the picture from the file, not the one in memory.
    solid(Qt::magenta).save(*shot.filePath, "png");
    history.copyScreenshotToClipboard(shot);
    EXPECT_EQ(QGuiApplication::clipboard()->image().pixel(0, 0), QColor(Qt::magenta).rgb());

    Screenshot video;
    video.id = QUuid::createUuid();
    video.isVideo = true;
    video.videoURL = path("clip.mp4");
    history.copyScreenshotToClipboard(video);
    EXPECT_TRUE(QGuiApplication::clipboard()->image().isNull());

    QFile::remove(*shot.filePath);
    QGuiApplication::clipboard()->setText("before");
    history.copyScreenshotToClipboard(shot); // the file is gone: an empty clipboard
    EXPECT_TRUE(QGuiApplication::clipboard()->image().isNull());
    EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());

    test::UrlCatcher catcher;
    history.openScreenshot(shot);
    history.openScreenshot(video);
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls.first(), QUrl::fromLocalFile(*shot.filePath));
    history.revealScreenshotInFinder(video); // no file: nothing happens
    test::spin(50ms);
    EXPECT_EQ(catcher.urls.size(), 1);
}

TEST_F(History, FailuresAreReportedAndLeaveNoEntry)
{
    {
        ScreenshotHistoryManager history(environment());
        EXPECT_FALSE(history.addScreenshot(QImage())); // nothing to encode
        EXPECT_TRUE(fileNames(dir.path()).isEmpty());

        // A link file that cannot be written: the screenshot is still saved.
        QDir().mkpath(path(pngName(clock) + ".url"));
        testing::internal::CaptureStdout();
        EXPECT_TRUE(history.addScreenshot(solid(Qt::red), QStringLiteral("https://k.example/x")));
        EXPECT_NE(testing::internal::GetCapturedStdout().find("Error saving remote URL: "), std::string::npos);
        EXPECT_EQ(history.screenshots().size(), 1);

        // The folder replaced by a file: nothing can be written.
        QDir(dir.path()).removeRecursively();
        writeFile(dir.path(), "not a folder");
        testing::internal::CaptureStdout();
        EXPECT_FALSE(history.addScreenshot(solid(Qt::red)));
        EXPECT_NE(testing::internal::GetCapturedStdout().find("Error saving screenshot: "), std::string::npos);
        EXPECT_EQ(history.screenshots().size(), 1);
    }
    // A folder that cannot be made: both start-up steps say so and the history is empty.
    auto env = environment();
    env.directory = dir.path() + "/Kestrova";
    testing::internal::CaptureStdout();
    ScreenshotHistoryManager broken(env);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Error creating screenshot directory: "), std::string::npos);
    EXPECT_NE(out.find("Error loading existing screenshots: "), std::string::npos);
    EXPECT_TRUE(broken.screenshots().isEmpty());
    QFile::remove(dir.path());
}

TEST(HistoryDefaults, FolderIsKestrovaInPicturesAndNamesShowTheTime)
{
    ScreenshotHistoryManager history;
    EXPECT_EQ(history.screenshotDirectory(), platform::XdgPaths::picturesDir() + "/Kestrova");
    EXPECT_EQ(history.screenshotDirectory(), QDir::homePath() + "/Pictures/Kestrova");
    EXPECT_TRUE(QFileInfo(history.screenshotDirectory()).isDir());

    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    Screenshot shot;
    shot.createdAt = QDateTime(QDate(2024, 3, 5), QTime(14, 5, 30));
    EXPECT_EQ(shot.displayName(), QStringLiteral("Скриншот 14:05"));
    shot.isVideo = true;
    EXPECT_EQ(shot.displayName(), QStringLiteral("Видео 14:05"));
    QLocale::setDefault(previous);
}
