// Whole DV4 and DV5 recordings played through the DV engine from end to end: every channel's
// pictures against ffmpeg's decode of that channel's stream, audio payloads, time texts and
// progress against the generator's manifest; fast forward, stop and seek.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "common/run_cmd.h"
#include "engines/dv_play_harness.h"
#include "engines/stream_clips.h"

using namespace enginetest;

namespace {

int audioFormatCode(const std::string &name) {
    if (name == "ulaw") return enAudioFormat_ULAW;
    if (name == "pcm8") return enAudioFormat_PCM;
    if (name == "pcm16") return enAudioFormat_PCM16;
    if (name == "pcm16b") return enAudioFormat_PCM16_2;
    if (name == "g723") return enAudioFormat_G723;
    return -1;
}

struct Recorded {
    mkrec::Recording rec;
    std::string esDir;
};

Recorded record(const mkrec::TempDir &dir, const DVKind &kind, const std::vector<std::string> &options) {
    Recorded r;
    r.esDir = dir.file("es");
    std::vector<std::string> args{"--kind", kind.kind, "--size", "96x64", "--es-dir", r.esDir};
    args.insert(args.end(), options.begin(), options.end());
    r.rec = mkrec::make(dir, std::string("r.") + (kind.dv5() ? "dv5" : "dv4"), args);
    return r;
}

// ffmpeg's pictures of every channel (one run for all), as MD5s of RGBA frames by channel.
std::map<int, std::vector<std::string>> reference(const Recorded &r, const DVKind &kind) {
    std::string inputs, maps;
    std::vector<int> channels;
    for (const auto &vc : r.rec.manifest.videoChannels) {
        const int ch = std::stoi(vc.at("ch"));
        inputs += " -i '" + r.esDir + "/video-ch" + std::to_string(ch) + "." + kind.es + "'";
        maps += " -map " + std::to_string(channels.size()) + ":v";
        channels.push_back(ch);
    }
    std::string out;
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin" + inputs + maps +
                            " -fps_mode passthrough -vf '" + kRgbaFilter + "' -f framemd5 -";
    EXPECT_EQ(testutil::runCommand(cmd, &out), 0) << cmd;
    std::map<int, std::vector<std::string>> md5s;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        const size_t comma = line.rfind(',');
        const size_t stream = std::stoul(line);
        if (comma == std::string::npos || stream >= channels.size()) continue;
        md5s[channels[stream]].push_back(line.substr(line.find_first_not_of(' ', comma + 1)));
    }
    return md5s;
}

std::string pictureMd5(const VideoEvent &e) {
    return md5(e.image->pixels(), e.image->byteCount());
}

struct MatrixCase {
    const char *name;
    DVKind kind;
    const char *videoMask;
    const char *audioMask;
    const char *audio;
    int selectedAudio; // DV5: the application's audio channel (1-based); DV4 picks channel 1 itself
};

const MatrixCase kMatrix[] = {
    {"dv4_h264_ulaw", kDV4H264, "0x1", "0x1", "ulaw", 0},
    {"dv4_h264_pcm8", kDV4H264, "0x1", "0x1", "pcm8", 0},
    {"dv4_h264_pcm16", kDV4H264, "0x1", "0x1", "pcm16", 0},
    {"dv4_h264_pcm16b", kDV4H264, "0x1", "0x1", "pcm16b", 0},
    {"dv4_h264_g723", kDV4H264, "0x1", "0x1", "g723", 0},
    {"dv4_mpeg4_ulaw", kDV4MPEG4, "0x1", "0x1", "ulaw", 0},
    {"dv4_mpeg4_pcm8", kDV4MPEG4, "0x1", "0x1", "pcm8", 0},
    {"dv4_mpeg4_pcm16", kDV4MPEG4, "0x1", "0x1", "pcm16", 0},
    {"dv4_mpeg4_pcm16b", kDV4MPEG4, "0x1", "0x1", "pcm16b", 0},
    {"dv4_mpeg4_g723", kDV4MPEG4, "0x1", "0x1", "g723", 0},
    {"nvr_1ch_ulaw", kDV5NVR, "0x1", "0x1", "ulaw", 1},
    {"nvr_4ch", kDV5NVR, "0xf", "0xf", "pcm8,pcm16,pcm16b,g723", 2},
    {"nvr_16ch", kDV5NVR, "0xffff", "0xffff", "ulaw,pcm8,pcm16,pcm16b,g723", 16},
    {"dvr_1ch_g723", kDV5DVR, "0x1", "0x1", "g723", 1},
    {"dvr_4ch", kDV5DVR, "0xf", "0x5", "g723,pcm16", 3},
    {"dvr_16ch", kDV5DVR, "0xffff", "0xffff", "pcm16b,ulaw,g723", 1},
};

