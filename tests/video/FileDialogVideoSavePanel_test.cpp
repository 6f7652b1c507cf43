// The desktop's save panel of the video preview, opened for real on the offscreen platform.
#include "video/FileDialogVideoSavePanel.h"

#include "recording/ScreenRecorder.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

QFileDialog* openDialog()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

} // namespace

// It opens in the recordings folder, whatever the working directory, for either format, and
// offers that format's file type and the proposed name.
TEST(FileDialogVideoSavePanel, OpensInTheRecordingsFolder)
{
    const QString recordings = ScreenRecorder::recordingsDirectory();
    ASSERT_TRUE(QDir().mkpath(recordings));
    ASSERT_NE(QDir::currentPath(), recordings);
    const struct {
        VideoExportFormat format;
        const char* name;
        const char* filter;
    } cases[] = {
        {VideoExportFormat::mp4, "Kestrova-1.mp4", "MPEG-4 (*.mp4)"},
        {VideoExportFormat::gif, "Kestrova-2.gif", "GIF (*.gif)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FileDialogVideoSavePanel panel;
        int answers = 0;
        std::optional<QString> answer;
        panel.begin({c.format, QString::fromUtf8(c.name)}, [&](const std::optional<QString>& path) {
            ++answers;
            answer = path;
        });
        QFileDialog* dialog = nullptr;
        ASSERT_TRUE(test::waitUntil([&] { return (dialog = openDialog()) != nullptr; }, 3s));
        EXPECT_EQ(QDir(dialog->directory()).absolutePath().toStdString(), QDir(recordings).absolutePath().toStdString());
        EXPECT_EQ(dialog->selectedNameFilter().toStdString(), c.filter);
        ASSERT_FALSE(dialog->selectedFiles().isEmpty());
        EXPECT_EQ(dialog->selectedFiles().first().toStdString(), (recordings + "/" + c.name).toStdString());
        dialog->reject();
        ASSERT_TRUE(test::waitUntil([&] { return answers == 1; }, 3s));
        EXPECT_FALSE(answer);
        ASSERT_TRUE(test::waitUntil([] { return openDialog() == nullptr; }, 3s));
    }
}
