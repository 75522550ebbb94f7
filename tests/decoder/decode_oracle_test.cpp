// Pictures of Decoder_Decode against ffmpeg's own decode of the same streams.

#include <gtest/gtest.h>

#include "clips.h"

using namespace cliptest;

namespace {

const char *kX264 = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p";
const char *kMpeg4 = "-c:v mpeg4 -flags +bitexact -qscale:v 4 -pix_fmt yuv420p -f m4v";
const char *kMjpeg420 = "-c:v mjpeg -qscale:v 4 -pix_fmt yuvj420p";
const char *kMjpeg422 = "-c:v mjpeg -qscale:v 4 -pix_fmt yuvj422p";
const char *kRgba = "scale=w=iw:h=ih:flags=fast_bilinear,format=rgba";

struct Stream {
    const char *name;
    int codec;
    const char *encoder;
    const char *file;
    const char *pixFmt;
};

const Stream kStreams[] = {
    {"h264", DECODER_CODEC_H264, kX264, "clip.h264", "yuv420p"},
    {"mpeg4", DECODER_CODEC_MPEG4, kMpeg4, "clip.m4v", "yuv420p"},
    {"mjpeg420", DECODER_CODEC_MJPEG, kMjpeg420, "clip.mjpeg", "yuvj420p"},
    {"mjpeg422", DECODER_CODEC_MJPEG, kMjpeg422, "clip.mjpeg", "yuvj422p"},
};

// Decodes every frame and returns the pictures produced (the codec may hold the first back).
std::vector<Picture> decodeAll(int codec, const std::vector<Bytes> &frames, int flags, int targetW = 0,
                               int targetH = 0, std::vector<Bytes> *sources = nullptr) {
    _Decoder dec{};
    EXPECT_EQ(Decoder_Init(&dec, codec, DECODER_FMT_RGBA), 1);
    std::vector<Picture> pics;
    for (const Bytes &f : frames) {
        Picture p = decode(&dec, f, flags, targetW, targetH);
        EXPECT_GE(p.result, 0);
        if (p.result == 1) {
            if (sources) sources->push_back(lastSourcePacked(&dec));
            pics.push_back(std::move(p));
        }
    }
    EXPECT_EQ(Decoder_Deinit(&dec), 1);
    return pics;
}

void expectSameMd5s(const std::vector<Picture> &pics, const std::vector<std::string> &ref,
                    const std::string &what) {
    ASSERT_FALSE(pics.empty()) << what;
    ASSERT_GE(ref.size(), pics.size()) << what;
    EXPECT_GE(pics.size() + 1, ref.size()) << what << ": more than one picture held back";
    for (size_t i = 0; i < pics.size(); ++i)
        EXPECT_EQ(md5(pics[i].pixels), ref[i]) << what << " picture " << i;
}

class DecodeOracle : public ::testing::TestWithParam<Stream> {};

} // namespace

// Every frame of each codec decodes to the picture ffmpeg gives for the same stream, both the
// codec's YUV picture and the RGBA picture after the fast bilinear conversion.
TEST_P(DecodeOracle, YuvAndRgbaMatchFfmpeg) {
    const Stream &s = GetParam();
    TempDir tmp;
    const std::string clip = tmp.path(s.file);
    ASSERT_TRUE(makeClip(clip, 96, 64, 6, s.encoder));
    const auto frames = readFrames(clip);
    ASSERT_EQ(frames.size(), 6u);

    std::vector<Bytes> sources;
    const auto pics = decodeAll(s.codec, frames, DECODER_FLAG_TOPDOWN, 0, 0, &sources);
    for (const Picture &p : pics) {
        EXPECT_EQ(p.streamW, 96);
        EXPECT_EQ(p.streamH, 64);
        EXPECT_EQ(p.outW, 96);
        EXPECT_EQ(p.outH, 64);
    }
    expectSameMd5s(pics, frameMd5(clip, kRgba), "rgba");

    const auto yuvRef = frameMd5(clip, std::string("format=") + s.pixFmt);
    ASSERT_EQ(sources.size(), pics.size());
    for (size_t i = 0; i < sources.size(); ++i)
        EXPECT_EQ(md5(sources[i]), yuvRef[i]) << "yuv picture " << i;
}

