// Argument checks, buffer bounds, field separator handling and damaged input of Decoder_Decode.

#include <algorithm>

#include <gtest/gtest.h>

#include "clips.h"

using namespace cliptest;

namespace {

const Bytes kSep = {0, 0, 0, 1, 1};

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes &p : parts)
        b.insert(b.end(), p.begin(), p.end());
    return b;
}

bool untouched(const Bytes &b, size_t from, uint8_t fill) {
    return std::all_of(b.begin() + from, b.end(), [fill](uint8_t v) { return v == fill; });
}

// Single-colour JPEG pictures made by ffmpeg, and an MJPEG record to decode them.
class Jpegs : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        tmp_ = new TempDir;
        black_ = jpeg("black", 64, 32, "yuvj420p");
        white_ = jpeg("white", 64, 32, "yuvj420p");
        wide_ = jpeg("gray", 96, 32, "yuvj420p");
        black422_ = jpeg("black", 64, 32, "yuvj422p");
        white422_ = jpeg("white", 64, 32, "yuvj422p");
        fields_ = cat({black_, kSep, white_});
    }
    static void TearDownTestSuite() { delete tmp_; }
    static Bytes jpeg(const std::string &colour, int w, int h, const std::string &pixFmt) {
        const std::string path = tmp_->path(colour + std::to_string(w) + pixFmt + ".jpg");
        ffmpeg("-f lavfi -i color=c=" + colour + ":size=" + std::to_string(w) + "x" + std::to_string(h) +
               " -frames:v 1 -c:v mjpeg -huffman default -pix_fmt " + pixFmt + " '" + path + "'");
        Bytes b = readFile(path);
        EXPECT_GT(b.size(), 100u);
        EXPECT_EQ(std::search(b.begin(), b.end(), kSep.begin(), kSep.end()), b.end())
            << "separator inside " << path;
        return b;
    }
    void SetUp() override { ASSERT_EQ(Decoder_Init(&dec_, DECODER_CODEC_MJPEG, DECODER_FMT_RGBA), 1); }
    void TearDown() override { Decoder_Deinit(&dec_); }

    int decodeInto(const Bytes &f, int tw, int th, int flags, Bytes &out, size_t capacity, int *ow = nullptr,
                   int *oh = nullptr) {
        return Decoder_Decode(&dec_, f.data(), static_cast<int>(f.size()), tw, th, flags, nullptr, nullptr,
                              out.data(), capacity, ow, oh);
    }

    static TempDir *tmp_;
    static Bytes black_, white_, wide_, black422_, white422_, fields_;
    _Decoder dec_{};
};

TempDir *Jpegs::tmp_ = nullptr;
Bytes Jpegs::black_, Jpegs::white_, Jpegs::wide_, Jpegs::black422_, Jpegs::white422_, Jpegs::fields_;

// Mean of R, G and B of an RGBA pixel.
int brightness(const uint8_t *rgba, int w, int x, int y) {
    const uint8_t *px = rgba + (static_cast<size_t>(y) * w + x) * 4;
    return (px[0] + px[1] + px[2]) / 3;
}

} // namespace

TEST(DecoderArgs, InitAndDeinitRejectBadArguments) {
    _Decoder dec{};
    EXPECT_EQ(Decoder_Init(nullptr, DECODER_CODEC_H264, DECODER_FMT_RGBA), -1);
    for (auto bad : {std::pair<int, int>{0, 4}, {4, 4}, {2, 0}, {2, 11}}) {
        EXPECT_EQ(Decoder_Init(&dec, bad.first, bad.second), -1);
        EXPECT_EQ(dec.initialised, 0);
    }
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
    const uint8_t *d = black_.data();
    const int n = static_cast<int>(black_.size());
    _Decoder never{};
    for (_Decoder *rec : {static_cast<_Decoder *>(nullptr), &never})
        EXPECT_EQ(
            Decoder_Decode(rec, d, n, 0, 0, 0x10, nullptr, nullptr, out.data(), out.size(), nullptr, nullptr),
            -1);
    EXPECT_EQ(Decoder_Decode(&dec_, nullptr, n, 0, 0, 0x10, nullptr, nullptr, out.data(), out.size(), nullptr,
                             nullptr),
              -1);
    EXPECT_EQ(
        Decoder_Decode(&dec_, d, n, 0, 0, 0x10, nullptr, nullptr, nullptr, out.size(), nullptr, nullptr), -1);
    for (int len : {0, -5})
        EXPECT_EQ(Decoder_Decode(&dec_, d, len, 0, 0, 0x10, nullptr, nullptr, out.data(), out.size(), nullptr,
                                 nullptr),
                  -1);
    EXPECT_EQ(decodeInto(black_, 0, 0, 0x10, out, out.size()), 1); // all size pointers NULL
}

