#include "engines/avc_format_playback.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/log.h"
#include "recorderfile/avc_parse.h"

namespace {

// Set on a parser thread while it runs avc_callback for that engine.
thread_local const AVCFormatPlayback *tlsCallbackOwner = nullptr;

bool validChannel(int channel) {
    return channel >= 0 && channel < kEngineChannelCount;
}

// A seek's look at the records around its place starts this many records before it and reads at
// most this many past it; its search for key frames reads back at most as far as the DV scan's.
constexpr unsigned long kLookBehindRecords = 256;
constexpr unsigned long kLookAheadRecords = 4096;
constexpr unsigned long kKeySearchMaxRecords = 1ul << 18;

struct PlanLook {
    MomentSurvey &survey;
    unsigned long place;
    uint64_t fromOffset = 0;
    unsigned long searched = 0;
};

} // namespace

LandingPlan avcLandingPlan(int handle, unsigned long place, uint64_t momentUs, uint16_t wanted) {
    MomentSurvey survey(wanted, momentUs);
    if (place == 0) return survey.plan();
    PlanLook look{survey, place};
    const unsigned long from = place > kLookBehindRecords ? place - kLookBehindRecords : 1;
    const int ended = avc_playback_visit_records(
        handle, from, 1, 0,
        [](const AVC_RECORD_FACTS *f, void *user) {
            auto &l = *static_cast<PlanLook *>(user);
            if (f->number >= l.place) l.survey.markPlace();
            if (f->number > l.place + kLookAheadRecords) return 0;
            if (l.fromOffset == 0) l.fromOffset = f->offset;
            l.survey.look({f->channel, uint64_t{f->timeMs} * 1000u, f->number, f->number, f->key != 0});
            return l.survey.lookDone() ? 0 : 1;
        },
        &look);
    if (ended < 0) return MomentSurvey(wanted).plan();
    survey.finishLook(ended == 1);
    if (survey.keysWanted() && from > 1)
        avc_playback_visit_records(
            handle, from - 1, -1, 1,
            [](const AVC_RECORD_FACTS *f, void *user) {
                auto &l = *static_cast<PlanLook *>(user);
                if (++l.searched > kKeySearchMaxRecords ||
                    f->offset + kSeekLandingMaxBackBytes < l.fromOffset)
                    return 0;
                return l.survey.keyBefore(f->channel, f->number, f->number) ? 1 : 0;
            },
            &look);
    return survey.plan();
}

int avcChannelTitles(const char *text, size_t length, char *table) {
    std::memset(table, 0, static_cast<size_t>(kAVCTitleSlots) * kAVCTitleSlotSize);
    if (!text) return 0;
    static const char kMarker[] = ".Title=";
    const size_t markerLength = sizeof(kMarker) - 1;
    const char *const end = text + length;
    const char *pos = text;
    int slot = 0;
    while (slot < kAVCTitleSlots && pos < end) {
        const char *marker = std::search(pos, end, kMarker, kMarker + markerLength);
        if (marker == end) break;
        const char *name = marker + markerLength;
        const char *newline = std::find(name, end, '\n');
        if (newline == end) break;
        const size_t n = std::min<size_t>(static_cast<size_t>(newline - name), kAVCTitleSlotSize - 1);
        std::memcpy(table + static_cast<size_t>(slot) * kAVCTitleSlotSize, name, n);
        ++slot;
        pos = newline + 1;
    }
    return slot;
}

extern "C" int avc_callback(int code, HEADER_AVC *header, char *bitstream, void *user) {
    auto *engine = static_cast<AVCFormatPlayback *>(user);
    if (!engine) return 0;
    const AVCFormatPlayback *outer = tlsCallbackOwner;
    tlsCallbackOwner = engine;
    engine->handleParserCallback(code, header, bitstream);
    tlsCallbackOwner = outer;
    return 0;
}

AVCFormatPlayback::AVCFormatPlayback() : hAVCFormatDecoder_(new AVCFormatDecoder()) {}

AVCFormatPlayback::~AVCFormatPlayback() {
    closeAVCFileAndStopParser();
    cancelAllThreads();
    hAVCFormatDecoder_->deallocRawImageBuffer();
    hAVCFormatDecoder_->deinitVideoDecoderWithExceptCH(0);
}

