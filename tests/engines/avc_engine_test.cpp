// The AVC engine on generated recordings: routing, pictures against ffmpeg's decode of each
// channel's stream, audio, titles, index progress, pacing at every speed, steps, seeks, the end
// of a file and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "avc_fixture.h"
#include "recorderfile/avc_parse.h"
#include "stream_clips.h"

using namespace enginetest;
using namespace std::chrono_literals;

namespace {
using AVCEngine = AVCEngineFixture;
} // namespace

TEST_F(AVCEngine, MixedChannelsPlayLikeFFmpegWithAudioTitlesAndIndexProgress) {
    const auto rec = make("mixed.avc", {"--video-mask", "0x7",    "--codec",  "h264,mpeg4,mjpeg",
                                        "--audio-mask", "0x1f",   "--audio",  "ulaw,pcm8,pcm16,pcm16b,g723",
                                        "--title",      "1=Gate", "--title",  "2=Yard",
                                        "--duration",   "1",      "--gop",    "10",
                                        "--version",    "9",      "--prefix", "all"});
    delegate.selectedAudioChannel = 5;
    const auto t0 = Clock::now();
    ASSERT_TRUE(start(rec.path));
    ASSERT_TRUE(waitEnd());
    EXPECT_GT(std::chrono::duration<double>(Clock::now() - t0).count(), 0.85) << "1 s at 1x";

    // Pictures: every channel equals ffmpeg's decode of its own stream, on a thread of its own.
    std::map<unsigned, std::vector<VideoEvent>> byChannel;
    for (const VideoEvent &e : delegate.videoEvents())
        byChannel[e.channel].push_back(e);
    ASSERT_EQ(byChannel.size(), 3u);
    const char *ext[] = {"h264", "m4v", "mjpeg"};
    std::set<std::thread::id> threads;
    for (unsigned ch = 0; ch < 3; ++ch) {
        const auto ref = frameMd5(dir.file("mixed.avc.es") + "/video-ch" + std::to_string(ch) + "." + ext[ch],
                                  kRgbaFilter);
        const auto &ev = byChannel[ch];
        ASSERT_EQ(ev.size(), ref.size()) << "channel " << ch;
        for (size_t i = 0; i < ev.size(); ++i) {
            EXPECT_EQ(pictureMd5(ev[i]), ref[i]) << "channel " << ch << " frame " << i;
            EXPECT_EQ(ev[i].thread, ev[0].thread);
            EXPECT_EQ(ev[i].interval, i == 0 ? 0u : 40000u);
        }
        threads.insert(ev[0].thread);
    }
    EXPECT_EQ(threads.size(), 3u);
    EXPECT_EQ(streamW.load(), 176);

    poster.drain();
    std::lock_guard<std::mutex> lock(delegate.mutex);
    // Audio: only the selected channel, byte for byte without its prefix; each channel's kind.
    const auto units = rec.manifest.audio(4);
    ASSERT_EQ(delegate.audio.size(), units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(delegate.audio[i].channel, 4u);
        EXPECT_EQ(mkrec::md5Hex(delegate.audio[i].payload), units[i]->esMd5);
    }
    EXPECT_EQ(delegate.audioProcessors, (std::vector<std::pair<unsigned, int>>{{4u, enAudioFormat_G723}}));
    const int kinds[] = {enAudioFormat_ULAW, enAudioFormat_PCM, enAudioFormat_PCM16, enAudioFormat_PCM16_2};
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ(engine.audioCodec(ch), kinds[ch]) << "channel " << ch;
    std::vector<int> codecs = delegate.vdoIdx;
    std::sort(codecs.begin(), codecs.end());
    EXPECT_EQ(codecs, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(std::count(delegate.deinterlaceButton.begin(), delegate.deinterlaceButton.end(), true), 0);

    // Titles in line order; the third channel has none.
    ASSERT_EQ(delegate.titles.size(), 1u);
    ASSERT_EQ(delegate.titles[0].size(), 16u * 64u);
    EXPECT_STREQ(delegate.titles[0].data(), "Gate");
    EXPECT_STREQ(delegate.titles[0].data() + 64, "Yard");
    EXPECT_EQ(delegate.titles[0][128], 0);

    // Time, progress rising to 100 on the GUI thread, and the end: status 11, tri-state 1.
    ASSERT_FALSE(delegate.processingInfo.empty());
    EXPECT_EQ(delegate.processingInfo[0].first, "2024/01/02 03:04:05");
    EXPECT_TRUE(std::is_sorted(delegate.progress.begin(), delegate.progress.end()));
    EXPECT_EQ(delegate.progress.back(), 100.0f);
    EXPECT_NE(delegate.progressThreads.back(), std::this_thread::get_id());
    EXPECT_EQ(delegate.avcStatus.load(), kAVCFmtPlaybackStop);
    EXPECT_EQ(delegate.triState.load(), kPlaybackTriStateAtEnd);

    // The index was built on this first open: "Creating .idx file %3d%%", rising to 100.
    ASSERT_GE(delegate.labels.size(), 10u);
    const std::regex label("Creating \\.idx file ([ 0-9]{3})%");
    int last = -1;
    for (const std::string &l : delegate.labels) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, label)) << l;
        EXPECT_GT(std::stoi(m[1]), last) << l;
        last = std::stoi(m[1]);
    }
    EXPECT_EQ(delegate.labels.back(), "Creating .idx file 100%");
    EXPECT_EQ(std::count(delegate.labels.begin(), delegate.labels.end(), "Creating .idx file   4%"), 1);
}

