// The stream processor's routing: one manager per channel, only the active
// channel's packets decoded and queued. Each manager's output is a fake that
// records what was asked of it and lets the test pull from its render callback.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "audio/audio_stream_processor.h"
#include "platform/log.h"
#include "recorderfile/audio_format.h"

namespace {

struct FakeRecord {
    AudioRenderProc proc = nullptr;
    void *refCon = nullptr;
    bool alive = true;
    bool open = false;
    bool running = false;
    int starts = 0;
    int stops = 0;
};

std::vector<std::shared_ptr<FakeRecord>> gOutputs; // in creation order
bool gFailNextStart = false;
bool gRefuseToMake = false;

class FakeOutput final : public AudioOutput {
  public:
    explicit FakeOutput(std::shared_ptr<FakeRecord> r) : r_(std::move(r)) {}
    ~FakeOutput() override { r_->alive = false; }
    int setRenderCallback(AudioRenderProc proc, void *refCon) override {
        r_->proc = proc;
        r_->refCon = refCon;
        return kAudioOutputOK;
    }
    int setStreamFormat(const AudioStreamFormat &f) override {
        return f.mFormatID == kAudioStreamLinearPCM ? kAudioOutputOK : kAudioOutputErrFormat;
    }
    int initialize() override {
        r_->open = true;
        return kAudioOutputOK;
    }
    int start() override {
        if (gFailNextStart) {
            gFailNextStart = false;
            return kAudioOutputErrState;
        }
        r_->running = true;
        r_->starts++;
        return kAudioOutputOK;
    }
    int stop() override {
        r_->running = false;
        r_->stops++;
        return kAudioOutputOK;
    }
    int uninitialize() override {
        r_->open = false;
        return kAudioOutputOK;
    }

  private:
    std::shared_ptr<FakeRecord> r_;
};

std::unique_ptr<AudioOutput> makeFake() {
    if (gRefuseToMake) {
        return nullptr;
    }
    gOutputs.push_back(std::make_shared<FakeRecord>());
    return std::make_unique<FakeOutput>(gOutputs.back());
}

class Processor : public ::testing::Test {
  protected:
    void SetUp() override {
        gOutputs.clear();
        gFailNextStart = false;
        gRefuseToMake = false;
    }
    // Creates managers for the channels given, in order; output i belongs to channels[i].
    void create(std::initializer_list<int> channels) {
        for (int ch : channels) {
            ASSERT_TRUE(proc.createDeviceAudio(ch));
            proc.setParameterWithChannel(ch, enAudioFormat_PCM16);
        }
    }
    // A full buffer's worth of one repeated 16-bit value, in one packet.
    static std::vector<uint8_t> packet(uint8_t value) { return std::vector<uint8_t>(4096, value); }
    bool send(int channel, const std::vector<uint8_t> &data) {
        return proc.addAudioDataToDevice(channel, data.data(), static_cast<int>(data.size()), nullptr, 0,
                                         nullptr, false);
    }
    // What output i's render callback plays next.
    std::vector<uint8_t> pull(size_t i, size_t bytes = 4096) {
        std::vector<uint8_t> out(bytes, 0xA5);
        FakeRecord &r = *gOutputs.at(i);
        EXPECT_TRUE(r.alive);
        r.proc(r.refCon, out.data(), static_cast<uint32_t>(bytes));
        return out;
    }
    static bool all(const std::vector<uint8_t> &v, uint8_t value) {
        for (uint8_t b : v) {
            if (b != value) {
                return false;
            }
        }
        return true;
    }

    AudioStreamProcessor proc{&makeFake};
};

} // namespace

TEST_F(Processor, OneManagerPerChannel) {
    ASSERT_TRUE(proc.createDeviceAudio(3));
    EXPECT_FALSE(proc.createDeviceAudio(3));
    ASSERT_EQ(gOutputs.size(), 1u); // no second output was even made
    EXPECT_TRUE(gOutputs[0]->alive);
    EXPECT_FALSE(gOutputs[0]->open); // creating opens no device
    EXPECT_TRUE(proc.hasDeviceAudio(3));

    // An output that cannot be made leaves no entry behind.
    gRefuseToMake = true;
    EXPECT_FALSE(proc.createDeviceAudio(2));
    EXPECT_FALSE(proc.hasDeviceAudio(2));
    gRefuseToMake = false;
    EXPECT_TRUE(proc.createDeviceAudio(2));
}

TEST_F(Processor, EmptyPacketsAreRefusedEvenForTheActiveChannel) {
    create({0});
    ASSERT_TRUE(proc.playDeviceAudio(0));
    std::vector<uint8_t> data(16, 1);
    int len = 77;
    EXPECT_FALSE(proc.addAudioDataToDevice(0, data.data(), 0, nullptr, 0, &len, false));
    EXPECT_EQ(len, 0);
    EXPECT_FALSE(proc.addAudioDataToDevice(0, data.data(), -4, nullptr, 0, nullptr, false));
    EXPECT_FALSE(proc.addAudioDataToDevice(0, nullptr, 16, nullptr, 0, nullptr, false));
}

