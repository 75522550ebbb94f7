// Two-field frames, line doubling, deinterlacing and the 1088-line rule, against ffmpeg.

#include <gtest/gtest.h>

#include "clips.h"

using namespace cliptest;

namespace {

const int kFieldW = 96, kFieldH = 32;

// x264 with one non-reference B frame between references: every B picture starts with the
// separator 00 00 00 01 01, which is how a recorder's second field starts.
const char *kFieldEncoder = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p "
                            "-x264-params bframes=1:b-pyramid=none:b-adapt=0:keyint=250:scenecut=0 -f h264";

// The field clip (9 pictures of kFieldW x kFieldH) and its frames: the first frame is the
// key picture alone, every later one a reference picture followed by a B picture.
struct FieldClip {
    TempDir tmp;
    std::string path = tmp.path("fields.h264");
    std::vector<Bytes> frames;

    FieldClip() {
        if (!makeClip(path, kFieldW, kFieldH, 9, kFieldEncoder)) return;
        const auto pictures = readFrames(path);
        if (pictures.size() != 9) {
            ADD_FAILURE() << "expected 9 pictures, got " << pictures.size();
            return;
        }
        frames.push_back(pictures[0]);
        for (size_t i = 1; i + 1 < pictures.size(); i += 2) {
            const Bytes &ref = pictures[i], &b = pictures[i + 1];
            EXPECT_TRUE(b.size() > 5 && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 1 && b[4] == 1);
            Bytes f = ref;
            f.insert(f.end(), b.begin(), b.end());
            frames.push_back(std::move(f));
        }
    }
};

std::vector<Picture> decodeFrames(const std::vector<Bytes> &frames, int flags,
                                  std::vector<Bytes> *sources = nullptr, int codec = DECODER_CODEC_H264) {
    _Decoder dec{};
    EXPECT_EQ(Decoder_Init(&dec, codec, DECODER_FMT_RGBA), 1);
    std::vector<Picture> pics;
    for (const Bytes &f : frames) {
        Picture p = decode(&dec, f, flags);
        EXPECT_GE(p.result, 0);
        if (p.result == 1) {
            if (sources) sources->push_back(lastSourcePacked(&dec));
            pics.push_back(std::move(p));
        }
    }
    Decoder_Deinit(&dec);
    return pics;
}

void expectMd5s(const std::vector<Bytes> &got, const std::vector<std::string> &ref, const std::string &what) {
    ASSERT_FALSE(got.empty()) << what;
    ASSERT_GE(ref.size(), got.size()) << what;
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(md5(got[i]), ref[i]) << what << " picture " << i;
}

std::vector<Bytes> pixelsOf(const std::vector<Picture> &pics) {
    std::vector<Bytes> v;
    for (const Picture &p : pics)
        v.push_back(p.pixels);
    return v;
}

const char *kRgba = "scale=w=iw:h=ih:flags=fast_bilinear,format=rgba";
// A picture woven with itself: every row (chroma rows too) written twice.
const char *kSelfWeave = "split[a][b];[a][b]interleave,weave=first_field=top";

} // namespace

// Field-coded frames (0x04) are woven: the first field on the even lines, the second on the
// odd ones, in each orientation; the stream height is twice the field height.
TEST(FieldsOracle, WeaveMatchesFfmpegWeave) {
    FieldClip clip;
    ASSERT_EQ(clip.frames.size(), 5u);
    const std::string woven = std::string(kRgba) + ",weave=first_field=top";

    std::vector<Bytes> sources;
    const auto pics = decodeFrames(clip.frames, DECODER_FLAG_FIELDS | DECODER_FLAG_TOPDOWN, &sources);
    ASSERT_EQ(pics.size(), 4u);
    for (const Picture &p : pics) {
        EXPECT_EQ(p.streamW, kFieldW);
        EXPECT_EQ(p.streamH, 2 * kFieldH);
        EXPECT_EQ(p.outH, 2 * kFieldH);
    }
    expectMd5s(pixelsOf(pics), frameMd5(clip.path, woven), "woven");
    // Before conversion the two fields sit one above the other.
    expectMd5s(sources, frameMd5(clip.path, "format=yuv420p,tile=1x2"), "stacked yuv");

    expectMd5s(pixelsOf(decodeFrames(clip.frames, DECODER_FLAG_FIELDS)),
               frameMd5(clip.path, woven + ",vflip"), "woven bottom-up");
    expectMd5s(pixelsOf(decodeFrames(clip.frames, DECODER_FLAG_FIELDS | DECODER_FLAG_ROTATE180)),
               frameMd5(clip.path, woven + ",vflip,hflip"), "woven rotated");
    expectMd5s(pixelsOf(decodeFrames(clip.frames, DECODER_FLAG_FIELDS | DECODER_FLAG_MIRROR)),
               frameMd5(clip.path, woven + ",hflip"), "woven mirrored");
}

