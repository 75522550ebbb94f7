#include "decoder/decoder.h"

#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "decoder/decoder_internal.h"
#include "decoder/picture_ops.h"
#include "platform/log.h"

using namespace decoder_ops;

namespace decoder_internal {

bool outputFormat(int code, int *pixFmt, int *bytesPerPixel) {
    static const struct {
        AVPixelFormat fmt;
        int bpp;
    } table[] = {
        {AV_PIX_FMT_RGB24, 3},    {AV_PIX_FMT_BGR24, 3},    {AV_PIX_FMT_BGRA, 4},
        {AV_PIX_FMT_RGBA, 4},     {AV_PIX_FMT_RGB565LE, 2}, {AV_PIX_FMT_BGR565LE, 2},
        {AV_PIX_FMT_RGB555LE, 2}, {AV_PIX_FMT_BGR555LE, 2}, {AV_PIX_FMT_ABGR, 4},
        {AV_PIX_FMT_ARGB, 4},
    };
    if (code < 1 || code > 10) return false;
    *pixFmt = table[code - 1].fmt;
    *bytesPerPixel = table[code - 1].bpp;
    return true;
}

SwsContext *makeScaler(int srcW, int srcH, int srcFmt, int dstW, int dstH, int dstFmt, int swsFlags) {
    // The full-range "J" formats are handed to the scaler as their plain twins with the range
    // set, which is what the scaler does itself, minus its warning on every creation.
    int fmt = srcFmt, fullRange = 0;
    switch (srcFmt) {
    case AV_PIX_FMT_YUVJ420P:
        fmt = AV_PIX_FMT_YUV420P;
        fullRange = 1;
        break;
    case AV_PIX_FMT_YUVJ422P:
        fmt = AV_PIX_FMT_YUV422P;
        fullRange = 1;
        break;
    case AV_PIX_FMT_YUVJ444P:
        fmt = AV_PIX_FMT_YUV444P;
        fullRange = 1;
        break;
    case AV_PIX_FMT_YUVJ440P:
        fmt = AV_PIX_FMT_YUV440P;
        fullRange = 1;
        break;
    case AV_PIX_FMT_YUVJ411P:
        fmt = AV_PIX_FMT_YUV411P;
        fullRange = 1;
        break;
    default:
        break;
    }
    int dfmt = dstFmt, dstFull = 0;
    if (dstFmt == AV_PIX_FMT_YUVJ420P) {
        dfmt = AV_PIX_FMT_YUV420P;
        dstFull = 1;
    }
    SwsContext *c = sws_alloc_context();
    if (!c) return nullptr;
    if (av_opt_set_int(c, "srcw", srcW, 0) < 0 || av_opt_set_int(c, "srch", srcH, 0) < 0 ||
        av_opt_set_int(c, "src_format", fmt, 0) < 0 || av_opt_set_int(c, "dstw", dstW, 0) < 0 ||
        av_opt_set_int(c, "dsth", dstH, 0) < 0 || av_opt_set_int(c, "dst_format", dfmt, 0) < 0 ||
        av_opt_set_int(c, "sws_flags", swsFlags, 0) < 0 || av_opt_set_int(c, "src_range", fullRange, 0) < 0 ||
        av_opt_set_int(c, "dst_range", dstFull, 0) < 0 || sws_init_context(c, nullptr, nullptr) < 0) {
        sws_freeContext(c);
        return nullptr;
    }
    return c;
}

bool lastSource(const _Decoder *dec, SourceView *view) {
    if (!dec || dec->initialised != 1 || !dec->sourceData[0]) return false;
    for (int i = 0; i < 4; ++i) {
        view->data[i] = dec->sourceData[i];
        view->linesize[i] = dec->sourceLinesize[i];
    }
    view->width = dec->streamWidth;
    view->height = dec->streamHeight;
    view->format = dec->streamPixelFormat;
    return true;
}

} // namespace decoder_internal

namespace {

void releaseAll(_Decoder *dec) {
    if (dec->codecContext) avcodec_free_context(&dec->codecContext);
    av_frame_free(&dec->decoded);
    av_frame_free(&dec->output);
    av_frame_free(&dec->fieldPicture);
    av_packet_free(&dec->packet);
    sws_freeContext(dec->scaler);
    av_freep(&dec->outputBuffer);
    av_freep(&dec->fieldBuffer);
    memset(dec, 0, sizeof(*dec));
}

AVCodecID codecId(int codec) {
    switch (codec) {
    case DECODER_CODEC_MPEG4:
        return AV_CODEC_ID_MPEG4;
    case DECODER_CODEC_H264:
        return AV_CODEC_ID_H264;
    case DECODER_CODEC_MJPEG:
        return AV_CODEC_ID_MJPEG;
    default:
        return AV_CODEC_ID_NONE;
    }
}

// One packet in, at most one picture out. 1 picture in dec->decoded, 0 none yet, -1 codec error.
int decodeOne(_Decoder *dec, const uint8_t *data, int len) {
    av_frame_unref(dec->decoded);
    av_packet_unref(dec->packet);
    // A padded, reference-counted copy: the codec reads past the end of a packet and keeps
    // its own reference, so the caller's buffer is never read out of bounds nor held.
    if (av_new_packet(dec->packet, len) < 0) return -1;
    memcpy(dec->packet->data, data, len);
    int ret = avcodec_send_packet(dec->codecContext, dec->packet);
    if (ret == AVERROR(EAGAIN)) {
        // A picture of earlier input was never collected; it is stale now.
        while (avcodec_receive_frame(dec->codecContext, dec->decoded) >= 0)
            av_frame_unref(dec->decoded);
        ret = avcodec_send_packet(dec->codecContext, dec->packet);
    }
    av_packet_unref(dec->packet);
    if (ret < 0) return -1;
    ret = avcodec_receive_frame(dec->codecContext, dec->decoded);
    if (ret == AVERROR(EAGAIN)) return 0;
    if (ret < 0) return -1;
    const AVFrame *f = dec->decoded;
    if (f->width <= 0 || f->height <= 0 || !rowCopyable(f->format) || !f->data[0]) {
        av_frame_unref(dec->decoded);
        return -1;
    }
    return 1;
}

bool ensureFieldBuffer(_Decoder *dec, int w, int h, int fmt) {
    if (dec->fieldBuffer && dec->fieldBufferW == w && dec->fieldBufferH == h && dec->fieldBufferFormat == fmt)
        return true;
    av_freep(&dec->fieldBuffer);
    dec->fieldBufferW = dec->fieldBufferH = 0;
    AVFrame *fp = dec->fieldPicture;
    // Aligned rows suit the scaler.
    if (av_image_alloc(fp->data, fp->linesize, w, h, static_cast<AVPixelFormat>(fmt), 32) < 0) {
        memset(fp->data, 0, sizeof(fp->data));
        return false;
    }
    dec->fieldBuffer = fp->data[0];
    dec->fieldBufferW = w;
    dec->fieldBufferH = h;
    dec->fieldBufferFormat = fmt;
    fp->width = w;
    fp->height = h;
    fp->format = fmt;
    return true;
}

// The scaler's vector code may write a few pixels past a row's end for widths that are not a
// multiple of its block size: the buffer it writes to gets slack after every row and at the end.
bool ensureOutputBuffer(_Decoder *dec) {
    if (dec->outputBuffer) return true;
    const int linesize = FFALIGN(dec->outputWidth * dec->bytesPerPixel, 64) + 64;
    const size_t size = static_cast<size_t>(linesize) * dec->outputHeight + 64;
    dec->outputBuffer = static_cast<uint8_t *>(av_mallocz(size));
    if (!dec->outputBuffer) return false;
    memset(dec->output->data, 0, sizeof(dec->output->data));
    memset(dec->output->linesize, 0, sizeof(dec->output->linesize));
    dec->output->data[0] = dec->outputBuffer;
    dec->output->linesize[0] = linesize;
    return true;
}

ConstPlanes constPlanes(uint8_t *const data[], const int linesize[]) {
    ConstPlanes p;
    for (int i = 0; i < 4; ++i) {
        p.data[i] = data[i];
        p.linesize[i] = linesize[i];
    }
    return p;
}

Planes planes(uint8_t *const data[], const int linesize[]) {
    Planes p;
    for (int i = 0; i < 4; ++i) {
        p.data[i] = data[i];
        p.linesize[i] = linesize[i];
    }
    return p;
}

const int kSeparator[5] = {0, 0, 0, 1, 1};

// Offset of the last 00 00 00 01 01 in data, or -1.
int lastSeparator(const uint8_t *data, int len) {
    for (int i = len - 5; i >= 0; --i)
        if (data[i + 4] == kSeparator[4] && data[i + 3] == kSeparator[3] && data[i] == 0 &&
            data[i + 1] == 0 && data[i + 2] == 0)
            return i;
    return -1;
}

} // namespace

int Decoder_Init(_Decoder *dec, int codec, int outFormat) {
    if (!dec) return -1;
    int pixFmt = 0, bpp = 0;
    const AVCodecID id = codecId(codec);
    if (id == AV_CODEC_ID_NONE || !decoder_internal::outputFormat(outFormat, &pixFmt, &bpp)) return -1;
    if (dec->initialised == 1) releaseAll(dec);
    memset(dec, 0, sizeof(*dec));

    dec->codec = avcodec_find_decoder(id);
    if (!dec->codec) return -1;
    dec->outputPixelFormat = pixFmt;
    dec->bytesPerPixel = bpp;
    dec->codecContext = avcodec_alloc_context3(dec->codec);
    if (!dec->codecContext) {
        releaseAll(dec);
        return -1;
    }
    // Two slice threads: every packet still yields its picture within the call; frame
    // threads would hold pictures back and break the engines' frame-by-frame hand-off.
    dec->codecContext->thread_count = 2;
    dec->codecContext->thread_type = FF_THREAD_SLICE;
    dec->decoded = av_frame_alloc();
    dec->output = av_frame_alloc();
    dec->fieldPicture = av_frame_alloc();
    dec->packet = av_packet_alloc();
    if (avcodec_open2(dec->codecContext, dec->codec, nullptr) < 0 || !dec->decoded || !dec->output ||
        !dec->fieldPicture || !dec->packet) {
        releaseAll(dec);
        return -1;
    }
    dec->streamPixelFormat = AV_PIX_FMT_NONE;
    dec->fieldProbe = 2;
    dec->initialised = 1;
    return 1;
}

int Decoder_Deinit(_Decoder *dec) {
    if (!dec || dec->initialised != 1) return -1;
    releaseAll(dec);
    return 1;
}

int Decoder_Decode(_Decoder *dec, const uint8_t *data, int len, int targetW, int targetH, int flags,
                   int *streamW, int *streamH, uint8_t *out, size_t outCapacity, int *outW, int *outH) {
    const bool noPicture = (flags & DECODER_FLAG_NO_PICTURE) != 0;
    if (!dec || !data || (!out && !noPicture) || dec->initialised != 1 || len <= 0) return -1;

    // Field separator search: a frame carrying two field pictures has the second one start
    // with a non-reference slice. Streams that show none in their first frames are not searched.
    int split = 0;
    if (dec->fieldProbe >= 1) {
        const int at = lastSeparator(data, len);
        if (at >= 0) dec->fieldProbe = 2;
        if (at > 0)
            split = at;
        else
            dec->fieldProbe -= 1;
    }

    const int r = decodeOne(dec, data, split > 0 ? split : len);
    if (r < 0) return -2;
    if (r == 0) return 0;
    // Only the codec moves on (with a two-field frame's second field): nothing is scaled.
    if (noPicture) return split > 0 && decodeOne(dec, data + split, len - split) <= 0 ? -3 : 1;

    const int fmt = dec->decoded->format;
    const int w = dec->decoded->width;
    const int codedH = dec->decoded->height;
    const int fieldH = codedH == 1088 ? 1080 : codedH;
    const int h = split > 0 ? 2 * fieldH : fieldH;

    // Output size: a requested target, or the stream size; kept while neither changes.
    int newOutW = dec->outputWidth, newOutH = dec->outputHeight;
    const bool streamChanged =
        w != dec->streamWidth || h != dec->streamHeight || fmt != dec->streamPixelFormat;
    const bool targetGiven = targetW != 0 && targetH != 0;
    if (streamChanged || (targetGiven && (targetW < 1 || targetH < 1 || targetW != dec->outputWidth ||
                                          targetH != dec->outputHeight))) {
        if (targetW >= 1 && targetH >= 1) {
            newOutW = targetW;
            newOutH = targetH;
        } else {
            newOutW = w;
            newOutH = h;
        }
    }
    const long long need = static_cast<long long>(newOutW) * newOutH * dec->bytesPerPixel;
    if (av_image_check_size(newOutW, newOutH, 0, nullptr) < 0 || need <= 0 ||
        static_cast<unsigned long long>(need) > outCapacity) {
        player_log("Decoder_Decode: picture %dx%d needs %lld bytes, buffer holds %zu\n", newOutW, newOutH,
                   need, outCapacity);
        return -1;
    }
    if (newOutW != dec->outputWidth || newOutH != dec->outputHeight) {
        av_freep(&dec->outputBuffer);
        dec->outputWidth = newOutW;
        dec->outputHeight = newOutH;
    }
    if (streamChanged) {
        dec->streamWidth = w;
        dec->streamHeight = h;
        dec->streamPixelFormat = fmt;
    }
    if (streamW) *streamW = w;
    if (streamH) *streamH = h;

    ConstPlanes src = constPlanes(dec->decoded->data, dec->decoded->linesize);
    AVFrame *fp = dec->fieldPicture;
    bool srcIsFieldBuffer = false;

    if (split > 0) {
        if (!ensureFieldBuffer(dec, w, h, fmt)) return -3;
        copyField(src, codedH, planes(fp->data, fp->linesize), fmt, w, fieldH, false);
        const int r2 = decodeOne(dec, data + split, len - split);
        if (r2 <= 0) return -3;
        // A second field of another size or layout cannot share the first one's picture.
        if (dec->decoded->width != w || dec->decoded->height != codedH || dec->decoded->format != fmt)
            return -3;
        copyField(constPlanes(dec->decoded->data, dec->decoded->linesize), codedH,
                  planes(fp->data, fp->linesize), fmt, w, fieldH, true);
        src = constPlanes(fp->data, fp->linesize);
        srcIsFieldBuffer = true;
    }

    // The codec's own pictures are shared with the frames that follow; filters write to the
    // field buffer instead.
    const int mode = flags & (DECODER_FLAG_DEINTERLACE | DECODER_FLAG_FIELDS);
    if (mode == (DECODER_FLAG_DEINTERLACE | DECODER_FLAG_FIELDS)) {
        if (!srcIsFieldBuffer && !ensureFieldBuffer(dec, w, h, fmt)) return -3;
        lineDouble(src, planes(fp->data, fp->linesize), fmt, w, h);
        src = constPlanes(fp->data, fp->linesize);
    } else if (mode == DECODER_FLAG_DEINTERLACE) {
        if (!decoder_ops::canDeinterlace(fmt, w, h) ||
            (!srcIsFieldBuffer && !ensureFieldBuffer(dec, w, h, fmt))) {
            player_log("avpicture_deinterlace nRet=%d\n", -1);
            return -4;
        }
        std::vector<uint8_t> scratch(
            2 * static_cast<size_t>(av_image_get_linesize(static_cast<AVPixelFormat>(fmt), w, 0)));
        deinterlace(src, planes(fp->data, fp->linesize), fmt, w, h, scratch.data());
        src = constPlanes(fp->data, fp->linesize);
    }
    for (int i = 0; i < 4; ++i) {
        dec->sourceData[i] = src.data[i];
        dec->sourceLinesize[i] = src.linesize[i];
    }

    const int ow = dec->outputWidth, oh = dec->outputHeight, bpp = dec->bytesPerPixel;
    if (!dec->scaler || dec->scalerSrcW != w || dec->scalerSrcH != h || dec->scalerSrcFormat != fmt ||
        dec->scalerDstW != ow || dec->scalerDstH != oh || dec->scalerDstFormat != dec->outputPixelFormat) {
        sws_freeContext(dec->scaler);
        dec->scaler =
            decoder_internal::makeScaler(w, h, fmt, ow, oh, dec->outputPixelFormat, SWS_FAST_BILINEAR);
        if (!dec->scaler) return -5;
        dec->scalerSrcW = w;
        dec->scalerSrcH = h;
        dec->scalerSrcFormat = fmt;
        dec->scalerDstW = ow;
        dec->scalerDstH = oh;
        dec->scalerDstFormat = dec->outputPixelFormat;
    }

    // Straight into the caller's buffer when nothing needs rearranging afterwards but an
    // in-place turn and the rows are whole blocks for the scaler, or the buffer has room past
    // the picture for what the scaler may write beyond a row (it writes the rows in order, so
    // a row's excess is overwritten by the next row); otherwise through our own.
    const bool weave = mode == DECODER_FLAG_FIELDS;
    const Orientation orient = orientationFromFlags(flags);
    const bool direct =
        !weave && (ow % 16 == 0 || outCapacity - static_cast<size_t>(need) >= kDecoderOutputSlack);
    uint8_t *dstData[4] = {out, nullptr, nullptr, nullptr};
    int dstLinesize[4] = {ow * bpp, 0, 0, 0};
    if (!direct) {
        if (!ensureOutputBuffer(dec)) return -6;
        dstData[0] = dec->output->data[0];
        dstLinesize[0] = dec->output->linesize[0];
    }
    if (sws_scale(dec->scaler, src.data, src.linesize, 0, h, dstData, dstLinesize) <= 0) return -6;

    if (direct)
        orientInPlace(out, ow, oh, bpp, orient);
    else
        copyOriented(dstData[0], dstLinesize[0], out, ow, oh, bpp, orient, weave);
    if (outW) *outW = ow;
    if (outH) *outH = oh;
    return 1;
}
