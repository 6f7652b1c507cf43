#include "screenshots/ImageEditorView.h"

#include "app/AppState.h"
#include "platform/SystemColors.h"
#include "screenshots/AnnotatedImageRenderer.h"
#include "screenshots/ImageEditorCanvas.h"
#include "screenshots/ImageEditorModel.h"
#include "screenshots/ImageEditorScaler.h"
#include "screenshots/ImageEditorToolbar.h"
#include "screenshots/InlineTextEditorView.h"

#include "EditorFixtures.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

using namespace std::chrono_literals;

namespace {

// Presses at the first point, moves through the others, releases at the last.
void drag(QWidget* widget, const QList<QPoint>& points)
{
    QTest::mousePress(widget, Qt::LeftButton, {}, points.first());
    for (qsizetype i = 1; i < points.size(); ++i)
        QTest::mouseMove(widget, points[i]);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, points.last());
}

class ImageEditorViewTest : public ::testing::Test {
protected:
    void open(const QImage& image, QSize size = {900, 560})
    {
        picture = image;
        view = std::make_unique<ImageEditorView>(image, &state);
        view->resize(size);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        view->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    }
    ImageEditorModel* model() const { return view->model(); }
    QWidget* canvas() const { return view->canvas(); }
    ImageEditorToolbar* toolbar() const { return view->toolbar(); }
    QPointF toImage(QPoint canvasPoint) const
    {
        return model()->convertToImageCoordinates(canvasPoint, canvas()->size());
    }
    void choose(AnnotationType tool) { QTest::mouseClick(toolbar()->toolButton(tool), Qt::LeftButton); }
    std::optional<QString> parity() const
    {
        return fixtures::difference(model()->displayedImage(),
                                    AnnotatedImageRenderer::applyBlurAnnotations(picture, state.annotations()));
    }
    // Clicks on the canvas with the text tool and waits for the field to take the keyboard.
    InlineTextEditorView* startText(QPoint at)
    {
        QTest::mouseClick(canvas(), Qt::LeftButton, {}, at);
        if (!test::waitUntil([&] { return view->textField() && QApplication::focusWidget() == view->textField(); }, 2s))
            return nullptr;
        return view->textField();
    }

    AppState state;
    QImage picture;
    std::unique_ptr<ImageEditorView> view;
};

} // namespace

TEST_F(ImageEditorViewTest, DragsDrawEveryTool)
{
    open(fixtures::noise(400, 300, 1));
    const QList<QPoint> path = {{300, 150}, {340, 170}, {380, 210}, {420, 260}};
    for (AnnotationType tool : AnnotationTypes::allCases()) {
        choose(tool);
        ASSERT_EQ(model()->selectedTool(), tool);
        const qsizetype before = state.annotations().size();
        const QImage shownBefore = view->canvas()->scaledPicture().copy();
        drag(canvas(), path);
        ASSERT_EQ(state.annotations().size(), before + 1) << AnnotationTypes::rawValue(tool).toStdString();
        const Annotation a = state.annotations().last();
        EXPECT_EQ(a.type, tool);
        EXPECT_EQ(a.startPoint, toImage(path.first()));
        EXPECT_EQ(a.endPoint, toImage(path.last()));
        if (tool == AnnotationType::pen || tool == AnnotationType::blur) {
            ASSERT_TRUE(a.pathPoints);
            EXPECT_EQ(a.pathPoints->size(), path.size());
        }
        if (tool == AnnotationType::blur) {
            EXPECT_EQ(a.lineWidth, 15);
            // The live brush reached the canvas's scaled picture under the stroke.
            const auto fit = ImageEditorModel::aspectFit(canvas()->size(), model()->imageSize());
            const QPoint inCache = ((QPointF(path[1]) - fit.offset) * canvas()->devicePixelRatioF()).toPoint();
            EXPECT_NE(view->canvas()->scaledPicture().pixel(inCache), shownBefore.pixel(inCache));
        }
    }
    // A click with a drawing tool adds nothing.
    choose(AnnotationType::arrow);
    const qsizetype count = state.annotations().size();
    QTest::mouseClick(canvas(), Qt::LeftButton, {}, {200, 200});
    EXPECT_EQ(state.annotations().size(), count);
}

