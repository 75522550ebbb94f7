// Pictures of Decoder_Decode against ffmpeg's own decode of the same streams.

#include <gtest/gtest.h>

#include "clips.h"

using namespace cliptest;

namespace {

const char *kRgba = "scale=w=iw:h=ih:flags=fast_bilinear,format=rgba";
const char *kMjpeg420 = "-c:v mjpeg -qscale:v 4 -pix_fmt yuvj420p";

struct Stream {
    const char *name;
    int codec;
    const char *encoder, *file, *pixFmt;
};

const Stream kStreams[] = {
    {"h264", DECODER_CODEC_H264, "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -f h264", "c.h264",
     "yuv420p"},
    {"mpeg4", DECODER_CODEC_MPEG4, "-c:v mpeg4 -flags +bitexact -qscale:v 4 -pix_fmt yuv420p -f m4v", "c.m4v",
     "yuv420p"},
    {"mjpeg420", DECODER_CODEC_MJPEG, kMjpeg420, "c.mjpeg", "yuvj420p"},
    {"mjpeg422", DECODER_CODEC_MJPEG, "-c:v mjpeg -qscale:v 4 -pix_fmt yuvj422p", "c.mjpeg", "yuvj422p"},
};

// Decodes every frame on a fresh record; returns the pictures (and source pictures) produced.
std::vector<Picture> decodeAll(int codec, int outFormat, const std::vector<Bytes> &frames, int flags,
                               int tw = 0, int th = 0, std::vector<Bytes> *sources = nullptr) {
    _Decoder dec{};
    EXPECT_EQ(Decoder_Init(&dec, codec, outFormat), 1);
    std::vector<Picture> pics;
    for (const Bytes &f : frames) {
        Picture p = decode(&dec, f, flags, tw, th);
        EXPECT_GE(p.result, 0);
        if (p.result != 1) continue;
        if (sources) sources->push_back(lastSourcePacked(&dec));
        pics.push_back(std::move(p));
    }
    EXPECT_EQ(Decoder_Deinit(&dec), 1);
    return pics;
}

void expectMd5s(const std::vector<Picture> &pics, const std::vector<std::string> &ref) {
    ASSERT_FALSE(pics.empty());
    ASSERT_GE(ref.size(), pics.size());
    EXPECT_GE(pics.size() + 1, ref.size()) << "more than one picture held back";
    for (size_t i = 0; i < pics.size(); ++i)
        EXPECT_EQ(md5(pics[i].pixels), ref[i]) << "picture " << i;
}

class DecodeOracle : public ::testing::TestWithParam<Stream> {};

} // namespace

// Every frame of each codec decodes to ffmpeg's picture of the same stream: the codec's YUV
// picture exactly, and the RGBA picture after the fast bilinear conversion in each orientation
// (0x10 wins, 0x20 turns by 180 degrees, 0x08 mirrors, none turns upside down) and at a target size.
TEST_P(DecodeOracle, MatchesFfmpeg) {
    const Stream &s = GetParam();
    TempDir tmp;
    const std::string clip = tmp.path(s.file);
    ASSERT_TRUE(makeClip(clip, 96, 64, 5, s.encoder));
    const auto frames = readFrames(clip);
    ASSERT_EQ(frames.size(), 5u);

    std::vector<Bytes> sources;
    const auto pics = decodeAll(s.codec, DECODER_FMT_RGBA, frames, DECODER_FLAG_TOPDOWN, 0, 0, &sources);
    for (const Picture &p : pics)
        EXPECT_TRUE(p.streamW == 96 && p.streamH == 64 && p.outW == 96 && p.outH == 64);
    expectMd5s(pics, frameMd5(clip, kRgba));
    const auto yuvRef = frameMd5(clip, std::string("format=") + s.pixFmt);
    for (size_t i = 0; i < sources.size(); ++i)
        EXPECT_EQ(md5(sources[i]), yuvRef[i]) << "yuv picture " << i;

    const std::string rgba = kRgba;
    const struct {
        int flags, tw, th;
        std::string filters;
    } cases[] = {
        {0x38, 0, 0, rgba},
        {0x20, 0, 0, rgba + ",vflip,hflip"},
        {0x28, 0, 0, rgba + ",vflip,hflip"},
        {0x08, 0, 0, rgba + ",hflip"},
        {0x00, 0, 0, rgba + ",vflip"},
        {0x10, 352, 288, "scale=w=352:h=288:flags=fast_bilinear,format=rgba"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "flags " << c.flags << " target " << c.tw << "x" << c.th);
        const auto turned = decodeAll(s.codec, DECODER_FMT_RGBA, frames, c.flags, c.tw, c.th);
        expectMd5s(turned, frameMd5(clip, c.filters));
        if (c.tw) {
            EXPECT_TRUE(turned[0].streamW == 96 && turned[0].outW == c.tw && turned[0].outH == c.th);
        }
    }

    // Frames decoded only (no picture, no buffer) keep the codec going: the next picture is ffmpeg's.
    _Decoder dec{};
    ASSERT_EQ(Decoder_Init(&dec, s.codec, DECODER_FMT_RGBA), 1);
    size_t given = 0;
    for (size_t i = 0; i + 1 < frames.size(); ++i) {
        const int r = Decoder_Decode(&dec, frames[i].data(), static_cast<int>(frames[i].size()), 0, 0,
                                     DECODER_FLAG_TOPDOWN | DECODER_FLAG_NO_PICTURE, nullptr, nullptr,
                                     nullptr, 0, nullptr, nullptr);
        EXPECT_GE(r, 0) << "frame " << i;
        given += r > 0 ? 1 : 0;
    }
    const Picture last = decode(&dec, frames.back(), DECODER_FLAG_TOPDOWN, 0, 0);
    ASSERT_EQ(last.result, 1);
    EXPECT_EQ(md5(last.pixels), frameMd5(clip, kRgba).at(given));
    EXPECT_EQ(Decoder_Deinit(&dec), 1);
}

