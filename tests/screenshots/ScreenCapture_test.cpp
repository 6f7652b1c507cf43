// The capture flow on the offscreen platform: permission handling, the busy flag, the overlay's
// mouse and key handling (events sent to the real window), the single completion and our windows
// hidden and restored. The capture chain is replaced; its pixels are tested under X.
#include "app/PermissionsManager.h"
#include "platform/Application.h"
#include "platform/ScreenAccess.h"
#include "platform/ScreenGeometry.h"
#include "screenshots/CaptureOverlayView.h"
#include "screenshots/ScreenCapture.h"
#include "screenshots/ScreenCaptureWindow.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

using platform::ScreenInfo;
using namespace std::chrono_literals;

namespace {

ScreenCaptureWindow* openOverlay()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<ScreenCaptureWindow*>(widget); window && window->isVisible() && !window->isCompleted())
            return window;
    return nullptr;
}

void mouse(QWidget* window, QEvent::Type type, QPointF at)
{
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, window->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(window, &event);
}

void dragOn(QWidget* window, QPointF from, QPointF to)
{
    mouse(window, QEvent::MouseButtonPress, from);
    mouse(window, QEvent::MouseMove, (from + to) / 2);
    mouse(window, QEvent::MouseMove, to);
    mouse(window, QEvent::MouseButtonRelease, to);
}

void escape(QWidget* window)
{
    QKeyEvent event(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window, &event);
}

class ScreenCaptureFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::ScreenAccess::setProbeForTesting([this] { return probe(); });
        ScreenCaptureWindow::CaptureMethods methods;
        methods.direct = [this](const QRect& rect, const std::optional<ScreenInfo>& screen) {
            if (requestedHook)
                requestedHook();
            requested.append(rect);
            requestedScreen = screen;
            QImage image(rect.size(), QImage::Format_RGB32);
            image.fill(Qt::darkCyan);
            return std::optional<QImage>(image);
        };
        methods.fallback = methods.direct;
        methods.excludingOurApp = [](const QRect&, qint32) { return std::optional<QImage>(); };
        methods.allWindows = [](const QRect&, const ScreenInfo&) { return std::optional<QImage>(); };
        ScreenCaptureWindow::setCaptureMethodsForTesting(methods);
        capture.permissionsManager = permissions.get();
    }
    void TearDown() override
    {
        ScreenCaptureWindow::setCaptureMethodsForTesting(std::nullopt);
        platform::ScreenAccess::setProbeForTesting({});
        test::waitUntil([] { return openOverlay() == nullptr; }, 2s);
        EXPECT_EQ(openOverlay(), nullptr);
    }

    ScreenCapture::Completion recorder()
    {
        return [this](std::optional<QImage> image) {
            ++calls;
            result = std::move(image);
        };
    }
    ScreenCaptureWindow* startAreaCapture()
    {
        capture.captureScreen(recorder());
        ScreenCaptureWindow* window = nullptr;
        test::waitUntil([&] { return (window = openOverlay()) != nullptr; }, 3s);
        return window;
    }

    std::function<bool()> probe = [] { return true; };
    std::unique_ptr<PermissionsManager> permissions = std::make_unique<PermissionsManager>();
    ScreenCapture capture;
    QList<QRect> requested;
    std::function<void()> requestedHook; // runs as the pixels are read
    std::optional<ScreenInfo> requestedScreen;
    int calls = 0;
    std::optional<QImage> result;
};

} // namespace

TEST_F(ScreenCaptureFlow, WithoutPermissionServiceBothEndAtOnceWithNothing)
{
    capture.permissionsManager = nullptr;
    capture.captureScreen(recorder());
    EXPECT_EQ(calls, 1);
    capture.captureFullScreen(recorder());
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(result);
    EXPECT_FALSE(capture.isCapturing());
    EXPECT_EQ(openOverlay(), nullptr);
}

TEST_F(ScreenCaptureFlow, FullScreenWithPermissionCompletesBeforeReturning)
{
    capture.captureFullScreen(recorder());
    ASSERT_EQ(calls, 1);
    ASSERT_TRUE(result);
    const ScreenInfo main = *ScreenCaptureWindow::mainScreen();
    ASSERT_EQ(requested.size(), 1);
    EXPECT_EQ(requested.first(), ScreenCaptureWindow::screenToGlobalPixels(main));
    EXPECT_EQ(requestedScreen->name, main.name);
    EXPECT_FALSE(capture.isCapturing());
}