void AVCFormatPlayback::setAppDelg(EngineDelegate *delegate) {
    appDelg_ = delegate;
    hAVCFormatDecoder_->setAppDelg(delegate);
}

void AVCFormatPlayback::setHandleOfImageRectFromStream() {
    hAVCFormatDecoder_->setPImageWidthFromStream(pImageWidthFromStream_);
    hAVCFormatDecoder_->setPImageHeightFromStream(pImageHeightFromStream_);
}

bool AVCFormatPlayback::onParserCallbackThread() const {
    return tlsCallbackOwner == this;
}

void AVCFormatPlayback::post(std::function<void()> task) {
    if (poster_)
        poster_->postToMainThread(std::move(task));
    else
        task();
}

// ---- Threads ----

std::shared_ptr<RunLoopThread> AVCFormatPlayback::makePlaybackThread(const std::string &name) {
    auto thread = std::make_shared<RunLoopThread>(name);
    if (!thread->start()) {
        player_log("Cannot start the thread %s\n", name.c_str());
        return nullptr;
    }
    return thread;
}

bool AVCFormatPlayback::createAVCFmtVideoPlaybackThread() {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    for (int ch = 0; ch < kEngineChannelCount; ++ch) {
        if (!gAVCFmtVideoPlaybackThread_[ch])
            gAVCFmtVideoPlaybackThread_[ch] = makePlaybackThread("avc-video-" + std::to_string(ch));
    }
    return gAVCFmtVideoPlaybackThread_[0] != nullptr;
}

bool AVCFormatPlayback::createAVCFmtAudioPlaybackThread() {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    if (!gAVCFmtAudioPlaybackThread_) gAVCFmtAudioPlaybackThread_ = makePlaybackThread("avc-audio");
    return gAVCFmtAudioPlaybackThread_ != nullptr;
}

bool AVCFormatPlayback::isAVCFmtVideoPlaybackThreadExecuting(int channel) const {
    std::shared_ptr<RunLoopThread> thread = videoThread(channel);
    return thread && thread->isExecuting();
}

bool AVCFormatPlayback::isAVCFmtAudioPlaybackThreadExecuting() const {
    std::shared_ptr<RunLoopThread> thread = audioThread();
    return thread && thread->isExecuting();
}

void AVCFormatPlayback::cancelAVCFmtVideoPlaybackThread(int channel) {
    if (!validChannel(channel)) return;
    std::shared_ptr<RunLoopThread> thread;
    {
        std::lock_guard<std::mutex> lock(threadsMutex_);
        thread = std::move(gAVCFmtVideoPlaybackThread_[channel]);
    }
    if (thread) thread->cancelAndJoin();
}

void AVCFormatPlayback::cancelAVCFmtAudioPlaybackThread() {
    std::shared_ptr<RunLoopThread> thread;
    {
        std::lock_guard<std::mutex> lock(threadsMutex_);
        thread = std::move(gAVCFmtAudioPlaybackThread_);
    }
    if (thread) thread->cancelAndJoin();
}

void AVCFormatPlayback::cancelAllThreads() {
    for (int ch = 0; ch < kEngineChannelCount; ++ch)
        cancelAVCFmtVideoPlaybackThread(ch);
    cancelAVCFmtAudioPlaybackThread();
}

std::shared_ptr<RunLoopThread> AVCFormatPlayback::videoThread(int channel) const {
    if (!validChannel(channel)) return nullptr;
    std::lock_guard<std::mutex> lock(threadsMutex_);
    return gAVCFmtVideoPlaybackThread_[channel];
}

std::shared_ptr<RunLoopThread> AVCFormatPlayback::audioThread() const {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    return gAVCFmtAudioPlaybackThread_;
}

// ---- The file ----

int AVCFormatPlayback::openAVCFileAndStartParser(const std::string &path) {
    if (onParserCallbackThread()) {
        player_log("AVC file cannot be opened from the parser's own thread\n");
        return 0;
    }
    std::lock_guard<std::mutex> lock(fileMutex_);
    return openLocked(path);
}

