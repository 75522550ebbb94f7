// Sixteen channels decoding at once, each on its own thread with its own record, as the
// playback engines run them.

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "clips.h"

using namespace cliptest;

TEST(DecoderThreads, SixteenChannelsAtOnceMatchFfmpeg) {
    TempDir tmp;
    const struct {
        int codec;
        std::string path;
        const char *encoder;
    } clips[] = {
        {DECODER_CODEC_H264, tmp.path("c.h264"),
         "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -bf 0 -f h264"},
        {DECODER_CODEC_MPEG4, tmp.path("c.m4v"), "-c:v mpeg4 -flags +bitexact -f m4v"},
    };
    std::vector<std::vector<Bytes>> frames;
    std::vector<std::vector<std::string>> refs;
    for (const auto &c : clips) {
        ASSERT_TRUE(makeClip(c.path, 96, 64, 8, c.encoder));
        frames.push_back(readFrames(c.path));
        refs.push_back(frameMd5(c.path, "scale=w=iw:h=ih:flags=fast_bilinear,format=rgba,vflip,hflip"));
        ASSERT_EQ(frames.back().size(), 8u);
        ASSERT_EQ(refs.back().size(), 8u);
    }

    std::atomic<int> mismatches{0}, pictures{0};
    std::vector<std::thread> threads;
    for (int ch = 0; ch < 16; ++ch) {
        threads.emplace_back([&, ch] {
            const int k = ch % 2;
            _Decoder *dec = new _Decoder();
            if (Decoder_Init(dec, clips[k].codec, DECODER_FMT_RGBA) != 1) {
                ++mismatches;
                delete dec;
                return;
            }
            Bytes out(96 * 64 * 4);
            size_t produced = 0;
            for (int round = 0; round < 2; ++round) {
                for (const Bytes &f : frames[k]) {
                    const int r = Decoder_Decode(dec, f.data(), static_cast<int>(f.size()), 0, 0,
                                                 DECODER_FLAG_ROTATE180, nullptr, nullptr, out.data(),
                                                 out.size(), nullptr, nullptr);
                    if (r == 1) {
                        if (md5(out) != refs[k][produced % refs[k].size()]) ++mismatches;
                        ++produced;
                        ++pictures;
                    }
                }
                // Start the stream over on a fresh record, as after a seek.
                Decoder_Deinit(dec);
                Decoder_Init(dec, clips[k].codec, DECODER_FMT_RGBA);
                produced = 0;
            }
            Decoder_Deinit(dec);
            delete dec;
        });
    }
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(pictures.load(), 16 * 2 * 8);
}
