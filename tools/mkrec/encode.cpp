// Encodes the synthetic pictures and tones of every channel with FFmpeg's encoders.
// Each channel has its own encoder running single-threaded, so the output does not depend
// on the machine's core count; channels are spread over a small worker pool instead.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include "mkrec.h"

namespace mkrec {
namespace {

std::string averr(int e) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(e, buf, sizeof buf);
    return buf;
}

struct CodecCtx {
    AVCodecContext *c = nullptr;
    ~CodecCtx() { avcodec_free_context(&c); }
};
struct FramePtr {
    AVFrame *f = av_frame_alloc();
    ~FramePtr() { av_frame_free(&f); }
};
struct PacketPtr {
    AVPacket *p = av_packet_alloc();
    ~PacketPtr() { av_packet_free(&p); }
};

// With --key-stagger every key frame is asked for by the frame's picture type; the encoder's
// own interval must then never come round.
constexpr int kNoOwnKeyFrames = 1 << 20;

std::string openVideo(const Options &o, VCodec vc, int gop, int w, int h, CodecCtx &cc) {
    const char *name = vc == VCodec::H264 ? "libx264" : vc == VCodec::Mpeg4 ? "mpeg4" : "mjpeg";
    const AVCodec *codec = avcodec_find_encoder_by_name(name);
    if (!codec) return std::string("encoder not available: ") + name;
    cc.c = avcodec_alloc_context3(codec);
    AVCodecContext *c = cc.c;
    c->width = w;
    c->height = h;
    c->time_base = AVRational{1, o.fps};
    c->framerate = AVRational{o.fps, 1};
    c->thread_count = 1;
    c->max_b_frames = 0;
    const bool forced = o.keyStaggerMs >= 0;
    c->gop_size = vc == VCodec::Mjpeg ? 1 : forced ? kNoOwnKeyFrames : gop;
    c->pix_fmt = vc == VCodec::Mjpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    c->flags |= AV_CODEC_FLAG_BITEXACT;
    if (vc == VCodec::H264) {
        // keyint_min also bounds how soon x264 turns a forced I picture into an IDR; a staggered
        // channel's first interval is shorter than the GOP.
        c->keyint_min = forced ? 1 : gop;
        av_opt_set(c->priv_data, "preset", o.preset.c_str(), 0);
        std::string params = "scenecut=0:bframes=0:weightp=0:sliced-threads=0";
        if (o.fields == Fields::Split) params += ":cabac=0:ref=1";
        av_opt_set(c->priv_data, "x264-params", params.c_str(), 0);
        if (o.qp >= 0) av_opt_set_int(c->priv_data, "qp", o.qp, 0);
        if (o.bitrateKbps > 0) {
            c->bit_rate = static_cast<int64_t>(o.bitrateKbps) * 1000;
            c->rc_max_rate = c->bit_rate;
            c->rc_buffer_size = static_cast<int>(c->bit_rate);
        }
    } else {
        // A fixed quantiser: no rate control state, and no user data (bit-exact mode).
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * o.qscale;
    }
    int r = avcodec_open2(c, codec, nullptr);
    if (r < 0) return std::string("cannot open ") + name + ": " + averr(r);
    return "";
}

std::string drainVideo(AVCodecContext *c, AVPacket *pkt, std::vector<Packet> &out) {
    for (;;) {
        int r = avcodec_receive_packet(c, pkt);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return "";
        if (r < 0) return "encoding failed: " + averr(r);
        Packet p;
        p.data.assign(pkt->data, pkt->data + pkt->size);
        p.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
        p.frame = static_cast<int>(out.size());
        out.push_back(std::move(p));
        av_packet_unref(pkt);
    }
}

// Splits an Annex B access unit at its start codes: [offset of the start code, NAL type].
std::vector<std::pair<size_t, int>> nalStarts(const std::vector<uint8_t> &d) {
    std::vector<std::pair<size_t, int>> v;
    for (size_t i = 0; i + 3 < d.size(); ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            size_t s = (i > 0 && d[i - 1] == 0) ? i - 1 : i;
            v.push_back({s, d[i + 3] & 0x1F});
            i += 2;
        }
    }
    return v;
}

// Every NAL unit gets a four-byte start code: the recorders' parsers look for 00 00 00 01.
std::vector<uint8_t> longStartCodes(const std::vector<uint8_t> &d) {
    std::vector<uint8_t> o;
    o.reserve(d.size() + 16);
    size_t i = 0;
    while (i < d.size()) {
        if (i + 2 < d.size() && d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && (i == 0 || d[i - 1] != 0)) {
            o.push_back(0);
            o.push_back(0);
            o.push_back(0);
            o.push_back(1);
            i += 3;
            continue;
        }
        o.push_back(d[i++]);
    }
    return o;
}

