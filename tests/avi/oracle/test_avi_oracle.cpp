// FFmpeg reads what the builder wrote: real H.264, MPEG-4 Part 2 and Motion JPEG frames from
// the installed encoders go in, ffprobe/ffmpeg must find the same frames, key flags, PCM and
// subtitle entries in the AVI and ".srt" files.

#include "avi/avi_test_util.h"

#include <map>
#include <sstream>

extern "C" {
#include <libavformat/avformat.h>
}

using namespace avitest;

namespace {

struct Frame {
    std::vector<char> data;
    bool key;
};

struct Codec {
    const char *name; // our format index name
    int vdoFmtIdx;
    const char *ffArgs; // encoder and raw output format
    const char *file;
    const char *ffName; // codec name ffprobe reports
};

const Codec kCodecs[] = {
    {"H264", 0, "-c:v libx264 -g 12 -bf 0 -pix_fmt yuv420p -f h264", "v.h264", "h264"},
    {"MP4V", 1, "-c:v mpeg4 -g 12 -f m4v", "v.m4v", "mpeg4"},
    {"MJPG", 2, "-c:v mjpeg -f mjpeg", "v.mjpeg", "mjpeg"},
};

constexpr int kWidth = 176, kHeight = 144, kFrames = 75;

// Encodes a short test picture sequence and splits it into frames with libavformat.
std::vector<Frame> encode(const TempDir &dir, const Codec &c) {
    const std::string out = dir.file(c.file);
    int st = -1;
    run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=176x144:rate=30 -frames:v " +
            std::to_string(kFrames) + " " + c.ffArgs + " '" + out + "' 2>&1",
        &st);
    EXPECT_EQ(st, 0);
    std::vector<Frame> frames;
    AVFormatContext *fmt = nullptr;
    if (avformat_open_input(&fmt, out.c_str(), nullptr, nullptr) != 0) return frames;
    AVPacket *pkt = av_packet_alloc();
    while (av_read_frame(fmt, pkt) >= 0) {
        frames.push_back(
            {std::vector<char>(pkt->data, pkt->data + pkt->size), (pkt->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    EXPECT_EQ(frames.size(), size_t(kFrames));
    return frames;
}

// The (size, MD5) column of ffmpeg's framemd5 for the video of a file, copied without decoding.
std::vector<std::string> videoHashes(const std::string &file, std::vector<long> *pts = nullptr) {
    std::vector<std::string> out;
    for (const std::string &l : lines(
             run("ffmpeg -nostdin -v error -i '" + file + "' -map 0:v -c copy -f framemd5 - 2>/dev/null"))) {
        if (l.empty() || l[0] == '#') continue;
        std::vector<std::string> f;
        std::stringstream ss(l);
        std::string x;
        while (std::getline(ss, x, ','))
            f.push_back(x);
        if (f.size() < 6) continue;
        out.push_back(f[4] + f[5]);
        if (pts) pts->push_back(std::stol(f[2]));
    }
    return out;
}

std::map<std::string, std::string> probe(const std::string &file, const char *stream, const char *entries) {
    std::map<std::string, std::string> m;
    for (const std::string &l :
         lines(run(std::string("ffprobe -v error -count_packets -select_streams ") + stream +
                   " -show_entries " + entries + " -of default=noprint_wrappers=1 '" + file + "'"))) {
        size_t eq = l.find('=');
        if (eq != std::string::npos) m[l.substr(0, eq)] = l.substr(eq + 1);
    }
    return m;
}

// Key flags of the video stream's index entries as libavformat reads them from "idx1" (its
// packet flags come from the stream parsers instead).
std::vector<bool> indexKeyFlags(const std::string &file) {
    std::vector<bool> keys;
    AVFormatContext *fmt = nullptr;
    if (avformat_open_input(&fmt, file.c_str(), nullptr, nullptr) != 0) return keys;
    for (unsigned s = 0; s < fmt->nb_streams; ++s) {
        AVStream *st = fmt->streams[s];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        for (int i = 0; i < avformat_index_get_entries_count(st); ++i)
            keys.push_back((avformat_index_get_entry(st, i)->flags & AVINDEX_KEYFRAME) != 0);
    }
    avformat_close_input(&fmt);
    return keys;
}

std::string decodeClean(const std::string &file) {
    int st = -1;
    std::string err = run("ffmpeg -nostdin -v error -xerror -i '" + file + "' -f null - 2>&1", &st);
    return st == 0 ? err : "exit " + std::to_string(st) + ": " + err;
}

// The time of frame i of a recording that starts at 2024-02-29 23:59:58, 30 frames a second.
_SYSTEMTIME frameTime(int i) {
    int s = 58 + i / 30;
    return s < 60 ? recorderTime(2024, 2, 29, 23, 59, s) : recorderTime(2024, 3, 1, 0, 0, s - 60);
}

struct Encoded {
    TempDir dir;
    std::vector<Frame> frames[3];
    Encoded() {
        for (int i = 0; i < 3; ++i)
            frames[i] = encode(dir, kCodecs[i]);
    }
};

Encoded &encoded() {
    static Encoded e;
    return e;
}

} // namespace

// 0 no audio, else the enAudioFormat of the PCM fed in.
class AviOracle : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(AviOracle, FfmpegReadsFramesKeysAndAudio) {
    const Codec &c = kCodecs[std::get<0>(GetParam())];
    const int audio = std::get<1>(GetParam());
    const std::vector<Frame> &frames = encoded().frames[std::get<0>(GetParam())];
    ASSERT_FALSE(frames.empty());
    TempDir dir;
    const std::string path = dir.file("out.avi");
    ANAVIFrameBuilder b;
    b.setVdoFmtIdx(c.vdoFmtIdx);
    ASSERT_EQ(b.startRecordingToFile(path), AviResult::Ok);

    // PCM packets of varying, partly odd (8-bit) lengths; the first comes before any video.
    std::vector<char> expectedPcm;
    unsigned counter = 0;
    auto feedAudio = [&](bool stored) {
        size_t n = audio == enAudioFormat_PCM ? 260 + counter % 13 : 2 * (260 + counter % 13);
        std::vector<char> pcm(n);
        for (char &s : pcm)
            s = char((counter++ * 2654435761u) >> 24);
        b.audioDataWrappingForAVIConversion(pcm.data(), int(n), 1, audio);
        if (stored) expectedPcm.insert(expectedPcm.end(), pcm.begin(), pcm.end());
    };
    if (audio) feedAudio(false);
    for (int i = 0; i < int(frames.size()); ++i) {
        b.videoDataWrappingForAVIConversion(frames[i].data.data(), int(frames[i].data.size()), kWidth,
                                            kHeight, frames[i].key, i == 0 ? 0 : 33333, frameTime(i), 0);
        if (audio) feedAudio(true);
    }
    ASSERT_EQ(b.stopRecording(audio != 0), AviResult::Ok);

    auto v = probe(path, "v:0", "stream=codec_name,codec_tag_string,r_frame_rate,nb_frames,width,height");
    EXPECT_EQ(v["codec_name"], c.ffName);
    EXPECT_EQ(v["codec_tag_string"], c.name);
    EXPECT_EQ(v["r_frame_rate"], "30/1");
    EXPECT_EQ(v["nb_frames"], std::to_string(frames.size()));
    EXPECT_EQ(v["width"], std::to_string(kWidth));
    EXPECT_EQ(v["height"], std::to_string(kHeight));

    std::vector<std::string> want = videoHashes(encoded().dir.file(c.file));
    ASSERT_EQ(want.size(), frames.size());
    EXPECT_EQ(videoHashes(path), want);

    std::vector<bool> keys = indexKeyFlags(path);
    ASSERT_EQ(keys.size(), frames.size());
    for (size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(keys[i], frames[i].key) << "frame " << i;

    EXPECT_EQ(decodeClean(path), "");

    if (audio) {
        auto a = probe(path, "a:0", "stream=codec_name,sample_rate,channels");
        EXPECT_EQ(a["codec_name"], audio == enAudioFormat_PCM ? "pcm_u8" : "pcm_s16le");
        EXPECT_EQ(a["sample_rate"], "8000");
        EXPECT_EQ(a["channels"], "1");
        std::string pcm = run("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a -f " +
                              (audio == enAudioFormat_PCM ? "u8" : "s16le") + " - 2>/dev/null");
        EXPECT_EQ(pcm.size(), expectedPcm.size());
        EXPECT_TRUE(pcm == std::string(expectedPcm.begin(), expectedPcm.end())) << "decoded PCM differs";
    } else {
        EXPECT_EQ(
            run("ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 '" + path + "'"),
            "");
    }
}

static std::string caseName(const ::testing::TestParamInfo<std::tuple<int, int>> &info) {
    static const char *const audioNames[] = {"NoAudio", "", "Pcm8", "Pcm16"};
    return std::string(kCodecs[std::get<0>(info.param)].name) + audioNames[std::get<1>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(CodecsAndAudio, AviOracle,
                         ::testing::Combine(::testing::Values(0, 1, 2),
                                            ::testing::Values(0, int(enAudioFormat_PCM),
                                                              int(enAudioFormat_PCM16))),
                         caseName);

TEST(AviOracleSubtitles, SubripEntryPerRecorderSecond) {
    const std::vector<Frame> &frames = encoded().frames[0];
    TempDir dir;
    const std::string path = dir.file("out.avi");
    ANAVIFrameBuilder b;
    ASSERT_EQ(b.startRecordingToFile(path), AviResult::Ok);
    for (int i = 0; i < int(frames.size()); ++i)
        b.videoDataWrappingForAVIConversion(frames[i].data.data(), int(frames[i].data.size()), kWidth,
                                            kHeight, frames[i].key, 33333, frameTime(i), 4);
    ASSERT_EQ(b.stopRecording(false), AviResult::Ok);

    const std::string srt = path + ".srt";
    EXPECT_EQ(probe(srt, "s:0", "format=format_name")["format_name"], "srt");
    EXPECT_EQ(run("ffprobe -v error -show_entries packet=pts_time,duration_time -of csv=p=0 '" + srt + "'"),
              "0.000000,1.000000\n1.000000,1.000000\n2.000000,1.000000\n");
    // FFmpeg's own subrip writer, fed from its reader, gives the entries back.
    EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + srt + "' -f srt - 2>&1"),
              "1\n00:00:00,000 --> 00:00:01,000\n2024/02/29 23:59:58 CH5\n\n"
              "2\n00:00:01,000 --> 00:00:02,000\n2024/02/29 23:59:59 CH5\n\n"
              "3\n00:00:02,000 --> 00:00:03,000\n2024/03/01 00:00:00 CH5\n\n");
}

TEST(AviOracleGaps, EmptyChunksShowAsGaps) {
    const std::vector<Frame> &frames = encoded().frames[0];
    TempDir dir;
    const std::string path = dir.file("out.avi");
    ANAVIFrameBuilder b;
    ASSERT_EQ(b.startRecordingToFile(path), AviResult::Ok);
    // 31 frames 66,000 us apart: each of the 11 windows of 1/6 s that close holds 2 or 3 of them
    // and is filled up to 5 with empty chunks, 27 in all.
    for (int i = 0; i < 31; ++i)
        b.videoDataWrappingForAVIConversion(frames[i].data.data(), int(frames[i].data.size()), kWidth,
                                            kHeight, frames[i].key, i == 0 ? 0 : 66000, frameTime(i), 0);
    ASSERT_EQ(b.stopRecording(false), AviResult::Ok);

    EXPECT_EQ(probe(path, "v:0", "stream=nb_frames")["nb_frames"], "58");
    std::vector<long> pts;
    std::vector<std::string> got = videoHashes(path, &pts);
    std::vector<std::string> want = videoHashes(encoded().dir.file(kCodecs[0].file));
    want.resize(31);
    EXPECT_EQ(got, want);
    ASSERT_EQ(pts.size(), 31u);
    // Positions of the frames among all 58 chunks: frames 1-4 at 0-3, frames 5-7 at 6-8, ...
    EXPECT_EQ(std::vector<long>(pts.begin(), pts.begin() + 8), (std::vector<long>{0, 1, 2, 3, 6, 7, 8, 11}));
    EXPECT_EQ(pts.back(), 57); // the last frame is the last chunk: its window is still open
    EXPECT_EQ(decodeClean(path), "");
}

TEST(AviOracleLimit, FileAtTheSizeLimitPlays) {
    const std::vector<Frame> &frames = encoded().frames[0];
    TempDir dir;
    const std::string path = dir.file("out.avi");
    ANAVIFrameBuilder b;
    b.setMaxRiffSize(8000);
    ASSERT_EQ(b.startRecordingToFile(path), AviResult::Ok);
    for (int i = 0; i < int(frames.size()); ++i) {
        b.videoDataWrappingForAVIConversion(frames[i].data.data(), int(frames[i].data.size()), kWidth,
                                            kHeight, frames[i].key, 33333, frameTime(i), 0);
        std::vector<char> pcm(534, char(i));
        b.audioDataWrappingForAVIConversion(pcm.data(), 534, 1, enAudioFormat_PCM16);
    }
    ASSERT_EQ(b.stopRecording(true), AviResult::SizeLimitReached);
    std::vector<uint8_t> f = readFile(path);
    EXPECT_LE(f.size(), 8008u);
    walk(f);
    std::vector<std::string> got = videoHashes(path);
    std::vector<std::string> want = videoHashes(encoded().dir.file(kCodecs[0].file));
    ASSERT_GT(got.size(), 1u);
    ASSERT_LT(got.size(), want.size());
    want.resize(got.size());
    EXPECT_EQ(got, want);
    EXPECT_EQ(decodeClean(path), "");
}