TEST_F(AVCEngine, FastForwardAndRewindPaceByStatus) {
    const auto rec = make("pace.avc", {"--duration", "2", "--gop", "5", "--audio-mask", "0x1"});
    delegate.selectedAudioChannel = 1;
    // Fast forward: 2x and 4x deliver every frame (40 ms apart), 8x and 16x the key frames
    // (200 ms apart); each divides the step.
    const struct {
        int status;
        double gapMs;
        bool keysOnly;
    } forward[] = {{1, 20, false}, {2, 10, false}, {3, 25, true}, {4, 12.5, true}};
    for (const auto &f : forward) {
        const size_t from = delegate.videoCount();
        const int ends = delegate.avcEndNotices;
        ASSERT_TRUE(start(rec.path, f.status));
        engine.doPlaybackAction(f.status); // the reader may have passed a frame or two at 1x
        ASSERT_TRUE(waitEnd(ends + 1));
        const auto ev = delegate.videoEvents();
        auto idx = frameIndexes(rec, from);
        ASSERT_GE(idx.size(), f.keysOnly ? 10u : 49u) << "status " << f.status;
        EXPECT_EQ(idx.back(), f.keysOnly ? 45 : 49);
        // At 8x and 16x the end comes with the last key frame once more.
        if (f.keysOnly) {
            ASSERT_EQ(idx[idx.size() - 2], 45);
            idx.pop_back();
        }
        for (size_t i = 3; i < idx.size(); ++i)
            EXPECT_EQ(idx[i], f.keysOnly ? idx[i - 1] + 5 : idx[i - 1] + 1) << "status " << f.status;
        const double gap = medianGapMs(ev, from + 3);
        EXPECT_GT(gap, f.gapMs * 0.8) << "status " << f.status;
        EXPECT_LT(gap, f.gapMs * 1.3 + 8) << "status " << f.status;
        engine.closeAVCFileAndStopParser();
    }
    EXPECT_TRUE(delegate.audio.empty()) << "no audio away from normal play";
    EXPECT_EQ(std::count(delegate.labels.begin(), delegate.labels.end(), "Creating .idx file 100%"), 1)
        << "only the first open builds the index";

    // Rewind from the end (a paused seek to 100 % shows the last frame): key frames backwards,
    // 200 ms apart at 1x and 12.5 ms at 16x, ending at the first frame with tri-state 255.
    delegate.decodeChannelMask = 1; // the seek's landing is the one channel's picture
    for (const auto &r : {std::pair<int, double>{5, 200}, {9, 12.5}}) {
        ASSERT_TRUE(startPaused(rec.path));
        ASSERT_EQ(seekPaused(100), 0);
        const size_t from = delegate.videoCount();
        const int ends = delegate.avcEndNotices;
        act(r.first);
        engine.doPlaybackAction(kAVCFmtPlaybackPause); // resume
        ASSERT_TRUE(waitEnd(ends + 1));
        EXPECT_EQ(delegate.triState.load(), kPlaybackTriStateAtFirstFrame);
        EXPECT_EQ(delegate.avcStatus.load(), kAVCFmtPlaybackStop);
        const auto idx = frameIndexes(rec, from);
        EXPECT_EQ(idx, (std::vector<int>{45, 40, 35, 30, 25, 20, 15, 10, 5, 0, 0})) << "status " << r.first;
        const double gap = medianGapMs(delegate.videoEvents(), from + 1);
        EXPECT_GT(gap, r.second * 0.8) << "status " << r.first;
        EXPECT_LT(gap, r.second * 1.3 + 8) << "status " << r.first;
        engine.closeAVCFileAndStopParser();
    }
}

