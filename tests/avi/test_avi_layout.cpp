// The builder's file layout, read back byte by byte: header fields, chunks, index rows, filler
// chunks, the separator rule, subtitles, and the builder's states and failures.

#include "avi/avi_test_util.h"

#include <sys/mount.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstring>

#include "avi/AudioCommonInfo.h"
#include "platform/log.h"

using namespace avitest;

namespace {

// A hand-written header: fields placed at the offsets of the format table.
struct Header {
    std::vector<uint8_t> b = std::vector<uint8_t>(2048, 0);
    Header &u32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = uint8_t(v >> (8 * i));
        return *this;
    }
    Header &u16(size_t at, uint16_t v) {
        b[at] = uint8_t(v);
        b[at + 1] = uint8_t(v >> 8);
        return *this;
    }
    Header &fcc(size_t at, const char *c) {
        std::memcpy(&b[at], c, 4);
        return *this;
    }
};

// Fields shared by every case below: one 160x120 "H264" stream with one frame.
Header videoHeader160x120(uint32_t riffSize, uint32_t streams, uint32_t moviSize) {
    Header h;
    h.fcc(0, "RIFF").u32(4, riffSize).fcc(8, "AVI ").fcc(12, "LIST").u32(16, 2016).fcc(20, "hdrl");
    h.fcc(24, "avih")
        .u32(28, 56)
        .u32(44, 0x130)
        .u32(48, 1)
        .u32(56, streams)
        .u32(60, 76800)
        .u32(64, 160)
        .u32(68, 120);
    h.fcc(88, "LIST")
        .u32(92, 116)
        .fcc(96, "strl")
        .fcc(100, "strh")
        .u32(104, 56)
        .fcc(108, "vids")
        .fcc(112, "H264");
    h.u32(128, 1).u32(132, 30).u32(140, 1).u32(144, 76800).u32(148, 10000).u16(160, 160).u16(162, 120);
    h.fcc(164, "strf").u32(168, 40).u32(172, 40).u32(176, 160).u32(180, 120).u16(184, 1).u16(186, 24);
    h.fcc(188, "H264").u32(192, 57600);
    h.fcc(2036, "LIST").u32(2040, moviSize).fcc(2044, "movi");
    return h;
}

void expectHeader(const std::vector<uint8_t> &file, const Header &want) {
    ASSERT_GE(file.size(), 2048u);
    for (size_t i = 0; i < 2048; ++i)
        ASSERT_EQ(file[i], want.b[i]) << "first difference at header offset " << i;
}

std::vector<char> pattern(size_t n, unsigned seed) {
    std::vector<char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = char((i * 31 + seed * 7 + 1) % 251 + 1); // never 00 00 00 01
    return v;
}

struct Builder {
    TempDir dir;
    std::string path = dir.file("clip.avi");
    ANAVIFrameBuilder b;
    _SYSTEMTIME t = recorderTime(2024, 3, 5, 14, 7, 0);
    int video(const std::vector<char> &f, bool key, uint32_t interval = 33333) {
        return b.videoDataWrappingForAVIConversion(f.data(), int(f.size()), 160, 120, key, interval, t, 0);
    }
};

} // namespace

TEST(AviLayout, OddKeyFrameAndHeaderWithoutAudio) {
    Builder x;
    ASSERT_EQ(x.b.startRecordingToFile(x.path), AviResult::Ok);
    std::vector<char> frame = pattern(1001, 1);
    x.video(frame, true, 0);
    ASSERT_EQ(x.b.stopRecording(false), AviResult::Ok);

    std::vector<uint8_t> f = readFile(x.path);
    Header want = videoHeader160x120(3074, 1, 1014);
    want.fcc(212, "JUNK").u32(216, 1816);
    expectHeader(f, want);
    ASSERT_EQ(f.size(), 3082u);
    EXPECT_EQ(code(f, 2048), "00dc");
    EXPECT_EQ(le32(f, 2052), 1001u); // the data length; the pad byte follows uncounted
    EXPECT_EQ(0, std::memcmp(&f[2056], frame.data(), 1001));
    EXPECT_EQ(f[3057], 0);
    EXPECT_EQ(code(f, 3058), "idx1");
    EXPECT_EQ(le32(f, 3062), 16u);
    EXPECT_EQ(code(f, 3066), "00dc");
    EXPECT_EQ(le32(f, 3070), 0x10u);
    EXPECT_EQ(le32(f, 3074), 2048u);
    EXPECT_EQ(le32(f, 3078), 1001u);
    EXPECT_FALSE(exists(x.path + ".tmp"));
    EXPECT_FALSE(exists(x.path + ".index"));
    EXPECT_TRUE(exists(x.path + ".srt"));
}

