// The DV unit scanner on its own (no threads, no decoders): the ways these files have always
// been read, kept as they are, and the places where the scanner must not misbehave.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "common/mkrec_fixture.h"
#include "engines/headless_delegate.h"
#include "engines/recording_host.h"

using namespace enginetest;

namespace {

using Bytes = std::vector<uint8_t>;

class ScannerTest : public ::testing::Test {
  protected:
    void SetUp() override { dvFmtResetControlFlags(); }
    void TearDown() override { dvFmtResetControlFlags(); }

    // Opens `path` and makes a scanner of `variant` over it.
    DVStreamParser &open(DVVariant variant, const std::string &path) {
        EXPECT_TRUE(window.initDataFeedControllerWith(path));
        parser = std::make_unique<DVStreamParser>(variant, window, host, &delegate);
        return *parser;
    }
    std::string write(const std::string &name, const Bytes &bytes) {
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    mkrec::TempDir dir;
    DataFeedController window;
    RecordingHost host;
    HeadlessDelegate delegate;
    std::unique_ptr<DVStreamParser> parser;
};

Bytes dv4VideoHeader(uint32_t seconds) {
    Bytes h{0, 0, 0, 1, 0x1F, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 4; ++i)
        h.push_back(static_cast<uint8_t>(seconds >> (8 * i)));
    h.insert(h.end(), 4, 0);
    return h;
}

} // namespace

// Start codes met inside a DV4 audio payload count towards the pending video frame, not the
// audio: the audio arrives five bytes short and the video frame before it five bytes long (the
// start of the header after it); an SPS type marks that video frame as a key frame.
TEST_F(ScannerTest, DV4StartCodesInsideAudioCountTowardsTheVideo) {
    for (int type : {0x09, 0x67}) {
        SCOPED_TRACE("type " + std::to_string(type));
        host = RecordingHost();
        const mkrec::Recording rec =
            mkrec::make(dir, "sc" + std::to_string(type),
                        {"--kind", "dv4-h264", "--size", "96x64", "--frames", "10", "--gop", "5", "--audio",
                         "ulaw", "--dv4-audio-startcode", std::to_string(type), "--startcode-every", "2"});
        ASSERT_TRUE(rec.ok()) << rec.output;
        const Bytes file = mkrec::readFile(rec.path);
        ASSERT_EQ(open(DVVariant::DV4H264, rec.path).run(true), DVStreamParser::Exit::Ended);

        // What each unit should arrive as.
        std::vector<Bytes> wantVideo, wantAudio;
        std::vector<bool> wantKey;
        const std::vector<mkrec::Unit> &units = rec.manifest.units;
        const mkrec::Unit *pendingVideo = nullptr;
        size_t extra = 0;
        bool markedKey = false;
        auto closeVideo = [&] {
            if (!pendingVideo) return;
            wantVideo.push_back(mkrec::payload(file, *pendingVideo));
            const uint64_t after = pendingVideo->payloadOffset + pendingVideo->payloadLen;
            for (size_t i = 0; i < extra; ++i)
                wantVideo.back().push_back(file[after + i]);
            wantKey.push_back(pendingVideo->key || markedKey);
        };
        for (size_t i = 0; i < units.size(); ++i) {
            const mkrec::Unit &u = units[i];
            if (u.video) {
                closeVideo();
                pendingVideo = &u;
                extra = 0;
                markedKey = false;
                continue;
            }
            Bytes p = mkrec::payload(file, u);
            if (u.has("inject_at")) {
                p.resize(p.size() - 5);
                extra += 5;
                markedKey = markedKey || type == 0x67;
            }
            if (i + 1 < units.size()) wantAudio.push_back(p); // the file's last audio unit never ends
        }
        closeVideo();

        std::vector<Bytes> gotVideo, gotAudio;
        std::vector<bool> gotKey;
        for (const auto &h : host.handOffs) {
            (h.video ? gotVideo : gotAudio).push_back(h.payload);
            if (h.video) gotKey.push_back(h.key);
        }
        EXPECT_EQ(gotAudio, wantAudio);
        EXPECT_EQ(gotVideo, wantVideo);
        EXPECT_EQ(gotKey, wantKey);
        EXPECT_TRUE(
            std::any_of(units.begin(), units.end(), [](const mkrec::Unit &u) { return u.has("inject_at"); }));
    }
}

// A start code with type 0x00 steps over its four bytes without counting them; every other
// zero byte counts as payload.
TEST_F(ScannerTest, DV4StartCodeOfTypeZeroIsNotCounted) {
    Bytes f = dv4VideoHeader(1000);
    const Bytes first{0x11, 0x11, 0x00, 0x11, 0x00, 0x00, 0x00, 0x01, 0x00, 0x22, 0x22, 0x00, 0x00, 0x22};
    f.insert(f.end(), first.begin(), first.end());
    const Bytes second = dv4VideoHeader(1001);
    f.insert(f.end(), second.begin(), second.end());
    const Bytes last{0x33, 0x33, 0x33};
    f.insert(f.end(), last.begin(), last.end());
    open(DVVariant::DV4H264, write("zero.dv4", f)).run(true);
    ASSERT_EQ(host.handOffs.size(), 2u);
    // 14 bytes, 4 not counted: the first 10 are copied from where the payload began.
    EXPECT_EQ(host.handOffs[0].payload, Bytes(first.begin(), first.begin() + 10));
    EXPECT_EQ(host.handOffs[1].payload, last);
    EXPECT_EQ(delegate.dvEndNotices.load(), 1);
}

// Only channels the application shows are copied, handed off and given a decoder.
TEST_F(ScannerTest, DV5OnlyShownChannelsGetFrames) {
    for (const char *kind : {"dv5-nvr", "dv5-dvr700"}) {
        SCOPED_TRACE(kind);
        host = RecordingHost();
        const mkrec::Recording rec = mkrec::make(
            dir, std::string(kind) + ".dv5",
            {"--kind", kind, "--size", "64x48", "--frames", "6", "--video-mask", "0x9", "--audio-mask", "0"});
        ASSERT_TRUE(rec.ok()) << rec.output;
        delegate.decodeChannelMask = 1 << 3; // single view of channel 4
        open(std::string(kind) == "dv5-nvr" ? DVVariant::DV5NVR : DVVariant::DV5DVR, rec.path).run(true);
        EXPECT_EQ(host.decodersMade, std::vector<int>{3});
        ASSERT_EQ(host.count(true), 6u);
        const std::vector<const mkrec::Unit *> want = rec.manifest.video(3);
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(host.handOffs[i].channel, 3);
            EXPECT_EQ(mkrec::md5Hex(host.handOffs[i].payload), want[i]->md5);
        }
    }
}

