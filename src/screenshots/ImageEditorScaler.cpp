#include "screenshots/ImageEditorScaler.h"

#include <QThread>

#include <system_error>
#include <thread>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Weights are fixed point with 14 fraction bits and sum to exactly kOne for every result pixel.
constexpr int kWeightBits = 14;
constexpr quint32 kOne = 1u << kWeightBits;
// The whole picture is scaled in bands of at least this many rows, at most this many bands.
constexpr int kRowsPerBand = 32;
constexpr int kMaxBands = 16;

// The source pixels and weights of the result pixels [from, to) of one axis.
struct AxisFilter {
    std::vector<int> first; // the first source pixel of each result pixel
    std::vector<int> start; // its first weight in `weights`
    std::vector<int> count; // its number of source pixels
    std::vector<quint32> weights;
    std::vector<float> fractions; // the same weights as fractions of one (exact)
    int offset = 0; // the result pixel of the first entries
    int sourceFrom = 0;
    int sourceTo = 0; // one past the last source pixel used
};

// All arithmetic is on whole numbers, so a result pixel's weights never depend on the range asked.
AxisFilter axisFilter(int source, int result, int from, int to)
{
    AxisFilter filter;
    const qint64 s = source;
    const qint64 d = result;
    filter.offset = from;
    filter.sourceFrom = source;
    filter.sourceTo = 0;
    for (int i = from; i < to; ++i) {
        const int begin = int(filter.weights.size());
        int firstPixel = 0;
        if (s > d) {
            // Reducing: the result pixel covers the source span [i*s/d, (i+1)*s/d); each source
            // pixel weighs in with the part of it that span covers. Lengths are in 1/d pixels.
            const qint64 left = i * s;
            const qint64 right = (i + 1) * s;
            firstPixel = int(left / d);
            const int lastPixel = int((right - 1) / d);
            quint32 sum = 0;
            int largest = begin;
            for (int k = firstPixel; k <= lastPixel; ++k) {
                const qint64 covered = std::min(right, (k + 1) * d) - std::max(left, k * d);
                const quint32 weight = quint32((covered * kOne + s / 2) / s);
                filter.weights.push_back(weight);
                sum += weight;
                if (weight > filter.weights[size_t(largest)])
                    largest = int(filter.weights.size()) - 1;
            }
            filter.weights[size_t(largest)] += kOne - sum;
        } else if (s < d) {
            // Enlarging: between the two source pixels whose centres enclose the result pixel's
            // centre, (i + 1/2) * s/d - 1/2; the edge pixels repeat beyond the outer centres.
            const qint64 position = (2 * i + 1) * s - d; // in 1/(2d) pixels
            const qint64 unit = 2 * d;
            if (position <= 0) {
                firstPixel = 0;
                filter.weights.push_back(kOne);
            } else if (position / unit >= s - 1) {
                firstPixel = source - 1;
                filter.weights.push_back(kOne);
            } else {
                firstPixel = int(position / unit);
                const quint32 right = quint32(((position % unit) * kOne + unit / 2) / unit);
                filter.weights.push_back(kOne - right);
                filter.weights.push_back(right);
            }
        } else {
            firstPixel = i;
            filter.weights.push_back(kOne);
        }
        const int taps = int(filter.weights.size()) - begin;
        filter.first.push_back(firstPixel);
        filter.start.push_back(begin);
        filter.count.push_back(taps);
        filter.sourceFrom = std::min(filter.sourceFrom, firstPixel);
        filter.sourceTo = std::max(filter.sourceTo, firstPixel + taps);
    }
    filter.fractions.reserve(filter.weights.size());
    for (const quint32 weight : filter.weights)
        filter.fractions.push_back(float(weight) / kOne);
    return filter;
}

// sums[c] += weight * bytes[c]: most of the time goes here. Whole blocks of 16 first, a count
// the compiler knows to be a multiple of the vector width, so that it vectorizes the loop.
void accumulate(quint32* __restrict sums, const uchar* __restrict bytes, quint32 weight, int count)
{
    const int blocked = count & ~15;
    for (int c = 0; c < blocked; ++c)
        sums[c] += weight * bytes[c];
    for (int c = blocked; c < count; ++c)
        sums[c] += weight * bytes[c];
}