class DVPlaythrough : public ::testing::TestWithParam<MatrixCase> {};

} // namespace

TEST_P(DVPlaythrough, EveryChannelPlaysToTheEnd) {
    const MatrixCase &c = GetParam();
    mkrec::TempDir dir;
    const Recorded r = record(dir, c.kind,
                              {"--frames", "8", "--gop", "4", "--video-mask", c.videoMask, "--audio-mask",
                               c.audioMask, "--audio", c.audio});
    ASSERT_TRUE(r.rec.ok()) << r.rec.output;
    const mkrec::Manifest &m = r.rec.manifest;
    const uint64_t fileSize = static_cast<uint64_t>(m.num("bytes"));

    DVPlayer player;
    player.delegate.selectedAudioChannel = c.selectedAudio;
    ASSERT_TRUE(player.start(c.kind, r.rec.path));
    ASSERT_TRUE(player.waitForEnd()) << "no end notice";
    ASSERT_TRUE(player.waitUntilParserRests());
    EXPECT_EQ(player.delegate.dvEndNotices.load(), 1);
    ASSERT_EQ(player.videoAtEnd.size(), 1u);
    const size_t videoEnd = player.videoAtEnd[0], audioEnd = player.audioAtEnd[0];

    // Pictures, frames and key marks of every channel; each channel on a thread of its own.
    const std::vector<const mkrec::Unit *> videoUnits = m.video();
    EXPECT_EQ(videoEnd, videoUnits.size());
    std::set<std::thread::id> threads;
    std::map<int, std::vector<std::string>> refs = reference(r, c.kind);
    for (const auto &vc : m.videoChannels) {
        const int ch = std::stoi(vc.at("ch"));
        const std::vector<const mkrec::Unit *> units = m.video(ch);
        const std::vector<VideoEvent> got = player.channelVideo(static_cast<unsigned>(ch), 0, videoEnd);
        const std::vector<std::string> &ref = refs[ch];
        ASSERT_EQ(got.size(), units.size()) << "channel " << ch;
        ASSERT_EQ(ref.size(), units.size()) << "channel " << ch;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(pictureMd5(got[i]), ref[i]) << "channel " << ch << " frame " << i;
            EXPECT_EQ(mkrec::md5Hex(got[i].frame), units[i]->md5) << "channel " << ch << " frame " << i;
            EXPECT_EQ(got[i].isIFrame, units[i]->key) << "channel " << ch << " frame " << i;
            EXPECT_EQ(got[i].thread, got[0].thread);
        }
        threads.insert(got[0].thread);
    }
    EXPECT_EQ(threads.size(), m.videoChannels.size());

    // Audio: the chosen channel's payloads in order, all but the file's last audio unit, which
    // no later header ends. The channel's format is the one announced for it.
    const int audioChannel = c.kind.dv5() ? c.selectedAudio - 1 : 0;
    const std::vector<const mkrec::Unit *> allAudio = m.audio();
    std::vector<const mkrec::Unit *> expected;
    for (const mkrec::Unit *u : allAudio)
        if (u->channel == audioChannel && u != allAudio.back()) expected.push_back(u);
    // The announcement takes its format code from the audio header that follows the channel's
    // first unit (DV5), or from the first audio header (DV4, and DV5 channel 1, whose channel
    // number a cleared record already holds).
    const mkrec::Unit *firstOfChannel = nullptr;
    const mkrec::Unit *announcer = nullptr;
    for (size_t i = 0; i < allAudio.size() && !announcer; ++i) {
        if (!c.kind.dv5() || audioChannel == 0) {
            announcer = allAudio[i];
        } else if (firstOfChannel) {
            announcer = allAudio[i];
        } else if (allAudio[i]->channel == audioChannel) {
            firstOfChannel = allAudio[i];
        }
    }
    ASSERT_NE(announcer, nullptr);
    const int announcedFormat =
        audioFormatCode(m.audioChannels.at(static_cast<size_t>(announcer->channel)).at("format"));
    {
        std::lock_guard<std::mutex> lock(player.delegate.mutex);
        ASSERT_EQ(audioEnd, expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            const AudioEvent &a = player.delegate.audio[i];
            EXPECT_EQ(mkrec::md5Hex(a.payload), expected[i]->md5) << "audio " << i;
            EXPECT_EQ(a.channel, static_cast<unsigned>(c.kind.dv5() ? audioChannel : 0));
            EXPECT_EQ(a.format, announcedFormat);
        }
        ASSERT_FALSE(player.delegate.audioProcessors.empty());
        EXPECT_EQ(player.delegate.audioProcessors[0],
                  std::make_pair(static_cast<unsigned>(audioChannel), announcedFormat));

        // After every frame but the last: the recorder time of that frame, and the position of
        // the header that ended it as progress.
        ASSERT_GE(player.delegate.processingInfo.size(), videoUnits.size() - 1);
        for (size_t k = 0; k + 1 < videoUnits.size(); ++k) {
            const auto &[text, progress] = player.delegate.processingInfo[k];
            EXPECT_EQ(text, utcText(videoUnits[k]->sec)) << "frame " << k;
            EXPECT_NEAR(progress, 100.0 * static_cast<double>(videoUnits[k + 1]->offset) / fileSize, 1e-3);
        }
    }
    player.poster.drain();
    std::lock_guard<std::mutex> lock(player.delegate.mutex);
    const std::vector<float> &posted = player.delegate.progress;
    ASSERT_GE(posted.size(), videoUnits.size());
    for (size_t k = 0; k + 1 < videoUnits.size(); ++k)
        EXPECT_FLOAT_EQ(posted[k], player.delegate.processingInfo[k].second);
    EXPECT_FLOAT_EQ(posted[videoUnits.size() - 1], 100.0f);
}

