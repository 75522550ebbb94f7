// The recorder file probe and the channel layout it leads to: DV5 headers, AVC main-header
// walks, the DV4 sniff, every prefix of a header, paths that are not regular files, and
// recordings written by mkrec.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "app/logic/channel_layout.h"
#include "app/logic/recorder_file_probe.h"
#include "common/mkrec_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

void putLE(Bytes &b, size_t offset, uint32_t value, size_t width) {
    if (b.size() < offset + width) b.resize(offset + width, 0);
    for (size_t i = 0; i < width; ++i)
        b[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A DV5 file header with filler everywhere the probe must not look.
Bytes dv5Header(const std::string &minorId, uint32_t videoMask, uint32_t audioMask) {
    Bytes b(1448, 0xA5);
    std::memset(&b[36], 0, 32);
    std::memcpy(&b[36], minorId.data(), std::min<size_t>(minorId.size(), 32));
    putLE(b, 416, videoMask, 4);
    putLE(b, 420, audioMask, 4);
    return b;
}

// An AVC main header with the optional fields of `flags`; fields the probe skips hold
// patterns that would read as full masks if the walk lost its place.
struct AvcHeader {
    Bytes bytes;
    size_t videoMaskAt = 0, audioMaskAt = 0; // 0: not present
};
AvcHeader avcHeader(uint32_t flags, uint32_t videoMask, uint8_t audioByte, uint16_t titleLen = 5,
                    uint32_t audioWord = 0xFFFF) {
    AvcHeader h;
    Bytes &b = h.bytes;
    b.assign(80, 0x5A);
    putLE(b, 76, flags, 4);
    if (flags & 0x2) b.insert(b.end(), 8, 0xFF);
    if (flags & 0x4) {
        h.videoMaskAt = b.size();
        putLE(b, b.size(), videoMask, 4);
    }
    if (flags & 0x8) {
        putLE(b, b.size(), titleLen, 2);
        b.insert(b.end(), titleLen, 0xEE);
    }
    if (flags & 0x10) b.insert(b.end(), 4, 0xDD);
    if (flags & 0x20) {
        h.audioMaskAt = b.size();
        b.push_back(audioByte);
    }
    if (flags & 0x40) putLE(b, b.size(), audioWord, 4);
    if (flags & 0x80) putLE(b, b.size(), 0xCCCC, 2);
    putLE(b, b.size(), 0xBBBB, 2);
    return h;
}

// Probes a heap copy of exactly `size` bytes, so a read past the end is caught.
RecorderFileProbe probeExact(RecorderFileKind kind, const Bytes &b, size_t size) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), b.data(), size);
    return probeRecorderFileBytes(kind, size ? copy.get() : nullptr, size);
}

RecorderFileProbe probe(RecorderFileKind kind, const Bytes &b) {
    return probeExact(kind, b, b.size());
}

void writeFile(const std::string &path, const Bytes &b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(b.data()), b.size());
}

} // namespace

TEST(RecorderFileProbe, KindFromExtension) {
    const struct {
        const char *ext;
        RecorderFileKind kind;
    } rows[] = {{"avc", RecorderFileKind::AVC},      {"AVC", RecorderFileKind::AVC},
                {"dv4", RecorderFileKind::DV4},      {"Dv4", RecorderFileKind::DV4},
                {"dV5", RecorderFileKind::DV5},      {"DV5", RecorderFileKind::DV5},
                {"", RecorderFileKind::Unknown},     {"avi", RecorderFileKind::Unknown},
                {"dv55", RecorderFileKind::Unknown}, {"av", RecorderFileKind::Unknown}};
    for (const auto &r : rows)
        EXPECT_EQ(recorderFileKindFromExtension(r.ext), r.kind) << r.ext;
}

