// The built program's screenshots on the test X server, with and without a window manager: none
// of its own windows is in a picture, whatever it had open when the capture began, the windows it
// took away come back as they were, and the preview of a capture ends up on top of everything.
#include "platform/PixelGrabber.h"
#include "support/OpenboxSession.h"
#include "support/ProcessSession.h"

#include <QImage>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <memory>
#include <optional>
#include <sstream>

using namespace std::chrono_literals;

namespace {

const QRect kScreen(0, 0, 1920, 1080);
const QString kSettings = QStringLiteral("Настройки");

// The screen with no window on it, as the X server shows it, read by this process.
QImage emptyScreen()
{
    test::XDisplayFacts x;
    if (!test::waitUntil([&] { return x.shownRootChildren().isEmpty(); }, 5s))
        return {};
    const auto grabber = platform::PixelGrabber::create();
    return grabber ? grabber->grab(kScreen).convertToFormat(QImage::Format_RGB32) : QImage();
}

// Where two pictures of the same size differ, for the failure message; empty when they do not.
std::string difference(const QImage& actual, const QImage& expected)
{
    if (actual.size() != expected.size())
        return "sizes differ";
    QRect box;
    int pixels = 0;
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y)) {
                ++pixels;
                box |= QRect(x, y, 1, 1);
            }
    if (pixels == 0)
        return {};
    std::ostringstream text;
    text << pixels << " pixels differ within " << box.x() << "," << box.y() << " " << box.width() << "x" << box.height();
    return text.str();
}

// The program without a tray, so its settings window opens at launch, with the area hot key
// ctrl+alt+k and the full-screen one ctrl+alt+j.
class Program {
public:
    explicit Program(bool withWindowManager, const QMap<QString, QString>& environment = {})
        : m_withWindowManager(withWindowManager)
    {
        test::writeFile(session.home() + "/config/Kestrova/Kestrova.conf",
                        "[General]\nscreenshotHotkey=ctrl+alt+k\nfullScreenHotkey=ctrl+alt+j\n");
        process = session.start(environment);
    }
    ~Program() { test::stop(*process); }

    // Launched, hot keys registered, the settings window on the screen.
    ::testing::AssertionResult waitForSettingsWindow()
    {
        if (!waitForCount("Successfully registered fullScreen hotkey: ctrl+alt+j", 1))
            return ::testing::AssertionFailure() << "no hot keys: " << text().toStdString();
        if (!test::waitUntil([] { return test::visibleWindowNamed(kSettings).has_value(); }, 10s))
            return ::testing::AssertionFailure() << "no settings window";
        return ::testing::AssertionSuccess();
    }

    // What the program has written to its console so far.
    QString text()
    {
        m_text += QString::fromUtf8(process->readAll());
        return m_text;
    }
    // Console lines so far that begin with `start`.
    int count(const QString& start)
    {
        int n = 0;
        for (const QString& line : text().split('\n'))
            n += line.startsWith(start);
        return n;
    }
    bool waitForCount(const QString& start, int n, std::chrono::milliseconds timeout = 10s)
    {
        return test::waitUntil([&] { return count(start) >= n; }, timeout);
    }

    // The area hot key, then a drag over `area` once the overlay is up. The overlay takes keyboard
    // and pointer with requests answered before it writes that it is there.
    ::testing::AssertionResult captureArea(const QRect& area)
    {
        const QString overlay = QStringLiteral("ScreenCaptureWindow: Created new capture window");
        const QString captured = QStringLiteral("ScreenCaptureWindow: Calling completion with image: true");
        const int overlays = count(overlay);
        const int images = count(captured);
        if (!test::xdotool({"mousemove", "960", "1000"}) || !test::xdotool({"key", "ctrl+alt+k"}))
            return ::testing::AssertionFailure() << "xdotool";
        if (!waitForCount(overlay, overlays + 1))
            return ::testing::AssertionFailure() << "no overlay: " << text().toStdString();
        if (!test::xdotool(test::xdotoolDrag(area.topLeft(), area.topLeft() + QPoint(area.width(), area.height()))))
            return ::testing::AssertionFailure() << "xdotool drag";
        if (!waitForCount(captured, images + 1))
            return ::testing::AssertionFailure() << "no image: " << text().toStdString();
        return ::testing::AssertionSuccess();
    }

    // The window that has the keyboard: the window manager's word where one runs, else the server's.
    std::optional<quint32> focusedWindow()
    {
        if (m_withWindowManager)
            return test::XDisplayFacts().activeWindow();
        QByteArray id;
        if (!test::xdotool({"getwindowfocus", "-f"}, &id))
            return std::nullopt;
        return quint32(id.trimmed().toULong());
    }

    // Return in the preview of `size`, once the settings window the capture took away is back and
    // the preview has the keyboard; the picture it filed in the history.
    QImage fileWithReturn(const QString& size)
    {
        const QString saved = QStringLiteral("Screenshot saved: ");
        const int before = count(saved);
        std::optional<quint32> preview;
        if (!test::waitUntil([&] {
                return test::visibleWindowNamed(kSettings) && (preview = test::visibleWindowNamed(size))
                    && focusedWindow() == preview;
            }, 10s)) {
            ADD_FAILURE() << "the preview " << size.toStdString() << " does not have the keyboard";
            return {};
        }
        if (!test::xdotool({"key", "Return"}) || !waitForCount(saved, before + 1))
            return {};
        QString name;
        for (const QString& line : text().split('\n'))
            if (line.startsWith(saved))
                name = line.mid(saved.size()).trimmed();
        return QImage(session.home() + "/Pictures/Kestrova/" + name).convertToFormat(QImage::Format_RGB32);
    }

