// The tiles' colour controls on 16 D1 pictures (720 x 576 RGBA) against the plain path (a copy
// of each picture, the least a shown picture costs) and a straightforward per-pixel formula in
// floating point, in the same run. Usage: colour_filter_bench [rounds]
//
// 16 channels at 25 pictures per second need 400 pictures per second; the last column says
// how much of one core that takes.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "app/logic/colour_filter.h"

namespace {

constexpr int kWidth = 720, kHeight = 576, kTiles = 16;
constexpr double kNeeded = 16 * 25;

using Picture = std::vector<uint8_t>;

std::vector<Picture> makePictures() {
    std::vector<Picture> pictures(kTiles, Picture(static_cast<size_t>(kWidth) * kHeight * 4));
    uint32_t state = 1;
    for (int t = 0; t < kTiles; ++t)
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                state = state * 1664525u + 1013904223u;
                uint8_t *p = &pictures[t][(static_cast<size_t>(y) * kWidth + x) * 4];
                p[0] = static_cast<uint8_t>(x / 3 + t * 7 + (state >> 29));
                p[1] = static_cast<uint8_t>(y / 2 + (state >> 28));
                p[2] = static_cast<uint8_t>((x + y) / 5 + t);
                p[3] = 255;
            }
    return pictures;
}

// The formula as written, one pixel at a time.
void naive(const ColourControls &c, const uint8_t *src, uint8_t *dst, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i, src += 4, dst += 4) {
        const float r = src[0] / 255.0f, g = src[1] / 255.0f, b = src[2] / 255.0f;
        const float lum = 0.2125f * r + 0.7154f * g + 0.0721f * b;
        const float in[3] = {r, g, b};
        for (int k = 0; k < 3; ++k) {
            float v = ((lum + c.saturation * (in[k] - lum) + c.brightness) - 0.5f) * c.contrast + 0.5f;
            v = v < 0 ? 0 : (v > 1 ? 1 : v);
            dst[k] = static_cast<uint8_t>(std::lround(v * 255.0f));
        }
        dst[3] = src[3];
    }
}

double picturesPerSecond(int rounds, const std::function<void(int)> &oneTile) {
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; ++r)
        for (int t = 0; t < kTiles; ++t)
            oneTile(t);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return rounds * kTiles / seconds;
}

} // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 25;
    const std::vector<Picture> pictures = makePictures();
    std::vector<Picture> out(kTiles, Picture(pictures[0].size()));
    const ColourControls controls{0.1f, 1.4f, 1.2f};
    const size_t stride = static_cast<size_t>(kWidth) * 4;

    const double plain = picturesPerSecond(
        rounds, [&](int t) { std::memcpy(out[t].data(), pictures[t].data(), pictures[t].size()); });
    const double filtered = picturesPerSecond(rounds, [&](int t) {
        applyColourControls(controls, pictures[t].data(), stride, out[t].data(), stride, kWidth, kHeight,
                            PixelOrder::RGBA);
    });
    const double identity = picturesPerSecond(rounds, [&](int t) {
        applyColourControls(ColourControls{}, out[t].data(), stride, out[t].data(), stride, kWidth, kHeight,
                            PixelOrder::RGBA);
    });
    const double formula = picturesPerSecond(std::max(1, rounds / 5), [&](int t) {
        naive(controls, pictures[t].data(), out[t].data(), static_cast<size_t>(kWidth) * kHeight);
    });

    std::printf("16 tiles of %d x %d RGBA, %d rounds\n", kWidth, kHeight, rounds);
    std::printf("%-28s %12s %14s %18s\n", "path", "pictures/s", "vs plain copy", "core share @400/s");
    auto row = [&](const char *name, double pps) {
        std::printf("%-28s %12.0f %13.2fx %17.1f%%\n", name, pps, pps / plain, 100.0 * kNeeded / pps);
    };
    row("plain copy", plain);
    row("colour controls", filtered);
    row("colour controls, identity", identity);
    row("formula per pixel (float)", formula);
    return 0;
}