// The DV5 header's id and masks, and the layout each leads to.
TEST(RecorderFileProbe, Dv5HeaderAndLayout) {
    const struct {
        const char *name;
        std::string minorId;
        uint32_t video, audio;
        bool dvr700;
        int cut, kind, menuItem, channelIndex, selectedVideo, selectedAudio, videoCount;
        bool locked;
    } rows[] = {
        {"700 four channels", "700", 0xF, 0x1, true, 1, 1, 0, 4, 1, 1, 4, false},
        {"7000 is NVR", "7000", 0xF, 0x0, false, 1, 1, 0, 4, 1, 0, 4, false},
        {"70 is NVR", "70", 0x3, 0x2, false, 1, 1, 0, 2, 1, 2, 2, false},
        {"empty id is NVR", "", 0x1, 0x1, false, 0, 0, 0, 1, 1, 1, 1, true},
        {"32 bytes without a zero", std::string(32, '7'), 0x1, 0, false, 0, 0, 0, 1, 1, 0, 1, true},
        {"only channel 16", "NVR", 0x8000, 0x8000, false, 0, 0, 0, 1, 16, 16, 1, true},
        {"channels 3 and 11", "NVR", 0x404, 0x0, false, 1, 4, 3, 11, 1, 0, 2, false},
        {"channels 1 and 9", "NVR", 0x101, 0x6, false, 1, 3, 2, 9, 1, 2, 2, false},
        {"channels 1 and 5", "NVR", 0x11, 0x0, false, 1, 2, 1, 5, 1, 0, 2, false},
        {"all sixteen", "NVR", 0xFFFF, 0xFFFF, false, 1, 5, 4, 16, 1, 1, 16, false},
        {"no video channel: channel 1", "NVR", 0x0, 0x1, false, 0, 0, 0, 1, 1, 1, 1, true},
        {"only bits above 16: channel 1", "NVR", 0xFFFF0000, 0x0, false, 0, 0, 0, 1, 1, 0, 1, true},
        {"bits above 16 ignored", "NVR", 0xFFFF0003, 0xFFFF0000, false, 1, 1, 0, 2, 1, 0, 2, false},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const RecorderFileProbe p = probe(RecorderFileKind::DV5, dv5Header(r.minorId, r.video, r.audio));
        EXPECT_EQ(p.minorId, r.minorId.substr(0, 32));
        EXPECT_EQ(p.isDVRType700, r.dvr700);
        const uint32_t video = (r.video & 0xFFFF) ? r.video : 1u;
        EXPECT_EQ(p.videoMask, video);
        EXPECT_EQ(p.audioMask, r.audio);
        const ChannelLayout l = checkTotalChannelsAndSetVideoViewCut(p, 7);
        EXPECT_EQ(l.videoPaneCutState, r.cut);
        EXPECT_EQ(l.miscellaneousBtnState, r.kind);
        EXPECT_EQ(l.channelIndex, r.channelIndex);
        EXPECT_EQ(l.iCurrentSelectedVideoCH, r.selectedVideo);
        EXPECT_EQ(l.iCurrentSelectedAudioCH, r.selectedAudio);
        EXPECT_EQ(l.videoChannelCount, r.videoCount);
        EXPECT_EQ(l.videoPaneLockCutStateFlag, r.locked);
        EXPECT_EQ(l.isIndependentFlag, !r.locked);
        EXPECT_EQ(l.snapShotBtnEnabled, r.cut == 0);
        EXPECT_EQ(l.videoChannelSwitchBtnEnabled, r.cut == 1);
        EXPECT_EQ(l.audioChannelSwitchBtnEnabled, r.cut == 1 && r.selectedAudio != 0);
        EXPECT_EQ(l.iSubVideoChannelEnabledValue, static_cast<int>(video & 0xFFFF));
        EXPECT_TRUE(l.refillAudioMenu);
        if (r.cut == 1) {
            EXPECT_EQ(l.videoMenuItemCount, r.kind);
            EXPECT_EQ(l.videoMenuSelectedItem, r.menuItem);
        } else {
            EXPECT_EQ(l.videoMenuItemCount, 0);
        }
        // The chosen grid starts at channel 0; the others are unused; the 12-grid's start is
        // the caller's unless the 12-grid is chosen.
        EXPECT_EQ(l.grid4StartIndex, r.kind == 1 ? 0 : 16);
        EXPECT_EQ(l.grid6StartIndex, r.kind == 2 ? 0 : 16);
        EXPECT_EQ(l.grid9StartIndex, r.kind == 3 ? 0 : 16);
        EXPECT_EQ(l.grid12StartIndex, r.kind == 4 ? 0 : 7);
    }
}

// The grid follows the highest channel present, for every highest channel 1..16, whether the
// file holds that channel alone or with channel 1.
TEST(ChannelLayout, HighestChannelChoosesTheGrid) {
    const int kindFor[17] = {0, 0, 1, 1, 1, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 5};
    for (int h = 1; h <= 16; ++h) {
        SCOPED_TRACE(h);
        const uint32_t alone = 1u << (h - 1);
        const ChannelLayout single = checkTotalChannelsAndSetVideoViewCut(
            probe(RecorderFileKind::DV5, dv5Header("NVR", alone, 0)), 16);
        EXPECT_EQ(single.videoPaneCutState, 0);
        EXPECT_EQ(single.iCurrentSelectedVideoCH, h);
        EXPECT_EQ(single.channelIndex, 1);
        EXPECT_EQ(single.iCurrentSelectedAudioCH, 0);
        if (h == 1) continue;
        const ChannelLayout grid = checkTotalChannelsAndSetVideoViewCut(
            probe(RecorderFileKind::DV5, dv5Header("NVR", alone | 1, 0)), 16);
        EXPECT_EQ(grid.videoPaneCutState, 1);
        EXPECT_EQ(grid.miscellaneousBtnState, kindFor[h]);
        EXPECT_EQ(grid.videoMenuSelectedItem, kindFor[h] - 1);
        EXPECT_EQ(grid.channelIndex, h);
        EXPECT_EQ(grid.highestVideoChannel, h);
    }
}