int AVCFormatPlayback::openLocked(const std::string &path) {
    closeLocked();
    resetParams();
    setVideoTitleFlag_ = false;
    readerEnded_ = false;
    progressChangedManually_ = false;
    changedProgressFlag_ = false;
    landingAsked_ = false;
    landing_ = false;
    heldAtEnd_ = false;
    keyFramesOnly_ = false;
    hAVCFormatDecoder_->forgetShown();
    seekLanding_.forgetChannels();
    stopWhileOpening_ = false;
    hAVCFormatDecoder_->setPacingInterrupted(false);
    hAVCFormatDecoder_->deallocRawImageBuffer();
    hAVCFormatDecoder_->allocRawImageBuffer();
    if (!hAVCFormatDecoder_->hasRawImageBuffer()) return 0;

    const int fd = avc_parse_open(path.c_str(), avc_callback, this);
    fd_AVCFile_ = fd;
    if (fd == 0) {
        hAVCFormatDecoder_->deallocRawImageBuffer();
        return 0;
    }
    path_ = path;
    // The end of a very short file may have come before the handle was known.
    if (stopWhileOpening_.exchange(false)) avc_playback_status(fd, kAVCFmtPlaybackStop);
    return fd;
}

void AVCFormatPlayback::closeAVCFileAndStopParser() {
    if (onParserCallbackThread()) {
        // The parser would wait for the very thread that asks it to close.
        player_log("AVC parser close from its own thread refused\n");
        return;
    }
    std::lock_guard<std::mutex> lock(fileMutex_);
    closeLocked();
}

void AVCFormatPlayback::closeLocked() {
    const int fd = fd_AVCFile_.load();
    if (fd == 0) return;
    // A reader asleep in a pacing delay is woken, so the close does not wait for it.
    hAVCFormatDecoder_->setPacingInterrupted(true);
    avc_parse_close(fd);
    fd_AVCFile_ = 0;
    hAVCFormatDecoder_->setPacingInterrupted(false);
}

void AVCFormatPlayback::reopenAfterReaderEnded() {
    std::lock_guard<std::mutex> lock(fileMutex_);
    if (!readerEnded_.load() || path_.empty() || fd_AVCFile_.load() == 0) return;
    player_log("AVC reader had ended: opening %s again\n", path_.c_str());
    const std::string path = path_;
    openLocked(path);
}

void AVCFormatPlayback::doPlaybackAction(int action) {
    // A speed, a step or Stop ends a landing. Play lets it finish and plays on from it (a seek on
    // a stopped file is followed by Play); Pause lets it finish and holds there: cut short, it
    // would leave the reader at a key frame before the moment, and the next frame read (a step's)
    // would be of an earlier one.
    if (action != kAVCFmtPlaybackPlay && action != kAVCFmtPlaybackPause) {
        landingAsked_ = false;
        landing_ = false;
    }
    const bool inCallback = onParserCallbackThread();
    if (heldAtEnd_.exchange(false) && (action == kAVCFmtPlaybackPlay || action == kAVCFmtPlaybackPause)) {
        // A paused landing held at the last record: playing on reaches the end at once.
        endOfFile(kPlaybackTriStateAtEnd, true);
        return;
    }
    if (action == kAVCFmtPlaybackPlay && readerEnded_.load() && !inCallback) reopenAfterReaderEnded();
    int fd = fd_AVCFile_.load();
    if (fd != 0) {
        // Play paces afresh from its first frame on (the reader may read it at once): whatever put
        // the pictures on screen (a stop, a rewind, a speed, a step), no channel waits out the
        // step from its last one.
        if (action == kAVCFmtPlaybackPlay) hAVCFormatDecoder_->restartPacing();
        avc_playback_status(fd, action);
        // A pause stops the reader after the record it is on, which may be one from before the
        // landing's move: the landing needs one more to go on (and then asks for each next).
        if (action == kAVCFmtPlaybackPause && landingUnderWay()) avc_playback_read_one_more(fd);
        const bool keyFramesOnly =
            (action >= kAVCFmtPlaybackFastForward8x && action <= kAVCFmtPlaybackRewind16x) ||
            action == kAVCFmtPlaybackStepForward || action == kAVCFmtPlaybackStepBack;
        if (keyFramesOnly) {
            keyFramesOnly_ = true;
        } else if (action == kAVCFmtPlaybackStop) {
            keyFramesOnly_ = false;
        } else if (action == kAVCFmtPlaybackPlay && keyFramesOnly_.exchange(false) && !inCallback) {
            // Each tile stands at its channel's own last key frame: all go on from the clock's moment.
            landAtMomentOnScreen(fd);
        }
        return;
    }
    if (!inCallback || action != kAVCFmtPlaybackStop) return; // no open file: nothing to steer
    // The reader called back before avc_parse_open returned: the opener applies the stop,
    // unless the handle became known meanwhile.
    stopWhileOpening_ = true;
    fd = fd_AVCFile_.load();
    if (fd != 0 && stopWhileOpening_.exchange(false)) avc_playback_status(fd, action);
}

