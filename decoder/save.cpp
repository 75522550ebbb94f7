// Still-image saving of a decoded picture, and the RGBA/BGRA byte swap.

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "decoder/decoder.h"
#include "decoder/decoder_internal.h"
#include "decoder/picture_ops.h"

namespace {

// Padding colour of the JPEG layout (YUVJ420P): luma 16, both chroma 128.
const int padcolor[3] = {16, 128, 128};

// Fixed quality of saved JPEG files: quantiser 3, in lambda units.
const int kSaveQuantiser = 3;

struct CodecContextFree {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct ScalerFree {
    void operator()(SwsContext *s) const { sws_freeContext(s); }
};
struct FileClose {
    void operator()(FILE *f) const { fclose(f); }
};

// Copy of a packed picture turned by a save orientation code.
void orientForSave(const uint8_t *src, uint8_t *dst, int w, int h, int bpp, int orientation) {
    const size_t rowBytes = static_cast<size_t>(w) * bpp;
    memcpy(dst, src, rowBytes * h);
    switch (orientation) {
    case DECODER_SAVE_ROTATE180:
        decoder_ops::reversePixels(dst, static_cast<size_t>(w) * h, bpp);
        break;
    case DECODER_SAVE_MIRROR:
        decoder_ops::mirrorRows(dst, w, h, bpp);
        break;
    case DECODER_SAVE_UPSIDE_DOWN:
        decoder_ops::flipRows(dst, h, rowBytes);
        break;
    default:
        break;
    }
}

// Fits w x h inside tw x th with its aspect kept: the side with the larger ratio fills the
// target, the other follows; sizes and offsets even so that 4:2:0 chroma lines up.
void fitInside(int w, int h, int tw, int th, int *fw, int *fh, int *x, int *y) {
    const long long lw = w, lh = h;
    if (lw * th >= lh * tw) { // w / tw >= h / th
        *fw = tw;
        *fh = static_cast<int>((lh * tw + lw / 2) / lw);
    } else {
        *fh = th;
        *fw = static_cast<int>((lw * th + lh / 2) / lh);
    }
    auto evenDown = [](int v, int limit) {
        v &= ~1;
        if (v < 2) v = 2;
        return v > limit ? limit : v;
    };
    *fw = evenDown(*fw, tw);
    *fh = evenDown(*fh, th);
    *x = ((tw - *fw) / 2) & ~1;
    *y = ((th - *fh) / 2) & ~1;
}

} // namespace

int Decoder_SaveFrameToFile(_Decoder *dec, int kind, int orientation, const uint8_t *image, int imageSize,
                            int w, int h, int outW, int outH, int keepAspect, const char *path) {
    if (!dec || dec->initialised != 1 || !image || !path || imageSize < 10 || w < 5 || h < 5 ||
        (kind != DECODER_SAVE_JPEG && kind != DECODER_SAVE_PNG))
        return -1;
    const AVPixelFormat inFmt = static_cast<AVPixelFormat>(dec->outputPixelFormat);
    if (av_image_get_buffer_size(inFmt, w, h, 1) != imageSize) return -1;
    const int tw = (outW != 0 && outH != 0) ? outW : w;
    const int th = (outW != 0 && outH != 0) ? outH : h;
    if (tw < 1 || th < 1 || av_image_check_size(tw, th, 0, nullptr) < 0) return -1;

    std::vector<uint8_t> turned(imageSize);
    orientForSave(image, turned.data(), w, h, dec->bytesPerPixel, orientation);

    const bool jpeg = kind == DECODER_SAVE_JPEG;
    const AVPixelFormat encFmt = jpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_RGB24;
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    if (!frame) return -1;
    frame->format = encFmt;
    frame->width = tw;
    frame->height = th;
    if (av_frame_get_buffer(frame.get(), 32) < 0) return -1;

    int fw = tw, fh = th, x = 0, y = 0;
    uint8_t *dstData[4] = {frame->data[0], frame->data[1], frame->data[2], nullptr};
    if (keepAspect) {
        fitInside(w, h, tw, th, &fw, &fh, &x, &y);
        if (jpeg) {
            for (int p = 0; p < 3; ++p) {
                const int rows = p == 0 ? th : (th + 1) / 2, cols = p == 0 ? tw : (tw + 1) / 2;
                for (int r = 0; r < rows; ++r)
                    memset(frame->data[p] + static_cast<ptrdiff_t>(r) * frame->linesize[p], padcolor[p],
                           cols);
            }
            dstData[0] += static_cast<ptrdiff_t>(y) * frame->linesize[0] + x;
            dstData[1] += static_cast<ptrdiff_t>(y / 2) * frame->linesize[1] + x / 2;
            dstData[2] += static_cast<ptrdiff_t>(y / 2) * frame->linesize[2] + x / 2;
        } else {
            for (int r = 0; r < th; ++r)
                memset(frame->data[0] + static_cast<ptrdiff_t>(r) * frame->linesize[0], 0,
                       static_cast<size_t>(tw) * 3);
            dstData[0] += static_cast<ptrdiff_t>(y) * frame->linesize[0] + static_cast<ptrdiff_t>(x) * 3;
        }
    }

    {
        std::unique_ptr<SwsContext, ScalerFree> scaler(
            decoder_internal::makeScaler(w, h, inFmt, fw, fh, encFmt, SWS_BICUBIC));
        if (!scaler) return -1;
        const uint8_t *srcData[4] = {turned.data(), nullptr, nullptr, nullptr};
        const int srcLinesize[4] = {w * dec->bytesPerPixel, 0, 0, 0};
        if (sws_scale(scaler.get(), srcData, srcLinesize, 0, h, dstData, frame->linesize) <= 0) return -1;
    }

    const AVCodec *codec = avcodec_find_encoder(jpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_PNG);
    if (!codec) return -1;
    std::unique_ptr<AVCodecContext, CodecContextFree> enc(avcodec_alloc_context3(codec));
    if (!enc) return -1;
    const AVCodecContext *src = dec->codecContext;
    enc->bit_rate = src ? src->bit_rate : 0;
    enc->width = tw;
    enc->height = th;
    enc->pix_fmt = encFmt;
    enc->time_base =
        (src && src->time_base.num > 0 && src->time_base.den > 0) ? src->time_base : AVRational{1, 30};
    const double tolerance = static_cast<double>(enc->bit_rate) * av_q2d(enc->time_base) + 1;
    if (enc->bit_rate_tolerance < tolerance) enc->bit_rate_tolerance = static_cast<int>(tolerance);
    if (jpeg) {
        const int lambda = kSaveQuantiser * FF_QP2LAMBDA;
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = lambda;
        enc->qmin = enc->qmax = kSaveQuantiser;
        enc->color_range = AVCOL_RANGE_JPEG;
        av_opt_set_int(enc.get(), "lmin", lambda, AV_OPT_SEARCH_CHILDREN);
        av_opt_set_int(enc.get(), "lmax", lambda, AV_OPT_SEARCH_CHILDREN);
        av_opt_set_int(enc.get(), "mblmin", lambda, AV_OPT_SEARCH_CHILDREN);
        av_opt_set_int(enc.get(), "mblmax", lambda, AV_OPT_SEARCH_CHILDREN);
        frame->quality = lambda;
    }
    if (avcodec_open2(enc.get(), codec, nullptr) < 0) return -1;

    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    if (!pkt) return -1;
    frame->pts = 0;
    if (avcodec_send_frame(enc.get(), frame.get()) < 0 || avcodec_send_frame(enc.get(), nullptr) < 0)
        return -1;
    if (avcodec_receive_packet(enc.get(), pkt.get()) < 0 || pkt->size <= 0) return -1;

    std::unique_ptr<FILE, FileClose> file(fopen(path, "wb"));
    if (!file) return -1;
    const size_t written = fwrite(pkt->data, 1, pkt->size, file.get());
    FILE *f = file.release();
    // A short write or a failed close leaves a damaged file: report it, never a byte count.
    if (fclose(f) != 0 || written != static_cast<size_t>(pkt->size)) {
        remove(path);
        return -1;
    }
    return pkt->size;
}

int Decoder_Convert(uint8_t *buf, int len) {
    if (!buf || len < 4 || len % 4 != 0) return -1;
    for (int i = 0; i < len; i += 4) {
        const uint8_t t = buf[i];
        buf[i] = buf[i + 2];
        buf[i + 2] = t;
    }
    return 1;
}
