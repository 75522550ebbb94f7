// Decoder_SaveFrameToFile files read back by ffmpeg, and Decoder_Convert.

#include <cstdlib>
#include <regex>

#include <gtest/gtest.h>

#include "clips.h"

using namespace cliptest;

namespace {

// A decoded RGBA picture of testsrc2 (or of one colour) and the record that made it.
class SavedPictures : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Decoder_Init(&dec_, DECODER_CODEC_MJPEG, DECODER_FMT_RGBA), 1); }
    void TearDown() override { Decoder_Deinit(&dec_); }

    // Decodes the first frame of a clip made from source (a lavfi source) into picture_.
    void decodePicture(const std::string &source, int w, int h) {
        const std::string clip = tmp_.path("src.mjpeg");
        ASSERT_TRUE(ffmpeg("-f lavfi -i " + source + (source.find('=') == std::string::npos ? "=" : ":") +
                           "size=" + std::to_string(w) + "x" + std::to_string(h) +
                           " -frames:v 1 -c:v mjpeg -qscale:v 1 -pix_fmt yuvj444p '" + clip + "'"));
        const auto frames = readFrames(clip);
        ASSERT_EQ(frames.size(), 1u);
        const Picture p = decode(&dec_, frames[0], DECODER_FLAG_TOPDOWN);
        ASSERT_EQ(p.result, 1);
        picture_ = p.pixels;
        w_ = w;
        h_ = h;
        raw_ = tmp_.path("input.rgba");
        ASSERT_TRUE(writeFile(raw_, picture_));
    }

    int save(int kind, int orientation, const std::string &name, int outW = 0, int outH = 0,
             int keepAspect = 0) {
        return Decoder_SaveFrameToFile(&dec_, kind, orientation, picture_.data(),
                                       static_cast<int>(picture_.size()), w_, h_, outW, outH, keepAspect,
                                       tmp_.path(name).c_str());
    }

    // ffmpeg input arguments for the raw RGBA picture.
    std::string rawInput() const {
        return "-f rawvideo -pix_fmt rgba -s " + std::to_string(w_) + "x" + std::to_string(h_) + " -i '" +
               raw_ + "'";
    }

    std::string md5Of(const std::string &inputArgs, const std::string &filters) {
        std::string out;
        const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin " + inputArgs + " -vf '" +
                                filters + "' -f framemd5 - | grep -v '^#' | sed 's/.*, *//'";
        EXPECT_EQ(run(cmd, &out), 0) << cmd;
        while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
            out.pop_back();
        return out;
    }

    // Width and height of an image file, from ffprobe.
    std::pair<int, int> sizeOf(const std::string &name) {
        std::string out;
        run("ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 '" +
                tmp_.path(name) + "'",
            &out);
        int w = 0, h = 0;
        sscanf(out.c_str(), "%d,%d", &w, &h);
        return {w, h};
    }

    TempDir tmp_;
    _Decoder dec_{};
    Bytes picture_;
    std::string raw_;
    int w_ = 0, h_ = 0;
};

} // namespace

// JPEG files decode in ffmpeg close to the picture they were made from.
TEST_F(SavedPictures, JpegKeepsTheLumaClose) {
    decodePicture("testsrc2", 320, 240);
    const int n = save(DECODER_SAVE_JPEG, 0, "snap.jpg");
    ASSERT_GT(n, 0);
    EXPECT_EQ(readFile(tmp_.path("snap.jpg")).size(), static_cast<size_t>(n));
    EXPECT_EQ(sizeOf("snap.jpg"), std::make_pair(320, 240));
    std::string out;
    const std::string cmd =
        "ffmpeg -hide_banner -nostdin -i '" + tmp_.path("snap.jpg") + "' " + rawInput() +
        " -lavfi '[0:v]format=yuv444p[a];[1:v]format=yuv444p[b];[a][b]psnr' -f null - 2>&1";
    ASSERT_EQ(run(cmd, &out), 0) << out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("PSNR y:([0-9.]+|inf)"))) << out;
    const double psnr = m[1] == "inf" ? 100.0 : std::atof(m[1].str().c_str());
    EXPECT_GE(psnr, 35.0);
}

