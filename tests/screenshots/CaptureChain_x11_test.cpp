// The pixel capture chain against the test X server: the display methods on injected screen
// lists (Xvfb has one screen, so monitors are carved out of its root), the window-list method
// with a window of another process, and Qt's screen grab.
#include "platform/PixelGrabber.h"
#include "platform/ScreenGeometry.h"
#include "screenshots/CaptureTestSupport.h"
#include "screenshots/ScreenCaptureWindow.h"
#include "support/InjectedScreens.h"
#include "support/PatternWindow.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>

#include <gtest/gtest.h>
#include <xcb/composite.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <unistd.h>

using capturetest::InjectedMethods;
using platform::ScreenGeometry;
using platform::ScreenInfo;
using test::InjectedScreens;
using test::PatternWindow;
using namespace std::chrono_literals;

namespace {

const QRect kRoot(0, 0, 1920, 1080);

QImage rgb(const std::optional<QImage>& image)
{
    return image ? image->convertToFormat(QImage::Format_RGB32) : QImage();
}

// A pattern window shown by a second process (this test binary, running the child test below).
class ForeignPatternWindow {
public:
    ForeignPatternWindow(const QRect& geometry, int seed)
        : m_pattern(PatternWindow::image(geometry.size(), seed))
    {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("KESTROVA_PATTERN_GEOMETRY", QStringLiteral("%1,%2,%3,%4")
                                                    .arg(geometry.x())
                                                    .arg(geometry.y())
                                                    .arg(geometry.width())
                                                    .arg(geometry.height()));
        env.insert("KESTROVA_PATTERN_SEED", QString::number(seed));
        m_process.setProcessEnvironment(env);
        m_process.start(QCoreApplication::applicationFilePath(),
                        {"--gtest_filter=ForeignWindowChild.*", "--gtest_also_run_disabled_tests"});
        m_process.waitForStarted(5000);
        test::waitUntil(
            [&] {
                m_output += m_process.readAllStandardOutput();
                const int at = m_output.indexOf("PATTERN-READY ");
                if (at < 0 || m_output.indexOf('\n', at) < 0)
                    return false;
                const QList<QByteArray> words = m_output.mid(at).split('\n').first().split(' ');
                m_windowId = words.value(1).toUInt();
                return true;
            },
            10s);
    }
    ~ForeignPatternWindow()
    {
        m_process.closeWriteChannel(); // the child exits when its stdin closes
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    quint32 windowId() const { return m_windowId; }
    qint64 pid() const { return m_process.processId(); }
    const QImage& pattern() const { return m_pattern; }

private:
    QImage m_pattern;
    QProcess m_process;
    QByteArray m_output;
    quint32 m_windowId = 0;
};

// Redirects every top-level window into its own pixmap, as a compositing manager does.
class AutomaticRedirection {
public:
    AutomaticRedirection()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        m_ok = !xcb_request_check(m_connection, xcb_composite_redirect_subwindows_checked(
                                                    m_connection, m_root, XCB_COMPOSITE_REDIRECT_AUTOMATIC));
    }
    ~AutomaticRedirection()
    {
        xcb_composite_unredirect_subwindows(m_connection, m_root, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
        xcb_flush(m_connection);
        xcb_disconnect(m_connection);
    }
    bool ok() const { return m_ok; }

private:
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    bool m_ok = false;
};

class CaptureChainX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::haveDisplay());
        grabber = platform::PixelGrabber::create();
        ASSERT_TRUE(grabber);
        background = std::make_unique<PatternWindow>(kRoot);
        background->show();
        ASSERT_TRUE(test::waitUntil([&] { return grabber->grab(kRoot) == background->pattern(); }, 5s));
    }
    const QImage& pattern() const { return background->pattern(); }

    std::unique_ptr<platform::PixelGrabber> grabber;
    std::unique_ptr<PatternWindow> background;
};

} // namespace

TEST(ForeignWindowChild, DISABLED_ShowsAPatternUntilStdinCloses)
{
    const QStringList g = qEnvironmentVariable("KESTROVA_PATTERN_GEOMETRY").split(',');
    ASSERT_EQ(g.size(), 4);
    PatternWindow window(QRect(g[0].toInt(), g[1].toInt(), g[2].toInt(), g[3].toInt()),
                         qEnvironmentVariable("KESTROVA_PATTERN_SEED").toInt());
    window.show();
    test::spin(100ms);
    std::printf("PATTERN-READY %llu\n", static_cast<unsigned long long>(window.winId()));
    std::fflush(stdout);
    // Until the parent closes our stdin (or a safety limit).
    QFile in;
    in.open(stdin, QIODevice::ReadOnly);
    QSocketNotifier notifier(0, QSocketNotifier::Read);
    bool closed = false;
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char byte;
        if (::read(0, &byte, 1) <= 0)
            closed = true;
    });
    test::waitUntil([&] { return closed; }, 60s);
}

