// The real overlay and the real capture chain on the test X server (one 1920x1080 screen, no
// window manager, no compositing manager), driven with xdotool.
#include "app/PermissionsManager.h"
#include "platform/Application.h"
#include "platform/CompositingManager.h"
#include "platform/PixelGrabber.h"
#include "platform/ScreenAccess.h"
#include "platform/ScreenGeometry.h"
#include "screenshots/CaptureOverlayView.h"
#include "screenshots/ScreenCapture.h"
#include "screenshots/ScreenCaptureWindow.h"
#include "support/OpenboxSession.h"
#include "support/PatternWindow.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

using test::PatternWindow;
using namespace std::chrono_literals;

namespace {

const QRect kScreen(0, 0, 1920, 1080);

ScreenCaptureWindow* openOverlay()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<ScreenCaptureWindow*>(widget); window && window->isVisible() && !window->isCompleted())
            return window;
    return nullptr;
}

QStringList drag(QPoint from, QPoint to)
{
    const QPoint mid = (from + to) / 2;
    return {"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown", "1",
            "mousemove", QString::number(mid.x()), QString::number(mid.y()),
            "mousemove", QString::number(to.x()), QString::number(to.y()), "mouseup", "1"};
}

// Claims the compositing manager's selection, as a compositing manager would on start.
class CompositingManagerStandIn {
public:
    CompositingManagerStandIn()
    {
        int screen = 0;
        m_connection = xcb_connect(nullptr, &screen);
        const xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, root->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
        auto* atom = xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, name.size(), name.c_str()), nullptr);
        xcb_set_selection_owner(m_connection, m_window, atom->atom, XCB_CURRENT_TIME);
        std::free(atom);
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }
    ~CompositingManagerStandIn() { xcb_disconnect(m_connection); } // the selection goes with the window

private:
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_window = 0;
};

// Two monitors carved out of the root with RandR for the length of a test: 1366 x 768 at the
// root's origin and 554 x 768 to its right. At a ratio of 1.5 the first is 911 points wide, which
// times 1.5 is 1366.5: only the monitor itself says where its pixels end.
class ScaledMonitors {
public:
    static constexpr const char* kLeft = "kestrova-left";
    static constexpr const char* kRight = "kestrova-right";
    static inline const QRect kLeftPixels{0, 0, 1366, 768};
    static inline const QRect kRightPixels{1366, 0, 554, 768};

    ScaledMonitors()
    {
        m_ok = xrandr({"--setmonitor", kLeft, "1366/361x768/203+0+0", "none"})
            && xrandr({"--setmonitor", kRight, "554/146x768/203+1366+0", "none"});
    }
    ~ScaledMonitors()
    {
        xrandr({"--delmonitor", kLeft});
        xrandr({"--delmonitor", kRight});
    }
    bool ok() const { return m_ok; }

private:
    static bool xrandr(const QStringList& arguments)
    {
        const auto result = test::run(QStringLiteral("/usr/bin/xrandr"), arguments, 10s);
        return result.finished && result.exitCode == 0;
    }
    bool m_ok = false;
};

// Runs this test binary's `filter` in a child process with `environment` added, while the event
// loop keeps running here (our pattern window must stay painted); its output and exit code.
test::ProcessResult runChild(const QString& filter, const QMap<QString, QString>& environment)
{
    QProcess process;
    auto env = QProcessEnvironment::systemEnvironment();
    for (auto it = environment.begin(); it != environment.end(); ++it)
        env.insert(it.key(), it.value());
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=" + filter, "--gtest_also_run_disabled_tests"});
    test::ProcessResult result;
    if (!process.waitForStarted(5000))
        return result;
    result.finished = test::waitUntil([&] { return process.state() == QProcess::NotRunning; }, 30s);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(2000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = process.readAll();
    return result;
}

class ScreenCaptureX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::haveDisplay());
        grabber = platform::PixelGrabber::create();
        ASSERT_TRUE(grabber);
        background = std::make_unique<PatternWindow>(kScreen);
        // It stands for the screen the user captures, not for a window of ours.
        platform::Application::keepDuringCaptures(background.get());
        background->show();
        ASSERT_TRUE(test::waitUntil([&] { return grabber->grab(kScreen) == background->pattern(); }, 5s));
        capture.permissionsManager = &permissions;
        // Park the pointer where no drag starts.
        ASSERT_TRUE(test::xdotool({"mousemove", "960", "540"}));
    }
    void TearDown() override
    {
        // No overlay may outlive its test.
        test::waitUntil([] { return openOverlay() == nullptr; }, 2s);
        EXPECT_EQ(openOverlay(), nullptr);
    }

    // Starts an area capture and waits until the overlay holds keyboard and mouse.
    ScreenCaptureWindow* startAreaCapture()
    {
        capture.captureScreen([this](std::optional<QImage> image) {
            ++calls;
            result = std::move(image);
        });
        ScreenCaptureWindow* window = nullptr;
        test::waitUntil([&] { return (window = openOverlay()) && window->hasInputGrabs(); }, 5s);
        return window && window->hasInputGrabs() ? window : nullptr;
    }

    std::unique_ptr<platform::PixelGrabber> grabber;
    std::unique_ptr<PatternWindow> background;
    PermissionsManager permissions;
    ScreenCapture capture;
    int calls = 0;
    std::optional<QImage> result;
};

} // namespace