// PNG files hold the picture losslessly, turned as asked.
TEST_F(SavedPictures, PngIsLosslessInEveryOrientation) {
    decodePicture("testsrc2", 96, 64);
    const struct {
        int code;
        const char *filters;
    } cases[] = {
        {0, "format=rgb24"},
        {0x18, "format=rgb24"}, // not one of the codes: unchanged
        {DECODER_SAVE_ROTATE180, "hflip,vflip,format=rgb24"},
        {DECODER_SAVE_MIRROR, "hflip,format=rgb24"},
        {DECODER_SAVE_UPSIDE_DOWN, "vflip,format=rgb24"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        const std::string name = "snap" + std::to_string(c.code) + ".png";
        const int n = save(DECODER_SAVE_PNG, c.code, name);
        ASSERT_GT(n, 0);
        EXPECT_EQ(readFile(tmp_.path(name)).size(), static_cast<size_t>(n));
        EXPECT_EQ(md5Of("-i '" + tmp_.path(name) + "'", "format=rgb24"), md5Of(rawInput(), c.filters));
    }
}

// A target size scales with the bicubic method.
TEST_F(SavedPictures, PngScalesToTheTargetSize) {
    decodePicture("testsrc2", 96, 64);
    ASSERT_GT(save(DECODER_SAVE_PNG, 0, "big.png", 160, 120), 0);
    EXPECT_EQ(sizeOf("big.png"), std::make_pair(160, 120));
    EXPECT_EQ(md5Of("-i '" + tmp_.path("big.png") + "'", "format=rgb24"),
              md5Of(rawInput(), "scale=160:120:flags=bicubic,format=rgb24"));
}

// With keepAspect the picture is fitted inside the target, centred on black padding.
TEST_F(SavedPictures, KeepAspectCentresOnBlack) {
    decodePicture("color=c=white", 96, 64);
    ASSERT_GT(save(DECODER_SAVE_PNG, 0, "fit.png", 200, 200, 1), 0);
    ASSERT_EQ(sizeOf("fit.png"), std::make_pair(200, 200));
    const auto rgb = rawFrames(tmp_.path("fit.png"), "", "rgb24", 200 * 200 * 3);
    ASSERT_EQ(rgb.size(), 1u);
    int first = -1, last = -1;
    for (int y = 0; y < 200; ++y) {
        int bright = 0, black = 0;
        for (int x = 0; x < 200; ++x) {
            const uint8_t *px = &rgb[0][(static_cast<size_t>(y) * 200 + x) * 3];
            bright += px[0] > 200 && px[1] > 200 && px[2] > 200;
            black += px[0] == 0 && px[1] == 0 && px[2] == 0;
        }
        if (bright == 200) {
            if (first < 0) first = y;
            last = y;
        } else {
            EXPECT_EQ(black, 200) << "row " << y << " is neither picture nor padding";
        }
    }
    const int band = last - first + 1;
    EXPECT_NEAR(band, 200 * 64 / 96, 2);
    EXPECT_NEAR(first, 199 - last, 2);

    // A wide target: the height fills, the sides are padded, also in the JPEG layout.
    ASSERT_GT(save(DECODER_SAVE_JPEG, 0, "fit.jpg", 300, 100, 1), 0);
    ASSERT_EQ(sizeOf("fit.jpg"), std::make_pair(300, 100));
    const auto gray = rawFrames(tmp_.path("fit.jpg"), "", "gray", 300 * 100);
    ASSERT_EQ(gray.size(), 1u);
    auto at = [&](int x, int y) { return gray[0][static_cast<size_t>(y) * 300 + x]; };
    EXPECT_LT(at(0, 50), 40);    // left of the picture
    EXPECT_LT(at(299, 50), 40);  // right of it
    EXPECT_GT(at(150, 50), 200); // the picture
    EXPECT_GT(at(150, 0), 200);  // reaching the top
    EXPECT_GT(at(150, 99), 200); // and the bottom
    EXPECT_LT(at(70, 50), 40);   // 150 wide, centred: from 75 to 224
    EXPECT_GT(at(80, 50), 200);
    EXPECT_GT(at(219, 50), 200);
    EXPECT_LT(at(229, 50), 40);

    // Odd target sizes in the 4:2:0 layout.
    ASSERT_GT(save(DECODER_SAVE_JPEG, 0, "odd.jpg", 35, 17, 1), 0);
    EXPECT_EQ(sizeOf("odd.jpg"), std::make_pair(35, 17));
    ASSERT_GT(save(DECODER_SAVE_JPEG, 0, "odd2.jpg", 35, 17, 0), 0);
    EXPECT_EQ(sizeOf("odd2.jpg"), std::make_pair(35, 17));
}

TEST_F(SavedPictures, BadArgumentsWriteNothing) {
    decodePicture("testsrc2", 96, 64);
    const std::string path = tmp_.path("bad.jpg");
    const int size = static_cast<int>(picture_.size());
    const uint8_t *img = picture_.data();
    EXPECT_EQ(Decoder_SaveFrameToFile(&dec_, 1, 0, img, size - 4, 96, 64, 0, 0, 0, path.c_str()), -1);
    EXPECT_EQ(Decoder_SaveFrameToFile(&dec_, 1, 0, img, size, 95, 64, 0, 0, 0, path.c_str()), -1);
    EXPECT_EQ(Decoder_SaveFrameToFile(&dec_, 3, 0, img, size, 96, 64, 0, 0, 0, path.c_str()), -1);
    EXPECT_EQ(Decoder_SaveFrameToFile(&dec_, 0, 0, img, size, 96, 64, 0, 0, 0, path.c_str()), -1);
    EXPECT_EQ(Decoder_SaveFrameToFile(&dec_, 1, 0, img, 9, 96, 64, 0, 0, 0, path.c_str()), -1);
    EXPECT_EQ(Decoder_SaveFrameToFile(&dec_, 1, 0, img, 4 * 4 * 64, 4, 64, 0, 0, 0, path.c_str()), -1);
    EXPECT_EQ(Decoder_SaveFrameToFile(&dec_, 1, 0, nullptr, size, 96, 64, 0, 0, 0, path.c_str()), -1);
    EXPECT_EQ(Decoder_SaveFrameToFile(&dec_, 1, 0, img, size, 96, 64, 0, 0, 0, nullptr), -1);
    EXPECT_EQ(Decoder_SaveFrameToFile(&dec_, 1, 0, img, size, 96, 64, -10, 20, 0, path.c_str()), -1);
    EXPECT_EQ(Decoder_SaveFrameToFile(nullptr, 1, 0, img, size, 96, 64, 0, 0, 0, path.c_str()), -1);
    _Decoder never{};
    EXPECT_EQ(Decoder_SaveFrameToFile(&never, 1, 0, img, size, 96, 64, 0, 0, 0, path.c_str()), -1);
    EXPECT_TRUE(readFile(path).empty());
    EXPECT_EQ(Decoder_SaveFrameToFile(&dec_, 1, 0, img, size, 96, 64, 0, 0, 0,
                                      tmp_.path("no/such/dir.jpg").c_str()),
              -1);
}

TEST(Convert, SwapsRedAndBlue) {
    uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(Decoder_Convert(b, 8), 1);
    const uint8_t want[8] = {3, 2, 1, 4, 7, 6, 5, 8};
    EXPECT_EQ(0, memcmp(b, want, 8));

    uint8_t c[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(Decoder_Convert(c, 6), -1);
    const uint8_t same[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, memcmp(c, same, 6));
    EXPECT_EQ(Decoder_Convert(c, 3), -1);
    EXPECT_EQ(Decoder_Convert(c, 0), -1);
    EXPECT_EQ(Decoder_Convert(c, -4), -1);
    EXPECT_EQ(Decoder_Convert(nullptr, 8), -1);
}
