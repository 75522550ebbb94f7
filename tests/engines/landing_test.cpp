// Paused seeks on recordings shaped as recorders write them, through the DV5 and AVC engines: a
// clock set back or forward mid-file, a channel whose key frames lie far apart, a channel that
// stops. Every channel with a frame at the place's moment shows its picture of it (from the side
// of a clock change where the place lies, equal to ffmpeg's decode), every other shown channel
// is told it has none, and Play goes on from each picture with the channel's next frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "engines/avc_fixture.h"
#include "engines/dv_play_harness.h"

using namespace enginetest;

namespace {

struct LandingRow {
    const char *name;
    const char *options;
    std::vector<int> seeks;
    int clockFrame; // the video frame from which the clock is changed; -1 none
};

// 4 channels, key frames 4 s apart, each channel's 1.48 s after the one before.
#define STAGGER4 "--video-mask 0xf --duration 20 --gop 100 --key-stagger 1480 "

const LandingRow kRows[] = {
    {"clock_back_1h", STAGGER4 "--gap 250:-3600", {45, 48, 49, 50, 51, 52, 55}, 250},
    {"clock_back_3s", STAGGER4 "--gap 250:-3", {45, 48, 49, 50, 51, 52, 55}, 250},
    {"clock_forward_4h", STAGGER4 "--gap 250:14400", {45, 48, 49, 50, 51, 52, 55}, 250},
    // 8 channels with key frames 4 s apart, staggered by 0.28 s; channel 5's at 0, 1.12 and
    // 16.12 s.
    {"long_key_interval",
     "--video-mask 0xff --duration 18 --gop 100 --key-stagger 280 --channel-gop 5:375",
     {34, 60, 70},
     -1},
    {"channel_stops", STAGGER4 "--channel-stop 4:250", {30, 70, 90}, -1},
};

// The unit at the place of a seek to `percent`: DV, the first video unit whose header lies at or
// after that share of the bytes; AVC, the first video record from that share of the records on;
// at the end, the last video unit.
const mkrec::Unit *placeUnit(const mkrec::Manifest &m, bool avc, int percent) {
    const std::vector<const mkrec::Unit *> video = m.video();
    if (avc) {
        const size_t k = std::max<size_t>(m.units.size() * static_cast<size_t>(percent) / 100, 1);
        for (const mkrec::Unit *u : video)
            if (u->index >= k - 1) return u;
    } else {
        const uint64_t target = static_cast<uint64_t>(static_cast<double>(m.num("bytes")) * 0.01 * percent);
        for (const mkrec::Unit *u : video)
            if (u->offset >= target) return u;
    }
    return video.back();
}

// Each channel's picture of the place's moment T: its first frame timed from T to T + 0.5 s on
// the place's side of the clock change. A channel without one has nothing at T.
std::map<int, const mkrec::Unit *> picturesOfThePlace(const mkrec::Manifest &m, const mkrec::Unit *place,
                                                      int clockFrame) {
    const auto side = [&](const mkrec::Unit *u) { return clockFrame >= 0 && u->frame >= clockFrame; };
    std::map<int, const mkrec::Unit *> out;
    for (const mkrec::Unit *u : m.video())
        if (side(u) == side(place) && u->tUs >= place->tUs && u->tUs <= place->tUs + 500000)
            out.emplace(u->channel, u);
    return out;
}

// The unit of each delivered frame (by its bytes; of equal ones, the one nearest `nearUs`), null
// for none.
std::vector<const mkrec::Unit *> unitsOf(const mkrec::Manifest &m, const std::vector<VideoEvent> &events,
                                         int64_t nearUs) {
    std::multimap<std::string, const mkrec::Unit *> byMd5;
    for (const mkrec::Unit *u : m.video())
        byMd5.emplace(u->esMd5, u);
    std::vector<const mkrec::Unit *> out;
    for (const VideoEvent &e : events) {
        const auto [from, to] = byMd5.equal_range(mkrec::md5Hex(e.frame));
        const mkrec::Unit *best = nullptr;
        for (auto it = from; it != to; ++it)
            if (!best || std::abs(it->second->tUs - nearUs) < std::abs(best->tUs - nearUs)) best = it->second;
        out.push_back(best);
    }
    return out;
}

// ffmpeg's pictures of every channel's stream, as MD5s of RGBA frames.
std::map<int, std::vector<std::string>> reference(const mkrec::Manifest &m, const std::string &esDir) {
    std::map<int, std::vector<std::string>> out;
    for (const auto &vc : m.videoChannels) {
        const int ch = std::stoi(vc.at("ch"));
        out[ch] = frameMd5(esDir + "/video-ch" + std::to_string(ch) + ".h264", kRgbaFilter);
    }
    return out;
}

// What one paused seek delivered, against what it must show; then Play's first frames.
class LandingCheck {
  public:
    LandingCheck(const mkrec::Recording &rec, const std::string &esDir, int clockFrame, bool avc)
        : m_(rec.manifest), clockFrame_(clockFrame), avc_(avc), refs_(reference(rec.manifest, esDir)) {}

