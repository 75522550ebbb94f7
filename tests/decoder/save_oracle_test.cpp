// Decoder_SaveFrameToFile files read back by ffmpeg, and Decoder_Convert.

#include <cstdlib>
#include <cstring>
#include <regex>

#include <gtest/gtest.h>

#include "clips.h"

using namespace cliptest;

namespace {

// A decoded RGBA picture (of a lavfi source) and the record that made it.
class SavedPictures : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Decoder_Init(&dec_, DECODER_CODEC_MJPEG, DECODER_FMT_RGBA), 1); }
    void TearDown() override { Decoder_Deinit(&dec_); }

    void decodePicture(const std::string &source, int w, int h) {
        const std::string clip = tmp_.path("src.mjpeg");
        ASSERT_TRUE(ffmpeg("-f lavfi -i " + source + ":size=" + std::to_string(w) + "x" + std::to_string(h) +
                           " -frames:v 1 -c:v mjpeg -qscale:v 1 -pix_fmt yuvj444p '" + clip + "'"));
        const auto frames = readFrames(clip);
        ASSERT_EQ(frames.size(), 1u);
        const Picture p = decode(&dec_, frames[0], DECODER_FLAG_TOPDOWN);
        ASSERT_EQ(p.result, 1);
        picture_ = p.pixels;
        raw_ = "-f rawvideo -pix_fmt rgba -s " + std::to_string(w) + "x" + std::to_string(h) + " -i '" +
               tmp_.path("input.rgba") + "'";
        ASSERT_TRUE(writeFile(tmp_.path("input.rgba"), picture_));
        w_ = w;
        h_ = h;
    }

    // Saves the picture; checks the count against the file and its size with ffprobe.
    void save(int kind, int orientation, const std::string &name, int outW, int outH, int keepAspect,
              int fileW, int fileH) {
        const int n = Decoder_SaveFrameToFile(&dec_, kind, orientation, picture_.data(),
                                              static_cast<int>(picture_.size()), w_, h_, outW, outH,
                                              keepAspect, tmp_.path(name).c_str());
        ASSERT_GT(n, 0);
        EXPECT_EQ(readFile(tmp_.path(name)).size(), static_cast<size_t>(n));
        std::string out;
        run("ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" + tmp_.path(name) + "'", &out);
        EXPECT_EQ(out, std::to_string(fileW) + "," + std::to_string(fileH) + "\n");
    }

    TempDir tmp_;
    _Decoder dec_{};
    Bytes picture_;
    std::string raw_;
    int w_ = 0, h_ = 0;
};

} // namespace

// JPEG files decode in ffmpeg close to the picture they were made from (luma PSNR).
TEST_F(SavedPictures, JpegKeepsTheLumaClose) {
    decodePicture("testsrc2=rate=25", 320, 240);
    save(DECODER_SAVE_JPEG, 0, "snap.jpg", 0, 0, 0, 320, 240);
    std::string out;
    const std::string cmd =
        "ffmpeg -hide_banner -nostdin -i '" + tmp_.path("snap.jpg") + "' " + raw_ +
        " -lavfi '[0:v]format=yuv444p[a];[1:v]format=yuv444p[b];[a][b]psnr' -f null - 2>&1";
    ASSERT_EQ(run(cmd, &out), 0) << out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("PSNR y:([0-9.]+|inf)"))) << out;
    EXPECT_GE(m[1] == "inf" ? 100.0 : std::atof(m[1].str().c_str()), 35.0);
}

// PNG files hold the picture losslessly, turned as asked, or scaled with the bicubic method.
TEST_F(SavedPictures, PngIsLossless) {
    decodePicture("testsrc2=rate=25", 96, 64);
    const struct {
        int code, outW, outH;
        const char *filters;
    } cases[] = {
        {0, 0, 0, "format=rgb24"},
        {0x18, 0, 0, "format=rgb24"}, // not one of the codes: unchanged
        {DECODER_SAVE_ROTATE180, 0, 0, "hflip,vflip,format=rgb24"},
        {DECODER_SAVE_MIRROR, 0, 0, "hflip,format=rgb24"},
        {DECODER_SAVE_UPSIDE_DOWN, 0, 0, "vflip,format=rgb24"},
        {0, 160, 120, "scale=160:120:flags=bicubic,format=rgb24"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.filters);
        const std::string name = "snap" + std::to_string(c.code) + "_" + std::to_string(c.outW) + ".png";
        save(DECODER_SAVE_PNG, c.code, name, c.outW, c.outH, 0, c.outW ? c.outW : 96, c.outH ? c.outH : 64);
        EXPECT_EQ(frameMd5(tmp_.path(name), "format=rgb24"), frameMd5(raw_, c.filters));
    }
}