TEST(AviLayout, AudioStreamHeaderFor8And16BitPcm) {
    for (int fmt : {enAudioFormat_PCM, enAudioFormat_PCM16}) {
        SCOPED_TRACE(fmt);
        Builder x;
        ASSERT_EQ(x.b.startRecordingToFile(x.path), AviResult::Ok);
        x.video(pattern(1001, 1), true, 0);
        std::vector<char> pcm = pattern(fmt == enAudioFormat_PCM ? 5 : 6, 2);
        x.b.audioDataWrappingForAVIConversion(pcm.data(), int(pcm.size()), 1, fmt);
        ASSERT_EQ(x.b.stopRecording(true), AviResult::Ok);

        std::vector<uint8_t> f = readFile(x.path);
        const bool eight = fmt == enAudioFormat_PCM;
        Header want = videoHeader160x120(3104, 2, 1028);
        want.fcc(212, "LIST").u32(216, 92).fcc(220, "strl").fcc(224, "strh").u32(228, 56).fcc(232, "auds");
        want.u32(252, eight ? 1 : 2).u32(256, eight ? 8000 : 16000).u32(264, 1).u32(272, 0xFFFFFFFF);
        want.u32(276, eight ? 1 : 2).fcc(288, "strf").u32(292, 16).u16(296, 1).u16(298, 1).u32(300, 8000);
        want.u32(304, eight ? 8000 : 16000).u16(308, eight ? 1 : 2).u16(310, eight ? 8 : 16);
        want.fcc(312, "JUNK").u32(316, 1716);
        expectHeader(f, want);
        ASSERT_EQ(f.size(), 3112u);
        EXPECT_EQ(code(f, 3058), "01wb");
        EXPECT_EQ(le32(f, 3062), pcm.size());
        EXPECT_EQ(0, std::memcmp(&f[3066], pcm.data(), pcm.size()));
        EXPECT_EQ(code(f, 3072), "idx1");
        EXPECT_EQ(le32(f, 3076), 32u);
        EXPECT_EQ(code(f, 3096), "01wb");
        EXPECT_EQ(le32(f, 3100), 0u);
        EXPECT_EQ(le32(f, 3104), 3058u);
        EXPECT_EQ(le32(f, 3108), pcm.size());
    }
}

TEST(AviLayout, AudioFormatRecord) {
    for (int fmt : {0, 1, 2, 3, 4, 5, 9}) {
        AudioCommonInfo a;
        a.setAudioCommonInfoWithFormat(fmt);
        const bool eight = fmt == 2;
        EXPECT_EQ(a.wFormatTag(), 1);
        EXPECT_EQ(a.wChannels(), 1);
        EXPECT_EQ(a.nSamplesPerSec(), 8000);
        EXPECT_EQ(a.nAvgBytesPerSec(), eight ? 8000 : 16000) << fmt;
        EXPECT_EQ(a.wBlockAlign(), eight ? 1 : 2) << fmt;
        EXPECT_EQ(a.wBitsPerSample(), eight ? 8 : 16) << fmt;
        EXPECT_EQ(a.getAudioScaleValueForAVIHeader(), eight ? 1u : 2u) << fmt;
    }
}