int AVCFormatPlayback::changePlaybackProgress(int percent) {
    if (readerEnded_.load() && !onParserCallbackThread()) reopenAfterReaderEnded();
    const int fd = fd_AVCFile_.load();
    if (fd == 0) return -1;
    player_log("##### iProgress = %d\n", percent);
    manuallyProgress_ = std::clamp(percent, 0, 100);
    progressChangedManually_ = true;
    // Every channel shows its picture of the new place at once, made from its own last key frame
    // at or before it; paused, the reader then holds, and playing, it plays on from there. A
    // rewind that plays goes on backwards from the new place as it did.
    const int status = appDelg_ ? appDelg_->enAVCFmtPlaybackStatus() : kAVCFmtPlaybackPlay;
    const bool landing = status == kAVCFmtPlaybackPause || status < kAVCFmtPlaybackRewind1x ||
                         status > kAVCFmtPlaybackRewind16x;
    landing_ = false;
    heldAtEnd_ = false;
    keyFramesOnly_ = false;
    const unsigned long place = landing ? avc_playback_place(fd, percent) : 0;
    const LandingPlan plan =
        place != 0 ? avcLandingPlan(fd, place, 0, landingWantedChannels(appDelg_)) : LandingPlan{};
    const int result = askLanding(percent, place, place != 0 ? &plan : nullptr);
    if (result != 0) progressChangedManually_ = false;
    return result;
}

int AVCFormatPlayback::askLanding(int percent, unsigned long place, const LandingPlan *plan) {
    const int fd = fd_AVCFile_.load();
    // No channel can land: the reader goes on from the place itself.
    const unsigned long start = !plan ? 0 : plan->present ? static_cast<unsigned long>(plan->restart) : place;
    unsigned mark = 0;
    {
        std::lock_guard<std::mutex> lock(locker_);
        changedProgressFlag_ = true;
        if (++landingMark_ == 0) ++landingMark_; // 0 marks no seek
        mark = landingMark_;
        landingPlace_ = place;
        landingPlan_ = plan ? *plan : LandingPlan{};
    }
    landingAsked_ = plan != nullptr;
    // The jump does not wait out the pacing of the frame on screen (up to seconds across a clock
    // change), and the frames after it are paced afresh.
    hAVCFormatDecoder_->restartPacing();
    const int result = avc_playback_progress_from(fd, percent, start, mark);
    if (result != 0) {
        // Nothing moved: playback goes on where it was, with its decoders and its progress.
        changedProgressFlag_ = false;
        landingAsked_ = false;
    }
    return result;
}

bool AVCFormatPlayback::landOnScreen() {
    if (onParserCallbackThread()) return false;
    const int fd = fd_AVCFile_.load();
    const int status = appDelg_ ? appDelg_->enAVCFmtPlaybackStatus() : kAVCFmtPlaybackPlay;
    // Key frames only, or no reading at all: nothing to land with.
    const bool readsEveryRecord = status == kAVCFmtPlaybackPlay || status == kAVCFmtPlaybackPause ||
                                  status <= kAVCFmtPlaybackFastForward4x;
    if (fd == 0 || !readsEveryRecord || readerEnded_.load() || heldAtEnd_.load()) return false;
    landingAsked_ = false;
    landing_ = false;
    keyFramesOnly_ = false;
    return landAtMomentOnScreen(fd);
}

