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

void expectSameMd5s(const std::vector<Picture> &pics, const std::vector<std::string> &ref, const std::string &what) {
    ASSERT_FALSE(pics.empty()) << what;
    ASSERT_GE(ref.size(), pics.size()) << what;
    EXPECT_GE(pics.size() + 1, ref.size()) << what << ": more than one picture held back";
    for (size_t i = 0; i < pics.size(); ++i) EXPECT_EQ(md5(pics[i].pixels), ref[i]) << what << " picture " << i;
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
    for (size_t i = 0; i < sources.size(); ++i) EXPECT_EQ(md5(sources[i]), yuvRef[i]) << "yuv picture " << i;
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
    expectSameMd5s(decodeAll(s.codec, frames, DECODER_FLAG_TOPDOWN | DECODER_FLAG_ROTATE180 | DECODER_FLAG_MIRROR),
                   frameMd5(clip, rgba), "0x38");
    expectSameMd5s(decodeAll(s.codec, frames, DECODER_FLAG_ROTATE180), frameMd5(clip, rgba + ",vflip,hflip"), "0x20");
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