TEST_F(ImageEditorViewTest, UndoAndClearFollowTheList)
{
    open(fixtures::noise(400, 300, 2));
    QAbstractButton* undo = toolbar()->undoButton();
    QAbstractButton* clear = toolbar()->clearButton();
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(clear->isEnabled());
    EXPECT_EQ(undo->toolTip(), QString("Отменить (Ctrl+Z)"));
    EXPECT_EQ(clear->toolTip(), QString("Очистить"));

    drag(canvas(), {{300, 100}, {350, 150}});
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_TRUE(clear->isEnabled());
    // Ctrl+Z undoes the last annotation.
    QTest::keyClick(view.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(state.annotations().isEmpty());
    EXPECT_FALSE(undo->isEnabled());

    // A text made by a drag draws nothing but counts: undo is enabled, one undo removes it.
    choose(AnnotationType::text);
    drag(canvas(), {{300, 100}, {350, 150}});
    ASSERT_EQ(state.annotations().size(), 1);
    EXPECT_FALSE(state.annotations()[0].text);
    EXPECT_TRUE(undo->isEnabled());
    QTest::mouseClick(undo, Qt::LeftButton);
    EXPECT_TRUE(state.annotations().isEmpty());

    choose(AnnotationType::blur);
    drag(canvas(), {{300, 100}, {350, 150}});
    drag(canvas(), {{320, 200}, {400, 180}});
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_TRUE(state.annotations().isEmpty());
    EXPECT_FALSE(model()->blurredImage());
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(clear->isEnabled());
}

TEST_F(ImageEditorViewTest, TextFieldKeys)
{
    open(fixtures::noise(400, 300, 3));
    choose(AnnotationType::text);
    struct Step {
        QString typed;
        Qt::Key key = Qt::Key_unknown;
        Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    };
    struct Case {
        const char* name;
        QList<Step> steps;
        std::optional<QString> stored;
    };
    const Case cases[] = {
        {"Return stores", {{"abc", Qt::Key_Return}}, QString("abc")},
        {"Shift-Return breaks the line", {{"ab", Qt::Key_Return, Qt::ShiftModifier}, {"cd", Qt::Key_Return}}, QString("ab\ncd")},
        {"Return in an empty field breaks the line", {{"", Qt::Key_Return}, {"", Qt::Key_Return}}, QString("\n")},
        {"Escape discards", {{"abc", Qt::Key_Escape}}, std::nullopt},
        {"Ctrl-Return is Return", {{"ab", Qt::Key_Return, Qt::ControlModifier}}, QString("ab")},
        {"Ctrl-Shift-Return is Shift-Return", {{"ab", Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier}, {"c", Qt::Key_Enter}}, QString("ab\nc")},
    };
    for (const Case& c : cases) {
        const QPoint at(260, 120);
        InlineTextEditorView* field = startText(at);
        ASSERT_TRUE(field) << c.name << ": the field did not take the focus";
        EXPECT_EQ(field->geometry().topLeft(), at);
        const qsizetype before = state.annotations().size();
        for (const Step& step : c.steps) {
            // Typed into whatever has the focus: the field has it without a click.
            QTest::keyClicks(QApplication::focusWidget(), step.typed);
            QTest::keyClick(QApplication::focusWidget(), step.key, step.modifiers);
        }
        QCoreApplication::processEvents();
        EXPECT_FALSE(view->textField() && view->textField()->isVisible()) << c.name;
        EXPECT_FALSE(model()->isEditingText()) << c.name;
        if (c.stored) {
            ASSERT_EQ(state.annotations().size(), before + 1) << c.name;
            EXPECT_EQ(state.annotations().last().text, *c.stored) << c.name;
            EXPECT_EQ(state.annotations().last().startPoint, toImage(at)) << c.name;
        } else {
            EXPECT_EQ(state.annotations().size(), before) << c.name;
        }
    }
}

TEST_F(ImageEditorViewTest, TextFieldColourWrapAndRestart)
{
    open(fixtures::noise(400, 300, 4));
    choose(AnnotationType::text);
    InlineTextEditorView* field = startText({230, 60});
    ASSERT_TRUE(field);
    EXPECT_EQ(field->textColor(), platform::SystemColors::red());
    QTest::keyClicks(field, "Hi");
    EXPECT_EQ(model()->textInput(), QString("Hi"));
    // Another colour recolours the text being typed; the commit stores the colour of that moment.
    QTest::mouseClick(toolbar()->colorButton(1), Qt::LeftButton);
    EXPECT_EQ(field->textColor(), platform::SystemColors::blue());
    EXPECT_EQ(QApplication::focusWidget(), field);
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(state.annotations().size(), 1);
    EXPECT_EQ(state.annotations()[0].color, platform::SystemColors::blue());

    // Inside the field Ctrl+Z undoes typing, not the last annotation.
    field = startText({230, 60});
    ASSERT_TRUE(field);
    QTest::keyClicks(field, "xy");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(state.annotations().size(), 1);
    EXPECT_NE(field->toPlainText(), QString("xy"));
    QTest::keyClick(field, Qt::Key_Escape);

    // A long line wraps at 400 points in the field but is stored as one line.
    field = startText({230, 60});
    ASSERT_TRUE(field);
    const QString longLine = QString("word ").repeated(40).trimmed();
    QTest::keyClicks(field, longLine);
    EXPECT_GT(field->document()->firstBlock().layout()->lineCount(), 1);
    EXPECT_LE(field->document()->documentLayout()->documentSize().width(), InlineTextEditorView::kWrapWidth + 1);
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(state.annotations().size(), 2);
    EXPECT_EQ(state.annotations()[1].text, longLine);

    // A click on the canvas (left of the field) while typing restarts the entry there.
    field = startText({400, 200});
    ASSERT_TRUE(field);
    QTest::keyClicks(field, "dropped");
    field = startText({240, 100});
    ASSERT_TRUE(field);
    EXPECT_EQ(field->geometry().topLeft(), QPoint(240, 100));
    EXPECT_TRUE(field->toPlainText().isEmpty());
    EXPECT_TRUE(model()->textInput().isEmpty());
    // Choosing another tool stores what was typed.
    QTest::keyClicks(field, "kept");
    choose(AnnotationType::pen);
    QCoreApplication::processEvents();
    EXPECT_FALSE(view->textField());
    ASSERT_EQ(state.annotations().size(), 3);
    EXPECT_EQ(state.annotations()[2].text, QString("kept"));
    EXPECT_EQ(state.annotations()[2].startPoint, toImage({240, 100}));
}

TEST_F(ImageEditorViewTest, ToolBarTexts)
{
    open(fixtures::noise(400, 300, 5));
    const char* tips[] = {"Стрелка", "Линия", "Прямоугольник", "Круг", "Текст", "Карандаш", "Размытие"};
    for (qsizetype i = 0; i < AnnotationTypes::allCases().size(); ++i)
        EXPECT_EQ(toolbar()->toolButton(AnnotationTypes::allCases()[i])->toolTip(), QString::fromUtf8(tips[i]));
    EXPECT_TRUE(toolbar()->toolButton(AnnotationType::arrow)->isChecked());
    EXPECT_TRUE(toolbar()->colorButton(0)->isChecked());

    QToolButton* width = toolbar()->lineWidthButton();
    EXPECT_EQ(width->toolTip(), QString("Толщина линии"));
    EXPECT_EQ(model()->lineWidthLabel(), QString("Средняя"));
    const QList<QAction*> items = toolbar()->lineWidthMenu()->actions();
    ASSERT_EQ(items.size(), 4);
    const char* labels[] = {"Тонкая", "Средняя", "Толстая", "Очень толстая"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(items[i]->text(), QString::fromUtf8(labels[i]));
        EXPECT_EQ(ImageEditorToolbar::isCurrentWidthItem(items[i]), i == 1);
    }
    items[3]->trigger();
    EXPECT_EQ(model()->lineWidth(), 8);
    EXPECT_EQ(model()->lineWidthLabel(), QString("Очень толстая"));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ImageEditorToolbar::isCurrentWidthItem(items[i]), i == 3);
}

TEST_F(ImageEditorViewTest, EditorPictureEqualsTheReplayedAnnotations)
{
    open(fixtures::noise(400, 300, 6));
    struct Step {
        AnnotationType tool;
        QList<QPoint> path; // empty: undo (odd index: the button, even: Ctrl+Z)
    };
    const Step steps[] = {
        {AnnotationType::blur, {{300, 100}, {330, 120}, {380, 160}, {420, 170}}},
        {AnnotationType::arrow, {{320, 90}, {400, 180}}},
        {AnnotationType::blur, {{400, 80}, {380, 140}, {350, 200}}},
        {AnnotationType::blur, {}},
        {AnnotationType::pen, {{260, 60}, {300, 80}, {310, 120}}},
        {AnnotationType::blur, {{250, 220}, {300, 230}, {360, 240}, {390, 300}}},
        {AnnotationType::blur, {{380, 300}, {330, 250}}},
        {AnnotationType::blur, {}},
        {AnnotationType::rectangle, {{280, 150}, {450, 260}}},
        {AnnotationType::blur, {{310, 160}, {420, 250}}},
        {AnnotationType::blur, {}},
        {AnnotationType::blur, {}},
    };
    int undos = 0;
    for (const Step& step : steps) {
        if (step.path.isEmpty()) {
            if (undos++ % 2)
                QTest::mouseClick(toolbar()->undoButton(), Qt::LeftButton);
            else
                QTest::keyClick(view.get(), Qt::Key_Z, Qt::ControlModifier);
        } else {
            choose(step.tool);
            drag(canvas(), step.path);
        }
        const auto diff = parity();
        ASSERT_FALSE(diff) << diff->toStdString();
    }
    EXPECT_EQ(state.annotations().size(), 4);
}

