// Brightness, saturation and contrast of a picture, per pixel. With c a colour component in
// 0..1 and L = 0.2125 R + 0.7154 G + 0.0721 B:
//   c1 = L + s (c - L),  c2 = c1 + b,  c3 = (c2 - 0.5) k + 0.5,
// clamped to 0..1 and rounded to 0..255. Alpha is copied. The three steps fold into
//   c3 = k s c + k (1 - s) L + (k b - k/2 + 1/2),
// one multiply-add per component after the luminance, four pixels at a time in SSE2.
#pragma once

#include <cstddef>
#include <cstdint>

struct ColourControls {
    float brightness = 0.0f; // b, added
    float saturation = 1.0f; // s, factor
    float contrast = 1.0f;   // k, factor

    // (0, 1, 1) leaves every pixel as it is.
    bool isIdentity() const { return brightness == 0.0f && saturation == 1.0f && contrast == 1.0f; }
    bool operator==(const ColourControls &o) const {
        return brightness == o.brightness && saturation == o.saturation && contrast == o.contrast;
    }
    bool operator!=(const ColourControls &o) const { return !(*this == o); }
};

// Byte order of a 4-byte pixel in memory.
enum class PixelOrder { RGBA, BGRA };

// Applies the controls to width x height pixels from src to dst (which may be src), rows
// `srcStride` and `dstStride` bytes apart. Identity controls copy src to dst (nothing at all
// when they are the same buffer).
void applyColourControls(const ColourControls &controls, const uint8_t *src, size_t srcStride, uint8_t *dst,
                         size_t dstStride, int width, int height, PixelOrder order);
