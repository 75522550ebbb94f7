// Decoding, delivery and pacing of DV frames, checked against ffmpeg's decode of the same
// streams and against the clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <mutex>
#include <numeric>
#include <thread>

#include "common/run_cmd.h"
#include "common/thread_state.h"
#include "engines/dv_format_playback.h"
#include "headless_delegate.h"
#include "platform/log.h"
#include "stream_clips.h"

using namespace enginetest;
using namespace std::chrono_literals;

namespace {

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}
double gapMs(const VideoEvent &a, const VideoEvent &b) {
    return std::chrono::duration<double, std::milli>(b.received - a.received).count();
}

// Collects log lines while alive.
class LogCapture {
  public:
    LogCapture() {
        previous_ = player_log_set_sink([this](const std::string &line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { player_log_set_sink(previous_); }
    bool contains(const std::string &text) const {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto &l : lines_)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    PlayerLogSink previous_;
};

class DVSelectorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dvFmtResetControlFlags();
        engine.setAppDelg(&delegate);
        engine.setMainThreadPoster(&poster);
        engine.setPImageWidthFromStream(&streamW);
        engine.setPImageHeightFromStream(&streamH);
    }
    void TearDown() override {
        engine.cancelAllThreads();
        dvFmtResetControlFlags();
    }
    std::vector<Frame> clip(const std::string &name, int w, int h, int frames, const std::string &encoder) {
        path = tmp.file(name);
        if (!makeClip(path, w, h, frames, encoder)) return {};
        return readFrames(path);
    }
    std::vector<std::string> deliveredMd5s() const {
        std::vector<std::string> out;
        for (const auto &e : delegate.videoEvents())
            out.push_back(md5(e.image->pixels(), e.image->byteCount()));
        return out;
    }

    testutil::TempDir tmp;
    std::string path;
    HeadlessDelegate delegate;
    QueuePoster poster;
    std::atomic<int> streamW{0}, streamH{0};
    DVFormatPlayback engine;
};

// Seconds since 1970 of a UTC calendar time, by the C library.
uint32_t utcSeconds(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return static_cast<uint32_t>(timegm(&t));
}

} // namespace

// Every DV4 H.264 frame is decoded into the picture ffmpeg gives for the same stream; the
// pictures stay intact after later frames have been decoded; frame, key mark, size and
// recorder date reach the delegate.
TEST_F(DVSelectorTest, DV4H264PicturesEqualFfmpegAndOwnTheirPixels) {
    const auto frames = clip("a.h264", 176, 144, 12, x264Args(6));
    ASSERT_EQ(frames.size(), 12u);
    ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(0, DECODER_CODEC_H264));
    const uint32_t date = utcSeconds(2024, 2, 29, 23, 59, 58);
    for (size_t i = 0; i < frames.size(); ++i) {
        auto rec = dv4H264Record(frames[i].data, date + static_cast<uint32_t>(i) / 25, 0);
        engine.isIFrame = frames[i].key;
        engine.dv4VideoPlaybackForH264Selector(rec.get());
    }
    const auto events = delegate.videoEvents();
    ASSERT_EQ(events.size(), frames.size());
    EXPECT_EQ(deliveredMd5s(), frameMd5(path, kRgbaFilter));
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].channel, 0u);
        EXPECT_EQ(events[i].frame, frames[i].data);
        EXPECT_EQ(events[i].isIFrame, frames[i].key);
        EXPECT_EQ(events[i].image->width(), 176);
        EXPECT_EQ(events[i].image->height(), 144);
    }
    EXPECT_EQ(streamW.load(), 176);
    EXPECT_EQ(streamH.load(), 144);
    EXPECT_EQ(delegate.realWidths, std::vector<int>(12, 176));
    EXPECT_EQ(delegate.realHeights, std::vector<int>(12, 144));
    EXPECT_EQ(delegate.deinterlaceButton, std::vector<bool>(12, false));
    // The recorder date of the last frame, against the C library's calendar.
    const time_t last = date + 11 / 25;
    std::tm ref{};
    gmtime_r(&last, &ref);
    const _SYSTEMTIME &st = events.back().sysTime;
    EXPECT_EQ(st.wYear, ref.tm_year + 1900);
    EXPECT_EQ(st.wMonth, ref.tm_mon + 1);
    EXPECT_EQ(st.wDay, ref.tm_mday);
    EXPECT_EQ(st.wHour, ref.tm_hour);
    EXPECT_EQ(st.wMinute, ref.tm_min);
    EXPECT_EQ(st.wSecond, ref.tm_sec);
    EXPECT_EQ(st.wDayOfWeek, ref.tm_wday);
}

