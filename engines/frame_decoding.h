// What both playback engines do with one compressed video frame on a channel's video thread:
// the channel's decoder, the decode with its bounded key-frame retry, the picture that the
// application gets (a copy that owns its pixels), and the pacing sleep.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "decoder/decoder.h"
#include "engines/engine_delegate.h"
#include "engines/picture_pool.h"

// Size of an engine's working picture: one 1920 x 1080 picture, 4 bytes per pixel.
constexpr size_t kEngineRawImageBufferSize = 1920u * 1080u * 4u;
// A key frame the decoder refuses is tried this many times in all.
constexpr int kEngineKeyFrameDecodeAttempts = 3;
// A pacing delay above this (after the speed division) is not slept: a gap in the recording.
constexpr uint64_t kEngineMaxPacingDelayUs = 4500000;

// The monotonic clock in nanoseconds.
uint64_t engineMonotonicNanoseconds();

// A fresh decoder for the codec (1 MPEG-4 Part 2, 2 H.264, 3 Motion JPEG) with RGBA output, or
// null (logged) when it cannot be opened; the channel's frames are then dropped.
_Decoder *engineOpenVideoDecoder(int channel, int codec);
// Releases the decoder, if any, and clears the pointer.
void engineCloseVideoDecoder(_Decoder *&decoder);

struct EngineDecodedFrame {
    int result = 0; // Decoder_Decode's result of the last attempt
    int streamW = 0, streamH = 0, outW = 0, outH = 0;
};

// Decodes one frame into out (capacity bytes). The target size is asked for before every
// attempt (0 x 0 = the stream's size). A key frame that gives no picture is decoded again with
// the same data, kEngineKeyFrameDecodeAttempts times in all (the decoder may need it more than
// once); any other frame is tried once.
EngineDecodedFrame engineDecodeVideoFrame(_Decoder *decoder, const uint8_t *payload, uint32_t length,
                                          bool keyFrame, int flags,
                                          const std::function<void(int &w, int &h)> &targetSize, uint8_t *out,
                                          size_t capacity);

// After a successful decode: stores the stream size where the application wants it and labels
// the picture with the size the decoder produced for this very frame.
void engineLabelDecodedPicture(EngineDelegate &delegate, const EngineDecodedFrame &frame,
                               std::atomic<int> *streamWidth, std::atomic<int> *streamHeight);
// engineLabelDecodedPicture, then a copy of the working picture that owns its pixels. Null
// (logged) when no picture could be made.
VideoImageRef engineDeliverablePicture(EngineDelegate &delegate, PictureBufferPool &pool,
                                       const EngineDecodedFrame &frame, const uint8_t *pixels,
                                       std::atomic<int> *streamWidth, std::atomic<int> *streamHeight);

// Sleeps the pacing delay on the calling thread; ends early when `interrupt` answers true or the
// calling playback thread is cancelled. 0 sleeps not at all.
void enginePacingSleep(uint64_t waitUs, const std::function<bool()> &interrupt);
