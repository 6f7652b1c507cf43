// The screenshot preview's layout on the test X server, for small, middle-sized and full-screen
// captures (run once as is and once at QT_SCALE_FACTOR=2): no tool-bar button lies on another or
// is cut, the window is at least as wide as its bars, and the picture is never enlarged.
#include "app/AppState.h"
#include "screenshots/ImageEditorCanvas.h"
#include "screenshots/ImageEditorModel.h"
#include "screenshots/ImageEditorToolbar.h"
#include "screenshots/ImageEditorView.h"
#include "screenshots/ScreenshotHistoryManager.h"
#include "screenshots/ScreenshotPreviewView.h"
#include "screenshots/ScreenshotPreviewWindowController.h"
#include "screenshots/ScreenshotToolbar.h"
#include "support/TestSupport.h"

#include "EditorFixtures.h"
#include "PreviewFakes.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>

using namespace std::chrono_literals;

namespace {

struct Placed {
    QString name;
    QRect rect; // in the window
    const QWidget* bar;
};

QList<Placed> buttonsOf(const QWidget* bar, const QWidget* window)
{
    QList<Placed> placed;
    for (const QAbstractButton* button : bar->findChildren<QAbstractButton*>())
        if (button->isVisible())
            placed.append({button->objectName(), QRect(button->mapTo(window, QPoint(0, 0)), button->size()), bar});
    return placed;
}

} // namespace

TEST(PreviewLayoutX11, TheBarsFitAndThePictureIsNeverEnlarged)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_TRUE(screen);
    const double ratio = screen->devicePixelRatio();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    AppState state;
    // Two providers: the upload item is the split button, the widest it gets.
    ServerSettings settings = state.serverSettings();
    settings.ftpHost = "files.example";
    settings.yandexAccessToken = "token";
    state.setServerSettings(settings);
    fakes::Services fake;
    ScreenshotHistoryManager history(ScreenshotHistoryManager::Environment{dir.path() + "/history", {}, {}});
    ScreenshotPreviewWindowController controller(&state, &history, RecentCapturesRefresher());
    controller.setUploadServices(fake.services());
    controller.setViewEnvironment({{}, std::make_shared<fakes::SavePanel>()});

    // Sizes in points; the captures have the screen's ratio.
    const QSize fullScreen = screen->geometry().size();
    for (const QSize points : {QSize(200, 120), QSize(600, 350), fullScreen}) {
        const QString name = QStringLiteral("%1x%2 at ratio %3").arg(points.width()).arg(points.height()).arg(ratio);
        SCOPED_TRACE(name.toStdString());
        controller.showPreview(fixtures::noise(int(std::lround(points.width() * ratio)), int(std::lround(points.height() * ratio)), 7, ratio));
        QWidget* window = controller.window();
        ASSERT_TRUE(window);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        test::spin(200ms);

        ScreenshotToolbar* top = controller.toolbar();
        ImageEditorView* editor = controller.view()->editor();
        ImageEditorToolbar* tools = editor->toolbar();
        // The window is as wide as each bar needs, and so are the bars.
        EXPECT_GE(window->minimumWidth(), top->minimumSizeHint().width());
        EXPECT_GE(window->minimumWidth(), tools->minimumSizeHint().width());
        EXPECT_GE(top->width(), top->minimumSizeHint().width());
        EXPECT_GE(tools->width(), tools->minimumSizeHint().width());

        QList<Placed> buttons = buttonsOf(top, window) + buttonsOf(tools, window);
        // Save, copy, the split button's two parts, done; seven tools, six colours, width, undo, clear.
        EXPECT_EQ(buttons.size(), 5 + 16);
        for (const Placed& b : buttons) {
            const QRect bar(b.bar->mapTo(window, QPoint(0, 0)), b.bar->size());
            EXPECT_TRUE(bar.contains(b.rect)) << b.name.toStdString() << " is cut by its bar";
            EXPECT_TRUE(window->rect().contains(b.rect)) << b.name.toStdString() << " is cut by the window";
        }
        for (qsizetype i = 0; i < buttons.size(); ++i)
            for (qsizetype j = i + 1; j < buttons.size(); ++j)
                EXPECT_FALSE(buttons[i].rect.intersects(buttons[j].rect))
                    << buttons[i].name.toStdString() << " overlaps " << buttons[j].name.toStdString();
        // The width menu's label is whole.
        QToolButton* width = tools->lineWidthButton();
        EXPECT_GE(width->width(), width->sizeHint().width());

        // Shown at its own size when it fits, else smaller; never larger.
        const QSizeF image = editor->model()->imageSize();
        const auto fit = ImageEditorModel::aspectFit(editor->canvas()->size(), image);
        EXPECT_LE(fit.scale, 1.0);
        if (points != fullScreen) {
            EXPECT_DOUBLE_EQ(fit.scale, 1.0);
        }
        // A picture narrower than the window sits in its middle.
        EXPECT_NEAR(fit.offset.x(), (editor->canvas()->width() - image.width() * fit.scale) / 2, 0.01);
        EXPECT_GE(fit.offset.x(), 0);
        // Whole on the screen.
        EXPECT_TRUE(screen->availableGeometry().contains(window->geometry())) << window->geometry().width() << "x"
                                                                              << window->geometry().height();

        // For a look with one's own eyes.
        window->grab().save(QStringLiteral("/tmp/kestrova-preview-%1x%2-ratio%3.png").arg(points.width()).arg(points.height()).arg(ratio));
        controller.closeWindow();
        test::spin(50ms);
    }
}
