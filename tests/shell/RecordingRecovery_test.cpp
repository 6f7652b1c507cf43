// A recording cut off by a crash, found at launch: filed under its normal name, logged, and the
// user told with a toast.
#include "app/DebugLogger.h"
#include "shell/DelegateFixture.h"
#include "app/ToastManager.h"
#include "platform/Mp4Writer.h"
#include "recording/ScreenRecorder.h"
#include "support/DebugLogText.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

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

class RecordingRecovery : public test::DelegateFixture {};

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
    ASSERT_TRUE(ToastManager::shared().currentToast());
    EXPECT_TRUE(ToastManager::shared().currentToast()->message.endsWith(": ScreenRecord_2026-02-03_04-05-06.mp4"))
        << ToastManager::shared().currentToast()->message.toStdString();
    EXPECT_EQ(ToastManager::shared().currentToast()->type, ToastType::success);
}