TEST_F(AVCEngine, StepsWhilePausedAndSeeksWithoutLosingPictures) {
    const auto rec = make("seek.avc", {"--duration", "2", "--gop", "10", "--audio-mask", "0"});
    const auto ref = frameMd5(dir.file("seek.avc.es") + "/video-ch0.h264", kRgbaFilter);
    ASSERT_EQ(ref.size(), 50u);
    ASSERT_TRUE(startPaused(rec.path));

    // Paused in the single view: a seek shows the frame of its place (decoded from the key frame
    // before it), a step back that key frame, and steps forward read one record each, showing key
    // frames only.
    const std::vector<int> seen = frameIndexes(rec);
    ASSERT_FALSE(seen.empty());
    delegate.avcStatus = kAVCFmtPlaybackPause;
    delegate.decodeChannelMask = 1;
    auto step = [&](int action) {
        const long passes = avc_parse_passes(engine.fdAVCFile());
        engine.doPlaybackAction(action);
        ASSERT_TRUE(waitFor([&] { return avc_parse_passes(engine.fdAVCFile()) > passes; }));
    };
    ASSERT_EQ(seekPaused(30), 0); // record 15, frame 14: key frame 10
    step(kAVCFmtPlaybackStepBack);
    for (int i = 0; i < 10; ++i)
        step(kAVCFmtPlaybackStepForward);
    step(kAVCFmtPlaybackStepBack);
    auto idx = frameIndexes(rec, seen.size());
    EXPECT_EQ(idx, (std::vector<int>{14, 10, 20, 10}));

    // A seek (after a step back) shows the frame of its place; every picture from there on
    // equals ffmpeg's, none lost.
    const size_t from = delegate.videoCount();
    EXPECT_EQ(seekPaused(50), 0);
    act(kAVCFmtPlaybackFastForward4x);
    engine.doPlaybackAction(kAVCFmtPlaybackPause); // resume
    ASSERT_TRUE(waitEnd());
    const auto ev = delegate.videoEvents();
    idx = frameIndexes(rec, from);
    ASSERT_EQ(idx.size(), 26u);
    for (size_t i = 0; i < idx.size(); ++i) {
        EXPECT_EQ(idx[i], static_cast<int>(24 + i));
        EXPECT_EQ(pictureMd5(ev[from + i]), ref[24 + i]) << "frame " << 24 + i;
    }
    const auto p = progress();
    EXPECT_TRUE(std::find(p.begin(), p.end(), 50.0f) != p.end()) << "the seek's percentage is shown";
    EXPECT_EQ(p.back(), 100.0f);
    EXPECT_EQ(delegate.triState.load(), kPlaybackTriStateAtEnd);

    // Play after the end starts again from the first frame.
    const size_t replay = delegate.videoCount();
    act(kAVCFmtPlaybackPlay);
    ASSERT_TRUE(waitFor([&] { return delegate.videoCount() > replay; }));
    EXPECT_EQ(frameIndexes(rec, replay).front(), 0);
}