TEST_F(DVSelectorTest, FlippedPicturesAreTurnedBy180Degrees) {
    const auto frames = clip("f.h264", 96, 64, 4, x264Args(4));
    ASSERT_EQ(frames.size(), 4u);
    ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(0, DECODER_CODEC_H264));
    delegate.flip = true;
    for (const auto &f : frames) {
        engine.isIFrame = f.key;
        engine.dv4VideoPlaybackForH264Selector(dv4H264Record(f.data, 100, 0).get());
    }
    EXPECT_EQ(deliveredMd5s(), frameMd5(path, std::string(kRgbaFilter) + ",vflip,hflip"));
}

// MPEG-4 Part 2 frames; the deinterlace button is never touched for them.
TEST_F(DVSelectorTest, DV4Mpeg4PicturesEqualFfmpeg) {
    const auto frames = clip("m.m4v", 128, 96, 8, mpeg4Args(4));
    ASSERT_EQ(frames.size(), 8u);
    ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(0, DECODER_CODEC_MPEG4));
    for (const auto &f : frames) {
        engine.isIFrame = f.key;
        engine.dv4VideoPlaybackForMPEG4Selector(dv4Mpeg4Record(f.data, 100, 0).get());
    }
    EXPECT_EQ(deliveredMd5s(), frameMd5(path, kRgbaFilter));
    EXPECT_TRUE(delegate.deinterlaceButton.empty());
}

// DV5 frames go to the video thread of their own channel and are scaled to the application's
// target size; without a target they keep the stream's size.
TEST_F(DVSelectorTest, DV5FramesGoToTheirChannelAtTheTargetSize) {
    const auto frames = clip("d5.h264", 176, 144, 6, x264Args(3));
    ASSERT_EQ(frames.size(), 6u);
    ASSERT_TRUE(engine.createDVFmtVideoPlaybackThread());
    ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(5, DECODER_CODEC_H264));
    delegate.targetWidth = 352.9f; // truncated to 352
    delegate.targetHeight = 288.0f;
    for (const auto &f : frames) {
        engine.isIFrame = f.key;
        ASSERT_TRUE(
            engine.handOffVideoFrame(DVVideoSelector::DV5NVR, dv5NvrRecord(f.data, 5, 100, 100, 0).get()));
    }
    auto events = delegate.videoEvents();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(deliveredMd5s(), frameMd5(path, "scale=w=352:h=288:flags=fast_bilinear,format=rgba"));
    for (const auto &e : events) {
        EXPECT_EQ(e.channel, 5u);
        EXPECT_NE(e.thread, std::this_thread::get_id());
        EXPECT_EQ(e.image->width(), 352);
        EXPECT_EQ(e.image->height(), 288);
    }
    EXPECT_EQ(delegate.imageRealW.load(), 352);
    EXPECT_EQ(streamW.load(), 176); // the stream's own size is still reported

    // The DVR layout, channel 2, no target.
    delegate.targetWidth = 0;
    delegate.targetHeight = 0;
    ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(2, DECODER_CODEC_H264));
    for (const auto &f : frames) {
        engine.isIFrame = f.key;
        ASSERT_TRUE(engine.handOffVideoFrame(DVVideoSelector::DV5DVR, dv5DvrRecord(f.data, 2, 100, 0).get()));
    }
    events = delegate.videoEvents();
    ASSERT_EQ(events.size(), 12u);
    const auto native = frameMd5(path, kRgbaFilter);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(events[6 + i].channel, 2u);
        EXPECT_EQ(md5(events[6 + i].image->pixels(), events[6 + i].image->byteCount()), native[i]);
    }
}

