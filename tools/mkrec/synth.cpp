// Synthetic pictures and tones. The picture shows the channel number and the frame counter in
// large digits, over a per-channel tinted gradient, with a box that moves each frame, so a
// wrong channel, a wrong frame order or a wrong field order is visible on screen.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "mkrec.h"

namespace mkrec {
namespace {

// 5x7 glyphs, one byte per row, bit 4 = leftmost column.
struct Glyph {
    char c;
    uint8_t rows[7];
};
const Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
};

const uint8_t *glyphRows(char c) {
    for (const Glyph &g : kGlyphs)
        if (g.c == c) return g.rows;
    return nullptr;
}

void fillRect(uint8_t *y, int ys, int w, int h, int x0, int y0, int rw, int rh, uint8_t val) {
    for (int r = y0; r < y0 + rh; ++r) {
        if (r < 0 || r >= h) continue;
        int a = x0 < 0 ? 0 : x0, b = x0 + rw > w ? w : x0 + rw;
        if (b > a) std::memset(y + static_cast<size_t>(r) * ys + a, val, static_cast<size_t>(b - a));
    }
}

void drawText(uint8_t *y, int ys, int w, int h, int x0, int y0, int scale, const char *text) {
    int len = static_cast<int>(std::strlen(text));
    fillRect(y, ys, w, h, x0 - scale, y0 - scale, len * 6 * scale + scale, 9 * scale, 16);
    for (int i = 0; i < len; ++i) {
        const uint8_t *rows = glyphRows(text[i]);
        if (!rows) continue;
        for (int r = 0; r < 7; ++r)
            for (int c = 0; c < 5; ++c)
                if (rows[r] & (0x10 >> c))
                    fillRect(y, ys, w, h, x0 + (i * 6 + c) * scale, y0 + r * scale, scale, scale, 235);
    }
}

uint64_t splitmix(uint64_t &s) {
    uint64_t z = (s += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

} // namespace

// frameTime is the picture's time in frame units (a bottom field is half a frame later);
// frameNo is the number shown.
void drawPicture(int ch, double frameTime, int frameNo, int w, int h, bool noise, int grain, uint64_t seed,
                 uint8_t *y, uint8_t *u, uint8_t *v, int ys, int cs) {
    // Background: a gradient, darker for higher channels, with a per-channel tint. It is the
    // same for every frame of a channel, so it is drawn once and copied.
    thread_local std::vector<uint8_t> bg;
    thread_local int bgKey[3] = {-1, -1, -1};
    if (bgKey[0] != ch || bgKey[1] != w || bgKey[2] != h) {
        bg.resize(static_cast<size_t>(w) * h);
        for (int r = 0; r < h; ++r) {
            int base = 48 + (r * 64) / (h > 0 ? h : 1) - ch * 2;
            for (int c = 0; c < w; ++c)
                bg[static_cast<size_t>(r) * w + c] = static_cast<uint8_t>(base + (c * 64) / w);
        }
        bgKey[0] = ch;
        bgKey[1] = w;
        bgKey[2] = h;
    }
    for (int r = 0; r < h; ++r)
        std::memcpy(y + static_cast<size_t>(r) * ys, bg.data() + static_cast<size_t>(r) * w,
                    static_cast<size_t>(w));
    const double ang = ch * 2.0 * M_PI / 16.0;
    const uint8_t cu = static_cast<uint8_t>(128 + std::lround(48 * std::cos(ang)));
    const uint8_t cv = static_cast<uint8_t>(128 + std::lround(48 * std::sin(ang)));
    for (int r = 0; r < (h + 1) / 2; ++r) {
        std::memset(u + static_cast<size_t>(r) * cs, cu, static_cast<size_t>((w + 1) / 2));
        std::memset(v + static_cast<size_t>(r) * cs, cv, static_cast<size_t>((w + 1) / 2));
    }
    if (noise) {
        uint64_t s =
            seed * 1000003ULL + static_cast<uint64_t>(ch) * 7919ULL + static_cast<uint64_t>(frameTime * 2.0);
        for (int r = 0; r < h; ++r) {
            uint8_t *row = y + static_cast<size_t>(r) * ys;
            for (int c = 0; c + 8 <= w; c += 8) {
                uint64_t z = splitmix(s);
                for (int k = 0; k < 8; ++k)
                    row[c + k] = static_cast<uint8_t>(row[c + k] + ((z >> (8 * k)) & 0x3F) - 32);
            }
        }
    }
    if (grain > 0) {
        // Low-level grain that changes every frame, as a camera sensor gives.
        uint64_t s = seed * 7000003ULL + static_cast<uint64_t>(ch) * 104729ULL +
                     static_cast<uint64_t>(frameTime * 2.0);
        const unsigned span = 2u * static_cast<unsigned>(grain) + 1u;
        for (int r = 0; r < h; ++r) {
            uint8_t *row = y + static_cast<size_t>(r) * ys;
            for (int c = 0; c + 8 <= w; c += 8) {
                uint64_t z = splitmix(s);
                for (int k = 0; k < 8; ++k) {
                    const int d = static_cast<int>(((z >> (8 * k)) & 0xFF) % span) - grain;
                    const int val = row[c + k] + d;
                    row[c + k] = static_cast<uint8_t>(val < 0 ? 0 : val > 255 ? 255 : val);
                }
            }
        }
    }
    // A box sweeping left to right and back, one step per frame.
    int bw = w / 6 > 4 ? w / 6 : 4, bh = h / 5 > 4 ? h / 5 : 4;
    int travel = w - bw > 1 ? w - bw : 1;
    int pos = static_cast<int>(std::lround(frameTime * 4.0)) % (2 * travel);
    int bx = pos < travel ? pos : 2 * travel - pos;
    int by = h / 2 - bh / 2 + (h / 8) * ((static_cast<int>(frameTime) / 25) % 2);
    fillRect(y, ys, w, h, bx, by, bw, bh, 210);
    // Channel number (1-based, as shown) and frame counter.
    int scale = h / 72 > 1 ? h / 72 : 1;
    char text[32];
    std::snprintf(text, sizeof text, "CH%02d", ch + 1);
    drawText(y, ys, w, h, 2 * scale, 2 * scale, scale, text);
    std::snprintf(text, sizeof text, "F%05d", frameNo % 100000);
    drawText(y, ys, w, h, 2 * scale, 12 * scale, scale, text);
}

// Distinct tones, all well below 4000 Hz: 500, 650, ..., 2750 Hz.
int toneFrequency(int ch) {
    return 500 + 150 * ch;
}

void toneSamples(int ch, int64_t first, int count, int16_t *out) {
    const double f = toneFrequency(ch);
    for (int i = 0; i < count; ++i) {
        // A quarter-sample phase offset keeps exact zeros (and so runs of zero bytes) away.
        double t = (static_cast<double>(first + i) + 0.25) / 8000.0;
        out[i] = static_cast<int16_t>(std::lround(12000.0 * std::sin(2.0 * M_PI * f * t)));
    }
}

} // namespace mkrec
