// The engines' per-frame decode: storage sized to the coming picture, taken over by the picture
// without a copy, through size changes of the stream and of the target, against ffmpeg.
#include <gtest/gtest.h>

#include "engines/frame_decoding.h"
#include "headless_delegate.h"
#include "stream_clips.h"

using namespace enginetest;

TEST(EngineFrameDecoding, ExpectedPictureSize) {
    const EnginePictureSize none{}, d1{704, 576};
    const struct {
        int targetW, targetH;
        EnginePictureSize last;
        size_t bytes;
    } cases[] = {
        {0, 0, none, 0},                    // first picture: not known
        {0, 0, d1, 704u * 576u * 4u},       // the decoder keeps its last size
        {352, 288, none, 352u * 288u * 4u}, // a target wins
        {352, 288, d1, 352u * 288u * 4u},
        {352, 0, d1, 704u * 576u * 4u}, // half a target is no target
        {0, 288, d1, 704u * 576u * 4u},
        {-5, 288, d1, 0}, // a bad target gives the stream's size, not known here
        {352, -1, none, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(engineExpectedPictureBytes(c.targetW, c.targetH, c.last), c.bytes)
            << c.targetW << "x" << c.targetH << " after " << c.last.width << "x" << c.last.height;
}

// One decoder fed a stream that grows, then shrinks, then is scaled to a target: every picture
// equals ffmpeg's, holds exactly its own pixels, and all but the first of each size are decoded
// straight into the storage the picture keeps.
TEST(EngineFrameDecoding, PicturesTakeTheirStorageOverThroughSizeChanges) {
    testutil::TempDir tmp;
    struct Part {
        int w, h;
        std::string path;
        std::vector<Frame> frames;
    } parts[] = {{176, 144, tmp.file("a.h264"), {}},
                 {352, 288, tmp.file("b.h264"), {}},
                 {96, 64, tmp.file("c.h264"), {}}};
    for (Part &p : parts) {
        ASSERT_TRUE(makeClip(p.path, p.w, p.h, 6, x264Args(3)));
        p.frames = readFrames(p.path);
        ASSERT_EQ(p.frames.size(), 6u);
    }
    _Decoder *decoder = engineOpenVideoDecoder(0, DECODER_CODEC_H264);
    ASSERT_NE(decoder, nullptr);
    PictureBufferPool pool;
    HeadlessDelegate delegate;
    std::vector<uint8_t> work(kEngineRawImageBufferSize);
    EnginePictureSize last;
    int targetW = 0, targetH = 0;
    const auto target = [&](int &w, int &h) {
        w = targetW;
        h = targetH;
    };
    std::vector<VideoImageRef> kept; // the application may hold every picture
    auto decodeAll = [&](const Part &p, int outW, int outH, const std::vector<std::string> &expected) {
        for (size_t i = 0; i < p.frames.size(); ++i) {
            const uint8_t *before = work.data();
            const size_t sizeBefore = work.size();
            const EngineDecodedFrame f = engineDecodeVideoFrame(
                decoder, p.frames[i].data.data(), static_cast<uint32_t>(p.frames[i].data.size()),
                p.frames[i].key, DECODER_FLAG_TOPDOWN, target, pool, work, last);
            ASSERT_EQ(f.result, 1) << p.w << "x" << p.h << " frame " << i;
            EXPECT_EQ(f.outW, outW);
            EXPECT_EQ(f.outH, outH);
            EXPECT_EQ(last.width, outW);
            const bool sized = work.size() == static_cast<size_t>(outW) * outH * 4u + kDecoderOutputSlack;
            const uint8_t *decodedInto = work.data();
            VideoImageRef image = engineDeliverablePicture(delegate, pool, f, work, nullptr, nullptr);
            ASSERT_TRUE(image);
            EXPECT_EQ(image->byteCount(), static_cast<size_t>(outW) * outH * 4u);
            EXPECT_EQ(md5(image->pixels(), image->byteCount()), expected[i])
                << p.w << "x" << p.h << " frame " << i;
            if (i > 0) {
                EXPECT_TRUE(sized) << "frame " << i << " of " << p.w << "x" << p.h;
                EXPECT_EQ(image->pixels(), decodedInto) << "not copied: frame " << i;
                EXPECT_TRUE(work.empty());
            } else if (sizeBefore == kEngineRawImageBufferSize) {
                EXPECT_NE(image->pixels(), before) << "a new size is copied out of the full buffer";
            }
            kept.push_back(image);
        }
    };
    decodeAll(parts[0], 176, 144, frameMd5(parts[0].path, kRgbaFilter));
    decodeAll(parts[1], 352, 288, frameMd5(parts[1].path, kRgbaFilter)); // grows at a key frame
    decodeAll(parts[2], 96, 64, frameMd5(parts[2].path, kRgbaFilter));   // shrinks
    targetW = 200;
    targetH = 100;
    decodeAll(parts[1], 200, 100,
              frameMd5(parts[1].path, "scale=w=200:h=100:flags=fast_bilinear,format=rgba"));
    EXPECT_EQ(delegate.realWidths.back(), 200);

    // A size the engines do not decode is refused, and the next picture still comes.
    targetW = 4000;
    targetH = 3000;
    const auto decodeBig = [&] {
        return engineDecodeVideoFrame(decoder, parts[0].frames[0].data.data(),
                                      static_cast<uint32_t>(parts[0].frames[0].data.size()), true,
                                      DECODER_FLAG_TOPDOWN, target, pool, work, last);
    };
    EngineDecodedFrame big = decodeBig();
    EXPECT_EQ(big.result, -1);
    EXPECT_TRUE(big.firstFailure);
    EXPECT_FALSE(decodeBig().firstFailure) << "a run of failures is logged once";
    EXPECT_LE(work.size(), kEngineRawImageBufferSize);
    targetW = targetH = 0;
    decodeAll(parts[0], 176, 144, frameMd5(parts[0].path, kRgbaFilter));
    engineCloseVideoDecoder(decoder);
    // Pictures outlive the decoder and the pool's reuse: the first one is still intact.
    EXPECT_EQ(md5(kept[0]->pixels(), kept[0]->byteCount()), frameMd5(parts[0].path, kRgbaFilter)[0]);
}

// The pacing wait at each speed. With N channels handed off one after another, the time since a
// channel's previous picture holds the other N-1 channels' sleeps: the rows with 15 x 1,250 and
// 3 x 2,500 us are the steady state of 16 channels at 2x and 4 channels at 4x, where every
// channel must sleep interval / (speed x N) for a round of pictures to take interval / speed.
TEST(EnginePacing, WaitIsTheStepAtTheSpeedLessTheTimeSpent) {
    const struct {
        uint64_t intervalUs, elapsedUs;
        int shift;
        uint64_t waitUs;
    } rows[] = {
        {40000, 10000, 0, 30000},      // 1x: the step less the time spent
        {40000, 0, 1, 20000},          // 2x, nothing spent
        {40000, 10000, 3, 0},          // 8x: 5,000 to sleep, 10,000 spent already
        {40000, 15 * 1250, 1, 1250},   // 16 channels at 2x
        {40000, 3 * 2500, 2, 2500},    // 4 channels at 4x
        {40000, 50000, 0, 0},          // behind: never below 0
        {0, 0, 4, 0},                  // the first frame of a channel
        {10000000, 0, 0, 0},           // a 10 s gap at 1x is not slept
        {10000000, 20000, 2, 2480000}, // nor shortened at 4x, where it fits under 4.5 s
        {4500000 * 16 + 16, 0, 4, 0},  // 16x: over 4.5 s after the division
        {4500000 * 16, 0, 4, 4500000}, // exactly 4.5 s is slept
    };
    for (const auto &r : rows)
        EXPECT_EQ(enginePacingDelayUs(r.intervalUs, r.elapsedUs, r.shift), r.waitUs)
            << r.intervalUs << " us step, " << r.elapsedUs << " us spent, shift " << r.shift;
}
