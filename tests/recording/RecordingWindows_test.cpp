// The recording windows' own behaviour on the offscreen platform: the selection and its single
// report and its log lines, the veil's pixels, the setup panel's toggles and keys, the controls and their one stop,
// the frame's geometry and the click rings.
#include "app/DebugLogger.h"
#include "platform/ScreenGeometry.h"
#include "recording/ClickIndicatorOverlay.h"
#include "recording/ClickIndicatorView.h"
#include "recording/RecordingControlsView.h"
#include "recording/RecordingControlsWindow.h"
#include "recording/RecordingFrameView.h"
#include "recording/RecordingSetupView.h"
#include "recording/RecordingWindowPlacement.h"
#include "recording/RecordingSetupWindowController.h"
#include "recording/ScreenRecordingSelectionWindow.h"
#include "recording/SelectionOverlayView.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <sstream>

using namespace std::chrono_literals;

namespace {

class RecordingDelegate : public QObject, public ScreenRecordingSelectionDelegate {
public:
    void screenRecordingSelectionDidFinish(std::optional<QRectF> rect) override { reports.push_back(rect); }
    std::vector<std::optional<QRectF>> reports;
};

void send(QWidget* window, QEvent::Type type, const QPointF& at, Qt::MouseButtons buttons)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, window->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &event);
}