INSTANTIATE_TEST_SUITE_P(Codecs, DecodeOracle, ::testing::ValuesIn(kStreams),
                         [](const ::testing::TestParamInfo<Stream> &i) { return std::string(i.param.name); });

// Every output format code gives ffmpeg's conversion to the matching pixel format, byte for byte.
TEST(OutputFormats, EveryFormatMatchesFfmpeg) {
    TempDir tmp;
    const std::string clip = tmp.path("clip.mjpeg");
    ASSERT_TRUE(makeClip(clip, 96, 64, 2, kMjpeg420));
    const auto frames = readFrames(clip);
    const char *names[] = {"rgb24",    "bgr24",    "bgra",     "rgba", "rgb565le",
                           "bgr565le", "rgb555le", "bgr555le", "abgr", "argb"};
    const int bpp[] = {3, 3, 4, 4, 2, 2, 2, 2, 4, 4};
    for (int code = 1; code <= 10; ++code) {
        SCOPED_TRACE(names[code - 1]);
        const auto pics = decodeAll(DECODER_CODEC_MJPEG, code, frames, DECODER_FLAG_TOPDOWN);
        ASSERT_EQ(pics.size(), 2u);
        EXPECT_EQ(pics[0].pixels.size(), 96u * 64u * bpp[code - 1]);
        expectMd5s(pics, frameMd5(clip, std::string("scale=w=iw:h=ih:flags=fast_bilinear,format=") +
                                            names[code - 1]));
    }
}

// Target 0 x 0 keeps the last output size until the stream size changes, and the produced
// size always tells what was written.
TEST(OutputSize, ZeroTargetKeepsLastSizeUntilStreamChanges) {
    TempDir tmp;
    const std::string small = tmp.path("small.mjpeg"), large = tmp.path("large.mjpeg");
    ASSERT_TRUE(makeClip(small, 96, 64, 2, kMjpeg420));
    ASSERT_TRUE(makeClip(large, 128, 80, 1, kMjpeg420));
    const auto s = readFrames(small), l = readFrames(large);
    ASSERT_TRUE(s.size() == 2 && l.size() == 1);
    _Decoder dec{};
    ASSERT_EQ(Decoder_Init(&dec, DECODER_CODEC_MJPEG, DECODER_FMT_RGBA), 1);

    Picture p = decode(&dec, s[0], DECODER_FLAG_TOPDOWN, 352, 288);
    EXPECT_TRUE(p.result == 1 && p.outW == 352 && p.outH == 288);
    p = decode(&dec, s[1], DECODER_FLAG_TOPDOWN, 0, 0);
    EXPECT_TRUE(p.result == 1 && p.streamW == 96 && p.streamH == 64 && p.outW == 352 && p.outH == 288);
    EXPECT_EQ(md5(p.pixels), frameMd5(small, "scale=w=352:h=288:flags=fast_bilinear,format=rgba")[1]);

    p = decode(&dec, l[0], DECODER_FLAG_TOPDOWN, 0, 0);
    EXPECT_TRUE(p.result == 1 && p.streamW == 128 && p.streamH == 80 && p.outW == 128 && p.outH == 80);
    EXPECT_EQ(md5(p.pixels), frameMd5(large, kRgba)[0]);
    Decoder_Deinit(&dec);
}