TEST_F(CaptureChainX11, DisplayMethodsCropTheRightPixelsOnInjectedMonitors)
{
    // A monitor left of the primary: root (0, 0, 640, 1080) and primary at root (640, 0). Global
    // top-left pixels count from the primary, so the left monitor has negative x.
    const ScreenInfo primary = ScreenGeometry::describe({640, 0, 1280, 1080}, 1.0, true, "primary");
    const ScreenInfo left = ScreenGeometry::describe({0, 0, 640, 1080}, 1.0, false, "left");
    InjectedScreens screens({primary, left});

    const struct {
        ScreenInfo screen;
        QRect global;
        QRect expectedRoot;
    } cases[] = {
        {primary, {10, 20, 100, 50}, {650, 20, 100, 50}},
        {left, {-600, 100, 200, 50}, {40, 100, 200, 50}},
        // Partly on the display: the part on it.
        {left, {-700, 0, 200, 100}, {0, 0, 140, 100}},
        {primary, {1200, 1000, 200, 200}, {1840, 1000, 80, 80}},
    };
    for (const auto& c : cases) {
        const auto direct = ScreenCaptureWindow::captureDisplayDirectly(c.global, c.screen);
        ASSERT_TRUE(direct.has_value()) << c.global.x();
        EXPECT_TRUE(rgb(direct) == pattern().copy(c.expectedRoot)) << c.global.x();
        const auto fallback = ScreenCaptureWindow::fallbackToDisplayCapture(c.global, c.screen);
        ASSERT_TRUE(fallback.has_value());
        EXPECT_TRUE(rgb(fallback) == pattern().copy(c.expectedRoot)) << c.global.x();
        const auto chain = ScreenCaptureWindow::captureScreenRectStatic(c.global, c.screen);
        EXPECT_TRUE(rgb(chain) == pattern().copy(c.expectedRoot));
    }

    // Wholly off the screen: both display methods fail.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ScreenCaptureWindow::captureDisplayDirectly({1300, 0, 10, 10}, primary));
    EXPECT_FALSE(ScreenCaptureWindow::fallbackToDisplayCapture({1300, 0, 10, 10}, primary));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("ScreenCaptureWindow: Crop rect outside of display image bounds\n"), std::string::npos);
    EXPECT_NE(out.find("ScreenCaptureWindow: Failed to crop image with rect (0.0, 0.0, 0.0, 0.0)\n"
                       "ScreenCaptureWindow: Fallback failed to create image\n"),
              std::string::npos);
}

TEST_F(CaptureChainX11, FractionalRatioSelectionReadsTheCoveringPixels)
{
    // 1536 x 864 points at 1.25 cover the whole 1920 x 1080 root.
    const ScreenInfo screen = ScreenGeometry::describe({0, 0, 1536, 864}, 1.25, true, "hidpi");
    InjectedScreens screens({screen});
    const QRect pixels = ScreenCaptureWindow::selectionToGlobalPixels({100, 200, 240, 160}, screen.geometry, screen);
    EXPECT_EQ(pixels, QRect(125, 250, 300, 200));
    const auto image = ScreenCaptureWindow::captureScreenRectStatic(pixels, screen);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->devicePixelRatio(), 1.25);
    EXPECT_EQ(image->deviceIndependentSize(), QSizeF(240, 160));
    EXPECT_TRUE(rgb(image) == pattern().copy(125, 250, 300, 200));

    // Fractional points grow to whole pixels outward.
    const QRect grown = ScreenCaptureWindow::selectionToGlobalPixels({100.3, 200.5, 10, 10}, screen.geometry, screen);
    EXPECT_EQ(grown, QRect(125, 250, 13, 14));
    EXPECT_TRUE(rgb(ScreenCaptureWindow::captureScreenRectStatic(grown, screen)) == pattern().copy(grown));
}

