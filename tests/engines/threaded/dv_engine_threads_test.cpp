// The DV engine's threads: creation into empty slots, the serve-only-while-running rule of the
// playback threads, the close handshake with the parser, and many start/stop rounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <future>
#include <thread>

#include "common/run_cmd.h"
#include "common/thread_state.h"
#include "engines/dv_format_playback.h"
#include "engines/headless_delegate.h"
#include "engines/stream_clips.h"

using namespace enginetest;
using namespace std::chrono_literals;

namespace {

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

class DVEngineThreadsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dvFmtResetControlFlags();
        engine.setAppDelg(&delegate);
        engine.setMainThreadPoster(&poster);
        file = tmp.file("rec.dv4");
        std::ofstream(file, std::ios::binary) << std::string(5000, '\x11');
        delegate.filePath = file;
    }
    void TearDown() override {
        engine.cancelAllThreads();
        dvFmtResetControlFlags();
    }
    // What the application does to start a DV file: the flags its parser reads first.
    bool start(int codec, bool dvr700 = false) {
        engine.setDvFmtVideoCodec(codec);
        engine.setIsDVRType700(dvr700);
        engine.resetAVStreamType();
        gDVFmtPlaybackKeepRunning = 1;
        gDVFmtPlaybackStopActionLaunched = 0;
        gDVFmtPlaybackSliderValueChanged = 0;
        gDVFmtPlaybackIsPauseNow = 0;
        return engine.createDVFmtVideoPlaybackThread() && engine.createDVFmtAudioPlaybackThread() &&
               engine.createDVFmtParserThread();
    }
    // What the application does to stop it: ask the parser to leave, wait until it has, then
    // end every thread.
    void teardown() {
        stopParser();
        for (int ch = 0; ch < 16; ++ch)
            engine.cancelDVFmtVideoPlaybackThread(ch);
        engine.cancelDVFmtAudioPlaybackThread();
    }
    // The first half of it. The test's own hand-offs are made with no parser running, so that
    // only one thread works on the engine's shared state at a time, as in play.
    void stopParser() {
        if (engine.isDVFmtParserThreadExecuting()) {
            gDVFmtPlaybackParserThreadForceExit = 1;
            gDVFmtPlaybackKeepRunning = 1;
            const auto t0 = Clock::now();
            while (gDVFmtPlaybackParserThreadForceExit.load() && msSince(t0) < 5000)
                std::this_thread::sleep_for(50us);
            EXPECT_EQ(gDVFmtPlaybackParserThreadForceExit.load(), 0) << "the parser did not leave";
            engine.cancelDVFmtParserThread();
            gDVFmtPlaybackKeepRunning = 0;
        }
    }
    bool allEnded() const {
        if (engine.isDVFmtParserThreadExecuting() || engine.isDVFmtAudioPlaybackThreadExecuting())
            return false;
        for (int ch = 0; ch < 16; ++ch)
            if (engine.isDVFmtVideoPlaybackThreadExecuting(ch)) return false;
        return true;
    }

    testutil::TempDir tmp;
    std::string file;
    HeadlessDelegate delegate;
    QueuePoster poster;
    DVFormatPlayback engine;
};

// A hand-off made by the test after a parser ran: the parser halts the playback threads at the
// end of its file (which holds no units), so the test asks for a single step, which the threads
// serve whatever the other flags say.
bool stepAudio(DVFormatPlayback &engine, const DV4AudioStreamH264 *record) {
    gDVFmtPlaybackForwardAtPause = 1;
    const bool served = engine.handOffAudioFrame(DVAudioSelector::DV4H264, record);
    gDVFmtPlaybackForwardAtPause = 0;
    return served;
}

