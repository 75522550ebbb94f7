#include "engines/dv_format_playback.h"

#include <cstdio>
#include <new>
#include <system_error>

#include "platform/log.h"
#include "platform/portable.h"

namespace {
// Set on a parser thread to the engine that runs it.
thread_local const DVFormatPlayback *tlsParserOwner = nullptr;

bool validChannel(int channel) {
    return channel >= 0 && channel < kEngineChannelCount;
}

// The playback threads serve hand-offs only while frames are to flow, a seek or a landing at the
// moment on screen is asked for, a single step is asked for or a paused landing is under way;
// otherwise the parser waits inside its next hand-off.
bool dvPlaybackThreadsServe() {
    return gDVFmtPlaybackSliderValueChanged.load() != 0 || gDVFmtPlaybackKeepRunning.load() != 0 ||
           gDVFmtPlaybackForwardAtPause.load() != 0 || gDVFmtPlaybackShowSeekLanding.load() != 0 ||
           gDVFmtPlaybackLandOnScreen.load() != 0;
}
} // namespace

DVFormatPlayback::DVFormatPlayback() : dataFeedController_(new DataFeedController()) {}

DVFormatPlayback::~DVFormatPlayback() {
    cancelAllThreads();
    pRawImageBuffer = std::vector<uint8_t>();
    deinitVideoDecoder();
    releaseDataFeedController();
}

// ---- Threads ----

std::shared_ptr<RunLoopThread> DVFormatPlayback::makePlaybackThread(const std::string &name) {
    auto thread = std::make_shared<RunLoopThread>(name, dvPlaybackThreadsServe);
    if (!thread->start()) {
        player_log("Cannot start the thread %s\n", name.c_str());
        return nullptr;
    }
    return thread;
}

bool DVFormatPlayback::createDVFmtVideoPlaybackThread() {
    joinEndedParserThread();
    std::lock_guard<std::mutex> lock(threadsMutex_);
    for (int ch = 0; ch < kEngineChannelCount; ++ch) {
        if (!gDVFmtVideoPlaybackThread_[ch])
            gDVFmtVideoPlaybackThread_[ch] = makePlaybackThread("dv-video-" + std::to_string(ch));
    }
    return gDVFmtVideoPlaybackThread_[0] != nullptr;
}

bool DVFormatPlayback::createDVFmtAudioPlaybackThread() {
    joinEndedParserThread();
    std::lock_guard<std::mutex> lock(threadsMutex_);
    if (!gDVFmtAudioPlaybackThread_) gDVFmtAudioPlaybackThread_ = makePlaybackThread("dv-audio");
    return gDVFmtAudioPlaybackThread_ != nullptr;
}

bool DVFormatPlayback::createDVFmtParserThread() {
    joinEndedParserThread();
    ParserThread finished;
    {
        std::lock_guard<std::mutex> lock(threadsMutex_);
        if (gDVFmtParserThread_.thread.joinable()) {
            if (!gDVFmtParserThread_.ended->load()) return true;
            // Ended by itself (the file was read out): replace it.
            finished = std::move(gDVFmtParserThread_);
            gDVFmtParserThread_ = ParserThread();
        }
    }
    if (finished.thread.joinable()) finished.thread.join();

    // A file that cannot be opened has no parser: the start fails rather than ending at once.
    const std::string path = appDelg_ ? appDelg_->absoluteFilePath() : std::string();
    FILE *probe = file_open_regular(path.c_str());
    if (!probe) {
        player_log("Cannot open \"%s\": the parser does not start\n", path.c_str());
        return false;
    }
    std::fclose(probe);

    void (DVFormatPlayback::*body)() = nullptr;
    const char *line = nullptr;
    switch (dvFmtVideoCodec_) {
    case kDVFmtDV4H264:
        body = &DVFormatPlayback::threadDV4ParserForH264Selector;
        line = "createDV4ParserThreadForH264...\n";
        break;
    case kDVFmtDV4MPEG4:
        body = &DVFormatPlayback::threadDV4ParserForMPEG4Selector;
        line = "createDV4ParserThreadForMPEG4...\n";
        break;
    case kDVFmtDV5:
        if (isDVRType700_) {
            body = &DVFormatPlayback::threadDV5DVRParserForH264Selector;
            line = "createDVR_DV5ParserThreadForH264...\n";
        } else {
            body = &DVFormatPlayback::threadDV5ParserForH264Selector;
            line = "createNVR_DV5ParserThreadForH264...\n";
        }
        break;
    default:
        return false;
    }

    ParserThread parser;
    parser.ended = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> lock(threadsMutex_);
    try {
        std::shared_ptr<std::atomic<bool>> ended = parser.ended;
        parser.thread = std::thread([this, body, ended] {
            // It waits for each frame's hand-off and pacing: it keeps time as they do.
            thread_raise_priority();
            parserThreadMain(body);
            ended->store(true);
        });
    } catch (const std::system_error &) {
        player_log("Cannot start the parser thread\n");
        return false;
    }
    player_log("%s", line);
    gDVFmtParserThread_ = std::move(parser);
    return true;
}

