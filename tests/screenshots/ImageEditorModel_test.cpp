#include "screenshots/ImageEditorModel.h"

#include "app/AppState.h"
#include "platform/SystemColors.h"
#include "screenshots/AnnotatedImageRenderer.h"
#include "screenshots/BlurBrush.h"

#include "EditorFixtures.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// A picture of 200 x 100 points shown in a 100 x 100 canvas: s = 0.5, offset (0, 25).
const QSizeF kCanvas(100, 100);

QPointF canvasPoint(QPointF imagePoint)
{
    return imagePoint * 0.5 + QPointF(0, 25);
}

struct Editor {
    AppState state;
    ImageEditorModel model;
    explicit Editor(const QImage& image)
        : model(image, &state)
    {
    }
    // A drag through image points, as the canvas reports it.
    void drag(const QList<QPointF>& imagePoints)
    {
        for (qsizetype i = 1; i < imagePoints.size(); ++i)
            model.dragChanged(canvasPoint(imagePoints.first()), canvasPoint(imagePoints[i]), kCanvas);
        model.dragEnded();
    }
    std::optional<QString> parity() const
    {
        return fixtures::difference(model.displayedImage(),
                                    AnnotatedImageRenderer::applyBlurAnnotations(model.image(), state.annotations()));
    }
};

} // namespace

TEST(ImageEditorModel, AspectFitMapping)
{
    struct Case {
        QSizeF canvas, image;
        double scale;
        QPointF offset;
        QPointF canvasPoint, imagePoint;
    };
    const Case cases[] = {
        {{500, 500}, {1000, 500}, 0.5, {0, 125}, {250, 250}, {500, 250}},
        // Outside the picture: no clamping.
        {{500, 500}, {1000, 500}, 0.5, {0, 125}, {0, 0}, {0, -250}},
        // A larger canvas centres the picture at its own size: never enlarged.
        {{800, 600}, {400, 300}, 1, {200, 150}, {210, 170}, {10, 20}},
        {{1000, 300}, {200, 100}, 1, {400, 100}, {400, 100}, {0, 0}},
    };
    for (const Case& c : cases) {
        const auto fit = ImageEditorModel::aspectFit(c.canvas, c.image);
        EXPECT_DOUBLE_EQ(fit.scale, c.scale);
        EXPECT_EQ(fit.offset, c.offset);
        ImageEditorModel model(QImage(c.image.toSize(), QImage::Format_RGB32), nullptr);
        EXPECT_EQ(model.convertToImageCoordinates(c.canvasPoint, c.canvas), c.imagePoint);
    }
    // Image coordinates are points: a picture of ratio 2 maps by its point size.
    ImageEditorModel hiDpi(fixtures::noise(2000, 1000, 1, 2.0), nullptr);
    EXPECT_EQ(hiDpi.convertToImageCoordinates({250, 250}, {500, 500}), QPointF(500, 250));
}

TEST(ImageEditorModel, DragsAddOneAnnotationOfTheTool)
{
    const QList<QPointF> path = {{10, 10}, {30, 15}, {50, 40}};
    for (AnnotationType tool : AnnotationTypes::allCases()) {
        Editor editor(fixtures::noise(200, 100));
        editor.model.setSelectedTool(tool);
        editor.model.setSelectedColor(platform::SystemColors::green());
        editor.model.setLineWidth(5);
        editor.drag(path);
        const auto list = editor.state.annotations();
        ASSERT_EQ(list.size(), 1) << AnnotationTypes::rawValue(tool).toStdString();
        const Annotation& a = list.first();
        EXPECT_EQ(a.type, tool);
        EXPECT_EQ(a.startPoint, path.first());
        EXPECT_EQ(a.endPoint, path.last());
        EXPECT_FALSE(a.text); // a text made by a drag has no text
        if (tool == AnnotationType::blur) {
            EXPECT_EQ(a.color, platform::SystemColors::gray());
            EXPECT_EQ(a.lineWidth, 25);
        } else {
            EXPECT_EQ(a.color, platform::SystemColors::green());
            EXPECT_EQ(a.lineWidth, 5);
        }
        if (tool == AnnotationType::pen || tool == AnnotationType::blur)
            EXPECT_EQ(a.pathPoints, path);
        else
            EXPECT_FALSE(a.pathPoints);
        EXPECT_FALSE(editor.model.isDrawing());
        EXPECT_FALSE(editor.model.previewAnnotation());
        EXPECT_TRUE(editor.model.currentPenPoints().isEmpty());
    }
}

