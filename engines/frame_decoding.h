// What both playback engines do with one compressed video frame on a channel's video thread:
// the channel's decoder, the decode with its bounded key-frame retry into storage sized to the
// coming picture, the picture that the application gets (it owns its pixels), and the pacing
// sleep.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "decoder/decoder.h"
#include "engines/engine_delegate.h"
#include "engines/picture_pool.h"

// The largest picture an engine decodes: 1920 x 1080, 4 bytes per pixel.
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
    // It failed, and the channel's decoder gave a picture (or was made) since its last failure: a
    // fresh decoder fails on every frame before its first key frame, and a log line for each
    // would slow the channels that decode, so a run of failures is logged once.
    bool firstFailure = false;
    int streamW = 0, streamH = 0, outW = 0, outH = 0;
};

// The size of the picture a channel's decoder produced last; 0 x 0 before its first picture.
// Reset whenever the channel's decoder is made or released.
struct EnginePictureSize {
    int width = 0;
    int height = 0;
    bool failing = false; // its last decode failed
};

// Bytes of the picture the decoder will produce with this target size: the target when both
// sides are 1 or more; with no target (0 x 0) the channel's last picture, which the decoder
// keeps while the stream does not change. 0 when that cannot be known beforehand.
size_t engineExpectedPictureBytes(int targetW, int targetH, const EnginePictureSize &last);

// Decodes one frame into `work`, which is sized before every attempt to the picture the decoder
// will produce (storage from `pool`; kEngineRawImageBufferSize bytes when the size cannot be
// known), so that the picture can take it over. The target size is asked for before every
// attempt (0 x 0 = the stream's size). A key frame that gives no picture is decoded again with
// the same data, kEngineKeyFrameDecodeAttempts times in all (the decoder may need it more than
// once, and a picture that outgrew its storage gets the full size on the next attempt); any
// other frame is tried once. `last` follows the pictures produced. Without `picture` the frame
// is decoded for the frames after it only (a landing's frames before its moment): no picture is
// made, and the target size, `work` and `last`'s size are not touched.
EngineDecodedFrame engineDecodeVideoFrame(_Decoder *decoder, const uint8_t *payload, uint32_t length,
                                          bool keyFrame, int flags,
                                          const std::function<void(int &w, int &h)> &targetSize,
                                          PictureBufferPool &pool, std::vector<uint8_t> &work,
                                          EnginePictureSize &last, bool picture = true);

// After a successful decode: stores the stream size where the application wants it and labels
// the picture with the size the decoder produced for this very frame.
void engineLabelDecodedPicture(EngineDelegate &delegate, const EngineDecodedFrame &frame,
                               std::atomic<int> *streamWidth, std::atomic<int> *streamHeight);
// engineLabelDecodedPicture, then the picture of `work` (see pictureFromWorkBuffer). Null
// (logged) when no picture could be made.
VideoImageRef engineDeliverablePicture(EngineDelegate &delegate, PictureBufferPool &pool,
                                       const EngineDecodedFrame &frame, std::vector<uint8_t> &work,
                                       std::atomic<int> *streamWidth, std::atomic<int> *streamHeight);

// The pacing delay of a video frame: the recording's step to it from the channel's previous
// frame, divided by the speed (shifted right by `speedShift`, 0 to 4 for 1x to 16x), less the
// time spent since the channel's previous picture, never below 0. The division comes first:
// with several channels that time holds the other channels' sleeps, which already run at the
// speed. A delay above kEngineMaxPacingDelayUs is a gap in the recording and is not slept (0).
uint64_t enginePacingDelayUs(uint64_t intervalUs, uint64_t elapsedUs, int speedShift);

// Sleeps the pacing delay on the calling thread; ends early when `interrupt` answers true or the
// calling playback thread is cancelled. 0 sleeps not at all.
void enginePacingSleep(uint64_t waitUs, const std::function<bool()> &interrupt);
