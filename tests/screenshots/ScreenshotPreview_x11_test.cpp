// The built program end to end on the test X server: hot key, area overlay, drag, the preview,
// an arrow drawn in the editor, done; then the PNG in the history folder and the picture on the
// clipboard, read back by a second process.
#include "support/AreaCaptureByHotKey.h"
#include "support/ProcessConsole.h"
#include "support/ProcessSession.h"
#include "support/PatternWindow.h"
#include "support/TrayHost.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(ScreenshotPreviewX11, HotKeyAreaDragAnnotateDoneFilesThePngAndFillsTheClipboard)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    if (!QFile::exists("/usr/bin/xclip"))
        GTEST_SKIP() << "needs xclip";
    const QRect screen(0, 0, 1920, 1080);
    test::PatternWindow background(screen, 3);
    background.show();
    // With a tray present the program opens no fallback window over the screen.
    test::TrayHost tray;
    test::spin(300ms);

    test::Session session;
    ASSERT_TRUE(test::writeFile(session.home() + "/config/Kestrova/Kestrova.conf", "[General]\nscreenshotHotkey=ctrl+alt+k\n"));

    auto process = session.start();
    test::ProcessConsole console(*process);
    ASSERT_TRUE(console.waitForStart("Successfully registered area hotkey: ctrl+alt+k")) << console.text().toStdString();
    ASSERT_TRUE(session.waitForLog("Application finished launching"));

    // 400 x 300 at (300, 200).
    const QRect area(300, 200, 400, 300);
    ASSERT_TRUE(test::captureAreaByHotKey(console, "ctrl+alt+k", area));

    // Centred on the screen, as wide as its tool bars need, the picture at its own size between
    // them and centred across.
    std::optional<QRect> window;
    ASSERT_TRUE(test::waitUntil([&] { return (window = test::visibleWindowGeometry("400×300")).has_value(); }, 10s))
        << console.text().toStdString();
    test::spin(500ms);
    window = test::visibleWindowGeometry("400×300");
    ASSERT_TRUE(window);
    EXPECT_GE(window->width(), 400);
    EXPECT_GT(window->height(), 300 + 40);
    EXPECT_EQ(window->topLeft(), QPoint((1920 - window->width()) / 2, (1080 - window->height()) / 2));

    // An arrow across the middle of the picture (the editor's first tool).
    const int middle = window->top() + 40 + 100;
    const int pictureLeft = window->left() + (window->width() - 400) / 2;
    ASSERT_TRUE(test::xdotool(test::xdotoolDrag({pictureLeft + 100, middle}, {pictureLeft + 300, middle})));
    test::spin(300ms);

    // "Done" sits at the right end of the tool bar row.
    ASSERT_TRUE(test::xdotool({"mousemove", QString::number(window->right() - 12 - 16), QString::number(window->top() + 20),
                               "click", "1"}));
    ASSERT_TRUE(console.waitForStart("ScreenshotPreviewWindow: Screenshot saved and copied to clipboard")) << console.text().toStdString();
    EXPECT_TRUE(test::waitUntil([&] { return !test::visibleWindowGeometry("400×300"); }, 5s));

    // The PNG in the history folder: the captured pixels with the arrow over them.
    const QDir historyDir(session.home() + "/Pictures/Kestrova");
    const QStringList files = historyDir.entryList({"screenshot_*.png"}, QDir::Files);
    ASSERT_EQ(files.size(), 1) << historyDir.path().toStdString();
    const QImage filed = QImage(historyDir.filePath(files.first())).convertToFormat(QImage::Format_RGB32);
    const QImage captured = background.pattern().copy(area);
    ASSERT_EQ(filed.size(), area.size());
    EXPECT_EQ(filed.pixel(5, 5), captured.pixel(5, 5));
    EXPECT_EQ(filed.pixel(390, 290), captured.pixel(390, 290));
    int changed = 0;
    for (int y = 0; y < filed.height(); ++y)
        for (int x = 0; x < filed.width(); ++x)
            changed += filed.pixel(x, y) != captured.pixel(x, y);
    EXPECT_GT(changed, 200) << "no arrow in the output";
    EXPECT_LT(changed, filed.width() * filed.height() / 4);

    // The same picture on the clipboard, served by the running program to another client.
    const auto clip = test::run("/usr/bin/xclip", {"-selection", "clipboard", "-t", "image/png", "-o"}, 10s);
    ASSERT_TRUE(clip.finished && clip.exitCode == 0) << clip.output.left(200).toStdString();
    const QImage copied = QImage::fromData(clip.output, "png").convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(copied.size(), area.size());
    EXPECT_TRUE(copied == filed);

    test::stop(*process);
    EXPECT_EQ(process->exitCode(), 0);
}
