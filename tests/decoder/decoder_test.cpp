// Argument checks, buffer bounds, field separator handling and damaged input of Decoder_Decode.

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "clips.h"

using namespace cliptest;

namespace {

const Bytes kSeparator = {0, 0, 0, 1, 1};

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes &p : parts)
        b.insert(b.end(), p.begin(), p.end());
    return b;
}

// Single JPEG pictures made by ffmpeg: one colour, w x h, in the given pixel format.
class Jpegs : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        tmp_ = new TempDir;
        black_ = jpeg("black", 64, 32, "yuvj420p");
        white_ = jpeg("white", 64, 32, "yuvj420p");
        wide_ = jpeg("gray", 96, 32, "yuvj420p");
        black422_ = jpeg("black", 64, 32, "yuvj422p");
        white422_ = jpeg("white", 64, 32, "yuvj422p");
        for (const Bytes *j : {&black_, &white_, &wide_, &black422_, &white422_}) {
            ASSERT_GT(j->size(), 100u);
            ASSERT_EQ(std::search(j->begin(), j->end(), kSeparator.begin(), kSeparator.end()), j->end());
        }
    }
    static void TearDownTestSuite() {
        delete tmp_;
        tmp_ = nullptr;
    }
    static Bytes jpeg(const std::string &colour, int w, int h, const std::string &pixFmt) {
        const std::string path = tmp_->path(colour + std::to_string(w) + pixFmt + ".jpg");
        ffmpeg("-f lavfi -i color=c=" + colour + ":size=" + std::to_string(w) + "x" + std::to_string(h) +
               " -frames:v 1 -c:v mjpeg -huffman default -pix_fmt " + pixFmt + " '" + path + "'");
        return readFile(path);
    }

    void SetUp() override { ASSERT_EQ(Decoder_Init(&dec_, DECODER_CODEC_MJPEG, DECODER_FMT_RGBA), 1); }
    void TearDown() override { Decoder_Deinit(&dec_); }

    static TempDir *tmp_;
    static Bytes black_, white_, wide_, black422_, white422_;
    _Decoder dec_{};
};

TempDir *Jpegs::tmp_ = nullptr;
Bytes Jpegs::black_, Jpegs::white_, Jpegs::wide_, Jpegs::black422_, Jpegs::white422_;

// Luma-ish brightness of an RGBA pixel.
int brightness(const Picture &p, int x, int y) {
    const uint8_t *px = p.pixels.data() + (static_cast<size_t>(y) * p.outW + x) * 4;
    return (px[0] + px[1] + px[2]) / 3;
}

} // namespace

TEST(DecoderArgs, InitRejectsBadArguments) {
    _Decoder dec{};
    EXPECT_EQ(Decoder_Init(nullptr, DECODER_CODEC_H264, DECODER_FMT_RGBA), -1);
    EXPECT_EQ(Decoder_Init(&dec, 0, DECODER_FMT_RGBA), -1);
    EXPECT_EQ(Decoder_Init(&dec, 4, DECODER_FMT_RGBA), -1);
    EXPECT_EQ(Decoder_Init(&dec, DECODER_CODEC_H264, 0), -1);
    EXPECT_EQ(Decoder_Init(&dec, DECODER_CODEC_H264, 11), -1);
    EXPECT_EQ(dec.initialised, 0);
    EXPECT_EQ(Decoder_Deinit(&dec), -1); // never initialised
    EXPECT_EQ(Decoder_Deinit(nullptr), -1);
    for (int codec = 1; codec <= 3; ++codec) {
        EXPECT_EQ(Decoder_Init(&dec, codec, DECODER_FMT_RGBA), 1);
        EXPECT_EQ(Decoder_Init(&dec, codec, DECODER_FMT_RGB24), 1); // again: the first is released
        EXPECT_EQ(Decoder_Deinit(&dec), 1);
        EXPECT_EQ(Decoder_Deinit(&dec), -1);
    }
}