TEST(ImageEditorModel, PreviewWhileDragging)
{
    Editor editor(fixtures::noise(200, 100));
    editor.model.dragChanged(canvasPoint({10, 10}), canvasPoint({40, 20}), kCanvas);
    ASSERT_TRUE(editor.model.previewAnnotation());
    EXPECT_EQ(editor.model.previewAnnotation()->type, AnnotationType::arrow);
    EXPECT_EQ(editor.model.previewAnnotation()->endPoint, QPointF(40, 20));
    EXPECT_TRUE(editor.state.annotations().isEmpty());

    Editor pen(fixtures::noise(200, 100));
    pen.model.setSelectedTool(AnnotationType::pen);
    pen.model.dragChanged(canvasPoint({10, 10}), canvasPoint({20, 10}), kCanvas);
    pen.model.dragChanged(canvasPoint({10, 10}), canvasPoint({20, 30}), kCanvas);
    ASSERT_TRUE(pen.model.previewAnnotation());
    EXPECT_EQ(pen.model.previewAnnotation()->pathPoints, (QList<QPointF>{{10, 10}, {20, 10}, {20, 30}}));

    // The blur brush changes the picture instead of showing a preview.
    Editor blur(fixtures::noise(200, 100));
    blur.model.setSelectedTool(AnnotationType::blur);
    blur.model.dragChanged(canvasPoint({50, 50}), canvasPoint({90, 50}), kCanvas);
    EXPECT_FALSE(blur.model.previewAnnotation());
    EXPECT_TRUE(blur.model.blurredImage());
    EXPECT_TRUE(fixtures::difference(blur.model.displayedImage(), blur.model.image()));
}

TEST(ImageEditorModel, ClicksAndShortDrags)
{
    for (AnnotationType tool : AnnotationTypes::allCases()) {
        if (tool == AnnotationType::text)
            continue;
        Editor editor(fixtures::noise(200, 100));
        editor.model.setSelectedTool(tool);
        editor.model.tap(canvasPoint({20, 20}), kCanvas);
        EXPECT_TRUE(editor.state.annotations().isEmpty()) << AnnotationTypes::rawValue(tool).toStdString();
        EXPECT_FALSE(editor.model.isEditingText());
    }
    // Every drag adds one, however short: a rectangle of zero height.
    Editor editor(fixtures::noise(200, 100));
    editor.model.setSelectedTool(AnnotationType::rectangle);
    editor.model.dragChanged({20, 50}, {21, 50}, kCanvas);
    editor.model.dragEnded();
    ASSERT_EQ(editor.state.annotations().size(), 1);
    EXPECT_EQ(editor.state.annotations()[0].startPoint.y(), editor.state.annotations()[0].endPoint.y());
    // A stroke partly outside the picture keeps its outside points as they are.
    editor.model.setSelectedTool(AnnotationType::blur);
    editor.drag({{150, 50}, {260, 50}, {260, -40}});
    EXPECT_EQ(editor.state.annotations().last().pathPoints, (QList<QPointF>{{150, 50}, {260, 50}, {260, -40}}));
}