INSTANTIATE_TEST_SUITE_P(Recordings, DVPlaythrough, ::testing::ValuesIn(kMatrix),
                         [](const ::testing::TestParamInfo<MatrixCase> &info) {
                             return std::string(info.param.name);
                         });

namespace {

// Offset of the byte the backward key-frame scan stops at for a key unit: the SPS type byte
// (H.264) or the byte after 00 00 01 B6 of an I-VOP (MPEG-4), found in the unit's payload.
uint64_t keyMarkOffset(const Bytes &file, const mkrec::Unit &u, bool mpeg4) {
    const uint64_t end = std::min<uint64_t>(u.payloadOffset + u.payloadLen, file.size());
    for (uint64_t i = u.payloadOffset; i + 5 <= end; ++i) {
        if (mpeg4) {
            if (file[i] == 0 && file[i + 1] == 0 && file[i + 2] == 1 && file[i + 3] == 0xB6 &&
                file[i + 4] <= 0x3F)
                return i + 4;
        } else if (file[i] == 0 && file[i + 1] == 0 && file[i + 2] == 0 && file[i + 3] == 1 &&
                   (file[i + 4] | 0x40) == 0x67) {
            return i + 4;
        }
    }
    return UINT64_MAX;
}

// The frames a playback from video unit `from` (in file order) delivers: that unit's channel
// from there on, every other channel from its first key frame on (a fresh decoder has nothing
// to decode the frames before it with).
// The frames played from unit `from` on: a channel with a key frame to land on (`keyOf`: its
// unit) from that one, any other from its first key frame.
std::vector<const mkrec::Unit *> framesFrom(const mkrec::Manifest &m, size_t from,
                                            const std::map<int, size_t> &keyOf = {}) {
    const std::vector<const mkrec::Unit *> units = m.video();
    std::set<int> started;
    std::vector<const mkrec::Unit *> out;
    for (size_t i = from; i < units.size(); ++i) {
        const auto key = keyOf.find(units[i]->channel);
        if (key != keyOf.end() ? key->second == i : i == from || units[i]->key)
            started.insert(units[i]->channel);
        if (started.count(units[i]->channel)) out.push_back(units[i]);
    }
    return out;
}

void expectFrames(const std::vector<VideoEvent> &got, const std::vector<const mkrec::Unit *> &want,
                  const std::string &what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].channel, static_cast<unsigned>(want[i]->channel)) << what << " frame " << i;
        EXPECT_EQ(mkrec::md5Hex(got[i].frame), want[i]->md5) << what << " frame " << i;
    }
}

