// Two-field frames, line doubling, deinterlacing and the 1088-line rule, against ffmpeg.

#include <gtest/gtest.h>

#include "clips.h"

using namespace cliptest;

namespace {

const char *kRgba = "scale=w=iw:h=ih:flags=fast_bilinear,format=rgba";
const char *kProgressive = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -bf 0 -f h264";
// A picture woven with itself: every row, chroma rows too, written twice.
const std::string kSelfWeave = "split[a][b];[a][b]interleave,weave=first_field=top";

// Field clip: 9 pictures of 96 x 32 from x264 with one non-reference B picture between
// references, so every B picture starts with 00 00 00 01 01 as a recorder's second field does.
// Frames: the key picture alone, then each reference picture followed by a B picture.
struct FieldClip {
    TempDir tmp;
    std::string path = tmp.path("fields.h264");
    std::vector<Bytes> frames;

    FieldClip() {
        if (!makeClip(path, 96, 32, 9,
                      "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -f h264 "
                      "-x264-params bframes=1:b-pyramid=none:b-adapt=0:keyint=250:scenecut=0"))
            return;
        const auto pictures = readFrames(path);
        EXPECT_EQ(pictures.size(), 9u);
        if (pictures.size() != 9) return;
        frames.push_back(pictures[0]);
        for (size_t i = 1; i + 1 < pictures.size(); i += 2) {
            const Bytes &b = pictures[i + 1];
            EXPECT_TRUE(b.size() > 5 && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 1 && b[4] == 1);
            Bytes f = pictures[i];
            f.insert(f.end(), b.begin(), b.end());
            frames.push_back(std::move(f));
        }
    }
};

// Decodes every frame; returns the RGBA pictures and the source pictures before scaling.
void decodeFrames(const std::vector<Bytes> &frames, int flags, std::vector<Bytes> *rgba,
                  std::vector<Bytes> *yuv, int *streamH = nullptr) {
    _Decoder dec{};
    ASSERT_EQ(Decoder_Init(&dec, DECODER_CODEC_H264, DECODER_FMT_RGBA), 1);
    for (const Bytes &f : frames) {
        Picture p = decode(&dec, f, flags);
        EXPECT_GE(p.result, 0);
        if (p.result != 1) continue;
        if (streamH) *streamH = p.streamH;
        if (rgba) rgba->push_back(std::move(p.pixels));
        if (yuv) yuv->push_back(lastSourcePacked(&dec));
    }
    Decoder_Deinit(&dec);
}

void expectMd5s(const std::vector<Bytes> &got, const std::vector<std::string> &ref) {
    ASSERT_FALSE(got.empty());
    ASSERT_GE(ref.size(), got.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(md5(got[i]), ref[i]) << "picture " << i;
}

} // namespace

// Field-coded frames (0x04) are woven, the first field on the even lines, in each orientation;
// with 0x05 the first field is line-doubled instead. The stream height is twice the field's.
TEST(FieldsOracle, WeaveAndLineDoubling) {
    FieldClip clip;
    ASSERT_EQ(clip.frames.size(), 5u);
    const std::string woven = std::string(kRgba) + ",weave=first_field=top";
    const struct {
        int flags;
        std::string filters;
    } cases[] = {
        {0x14, woven}, {0x04, woven + ",vflip"}, {0x24, woven + ",vflip,hflip"}, {0x0C, woven + ",hflip"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.flags);
        std::vector<Bytes> rgba, yuv;
        int streamH = 0;
        decodeFrames(clip.frames, c.flags, &rgba, &yuv, &streamH);
        ASSERT_EQ(rgba.size(), 4u);
        EXPECT_EQ(streamH, 64);
        expectMd5s(rgba, frameMd5(clip.path, c.filters));
        // Before conversion the two fields sit one above the other.
        expectMd5s(yuv, frameMd5(clip.path, "format=yuv420p,tile=1x2"));
    }
    std::vector<Bytes> rgba, yuv;
    decodeFrames(clip.frames, 0x15, &rgba, &yuv);
    const std::string doubled = "select=not(mod(n\\,2)),format=yuv420p," + kSelfWeave;
    expectMd5s(yuv, frameMd5(clip.path, doubled));
    expectMd5s(rgba, frameMd5(clip.path, doubled + "," + kRgba));

    // Without a separator, 0x05 line-doubles the top half of the decoded picture.
    TempDir tmp;
    ASSERT_TRUE(makeClip(tmp.path("p.h264"), 96, 64, 3, kProgressive));
    yuv.clear();
    decodeFrames(readFrames(tmp.path("p.h264")), 0x15, nullptr, &yuv);
    EXPECT_EQ(yuv.size(), 3u);
    expectMd5s(yuv, frameMd5(tmp.path("p.h264"), "crop=iw:ih/2:0:0,format=yuv420p," + kSelfWeave));
}

// Deinterlacing (0x01) keeps the even rows and low-passes the odd ones; away from the edges it
// equals libpostproc's FFmpeg deinterlacer (pp=fd), whose vector code rounds its intermediate
// averages and may come out one level lower.
TEST(FieldsOracle, DeinterlaceInteriorMatchesPostproc) {
    TempDir tmp;
    const std::string clip = tmp.path("p.h264");
    const int w = 96, h = 64, luma = w * h, chroma = luma / 4;
    ASSERT_TRUE(makeClip(clip, w, h, 3, kProgressive));
    std::vector<Bytes> yuv;
    decodeFrames(readFrames(clip), 0x11, nullptr, &yuv);
    const auto ref = rawFrames(clip, "pp=fd", "yuv420p", luma + 2 * chroma);
    const auto plain = rawFrames(clip, "", "yuv420p", luma + 2 * chroma);
    ASSERT_TRUE(yuv.size() == 3 && ref.size() == 3 && plain.size() == 3);
    const struct {
        int offset, pw, ph;
    } planes[] = {{0, w, h}, {luma, w / 2, h / 2}, {luma + chroma, w / 2, h / 2}};
    for (size_t i = 0; i < yuv.size(); ++i) {
        int evenDiffering = 0, oddFar = 0, oddExact = 0, oddTotal = 0, changed = 0;
        for (const auto &pl : planes)
            for (int y = 8; y < pl.ph - 8; ++y)
                for (int x = 0; x < pl.pw; ++x) {
                    const size_t k = pl.offset + y * pl.pw + x;
                    const int d = yuv[i][k] - ref[i][k];
                    changed += yuv[i][k] != plain[i][k];
                    evenDiffering += y % 2 == 0 && d != 0;
                    oddTotal += y % 2;
                    oddExact += y % 2 && d == 0;
                    oddFar += y % 2 && (d < -1 || d > 1);
                }
        EXPECT_EQ(evenDiffering, 0) << "picture " << i;
        EXPECT_EQ(oddFar, 0) << "picture " << i;
        EXPECT_GT(oddExact * 2, oddTotal) << "picture " << i;
        EXPECT_GT(changed, 0) << "picture " << i << " was not filtered";
    }
}

// Filtering works on a copy: the codec's own pictures are references for the ones after them,
// so plain pictures after filtered ones still match ffmpeg's.
TEST(FieldsOracle, FiltersLeaveReferencePicturesAlone) {
    TempDir tmp;
    const std::string clip = tmp.path("p.h264");
    ASSERT_TRUE(makeClip(clip, 96, 64, 6, kProgressive));
    const auto frames = readFrames(clip);
    const auto yuvRef = frameMd5(clip, "format=yuv420p"), rgbaRef = frameMd5(clip, kRgba);
    ASSERT_TRUE(frames.size() == 6 && yuvRef.size() == 6 && rgbaRef.size() == 6);
    _Decoder dec{};
    ASSERT_EQ(Decoder_Init(&dec, DECODER_CODEC_H264, DECODER_FMT_RGBA), 1);
    for (size_t i = 0; i < frames.size(); ++i) {
        const int flags = i % 2 ? 0x10 : (i % 4 ? 0x11 : 0x15); // plain after each filtered picture
        const Picture p = decode(&dec, frames[i], flags);
        ASSERT_EQ(p.result, 1);
        EXPECT_EQ(md5(lastSourcePacked(&dec)) == yuvRef[i], flags == 0x10) << "frame " << i;
        if (flags == 0x10) {
            EXPECT_EQ(md5(p.pixels), rgbaRef[i]) << "frame " << i;
        }
    }
    Decoder_Deinit(&dec);
}

// A 1920 x 1088 stream comes out as 1920 x 1080: the bottom 8 lines are cut.
TEST(FieldsOracle, Height1088BecomesHeight1080) {
    TempDir tmp;
    const std::string clip = tmp.path("hd.h264");
    ASSERT_TRUE(makeClip(clip, 1920, 1088, 2, kProgressive));
    _Decoder dec{};
    ASSERT_EQ(Decoder_Init(&dec, DECODER_CODEC_H264, DECODER_FMT_RGBA), 1);
    const auto rgbaRef = frameMd5(clip, std::string("crop=iw:1080:0:0,") + kRgba);
    const auto yuvRef = frameMd5(clip, "crop=iw:1080:0:0,format=yuv420p");
    const auto frames = readFrames(clip);
    ASSERT_TRUE(frames.size() == 2 && rgbaRef.size() == 2 && yuvRef.size() == 2);
    for (size_t i = 0; i < frames.size(); ++i) {
        const Picture p = decode(&dec, frames[i], 0x10, 0, 0, 1920 * 1080 * 4); // the engines' buffer
        ASSERT_EQ(p.result, 1);
        EXPECT_TRUE(p.streamW == 1920 && p.streamH == 1080 && p.outW == 1920 && p.outH == 1080);
        EXPECT_EQ(md5(p.pixels), rgbaRef[i]);
        EXPECT_EQ(md5(lastSourcePacked(&dec)), yuvRef[i]);
    }
    Decoder_Deinit(&dec);
}