TEST(ImageEditorModel, TextEntry)
{
    Editor editor(fixtures::noise(200, 100));
    editor.model.setSelectedTool(AnnotationType::text);
    editor.model.tap(canvasPoint({30, 40}), kCanvas);
    EXPECT_TRUE(editor.model.isEditingText());
    EXPECT_EQ(editor.model.textPosition(), QPointF(30, 40));
    EXPECT_EQ(editor.model.textFieldPosition(), canvasPoint({30, 40}));

    // A new tap drops what was typed and starts again at the new point.
    editor.model.setTextInput("dropped");
    editor.model.tap(canvasPoint({60, 20}), kCanvas);
    EXPECT_TRUE(editor.model.textInput().isEmpty());
    editor.model.setTextInput("word");
    editor.model.setSelectedColor(platform::SystemColors::blue());
    editor.model.commitTextAnnotation();
    ASSERT_EQ(editor.state.annotations().size(), 1);
    const Annotation text = editor.state.annotations()[0];
    EXPECT_EQ(text.type, AnnotationType::text);
    EXPECT_EQ(text.text, QString("word"));
    EXPECT_EQ(text.startPoint, QPointF(60, 20));
    EXPECT_EQ(text.endPoint, QPointF(60, 20));
    EXPECT_EQ(text.color, platform::SystemColors::blue()); // the colour at the commit
    EXPECT_FALSE(editor.model.isEditingText());

    // Empty: nothing stored. Spaces alone: stored. Cancel: nothing stored.
    editor.model.tap(canvasPoint({5, 5}), kCanvas);
    editor.model.commitTextAnnotation();
    editor.model.tap(canvasPoint({5, 5}), kCanvas);
    editor.model.setTextInput("  ");
    editor.model.commitTextAnnotation();
    editor.model.tap(canvasPoint({5, 5}), kCanvas);
    editor.model.setTextInput("gone");
    editor.model.cancelTextEntry();
    ASSERT_EQ(editor.state.annotations().size(), 2);
    EXPECT_EQ(editor.state.annotations()[1].text, QString("  "));

    // Choosing another tool while typing stores the text.
    editor.model.tap(canvasPoint({5, 5}), kCanvas);
    editor.model.setTextInput("kept");
    editor.model.setSelectedTool(AnnotationType::pen);
    EXPECT_FALSE(editor.model.isEditingText());
    EXPECT_EQ(editor.state.annotations().last().text, QString("kept"));
}

TEST(ImageEditorModel, UndoAndClear)
{
    Editor editor(fixtures::noise(200, 100));
    editor.model.undoLastAnnotation(); // nothing to undo
    EXPECT_FALSE(editor.model.hasAnnotations());
    editor.drag({{0, 0}, {10, 10}});
    editor.model.setSelectedTool(AnnotationType::circle);
    editor.drag({{20, 20}, {40, 40}});
    EXPECT_TRUE(editor.model.hasAnnotations());
    editor.model.undoLastAnnotation();
    ASSERT_EQ(editor.state.annotations().size(), 1);
    EXPECT_EQ(editor.state.annotations()[0].type, AnnotationType::arrow);

    editor.model.setSelectedTool(AnnotationType::blur);
    editor.drag({{50, 50}, {90, 50}});
    editor.model.clearAllAnnotations();
    EXPECT_FALSE(editor.model.hasAnnotations());
    EXPECT_FALSE(editor.model.blurredImage());
    EXPECT_EQ(editor.model.blurHistoryCount(), 0);
    EXPECT_FALSE(fixtures::difference(editor.model.displayedImage(), editor.model.image()));
}