// A conversion that stored no video frame (none came, or audio only) is no result: no file.
TEST(AviLayout, EmptyConversionLeavesNoFile) {
    Builder x;
    ASSERT_EQ(x.b.startRecordingToFile(x.path), AviResult::Ok);
    std::vector<char> pcm = pattern(8, 2);
    x.b.audioDataWrappingForAVIConversion(pcm.data(), 8, 1, enAudioFormat_PCM16);
    EXPECT_EQ(x.video(pattern(30, 1), false), 0); // not a key frame: not stored
    EXPECT_EQ(x.b.stopRecording(true), AviResult::NoVideo);
    EXPECT_EQ(run("ls -A '" + x.dir.path() + "'"), "");
    // The name is free again.
    ASSERT_EQ(x.b.startRecordingToFile(x.path), AviResult::Ok);
    x.video(pattern(30, 1), true);
    EXPECT_EQ(x.b.stopRecording(false), AviResult::Ok);
}

// Frame lengths in index order for a series of intervals; 0 marks an empty chunk. Frame gapAt
// comes gapUs later than the interval alone would put it.
static std::vector<uint32_t> lengthsFor(uint32_t interval, int frames, int gapAt = -1, uint32_t gapUs = 0) {
    Builder x;
    EXPECT_EQ(x.b.startRecordingToFile(x.path), AviResult::Ok);
    for (int i = 0; i < frames; ++i)
        x.video(pattern(10 + 2 * (i % 100), i), i == 0, i == 0 ? 0 : interval + (i == gapAt ? gapUs : 0));
    EXPECT_EQ(x.b.stopRecording(false), AviResult::Ok);
    AviLayout l = walk(readFile(x.path));
    std::vector<uint32_t> out;
    for (const IndexRow &r : l.rows) {
        out.push_back(r.length);
        if (r.length == 0) {
            EXPECT_EQ(r.flags, 0u);
        }
    }
    return out;
}

TEST(AviLayout, FillerChunksKeepFiveFramesPerWindow) {
    // 33,000 us apart, faster than 30/s: every sixth frame closes a window, and no empty chunk
    // is added.
    EXPECT_EQ(lengthsFor(33000, 11), (std::vector<uint32_t>{10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30}));
    // 66,000 us apart: the fourth frame closes a window with 3 counted (2 empty chunks follow),
    // 31,333 us carry over, and the seventh closes the next with 3 counted.
    EXPECT_EQ(lengthsFor(66000, 7), (std::vector<uint32_t>{10, 12, 14, 16, 0, 0, 18, 20, 22, 0, 0}));
    // 90 s of recording take 2700 slots at the stated 30/s, whatever the recorder's rate, also
    // across a gap: picture, sound and subtitles stay together over a long file.
    EXPECT_NEAR(double(lengthsFor(40000, 2250).size()), 2700, 5);                // 25 frames/s
    EXPECT_NEAR(double(lengthsFor(33333, 2700).size()), 2700, 5);                // 30 frames/s
    EXPECT_NEAR(double(lengthsFor(40000, 2200, 1100, 2000000).size()), 2700, 5); // 2 s gap
    // A long gap is settled one window per later frame.
    Builder x;
    ASSERT_EQ(x.b.startRecordingToFile(x.path), AviResult::Ok);
    x.video(pattern(4, 0), true, 0);
    x.video(pattern(4, 1), false, 600000);
    x.video(pattern(4, 2), false, 1);
    x.video(pattern(4, 3), false, 1);
    ASSERT_EQ(x.b.stopRecording(false), AviResult::Ok);
    AviLayout l = walk(readFile(x.path));
    std::vector<uint32_t> got;
    for (const IndexRow &r : l.rows)
        got.push_back(r.length);
    EXPECT_EQ(got, (std::vector<uint32_t>{4, 4, 0, 0, 0, 0, 4, 0, 0, 0, 0, 4, 0, 0, 0, 0}));
    EXPECT_EQ(l.totalFrames, 16u);
}

