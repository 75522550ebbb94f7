// The DV parser threads: their common start, and their leaving on a close request.
#include <chrono>

#include "engines/dv_format_playback.h"
#include "platform/log.h"

bool DVFormatPlayback::parserThreadStart(bool logBufferRelease) {
    isIFrame = 0;
    const std::string path = appDelg_ ? appDelg_->absoluteFilePath() : std::string();
    const bool opened = initDataFeedControllerWith(path);
    deinitVideoDecoder();
    if (reallocateRawImageBuffer() && logBufferRelease) player_log("release pRawImageBuffer...\n");
    if (!opened || !pRawImageBuffer) {
        // Nothing can be played: say so, as at the end of a file, rather than read nothing.
        if (appDelg_) appDelg_->setDVFmtProcessingInfoAtEndOfProcessing();
        return false;
    }
    // An empty file has nothing to parse.
    return dataFeedController_->absPos() < dataFeedController_->fileSize();
}

void DVFormatPlayback::parserThreadLeave() {
    deinitVideoDecoder();
    resetAVStreamType();
}

namespace {
// Until the unit scan runs here, a parser holds its file open and waits to be told to leave.
void waitForCloseRequest() {
    while (!gDVFmtPlaybackParserThreadForceExit.load()) {
        RunLoopThread::interruptibleSleep(std::chrono::milliseconds(10),
                                          [] { return gDVFmtPlaybackParserThreadForceExit.load() != 0; });
    }
}
} // namespace

void DVFormatPlayback::threadDV4ParserForH264Selector() {
    if (!parserThreadStart(true)) return;
    waitForCloseRequest();
    parserThreadLeave();
}

void DVFormatPlayback::threadDV4ParserForMPEG4Selector() {
    if (!parserThreadStart(true)) return;
    waitForCloseRequest();
    parserThreadLeave();
}

void DVFormatPlayback::threadDV5ParserForH264Selector() {
    if (!parserThreadStart(true)) return;
    player_log("==========================\n\n");
    waitForCloseRequest();
    parserThreadLeave();
}

void DVFormatPlayback::threadDV5DVRParserForH264Selector() {
    if (!parserThreadStart(false)) return;
    waitForCloseRequest();
    parserThreadLeave();
}
