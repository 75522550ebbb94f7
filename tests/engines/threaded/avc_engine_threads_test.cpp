// The AVC engine's threads under rounds of open, actions, seeks and close, a close while the
// reader sleeps out a pacing delay or the index is being built, and threads cancelled under a
// running reader: nothing hangs, and under ThreadSanitizer nothing races.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <thread>

#include "../headless_delegate.h"
#include "common/mkrec_fixture.h"
#include "engines/avc_format_playback.h"
#include "recorderfile/avc_parse.h"

using namespace enginetest;
using namespace std::chrono_literals;

namespace {

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

class AVCEngineThreads : public ::testing::Test {
  protected:
    void SetUp() override {
        engine.setAppDelg(&delegate);
        engine.setMainThreadPoster(&poster);
        engine.setPImageWidthFromStream(&streamW);
        engine.setPImageHeightFromStream(&streamH);
        engine.setHandleOfImageRectFromStream();
    }
    void TearDown() override {
        engine.closeAVCFileAndStopParser();
        engine.cancelAllThreads();
        poster.drain();
    }
    bool start(const std::string &path) {
        delegate.avcStatus = kAVCFmtPlaybackPlay;
        engine.resetAVStreamType();
        return engine.createAVCFmtVideoPlaybackThread() && engine.createAVCFmtAudioPlaybackThread() &&
               engine.openAVCFileAndStartParser(path) != 0;
    }
    // Closes the file; the time it took in milliseconds.
    double timedClose() {
        const auto t0 = Clock::now();
        engine.closeAVCFileAndStopParser();
        return msSince(t0);
    }

    mkrec::TempDir dir;
    HeadlessDelegate delegate;
    QueuePoster poster;
    std::atomic<int> streamW{0}, streamH{0};
    AVCFormatPlayback engine;
};

} // namespace

TEST_F(AVCEngineThreads, RoundsOfOpenActionsSeeksAndClose) {
    const auto rec = mkrec::make(dir, "r.avc",
                                 {"--kind", "avc", "--video-mask", "0x3", "--codec", "h264,mjpeg", "--audio-mask", "0x1",
                                  "--duration", "1", "--gop", "5", "--size", "96x64"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    delegate.selectedAudioChannel = 1;
    std::mt19937 rng(11);
    for (int round = 0; round < 12; ++round) {
        ASSERT_TRUE(start(rec.path)) << "round " << round;
        for (int a = 0; a < 6; ++a) {
            std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 40));
            const int pick = static_cast<int>(rng() % 16);
            if (pick == 15) {
                engine.changePlaybackProgress(static_cast<int>(rng() % 101));
            } else {
                delegate.avcStatus = pick;
                engine.doPlaybackAction(pick);
            }
        }
        EXPECT_LT(timedClose(), 1500) << "round " << round;
        if (round % 4 == 3) engine.cancelAllThreads(); // the next round makes them again
    }
    EXPECT_GT(delegate.videoCount(), 0u);
}

TEST_F(AVCEngineThreads, CloseWakesAPacingSleepAndStopsAnIndexBuild) {
    // A 4-second jump in the time stamps at frame 3: the reader sleeps it out at 1x.
    const auto rec = mkrec::make(dir, "gap.avc",
                                 {"--kind", "avc", "--frames", "8", "--audio-mask", "0", "--gap", "3:4", "--size",
                                  "96x64"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    ASSERT_TRUE(start(rec.path));
    ASSERT_TRUE([&] {
        for (int i = 0; i < 2000 && delegate.videoCount() < 4; ++i)
            std::this_thread::sleep_for(2ms);
        return delegate.videoCount() == 4;
    }());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(delegate.videoCount(), 4u) << "asleep after the jump";
    EXPECT_LT(timedClose(), 1000);

    // Close at once after opening, while the index of a fresh file is being built.
    for (int i = 0; i < 5; ++i) {
        std::remove(avc_index_path(rec.path).c_str());
        ASSERT_TRUE(start(rec.path));
        EXPECT_LT(timedClose(), 1000);
    }

    // Playback threads cancelled under a running reader: its hand-offs are released.
    ASSERT_TRUE(start(rec.path));
    std::this_thread::sleep_for(30ms);
    engine.cancelAllThreads();
    EXPECT_LT(timedClose(), 1000);
}
