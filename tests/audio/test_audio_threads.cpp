// The ring's hand-off between a writer thread and the render thread, and the
// stream processor under callers on several threads. Run under
// ThreadSanitizer as well (label "threaded").
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_mgr.h"
#include "audio/audio_stream_processor.h"
#include "recorderfile/audio_format.h"

namespace {

constexpr int kPacketSamples = 128;
constexpr int kRampPeriod = 255 * kPacketSamples; // the ramp wraps at a packet boundary

// Sample n of the ramp: 1, 2, ... kRampPeriod, 1, ...; never 0 (silence).
int rampValue(long n) {
    return static_cast<int>(n % kRampPeriod) + 1;
}

std::vector<uint8_t> rampPacket(long packetIndex) {
    std::vector<uint8_t> p;
    for (int i = 0; i < kPacketSamples; i++) {
        int v = rampValue(packetIndex * kPacketSamples + i);
        p.push_back(static_cast<uint8_t>(v & 0xFF));
        p.push_back(static_cast<uint8_t>(v >> 8));
    }
    return p;
}

int sampleAt(const std::vector<uint8_t> &b, size_t i) {
    return static_cast<int16_t>(static_cast<uint16_t>(b[2 * i] | (b[2 * i + 1] << 8)));
}

// Render block sizes that do not line up with packets or buffers.
const uint32_t kBlockSizes[] = {512, 100, 2048, 6, 4096, 1000, 8192, 30};

} // namespace

TEST(RingThreads, PacedWriterAndRenderGiveTheWholeRampInOrder) {
    AudioMgr mgr(&createNullAudioOutput);
    mgr.setFormat(enAudioFormat_PCM16);
    ASSERT_TRUE(mgr.createDefaultAudioOuputDevice());
    ASSERT_TRUE(mgr.play());

    constexpr long kPackets = 3000;
    // A buffer goes over with 15 packets; the writer keeps the last partial one.
    constexpr long kExpected = (kPackets / 15) * 15 * kPacketSamples - 15 * kPacketSamples;
    std::atomic<long> rendered{0};
    std::atomic<bool> writerDone{false};

    std::thread writer([&] {
        for (long p = 0; p < kPackets; p++) {
            // Stay well inside the ring so that nothing is overtaken.
            while ((p * kPacketSamples) - rendered.load() > 10L * 15 * kPacketSamples) {
                std::this_thread::yield();
            }
            std::vector<uint8_t> packet = rampPacket(p);
            if (!mgr.addAudioData(packet.data(), static_cast<int>(packet.size()), nullptr, 0, nullptr,
                                  false)) {
                break;
            }
        }
        writerDone = true;
    });

    std::vector<std::string> faults;
    long next = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int cycle = 0;
    while (next < kExpected && std::chrono::steady_clock::now() < deadline && faults.empty()) {
        uint32_t bytes = kBlockSizes[cycle++ % (sizeof kBlockSizes / sizeof kBlockSizes[0])];
        std::vector<uint8_t> block(bytes, 0xA5);
        AudioMgr::AudioRender(&mgr, block.data(), bytes);
        bool inSilence = false;
        for (size_t i = 0; i < bytes / 2; i++) {
            int v = sampleAt(block, i);
            if (v == 0) {
                inSilence = true;
                continue;
            }
            if (inSilence) {
                faults.push_back("audio after silence within one block at cycle " + std::to_string(cycle));
                break;
            }
            if (v != rampValue(next)) {
                faults.push_back("sample " + std::to_string(next) + " is " + std::to_string(v) +
                                 ", expected " + std::to_string(rampValue(next)));
                break;
            }
            next++;
        }
        rendered = next;
        if (next == 0 || inSilence) {
            std::this_thread::yield();
        }
    }
    writer.join();
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_GE(next, kExpected);
    EXPECT_TRUE(writerDone);
}

