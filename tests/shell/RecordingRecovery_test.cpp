// A recording cut off by a crash, found at launch: filed under its normal name, logged, and the
// user told with a toast.
#include "app/DebugLogger.h"
#include "app/Localization.h"
#include "shell/DelegateFixture.h"
#include "app/ToastManager.h"
#include "platform/Mp4Writer.h"
#include "recording/MediaFileProbe.h"
#include "recording/ScreenRecorder.h"
#include "support/DebugLogText.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A fragmented recording of `frames` left as a kill leaves it: only the fragments handed on.
void leaveUnfinished(const QString& finishedPath, int frames)
{
    auto writer = platform::Mp4Writer::create(ScreenRecorder::inProgressPath(finishedPath));
    ASSERT_TRUE(writer);
    writer->setLayout(platform::Mp4Writer::Layout::Fragmented);
    platform::Mp4VideoSettings video;
    video.size = QSize(160, 120);
    ASSERT_TRUE(writer->addVideoTrack(video));
    ASSERT_TRUE(writer->startWriting());
    QImage frame(160, 120, QImage::Format_RGB32);
    for (int i = 0; i < frames; ++i) {
        frame.fill(QColor(i * 7 % 256, 90, 40));
        writer->appendVideoFrame(frame, i / 30.0);
    }
    writer->abandonWriting();
}

QString logText()
{
    return test::debugLogText();
}

} // namespace

class RecordingRecovery : public test::DelegateFixture {
protected:
    // What this test has logged.
    QString newLog() const { return logText().mid(m_logStart); }
    bool waitForNewLog(const QString& line) const
    {
        return test::waitUntil([&] { return newLog().contains(line); }, 20s);
    }
    static std::string toastText()
    {
        const auto toast = ToastManager::shared().currentToast();
        return toast ? toast->message.toStdString() : "<no toast>";
    }

private:
    qsizetype m_logStart = logText().size();
};

TEST_F(RecordingRecovery, TheLaunchFilesWhatACrashLeftAndSaysSo)
{
    const QDir folder(ScreenRecorder::recordingsDirectory());
    ASSERT_TRUE(folder.mkpath("."));
    const QString kept = folder.filePath("ScreenRecord_2026-02-03_04-05-06.mp4");
    const QString tooShort = folder.filePath("ScreenRecord_2026-02-03_04-05-07.mp4");
    leaveUnfinished(kept, 100);
    leaveUnfinished(tooShort, 10);
    ASSERT_TRUE(QFile::exists(ScreenRecorder::inProgressPath(kept)));

    delegate = std::make_unique<AppDelegate>();
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(test::waitUntil([] { return logText().contains("AppDelegate: Recovered an unfinished recording: "); }, 20s))
        << logText().toStdString();
    EXPECT_TRUE(logText().contains("AppDelegate: Recovered an unfinished recording: " + kept + " ("));
    EXPECT_TRUE(logText().contains("AppDelegate: Removed an unfinished recording too short to keep ("));
    EXPECT_TRUE(QFile::exists(kept));
    EXPECT_FALSE(QFile::exists(ScreenRecorder::inProgressPath(kept)));
    EXPECT_FALSE(QFile::exists(ScreenRecorder::inProgressPath(tooShort)));
    EXPECT_FALSE(QFile::exists(tooShort));
    // The one cut off before its first fragment reached the disk is lost, and the user hears of it.
    ASSERT_TRUE(ToastManager::shared().currentToast());
    EXPECT_EQ(toastText(), (L::text("Прерванная запись восстановлена: ", "Interrupted recording recovered: ")
                            + "ScreenRecord_2026-02-03_04-05-06.mp4\n"
                            + L::text("Прерванная запись не восстановлена: ", "Interrupted recording not recovered: ")
                            + "ScreenRecord_2026-02-03_04-05-07.mp4")
                               .toStdString());
    EXPECT_EQ(ToastManager::shared().currentToast()->type, ToastType::warning);
}