std::string encodeVideo(const Options &o, int frames, ChannelStream &s) {
    const bool split = o.fields == Fields::Split;
    const bool stacked = o.fields == Fields::Stacked;
    const int w = o.width, h = o.height;
    const int ch = s.channel;
    // Split two-field frames: the encoder sees field pictures of half height.
    const int eh = split ? h / 2 : h;
    const bool forced = o.keyStaggerMs >= 0;
    const int gop = channelGop(o, ch);
    const int phase = keyPhase(o, ch);
    CodecCtx cc;
    std::string err = openVideo(o, s.codec, gop, w, eh, cc);
    if (!err.empty()) return err;
    FramePtr fr;
    PacketPtr pkt;
    fr.f->format = cc.c->pix_fmt;
    fr.f->width = w;
    fr.f->height = eh;
    if (av_frame_get_buffer(fr.f, 0) < 0) return "out of memory";
    std::vector<Packet> raw;
    std::vector<uint8_t> fieldBuf(static_cast<size_t>(w) * (h / 2) * 3 / 2 + 64);
    for (int i = 0; i < frames; ++i) {
        if (av_frame_make_writable(fr.f) < 0) return "out of memory";
        uint8_t *Y = fr.f->data[0];
        uint8_t *U = fr.f->data[1];
        uint8_t *V = fr.f->data[2];
        int ys = fr.f->linesize[0], cs = fr.f->linesize[1];
        if (stacked) {
            // Top field in the upper half, bottom field (half a frame later) in the lower half.
            drawPicture(ch, i, i, w, h / 2, o.noise, o.grain, o.seed, Y, U, V, ys, cs);
            drawPicture(ch, i + 0.5, i, w, h / 2, o.noise, o.grain, o.seed,
                        Y + static_cast<size_t>(ys) * (h / 2), U + static_cast<size_t>(cs) * (h / 4),
                        V + static_cast<size_t>(cs) * (h / 4), ys, cs);
        } else {
            drawPicture(ch, i, i, w, eh, o.noise, o.grain, o.seed, Y, U, V, ys, cs);
        }
        fr.f->pts = i;
        fr.f->pict_type =
            forced && (i == 0 || (i - phase) % gop == 0) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        int r = avcodec_send_frame(cc.c, fr.f);
        if (r < 0) return "encoding failed: " + averr(r);
        err = drainVideo(cc.c, pkt.p, raw);
        if (!err.empty()) return err;
    }
    avcodec_send_frame(cc.c, nullptr);
    err = drainVideo(cc.c, pkt.p, raw);
    if (!err.empty()) return err;
    if (static_cast<int>(raw.size()) != frames) return "encoder returned a different number of frames";

    std::vector<uint8_t> spsPps;
    for (Packet &p : raw) {
        if (s.codec == VCodec::H264) p.data = longStartCodes(p.data);
        if (split) {
            // Keep the parameter sets of the last key frame: the second field's slice header
            // depends on them.
            if (p.key) {
                spsPps.clear();
                for (auto &n : nalStarts(p.data)) {
                    if (n.second != 7 && n.second != 8) continue;
                    size_t end = p.data.size();
                    for (auto &m : nalStarts(p.data))
                        if (m.first > n.first) {
                            end = m.first;
                            break;
                        }
                    spsPps.insert(spsPps.end(), p.data.begin() + static_cast<long>(n.first),
                                  p.data.begin() + static_cast<long>(end));
                }
            }
            std::vector<uint8_t> second;
            err = makeSecondField(p.data, spsPps, ((w + 15) / 16) * ((eh + 15) / 16), second);
            if (!err.empty()) return err;
            p.data.insert(p.data.end(), second.begin(), second.end());
        }
        p.field = split || stacked;
        s.es.insert(s.es.end(), p.data.begin(), p.data.end());
    }
    // --channel-stop: the encoder ran on (its stream for --es-dir is whole), but the frames from
    // the stop on are not laid out.
    const auto stop = o.channelStops.find(ch + 1);
    if (stop != o.channelStops.end() && stop->second < frames) raw.resize(static_cast<size_t>(stop->second));
    s.packets = std::move(raw);
    return "";
}

