#pragma once
// Row and plane operations of the decoder that FFmpeg does not provide: field assembly,
// line doubling, the intra-frame deinterlace, and the orientation copies of packed pictures.

#include <cstddef>
#include <cstdint>

namespace decoder_ops {

// Plane pointers of a picture in some FFmpeg pixel format.
struct Planes {
    uint8_t *data[4];
    int linesize[4];
};
struct ConstPlanes {
    const uint8_t *data[4];
    int linesize[4];
};

// True for formats whose planes can be copied row by row (no palette, no bitstream, no hardware).
bool rowCopyable(int pixFmt);

// Bytes per row and number of rows of one plane of a w x h picture; false past the last plane.
bool planeGeometry(int pixFmt, int w, int h, int plane, int *rowBytes, int *rows);

// Copies one field picture (w x fieldH) into dst, a w x (2 fieldH) picture of the same format:
// the top half when bottom is false, else the bottom half.
void copyField(const ConstPlanes &field, int fieldRowsAvailable, const Planes &dst, int pixFmt, int w,
               int fieldH, bool bottom);

// dst row j = src row j/2 on every plane (each row of the top half written twice).
// src and dst may be the same picture.
void lineDouble(const ConstPlanes &src, const Planes &dst, int pixFmt, int w, int h);

// True when the intra-frame deinterlace can handle the picture: 8-bit planar YUV with width
// and height multiples of 4.
bool canDeinterlace(int pixFmt, int w, int h);

// Keeps the even rows and replaces every odd row y by the 5-tap low-pass
// (-p[y-2] + 4p[y-1] + 2p[y] + 4p[y+1] - p[y+2] + 4) >> 3 of the original rows, clipped,
// rows beyond the edges clamped. src and dst may be the same picture. scratch holds at least
// 2 x the widest plane row. Call only when canDeinterlace().
void deinterlace(const ConstPlanes &src, const Planes &dst, int pixFmt, int w, int h, uint8_t *scratch);

// Packed pictures (rows of w x bpp bytes, no padding), in place.
void reversePixels(uint8_t *p, size_t pixels, int bpp); // pixel k <-> pixel n-1-k
void mirrorRows(uint8_t *p, int w, int h, int bpp);     // each row left to right
void flipRows(uint8_t *p, int h, size_t rowBytes);      // row y <-> row h-1-y

// Orientation of the copy into the caller's buffer.
enum class Orientation { AsIs, Rotate180, Mirror, BottomUp };
Orientation orientationFromFlags(int flags);

// Applies an orientation in place to a packed picture.
void orientInPlace(uint8_t *p, int w, int h, int bpp, Orientation o);

// Copies a picture with rows of srcLinesize bytes into packed dst, applying the orientation.
// With weave, the first ceil(h/2) rows of src are the first field and go to lines 0, 2, 4...,
// the remaining rows to lines 1, 3, 5..., and the orientation applies to the woven picture.
void copyOriented(const uint8_t *src, int srcLinesize, uint8_t *dst, int w, int h, int bpp, Orientation o,
                  bool weave);

} // namespace decoder_ops