// Hands the record to the audio thread from a thread of its own; returns once the audio thread
// has taken notice of it and not served it (the sender asleep in its wait, then the audio
// thread asleep too: woken by the request, it has looked at the flags and gone back to wait),
// or once the hand-off has returned.
std::future<bool> handOffLeftWaiting(DVFormatPlayback &engine, const DV4AudioStreamH264 *record) {
    std::atomic<pid_t> tid{0};
    auto sender = std::async(std::launch::async, [&engine, &tid, record] {
        tid = testutil::currentTid();
        return engine.handOffAudioFrame(DVAudioSelector::DV4H264, record);
    });
    while (tid == 0)
        std::this_thread::yield();
    const pid_t audio = testutil::threadNamed("dv-audio");
    const auto deadline = Clock::now() + 10s;
    for (pid_t waiter : {tid.load(), audio}) {
        for (int asleep = 0; asleep < 3 && Clock::now() < deadline;) {
            if (sender.wait_for(0ms) == std::future_status::ready) return sender;
            asleep = testutil::threadState(waiter) == 'S' ? asleep + 1 : 0;
            std::this_thread::sleep_for(2ms);
        }
    }
    EXPECT_LT(Clock::now(), deadline) << "the hand-off did not come to wait";
    return sender;
}

std::unique_ptr<DV4AudioStreamH264> audioRecord(uint8_t fill, uint32_t length) {
    auto r = std::make_unique<DV4AudioStreamH264>();
    std::memcpy(r->header + 8, &length, 4);
    std::memset(r->data, fill, length);
    return r;
}

} // namespace

TEST_F(DVEngineThreadsTest, ThreadsAreMadeOnlyIntoEmptySlots) {
    ASSERT_TRUE(start(kDVFmtDV4H264));
    for (int ch = 0; ch < 16; ++ch)
        EXPECT_TRUE(engine.isDVFmtVideoPlaybackThreadExecuting(ch));
    EXPECT_TRUE(engine.isDVFmtAudioPlaybackThreadExecuting());
    EXPECT_TRUE(engine.isDVFmtParserThreadExecuting());

    // A second round without a teardown keeps the same threads: audio sent through the audio
    // thread arrives on the same thread before and after.
    stopParser();
    engine.audioCodec[0] = enAudioFormat_PCM;
    ASSERT_TRUE(stepAudio(engine, audioRecord(1, 8).get()));
    ASSERT_TRUE(start(kDVFmtDV4H264));
    stopParser();
    engine.audioCodec[0] = enAudioFormat_PCM;
    ASSERT_TRUE(stepAudio(engine, audioRecord(2, 8).get()));
    {
        std::lock_guard<std::mutex> lock(delegate.mutex);
        ASSERT_EQ(delegate.audio.size(), 2u);
        EXPECT_EQ(delegate.audio[0].thread, delegate.audio[1].thread);
    }
    teardown();
    EXPECT_TRUE(allEnded());
    EXPECT_FALSE(engine.handOffAudioFrame(DVAudioSelector::DV4H264, audioRecord(3, 8).get()));

    // Only the four file variants have a parser.
    engine.setDvFmtVideoCodec(3);
    EXPECT_FALSE(engine.createDVFmtParserThread());
    for (int codec = 0; codec <= 2; ++codec) {
        ASSERT_TRUE(start(codec, codec == 2));
        teardown();
    }
}

// While frames are not to flow (paused, halted) a hand-off waits; it is served once play
// resumes, or during a single step, and released when the thread is cancelled.
TEST_F(DVEngineThreadsTest, HandOffsAreServedOnlyWhileRunning) {
    ASSERT_TRUE(engine.createDVFmtAudioPlaybackThread());
    engine.audioCodec[0] = enAudioFormat_ULAW;
    auto record = audioRecord(9, 16);
    gDVFmtPlaybackKeepRunning = 0;
    auto paused = handOffLeftWaiting(engine, record.get());
    EXPECT_EQ(paused.wait_for(0ms), std::future_status::timeout);
    gDVFmtPlaybackForwardAtPause = 1; // a step while paused
    EXPECT_TRUE(paused.get());
    gDVFmtPlaybackForwardAtPause = 0;

    auto seeking = handOffLeftWaiting(engine, record.get());
    EXPECT_EQ(seeking.wait_for(0ms), std::future_status::timeout);
    gDVFmtPlaybackSliderValueChanged = 1;
    EXPECT_TRUE(seeking.get());
    gDVFmtPlaybackSliderValueChanged = 0;

    auto held = handOffLeftWaiting(engine, record.get());
    EXPECT_EQ(held.wait_for(0ms), std::future_status::timeout);
    const auto t0 = Clock::now();
    engine.cancelDVFmtAudioPlaybackThread();
    EXPECT_FALSE(held.get());
    EXPECT_LT(msSince(t0), 1000.0);
    std::lock_guard<std::mutex> lock(delegate.mutex);
    EXPECT_EQ(delegate.audio.size(), 2u);
}

