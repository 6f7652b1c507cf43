#include "screenshots/BlurBrush.h"

#include "screenshots/GaussianBlur.h"

#include "EditorFixtures.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// An independent reference: the whole picture blurred with a double-precision separable Gaussian
// (sigma 15, cut at 45 px, edge pixels repeated beyond the border), then blended through a full-size mask.
QImage referenceBlurAlongPath(const QImage& input, const QList<QPointF>& points, double brush)
{
    const QImage image = input.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = image.width(), h = image.height(), r = 45;
    std::vector<double> kernel(2 * r + 1);
    double sum = 0;
    for (int k = -r; k <= r; ++k)
        sum += kernel[k + r] = std::exp(-double(k * k) / (2 * 15.0 * 15.0));
    for (double& v : kernel)
        v /= sum;

    std::vector<double> source(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb p = image.pixel(x, y);
            double* s = &source[(size_t(y) * w + x) * 4];
            s[0] = qBlue(p), s[1] = qGreen(p), s[2] = qRed(p), s[3] = qAlpha(p);
        }
    auto channel = [&](int x, int y, int c) { return source[(size_t(y) * w + x) * 4 + c]; };
    std::vector<double> horizontal(size_t(w) * h * 4, 0.0), blurred(size_t(w) * h * 4, 0.0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) {
                double acc = 0;
                for (int k = -r; k <= r; ++k)
                    acc += kernel[k + r] * channel(std::clamp(x + k, 0, w - 1), y, c);
                horizontal[(size_t(y) * w + x) * 4 + c] = acc;
            }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) {
                double acc = 0;
                for (int k = -r; k <= r; ++k)
                    acc += kernel[k + r] * horizontal[(size_t(std::clamp(y + k, 0, h - 1)) * w + x) * 4 + c];
                blurred[(size_t(y) * w + x) * 4 + c] = acc;
            }

    const double dpr = image.devicePixelRatio();
    QImage mask(image.size(), QImage::Format_Alpha8);
    mask.fill(0);
    QPainter painter(&mask);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path(points.first() * dpr);
    for (qsizetype i = 1; i < points.size(); ++i)
        path.lineTo(points[i] * dpr);
    painter.setPen(QPen(Qt::white, brush * dpr, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(path);
    painter.end();

    QImage out = image;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double m = mask.constScanLine(y)[x] / 255.0;
            int v[4];
            for (int c = 0; c < 4; ++c)
                v[c] = int(std::lround(channel(x, y, c) * (1 - m) + blurred[(size_t(y) * w + x) * 4 + c] * m));
            out.setPixel(x, y, qRgba(v[2], v[1], v[0], v[3]));
        }
    return out;
}

int maxChannelDifference(const QImage& a, const QImage& b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    return worst;
}

double distanceToSegment(QPointF p, QPointF a, QPointF b)
{
    const QPointF ab = b - a;
    const double len2 = QPointF::dotProduct(ab, ab);
    const double t = len2 > 0 ? std::clamp(QPointF::dotProduct(p - a, ab) / len2, 0.0, 1.0) : 0.0;
    const QPointF d = p - (a + t * ab);
    return std::hypot(d.x(), d.y());
}

} // namespace

TEST(GaussianBlur, KernelIsNormalisedAndSymmetric)
{
    const auto& k = GaussianBlur::kernel();
    double sum = 0;
    for (float v : k)
        sum += v;
    EXPECT_NEAR(sum, 1.0, 1e-5);
    for (int i = 0; i < GaussianBlur::kKernelRadius; ++i)
        EXPECT_FLOAT_EQ(k[i], k[GaussianBlur::kKernelSize - 1 - i]);
    // sigma 15: the weight one sigma out is e^-1/2 of the centre one.
    EXPECT_NEAR(k[GaussianBlur::kKernelRadius + 15] / k[GaussianBlur::kKernelRadius], std::exp(-0.5), 1e-4);
}

TEST(BlurBrush, RegionLimitedEqualsFullImageReference)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> coordinate(-20, 140);
    const double brushes[] = {10, 15, 25, 40};
    const double ratios[] = {1.0, 1.5, 2.0};
    int cases = 0;
    for (double dpr : ratios) {
        for (int i = 0; i < 4; ++i) {
            const QImage image = fixtures::noise(int(150 * dpr / 1.5), int(110 * dpr / 1.5), 100 + cases, dpr);
            const QList<QPointF> points = {{coordinate(rng), coordinate(rng)}, {coordinate(rng), coordinate(rng)}};
            const double brush = brushes[i];
            const QImage region = BlurBrush::applyBlurAlongPath(image, points, brush);
            const QImage reference = referenceBlurAlongPath(image, points, brush);
            ASSERT_EQ(region.size(), image.size());
            EXPECT_EQ(region.devicePixelRatio(), dpr);
            EXPECT_LE(maxChannelDifference(region.convertToFormat(QImage::Format_ARGB32_Premultiplied), reference), 1)
                << "dpr " << dpr << " brush " << brush << " from (" << points[0].x() << ", " << points[0].y() << ") to ("
                << points[1].x() << ", " << points[1].y() << ")";
            ++cases;
        }
    }
    // A stroke through several points, with joins; a tall one that is blurred in several bands.
    const QImage tall = fixtures::noise(120, 400, 4);
    const QList<QPointF> vertical = {{60, 5}, {70, 395}};
    EXPECT_LE(maxChannelDifference(BlurBrush::applyBlurAlongPath(tall, vertical, 40), referenceBlurAlongPath(tall, vertical, 40)), 1);
    const QImage image = fixtures::noise(120, 90, 3);
    const QList<QPointF> path = {{10, 10}, {60, 30}, {30, 70}, {100, 80}};
    EXPECT_LE(maxChannelDifference(BlurBrush::applyBlurAlongPath(image, path, 15), referenceBlurAlongPath(image, path, 15)), 1);
}

