// Frame records cut from generated DV4 and DV5 recordings, as a parser fills them, go through
// the hand-offs: every channel's pictures equal ffmpeg's decode of that channel's stream, the
// pacing intervals equal the recording's time-stamp steps, and audio payloads arrive intact.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>

#include "common/mkrec_fixture.h"
#include "engines/dv_format_playback.h"
#include "engines/headless_delegate.h"
#include "engines/stream_clips.h"

using namespace enginetest;

namespace {

struct Kind {
    const char *kind;
    DVVideoSelector video;
    DVAudioSelector audio;
    int codec;
    const char *videoMask;
    const char *extra; // further mkrec options
    const char *ext;   // elementary stream file extension
};

const Kind kKinds[] = {
    {"dv4-h264", DVVideoSelector::DV4H264, DVAudioSelector::DV4H264, DECODER_CODEC_H264, "0x1", "", "h264"},
    {"dv4-mpeg4", DVVideoSelector::DV4MPEG4, DVAudioSelector::DV4MPEG4, DECODER_CODEC_MPEG4, "0x1", "",
     "m4v"},
    {"dv5-nvr", DVVideoSelector::DV5NVR, DVAudioSelector::DV5NVR, DECODER_CODEC_H264, "0x29",
     "--ext-every 2 --ext-len 8", "h264"},
    {"dv5-dvr700", DVVideoSelector::DV5DVR, DVAudioSelector::DV5DVR, DECODER_CODEC_H264, "0x8003",
     "--fields stacked", "h264"},
};

Bytes slice(const Bytes &file, uint64_t at, uint64_t n) {
    return Bytes(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + n));
}

// The record a parser hands off for one unit: header bytes (or the parts the layout keeps)
// followed by the payload.
Bytes videoRecord(const Kind &k, const Bytes &file, const mkrec::Unit &u) {
    const Bytes payload = slice(file, u.payloadOffset, u.payloadLen);
    Bytes rec;
    auto u32 = [](uint32_t v) {
        return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    };
    switch (k.video) {
    case DVVideoSelector::DV4H264: {
        rec = slice(file, u.offset, 20);
        const Bytes len = u32(static_cast<uint32_t>(u.payloadLen));
        rec.insert(rec.end(), len.begin(), len.end());
        break;
    }
    case DVVideoSelector::DV4MPEG4: {
        rec = slice(file, u.offset + 6, 8);
        const Bytes len = u32(static_cast<uint32_t>(u.payloadLen));
        rec.insert(rec.end(), len.begin(), len.end());
        break;
    }
    case DVVideoSelector::DV5NVR:
        rec = slice(file, u.offset, 41); // the extension block is not part of the record
        break;
    case DVVideoSelector::DV5DVR:
        rec = slice(file, u.offset, 29);
        break;
    }
    rec.insert(rec.end(), payload.begin(), payload.end());
    return rec;
}

Bytes audioRecord(const Kind &k, const Bytes &file, const mkrec::Unit &u) {
    const Bytes payload = slice(file, u.payloadOffset, u.payloadLen);
    Bytes rec;
    const uint32_t len = static_cast<uint32_t>(u.payloadLen);
    switch (k.audio) {
    case DVAudioSelector::DV4H264:
        rec = slice(file, u.offset, 20);
        std::memcpy(rec.data() + 8, &len, 4);
        break;
    case DVAudioSelector::DV4MPEG4:
        rec = slice(file, u.offset + 6, 12);
        rec.resize(16);
        std::memcpy(rec.data() + 12, &len, 4);
        break;
    case DVAudioSelector::DV5NVR:
        rec = slice(file, u.offset, 43);
        break;
    case DVAudioSelector::DV5DVR:
        rec = slice(file, u.offset, 21);
        break;
    }
    rec.insert(rec.end(), payload.begin(), payload.end());
    return rec;
}

class DVRecordings : public ::testing::TestWithParam<Kind> {};

} // namespace