// A parser that ended by itself (an empty file, with the end notice) is noticed and replaced
// at the next start; a file that cannot be opened starts none.
TEST_F(DVEngineThreadsTest, AParserThatEndedIsReplaced) {
    // A file that cannot be opened: no parser, and no start is reported.
    delegate.filePath = tmp.file("missing.dv4");
    EXPECT_FALSE(start(kDVFmtDV4H264));
    EXPECT_FALSE(engine.isDVFmtParserThreadExecuting());
    EXPECT_EQ(delegate.dvEndNotices.load(), 0);

    delegate.filePath = tmp.file("nothing.dv4");
    std::ofstream(delegate.filePath).close();
    ASSERT_TRUE(start(kDVFmtDV4H264));
    const auto t0 = Clock::now();
    while (engine.isDVFmtParserThreadExecuting() && msSince(t0) < 5000)
        std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(engine.isDVFmtParserThreadExecuting());
    EXPECT_EQ(delegate.dvEndNotices.load(), 1);

    // A file that can be read: its parser stays (at the end of the file it waits to be told
    // to play again) until it is asked to leave.
    delegate.filePath = file;
    ASSERT_TRUE(engine.createDVFmtParserThread());
    const auto t2 = Clock::now();
    while (delegate.dvEndNotices.load() < 2 && msSince(t2) < 5000)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(delegate.dvEndNotices.load(), 2) << "the end was not reached";
    // Gone to wait, not ended: a parser that left would have no thread to sleep.
    EXPECT_TRUE(testutil::waitUntilAsleep(delegate.parserTid.load())) << "the parser did not wait";
    EXPECT_TRUE(engine.isDVFmtParserThreadExecuting());
    teardown();
    EXPECT_TRUE(allEnded());

    // An empty file: the parser ends at once, without a notice.
    delegate.filePath = tmp.file("empty.dv4");
    std::ofstream(delegate.filePath).close();
    ASSERT_TRUE(start(kDVFmtDV4MPEG4));
    const auto t1 = Clock::now();
    while (engine.isDVFmtParserThreadExecuting() && msSince(t1) < 5000)
        std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(engine.isDVFmtParserThreadExecuting());
    teardown();
}

// The teardown may run on the parser thread itself (from its end callback): nothing waits for
// itself, and the next start joins the old parser.
TEST_F(DVEngineThreadsTest, TeardownOnTheParserThreadItself) {
    std::atomic<bool> tornDown{false};
    std::thread::id callbackThread;
    delegate.onDVEnd = [&] {
        callbackThread = std::this_thread::get_id();
        gDVFmtPlaybackParserThreadForceExit = 1;
        gDVFmtPlaybackKeepRunning = 1;
        engine.cancelDVFmtParserThread();
        gDVFmtPlaybackKeepRunning = 0;
        for (int ch = 0; ch < 16; ++ch)
            engine.cancelDVFmtVideoPlaybackThread(ch);
        engine.cancelDVFmtAudioPlaybackThread();
        tornDown = true;
    };
    delegate.filePath = tmp.file("empty.dv5"); // ends with the notice
    std::ofstream(delegate.filePath).close();
    ASSERT_TRUE(start(kDVFmtDV5));
    const auto t0 = Clock::now();
    while (!tornDown && msSince(t0) < 5000)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(tornDown.load());
    EXPECT_NE(callbackThread, std::this_thread::get_id());
    EXPECT_FALSE(engine.isDVFmtParserThreadExecuting());

    delegate.onDVEnd = nullptr;
    delegate.filePath = file;
    ASSERT_TRUE(start(kDVFmtDV5));
    EXPECT_EQ(gDVFmtPlaybackParserThreadForceExit.load(), 0);
    EXPECT_TRUE(engine.isDVFmtParserThreadExecuting());
    teardown();
    EXPECT_TRUE(allEnded());
}

