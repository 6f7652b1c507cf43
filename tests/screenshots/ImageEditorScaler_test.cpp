#include "screenshots/ImageEditorScaler.h"

#include "EditorFixtures.h"

#include <QPainter>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

const struct Ratio {
    const char* name;
    QSize picture, result;
    int tolerance; // against QImage::scaled, which enlarges with 8-bit weights
} kRatios[] = {
    {"2.4 : 1", {480, 270}, {200, 113}, 2},
    {"uneven", {500, 350}, {219, 153}, 2},
    {"barely reduced", {320, 180}, {319, 179}, 2},
    {"strongly reduced", {600, 400}, {37, 25}, 2},
    {"enlarged", {75, 50}, {218, 145}, 4},
    {"reduced across, enlarged down", {300, 60}, {170, 140}, 4},
    {"one axis kept", {300, 200}, {300, 77}, 2},
};

int maxChannelDifference(const QImage& a, const QImage& b)
{
    int result = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            result = std::max({result, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                               std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    return result;
}

// Noise with partly transparent pixels, premultiplied.
QImage translucentNoise(QSize size, unsigned seed)
{
    QImage image = fixtures::noise(size.width(), size.height(), seed, 1.0, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            image.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), (x * 7 + y * 13) % 256));
        }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

// Any part computed alone equals that part of the whole: the property the canvas's live refresh
// rests on. Also the whole computed in one piece equals the whole made in bands.
TEST(ImageEditorScaler, APartComputedAloneEqualsThatPartOfTheWhole)
{
    for (const Ratio& ratio : kRatios) {
        SCOPED_TRACE(ratio.name);
        const QImage picture = translucentNoise(ratio.picture, 3);
        const QImage whole = ImageEditorScaler::scaled(picture, ratio.result);
        ASSERT_EQ(whole.size(), ratio.result);
        ASSERT_EQ(whole.format(), QImage::Format_ARGB32_Premultiplied);

        QImage onePiece(ratio.result, QImage::Format_ARGB32_Premultiplied);
        ImageEditorScaler::scaleArea(picture, onePiece, onePiece.rect());
        const auto bands = fixtures::difference(onePiece, whole);
        EXPECT_FALSE(bands) << bands->toStdString();

        QRandomGenerator random(7);
        QImage patched = whole.copy();
        for (int i = 0; i < 40; ++i) {
            const int x = random.bounded(ratio.result.width());
            const int y = random.bounded(ratio.result.height());
            const QRect part(x, y, 1 + random.bounded(ratio.result.width() - x), 1 + random.bounded(ratio.result.height() - y));
            patched.fill(Qt::transparent);
            ImageEditorScaler::scaleArea(picture, patched, part);
            const auto diff = fixtures::difference(patched.copy(part), whole.copy(part));
            ASSERT_FALSE(diff) << diff->toStdString();
            // Nothing outside the part is written.
            QPainter painter(&patched);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(part, Qt::transparent);
            painter.end();
            QImage empty(ratio.result, QImage::Format_ARGB32_Premultiplied);
            empty.fill(Qt::transparent);
            ASSERT_FALSE(fixtures::difference(patched, empty));
        }
    }
}

