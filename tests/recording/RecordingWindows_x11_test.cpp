// The recording windows on the test X server (1920x1080, no window manager, no compositing manager),
// read back from the screen: the selection veil paints a frozen picture, the frame and the click
// rings are shaped so nothing else of the screen changes, and the panel and controls take real input.
#include "platform/PixelGrabber.h"
#include "platform/SystemColors.h"
#include "recording/ClickIndicatorOverlay.h"
#include "recording/ClickIndicatorView.h"
#include "recording/RecordingControlsView.h"
#include "recording/RecordingControlsWindow.h"
#include "recording/RecordingFrameView.h"
#include "recording/RecordingFrameWindow.h"
#include "recording/RecordingSetupView.h"
#include "recording/RecordingSetupWindowController.h"
#include "recording/ScreenBackdrop.h"
#include "recording/ScreenRecordingSelectionWindow.h"
#include "recording/SelectionOverlayView.h"
#include "support/PatternWindow.h"
#include "support/TestSupport.h"

#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QRect kScreen(0, 0, 1920, 1080);

class Delegate : public QObject, public ScreenRecordingSelectionDelegate {
public:
    void screenRecordingSelectionDidFinish(std::optional<QRectF> rect) override { reports.push_back(rect); }
    std::vector<std::optional<QRectF>> reports;
};

QString n(double v)
{
    return QString::number(v);
}

// The pattern darkened by the 30 % veil.
QRgb veiled(QRgb p)
{
    return qRgb(qRound(qRed(p) * 0.7), qRound(qGreen(p) * 0.7), qRound(qBlue(p) * 0.7));
}

bool near(QRgb a, QRgb b, int tolerance = 2)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
        && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

class RecordingWindowsX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::haveDisplay());
        ASSERT_FALSE(ScreenBackdrop::compositingAvailable()) << "the test display has no compositing manager";
        grabber = platform::PixelGrabber::create();
        ASSERT_TRUE(grabber);
        // Clicks pass through it, as through another program's window.
        background = std::make_unique<test::PatternWindow>(kScreen, 3);
        background->setWindowFlag(Qt::WindowTransparentForInput);
        background->show();
        ASSERT_TRUE(test::waitUntil([&] { return screen() == background->pattern(); }, 5s));
        ASSERT_TRUE(test::xdotool({"mousemove", "1900", "1060"}));
    }
    void TearDown() override { ScreenBackdrop::setCompositingForTesting(std::nullopt); }

    QImage screen() { return grabber->grab(kScreen); }
    // Pixels of the screen that differ from the pattern outside `allowed`.
    int changedOutside(const QImage& shot, const QRegion& allowed)
    {
        int changed = 0;
        const QImage& pattern = background->pattern();
        for (int y = 0; y < shot.height(); ++y) {
            const auto* a = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
            const auto* b = reinterpret_cast<const QRgb*>(pattern.constScanLine(y));
            for (int x = 0; x < shot.width(); ++x)
                if ((a[x] & 0xffffff) != (b[x] & 0xffffff) && !allowed.contains(QPoint(x, y)))
                    ++changed;
        }
        return changed;
    }

    std::unique_ptr<platform::PixelGrabber> grabber;
    std::unique_ptr<test::PatternWindow> background;
};

} // namespace

TEST_F(RecordingWindowsX11, TheSelectionVeilIsAFrozenPictureAndADragReportsTheArea)
{
    Delegate delegate;
    auto window = std::make_unique<ScreenRecordingSelectionWindow>();
    window->setSelectionDelegate(&delegate);
    ASSERT_TRUE(test::waitUntil([&] { return window->hasInputGrabs(); }, 3s));
    EXPECT_TRUE(window->selectionView()->hasFrozenBackground());
    // The screen shows the veil over the picture: darker, never black.
    QImage shot;
    ASSERT_TRUE(test::waitUntil([&] {
        shot = screen();
        return near(shot.pixel(300, 300), veiled(background->pattern().pixel(300, 300)));
    }, 3s));
    for (const QPoint p : {QPoint(10, 10), QPoint(1800, 900), QPoint(1500, 200)})
        EXPECT_TRUE(near(shot.pixel(p), veiled(background->pattern().pixel(p)))) << p.x() << "," << p.y();

    ASSERT_TRUE(test::xdotool({"mousemove", "100", "200", "mousedown", "1", "mousemove", "250", "350", "mousemove", "400", "500"}));
    // While dragging the hole shows the picture as it is.
    ASSERT_TRUE(test::waitUntil([&] { return near(screen().pixel(250, 350), background->pattern().pixel(250, 350)); }, 3s));
    ASSERT_TRUE(test::xdotool({"mouseup", "1"}));
    ASSERT_TRUE(test::waitUntil([&] { return !delegate.reports.empty(); }, 3s));
    test::spin(100ms);
    ASSERT_EQ(delegate.reports.size(), 1u);
    EXPECT_EQ(delegate.reports.front(), QRectF(100, 200, 300, 300));
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->hasInputGrabs());
    EXPECT_TRUE(test::waitUntil([&] { return screen() == background->pattern(); }, 3s));
}

TEST_F(RecordingWindowsX11, EscapeOnTheGrabbedKeyboardCancels)
{
    Delegate delegate;
    ScreenRecordingSelectionWindow window;
    window.setSelectionDelegate(&delegate);
    ASSERT_TRUE(test::waitUntil([&] { return window.hasInputGrabs(); }, 3s));
    ASSERT_TRUE(test::xdotool({"key", "Escape"}));
    ASSERT_TRUE(test::waitUntil([&] { return !delegate.reports.empty(); }, 3s));
    EXPECT_FALSE(delegate.reports.front().has_value());
    EXPECT_TRUE(test::waitUntil([&] { return screen() == background->pattern(); }, 3s));
}

TEST_F(RecordingWindowsX11, ANewSelectionWindowKeepsTheInputWhenTheOldOneGoes)
{
    Delegate first;
    Delegate second;
    auto old = std::make_unique<ScreenRecordingSelectionWindow>();
    old->setSelectionDelegate(&first);
    ASSERT_TRUE(test::waitUntil([&] { return old->hasInputGrabs(); }, 3s));
    // As the flow replaces it: closed, then dropped after the new one has taken the input.
    old->hide();
    EXPECT_FALSE(old->hasInputGrabs());
    ScreenRecordingSelectionWindow current;
    current.setSelectionDelegate(&second);
    ASSERT_TRUE(test::waitUntil([&] { return current.hasInputGrabs(); }, 3s));
    old.reset();
    ASSERT_TRUE(test::xdotool({"key", "Escape"}));
    ASSERT_TRUE(test::waitUntil([&] { return !second.reports.empty(); }, 3s));
    EXPECT_FALSE(second.reports.front().has_value());
    EXPECT_TRUE(first.reports.empty());
}

TEST_F(RecordingWindowsX11, WithACompositingManagerTheOverlaysAreTranslucent)
{
    ScreenBackdrop::setCompositingForTesting(true);
    ScreenRecordingSelectionWindow selection;
    EXPECT_FALSE(selection.selectionView()->hasFrozenBackground());
    EXPECT_TRUE(selection.testAttribute(Qt::WA_TranslucentBackground));
    RecordingFrameWindow frame(QRectF(100, 100, 300, 200));
    EXPECT_FALSE(frame.isShaped());
    EXPECT_TRUE(frame.testAttribute(Qt::WA_TranslucentBackground));
    ClickIndicatorOverlay clicks;
    EXPECT_FALSE(clicks.isShaped());
    EXPECT_FALSE(clicks.clickIndicatorView()->isOpaque());
    RecordingControlsWindow controls([] {});
    EXPECT_TRUE(controls.isTranslucent());
}

TEST_F(RecordingWindowsX11, TheFrameWindowChangesOnlyTheFrameAndTheBadge)
{
    const QRectF area(300, 200, 640, 480);
    RecordingFrameWindow frame(area);
    EXPECT_TRUE(frame.isShaped());
    EXPECT_EQ(frame.level(), 1000);
    EXPECT_TRUE(frame.isVisible());
    const QRegion painted = frame.frameView()->paintedRegion();
    QImage shot;
    ASSERT_TRUE(test::waitUntil([&] {
        shot = screen();
        return QColor(shot.pixel(299, 400)) == QColor(Qt::red);
    }, 3s));
    EXPECT_EQ(changedOutside(shot, painted), 0);
    EXPECT_EQ(QColor(shot.pixel(297, 400)), QColor(Qt::red));
    EXPECT_EQ(QColor(shot.pixel(940, 400)), QColor(Qt::red));
    EXPECT_EQ(QColor(shot.pixel(942, 400)), QColor(Qt::red));
    // Inside, up to the area's edge pixels: untouched.
    for (const QPoint p : {QPoint(600, 400), QPoint(300, 400), QPoint(939, 400), QPoint(600, 200), QPoint(600, 679)})
        EXPECT_EQ(shot.pixel(p), background->pattern().pixel(p)) << p.x() << "," << p.y();
    const QRect badge = frame.frameView()->badgeRect().toAlignedRect();
    EXPECT_EQ(badge.top(), 690);
    EXPECT_EQ(QColor(shot.pixel(badge.left() + 1, badge.top() + 1)), QColor(Qt::black));
    // Clicks go through it.
    EXPECT_TRUE(frame.windowFlags().testFlag(Qt::WindowTransparentForInput));
    frame.hide();
    EXPECT_TRUE(test::waitUntil([&] { return screen() == background->pattern(); }, 3s));
}