struct SeekCase {
    const char *name;
    DVKind kind;
    const char *options;
};

const SeekCase kSeekCases[] = {
    {"dv4_h264", kDV4H264, "--video-mask 0x1"},
    {"dv4_mpeg4", kDV4MPEG4, "--video-mask 0x1"},
    // Extension blocks on some units and not on others; payloads that open with a delimiter.
    {"nvr", kDV5NVR, "--video-mask 0x5 --ext-every 3 --ext-len 8"},
    {"nvr_lead", kDV5NVR, "--video-mask 0x3 --lead sei --lead-every 2"},
    {"dvr", kDV5DVR, "--video-mask 0x3 --ext-every 2 --ext-len 12"},
    {"dvr_lead", kDV5DVR, "--video-mask 0x1 --lead aud --ext-every 1 --ext-len 8"},
    // Key frames over 3 MB apart, and a channel whose last key frame before 50 % lies a whole
    // GOP back.
    {"nvr_far_keys", kDV5NVR, "--video-mask 0xF --size 704x576 --noise --frames 18 --gop 8"},
    // Each channel's key frames two frames after the previous channel's.
    {"nvr_staggered", kDV5NVR, "--video-mask 0xF --frames 18 --gop 8 --key-stagger 80"},
};

class DVSeek : public ::testing::TestWithParam<SeekCase> {};

} // namespace