bool AVCFormatPlayback::landAtMomentOnScreen(int fd) {
    // The picture on screen is the last one delivered, though its pacing may still hold the reader.
    const uint64_t moment = hAVCFormatDecoder_->shownUs();
    const unsigned long number = hAVCFormatDecoder_->shownNumber();
    if (moment == 0 || number == 0) return false;
    const LandingPlan plan = avcLandingPlan(fd, number, moment, landingWantedChannels(appDelg_));
    // No channel can land there: the tiles go on as they are.
    return plan.present != 0 && askLanding(0, number, &plan) == 0;
}

// ---- Stream types and decoders ----

void AVCFormatPlayback::resetParams() {
    hAVCFormatDecoder_->deinitVideoDecoderWithExceptCH(0);
    resetAVStreamType();
}

void AVCFormatPlayback::resetParamsWithExceptCH(int channel1Based) {
    const unsigned except = channel1Based > 0 ? static_cast<unsigned>(channel1Based) : 0u;
    hAVCFormatDecoder_->deinitVideoDecoderWithExceptCH(except);
    resetVideoStreamTypeWithExceptCH(except);
}

void AVCFormatPlayback::resetAVStreamType() {
    videoCodec_.fill(0);
    audioCodec_.fill(0);
    hadInitVideoDecoderFlag_.fill(0);
    hadInitAudioDecoderFlag_.fill(0);
}

void AVCFormatPlayback::resetVideoStreamTypeWithExceptCH(unsigned channel1Based) {
    for (int ch = 0; ch < kEngineChannelCount; ++ch) {
        if (channel1Based != 0 && static_cast<unsigned>(ch) == channel1Based - 1) continue;
        videoCodec_[ch] = 0;
        hadInitVideoDecoderFlag_[ch] = 0;
    }
}

int AVCFormatPlayback::checkAVStreamType(uint8_t streamType, int channel) {
    if (!validChannel(channel)) return 0;
    switch (streamType) {
    case AVC_STREAM_MPEG4:
    case AVC_STREAM_MPEG4_B:
        videoCodec_[channel] = DECODER_CODEC_MPEG4;
        return 2;
    case AVC_STREAM_MJPEG:
    case AVC_STREAM_MJPEG_B:
        videoCodec_[channel] = DECODER_CODEC_MJPEG;
        return 2;
    case AVC_STREAM_H264:
        videoCodec_[channel] = DECODER_CODEC_H264;
        return 2;
    case AVC_STREAM_ULAW:
        audioCodec_[channel] = enAudioFormat_ULAW;
        return 1;
    case AVC_STREAM_PCM8:
        audioCodec_[channel] = enAudioFormat_PCM;
        return 1;
    case AVC_STREAM_G723:
        audioCodec_[channel] = enAudioFormat_G723;
        return 1;
    case AVC_STREAM_PCM16:
        audioCodec_[channel] = enAudioFormat_PCM16;
        return 1;
    case AVC_STREAM_PCM16_2:
        audioCodec_[channel] = enAudioFormat_PCM16_2;
        return 1;
    default:
        return 0;
    }
}

// ---- Parser callbacks ----

