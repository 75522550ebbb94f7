// The AVC engine's threads under rounds of open, actions, seeks and close, a close while the
// reader sleeps out a pacing delay or the index is being built, and threads cancelled under a
// running reader: nothing hangs, and under ThreadSanitizer nothing races.
#include <cstdio>
#include <random>

#include "../avc_fixture.h"
#include "common/thread_state.h"
#include "recorderfile/avc_parse.h"

using namespace enginetest;

namespace {

using AVCEngineThreads = AVCEngineFixture;

double timedClose(AVCFormatPlayback &engine) {
    const auto t0 = Clock::now();
    engine.closeAVCFileAndStopParser();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

} // namespace

TEST_F(AVCEngineThreads, RoundsOfOpenActionsSeeksAndClose) {
    const auto rec = make("r.avc", {"--video-mask", "0x3", "--codec", "h264,mjpeg", "--audio-mask", "0x1",
                                    "--duration", "1", "--gop", "5", "--size", "96x64"});
    delegate.selectedAudioChannel = 1;
    std::mt19937 rng(11);
    for (int round = 0; round < 12; ++round) {
        ASSERT_TRUE(start(rec.path)) << "round " << round;
        // However busy the machine, the rounds play something.
        if (round == 0) {
            ASSERT_TRUE(waitFor([&] { return delegate.videoCount() > 0; }));
        }
        for (int a = 0; a < 6; ++a) {
            std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 40));
            const int pick = static_cast<int>(rng() % 16);
            if (pick == 15)
                engine.changePlaybackProgress(static_cast<int>(rng() % 101));
            else
                act(pick);
        }
        EXPECT_LT(timedClose(engine), 1500) << "round " << round;
        if (round % 4 == 3) engine.cancelAllThreads(); // the next round makes them again
    }
    EXPECT_GT(delegate.videoCount(), 0u);
}

TEST_F(AVCEngineThreads, CloseWakesAPacingSleepAndStopsAnIndexBuild) {
    // A 4-second jump in the time stamps at frame 3: the reader sleeps it out at 1x.
    const auto rec =
        make("gap.avc", {"--frames", "8", "--audio-mask", "0", "--gap", "3:4", "--size", "96x64"});
    ASSERT_TRUE(start(rec.path));
    ASSERT_TRUE(waitFor([&] { return delegate.videoCount() >= 4; }));
    EXPECT_GE(delegate.videoEvents()[3].interval, 4000000u) << "the jump comes with the fourth picture";
    ASSERT_TRUE(testutil::waitUntilAsleep(testutil::threadNamed("avc-video-0"))) << "not in its sleep";
    EXPECT_EQ(delegate.videoCount(), 4u) << "asleep after the jump";
    EXPECT_LT(timedClose(engine), 1000);

    // Close at once after opening, while the index of a fresh file is being built.
    for (int i = 0; i < 5; ++i) {
        std::remove(avc_index_path(rec.path).c_str());
        ASSERT_TRUE(start(rec.path));
        EXPECT_LT(timedClose(engine), 1000);
    }

    // Playback threads cancelled under a running reader (once it has handed off a picture): its
    // hand-offs are released.
    const size_t before = delegate.videoCount();
    ASSERT_TRUE(start(rec.path));
    ASSERT_TRUE(waitFor([&] { return delegate.videoCount() > before; }));
    engine.cancelAllThreads();
    EXPECT_LT(timedClose(engine), 1000);
}
