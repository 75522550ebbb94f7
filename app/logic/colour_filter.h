// Brightness, saturation and contrast of a picture, per pixel. With c a colour component in
// 0..1 and L = 0.2125 R + 0.7154 G + 0.0721 B:
//   c1 = L + s (c - L),  c2 = c1 + b,  c3 = (c2 - 0.5) k + 0.5,
// clamped to 0..1 and rounded to 0..255. Alpha is copied. The three steps fold into
//   c3 = k s c + k (1 - s) L + (k b - k/2 + 1/2),
// which is computed in 16.16 fixed point from five 256-entry tables, so one pixel costs a few
// table loads and adds.
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

// The tables of one set of controls; cheap to build (1280 entries), so build one per picture.
class ColourControlsTable {
  public:
    explicit ColourControlsTable(const ColourControls &controls);

    // One pixel's R, G, B in 0..255 to the adjusted values.
    void map(uint8_t r, uint8_t g, uint8_t b, uint8_t &outR, uint8_t &outG, uint8_t &outB) const;

    // width x height pixels from src to dst (which may be src), rows `srcStride` and
    // `dstStride` bytes apart.
    void apply(const uint8_t *src, size_t srcStride, uint8_t *dst, size_t dstStride, int width, int height,
               PixelOrder order) const;

  private:
    int32_t own_[256];            // k s c, in 1/65536
    int32_t lumR_[256], lumG_[256], lumB_[256]; // k (1 - s) w c (lumR_ also holds the offset and the rounding half)
};

// Applies the controls to a picture (see ColourControlsTable::apply). Identity controls copy
// src to dst (nothing at all when they are the same buffer).
void applyColourControls(const ColourControls &controls, const uint8_t *src, size_t srcStride, uint8_t *dst,
                         size_t dstStride, int width, int height, PixelOrder order);