TEST(AviLayout, SeparatorCutsOnlyTheFirstFrames) {
    auto withSeparator = [](unsigned seed) {
        std::vector<char> f = pattern(300, seed);
        const char sep[5] = {0, 0, 0, 1, 1};
        std::memcpy(&f[100], sep, 5);
        return f;
    };
    Builder x;
    ASSERT_EQ(x.b.startRecordingToFile(x.path), AviResult::Ok);
    x.video(withSeparator(1), true);  // cut at 100, the search stays on
    x.video(pattern(50, 2), false);   // no separator: 1
    x.video(pattern(50, 3), false);   // 2
    x.video(pattern(50, 4), false);   // 3
    x.video(withSeparator(5), false); // still on: cut
    x.video(pattern(50, 6), false);   // fourth frame without one: the search ends
    x.video(withSeparator(7), false); // kept whole
    ASSERT_EQ(x.b.stopRecording(false), AviResult::Ok);
    std::vector<uint8_t> f = readFile(x.path);
    AviLayout l = walk(f);
    std::vector<uint32_t> got;
    for (const IndexRow &r : l.rows)
        got.push_back(r.length);
    EXPECT_EQ(got, (std::vector<uint32_t>{100, 50, 50, 50, 100, 50, 300}));
    std::vector<char> first = withSeparator(1);
    EXPECT_EQ(0, std::memcmp(&f[2056], first.data(), 100));
}

TEST(AviLayout, SeparatorSearch) {
    auto find = [](std::vector<uint8_t> bytes) {
        uint32_t part = 777;
        ANAVIFrameBuilder::handleSpecialCaseSeperatorWithBuf(bytes.data(), &part, uint32_t(bytes.size()));
        return part;
    };
    EXPECT_EQ(find({0, 0, 0, 1, 1, 9}), 0u);
    EXPECT_EQ(find({7, 7, 0, 0, 0, 1, 1}), 2u);            // ends exactly at the end of the frame
    EXPECT_EQ(find({7, 7, 7, 0, 0, 0, 1}), 777u);          // cut short by the end: not a separator
    EXPECT_EQ(find({0, 0, 0, 1, 2, 0, 0, 0, 1, 1}), 5u);   // after another start code
    EXPECT_EQ(find({0, 0, 0, 1, 0, 0, 0, 1, 1, 5}), 777u); // the scan steps over a start code's fifth byte
    EXPECT_EQ(find({0, 0, 0, 0, 1, 1}), 1u);
    EXPECT_EQ(find({}), 777u);
}

TEST(AviLayout, SubtitleEntryPerRecorderSecond) {
    Builder x;
    ASSERT_EQ(x.b.startRecordingToFile(x.path), AviResult::Ok);
    std::vector<int> results;
    for (int sec : {10, 10, 11, 13}) {
        _SYSTEMTIME t = recorderTime(2024, 3, 5, 9, 8, sec);
        std::vector<char> f = pattern(20, unsigned(sec));
        results.push_back(x.b.videoDataWrappingForAVIConversion(f.data(), 20, 160, 120, true, 33333, t, 2));
    }
    EXPECT_EQ(results, (std::vector<int>{1, 0, 2, 1}));
    ASSERT_EQ(x.b.stopRecording(false), AviResult::Ok);
    EXPECT_EQ(readText(x.path + ".srt"), "\xEF\xBB\xBF\n"
                                         "1\n00:00:00,000 --> 00:00:01,000\n2024/03/05 09:08:10 CH3\n\n"
                                         "2\n00:00:01,000 --> 00:00:02,000\n2024/03/05 09:08:11 CH3\n\n"
                                         "3\n00:00:02,000 --> 00:00:03,000\n2024/03/05 09:08:13 CH3\n\n");
}

TEST(AviLayout, SubtitleHoursKeepCountingPastOneDay) {
    Builder x;
    ASSERT_EQ(x.b.startRecordingToFile(x.path), AviResult::Ok);
    std::vector<char> f = pattern(2, 0);
    for (int i = 0; i < 86401; ++i) {
        _SYSTEMTIME t = recorderTime(2024, 1, 1, 0, 0, 1 + i % 2);
        x.b.videoDataWrappingForAVIConversion(f.data(), 2, 16, 16, true, 0, t, 15);
    }
    ASSERT_EQ(x.b.stopRecording(false), AviResult::Ok);
    std::string srt = readText(x.path + ".srt");
    EXPECT_NE(srt.find("86400\n23:59:59,000 --> 24:00:00,000\n2024/01/01 00:00:02 CH16\n\n"
                       "86401\n24:00:00,000 --> 24:00:01,000\n2024/01/01 00:00:01 CH16\n\n"),
              std::string::npos);
}

