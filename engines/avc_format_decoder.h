// The per-frame work of the AVC engine, done on its playback threads: one decoder per channel,
// the decode of a video frame into the working picture, delivery of the picture (which owns its
// pixels) and of audio payloads to the EngineDelegate, and the pacing sleep that
// follows each delivery. The parser's reader waits for every hand-off, so these sleeps are what
// pace the file: each channel follows its frames' millisecond time stamps, divided at the fast
// forward and rewind speeds.
//
// Threads: the selectors run on the playback threads, one at a time (the reader hands frames
// over one by one and waits); the decoder and time-slot operations run on whichever thread has
// the turn (the reader between hand-offs, the application from inside its video callback, the
// main thread while no file is open). That rule, not a lock, keeps the state below consistent.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "decoder/decoder.h"
#include "engines/engine_controls.h"
#include "engines/engine_delegate.h"
#include "engines/frame_decoding.h"
#include "engines/picture_pool.h"
#include "engines/seek_landing.h"
#include "recorderfile/avc_format.h"

// One video frame handed to a channel's video thread; valid for the length of the hand-off.
struct AVCVideoHandOff {
    const HEADER_AVC *header;
    const char *bitstream;
    // What the frame is for during a paused seek's landing.
    LandingFrame use = LandingFrame::None;
};

// One audio frame handed to the audio thread, with the channel's enAudioFormat.
struct AVCAudioHandOff {
    const HEADER_AVC *header;
    const char *bitstream;
    int audioFormat;
};

class AVCFormatDecoder {
  public:
    AVCFormatDecoder() = default;
    ~AVCFormatDecoder();
    AVCFormatDecoder(const AVCFormatDecoder &) = delete;
    AVCFormatDecoder &operator=(const AVCFormatDecoder &) = delete;

    EngineDelegate *appDelg() const { return appDelg_; }
    void setAppDelg(EngineDelegate *delegate) { appDelg_ = delegate; }
    std::atomic<int> *pImageWidthFromStream() const { return pImageWidthFromStream_; }
    void setPImageWidthFromStream(std::atomic<int> *width) { pImageWidthFromStream_ = width; }
    std::atomic<int> *pImageHeightFromStream() const { return pImageHeightFromStream_; }
    void setPImageHeightFromStream(std::atomic<int> *height) { pImageHeightFromStream_ = height; }

    // A fresh decoder for the channel (0-based; codec 1 MPEG-4 Part 2, 2 H.264, 3 Motion JPEG),
    // its time slots zeroed. False when it cannot be opened: the channel then has none and its
    // frames are dropped.
    bool initVideoDecoderWithThreadIndex(int channel, int videoCodec);
    // Releases every channel's decoder and zeroes its time slots, except channel1Based - 1
    // (0 = none excepted).
    void deinitVideoDecoderWithExceptCH(unsigned channel1Based);
    bool hasVideoDecoder(int channel) const;
    // Zeroes every time slot of every channel.
    void resetTime();

    // Makes the working picture anew / releases it.
    void allocRawImageBuffer();
    void deallocRawImageBuffer();
    bool hasRawImageBuffer() const { return !pRawImageBuffer_.empty(); }

    // The frame's display date and time (year to second) become the time of the next picture.
    void setServerSystemTime(const HEADER_AVC *header);
    const _SYSTEMTIME &sysTime() const { return sysTime_; }

    // Video: decode, deliver, sleep (a landing's frames: see LandingFrame). Runs on the
    // channel's video thread. True when a picture was delivered.
    bool avcVideoDecodeSelector(const AVCVideoHandOff &frame);
    // Audio: deliver, sleep. Runs on the audio thread.
    void avcAudioDecodeSelector(const AVCAudioHandOff &frame);

    // While set, pacing sleeps end at once (a close is waiting for the reader).
    void setPacingInterrupted(bool interrupted) { pacingInterrupted_.store(interrupted); }
    // Every channel's pacing starts afresh (Play after a stop, a change of speed or direction, a
    // step): a sleep under way ends, and no channel's next frame waits for the step from the one
    // before. Any thread.
    void restartPacing() { pacingEpoch_.fetch_add(1); }

    // The last picture delivered, as it is handed to the delegate and before its pacing: the
    // moment on screen (its time stamp in microseconds) and its record number; 0 before one.
    // Any thread.
    uint64_t shownUs() const { return shownUs_.load(); }
    unsigned long shownNumber() const { return shownNumber_.load(); }
    void forgetShown() {
        shownUs_ = 0;
        shownNumber_ = 0;
    }

  private:
    void zeroTimeSlots(int channel);
    // On the thread whose turn it is: the time slots zeroed after a restartPacing; the epoch
    // whose change ends the coming sleep.
    unsigned freshPacing();

    EngineDelegate *appDelg_ = nullptr;
    std::atomic<int> *pImageWidthFromStream_ = nullptr;
    std::atomic<int> *pImageHeightFromStream_ = nullptr;
    std::array<_Decoder *, kEngineChannelCount> pFFMpegDecoderHandle_{};
    // Time stamps in milliseconds from the frame headers, monotonic clock readings in
    // nanoseconds; 0 = unset.
    std::array<uint64_t, kEngineChannelCount> prevFrameTimeSubCH_{}, currFrameTimeSubCH_{};
    std::array<uint64_t, kEngineChannelCount> prevFrameAbsoluteTimeSubCH_{}, currFrameAbsoluteTimeSubCH_{};
    std::array<uint64_t, kEngineChannelCount> prevAudioDataTimeSubCH_{}, currAudioDataTimeSubCH_{};
    std::array<uint64_t, kEngineChannelCount> prevAudioDataAbsoluteTimeSubCH_{},
        currAudioDataAbsoluteTimeSubCH_{};
    _SYSTEMTIME sysTime_{};
    // The decoder's working picture: kEngineRawImageBufferSize bytes at open, then sized before
    // every decode to the coming picture, which takes it over; the next comes from the pool.
    // Either way the application owns what it gets.
    std::vector<uint8_t> pRawImageBuffer_;
    std::array<EnginePictureSize, kEngineChannelCount> lastPicture_{};
    PictureBufferPool picturePool_;
    std::atomic<bool> pacingInterrupted_{false};
    std::atomic<unsigned> pacingEpoch_{0};
    unsigned pacingEpochSeen_ = 0;
    std::atomic<uint64_t> shownUs_{0};
    std::atomic<unsigned long> shownNumber_{0};
};

// The speed of an AVC status as a shift of the pacing step: 1, 2, 3 or 4 (2x to 16x) at the fast
// forward (1..4) and rewind (6..9) speeds; 0 (1x) at any other status.
int avcPacingShiftAtStatus(int status);