TEST(RingThreads, OvertakingWriterNeverTearsABuffer) {
    AudioMgr mgr(&createNullAudioOutput);
    mgr.setFormat(enAudioFormat_PCM16);
    ASSERT_TRUE(mgr.createDefaultAudioOuputDevice());
    ASSERT_TRUE(mgr.play());

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (long p = 0; !stop.load(); p++) {
            std::vector<uint8_t> packet = rampPacket(p);
            mgr.addAudioData(packet.data(), static_cast<int>(packet.size()), nullptr, 0, nullptr, false);
        }
    });

    // Every block is pieces of the ramp, each piece breaking off only at a
    // packet's end and going on at a packet's start, then silence. (Between
    // two blocks the writer may have emptied and refilled the buffer the
    // render side was in: a block may start anywhere.)
    std::vector<std::string> faults;
    long samplesSeen = 0;
    // A while of racing, and on a busy machine on until the writer has got some ramp through.
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::milliseconds(700), deadline = start + std::chrono::seconds(20);
    int cycle = 0;
    for (auto now = start; (now < until || samplesSeen == 0) && now < deadline && faults.empty();
         now = std::chrono::steady_clock::now()) {
        uint32_t bytes = kBlockSizes[cycle++ % (sizeof kBlockSizes / sizeof kBlockSizes[0])];
        std::vector<uint8_t> block(bytes, 0xA5);
        AudioMgr::AudioRender(&mgr, block.data(), bytes);
        int prev = 0;
        bool inSilence = false;
        for (size_t i = 0; i < bytes / 2 && faults.empty(); i++) {
            int v = sampleAt(block, i);
            if (v == 0) {
                inSilence = true;
            } else if (inSilence) {
                faults.push_back("audio after silence within one block");
            } else {
                bool continues = prev == 0 || v == prev + 1 || (prev == kRampPeriod && v == 1);
                bool packetBoundary = prev % kPacketSamples == 0 && v % kPacketSamples == 1;
                if (!continues && !packetBoundary) {
                    faults.push_back("torn at " + std::to_string(prev) + " -> " + std::to_string(v));
                }
                samplesSeen++;
            }
            prev = v;
        }
    }
    stop = true;
    writer.join();
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_GT(samplesSeen, 0);
}

namespace {

// An output with a thread of its own that pulls from the render callback
// while started, like a sound device.
class PullingOutput final : public AudioOutput {
  public:
    ~PullingOutput() override { uninitialize(); }
    int setRenderCallback(AudioRenderProc proc, void *refCon) override {
        proc_ = proc;
        refCon_ = refCon;
        return kAudioOutputOK;
    }
    int setStreamFormat(const AudioStreamFormat &) override { return kAudioOutputOK; }
    int initialize() override {
        if (!thread_.joinable()) {
            quit_ = false;
            thread_ = std::thread([this] {
                std::vector<uint8_t> buffer(512);
                while (!quit_.load()) {
                    if (running_.load()) {
                        proc_(refCon_, buffer.data(), static_cast<uint32_t>(buffer.size()));
                    }
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
            });
        }
        return kAudioOutputOK;
    }
    int start() override {
        running_ = true;
        return kAudioOutputOK;
    }
    int stop() override {
        running_ = false;
        return kAudioOutputOK;
    }
    int uninitialize() override {
        quit_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        return kAudioOutputOK;
    }

  private:
    AudioRenderProc proc_ = nullptr;
    void *refCon_ = nullptr;
    std::thread thread_;
    std::atomic<bool> quit_{false};
    std::atomic<bool> running_{false};
};

std::unique_ptr<AudioOutput> makePulling() {
    return std::make_unique<PullingOutput>();
}

} // namespace

TEST(ProcessorThreads, EngineAndMainThreadsCallAtOnce) {
    AudioStreamProcessor proc(&makePulling);
    for (int ch = 0; ch < 4; ch++) {
        ASSERT_TRUE(proc.createDeviceAudio(ch));
        proc.setParameterWithChannel(ch, ch == 3 ? enAudioFormat_G723 : enAudioFormat_PCM16);
    }
    ASSERT_TRUE(proc.playDeviceAudio(0));

    std::atomic<bool> stop{false};
    std::atomic<long> accepted{0};
    // The engine's audio thread: packets of every channel, PCM copied.
    std::thread audio([&] {
        std::vector<uint8_t> packet = rampPacket(1);
        std::vector<char> copy(4096);
        for (int n = 0; !stop.load(); n++) {
            int len = 0;
            if (proc.addAudioDataToDevice(n % 5, packet.data(), static_cast<int>(packet.size()), copy.data(),
                                          4096, &len, true)) {
                accepted++;
            }
        }
    });
    // A parser thread announcing channels, as at a channel's first audio.
    std::thread parser([&] {
        for (int n = 0; !stop.load(); n++) {
            int ch = n % 4;
            proc.setParameterWithChannel(ch, ch == 3 ? enAudioFormat_G723 : enAudioFormat_PCM16);
            proc.playDeviceAudio(ch);
            proc.setVolumeViaProgramming(0.25f * static_cast<float>(n % 5));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    // The main thread: stop, switch, and a channel removed and made again; on a busy machine
    // on until the audio thread has had a packet taken.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int n = 0; n < 60 || (accepted.load() == 0 && std::chrono::steady_clock::now() < deadline); n++) {
        proc.changeActiveChannel(n % 4);
        proc.stopDeviceAudio((n + 1) % 4);
        if (n % 10 == 0) {
            proc.removeDeviceAudio(4);
            proc.createDeviceAudio(4);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
    audio.join();
    parser.join();
    for (int ch = 0; ch < 5; ch++) {
        proc.stopDeviceAudio(ch);
        proc.removeDeviceAudio(ch);
    }
    EXPECT_GT(accepted.load(), 0);
    EXPECT_EQ(proc.activeChannel(), -1);
}