    // The pictures landed among `events`; the channels told they have none.
    void expectLanded(int percent, const std::vector<VideoEvent> &events, uint32_t noPicture,
                      std::map<int, const mkrec::Unit *> *landed) {
        const mkrec::Unit *place = placeUnit(m_, avc_, percent);
        const std::map<int, const mkrec::Unit *> want = picturesOfThePlace(m_, place, clockFrame_);
        const std::vector<const mkrec::Unit *> units = unitsOf(m_, events, place->tUs);
        landed->clear();
        for (size_t i = 0; i < events.size(); ++i) {
            const mkrec::Unit *u = units[i];
            ASSERT_NE(u, nullptr) << "a picture of no frame of the recording";
            EXPECT_TRUE(landed->emplace(u->channel, u).second) << "channel " << u->channel << " shown twice";
            EXPECT_EQ(pictureMd5(events[i]), refs_.at(u->channel).at(static_cast<size_t>(u->frame)))
                << "channel " << u->channel << " frame " << u->frame;
            const auto w = want.find(u->channel);
            if (w == want.end()) {
                ADD_FAILURE() << "channel " << u->channel << " has nothing at the place, showed frame "
                              << u->frame;
                continue;
            }
            // On the place's side of the change, at its moment.
            EXPECT_EQ(u->frame >= clockFrame_, place->frame >= clockFrame_) << "channel " << u->channel;
            EXPECT_LE(std::abs(u->tUs - w->second->tUs), 100000)
                << "channel " << u->channel << " frame " << u->frame << ", its picture is "
                << w->second->frame;
        }
        uint32_t channels = 0, unlanded = 0;
        for (const auto &vc : m_.videoChannels) {
            const int ch = std::stoi(vc.at("ch"));
            channels |= 1u << ch;
            if (!landed->count(ch)) unlanded |= 1u << ch;
            EXPECT_EQ(landed->count(ch), want.count(ch)) << "channel " << ch;
        }
        EXPECT_EQ(noPicture & channels, unlanded) << "channels told they have no picture";
    }

    // Play's first frame of every landed channel is that channel's next.
    void expectPlayOn(const std::map<int, const mkrec::Unit *> &landed,
                      const std::vector<VideoEvent> &events) {
        const std::vector<const mkrec::Unit *> units = unitsOf(m_, events, nearUs(landed));
        std::set<int> checked;
        for (const mkrec::Unit *u : units) {
            if (!u || !landed.count(u->channel) || !checked.insert(u->channel).second) continue;
            EXPECT_EQ(u->frame, landed.at(u->channel)->frame + 1)
                << "channel " << u->channel << " went on from frame " << landed.at(u->channel)->frame << ";"
                << framesOf(units);
        }
    }
    // Every landed channel that has a next frame has played it among `events`.
    bool playedOn(const std::map<int, const mkrec::Unit *> &landed, const std::vector<VideoEvent> &events) {
        std::set<int> played;
        for (const mkrec::Unit *u : unitsOf(m_, events, nearUs(landed)))
            if (u) played.insert(u->channel);
        for (const auto &[ch, u] : landed)
            if (!played.count(ch) && u->frame + 1 < static_cast<int>(m_.video(ch).size())) return false;
        return true;
    }