// Field-coded and deinterlaced (0x05): the first field is line-doubled, the second dropped.
TEST(FieldsOracle, LineDoublingKeepsFirstField) {
    FieldClip clip;
    ASSERT_EQ(clip.frames.size(), 5u);
    std::vector<Bytes> sources;
    const auto pics = decodeFrames(
        clip.frames, DECODER_FLAG_FIELDS | DECODER_FLAG_DEINTERLACE | DECODER_FLAG_TOPDOWN, &sources);
    ASSERT_EQ(pics.size(), 4u);
    const std::string firstFields = "select=not(mod(n\\,2)),";
    expectMd5s(sources, frameMd5(clip.path, firstFields + "format=yuv420p," + kSelfWeave), "doubled yuv");
    expectMd5s(pixelsOf(pics),
               frameMd5(clip.path, firstFields + "format=yuv420p," + kSelfWeave + "," + kRgba),
               "doubled rgba");
}

// Without a separator, 0x05 line-doubles the top half of the decoded picture.
TEST(FieldsOracle, LineDoublingWithoutSeparatorDoublesTopHalf) {
    TempDir tmp;
    const std::string clip = tmp.path("p.h264");
    ASSERT_TRUE(makeClip(clip, 96, 64, 4, "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -bf 0 -f h264"));
    std::vector<Bytes> sources;
    const auto pics = decodeFrames(
        readFrames(clip), DECODER_FLAG_FIELDS | DECODER_FLAG_DEINTERLACE | DECODER_FLAG_TOPDOWN, &sources);
    ASSERT_EQ(pics.size(), 4u);
    EXPECT_EQ(pics[0].streamH, 64);
    expectMd5s(sources, frameMd5(clip, std::string("crop=iw:ih/2:0:0,format=yuv420p,") + kSelfWeave),
               "top half");
}

// Deinterlacing (0x01 alone) keeps the even rows and low-passes the odd ones; away from the
// picture's edges the result is libpostproc's FFmpeg deinterlacer (pp=fd), whose vector code
// rounds its intermediate averages and so may come out one level lower.
TEST(FieldsOracle, DeinterlaceInteriorMatchesPostproc) {
    TempDir tmp;
    const std::string clip = tmp.path("p.h264");
    const int w = 96, h = 64;
    ASSERT_TRUE(makeClip(clip, w, h, 4, "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -bf 0 -f h264"));
    std::vector<Bytes> sources;
    const auto pics =
        decodeFrames(readFrames(clip), DECODER_FLAG_DEINTERLACE | DECODER_FLAG_TOPDOWN, &sources);
    ASSERT_EQ(pics.size(), 4u);
    const size_t lumaBytes = static_cast<size_t>(w) * h, chromaBytes = lumaBytes / 4;
    const auto ref = rawFrames(clip, "pp=fd", "yuv420p", lumaBytes + 2 * chromaBytes);
    const auto plain = rawFrames(clip, "", "yuv420p", lumaBytes + 2 * chromaBytes);
    ASSERT_EQ(ref.size(), 4u);
    ASSERT_EQ(plain.size(), 4u);
    for (size_t i = 0; i < sources.size(); ++i) {
        ASSERT_EQ(sources[i].size(), ref[i].size());
        size_t evenDiffering = 0, oddFar = 0, oddExact = 0, oddTotal = 0, changed = 0;
        const struct {
            size_t offset;
            int pw, ph;
        } planes[] = {{0, w, h}, {lumaBytes, w / 2, h / 2}, {lumaBytes + chromaBytes, w / 2, h / 2}};
        for (const auto &pl : planes)
            for (int y = 8; y < pl.ph - 8; ++y)
                for (int x = 0; x < pl.pw; ++x) {
                    const size_t k = pl.offset + static_cast<size_t>(y) * pl.pw + x;
                    const int d = sources[i][k] - ref[i][k];
                    changed += sources[i][k] != plain[i][k];
                    if (y % 2 == 0) {
                        evenDiffering += d != 0;
                    } else {
                        ++oddTotal;
                        oddExact += d == 0;
                        oddFar += d < -1 || d > 1;
                    }
                }
        EXPECT_EQ(evenDiffering, 0u) << "picture " << i;
        EXPECT_EQ(oddFar, 0u) << "picture " << i;
        EXPECT_GT(oddExact * 2, oddTotal) << "picture " << i;
        EXPECT_GT(changed, 0u) << "picture " << i << " was not filtered";
    }
}

