#pragma once
// Video frame decoder: one compressed MPEG-4 Part 2, H.264 or Motion JPEG frame in, one packed
// RGB picture of a chosen pixel format, size and orientation out.
//
// The caller owns the record: it allocates it zero-filled (`new _Decoder()` or calloc),
// calls Decoder_Init, Decoder_Decode for every frame of the channel and Decoder_Deinit at
// the end, then frees it. One record is used by one thread at a time; records are
// independent of each other, so many channels may decode at once on their own threads.

#include <cstddef>
#include <cstdint>

struct AVCodecContext;
struct AVCodec;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// Codec codes of Decoder_Init.
enum {
    DECODER_CODEC_MPEG4 = 1,
    DECODER_CODEC_H264 = 2,
    DECODER_CODEC_MJPEG = 3,
};

// Output format codes of Decoder_Init (bytes per pixel in brackets).
enum {
    DECODER_FMT_RGB24 = 1,    // R G B (3)
    DECODER_FMT_BGR24 = 2,    // B G R (3)
    DECODER_FMT_BGRA = 3,     // B G R A (4)
    DECODER_FMT_RGBA = 4,     // R G B A (4), what both playback engines use
    DECODER_FMT_RGB565LE = 5, // (2)
    DECODER_FMT_BGR565LE = 6, // (2)
    DECODER_FMT_RGB555LE = 7, // (2)
    DECODER_FMT_BGR555LE = 8, // (2)
    DECODER_FMT_ABGR = 9,     // A B G R (4)
    DECODER_FMT_ARGB = 10,    // A R G B (4)
};

// Decode flags (one byte). Without MIRROR, TOPDOWN or ROTATE180 the rows come out bottom-up.
enum {
    DECODER_FLAG_DEINTERLACE = 0x01,
    DECODER_FLAG_FIELDS = 0x04,     // the frame holds two fields: weave them, or line-double with DEINTERLACE
    DECODER_FLAG_MIRROR = 0x08,     // each row mirrored left to right, rows top-down
    DECODER_FLAG_TOPDOWN = 0x10,    // rows top-down, unchanged (wins over the other two)
    DECODER_FLAG_ROTATE180 = 0x20,  // turned by 180 degrees
    DECODER_FLAG_NO_PICTURE = 0x40, // decoded for the frames after it only: no picture is made
                                    // or written (out may be null, the sizes are not touched)
};

// Kinds of Decoder_SaveFrameToFile.
enum {
    DECODER_SAVE_JPEG = 1,
    DECODER_SAVE_PNG = 2,
};

// Orientation codes of Decoder_SaveFrameToFile (whole values, not bits).
enum {
    DECODER_SAVE_ROTATE180 = 0x08,
    DECODER_SAVE_MIRROR = 0x20,
    DECODER_SAVE_UPSIDE_DOWN = 0x10,
};

// The record. Its fields belong to the decoder library; callers only allocate it zeroed,
// pass it around and free it after Decoder_Deinit.
struct _Decoder {
    AVCodecContext *codecContext;
    const AVCodec *codec;
    AVFrame *decoded;      // the picture as the codec returned it
    AVFrame *output;       // the scaled picture, laid over outputBuffer (used when weaving)
    uint8_t *outputBuffer; // packed pixels of the output size and format, made when needed
    int streamWidth;       // of the last decoded picture
    int streamHeight;      // after the 1088 rule, doubled for a two-field frame
    int outputPixelFormat; // FFmpeg pixel format of the output
    int outputWidth;
    int outputHeight;
    int bytesPerPixel;
    int initialised;       // 1 after a successful Decoder_Init
    uint8_t *fieldBuffer;  // a picture of the stream size in the codec's pixel format
    AVFrame *fieldPicture; // laid over fieldBuffer
    int fieldProbe;        // how many more frames are searched for a field separator

    // Working state kept between frames.
    AVPacket *packet;
    SwsContext *scaler; // cached until source or output changes
    int scalerSrcW, scalerSrcH, scalerSrcFormat, scalerDstW, scalerDstH, scalerDstFormat;
    int streamPixelFormat; // the codec's pixel format for the stored stream size
    int fieldBufferW, fieldBufferH, fieldBufferFormat;
    // The picture the last successful decode handed to the scaler.
    const uint8_t *sourceData[4];
    int sourceLinesize[4];
};

// -> 1, or -1 for a NULL record, a codec outside 1..3, a format outside 1..10, or any FFmpeg
// failure (the record is then left zeroed). An initialised record is released first.
int Decoder_Init(_Decoder *dec, int codec, int outFormat);

// -> 1, or -1 for a NULL or never-initialised record. Releases everything the record holds;
// the record itself stays the caller's.
int Decoder_Deinit(_Decoder *dec);

// Bytes past the end of the picture that a caller's buffer may offer the scaler, whose vector
// code may write a few pixels past a row's end.
constexpr size_t kDecoderOutputSlack = 64;

// Decodes one frame (len bytes at data) and writes the picture to out, packed rows of
// outW x bytes-per-pixel bytes.
//  targetW, targetH: output size when both are 1 or more; 0 and 0 keep the last output size
//      (the stream size at first and after every change of the stream size).
//  flags: DECODER_FLAG_* bits.
//  streamW, streamH (may be NULL): the stream size after every decoded picture.
//  outCapacity: bytes available at out; a picture that would not fit is refused with -1. With
//      kDecoderOutputSlack bytes beyond the picture the scaler writes straight into out.
//  outW, outH (may be NULL): the size of the picture actually written.
// -> 1 picture written, 0 the codec needs more data, or
//   -1 bad arguments, uninitialised record, len below 1, or a picture larger than outCapacity
//   -2 the codec reported an error on the frame (or on its first field)
//   -3 the second field of a two-field frame gave no picture, or one that does not match the first
//   -4 deinterlacing failed
//   -5 no scaler could be made
//   -6 scaling failed
int Decoder_Decode(_Decoder *dec, const uint8_t *data, int len, int targetW, int targetH, int flags,
                   int *streamW, int *streamH, uint8_t *out, size_t outCapacity, int *outW, int *outH);

// Encodes a picture in dec's output pixel format (w x h, imageSize bytes, packed rows) into a
// JPEG (kind 1) or PNG (kind 2) file at path, turned by the orientation code, scaled to
// outW x outH when both are non-zero (fitted inside it on black padding when keepAspect).
// -> the number of bytes written, or -1.
int Decoder_SaveFrameToFile(_Decoder *dec, int kind, int orientation, const uint8_t *image, int imageSize,
                            int w, int h, int outW, int outH, int keepAspect, const char *path);

// Swaps bytes 0 and 2 of every 4-byte pixel (RGBA <-> BGRA) in place.
// -> 1, or -1 when buf is NULL, len is below 4 or not a multiple of 4.
int Decoder_Convert(uint8_t *buf, int len);