TEST_F(ImageEditorViewTest, NoPictureIsHandledQuietly)
{
    open(QImage());
    for (AnnotationType tool : AnnotationTypes::allCases()) {
        choose(tool);
        drag(canvas(), {{100, 100}, {150, 120}, {200, 180}});
    }
    EXPECT_EQ(state.annotations().size(), AnnotationTypes::allCases().size());
    QTest::keyClick(view.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(state.annotations().size(), AnnotationTypes::allCases().size() - 1);
    EXPECT_TRUE(AnnotatedImageRenderer::renderImageWithAnnotations(QImage(), state.annotations()).isNull());
    view->grab();
}

namespace {

// Fine detail that any change of filter shows: one-pixel lines in three colours on a dark ground.
QImage lines(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, x % 4 == 0 ? qRgb(255, 240, 40) : y % 3 == 0 ? qRgb(40, 200, 255) : (x + y) % 7 == 0 ? qRgb(250, 250, 250) : qRgb(20, 24, 30));
    return image;
}

struct ChannelDifference {
    int max = 0;
    double mean = 0; // over the pixels that differ at all
};

ChannelDifference channelDifference(const QImage& a, const QImage& b)
{
    ChannelDifference d;
    qint64 sum = 0, count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int m = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q)),
                                    std::abs(qAlpha(p) - qAlpha(q))});
            if (m > 0) {
                sum += m;
                ++count;
            }
            d.max = std::max(d.max, m);
        }
    d.mean = count ? double(sum) / count : 0;
    return d;
}

} // namespace

// A live blur refreshes only the area of the scaled copy it changed, with the filter of the whole
// copy: after a few segments the copy is exactly a new scaling of the blurred picture, and close
// to what QImage::scaled makes of it (a refresh by another filter differed by 50 on average).
TEST(ImageEditorCanvas, TheScaledCopyStaysARescaleOfTheBlurredPicture)
{
    const struct {
        QSize picture, canvas;
        int tolerance; // against QImage::scaled, which enlarges with 8-bit weights
        double pictureRatio = 1;
    } cases[] = {
        {{1920, 1080}, {800, 450}, 2}, // 2.4 : 1
        {{1000, 700}, {437, 400}, 2},  // an uneven ratio
        {{1280, 720}, {1279, 720}, 2}, // barely reduced: no part but the whole lines up with the cache
        // Enlarged: fewer pixels than the canvas shows its points with, as a capture of ratio 1 on a
        // screen of ratio 2. The points are not enlarged; the pixels are.
        {{150, 100}, {437, 300}, 4, 0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1x%2 in %3x%4")
                         .arg(c.picture.width()).arg(c.picture.height()).arg(c.canvas.width()).arg(c.canvas.height())
                         .toStdString());
        AppState state;
        QImage picture = lines(c.picture.width(), c.picture.height());
        picture.setDevicePixelRatio(c.pictureRatio);
        ImageEditorModel model(picture, &state);
        ImageEditorCanvas canvas(&model);
        canvas.resize(c.canvas);
        canvas.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&canvas));
        const QImage before = canvas.scaledPicture().copy();
        ASSERT_NE(before.size(), model.displayedImage().size());
        model.setSelectedTool(AnnotationType::blur);
        model.setLineWidth(2);
        const QPointF start(c.canvas.width() * 0.2, c.canvas.height() * 0.3);
        for (const QPointF& to : {QPointF(0.35, 0.4), QPointF(0.5, 0.35), QPointF(0.6, 0.6), QPointF(0.7, 0.5)})
            model.dragChanged(start, QPointF(c.canvas.width() * to.x(), c.canvas.height() * to.y()), canvas.size());
        model.dragEnded();

        const QImage& shown = canvas.scaledPicture();
        EXPECT_GT(channelDifference(shown, before).max, 40); // the blur did reach the copy
        const auto fresh = fixtures::difference(shown, ImageEditorScaler::scaled(model.displayedImage(), shown.size()));
        EXPECT_FALSE(fresh) << fresh->toStdString();
        const QImage rescaled = model.displayedImage().scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        ASSERT_EQ(shown.size(), rescaled.size());
        const ChannelDifference d = channelDifference(shown, rescaled);
        EXPECT_LE(d.max, c.tolerance);
        EXPECT_LE(d.mean, 1.5);
    }
}

