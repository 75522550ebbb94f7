// Damaged DV recordings (every damage the generator makes) through the whole engine: no crash,
// no hang, exactly one end notice, and every frame the damage leaves whole still delivered.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <sys/stat.h>

#include <fstream>

#include "common/watchdog.h"
#include "engines/dv_play_harness.h"

using namespace enginetest;

namespace {

using Units = std::vector<const mkrec::Unit *>;
using Check = std::function<void(const std::vector<VideoEvent> &, const mkrec::Manifest &)>;

struct Damage {
    std::string name;
    std::vector<std::string> args;
    Check check; // may be empty: only the common checks
};

std::vector<std::string> frameMd5s(const std::vector<VideoEvent> &events) {
    std::vector<std::string> out;
    for (const VideoEvent &e : events)
        out.push_back(mkrec::md5Hex(e.frame));
    return out;
}

// Exactly these units' frames, in this order.
Check exactly(Units want) {
    return [want](const std::vector<VideoEvent> &got, const mkrec::Manifest &) {
        std::vector<std::string> md5s;
        for (const mkrec::Unit *u : want)
            md5s.push_back(u->md5);
        EXPECT_EQ(frameMd5s(got), md5s);
    };
}

// Every unit but `lost` is delivered, in order, except frames of lost's channel between it and
// that channel's next key frame (they may or may not decode without it); `lost` is not.
Check allBut(const mkrec::Unit *lost) {
    return [lost](const std::vector<VideoEvent> &got, const mkrec::Manifest &m) {
        const std::vector<std::string> md5s = frameMd5s(got);
        size_t at = 0;
        bool gap = false;
        for (const mkrec::Unit *u : m.video()) {
            if (u == lost) {
                gap = true;
                continue;
            }
            if (gap && u->channel == lost->channel) {
                if (u->key) gap = false;
                if (gap) {
                    if (at < md5s.size() && md5s[at] == u->md5) ++at;
                    continue;
                }
            }
            ASSERT_LT(at, md5s.size()) << "unit " << u->index << " missing";
            EXPECT_EQ(md5s[at], u->md5) << "unit " << u->index;
            ++at;
        }
        EXPECT_EQ(at, md5s.size());
    };
}

Units before(const mkrec::Manifest &m, const mkrec::Unit *stop) {
    Units out;
    for (const mkrec::Unit *u : m.video())
        if (u->offset < stop->offset) out.push_back(u);
    return out;
}

std::vector<Damage> damagesFor(const DVKind &kind, const mkrec::Manifest &m) {
    const Units video = m.video();
    const Units audio = m.audio();
    const mkrec::Unit *last = video.back();
    const mkrec::Unit *middle = video[video.size() / 2];
    const bool dv4 = !kind.dv5();
    std::vector<Damage> d;
    // Ends right after the last video header: the frame before it is the last one shown.
    d.push_back({"truncate after a header",
                 {"--truncate", std::to_string(last->payloadOffset)},
                 exactly(before(m, last))});
    d.push_back({"truncate inside a header",
                 {"--truncate", std::to_string(last->offset + 9)},
                 exactly(before(m, last))});
    // Cut inside the last payload: DV4 has no length and shows what is there (if it decodes),
    // DV5 drops the unit whose length runs past the end.
    d.push_back({"truncate inside a payload",
                 {"--truncate", std::to_string(last->payloadOffset + last->payloadLen / 2)},
                 [&m, last, dv4](const std::vector<VideoEvent> &got, const mkrec::Manifest &) {
                     const Units whole = before(m, last);
                     ASSERT_GE(got.size(), whole.size());
                     ASSERT_LE(got.size(), whole.size() + (dv4 ? 1 : 0));
                     exactly(whole)(
                         std::vector<VideoEvent>(got.begin(), got.begin() + static_cast<long>(whole.size())),
                         m);
                 }});
    // A zero byte after the end: every frame is still shown (DV4 counts the byte into the last).
    d.push_back(
        {"end zero", {"--end-zero"}, [&m, dv4](const std::vector<VideoEvent> &got, const mkrec::Manifest &) {
             const Units all = m.video();
             ASSERT_EQ(got.size(), all.size());
             exactly(Units(all.begin(), all.end() - 1))(std::vector<VideoEvent>(got.begin(), got.end() - 1),
                                                        m);
             std::vector<uint8_t> lastFrame = got.back().frame;
             // Counted into whichever payload the file ends with.
             if (dv4 && m.units.back().video) {
                 ASSERT_FALSE(lastFrame.empty());
                 EXPECT_EQ(lastFrame.back(), 0);
                 lastFrame.pop_back();
             }
             EXPECT_EQ(mkrec::md5Hex(lastFrame), all.back()->md5);
         }});
    d.push_back({"empty", {"--empty"}, exactly({})});
    for (int seed = 1; seed <= 3; ++seed)
        d.push_back({"flip seed " + std::to_string(seed),
                     {"--flip", std::to_string(8 * seed), "--seed", std::to_string(seed)},
                     nullptr});
    if (kind.dv5()) {
        const std::string v = std::to_string(middle->index),
                          a = std::to_string(audio[audio.size() / 2]->index);
        d.push_back({"oversize video", {"--oversize", v}, allBut(middle)});
        d.push_back({"oversize video, past the end",
                     {"--oversize", v + ":" + std::to_string(kDVVideoPayloadRoom)},
                     allBut(middle)});
        d.push_back({"zero-length video", {"--zero-length", v}, allBut(middle)});
        d.push_back({"bad channel video", {"--bad-channel", v}, allBut(middle)});
        d.push_back({"oversize audio", {"--oversize", a + ":4097"}, exactly(video)});
        d.push_back({"zero-length audio", {"--zero-length", a}, nullptr});
        d.push_back({"bad channel audio", {"--bad-channel", a + ":200"}, exactly(video)});
    }
    return d;
}

class DVDamage : public ::testing::TestWithParam<DVKind> {};

} // namespace