std::string encodeAudioPacket(AFormat f, const int16_t *pcm, int n, std::vector<uint8_t> &out) {
    out.clear();
    if (f == AFormat::Pcm16 || f == AFormat::Pcm16b) {
        for (int i = 0; i < n; ++i) {
            uint16_t x = static_cast<uint16_t>(pcm[i]);
            out.push_back(static_cast<uint8_t>(x & 0xFF));
            out.push_back(static_cast<uint8_t>(x >> 8));
        }
        return "";
    }
    if (f == AFormat::Pcm8) {
        for (int i = 0; i < n; ++i)
            out.push_back(static_cast<uint8_t>((pcm[i] + 32768) >> 8));
        return "";
    }
    const char *name = f == AFormat::Ulaw ? "pcm_mulaw" : "g726le";
    const AVCodec *codec = avcodec_find_encoder_by_name(name);
    if (!codec) return std::string("encoder not available: ") + name;
    // A fresh encoder for every packet: the player decodes each packet from the initial state.
    CodecCtx cc;
    cc.c = avcodec_alloc_context3(codec);
    AVCodecContext *c = cc.c;
    c->sample_rate = 8000;
    c->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&c->ch_layout, 1);
    c->time_base = AVRational{1, 8000};
    if (f == AFormat::G723) c->bit_rate = 24000;
    c->flags |= AV_CODEC_FLAG_BITEXACT;
    int r = avcodec_open2(c, codec, nullptr);
    if (r < 0) return std::string("cannot open ") + name + ": " + averr(r);
    FramePtr fr;
    PacketPtr pkt;
    int done = 0;
    while (done < n) {
        int chunk = n - done;
        if (c->frame_size > 0 && chunk > c->frame_size) chunk = c->frame_size;
        av_frame_unref(fr.f);
        fr.f->format = AV_SAMPLE_FMT_S16;
        fr.f->nb_samples = chunk;
        fr.f->sample_rate = 8000;
        av_channel_layout_default(&fr.f->ch_layout, 1);
        if (av_frame_get_buffer(fr.f, 0) < 0) return "out of memory";
        std::memcpy(fr.f->data[0], pcm + done, static_cast<size_t>(chunk) * 2);
        fr.f->pts = done;
        r = avcodec_send_frame(c, fr.f);
        if (r < 0) return "audio encoding failed: " + averr(r);
        done += chunk;
        while ((r = avcodec_receive_packet(c, pkt.p)) >= 0) {
            out.insert(out.end(), pkt.p->data, pkt.p->data + pkt.p->size);
            av_packet_unref(pkt.p);
        }
    }
    avcodec_send_frame(c, nullptr);
    while (avcodec_receive_packet(c, pkt.p) >= 0) {
        out.insert(out.end(), pkt.p->data, pkt.p->data + pkt.p->size);
        av_packet_unref(pkt.p);
    }
    return "";
}

std::string encodeAudio(const Options &o, int frames, ChannelStream &s) {
    // As many packets as cover the video's duration.
    const int64_t totalSamples = static_cast<int64_t>(frames) * 8000 / o.fps;
    const int n = o.audioSamples;
    const int64_t count = totalSamples / n;
    std::vector<int16_t> pcm(static_cast<size_t>(n));
    for (int64_t p = 0; p < count; ++p) {
        toneSamples(s.channel, p * n, n, pcm.data());
        Packet pk;
        std::string err = encodeAudioPacket(s.format, pcm.data(), n, pk.data);
        if (!err.empty()) return err;
        pk.frame = static_cast<int>(p);
        s.es.insert(s.es.end(), pk.data.begin(), pk.data.end());
        s.packets.push_back(std::move(pk));
    }
    return "";
}

} // namespace

int channelGop(const Options &o, int ch) {
    const auto it = o.channelGops.find(ch + 1);
    return it == o.channelGops.end() ? o.gop : it->second;
}

int keyPhase(const Options &o, int ch) {
    if (o.keyStaggerMs < 0) return 0;
    const int64_t ms1000 = static_cast<int64_t>(ch) * o.keyStaggerMs * o.fps; // frames * 1000
    return static_cast<int>(((ms1000 + 500) / 1000) % channelGop(o, ch));
}

std::string encodeAll(const Options &o, int frames, std::vector<ChannelStream> &streams) {
    av_log_set_level(AV_LOG_ERROR);
    std::atomic<size_t> next{0};
    std::mutex m;
    std::string firstError;
    auto work = [&]() {
        for (;;) {
            size_t i = next++;
            if (i >= streams.size()) return;
            ChannelStream &s = streams[i];
            std::string err = s.video ? encodeVideo(o, frames, s) : encodeAudio(o, frames, s);
            if (!err.empty()) {
                std::lock_guard<std::mutex> g(m);
                if (firstError.empty()) firstError = err;
            }
        }
    };
    unsigned n = o.threads > 0 ? static_cast<unsigned>(o.threads) : std::thread::hardware_concurrency();
    if (n == 0) n = 1;
    n = std::min<unsigned>(n, static_cast<unsigned>(streams.size() ? streams.size() : 1));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < n; ++t)
        pool.emplace_back(work);
    work();
    for (auto &t : pool)
        t.join();
    return firstError;
}

} // namespace mkrec