void AVCFormatPlayback::handleParserCallback(int code, HEADER_AVC *header, char *bitstream) {
    if (code >= AVC_CODE_INDEX_BASE) {
        updateUIForCreatingAVCIndexFileWithProgress(code);
        return;
    }
    if (code == AVC_CODE_END_OF_DATA || !header) {
        // The reader met a record it could not read (a file cut short) and has ended: that is
        // where this file ends, and where a landing under way ends too.
        readerEnded_ = true;
        landingEnded();
        endOfFile(kPlaybackTriStateAtEnd, false);
        return;
    }

    const HEADER_FRAME &frame = header->frameHeader;
    // After a seek every channel starts again with a fresh decoder, before the landing frame
    // is handed off, so that frame's key picture is the new decoder's first.
    {
        std::lock_guard<std::mutex> lock(locker_);
        if (landingAsked_.load() && avc_playback_record_mark(fd_AVCFile_.load()) != landingMark_) {
            // Read before the seek moved the reader (a playing reader reads on until the move, and
            // on a busy machine that may be several records): not the new place.
            avc_playback_read_one_more(fd_AVCFile_.load());
            return;
        }
        if (changedProgressFlag_.exchange(false)) resetParams();
        // Under way before no longer asked: who looks in between (a pause, the selected channel's
        // decoders) must not find the landing over before it began. An action that ended it
        // meanwhile (a speed, a step, a stop) ends it still.
        if (landingAsked_.load()) {
            seekLanding_.begin(landingPlace_, landingPlan_);
            landing_ = true;
            if (!landingAsked_.exchange(false)) landing_ = false;
        }
    }
    const bool landingRecord = landing_.load();
    LandingFrame use = LandingFrame::None;

    if (frame.byChannel > kEngineChannelCount) {
        player_log("AVC frame of channel %d dropped: no such channel\n", frame.byChannel);
    } else if (frame.dwLength > 0 && bitstream) {
        const int ch = frame.byChannel == 0 ? 0 : frame.byChannel - 1;
        const int route = checkAVStreamType(frame.byStreamType, ch);
        if (route == 1 && !landingRecord) {
            doAVCFilePlaybackAudioTask(ch, header, bitstream);
        } else if (route == 2) {
            use = landingUse(ch, frame);
            // Before the channel's key frame of the landing: its fresh decoder could make nothing
            // of it.
            if (use != LandingFrame::PassedOver) doAVCFilePlaybackVideoTask(ch, header, bitstream, use);
        }
    }
    // A paused landing that reaches the last record holds there: the end is reported when
    // playing reaches it.
    const bool holdAtEnd = code == 100 && landingRecord && appDelg_ &&
                           appDelg_->enAVCFmtPlaybackStatus() == kAVCFmtPlaybackPause;
    if (holdAtEnd) {
        landingEnded();
        heldAtEnd_ = true;
    }
    // During a landing the clock follows the pictures it shows, not the frames that only bring
    // the decoders up to its moment.
    if (!landingRecord || use == LandingFrame::Shown || code == 100)
        updateUIWithInfo(header, code, !holdAtEnd);
    continueLanding();
}

LandingFrame AVCFormatPlayback::landingUse(int channel, const HEADER_FRAME &frame) {
    const bool on = landing_.load();
    const uint64_t us = static_cast<uint64_t>(frame.dwTimeStamp) * 1000u;
    if (seekLanding_.meet(channel, us, frame.dwFrameNo, on, on ? landingWantedChannels(appDelg_) : 0))
        return on ? seekLanding_.frameUse(channel, frame.dwFrameNo, us) : LandingFrame::None;
    // The landing ends with this frame, the last the reader reads: decoded for Play, not shown.
    landingEnded();
    return LandingFrame::DecodedOnly;
}

void AVCFormatPlayback::continueLanding() {
    if (!landing_.load()) return;
    if (seekLanding_.allLanded(landingWantedChannels(appDelg_)))
        landingEnded();
    else
        avc_playback_read_one_more(fd_AVCFile_.load());
}

void AVCFormatPlayback::landingEnded() {
    if (!landing_.exchange(false)) return;
    showNoPictureOf(appDelg_, seekLanding_.unlanded(landingWantedChannels(appDelg_)));
}

void AVCFormatPlayback::doAVCFilePlaybackAudioTask(int channel, const HEADER_AVC *header,
                                                   const char *bitstream) {
    EngineDelegate *delegate = appDelg_;
    if (!delegate || !validChannel(channel)) return;
    if (channel + 1 != delegate->iCurrentSelectedAudioCH() ||
        delegate->enAVCFmtPlaybackStatus() != kAVCFmtPlaybackPlay)
        return;
    if (!hadInitAudioDecoderFlag_[channel]) {
        delegate->setAudioProcessorWithChannel(static_cast<unsigned>(channel), audioCodec_[channel]);
        hadInitAudioDecoderFlag_[channel] = 1;
    }
    std::shared_ptr<RunLoopThread> thread = audioThread();
    if (!thread) return;
    const AVCAudioHandOff handOff{header, bitstream, audioCodec_[channel]};
    AVCFormatDecoder *decoder = hAVCFormatDecoder_.get();
    thread->performSync([decoder, &handOff] { decoder->avcAudioDecodeSelector(handOff); });
}

