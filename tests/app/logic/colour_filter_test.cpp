// The colour controls against reference pixels worked out separately (step by step in double
// precision with python3, not with this code), and against the plain formula over many pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "app/logic/colour_filter.h"

namespace {

// A rounded result may be either neighbour of an exact half.
constexpr double kRoundingSlack = 0.5 + 1e-3;

struct Reference {
    float b, s, k;
    uint8_t in[3];
    double out[3]; // clamped, not rounded, in 0..255
};

// python3: c = v/255; L = .2125R+.7154G+.0721B; c1 = L+s(c-L); c2 = c1+b; c3 = (c2-.5)k+.5;
// clamp to 0..1; times 255.
const Reference kReferences[] = {
    {0.2f, 1, 1, {10, 100, 250}, {61.0000, 151.0000, 255.0000}},
    {-0.3f, 1, 1, {10, 100, 250}, {0.0000, 23.5000, 173.5000}},
    {0, 0, 1, {255, 0, 0}, {54.1875, 54.1875, 54.1875}},
    {0, 0, 1, {12, 200, 77}, {151.1817, 151.1817, 151.1817}},
    {0, 2, 1, {120, 130, 140}, {111.4040, 131.4040, 151.4040}},
    {0, 1, 2, {100, 128, 200}, {72.5000, 128.5000, 255.0000}},
    {0, 1, 0.5f, {0, 64, 255}, {63.7500, 95.7500, 191.2500}},
    {0.1f, 1.5f, 1.3f, {33, 66, 99}, {19.3616, 83.7116, 148.0616}},
    {-0.1f, 0.5f, 0.8f, {240, 10, 128}, {128.0531, 36.0531, 83.2531}},
    {0.5f, 1, 4, {200, 200, 200}, {255.0000, 255.0000, 255.0000}},
    {-1, 1, 1, {255, 255, 255}, {0.0000, 0.0000, 0.0000}},
    {1, 1, 1, {0, 0, 0}, {255.0000, 255.0000, 255.0000}},
    {0, 1, 0.25f, {3, 250, 127}, {96.3750, 158.1250, 127.3750}},
    {0.05f, 0.3f, 1.7f, {90, 180, 45}, {158.1834, 204.0834, 135.2334}},
};

TEST(ColourFilter, MatchesReferencePixelsInBothByteOrders) {
    for (const Reference &r : kReferences) {
        const ColourControls controls{r.b, r.s, r.k};
        // A row of five pixels (four at once and one alone), in RGBA and in BGRA order, alpha kept.
        uint8_t rgba[20], bgra[20];
        for (int i = 0; i < 5; ++i) {
            const uint8_t px[4] = {r.in[0], r.in[1], r.in[2], uint8_t(77 + i)};
            std::copy(px, px + 4, rgba + 4 * i);
            const uint8_t bx[4] = {r.in[2], r.in[1], r.in[0], uint8_t(77 + i)};
            std::copy(bx, bx + 4, bgra + 4 * i);
        }
        applyColourControls(controls, rgba, 20, rgba, 20, 5, 1, PixelOrder::RGBA);
        applyColourControls(controls, bgra, 20, bgra, 20, 5, 1, PixelOrder::BGRA);
        for (int i = 0; i < 5; ++i) {
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(rgba[4 * i + c], r.out[c], kRoundingSlack)
                    << "b=" << r.b << " s=" << r.s << " k=" << r.k << " pixel " << i << " c" << c;
                EXPECT_EQ(bgra[4 * i + 2 - c], rgba[4 * i + c]);
            }
            EXPECT_EQ(rgba[4 * i + 3], 77 + i);
            EXPECT_EQ(bgra[4 * i + 3], 77 + i);
        }
    }
}

// The plain formula, per pixel in double precision.
double plain(double v, double lum, const ColourControls &c) {
    const double x = v / 255.0;
    const double c3 = ((lum + c.saturation * (x - lum) + c.brightness) - 0.5) * c.contrast + 0.5;
    return std::min(1.0, std::max(0.0, c3)) * 255.0;
}

TEST(ColourFilter, AgreesWithThePlainFormulaOverTheSliderRanges) {
    const ColourControls settings[] = {
        {-1, 0, 0.25f}, {1, 2, 4}, {0.37f, 0.61f, 1.9f}, {-0.2f, 1.8f, 0.7f}, {0, 1, 1.01f}};
    std::vector<uint8_t> pixels;
    for (int r = 0; r < 256; r += 15)
        for (int g = 0; g < 256; g += 17)
            for (int b = 0; b < 256; b += 5)
                pixels.insert(pixels.end(), {uint8_t(r), uint8_t(g), uint8_t(b), 255});
    // Three pixels short of a multiple of four: the last ones take the one-pixel path.
    const int count = static_cast<int>(pixels.size() / 4) - 3;
    for (const ColourControls &c : settings) {
        std::vector<uint8_t> out(pixels.size());
        applyColourControls(c, pixels.data(), pixels.size(), out.data(), out.size(), count, 1,
                            PixelOrder::RGBA);
        int bad = 0;
        for (int i = 0; i < count && bad < 5; ++i) {
            const uint8_t *p = &pixels[4 * i];
            const double lum = (0.2125 * p[0] + 0.7154 * p[1] + 0.0721 * p[2]) / 255.0;
            for (int ch = 0; ch < 3; ++ch) {
                if (std::fabs(out[4 * i + ch] - plain(p[ch], lum, c)) > kRoundingSlack) {
                    ++bad;
                    ADD_FAILURE() << "pixel " << int(p[0]) << "," << int(p[1]) << "," << int(p[2])
                                  << " channel " << ch << " got " << int(out[4 * i + ch]) << " want "
                                  << plain(p[ch], lum, c);
                }
            }
        }
    }
}

TEST(ColourFilter, IdentityLeavesPixelsAndStridesAlone) {
    // 3 x 2 pixels in rows of 16 bytes: the 4 bytes past each row are not the picture's.
    std::vector<uint8_t> src(32), dst(32, 0xEE);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>(i * 37);
    applyColourControls(ColourControls{}, src.data(), 16, dst.data(), 16, 3, 2, PixelOrder::RGBA);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 12; ++x)
            EXPECT_EQ(dst[16 * y + x], src[16 * y + x]);
        for (int x = 12; x < 16; ++x)
            EXPECT_EQ(dst[16 * y + x], 0xEE);
    }
    EXPECT_TRUE(ColourControls{}.isIdentity());
    EXPECT_FALSE((ColourControls{0, 1, 1.01f}.isIdentity()));

    // Out-of-range or broken values stay bounded: no overflow, results still bytes.
    const float nan = std::nanf("");
    std::vector<uint8_t> p = {255, 0, 128, 255};
    applyColourControls(ColourControls{1e9f, -1e9f, nan}, p.data(), 4, p.data(), 4, 1, 1, PixelOrder::RGBA);
    EXPECT_EQ(p[3], 255);
}

} // namespace