// A picture that would not fit the caller's buffer is refused, logged, nothing written, and
// the refused size is not kept for later frames.
TEST_F(Jpegs, PictureLargerThanBufferIsRefused) {
    const size_t need = 64 * 32 * 4;
    Bytes out(need + 64, 0xAB);
    int ow = -1, oh = -1;
    LogCapture log;
    EXPECT_EQ(decodeInto(black_, 0, 0, 0x10, out, need - 1), -1);
    EXPECT_EQ(decodeInto(black_, 352, 288, 0x10, out, need), -1);
    EXPECT_EQ(decodeInto(black_, 100000, 100000, 0x10, out, need), -1);
    EXPECT_TRUE(untouched(out, 0, 0xAB));
    EXPECT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(decodeInto(black_, 0, 0, 0x10, out, need, &ow, &oh), 1);
    EXPECT_TRUE(ow == 64 && oh == 32 && untouched(out, need, 0xAB));
}

// Every format, orientation, field mode and size writes exactly the picture's bytes and no more
// (the scaler's vector code may overrun rows whose width is not a whole block).
TEST_F(Jpegs, WritesStayInsideThePicture) {
    for (int code = 1; code <= 10; ++code) {
        _Decoder dec{};
        ASSERT_EQ(Decoder_Init(&dec, DECODER_CODEC_MJPEG, code), 1);
        for (int flags : {0x00, 0x08, 0x10, 0x20, 0x04, 0x14, 0x24, 0x0C, 0x05, 0x01})
            for (const Bytes *frame : {&fields_, &black_})
                for (auto size :
                     {std::pair<int, int>{35, 17}, {1, 1}, {64, 32}, {67, 33}, {64, 64}, {48, 20}}) {
                    SCOPED_TRACE(::testing::Message()
                                 << "format " << code << " flags " << flags << " size " << size.first << "x"
                                 << size.second << " " << frame->size());
                    const size_t need = static_cast<size_t>(size.first) * size.second * dec.bytesPerPixel;
                    Bytes out(need + 256, 0xCD);
                    int ow = 0, oh = 0;
                    EXPECT_EQ(Decoder_Decode(&dec, frame->data(), static_cast<int>(frame->size()), size.first,
                                             size.second, flags, nullptr, nullptr, out.data(), need, &ow,
                                             &oh),
                              1);
                    EXPECT_TRUE(ow == size.first && oh == size.second && untouched(out, need, 0xCD));
                }
        Decoder_Deinit(&dec);
    }
}

// Woven fields with an odd output height: the first field takes the extra line, so lines
// alternate from the top and nothing is written past the last one.
TEST_F(Jpegs, WeaveWithOddHeight) {
    const int w = 64, h = 33;
    const size_t need = static_cast<size_t>(w) * h * 4;
    Bytes out(need + 256, 0xCD);
    ASSERT_EQ(decodeInto(fields_, w, h, 0x14, out, need), 1);
    EXPECT_TRUE(untouched(out, need, 0xCD));
    for (int y = 0; y + 2 < h; ++y) {
        if (y % 2 == 0)
            EXPECT_LT(brightness(out.data(), w, w / 2, y), 40) << "line " << y;
        else
            EXPECT_GT(brightness(out.data(), w, w / 2, y), 215) << "line " << y;
    }
}

