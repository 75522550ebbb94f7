// The DV parser threads: their common start, the unit scan, and their leaving on a close
// request. The scan itself is DVStreamParser; the engine is its host.
#include <chrono>

#include "engines/dv_format_playback.h"
#include "platform/log.h"

namespace {
bool closeRequested() {
    return gDVFmtPlaybackParserThreadForceExit.load() != 0;
}

// Frames are to flow again, a seek, stop, close or landing at the moment on screen is
// requested, or (`orStep`) a step.
void waitUntilRequested(bool orStep) {
    const auto requested = [orStep] {
        return gDVFmtPlaybackKeepRunning.load() != 0 || gDVFmtPlaybackSliderValueChanged.load() != 0 ||
               gDVFmtPlaybackStopActionLaunched.load() != 0 ||
               gDVFmtPlaybackParserThreadForceExit.load() != 0 || gDVFmtPlaybackLandOnScreen.load() != 0 ||
               (orStep && gDVFmtPlaybackForwardAtPause.load() != 0);
    };
    while (!requested())
        RunLoopThread::interruptibleSleep(std::chrono::milliseconds(250), requested);
}
} // namespace

bool DVFormatPlayback::parserThreadStart(bool logBufferRelease) {
    isIFrame = 0;
    const std::string path = appDelg_ ? appDelg_->absoluteFilePath() : std::string();
    const bool opened = initDataFeedControllerWith(path);
    deinitVideoDecoder();
    if (reallocateRawImageBuffer() && logBufferRelease) player_log("release pRawImageBuffer...\n");
    // Nothing to play (the file cannot be read, or is empty): say so, as at the end of a file,
    // so that the application does not stay "playing".
    if (!opened || pRawImageBuffer.empty() ||
        dataFeedController_->absPos() >= dataFeedController_->fileSize()) {
        if (appDelg_) appDelg_->setDVFmtProcessingInfoAtEndOfProcessing();
        return false;
    }
    return true;
}

void DVFormatPlayback::parserThreadLeave() {
    deinitVideoDecoder();
    resetAVStreamType();
}

void DVFormatPlayback::runParser(DVVariant variant) {
    if (!parserThreadStart(variant != DVVariant::DV5DVR)) return;
    DVStreamParser parser(variant, *dataFeedController_, *this, appDelg_);
    if (variant == DVVariant::DV5NVR) player_log("==========================\n\n");
    if (!parser.ready()) {
        if (appDelg_) appDelg_->setDVFmtProcessingInfoAtEndOfProcessing();
        parserThreadLeave();
        return;
    }
    parser.run();
    parserThreadLeave();
}

void DVFormatPlayback::threadDV4ParserForH264Selector() {
    runParser(DVVariant::DV4H264);
}

void DVFormatPlayback::threadDV4ParserForMPEG4Selector() {
    runParser(DVVariant::DV4MPEG4);
}

void DVFormatPlayback::threadDV5ParserForH264Selector() {
    runParser(DVVariant::DV5NVR);
}

void DVFormatPlayback::threadDV5DVRParserForH264Selector() {
    runParser(DVVariant::DV5DVR);
}

// ---- What the scan asks of the engine ----

void DVFormatPlayback::prepareVideoDecoder(int channel, int codec) {
    if (channel < 0 || channel >= kEngineChannelCount || hadInitVideoDecoderFlag[channel]) return;
    videoCodec[channel] = codec;
    initVideoDecoderWithThreadIndex(channel, codec);
    hadInitVideoDecoderFlag[channel] = 1;
}

bool DVFormatPlayback::audioFormatAnnounced(int channel) const {
    // A channel outside the tables counts as announced: nothing is done for it.
    return channel < 0 || channel >= kEngineChannelCount || hadInitAudioDecoderFlag[channel] != 0;
}

void DVFormatPlayback::setAudioFormat(int channel, int format) {
    if (channel < 0 || channel >= kEngineChannelCount) return;
    audioCodec[channel] = format;
    hadInitAudioDecoderFlag[channel] = 1;
}

void DVFormatPlayback::resetStreams() {
    deinitVideoDecoder();
    resetAVStreamType();
}

void DVFormatPlayback::pause(std::chrono::microseconds duration) {
    RunLoopThread::interruptibleSleep(duration, closeRequested);
}

void DVFormatPlayback::waitForRequest() {
    waitUntilRequested(false);
}

void DVFormatPlayback::holdForRequest() {
    waitUntilRequested(true);
}