// A seek, made while paused, lands at the moment of the target (the first frame from there on):
// every channel decodes from its own last key frame of that moment (DV5: which may lie after the
// target) and shows its first picture at or after it, and the engine holds; Play goes on from
// where that ended with pictures equal to ffmpeg's. Progress shows the slider's value.
TEST_P(DVSeek, StartsAtTheLastKeyFrameBeforeTheTarget) {
    const SeekCase &c = GetParam();
    mkrec::TempDir dir;
    // The last key frame is the last frame but one; a row's own options come last and win.
    std::vector<std::string> options = {"--frames", "14", "--gop", "4", "--audio-mask", "0x1"};
    for (const std::string &w : words(c.options))
        options.push_back(w);
    const Recorded r = record(dir, c.kind, options);
    ASSERT_TRUE(r.rec.ok()) << r.rec.output;
    const mkrec::Manifest &m = r.rec.manifest;
    const Bytes file = mkrec::readFile(r.rec.path);
    const std::vector<const mkrec::Unit *> units = m.video();
    const std::map<int, std::vector<std::string>> refs = reference(r, c.kind);

    for (int percent : {0, 25, 50, 99}) {
        SCOPED_TRACE("seek to " + std::to_string(percent) + "%");
        const uint64_t target = static_cast<uint64_t>(static_cast<double>(file.size()) * 0.01 * percent);
        // The place: the first frame from the target on (at the end, the last frame).
        size_t place = units.size() - 1;
        for (size_t i = units.size(); i-- > 0;)
            if (units[i]->offset >= target) place = i;
        const int64_t moment = units[place]->tUs;
        // Each channel decodes from its own last key frame of the moment at or before the target
        // (DV5: or one of the moment written after it); the scan restarts at the earliest of them.
        size_t from = 0;
        std::map<int, size_t> keyOf;
        if (target > 0) {
            for (size_t i = 0; i < units.size(); ++i)
                if (units[i]->key && units[i]->tUs <= moment &&
                    (keyMarkOffset(file, *units[i], c.kind.codec == kDVFmtDV4MPEG4) <= target ||
                     (c.kind.dv5() && units[i]->offset >= target)))
                    keyOf[units[i]->channel] = i;
            ASSERT_FALSE(keyOf.empty());
            from = SIZE_MAX;
            for (const auto &k : keyOf)
                from = std::min(from, k.second);
        }
        const std::vector<const mkrec::Unit *> want = framesFrom(m, from, keyOf);

        // Each channel shows its first frame of the moment or later (DV4: the place's frame).
        std::vector<const mkrec::Unit *> firsts;
        for (const mkrec::Unit *u : want)
            if ((c.kind.dv5() ? u->tUs >= moment : u->index >= units[place]->index) &&
                std::none_of(firsts.begin(), firsts.end(),
                             [&](const mkrec::Unit *f) { return f->channel == u->channel; }))
                firsts.push_back(u);

        DVPlayer player;
        ASSERT_TRUE(player.start(c.kind, r.rec.path, /*running=*/false));
        const size_t before = player.videoCount();
        ASSERT_TRUE(player.seek(percent));
        // The frame the paused parser was holding is dropped; each channel's first picture shows.
        const size_t landed = player.videoCount() - before;
        EXPECT_EQ(landed, firsts.size());
        player.play();
        ASSERT_TRUE(player.waitForEnd());
        const std::vector<VideoEvent> all = player.video();
        const std::vector<VideoEvent> after(all.begin() + static_cast<long>(before),
                                            all.begin() + static_cast<long>(player.videoAtEnd[0]));
        ASSERT_GE(after.size(), landed);
        ASSERT_LE(after.size() - landed, want.size());
        // Then everything from where the landing ended, the landed channels' frames in between
        // decoded unseen: every picture is ffmpeg's.
        std::vector<const mkrec::Unit *> expected(firsts.begin(), firsts.begin() + static_cast<long>(landed));
        expected.insert(expected.end(), want.end() - static_cast<long>(after.size() - landed), want.end());
        expectFrames(after, expected, "after the seek");
        for (size_t i = 0; i < after.size() && i < expected.size(); ++i)
            EXPECT_EQ(pictureMd5(after[i]),
                      refs.at(expected[i]->channel).at(static_cast<size_t>(expected[i]->frame)))
                << "channel " << expected[i]->channel << " frame " << expected[i]->frame;
        player.poster.drain();
        std::lock_guard<std::mutex> lock(player.delegate.mutex);
        // The seek reports the slider's value (after the report of the frame held at the time).
        const std::vector<float> &posted = player.delegate.progress;
        const auto at = std::find(posted.begin(), posted.end(), static_cast<float>(percent));
        ASSERT_NE(at, posted.end());
        EXPECT_LE(at - posted.begin(), 1);
        EXPECT_EQ(player.delegate.dvEndNotices.load(), 1);
    }

    // Held next to the last frame by a paused seek to 100 %, then closed: a close is no end.
    DVPlayer held;
    ASSERT_TRUE(held.start(c.kind, r.rec.path, /*running=*/false));
    ASSERT_TRUE(held.seek(100));
    ASSERT_TRUE(held.waitUntilParserRests());
    const int ends = held.delegate.dvEndNotices.load();
    held.close();
    EXPECT_EQ(held.delegate.dvEndNotices.load(), ends);
}

