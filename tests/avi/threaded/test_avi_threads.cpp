// Stop may come from another thread while frames and audio are still being written: the file
// must come out whole, with every size and index row in agreement.

#include "avi/avi_test_util.h"

#include <atomic>
#include <chrono>
#include <thread>

using namespace avitest;

TEST(AviThreads, StopRacingVideoAndAudioGivesAValidFile) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        TempDir dir;
        const std::string path = dir.file("race.avi");
        ANAVIFrameBuilder b;
        ASSERT_EQ(b.startRecordingToFile(path), AviResult::Ok);
        std::atomic<bool> go{false};
        std::atomic<int> videoCalls{0};
        std::thread video([&] {
            std::vector<char> f(301, 7);
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < 3000; ++i) {
                b.videoDataWrappingForAVIConversion(f.data(), int(f.size()) - i % 2, 64, 48, i % 15 == 0,
                                                    i % 3 ? 66000 : 1000,
                                                    recorderTime(2024, 1, 1, 0, 0, i / 30 % 60), 0);
                ++videoCalls;
            }
        });
        std::thread audio([&] {
            std::vector<char> pcm(267, 3);
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < 3000; ++i)
                b.audioDataWrappingForAVIConversion(pcm.data(), 267, 1, 2);
        });
        go = true;
        while (videoCalls < 50 + round * 20)
            std::this_thread::yield();
        const AviResult r = b.stopRecording(true);
        video.join();
        audio.join();
        ASSERT_EQ(r, AviResult::Ok);
        AviLayout l = walk(readFile(path));
        EXPECT_GT(l.totalFrames, 0u);
        EXPECT_FALSE(exists(path + ".tmp"));
        EXPECT_FALSE(exists(path + ".index"));
    }
}