// The end notice reaches the main thread after the end it announces: the stop status, the
// tri-state and the halted reader are in place, so a play started on it is not undone.
TEST_F(AVCEngine, EndNoticeFollowsTheEndItAnnounces) {
    const auto rec = make("end.avc", {"--frames", "10", "--gop", "5", "--audio-mask", "0"});
    std::mutex mutex;
    std::vector<std::pair<int, int>> atNotice; // tri-state and status as each notice ran
    // Before it takes the stop status, the delegate lets the main thread run what was posted to
    // it so far: a notice posted before the status would run now, and see the status before it.
    delegate.onAVCStatus = [this](int status) {
        if (status == kAVCFmtPlaybackStop && !poster.onThread()) poster.drain();
    };
    delegate.onAVCEnd = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        atNotice.emplace_back(delegate.triState.load(), delegate.avcStatus.load());
    };
    ASSERT_TRUE(start(rec.path, kAVCFmtPlaybackFastForward4x));
    engine.doPlaybackAction(kAVCFmtPlaybackFastForward4x);
    ASSERT_TRUE(waitEnd());
    const size_t first = delegate.videoCount();
    ASSERT_EQ(first, 10u);
    act(kAVCFmtPlaybackPlay);
    ASSERT_TRUE(waitEnd(2)) << "the play after the end was undone";
    EXPECT_EQ(delegate.videoCount(), 2 * first);
    EXPECT_EQ(frameIndexes(rec, first).front(), 0);
    engine.closeAVCFileAndStopParser();
    poster.drain();
    delegate.onAVCEnd = nullptr;
    delegate.onAVCStatus = nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    const std::pair<int, int> end{kPlaybackTriStateAtEnd, kAVCFmtPlaybackStop};
    EXPECT_EQ(atNotice, (std::vector<std::pair<int, int>>{end, end}));
}

TEST_F(AVCEngine, DamagedRecordingsEndAndTruncatedOnesPlayAgain) {
    // Cut inside a record: the reader ends on it, which ends playback; play opens the file again.
    const auto whole = make("whole.avc", {"--frames", "20", "--audio-mask", "0"});
    const std::string at = std::to_string(whole.manifest.video(0)[10]->offset + 20);
    const auto cut = make("cut.avc", {"--frames", "20", "--audio-mask", "0", "--truncate", at});
    ASSERT_TRUE(start(cut.path, kAVCFmtPlaybackFastForward4x));
    engine.doPlaybackAction(kAVCFmtPlaybackFastForward4x);
    ASSERT_TRUE(waitEnd());
    EXPECT_EQ(delegate.triState.load(), kPlaybackTriStateAtEnd);
    EXPECT_EQ(delegate.avcStatus.load(), kAVCFmtPlaybackStop);
    const size_t first = delegate.videoCount();
    ASSERT_EQ(first, 10u);
    act(kAVCFmtPlaybackPlay);
    ASSERT_TRUE(waitEnd(2));
    EXPECT_EQ(delegate.videoCount(), 2 * first);
    EXPECT_EQ(frameIndexes(cut, first).front(), 0);
    engine.closeAVCFileAndStopParser();

    // A frame of channel 17 is dropped; the rest play and the file ends normally.
    const auto bad = make("bad.avc", {"--frames", "12", "--audio-mask", "0", "--bad-channel", "3"});
    const size_t before = delegate.videoCount();
    ASSERT_TRUE(start(bad.path, kAVCFmtPlaybackFastForward4x));
    ASSERT_TRUE(waitEnd(3));
    EXPECT_EQ(delegate.videoCount() - before, 11u);
    engine.closeAVCFileAndStopParser();

    // Broken lengths and random damage end without a crash.
    int ends = delegate.avcEndNotices, i = 0;
    for (const char *damage : {"--oversize=4", "--zero-length=2", "--flip=40", "--flip=200"}) {
        const std::string d(damage), name = "d" + std::to_string(i++) + ".avc";
        const auto r = make(name, {"--frames", "12", "--video-mask", "0x3", "--codec", "h264,mjpeg", "--seed",
                                   std::to_string(i), d.substr(0, d.find('=')), d.substr(d.find('=') + 1)});
        if (!start(r.path, kAVCFmtPlaybackFastForward4x)) continue; // a header the parser refuses
        EXPECT_TRUE(waitEnd(++ends)) << damage;
        engine.closeAVCFileAndStopParser();
    }
}