// A frame coded as two fields is woven unless deinterlacing is on; the button follows the
// field flag. The woven picture is ffmpeg's picture with its top half on the even lines and its
// bottom half on the odd lines.
TEST_F(DVSelectorTest, FieldFlagWeavesAndEnablesTheDeinterlaceButton) {
    const int w = 96, h = 64;
    const auto frames = clip("w.h264", w, h, 3, x264Args(3));
    ASSERT_EQ(frames.size(), 3u);
    ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(0, DECODER_CODEC_H264));
    for (const auto &f : frames) {
        engine.isIFrame = f.key;
        engine.dv4VideoPlaybackForH264Selector(dv4H264Record(f.data, 100, 0, 1).get());
    }
    const size_t row = w * 4;
    const auto ref = rawFrames(path, kRgbaFilter, row * h);
    const auto events = delegate.videoEvents();
    ASSERT_EQ(events.size(), 3u);
    ASSERT_EQ(ref.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        Bytes woven(row * h);
        for (int y = 0; y < h; ++y) {
            const int line = y < h / 2 ? 2 * y : 2 * (y - h / 2) + 1;
            std::copy_n(ref[i].begin() + y * row, row, woven.begin() + line * row);
        }
        EXPECT_EQ(md5(events[i].image->pixels(), events[i].image->byteCount()),
                  md5(woven.data(), woven.size()))
            << "frame " << i;
    }
    EXPECT_EQ(delegate.deinterlaceButton, std::vector<bool>(3, true));
}

// The decoder flags for every combination of flip, field flag and deinterlace switch: the
// engine's pictures equal those of a decoder driven directly with the flags
// 0x10 / 0x20 (upright / turned), + 0x04 (two fields), + 0x01 (deinterlace).
TEST_F(DVSelectorTest, DecoderFlagsFollowFlipFieldAndDeinterlace) {
    const auto frames = clip("flags.h264", 96, 64, 2, x264Args(2));
    ASSERT_EQ(frames.size(), 2u);
    for (int combo = 0; combo < 8; ++combo) {
        const bool flip = combo & 1, field = combo & 2, deint = combo & 4;
        const int flags = (flip ? 0x20 : 0x10) | (field ? 0x04 : 0) | (deint ? 0x01 : 0);
        delegate.flip = flip;
        delegate.deinterlace = deint;
        ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(0, DECODER_CODEC_H264));
        _Decoder direct{};
        ASSERT_EQ(Decoder_Init(&direct, DECODER_CODEC_H264, DECODER_FMT_RGBA), 1);
        const size_t before = delegate.videoCount();
        for (const auto &f : frames) {
            engine.isIFrame = f.key;
            engine.dv4VideoPlaybackForH264Selector(dv4H264Record(f.data, 100, 0, field ? 1 : 0).get());
            Bytes out(96 * 64 * 4);
            int ow = 0, oh = 0;
            ASSERT_EQ(Decoder_Decode(&direct, f.data.data(), static_cast<int>(f.data.size()), 0, 0, flags,
                                     nullptr, nullptr, out.data(), out.size(), &ow, &oh),
                      1);
            const auto events = delegate.videoEvents();
            ASSERT_EQ(events.size(), before + (&f - frames.data()) + 1);
            EXPECT_EQ(md5(events.back().image->pixels(), events.back().image->byteCount()),
                      md5(out.data(), out.size()))
                << "flags 0x" << std::hex << flags;
        }
        Decoder_Deinit(&direct);
    }
}