TEST(AviLayout, NothingBeforeTheFirstKeyFrame) {
    std::vector<std::string> logged;
    PlayerLogSink old = player_log_set_sink([&](const std::string &l) { logged.push_back(l); });
    Builder x;
    ASSERT_EQ(x.b.startRecordingToFile(x.path), AviResult::Ok);
    std::vector<char> pcm = pattern(8, 9);
    x.b.audioDataWrappingForAVIConversion(pcm.data(), 8, 1, enAudioFormat_PCM16);
    x.t.wSecond = 5;
    EXPECT_EQ(x.video(pattern(30, 1), false), 0);
    EXPECT_EQ(x.video(pattern(30, 2), false), 0);
    x.b.audioDataWrappingForAVIConversion(pcm.data(), 8, 1, enAudioFormat_PCM16);
    EXPECT_EQ(x.video(pattern(40, 3), true), 1);
    x.b.audioDataWrappingForAVIConversion(pcm.data(), 8, 1, enAudioFormat_PCM16);
    ASSERT_EQ(x.b.stopRecording(true), AviResult::Ok);
    player_log_set_sink(old);
    EXPECT_EQ(std::count(logged.begin(), logged.end(), "First frame is not I frame...return\n"), 2);
    AviLayout l = walk(readFile(x.path));
    ASSERT_EQ(l.rows.size(), 2u);
    EXPECT_EQ(l.rows[0].code, "00dc");
    EXPECT_EQ(l.rows[0].length, 40u);
    EXPECT_EQ(l.rows[0].flags, 0x10u);
    EXPECT_EQ(l.rows[1].code, "01wb");
}

TEST(AviLayout, CallsOutsideARecordingDoNothing) {
    Builder x;
    EXPECT_EQ(x.b.stopRecording(true), AviResult::NotRecording);
    EXPECT_EQ(x.video(pattern(10, 1), true), 0);
    std::vector<char> pcm = pattern(8, 2);
    x.b.audioDataWrappingForAVIConversion(pcm.data(), 8, 1, 2);
    EXPECT_FALSE(exists(x.path));
    EXPECT_FALSE(exists(x.path + ".srt"));

    EXPECT_FALSE(x.b.setVdoFmtIdx(3));
    EXPECT_FALSE(x.b.setVdoFmtIdx(-1));
    EXPECT_EQ(x.b.vdoFmtIdx(), 0);
    x.b.setFps(25.0);
    EXPECT_EQ(x.b.fps(), 25.0);

    ASSERT_EQ(x.b.startRecordingToFile(x.path), AviResult::Ok);
    EXPECT_EQ(x.b.startRecordingToFile(x.dir.file("other.avi")), AviResult::AlreadyRecording);
    EXPECT_FALSE(exists(x.dir.file("other.avi.tmp")));
    x.video(pattern(10, 1), true);
    EXPECT_TRUE(x.b.setVdoFmtIdx(2)); // taken at stop
    ASSERT_EQ(x.b.stopRecording(false), AviResult::Ok);
    std::vector<uint8_t> f = readFile(x.path);
    EXPECT_EQ(x.video(pattern(10, 1), true), 0);
    EXPECT_EQ(x.b.stopRecording(false), AviResult::NotRecording);
    EXPECT_EQ(readFile(x.path), f);
    EXPECT_EQ(code(f, 112), "MJPG");
    EXPECT_EQ(code(f, 188), "MJPG");
}

// A file at any name the builder uses is someone's, whatever it holds (even what a conversion
// of ours would have written there): left byte for byte, and the name is not used.
TEST(AviLayout, ExistingFilesAreNeverTouched) {
    const struct {
        const char *side;
        std::string content;
    } cases[] = {{"", "evidence"},
                 {".srt", "evidence"},
                 {".tmp", "evidence"},
                 {".tmp", "RIFF" + std::string(2044, '\0')},
                 {".tmp", ""},
                 {".tmp", std::string(2048, '\0')},
                 {".index", "evidence"},
                 {".index", ""},
                 {".index", "idx1" + std::string(4, '\0')},
                 {".srt.tmp", "\xEF\xBB\xBF\n"},
                 {".srt.tmp", ""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.side) + " holding " + std::to_string(c.content.size()) + " bytes");
        TempDir dir;
        const std::string path = dir.file("clip.avi");
        writeFile(path + c.side, c.content);
        ANAVIFrameBuilder b;
        EXPECT_EQ(b.startRecordingToFile(path), AviResult::TargetExists);
        EXPECT_EQ(readText(path + c.side), c.content);
        EXPECT_EQ(run("ls -A '" + dir.path() + "'"), "clip.avi" + std::string(c.side) + "\n");
    }
    ANAVIFrameBuilder b;
    EXPECT_EQ(b.startRecordingToFile("/nonexistent-folder/clip.avi"), AviResult::IoError);
    EXPECT_EQ(b.startRecordingToFile(""), AviResult::IoError);
}