// Cancelling a video thread in the middle of a long pacing sleep releases the waiting parser
// at once, and so does a request to close.
TEST_F(DVEngineThreadsTest, CancelOrCloseEndsAPacingSleep) {
    const std::string clipPath = tmp.file("c.h264");
    ASSERT_TRUE(makeClip(clipPath, 64, 48, 2, x264Args(1)));
    const auto frames = readFrames(clipPath);
    ASSERT_EQ(frames.size(), 2u);
    ASSERT_TRUE(engine.createDVFmtVideoPlaybackThread());

    for (int way = 0; way < 2; ++way) {
        ASSERT_TRUE(engine.createDVFmtVideoPlaybackThread());
        ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(3, DECODER_CODEC_H264));
        engine.isIFrame = 1;
        // Frames 4 s apart: the sleep after the second one lasts about 4 s.
        ASSERT_TRUE(engine.handOffVideoFrame(DVVideoSelector::DV5NVR,
                                             dv5NvrRecord(frames[0].data, 3, 1, 1, 0).get()));
        auto second = dv5NvrRecord(frames[1].data, 3, 1, 5, 0);
        auto parser = std::async(std::launch::async, [&] {
            return engine.handOffVideoFrame(DVVideoSelector::DV5NVR, second.get());
        });
        const auto t0 = Clock::now();
        while (delegate.videoCount() < size_t(2 * way + 2) && msSince(t0) < 5000)
            std::this_thread::sleep_for(1ms);
        ASSERT_EQ(delegate.videoCount(), size_t(2 * way + 2));
        ASSERT_TRUE(testutil::waitUntilAsleep(testutil::threadNamed("dv-video-3"))) << "not in its sleep";
        EXPECT_EQ(parser.wait_for(0ms), std::future_status::timeout); // sleeping
        const auto t1 = Clock::now();
        if (way == 0) {
            engine.cancelDVFmtVideoPlaybackThread(3);
        } else {
            gDVFmtPlaybackParserThreadForceExit = 1;
        }
        EXPECT_TRUE(parser.get()); // the frame had been handed off; its sleep was cut short
        EXPECT_LT(msSince(t1), 1000.0);
        gDVFmtPlaybackParserThreadForceExit = 0;
    }
}

// The whole engine started and stopped many times, with hand-offs while it runs.
TEST_F(DVEngineThreadsTest, StartAndStopAHundredTimes) {
    engine.audioCodec[0] = enAudioFormat_PCM;
    auto record = audioRecord(5, 64);
    for (int round = 0; round < 100; ++round) {
        const int codec = round % 3;
        ASSERT_TRUE(start(codec, round % 2 == 0)) << "round " << round;
        if (round % 10 == 0) {
            stopParser();
            engine.audioCodec[0] = enAudioFormat_PCM;
            for (int i = 0; i < 5; ++i)
                ASSERT_TRUE(stepAudio(engine, record.get()));
            engine.postPlaybackProgress(static_cast<float>(round));
        }
        if (round % 7 == 0) gDVFmtPlaybackKeepRunning = 0; // paused when the teardown comes
        teardown();
        ASSERT_TRUE(allEnded()) << "round " << round;
    }
    poster.drain();
    std::lock_guard<std::mutex> lock(delegate.mutex);
    EXPECT_EQ(delegate.audio.size(), 50u);
    // The test's reports, among the parsers' end-of-file 100s.
    EXPECT_EQ(
        std::count_if(delegate.progress.begin(), delegate.progress.end(), [](float p) { return p < 100; }),
        10);
}