    test::Session session;
    std::unique_ptr<QProcess> process;

private:
    bool m_withWindowManager;
    QString m_text;
};

// Runs `body` once without a window manager and once under openbox.
template <typename Body>
void withAndWithoutWindowManager(Body body)
{
    for (const bool withWindowManager : {false, true}) {
        SCOPED_TRACE(withWindowManager ? "under openbox" : "without a window manager");
        std::optional<test::OpenboxSession> wm;
        if (withWindowManager) {
            wm.emplace();
            if (!wm->isRunning()) {
                ADD_FAILURE() << "openbox did not start";
                continue;
            }
        }
        body(withWindowManager);
    }
}

} // namespace

TEST(CaptureWindowsX11, AFullScreenCaptureOverAnOpenPreviewShowsOnlyTheScreen)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    withAndWithoutWindowManager([](bool withWindowManager) {
        QImage filed;
        {
            Program program(withWindowManager);
            ASSERT_TRUE(program.waitForSettingsWindow());
            // A preview over part of the settings window.
            ASSERT_TRUE(program.captureArea(QRect(300, 200, 400, 300)));
            ASSERT_TRUE(test::waitUntil(
                [] { return test::visibleWindowNamed("400×300") && test::visibleWindowNamed(kSettings); }, 10s));
            const auto preview = test::visibleWindowGeometry("400×300");
            const auto settings = test::visibleWindowGeometry(kSettings);
            ASSERT_TRUE(preview && settings);
            ASSERT_TRUE(preview->intersects(*settings)) << "the preview must cover part of the settings window";

            ASSERT_TRUE(test::xdotool({"key", "ctrl+alt+j"}));
            filed = program.fileWithReturn("1920×1080");
            ASSERT_EQ(filed.size(), kScreen.size()) << program.text().toStdString();
            EXPECT_TRUE(test::waitUntil([] { return test::visibleWindowNamed(kSettings).has_value(); }, 5s));
        }
        // Neither the preview, nor what it left on the settings window, nor the settings window.
        EXPECT_EQ(difference(filed, emptyScreen()), "");
    });
}

TEST(CaptureWindowsX11, WithNothingFocusedTheSettingsWindowStaysOutOfTheNextCapture)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    QImage filed;
    QRect area;
    {
        Program program(false);
        ASSERT_TRUE(program.waitForSettingsWindow());
        const auto settings = test::visibleWindowGeometry(kSettings);
        ASSERT_TRUE(settings);

        // The first preview filed with Return: no window of ours has the focus after it.
        ASSERT_TRUE(program.captureArea(QRect(100, 100, 200, 150)));
        ASSERT_EQ(program.fileWithReturn("200×150").size(), QSize(200, 150));
        ASSERT_TRUE(test::waitUntil(
            [] { return !test::visibleWindowNamed("200×150") && test::visibleWindowNamed(kSettings); }, 5s));

        // The second capture over the whole settings window and some screen around it.
        area = settings->adjusted(-20, -20, 20, 20).intersected(kScreen);
        ASSERT_TRUE(program.captureArea(area));
        filed = program.fileWithReturn(QString("%1×%2").arg(area.width()).arg(area.height()));
        ASSERT_EQ(filed.size(), area.size()) << program.text().toStdString();
        // Back where it was.
        EXPECT_TRUE(test::waitUntil([&] { return test::visibleWindowGeometry(kSettings) == settings; }, 5s));
    }
    EXPECT_EQ(difference(filed, emptyScreen().copy(area)), "");
}

TEST(CaptureWindowsX11, TheAreaHotKeyDuringTheRecordingSetupOpensThePreviewOnTop)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    withAndWithoutWindowManager([](bool withWindowManager) {
        // The development hook selects a recording area a second after launch: veil and setup bar.
        Program program(withWindowManager, {{"KESTROVA_DEBUG_AUTO", "1"}});
        ASSERT_TRUE(program.waitForSettingsWindow());
        ASSERT_TRUE(program.session.waitForLog("RecordingSetupWindowController: window made key and front"))
            << program.session.logText().toStdString();

        ASSERT_TRUE(program.captureArea(QRect(1200, 700, 300, 200)));
        std::optional<quint32> preview;
        ASSERT_TRUE(test::waitUntil([&] { return (preview = test::visibleWindowNamed("300×200")).has_value(); }, 10s));
        // Everything that follows the preview's showing (the windows the capture took away coming
        // back 0.05 s after it, the floating windows raised after a window came forward) is over
        // well within this.
        ASSERT_TRUE(test::waitUntil([] { return test::visibleWindowNamed(kSettings).has_value(); }, 5s));
        test::spin(1s);

        test::XDisplayFacts x;
        const QList<xcb_window_t> stack = x.shownRootChildren();
        ASSERT_FALSE(stack.isEmpty());
        EXPECT_EQ(stack.last(), x.topLevelOf(*preview)) << "the preview is the topmost window on the screen";
        EXPECT_EQ(program.focusedWindow(), preview) << "the preview has the keyboard";
    });
}