TEST_F(CaptureChainX11, UnnamedScreenFallsThroughToTheWindowMethods)
{
    ScreenInfo unnamed = ScreenGeometry::describe(kRoot, 1.0, true, QString());
    InjectedScreens screens({unnamed});
    testing::internal::CaptureStdout();
    const auto image = ScreenCaptureWindow::captureScreenRectStatic({30, 40, 64, 32}, unnamed);
    const std::string out = testing::internal::GetCapturedStdout();
    // Only this process's windows are on screen: method 3 finds nothing, method 4 reads the screen.
    for (const char* line : {"ScreenCaptureWindow: Could not get display ID\n",
                             "ScreenCaptureWindow: Failed to get display ID\n",
                             "ScreenCaptureWindow: No suitable windows found for exclusion capture\n",
                             "ScreenCaptureWindow: Trying CGWindowListCreateImage with all visible windows\n",
                             "ScreenCaptureWindow: Successfully captured all windows image of size 64x32\n",
                             "ScreenCaptureWindow: SUCCESS - created image of size (64.0, 32.0)\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    EXPECT_NE(out.find("ScreenCaptureWindow: Excluding our app window " + std::to_string(background->winId())),
              std::string::npos);
    EXPECT_TRUE(rgb(image) == pattern().copy(30, 40, 64, 32));
}

TEST_F(CaptureChainX11, AllVisibleWindowsMethodReadsTheScreen)
{
    const ScreenInfo screen = *ScreenGeometry::primaryScreen();
    for (const QRect& rect : {QRect(0, 0, 1920, 1080), QRect(1, 2, 3, 4), QRect(1900, 1070, 20, 10)}) {
        const auto image = ScreenCaptureWindow::captureAllVisibleWindows(rect, screen);
        ASSERT_TRUE(image);
        EXPECT_TRUE(rgb(image) == pattern().copy(rect)) << rect.x();
    }
}

TEST_F(CaptureChainX11, ExcludingOurAppComposesOnlyOtherProcessesWindows)
{
    const QRect foreignArea(200, 100, 400, 300);
    ForeignPatternWindow foreign(foreignArea, 1);
    ASSERT_NE(foreign.windowId(), 0u);
    ASSERT_TRUE(test::waitUntil([&] { return grabber->grab(foreignArea) == foreign.pattern(); }, 5s));

    testing::internal::CaptureStdout();
    const QRect area(150, 50, 300, 200); // partly over our background, partly over the foreign window
    const auto image = ScreenCaptureWindow::captureExcludingOurApp(area, static_cast<qint32>(QCoreApplication::applicationPid()));
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(image);
    EXPECT_NE(out.find("Excluding our app window " + std::to_string(background->winId())), std::string::npos) << out;
    EXPECT_NE(out.find("Including window " + std::to_string(foreign.windowId()) + " from PID " + std::to_string(foreign.pid())),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Created composite image excluding our app with 1 windows"), std::string::npos);
    // Our own background is left out (black); the foreign window is there, pixel for pixel.
    const QImage got = rgb(image);
    ASSERT_EQ(got.size(), area.size());
    EXPECT_TRUE(got.copy(50, 50, 250, 150) == foreign.pattern().copy(0, 0, 250, 150));
    EXPECT_EQ(got.pixel(10, 10), qRgb(0, 0, 0));
    EXPECT_EQ(got.pixel(60, 10), qRgb(0, 0, 0));

    // An area that only our windows cover: method 3 has nothing to offer.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ScreenCaptureWindow::captureExcludingOurApp({1000, 600, 50, 50},
                                                              static_cast<qint32>(QCoreApplication::applicationPid())));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("No suitable windows found for exclusion capture"),
              std::string::npos);
}

TEST_F(CaptureChainX11, RedirectedWindowsAreReadWholeUnderOurOwnWindows)
{
    AutomaticRedirection redirection;
    ASSERT_TRUE(redirection.ok());
    const QRect foreignArea(300, 300, 200, 150);
    ForeignPatternWindow foreign(foreignArea, 2);
    ASSERT_TRUE(test::waitUntil([&] { return grabber->grab(foreignArea) == foreign.pattern(); }, 5s));
    // Our window covers part of the foreign one.
    PatternWindow cover(QRect(350, 320, 100, 60), 3);
    cover.show();
    ASSERT_TRUE(test::waitUntil([&] { return grabber->grab(QRect(350, 320, 100, 60)) == cover.pattern(); }, 5s));

    const auto image = ScreenCaptureWindow::captureExcludingOurApp(foreignArea, static_cast<qint32>(QCoreApplication::applicationPid()));
    ASSERT_TRUE(image);
    EXPECT_TRUE(rgb(image) == foreign.pattern());
}

TEST_F(CaptureChainX11, ChainFallsToTheWindowMethodsWhenTheDisplayMethodsFail)
{
    const QRect foreignArea(600, 500, 320, 200);
    ForeignPatternWindow foreign(foreignArea, 4);
    ASSERT_TRUE(test::waitUntil([&] { return grabber->grab(foreignArea) == foreign.pattern(); }, 5s));
    auto methods = ScreenCaptureWindow::defaultCaptureMethods();
    methods.direct = [](const QRect&, const std::optional<ScreenInfo>&) { return std::optional<QImage>(); };
    methods.fallback = methods.direct;
    InjectedMethods injected(methods);

    // Over the foreign window: method 3 wins.
    EXPECT_TRUE(rgb(ScreenCaptureWindow::captureScreenRectStatic(foreignArea.adjusted(10, 10, -10, -10), std::nullopt))
                == foreign.pattern().copy(10, 10, 300, 180));
    // Over our own windows only: method 4 reads what the screen shows.
    testing::internal::CaptureStdout();
    const auto image = ScreenCaptureWindow::captureScreenRectStatic({10, 10, 50, 40}, std::nullopt);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(rgb(image) == pattern().copy(10, 10, 50, 40));
    EXPECT_NE(out.find("SUCCESS - created image of size (50.0, 40.0)"), std::string::npos);
}
