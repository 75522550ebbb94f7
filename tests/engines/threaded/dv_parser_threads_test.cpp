// The DV parser with the engine's threads: playing to the end and again, closing at any point,
// a file with nothing to play, and the teardown run from the end notice on the parser thread.
#include <gtest/gtest.h>

#include <fstream>

#include "engines/dv_play_harness.h"

using namespace enginetest;
using namespace std::chrono_literals;

namespace {

mkrec::Recording smallRecording(const mkrec::TempDir &dir, const DVKind &kind) {
    return mkrec::make(dir, std::string("r-") + kind.kind,
                       {"--kind", kind.kind, "--size", "64x48", "--frames", "6", "--gop", "3", "--video-mask",
                        kind.dv5() ? "0x5" : "0x1", "--audio-mask", "0x1"});
}

} // namespace

// Played to the end, the file plays again from its start when asked; each playthrough ends with
// one notice and delivers every frame.
TEST(DVParserThreads, PlaysToTheEndAndAgain) {
    mkrec::TempDir dir;
    for (const DVKind &kind : {kDV4H264, kDV5NVR}) {
        SCOPED_TRACE(kind.kind);
        const mkrec::Recording rec = smallRecording(dir, kind);
        ASSERT_TRUE(rec.ok()) << rec.output;
        const size_t frames = rec.manifest.video().size();
        DVPlayer player;
        player.delegate.selectedAudioChannel = 1;
        ASSERT_TRUE(player.start(kind, rec.path));
        ASSERT_TRUE(player.waitForEnd(1));
        ASSERT_TRUE(player.waitUntilParserRests());
        EXPECT_EQ(player.delegate.dvEndNotices.load(), 1);
        EXPECT_EQ(gDVFmtPlaybackKeepRunning.load(), 0);
        player.play();
        ASSERT_TRUE(player.waitForEnd(2));
        ASSERT_EQ(player.videoAtEnd.size(), 2u);
        EXPECT_EQ(player.videoAtEnd[0], frames);
        EXPECT_EQ(player.videoAtEnd[1], 2 * frames);
        player.close();
    }
}

// Closing works while frames flow (paced), while paused inside a hand-off, and while idle.
TEST(DVParserThreads, ClosesAtAnyPoint) {
    mkrec::TempDir dir;
    const mkrec::Recording rec = smallRecording(dir, kDV5DVR);
    ASSERT_TRUE(rec.ok()) << rec.output;
    for (int when = 0; when < 3; ++when) {
        SCOPED_TRACE("case " + std::to_string(when));
        DVPlayer player(/*pacedAtStart=*/true);
        ASSERT_TRUE(player.start(kDV5DVR, rec.path));
        ASSERT_TRUE(waitFor([&] { return player.videoCount() >= 2; }));
        if (when == 1) player.pauseNow();
        if (when == 2) {
            ASSERT_TRUE(player.seek(60));
        }
        const auto t0 = Clock::now();
        player.close();
        EXPECT_LT(msSince(t0), 3000.0);
        EXPECT_FALSE(player.engine.isDVFmtParserThreadExecuting());
    }
}

// A file without a single unit ends once, then waits (it does not end again and again) until
// the application plays it again.
TEST(DVParserThreads, NothingToPlayEndsOnce) {
    mkrec::TempDir dir;
    const std::string path = dir.file("noise.dv4");
    std::ofstream(path, std::ios::binary) << std::string(300000, '\x5a');
    DVPlayer player;
    ASSERT_TRUE(player.start(kDV4H264, path));
    ASSERT_TRUE(player.waitForEnd(1));
    ASSERT_TRUE(player.waitUntilParserRests());
    EXPECT_EQ(player.delegate.dvEndNotices.load(), 1);
    player.play();
    ASSERT_TRUE(player.waitForEnd(2));
    ASSERT_TRUE(player.waitUntilParserRests());
    EXPECT_EQ(player.delegate.dvEndNotices.load(), 2);
    EXPECT_EQ(player.videoCount(), 0u);
}

// The end of a conversion tears the engine down from the end notice, on the parser thread: the
// parser leaves after it, and the next file starts cleanly.
TEST(DVParserThreads, TeardownFromTheEndNotice) {
    mkrec::TempDir dir;
    const mkrec::Recording rec = smallRecording(dir, kDV4MPEG4);
    ASSERT_TRUE(rec.ok()) << rec.output;
    DVPlayer player;
    std::atomic<bool> tornDown{false};
    player.delegate.onDVEnd = [&] {
        gDVFmtPlaybackParserThreadForceExit = 1;
        gDVFmtPlaybackKeepRunning = 1;
        player.engine.cancelDVFmtParserThread();
        gDVFmtPlaybackKeepRunning = 0;
        for (int ch = 0; ch < 16; ++ch)
            player.engine.cancelDVFmtVideoPlaybackThread(ch);
        player.engine.cancelDVFmtAudioPlaybackThread();
        tornDown = true;
    };
    ASSERT_TRUE(player.start(kDV4MPEG4, rec.path));
    ASSERT_TRUE(waitFor([&] { return tornDown.load(); }));
    ASSERT_TRUE(waitFor([] { return gDVFmtPlaybackParserThreadForceExit.load() == 0; }))
        << "the parser stayed";
    EXPECT_EQ(player.videoCount(), rec.manifest.video().size());

    player.delegate.onDVEnd = nullptr;
    ASSERT_TRUE(player.start(kDV4MPEG4, rec.path));
    ASSERT_TRUE(waitFor([&] { return player.delegate.dvEndNotices.load() >= 2; }));
    EXPECT_EQ(player.videoCount(), 2 * rec.manifest.video().size());
}