// With keepAspect the picture is fitted inside the target, centred on black padding.
TEST_F(SavedPictures, KeepAspectCentresOnBlack) {
    decodePicture("color=c=white", 96, 64);
    save(DECODER_SAVE_PNG, 0, "fit.png", 200, 200, 1, 200, 200); // the width fills
    const auto rgb = rawFrames(tmp_.path("fit.png"), "", "gray", 200 * 200);
    ASSERT_EQ(rgb.size(), 1u);
    int first = -1, last = -1;
    for (int y = 0; y < 200; ++y) {
        const uint8_t *row = &rgb[0][static_cast<size_t>(y) * 200];
        if (std::all_of(row, row + 200, [](uint8_t v) { return v > 200; })) {
            last = y;
            first = first < 0 ? y : first;
        } else {
            EXPECT_TRUE(std::all_of(row, row + 200, [](uint8_t v) { return v == 0; })) << "row " << y;
        }
    }
    EXPECT_NEAR(last - first + 1, 200 * 64 / 96, 2);
    EXPECT_NEAR(first, 199 - last, 2);

    save(DECODER_SAVE_JPEG, 0, "fit.jpg", 300, 100, 1, 300, 100); // the height fills, 150 wide from x 75
    const auto gray = rawFrames(tmp_.path("fit.jpg"), "", "gray", 300 * 100);
    ASSERT_EQ(gray.size(), 1u);
    for (int x : {0, 70, 229, 299})
        EXPECT_LT(gray[0][50 * 300 + x], 40) << x;
    for (int x : {80, 150, 219})
        EXPECT_GT(gray[0][50 * 300 + x], 200) << x;
    EXPECT_GT(gray[0][150], 200);
    EXPECT_GT(gray[0][99 * 300 + 150], 200);

    save(DECODER_SAVE_JPEG, 0, "odd.jpg", 35, 17, 1, 35, 17);
    save(DECODER_SAVE_JPEG, 0, "odd2.jpg", 35, 17, 0, 35, 17);
}

TEST_F(SavedPictures, BadArgumentsWriteNothing) {
    decodePicture("testsrc2=rate=25", 96, 64);
    const char *path = "bad.jpg";
    const int size = static_cast<int>(picture_.size());
    const uint8_t *img = picture_.data();
    auto saveAs = [&](_Decoder *d, int kind, const uint8_t *image, int bytes, int w, int outW,
                      const char *p) {
        return Decoder_SaveFrameToFile(d, kind, 0, image, bytes, w, 64, outW, 20, 0,
                                       p ? tmp_.path(p).c_str() : nullptr);
    };
    _Decoder never{};
    EXPECT_EQ(saveAs(&dec_, 1, img, size - 4, 96, 0, path), -1); // size does not match
    EXPECT_EQ(saveAs(&dec_, 1, img, size, 95, 0, path), -1);
    EXPECT_EQ(saveAs(&dec_, 3, img, size, 96, 0, path), -1);
    EXPECT_EQ(saveAs(&dec_, 0, img, size, 96, 0, path), -1);
    EXPECT_EQ(saveAs(&dec_, 1, img, 9, 96, 0, path), -1);
    EXPECT_EQ(saveAs(&dec_, 1, img, 4 * 4 * 64, 4, 0, path), -1); // width below 5
    EXPECT_EQ(saveAs(&dec_, 1, nullptr, size, 96, 0, path), -1);
    EXPECT_EQ(saveAs(&dec_, 1, img, size, 96, 0, nullptr), -1);
    EXPECT_EQ(saveAs(&dec_, 1, img, size, 96, -10, path), -1); // negative target
    EXPECT_EQ(saveAs(nullptr, 1, img, size, 96, 0, path), -1);
    EXPECT_EQ(saveAs(&never, 1, img, size, 96, 0, path), -1);
    EXPECT_TRUE(readFile(tmp_.path(path)).empty());
    EXPECT_EQ(saveAs(&dec_, 1, img, size, 96, 0, "no/such/dir.jpg"), -1);
}

TEST(Convert, SwapsRedAndBlue) {
    uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint8_t want[8] = {3, 2, 1, 4, 7, 6, 5, 8};
    EXPECT_EQ(Decoder_Convert(b, 8), 1);
    EXPECT_EQ(0, memcmp(b, want, 8));
    uint8_t c[6] = {1, 2, 3, 4, 5, 6};
    const uint8_t same[6] = {1, 2, 3, 4, 5, 6};
    for (int len : {6, 3, 0, -4})
        EXPECT_EQ(Decoder_Convert(c, len), -1);
    EXPECT_EQ(0, memcmp(c, same, 6));
    EXPECT_EQ(Decoder_Convert(nullptr, 8), -1);
}
