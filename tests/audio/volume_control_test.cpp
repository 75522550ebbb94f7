#include "audio/kn_volume_control.h"
#include "common/run_cmd.h"
#include "platform/log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <regex>
#include <thread>

namespace {

struct FakeDevice {
    bool haveDevice = true, readFails = false, muteFails = false;
    float volume = 0.5f;
    bool muted = false;
    int setVolumeCalls = 0;
};

class FakeBackend : public VolumeBackend {
  public:
    explicit FakeBackend(FakeDevice &d) : d_(d) {}
    bool defaultOutputDevice(uint32_t &id) override {
        if (!d_.haveDevice) return false;
        id = 42;
        return true;
    }
    bool getVolume(uint32_t id, float &v) override {
        if (id != 42 || d_.readFails) return false;
        v = d_.volume;
        return true;
    }
    bool setVolume(uint32_t id, float v) override {
        if (id != 42) return false;
        ++d_.setVolumeCalls;
        d_.volume = v;
        return true;
    }
    bool setMute(uint32_t id, bool m) override {
        if (id != 42 || (m && d_.muteFails)) return false;
        d_.muted = m;
        return true;
    }

  private:
    FakeDevice &d_;
};

} // namespace

TEST(VolumeControl, SetClampsAndMutesBelowThreshold) {
    FakeDevice d;
    KNVolumeControl vc(std::make_unique<FakeBackend>(d));
    EXPECT_EQ(vc.outputDeviceID(), 0u);
    EXPECT_TRUE(vc.setHardwareVolume(0.0005f));
    EXPECT_TRUE(d.muted);
    EXPECT_FLOAT_EQ(d.volume, 0.5f); // muting leaves the volume as it was
    EXPECT_EQ(vc.outputDeviceID(), 42u);
    EXPECT_TRUE(vc.setHardwareVolume(1.7f));
    EXPECT_FLOAT_EQ(d.volume, 1.0f);
    EXPECT_FALSE(d.muted);
    EXPECT_TRUE(vc.setHardwareVolume(-3.0f));
    EXPECT_TRUE(d.muted);
    EXPECT_FLOAT_EQ(vc.getHardwareVolume(), 1.0f);
}

TEST(VolumeControl, StepsOfOneSixteenth) {
    FakeDevice d;
    KNVolumeControl vc(std::make_unique<FakeBackend>(d));
    d.volume = 0.97f;
    vc.increaseVolume();
    EXPECT_FLOAT_EQ(d.volume, 1.0f);
    d.volume = 0.5f;
    vc.decreaseVolume();
    EXPECT_FLOAT_EQ(d.volume, 0.4375f);
    EXPECT_FALSE(d.muted);
    d.volume = 0.05f;
    vc.decreaseVolume();
    EXPECT_TRUE(d.muted);
    EXPECT_FLOAT_EQ(d.volume, 0.05f);
}

TEST(VolumeControl, UnreadableOrOutOfRangeVolumeChangesNothing) {
    FakeDevice d;
    KNVolumeControl vc(std::make_unique<FakeBackend>(d));
    d.readFails = true;
    EXPECT_FLOAT_EQ(vc.getHardwareVolume(), 0.0f);
    vc.decreaseVolume();
    vc.increaseVolume();
    EXPECT_FALSE(d.muted);
    EXPECT_EQ(d.setVolumeCalls, 0);
    d.readFails = false;
    d.volume = 1.5f; // outside the device's range
    EXPECT_FLOAT_EQ(vc.getHardwareVolume(), 0.0f);
    vc.decreaseVolume();
    EXPECT_FALSE(d.muted);
    d.volume = std::nanf("");
    vc.decreaseVolume();
    EXPECT_FALSE(d.muted);
    EXPECT_FALSE(vc.setHardwareVolume(std::nanf("")));
    EXPECT_EQ(d.setVolumeCalls, 0);
    d.haveDevice = false;
    EXPECT_FALSE(vc.setHardwareVolume(0.3f));
    EXPECT_EQ(vc.outputDeviceID(), 0u);
}

TEST(VolumeControl, MuteFailureIsReported) {
    FakeDevice d;
    d.muteFails = true;
    KNVolumeControl vc(std::make_unique<FakeBackend>(d));
    std::string log;
    player_log_set_sink([&](const std::string &s) { log += s; });
    EXPECT_FALSE(vc.setHardwareVolume(0.0f));
    player_log_set_sink(nullptr);
    EXPECT_NE(log.find("Unable to mute device."), std::string::npos);
}

TEST(VolumeControl, ToggleMuteStartsByMuting) {
    FakeDevice d;
    d.muted = true; // whatever the device says, the first toggle mutes
    KNVolumeControl vc(std::make_unique<FakeBackend>(d));
    vc.toggleMute();
    EXPECT_TRUE(d.muted);
    vc.toggleMute();
    EXPECT_FALSE(d.muted);
    vc.toggleMute();
    EXPECT_TRUE(d.muted);
    vc.toggleMute();
}

// Against a real sound server: a PulseAudio null sink behind ALSA's default device.
class SystemVolume : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!testutil::haveTool("pulseaudio") || !testutil::haveTool("pactl"))
            GTEST_SKIP() << "pulseaudio not installed";
        std::string rt = dir_.path() + "/run";
        mkdir(rt.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", rt.c_str(), 1);
        setenv("PULSE_RUNTIME_PATH", (rt + "/pulse").c_str(), 1);
        std::string out;
        int rc = testutil::runCommand(
            "pulseaudio --daemonize=yes --system=no --exit-idle-time=-1 -n --use-pid-file=yes "
            "--load='module-null-sink sink_name=nullsink' --load=module-native-protocol-unix "
            "--log-target=file:" +
                dir_.path() + "/pa.log 2>&1; echo rc=$?",
            &out);
        (void)rc;
        for (int i = 0; i < 50 && testutil::runCommand("pactl info >/dev/null 2>&1") != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (testutil::runCommand("pactl info >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "no PulseAudio server could be started here: " << out;
        started_ = true;
    }
    void TearDown() override {
        if (!started_) return;
        std::string pid;
        testutil::runCommand("cat \"$PULSE_RUNTIME_PATH/pid\" 2>/dev/null", &pid);
        if (!pid.empty()) kill(std::stoi(pid), SIGTERM);
    }
    static int pactlVolumePercent() {
        std::string out;
        testutil::runCommand("pactl get-sink-volume @DEFAULT_SINK@", &out);
        std::smatch m;
        return std::regex_search(out, m, std::regex("(\\d+)%")) ? std::stoi(m[1]) : -1;
    }
    static std::string pactlMute() {
        std::string out;
        testutil::runCommand("pactl get-sink-mute @DEFAULT_SINK@", &out);
        return out;
    }
    testutil::TempDir dir_;
    bool started_ = false;
};

TEST_F(SystemVolume, SetReadMuteThroughTheMixer) {
    KNVolumeControl vc;
    ASSERT_TRUE(vc.setHardwareVolume(0.5f));
    EXPECT_NE(vc.outputDeviceID(), 0u);
    EXPECT_NEAR(pactlVolumePercent(), 50, 1);
    EXPECT_NEAR(vc.getHardwareVolume(), 0.5f, 0.01f);
    EXPECT_NE(pactlMute().find("no"), std::string::npos);
    vc.increaseVolume();
    EXPECT_NEAR(pactlVolumePercent(), 56, 1);
    ASSERT_TRUE(vc.muteHardwareVolume());
    EXPECT_NE(pactlMute().find("yes"), std::string::npos);
    ASSERT_TRUE(vc.unmuteHardwareVolume());
    EXPECT_NE(pactlMute().find("no"), std::string::npos);
    ASSERT_TRUE(vc.setHardwareVolume(0.0f));
    EXPECT_NE(pactlMute().find("yes"), std::string::npos);
    EXPECT_NEAR(pactlVolumePercent(), 56, 1); // muting keeps the level
}
