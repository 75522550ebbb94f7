// The AVC parser on generated recordings: the index build and its reuse, the
// order and content of the delivered frames (against the generator's manifest
// and expected index), and the play, pause, step, speed, rewind and seek
// controls, asserted as sequences of callback codes and frame numbers.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "recorderfile/byte_file.h"
#include "recorderfile/parse_session.h"

namespace {

using parsetest::Event;
using parsetest::Session;
using Args = std::vector<std::string>;

// 30 H.264 frames (key frames every 10) interleaved with 30 u-law packets:
// 60 records, key entries at 1, 21 and 41.
const Args kStandard = {"--kind", "avc", "--frames", "30", "--gop", "10", "--size", "64x48"};

mkrec::Recording makeRec(const mkrec::TempDir &dir, const std::string &name, const Args &args) {
    mkrec::Recording r = mkrec::make(dir, name, args);
    EXPECT_TRUE(r.ok()) << r.output;
    return r;
}

void writeBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void copyFile(const std::string &from, const std::string &to) {
    writeBytes(to, mkrec::readFile(from));
}

// Checks one delivered frame against the manifest's unit at its position.
void expectFrame(const Event &e, const mkrec::Manifest &m, const std::string &what) {
    ASSERT_TRUE(e.hasHeader) << what;
    ASSERT_GE(e.frameNo, 1u) << what;
    ASSERT_LE(e.frameNo, m.units.size()) << what;
    const mkrec::Unit &u = m.units[e.frameNo - 1];
    EXPECT_EQ(e.md5, u.esMd5) << what << " frame " << e.frameNo;
    EXPECT_EQ(e.length, u.esLen) << what << " frame " << e.frameNo;
    EXPECT_EQ(std::to_string(e.streamType), u.attr("stream_type")) << what << " frame " << e.frameNo;
    EXPECT_EQ(e.key, u.video && u.key ? 1 : 0) << what << " frame " << e.frameNo;
    EXPECT_EQ(e.channel, u.channel + 1) << what << " frame " << e.frameNo;
}

int progressOf(unsigned long number, unsigned long total) {
    return static_cast<int>(std::min(100ul, 100 * number / total));
}

// Splits a fresh open's events into the index codes before the first frame and the rest.
void splitIndex(const std::vector<Event> &all, std::vector<int> &index, std::vector<Event> &rest) {
    size_t i = 0;
    for (; i < all.size() && all[i].isIndex(); ++i)
        index.push_back(all[i].code);
    rest.assign(all.begin() + static_cast<long>(i), all.end());
}

void expectIndexCodes(const std::vector<int> &codes, const std::string &what) {
    ASSERT_FALSE(codes.empty()) << what;
    for (size_t i = 0; i < codes.size(); ++i) {
        EXPECT_GE(codes[i], 1000) << what;
        EXPECT_LE(codes[i], 1100) << what;
        if (i > 0) {
            EXPECT_GT(codes[i], codes[i - 1]) << what;
        }
    }
    EXPECT_EQ(codes.back(), 1100) << what;
}

// Plays to the end: index codes (when built), then every record in order, the last with 100.
void expectWholePlay(Session &s, const mkrec::Recording &r, bool built, const std::string &what) {
    ASSERT_TRUE(s.waitTerminal()) << what;
    ASSERT_TRUE(s.waitUntilRests());
    std::vector<int> index;
    std::vector<Event> frames;
    splitIndex(s.events(), index, frames);
    if (built)
        expectIndexCodes(index, what);
    else
        EXPECT_TRUE(index.empty()) << what;
    const size_t total = r.manifest.units.size();
    ASSERT_EQ(frames.size(), total) << what;
    for (size_t i = 0; i < total; ++i) {
        EXPECT_EQ(frames[i].frameNo, i + 1) << what;
        EXPECT_EQ(frames[i].code, progressOf(i + 1, total)) << what;
        expectFrame(frames[i], r.manifest, what);
    }
    EXPECT_EQ(frames.back().code, 100) << what;
}

struct FileId {
    ino_t ino = 0;
    timespec mtime{};
    off_t size = 0;
};

FileId fileId(const std::string &path) {
    struct stat st {};
    FileId id;
    if (::stat(path.c_str(), &st) == 0) {
        id.ino = st.st_ino;
        id.mtime = st.st_mtim;
        id.size = st.st_size;
    }
    return id;
}

std::vector<std::string> listDir(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

bool endsWith(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// ---------------------------------------------------------------------------
// Opening, the index file and the whole play.

TEST(AvcParserOpen, BuildsIndexThenDeliversEveryFrameInOrderAndReusesTheIndex) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);
    ASSERT_EQ(r.manifest.units.size(), 60u);
    const std::string idx = dir.file("a.idx");

    {
        Session s;
        ASSERT_NE(s.open(r.path), 0);
        expectWholePlay(s, r, true, "fresh");
        s.close();
        // Index progress comes from one thread, frames from another.
        const std::vector<Event> all = s.events();
        EXPECT_NE(all.front().thread, all.back().thread);
        EXPECT_NE(all.front().thread, std::this_thread::get_id());
        EXPECT_NE(all.back().thread, std::this_thread::get_id());
    }
    ASSERT_TRUE(parsetest::fileExists(idx));
    EXPECT_EQ(mkrec::readFile(idx), mkrec::readFile(r.expectedIdxPath));
    EXPECT_FALSE(parsetest::fileExists(idx + ".tmp"));

    // A valid index is read, not rebuilt nor rewritten.
    const FileId before = fileId(idx);
    {
        Session s;
        ASSERT_NE(s.open(r.path), 0);
        expectWholePlay(s, r, false, "reused");
    }
    const FileId after = fileId(idx);
    EXPECT_EQ(after.ino, before.ino);
    EXPECT_EQ(after.mtime.tv_sec, before.mtime.tv_sec);
    EXPECT_EQ(after.mtime.tv_nsec, before.mtime.tv_nsec);
}

TEST(AvcParserOpen, RebuildsAnIndexThatIsPartialOrBelongsElsewhere) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);
    const mkrec::Recording other =
        makeRec(dir, "other.avc",
                {"--kind", "avc", "--frames", "30", "--gop", "5", "--size", "80x64", "--audio", "g723"});
    const std::vector<uint8_t> good = mkrec::readFile(r.expectedIdxPath);
    ASSERT_EQ(good.size(), 60u * 36);

    std::vector<uint8_t> flipped = good;
    flipped[36 * 7 + 9] ^= 0x01; // one entry's offset

    const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
        {"5 bytes", std::vector<uint8_t>(good.begin(), good.begin() + 5)},
        {"first 10 records", std::vector<uint8_t>(good.begin(), good.begin() + 360)},
        {"another recording's", mkrec::readFile(other.expectedIdxPath)},
        {"one offset changed", flipped},
    };
    for (const auto &c : cases) {
        writeBytes(dir.file("a.idx"), c.second);
        Session s;
        ASSERT_NE(s.open(r.path), 0) << c.first;
        expectWholePlay(s, r, true, c.first);
        s.close();
        EXPECT_EQ(mkrec::readFile(dir.file("a.idx")), good) << c.first;
    }
}