TEST_F(Jpegs, DecodeRejectsBadArguments) {
    Bytes out(64 * 32 * 4);
    const Bytes &f = black_;
    const int n = static_cast<int>(f.size());
    EXPECT_EQ(Decoder_Decode(nullptr, f.data(), n, 0, 0, 0x10, nullptr, nullptr, out.data(), out.size(),
                             nullptr, nullptr),
              -1);
    EXPECT_EQ(Decoder_Decode(&dec_, nullptr, n, 0, 0, 0x10, nullptr, nullptr, out.data(), out.size(), nullptr,
                             nullptr),
              -1);
    EXPECT_EQ(Decoder_Decode(&dec_, f.data(), n, 0, 0, 0x10, nullptr, nullptr, nullptr, out.size(), nullptr,
                             nullptr),
              -1);
    EXPECT_EQ(Decoder_Decode(&dec_, f.data(), 0, 0, 0, 0x10, nullptr, nullptr, out.data(), out.size(),
                             nullptr, nullptr),
              -1);
    EXPECT_EQ(Decoder_Decode(&dec_, f.data(), -5, 0, 0, 0x10, nullptr, nullptr, out.data(), out.size(),
                             nullptr, nullptr),
              -1);
    _Decoder never{};
    EXPECT_EQ(Decoder_Decode(&never, f.data(), n, 0, 0, 0x10, nullptr, nullptr, out.data(), out.size(),
                             nullptr, nullptr),
              -1);
    // Both size pointers may be NULL.
    EXPECT_EQ(Decoder_Decode(&dec_, f.data(), n, 0, 0, 0x10, nullptr, nullptr, out.data(), out.size(),
                             nullptr, nullptr),
              1);
}

// A picture that would not fit the caller's buffer is refused and nothing is written; the
// refused size is not kept for later frames.
TEST_F(Jpegs, PictureLargerThanBufferIsRefused) {
    const size_t need = 64 * 32 * 4;
    Bytes out(need + 64, 0xAB);
    int ow = -1, oh = -1;
    LogCapture log;
    EXPECT_EQ(Decoder_Decode(&dec_, black_.data(), static_cast<int>(black_.size()), 0, 0, 0x10, nullptr,
                             nullptr, out.data(), need - 1, &ow, &oh),
              -1);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xAB; }));
    EXPECT_EQ(Decoder_Decode(&dec_, black_.data(), static_cast<int>(black_.size()), 352, 288, 0x10, nullptr,
                             nullptr, out.data(), need, &ow, &oh),
              -1);
    EXPECT_EQ(Decoder_Decode(&dec_, black_.data(), static_cast<int>(black_.size()), 100000, 100000, 0x10,
                             nullptr, nullptr, out.data(), need, &ow, &oh),
              -1);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xAB; }));
    EXPECT_EQ(log.lines.size(), 3u); // each refusal is logged
    EXPECT_EQ(Decoder_Decode(&dec_, black_.data(), static_cast<int>(black_.size()), 0, 0, 0x10, nullptr,
                             nullptr, out.data(), need, &ow, &oh),
              1);
    EXPECT_EQ(ow, 64);
    EXPECT_EQ(oh, 32);
    EXPECT_TRUE(std::all_of(out.begin() + need, out.end(), [](uint8_t b) { return b == 0xAB; }));
}

// Every format, orientation and odd size writes exactly the picture's bytes and no further.
TEST_F(Jpegs, WritesStayInsideThePicture) {
    const Bytes twoFields = concat({black_, kSeparator, white_});
    for (int code = 1; code <= 10; ++code) {
        _Decoder dec{};
        ASSERT_EQ(Decoder_Init(&dec, DECODER_CODEC_MJPEG, code), 1);
        for (int flags : {0x00, 0x08, 0x10, 0x20, 0x04, 0x14, 0x24, 0x0C, 0x05, 0x01})
            for (const Bytes *frame : {&twoFields, static_cast<const Bytes *>(&black_)})
                for (auto size :
                     {std::pair<int, int>{35, 17}, {1, 1}, {64, 32}, {67, 33}, {64, 64}, {48, 20}, {16, 2}}) {
                    SCOPED_TRACE(::testing::Message()
                                 << "format " << code << " flags " << flags << " size " << size.first << "x"
                                 << size.second << (frame == &black_ ? " one field" : ""));
                    const size_t need = static_cast<size_t>(size.first) * size.second * dec.bytesPerPixel;
                    Bytes out(need + 256, 0xCD);
                    int ow = 0, oh = 0;
                    const int r =
                        Decoder_Decode(&dec, frame->data(), static_cast<int>(frame->size()), size.first,
                                       size.second, flags, nullptr, nullptr, out.data(), need, &ow, &oh);
                    EXPECT_EQ(r, 1);
                    EXPECT_EQ(ow, size.first);
                    EXPECT_EQ(oh, size.second);
                    EXPECT_TRUE(
                        std::all_of(out.begin() + need, out.end(), [](uint8_t b) { return b == 0xCD; }));
                }
        Decoder_Deinit(&dec);
    }
}

