#include "streaminfo/mpeg4_probe.h"

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "bit_writer.h"

namespace {

struct Buf {
    explicit Buf(const std::vector<uint8_t> &v)
        : size(int(v.size())), data(new char[v.size() ? v.size() : 1]) {
        std::copy(v.begin(), v.end(), data.get());
    }
    const unsigned char *u() const { return reinterpret_cast<const unsigned char *>(data.get()); }
    int size;
    std::unique_ptr<char[]> data;
};

// A video_object_layer header written from the MPEG-4 Part 2 syntax, up to
// and including the height.
struct Vol {
    int verid = 0; // 0: no object layer identifier
    int aspect = 1;
    bool control = false;
    bool vbv = false;
    int shape = 0;
    int resolution = 30000;
    bool fixed_rate = false;
    int fixed_bits = 0; // width of fixed_vop_time_increment as written
    int width = 352;
    int height = 288;
};

void write_vol(BitWriter &w, const Vol &v) {
    w.u(32, 0x120).bit(0).u(8, 1);
    w.bit(v.verid != 0);
    if (v.verid) w.u(4, v.verid).u(3, 1);
    w.u(4, v.aspect);
    if (v.aspect == 15) w.u(8, 12).u(8, 11);
    w.bit(v.control);
    if (v.control) {
        w.u(2, 1).bit(1).bit(v.vbv);
        if (v.vbv)
            for (int bits : {15, 1, 15, 1, 15, 1, 3, 11, 1, 15, 1})
                w.u(bits, (1u << bits) - 1);
    }
    w.u(2, v.shape);
    if (v.shape == 3 && v.verid != 0 && v.verid != 1) w.u(4, 0xF);
    w.bit(1).u(16, v.resolution).bit(1);
    w.bit(v.fixed_rate);
    if (v.fixed_rate) w.u(v.fixed_bits, (1u << v.fixed_bits) - 1);
    if (v.shape == 0) w.bit(1).u(13, v.width).bit(1).u(13, v.height).bit(1);
}

std::vector<uint8_t> stream(const Vol &v, int pad = 4) {
    BitWriter w;
    w.u(32, 0x100); // video_object_start_code
    write_vol(w, v);
    for (int i = 0; i < pad; i++)
        w.u(8, 0xAA);
    return w.bytes();
}

int dims(const std::vector<uint8_t> &bytes, int *w, int *h) {
    Buf b(bytes);
    return getMpeg4Dimensions(b.data.get(), b.size, w, h);
}

TEST(Mpeg4Dimensions, HeaderVariants) {
    struct Case {
        const char *name;
        Vol vol;
    };
    std::vector<Case> cases;
    cases.push_back({"simple", Vol{}});
    Vol v;
    v.resolution = 1;
    v.fixed_rate = true;
    v.fixed_bits = 0; // nothing is skipped for a resolution of 1
    cases.push_back({"resolution 1", v});
    v = Vol{};
    v.resolution = 0;
    v.fixed_rate = true;
    v.fixed_bits = 1;
    cases.push_back({"resolution 0", v});
    v = Vol{};
    v.fixed_rate = true;
    v.fixed_bits = 15;
    v.width = 641;
    v.height = 481;
    cases.push_back({"30000 fixed", v});
    v = Vol{};
    v.verid = 2;
    v.aspect = 15;
    v.control = true;
    v.vbv = true;
    v.width = 8191;
    v.height = 1;
    cases.push_back({"identifier, PAR, VBV", v});
    v = Vol{};
    v.resolution = 65535;
    v.fixed_rate = true;
    v.fixed_bits = 16;
    cases.push_back({"resolution 65535", v});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        int w = -1, h = -1;
        EXPECT_EQ(dims(stream(c.vol), &w, &h), 1);
        EXPECT_EQ(w, c.vol.width);
        EXPECT_EQ(h, c.vol.height);
    }
}