INSTANTIATE_TEST_SUITE_P(Recordings, DVSeek, ::testing::ValuesIn(kSeekCases),
                         [](const ::testing::TestParamInfo<SeekCase> &info) {
                             return std::string(info.param.name);
                         });

// A paused seek into the last frame of a recording whose one key frame lies further back than
// the search's first 2,048,000-byte window: the search reads back to it and the landing decodes
// every frame from there, so the last frame shows whole (equal to ffmpeg's); Play then ends.
TEST(DVSeekFarKeyFrame, DecodesUpToThePlaceFromTheKeyFrame) {
    mkrec::TempDir dir;
    Recorded r;
    r.esDir = dir.file("es");
    r.rec = mkrec::make(dir, "long.dv4",
                        {"--kind", "dv4-h264", "--size", "352x288", "--noise", "--qp", "12", "--gop", "40",
                         "--frames", "40", "--audio-mask", "0", "--es-dir", r.esDir});
    ASSERT_TRUE(r.rec.ok()) << r.rec.output;
    const uint64_t size = static_cast<uint64_t>(r.rec.manifest.num("bytes"));
    const std::vector<const mkrec::Unit *> units = r.rec.manifest.video();
    ASSERT_GT(static_cast<uint64_t>(static_cast<double>(size) * 0.99), units.back()->offset);
    ASSERT_GT(units.back()->offset, static_cast<uint64_t>(kDataFeedBufferSize) + 100000) << "too small";
    const std::map<int, std::vector<std::string>> refs = reference(r, kDV4H264);

    DVPlayer player(/*pacedAtStart=*/true);
    ASSERT_TRUE(player.start(kDV4H264, r.rec.path));
    ASSERT_TRUE(waitFor([&] { return player.videoCount() >= 1; }));
    player.pauseNow();
    const size_t before = player.videoCount();
    ASSERT_TRUE(player.seek(99));
    ASSERT_GT(player.videoCount(), before);
    const VideoEvent landed = player.video()[player.videoCount() - 1];
    EXPECT_EQ(mkrec::md5Hex(landed.frame), units.back()->md5);
    EXPECT_EQ(pictureMd5(landed), refs.at(0).at(39));
    player.paced = false;
    player.play();
    ASSERT_TRUE(player.waitForEnd());
    EXPECT_EQ(player.delegate.dvEndNotices.load(), 1);
}

namespace {
class DVTransport : public ::testing::TestWithParam<SeekCase> {};

const SeekCase kTransportCases[] = {
    {"dv4_h264", kDV4H264, "--video-mask 0x1"},
    {"dv4_mpeg4", kDV4MPEG4, "--video-mask 0x1"},
    {"nvr", kDV5NVR, "--video-mask 0x3"},
    {"dvr", kDV5DVR, "--video-mask 0x3 --ext-every 2 --ext-len 4"},
};
} // namespace

