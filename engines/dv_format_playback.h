// The playback engine of DV4 and DV5 recordings.
//
// One object lives for the whole process and is reused for every DV file. Per file it runs one
// parser thread, which reads the file through a two-buffer window and hands every frame
// synchronously to one of 16 per-channel video threads or to the audio thread; those decode,
// deliver to the EngineDelegate and pace the file by the frames' time stamps. The application
// steers it through the gDVFmt… flags (engine_controls.h).
//
// Threads: the application calls the create/cancel/reset operations on its main thread; the
// parser calls the decoder and window operations on its own thread; the selectors run on the
// playback threads. At most one of the parser and the playback threads works at a time (every
// hand-off is waited for), which is what lets them share the per-channel state below without
// locks. The thread slots themselves are guarded.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "decoder/decoder.h"
#include "engines/dv_data_feed.h"
#include "engines/dv_records.h"
#include "engines/dv_stream_parser.h"
#include "engines/engine_controls.h"
#include "engines/engine_delegate.h"
#include "engines/frame_decoding.h"
#include "engines/picture_pool.h"
#include "engines/run_loop_thread.h"
#include "recorderfile/recorder_time.h"

// Size of the picture buffer: one 1920 x 1080 picture, 4 bytes per pixel.
constexpr size_t kDVRawImageBufferSize = kEngineRawImageBufferSize;
// A key frame the decoder refuses is tried this many times in all.
constexpr int kDVKeyFrameDecodeAttempts = kEngineKeyFrameDecodeAttempts;

class DVFormatPlayback : private DVParserHost {
  public:
    DVFormatPlayback();
    ~DVFormatPlayback() override;
    DVFormatPlayback(const DVFormatPlayback &) = delete;
    DVFormatPlayback &operator=(const DVFormatPlayback &) = delete;

    // ---- Set up by the application ----
    EngineDelegate *appDelg() const { return appDelg_; }
    void setAppDelg(EngineDelegate *delegate) { appDelg_ = delegate; }
    MainThreadPoster *mainThreadPoster() const { return poster_; }
    void setMainThreadPoster(MainThreadPoster *poster) { poster_ = poster; }
    // 0 DV4 with H.264, 1 DV4 with MPEG-4 Part 2, 2 DV5.
    int dvFmtVideoCodec() const { return dvFmtVideoCodec_; }
    void setDvFmtVideoCodec(int codec) { dvFmtVideoCodec_ = codec; }
    bool isDVRType700() const { return isDVRType700_; }
    void setIsDVRType700(bool dvr700) { isDVRType700_ = dvr700; }
    // Where every decoded frame's stream size is stored (the application's fields).
    std::atomic<int> *pImageWidthFromStream() const { return pImageWidthFromStream_; }
    void setPImageWidthFromStream(std::atomic<int> *width) { pImageWidthFromStream_ = width; }
    std::atomic<int> *pImageHeightFromStream() const { return pImageHeightFromStream_; }
    void setPImageHeightFromStream(std::atomic<int> *height) { pImageHeightFromStream_ = height; }

    // ---- Threads (main thread) ----
    // Each start fills only empty slots and answers whether the slot (the video operation:
    // channel 1's) now holds a thread. A parser thread that has ended by itself is joined and
    // replaced. A dvFmtVideoCodec outside 0..2 makes no parser thread.
    bool createDVFmtVideoPlaybackThread();
    bool createDVFmtAudioPlaybackThread();
    bool createDVFmtParserThread();
    bool isDVFmtParserThreadExecuting() const;
    bool isDVFmtVideoPlaybackThreadExecuting(int channel) const;
    bool isDVFmtAudioPlaybackThreadExecuting() const;
    // Empties the slot and ends the thread. A parser still running is asked to leave first
    // (force-exit and keep-running raised). Called on the parser thread itself, the parser is
    // left to finish and is joined at the next start instead.
    void cancelDVFmtParserThread();
    void cancelDVFmtVideoPlaybackThread(int channel);
    void cancelDVFmtAudioPlaybackThread();
    // All of the above.
    void cancelAllThreads();

    // ---- Stream types and decoders ----
    // Forget every channel's video and audio stream type (before a new file, at restarts).
    void resetAVStreamType();
    // channel1Based: every other channel's video stream type is forgotten (audio untouched).
    void resetVideoStreamTypeWithExceptCH(int channel1Based);
    // After the pane layout changed: release every other channel's decoder and video type.
    // Called by the delegate from inside its video callback.
    void resetParamsWithExceptCH(int channel1Based);
    void resetAudioTimeForFastForwardAction();
    // Releases every channel's decoder and zeroes its time slots.
    void deinitVideoDecoder();
    void deinitVideoDecoderWithExceptCH(int channel1Based);
    // Makes a fresh decoder for the channel (0-based; codec 1 MPEG-4 Part 2, 2 H.264) with RGBA
    // output. When the decoder cannot be opened the channel has none and its frames are dropped.
    // Returns whether the channel now has a decoder.
    bool initVideoDecoderWithThreadIndex(int channel, int videoCodec);
    bool hasVideoDecoder(int channel) const;

    // ---- The file window (parser thread) ----
    // Opens the file; false when it cannot be opened (the window is then empty).
    bool initDataFeedControllerWith(const std::string &path);
    void releaseDataFeedController();
    DataFeedController &dataFeedController() { return *dataFeedController_; }

    // Frees and makes anew the picture buffer; answers whether there was one before.
    bool reallocateRawImageBuffer();

    // ---- Hand-offs (parser thread) ----
    // Runs the record's video selector on the video thread of the record's channel (DV4:
    // channel 0) and waits until it returns. False, with nothing delivered, when the channel
    // is above 15 or its thread is missing or cancelled.
    bool handOffVideoFrame(DVVideoSelector selector, const void *record);
    // The same for audio, on the audio thread.
    bool handOffAudioFrame(DVAudioSelector selector, const void *record);
    // Queues a progress report (per cent) to the application's main thread; never waits.
    void postPlaybackProgress(float percent);

    // How a video selector sleeps out its pacing delay, ending early when `interrupted` answers
    // true (a close, a jump, a new speed) or the thread is cancelled. A benchmark replaces it to
    // measure unpaced throughput. Set it while no file plays.
    using Pacer = std::function<void(std::chrono::microseconds, const std::function<bool()> &interrupted)>;
    void setPacer(Pacer pacer) { pacer_ = std::move(pacer); }

    // ---- Selectors (playback threads; callable directly) ----
    void dv4VideoPlaybackForH264Selector(const void *record);
    void dv4VideoPlaybackForMPEG4Selector(const void *record);
    void dv5VideoPlaybackForH264Selector(const void *record);
    void dv5DVRVideoPlaybackForH264Selector(const void *record);
    void dv4AudioPlaybackForH264Selector(const void *record);
    void dv4AudioPlaybackForMPEG4Selector(const void *record);
    void dv5AudioPlaybackForH264Selector(const void *record);
    void dv5DVRAudioPlaybackForH264Selector(const void *record);
    void runVideoSelector(DVVideoSelector selector, const void *record);
    void runAudioSelector(DVAudioSelector selector, const void *record);

    // ---- Parser thread bodies, one per file variant ----
    void threadDV4ParserForH264Selector();
    void threadDV4ParserForMPEG4Selector();
    void threadDV5ParserForH264Selector();
    void threadDV5DVRParserForH264Selector();

    // ---- State shared by the parser and the selectors (see the hand-off rule above) ----
    std::array<_Decoder *, kEngineChannelCount> pFFMpegDecoderHandle{};
    // Per channel: 0 not yet seen, 1 MPEG-4 Part 2, 2 H.264.
    std::array<int, kEngineChannelCount> videoCodec{};
    // Per channel: enAudioFormat, 0 not yet seen.
    std::array<int, kEngineChannelCount> audioCodec{};
    std::array<uint8_t, kEngineChannelCount> hadInitVideoDecoderFlag{};
    std::array<uint8_t, kEngineChannelCount> hadInitAudioDecoderFlag{};
    // Key-frame mark of the frame being handed off (written by the parser).
    uint8_t isIFrame = 0;
    _tagNtpTime ntpTime{};
    // Date of the last decoded frame of any channel; the parser reads it after the hand-off.
    _SYSTEMTIME sysTime{};
    // Time slots: stamps in microseconds, monotonic clock readings in nanoseconds; 0 = unset.
    std::array<uint64_t, kEngineChannelCount> prevFrameTimeSubCH{}, currFrameTimeSubCH{};
    std::array<uint64_t, kEngineChannelCount> prevFrameAbsoluteTimeSubCH{}, currFrameAbsoluteTimeSubCH{};
    // The speed step each channel's last picture was paced at.
    std::array<int, kEngineChannelCount> shownAtSpeedSubCH{};
    std::array<uint64_t, kEngineChannelCount> prevAudioDataTimeSubCH{}, currAudioDataTimeSubCH{};
    std::array<uint64_t, kEngineChannelCount> prevAudioDataAbsoluteTimeSubCH{},
        currAudioDataAbsoluteTimeSubCH{};
    // The decoder's working picture: kDVRawImageBufferSize bytes at the parser's start, then
    // sized before every decode to the coming picture, which takes it over (the next comes
    // from the picture pool).
    std::vector<uint8_t> pRawImageBuffer;

  private:
    struct ParserThread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> ended;
    };

    void zeroTimeSlots(int channel);
    void releaseDecoder(int channel);
    std::shared_ptr<RunLoopThread> videoThread(int channel) const;
    std::shared_ptr<RunLoopThread> audioThread() const;
    std::shared_ptr<RunLoopThread> makePlaybackThread(const std::string &name);
    void joinEndedParserThread();
    bool onParserThread() const;
    void parserThreadMain(void (DVFormatPlayback::*body)());
    // The parser loop's common start and its close request.
    bool parserThreadStart(bool logBufferRelease);
    void parserThreadLeave();
    void runParser(DVVariant variant);

    // DVParserHost: what the unit scanner asks of the engine (parser thread).
    void setKeyFrameMark(bool key) override { isIFrame = key ? 1 : 0; }
    bool keyFrameMark() const override { return isIFrame != 0; }
    void prepareVideoDecoder(int channel, int codec) override;
    bool audioFormatAnnounced(int channel) const override;
    void setAudioFormat(int channel, int format) override;
    bool handOffVideo(DVVideoSelector selector, const void *record) override;
    void setLandingUse(LandingFrame use) override { landingUse_ = use; }
    bool handOffAudio(DVAudioSelector selector, const void *record) override {
        return handOffAudioFrame(selector, record);
    }
    _SYSTEMTIME frameTime() const override { return sysTime; }
    void resetStreams() override;
    void postProgress(float percent) override { postPlaybackProgress(percent); }
    void pause(std::chrono::microseconds duration) override;
    void waitForRequest() override;
    void holdForRequest() override;

    EngineDelegate *appDelg_ = nullptr;
    MainThreadPoster *poster_ = nullptr;
    int dvFmtVideoCodec_ = kDVFmtDV4H264;
    bool isDVRType700_ = false;
    std::atomic<int> *pImageWidthFromStream_ = nullptr;
    std::atomic<int> *pImageHeightFromStream_ = nullptr;
    std::unique_ptr<DataFeedController> dataFeedController_;
    PictureBufferPool picturePool_;
    // Per channel: the size of the picture its decoder produced last (sizes the working picture).
    std::array<EnginePictureSize, kEngineChannelCount> lastPicture_{};
    Pacer pacer_;
    // Set by the parser for the frame it hands off next, and whether that frame gave a picture
    // (set by its selector): the hand-off rule keeps them consistent.
    LandingFrame landingUse_ = LandingFrame::None;
    bool pictureShown_ = false;

    mutable std::mutex threadsMutex_;
    ParserThread gDVFmtParserThread_;
    // A parser that was cancelled from its own thread; joined at the next start.
    ParserThread endedParserThread_;
    std::array<std::shared_ptr<RunLoopThread>, kEngineChannelCount> gDVFmtVideoPlaybackThread_;
    std::shared_ptr<RunLoopThread> gDVFmtAudioPlaybackThread_;
};