// Stop on a file that does not begin with a key frame plays on up to the first key frame,
// holds after it, and reports progress 0.
TEST_F(ScannerTest, StopHoldsAfterTheFirstKeyFrame) {
    const mkrec::Recording rec = mkrec::make(
        dir, "s.dv4",
        {"--kind", "dv4-h264", "--size", "64x48", "--frames", "12", "--gop", "5", "--audio-mask", "0"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    const Bytes file = mkrec::readFile(rec.path);
    const std::vector<const mkrec::Unit *> video = rec.manifest.video();
    // Cut off the first two frames: the file now begins with P frames.
    const uint64_t cut = video[2]->offset;
    open(DVVariant::DV4H264, write("cut.dv4", Bytes(file.begin() + static_cast<long>(cut), file.end())));
    gDVFmtPlaybackStopActionLaunched = 1;
    parser->run(true);
    EXPECT_EQ(gDVFmtPlaybackStopActionLaunched.load(), 0);
    EXPECT_EQ(gDVFmtPlaybackIFrameStop.load(), 0);
    // Frames 2, 3, 4 before the key frame 5; the hold comes right after frame 5.
    size_t frames = 0, holdAfter = 0;
    for (const std::string &e : host.events) {
        if (e == "V") ++frames;
        if (e == "P0.000000" && holdAfter == 0) holdAfter = frames;
    }
    EXPECT_EQ(holdAfter, 4u);
    ASSERT_GE(host.handOffs.size(), 4u);
    EXPECT_FALSE(host.handOffs[2].key);
    EXPECT_TRUE(host.handOffs[3].key);
}

// A seek asked for while the scanner still carries out the one before (here during the rewind
// of a seek to the start, paused) is not acknowledged with it: the next pass serves it, and
// only the file's last frames are handed off.
TEST_F(ScannerTest, SeekAskedDuringASeekIsServedNext) {
    const mkrec::Recording rec = mkrec::make(
        dir, "q.dv4",
        {"--kind", "dv4-h264", "--size", "64x48", "--frames", "12", "--gop", "5", "--audio-mask", "0"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    open(DVVariant::DV4H264, rec.path);
    gDVFmtPlaybackIsPauseNow = 1;
    bool askedAgain = false;
    host.onPause = [&] {
        if (!askedAgain) dvFmtRequestSeek(99);
        askedAgain = true;
    };
    dvFmtRequestSeek(0);
    parser->seek();
    ASSERT_TRUE(askedAgain);
    EXPECT_EQ(static_cast<int>(gDVFmtPlaybackSliderValueChanged.load()), 1)
        << "the second request was dropped";
    gDVFmtPlaybackIsPauseNow = 0;
    parser->run(true);
    EXPECT_EQ(gDVFmtPlaybackSliderValueChanged.load(), 0);
    // Key frames 0, 5 and 10: 99 % lands on frame 10.
    EXPECT_EQ(host.count(true), 2u);
    EXPECT_NE(std::find(host.events.begin(), host.events.end(), "P99.000000"), host.events.end());
}

// Backward scans never leave the window or the file: a key frame less than a header's length
// into the file restarts at offset 0; a target below 4 gives up at once.
TEST_F(ScannerTest, SeekBackOffsStayInsideTheFile) {
    const mkrec::Recording rec = mkrec::make(
        dir, "b.dv4", {"--kind", "dv4-h264", "--size", "64x48", "--frames", "3", "--audio-mask", "0"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    const Bytes file = mkrec::readFile(rec.path);
    // Without the first header the file begins with the SPS start code.
    const Bytes headless(file.begin() + 20, file.end());
    ASSERT_EQ(headless[4], 0x67);
    const uint64_t size = headless.size();
    const int percent = static_cast<int>(100.0 * 10 / static_cast<double>(size)) + 1; // inside frame 0
    ASSERT_LT(static_cast<uint64_t>(size * 0.01 * percent), rec.manifest.video()[1]->offset - 20);
    open(DVVariant::DV4H264, write("headless.dv4", headless));
    gDVFmtPlaybackSliderPercentage = percent;
    parser->seek();
    EXPECT_EQ(window.absPos(), 0u);

    const Bytes tiny{0x00, 0x00, 0x01, 0x67, 0x01};
    for (DVVariant v : {DVVariant::DV4H264, DVVariant::DV4MPEG4, DVVariant::DV5NVR, DVVariant::DV5DVR}) {
        open(v, write("tiny", tiny));
        gDVFmtPlaybackSliderPercentage = 50; // target 2
        parser->seek();
        EXPECT_LE(window.absPos(), 2u);
        EXPECT_EQ(parser->run(true), DVStreamParser::Exit::Ended);
    }
}

// 200 MiB of zeros (sparse), then two units: the scanner reports progress while crossing the
// stretch although no frame shows (its speed is measured by the scan bench), and still finds
// the units behind it, whole.
TEST_F(ScannerTest, LongStretchWithoutUnitsIsCrossedFastWithProgress) {
    const uint64_t stretch = 200ull << 20;
    Bytes tail = dv4VideoHeader(1000);
    const Bytes payload{0x11, 0x00, 0x00, 0x01, 0x22, 0x00, 0x00, 0x00, 0x02, 0x33};
    tail.insert(tail.end(), payload.begin(), payload.end());
    const Bytes next = dv4VideoHeader(1001);
    tail.insert(tail.end(), next.begin(), next.end());
    const std::string path = dir.file("zeros.dv4");
    ASSERT_EQ(truncate(write("zeros.dv4", {}).c_str(), static_cast<off_t>(stretch)), 0);
    std::ofstream(path, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char *>(tail.data()), static_cast<std::streamsize>(tail.size()));

    open(DVVariant::DV4H264, path).run(true);
    ASSERT_EQ(host.handOffs.size(), 1u);
    EXPECT_EQ(host.handOffs[0].payload, payload);
    std::vector<float> before;
    for (const std::string &e : host.events) {
        if (e == "V") break;
        if (e[0] == 'P') before.push_back(std::stof(e.substr(1)));
    }
    ASSERT_GE(before.size(), 3u) << "no progress while crossing the zeros";
    EXPECT_TRUE(std::is_sorted(before.begin(), before.end()));
    EXPECT_LT(before.back(), 100.0f);
}

// A close or stop made while a seek searches backwards through a long stretch without key frames
// ends the search at its next window: it does not go on to the key frame 64 MiB back, and the
// close then ends the scan with nothing handed off.
TEST_F(ScannerTest, CloseOrStopEndsTheSeeksBackwardSearch) {
    const mkrec::Recording rec =
        mkrec::make(dir, "k.dv5", {"--kind", "dv5-nvr", "--frames", "1", "--audio-mask", "0"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    const Bytes file = mkrec::readFile(rec.path);
    const mkrec::Unit &key = rec.manifest.units[0];
    // 1 GiB, sparse: the file header, then zeros with a stray SPS start code every 2 MB.
    const uint64_t size = 1ull << 30, keyAt = size / 2 - (64ull << 20),
                   unitEnd = key.payloadOffset + key.payloadLen;
    const int fd =
        ::open(write("big.dv5", Bytes(file.begin(), file.begin() + long(key.offset))).c_str(), O_WRONLY);
    for (uint64_t at = 2000000; at < size; at += 2000000)
        ASSERT_EQ(pwrite(fd, "\0\0\0\1\x67", 5, off_t(at)), 5);
    ASSERT_EQ(pwrite(fd, file.data() + key.offset, unitEnd - key.offset, off_t(keyAt)),
              ssize_t(unitEnd - key.offset));
    ASSERT_EQ(ftruncate(fd, off_t(size)), 0);
    ::close(fd);
    delegate.decodeChannelMask = 1;
    for (std::atomic<uint8_t> *request :
         {&gDVFmtPlaybackParserThreadForceExit, &gDVFmtPlaybackStopActionLaunched}) {
        dvFmtResetControlFlags();
        open(DVVariant::DV5NVR, dir.file("big.dv5"));
        dvFmtRequestSeek(50);
        *request = 1; // raised while the search runs: here before it starts, which it sees alike
        parser->seek();
        EXPECT_EQ(window.absPos(), size / 2) << "the search went on to the key frame";
        if (request != &gDVFmtPlaybackParserThreadForceExit) continue;
        EXPECT_EQ(parser->run(true), DVStreamParser::Exit::Closed);
        EXPECT_TRUE(host.handOffs.empty());
    }
}