// At 8x and 16x only key frames are handed off (and the file's last frame, which the end
// always shows); at 2x and 4x every frame; audio only at 1x.
TEST_P(DVTransport, FastForwardShowsKeyFramesOnly) {
    const SeekCase &c = GetParam();
    mkrec::TempDir dir;
    std::vector<std::string> options = words(c.options);
    for (const char *w : {"--frames", "12", "--gop", "4", "--audio-mask", "0x1"})
        options.push_back(w);
    const Recorded r = record(dir, c.kind, options);
    ASSERT_TRUE(r.rec.ok()) << r.rec.output;
    const std::vector<const mkrec::Unit *> units = r.rec.manifest.video();
    for (int speed : {1, 2, 3, 4}) {
        SCOPED_TRACE("speed step " + std::to_string(speed));
        DVPlayer player;
        player.delegate.selectedAudioChannel = 1;
        ASSERT_TRUE(player.start(c.kind, r.rec.path));
        gDVFmtPlaybackSpeed = speed;
        ASSERT_TRUE(player.waitForEnd());
        std::vector<const mkrec::Unit *> want;
        for (const mkrec::Unit *u : units)
            if (speed < 3 || u->key || u == units.back()) want.push_back(u);
        const std::vector<VideoEvent> all = player.video();
        expectFrames(
            std::vector<VideoEvent>(all.begin(), all.begin() + static_cast<long>(player.videoAtEnd[0])), want,
            "fast forward");
        EXPECT_EQ(player.audioAtEnd[0], 0u);
        EXPECT_EQ(gDVFmtPlaybackSpeed.load(), 0) << "the end of the file returns to 1x";
    }
}

// Stop rewinds to the start, shows each channel's first key frame and holds there; play goes on
// from them.
TEST_P(DVTransport, StopShowsTheFirstFrameAndHolds) {
    const SeekCase &c = GetParam();
    mkrec::TempDir dir;
    std::vector<std::string> options = words(c.options);
    for (const char *w : {"--frames", "12", "--gop", "4", "--audio-mask", "0x1"})
        options.push_back(w);
    const Recorded r = record(dir, c.kind, options);
    ASSERT_TRUE(r.rec.ok()) << r.rec.output;
    const std::vector<const mkrec::Unit *> units = r.rec.manifest.video();

    DVPlayer player(/*paced=*/true);
    ASSERT_TRUE(player.start(c.kind, r.rec.path));
    ASSERT_TRUE(waitFor([&] { return player.videoCount() >= 3; }));
    player.stopPlaying();
    ASSERT_TRUE(waitFor([] { return gDVFmtPlaybackKeepRunning.load() == 0; })) << "no halt";
    ASSERT_TRUE(player.waitUntilParserRests());
    std::vector<VideoEvent> got = player.video();
    // Frames in file order up to the stop, then the first frame of each channel (the file's
    // first units) again, and nothing more.
    const size_t channels = c.kind.codec == kDVFmtDV5 ? 2 : 1;
    ASSERT_GE(got.size(), channels + 1);
    for (size_t i = 0; i < got.size(); ++i) {
        const size_t unit = i + channels < got.size() ? i : i + channels - got.size();
        EXPECT_EQ(mkrec::md5Hex(got[i].frame), units[unit]->md5) << "frame " << i;
    }
    EXPECT_EQ(gDVFmtPlaybackIFrameStop.load(), 0);
    EXPECT_EQ(gDVFmtPlaybackStopActionLaunched.load(), 0);
    player.poster.drain();
    {
        std::lock_guard<std::mutex> lock(player.delegate.mutex);
        ASSERT_FALSE(player.delegate.progress.empty());
        EXPECT_FLOAT_EQ(player.delegate.progress.back(), 0.0f);
    }
    // Play goes on from the frame after it, to the end.
    const size_t held = got.size();
    player.paced = false;
    player.play();
    ASSERT_TRUE(player.waitForEnd());
    got = player.video();
    std::vector<VideoEvent> rest(got.begin() + static_cast<long>(held),
                                 got.begin() + static_cast<long>(player.videoAtEnd[0]));
    expectFrames(rest,
                 std::vector<const mkrec::Unit *>(units.begin() + static_cast<long>(channels), units.end()),
                 "after the stop");
}

INSTANTIATE_TEST_SUITE_P(Recordings, DVTransport, ::testing::ValuesIn(kTransportCases),
                         [](const ::testing::TestParamInfo<SeekCase> &info) {
                             return std::string(info.param.name);
                         });