TEST_F(ScreenCaptureFlow, PendingPermissionRequestKeepsTheCaptureBusy)
{
    for (bool area : {true, false}) {
        calls = 0;
        probe = [] { return false; };
        if (area)
            capture.captureScreen(recorder());
        else
            capture.captureFullScreen(recorder());
        EXPECT_EQ(calls, 0); // answered later
        EXPECT_TRUE(capture.isCapturing());
        // While the request is open no second capture may start.
        int refused = 0;
        capture.captureScreen([&](std::optional<QImage>) { ++refused; });
        capture.captureFullScreen([&](std::optional<QImage>) { ++refused; });
        ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }, 3s));
        EXPECT_FALSE(result);
        test::spin(100ms);
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(refused, 0);
        EXPECT_FALSE(capture.isCapturing());
        EXPECT_EQ(openOverlay(), nullptr);
        EXPECT_TRUE(requested.isEmpty());
    }
}

TEST_F(ScreenCaptureFlow, PermissionGrantedDuringTheRequestRunsTheCapture)
{
    int asked = 0;
    // Missing at the capture's own check, granted when the service asks.
    probe = [&] { return ++asked > 1; };
    capture.captureFullScreen(recorder());
    EXPECT_EQ(calls, 0);
    ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }, 3s));
    EXPECT_TRUE(result);
    EXPECT_EQ(requested.size(), 1);
    EXPECT_FALSE(capture.isCapturing());

    // The area capture opens its overlay once the permission arrives.
    asked = 0;
    calls = 0;
    ScreenCaptureWindow* window = startAreaCapture();
    ASSERT_TRUE(window);
    escape(window);
    EXPECT_EQ(calls, 1);
}

TEST_F(ScreenCaptureFlow, PermissionServiceGoneBeforeAnsweringEndsTheCapture)
{
    probe = [] { return false; };
    capture.captureScreen(recorder());
    permissions.reset(); // destroyed before its delayed answer
    ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }, 3s));
    EXPECT_FALSE(result);
    EXPECT_FALSE(capture.isCapturing());
    test::spin(300ms);
    EXPECT_EQ(calls, 1);
}

TEST_F(ScreenCaptureFlow, SelectionSizesAroundTheMinimum)
{
    const struct {
        QPointF from, to;
        bool image;
    } cases[] = {
        {{10, 20}, {110, 70}, true},
        {{110, 70}, {10, 20}, true}, // up-left: same rectangle
        {{10, 10}, {15.5, 15.5}, true},
        {{10, 10}, {15, 15.5}, false}, // exactly 5 wide
        {{10, 10}, {15.5, 15}, false},
        {{10, 10}, {10, 10}, false},
    };
    for (const auto& c : cases) {
        calls = 0;
        requested.clear();
        ScreenCaptureWindow* window = startAreaCapture();
        ASSERT_TRUE(window);
        EXPECT_EQ(calls, 0);
        const QRectF selection = QRectF(c.from, c.to).normalized();
        const QRect expected = ScreenCaptureWindow::selectionToGlobalPixels(selection, window->frame(), *window->targetScreen());
        dragOn(window, c.from, c.to);
        ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }, 3s));
        EXPECT_EQ(result.has_value(), c.image) << c.to.x();
        if (c.image) {
            ASSERT_EQ(requested.size(), 1);
            EXPECT_EQ(requested.first(), expected);
        } else {
            EXPECT_TRUE(requested.isEmpty());
        }
        EXPECT_FALSE(capture.isCapturing());
        test::waitUntil([] { return openOverlay() == nullptr; }, 2s);
    }
}

TEST_F(ScreenCaptureFlow, DraggingBackToTheStartBringsTheHintBack)
{
    ScreenCaptureWindow* window = startAreaCapture();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->overlayView()->selectionRect().isEmpty());
    mouse(window, QEvent::MouseButtonPress, {50, 50});
    mouse(window, QEvent::MouseMove, {150, 120});
    EXPECT_EQ(window->overlayView()->selectionRect(), QRectF(50, 50, 100, 70));
    mouse(window, QEvent::MouseMove, {50, 90});
    EXPECT_EQ(window->overlayView()->selectionRect().width(), 0.0);
    mouse(window, QEvent::MouseButtonRelease, {50, 90});
    ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }, 3s));
    EXPECT_FALSE(result);
}