// The filter is the one of QImage::scaled with Qt::SmoothTransformation, up to rounding.
TEST(ImageEditorScaler, MatchesQtsSmoothScaling)
{
    for (const Ratio& ratio : kRatios) {
        SCOPED_TRACE(ratio.name);
        const QImage picture = translucentNoise(ratio.picture, 4);
        const QImage ours = ImageEditorScaler::scaled(picture, ratio.result);
        const QImage qts = picture.scaled(ratio.result, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                               .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        EXPECT_LE(maxChannelDifference(ours, qts), ratio.tolerance);
    }
}

// The weights of every result pixel add up to one: a flat colour stays exactly that colour.
TEST(ImageEditorScaler, AFlatColourStaysExact)
{
    const QColor colours[] = {QColor(255, 255, 255), QColor(0, 0, 0), QColor(200, 40, 90, 128), QColor(3, 250, 7, 255)};
    for (const Ratio& ratio : kRatios) {
        SCOPED_TRACE(ratio.name);
        for (const QColor& colour : colours) {
            const QImage flat = fixtures::flat(ratio.picture.width(), ratio.picture.height(), colour);
            const QImage expected = fixtures::flat(ratio.result.width(), ratio.result.height(), colour);
            const auto diff = fixtures::difference(ImageEditorScaler::scaled(flat, ratio.result), expected);
            EXPECT_FALSE(diff) << colour.name(QColor::HexArgb).toStdString() << ": " << diff->toStdString();
        }
    }
}

// A change of some picture pixels leaves every result pixel outside its reach as it was.
TEST(ImageEditorScaler, AChangeStaysWithinItsReach)
{
    for (const Ratio& ratio : kRatios) {
        SCOPED_TRACE(ratio.name);
        const QImage picture = translucentNoise(ratio.picture, 5);
        const QImage before = ImageEditorScaler::scaled(picture, ratio.result);
        const QRect changes[] = {
            QRect(0, 0, 1, 1),
            QRect(ratio.picture.width() / 3, ratio.picture.height() / 2, 1, 1),
            QRect(ratio.picture.width() / 4, ratio.picture.height() / 5, 9, 4),
            QRect(ratio.picture.width() - 3, ratio.picture.height() - 2, 3, 2),
        };
        for (const QRect& change : changes) {
            QImage changed = picture.copy();
            QPainter painter(&changed);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(change, QColor(255, 255, 255));
            painter.end();
            const QImage after = ImageEditorScaler::scaled(changed, ratio.result);
            const QRect reach = ImageEditorScaler::reach(ratio.picture, ratio.result, change);
            ASSERT_FALSE(reach.isEmpty());
            int changedPixels = 0;
            for (int y = 0; y < after.height(); ++y)
                for (int x = 0; x < after.width(); ++x)
                    if (after.pixel(x, y) != before.pixel(x, y)) {
                        ++changedPixels;
                        ASSERT_TRUE(reach.contains(x, y)) << "(" << x << ", " << y << ") changed outside the reach";
                    }
            EXPECT_GT(changedPixels, 0);
        }
    }
    EXPECT_TRUE(ImageEditorScaler::reach({100, 100}, {50, 50}, QRect()).isEmpty());
}

// A picture in another format scales as its premultiplied form, whole or in parts; the same size
// gives the picture's own pixels at device pixel ratio 1.
TEST(ImageEditorScaler, OtherFormatsAndTheSameSize)
{
    const QImage premultiplied = translucentNoise({160, 90}, 6);
    for (QImage::Format format : {QImage::Format_ARGB32, QImage::Format_RGBA8888, QImage::Format_RGB32, QImage::Format_RGB888}) {
        SCOPED_TRACE(int(format));
        const QImage picture = premultiplied.convertToFormat(format);
        const QImage reference = ImageEditorScaler::scaled(picture.convertToFormat(QImage::Format_ARGB32_Premultiplied), {71, 40});
        const auto whole = fixtures::difference(ImageEditorScaler::scaled(picture, {71, 40}), reference);
        EXPECT_FALSE(whole) << whole->toStdString();
        QImage part(71, 40, QImage::Format_ARGB32_Premultiplied);
        part.fill(Qt::transparent);
        const QRect area(20, 10, 30, 17);
        ImageEditorScaler::scaleArea(picture, part, area);
        const auto diff = fixtures::difference(part.copy(area), reference.copy(area));
        EXPECT_FALSE(diff) << diff->toStdString();
    }

    QImage hiDpi = premultiplied.copy();
    hiDpi.setDevicePixelRatio(2.0);
    const QImage same = ImageEditorScaler::scaled(hiDpi, hiDpi.size());
    EXPECT_EQ(same.devicePixelRatio(), 1.0);
    EXPECT_FALSE(fixtures::difference(same, premultiplied));
    EXPECT_TRUE(ImageEditorScaler::scaled(QImage(), {10, 10}).isNull());
    EXPECT_TRUE(ImageEditorScaler::scaled(premultiplied, {0, 10}).isNull());
}