// Pacing: a frame is delivered and then the channel sleeps out the time-stamp step to it, less
// the time spent since the previous frame was shown, divided by the speed. So at every speed the
// frames come in order, each with the step it was paced by, and the run from the first frame's
// hand-off to the last one's return lasts at least the nine steps divided by the speed: a bound
// a busy machine only adds to. From above, a bound loose enough for a busy machine (30 ms and two
// frames' cost for each frame) that nine whole steps still pass at 4x and over, unless a frame
// costs 20 ms. How closely the spacing keeps to the step is a figure engine_bench --pacing prints.
TEST_F(DVSelectorTest, PacingFollowsTimeStampsAtEverySpeed) {
    const auto frames = clip("p.h264", 64, 48, 10, x264Args(10));
    ASSERT_EQ(frames.size(), 10u);
    ASSERT_TRUE(engine.createDVFmtVideoPlaybackThread());
    // What one frame costs without any sleep (all at one time stamp).
    ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(0, DECODER_CODEC_H264));
    const auto c0 = Clock::now();
    for (const auto &f : frames) {
        engine.isIFrame = f.key;
        ASSERT_TRUE(engine.handOffVideoFrame(DVVideoSelector::DV4H264, dv4H264Record(f.data, 5, 0).get()));
    }
    const double frameCostMs = msSince(c0) / frames.size();

    const uint32_t stepUs = 96000;
    for (int speed = 0; speed <= 4; ++speed) {
        SCOPED_TRACE("speed " + std::to_string(speed));
        gDVFmtPlaybackSpeed = speed;
        ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(0, DECODER_CODEC_H264)); // times start afresh
        const size_t first = delegate.videoCount();
        const auto t0 = Clock::now();
        for (size_t i = 0; i < frames.size(); ++i) {
            const uint64_t t = 5000000ull + i * stepUs;
            engine.isIFrame = frames[i].key;
            ASSERT_TRUE(engine.handOffVideoFrame(
                DVVideoSelector::DV4H264,
                dv4H264Record(frames[i].data, static_cast<uint32_t>(t / 1000000), t % 1000000).get()));
        }
        const double runMs = msSince(t0);
        const auto events = delegate.videoEvents();
        ASSERT_EQ(events.size(), first + frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(events[first + i].frame, frames[i].data) << "frame " << i;
            // A channel's first frame is not paced.
            EXPECT_EQ(events[first + i].interval, i == 0 ? 0u : stepUs) << "frame " << i;
        }
        const double sleptMs = (frames.size() - 1) * (stepUs >> speed) / 1000.0;
        EXPECT_GE(runMs, sleptMs);
        EXPECT_LE(runMs, sleptMs + (frames.size() - 1) * (30.0 + 2 * frameCostMs))
            << "one frame costs " << frameCostMs << " ms";
    }
}