TEST_P(DVDamage, NoCrashNoHangOneEndNotice) {
    const DVKind &kind = GetParam();
    mkrec::TempDir dir;
    std::vector<std::string> base{"--kind", kind.kind, "--size", "96x64",   "--frames",
                                  "8",      "--gop",   "4",      "--audio", "pcm16"};
    if (kind.dv5()) {
        for (const char *w :
             {"--video-mask", "0x3", "--audio-mask", "0x3", "--ext-every", "3", "--ext-len", "6"})
            base.push_back(w);
    }
    const mkrec::Recording clean = mkrec::make(dir, "clean", base);
    ASSERT_TRUE(clean.ok()) << clean.output;

    int n = 0;
    for (const Damage &damage : damagesFor(kind, clean.manifest)) {
        SCOPED_TRACE(damage.name);
        std::vector<std::string> args = base;
        args.insert(args.end(), damage.args.begin(), damage.args.end());
        const mkrec::Recording rec = mkrec::make(dir, "d" + std::to_string(n++), args);
        ASSERT_TRUE(rec.ok()) << rec.output;

        DVPlayer player;
        player.delegate.selectedAudioChannel = 2;
        ASSERT_TRUE(player.start(kind, rec.path));
        ASSERT_TRUE(player.waitForEnd()) << "no end notice: the application would stay playing";
        ASSERT_TRUE(player.waitUntilParserRests());
        EXPECT_EQ(player.delegate.dvEndNotices.load(), 1);
        const std::vector<VideoEvent> all = player.video();
        const size_t atEnd = player.videoAtEnd.empty() ? all.size() : player.videoAtEnd[0];
        if (damage.check)
            damage.check(std::vector<VideoEvent>(all.begin(), all.begin() + static_cast<long>(atEnd)),
                         clean.manifest);
        // A file played to its end plays again from its start.
        if (rec.manifest.num("bytes") > 0) {
            player.play();
            EXPECT_TRUE(player.waitForEnd(2)) << "the second playthrough did not end";
        }
        player.close();
        EXPECT_FALSE(player.engine.isDVFmtParserThreadExecuting());
        // The close is not taken for another play: no end notice comes with it.
        EXPECT_EQ(player.delegate.dvEndNotices.load(), rec.manifest.num("bytes") > 0 ? 2 : 1);
    }
}

// Files with no unit to hand off, and paths that are not files: the engine says "end" once,
// stays parked without spinning, and a close is a close (not a second playthrough). A FIFO
// is refused at the start, without blocking.
TEST_P(DVDamage, NothingToPlayEndsOnceThroughClose) {
    const DVKind &kind = GetParam();
    mkrec::TempDir dir;
    const mkrec::Recording clean =
        mkrec::make(dir, "clean", {"--kind", kind.kind, "--size", "96x64", "--frames", "4", "--gop", "2"});
    ASSERT_TRUE(clean.ok()) << clean.output;
    const std::vector<uint8_t> bytes = mkrec::readFile(clean.path);
    const mkrec::Unit *first = clean.manifest.video().front();

    std::vector<uint8_t> junk(1 << 20);
    uint32_t x = 12345;
    for (uint8_t &b : junk) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    struct Case {
        std::string name;
        std::vector<uint8_t> content;
        bool fifo;
    };
    std::vector<Case> cases{{"one byte", {0x00}, false},
                            {"zeros", std::vector<uint8_t>(1 << 20, 0), false},
                            {"junk", junk, false},
                            {"fifo", {}, true}};
    std::vector<uint8_t> headed(bytes.begin(), bytes.begin() + static_cast<long>(first->payloadOffset));
    headed.insert(headed.end(), junk.begin(), junk.end());
    cases.push_back({"junk behind a header", headed, false});

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name + "." + (kind.dv5() ? "dv5" : "dv4"));
        if (c.fifo) {
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        } else {
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char *>(c.content.data()),
                       static_cast<std::streamsize>(c.content.size()));
        }
        testutil::Watchdog dog(20, "playing and closing " + c.name);
        DVPlayer player;
        if (c.fifo) {
            // Not a file it can open: the engine does not start, so nothing ends either.
            EXPECT_FALSE(player.start(kind, path));
            player.close();
            EXPECT_FALSE(player.engine.isDVFmtParserThreadExecuting());
            EXPECT_EQ(player.delegate.dvEndNotices.load(), 0);
            continue;
        }
        ASSERT_TRUE(player.start(kind, path));
        ASSERT_TRUE(player.waitForEnd(1, 10000)) << "no end notice: the application would stay playing";
        ASSERT_TRUE(player.waitUntilParserRests(8000));
        player.close();
        EXPECT_FALSE(player.engine.isDVFmtParserThreadExecuting());
        EXPECT_EQ(player.delegate.dvEndNotices.load(), 1);
        EXPECT_EQ(player.videoCount(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DVDamage, ::testing::Values(kDV4H264, kDV4MPEG4, kDV5NVR, kDV5DVR),
                         [](const ::testing::TestParamInfo<DVKind> &info) {
                             std::string n = info.param.kind;
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });
