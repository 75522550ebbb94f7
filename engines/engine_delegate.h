// The contract between the playback engines and the application.
//
// The engines call an EngineDelegate from their own threads (parser, per-channel video threads,
// audio thread, AVC index thread); the thread of each operation is noted beside it. An
// implementation must therefore make every operation safe to call from a thread other than the
// GUI thread, and must never block waiting for the GUI thread inside one: whatever it changes in
// windows or controls it posts to the GUI thread itself.
//
// What the engines themselves queue to the GUI thread goes through MainThreadPoster; the engines
// never wait for a posted task to run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "recorderfile/recorder_time.h"

// A decoded picture. It owns its pixels: the application may keep it, and show it later on any
// thread; the engine never writes to a picture once it has been delivered.
// Pixels are 4 bytes each in the order R, G, B, X (the fourth byte carries no alpha and is to be
// ignored); rows are packed, bytesPerRow = width * 4, top row first.
class VideoImage {
  public:
    virtual ~VideoImage() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    int bytesPerRow() const { return width() * 4; }
    size_t byteCount() const { return static_cast<size_t>(bytesPerRow()) * static_cast<size_t>(height()); }
    virtual const uint8_t *pixels() const = 0;
};
using VideoImageRef = std::shared_ptr<const VideoImage>;

// Queues work to the application's GUI thread without waiting for it.
class MainThreadPoster {
  public:
    virtual ~MainThreadPoster() = default;
    virtual void postToMainThread(std::function<void()> task) = 0;
};

class EngineDelegate {
  public:
    virtual ~EngineDelegate() = default;

    // ---- File and channel choice (parser threads) ----

    // DV parsers, at start: the path of the file to read.
    virtual std::string absoluteFilePath() = 0;
    // DV4 parsers, at the first audio header: channel 1 becomes the selected audio channel.
    virtual void setICurrentSelectedAudioCH(int channel1Based) = 0;
    // DV5 parsers, AVC engine: selected audio channel, 1-based, 0 = none.
    virtual int iCurrentSelectedAudioCH() = 0;
    // All parsers: a channel's (0-based) audio format, once per channel at its first audio unit.
    virtual void setAudioProcessorWithChannel(unsigned channel, int audioFormat) = 0;
    // DV5 parsers, AVC engine: true when this channel (0-based) is to be decoded and shown.
    virtual bool checkNeedDecodeForMultiCHs(uint8_t channel) = 0;
    // AVC engine: a channel's video codec (1 MPEG-4 Part 2, 2 H.264, 3 Motion JPEG), once per channel.
    virtual void setAVCFmtVdoIdxForAVIBuilder(int videoCodec) = 0;

    // ---- Audio (audio thread) ----

    // One encoded audio payload (valid only during the call), its length in bytes, its
    // enAudioFormat and channel (0-based; always 0 for DV4).
    virtual void audioUpdateTaskWithBuffer(const uint8_t *buffer, unsigned streamLength, int audioFormat,
                                           unsigned channel) = 0;

    // ---- Video (the channel's video thread), read or sent per frame ----

    virtual bool videoFlipImageFlag() = 0;
    virtual bool videoDeinterlaceFlag() = 0;
    // The deinterlace button is enabled while the frames are coded as two fields.
    virtual void setDeinterlaceEnableBtnEnabled(bool enabled) = 0;
    // Target picture size of the decoder; 0 = the stream's own size.
    virtual float decoderTargetWidth() = 0;
    virtual float decoderTargetHeight() = 0;
    // Size of the picture just produced.
    virtual void setImageRealWidth(int width) = 0;
    virtual void setImageRealHeight(int height) = 0;
    virtual int imageRealWidth() = 0;
    virtual int imageRealHeight() = 0;
    // One decoded picture of `channel` (0-based), sent before the engine's pacing sleep.
    // `buffer`/`length`: the compressed frame, valid only during the call. `interval`:
    // microseconds since the channel's previous frame. `sysTime`: the frame's recorder time.
    virtual void videoUpdateTaskWithChannel(unsigned channel, VideoImageRef image, const uint8_t *buffer,
                                            unsigned length, bool isIFrame, unsigned interval,
                                            const _SYSTEMTIME &sysTime) = 0;
    // Parser threads: a jump's landing ended without a picture of `channel` (0-based) at its
    // moment (the channel has nothing there): its tile shows none until the channel's next one.
    virtual void showNoPictureOfChannel(unsigned channel) { (void)channel; }

    // ---- Time, progress and end (parser threads, unless noted) ----

    virtual void setSys_Time(const _SYSTEMTIME &sysTime) = 0;
    // Recorder time as "%04d/%02d/%02d %02d:%02d:%02d" and the progress in per cent.
    virtual void updateProcessingInfoWithServerTime(const std::string &serverTime, float progress) = 0;
    // GUI thread (posted by the engines): progress in per cent (the AVC engine sends whole numbers).
    virtual void upadatePlaybackProgress(float percent) = 0;
    // DV parser thread: the file has been played to its end.
    virtual void setDVFmtProcessingInfoAtEndOfProcessing() = 0;
    // GUI thread (posted): the AVC file reached its end, or a rewind reached the first frame.
    virtual void setAVCFmtProcessingInfoAtEndOfProcessing() = 0;

    // ---- AVC status (AVC parser thread, video threads) ----

    virtual int enAVCFmtPlaybackStatus() = 0;
    virtual void setEnAVCFmtPlaybackStatus(int status) = 0;
    virtual void setPlaybackTriState(uint8_t state) = 0;
    // Once per file: 16 slots of 64 bytes (slot n for channel n+1), or nullptr for no titles.
    virtual void setDevChannelTitle(const char *titles) = 0;
    // AVC index thread: the text of the server-time label ("Creating .idx file %3d%%").
    virtual void setServerTimeLabelText(const std::string &text) = 0;
};