TEST(AvcParserOpen, RefusesFilesItCannotPlay) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);
    const long headerLen = r.manifest.num("header_len");
    struct Case {
        std::string name;
        std::string path;
    };
    std::vector<Case> cases = {{"missing", dir.file("missing.avc")}, {"folder", dir.path()}};
    const std::vector<std::pair<std::string, Args>> made = {
        {"empty", {"--empty"}},
        {"short main header", {"--truncate", std::to_string(headerLen - 1)}},
        {"header only", {"--truncate", std::to_string(headerLen)}},
        {"total 0", {"--total-frames", "0"}},
        {"total beyond the file", {"--total-frames", "4000000000"}},
        {"total beyond the file by one",
         {"--total-frames", std::to_string((r.manifest.num("bytes") - headerLen) / 6 + 1)}},
    };
    for (size_t i = 0; i < made.size(); ++i) {
        Args args = kStandard;
        args.insert(args.end(), made[i].second.begin(), made[i].second.end());
        const std::string name = "bad" + std::to_string(i) + ".avc";
        const mkrec::Recording bad = makeRec(dir, name, args);
        cases.push_back({made[i].first, bad.path});
    }
    for (const Case &c : cases) {
        Session s;
        EXPECT_EQ(s.open(c.path), 0) << c.name;
        ASSERT_TRUE(s.waitUntilRests());
        EXPECT_EQ(s.count(), 0u) << c.name;
    }
    EXPECT_EQ(avc_parse_open(nullptr, nullptr, nullptr), 0);
    for (const std::string &n : listDir(dir.path()))
        EXPECT_FALSE(endsWith(n, ".idx") || endsWith(n, ".tmp")) << n;

    // Handles that name nothing are harmless.
    avc_parse_close(0);
    avc_parse_close(123456789);
    avc_playback_status(123456789, AVC_ACTION_PLAY);
    EXPECT_EQ(avc_playback_progress(123456789, 50), -1);
    EXPECT_EQ(avc_parse_passes(123456789), -1);
}

TEST(AvcParserOpen, IndexFileName) {
    EXPECT_EQ(avc_index_path("/a/b.avc"), "/a/b.idx");
    EXPECT_EQ(avc_index_path("rec.avc"), "rec.idx");
    EXPECT_EQ(avc_index_path("/a/b.avc.avc"), "/a/b.avc.idx");
    EXPECT_EQ(avc_index_path("/a/b.avcx"), "/a/b.idx");
    EXPECT_EQ(avc_index_path("/a/b.AVC"), "");
    EXPECT_EQ(avc_index_path("/a/b"), "");
    // A ".avc" in a folder name does not count: the index would land elsewhere.
    EXPECT_EQ(avc_index_path("/a/x.avc.d/rec.AVC"), "");
    EXPECT_EQ(avc_index_path("/a/x.avc.d/rec.avc"), "/a/x.avc.d/rec.idx");
}