  private:
    static int64_t nearUs(const std::map<int, const mkrec::Unit *> &landed) {
        return landed.empty() ? 0 : landed.begin()->second->tUs;
    }
    static std::string framesOf(const std::vector<const mkrec::Unit *> &units) {
        std::string out;
        for (const mkrec::Unit *u : units)
            out += u ? " " + std::to_string(u->channel) + ":" + std::to_string(u->frame) : " ?";
        return out;
    }
    static std::string pictureMd5(const VideoEvent &e) {
        return md5(e.image->pixels(), e.image->byteCount());
    }
    const mkrec::Manifest &m_;
    const int clockFrame_;
    const bool avc_;
    const std::map<int, std::vector<std::string>> refs_;
};

// Each paused seek of `row` (`seek`: true once the engine holds again), checked, then Play until
// every landed channel has played on, checked, and a pause.
template <class Seek, class Play, class Pause>
void seekAndPlayOn(const LandingRow &row, LandingCheck &check, HeadlessDelegate &d, Seek seek, Play play,
                   Pause pause) {
    const auto since = [&](size_t from) {
        const std::vector<VideoEvent> all = d.videoEvents();
        return std::vector<VideoEvent>(all.begin() + static_cast<long>(from), all.end());
    };
    for (int percent : row.seeks) {
        SCOPED_TRACE("seek to " + std::to_string(percent) + "%");
        d.noPictureMask = 0;
        const size_t before = d.videoCount();
        ASSERT_TRUE(seek(percent));
        std::map<int, const mkrec::Unit *> landed;
        check.expectLanded(percent, since(before), d.noPictureMask.load(), &landed);
        const size_t played = d.videoCount();
        play();
        ASSERT_TRUE(waitFor([&] { return check.playedOn(landed, since(played)); }));
        ASSERT_TRUE(pause());
        check.expectPlayOn(landed, since(played));
    }
}

class DVLanding : public ::testing::TestWithParam<LandingRow> {};

TEST_P(DVLanding, EveryChannelAtThePlacesMomentAndPlayGoesOn) {
    const LandingRow &row = GetParam();
    mkrec::TempDir dir;
    std::vector<std::string> args = {"--kind", "dv5-nvr", "--size", "96x64", "--es-dir", dir.file("es")};
    for (const std::string &w : words(row.options))
        args.push_back(w);
    const mkrec::Recording rec = mkrec::make(dir, "r.dv5", args);
    ASSERT_TRUE(rec.ok()) << rec.output;
    LandingCheck check(rec, dir.file("es"), row.clockFrame, false);
    DVPlayer player;
    ASSERT_TRUE(player.start(kDV5NVR, rec.path, /*running=*/false));
    seekAndPlayOn(
        row, check, player.delegate, [&](int p) { return player.seek(p) && player.waitUntilParserRests(); },
        [&] { player.play(); },
        [&] {
            player.pauseNow();
            return player.waitUntilParserRests();
        });
}

INSTANTIATE_TEST_SUITE_P(Recordings, DVLanding, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<LandingRow> &info) {
                             return std::string(info.param.name);
                         });

class AVCLanding : public AVCEngineFixture, public ::testing::WithParamInterface<LandingRow> {};

TEST_P(AVCLanding, EveryChannelAtThePlacesMomentAndPlayGoesOn) {
    const LandingRow &row = GetParam();
    std::vector<std::string> args = {"--size", "96x64", "--audio-mask", "0"};
    for (const std::string &w : words(row.options))
        args.push_back(w);
    const mkrec::Recording rec = make("r.avc", args);
    ASSERT_TRUE(rec.ok());
    LandingCheck check(rec, dir.file("r.avc.es"), row.clockFrame, true);
    ASSERT_TRUE(startPaused(rec.path));
    delegate.avcStatus = kAVCFmtPlaybackPause;
    seekAndPlayOn(
        row, check, delegate, [&](int p) { return seekPaused(p) == 0; }, [&] { act(kAVCFmtPlaybackPlay); },
        [&] {
            pauseOnPicture_ = true;
            const bool paused = AVCEngineFixture::waitFor([&] { return !pauseOnPicture_.load(); });
            delegate.avcStatus = kAVCFmtPlaybackPause;
            return paused;
        });
}

INSTANTIATE_TEST_SUITE_P(Recordings, AVCLanding, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<LandingRow> &info) {
                             return std::string(info.param.name);
                         });

} // namespace

