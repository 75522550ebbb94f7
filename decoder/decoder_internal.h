#pragma once
// Shared inside the decoder library (and by its tests): not part of the public interface.

#include "decoder/decoder.h"

namespace decoder_internal {

// FFmpeg pixel format and bytes per pixel of an output format code 1..10.
bool outputFormat(int code, int *pixFmt, int *bytesPerPixel);

// A scaler from source to destination; full-range YUV sources are taken as such.
SwsContext *makeScaler(int srcW, int srcH, int srcFmt, int dstW, int dstH, int dstFmt, int swsFlags);

// The picture the last successful Decoder_Decode handed to the scaler (after field assembly,
// line doubling or deinterlacing), valid until the next call on the record.
struct SourceView {
    const uint8_t *data[4];
    int linesize[4];
    int width, height, format;
};
bool lastSource(const _Decoder *dec, SourceView *view);

} // namespace decoder_internal
