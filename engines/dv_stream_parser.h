// The unit scanner shared by the four DV parser threads.
//
// A DV file is a plain sequence of stream units without an index: a small header that begins
// with a start code, then its payload. The scanner walks the file through the engine's
// two-buffer window, recognises the headers, finds where each payload ends (DV4 by counting its
// bytes up to the next header, DV5 from the length its header carries), and when the next
// header of the same kind arrives copies the finished payload into a frame record and hands it
// to the host. It also serves the seek, stop and close requests posted in the gDVFmt… flags,
// reports progress and recorder time, and handles the end of the file.
//
// The scanner runs on one thread (the engine's parser thread). The host is the engine; tests,
// the fuzz target and the benchmark supply their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "engines/dv_data_feed.h"
#include "engines/dv_records.h"
#include "engines/engine_delegate.h"
#include "engines/seek_landing.h"

enum class DVVariant {
    DV4H264,  // DV4 with H.264 video
    DV4MPEG4, // DV4 with MPEG-4 Part 2 video
    DV5NVR,   // DV5, NVR layout
    DV5DVR,   // DV5, DVR "700" layout
};

// Largest DV5 extension block taken as real; a header that announces more is damaged.
constexpr uint32_t kDV5MaxExtensionLength = 1048576;

// What the scanner needs from the engine.
class DVParserHost {
  public:
    virtual ~DVParserHost() = default;
    // Key-frame mark of the frame about to be handed off (read by the video decoding).
    virtual void setKeyFrameMark(bool key) = 0;
    virtual bool keyFrameMark() const = 0;
    // Makes the channel's decoder for `codec` unless it was made since the last reset.
    virtual void prepareVideoDecoder(int channel, int codec) = 0;
    // Whether the channel's audio format has been announced since the last reset; and its
    // announcement (the format is kept for the audio hand-offs).
    virtual bool audioFormatAnnounced(int channel) const = 0;
    virtual void setAudioFormat(int channel, int format) = 0;
    // Synchronous hand-offs; they return when the frame has been dealt with (false: dropped).
    // Video: true when the frame gave a picture (a host that decodes nothing: when it took it).
    virtual bool handOffVideo(DVVideoSelector selector, const void *record) = 0;
    // How the next video frame handed off is used: during a paused seek's landing a channel's
    // first picture is shown unpaced and its later frames are only decoded.
    virtual void setLandingUse(LandingFrame use) { (void)use; }
    virtual bool handOffAudio(DVAudioSelector selector, const void *record) = 0;
    // Recorder date of the last decoded frame.
    virtual _SYSTEMTIME frameTime() const = 0;
    // Releases every decoder and forgets every channel's stream types (at each restart).
    virtual void resetStreams() = 0;
    // Queues a progress report to the application's main thread.
    virtual void postProgress(float percent) = 0;
    // Sleeps, ending early on a close request.
    virtual void pause(std::chrono::microseconds duration) = 0;
    // Waits until frames are to flow again or a seek, stop or close is requested.
    virtual void waitForRequest() = 0;
    // Holds the scan where it stands, as a paused scan holds inside a hand-off: until frames are
    // to flow, a step is asked for, or a seek, stop or close.
    virtual void holdForRequest() { waitForRequest(); }
};

class DVStreamParser {
  public:
    enum class Exit { Closed, Ended };

    DVStreamParser(DVVariant variant, DataFeedController &window, DVParserHost &host,
                   EngineDelegate *delegate);
    ~DVStreamParser();
    DVStreamParser(const DVStreamParser &) = delete;
    DVStreamParser &operator=(const DVStreamParser &) = delete;

    // Whether the frame records could be had; run() does nothing without them.
    bool ready() const { return videoRecord_ && audioRecord_; }

    // Scans from the window's read position. Returns on a close request; with `returnAtEnd`
    // also right after the end of the file has been dealt with. Otherwise the end of the file
    // rewinds to offset 0 and scanning goes on, the first hand-off waiting until frames flow.
    Exit run(bool returnAtEnd = false);

    // ---- Parts of run(), exposed for tests ----
    // One step of the scan at the read position (a run of ordinary bytes, a start code, or a
    // unit header).
    void scanStep();
    void seek();
    void stop();
    // The end-of-file sequence: the last pending frame, the end notice, the rewind.
    // The end-of-file sequence: false when a paused (or stopped) landing met the end and holds
    // there, reporting nothing yet.
    bool endOfFile();

    DVVariant variant() const { return variant_; }
    uint64_t videoStreamLength() const { return videoStreamLength_; }
    uint32_t keyFrameCount() const { return keyFrameCount_; }
    float lastProgress() const { return lastProgress_; }

  private:
    enum class ScanState { None, Video, Audio };

    bool isDV5() const { return variant_ == DVVariant::DV5NVR || variant_ == DVVariant::DV5DVR; }
    void restartState();
    void clearRecords();
    void advance(uint64_t length);
    // Reads `n` bytes from the read position (zeros past the end of the file); returns how
    // many of them are file bytes.
    uint32_t peek(uint8_t *dst, uint32_t n);
    void countBytes(uint64_t n);
    // Bytes from the read position, within the current buffer and the file, that cannot
    // begin a start code (0 when one begins here or the rest is too short to tell).
    uint64_t bytesBeforeStartCode() const;
    // Reports the read position as the progress.
    void postScanProgress();

    void scanStepH264();
    void scanStepMPEG4();
    void dv4PayloadStartCode(uint8_t type);
    void dv5PayloadStartCode(uint8_t type);
    void videoHeaderStep();
    void audioHeaderStep();
    void dv4VideoHeader();
    void dv5VideoHeader();
    void dv4AudioHeader();
    void dv5AudioHeader();
    // The pending video frame at a header: handed off or skipped, then the reports.
    void deliverPendingVideo(bool speedRuleApplies);
    // A seek's (or a DV5 stop's) landing (SeekLanding): whether it is under way; the pending
    // video frame's position in the landing's terms; the pending video frame met, true when it
    // belongs to the landing; the pending frame handed off as the landing uses it; the end of
    // the landing, after which a paused or stopped scan holds where it stands; the channels
    // whose pictures are wanted (bit n: channel n).
    bool landing() const;
    uint64_t pendingVideoPos() const;
    bool landingMeetsPendingVideo();
    void handOffPendingVideo(bool landingFrame);
    void finishLanding();
    uint16_t landingWanted() const;
    void reportAfterFrame();
    int announceAudioFormat(int channel, uint8_t code);
    bool handOffVideo();
    bool handOffAudio();

    // Seek helpers (backward scans inside the current buffer).
    bool seekFindH264KeyFrame(uint64_t from, uint64_t *spsAt);
    // Calls find(from, base, &keep) on windows that end at the target, then each lower than the
    // last (overlapping it by `keep` bytes), until it returns true, the start of the file or a
    // bounded read.
    template <typename Find> void scanBack(uint64_t target, Find find);
    void seekDV4H264(uint64_t target);
    void seekDV4MPEG4(uint64_t target);
    // A DV5 landing at `place` (a seek's target, or the read position), at `momentUs` (0: the
    // place's moment): the survey of the units around it and of the key frames before it, the
    // restart at the earliest key frame, and the landing's plan.
    void landDV5(uint64_t place, uint64_t momentUs);
    // The DV5 video units from `from` on, in file order, across windows, reading at most
    // `maxBytes` past it: visit(header offset, payload offset, header bytes, key frame) until it
    // returns false. True when the end of the file was reached.
    template <typename Visit> bool walkDV5Units(uint64_t from, uint64_t maxBytes, Visit visit);
    // The key frames before `target`, backwards, for the channels the survey has none for.
    void keysBeforeDV5(uint64_t target, MomentSurvey &survey);
    // A DV5 video unit header at buffer offset `o` of `buf` (`len` bytes) whose payload, in
    // the buffer, begins with a start code: where that payload starts and how long it is.
    bool dv5VideoUnitAt(const uint8_t *buf, uint64_t len, uint64_t o, uint64_t *payload,
                        uint32_t *payloadLen) const;
    // A landing at the moment on screen (the last picture shown), from where the scan stands.
    void landOnScreen();
    void forgetMomentOnScreen();
    // The landing begun (landing_) from the scan's restart, with `place` where its bound on bytes
    // counts from; frames flow through it when `flowing`.
    void beginLanding(uint64_t place, bool flowing);
    struct HeaderCache {
        bool valid = false;
        uint64_t searchedFrom = 0; // a search from here down found `header` (or nothing)
        bool found = false;
        uint64_t header = 0;
    };
    bool findDV5UnitHolding(uint64_t payloadAt, HeaderCache &cache, uint64_t *headerAt,
                            uint64_t *payloadStart) const;
    void restartAt(uint64_t offset);

    // Record fields.
    uint32_t videoLen() const;
    void setVideoLen(uint32_t len);
    uint32_t audioLen() const;
    void setAudioLen(uint32_t len);
    int videoChannel() const;
    int audioChannel() const;

    const DVVariant variant_;
    DataFeedController &window_;
    DVParserHost &host_;
    EngineDelegate *const delegate_;
    const DVVideoSelector videoSelector_;
    const DVAudioSelector audioSelector_;
    const DVVideoRecordLayout &videoLayout_;
    const DVAudioRecordLayout &audioLayout_;
    const int videoHeaderLen_; // bytes of a video unit header (without a DV5 extension block)
    const int audioHeaderLen_;

    std::unique_ptr<uint8_t[]> videoRecord_;
    std::unique_ptr<uint8_t[]> audioRecord_;

    ScanState state_ = ScanState::None;
    uint64_t videoStreamLength_ = 0;
    uint64_t audioCount_ = 0;
    uint32_t keyFrameCount_ = 0;
    float lastProgress_ = 0;
    // Hand-offs since the last restart.
    uint64_t handOffs_ = 0;
    // A video frame ended by the next header has been met since the read last began at the
    // start of the file.
    bool wholeVideoSeen_ = false;
    // DV5: where the pending video payload lies; the end is 0 once it has been stepped over.
    uint64_t payloadStart_ = 0;
    uint64_t payloadEnd_ = 0;
    // DV4: where the pending video unit's header lies.
    uint64_t videoHeaderAt_ = 0;
    // Recorder time of the last picture shown: the moment on screen.
    uint64_t shownUs_ = 0;
    // A frame was passed over at a key-frames-only speed since the last restart.
    bool passedOverAtSpeed_ = false;
    // Read position when the progress was last reported.
    uint64_t quietFrom_ = 0;
    SeekLanding landing_;
    // The place the landing reads to (its bound on bytes counts from there); a landing has ended
    // and the scan is to hold.
    uint64_t landingFrom_ = 0;
    bool holdPending_ = false;
    // The landing is a stop's: it holds at the start when it ends; it has just ended so.
    bool stopLanding_ = false;
    bool stoppedAtStart_ = false;
};