TEST_F(ScreenCaptureFlow, CompletionRunsOnceWhateverFollows)
{
    // Esc and a second mouse-up after a successful mouse-up.
    ScreenCaptureWindow* window = startAreaCapture();
    ASSERT_TRUE(window);
    QPointer<ScreenCaptureWindow> guard(window);
    testing::internal::CaptureStdout();
    dragOn(window, {10, 10}, {60, 60});
    escape(window);
    mouse(window, QEvent::MouseButtonRelease, {60, 60});
    ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }, 3s));
    EXPECT_TRUE(result);
    test::waitUntil([&] { return guard.isNull(); }, 2s);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("ScreenCaptureWindow: Already completed, ignoring completion\n"), std::string::npos);
    EXPECT_NE(out.find("ScreenCaptureWindow: Already completed, ignoring mouseUp\n"), std::string::npos);
    EXPECT_NE(out.find("ScreenCaptureWindow: deinit called\n"), std::string::npos);
    EXPECT_TRUE(guard.isNull());
    test::spin(100ms);
    EXPECT_EQ(calls, 1);

    // The window destroyed between mouse-up and the delayed read: one completion, with nothing.
    calls = 0;
    window = startAreaCapture();
    ASSERT_TRUE(window);
    dragOn(window, {10, 10}, {60, 60});
    delete window;
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(result);
    test::spin(100ms);
    EXPECT_EQ(calls, 1);

    // Destroyed while waiting for the user.
    calls = 0;
    window = startAreaCapture();
    ASSERT_TRUE(window);
    delete window;
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(result);
    EXPECT_FALSE(capture.isCapturing());
}

TEST_F(ScreenCaptureFlow, EveryWindowOfOursIsHiddenDuringTheCaptureAndComesBackAfter)
{
    // The focused window and another one; the focused one must end up the active one again.
    QWidget tool(nullptr, Qt::Tool);
    tool.setGeometry(500, 100, 200, 100);
    tool.show();
    QWidget mainWindow;
    mainWindow.setGeometry(100, 100, 300, 200);
    mainWindow.show();
    mainWindow.activateWindow();
    ASSERT_TRUE(test::waitUntil([&] { return QApplication::activeWindow() == &mainWindow; }, 3s));

    ScreenCaptureWindow* window = startAreaCapture();
    ASSERT_TRUE(window);
    EXPECT_FALSE(mainWindow.isVisible());
    EXPECT_FALSE(tool.isVisible());
    QElapsedTimer sinceCompletion;
    bool visibleAtCompletion = true;
    window->captureCompletion = [&, inner = window->captureCompletion](std::optional<QImage> image) {
        inner(std::move(image));
        visibleAtCompletion = mainWindow.isVisible() || tool.isVisible();
        sinceCompletion.start();
    };
    escape(window);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(visibleAtCompletion);
    ASSERT_TRUE(test::waitUntil([&] { return mainWindow.isVisible() && tool.isVisible(); }, 3s));
    EXPECT_GE(sinceCompletion.elapsed(), 45);
    EXPECT_EQ(mainWindow.geometry(), QRect(100, 100, 300, 200));
    EXPECT_EQ(tool.geometry(), QRect(500, 100, 200, 100));
    EXPECT_TRUE(test::waitUntil([&] { return QApplication::activeWindow() == &mainWindow; }, 3s));
    test::spin(100ms);
    EXPECT_EQ(QApplication::activeWindow(), &mainWindow);
}

TEST_F(ScreenCaptureFlow, ApplicationIsActivatedAfterTheCaptureAlsoWithoutAFocusedWindow)
{
    QWidget tool(nullptr, Qt::Tool);
    tool.setGeometry(100, 100, 200, 100);
    tool.show();
    QApplication::setActiveWindow(nullptr);
    ASSERT_EQ(QApplication::activeWindow(), nullptr);

    ScreenCaptureWindow* window = startAreaCapture();
    ASSERT_TRUE(window);
    EXPECT_FALSE(tool.isVisible());
    escape(window);
    EXPECT_EQ(calls, 1);
    // The delayed restore activates the application, which brings our window forward.
    EXPECT_TRUE(test::waitUntil([&] { return QApplication::activeWindow() == &tool; }, 3s));
}