// Woven fields with an odd output height: the first field takes the extra line, so the
// picture ends on a line of the first field and nothing is written past it.
TEST_F(Jpegs, WeaveWithOddHeight) {
    const Bytes twoFields = concat({black_, kSeparator, white_});
    const int w = 64, h = 33;
    const size_t need = static_cast<size_t>(w) * h * 4;
    Bytes out(need + 256, 0xCD);
    Picture p;
    p.result = Decoder_Decode(&dec_, twoFields.data(), static_cast<int>(twoFields.size()), w, h, 0x14,
                              &p.streamW, &p.streamH, out.data(), need, &p.outW, &p.outH);
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.streamH, 64);
    EXPECT_TRUE(std::all_of(out.begin() + need, out.end(), [](uint8_t b) { return b == 0xCD; }));
    p.pixels.assign(out.begin(), out.begin() + need);
    for (int y = 0; y + 2 < h; ++y) {
        if (y % 2 == 0)
            EXPECT_LT(brightness(p, w / 2, y), 40) << "line " << y;
        else
            EXPECT_GT(brightness(p, w / 2, y), 215) << "line " << y;
    }
}

// The field separator: a frame split at the last 00 00 00 01 01 decodes both halves into
// one picture of twice the height; without a split the frame is decoded whole.
TEST_F(Jpegs, SeparatorSplitsAtTheLastMatch) {
    // Junk before a picture is skipped by the JPEG decoder, so a separator at offset 10 alone
    // would leave a first part without a picture.
    const Bytes frame = concat({Bytes(10, 0), kSeparator, black_, Bytes(40, 0), kSeparator, white_});
    const Picture p = decode(&dec_, frame, 0x14);
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.streamW, 64);
    EXPECT_EQ(p.streamH, 64);
    EXPECT_LT(brightness(p, 32, 0), 40);
    EXPECT_GT(brightness(p, 32, 1), 215);
}

TEST_F(Jpegs, SeparatorAtOffsetZeroDecodesWholeAndCountsDown) {
    const Bytes twoFields = concat({black_, kSeparator, white_});
    EXPECT_EQ(decode(&dec_, concat({kSeparator, black_}), 0x10).streamH, 32);
    EXPECT_EQ(decode(&dec_, black_, 0x10).streamH, 32);
    // Two frames without a usable separator: the search has stopped for this record.
    const Picture p = decode(&dec_, twoFields, 0x10);
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.streamH, 32);
    EXPECT_LT(brightness(p, 32, 20), 40);
}

TEST_F(Jpegs, ProbeStopsAfterTwoFramesWithoutSeparator) {
    const Bytes twoFields = concat({black_, kSeparator, white_});
    EXPECT_EQ(decode(&dec_, black_, 0x10).streamH, 32);
    EXPECT_EQ(decode(&dec_, twoFields, 0x10).streamH, 64); // still searched after one plain frame
    EXPECT_EQ(decode(&dec_, black_, 0x10).streamH, 32);
    EXPECT_EQ(decode(&dec_, black_, 0x10).streamH, 32);
    EXPECT_EQ(decode(&dec_, twoFields, 0x10).streamH, 32); // no longer searched
}