TEST(Mpeg4Dimensions, NonRectangularLayersAndMisses) {
    int w = -1, h = -1;
    // Binary shape: 68 bits parsed, so the scan goes on at bit offsets 4 mod 8.
    Vol bin;
    bin.shape = 2;
    Vol rect;
    rect.width = 720;
    rect.height = 576;
    {
        BitWriter bw;
        write_vol(bw, bin);    // 68 bits
        bw.u(4, 0).u(8, 0x55); // the next header starts at bit 80
        write_vol(bw, rect);
        bw.u(16, 0);
        EXPECT_EQ(dims(bw.bytes(), &w, &h), 0);
        EXPECT_EQ(w, -1);
    }
    {
        BitWriter bw;
        write_vol(bw, bin);
        bw.u(8, 0x55); // the next header starts at bit 76: reachable
        write_vol(bw, rect);
        bw.u(16, 0);
        EXPECT_EQ(dims(bw.bytes(), &w, &h), 1);
        EXPECT_EQ(w, 720);
        EXPECT_EQ(h, 576);
    }
    {
        // Grayscale shape with verid 2 skips its extension, then the scan
        // finds the next (rectangular) layer.
        Vol gray;
        gray.verid = 2;
        gray.shape = 3;
        BitWriter bw;
        write_vol(bw, gray); // 32+1+8+1+7+4+1+2+4+1+16+1+1 = 79 bits
        bw.u(8, 0x55);       // next header at bit 87, 8 bits on from the end of this one
        write_vol(bw, rect);
        bw.u(16, 0);
        w = h = -1;
        EXPECT_EQ(dims(bw.bytes(), &w, &h), 1);
        EXPECT_EQ(w, 720);
    }
    {
        std::vector<uint8_t> none = {0, 0, 1, 0xB0, 1, 0, 0, 1, 0xB6, 0x10, 0, 0, 1, 0x00, 0, 0, 1, 0x30};
        w = h = -1;
        EXPECT_EQ(dims(none, &w, &h), 0);
        EXPECT_EQ(w, -1);
        EXPECT_EQ(h, -1);
        EXPECT_EQ(dims({}, &w, &h), 0);
        EXPECT_EQ(dims({0, 0, 1}, &w, &h), 0);
        EXPECT_EQ(dims({0, 0, 1, 0x20}, &w, &h), 0);
    }
}

TEST(Mpeg4Dimensions, HeadersCutShortAreNotFound) {
    // Every prefix of a stream ending inside the layer header: no size, no
    // read past the buffer (AddressSanitizer), nothing stored.
    std::vector<uint8_t> full = stream(Vol{}, 0);
    // Object start code (32 bits), then 96 layer header bits up to the height.
    const int needed = (32 + 96) / 8;
    for (size_t n = 0; n <= full.size(); n++) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> cut(full.begin(), full.begin() + n);
        int w = -1, h = -1;
        int r = dims(cut, &w, &h);
        EXPECT_EQ(r, int(n) >= needed ? 1 : 0);
        if (!r) {
            EXPECT_EQ(w, -1);
        }
    }
}

TEST(Mpeg4FrameType, StartCodeStateMachine) {
    struct Case {
        std::vector<uint8_t> bytes;
        int type;
    };
    const std::vector<Case> cases = {
        {{0, 0, 1, 0xB6, 0x45}, 1},
        {{0, 0, 1, 0xB6, 0x05}, 0},
        {{0x12, 0, 0, 1, 0xB3, 0, 0, 1, 0xB6, 0x85}, 2},
        {{0, 0, 1, 0xB6, 0xC0, 0x00}, 3},
        {{0xFF, 0, 0, 1, 0xB6}, -1},
        {{0, 0, 0, 1, 0xB6, 0x05}, -1},
        {{0, 0, 1, 0, 0, 1, 0xB6, 0x45}, -1}, // the byte that breaks a code is not looked at again
        {{0, 1, 0, 0, 1, 0xB6, 0x40}, 1},
        {{0xB6, 0x40}, -1},
        {{}, -1},
    };
    for (size_t i = 0; i < cases.size(); i++) {
        SCOPED_TRACE(i);
        Buf b(cases[i].bytes);
        EXPECT_EQ(getMpeg4FrameType(b.u(), b.size), cases[i].type);
    }
    Buf b({0, 0, 1, 0xB6, 0x45});
    EXPECT_EQ(getMpeg4FrameType(b.u(), 0), -1);
    EXPECT_EQ(getMpeg4FrameType(b.u(), -3), -1);
}

} // namespace
