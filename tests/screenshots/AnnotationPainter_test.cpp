#include "screenshots/AnnotationPainter.h"

#include "EditorFixtures.h"

#include <QFontMetricsF>
#include <QPainter>

#include <gtest/gtest.h>

using fixtures::annotation;

namespace {

// The path as its subpaths, each a list of points.
QList<QList<QPointF>> subpaths(const QPainterPath& path)
{
    QList<QList<QPointF>> out;
    for (int i = 0; i < path.elementCount(); ++i) {
        const auto e = path.elementAt(i);
        if (e.isMoveTo() || out.isEmpty())
            out.append(QList<QPointF>());
        out.last().append(QPointF(e.x, e.y));
    }
    return out;
}

bool near(QPointF a, QPointF b, double tolerance = 0.01)
{
    return std::abs(a.x() - b.x()) <= tolerance && std::abs(a.y() - b.y()) <= tolerance;
}

::testing::AssertionResult samePoint(QPointF actual, QPointF expected)
{
    if (near(actual, expected))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << actual.x() << ", " << actual.y() << ") instead of (" << expected.x()
                                         << ", " << expected.y() << ")";
}

// Bounding box of the pixels that are not transparent.
QRect inkBounds(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

TEST(AnnotationPainter, ArrowShaftAndHead)
{
    struct Case {
        QPointF start, end;
        double scale;
        QPointF offset;
        QPointF tip, head1, head2;
    };
    const Case cases[] = {
        {{0, 0}, {100, 0}, 1, {0, 0}, {100, 0}, {87.01, 7.5}, {87.01, -7.5}},
        // Pointing down the picture (y grows downward).
        {{0, 0}, {0, 100}, 1, {0, 0}, {0, 100}, {7.5, 87.01}, {-7.5, 87.01}},
        // Start and end coincide: theta = atan2(0, 0) = 0, the head opens to the left.
        {{50, 50}, {50, 50}, 1, {0, 0}, {50, 50}, {37.01, 57.5}, {37.01, 42.5}},
        // Only positions are scaled: the head stays 15 units long on a reduced canvas.
        {{0, 0}, {200, 0}, 0.5, {10, 20}, {110, 20}, {97.01, 27.5}, {97.01, 12.5}},
    };
    for (const Case& c : cases) {
        const auto parts = subpaths(AnnotationPainter::strokePath(annotation(AnnotationType::arrow, c.start, c.end), c.scale, c.offset));
        // The shaft, then the two head strokes from the tip; a path drops a zero-length shaft.
        ASSERT_EQ(parts.size(), c.start == c.end ? 2 : 3);
        if (parts.size() == 3) {
            EXPECT_TRUE(samePoint(parts[0][0], c.start * c.scale + c.offset));
            EXPECT_TRUE(samePoint(parts[0][1], c.tip));
        }
        QList<QPointF> heads;
        for (qsizetype i = parts.size() - 2; i < parts.size(); ++i) {
            ASSERT_EQ(parts[i].size(), 2);
            EXPECT_TRUE(samePoint(parts[i][0], c.tip));
            heads.append(parts[i][1]);
        }
        EXPECT_TRUE((near(heads[0], c.head1) && near(heads[1], c.head2)) || (near(heads[0], c.head2) && near(heads[1], c.head1)))
            << "heads (" << heads[0].x() << ", " << heads[0].y() << ") and (" << heads[1].x() << ", " << heads[1].y() << ")";
    }
}

TEST(AnnotationPainter, ShapeOutlines)
{
    struct Case {
        AnnotationType type;
        QPointF start, end;
        double scale;
        QPointF offset;
        QRectF bounds;
    };
    const Case cases[] = {
        // Rectangles are normalised, whichever way the drag went.
        {AnnotationType::rectangle, {50, 80}, {10, 20}, 1, {0, 0}, {10, 20, 40, 60}},
        {AnnotationType::rectangle, {10, 20}, {50, 80}, 1, {0, 0}, {10, 20, 40, 60}},
        {AnnotationType::rectangle, {0, 0}, {200, 100}, 0.5, {0, 125}, {0, 125, 100, 50}},
        // The circle's diameter is the drag: centre (15, 20), diameter 50.
        {AnnotationType::circle, {0, 0}, {30, 40}, 1, {0, 0}, {-10, -5, 50, 50}},
        {AnnotationType::circle, {30, 40}, {0, 0}, 1, {0, 0}, {-10, -5, 50, 50}},
        {AnnotationType::circle, {0, 0}, {30, 40}, 2, {5, 5}, {-15, -5, 100, 100}},
        {AnnotationType::line, {5, 60}, {45, 10}, 1, {0, 0}, {5, 10, 40, 50}},
    };
    for (const Case& c : cases) {
        const QRectF bounds = AnnotationPainter::strokePath(annotation(c.type, c.start, c.end), c.scale, c.offset).boundingRect();
        EXPECT_NEAR(bounds.x(), c.bounds.x(), 0.01) << AnnotationTypes::rawValue(c.type).toStdString();
        EXPECT_NEAR(bounds.y(), c.bounds.y(), 0.01);
        EXPECT_NEAR(bounds.width(), c.bounds.width(), 0.01);
        EXPECT_NEAR(bounds.height(), c.bounds.height(), 0.01);
    }
}

TEST(AnnotationPainter, PenPolylineOrStraightSegment)
{
    Annotation pen = annotation(AnnotationType::pen, {1, 1}, {9, 9});
    const QList<QList<QPointF>> straight = {{{1, 1}, {9, 9}}};
    // No path, or a path of one point: the segment from start to end.
    EXPECT_EQ(subpaths(AnnotationPainter::strokePath(pen, 1, {})), straight);
    pen.pathPoints = QList<QPointF>{{5, 5}};
    EXPECT_EQ(subpaths(AnnotationPainter::strokePath(pen, 1, {})), straight);
    pen.pathPoints = QList<QPointF>{{0, 0}, {10, 0}, {10, 10}};
    const QList<QList<QPointF>> polyline = {{{3, 4}, {8, 4}, {8, 9}}};
    EXPECT_EQ(subpaths(AnnotationPainter::strokePath(pen, 0.5, {3, 4})), polyline);
}

TEST(AnnotationPainter, TextAndBlurStrokeNothing)
{
    Annotation text = annotation(AnnotationType::text, {10, 10}, {10, 10});
    text.text = QStringLiteral("Hello");
    EXPECT_TRUE(AnnotationPainter::strokePath(text, 1, {}).isEmpty());
    EXPECT_TRUE(AnnotationPainter::strokePath(fixtures::blur({{0, 0}, {50, 50}}, 15), 1, {}).isEmpty());

    QImage target(120, 60, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::transparent);
    QPainter painter(&target);
    AnnotationPainter::drawAnnotation(painter, fixtures::blur({{0, 0}, {50, 50}}, 15), 1, {});
    text.text.reset();
    AnnotationPainter::drawAnnotation(painter, text, 1, {});
    painter.end();
    EXPECT_TRUE(inkBounds(target).isNull());
}

TEST(AnnotationPainter, TextBlockHangsFromTheStartPoint)
{
    const QFontMetricsF metrics(AnnotationPainter::textFont());
    struct Case {
        QString text;
        QPointF start;
        double scale;
        QPointF offset;
        int lines;
    };
    const Case cases[] = {
        {QStringLiteral("Hello"), {10, 10}, 1, {0, 0}, 1},
        {QStringLiteral("Hello\nWorld"), {10, 10}, 1, {0, 0}, 2},
        // Position mapped, size not: the glyphs stay 16 units on a reduced canvas.
        {QStringLiteral("Hello"), {40, 40}, 0.5, {20, 5}, 1},
        // Lines break only at typed line breaks, never by width.
        {QStringLiteral("A long line that is never wrapped by the drawing"), {4, 4}, 1, {0, 0}, 1},
    };
    for (const Case& c : cases) {
        QImage target(600, 120, QImage::Format_ARGB32_Premultiplied);
        target.fill(Qt::transparent);
        QPainter painter(&target);
        Annotation a = annotation(AnnotationType::text, c.start, c.start, QColor(0, 0, 255));
        a.text = c.text;
        AnnotationPainter::drawAnnotation(painter, a, c.scale, c.offset);
        painter.end();
        const QPointF origin = c.start * c.scale + c.offset;
        const QRect ink = inkBounds(target);
        ASSERT_FALSE(ink.isNull()) << c.text.toStdString();
        EXPECT_GE(ink.left(), origin.x() - 1) << c.text.toStdString();
        EXPECT_LE(ink.left(), origin.x() + 3);
        EXPECT_GE(ink.top(), origin.y() - 1);
        EXPECT_LE(ink.top(), origin.y() + metrics.ascent() - metrics.capHeight() + 2);
        const double lineHeight = metrics.lineSpacing();
        EXPECT_LE(ink.bottom(), origin.y() + c.lines * lineHeight + 1);
        EXPECT_GT(ink.bottom(), origin.y() + (c.lines - 1) * lineHeight + metrics.ascent() / 2);
        if (c.lines == 1) {
            EXPECT_NEAR(ink.width(), metrics.horizontalAdvance(c.text), 4);
        }
        // The text is drawn in the annotation's colour: its most covered pixel is pure blue.
        QRgb strongest = 0;
        for (int y = ink.top(); y <= ink.bottom(); ++y)
            for (int x = ink.left(); x <= ink.right(); ++x)
                if (qAlpha(target.pixel(x, y)) > qAlpha(strongest))
                    strongest = target.pixel(x, y);
        EXPECT_EQ(strongest, qRgb(0, 0, 255));
    }
}