// Frames shorter than the separator are not searched (no read past their end) and count the
// probe down.
TEST_F(Jpegs, ShortFramesAreNotSearched) {
    for (int len = 1; len <= 4; ++len) {
        Bytes tiny(kSeparator.begin(), kSeparator.begin() + len); // exact-size heap block
        Bytes out(64 * 32 * 4);
        const int r = Decoder_Decode(&dec_, tiny.data(), len, 0, 0, 0x10, nullptr, nullptr, out.data(),
                                     out.size(), nullptr, nullptr);
        EXPECT_TRUE(r == 0 || r == -2) << "len " << len << " gave " << r;
    }
    EXPECT_EQ(decode(&dec_, concat({black_, kSeparator, white_}), 0x10).streamH, 32);
}

// A second field that gives no picture, or one of another size or layout, fails with -3.
TEST_F(Jpegs, SecondFieldMustMatchTheFirst) {
    EXPECT_EQ(decode(&dec_, concat({black_, kSeparator, Bytes(300, 0)}), 0x14).result, -3);
    EXPECT_EQ(decode(&dec_, concat({black_, kSeparator, wide_}), 0x14).result, -3);
    EXPECT_EQ(decode(&dec_, concat({black_, kSeparator, black422_}), 0x14).result, -3);
    EXPECT_EQ(decode(&dec_, concat({wide_, kSeparator, black_}), 0x14).result, -3);
    // Matching fields still decode afterwards, also in a 4:2:2 layout.
    EXPECT_EQ(decode(&dec_, concat({black_, kSeparator, white_}), 0x14).result, 1);
    const Picture p = decode(&dec_, concat({black422_, kSeparator, white422_}), 0x14);
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.streamH, 64);
    EXPECT_LT(brightness(p, 32, 10), 40);
    EXPECT_GT(brightness(p, 32, 11), 215);
}

// Deinterlacing needs sizes in multiples of 4; other sizes fail with -4 instead of
// writing a half-filtered picture.
TEST_F(Jpegs, DeinterlaceRefusesOddSizes) {
    const Bytes odd = jpeg("gray", 62, 30, "yuvj420p");
    {
        LogCapture log;
        EXPECT_EQ(decode(&dec_, odd, 0x11).result, -4);
        EXPECT_EQ(log.lines, std::vector<std::string>{"avpicture_deinterlace nRet=-1\n"});
    }
    EXPECT_EQ(decode(&dec_, odd, 0x10).result, 1);
    EXPECT_EQ(decode(&dec_, black_, 0x11).result, 1);
}

// Damaged frames give an error or no picture, never a crash, for every codec.
TEST(DecoderDamage, RandomAndTruncatedFrames) {
    TempDir tmp;
    const struct {
        int codec;
        const char *file, *encoder;
    } clips[] = {
        {DECODER_CODEC_H264, "c.h264", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -f h264"},
        {DECODER_CODEC_MPEG4, "c.m4v", "-c:v mpeg4 -f m4v"},
        {DECODER_CODEC_MJPEG, "c.mjpeg", "-c:v mjpeg -pix_fmt yuvj420p"},
    };
    std::mt19937 rng(1234);
    for (const auto &c : clips) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(makeClip(tmp.path(c.file), 64, 48, 3, c.encoder));
        const auto frames = readFrames(tmp.path(c.file));
        ASSERT_EQ(frames.size(), 3u);
        _Decoder dec{};
        ASSERT_EQ(Decoder_Init(&dec, c.codec, DECODER_FMT_RGBA), 1);
        for (int round = 0; round < 30; ++round) {
            Bytes f = frames[round % 3];
            switch (round % 3) {
            case 0:
                f.resize(1 + rng() % f.size());
                break; // truncated
            case 1:
                for (int k = 0; k < 20; ++k)
                    f[rng() % f.size()] ^= 1 << (rng() % 8);
                break; // bit flips
            default:
                for (auto &b : f)
                    b = static_cast<uint8_t>(rng());
                break; // noise
            }
            const Picture p = decode(&dec, f, round % 2 ? 0x15 : 0x14, 0, 0, 64 * 48 * 4 * 2);
            EXPECT_GE(p.result, -3) << "round " << round;
            EXPECT_LE(p.result, 1);
        }
        // The stream still decodes once good frames arrive again.
        int pictures = 0;
        for (const Bytes &f : frames)
            pictures += decode(&dec, f, 0x10).result == 1;
        EXPECT_GE(pictures, 1);
        Decoder_Deinit(&dec);
    }
}