TEST(AviLayout, AbandonedBuilderLeavesNoFiles) {
    TempDir dir;
    const std::string path = dir.file("clip.avi");
    {
        ANAVIFrameBuilder b;
        ASSERT_EQ(b.startRecordingToFile(path), AviResult::Ok);
        std::vector<char> f = pattern(100, 1);
        b.videoDataWrappingForAVIConversion(f.data(), 100, 16, 16, true, 0, recorderTime(2024, 1, 1, 0, 0, 1),
                                            0);
    }
    EXPECT_EQ(run("ls -A '" + dir.path() + "'"), "");
}

TEST(AviLayout, SizeLimitFinishesAValidFile) {
    Builder x;
    // Room for the 8-byte index head, two 108-byte video chunks, one 58-byte audio chunk and
    // their rows, and 26 bytes more: enough for a 2-byte frame, not for a 200-byte one.
    const uint32_t limit = 2040 + 8 + 108 + 58 + 108 + 3 * 16 + 26;
    x.b.setMaxRiffSize(limit);
    ASSERT_EQ(x.b.startRecordingToFile(x.path), AviResult::Ok);
    std::vector<char> pcm = pattern(50, 3);
    x.video(pattern(100, 1), true);
    x.b.audioDataWrappingForAVIConversion(pcm.data(), 50, 1, 3);
    x.video(pattern(100, 2), false);
    x.video(pattern(200, 3), false); // does not fit: the file ends here
    x.video(pattern(2, 4), false);   // would fit, but nothing is taken after the end
    x.b.audioDataWrappingForAVIConversion(pcm.data(), 50, 1, 3);
    EXPECT_EQ(x.b.stopRecording(true), AviResult::SizeLimitReached);
    std::vector<uint8_t> f = readFile(x.path);
    AviLayout l = walk(f);
    EXPECT_EQ(l.chunks.size(), 3u);
    EXPECT_EQ(le32(f, 4), limit - 26);

    // The empty chunks that follow a frame stop at the limit too.
    x.b.setMaxRiffSize(2040 + 8 + 108 + 16 + 8 + 16);
    const std::string second = x.dir.file("second.avi");
    ASSERT_EQ(x.b.startRecordingToFile(second), AviResult::Ok);
    x.video(pattern(100, 1), true, 200000);
    EXPECT_EQ(x.b.stopRecording(false), AviResult::SizeLimitReached);
    l = walk(readFile(second));
    ASSERT_EQ(l.rows.size(), 2u);
    EXPECT_EQ(l.rows[1].length, 0u);
}