namespace {

class AVCLandingAtTheEdges : public AVCEngineFixture {};

// A reader that ends on an unreadable record in the middle of a landing ends the landing: the
// channels it had not landed are told they have no picture, and nothing waits for them.
TEST_F(AVCLandingAtTheEdges, AReaderThatEndsEndsTheLanding) {
    // These 20 flipped bytes leave a record the reader cannot read between the place of 55 % and
    // the last channel's picture there.
    const mkrec::Recording rec =
        make("d.avc", {"--video-mask", "0xf", "--duration", "10", "--gop", "25", "--key-stagger", "200",
                       "--audio-mask", "0", "--flip", "20", "--seed", "9"});
    ASSERT_TRUE(startPaused(rec.path));
    delegate.avcStatus = kAVCFmtPlaybackPause;
    const size_t before = delegate.videoCount();
    ASSERT_EQ(engine.changePlaybackProgress(55), 0);
    ASSERT_TRUE(waitFor([&] { return delegate.avcEndNotices.load() == 1 && !engine.landingUnderWay(); }))
        << "the landing waits for channels the reader cannot reach";
    const size_t landed = delegate.videoCount() - before;
    EXPECT_GT(landed, 0u);
    EXPECT_LT(landed, 4u) << "the damage is to lie inside the landing";
    EXPECT_EQ(__builtin_popcount(delegate.noPictureMask.load() & 0xF), static_cast<int>(4 - landed));
}

// Paused at the very end (the landing's last picture followed by audio records only), Play reads
// those and ends there: the reader, stopped from inside its callback at the end, is not set
// running again by the play that let it through, so nothing is read from the first frame on.
TEST_F(AVCLandingAtTheEdges, PlayFromTheEndEndsThere) {
    const mkrec::Recording rec = make("e.avc", {"--video-mask", "0xf", "--duration", "4", "--gop", "25"});
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        engine.closeAVCFileAndStopParser();
        delegate.avcEndNotices = 0;
        ASSERT_TRUE(startPaused(rec.path));
        delegate.avcStatus = kAVCFmtPlaybackPause;
        ASSERT_EQ(seekPaused(100), 0);
        const size_t landed = delegate.videoCount();
        act(kAVCFmtPlaybackPlay);
        ASSERT_TRUE(waitEnd());
        // The reader rests: asleep for five looks in a row.
        int asleep = 0;
        ASSERT_TRUE(waitFor([&] {
            asleep = testutil::threadState(delegate.parserTid.load()) == 'S' ? asleep + 1 : 0;
            return asleep >= 5;
        }));
        EXPECT_EQ(delegate.videoCount(), landed) << "pictures after the end";
        EXPECT_EQ(delegate.avcEndNotices.load(), 1);
    }
}

// A clock set forward 4.4 s at 1 s: the step across it is paced (a longer one is a gap), and a
// seek made while a channel sleeps it out lands without waiting for the sleep. The deadline is
// many times what the landing takes and under what the sleep would.
const char *const kClockForward = "--video-mask 0x3 --duration 6 --gop 10 --gap 25:4.4";

// The first picture among `events` of a frame at or past `frame`.
bool pictureFrom(const mkrec::Manifest &m, const std::vector<VideoEvent> &events, int frame) {
    for (const mkrec::Unit *u : unitsOf(m, events, 0))
        if (u && u->frame >= frame) return true;
    return false;
}

TEST(DVLandingWhilePacing, ASeekDoesNotWaitOutTheStepAcrossAClockChange) {
    mkrec::TempDir dir;
    std::vector<std::string> args = {"--kind", "dv5-nvr", "--size", "96x64"};
    for (const std::string &w : words(kClockForward))
        args.push_back(w);
    const mkrec::Recording rec = mkrec::make(dir, "c.dv5", args);
    ASSERT_TRUE(rec.ok()) << rec.output;
    DVPlayer player(/*pacedAtStart=*/true);
    ASSERT_TRUE(player.start(kDV5NVR, rec.path));
    ASSERT_TRUE(waitFor([&] { return pictureFrom(rec.manifest, player.video(), 25); }));
    const size_t before = player.videoCount();
    dvFmtRequestSeek(80);
    EXPECT_TRUE(waitFor(
        [&] {
            const std::vector<VideoEvent> all = player.video();
            return pictureFrom(rec.manifest, {all.begin() + static_cast<long>(before), all.end()}, 100);
        },
        2000))
        << "the seek waited for the pacing";
}

class AVCLandingWhilePacing : public AVCEngineFixture {};

TEST_F(AVCLandingWhilePacing, ASeekDoesNotWaitOutTheStepAcrossAClockChange) {
    std::vector<std::string> args = {"--size", "96x64", "--audio-mask", "0"};
    for (const std::string &w : words(kClockForward))
        args.push_back(w);
    const mkrec::Recording rec = make("c.avc", args);
    ASSERT_TRUE(start(rec.path));
    ASSERT_TRUE(waitFor([&] { return pictureFrom(rec.manifest, delegate.videoEvents(), 25); }));
    const size_t before = delegate.videoCount();
    ASSERT_EQ(engine.changePlaybackProgress(80), 0);
    EXPECT_TRUE(waitFor(
        [&] {
            const std::vector<VideoEvent> all = delegate.videoEvents();
            return pictureFrom(rec.manifest, {all.begin() + static_cast<long>(before), all.end()}, 100);
        },
        std::chrono::milliseconds(2000)))
        << "the seek waited for the pacing";
}