TEST(AvcParserOpen, PlaysFromLongPathsUpperCaseNamesAndTwoAvcNames) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);

    // A 300-character path (longer than any fixed 256-byte name buffer).
    const std::string deep = dir.path() + "/" + std::string(100, 'd');
    ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0);
    std::string longPath = deep + "/";
    longPath += std::string(300 - longPath.size() - 4, 'n') + ".avc";
    ASSERT_EQ(longPath.size(), 300u);
    copyFile(r.path, longPath);
    {
        Session s;
        ASSERT_NE(s.open(longPath), 0);
        expectWholePlay(s, r, true, "long path");
    }
    EXPECT_EQ(mkrec::readFile(longPath.substr(0, longPath.size() - 4) + ".idx"),
              mkrec::readFile(r.expectedIdxPath));

    // Upper case: the index is kept in memory only, seeks still work.
    const std::string upperDir = dir.file("upper");
    ASSERT_EQ(::mkdir(upperDir.c_str(), 0755), 0);
    copyFile(r.path, upperDir + "/b.AVC");
    {
        std::atomic<int> seekResult{99};
        Session s([&](Session &self, const Event &e) {
            if (e.code == AVC_CODE_INDEX_DONE) seekResult = self.seek(50);
        });
        ASSERT_NE(s.open(upperDir + "/b.AVC"), 0);
        ASSERT_TRUE(s.waitTerminal());
        EXPECT_EQ(seekResult.load(), 0);
        const std::vector<Event> frames = s.frames();
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames.front().frameNo, parsetest::lastKeyAtOrBelow(r.manifest, 30));
        EXPECT_EQ(frames.back().code, 100);
    }
    EXPECT_EQ(listDir(upperDir), std::vector<std::string>{"b.AVC"});

    // ".avc" twice: the name is cut at the last one.
    const std::string twice = dir.file("x.avc.d");
    ASSERT_EQ(::mkdir(twice.c_str(), 0755), 0);
    copyFile(r.path, twice + "/rec.avc.avc");
    {
        Session s;
        ASSERT_NE(s.open(twice + "/rec.avc.avc"), 0);
        expectWholePlay(s, r, true, "twice");
    }
    EXPECT_EQ(mkrec::readFile(twice + "/rec.avc.idx"), mkrec::readFile(r.expectedIdxPath));
}

// Runs in a child process that cannot write the folder (as "nobody" when the
// tests run as root): the recording must still play, with the index in memory.
int playReadOnly(const std::string &path, size_t total) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 10;
    if (std::FILE *probe = std::fopen((path + ".probe").c_str(), "wb")) {
        std::fclose(probe);
        return 11; // the folder is writable after all: the test proves nothing
    }
    std::atomic<int> seekResult{99};
    Session s([&](Session &self, const Event &e) {
        if (e.code == AVC_CODE_INDEX_DONE) seekResult = self.seek(0);
    });
    if (s.open(path) == 0) return 12;
    if (!s.waitTerminal()) return 13;
    if (!s.waitUntilRests()) return 16;
    s.close();
    const std::vector<Event> frames = s.frames();
    if (seekResult != 0) return 14;
    if (frames.size() != total || frames.back().code != 100 || frames.back().frameNo != total) return 15;
    return 0;
}

TEST(AvcParserOpen, PlaysReadOnlyFilesInReadOnlyFolders) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);
    const std::string ro = dir.file("ro");
    ASSERT_EQ(::mkdir(ro.c_str(), 0755), 0);
    const std::string path = ro + "/a.avc";
    copyFile(r.path, path);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(ro.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(playReadOnly(path, r.manifest.units.size()));
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0);
    EXPECT_EQ(listDir(ro), std::vector<std::string>{"a.avc"});
    ::chmod(ro.c_str(), 0755);

    // A valid read-only index beside a read-only recording is used as it is.
    writeBytes(ro + "/a.idx", mkrec::readFile(r.expectedIdxPath));
    ASSERT_EQ(::chmod((ro + "/a.idx").c_str(), 0444), 0);
    Session s;
    ASSERT_NE(s.open(path), 0);
    expectWholePlay(s, r, false, "read-only index");
}

// ---------------------------------------------------------------------------
// Controls.

// Waits until frame n has been delivered and the reader has finished with it.
void waitHandled(Session &s, unsigned long n) {
    ASSERT_TRUE(s.waitUntil([n](const std::vector<Event> &ev) {
        return std::any_of(ev.begin(), ev.end(),
                           [n](const Event &e) { return e.isFrame() && e.frameNo == n; });
    }));
    ASSERT_TRUE(s.waitPasses(static_cast<long>(n) - 1));
}