TEST_F(ScreenCaptureX11, DragCapturesTheExactPixelsWithoutVeilOrOutline)
{
    const struct {
        QPoint from, to;
        QRect expected;
    } cases[] = {
        {{100, 200}, {400, 500}, {100, 200, 300, 300}},
        // Up and to the left from the start: the same rectangle.
        {{400, 500}, {100, 200}, {100, 200, 300, 300}},
        // Reaching the screen's last row and column.
        {{1800, 1000}, {1919, 1079}, {1800, 1000, 119, 79}},
        {{0, 0}, {7, 6}, {0, 0, 7, 6}},
    };
    for (const auto& c : cases) {
        calls = 0;
        result.reset();
        ScreenCaptureWindow* window = startAreaCapture();
        ASSERT_TRUE(window);
        EXPECT_TRUE(capture.isCapturing());
        EXPECT_EQ(window->frame(), kScreen);
        EXPECT_TRUE(window->overlayView()->hasFrozenBackground()); // no compositing manager here

        ASSERT_TRUE(test::xdotool(drag(c.from, c.to)));
        ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }, 5s));
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->devicePixelRatio(), 1.0);
        ASSERT_EQ(result->size(), c.expected.size());
        EXPECT_TRUE(result->convertToFormat(QImage::Format_RGB32) == background->pattern().copy(c.expected))
            << c.expected.x() << "," << c.expected.y();
        test::spin(150ms);
        EXPECT_EQ(calls, 1);
        EXPECT_FALSE(capture.isCapturing());
    }
}

TEST_F(ScreenCaptureX11, OverlayVeilsAFrozenPictureOfTheScreen)
{
    ScreenCaptureWindow* window = startAreaCapture();
    ASSERT_TRUE(window);
    // Away from the hint, the screen shows the pattern darkened by the 30 % veil.
    QImage shown;
    const QRect corner(20, 20, 4, 4);
    const QRgb original = background->pattern().pixel(21, 21);
    ASSERT_TRUE(test::waitUntil(
        [&] {
            shown = grabber->grab(corner);
            return qRed(shown.pixel(1, 1)) != qRed(original) || qGreen(shown.pixel(1, 1)) != qGreen(original);
        },
        3s));
    const QRgb veiled = shown.pixel(1, 1);
    EXPECT_NEAR(qRed(veiled), qRed(original) * 0.7, 2);
    EXPECT_NEAR(qGreen(veiled), qGreen(original) * 0.7, 2);
    EXPECT_NEAR(qBlue(veiled), qBlue(original) * 0.7, 2);
    // The hint pill in the middle is darker still.
    const QRgb middle = grabber->grab(QRect(960 - 150, 540 - 2, 1, 1)).pixel(0, 0);
    EXPECT_LT(qRed(middle), qRed(background->pattern().pixel(960 - 150, 540 - 2)) * 0.7 - 10);

    ASSERT_TRUE(test::xdotool({"key", "Escape"}));
    ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }, 5s));
    EXPECT_FALSE(result.has_value());
}