TEST_F(Processor, OnlyTheActiveChannelIsQueuedAndHeard) {
    create({0, 1, 2, 3});
    // No active channel yet: packets are accepted and dropped.
    EXPECT_EQ(proc.activeChannel(), -1);
    EXPECT_TRUE(send(2, packet(0x11)));

    ASSERT_TRUE(proc.playDeviceAudio(2));
    EXPECT_EQ(proc.activeChannel(), 2);
    EXPECT_TRUE(gOutputs[2]->running);
    EXPECT_FALSE(gOutputs[0]->open || gOutputs[1]->open || gOutputs[3]->open);
    for (int ch = 0; ch < 4; ch++) {
        EXPECT_TRUE(send(ch, packet(static_cast<uint8_t>(0x21 + ch))));
    }
    EXPECT_TRUE(all(pull(2), 0x23)); // the packet sent before play was not kept
    for (size_t i : {0u, 1u, 3u}) {
        EXPECT_TRUE(all(pull(i), 0)) << "channel " << i;
    }

    // Switching the active channel starts and stops nothing; later packets of
    // the new channel are queued, those of the old one dropped.
    proc.changeActiveChannel(3);
    EXPECT_EQ(gOutputs[3]->starts, 0);
    EXPECT_TRUE(gOutputs[2]->running);
    EXPECT_TRUE(send(2, packet(0x32)));
    EXPECT_TRUE(send(3, packet(0x33)));
    EXPECT_TRUE(all(pull(3), 0x33));
    EXPECT_TRUE(all(pull(2), 0));
}

TEST_F(Processor, CopyCountIsZeroWheneverNothingWasCopied) {
    create({0, 1});
    ASSERT_TRUE(proc.playDeviceAudio(0));
    std::vector<uint8_t> data(100, 0x42);
    std::vector<char> copy(4096, 0);
    int len = -1;
    ASSERT_TRUE(proc.addAudioDataToDevice(0, data.data(), 100, copy.data(), 4096, &len, true));
    EXPECT_EQ(len, 100);

    // Another channel: accepted, nothing copied, and the count says so.
    std::vector<uint8_t> other(50, 0x17);
    std::fill(copy.begin(), copy.end(), 0);
    EXPECT_TRUE(proc.addAudioDataToDevice(1, other.data(), 50, copy.data(), 4096, &len, true));
    EXPECT_EQ(len, 0);
    EXPECT_EQ(copy[0], 0);
    // A channel without a manager: refused, count 0.
    len = -1;
    EXPECT_FALSE(proc.addAudioDataToDevice(9, other.data(), 50, copy.data(), 4096, &len, true));
    EXPECT_EQ(len, 0);
}

TEST_F(Processor, ActiveChannelWithoutManagerRefusesPackets) {
    create({0});
    ASSERT_TRUE(proc.playDeviceAudio(0));
    proc.changeActiveChannel(7);
    EXPECT_EQ(proc.activeChannel(), 7);
    EXPECT_FALSE(send(7, packet(1)));
    EXPECT_TRUE(send(0, packet(1))); // no longer active: dropped
    EXPECT_TRUE(all(pull(0), 0));
}

TEST_F(Processor, StopAndFailedStartLeaveOtherActiveChannelsAlone) {
    create({0, 1});
    ASSERT_TRUE(proc.playDeviceAudio(0));
    EXPECT_TRUE(proc.stopDeviceAudio(1));
    EXPECT_EQ(proc.activeChannel(), 0);
    EXPECT_TRUE(proc.stopDeviceAudio(0));
    EXPECT_EQ(proc.activeChannel(), -1);
    EXPECT_FALSE(gOutputs[0]->running || gOutputs[0]->open);
    EXPECT_FALSE(proc.stopDeviceAudio(5));
    EXPECT_FALSE(proc.playDeviceAudio(5));

    // A start that fails leaves the active channel as it was.
    ASSERT_TRUE(proc.playDeviceAudio(0));
    gFailNextStart = true;
    EXPECT_FALSE(proc.playDeviceAudio(1));
    EXPECT_EQ(proc.activeChannel(), 0);
}

TEST_F(Processor, VolumeReachesTheActiveChannelOnly) {
    create({0, 1});
    std::vector<uint8_t> loud;
    for (int i = 0; i < 2048; i++) {
        loud.push_back(0x00);
        loud.push_back(0x40); // 16384
    }
    // No active channel: nothing takes the volume.
    proc.setVolumeViaProgramming(0.5f);
    ASSERT_TRUE(proc.playDeviceAudio(1));
    ASSERT_TRUE(proc.playDeviceAudio(0));
    ASSERT_TRUE(send(0, loud));
    std::vector<uint8_t> out = pull(0);
    EXPECT_EQ(out[1], 0x40);

    proc.setVolumeViaProgramming(0.5f);
    ASSERT_TRUE(send(0, loud));
    out = pull(0);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x20); // 8192

    proc.changeActiveChannel(1);
    ASSERT_TRUE(send(1, loud));
    out = pull(1);
    EXPECT_EQ(out[1], 0x40); // channel 1 never got the volume
}

TEST_F(Processor, RemovingClosesTheOutputAndClearsTheActiveChannel) {
    create({0, 1, 2});
    ASSERT_TRUE(proc.playDeviceAudio(1));
    EXPECT_TRUE(proc.removeDeviceAudio(1));
    EXPECT_EQ(proc.activeChannel(), -1);
    EXPECT_FALSE(gOutputs[1]->alive);
    EXPECT_FALSE(proc.removeDeviceAudio(1));
    EXPECT_FALSE(proc.hasDeviceAudio(1));
    EXPECT_FALSE(send(1, packet(1)));
}

TEST(ProcessorLifetime, ReleasingTheProcessorClosesEveryOutput) {
    gOutputs.clear();
    {
        AudioStreamProcessor proc(&makeFake);
        for (int ch = 0; ch < 16; ch++) {
            ASSERT_TRUE(proc.createDeviceAudio(ch));
        }
        proc.setParameterWithChannel(4, enAudioFormat_G723);
        ASSERT_TRUE(proc.playDeviceAudio(4));
    }
    ASSERT_EQ(gOutputs.size(), 16u);
    for (const auto &r : gOutputs) {
        EXPECT_FALSE(r->alive);
    }
}