TEST(AvcParserControl, PauseDeliversExactlyOneMoreFrame) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);
    const unsigned long total = r.manifest.units.size();

    // Halted at the first frame, paused, then continued: one frame, then it waits.
    {
        Session s([](Session &self, const Event &e) {
            if (e.code == 100) self.status(AVC_ACTION_STOP); // as the engine does at the end
        });
        ASSERT_NE(s.open(r.path), 0);
        ASSERT_TRUE(s.waitTerminal());
        // The reader counts the end's pass after the callback: wait for it, so
        // the count taken below is the halted reader's.
        ASSERT_TRUE(s.waitPasses(static_cast<long>(total) - 1));
        ASSERT_TRUE(s.waitUntilRests());
        const size_t before = s.frames().size();
        const long passes = s.passes();
        ASSERT_EQ(passes, static_cast<long>(total));
        s.status(AVC_ACTION_PAUSE);
        s.status(AVC_STATUS_NORMAL);
        ASSERT_TRUE(s.waitPasses(passes));
        ASSERT_TRUE(s.waitUntilRests());
        std::vector<Event> after = s.frames(0);
        after.erase(after.begin(), after.begin() + static_cast<long>(before));
        ASSERT_EQ(after.size(), 1u);
        EXPECT_EQ(after[0].frameNo, 1u);
        EXPECT_EQ(s.passes(), passes + 1);

        // Un-pausing goes on from frame 2 to the end (which may come before
        // the un-pause call returns, so the mark is taken before it).
        const size_t mark = s.count();
        s.status(AVC_ACTION_PAUSE);
        ASSERT_TRUE(s.waitTerminal(mark));
        ASSERT_TRUE(s.waitUntilRests());
        after = s.frames(0);
        after.erase(after.begin(), after.begin() + static_cast<long>(before) + 1);
        ASSERT_EQ(after.size(), total - 1);
        EXPECT_EQ(after.front().frameNo, 2u);
        EXPECT_EQ(after.back().code, 100);
    }
}

TEST(AvcParserControl, StepsForwardOverAudioAndBackByKeyFrames) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);
    const mkrec::Manifest &m = r.manifest;
    ASSERT_FALSE(m.units[16].key);
    ASSERT_FALSE(m.units[17].video); // frame 18 is audio

    Session s([](Session &self, const Event &e) {
        if (e.isFrame() && e.frameNo == 17) self.status(AVC_ACTION_PAUSE);
    });
    ASSERT_NE(s.open(r.path), 0);
    waitHandled(s, 17);
    ASSERT_TRUE(s.waitUntilRests());
    ASSERT_EQ(s.frames().size(), 17u);

    // Forward: one record per step, delivered only when it is a key frame.
    std::vector<unsigned long> expected;
    for (unsigned long n = 18; n <= 41; ++n) {
        const long passes = s.passes();
        s.status(AVC_ACTION_STEP_FORWARD);
        ASSERT_TRUE(s.waitPasses(passes)) << n;
        ASSERT_EQ(s.passes(), passes + 1) << n;
        const mkrec::Unit &u = m.units[n - 1];
        if (u.video && u.key) expected.push_back(n);
        std::vector<unsigned long> got;
        for (const Event &e : s.frames(0))
            if (e.frameNo > 17) got.push_back(e.frameNo);
        ASSERT_EQ(got, expected) << "after stepping onto " << n;
    }
    EXPECT_EQ(expected, (std::vector<unsigned long>{21, 41}));

    // Back: one key entry back per step, then the first-frame notice.
    const size_t mark = s.count();
    for (int step = 0; step < 3; ++step) {
        const long passes = s.passes();
        s.status(AVC_ACTION_STEP_BACK);
        ASSERT_TRUE(s.waitPasses(passes)) << step;
    }
    ASSERT_TRUE(s.waitUntilRests());
    const std::vector<Event> back = s.frames(mark);
    EXPECT_EQ(parsetest::numbers(back), (std::vector<long>{21, 1, -1}));
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[2].code, AVC_CODE_FIRST_FRAME);
    EXPECT_EQ(back[2].md5, m.units[0].esMd5); // the frame last read comes with it
}

// What is asked for while the reader is still on a record comes after that record, not in
// its place: a pause and a seek from inside frame 5's callback show frame 5 and then the
// seek's key frame 41; steps back asked from inside the callbacks of 41 and 21 each take one.
TEST(AvcParserControl, StepsAndSeeksAskedDuringARecordAreNotLost) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);
    Session s([](Session &self, const Event &e) {
        if (!e.isFrame() || self.frames().size() > 8) return;
        if (e.frameNo == 5) {
            self.status(AVC_ACTION_PAUSE);
            EXPECT_EQ(self.seek(70), 0);
        } else if (e.frameNo == 41 || e.frameNo == 21) {
            self.status(AVC_ACTION_STEP_BACK);
        }
    });
    ASSERT_NE(s.open(r.path), 0);
    ASSERT_TRUE(s.waitPasses(7)) << "a record's allowance went to the one before it";
    ASSERT_TRUE(s.waitUntilRests());
    EXPECT_EQ(parsetest::numbers(s.frames()), (std::vector<long>{1, 2, 3, 4, 5, 41, 21, 1}));
    EXPECT_EQ(s.passes(), 8);
}