void DVFormatPlayback::parserThreadMain(void (DVFormatPlayback::*body)()) {
    tlsParserOwner = this;
    (this->*body)();
    // Whatever way the parser leaves, a pending request to leave is answered.
    gDVFmtPlaybackParserThreadForceExit = 0;
    tlsParserOwner = nullptr;
}

bool DVFormatPlayback::onParserThread() const {
    return tlsParserOwner == this;
}

bool DVFormatPlayback::isDVFmtParserThreadExecuting() const {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    return gDVFmtParserThread_.thread.joinable() && !gDVFmtParserThread_.ended->load();
}

bool DVFormatPlayback::isDVFmtVideoPlaybackThreadExecuting(int channel) const {
    std::shared_ptr<RunLoopThread> thread = videoThread(channel);
    return thread && thread->isExecuting();
}

bool DVFormatPlayback::isDVFmtAudioPlaybackThreadExecuting() const {
    std::shared_ptr<RunLoopThread> thread = audioThread();
    return thread && thread->isExecuting();
}

void DVFormatPlayback::joinEndedParserThread() {
    if (onParserThread()) return;
    ParserThread ended;
    {
        std::lock_guard<std::mutex> lock(threadsMutex_);
        ended = std::move(endedParserThread_);
        endedParserThread_ = ParserThread();
    }
    if (ended.thread.joinable()) ended.thread.join();
}

void DVFormatPlayback::cancelDVFmtParserThread() {
    ParserThread parser;
    {
        std::lock_guard<std::mutex> lock(threadsMutex_);
        parser = std::move(gDVFmtParserThread_);
        gDVFmtParserThread_ = ParserThread();
    }
    if (!parser.thread.joinable()) return;
    if (parser.thread.get_id() == std::this_thread::get_id()) {
        // The teardown runs on the parser itself (the end of a conversion): it cannot wait for
        // itself. It leaves when its callback returns; the next start joins it.
        ParserThread older;
        {
            std::lock_guard<std::mutex> lock(threadsMutex_);
            older = std::move(endedParserThread_);
            endedParserThread_ = std::move(parser);
        }
        if (older.thread.joinable()) older.thread.join();
        return;
    }
    if (!parser.ended->load()) {
        gDVFmtPlaybackParserThreadForceExit = 1;
        gDVFmtPlaybackKeepRunning = 1;
    }
    parser.thread.join();
    gDVFmtPlaybackParserThreadForceExit = 0;
}

void DVFormatPlayback::cancelDVFmtVideoPlaybackThread(int channel) {
    if (!validChannel(channel)) return;
    std::shared_ptr<RunLoopThread> thread;
    {
        std::lock_guard<std::mutex> lock(threadsMutex_);
        thread = std::move(gDVFmtVideoPlaybackThread_[channel]);
    }
    if (thread) thread->cancelAndJoin();
}

void DVFormatPlayback::cancelDVFmtAudioPlaybackThread() {
    std::shared_ptr<RunLoopThread> thread;
    {
        std::lock_guard<std::mutex> lock(threadsMutex_);
        thread = std::move(gDVFmtAudioPlaybackThread_);
    }
    if (thread) thread->cancelAndJoin();
}

void DVFormatPlayback::cancelAllThreads() {
    cancelDVFmtParserThread();
    joinEndedParserThread();
    for (int ch = 0; ch < kEngineChannelCount; ++ch)
        cancelDVFmtVideoPlaybackThread(ch);
    cancelDVFmtAudioPlaybackThread();
}

std::shared_ptr<RunLoopThread> DVFormatPlayback::videoThread(int channel) const {
    if (!validChannel(channel)) return nullptr;
    std::lock_guard<std::mutex> lock(threadsMutex_);
    return gDVFmtVideoPlaybackThread_[channel];
}

std::shared_ptr<RunLoopThread> DVFormatPlayback::audioThread() const {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    return gDVFmtAudioPlaybackThread_;
}

// ---- Hand-offs ----

bool DVFormatPlayback::handOffVideoFrame(DVVideoSelector selector, const void *record) {
    if (!record) return false;
    const int channel = dvVideoRecordChannel(selector, record);
    if (!validChannel(channel)) {
        player_log("Video frame of channel %d dropped: no such channel\n", channel);
        return false;
    }
    std::shared_ptr<RunLoopThread> thread = videoThread(channel);
    if (!thread) return false;
    return thread->performSync([&] { runVideoSelector(selector, record); });
}

bool DVFormatPlayback::handOffVideo(DVVideoSelector selector, const void *record) {
    pictureShown_ = false;
    return handOffVideoFrame(selector, record) && pictureShown_;
}

bool DVFormatPlayback::handOffAudioFrame(DVAudioSelector selector, const void *record) {
    if (!record) return false;
    std::shared_ptr<RunLoopThread> thread = audioThread();
    if (!thread) return false;
    return thread->performSync([&] { runAudioSelector(selector, record); });
}

void DVFormatPlayback::postPlaybackProgress(float percent) {
    EngineDelegate *delegate = appDelg_;
    if (!delegate) return;
    if (poster_) {
        poster_->postToMainThread([delegate, percent] { delegate->upadatePlaybackProgress(percent); });
    } else {
        delegate->upadatePlaybackProgress(percent);
    }
}

// ---- Stream types and decoders ----

void DVFormatPlayback::resetAVStreamType() {
    joinEndedParserThread();
    videoCodec.fill(0);
    audioCodec.fill(0);
    hadInitVideoDecoderFlag.fill(0);
    hadInitAudioDecoderFlag.fill(0);
}

void DVFormatPlayback::resetVideoStreamTypeWithExceptCH(int channel1Based) {
    for (int ch = 0; ch < kEngineChannelCount; ++ch) {
        if (ch == channel1Based - 1) continue;
        videoCodec[ch] = 0;
        hadInitVideoDecoderFlag[ch] = 0;
    }
}

void DVFormatPlayback::resetParamsWithExceptCH(int channel1Based) {
    deinitVideoDecoderWithExceptCH(channel1Based);
    resetVideoStreamTypeWithExceptCH(channel1Based);
}

void DVFormatPlayback::resetAudioTimeForFastForwardAction() {
    prevAudioDataTimeSubCH.fill(0);
    currAudioDataTimeSubCH.fill(0);
    prevAudioDataAbsoluteTimeSubCH.fill(0);
    currAudioDataAbsoluteTimeSubCH.fill(0);
}

void DVFormatPlayback::zeroTimeSlots(int channel) {
    shownAtSpeedSubCH[channel] = 0;
    prevFrameTimeSubCH[channel] = 0;
    currFrameTimeSubCH[channel] = 0;
    prevFrameAbsoluteTimeSubCH[channel] = 0;
    currFrameAbsoluteTimeSubCH[channel] = 0;
    prevAudioDataTimeSubCH[channel] = 0;
    currAudioDataTimeSubCH[channel] = 0;
    prevAudioDataAbsoluteTimeSubCH[channel] = 0;
    currAudioDataAbsoluteTimeSubCH[channel] = 0;
}

void DVFormatPlayback::releaseDecoder(int channel) {
    engineCloseVideoDecoder(pFFMpegDecoderHandle[channel]);
    lastPicture_[channel] = EnginePictureSize{};
}

void DVFormatPlayback::deinitVideoDecoder() {
    for (int ch = 0; ch < kEngineChannelCount; ++ch) {
        zeroTimeSlots(ch);
        releaseDecoder(ch);
    }
}

void DVFormatPlayback::deinitVideoDecoderWithExceptCH(int channel1Based) {
    for (int ch = 0; ch < kEngineChannelCount; ++ch) {
        if (ch == channel1Based - 1) continue;
        zeroTimeSlots(ch);
        releaseDecoder(ch);
    }
}

bool DVFormatPlayback::initVideoDecoderWithThreadIndex(int channel, int codec) {
    if (!validChannel(channel)) return false;
    zeroTimeSlots(channel);
    releaseDecoder(channel);
    pFFMpegDecoderHandle[channel] = engineOpenVideoDecoder(channel, codec);
    return pFFMpegDecoderHandle[channel] != nullptr;
}

bool DVFormatPlayback::hasVideoDecoder(int channel) const {
    return validChannel(channel) && pFFMpegDecoderHandle[channel] != nullptr;
}

// ---- Window and picture buffer ----

bool DVFormatPlayback::initDataFeedControllerWith(const std::string &path) {
    return dataFeedController_->initDataFeedControllerWith(path);
}

void DVFormatPlayback::releaseDataFeedController() {
    dataFeedController_->releaseDataFeedController();
}

bool DVFormatPlayback::reallocateRawImageBuffer() {
    const bool had = !pRawImageBuffer.empty();
    pRawImageBuffer = std::vector<uint8_t>();
    pRawImageBuffer = picturePool_.takeStorage(kDVRawImageBufferSize);
    return had;
}