void AVCFormatPlayback::doAVCFilePlaybackVideoTask(int channel, const HEADER_AVC *header,
                                                   const char *bitstream, LandingFrame use) {
    EngineDelegate *delegate = appDelg_;
    if (!delegate || !validChannel(channel)) return;
    if (!delegate->checkNeedDecodeForMultiCHs(static_cast<uint8_t>(channel))) return;
    if (!hadInitVideoDecoderFlag_[channel]) {
        hAVCFormatDecoder_->initVideoDecoderWithThreadIndex(channel, videoCodec_[channel]);
        delegate->setAVCFmtVdoIdxForAVIBuilder(videoCodec_[channel]);
        hadInitVideoDecoderFlag_[channel] = 1;
    }
    std::shared_ptr<RunLoopThread> thread = videoThread(channel);
    if (!thread) return;
    const AVCVideoHandOff handOff{header, bitstream, use};
    AVCFormatDecoder *decoder = hAVCFormatDecoder_.get();
    bool shown = false;
    thread->performSync([decoder, &handOff, &shown] { shown = decoder->avcVideoDecodeSelector(handOff); });
    if (shown && use == LandingFrame::Shown) seekLanding_.pictureShown(channel);
}

void AVCFormatPlayback::updateUIWithInfo(const HEADER_AVC *header, int code, bool reportEnd) {
    EngineDelegate *delegate = appDelg_;
    if (!delegate || !header) return;

    int shown = code;
    if (delegate->enAVCFmtPlaybackStatus() == kAVCFmtPlaybackStop)
        shown = 0;
    else if (progressChangedManually_.exchange(false))
        shown = manuallyProgress_.load();
    // The first frame, reached going backwards, is at 0 per cent.
    if (shown < 0) shown = 0;
    post([delegate, shown] { delegate->upadatePlaybackProgress(static_cast<float>(shown)); });

    const _SYSTEMTIME &t = header->frameHeader.stDisplayTime;
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    delegate->updateProcessingInfoWithServerTime(text, static_cast<float>(std::max(code, 0)));
    delegate->setSys_Time(t);
    delegate->setPlaybackTriState(kPlaybackTriStateFlowing);

    if (reportEnd && (code == 100 || code == AVC_CODE_FIRST_FRAME))
        endOfFile(code == 100 ? kPlaybackTriStateAtEnd : kPlaybackTriStateAtFirstFrame, true);
    if (!setVideoTitleFlag_) {
        setVideoTitleFlag_ = true;
        sendChannelTitles(header);
    }
}

void AVCFormatPlayback::endOfFile(uint8_t triState, bool stopParser) {
    EngineDelegate *delegate = appDelg_;
    if (!delegate) return;
    delegate->setEnAVCFmtPlaybackStatus(kAVCFmtPlaybackStop);
    // The parser halts and goes back to the first frame (a stop from inside its callback).
    if (stopParser) doPlaybackAction(kAVCFmtPlaybackStop);
    delegate->setPlaybackTriState(triState);
    // Posted last: whoever handles the notice finds the status, the tri-state and the halted
    // parser of this end, and a play it starts is not undone by the stop above.
    post([delegate] { delegate->setAVCFmtProcessingInfoAtEndOfProcessing(); });
}

void AVCFormatPlayback::sendChannelTitles(const HEADER_AVC *header) {
    const HEADER_MAIN_EX &main = header->mainHeader;
    if (!main.pTitle || main.wTitleLength == 0) {
        appDelg_->setDevChannelTitle(nullptr);
        return;
    }
    char table[kAVCTitleSlots * kAVCTitleSlotSize];
    avcChannelTitles(main.pTitle, main.wTitleLength, table);
    appDelg_->setDevChannelTitle(table);
}

void AVCFormatPlayback::updateUIForCreatingAVCIndexFileWithProgress(int code) {
    EngineDelegate *delegate = appDelg_;
    if (!delegate) return;
    char text[48];
    std::snprintf(text, sizeof text, "Creating .idx file %3d%%", code - AVC_CODE_INDEX_BASE);
    delegate->setServerTimeLabelText(text);
}
