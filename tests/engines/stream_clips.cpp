#include "stream_clips.h"

#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/md5.h>
}

#include "common/run_cmd.h"

namespace enginetest {

const char *const kRgbaFilter = "scale=w=iw:h=ih:flags=fast_bilinear,format=rgba";

std::string x264Args(int gop) {
    return "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -bf 0 -g " + std::to_string(gop) +
           " -keyint_min " + std::to_string(gop) + " -sc_threshold 0 -f h264";
}

std::string mpeg4Args(int gop) {
    return "-c:v mpeg4 -flags +bitexact -qscale:v 4 -pix_fmt yuv420p -bf 0 -g " + std::to_string(gop) +
           " -f m4v";
}

bool makeClip(const std::string &path, int w, int h, int frames, const std::string &encoder) {
    std::ostringstream cmd;
    cmd << "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=" << w << "x" << h
        << ":rate=25 -frames:v " << frames << " " << encoder << " '" << path << "'";
    const int rc = testutil::runCommand(cmd.str());
    EXPECT_EQ(rc, 0) << cmd.str();
    return rc == 0;
}

std::vector<Frame> readFrames(const std::string &path) {
    std::vector<Frame> frames;
    AVFormatContext *fc = nullptr;
    if (avformat_open_input(&fc, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return frames;
    }
    AVPacket *pkt = av_packet_alloc();
    while (av_read_frame(fc, pkt) >= 0) {
        frames.push_back({Bytes(pkt->data, pkt->data + pkt->size), (pkt->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fc);
    return frames;
}

static std::string ffmpegDecode(const std::string &input, const std::string &filters,
                                const std::string &tail) {
    std::string out;
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin -i '" + input +
                            "' -fps_mode passthrough" + (filters.empty() ? "" : " -vf '" + filters + "'") +
                            " " + tail;
    EXPECT_EQ(testutil::runCommand(cmd, &out), 0) << cmd;
    return out;
}

std::vector<std::string> frameMd5(const std::string &input, const std::string &filters) {
    std::istringstream lines(ffmpegDecode(input, filters, "-f framemd5 -"));
    std::vector<std::string> md5s;
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t comma = line.rfind(',');
        if (comma == std::string::npos) continue;
        size_t start = comma + 1;
        while (start < line.size() && line[start] == ' ')
            ++start;
        md5s.push_back(line.substr(start));
    }
    return md5s;
}

std::vector<Bytes> rawFrames(const std::string &input, const std::string &filters, size_t frameBytes) {
    const std::string out = ffmpegDecode(input, filters, "-f rawvideo -");
    std::vector<Bytes> frames;
    for (size_t off = 0; frameBytes && off + frameBytes <= out.size(); off += frameBytes)
        frames.emplace_back(out.begin() + off, out.begin() + off + frameBytes);
    return frames;
}

std::string md5(const uint8_t *p, size_t n) {
    uint8_t sum[16];
    av_md5_sum(sum, p, static_cast<int>(n));
    static const char hex[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : sum) {
        s += hex[b >> 4];
        s += hex[b & 15];
    }
    return s;
}

static void putU32(uint8_t *at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::unique_ptr<DV4VideoStreamH264> dv4H264Record(const Bytes &payload, uint32_t seconds, uint32_t micro,
                                                  uint8_t fieldFlag) {
    auto r = std::make_unique<DV4VideoStreamH264>();
    static const uint8_t start[5] = {0, 0, 0, 1, 0x1F};
    std::memcpy(r->header, start, 5);
    r->header[8] = fieldFlag;
    putU32(r->header + 12, seconds);
    putU32(r->header + 16, micro);
    r->len = static_cast<uint32_t>(payload.size());
    std::memcpy(r->data, payload.data(), payload.size());
    return r;
}

std::unique_ptr<DV4VideoStreamMPEG4> dv4Mpeg4Record(const Bytes &payload, uint32_t seconds, uint32_t micro) {
    auto r = std::make_unique<DV4VideoStreamMPEG4>();
    r->seconds = seconds;
    r->microseconds = micro;
    r->len = static_cast<uint32_t>(payload.size());
    std::memcpy(r->data, payload.data(), payload.size());
    return r;
}

std::unique_ptr<DV5VideoStreamH264> dv5NvrRecord(const Bytes &payload, uint8_t channel, uint32_t dateSeconds,
                                                 uint32_t seconds, uint32_t micro, uint8_t fieldFlag) {
    auto r = std::make_unique<DV5VideoStreamH264>();
    static const uint8_t start[5] = {0, 0, 0, 1, 0x1F};
    std::memcpy(r->header, start, 5);
    r->header[8] = fieldFlag;
    putU32(r->header + 12, dateSeconds);
    putU32(r->header + 20, seconds);
    putU32(r->header + 24, micro);
    putU32(r->header + 32, static_cast<uint32_t>(payload.size()));
    r->header[40] = channel;
    std::memcpy(r->streamBuf, payload.data(), payload.size());
    return r;
}

std::unique_ptr<DV5DVRVideoStreamH264> dv5DvrRecord(const Bytes &payload, uint8_t channel, uint32_t seconds,
                                                    uint32_t micro, uint8_t fieldFlag) {
    auto r = std::make_unique<DV5DVRVideoStreamH264>();
    static const uint8_t start[5] = {0, 0, 0, 1, 0x1F};
    std::memcpy(r->header, start, 5);
    r->header[8] = fieldFlag;
    putU32(r->header + 12, seconds);
    putU32(r->header + 16, micro);
    putU32(r->header + 20, static_cast<uint32_t>(payload.size()));
    r->header[28] = channel;
    std::memcpy(r->streamBuf, payload.data(), payload.size());
    return r;
}

} // namespace enginetest