TEST(AvcParserControl, FastForwardDeliversEveryFrameUpTo4xAndKeyFramesAbove) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);
    const unsigned long total = r.manifest.units.size();
    ASSERT_EQ(parsetest::keyEntries(r.manifest), (std::vector<unsigned long>{1, 21, 41}));

    for (int status : {AVC_STATUS_FORWARD_2X, AVC_STATUS_FORWARD_4X}) {
        Session s([status](Session &self, const Event &e) {
            if (e.isFrame() && e.frameNo == 1) self.status(status);
        });
        ASSERT_NE(s.open(r.path), 0);
        ASSERT_TRUE(s.waitTerminal());
        ASSERT_TRUE(s.waitUntilRests());
        const std::vector<Event> frames = s.frames();
        ASSERT_EQ(frames.size(), total) << status;
        for (size_t i = 0; i < total; ++i)
            EXPECT_EQ(frames[i].frameNo, i + 1) << status;
        EXPECT_EQ(frames.back().code, 100);
    }

    for (int status : {AVC_STATUS_FORWARD_8X, AVC_STATUS_FORWARD_16X}) {
        Session s([status](Session &self, const Event &e) {
            if (e.isFrame() && e.frameNo == 1) self.status(status);
        });
        ASSERT_NE(s.open(r.path), 0);
        ASSERT_TRUE(s.waitCode(100));
        ASSERT_TRUE(s.waitUntilRests());
        const std::vector<Event> frames = s.frames();
        // Key frames only; the last key entry again with 100; then it halts.
        EXPECT_EQ(parsetest::numbers(frames), (std::vector<long>{1, 21, 41, 41})) << status;
        std::vector<int> codes;
        for (const Event &e : frames)
            codes.push_back(e.code);
        EXPECT_EQ(codes, (std::vector<int>{progressOf(1, total), progressOf(21, total), progressOf(41, total),
                                           100}));
        for (const Event &e : frames)
            expectFrame(e, r.manifest, "8x");
    }

    // Switched to 8x after the last key entry: the next record ends it.
    {
        Session s([](Session &self, const Event &e) {
            if (e.isFrame() && e.frameNo == 45) self.status(AVC_STATUS_FORWARD_8X);
        });
        ASSERT_NE(s.open(r.path), 0);
        ASSERT_TRUE(
            s.waitUntil([](const std::vector<Event> &ev) { return !ev.empty() && ev.back().code == 100; }));
        ASSERT_TRUE(s.waitUntilRests());
        const std::vector<Event> frames = s.frames();
        ASSERT_EQ(frames.size(), 46u);
        EXPECT_EQ(frames.back().frameNo, 46u);
        EXPECT_EQ(frames.back().code, 100);
    }
}

TEST(AvcParserControl, RewindGoesBackByKeyFramesToTheFirstFrame) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);
    const unsigned long total = r.manifest.units.size();

    // From frame 2: the key frame before it, then the first-frame notice; play
    // then starts again from the first frame.
    {
        Session s([](Session &self, const Event &e) {
            if (e.isFrame() && e.frameNo == 2 && self.frames().size() == 2) self.status(AVC_STATUS_REWIND_1X);
        });
        ASSERT_NE(s.open(r.path), 0);
        ASSERT_TRUE(s.waitCode(AVC_CODE_FIRST_FRAME));
        ASSERT_TRUE(s.waitUntilRests());
        EXPECT_EQ(parsetest::numbers(s.frames()), (std::vector<long>{1, 2, 1, -1}));
        const size_t mark = s.count();
        s.status(AVC_ACTION_PLAY);
        ASSERT_TRUE(s.waitTerminal(mark));
        ASSERT_TRUE(s.waitUntilRests());
        const std::vector<Event> again = s.frames(mark);
        ASSERT_EQ(again.size(), total);
        EXPECT_EQ(again.front().frameNo, 1u);
        EXPECT_EQ(again.back().code, 100);
    }

    // From frame 45 at 16x: every key entry before it, downwards.
    {
        Session s([](Session &self, const Event &e) {
            if (e.isFrame() && e.frameNo == 45) self.status(AVC_STATUS_REWIND_16X);
        });
        ASSERT_NE(s.open(r.path), 0);
        ASSERT_TRUE(s.waitCode(AVC_CODE_FIRST_FRAME));
        ASSERT_TRUE(s.waitUntilRests());
        const std::vector<Event> frames = s.frames();
        ASSERT_EQ(frames.size(), 45u + 4);
        EXPECT_EQ(parsetest::numbers(std::vector<Event>(frames.begin() + 44, frames.end())),
                  (std::vector<long>{45, 41, 21, 1, -1}));
    }

    // Before any frame was read: the notice at once, with no frame.
    std::remove(dir.file("a.idx").c_str()); // so that the index is built and reports 1100
    {
        Session s([](Session &self, const Event &e) {
            if (e.code == AVC_CODE_INDEX_DONE) self.status(AVC_STATUS_REWIND_4X);
        });
        ASSERT_NE(s.open(r.path), 0);
        ASSERT_TRUE(s.waitCode(AVC_CODE_FIRST_FRAME));
        ASSERT_TRUE(s.waitUntilRests());
        const std::vector<Event> frames = s.frames();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].code, AVC_CODE_FIRST_FRAME);
        EXPECT_EQ(frames[0].frameNo, 0u);
        EXPECT_EQ(frames[0].length, 0u);
    }
}

