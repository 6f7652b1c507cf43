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
    const int paddedW = outW + 2 * R;

    // Source rows that can reach the region; rows outside the picture are zero and are skipped.
    const int firstRow = std::max(0, region.top() - R);
    const int lastRow = std::min(sh - 1, region.bottom() + R);
    const int rowCount = std::max(0, lastRow - firstRow + 1);

    // Horizontal pass into floats: rowCount rows of outW pixels x 4 channels. Each source row is
    // first widened to floats with zero padding, so the inner loop needs no bounds checks and
    // vectorises across pixels and channels.
    std::vector<float> horizontal(static_cast<size_t>(rowCount) * outW * 4, 0.0f);
    std::vector<float> padded(static_cast<size_t>(paddedW) * 4);
    const int colFrom = std::max(0, region.left() - R);
    const int colTo = std::min(sw - 1, region.right() + R);
    for (int r = 0; r < rowCount; ++r) {
        std::fill(padded.begin(), padded.end(), 0.0f);
        const uchar* line = source.constScanLine(firstRow + r);
        for (int x = colFrom; x <= colTo; ++x) {
            const uchar* px = line + 4 * x;
            float* dst = &padded[4 * (x - (region.left() - R))];
            dst[0] = px[0];
            dst[1] = px[1];
            dst[2] = px[2];
            dst[3] = px[3];
        }
        float* acc = &horizontal[static_cast<size_t>(r) * outW * 4];
        for (int k = 0; k < kKernelSize; ++k) {
            const float wk = w[k];
            const float* in = &padded[4 * k];
            for (int i = 0; i < outW * 4; ++i)
                acc[i] += wk * in[i];
        }
    }

    // Vertical pass, one output row at a time, summing the horizontal rows in kernel order.
    std::vector<float> acc(static_cast<size_t>(outW) * 4);
    for (int y = 0; y < outH; ++y) {
        std::fill(acc.begin(), acc.end(), 0.0f);
        const int cy = region.top() + y;
        for (int k = 0; k < kKernelSize; ++k) {
            const int sy = cy + k - R;
            if (sy < firstRow || sy > lastRow)
                continue;
            const float wk = w[k];
            const float* in = &horizontal[static_cast<size_t>(sy - firstRow) * outW * 4];
            for (int i = 0; i < outW * 4; ++i)
                acc[i] += wk * in[i];
        }
        uchar* dst = out.scanLine(y);
        for (int x = 0; x < outW; ++x) {
            const quint8 a = toByte(acc[4 * x + 3]);
            // Premultiplied colour never exceeds its alpha; rounding must not break that.
            dst[4 * x + 0] = std::min(toByte(acc[4 * x + 0]), a);
            dst[4 * x + 1] = std::min(toByte(acc[4 * x + 1]), a);
            dst[4 * x + 2] = std::min(toByte(acc[4 * x + 2]), a);
            dst[4 * x + 3] = a;
        }
    }
    return out;
}