TEST(GaussianBlur, ResultDoesNotDependOnTheRegionAskedFor)
{
    const QImage image = fixtures::noise(200, 400, 6);
    const QRect large(-20, 5, 150, 420); // past the picture's edges, several bands of rows
    const QImage whole = GaussianBlur::blurredRegion(image, large);
    ASSERT_EQ(whole.size(), large.size());
    for (const QRect part : {QRect(40, 200, 30, 30), QRect(-20, 5, 10, 10), QRect(100, 380, 30, 45)}) {
        const QImage piece = GaussianBlur::blurredRegion(image, part);
        EXPECT_FALSE(fixtures::difference(piece, whole.copy(part.translated(-large.topLeft()))));
    }
    EXPECT_TRUE(GaussianBlur::blurredRegion(image.convertToFormat(QImage::Format_RGB32), large).isNull());
}

TEST(BlurBrush, ChangesOnlyPixelsUnderTheBrush)
{
    struct Case {
        double dpr;
        double brush;
        QPointF a, b;
    };
    const Case cases[] = {
        {1.0, 15, {60, 50}, {140, 90}},
        {2.0, 10, {30, 30}, {70, 40}},
        {1.0, 40, {100, 60}, {100, 60}}, // a dot: the round caps alone
    };
    for (const Case& c : cases) {
        const QImage image = fixtures::noise(int(200 * c.dpr), int(120 * c.dpr), 5, c.dpr);
        const QImage result = BlurBrush::applyBlurAlongPath(image, {c.a, c.b}, c.brush);
        const double radius = c.brush * c.dpr / 2;
        int inside = 0, insideChanged = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                // Distance from the pixel's centre to the stroke, in pixels.
                const double d = distanceToSegment(QPointF(x + 0.5, y + 0.5), c.a * c.dpr, c.b * c.dpr);
                const bool changed = image.pixel(x, y) != result.pixel(x, y);
                if (changed) {
                    ASSERT_LE(d, radius + 1.0) << "pixel (" << x << ", " << y << ") changed outside the brush";
                }
                if (d < radius - 1) {
                    ++inside;
                    insideChanged += changed;
                }
            }
        ASSERT_GT(inside, 0);
        EXPECT_GT(insideChanged, inside * 95 / 100);
    }
}

TEST(BlurBrush, FlatAreasStayFlatAlsoAtTheBorder)
{
    const QImage image = fixtures::flat(300, 200, QColor(120, 60, 30));
    // The normalised kernel leaves a flat picture exactly as it was, in the middle and along the
    // border, where the edge pixels are repeated: a saved screenshot never gets a transparent rim.
    EXPECT_FALSE(fixtures::difference(BlurBrush::applyBlurAlongPath(image, {{100, 100}, {200, 100}}, 40), image));
    const QImage edge = BlurBrush::applyBlurAlongPath(image, {{0, 100}, {0, 150}}, 40);
    EXPECT_FALSE(fixtures::difference(edge, image));
    const QImage corner = BlurBrush::applyBlurAlongPath(image, {{0, 0}, {299, 0}, {299, 199}}, 40);
    EXPECT_FALSE(fixtures::difference(corner, image));
}

TEST(BlurBrush, OverlapsBlurMore)
{
    const QImage image = fixtures::noise(160, 100, 9);
    const QImage once = BlurBrush::applyBlurAlongPath(image, {{40, 50}, {120, 50}}, 25);
    const QImage twice = BlurBrush::applyBlurAlongPath(once, {{40, 50}, {120, 50}}, 25);
    // Blurring again flattens the noise further: neighbouring pixels move closer together.
    auto roughness = [](const QImage& img) {
        double total = 0;
        for (int x = 60; x < 100; ++x)
            total += std::abs(qRed(img.pixel(x, 50)) - qRed(img.pixel(x + 1, 50)));
        return total;
    };
    EXPECT_LT(roughness(twice), roughness(once));
    EXPECT_LT(roughness(once), roughness(image));
}

TEST(BlurBrush, ValueSemanticsAndNothingToDo)
{
    const QImage image = fixtures::noise(80, 60, 11, 1.0, QImage::Format_RGB32);
    const QImage copy = image.copy();
    // The given picture is left alone; the result is premultiplied ARGB with the same ratio.
    const QImage result = BlurBrush::applyBlurAlongPath(image, {{10, 10}, {70, 50}}, 15);
    EXPECT_FALSE(fixtures::difference(image, copy));
    EXPECT_EQ(result.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_TRUE(fixtures::difference(result, image));

    // A stroke wholly outside, no points, a null picture: the picture itself comes back.
    EXPECT_EQ(BlurBrush::applyBlurAlongPath(image, {{-100, -100}, {-60, -80}}, 15).cacheKey(), image.cacheKey());
    EXPECT_EQ(BlurBrush::applyBlurAlongPath(image, {}, 15).cacheKey(), image.cacheKey());
    EXPECT_EQ(BlurBrush::applyBlurAlongPath(image, {{NAN, 5}, {5, 5}}, 15).cacheKey(), image.cacheKey());
    EXPECT_TRUE(BlurBrush::applyBlurAlongPath(QImage(), {{0, 0}, {5, 5}}, 15).isNull());

    // In place, the changed rectangle is the mask's extent: brush / 2 around the stroke plus a pixel.
    QImage target = fixtures::noise(100, 100, 12);
    EXPECT_EQ(BlurBrush::applyBlurAlongPathInPlace(target, {{20, 30}, {60, 30}}, 10), QRect(14, 24, 52, 12));
}
