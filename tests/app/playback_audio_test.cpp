// The sound of a played recording: the selected audio channel reaches SDL's disk driver and is
// the file's own audio of that channel as FFmpeg decodes it.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QSlider>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/VistrelAppDelegate.h"
#include "common/mkrec_fixture.h"
#include "engines/engine_controls.h"
#include "qt_test_app.h"

namespace {

class EnvSetting {
  public:
    EnvSetting(const char *name, const std::string &value) : name_(name) {
        const char *old = std::getenv(name);
        had_ = old != nullptr;
        old_ = had_ ? old : "";
        setenv(name, value.c_str(), 1);
    }
    ~EnvSetting() {
        if (had_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }

  private:
    std::string name_, old_;
    bool had_ = false;
};

std::vector<int16_t> samples(const std::vector<uint8_t> &bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return s;
}

// Silence is what the output plays while it waits for data; it is left out of the comparison.
std::vector<int16_t> withoutSilence(const std::vector<int16_t> &in) {
    std::vector<int16_t> out;
    for (int16_t v : in)
        if (v != 0) out.push_back(v);
    return out;
}

TEST(PlaybackAudio, SelectedChannelIsHeardAsTheFileHoldsIt) {
    testApp();
    if (!testutil::haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing";
    mkrec::TempDir dir;
    const std::string es = dir.file("es");
    const mkrec::Recording rec = mkrec::make(dir, "sound.dv5",
                                             {"--kind", "dv5-nvr", "--video-mask", "0x3", "--audio-mask",
                                              "0x6", "--audio", "ulaw", "--duration", "3", "--es-dir", es});
    ASSERT_TRUE(rec.ok()) << rec.output;
    // The second channel's stream as the encoder wrote it, decoded by FFmpeg.
    const std::string expectedPath = dir.file("expected.s16");
    ASSERT_EQ(testutil::runCommand("ffmpeg -nostdin -loglevel error -y -f mulaw -ar 8000 -ac 1 -i '" + es +
                                   "/audio-ch1.ulaw' -f s16le -acodec pcm_s16le '" + expectedPath + "'"),
              0);
    const std::vector<int16_t> expected = withoutSilence(samples(mkrec::readFile(expectedPath)));
    ASSERT_GT(expected.size(), 8000u);

    const std::string outPath = dir.file("out.raw");
    {
        EnvSetting driver("SDL_AUDIODRIVER", "disk");
        EnvSetting file("SDL_DISKAUDIOFILE", outPath);
        dvFmtResetControlFlags();
        auto delegate = std::make_unique<VistrelAppDelegate>();
        delegate->applicationDidFinishLaunching();
        delegate->makeWindowKeyAndOrderFront();
        delegate->playbackVolumeSlider->setValue(delegate->playbackVolumeSlider->maximum());
        delegate->openFileDirectly(QString::fromStdString(rec.path));

        // The audio menu offers the file's two channels; the first of them is heard.
        EXPECT_EQ(delegate->iCurrentSelectedAudioCH(), 2);
        ASSERT_EQ(delegate->audioChannelSwitchBtn->count(), 2);
        EXPECT_EQ(delegate->audioChannelSwitchBtn->itemData(0).toInt(), 2);
        EXPECT_EQ(delegate->audioChannelSwitchBtn->itemData(1).toInt(), 3);
        EXPECT_TRUE(delegate->audioChannelSwitchBtn->isEnabled());
        ASSERT_TRUE(serveEventsUntil([&] { return !delegate->isPlaybackNow(); }, 10000));
        EXPECT_TRUE(delegate->isContainAudioData());
        // Let the output play what it still holds, then close it (the file is complete then).
        serveEventsUntil([] { return false; }, 800);
        delegate.reset();
        dvFmtResetControlFlags();
    }
    const std::vector<int16_t> heard = withoutSilence(samples(mkrec::readFile(outPath)));
    ASSERT_GT(heard.size(), expected.size() * 8 / 10) << "too little was heard";
    // What was heard is one stretch of the channel's audio, in order, from its start.
    ASSERT_LE(heard.size(), expected.size());
    size_t mismatches = 0;
    for (size_t i = 0; i < heard.size(); ++i)
        mismatches += heard[i] != expected[i];
    EXPECT_EQ(mismatches, 0u) << "of " << heard.size() << " samples";
}

} // namespace