// Play after 8x lands every tile at the moment on screen: the newest picture delivered, though its
// pacing (half a second at 8x between key frames 4 s apart) still holds the reader when Play comes.
TEST_F(AVCLandingWhilePacing, PlayAfter8xLandsAtTheNewestPicture) {
    const mkrec::Recording rec = make("k.avc", {"--size", "96x64", "--audio-mask", "0", "--video-mask", "0x3",
                                                "--duration", "20", "--gop", "100"});
    std::atomic<int> newest{-1};
    delegate.onVideo = [&](const VideoEvent &e) {
        if (delegate.avcStatus.load() == kAVCFmtPlaybackFastForward8x && e.channel == 0)
            newest = static_cast<int>(delegate.videoCount());
    };
    ASSERT_TRUE(start(rec.path));
    act(kAVCFmtPlaybackFastForward8x);
    // Channel 1's fourth key frame at 8x, in its pacing sleep.
    const auto newestUnit = [&](const std::vector<VideoEvent> &events, int at) {
        return at > 0 ? unitsOf(rec.manifest, events, 0)[static_cast<size_t>(at) - 1] : nullptr;
    };
    ASSERT_TRUE(waitFor([&] {
        const int at = newest.load();
        const mkrec::Unit *u = newestUnit(delegate.videoEvents(), at);
        return u && u->frame >= 300;
    }));
    const int at = newest.load();
    const std::vector<VideoEvent> before = delegate.videoEvents();
    const mkrec::Unit *onScreen = newestUnit(before, at);
    ASSERT_NE(onScreen, nullptr);
    act(kAVCFmtPlaybackPlay);
    ASSERT_TRUE(waitFor([&] { return delegate.videoCount() >= before.size() + 2; }));
    const std::vector<VideoEvent> all = delegate.videoEvents();
    for (const mkrec::Unit *u :
         unitsOf(rec.manifest, {all.begin() + static_cast<long>(before.size()), all.end()}, onScreen->tUs))
        EXPECT_GE(u->tUs, onScreen->tUs) << "channel " << u->channel << " frame " << u->frame
                                         << " before frame " << onScreen->frame << " on screen";
}

// Pause right after a seek made while playing lets the landing finish and holds there: every
// channel shows its picture of the place, though the reader was on a record from before the move.
TEST_F(AVCLandingAtTheEdges, PauseRightAfterAPlayingSeekHoldsAtThePlace) {
    const mkrec::Recording rec = make("p.avc", {"--size", "96x64", "--audio-mask", "0", "--video-mask", "0xf",
                                                "--duration", "10", "--gop", "25"});
    ASSERT_TRUE(start(rec.path));
    for (int percent : {30, 60, 45, 80}) {
        SCOPED_TRACE("seek to " + std::to_string(percent) + "%");
        if (delegate.avcStatus.load() != kAVCFmtPlaybackPlay) act(kAVCFmtPlaybackPlay);
        ASSERT_TRUE(waitFor([&] { return delegate.videoCount() > 4; }));
        const size_t before = delegate.videoCount();
        ASSERT_EQ(engine.changePlaybackProgress(percent), 0);
        act(kAVCFmtPlaybackPause);
        ASSERT_TRUE(waitFor([&] { return !engine.landingUnderWay(); })) << "the landing stalls";
        // Each channel's last picture: one of the record the reader was on at the seek may come
        // before the landing's.
        const std::vector<VideoEvent> all = delegate.videoEvents();
        std::map<unsigned, VideoEvent> last;
        for (size_t i = before; i < all.size(); ++i)
            last.insert_or_assign(all[i].channel, all[i]);
        std::vector<VideoEvent> shown;
        for (const auto &l : last)
            shown.push_back(l.second);
        std::map<int, const mkrec::Unit *> landed;
        LandingCheck(rec, dir.file("p.avc.es"), -1, true).expectLanded(percent, shown, 0, &landed);
        EXPECT_EQ(landed.size(), 4u);
    }
}

} // namespace