// The separator 00 00 00 01 01: a frame is split at its last one into two fields (stream height
// doubled); one at offset 0 does not split; the search stops after two frames without a split;
// frames shorter than the separator are not searched (no read past their end) but count.
TEST_F(Jpegs, FieldSeparatorSearch) {
    // Junk before a picture is skipped by the JPEG decoder: a split at offset 10 would leave a
    // first part without a picture.
    const Bytes twoSeps = cat({Bytes(10, 0), kSep, black_, Bytes(40, 0), kSep, white_});
    const Bytes tiny(kSep.begin(), kSep.begin() + 4);
    const struct {
        const char *what;
        std::vector<Bytes> frames;
        int lastHeight;
    } cases[] = {
        {"two separators", {twoSeps}, 64},
        {"after one plain frame", {black_, fields_}, 64},
        {"after two plain frames", {black_, black_, fields_}, 32},
        {"separator at offset 0", {cat({kSep, black_}), black_, fields_}, 32},
        {"after short frames", {tiny, tiny, fields_}, 32},
        {"search renewed by a split", {black_, fields_, black_, fields_}, 64},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        _Decoder dec{};
        ASSERT_EQ(Decoder_Init(&dec, DECODER_CODEC_MJPEG, DECODER_FMT_RGBA), 1);
        Picture last;
        for (const Bytes &f : c.frames) {
            Bytes exact(f); // exact-size heap block
            last = decode(&dec, exact, 0x14);
            EXPECT_TRUE(last.result == 1 || (f.size() < 5 && (last.result == 0 || last.result == -2)));
        }
        EXPECT_EQ(last.streamH, c.lastHeight);
        if (c.lastHeight == 64) {
            EXPECT_GT(brightness(last.pixels.data(), 64, 32, 1), 215); // second field woven in
        }
        Decoder_Deinit(&dec);
    }
}

// A second field that gives no picture, or one of another size or layout, fails with -3;
// matching fields decode, in a 4:2:2 layout too.
TEST_F(Jpegs, SecondFieldMustMatchTheFirst) {
    Bytes out(96 * 64 * 4);
    EXPECT_EQ(decodeInto(cat({black_, kSep, Bytes(300, 0)}), 0, 0, 0x14, out, out.size()), -3);
    EXPECT_EQ(decodeInto(cat({black_, kSep, wide_}), 0, 0, 0x14, out, out.size()), -3);
    EXPECT_EQ(decodeInto(cat({black_, kSep, black422_}), 0, 0, 0x14, out, out.size()), -3);
    EXPECT_EQ(decodeInto(cat({wide_, kSep, black_}), 0, 0, 0x14, out, out.size()), -3);
    EXPECT_EQ(decodeInto(fields_, 0, 0, 0x14, out, out.size()), 1);
    int oh = 0;
    ASSERT_EQ(decodeInto(cat({black422_, kSep, white422_}), 0, 0, 0x14, out, out.size(), nullptr, &oh), 1);
    EXPECT_EQ(oh, 64);
    EXPECT_LT(brightness(out.data(), 64, 32, 10), 40);
    EXPECT_GT(brightness(out.data(), 64, 32, 11), 215);
}

// Deinterlacing needs sizes in multiples of 4; other sizes fail with -4 and the log line.
TEST_F(Jpegs, DeinterlaceRefusesOddSizes) {
    const Bytes odd = jpeg("gray", 62, 30, "yuvj420p");
    LogCapture log;
    EXPECT_EQ(decode(&dec_, odd, 0x11).result, -4);
    EXPECT_EQ(log.lines, std::vector<std::string>{"avpicture_deinterlace nRet=-1\n"});
    EXPECT_EQ(decode(&dec_, odd, 0x10).result, 1);
    EXPECT_EQ(decode(&dec_, black_, 0x11).result, 1);
}
