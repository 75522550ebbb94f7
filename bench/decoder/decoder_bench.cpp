// Decoder_Decode (RGBA out) against plain FFmpeg (send/receive, then sws_scale to RGBA) on the
// same stream, in the same run. Usage: decoder_bench [frames]
// Streams are made with the installed ffmpeg in a temporary folder.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "decoder/decoder.h"

namespace {

using Frames = std::vector<std::vector<uint8_t>>;
using Clock = std::chrono::steady_clock;

Frames readFrames(const std::string &path) {
    Frames frames;
    AVFormatContext *fc = nullptr;
    if (avformat_open_input(&fc, path.c_str(), nullptr, nullptr) < 0) return frames;
    AVPacket *pkt = av_packet_alloc();
    while (av_read_frame(fc, pkt) >= 0) {
        frames.emplace_back(pkt->data, pkt->data + pkt->size);
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fc);
    return frames;
}

// Seconds for one pass of ours over the frames; pictures counted.
double runOurs(const Frames &frames, int codec, int flags, std::vector<uint8_t> &out, int *pictures) {
    _Decoder dec{};
    if (Decoder_Init(&dec, codec, DECODER_FMT_RGBA) != 1) return -1;
    *pictures = 0;
    const auto t0 = Clock::now();
    for (const auto &f : frames)
        *pictures += Decoder_Decode(&dec, f.data(), static_cast<int>(f.size()), 0, 0, flags, nullptr, nullptr,
                                    out.data(), out.size(), nullptr, nullptr) == 1;
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    Decoder_Deinit(&dec);
    return s;
}

// The same work done directly with FFmpeg, set up the way a careful caller would.
double runPlain(const Frames &frames, AVCodecID id, std::vector<uint8_t> &out, int *pictures) {
    const AVCodec *codec = avcodec_find_decoder(id);
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ctx->thread_count = 2;
    ctx->thread_type = FF_THREAD_SLICE;
    if (avcodec_open2(ctx, codec, nullptr) < 0) return -1;
    AVFrame *frame = av_frame_alloc();
    AVPacket *pkt = av_packet_alloc();
    SwsContext *sws = nullptr;
    int w = 0, h = 0, fmt = -1;
    *pictures = 0;
    const auto t0 = Clock::now();
    for (const auto &f : frames) {
        av_new_packet(pkt, static_cast<int>(f.size()));
        std::copy(f.begin(), f.end(), pkt->data);
        if (avcodec_send_packet(ctx, pkt) < 0) continue;
        av_packet_unref(pkt);
        while (avcodec_receive_frame(ctx, frame) >= 0) {
            if (!sws || frame->width != w || frame->height != h || frame->format != fmt) {
                sws_freeContext(sws);
                w = frame->width;
                h = frame->height;
                fmt = frame->format;
                sws = sws_getContext(w, h, static_cast<AVPixelFormat>(fmt), w, h, AV_PIX_FMT_RGBA,
                                     SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
            }
            uint8_t *dst[4] = {out.data(), nullptr, nullptr, nullptr};
            int linesize[4] = {frame->width * 4, 0, 0, 0};
            sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, linesize);
            ++*pictures;
            av_frame_unref(frame);
        }
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    sws_freeContext(sws);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return s;
}

} // namespace

int main(int argc, char **argv) {
    const int nframes = argc > 1 ? std::max(10, atoi(argv[1])) : 120;
    char dir[] = "/tmp/decoder-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const struct {
        const char *name;
        int w, h;
        int codec;
        AVCodecID id;
        const char *encoder;
        const char *file;
    } cases[] = {
        {"H.264 1920x1080", 1920, 1080, DECODER_CODEC_H264, AV_CODEC_ID_H264,
         "-c:v libx264 -preset veryfast -bf 0 -pix_fmt yuv420p -f h264", "hd.h264"},
        {"H.264 704x576", 704, 576, DECODER_CODEC_H264, AV_CODEC_ID_H264,
         "-c:v libx264 -preset veryfast -bf 0 -pix_fmt yuv420p -f h264", "d1.h264"},
        {"MPEG-4 704x576", 704, 576, DECODER_CODEC_MPEG4, AV_CODEC_ID_MPEG4, "-c:v mpeg4 -q:v 4 -f m4v",
         "d1.m4v"},
        {"MJPEG 704x576", 704, 576, DECODER_CODEC_MJPEG, AV_CODEC_ID_MJPEG,
         "-c:v mjpeg -q:v 4 -pix_fmt yuvj420p", "d1.mjpeg"},
    };
    std::vector<uint8_t> out(1920 * 1080 * 4);
    printf("%-18s %10s %12s %12s %8s\n", "stream", "pictures", "ours ms/pic", "ffmpeg ms/pic", "ratio");
    for (const auto &c : cases) {
        const std::string path = std::string(dir) + "/" + c.file;
        const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=" +
                                std::to_string(c.w) + "x" + std::to_string(c.h) + ":rate=25 -frames:v " +
                                std::to_string(nframes) + " " + c.encoder + " '" + path + "'";
        if (system(cmd.c_str()) != 0) {
            fprintf(stderr, "cannot make %s\n", c.name);
            continue;
        }
        const Frames frames = readFrames(path);
        double ours = 1e9, plain = 1e9, flipped = 1e9;
        int pOurs = 0, pPlain = 0, pFlipped = 0;
        for (int rep = 0; rep < 5; ++rep) { // best of five, alternating
            ours = std::min(ours, runOurs(frames, c.codec, DECODER_FLAG_TOPDOWN, out, &pOurs));
            plain = std::min(plain, runPlain(frames, c.id, out, &pPlain));
            flipped = std::min(flipped, runOurs(frames, c.codec, DECODER_FLAG_ROTATE180, out, &pFlipped));
        }
        const double a = 1000 * ours / std::max(1, pOurs), b = 1000 * plain / std::max(1, pPlain);
        const double f = 1000 * flipped / std::max(1, pFlipped);
        printf("%-18s %10d %12.3f %12.3f %8.3f\n", c.name, pOurs, a, b, a / b);
        printf("%-18s %10d %12.3f %12.3f %8.3f   (turned by 180 degrees)\n", c.name, pFlipped, f, b, f / b);
        remove(path.c_str());
    }
    rmdir(dir);
    return 0;
}
