// The playback engine of AVC recordings.
//
// One object lives for the whole process and is reused for every AVC file. Per file it opens
// the recording through the AVC parser, whose reader thread calls avc_callback with every
// frame: the engine sorts it by stream type into audio or video and hands it synchronously to
// the channel's video thread or to the audio thread, where its AVCFormatDecoder decodes, delivers
// and paces it; it reports progress, time, titles, the end of the file and the progress of the
// index build to the EngineDelegate, and passes the application's transport actions and seeks
// on to the parser.
//
// Threads: the application calls the create/open/close/action/seek operations on its main
// thread. avc_callback runs on the parser's reader thread (frames, the end) or index thread
// (index progress); the selectors run on the playback threads. The reader waits for every
// hand-off, so at most one of the reader and the playback threads works on the per-channel
// state at a time. The file handle and the seek flags are atomics; the thread slots are guarded.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engines/avc_format_decoder.h"
#include "engines/engine_controls.h"
#include "engines/engine_delegate.h"
#include "engines/run_loop_thread.h"
#include "recorderfile/avc_format.h"

// Size of the channel-title table handed to setDevChannelTitle: 16 slots of 64 bytes.
constexpr int kAVCTitleSlots = 16;
constexpr int kAVCTitleSlotSize = 64;

// Fills `table` (kAVCTitleSlots x kAVCTitleSlotSize bytes, cleared first) from a title text of
// `length` bytes: lines "<key>.Title=<name>\n" give their names to the slots in line order (the
// first line names channel 1). Every search stays within the text; a name is cut to 63 bytes so
// each slot keeps its terminating zero; a line without the marker is passed over; a name
// without its "\n" ends the table. Returns the number of slots filled.
int avcChannelTitles(const char *text, size_t length, char *table);

// The parser's callback; user is the AVCFormatPlayback.
extern "C" int avc_callback(int code, HEADER_AVC *header, char *bitstream, void *user);

// The landing at record `place` (1-based) of an open parser, at `momentUs` (0: the place's
// moment), for the channels of `wanted` (bit n: channel n): the look at the records around the
// place and the search for key frames before it (MomentSurvey). No channel present when the
// index is not usable.
LandingPlan avcLandingPlan(int handle, unsigned long place, uint64_t momentUs, uint16_t wanted);

class AVCFormatPlayback {
  public:
    AVCFormatPlayback();
    ~AVCFormatPlayback();
    AVCFormatPlayback(const AVCFormatPlayback &) = delete;
    AVCFormatPlayback &operator=(const AVCFormatPlayback &) = delete;

    // ---- Set up by the application ----
    EngineDelegate *appDelg() const { return appDelg_; }
    void setAppDelg(EngineDelegate *delegate);
    MainThreadPoster *mainThreadPoster() const { return poster_; }
    void setMainThreadPoster(MainThreadPoster *poster) { poster_ = poster; }
    std::atomic<int> *pImageWidthFromStream() const { return pImageWidthFromStream_; }
    void setPImageWidthFromStream(std::atomic<int> *width) { pImageWidthFromStream_ = width; }
    std::atomic<int> *pImageHeightFromStream() const { return pImageHeightFromStream_; }
    void setPImageHeightFromStream(std::atomic<int> *height) { pImageHeightFromStream_ = height; }
    // Hands the stream-size pointers on to the decoder object.
    void setHandleOfImageRectFromStream();
    AVCFormatDecoder &decoder() { return *hAVCFormatDecoder_; }

    // ---- Threads (main thread) ----
    // Fill only empty slots; answer whether the slot (the video operation: channel 1's) now
    // holds a thread.
    bool createAVCFmtVideoPlaybackThread();
    bool createAVCFmtAudioPlaybackThread();
    bool isAVCFmtVideoPlaybackThreadExecuting(int channel) const;
    bool isAVCFmtAudioPlaybackThreadExecuting() const;
    // Empties the slot and ends the thread (a hand-off waiting for it is released).
    void cancelAVCFmtVideoPlaybackThread(int channel);
    void cancelAVCFmtAudioPlaybackThread();
    void cancelAllThreads();

    // ---- The file (main thread) ----
    // Opens the recording through the parser and starts it; the parser handle, or 0 when the
    // file cannot be opened. A file still open is closed first.
    int openAVCFileAndStartParser(const std::string &path);
    // Closes the parser (its threads end); harmless when nothing is open. Refused on the
    // parser's own threads (from inside a callback), which cannot wait for themselves.
    void closeAVCFileAndStopParser();
    int fdAVCFile() const { return fd_AVCFile_.load(); }
    // Passes an action code (0..14) to the parser; ignored with no open file. Play after the
    // reader ended on an unreadable record opens the file again, from its first frame.
    void doPlaybackAction(int action);
    // Seeks to percent (0..100) of the file's frames: the parser's result, 0 or -1 (no index
    // yet, or no open file). The first frame from there shows percent as progress, and every
    // channel's decoder is made anew before that frame.
    int changePlaybackProgress(int percent);

    // A view change: every channel shows the moment on screen (the last picture shown), paused
    // or playing. Nothing while key frames only are read (8x, 16x, a rewind that plays), when
    // stopped, or before a picture was shown.
    bool landOnScreen();
    // A landing is asked for or under way.
    bool landingUnderWay() const { return landingAsked_.load() || landing_.load(); }

