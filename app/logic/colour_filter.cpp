#include "app/logic/colour_filter.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
constexpr float kWeightR = 0.2125f, kWeightG = 0.7154f, kWeightB = 0.0721f;

// Sliders keep the values in range; anything wilder is brought back.
float bounded(float v, float lo, float hi, float otherwise) {
    return std::isfinite(v) ? (v < lo ? lo : (v > hi ? hi : v)) : otherwise;
}

inline float clampComponent(float v) {
    return v < 0.0f ? 0.0f : (v > 255.0f ? 255.0f : v);
}

// The folded coefficients, in 0..255 units: out = ks c + (w0 p0 + w1 p1 + w2 p2 + offset) for the
// components p0, p1, p2 of bytes 0, 1, 2 (the weights follow the byte order); `offset` already
// holds the half that makes the truncation round to nearest.
struct Kernel {
    float ks, w0, w1, w2, offset;

    void pixel(const uint8_t *s, uint8_t *d) const {
        const float p0 = s[0], p1 = s[1], p2 = s[2];
        const float lum = w0 * p0 + w1 * p1 + w2 * p2 + offset;
        d[0] = static_cast<uint8_t>(static_cast<int>(clampComponent(ks * p0 + lum)));
        d[1] = static_cast<uint8_t>(static_cast<int>(clampComponent(ks * p1 + lum)));
        d[2] = static_cast<uint8_t>(static_cast<int>(clampComponent(ks * p2 + lum)));
        d[3] = s[3];
    }

    // One row; src and dst may be the same row.
    void row(const uint8_t *src, uint8_t *dst, int width) const {
        int x = 0;
#if defined(__SSE2__)
        // Four pixels at a time, one component of each per vector.
        const __m128i byteMask = _mm_set1_epi32(0xFF);
        const __m128i alphaMask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
        const __m128 vks = _mm_set1_ps(ks), v0 = _mm_set1_ps(w0), v1 = _mm_set1_ps(w1), v2 = _mm_set1_ps(w2);
        const __m128 voff = _mm_set1_ps(offset), zero = _mm_setzero_ps(), top = _mm_set1_ps(255.0f);
        for (; x + 4 <= width; x += 4) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 4 * x));
            const __m128 c0 = _mm_cvtepi32_ps(_mm_and_si128(p, byteMask));
            const __m128 c1 = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p, 8), byteMask));
            const __m128 c2 = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p, 16), byteMask));
            const __m128 lum = _mm_add_ps(_mm_add_ps(_mm_mul_ps(v0, c0), _mm_mul_ps(v1, c1)),
                                          _mm_add_ps(_mm_mul_ps(v2, c2), voff));
            auto out = [&](__m128 c) {
                const __m128 v = _mm_add_ps(_mm_mul_ps(vks, c), lum);
                return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(v, zero), top));
            };
            const __m128i o =
                _mm_or_si128(_mm_or_si128(out(c0), _mm_slli_epi32(out(c1), 8)),
                             _mm_or_si128(_mm_slli_epi32(out(c2), 16), _mm_and_si128(p, alphaMask)));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 4 * x), o);
        }
#endif
        for (; x < width; ++x)
            pixel(src + 4 * x, dst + 4 * x);
    }
};
} // namespace

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
    const float b = bounded(controls.brightness, -2.0f, 2.0f, 0.0f);
    const float s = bounded(controls.saturation, -4.0f, 4.0f, 1.0f);
    const float k = bounded(controls.contrast, -4.0f, 4.0f, 1.0f);
    const float ks = k * s, kl = k * (1.0f - s);
    const float offset = 255.0f * (k * b - 0.5f * k + 0.5f) + 0.5f;
    const float wr = kl * kWeightR, wg = kl * kWeightG, wb = kl * kWeightB;
    const Kernel kernel =
        order == PixelOrder::RGBA ? Kernel{ks, wr, wg, wb, offset} : Kernel{ks, wb, wg, wr, offset};
    for (int y = 0; y < height; ++y)
        kernel.row(src + static_cast<size_t>(y) * srcStride, dst + static_cast<size_t>(y) * dstStride, width);
}