TEST(RecorderFileProbe, AvcMainHeaderWalk) {
    const struct {
        const char *name;
        uint32_t flags;
        uint32_t videoMask;
        uint8_t audioByte;
        uint16_t titleLen;
        uint32_t expectVideo, expectAudio;
        size_t videoAt, audioAt; // offsets the walk must reach (0: absent)
    } rows[] = {
        {"neither mask", 0x0, 0, 0, 0, 1, 0, 0, 0},
        {"neither mask, other fields", 0x2 | 0x8 | 0x10 | 0x80, 0, 0, 9, 1, 0, 0, 0},
        {"0x2 0x4 0x20", 0x2 | 0x4 | 0x20, 0x5, 0x3, 0, 0x5, 0x3, 88, 92},
        {"title of 5", 0x2 | 0x4 | 0x8 | 0x20, 0x30, 0x81, 5, 0x30, 0x81, 88, 99},
        {"title and 0x10", 0x2 | 0x4 | 0x8 | 0x10 | 0x20, 0xFFFF, 0x1, 5, 0xFFFF, 0x1, 88, 103},
        {"empty title", 0x4 | 0x8 | 0x20, 0x1, 0x2, 0, 0x1, 0x2, 80, 86},
        {"video only", 0x4, 0x9, 0, 0, 0x9, 0, 80, 0},
        {"audio only", 0x20, 0, 0x4, 0, 1, 0x4, 0, 80},
        {"zero video mask becomes 1", 0x4 | 0x20, 0, 0x1, 0, 1, 0x1, 80, 84},
        {"mask above 16 becomes 1", 0x4, 0x10000, 0, 0, 1, 0, 80, 0},
        {"0x20 wins over 0x40", 0x4 | 0x20 | 0x40 | 0x80, 0x3, 0x2, 0, 0x3, 0x2, 80, 84},
        {"0x40 alone is not looked at", 0x4 | 0x40, 0x3, 0, 0, 0x3, 0, 80, 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const AvcHeader h = avcHeader(r.flags, r.videoMask, r.audioByte, r.titleLen);
        EXPECT_EQ(h.videoMaskAt, r.videoAt);
        EXPECT_EQ(h.audioMaskAt, r.audioAt);
        const RecorderFileProbe p = probe(RecorderFileKind::AVC, h.bytes);
        EXPECT_EQ(p.videoMask, r.expectVideo);
        EXPECT_EQ(p.audioMask, r.expectAudio);
        if (r.flags == 0) {
            // Single view of channel 1, no audio channel, an empty audio menu.
            const ChannelLayout l = checkTotalChannelsAndSetVideoViewCut(p, 16);
            EXPECT_EQ(l.videoPaneCutState, 0);
            EXPECT_EQ(l.iCurrentSelectedVideoCH, 1);
            EXPECT_EQ(l.iCurrentSelectedAudioCH, 0);
            EXPECT_TRUE(l.audioChannels.empty());
            EXPECT_TRUE(l.refillAudioMenu);
        }
    }
}

TEST(RecorderFileProbe, Dv4Sniff) {
    const Bytes mpeg4 = {0x00, 0x00, 0x01, 0xB2}, h264 = {0x00, 0x00, 0x00, 0x01};
    auto at = [](size_t size, std::vector<std::pair<size_t, Bytes>> codes) {
        Bytes b(size, 0x11);
        for (auto &c : codes)
            std::copy(c.second.begin(), c.second.end(), b.begin() + static_cast<long>(c.first));
        return b;
    };
    const struct {
        const char *name;
        Bytes bytes;
        bool found;
        int codec, vdoFmtIdx;
    } rows[] = {
        {"MPEG-4 first", at(2000, {{10, mpeg4}, {40, h264}}), true, 1, 1},
        {"H.264 first", at(2000, {{10, h264}, {40, mpeg4}}), true, 0, 0},
        {"no start code: H.264", at(2000, {}), false, 0, 0},
        {"empty file: H.264", {}, false, 0, 0},
        {"start code ends at 1024", at(2000, {{1020, mpeg4}}), true, 1, 1},
        {"start code past 1024", at(2000, {{1021, mpeg4}}), false, 0, 0},
        {"start code past the file", at(1022, {{1020, Bytes{0, 0}}}), false, 0, 0},
        {"00 00 00 01 B2 is H.264", at(100, {{5, Bytes{0, 0, 0, 1, 0xB2}}}), true, 0, 0},
        {"00 00 00 00 01 B2 is H.264", at(100, {{3, Bytes{0, 0, 0, 0, 1, 0xB2}}}), true, 0, 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const RecorderFileProbe p = probe(RecorderFileKind::DV4, r.bytes);
        EXPECT_EQ(p.dv4StartCodeFound, r.found);
        EXPECT_EQ(p.dvFmtVideoCodec, r.codec);
        EXPECT_EQ(p.vdoFmtIdx, r.vdoFmtIdx);
        // DV4 files are never laid out from their bytes: single view of channel 1, default
        // titles, the audio menu left as it is.
        const ChannelLayout l = checkTotalChannelsAndSetVideoViewCut(p, 3);
        EXPECT_EQ(l.videoPaneCutState, 0);
        EXPECT_EQ(l.iCurrentSelectedVideoCH, 1);
        EXPECT_EQ(l.iCurrentSelectedAudioCH, 0);
        EXPECT_TRUE(l.setDefaultChannelTitles);
        EXPECT_FALSE(l.refillAudioMenu);
        EXPECT_EQ(l.grid12StartIndex, 3);
    }
}

// Every prefix of a header: each field is read whole or not at all.
TEST(RecorderFileProbe, TruncatedHeaders) {
    const Bytes dv5 = dv5Header("700", 0x0F0F, 0x3);
    for (size_t n = 0; n <= dv5.size(); ++n) {
        SCOPED_TRACE(n);
        const RecorderFileProbe p = probeExact(RecorderFileKind::DV5, dv5, n);
        EXPECT_EQ(p.minorId, n >= 68 ? "700" : "");
        EXPECT_EQ(p.isDVRType700, n >= 68);
        EXPECT_EQ(p.videoMask, n >= 420 ? 0x0F0Fu : 1u);
        EXPECT_EQ(p.audioMask, n >= 424 ? 0x3u : 0u);
        checkTotalChannelsAndSetVideoViewCut(p, 16);
    }
    const AvcHeader avc = avcHeader(0x2 | 0x4 | 0x8 | 0x10 | 0x20 | 0x40 | 0x80, 0x0F0F, 0x3, 300);
    for (size_t n = 0; n <= avc.bytes.size(); ++n) {
        SCOPED_TRACE(n);
        const RecorderFileProbe p = probeExact(RecorderFileKind::AVC, avc.bytes, n);
        EXPECT_EQ(p.videoMask, n >= avc.videoMaskAt + 4 ? 0x0F0Fu : 1u);
        EXPECT_EQ(p.audioMask, n >= avc.audioMaskAt + 1 ? 0x3u : 0u);
        checkTotalChannelsAndSetVideoViewCut(p, 16);
    }
    Bytes dv4(1024, 0x22);
    std::memcpy(&dv4[1000], "\x00\x00\x01\xB2", 4);
    for (size_t n = 0; n <= dv4.size(); ++n)
        EXPECT_EQ(probeExact(RecorderFileKind::DV4, dv4, n).dv4StartCodeFound, n >= 1004) << n;
}

TEST(ChannelLayout, ConversionChoice) {
    const struct {
        const char *name;
        RecorderFileProbe probe;
        int result;
        bool designate, titles;
        int video, audio;
    } rows[] = {
        {"unknown kind", probeRecorderFileBytes(RecorderFileKind::Unknown, nullptr, 0), -1, false, false, 1,
         0},
        {"DV4", probeRecorderFileBytes(RecorderFileKind::DV4, nullptr, 0), 1, false, true, 1, 0},
        {"one channel", probe(RecorderFileKind::DV5, dv5Header("NVR", 0x20, 0x6)), 1, false, false, 6, 2},
        {"two channels", probe(RecorderFileKind::DV5, dv5Header("700", 0x21, 0x6)), 0, true, false, 1, 0},
        {"no channel: channel 1", probe(RecorderFileKind::DV5, dv5Header("NVR", 0, 0)), 1, false, false, 1,
         0},
        {"AVC without masks", probe(RecorderFileKind::AVC, avcHeader(0, 0, 0).bytes), 1, false, false, 1, 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const ConversionChannelChoice c = checkTotalChannelsForAVIConversion(r.probe);
        EXPECT_EQ(c.result, r.result);
        EXPECT_EQ(c.aviConversionDesignateChannel, r.designate);
        EXPECT_EQ(c.setDefaultChannelTitles, r.titles);
        EXPECT_EQ(c.iCurrentSelectedVideoCH, r.video);
        EXPECT_EQ(c.iCurrentSelectedAudioCH, r.audio);
        if (r.designate) {
            EXPECT_EQ(static_cast<uint32_t>(c.videoMask), r.probe.videoMask);
            EXPECT_EQ(static_cast<uint32_t>(c.audioMask), r.probe.audioMask);
        }
    }
}

// Paths: regular files are read; folders, FIFOs and devices are refused at once, never waited
// on; a missing file is one that cannot be opened.
TEST(RecorderFileProbe, PathKinds) {
    mkrec::TempDir dir;
    ASSERT_TRUE(dir.valid());
    writeFile(dir.file("a.dv5"), dv5Header("700", 0x3, 0x1));
    writeFile(dir.file("short.avc"), Bytes(10, 0));
    ASSERT_EQ(::mkdir(dir.file("folder.avc").c_str(), 0700), 0);
    ASSERT_EQ(::mkfifo(dir.file("fifo.dv5").c_str(), 0600), 0);
    const struct {
        std::string path;
        RecorderFileKind kind;
        RecorderProbeStatus status;
        uint32_t videoMask;
        bool refused;
    } rows[] = {
        {dir.file("a.dv5"), RecorderFileKind::DV5, RecorderProbeStatus::Read, 0x3, false},
        {dir.file("short.avc"), RecorderFileKind::AVC, RecorderProbeStatus::Read, 0x1, false},
        {dir.file("missing.avc"), RecorderFileKind::AVC, RecorderProbeStatus::CannotOpen, 0, false},
        {dir.file("folder.avc"), RecorderFileKind::AVC, RecorderProbeStatus::NotRegularFile, 0, true},
        {dir.file("fifo.dv5"), RecorderFileKind::DV5, RecorderProbeStatus::NotRegularFile, 0, true},
        {dir.file("fifo.dv5"), RecorderFileKind::DV4, RecorderProbeStatus::NotRegularFile, 0, true},
        {"/dev/null", RecorderFileKind::DV4, RecorderProbeStatus::NotRegularFile, 0, true},
        {"/dev/zero", RecorderFileKind::DV5, RecorderProbeStatus::NotRegularFile, 0, true},
        {dir.file("a.dv5"), RecorderFileKind::Unknown, RecorderProbeStatus::Read, 0, true},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.path);
        const RecorderFileProbe p = probeRecorderFile(r.path, r.kind);
        EXPECT_EQ(p.status, r.status);
        EXPECT_EQ(p.kind, r.kind);
        EXPECT_EQ(p.videoMask, r.videoMask);
        EXPECT_EQ(p.refused(), r.refused);
    }
}

// Recordings written by mkrec, probed from their paths, agree with mkrec's manifest.
TEST(RecorderFileProbe, GeneratedRecordings) {
    mkrec::TempDir dir;
    const struct {
        const char *name;
        std::vector<std::string> args;
        RecorderFileKind kind;
        bool dvr700;
        int codec;
    } rows[] = {
        {"a.avc",
         {"--kind", "avc", "--video-mask", "0x105", "--audio-mask", "0x6", "--title", "1=Door"},
         RecorderFileKind::AVC,
         false,
         0},
        {"b.AVC",
         {"--kind", "avc", "--video-mask", "0x8000", "--audio-mask", "0"},
         RecorderFileKind::AVC,
         false,
         0},
        {"c.dv5",
         {"--kind", "dv5-dvr700", "--video-mask", "0xf", "--audio-mask", "0x1"},
         RecorderFileKind::DV5,
         true,
         0},
        {"d.Dv5",
         {"--kind", "dv5-nvr", "--video-mask", "0xffff", "--audio-mask", "0x8001", "--minor-id", "7000"},
         RecorderFileKind::DV5,
         false,
         0},
        {"e.dv4", {"--kind", "dv4-mpeg4"}, RecorderFileKind::DV4, false, 1},
        {"f.DV4", {"--kind", "dv4-h264"}, RecorderFileKind::DV4, false, 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<std::string> args = r.args;
        args.insert(args.end(), {"--frames", "2"});
        const mkrec::Recording rec = mkrec::make(dir, r.name, args);
        ASSERT_TRUE(rec.ok()) << rec.output;
        const std::string ext = std::string(r.name).substr(2);
        ASSERT_EQ(recorderFileKindFromExtension(ext), r.kind);
        const RecorderFileProbe p = probeRecorderFile(rec.path, r.kind);
        EXPECT_EQ(p.status, RecorderProbeStatus::Read);
        EXPECT_EQ(p.isDVRType700, r.dvr700);
        if (r.kind == RecorderFileKind::DV4) {
            EXPECT_TRUE(p.dv4StartCodeFound);
            EXPECT_EQ(p.dvFmtVideoCodec, r.codec);
            continue;
        }
        EXPECT_EQ(p.videoMask, static_cast<uint32_t>(rec.manifest.num("video_mask")));
        EXPECT_EQ(p.audioMask, static_cast<uint32_t>(rec.manifest.num("audio_mask")));
        if (r.kind == RecorderFileKind::DV5) {
            EXPECT_EQ(p.minorId, rec.manifest.get("minor_id"));
        }
    }
}
