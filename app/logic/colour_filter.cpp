#include "app/logic/colour_filter.h"

#include <cmath>
#include <cstring>

namespace {
constexpr double kOne = 65536.0;
constexpr double kWeightR = 0.2125, kWeightG = 0.7154, kWeightB = 0.0721;

int32_t fixed(double value) { return static_cast<int32_t>(std::lround(value * kOne)); }

inline uint8_t clampToByte(int32_t sum) {
    if (sum < 0) return 0;
    const int32_t v = sum >> 16;
    return static_cast<uint8_t>(v > 255 ? 255 : v);
}

// Sliders keep the values in range; anything wilder is brought back so the sums stay far from
// overflowing 32 bits.
double bounded(double v, double lo, double hi, double otherwise) {
    return std::isfinite(v) ? (v < lo ? lo : (v > hi ? hi : v)) : otherwise;
}
} // namespace

ColourControlsTable::ColourControlsTable(const ColourControls &controls) {
    const double b = bounded(controls.brightness, -2.0, 2.0, 0.0);
    const double s = bounded(controls.saturation, -4.0, 4.0, 1.0);
    const double k = bounded(controls.contrast, -4.0, 4.0, 1.0);
    const double ks = k * s, kl = k * (1.0 - s);
    // In 0..255 units, plus one half so that the final shift rounds to nearest.
    const double offset = 255.0 * (k * b - 0.5 * k + 0.5) + 0.5;
    for (int v = 0; v < 256; ++v) {
        own_[v] = fixed(ks * v);
        lumR_[v] = fixed(kl * kWeightR * v + offset);
        lumG_[v] = fixed(kl * kWeightG * v);
        lumB_[v] = fixed(kl * kWeightB * v);
    }
}

void ColourControlsTable::map(uint8_t r, uint8_t g, uint8_t b, uint8_t &outR, uint8_t &outG, uint8_t &outB) const {
    const int32_t lum = lumR_[r] + lumG_[g] + lumB_[b];
    outR = clampToByte(own_[r] + lum);
    outG = clampToByte(own_[g] + lum);
    outB = clampToByte(own_[b] + lum);
}

void ColourControlsTable::apply(const uint8_t *src, size_t srcStride, uint8_t *dst, size_t dstStride, int width,
                                int height, PixelOrder order) const {
    const int ri = order == PixelOrder::RGBA ? 0 : 2;
    const int bi = 2 - ri;
    for (int y = 0; y < height; ++y) {
        const uint8_t *s = src + static_cast<size_t>(y) * srcStride;
        uint8_t *d = dst + static_cast<size_t>(y) * dstStride;
        for (int x = 0; x < width; ++x, s += 4, d += 4) {
            const uint8_t r = s[ri], g = s[1], b = s[bi], a = s[3];
            const int32_t lum = lumR_[r] + lumG_[g] + lumB_[b];
            d[ri] = clampToByte(own_[r] + lum);
            d[1] = clampToByte(own_[g] + lum);
            d[bi] = clampToByte(own_[b] + lum);
            d[3] = a;
        }
    }
}

void applyColourControls(const ColourControls &controls, const uint8_t *src, size_t srcStride, uint8_t *dst,
                         size_t dstStride, int width, int height, PixelOrder order) {
    if (width <= 0 || height <= 0) return;
    if (controls.isIdentity()) {
        if (src == dst) return;
        for (int y = 0; y < height; ++y)
            std::memcpy(dst + static_cast<size_t>(y) * dstStride, src + static_cast<size_t>(y) * srcStride,
                        static_cast<size_t>(width) * 4);
        return;
    }
    ColourControlsTable(controls).apply(src, srcStride, dst, dstStride, width, height, order);
}