// Computes the target pixels `todo` into `bits` (scan lines `bytesPerLine` apart) from the
// premultiplied `source`, whose pixel (0, 0) is the picture's pixel `origin`. `columns` and `rows`
// are the filters of todo's columns and rows.
void runPasses(const QImage& source, QPoint origin, const AxisFilter& columns, const AxisFilter& rows, const QRect& todo,
               uchar* bits, qsizetype bytesPerLine)
{
    // Rows first, over the source columns in use (a loop over contiguous bytes), then columns.
    const int usedLeft = columns.sourceFrom;
    const int channels = 4 * (columns.sourceTo - columns.sourceFrom);
    std::vector<quint32> sums(size_t(channels), 0);
    std::vector<float> line(size_t(channels), 0);
    for (int y = 0; y < todo.height(); ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        const int startWeight = rows.start[size_t(y)];
        for (int t = 0; t < rows.count[size_t(y)]; ++t) {
            const quint32 weight = rows.weights[size_t(startWeight + t)];
            accumulate(sums.data(), source.constScanLine(rows.first[size_t(y)] + t - origin.y()) + 4 * (usedLeft - origin.x()),
                       weight, channels);
        }
        // Exact: the sums stay below 2^24 and kOne is a power of two.
        for (int c = 0; c < channels; ++c)
            line[size_t(c)] = float(sums[size_t(c)]) / kOne;

        uchar* out = bits + (todo.top() + y) * bytesPerLine + 4 * todo.left();
        for (int x = 0; x < todo.width(); ++x) {
            const int column = todo.left() - columns.offset + x;
            float sum[4] = {0, 0, 0, 0};
            const int startColumn = columns.start[size_t(column)];
            const float* pixel = line.data() + 4 * (columns.first[size_t(column)] - usedLeft);
            for (int t = 0; t < columns.count[size_t(column)]; ++t, pixel += 4) {
                const float weight = columns.fractions[size_t(startColumn + t)];
                sum[0] += weight * pixel[0];
                sum[1] += weight * pixel[1];
                sum[2] += weight * pixel[2];
                sum[3] += weight * pixel[3];
            }
            // The fractions add up to one, so a sum stays within [0, 255] but for float rounding.
            for (int c = 0; c < 4; ++c)
                out[4 * x + c] = uchar(int(sum[c] + 0.5f));
        }
    }
}

} // namespace

QImage ImageEditorScaler::scaled(const QImage& picture, const QSize& size)
{
    if (picture.isNull() || size.isEmpty())
        return QImage();
    QImage source = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (source.isNull())
        return source;
    if (size == picture.size()) {
        source.setDevicePixelRatio(1.0);
        return source;
    }
    QImage result(size, QImage::Format_ARGB32_Premultiplied);
    if (result.isNull())
        return result;

    // Bands of rows on threads of their own, each band independent of the others; the pixels come
    // out the same however the rows are split. Own threads rather than the shared pool, which GIF
    // and upload jobs may fill: a band whose thread cannot start runs here.
    const AxisFilter columns = axisFilter(picture.width(), size.width(), 0, size.width());
    uchar* bits = result.bits();
    const qsizetype bytesPerLine = result.bytesPerLine();
    const int bands = std::clamp(std::min(QThread::idealThreadCount(), size.height() / kRowsPerBand), 1, kMaxBands);
    const auto runBand = [&](int band) {
        const int top = size.height() * band / bands;
        const int bottom = size.height() * (band + 1) / bands;
        const AxisFilter rows = axisFilter(picture.height(), size.height(), top, bottom);
        runPasses(source, QPoint(), columns, rows, QRect(0, top, size.width(), bottom - top), bits, bytesPerLine);
    };
    std::vector<std::thread> helpers;
    helpers.reserve(bands - 1);
    for (int band = 1; band < bands; ++band) {
        try {
            helpers.emplace_back(runBand, band);
        } catch (const std::system_error&) {
            runBand(band);
        }
    }
    runBand(0);
    for (std::thread& helper : helpers)
        helper.join();
    return result;
}

void ImageEditorScaler::scaleArea(const QImage& picture, QImage& target, const QRect& area)
{
    const QRect todo = area.intersected(target.rect());
    if (picture.isNull() || todo.isEmpty() || target.format() != QImage::Format_ARGB32_Premultiplied)
        return;
    const AxisFilter columns = axisFilter(picture.width(), target.width(), todo.left(), todo.right() + 1);
    const AxisFilter rows = axisFilter(picture.height(), target.height(), todo.top(), todo.bottom() + 1);
    // Only the source pixels in use are converted when the picture is not premultiplied.
    const QRect used(QPoint(columns.sourceFrom, rows.sourceFrom), QPoint(columns.sourceTo - 1, rows.sourceTo - 1));
    if (picture.format() == QImage::Format_ARGB32_Premultiplied) {
        runPasses(picture, QPoint(), columns, rows, todo, target.bits(), target.bytesPerLine());
        return;
    }
    const QImage converted = picture.copy(used).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (!converted.isNull())
        runPasses(converted, used.topLeft(), columns, rows, todo, target.bits(), target.bytesPerLine());
}

QRect ImageEditorScaler::reach(const QSize& pictureSize, const QSize& size, const QRect& pixels)
{
    if (pictureSize.isEmpty() || size.isEmpty() || pixels.isEmpty())
        return QRect();
    // A source pixel feeds the result pixels over its own span and, when enlarging, over the
    // spans to the neighbouring centres: one source pixel more each side, and one result pixel
    // for rounding, covers both.
    const auto span = [](int from, int to, int source, int result, int& outFrom, int& outTo) {
        const double k = double(result) / source;
        outFrom = std::clamp(int(std::floor((from - 1) * k)) - 1, 0, result);
        outTo = std::clamp(int(std::ceil((to + 1) * k)) + 1, 0, result);
    };
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    span(pixels.left(), pixels.right() + 1, pictureSize.width(), size.width(), x0, x1);
    span(pixels.top(), pixels.bottom() + 1, pictureSize.height(), size.height(), y0, y1);
    if (x0 >= x1 || y0 >= y1)
        return QRect();
    return QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1));
}
