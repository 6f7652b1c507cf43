#pragma once

#include <QImage>
#include <QRect>

#include <array>

// A separable Gaussian blur on premultiplied ARGB pixels, computed for a region only.
//
// The blur radius of the brush (15 px of the picture's bitmap) is taken as the Gaussian's standard
// deviation, sigma = 15 px, which is what a "blur radius" means for the usual image-processing
// filters (a radius-15 blur spreads an edge over roughly 2 x 3 sigma = 90 px). The kernel is cut at
// 3 sigma = 45 px on each side, where a weight is 1.1 % of the centre one and the tails hold 0.27 %
// of the mass, and is renormalised so a flat area stays exactly flat.
//
// Beyond the picture's border the edge pixels repeat, so a blur along the border stays opaque and
// keeps the border's colours instead of fading into empty surroundings.
class GaussianBlur {
public:
    static constexpr double kSigma = 15.0;
    static constexpr int kKernelRadius = 45;  // the margin a blurred pixel reads around itself
    static constexpr int kKernelSize = 2 * kKernelRadius + 1;

    static const std::array<float, kKernelSize>& kernel();

    // The blurred pixels of `region` (source pixel coordinates; may reach outside the source), as a
    // Format_ARGB32_Premultiplied image of region's size. Reads only `region` grown by the kernel
    // radius, so the cost follows the region, not the picture. `source` must be
    // Format_ARGB32_Premultiplied; anything else gives a null image.
    static QImage blurredRegion(const QImage& source, const QRect& region);
};
