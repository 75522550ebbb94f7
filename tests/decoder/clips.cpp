#include "clips.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/md5.h>
}

#include "decoder/decoder_internal.h"

namespace cliptest {

int run(const std::string &cmd, std::string *out) {
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    const int status = pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ffmpeg(const std::string &args) {
    const int rc = run("ffmpeg -hide_banner -loglevel error -nostdin -y " + args);
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

std::vector<Bytes> readFrames(const std::string &path) {
    std::vector<Bytes> frames;
    AVFormatContext *fc = nullptr;
    if (avformat_open_input(&fc, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return frames;
    }
    AVPacket *pkt = av_packet_alloc();
    while (av_read_frame(fc, pkt) >= 0) {
        frames.emplace_back(pkt->data, pkt->data + pkt->size);
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fc);
    return frames;
}

// ffmpeg input arguments: a file path, or arguments already (starting with '-').
static std::string inputArgs(const std::string &input) {
    return input.rfind("-", 0) == 0 ? input : "-i '" + input + "'";
}

std::vector<std::string> frameMd5(const std::string &input, const std::string &filters) {
    std::string out;
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin " + inputArgs(input) +
                            " -fps_mode passthrough" + (filters.empty() ? "" : " -vf '" + filters + "'") +
                            " -f framemd5 -";
    EXPECT_EQ(run(cmd, &out), 0) << cmd;
    std::vector<std::string> md5s;
    std::istringstream lines(out);
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

std::vector<Bytes> rawFrames(const std::string &input, const std::string &filters, const std::string &pixFmt,
                             size_t frameBytes) {
    std::string out;
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin " + inputArgs(input) +
                            " -fps_mode passthrough" + (filters.empty() ? "" : " -vf '" + filters + "'") +
                            " -pix_fmt " + pixFmt + " -f rawvideo -";
    EXPECT_EQ(run(cmd, &out), 0) << cmd;
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

Bytes lastSourcePacked(const _Decoder *dec) {
    decoder_internal::SourceView v;
    if (!decoder_internal::lastSource(dec, &v)) return {};
    const AVPixelFormat fmt = static_cast<AVPixelFormat>(v.format);
    const int size = av_image_get_buffer_size(fmt, v.width, v.height, 1);
    if (size <= 0) return {};
    Bytes b(size);
    av_image_copy_to_buffer(b.data(), size, v.data, v.linesize, fmt, v.width, v.height, 1);
    return b;
}

Bytes readFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

bool writeFile(const std::string &path, const Bytes &data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(f);
}

Picture decode(_Decoder *dec, const Bytes &frame, int flags, int targetW, int targetH, size_t capacity) {
    Picture p;
    Bytes buf(capacity);
    p.result = Decoder_Decode(dec, frame.data(), static_cast<int>(frame.size()), targetW, targetH, flags,
                              &p.streamW, &p.streamH, buf.data(), buf.size(), &p.outW, &p.outH);
    if (p.result == 1) {
        buf.resize(static_cast<size_t>(p.outW) * p.outH * dec->bytesPerPixel);
        p.pixels = std::move(buf);
    }
    return p;
}

} // namespace cliptest
