#include "common/ffmpeg_clips.h"

#include <sstream>

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/md5.h>
}

#include "common/run_cmd.h"

namespace ffclips {

std::string inputArgs(const std::string &input) {
    return input.rfind("-", 0) == 0 ? input : "-i '" + input + "'";
}

bool ffmpeg(const std::string &args, std::string *out) {
    const int rc = testutil::runCommand("ffmpeg -hide_banner -loglevel error -nostdin -y " + args, out);
    EXPECT_EQ(rc, 0) << "ffmpeg " << args;
    return rc == 0;
}

bool makeClip(const std::string &path, int w, int h, int frames, const std::string &encoder,
              const std::string &extraFilters) {
    std::ostringstream a;
    a << "-f lavfi -i testsrc2=size=" << w << "x" << h << ":rate=25" << extraFilters << " -frames:v "
      << frames << " " << encoder << " '" << path << "'";
    return ffmpeg(a.str());
}

std::vector<Packet> readPackets(const std::string &path) {
    std::vector<Packet> packets;
    AVFormatContext *fc = nullptr;
    if (avformat_open_input(&fc, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return packets;
    }
    AVPacket *pkt = av_packet_alloc();
    while (av_read_frame(fc, pkt) >= 0) {
        packets.push_back({Bytes(pkt->data, pkt->data + pkt->size), (pkt->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fc);
    return packets;
}

std::string decode(const std::string &input, const std::string &filters, const std::string &output) {
    std::string out;
    ffmpeg(inputArgs(input) + " -fps_mode passthrough" + (filters.empty() ? "" : " -vf '" + filters + "'") +
               " " + output,
           &out);
    return out;
}

std::vector<std::string> frameMd5(const std::string &input, const std::string &filters) {
    std::istringstream lines(decode(input, filters, "-f framemd5 -"));
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

std::vector<Bytes> rawFrames(const std::string &input, const std::string &filters, size_t frameBytes,
                             const std::string &pixFmt) {
    const std::string out =
        decode(input, filters, (pixFmt.empty() ? "" : "-pix_fmt " + pixFmt + " ") + "-f rawvideo -");
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

} // namespace ffclips