// A gap: the 10-second step is not slept at 1x (over 4.5 s), but at 4x it is (2.5 s), and a
// request to close ends such a sleep early. A step backwards gives interval 0 and no sleep.
TEST_F(DVSelectorTest, GapsBackwardStepsAndCloseDuringASleep) {
    const auto frames = clip("g.h264", 64, 48, 3, x264Args(1));
    ASSERT_EQ(frames.size(), 3u);
    // Three frames at 1000 s, s1 and s1; the sleep for the step to s1 follows the second.
    auto run = [&](int speed, uint32_t s1) {
        gDVFmtPlaybackSpeed = speed;
        EXPECT_TRUE(engine.initVideoDecoderWithThreadIndex(0, DECODER_CODEC_H264));
        const uint32_t secs[3] = {1000, s1, s1};
        for (int i = 0; i < 3; ++i) {
            engine.isIFrame = 1;
            engine.dv4VideoPlaybackForH264Selector(dv4H264Record(frames[i].data, secs[i], 0).get());
        }
        const auto e = delegate.videoEvents();
        return std::vector<VideoEvent>(e.end() - 3, e.end());
    };

    auto e = run(0, 1010);
    EXPECT_EQ(e[1].interval, 10000000u);
    EXPECT_EQ(e[2].interval, 0u);
    EXPECT_LT(gapMs(e[1], e[2]), 400.0);

    e = run(2, 1010);
    EXPECT_EQ(e[1].interval, 10000000u);
    EXPECT_NEAR(gapMs(e[1], e[2]), 2500.0, 60.0);

    // Backwards: interval 0, no sleep.
    e = run(0, 999);
    EXPECT_EQ(e[1].interval, 0u);
    EXPECT_LT(gapMs(e[1], e[2]), 400.0);

    // Closing while a 2.5 s sleep runs: once this thread sleeps after the second picture, which
    // the sleep follows.
    const size_t before = delegate.videoCount();
    const pid_t self = testutil::currentTid();
    Clock::time_point closed{};
    std::thread closer([&] {
        const auto until = Clock::now() + 20s;
        while (delegate.videoCount() < before + 2 && Clock::now() < until)
            std::this_thread::sleep_for(1ms);
        EXPECT_TRUE(testutil::waitUntilAsleep(self)) << "no sleep after the second picture";
        closed = Clock::now();
        gDVFmtPlaybackParserThreadForceExit = 1;
    });
    const auto t0 = Clock::now();
    e = run(2, 1010);
    closer.join();
    EXPECT_LT(msSince(t0), 1500.0);
    EXPECT_GE(e[2].received, closed) << "the third picture came before the close: no sleep was cut";
    gDVFmtPlaybackParserThreadForceExit = 0;
}

// Frames that cannot be shown are dropped with a log line and nothing reaches the delegate:
// undecodable frames (a key frame only a few times), a channel without a decoder (its decoder
// could not be opened), a channel number above 15, a length beyond the record's room.
TEST_F(DVSelectorTest, UnshowableFramesAreDropped) {
    LogCapture log;
    const Bytes junk(3000, 0x5A);
    ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(0, DECODER_CODEC_H264));
    engine.isIFrame = 0;
    engine.dv4VideoPlaybackForH264Selector(dv4H264Record(junk, 100, 0).get());
    engine.isIFrame = 1;
    const auto t0 = Clock::now();
    engine.dv4VideoPlaybackForH264Selector(dv4H264Record(junk, 100, 0).get());
    EXPECT_LT(msSince(t0), 5000.0);
    EXPECT_TRUE(log.contains("iRet2 = "));
    // A run of failures is logged once; a new decoder starts a new run.
    engine.dv5VideoPlaybackForH264Selector(dv5NvrRecord(junk, 0, 100, 100, 0).get());
    EXPECT_FALSE(log.contains("-->iRet2 = "));
    ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(0, DECODER_CODEC_H264));
    engine.dv5VideoPlaybackForH264Selector(dv5NvrRecord(junk, 0, 100, 100, 0).get());
    EXPECT_TRUE(log.contains("-->iRet2 = "));
    EXPECT_TRUE(log.contains("### pDV5VideoStreamH264->streamBuf[0] = 0x5a"));
    ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(0, DECODER_CODEC_H264));
    engine.dv5DVRVideoPlaybackForH264Selector(dv5DvrRecord(junk, 0, 100, 0).get());
    EXPECT_TRUE(log.contains("pDV5VideoStreamH264->streamBuf[5]: 0x5a"));

    // A codec the decoder does not know: the channel has no decoder at all.
    EXPECT_FALSE(engine.initVideoDecoderWithThreadIndex(1, 9));
    EXPECT_FALSE(engine.hasVideoDecoder(1));
    const auto frames = clip("ok.h264", 64, 48, 1, x264Args(1));
    ASSERT_EQ(frames.size(), 1u);
    engine.isIFrame = 1;
    engine.dv5VideoPlaybackForH264Selector(dv5NvrRecord(frames[0].data, 1, 100, 100, 0).get());
    EXPECT_TRUE(log.contains("No decoder for channel 1"));

    // Channel 200 of a damaged file.
    ASSERT_TRUE(engine.createDVFmtVideoPlaybackThread());
    auto bad = dv5NvrRecord(frames[0].data, 200, 100, 100, 0);
    EXPECT_FALSE(engine.handOffVideoFrame(DVVideoSelector::DV5NVR, bad.get()));
    engine.dv5VideoPlaybackForH264Selector(bad.get());
    auto badDvr = dv5DvrRecord(frames[0].data, 16, 100, 0);
    engine.dv5DVRVideoPlaybackForH264Selector(badDvr.get());
    EXPECT_TRUE(log.contains("channel 200"));
    EXPECT_TRUE(log.contains("channel 16"));

    // A length beyond the room of the record.
    auto big = dv4H264Record(frames[0].data, 100, 0);
    big->len = kDVVideoPayloadRoom + 1;
    engine.dv4VideoPlaybackForH264Selector(big.get());

    EXPECT_EQ(delegate.videoCount(), 0u);

    // The same good frame is shown once the channel is in order.
    engine.dv4VideoPlaybackForH264Selector(dv4H264Record(frames[0].data, 100, 0).get());
    EXPECT_EQ(delegate.videoCount(), 1u);
}

