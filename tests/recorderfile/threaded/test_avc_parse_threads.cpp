// The AVC parser's threads against closes and controls from other threads:
// close during an index build, close right after open, and open / control /
// seek / close loops with controls from the callback and from two other
// threads. Delivered frames must stay whole (their bytes match the manifest)
// whatever moves the reader meanwhile.
#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "recorderfile/parse_session.h"

namespace {

using parsetest::Event;
using parsetest::Session;
using Clock = std::chrono::steady_clock;

mkrec::Recording makeRec(const mkrec::TempDir &dir, const std::string &name,
                         const std::vector<std::string> &args) {
    mkrec::Recording r = mkrec::make(dir, name, args);
    EXPECT_TRUE(r.ok()) << r.output;
    return r;
}

std::vector<std::string> leftovers(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > 4 &&
                (n.compare(n.size() - 4, 4, ".idx") == 0 || n.compare(n.size() - 4, 4, ".tmp") == 0))
                names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

// Every event is a known code, and every frame is a whole record of the recording.
void expectSound(const std::vector<Event> &events, const mkrec::Manifest &m, const std::string &what) {
    for (const Event &e : events) {
        if (e.isIndex()) {
            EXPECT_LE(e.code, AVC_CODE_INDEX_DONE) << what;
            continue;
        }
        if (e.code == AVC_CODE_END_OF_DATA) {
            ADD_FAILURE() << what << ": the reader ended on a whole recording";
            continue;
        }
        ASSERT_TRUE(e.isFrame() || e.code == AVC_CODE_FIRST_FRAME) << what << " code " << e.code;
        if (e.code == AVC_CODE_FIRST_FRAME && e.frameNo == 0) continue; // nothing read yet
        ASSERT_GE(e.frameNo, 1u) << what;
        ASSERT_LE(e.frameNo, m.units.size()) << what;
        EXPECT_EQ(e.md5, m.units[e.frameNo - 1].esMd5) << what << " frame " << e.frameNo;
    }
}

TEST(AvcParserThreads, CloseDuringTheIndexBuildReturnsPromptly) {
    mkrec::TempDir dir;
    const mkrec::Recording r =
        makeRec(dir, "long.avc",
                {"--kind", "avc", "--frames", "300", "--size", "32x32", "--gop", "30", "--audio-mask", "0"});
    for (int round = 0; round < 3; ++round) {
        // A slow receiver of the index progress: the rest of the build would take over a
        // second. It holds the build at its first report until the close begins, so that the
        // close comes during the build however late this thread gets to it.
        std::atomic<bool> closing{false};
        Session s([&closing](Session &, const Event &e) {
            if (!e.isIndex()) return;
            const auto deadline = Clock::now() + std::chrono::seconds(10);
            while (!closing && Clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(12));
        });
        ASSERT_NE(s.open(r.path), 0);
        ASSERT_TRUE(s.waitUntil([](const std::vector<Event> &ev) { return !ev.empty(); }));
        const auto start = Clock::now();
        closing = true;
        s.close();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_LT(took, 200) << round;
        const std::vector<int> codes = s.indexCodes();
        ASSERT_FALSE(codes.empty());
        EXPECT_LT(codes.back(), AVC_CODE_INDEX_DONE);
        EXPECT_EQ(s.events().size(), codes.size()); // no frame
        EXPECT_TRUE(leftovers(dir.path()).empty());
    }
}

TEST(AvcParserThreads, CloseRightAfterOpen) {
    mkrec::TempDir dir;
    const mkrec::Recording r =
        makeRec(dir, "a.avc", {"--kind", "avc", "--frames", "40", "--size", "32x32", "--gop", "8"});
    const std::vector<uint8_t> expectedIdx = mkrec::readFile(r.expectedIdxPath);
    for (int i = 0; i < 100; ++i) {
        if (i % 2 == 0) std::remove(dir.file("a.idx").c_str());
        Session s;
        ASSERT_NE(s.open(r.path), 0) << i;
        s.close();
        const size_t seen = s.count();
        expectSound(s.events(), r.manifest, "iteration " + std::to_string(i));
        std::this_thread::yield();
        EXPECT_EQ(s.count(), seen) << "a callback after close, iteration " << i;
        // Either no index file or a complete one, never a partial one.
        const std::vector<uint8_t> idx = mkrec::readFile(dir.file("a.idx"));
        EXPECT_TRUE(idx.empty() || idx == expectedIdx) << i;
        EXPECT_FALSE(parsetest::fileExists(dir.file("a.idx.tmp"))) << i;
    }
}

// One random control: a seek or an action 0..14 (and a few out of range).
void randomControl(Session &s, std::mt19937 &rng) {
    const int pick = static_cast<int>(rng() % 20);
    if (pick < 4)
        s.seek(static_cast<int>(rng() % 130) - 10);
    else
        s.status(static_cast<int>(rng() % 17) - 1);
}

TEST(AvcParserThreads, OpenControlSeekCloseLoops) {
    mkrec::TempDir dir;
    const mkrec::Recording r =
        makeRec(dir, "a.avc",
                {"--kind", "avc", "--frames", "40", "--size", "32x32", "--gop", "8", "--audio", "g723"});
    for (int i = 0; i < 100; ++i) {
        if (i % 10 == 0) std::remove(dir.file("a.idx").c_str()); // some rounds build the index
        std::mt19937 rng(static_cast<unsigned>(i));
        std::atomic<unsigned> calls{0};
        // As the engine: stop at the end; and now and then a control from inside the callback.
        Session s([&calls](Session &self, const Event &e) {
            const unsigned n = calls.fetch_add(1);
            if (e.code == 100 || e.code == AVC_CODE_FIRST_FRAME)
                self.status(AVC_ACTION_STOP);
            else if (e.isFrame() && n % 7 == 3)
                self.seek(static_cast<int>(n * 13 % 101));
            else if (e.isFrame() && n % 11 == 5)
                self.status(static_cast<int>(n % 15));
        });
        ASSERT_NE(s.open(r.path), 0) << i;
        std::atomic<bool> stop{false};
        std::thread other;
        if (i % 2 == 1) {
            other = std::thread([&s, &stop, i] {
                std::mt19937 rng2(static_cast<unsigned>(1000 + i));
                while (!stop) {
                    randomControl(s, rng2);
                    std::this_thread::sleep_for(std::chrono::microseconds(rng2() % 200));
                }
            });
        }
        const int controls = 5 + static_cast<int>(rng() % 15);
        for (int c = 0; c < controls; ++c) {
            randomControl(s, rng);
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 300));
        }
        stop = true;
        if (other.joinable()) other.join();
        s.close();
        expectSound(s.events(), r.manifest, "iteration " + std::to_string(i));
        EXPECT_FALSE(parsetest::fileExists(dir.file("a.idx.tmp"))) << i;
    }
}

} // namespace
