// The sound of a played recording: the selected audio channel reaches SDL's disk driver and is
// the file's own audio of that channel as FFmpeg decodes it, also across a switch of channel.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QSlider>

#include <algorithm>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/VistrelAppDelegate.h"
#include "app/main_window.h"
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
        set(value);
    }
    ~EnvSetting() {
        if (had_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }

    void set(const std::string &value) { setenv(name_.c_str(), value.c_str(), 1); }

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

// SDL's disk driver writes what the output plays, as it plays it. When the recording has played
// to its end the engine has queued all it will, and the file held `queuedAt` bytes; the output
// has played everything out once what follows ends in silence, beyond what the driver may still
// have held unwritten then (its file's write buffer and one device buffer, generously).
bool playedOut(const std::string &path, size_t queuedAt) {
    constexpr size_t kUnwritten = 16384;
    constexpr size_t kSilence = 2048; // 128 ms: the queue has run dry
    const std::vector<uint8_t> bytes = mkrec::readFile(path);
    if (bytes.size() < queuedAt + kUnwritten + kSilence) return false;
    return std::all_of(bytes.end() - kSilence, bytes.end(), [](uint8_t b) { return b == 0; });
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
        delegate->window()->ui.playbackVolumeSlider->setValue(
            delegate->window()->ui.playbackVolumeSlider->maximum());
        delegate->openFileDirectly(QString::fromStdString(rec.path));

        // The audio menu offers the file's two channels; the first of them is heard.
        EXPECT_EQ(delegate->iCurrentSelectedAudioCH(), 2);
        ASSERT_EQ(delegate->window()->ui.audioChannelSwitchBtn->count(), 2);
        EXPECT_EQ(delegate->window()->ui.audioChannelSwitchBtn->itemData(0).toInt(), 2);
        EXPECT_EQ(delegate->window()->ui.audioChannelSwitchBtn->itemData(1).toInt(), 3);
        EXPECT_TRUE(delegate->window()->ui.audioChannelSwitchBtn->isEnabled());
        ASSERT_TRUE(serveEventsUntil([&] { return !delegate->isPlaybackNow(); }, 10000));
        EXPECT_TRUE(delegate->isContainAudioData());
        // Let the output play what it still holds, then close it (the file is complete then).
        const size_t queuedAt = mkrec::readFile(outPath).size();
        EXPECT_TRUE(serveEventsUntil([&] { return playedOut(outPath, queuedAt); }, 20000));
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

// Where `part` lies in `whole` as one unbroken stretch, or -1.
long stretchAt(const std::vector<int16_t> &part, const std::vector<int16_t> &whole) {
    if (part.empty() || part.size() > whole.size()) return -1;
    for (size_t at = 0; at + part.size() <= whole.size(); ++at)
        if (std::equal(part.begin(), part.end(), whole.begin() + static_cast<long>(at)))
            return static_cast<long>(at);
    return -1;
}

// The audio pop-up switches what is heard: the first channel's sound up to the switch, the
// second channel's from then on. Each output is caught in a file of its own (SDL's disk driver
// names its file when the output opens) and compared with FFmpeg's decoding of the channel.
TEST(TransportAudio, SwitchingTheChannelChangesWhatIsHeard) {
    testApp();
    if (!testutil::haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing";
    const struct {
        const char *name, *file, *kind;
    } kinds[] = {{"DV5", "two.dv5", "dv5-nvr"}, {"AVC", "two.avc", "avc"}};
    mkrec::TempDir dir;
    for (const auto &k : kinds) {
        SCOPED_TRACE(k.name);
        const std::string es = dir.file(std::string(k.file) + ".es");
        const mkrec::Recording rec =
            mkrec::make(dir, k.file,
                        {"--kind", k.kind, "--video-mask", "0x1", "--audio-mask", "0x3", "--audio",
                         "ulaw,ulaw", "--duration", "4", "--es-dir", es});
        ASSERT_TRUE(rec.ok()) << rec.output;
        std::vector<int16_t> expected[2];
        for (int ch = 0; ch < 2; ++ch) {
            const std::string out = dir.file(std::string(k.file) + std::to_string(ch) + ".s16");
            ASSERT_EQ(testutil::runCommand("ffmpeg -nostdin -loglevel error -y -f mulaw -ar 8000 -ac 1 -i '" +
                                           es + "/audio-ch" + std::to_string(ch) + ".ulaw' -f s16le '" + out +
                                           "'"),
                      0);
            expected[ch] = withoutSilence(samples(mkrec::readFile(out)));
        }
        ASSERT_NE(expected[0], expected[1]) << "the two channels must sound different";

        const std::string heardFirst = dir.file(std::string(k.file) + ".first.raw");
        const std::string heardSecond = dir.file(std::string(k.file) + ".second.raw");
        {
            EnvSetting driver("SDL_AUDIODRIVER", "disk");
            EnvSetting file("SDL_DISKAUDIOFILE", heardFirst);
            dvFmtResetControlFlags();
            auto d = std::make_unique<VistrelAppDelegate>();
            d->applicationDidFinishLaunching();
            d->makeWindowKeyAndOrderFront();
            d->window()->ui.playbackVolumeSlider->setValue(d->window()->ui.playbackVolumeSlider->maximum());
            d->openFileDirectly(QString::fromStdString(rec.path));
            EXPECT_EQ(d->iCurrentSelectedAudioCH(), 1);
            // The first channel is heard for a while.
            ASSERT_TRUE(serveEventsUntil(
                [&] { return withoutSilence(samples(mkrec::readFile(heardFirst))).size() > 4000u; }, 20000))
                << "too little of the first channel was heard";
            // The second channel's output opens on its first packet, into a file of its own.
            file.set(heardSecond);
            QComboBox *menu = d->window()->ui.audioChannelSwitchBtn;
            ASSERT_EQ(menu->count(), 2);
            menu->setCurrentIndex(1);
            emit menu->activated(1);
            EXPECT_EQ(d->iCurrentSelectedAudioCH(), 2);
            ASSERT_TRUE(serveEventsUntil([&] { return !d->isPlaybackNow(); }, 10000));
            const size_t queuedAt = mkrec::readFile(heardSecond).size();
            EXPECT_TRUE(serveEventsUntil([&] { return playedOut(heardSecond, queuedAt); }, 20000));
            d.reset();
            dvFmtResetControlFlags();
        }
        const std::vector<int16_t> first = withoutSilence(samples(mkrec::readFile(heardFirst)));
        const std::vector<int16_t> second = withoutSilence(samples(mkrec::readFile(heardSecond)));
        ASSERT_GT(first.size(), 4000u) << "too little of the first channel was heard";
        ASSERT_GT(second.size(), 4000u) << "too little of the second channel was heard";
        EXPECT_EQ(stretchAt(first, expected[0]), 0) << "the first channel from its start";
        const long at = stretchAt(second, expected[1]);
        EXPECT_GE(at, 0) << "the second channel's own sound";
        EXPECT_EQ(stretchAt(std::vector<int16_t>(second.begin(), second.begin() + 400), expected[0]), -1)
            << "nothing of the first channel after the switch";
    }
}

} // namespace