TEST_P(DVRecordings, RecordsPlayThroughTheHandOffs) {
    const Kind &k = GetParam();
    const bool stacked = std::string(k.extra).find("stacked") != std::string::npos;
    dvFmtResetControlFlags();
    gDVFmtPlaybackSpeed = 4; // pacing at 16x keeps the test short
    mkrec::TempDir dir;
    std::vector<std::string> args{"--kind",  k.kind,  "--frames",     "12",          "--gop",        "4",
                                  "--size",  "96x64", "--video-mask", k.videoMask,   "--audio-mask", "0x1",
                                  "--audio", "g723",  "--es-dir",     dir.file("es")};
    std::istringstream extra(k.extra);
    for (std::string word; extra >> word;)
        args.push_back(word);
    const mkrec::Recording rec = mkrec::make(dir, "r.rec", args);
    ASSERT_TRUE(rec.ok()) << rec.output;
    const Bytes file = mkrec::readFile(rec.path);

    HeadlessDelegate delegate;
    QueuePoster poster;
    DVFormatPlayback engine;
    engine.setAppDelg(&delegate);
    engine.setMainThreadPoster(&poster);
    ASSERT_TRUE(engine.createDVFmtVideoPlaybackThread());
    ASSERT_TRUE(engine.createDVFmtAudioPlaybackThread());
    engine.audioCodec[0] = enAudioFormat_G723;

    std::map<int, std::vector<const mkrec::Unit *>> videoUnits;
    std::vector<const mkrec::Unit *> audioUnits;
    for (const mkrec::Unit &u : rec.manifest.units) {
        if (u.video) {
            if (!engine.hasVideoDecoder(u.channel)) {
                ASSERT_TRUE(engine.initVideoDecoderWithThreadIndex(u.channel, k.codec));
            }
            const Bytes r = videoRecord(k, file, u);
            ASSERT_EQ(dvVideoRecordChannel(k.video, r.data()), u.channel);
            engine.isIFrame = u.key;
            ASSERT_TRUE(engine.handOffVideoFrame(k.video, r.data()));
            videoUnits[u.channel].push_back(&u);
        } else if (u.channel == 0) {
            ASSERT_TRUE(engine.handOffAudioFrame(k.audio, audioRecord(k, file, u).data()));
            audioUnits.push_back(&u);
        }
    }
    engine.cancelAllThreads();
    dvFmtResetControlFlags();

    std::map<unsigned, std::vector<VideoEvent>> byChannel;
    for (const VideoEvent &e : delegate.videoEvents())
        byChannel[e.channel].push_back(e);
    ASSERT_EQ(byChannel.size(), videoUnits.size());
    for (const auto &[ch, units] : videoUnits) {
        const auto &events = byChannel[static_cast<unsigned>(ch)];
        ASSERT_EQ(events.size(), units.size()) << "channel " << ch;
        const std::string es = dir.file("es") + "/video-ch" + std::to_string(ch) + "." + k.ext;
        std::vector<std::string> ref;
        if (stacked) {
            // Two fields one above the other are woven: top half to the even lines.
            const int w = 96, h = 64;
            const size_t row = w * 4;
            for (const Bytes &f : rawFrames(es, kRgbaFilter, row * h)) {
                Bytes woven(row * h);
                for (int y = 0; y < h; ++y) {
                    const int line = y < h / 2 ? 2 * y : 2 * (y - h / 2) + 1;
                    std::copy_n(f.begin() + y * row, row, woven.begin() + line * row);
                }
                ref.push_back(md5(woven.data(), woven.size()));
            }
        } else {
            ref = frameMd5(es, kRgbaFilter);
        }
        ASSERT_EQ(ref.size(), units.size()) << "channel " << ch;
        for (size_t i = 0; i < units.size(); ++i) {
            EXPECT_EQ(md5(events[i].image->pixels(), events[i].image->byteCount()), ref[i])
                << "channel " << ch << " frame " << i;
            EXPECT_EQ(events[i].isIFrame, units[i]->key);
            EXPECT_EQ(mkrec::md5Hex(events[i].frame), units[i]->md5);
            const uint64_t step = i == 0 ? 0 : static_cast<uint64_t>(units[i]->tUs - units[i - 1]->tUs);
            EXPECT_EQ(events[i].interval, step) << "channel " << ch << " frame " << i;
        }
    }
    const size_t videoDelivered = delegate.videoCount();
    std::lock_guard<std::mutex> lock(delegate.mutex);
    ASSERT_EQ(delegate.audio.size(), audioUnits.size());
    for (size_t i = 0; i < audioUnits.size(); ++i) {
        EXPECT_EQ(mkrec::md5Hex(delegate.audio[i].payload), audioUnits[i]->md5) << "packet " << i;
        EXPECT_EQ(delegate.audio[i].format, enAudioFormat_G723);
        EXPECT_EQ(delegate.audio[i].channel, 0u);
    }
    // Field-coded frames enable the deinterlace button; the others disable it; MPEG-4 leaves it.
    if (k.video == DVVideoSelector::DV4MPEG4) {
        EXPECT_TRUE(delegate.deinterlaceButton.empty());
    } else {
        const long enabled =
            std::count(delegate.deinterlaceButton.begin(), delegate.deinterlaceButton.end(), true);
        EXPECT_EQ(delegate.deinterlaceButton.size(), videoDelivered);
        EXPECT_EQ(enabled, stacked ? static_cast<long>(delegate.deinterlaceButton.size()) : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DVRecordings, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind> &info) {
                             std::string n = info.param.kind;
                             for (char &c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });
