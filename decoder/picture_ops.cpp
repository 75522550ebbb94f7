#include "decoder/picture_ops.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "decoder/decoder.h"

namespace decoder_ops {

bool rowCopyable(int pixFmt) {
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixFmt));
    if (!d) return false;
    return !(d->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL));
}

bool planeGeometry(int pixFmt, int w, int h, int plane, int *rowBytes, int *rows) {
    const AVPixelFormat fmt = static_cast<AVPixelFormat>(pixFmt);
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(fmt);
    if (!d || plane < 0 || plane >= av_pix_fmt_count_planes(fmt)) return false;
    const int bytes = av_image_get_linesize(fmt, w, plane);
    if (bytes <= 0) return false;
    *rowBytes = bytes;
    *rows = (plane == 1 || plane == 2) ? AV_CEIL_RSHIFT(h, d->log2_chroma_h) : h;
    return true;
}

static int chromaShift(int pixFmt, int plane) {
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixFmt));
    return (d && (plane == 1 || plane == 2)) ? d->log2_chroma_h : 0;
}

void copyField(const ConstPlanes &field, int fieldRowsAvailable, const Planes &dst, int pixFmt, int w,
               int fieldH, bool bottom) {
    const int fullH = 2 * fieldH;
    for (int p = 0; p < 4; ++p) {
        int rowBytes = 0, dstRows = 0, srcRows = 0;
        if (!planeGeometry(pixFmt, w, fullH, p, &rowBytes, &dstRows)) break;
        planeGeometry(pixFmt, w, fieldRowsAvailable, p, &rowBytes, &srcRows);
        // The first field owns the rows a field of fieldH lines maps to, rounded down; the
        // second takes what is left of the picture.
        const int topRows = fieldH >> chromaShift(pixFmt, p);
        int first = 0, count = topRows;
        if (bottom) {
            first = topRows;
            count = dstRows - topRows;
        }
        count = std::min(count, srcRows);
        for (int r = 0; r < count; ++r)
            memcpy(dst.data[p] + static_cast<ptrdiff_t>(first + r) * dst.linesize[p],
                   field.data[p] + static_cast<ptrdiff_t>(r) * field.linesize[p], rowBytes);
    }
}

void lineDouble(const ConstPlanes &src, const Planes &dst, int pixFmt, int w, int h) {
    for (int p = 0; p < 4; ++p) {
        int rowBytes = 0, rows = 0;
        if (!planeGeometry(pixFmt, w, h, p, &rowBytes, &rows)) break;
        // Bottom-up, so that in place no row is overwritten before it is read (j/2 <= j).
        for (int j = rows - 1; j >= 0; --j) {
            uint8_t *d = dst.data[p] + static_cast<ptrdiff_t>(j) * dst.linesize[p];
            const uint8_t *s = src.data[p] + static_cast<ptrdiff_t>(j / 2) * src.linesize[p];
            if (d != s) memmove(d, s, rowBytes);
        }
    }
}

bool canDeinterlace(int pixFmt, int w, int h) {
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixFmt));
    if (!d || w <= 0 || h <= 0 || (w % 4) != 0 || (h % 4) != 0) return false;
    if (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                    AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BE))
        return false;
    if (!(d->flags & AV_PIX_FMT_FLAG_PLANAR) || d->nb_components < 3) return false;
    for (int c = 0; c < d->nb_components; ++c)
        if (d->comp[c].depth != 8 || d->comp[c].step != 1) return false;
    return true;
}

static inline uint8_t clip8(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

static void deinterlacePlane(const uint8_t *src, int sls, uint8_t *dst, int dls, int width, int rows,
                             uint8_t *prevOdd, uint8_t *cur) {
    auto row = [&](int y) { return src + static_cast<ptrdiff_t>(y) * sls; };
    auto out = [&](int y) { return dst + static_cast<ptrdiff_t>(y) * dls; };
    if (src != dst)
        for (int y = 0; y < rows; y += 2)
            memcpy(out(y), row(y), width);
    // prevOdd keeps the original of the odd row two above, which in place is already replaced.
    for (int y = 1; y < rows; y += 2) {
        const uint8_t *a = (y - 2 < 0) ? row(0) : prevOdd;
        const uint8_t *b = row(y - 1);
        const uint8_t *c = row(y);
        const uint8_t *d = row(std::min(y + 1, rows - 1));
        const uint8_t *e = row(std::min(y + 2, rows - 1));
        for (int x = 0; x < width; ++x)
            cur[x] = clip8((-a[x] + 4 * b[x] + 2 * c[x] + 4 * d[x] - e[x] + 4) >> 3);
        memcpy(prevOdd, c, width);
        memcpy(out(y), cur, width);
    }
}

void deinterlace(const ConstPlanes &src, const Planes &dst, int pixFmt, int w, int h, uint8_t *scratch) {
    for (int p = 0; p < 4; ++p) {
        int rowBytes = 0, rows = 0;
        if (!planeGeometry(pixFmt, w, h, p, &rowBytes, &rows)) break;
        deinterlacePlane(src.data[p], src.linesize[p], dst.data[p], dst.linesize[p], rowBytes, rows, scratch,
                         scratch + rowBytes);
    }
}

template <typename T> static void reverseWords(uint8_t *p, size_t n) {
    // memcpy keeps this free of alignment and aliasing assumptions; compilers turn it into loads.
    size_t i = 0, j = n ? n - 1 : 0;
    while (n && i < j) {
        T a, b;
        memcpy(&a, p + i * sizeof(T), sizeof(T));
        memcpy(&b, p + j * sizeof(T), sizeof(T));
        memcpy(p + i * sizeof(T), &b, sizeof(T));
        memcpy(p + j * sizeof(T), &a, sizeof(T));
        ++i;
        --j;
    }
}

void reversePixels(uint8_t *p, size_t pixels, int bpp) {
    switch (bpp) {
    case 4:
        reverseWords<uint32_t>(p, pixels);
        break;
    case 2:
        reverseWords<uint16_t>(p, pixels);
        break;
    default:
        if (pixels < 2) return;
        for (size_t i = 0, j = pixels - 1; i < j; ++i, --j)
            std::swap_ranges(p + i * bpp, p + (i + 1) * bpp, p + j * bpp);
        break;
    }
}

void mirrorRows(uint8_t *p, int w, int h, int bpp) {
    const size_t rowBytes = static_cast<size_t>(w) * bpp;
    for (int y = 0; y < h; ++y)
        reversePixels(p + rowBytes * y, w, bpp);
}

void flipRows(uint8_t *p, int h, size_t rowBytes) {
    for (int y = 0, z = h - 1; y < z; ++y, --z)
        std::swap_ranges(p + rowBytes * y, p + rowBytes * (y + 1), p + rowBytes * z);
}

Orientation orientationFromFlags(int flags) {
    if (flags & DECODER_FLAG_TOPDOWN) return Orientation::AsIs;
    if (flags & DECODER_FLAG_ROTATE180) return Orientation::Rotate180;
    if (flags & DECODER_FLAG_MIRROR) return Orientation::Mirror;
    return Orientation::BottomUp;
}

void orientInPlace(uint8_t *p, int w, int h, int bpp, Orientation o) {
    switch (o) {
    case Orientation::AsIs:
        break;
    case Orientation::Rotate180:
        reversePixels(p, static_cast<size_t>(w) * h, bpp);
        break;
    case Orientation::Mirror:
        mirrorRows(p, w, h, bpp);
        break;
    case Orientation::BottomUp:
        flipRows(p, h, static_cast<size_t>(w) * bpp);
        break;
    }
}

void copyOriented(const uint8_t *src, int srcLinesize, uint8_t *dst, int w, int h, int bpp, Orientation o,
                  bool weave) {
    const size_t rowBytes = static_cast<size_t>(w) * bpp;
    const int firstRows = (h + 1) / 2; // an odd height gives the first field the extra line
    const bool flipped = o == Orientation::Rotate180 || o == Orientation::BottomUp;
    const bool mirrored = o == Orientation::Rotate180 || o == Orientation::Mirror;
    for (int line = 0; line < h; ++line) {
        // Which line of the (woven) picture lands here, then where that line sits in src.
        const int from = flipped ? h - 1 - line : line;
        const int srcRow = !weave ? from : (from % 2 == 0 ? from / 2 : firstRows + from / 2);
        uint8_t *d = dst + rowBytes * line;
        memcpy(d, src + static_cast<ptrdiff_t>(srcRow) * srcLinesize, rowBytes);
        if (mirrored) reversePixels(d, w, bpp);
    }
}

} // namespace decoder_ops