TEST_F(ScreenCaptureX11, EscapeAndTinyDragsGiveNothing)
{
    const QList<QStringList> gestures = {
        {"key", "Escape"},
        drag({50, 50}, {53, 53}),
        drag({50, 50}, {55, 300}), // exactly 5 wide
        {"mousemove", "70", "70", "click", "1"},
    };
    for (const QStringList& gesture : gestures) {
        calls = 0;
        result.reset();
        ASSERT_TRUE(startAreaCapture()) << gesture.join(' ').toStdString();
        ASSERT_TRUE(test::xdotool(gesture));
        ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }, 5s)) << gesture.join(' ').toStdString();
        EXPECT_FALSE(result.has_value()) << gesture.join(' ').toStdString();
        test::spin(100ms);
        EXPECT_EQ(calls, 1);
        EXPECT_FALSE(capture.isCapturing());
        test::waitUntil([] { return openOverlay() == nullptr; }, 2s);
    }
}

TEST_F(ScreenCaptureX11, SecondRequestWhileTheOverlayIsUpIsRefused)
{
    ASSERT_TRUE(startAreaCapture());
    int secondCalls = 0;
    capture.captureScreen([&](std::optional<QImage>) { ++secondCalls; });
    capture.captureFullScreen([&](std::optional<QImage>) { ++secondCalls; });
    int overlays = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        overlays += qobject_cast<ScreenCaptureWindow*>(widget) && widget->isVisible();
    EXPECT_EQ(overlays, 1);

    ASSERT_TRUE(test::xdotool(drag({300, 300}, {340, 330})));
    ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }, 5s));
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->convertToFormat(QImage::Format_RGB32) == background->pattern().copy(300, 300, 40, 30));
    test::spin(100ms);
    EXPECT_EQ(secondCalls, 0);
}

TEST_F(ScreenCaptureX11, OurWindowsComeBackInTheirStackingAndPlacesWithTheFocusedOneActive)
{
    for (const bool withWindowManager : {false, true}) {
        SCOPED_TRACE(withWindowManager ? "under openbox" : "without a window manager");
        std::optional<test::OpenboxSession> wm;
        if (withWindowManager) {
            wm.emplace();
            ASSERT_TRUE(wm->isRunning());
        }
        test::XDisplayFacts x;
        // Three overlapping windows, the middle one focused.
        std::vector<std::unique_ptr<QWidget>> windows;
        for (int i = 0; i < 3; ++i) {
            windows.push_back(std::make_unique<QWidget>());
            windows.back()->setGeometry(300 + 150 * i, 200 + 100 * i, 400, 300);
            windows.back()->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(windows.back().get()));
        }
        windows[1]->activateWindow();
        ASSERT_TRUE(test::waitUntil([&] { return QApplication::activeWindow() == windows[1].get(); }, 5s));
        // Which is above which; under a window manager the focused one has come to the top.
        auto ranks = [&] {
            QList<int> stacking;
            for (const auto& window : windows)
                stacking.append(x.stackingIndex(window.get()));
            QList<int> rank;
            for (int index : stacking)
                rank.append(int(std::count_if(stacking.begin(), stacking.end(), [index](int other) { return other < index; })));
            return rank;
        };
        QList<int> before;
        ASSERT_TRUE(test::waitUntil([&] { return !(before = ranks()).contains(-1); }, 5s));
        QList<QRect> places;
        for (const auto& window : windows)
            places.append(window->geometry());

        ASSERT_TRUE(startAreaCapture());
        for (const auto& window : windows)
            EXPECT_FALSE(window->isVisible());
        ASSERT_TRUE(test::xdotool({"key", "Escape"}));
        ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }, 5s));
        calls = 0;
        ASSERT_TRUE(test::waitUntil([&] { return QApplication::activeWindow() == windows[1].get(); }, 5s));
        EXPECT_TRUE(test::waitUntil([&] { return ranks() == before; }, 5s)) << "stacking changed";
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(windows[i]->geometry(), places[i]) << i;
    }
}

TEST_F(ScreenCaptureX11, FullScreenCaptureIsTheWholeScreenAtOnce)
{
    bool called = false;
    capture.captureFullScreen([&](std::optional<QImage> image) {
        called = true;
        result = std::move(image);
    });
    ASSERT_TRUE(called); // permission present: before the call returns
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->convertToFormat(QImage::Format_RGB32) == background->pattern());
    EXPECT_FALSE(capture.isCapturing());
    EXPECT_EQ(openOverlay(), nullptr);
}