TEST(AVCChannelTitles, LinesInOrderBoundedByTheTextAndTheSlot) {
    char t[16 * 64];
    const std::string two = "CH1.Title=Gate\nCH2.Title=Yard\n";
    EXPECT_EQ(avcChannelTitles(two.data(), two.size(), t), 2);
    EXPECT_STREQ(t, "Gate");
    EXPECT_STREQ(t + 64, "Yard");
    // A line without the marker is passed over; a name is cut to 63 bytes and its zero kept.
    const std::string odd =
        "no marker here\nCH2.Title=" + std::string(100, 'x') + "\nCH3.Title=\nCH4.Title=Z";
    EXPECT_EQ(avcChannelTitles(odd.data(), odd.size(), t), 2);
    EXPECT_EQ(std::string(t), std::string(63, 'x'));
    EXPECT_EQ(t[64], 0);
    // The search ends with the text, even when a marker and its line lie just past it.
    const std::string past = "CH1.Title=Gate\nCH2.Title=Yard\n";
    EXPECT_EQ(avcChannelTitles(past.data(), 20, t), 1);
    EXPECT_EQ(t[64], 0);
    std::string many;
    for (int i = 1; i <= 20; ++i)
        many += "CH" + std::to_string(i) + ".Title=N" + std::to_string(i) + "\n";
    EXPECT_EQ(avcChannelTitles(many.data(), many.size(), t), 16);
    EXPECT_STREQ(t + 15 * 64, "N16");
}

TEST_F(AVCEngine, NoOpenFileIgnoresActionsTargetSizeFieldCodedFramesAndNoTitles) {
    engine.doPlaybackAction(kAVCFmtPlaybackPlay);
    EXPECT_EQ(engine.changePlaybackProgress(60), -1);
    engine.closeAVCFileAndStopParser();
    EXPECT_EQ(engine.openAVCFileAndStartParser(dir.file("missing.avc")), 0);

    const auto rec = make("fields.avc", {"--frames", "5", "--audio-mask", "0", "--fields", "stacked"});
    delegate.targetWidth = 88;
    delegate.targetHeight = 72;
    ASSERT_TRUE(start(rec.path, kAVCFmtPlaybackFastForward4x));
    ASSERT_TRUE(waitEnd());
    const auto p = progress();
    ASSERT_FALSE(p.empty());
    EXPECT_NE(p.front(), 60.0f) << "a seek with no open file leaves nothing behind";
    std::lock_guard<std::mutex> lock(delegate.mutex);
    ASSERT_EQ(delegate.titles.size(), 1u);
    EXPECT_TRUE(delegate.titles[0].empty());
    // Pictures at the target size; field-coded frames enable the deinterlace switch.
    for (const VideoEvent &e : delegate.video)
        EXPECT_EQ(e.image->width() * 1000 + e.image->height(), 88072);
    EXPECT_EQ(delegate.realWidths.back(), 88);
    ASSERT_EQ(delegate.deinterlaceButton.size(), 5u);
    EXPECT_EQ(std::count(delegate.deinterlaceButton.begin(), delegate.deinterlaceButton.end(), true), 5);
}

// Names go to channels by line order, so a lone title on channel 5 of six must still land in
// channel 5's slot and leave the others empty.
TEST_F(AVCEngine, LoneTitleOnAHighChannelNamesThatChannelOnly) {
    const auto rec = make(
        "titled.avc", {"--video-mask", "0x3f", "--audio-mask", "0", "--frames", "3", "--title", "5=Yard"});
    ASSERT_TRUE(start(rec.path, kAVCFmtPlaybackFastForward4x));
    ASSERT_TRUE(waitEnd());
    poster.drain();
    std::lock_guard<std::mutex> lock(delegate.mutex);
    ASSERT_EQ(delegate.titles.size(), 1u);
    ASSERT_EQ(delegate.titles[0].size(), 16u * 64u);
    for (int slot = 0; slot < 16; ++slot)
        EXPECT_STREQ(delegate.titles[0].data() + slot * 64, slot == 4 ? "Yard" : "") << "slot " << slot;
}