// ---------------------------------------------------------------------------
// Seeking.

TEST(AvcParserSeek, RefusedUntilTheIndexIsCompleteThenLandsOnTheKeyFrameBefore) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);
    std::atomic<int> early{99}, ready{99};
    Session s([&](Session &self, const Event &e) {
        if (e.isIndex() && e.code < AVC_CODE_INDEX_DONE && early == 99) early = self.seek(50);
        if (e.code == AVC_CODE_INDEX_DONE) ready = self.seek(50);
    });
    ASSERT_NE(s.open(r.path), 0);
    ASSERT_TRUE(s.waitTerminal());
    ASSERT_TRUE(s.waitUntilRests());
    EXPECT_EQ(early.load(), -1);
    EXPECT_EQ(ready.load(), 0);
    const std::vector<Event> frames = s.frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front().frameNo, parsetest::lastKeyAtOrBelow(r.manifest, 30));
    EXPECT_EQ(frames.front().frameNo, 21u);
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].frameNo, frames[i - 1].frameNo + 1);
    EXPECT_EQ(frames.back().code, 100);
}

TEST(AvcParserSeek, EveryPercentageOfAllKeyRecordingLandsOnItsFrame) {
    mkrec::TempDir dir;
    // Motion JPEG without audio: every record is a key entry.
    const mkrec::Recording r = makeRec(
        dir, "j.avc",
        {"--kind", "avc", "--codec", "mjpeg", "--frames", "40", "--size", "32x32", "--audio-mask", "0"});
    const unsigned long total = r.manifest.units.size();
    ASSERT_EQ(total, 40u);
    for (int percent : {0, 1, 2, 3, 50, 77, 99, 100, -5, 250}) {
        std::atomic<int> result{99};
        Session s([&](Session &self, const Event &e) {
            if (e.code == AVC_CODE_INDEX_DONE) result = self.seek(percent);
        });
        std::remove(dir.file("j.idx").c_str());
        ASSERT_NE(s.open(r.path), 0);
        ASSERT_TRUE(s.waitTerminal());
        EXPECT_EQ(result.load(), 0);
        const int clamped = std::max(0, std::min(100, percent));
        const unsigned long k = std::max(1ul, total * static_cast<unsigned long>(clamped) / 100);
        const std::vector<Event> frames = s.frames();
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames.front().frameNo, k) << percent;
        EXPECT_EQ(frames.size(), total - k + 1) << percent;
    }
}

TEST(AvcParserSeek, WhilePausedShowsOneFrameAndInReverseGoesBackFromThere) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);
    const unsigned long total = r.manifest.units.size();

    {
        Session s([](Session &self, const Event &e) {
            if (e.isFrame() && e.frameNo == 5) self.status(AVC_ACTION_PAUSE);
        });
        ASSERT_NE(s.open(r.path), 0);
        waitHandled(s, 5);
        const long passes = s.passes();
        const size_t mark = s.count();
        EXPECT_EQ(s.seek(70), 0);
        ASSERT_TRUE(s.waitPasses(passes));
        ASSERT_TRUE(s.waitUntilRests());
        EXPECT_EQ(parsetest::numbers(s.frames(mark)), (std::vector<long>{41}));
        s.status(AVC_ACTION_PAUSE);
        ASSERT_TRUE(s.waitTerminal(mark));
        ASSERT_TRUE(s.waitUntilRests());
        const std::vector<Event> rest = s.frames(mark);
        ASSERT_EQ(rest.size(), total - 41 + 1);
        EXPECT_EQ(rest.back().code, 100);
    }

    {
        // Rewinding, a seek to 70 % (frame 42, key entry 41) goes on backwards from there.
        Session s([](Session &self, const Event &e) {
            if (e.isFrame() && e.frameNo == 50 && self.frames().size() == 50) {
                self.status(AVC_STATUS_REWIND_1X);
                self.seek(70);
            }
        });
        ASSERT_NE(s.open(r.path), 0);
        ASSERT_TRUE(s.waitCode(AVC_CODE_FIRST_FRAME));
        ASSERT_TRUE(s.waitUntilRests());
        const std::vector<Event> frames = s.frames();
        ASSERT_EQ(frames.size(), 53u);
        EXPECT_EQ(parsetest::numbers(std::vector<Event>(frames.begin() + 49, frames.end())),
                  (std::vector<long>{50, 21, 1, -1}));
    }
}