void drag(QWidget* window, const QPointF& from, const QPointF& to)
{
    send(window, QEvent::MouseButtonPress, from, Qt::LeftButton);
    send(window, QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    send(window, QEvent::MouseMove, to, Qt::LeftButton);
    send(window, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

void key(QWidget* window, int code)
{
    QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &event);
}

QString logText()
{
    DebugLogger::shared().flush();
    QFile file(DebugLogger::shared().logFilePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// "function: message" of every selection window line written after the first `from` characters of the log.
QStringList selectionLogLines(qsizetype from)
{
    QStringList result;
    for (const QString& line : logText().mid(from).split('\n', Qt::SkipEmptyParts)) {
        // "[time] [file:line] function: message"
        const qsizetype afterFile = line.indexOf("] ", line.indexOf("] ") + 2);
        if (afterFile >= 0 && line.contains("ScreenRecordingSelectionWindow: "))
            result << line.mid(afterFile + 2);
    }
    return result;
}

QImage render(QWidget& view)
{
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace

TEST(ScreenRecordingSelectionWindow, DragsBecomeAreasReportedOnce)
{
    const struct {
        const char* what;
        QPointF from, to;
        std::optional<QRectF> area;
    } cases[] = {
        {"a drag down and right", {100, 200}, {300, 400}, QRectF(100, 200, 200, 200)},
        {"the opposite drag gives the same area", {300, 400}, {100, 200}, QRectF(100, 200, 200, 200)},
        {"exactly 10 x 10 is accepted", {50, 50}, {60, 60}, QRectF(50, 50, 10, 10)},
        {"9.5 points wide is cancelled", {50, 50}, {59.5, 100}, std::nullopt},
        {"a click without a drag is cancelled", {70, 70}, {70, 70}, std::nullopt},
        {"a drag out of the window is used as it comes", {700, 500}, {900, 700}, QRectF(700, 500, 200, 200)},
    };
    for (const auto& c : cases) {
        RecordingDelegate delegate;
        auto* window = new ScreenRecordingSelectionWindow;
        window->setSelectionDelegate(&delegate);
        ASSERT_TRUE(window->isVisible()) << c.what;
        EXPECT_EQ(window->level(), 1000);
        drag(window, c.from, c.to);
        EXPECT_FALSE(window->isVisible()) << c.what; // hidden at once, not closed
        EXPECT_TRUE(delegate.reports.empty()) << c.what; // the report comes 0.05 s later
        // Nothing after the end reaches the selection.
        drag(window, {10, 10}, {500, 500});
        key(window, Qt::Key_Escape);
        test::spin(150ms);
        ASSERT_EQ(delegate.reports.size(), 1u) << c.what;
        EXPECT_EQ(delegate.reports.front(), c.area) << c.what;
        delete window;
    }
}

TEST(ScreenRecordingSelectionWindow, EscapeCancelsAndTheDelegateOfTheEndIsTold)
{
    RecordingDelegate first;
    RecordingDelegate second;
    auto window = std::make_unique<ScreenRecordingSelectionWindow>();
    window->setSelectionDelegate(&first);
    key(window.get(), Qt::Key_A); // other keys only write their line
    EXPECT_TRUE(window->isVisible());
    key(window.get(), Qt::Key_Escape);
    window->setSelectionDelegate(&second); // after the end: does not redirect the report
    // The owner may drop the window before the report.
    window.reset();
    test::spin(150ms);
    ASSERT_EQ(first.reports.size(), 1u);
    EXPECT_FALSE(first.reports.front().has_value());
    EXPECT_TRUE(second.reports.empty());

    // A delegate destroyed meanwhile is not called.
    auto gone = std::make_unique<RecordingDelegate>();
    window = std::make_unique<ScreenRecordingSelectionWindow>();
    window->setSelectionDelegate(gone.get());
    drag(window.get(), {0, 0}, {100, 100});
    gone.reset();
    test::spin(150ms);
}

TEST(ScreenRecordingSelectionWindow, LogLinesGiveTheSystemEventCodesAndTheOperationThatEnded)
{
    const struct {
        QEvent::Type type;
        int code;
    } cases[] = {
        {QEvent::MouseButtonPress, 1}, {QEvent::MouseButtonRelease, 2}, {QEvent::MouseMove, 6},
        {QEvent::KeyPress, 10},        {QEvent::KeyRelease, 0},         {QEvent::Wheel, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScreenRecordingSelectionWindow::eventTypeCode(c.type), c.code) << c.type;

    const qsizetype start = logText().size();
    RecordingDelegate delegate;
    auto window = std::make_unique<ScreenRecordingSelectionWindow>();
    window->setSelectionDelegate(&delegate);
    key(window.get(), Qt::Key_A);
    drag(window.get(), {100, 200}, {300, 400});
    test::spin(150ms);
    ASSERT_EQ(delegate.reports.size(), 1u);
    const QStringList lines = selectionLogLines(start);
    QStringList handled;
    for (const QString& line : lines)
        if (line.contains("handleEvent called with type: "))
            handled << line;
    const QString prefix = "handleEvent: ScreenRecordingSelectionWindow: handleEvent called with type: ";
    EXPECT_EQ(handled, QStringList({prefix + "10", prefix + "1", prefix + "6", prefix + "6", prefix + "2"}))
        << lines.join('\n').toStdString();
    // The delayed report is written in the name of the operation that ended the selection.
    EXPECT_TRUE(lines.contains(
        "finishSelection: ScreenRecordingSelectionWindow: Notifying delegate with rect: (100.0, 200.0, 200.0, 200.0)"))
        << lines.join('\n').toStdString();
}

TEST(ScreenRecordingSelectionWindow, TheViewFollowsTheDragAndShowsTheHintWhileEmpty)
{
    ScreenRecordingSelectionWindow window;
    SelectionOverlayView* view = window.selectionView();
    ASSERT_TRUE(view);
    send(&window, QEvent::MouseButtonPress, {400, 300}, Qt::LeftButton);
    send(&window, QEvent::MouseMove, {200, 300}, Qt::LeftButton); // purely horizontal
    EXPECT_EQ(view->selectionRect(), QRectF(200, 300, 200, 0));
    EXPECT_TRUE(window.isSelecting());
    send(&window, QEvent::MouseMove, {200, 100}, Qt::LeftButton);
    EXPECT_EQ(view->selectionRect(), QRectF(200, 100, 200, 200));
    // A new press starts again.
    send(&window, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton);
    EXPECT_EQ(view->selectionRect(), QRectF(10, 10, 0, 0));
    EXPECT_EQ(window.startPoint(), QPointF(10, 10));
}

TEST(SelectionOverlayView, VeilHoleOutlineAndFrozenBackground)
{
    SelectionOverlayView view;
    view.resize(400, 300);
    const QRectF hole(100, 80, 200, 120);

    // Clear: the veil is 30 % black, the hole fully transparent, the outline blue.
    view.setSelectionRect(hole);
    QImage image = render(view);
    EXPECT_NEAR(qAlpha(image.pixel(20, 20)), 77, 2);
    EXPECT_EQ(qAlpha(image.pixel(200, 140)), 0);
    const QRgb outline = image.pixel(200, 80);
    EXPECT_GT(qBlue(outline), 200);
    EXPECT_GT(qAlpha(outline), 200);
    EXPECT_GT(qBlue(image.pixel(100, 80)), 200); // a corner dot
    EXPECT_GT(qBlue(image.pixel(97, 80)), 150);  // the dot reaches 4 points beyond the corner

    // Frozen: the hole shows the picture unveiled, the rest is darkened.
    QImage frozen(400, 300, QImage::Format_RGB32);
    frozen.fill(QColor(200, 100, 50));
    view.setFrozenBackground(frozen);
    image = render(view);
    EXPECT_EQ(QColor(image.pixel(200, 140)), QColor(200, 100, 50));
    const QColor veiled(image.pixel(20, 20));
    EXPECT_NEAR(veiled.red(), 140, 2);
    EXPECT_NEAR(veiled.green(), 70, 2);
    EXPECT_EQ(veiled.alpha(), 255);

    // No width: the hint and no hole.
    view.setSelectionRect(QRectF(100, 80, 0, 120));
    image = render(view);
    EXPECT_NE(QColor(image.pixel(101, 100)), QColor(200, 100, 50));
    EXPECT_LT(QColor(image.pixel(200, 150)).red(), 60); // the dark box behind the hint
}

TEST(RecordingSetupView, TogglesDeliverExactlyTheChosenSettings)
{
    const struct {
        const char* what;
        std::vector<int> presses; // 0 microphone, 1 system audio, 2 click indicator
        RecordingSettings settings;
    } cases[] = {
        {"nothing chosen", {}, {false, false, false}},
        {"microphone", {0}, {true, false, false}},
        {"system audio", {1}, {false, true, false}},
        {"click indicator", {2}, {false, false, true}},
        {"all three", {2, 0, 1}, {true, true, true}},
        {"microphone twice is off again", {0, 0, 2}, {false, false, true}},
    };
    for (const auto& c : cases) {
        std::vector<RecordingSettings> started;
        int cancelled = 0;
        RecordingSetupView view(QRectF(1, 2, 300, 400), [&](const RecordingSettings& s) { started.push_back(s); },
                                [&] { ++cancelled; });
        QToolButton* toggles[] = {view.microphoneButton(), view.systemAudioButton(), view.clickIndicatorButton()};
        for (int i : c.presses)
            QTest::mouseClick(toggles[i], Qt::LeftButton);
        EXPECT_EQ(view.symbolOf(view.microphoneButton()), c.settings.recordMicrophone ? "mic.fill" : "mic.slash") << c.what;
        EXPECT_EQ(view.symbolOf(view.systemAudioButton()), c.settings.recordSystemAudio ? "speaker.wave.2.fill" : "speaker.slash")
            << c.what;
        EXPECT_EQ(view.symbolOf(view.clickIndicatorButton()), c.settings.showClickIndicator ? "hand.tap.fill" : "hand.tap")
            << c.what;
        QTest::mouseClick(view.startButton(), Qt::LeftButton);
        ASSERT_EQ(started.size(), 1u) << c.what;
        EXPECT_EQ(started.front(), c.settings) << c.what;
        EXPECT_EQ(cancelled, 0);
    }
}

TEST(RecordingSetupView, ButtonsKeysAndTooltips)
{
    RecordingSetupView view(QRectF(), nullptr, nullptr);
    EXPECT_EQ(view.microphoneButton()->toolTip(), "Микрофон");
    EXPECT_EQ(view.systemAudioButton()->toolTip(), "Системный звук");
    EXPECT_EQ(view.clickIndicatorButton()->toolTip(), "Индикатор кликов");
    EXPECT_EQ(view.cancelButton()->toolTip(), "Отмена");
    EXPECT_EQ(view.startButton()->toolTip(), "Начать запись");
    for (QToolButton* b : {view.microphoneButton(), view.systemAudioButton(), view.clickIndicatorButton(), view.cancelButton(),
                           view.startButton()})
        EXPECT_FALSE(b->icon().isNull()) << b->toolTip().toStdString();
    QTest::mouseClick(view.startButton(), Qt::LeftButton); // no callbacks: nothing happens
}

TEST(RecordingSetupWindowController, ReturnStartsEscapeCancelsAndCloseHidesBoth)
{
    std::vector<RecordingSettings> started;
    int cancelled = 0;
    RecordingSetupWindowController controller(
        QRectF(100, 100, 300, 200), [&](const RecordingSettings& s) { started.push_back(s); }, [&] { ++cancelled; });
    QWidget* panel = controller.window();
    ASSERT_TRUE(panel);
    EXPECT_FALSE(panel->isVisible()); // nothing shown before present()
    EXPECT_EQ(panel->size(), RecordingSetupWindowController::kPanelSize);
    EXPECT_TRUE(panel->testAttribute(Qt::WA_AlwaysShowToolTips)); // tooltips also while inactive
    controller.present();
    EXPECT_TRUE(panel->isVisible());
    ASSERT_TRUE(controller.selectionOverlay());
    EXPECT_TRUE(controller.selectionOverlay()->isVisible());
    EXPECT_TRUE(controller.selectionOverlay()->windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_EQ(controller.selectionOverlayView()->selectionRect(), QRectF(100, 100, 300, 200));
    // Centred 20 points under the area.
    EXPECT_EQ(panel->geometry(), QRect(90, 320, 320, 48));
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));

    QTest::mouseClick(controller.setupView()->clickIndicatorButton(), Qt::LeftButton);
    QTest::keyClick(panel, Qt::Key_Return);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started.front(), (RecordingSettings{false, false, true}));
    QTest::keyClick(panel, Qt::Key_Escape);
    EXPECT_EQ(cancelled, 1);
    // The panel does not close itself.
    EXPECT_TRUE(panel->isVisible());

    controller.close();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(controller.selectionOverlay(), nullptr);
}

TEST(RecordingControlsView, CountsSecondsAndStopsOnce)
{
    int stops = 0;
    RecordingControlsWindow window([&] { ++stops; });
    RecordingControlsView* view = window.controlsView();
    EXPECT_EQ(window.size(), QSize(160, 70));
    EXPECT_EQ(view->timeLabel()->text(), "00:00");
    EXPECT_FALSE(view->isTimerRunning()); // not on screen yet
    window.show();
    EXPECT_TRUE(view->isTimerRunning());
    for (int i = 0; i < 65; ++i)
        view->tick();
    EXPECT_EQ(view->timeLabel()->text(), "01:05");
    EXPECT_EQ(view->stopButton()->toolTip(), "Остановить запись");
    // Hovering shows it also while another application is active.
    EXPECT_TRUE(window.testAttribute(Qt::WA_AlwaysShowToolTips));

    // The stop button: once.
    QTest::mouseClick(view->stopButton(), Qt::LeftButton);
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(view->isTimerRunning());
    EXPECT_FALSE(view->stopButton()->isEnabled());
    QTest::mouseClick(view->stopButton(), Qt::LeftButton);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(view->timeLabel()->text(), "01:05");
    // Shown again after a stop, it keeps its time.
    window.hide();
    window.show();
    EXPECT_FALSE(view->isTimerRunning());

    // Leaving the screen stops the timer; coming back goes on from where it was.
    RecordingControlsWindow other([] {});
    other.show();
    other.controlsView()->tick();
    other.hide();
    EXPECT_FALSE(other.controlsView()->isTimerRunning());
    other.show();
    EXPECT_TRUE(other.controlsView()->isTimerRunning());
    EXPECT_EQ(other.controlsView()->timeLabel()->text(), "00:01");
}

TEST(RecordingControlsView, TheTimerTicksOnceASecond)
{
    RecordingControlsWindow window([] {});
    window.show();
    test::spin(1150ms);
    EXPECT_EQ(window.controlsView()->timeLabel()->text(), "00:01");
}

TEST(RecordingFrameView, FrameLineAndBadge)
{
    // The area (100, 100, 400, 300) on a main screen at the origin.
    RecordingFrameView view(QRectF(100, 100, 400, 300), QPointF(0, 0), QRect(100, 100, 400, 300), 1.0, true);
    view.resize(1440, 900);
    EXPECT_EQ(view.drawingRect(), QRectF(100, 100, 400, 300));
    const QRectF badge = view.badgeRect();
    EXPECT_EQ(badge.left(), 100);
    EXPECT_EQ(badge.top(), 410); // 10 points under the frame
    EXPECT_EQ(RecordingFrameView::badgeText(), QString::fromUtf8("REC \xE2\x97\x8F"));

    const QRegion painted = view.paintedRegion();
    EXPECT_TRUE(painted.contains(QPoint(99, 200))); // three pixels outside the left edge
    EXPECT_TRUE(painted.contains(QPoint(97, 200)));
    EXPECT_FALSE(painted.contains(QPoint(96, 200)));
    EXPECT_FALSE(painted.contains(QPoint(100, 200))); // the area's own edge pixel is recorded
    EXPECT_TRUE(painted.contains(QPoint(500, 300)));  // outside the right edge (the area ends at 499)
    EXPECT_TRUE(painted.contains(QPoint(502, 300)));
    EXPECT_FALSE(painted.contains(QPoint(503, 300)));
    EXPECT_FALSE(painted.contains(QPoint(499, 300)));
    EXPECT_TRUE(painted.contains(QPoint(300, 97)));
    EXPECT_FALSE(painted.contains(QPoint(300, 100)));
    EXPECT_TRUE(painted.contains(QPoint(300, 402)));
    EXPECT_FALSE(painted.contains(QPoint(300, 399)));
    EXPECT_TRUE(painted.contains(badge.center().toPoint()));
    EXPECT_FALSE(painted.intersects(QRect(100, 100, 400, 300))) << "nothing of the frame or the badge inside the area";

    const QImage image = render(view);
    EXPECT_EQ(QColor(image.pixel(98, 200)), QColor(Qt::red));
    EXPECT_EQ(QColor(image.pixel(badge.left() + 2, badge.top() + 2)), QColor(Qt::black));

    // Relative to a view that starts elsewhere.
    RecordingFrameView shifted(QRectF(100, 100, 400, 300), QPointF(-50, 20), QRect(150, 80, 400, 300), 1.0, false);
    EXPECT_EQ(shifted.drawingRect(), QRectF(150, 80, 400, 300));
}

// Shaped (no compositor) or translucent, at whole and fractional ratios: no device pixel the
// recorder grabs is painted, also where the area touches the screen's edges and the line has
// nowhere to go there, and the line covers all the pixels around them that are on the screen.
TEST(RecordingFrameView, NoPaintInsideTheArea)
{
    const struct {
        QRectF area;
        bool opaque;
        double ratio;
    } cases[] = {
        {{100, 100, 400, 300}, true, 1},
        {{100, 100, 400, 300}, false, 1},
        {{0, 0, 640, 480}, true, 1},
        {{0, 0, 640, 480}, false, 1},
        {{0, 0, 800, 600}, true, 1}, // the whole screen
        {{0, 0, 800, 600}, false, 1},
        {{500, 300, 300, 300}, false, 1}, // the bottom-right corner
        {{100.5, 120.25, 301.5, 201.75}, true, 1},
        {{141, 161, 401, 181}, true, 1.25},
        {{141, 161, 401, 181}, false, 1.25},
        {{141, 161, 401, 181}, true, 1.5},
        {{141, 161, 401, 181}, false, 1.5},
        {{99, 123, 333, 247}, true, 1.5},
        {{0, 0, 800, 600}, true, 1.5},
        {{100.5, 120.25, 301.5, 201.75}, true, 2},
        {{141, 161, 401, 181}, false, 2},
    };
    for (const auto& c : cases) {
        const auto screen = platform::ScreenGeometry::describe(QRect(0, 0, 800, 600), c.ratio, true);
        const QRect recorded = RecordingWindowPlacement::recordedPixels(c.area, screen);
        RecordingFrameView view(c.area, QPointF(0, 0), recorded, c.ratio, c.opaque);
        view.resize(800, 600);
        const QSize pixels = (QSizeF(800, 600) * c.ratio).toSize();
        QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(c.ratio);
        image.fill(Qt::transparent);
        view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        const QRegion line = view.lineRegion() & QRegion(QRect(QPoint(), pixels));
        int inside = 0, missing = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                if (recorded.contains(x, y))
                    inside += qAlpha(p) != 0;
                else if (line.contains(QPoint(x, y)))
                    missing += !(qAlpha(p) != 0 && qRed(p) > 150 && qGreen(p) < 50 && qBlue(p) < 50);
            }
        std::stringstream what;
        what << c.area.x() << "," << c.area.y() << " " << c.area.width() << "x" << c.area.height() << " opaque " << c.opaque
             << " at " << c.ratio;
        EXPECT_EQ(inside, 0) << what.str();
        EXPECT_EQ(missing, 0) << what.str();
        EXPECT_FALSE(view.paintedRegion().intersects(recorded)) << what.str();
    }
}

TEST(ClickIndicatorView, RingsGrowFadeAndGo)
{
    EXPECT_EQ(ClickIndicatorView::sizeAt(0), 16);
    EXPECT_DOUBLE_EQ(ClickIndicatorView::opacityAt(0), 0.9);
    EXPECT_EQ(ClickIndicatorView::sizeAt(400), 40);
    EXPECT_EQ(ClickIndicatorView::opacityAt(400), 0);
    EXPECT_GT(ClickIndicatorView::sizeAt(100), 16 + 24 * 0.25); // ease-out: faster at first

    ClickIndicatorView view(true);
    view.resize(800, 600);
    int changes = 0;
    view.onRingsChanged = [&] { ++changes; };
    view.showClick(QPointF(200, 200));
    ASSERT_EQ(view.clicks().size(), 1);
    EXPECT_EQ(view.clicks().front().size, 16);
    EXPECT_EQ(view.clicks().front().opacity, 0.9);
    const QRegion ring = view.ringRegion();
    EXPECT_TRUE(ring.contains(QPoint(208, 200)));
    EXPECT_FALSE(ring.contains(QPoint(200, 200)));
    test::spin(100ms);
    view.showClick(QPointF(400, 300));
    EXPECT_EQ(view.clicks().size(), 2); // both at once
    EXPECT_GT(view.clicks().front().size, 16);
    EXPECT_TRUE(test::waitUntil([&] { return view.clicks().size() == 1; }, 500ms));
    EXPECT_EQ(view.clicks().front().position, QPointF(400, 300)); // the first went first
    EXPECT_TRUE(test::waitUntil([&] { return view.clicks().isEmpty(); }, 500ms));
    EXPECT_TRUE(view.ringRegion().isEmpty());
    EXPECT_GT(changes, 4);
}

TEST(ClickIndicatorOverlay, ClicksBecomeRingsInTheViewOfTheMainScreen)
{
    platform::ScreenGeometry::setScreensForTesting({platform::ScreenGeometry::describe(QRect(0, 0, 1440, 900), 2.0, true)});
    {
        ClickIndicatorOverlay overlay;
        EXPECT_FALSE(overlay.isVisible()); // not shown by itself
        EXPECT_TRUE(overlay.windowFlags().testFlag(Qt::WindowTransparentForInput));
        overlay.handleGlobalClick(QPoint(400, 1400)); // root pixels at twice the density
        ASSERT_EQ(overlay.clickIndicatorView()->clicks().size(), 1);
        EXPECT_EQ(overlay.clickIndicatorView()->clicks().front().position, QPointF(200, 700));
        // A click on another screen lands outside the view: no visible ring, but no harm.
        overlay.handleGlobalClick(QPoint(-200, 100));
        EXPECT_EQ(overlay.clickIndicatorView()->clicks().last().position, QPointF(-100, 50));
    }
    platform::ScreenGeometry::setScreensForTesting({});
}