TEST_F(ScreenCaptureFlow, KeptWindowsModalDialogsAndMenusStayUp)
{
    QWidget kept;
    kept.setGeometry(100, 100, 200, 100);
    platform::Application::keepDuringCaptures(&kept);
    // Hiding a modal dialog would end it as if cancelled.
    QDialog modal;
    modal.setModal(true);
    modal.setGeometry(400, 100, 200, 100);
    QWidget popup(nullptr, Qt::Popup);
    popup.setGeometry(700, 100, 100, 100);
    QWidget* const stayingUp[] = {&kept, &modal, &popup};
    for (QWidget* window : stayingUp)
        window->show();

    capture.captureFullScreen(recorder());
    ASSERT_EQ(calls, 1);
    for (QWidget* window : stayingUp)
        EXPECT_TRUE(window->isVisible()) << window->metaObject()->className();
    modal.hide(); // blocks the overlay's input otherwise
    popup.hide();
}

TEST_F(ScreenCaptureFlow, TheFullScreenIsReadWithOurWindowsHidden)
{
    QWidget window;
    window.setGeometry(100, 100, 300, 200);
    window.show();
    bool visibleWhenRead = true;
    requestedHook = [&] { visibleWhenRead = window.isVisible(); };
    capture.captureFullScreen(recorder());
    ASSERT_EQ(calls, 1); // nothing to wait for here, no X server: before the call returns
    ASSERT_TRUE(result);
    EXPECT_FALSE(visibleWhenRead);
    EXPECT_FALSE(window.isVisible()); // until the caller has had the image
    EXPECT_TRUE(test::waitUntil([&] { return window.isVisible(); }, 3s));
    EXPECT_EQ(window.geometry(), QRect(100, 100, 300, 200));
}

TEST_F(ScreenCaptureFlow, AWindowClosedWhileHiddenStaysClosedAndALaterCaptureKeepsTheRestHidden)
{
    QWidget closing;
    closing.setGeometry(100, 100, 200, 100);
    QWidget staying;
    staying.setGeometry(400, 100, 200, 100);
    closing.show();
    staying.show();

    ScreenCaptureWindow* window = startAreaCapture();
    ASSERT_TRUE(window);
    closing.close();
    escape(window);
    // A second capture before the first has brought its windows back: they stay hidden through it.
    window = startAreaCapture();
    ASSERT_TRUE(window);
    test::spin(200ms);
    EXPECT_FALSE(staying.isVisible());
    escape(window);
    EXPECT_TRUE(test::waitUntil([&] { return staying.isVisible(); }, 3s));
    test::spin(100ms);
    EXPECT_FALSE(closing.isVisible());
}

TEST_F(ScreenCaptureFlow, OverlayCoversTheScreenUnderThePointerAndPaints)
{
    ScreenCaptureWindow* window = startAreaCapture();
    ASSERT_TRUE(window);
    const auto expected = ScreenCaptureWindow::chooseScreen(platform::ScreenGeometry::screens(), QCursor::pos(),
                                                            ScreenCaptureWindow::mainScreen());
    ASSERT_TRUE(window->targetScreen());
    EXPECT_EQ(window->targetScreen()->name, expected->name);
    EXPECT_EQ(window->frame(), expected->geometry);
    EXPECT_EQ(window->level(), 1000);
    EXPECT_EQ(CaptureOverlayView::hintText(), QStringLiteral("Выберите область для скриншота • ESC для отмены"));

    // Veil with the hint, then veil with a clear hole and a blue outline.
    QImage shown = window->overlayView()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QPoint centre = shown.rect().center();
    EXPECT_EQ(qAlpha(shown.pixel(5, 5)), 77); // black at 0.3
    EXPECT_GT(qAlpha(shown.pixel(centre.x() - 150, centre.y())), 200); // the hint pill (0.7) with text
    mouse(window, QEvent::MouseButtonPress, {40, 40});
    mouse(window, QEvent::MouseMove, {140, 100});
    shown = window->overlayView()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(shown.pixel(90, 70)), 0);
    const QRgb edge = shown.pixel(40, 70);
    EXPECT_EQ(qAlpha(edge), 255);
    EXPECT_GT(qBlue(edge), 200);
    EXPECT_EQ(qAlpha(shown.pixel(centre.x() + 100, centre.y())), 77); // hint gone
    escape(window);
}