// The orientation flags: 0x10 wins over the others, 0x20 turns by 180 degrees, 0x08 mirrors,
// none of them turns the picture upside down.
TEST_P(DecodeOracle, OrientationFlags) {
    const Stream &s = GetParam();
    TempDir tmp;
    const std::string clip = tmp.path(s.file);
    ASSERT_TRUE(makeClip(clip, 96, 64, 3, s.encoder));
    const auto frames = readFrames(clip);
    const std::string rgba = kRgba;
    expectSameMd5s(
        decodeAll(s.codec, frames, DECODER_FLAG_TOPDOWN | DECODER_FLAG_ROTATE180 | DECODER_FLAG_MIRROR),
        frameMd5(clip, rgba), "0x38");
    expectSameMd5s(decodeAll(s.codec, frames, DECODER_FLAG_ROTATE180), frameMd5(clip, rgba + ",vflip,hflip"),
                   "0x20");
    expectSameMd5s(decodeAll(s.codec, frames, DECODER_FLAG_ROTATE180 | DECODER_FLAG_MIRROR),
                   frameMd5(clip, rgba + ",vflip,hflip"), "0x28");
    expectSameMd5s(decodeAll(s.codec, frames, DECODER_FLAG_MIRROR), frameMd5(clip, rgba + ",hflip"), "0x08");
    expectSameMd5s(decodeAll(s.codec, frames, 0), frameMd5(clip, rgba + ",vflip"), "0x00");
}

// A target size scales with the fast bilinear method.
TEST_P(DecodeOracle, TargetSizeScales) {
    const Stream &s = GetParam();
    TempDir tmp;
    const std::string clip = tmp.path(s.file);
    ASSERT_TRUE(makeClip(clip, 96, 64, 3, s.encoder));
    const auto frames = readFrames(clip);
    const auto pics = decodeAll(s.codec, frames, DECODER_FLAG_TOPDOWN, 352, 288);
    for (const Picture &p : pics) {
        EXPECT_EQ(p.streamW, 96);
        EXPECT_EQ(p.streamH, 64);
        EXPECT_EQ(p.outW, 352);
        EXPECT_EQ(p.outH, 288);
    }
    expectSameMd5s(pics, frameMd5(clip, "scale=w=352:h=288:flags=fast_bilinear,format=rgba"), "352x288");
}

INSTANTIATE_TEST_SUITE_P(Codecs, DecodeOracle, ::testing::ValuesIn(kStreams),
                         [](const ::testing::TestParamInfo<Stream> &i) { return std::string(i.param.name); });

namespace {

struct Format {
    int code;
    const char *ffmpegName;
    int bpp;
    // Where red, green and blue sit: for bytes the index, for 16-bit words the shift and width.
    bool packed16;
    int r, g, b, alpha; // byte index (alpha -1 if none), or bit shift for 16-bit words
    int bits[3];        // 16-bit: widths of r, g, b
};

const Format kFormats[] = {
    {DECODER_FMT_RGB24, "rgb24", 3, false, 0, 1, 2, -1, {}},
    {DECODER_FMT_BGR24, "bgr24", 3, false, 2, 1, 0, -1, {}},
    {DECODER_FMT_BGRA, "bgra", 4, false, 2, 1, 0, 3, {}},
    {DECODER_FMT_RGBA, "rgba", 4, false, 0, 1, 2, 3, {}},
    {DECODER_FMT_RGB565LE, "rgb565le", 2, true, 11, 5, 0, -1, {5, 6, 5}},
    {DECODER_FMT_BGR565LE, "bgr565le", 2, true, 0, 5, 11, -1, {5, 6, 5}},
    {DECODER_FMT_RGB555LE, "rgb555le", 2, true, 10, 5, 0, -1, {5, 5, 5}},
    {DECODER_FMT_BGR555LE, "bgr555le", 2, true, 0, 5, 10, -1, {5, 5, 5}},
    {DECODER_FMT_ABGR, "abgr", 4, false, 3, 2, 1, 0, {}},
    {DECODER_FMT_ARGB, "argb", 4, false, 1, 2, 3, 0, {}},
};

} // namespace

