#include "screenshots/AnnotatedImageRenderer.h"

#include "screenshots/BlurBrush.h"

#include "EditorFixtures.h"

#include <gtest/gtest.h>

using fixtures::annotation;

TEST(AnnotatedImageRenderer, OutputKeepsThePicturesPixelsAndRatio)
{
    struct Case {
        QSize pixels;
        double dpr;
    };
    // A picture of a high-density screen keeps every pixel; fractional ratios included.
    const Case cases[] = {{{200, 100}, 1.0}, {{400, 200}, 2.0}, {{1512, 982}, 1.5}, {{301, 201}, 1.25}};
    for (const Case& c : cases) {
        const QImage image = fixtures::noise(c.pixels.width(), c.pixels.height(), 1, c.dpr);
        const QImage out = AnnotatedImageRenderer::renderImageWithAnnotations(image, {annotation(AnnotationType::line, {0, 0}, {10, 10})});
        EXPECT_EQ(out.size(), c.pixels);
        EXPECT_EQ(out.devicePixelRatio(), c.dpr);
        EXPECT_EQ(out.deviceIndependentSize(), image.deviceIndependentSize());
    }
}

TEST(AnnotatedImageRenderer, WithoutMarksThePictureComesOutUnchanged)
{
    const QImage image = fixtures::noise(120, 80, 2, 2.0, QImage::Format_RGB32);
    Annotation noText = annotation(AnnotationType::text, {10, 10}, {10, 10});
    Annotation emptyText = noText;
    emptyText.text = QString();
    Annotation lineBreak = noText;
    lineBreak.text = QStringLiteral("\n");
    const QList<QList<Annotation>> lists = {{}, {noText}, {emptyText}, {lineBreak}};
    for (const auto& list : lists) {
        const auto diff = fixtures::difference(AnnotatedImageRenderer::renderImageWithAnnotations(image, list), image);
        EXPECT_FALSE(diff) << diff.value_or(QString()).toStdString();
    }
}

TEST(AnnotatedImageRenderer, RectangleOutlineHasItsColourAndWidthAndNothingElseChanges)
{
    // Drawn in image points: 4 points wide is 4 pixels at ratio 1 and 8 pixels at ratio 2.
    for (double dpr : {1.0, 2.0}) {
        const QImage image = fixtures::flat(int(100 * dpr), int(80 * dpr), Qt::white, dpr);
        const QColor blue(0, 0, 255);
        const QImage out = AnnotatedImageRenderer::renderImageWithAnnotations(
            image, {annotation(AnnotationType::rectangle, {60, 50}, {20, 20}, blue, 4)});
        for (int y = 0; y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x) {
                const QPointF p((x + 0.5) / dpr, (y + 0.5) / dpr); // pixel centre in points
                // Distance in points to the outline of (20, 20, 40, 30).
                const double dx = std::max({20 - p.x(), p.x() - 60, 0.0});
                const double dy = std::max({20 - p.y(), p.y() - 50, 0.0});
                const bool outside = dx > 0 || dy > 0;
                const double d = outside ? std::hypot(dx, dy)
                                         : std::min({p.x() - 20, 60 - p.x(), p.y() - 20, 50 - p.y()});
                const QRgb pixel = out.pixel(x, y);
                if (d < 2 - 0.5 / dpr && !(outside && dx > 0 && dy > 0)) {
                    ASSERT_EQ(pixel, blue.rgb()) << "dpr " << dpr << " pixel " << x << "," << y;
                }
                if (d > 2 + 0.75 / dpr) {
                    ASSERT_EQ(pixel, qRgb(255, 255, 255)) << "dpr " << dpr << " pixel " << x << "," << y;
                }
            }
    }
}

TEST(AnnotatedImageRenderer, BlurUnderEveryOtherMarkWhateverTheOrder)
{
    const QImage image = fixtures::noise(200, 120, 4);
    const Annotation stroke = fixtures::blur({{20, 60}, {100, 60}, {180, 60}}, 40);
    const Annotation arrow = annotation(AnnotationType::arrow, {100, 10}, {100, 110}, QColor(0, 255, 0), 5);
    const QImage blurFirst = AnnotatedImageRenderer::renderImageWithAnnotations(image, {stroke, arrow});
    const QImage arrowFirst = AnnotatedImageRenderer::renderImageWithAnnotations(image, {arrow, stroke});
    EXPECT_FALSE(fixtures::difference(blurFirst, arrowFirst));
    // The arrow is sharp over the blurred area, and the area around it is blurred.
    EXPECT_EQ(blurFirst.pixel(100, 60), qRgb(0, 255, 0));
    EXPECT_NE(blurFirst.pixel(60, 60), image.pixel(60, 60));
    // Blur strokes are replayed segment by segment, as the editor applied them.
    QImage replay = image;
    BlurBrush::applyBlurAlongPathInPlace(replay, {{20, 60}, {100, 60}}, 40);
    BlurBrush::applyBlurAlongPathInPlace(replay, {{100, 60}, {180, 60}}, 40);
    EXPECT_FALSE(fixtures::difference(AnnotatedImageRenderer::applyBlurAnnotations(image, {arrow, stroke}), replay));
}

TEST(AnnotatedImageRenderer, MarksBeyondTheEdgeAreCutOff)
{
    const QImage image = fixtures::flat(60, 40, Qt::white);
    const QImage out = AnnotatedImageRenderer::renderImageWithAnnotations(
        image, {annotation(AnnotationType::line, {-50, 20}, {30, 20}, QColor(255, 0, 0), 4),
                annotation(AnnotationType::circle, {-1000, -1000}, {1000, 1000})});
    EXPECT_EQ(out.size(), image.size());
    EXPECT_EQ(out.pixel(0, 20), qRgb(255, 0, 0));
    EXPECT_EQ(out.pixel(45, 20), qRgb(255, 255, 255));
}

TEST(AnnotatedImageRenderer, NoPictureGivesThePictureBackWithAConsoleLine)
{
    testing::internal::CaptureStdout();
    const QImage out = AnnotatedImageRenderer::renderImageWithAnnotations(QImage(), {annotation(AnnotationType::line, {0, 0}, {5, 5})});
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(out.isNull());
    EXPECT_EQ(printed, "Failed to create bitmap representation, returning original image\n");
}