// A seek's mark comes with the records read from its place on, not with the one the reader was on
// when it moved (handed over after the seek has returned).
TEST(AvcParserSeek, RecordsReadFromASeeksPlaceCarryItsMark) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);
    using Marks = std::vector<std::pair<long, unsigned>>; // record, its mark
    Marks marks; // by the reader's thread, until its 43rd record has been handed over
    Session s([&](Session &self, const Event &e) {
        if (!e.isFrame()) return;
        marks.emplace_back(e.frameNo, avc_playback_record_mark(self.handle()));
        if (e.frameNo == 5) {
            EXPECT_EQ(avc_playback_progress_from(self.handle(), 70, 0, 7), 0);
            marks.emplace_back(e.frameNo, avc_playback_record_mark(self.handle()));
        }
        if (e.frameNo == 43) self.status(AVC_ACTION_PAUSE);
    });
    ASSERT_NE(s.open(r.path), 0);
    ASSERT_TRUE(s.waitUntil([](const std::vector<Event> &ev) {
        return std::any_of(ev.begin(), ev.end(),
                           [](const Event &e) { return e.frameNo == 43 && e.returned; });
    }));
    ASSERT_TRUE(s.waitUntilRests());
    EXPECT_EQ(marks, (Marks{{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {5, 0}, {41, 7}, {42, 7}, {43, 7}}));
}

TEST(AvcParserSeek, StopAndPlayDuringTheIndexBuildOnlySetFlags) {
    mkrec::TempDir dir;
    const mkrec::Recording r = makeRec(dir, "a.avc", kStandard);
    const unsigned long total = r.manifest.units.size();
    Session s([](Session &self, const Event &e) {
        if (e.isIndex() && e.code < AVC_CODE_INDEX_DONE) self.status(AVC_ACTION_STOP);
    });
    ASSERT_NE(s.open(r.path), 0);
    ASSERT_TRUE(s.waitCode(AVC_CODE_INDEX_DONE));
    ASSERT_TRUE(s.waitUntilRests());
    EXPECT_TRUE(s.frames().empty());
    EXPECT_EQ(s.passes(), 0);
    s.status(AVC_ACTION_PLAY);
    ASSERT_TRUE(s.waitTerminal());
    ASSERT_TRUE(s.waitUntilRests());
    const std::vector<Event> frames = s.frames();
    ASSERT_EQ(frames.size(), total);
    EXPECT_EQ(frames.front().frameNo, 1u);
    EXPECT_EQ(mkrec::readFile(dir.file("a.idx")), mkrec::readFile(r.expectedIdxPath));
}

// ---------------------------------------------------------------------------
// Damaged recordings.

TEST(AvcParserDamage, TruncatedRecordingEndsWithMinus2AndIndexesWhatIsThere) {
    mkrec::TempDir dir;
    const mkrec::Recording clean = makeRec(dir, "clean.avc", kStandard);
    const mkrec::Unit &cut = clean.manifest.units[29];
    Args args = kStandard;
    args.insert(args.end(), {"--truncate", std::to_string(cut.payloadOffset + 3)});
    const mkrec::Recording r = makeRec(dir, "t.avc", args);
    const unsigned long total = clean.manifest.units.size();

    std::atomic<int> seekResult{99};
    Session s([&](Session &self, const Event &e) {
        if (e.code == AVC_CODE_INDEX_DONE) seekResult = self.seek(100); // 60 of 60: only 29 are there
    });
    ASSERT_NE(s.open(r.path), 0);
    ASSERT_TRUE(s.waitCode(AVC_CODE_END_OF_DATA));
    ASSERT_TRUE(s.waitUntilRests());
    s.close();
    std::vector<int> index;
    std::vector<Event> rest;
    splitIndex(s.events(), index, rest);
    expectIndexCodes(index, "truncated");
    EXPECT_EQ(seekResult.load(), 0);
    ASSERT_GE(rest.size(), 2u);
    EXPECT_EQ(rest.back().code, AVC_CODE_END_OF_DATA);
    EXPECT_FALSE(rest.back().hasHeader);
    rest.pop_back();
    // From the last key entry present (21) to the last whole record (29).
    ASSERT_EQ(rest.size(), 9u);
    for (size_t i = 0; i < rest.size(); ++i) {
        EXPECT_EQ(rest[i].frameNo, 21 + i);
        EXPECT_EQ(rest[i].code, progressOf(21 + i, total));
        expectFrame(rest[i], clean.manifest, "truncated");
    }
    const std::vector<uint8_t> expected = mkrec::readFile(clean.expectedIdxPath);
    EXPECT_EQ(mkrec::readFile(dir.file("t.idx")),
              std::vector<uint8_t>(expected.begin(), expected.begin() + 29 * 36));

    // The shorter index is accepted on the next open.
    Session again;
    ASSERT_NE(again.open(r.path), 0);
    ASSERT_TRUE(again.waitCode(AVC_CODE_END_OF_DATA));
    EXPECT_TRUE(again.indexCodes().empty());
    EXPECT_EQ(again.frames().size(), 29u);
}