// A crash in the first half second: nothing of the recording reached the disk. Nothing is kept,
// but the user is told, as when something is.
TEST_F(RecordingRecovery, ARecordingWithNoFrameOnTheDiskIsNamedAsLost)
{
    const QDir folder(ScreenRecorder::recordingsDirectory());
    ASSERT_TRUE(folder.mkpath("."));
    const QString lost = folder.filePath("ScreenRecord_2026-03-04_08-00-00.mp4");
    leaveUnfinished(lost, 5);

    delegate = std::make_unique<AppDelegate>();
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(waitForNewLog("AppDelegate: Removed an unfinished recording too short to keep (0 frames)"))
        << newLog().toStdString();
    EXPECT_FALSE(QFile::exists(ScreenRecorder::inProgressPath(lost)));
    const std::string told = (L::text("Прерванная запись не восстановлена: ", "Interrupted recording not recovered: ")
                              + "ScreenRecord_2026-03-04_08-00-00.mp4")
                                 .toStdString();
    EXPECT_TRUE(test::waitUntil([&] { return toastText() == told; }, 5s)) << toastText();
    EXPECT_EQ(ToastManager::shared().currentToast()->type, ToastType::warning);
}

namespace {

// A user's document outside the recordings folder.
QByteArray writeDocument(const QString& path)
{
    QByteArray bytes;
    for (int i = 0; bytes.size() < 22000; ++i)
        bytes += "Line " + QByteArray::number(i) + " of a document that is not a recording.\n";
    bytes.truncate(22000);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return bytes;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// Names of in-progress files and of halves of copies that are links to files elsewhere, or files
// of another user: recovery leaves them and what they point to as they are, and says so in the log.
TEST_F(RecordingRecovery, LinksAndOtherUsersFilesAreLeftAlone)
{
    const QDir folder(ScreenRecorder::recordingsDirectory());
    ASSERT_TRUE(folder.mkpath("."));
    const QDir elsewhere(test::testHome() + "/Elsewhere");
    ASSERT_TRUE(elsewhere.mkpath("."));
    const bool root = ::geteuid() == 0;

    struct Case {
        const char* what;
        QString name;      // in the recordings folder
        QString document;  // outside it, what the name leads to
        QString reason;    // the log's words for it
    };
    const QString stem = ".ScreenRecord_2026-03-01_10-00-0";
    std::vector<Case> cases = {
        {"a symbolic link as an in-progress file", stem + "1.mp4.part", "report.odt", "a symbolic link"},
        {"a hard link as an in-progress file", stem + "2.mp4.part", "budget.ods", "a file with 2 links"},
        {"a symbolic link as half a copy", stem + "3.mp4.faststart", "notes.txt", "a symbolic link"},
        {"a hard link as half a copy", stem + "4.mp4.faststart", "photo.jpg", "a file with 2 links"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString target = elsewhere.filePath(c.document);
        writeDocument(target);
        const QByteArray path = QFile::encodeName(folder.filePath(c.name));
        if (c.reason == "a symbolic link")
            ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), path.constData()), 0) << std::strerror(errno);
        else
            ASSERT_EQ(::link(QFile::encodeName(target).constData(), path.constData()), 0) << std::strerror(errno);
    }
    // Another user's recording left in the folder: theirs to file.
    const QString others = folder.filePath(stem + "5.mp4.part");
    if (root) {
        leaveUnfinished(folder.filePath("ScreenRecord_2026-03-01_10-00-05.mp4"), 100);
        ASSERT_EQ(::chown(QFile::encodeName(others).constData(), 65534, 65534), 0) << std::strerror(errno);
    }
    // Our own: filed as usual, with its copy made beside a link of the copy's name.
    const QString ours = folder.filePath("ScreenRecord_2026-03-01_10-00-03.mp4");
    leaveUnfinished(ours, 100);
    const QByteArray othersBytes = contents(others);