// Audio goes straight to the delegate with the channel's format, on the audio thread.
TEST_F(DVSelectorTest, AudioPayloadsReachTheDelegate) {
    ASSERT_TRUE(engine.createDVFmtAudioPlaybackThread());
    engine.audioCodec[0] = enAudioFormat_G723;
    engine.audioCodec[3] = enAudioFormat_ULAW;
    engine.audioCodec[7] = enAudioFormat_PCM16;

    Bytes payload(321);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i * 7);
    auto dv4 = std::make_unique<DV4AudioStreamH264>();
    const uint32_t n321 = 321;
    std::memcpy(dv4->header + 8, &n321, 4);
    std::copy(payload.begin(), payload.end(), dv4->data);
    auto dv4m = std::make_unique<DV4AudioStreamMPEG4>();
    dv4m->len = 100;
    std::copy_n(payload.begin(), 100, dv4m->data);
    auto nvr = std::make_unique<DV5AudioStreamH264>();
    const uint32_t n200 = 200;
    std::memcpy(nvr->header + 8, &n200, 4);
    nvr->header[42] = 3;
    std::copy_n(payload.begin(), 200, nvr->data);
    auto dvr = std::make_unique<DV5DVRAudioStreamH264>();
    const uint32_t n50 = 50;
    std::memcpy(dvr->header + 8, &n50, 4);
    dvr->header[20] = 7;
    std::copy_n(payload.begin(), 50, dvr->data);

    ASSERT_TRUE(engine.handOffAudioFrame(DVAudioSelector::DV4H264, dv4.get()));
    ASSERT_TRUE(engine.handOffAudioFrame(DVAudioSelector::DV4MPEG4, dv4m.get()));
    ASSERT_TRUE(engine.handOffAudioFrame(DVAudioSelector::DV5NVR, nvr.get()));
    ASSERT_TRUE(engine.handOffAudioFrame(DVAudioSelector::DV5DVR, dvr.get()));
    // Damaged: channel 17, a length beyond the room.
    dvr->header[20] = 17;
    ASSERT_TRUE(engine.handOffAudioFrame(DVAudioSelector::DV5DVR, dvr.get()));
    const uint32_t huge = kDVAudioPayloadRoom + 1;
    std::memcpy(nvr->header + 8, &huge, 4);
    ASSERT_TRUE(engine.handOffAudioFrame(DVAudioSelector::DV5NVR, nvr.get()));

    std::lock_guard<std::mutex> lock(delegate.mutex);
    ASSERT_EQ(delegate.audio.size(), 4u);
    EXPECT_EQ(delegate.audio[0].channel, 0u);
    EXPECT_EQ(delegate.audio[0].format, enAudioFormat_G723);
    EXPECT_EQ(delegate.audio[0].payload, payload);
    EXPECT_EQ(delegate.audio[1].payload, Bytes(payload.begin(), payload.begin() + 100));
    EXPECT_EQ(delegate.audio[2].channel, 3u);
    EXPECT_EQ(delegate.audio[2].format, enAudioFormat_ULAW);
    EXPECT_EQ(delegate.audio[2].payload.size(), 200u);
    EXPECT_EQ(delegate.audio[3].channel, 7u);
    EXPECT_EQ(delegate.audio[3].format, enAudioFormat_PCM16);
    EXPECT_EQ(delegate.audio[3].payload, Bytes(payload.begin(), payload.begin() + 50));
    EXPECT_NE(delegate.audio[0].thread, std::this_thread::get_id());
}

// Releasing decoders after a layout change, and making one afresh.
TEST_F(DVSelectorTest, DecoderResetsAndTimeSlots) {
    for (int ch = 0; ch < 16; ++ch) {
        ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(ch, DECODER_CODEC_H264));
        engine.videoCodec[ch] = 2;
        engine.hadInitVideoDecoderFlag[ch] = 1;
        engine.audioCodec[ch] = 5;
        engine.hadInitAudioDecoderFlag[ch] = 1;
        engine.prevFrameTimeSubCH[ch] = 77;
        engine.currFrameAbsoluteTimeSubCH[ch] = 88;
    }
    engine.resetParamsWithExceptCH(3);
    for (int ch = 0; ch < 16; ++ch) {
        const bool kept = ch == 2;
        EXPECT_EQ(engine.hasVideoDecoder(ch), kept) << ch;
        EXPECT_EQ(engine.videoCodec[ch], kept ? 2 : 0) << ch;
        EXPECT_EQ(engine.hadInitVideoDecoderFlag[ch], kept ? 1 : 0) << ch;
        EXPECT_EQ(engine.prevFrameTimeSubCH[ch], kept ? 77u : 0u) << ch;
        EXPECT_EQ(engine.audioCodec[ch], 5) << ch;
        EXPECT_EQ(engine.hadInitAudioDecoderFlag[ch], 1) << ch;
    }
    // A new decoder for a channel that has one: the old one goes, the time slots are zeroed.
    ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(2, DECODER_CODEC_MPEG4));
    EXPECT_EQ(engine.prevFrameTimeSubCH[2], 0u);
    EXPECT_EQ(engine.currFrameAbsoluteTimeSubCH[2], 0u);
    engine.resetParamsWithExceptCH(0);
    for (int ch = 0; ch < 16; ++ch)
        EXPECT_FALSE(engine.hasVideoDecoder(ch));

    engine.resetAVStreamType();
    for (int ch = 0; ch < 16; ++ch) {
        EXPECT_EQ(engine.audioCodec[ch], 0);
        EXPECT_EQ(engine.hadInitAudioDecoderFlag[ch], 0);
    }
}

// Progress goes to the main thread through the poster, and the engine does not wait for it.
TEST_F(DVSelectorTest, ProgressIsPostedWithoutWaiting) {
    poster.hold(true);
    engine.postPlaybackProgress(42.5f);
    engine.postPlaybackProgress(100.0f);
    {
        std::lock_guard<std::mutex> lock(delegate.mutex);
        EXPECT_TRUE(delegate.progress.empty());
    }
    poster.hold(false);
    poster.drain();
    std::lock_guard<std::mutex> lock(delegate.mutex);
    EXPECT_EQ(delegate.progress, (std::vector<float>{42.5f, 100.0f}));
    ASSERT_EQ(delegate.progressThreads.size(), 2u);
    EXPECT_NE(delegate.progressThreads[0], std::this_thread::get_id());
}