namespace {

// A canvas as large as the picture in points (plus 10 points above and below): scale 1, offset
// (0, 10), so the canvas shows the picture pixel for pixel and can be compared with the output.
std::optional<QString> canvasEqualsOutput(double dpr)
{
    const QImage image = fixtures::noise(int(240 * dpr), int(160 * dpr), 8, dpr);
    AppState state;
    ImageEditorModel model(image, &state);
    ImageEditorCanvas canvas(&model);
    canvas.resize(240, 180);
    canvas.show();
    if (!QTest::qWaitForWindowExposed(&canvas))
        return QStringLiteral("canvas not exposed");
    if (canvas.devicePixelRatioF() != dpr)
        return QStringLiteral("canvas device pixel ratio %1, wanted %2").arg(canvas.devicePixelRatioF()).arg(dpr);
    const QPoint o(0, 10);
    model.setSelectedTool(AnnotationType::blur);
    drag(&canvas, {o + QPoint(60, 50), o + QPoint(90, 60), o + QPoint(150, 70), o + QPoint(180, 110)});
    model.setSelectedTool(AnnotationType::arrow);
    drag(&canvas, {o + QPoint(40, 120), o + QPoint(160, 65)});
    model.setSelectedTool(AnnotationType::blur);
    model.setLineWidth(5);
    drag(&canvas, {o + QPoint(120, 30), o + QPoint(130, 80), o + QPoint(100, 130)});
    model.setSelectedColor(platform::SystemColors::purple());
    for (AnnotationType tool : {AnnotationType::circle, AnnotationType::rectangle, AnnotationType::pen}) {
        model.setSelectedTool(tool);
        drag(&canvas, {o + QPoint(30, 20), o + QPoint(70, 50), o + QPoint(90, 40)});
    }
    model.setSelectedTool(AnnotationType::text);
    QTest::mouseClick(&canvas, Qt::LeftButton, {}, o + QPoint(20, 100));
    model.setTextInput(QStringLiteral("Пароль\nскрыт"));
    model.commitTextAnnotation();
    // A mark reaching out of the picture: drawn over the margin, cut off in the output.
    model.setSelectedTool(AnnotationType::line);
    drag(&canvas, {o + QPoint(200, 150), o + QPoint(260, 175)});
    if (state.annotations().size() != 8)
        return QStringLiteral("%1 annotations").arg(state.annotations().size());

    const QImage shown = canvas.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage output = AnnotatedImageRenderer::renderImageWithAnnotations(image, state.annotations());
    if (output.size() != image.size() || output.devicePixelRatio() != dpr)
        return QStringLiteral("output not at the picture's resolution");
    const QRect pictureArea(QPoint(0, int(10 * dpr)), image.size());
    // Lay the output over the canvas background to compare exactly what the user sees.
    QImage seen(output.size(), QImage::Format_RGB32);
    seen.fill(canvas.palette().color(QPalette::Window));
    seen.setDevicePixelRatio(dpr);
    QPainter painter(&seen);
    painter.drawImage(0, 0, output);
    painter.end();
    return fixtures::difference(shown.copy(pictureArea), seen);
}

} // namespace

TEST(ImageEditorCanvas, ShowsWhatTheOutputRenders)
{
    const auto diff = canvasEqualsOutput(1.0);
    EXPECT_FALSE(diff) << diff->toStdString();
}

// On a screen of ratio 2 the canvas shows the picture's own pixels, and the output has all of them.
TEST(ImageEditorCanvas, ShowsWhatTheOutputRendersAtRatio2)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_SCALE_FACTOR", "2");
    env.insert("KESTROVA_TEST_HOME", test::testHome());
    const auto result = test::run(QCoreApplication::applicationFilePath(),
                                  {"--gtest_filter=ImageEditorCanvasChild.*", "--gtest_also_run_disabled_tests"}, 60s, env);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0) << result.output.toStdString();
    EXPECT_TRUE(result.output.contains("[  PASSED  ] 1 test")) << result.output.toStdString();
}

TEST(ImageEditorCanvasChild, DISABLED_RatioTwo)
{
    const auto diff = canvasEqualsOutput(2.0);
    EXPECT_FALSE(diff) << diff->toStdString();
}