TEST_F(ScreenCaptureX11, WithACompositingManagerTheOverlayIsTranslucent)
{
    EXPECT_FALSE(platform::CompositingManager::isRunning());
    {
        CompositingManagerStandIn compositor;
        EXPECT_TRUE(platform::CompositingManager::isRunning());
        ScreenCaptureWindow* window = startAreaCapture();
        ASSERT_TRUE(window);
        EXPECT_FALSE(window->overlayView()->hasFrozenBackground());
        EXPECT_TRUE(window->testAttribute(Qt::WA_TranslucentBackground));
        // The image is still read from the display once the overlay is gone.
        ASSERT_TRUE(test::xdotool(drag({500, 600}, {620, 700})));
        ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }, 5s));
        ASSERT_TRUE(result.has_value());
        EXPECT_TRUE(result->convertToFormat(QImage::Format_RGB32) == background->pattern().copy(500, 600, 120, 100));
    }
    EXPECT_TRUE(test::waitUntil([] { return !platform::CompositingManager::isRunning(); }, 2s));
}

TEST_F(ScreenCaptureX11, FractionallyScaledMonitorsAreCapturedToTheirExactPixels)
{
    ScaledMonitors monitors;
    ASSERT_TRUE(monitors.ok());
    const auto child = runChild("ScaledMonitorsChild.*", {{"QT_SCALE_FACTOR", "1.5"}});
    EXPECT_TRUE(child.finished);
    EXPECT_EQ(child.exitCode, 0) << child.output.toStdString();
}

// Runs in a child at a ratio of 1.5 while ScaledMonitors exist and the parent shows the pattern.
TEST(ScaledMonitorsChild, DISABLED_CapturesTheMonitorsPixels)
{
    const QImage pattern = PatternWindow::image(kScreen.size());
    std::optional<platform::ScreenInfo> left, right;
    for (const platform::ScreenInfo& screen : platform::ScreenGeometry::screens()) {
        if (screen.name == QLatin1String(ScaledMonitors::kLeft))
            left = screen;
        if (screen.name == QLatin1String(ScaledMonitors::kRight))
            right = screen;
    }
    ASSERT_TRUE(left && right);
    EXPECT_EQ(left->devicePixelRatio, 1.5);
    EXPECT_EQ(left->geometry.size(), QSize(911, 512));
    EXPECT_EQ(left->nativeGeometry, ScaledMonitors::kLeftPixels);
    EXPECT_EQ(right->nativeGeometry, ScaledMonitors::kRightPixels);
    const QPoint origin = platform::ScreenGeometry::primaryNativeOrigin();

    // The whole monitor through the chain, and the whole overlay as a selection.
    const QRect whole = ScreenCaptureWindow::screenToGlobalPixels(*left);
    EXPECT_EQ(whole, ScaledMonitors::kLeftPixels.translated(-origin));
    const auto image = ScreenCaptureWindow::captureScreenRectStatic(whole, left);
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->convertToFormat(QImage::Format_RGB32) == pattern.copy(ScaledMonitors::kLeftPixels));
    EXPECT_EQ(ScreenCaptureWindow::selectionToGlobalPixels(QRectF(QPointF(0, 0), left->geometry.size()), left->geometry, *left),
              whole);

    // Qt's screen grab on the monitor right of the root's origin.
    const QRect onRight(1400, 100, 100, 50);
    const auto grabbed = ScreenCaptureWindow::captureAllVisibleWindows(onRight.translated(-origin), *right);
    ASSERT_TRUE(grabbed);
    EXPECT_TRUE(*grabbed == pattern.copy(onRight));
    // Partly beyond the monitor and the root: the part on it, black elsewhere.
    const QRect overEdge(1900, 700, 40, 100);
    const auto edge = ScreenCaptureWindow::captureAllVisibleWindows(overEdge.translated(-origin), *right);
    ASSERT_TRUE(edge);
    ASSERT_EQ(edge->size(), overEdge.size());
    EXPECT_TRUE(edge->copy(0, 0, 20, 68) == pattern.copy(1900, 700, 20, 68));
    EXPECT_EQ(edge->pixel(30, 10), qRgb(0, 0, 0));
    EXPECT_EQ(edge->pixel(10, 80), qRgb(0, 0, 0));
}