// Runs body in a child whose files may not grow beyond limit bytes (writes beyond it fail as on
// a full disk); the child's exit status is body's result.
static int withFileSizeLimit(rlim_t limit, int (*body)(const std::string &), const std::string &path) {
    pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(90);
        _exit(body(path));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

static int recordTwoSeconds(const std::string &path) {
    ANAVIFrameBuilder b;
    if (b.startRecordingToFile(path) != AviResult::Ok) return 10;
    std::vector<char> f = pattern(1000, 1);
    for (int i = 0; i < 60; ++i)
        b.videoDataWrappingForAVIConversion(f.data(), 1000, 16, 16, i % 10 == 0, 33333,
                                            recorderTime(2024, 1, 1, 0, 0, i / 30), 0);
    return b.stopRecording(false) == AviResult::IoError ? 0 : 11;
}

TEST(AviLayout, FullDiskGivesFailureAndNoFiles) {
    // The payload outgrows the limit while recording; then only the index at the end does not fit.
    for (rlim_t limit : {rlim_t(20000), rlim_t(2048 + 60 * 1008 + 8)}) {
        SCOPED_TRACE(limit);
        TempDir dir;
        const std::string path = dir.file("clip.avi");
        EXPECT_EQ(withFileSizeLimit(limit, recordTwoSeconds, path), 0);
        EXPECT_EQ(run("ls -A '" + dir.path() + "'"), "");
    }
}

TEST(AviLayout, FullTmpfsGivesFailureAndNoFiles) {
    TempDir dir;
    const std::string disk = dir.file("disk");
    ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    const int r = recordTwoSeconds(disk + "/clip.avi");
    const std::string left = run("ls -A '" + disk + "'");
    umount2(disk.c_str(), MNT_DETACH);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(left, "");
}

// A conversion killed mid-way (SIGKILL; SIGXFSZ at the file size limit) leaves nothing at a
// final name, and its leftovers do not keep the name from the next conversion.
TEST(AviLayout, KilledConversionLeavesNoFinalFileAndDoesNotBlockTheName) {
    for (int sig : {SIGKILL, SIGXFSZ}) {
        SCOPED_TRACE(sig);
        TempDir dir;
        const std::string path = dir.file("clip.avi");
        const std::vector<char> frame = pattern(4000, 3);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ANAVIFrameBuilder b;
            if (b.startRecordingToFile(path) != AviResult::Ok) _exit(1);
            for (int i = 0; i < 8; ++i)
                b.videoDataWrappingForAVIConversion(frame.data(), int(frame.size()), 160, 120, true, 0,
                                                    recorderTime(2024, 1, 1, 0, 0, i), 0);
            if (sig == SIGKILL) raise(SIGKILL);
            const rlimit limit{64000, 64000};
            setrlimit(RLIMIT_FSIZE, &limit);
            for (int i = 0; i < 100; ++i)
                b.videoDataWrappingForAVIConversion(frame.data(), int(frame.size()), 160, 120, true, 0,
                                                    recorderTime(2024, 1, 1, 0, 1, i % 60), 0);
            _exit(2);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << status;
        EXPECT_EQ(WTERMSIG(status), sig);
        EXPECT_FALSE(exists(path));
        EXPECT_FALSE(exists(path + ".srt"));
        // Its temporaries, under the name of its own run, are left alone.
        const std::string ls = "LC_ALL=C ls -A '" + dir.path() + "'", left = run(ls);
        ASSERT_EQ(lines(left).size(), 3u) << left;
        const std::vector<uint8_t> leftover = readFile(dir.file(lines(left)[0]));

        ANAVIFrameBuilder b;
        ASSERT_EQ(b.startRecordingToFile(path), AviResult::Ok);
        b.videoDataWrappingForAVIConversion(frame.data(), int(frame.size()), 160, 120, true, 0,
                                            recorderTime(2024, 1, 1, 0, 0, 1), 0);
        ASSERT_EQ(b.stopRecording(false), AviResult::Ok);
        EXPECT_EQ(walk(readFile(path)).rows.size(), 1u);
        EXPECT_EQ(run(ls), "clip.avi\n" + left + "clip.avi.srt\n");
        EXPECT_EQ(readFile(dir.file(lines(left)[0])), leftover);
    }
}

// The temporaries of a live conversion are in use, not left over: a second conversion to the
// same name is refused and the first one finishes whole.
TEST(AviLayout, LiveConversionKeepsItsName) {
    Builder x;
    ASSERT_EQ(x.b.startRecordingToFile(x.path), AviResult::Ok);
    x.video(pattern(100, 1), true);
    ANAVIFrameBuilder other;
    EXPECT_EQ(other.startRecordingToFile(x.path), AviResult::TargetExists);
    x.video(pattern(100, 2), false);
    ASSERT_EQ(x.b.stopRecording(false), AviResult::Ok);
    EXPECT_EQ(walk(readFile(x.path)).rows.size(), 2u);
    EXPECT_EQ(run("ls -A '" + x.dir.path() + "'"), "clip.avi\nclip.avi.srt\n");
}
