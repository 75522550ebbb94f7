// Audio through SDL's own drivers: the disk driver writes every byte the
// render callback produced to a file, so what was queued can be compared
// byte for byte with what came out; the dummy driver checks that devices are
// opened only while a channel plays.
#include <gtest/gtest.h>

#include <SDL.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_stream_processor.h"
#include "audio_test_util.h"
#include "recorderfile/audio_format.h"

using namespace audiotest;

namespace {

struct DiskCase {
    int format;
    float gain;
};

class DiskOutput : public ::testing::TestWithParam<DiskCase> {};

} // namespace

TEST_P(DiskOutput, RendersQueuedPcmExactlyAndSilenceOnUnderrun) {
    const DiskCase c = GetParam();
    const bool eightBit = c.format == enAudioFormat_PCM;
    const uint8_t silence = eightBit ? 0x80 : 0x00;
    TempDir dir;
    EnvSetting driver("SDL_AUDIODRIVER", "disk");
    EnvSetting file("SDL_DISKAUDIOFILE", dir.file("out.raw"));
    EnvSetting delay("SDL_DISKAUDIODELAY", "2"); // 2 ms per 32 ms of audio

    // 45 packets of 256 bytes: three buffers of 3840 bytes are handed over,
    // the rest stays with the writer.
    std::vector<uint8_t> data;
    std::vector<uint8_t> expected;
    for (int i = 0; i < 45 * 256; i++) {
        if (eightBit) {
            int d = 2 * (1 + i % 63); // even distances from the mid level, never 0
            int v = i % 2 ? 128 - d : 128 + d;
            data.push_back(static_cast<uint8_t>(v));
            expected.push_back(static_cast<uint8_t>(c.gain == 1.0f ? v : 128 + (v - 128) / 2));
        } else if (i % 2 == 0) {
            int mag = 2 * (1 + (i / 2) % 5000);
            int v = (i / 2) % 3 == 1 ? -mag : mag;
            int out = c.gain == 1.0f ? v : v / 2;
            data.push_back(static_cast<uint8_t>(v & 0xFF));
            data.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
            expected.push_back(static_cast<uint8_t>(out & 0xFF));
            expected.push_back(static_cast<uint8_t>((out >> 8) & 0xFF));
        }
    }
    data.resize(45 * 256);
    expected.resize(3 * 3840);

    {
        AudioStreamProcessor proc;
        ASSERT_TRUE(proc.createDeviceAudio(0));
        proc.setParameterWithChannel(0, c.format);
        // Queue before the device starts, so the output begins with the data.
        proc.changeActiveChannel(0);
        for (int p = 0; p < 45; p++) {
            ASSERT_TRUE(proc.addAudioDataToDevice(0, data.data() + p * 256, 256, nullptr, 0, nullptr, false));
        }
        proc.setVolumeViaProgramming(c.gain); // before play: SDL pulls from then on
        ASSERT_TRUE(proc.playDeviceAudio(0));
        // Until the data and some silence after it have come out. The driver writes through a
        // buffer, so what shows in the file lags: ask for well more than the data.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (readFile(dir.file("out.raw")).size() < expected.size() + 512 + 16384 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(proc.stopDeviceAudio(0));
        ASSERT_TRUE(proc.removeDeviceAudio(0)); // closes the file
    }
    std::vector<uint8_t> out = readFile(dir.file("out.raw"));
    size_t start = 0;
    while (start < out.size() && out[start] == silence) {
        start++;
    }
    ASSERT_GE(out.size(), start + expected.size() + 512) << "too little was rendered";
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + static_cast<long>(start),
                                   out.begin() + static_cast<long>(start + expected.size())),
              expected);
    for (size_t i = start + expected.size(); i < out.size(); i++) {
        ASSERT_EQ(out[i], silence) << "byte " << i << " of " << out.size();
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, DiskOutput,
                         ::testing::Values(DiskCase{enAudioFormat_PCM16, 1.0f},
                                           DiskCase{enAudioFormat_PCM16, 0.5f},
                                           DiskCase{enAudioFormat_PCM, 1.0f},
                                           DiskCase{enAudioFormat_PCM, 0.5f}),
                         [](const ::testing::TestParamInfo<DiskCase> &info) {
                             return std::string(info.param.format == enAudioFormat_PCM ? "u8" : "s16") +
                                    (info.param.gain == 1.0f ? "_full" : "_half");
                         });

TEST(SdlDevices, OpenOnlyWhilePlayingAndNoneLeftAfterRemoval) {
    EnvSetting driver("SDL_AUDIODRIVER", "dummy");
    ASSERT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    for (int round = 0; round < 8; round++) {
        SCOPED_TRACE(round);
        AudioStreamProcessor proc;
        for (int ch = 0; ch < 16; ch++) {
            ASSERT_TRUE(proc.createDeviceAudio(ch));
            proc.setParameterWithChannel(ch, ch % 2 ? enAudioFormat_G723 : enAudioFormat_PCM);
        }
        // Sixteen managers, no device.
        EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);

        int playing = round % 16;
        ASSERT_TRUE(proc.playDeviceAudio(playing));
        ASSERT_TRUE(proc.playDeviceAudio((playing + 5) % 16));
        EXPECT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u);
        std::vector<uint8_t> packet(480, 0x3C);
        for (int i = 0; i < 20; i++) {
            EXPECT_TRUE(proc.addAudioDataToDevice((playing + 5) % 16, packet.data(), 480, nullptr, 0, nullptr,
                                                  false));
        }
        // Teardown as the application does it; on odd rounds the playing
        // channel is removed without a stop first.
        for (int ch = 0; ch < 16; ch++) {
            if (round % 2 == 0 || ch != playing) {
                proc.stopDeviceAudio(ch);
            }
            EXPECT_TRUE(proc.removeDeviceAudio(ch));
        }
        EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "a device is still open";
    }
}

// A playing device must leave SIGTERM to the process: the player has to stay stoppable by it.
TEST(SdlSignals, TermStillEndsAProcessWithAudioPlaying) {
    EnvSetting driver("SDL_AUDIODRIVER", "dummy");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        AudioStreamProcessor proc;
        if (!proc.createDeviceAudio(0)) _exit(2);
        proc.setParameterWithChannel(0, enAudioFormat_PCM16);
        proc.changeActiveChannel(0);
        if (!proc.playDeviceAudio(0)) _exit(3);
        raise(SIGTERM);
        _exit(4); // only reached when SIGTERM was taken over
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child exited with " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
}