// Every output format: the picture equals ffmpeg's conversion to the same pixel format, and a
// known colour lands in the right bytes.
TEST(OutputFormats, ByteOrderOfEveryFormat) {
    TempDir tmp;
    const std::string clip = tmp.path("clip.mjpeg");
    ASSERT_TRUE(makeClip(clip, 96, 64, 2, kMjpeg420));
    const auto frames = readFrames(clip);
    // An orange-red colour (R 200, G 100, B 30) in full-range 4:4:4.
    const std::string solid = tmp.path("solid.mjpeg");
    ASSERT_TRUE(ffmpeg(
        "-f lavfi -i color=c=0xC8641E:size=32x32 -frames:v 1 -c:v mjpeg -qscale:v 1 -pix_fmt yuvj444p '" +
        solid + "'"));
    const auto solidFrames = readFrames(solid);
    ASSERT_EQ(solidFrames.size(), 1u);

    for (const Format &f : kFormats) {
        SCOPED_TRACE(f.ffmpegName);
        _Decoder dec{};
        ASSERT_EQ(Decoder_Init(&dec, DECODER_CODEC_MJPEG, f.code), 1);
        EXPECT_EQ(dec.bytesPerPixel, f.bpp);
        const auto ref =
            frameMd5(clip, std::string("scale=w=iw:h=ih:flags=fast_bilinear,format=") + f.ffmpegName);
        ASSERT_EQ(ref.size(), frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            const Picture p = decode(&dec, frames[i], DECODER_FLAG_TOPDOWN);
            ASSERT_EQ(p.result, 1);
            EXPECT_EQ(p.pixels.size(), 96u * 64u * f.bpp);
            EXPECT_EQ(md5(p.pixels), ref[i]) << "frame " << i;
        }
        Decoder_Deinit(&dec);

        ASSERT_EQ(Decoder_Init(&dec, DECODER_CODEC_MJPEG, f.code), 1);
        const Picture p = decode(&dec, solidFrames[0], DECODER_FLAG_TOPDOWN);
        ASSERT_EQ(p.result, 1);
        const uint8_t *px = p.pixels.data() + (16 * 32 + 16) * f.bpp; // the middle pixel
        int r, g, b;
        if (f.packed16) {
            const int word = px[0] | (px[1] << 8); // little-endian
            auto comp = [&](int shift, int bits) {
                return ((word >> shift) & ((1 << bits) - 1)) << (8 - bits);
            };
            r = comp(f.r, f.bits[0]);
            g = comp(f.g, f.bits[1]);
            b = comp(f.b, f.bits[2]);
        } else {
            r = px[f.r];
            g = px[f.g];
            b = px[f.b];
            if (f.alpha >= 0) {
                EXPECT_EQ(px[f.alpha], 255);
            }
        }
        EXPECT_NEAR(r, 200, 10);
        EXPECT_NEAR(g, 100, 10);
        EXPECT_NEAR(b, 30, 10);
        Decoder_Deinit(&dec);
    }
}

// A later call with target 0 x 0 keeps the last output size until the stream size changes, and
// the produced size always tells what was written.
TEST(OutputSize, ZeroTargetKeepsLastSizeUntilStreamChanges) {
    TempDir tmp;
    const std::string small = tmp.path("small.mjpeg"), large = tmp.path("large.mjpeg");
    ASSERT_TRUE(makeClip(small, 96, 64, 2, kMjpeg420));
    ASSERT_TRUE(makeClip(large, 128, 80, 1, kMjpeg420));
    const auto s = readFrames(small), l = readFrames(large);
    ASSERT_EQ(s.size(), 2u);
    ASSERT_EQ(l.size(), 1u);
    _Decoder dec{};
    ASSERT_EQ(Decoder_Init(&dec, DECODER_CODEC_MJPEG, DECODER_FMT_RGBA), 1);

    Picture p = decode(&dec, s[0], DECODER_FLAG_TOPDOWN, 0, 0);
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.outW, 96);
    EXPECT_EQ(p.outH, 64);
    EXPECT_EQ(md5(p.pixels), frameMd5(small, kRgba)[0]);

    p = decode(&dec, s[0], DECODER_FLAG_TOPDOWN, 352, 288);
    EXPECT_EQ(p.outW, 352);
    EXPECT_EQ(p.outH, 288);
    p = decode(&dec, s[1], DECODER_FLAG_TOPDOWN, 0, 0);
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.streamW, 96);
    EXPECT_EQ(p.outW, 352);
    EXPECT_EQ(p.outH, 288);
    EXPECT_EQ(md5(p.pixels), frameMd5(small, "scale=w=352:h=288:flags=fast_bilinear,format=rgba")[1]);

    p = decode(&dec, l[0], DECODER_FLAG_TOPDOWN, 0, 0);
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.streamW, 128);
    EXPECT_EQ(p.streamH, 80);
    EXPECT_EQ(p.outW, 128);
    EXPECT_EQ(p.outH, 80);
    EXPECT_EQ(md5(p.pixels), frameMd5(large, kRgba)[0]);
    Decoder_Deinit(&dec);
}