TEST(ImageEditorModel, BlurStrokesAndTheirUndo)
{
    const QImage image = fixtures::noise(200, 100, 3);
    Editor editor(image);
    editor.model.setSelectedTool(AnnotationType::blur);
    editor.model.setLineWidth(8);
    // One change of the drag: two points, one segment.
    editor.drag({{20, 20}, {60, 30}});
    ASSERT_EQ(editor.state.annotations().size(), 1);
    EXPECT_EQ(editor.state.annotations()[0].lineWidth, 40);
    EXPECT_EQ(editor.state.annotations()[0].pathPoints->size(), 2);
    const QImage afterFirst = editor.model.displayedImage().copy();
    EXPECT_FALSE(fixtures::difference(afterFirst, BlurBrush::applyBlurAlongPath(image, {{20, 20}, {60, 30}}, 40)));

    editor.model.setLineWidth(3);
    editor.drag({{40, 10}, {50, 40}, {120, 60}, {180, 90}});
    EXPECT_EQ(editor.state.annotations()[1].lineWidth, 15);
    EXPECT_EQ(editor.model.blurHistoryCount(), 2);
    EXPECT_FALSE(editor.parity());

    editor.model.undoLastAnnotation();
    EXPECT_FALSE(fixtures::difference(editor.model.displayedImage(), afterFirst));
    editor.model.undoLastAnnotation();
    EXPECT_FALSE(fixtures::difference(editor.model.displayedImage(), image));
    EXPECT_FALSE(editor.model.blurredImage());
    EXPECT_FALSE(editor.model.hasAnnotations());
}

TEST(ImageEditorModel, UndoIsIgnoredWhileAStrokeIsDrawn)
{
    Editor editor(fixtures::noise(200, 100, 4));
    editor.model.setSelectedTool(AnnotationType::blur);
    editor.drag({{20, 20}, {60, 30}});
    editor.model.dragChanged(canvasPoint({100, 50}), canvasPoint({150, 60}), kCanvas);
    editor.model.undoLastAnnotation();
    editor.model.clearAllAnnotations();
    editor.model.dragChanged(canvasPoint({100, 50}), canvasPoint({160, 80}), kCanvas);
    editor.model.dragEnded();
    EXPECT_EQ(editor.state.annotations().size(), 2);
    EXPECT_FALSE(editor.parity());
}

TEST(ImageEditorModel, EditorPictureEqualsTheReplayAfterEveryStep)
{
    // Random strokes of every kind with undos in between; after each step the editor's picture is
    // byte-equal to the stored annotations replayed on the captured picture.
    for (double dpr : {1.0, 2.0}) {
        const QImage image = fixtures::noise(int(200 * dpr), int(100 * dpr), 21, dpr);
        Editor editor(image);
        std::mt19937 rng(5);
        std::uniform_real_distribution<double> x(-20, 220), y(-20, 120);
        const QList<AnnotationType> tools = {AnnotationType::blur, AnnotationType::arrow, AnnotationType::blur,
                                             AnnotationType::pen, AnnotationType::rectangle, AnnotationType::blur};
        const double widths[] = {2, 3, 5, 8};
        for (int step = 0; step < 24; ++step) {
            if (step % 5 == 4) {
                editor.model.undoLastAnnotation();
            } else {
                editor.model.setSelectedTool(tools[step % tools.size()]);
                editor.model.setLineWidth(widths[step % 4]);
                QList<QPointF> points;
                for (int i = 0; i < 2 + step % 4; ++i)
                    points.append({x(rng), y(rng)});
                editor.drag(points);
            }
            const auto diff = editor.parity();
            ASSERT_FALSE(diff) << "dpr " << dpr << " step " << step << ": " << diff->toStdString();
        }
        while (editor.model.hasAnnotations())
            editor.model.undoLastAnnotation();
        EXPECT_FALSE(fixtures::difference(editor.model.displayedImage(), image));
    }
}

TEST(ImageEditorModel, LineWidthLabels)
{
    const std::pair<double, const char*> cases[] = {
        {2, "Тонкая"}, {3, "Средняя"}, {5, "Толстая"}, {8, "Очень толстая"}, {4, "Средняя"}, {5.9, "Толстая"}, {1, "Средняя"},
    };
    ImageEditorModel model(fixtures::noise(10, 10), nullptr);
    EXPECT_EQ(model.lineWidthLabel(), QString("Средняя"));
    for (const auto& [width, label] : cases) {
        model.setLineWidth(width);
        EXPECT_EQ(model.lineWidthLabel(), QString::fromUtf8(label)) << width;
    }
}