TEST_F(RecordingWindowsX11, ClickRingsAreShapedAndOurOwnWindowsShowNone)
{
    ClickIndicatorOverlay overlay;
    ASSERT_TRUE(overlay.isMonitoring());
    overlay.show();
    test::spin(200ms);
    EXPECT_TRUE(screen() == background->pattern()); // no ring, no pixel changed

    // A click on one of our own windows shows no ring.
    QWidget own(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    own.setGeometry(1600, 100, 60, 60);
    own.show();
    test::spin(200ms);
    ASSERT_TRUE(test::xdotool({"mousemove", "1620", "120", "click", "1"}));
    test::spin(200ms);
    EXPECT_TRUE(overlay.clickIndicatorView()->clicks().isEmpty());
    own.hide();

    ASSERT_TRUE(test::xdotool({"mousemove", "700", "500", "click", "3"}));
    ASSERT_TRUE(test::waitUntil([&] { return !overlay.clickIndicatorView()->clicks().isEmpty(); }, 2s));
    EXPECT_EQ(overlay.clickIndicatorView()->clicks().front().position, QPointF(700, 500));
    QImage shot;
    const QRgb blue = platform::SystemColors::blue().rgb();
    ASSERT_TRUE(test::waitUntil([&] {
        shot = screen();
        for (int x = 705; x < 725; ++x)
            if (shot.pixel(x, 500) == blue)
                return true;
        return false;
    }, 1s));
    // Only the ring's own pixels changed, and none of them is black.
    EXPECT_EQ(changedOutside(shot, QRegion(QRect(676, 476, 49, 49))), 0);
    for (int x = 676; x < 725; ++x)
        EXPECT_TRUE(shot.pixel(x, 500) == blue || shot.pixel(x, 500) == background->pattern().pixel(x, 500)) << x;
    EXPECT_TRUE(test::waitUntil([&] { return overlay.clickIndicatorView()->clicks().isEmpty(); }, 1s));
    EXPECT_TRUE(test::waitUntil([&] { return screen() == background->pattern(); }, 2s));
}

TEST_F(RecordingWindowsX11, TheSetupPanelTakesTheKeyboardOverItsVeil)
{
    std::vector<RecordingSettings> started;
    int cancelled = 0;
    const QRectF area(400, 300, 600, 400);
    RecordingSetupWindowController controller(area, [&](const RecordingSettings& s) { started.push_back(s); },
                                              [&] { ++cancelled; });
    controller.present();
    QWidget* panel = controller.window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    EXPECT_EQ(panel->geometry(), QRect(540, 720, 320, 48));
    EXPECT_TRUE(controller.selectionOverlayView()->hasFrozenBackground());
    QImage shot;
    ASSERT_TRUE(test::waitUntil([&] {
        shot = screen();
        return near(shot.pixel(100, 100), veiled(background->pattern().pixel(100, 100)));
    }, 3s));
    EXPECT_TRUE(near(shot.pixel(700, 500), background->pattern().pixel(700, 500))); // the area stays clear

    // Toggle the microphone with a real click, then Return.
    QToolButton* microphone = controller.setupView()->microphoneButton();
    const QPoint at = microphone->mapToGlobal(microphone->rect().center());
    ASSERT_TRUE(test::xdotool({"mousemove", n(at.x()), n(at.y()), "click", "1"}));
    ASSERT_TRUE(test::waitUntil([&] { return controller.setupView()->settings().recordMicrophone; }, 2s));
    ASSERT_TRUE(test::xdotool({"key", "Return"}));
    ASSERT_TRUE(test::waitUntil([&] { return !started.empty(); }, 2s));
    EXPECT_EQ(started.front(), (RecordingSettings{true, false, false}));
    ASSERT_TRUE(test::xdotool({"key", "Escape"}));
    ASSERT_TRUE(test::waitUntil([&] { return cancelled == 1; }, 2s));

    controller.close();
    EXPECT_TRUE(test::waitUntil([&] { return screen() == background->pattern(); }, 3s));
}

TEST_F(RecordingWindowsX11, TheStopButtonTakesOneClick)
{
    int stops = 0;
    RecordingControlsWindow window([&] { ++stops; });
    window.setGeometry(QRect(QPoint(520, 110), RecordingControlsWindow::kSize));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QToolButton* stop = window.controlsView()->stopButton();
    const QPoint at = stop->mapToGlobal(stop->rect().center());
    ASSERT_TRUE(test::xdotool({"mousemove", n(at.x()), n(at.y()), "click", "1"}));
    ASSERT_TRUE(test::waitUntil([&] { return stops == 1; }, 2s));
    ASSERT_TRUE(test::xdotool({"click", "1"}));
    test::spin(200ms);
    EXPECT_EQ(stops, 1);
    // Dragging the background moves the window.
    ASSERT_TRUE(test::xdotool({"mousemove", "526", "116", "mousedown", "1", "mousemove", "600", "300", "mousemove", "626", "316",
                         "mouseup", "1"}));
    EXPECT_TRUE(test::waitUntil([&] { return window.pos() == QPoint(620, 310); }, 2s)) << window.pos().x() << "," << window.pos().y();
}