// A hand-made recording: version 9 and a last record whose in-band prefix
// claims more extend info than the payload holds.
std::vector<uint8_t> brokenPrefixRecording() {
    Bytes b;
    b.fill(48, 0).u32(4).fill(6, 0).u8(9).fill(17, 0).u32(0); // fixed part: total 4, version 9, flags 0
    b.u16(0);                                                 // trailing word
    auto record = [&](uint32_t number, uint8_t type, const std::vector<uint8_t> &payload) {
        b.u32(0x1 | 0x2 | 0x20 | 0x80)
            .u32(number)
            .u32(static_cast<uint32_t>(payload.size()))
            .u8(1)
            .u8(type)
            .u16(0);
        b.raw(payload);
    };
    const std::vector<uint8_t> sps = {0, 0, 0, 1, 0x67, 0x42, 0, 0x0a, 0xf8, 0x41, 0xa2};
    std::vector<uint8_t> prefixed(60, 0);
    prefixed[3] = 1;
    prefixed[4] = 0x1F;
    prefixed[5] = 0x0F;
    prefixed[22] = 0x20;
    prefixed[44] = 0xFF; // extend info: far more than the payload
    record(1, 8, sps);
    record(2, 8, prefixed);
    record(3, 6, {1, 2, 3, 4});
    record(4, 8, prefixed);
    return b.vec();
}

TEST(AvcParserDamage, UnusablePayloadsAreSkippedButTheEndIsStillSeen) {
    mkrec::TempDir dir;
    const std::string path = dir.file("p.avc");
    writeBytes(path, brokenPrefixRecording());
    Session s;
    ASSERT_NE(s.open(path), 0);
    ASSERT_TRUE(s.waitTerminal());
    ASSERT_TRUE(s.waitUntilRests());
    const std::vector<Event> frames = s.frames();
    EXPECT_EQ(parsetest::numbers(frames), (std::vector<long>{1, 3, 4}));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].key, 1);
    EXPECT_EQ(frames[2].code, 100);
    EXPECT_EQ(frames[2].length, 0u);
}

TEST(AvcParserDamage, DamagedRecordingsEndCleanly) {
    mkrec::TempDir dir;
    const std::vector<Args> damage = {
        {"--oversize", "7"},
        {"--zero-length", "7"},
        {"--bad-channel", "7"},
        {"--frame-number", "7:999999"},
        {"--total-frames", "70"},
        {"--total-frames", "50"},
        {"--end-zero"},
        {"--flip", "30", "--seed", "1"},
        {"--flip", "30", "--seed", "2"},
        {"--flip", "60", "--seed", "4"},
        {"--flip", "8", "--seed", "5", "--flip-range", "0:120"},
        {"--prefix", "all", "--version", "9", "--flip", "40", "--seed", "7"},
    };
    for (size_t i = 0; i < damage.size(); ++i) {
        Args args = kStandard;
        args.insert(args.end(), damage[i].begin(), damage[i].end());
        const std::string name = "d" + std::to_string(i) + ".avc";
        const mkrec::Recording r = makeRec(dir, name, args);
        std::string what;
        for (const std::string &a : damage[i])
            what += a + " ";
        for (int pass = 0; pass < 2; ++pass) { // building, then with the index it wrote
            std::atomic<int> stops{0};
            Session s([&stops](Session &self, const Event &e) {
                if (e.code == 100 || e.code == AVC_CODE_FIRST_FRAME) {
                    self.status(AVC_ACTION_STOP);
                    ++stops;
                }
            });
            if (s.open(r.path) == 0) continue; // refused: fine for a damaged header
            auto stopped = [&](int n) {
                return s.waitUntil([&](const std::vector<Event> &ev) {
                    return stops >= n || (!ev.empty() && ev.back().code == AVC_CODE_END_OF_DATA);
                });
            };
            ASSERT_TRUE(stopped(1)) << what;
            if (stops == 1) {
                // Back from the end by key frames, then a seek and a play to the end.
                s.status(AVC_STATUS_REWIND_16X);
                ASSERT_TRUE(stopped(2)) << what;
                s.seek(60);
                s.status(AVC_ACTION_PLAY);
                ASSERT_TRUE(stopped(3)) << what;
            }
            for (const Event &e : s.events())
                EXPECT_TRUE((e.code >= -3 && e.code <= 100 && e.code != -1) || e.isIndex()) << what;
        }
    }
}

} // namespace