    delegate = std::make_unique<AppDelegate>();
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(waitForNewLog("AppDelegate: Recovered an unfinished recording: " + ours + " (")) << newLog().toStdString();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = folder.filePath(c.name);
        EXPECT_EQ(contents(elsewhere.filePath(c.document)), contents(path)) << "still the same file";
        EXPECT_EQ(QFileInfo(elsewhere.filePath(c.document)).size(), 22000) << "the document keeps its bytes";
        EXPECT_TRUE(QFileInfo(path).isSymLink() || QFileInfo::exists(path)) << "the link stays";
        EXPECT_TRUE(newLog().contains("AppDelegate: Left alone " + path + ", not a recording of ours: " + c.reason))
            << newLog().toStdString();
    }
    if (root) {
        EXPECT_EQ(contents(others), othersBytes);
        EXPECT_TRUE(newLog().contains("AppDelegate: Left alone " + others + ", not a recording of ours: owned by another user"))
            << newLog().toStdString();
        EXPECT_FALSE(QFile::exists(folder.filePath("ScreenRecord_2026-03-01_10-00-05.mp4")));
    }
    EXPECT_EQ(platform::Mp4Writer::countVideoFrames(ours), 98) << "seven whole fragments of 14 frames";
    EXPECT_FALSE(QFile::exists(ScreenRecorder::inProgressPath(ours)));
    EXPECT_TRUE(QString::fromStdString(toastText()).endsWith(": ScreenRecord_2026-03-01_10-00-03.mp4")) << toastText();
}

// A crash in the first seconds leaves fewer frames than a stopped recording must have: still
// kept, and the user told, as long as a frame of it plays.
TEST_F(RecordingRecovery, AShortRecordingCutOffByACrashIsKeptAndNamed)
{
    const QDir folder(ScreenRecorder::recordingsDirectory());
    ASSERT_TRUE(folder.mkpath("."));
    const QString shortOne = folder.filePath("ScreenRecord_2026-03-02_09-00-00.mp4");
    leaveUnfinished(shortOne, 20); // its first fragment reached the disk

    delegate = std::make_unique<AppDelegate>();
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(waitForNewLog("AppDelegate: Recovered an unfinished recording: " + shortOne + " (14 frames)"))
        << newLog().toStdString();
    const media::Output checked = media::runTool(
        "/usr/bin/ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", shortOne});
    EXPECT_TRUE(checked.ok && checked.err.isEmpty()) << checked.err.toStdString();
    EXPECT_EQ(checked.out.trimmed(), "14");
    EXPECT_EQ(toastText(), (L::text("Прерванная запись восстановлена: ", "Interrupted recording recovered: ")
                            + "ScreenRecord_2026-03-02_09-00-00.mp4")
                               .toStdString());
}

// Two hundred leftovers: the message names three and counts the rest.
TEST_F(RecordingRecovery, ManyRecoveredRecordingsAreCountedNotAllNamed)
{
    const QDir folder(ScreenRecorder::recordingsDirectory());
    ASSERT_TRUE(folder.mkpath("."));
    const QString first = folder.filePath("ScreenRecord_2026-03-03_00-00-00.mp4");
    leaveUnfinished(first, 100);
    for (int i = 1; i < 200; ++i) {
        const QString name = QString("ScreenRecord_2026-03-03_00-%1-%2.mp4").arg(i / 60, 2, 10, QChar('0')).arg(i % 60, 2, 10, QChar('0'));
        ASSERT_TRUE(QFile::copy(ScreenRecorder::inProgressPath(first), ScreenRecorder::inProgressPath(folder.filePath(name))));
    }

    delegate = std::make_unique<AppDelegate>();
    delegate->applicationDidFinishLaunching();
    // The toast comes with the last of the lines.
    ASSERT_TRUE(test::waitUntil([&] { return newLog().count("AppDelegate: Recovered an unfinished recording: ") == 200; }, 60s))
        << newLog().toStdString();
    EXPECT_EQ(toastText(), (L::text("Прерванные записи восстановлены: ", "Interrupted recordings recovered: ")
                            + "ScreenRecord_2026-03-03_00-00-00.mp4, ScreenRecord_2026-03-03_00-00-01.mp4, "
                              "ScreenRecord_2026-03-03_00-00-02.mp4"
                            + L::text(" и ещё 197", " and 197 more"))
                               .toStdString());
}