    // ---- Stream types and decoders ----
    // Releases every decoder, then forgets every stream type.
    void resetParams();
    // After the pane layout changed: release every other channel's decoder and video type.
    // Called by the delegate from inside its video callback.
    void resetParamsWithExceptCH(int channel1Based);
    void resetAVStreamType();
    void resetVideoStreamTypeWithExceptCH(unsigned channel1Based);
    // 2 video, 1 audio, 0 ignored; records the channel's codec or audio format.
    int checkAVStreamType(uint8_t streamType, int channel);
    int videoCodec(int channel) const { return videoCodec_[channel]; }
    int audioCodec(int channel) const { return audioCodec_[channel]; }

    // ---- From avc_callback (parser threads) ----
    void handleParserCallback(int code, HEADER_AVC *header, char *bitstream);
    void doAVCFilePlaybackAudioTask(int channel, const HEADER_AVC *header, const char *bitstream);
    void doAVCFilePlaybackVideoTask(int channel, const HEADER_AVC *header, const char *bitstream,
                                    LandingFrame use = LandingFrame::None);
    // The progress, the clock and, unless held (`reportEnd` false), the end or the first frame.
    void updateUIWithInfo(const HEADER_AVC *header, int code, bool reportEnd = true);
    void updateUIForCreatingAVCIndexFileWithProgress(int code);

  private:
    std::shared_ptr<RunLoopThread> videoThread(int channel) const;
    std::shared_ptr<RunLoopThread> audioThread() const;
    std::shared_ptr<RunLoopThread> makePlaybackThread(const std::string &name);
    void post(std::function<void()> task);
    void endOfFile(uint8_t triState, bool stopParser);
    // A seek's landing (SeekLanding), on the reader thread: how a video frame of the
    // channel is used (the landing may end with it), and after each record the reader is let on
    // while the landing lasts.
    LandingFrame landingUse(int channel, const HEADER_FRAME &frame);
    void continueLanding();
    // Moves the reader with fresh decoders: to the plan's restart, or the place when no channel
    // can land, asking for the landing there; without a plan (a rewind that plays) to the last
    // key frame at or before `percent`.
    int askLanding(int percent, unsigned long place, const LandingPlan *plan);
    // A landing ended by itself: the wanted channels without a picture of its moment show none.
    void landingEnded();
    // The landing at the moment on screen (any status the reader reads every record at).
    bool landAtMomentOnScreen(int fd);
    void sendChannelTitles(const HEADER_AVC *header);
    bool onParserCallbackThread() const;
    // Main thread: the reader has ended on an unreadable record; open the file again.
    void reopenAfterReaderEnded();
    int openLocked(const std::string &path);
    void closeLocked();

    EngineDelegate *appDelg_ = nullptr;
    MainThreadPoster *poster_ = nullptr;
    std::unique_ptr<AVCFormatDecoder> hAVCFormatDecoder_;
    std::atomic<int> *pImageWidthFromStream_ = nullptr;
    std::atomic<int> *pImageHeightFromStream_ = nullptr;

    // The parser handle (a registry id), 0 = none. Written on the main thread under
    // fileMutex_, read anywhere.
    std::atomic<int> fd_AVCFile_{0};
    // Serialises open and close; never taken on a parser thread.
    std::mutex fileMutex_;
    std::string path_;
    // Set while avc_parse_open runs: the reader may already call back before the handle is
    // known, and a stop asked for then is applied as soon as it is.
    std::atomic<bool> opening_{false};
    std::atomic<bool> stopWhileOpening_{false};
    // The reader ended on an unreadable record (code -2).
    std::atomic<bool> readerEnded_{false};

    // Per channel, touched by the reader between hand-offs (see the rule above).
    std::array<uint8_t, kEngineChannelCount> hadInitVideoDecoderFlag_{};
    std::array<uint8_t, kEngineChannelCount> hadInitAudioDecoderFlag_{};
    std::array<int, kEngineChannelCount> videoCodec_{};
    std::array<int, kEngineChannelCount> audioCodec_{};
    bool setVideoTitleFlag_ = false;

    // A seek: its percentage is stored before its flag is raised.
    std::atomic<int> manuallyProgress_{0};
    std::atomic<bool> progressChangedManually_{false};
    // A seek: every decoder is made anew before the next frame is handed off.
    std::mutex locker_;
    std::atomic<bool> changedProgressFlag_{false};
    // A seek asks for a landing (not a rewind that plays); the reader begins it at the first record
    // read from the place the seek moved it to, known by the seek's mark (under locker_: the mark,
    // the place and the plan; a playing reader may still hand over records read before the move),
    // and any action ends it. The landing's record is the reader's (see the rule above).
    std::atomic<bool> landingAsked_{false};
    std::atomic<bool> landing_{false};
    unsigned landingMark_ = 0;
    unsigned long landingPlace_ = 0;
    LandingPlan landingPlan_;
    SeekLanding seekLanding_;
    // Since the last landing, key frames only were shown (8x, 16x, a rewind, steps): Play then
    // lands every channel at the moment on screen.
    std::atomic<bool> keyFramesOnly_{false};
    // A paused landing met the last record and holds there without reporting the end yet.
    std::atomic<bool> heldAtEnd_{false};

    mutable std::mutex threadsMutex_;
    std::array<std::shared_ptr<RunLoopThread>, kEngineChannelCount> gAVCFmtVideoPlaybackThread_;
    std::shared_ptr<RunLoopThread> gAVCFmtAudioPlaybackThread_;
};
