#include "screenshots/GaussianBlur.h"

#include <algorithm>
#include <cmath>
#include <vector>

const std::array<float, GaussianBlur::kKernelSize>& GaussianBlur::kernel()
{
    static const std::array<float, kKernelSize> weights = [] {
        std::array<double, kKernelSize> w{};
        double sum = 0;
        for (int k = -kKernelRadius; k <= kKernelRadius; ++k) {
            w[k + kKernelRadius] = std::exp(-(k * k) / (2.0 * kSigma * kSigma));
            sum += w[k + kKernelRadius];
        }
        std::array<float, kKernelSize> out{};
        for (int i = 0; i < kKernelSize; ++i)
            out[i] = static_cast<float>(w[i] / sum);
        return out;
    }();
    return weights;
}

// Pixels are read as bytes B, G, R, A: the memory order of 0xAARRGGBB on little-endian machines.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);

namespace {

// One pixel's four channels as a SIMD vector (GCC/Clang vector extension: SSE on x86-64, NEON on
// ARM), so each kernel tap is one multiply-add per pixel rather than four.
using Pixel = float __attribute__((vector_size(16)));

inline quint8 toByte(float v)
{
    return static_cast<quint8>(std::clamp(std::lround(v), 0L, 255L));
}

} // namespace

QImage GaussianBlur::blurredRegion(const QImage& source, const QRect& region)
{
    if (source.format() != QImage::Format_ARGB32_Premultiplied || region.isEmpty())
        return {};
    QImage out(region.size(), QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return {};

    const auto& w = kernel();
    constexpr int R = kKernelRadius;
    const int sw = source.width();
    const int sh = source.height();
    const int outW = region.width();
    const int outH = region.height();

    // Horizontal pass: each source row is first widened to float pixels, the edge pixels repeated
    // beyond the border, so the inner loop needs no bounds checks and runs on whole pixels.
    std::vector<Pixel> padded(static_cast<size_t>(outW + 2 * R));
    auto horizontalRow = [&](int sourceRow, Pixel* acc) {
        const uchar* line = source.constScanLine(sourceRow);
        for (int i = 0; i < outW + 2 * R; ++i) {
            const int x = std::clamp(region.left() - R + i, 0, sw - 1);
            const uchar* px = line + 4 * x;
            padded[i] = Pixel{float(px[0]), float(px[1]), float(px[2]), float(px[3])};
        }
        std::fill(acc, acc + outW, Pixel{});
        for (int k = 0; k < kKernelSize; ++k) {
            const float wk = w[k];
            const Pixel* in = &padded[k];
            for (int x = 0; x < outW; ++x)
                acc[x] += wk * in[x];
        }
    };

    // The region is done in bands of output rows, so a region as large as the picture needs a
    // band's worth of intermediate rows, not a float copy of the whole picture. A segment of a
    // live stroke fits in one band. Banding does not change any sum: results are the same.
    constexpr int kBandRows = 256;
    std::vector<Pixel> horizontal(static_cast<size_t>(std::min(outH, kBandRows) + 2 * R) * outW);
    std::vector<Pixel> acc(static_cast<size_t>(outW));
    for (int bandTop = 0; bandTop < outH; bandTop += kBandRows) {
        const int bandRows = std::min(kBandRows, outH - bandTop);
        // Source rows that reach this band; rows beyond the border repeat the edge row.
        const int firstRow = std::clamp(region.top() + bandTop - R, 0, sh - 1);
        const int lastRow = std::clamp(region.top() + bandTop + bandRows - 1 + R, 0, sh - 1);
        for (int sy = firstRow; sy <= lastRow; ++sy)
            horizontalRow(sy, &horizontal[static_cast<size_t>(sy - firstRow) * outW]);

        // Vertical pass, one output row at a time, summing the horizontal rows in kernel order.
        for (int y = bandTop; y < bandTop + bandRows; ++y) {
            std::fill(acc.begin(), acc.end(), Pixel{});
            const int cy = region.top() + y;
            for (int k = 0; k < kKernelSize; ++k) {
                const int sy = std::clamp(cy + k - R, firstRow, lastRow);
                const float wk = w[k];
                const Pixel* in = &horizontal[static_cast<size_t>(sy - firstRow) * outW];
                for (int x = 0; x < outW; ++x)
                    acc[x] += wk * in[x];
            }
            uchar* dst = out.scanLine(y);
            for (int x = 0; x < outW; ++x) {
                const quint8 a = toByte(acc[x][3]);
                // Premultiplied colour never exceeds its alpha; rounding must not break that.
                dst[4 * x + 0] = std::min(toByte(acc[x][0]), a);
                dst[4 * x + 1] = std::min(toByte(acc[x][1]), a);
                dst[4 * x + 2] = std::min(toByte(acc[x][2]), a);
                dst[4 * x + 3] = a;
            }
        }
    }
    return out;
}