// Filtering works on a copy: the codec's own pictures serve as references for the pictures
// after them, so later plain pictures still match ffmpeg's.
TEST(FieldsOracle, FiltersLeaveReferencePicturesAlone) {
    TempDir tmp;
    const std::string clip = tmp.path("p.h264");
    ASSERT_TRUE(makeClip(clip, 96, 64, 6, "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -bf 0 -f h264"));
    const auto frames = readFrames(clip);
    const auto yuvRef = frameMd5(clip, "format=yuv420p");
    const auto rgbaRef = frameMd5(clip, kRgba);
    ASSERT_EQ(frames.size(), 6u);
    ASSERT_EQ(yuvRef.size(), 6u);
    _Decoder dec{};
    ASSERT_EQ(Decoder_Init(&dec, DECODER_CODEC_H264, DECODER_FMT_RGBA), 1);
    const int filters[] = {DECODER_FLAG_DEINTERLACE, DECODER_FLAG_DEINTERLACE | DECODER_FLAG_FIELDS};
    for (size_t i = 0; i < frames.size(); ++i) {
        if (i % 2 == 0) {
            const Picture p = decode(&dec, frames[i], filters[(i / 2) % 2] | DECODER_FLAG_TOPDOWN);
            ASSERT_EQ(p.result, 1);
            EXPECT_NE(md5(lastSourcePacked(&dec)), yuvRef[i]) << "frame " << i << " not filtered";
        } else {
            const Picture p = decode(&dec, frames[i], DECODER_FLAG_TOPDOWN);
            ASSERT_EQ(p.result, 1);
            EXPECT_EQ(md5(lastSourcePacked(&dec)), yuvRef[i]) << "frame " << i;
            EXPECT_EQ(md5(p.pixels), rgbaRef[i]) << "frame " << i;
        }
    }
    Decoder_Deinit(&dec);
}

// A 1920 x 1088 stream comes out as 1920 x 1080: the bottom 8 lines are cut.
TEST(FieldsOracle, Height1088BecomesHeight1080) {
    TempDir tmp;
    const std::string clip = tmp.path("hd.h264");
    ASSERT_TRUE(makeClip(clip, 1920, 1088, 2, "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -f h264"));
    std::vector<Bytes> sources;
    const auto pics = decodeFrames(readFrames(clip), DECODER_FLAG_TOPDOWN, &sources);
    ASSERT_EQ(pics.size(), 2u);
    for (const Picture &p : pics) {
        EXPECT_EQ(p.streamW, 1920);
        EXPECT_EQ(p.streamH, 1080);
        EXPECT_EQ(p.outW, 1920);
        EXPECT_EQ(p.outH, 1080);
    }
    expectMd5s(pixelsOf(pics), frameMd5(clip, std::string("crop=iw:1080:0:0,") + kRgba), "rgba");
    expectMd5s(sources, frameMd5(clip, "crop=iw:1080:0:0,format=yuv420p"), "yuv");
}
