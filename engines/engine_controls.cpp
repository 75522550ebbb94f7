#include "engines/engine_controls.h"

std::atomic<uint8_t> gDVFmtPlaybackKeepRunning{1};
std::atomic<uint8_t> gDVFmtPlaybackIsPauseNow{0};
std::atomic<uint8_t> gDVFmtPlaybackStopActionLaunched{0};
std::atomic<uint8_t> gDVFmtPlaybackIFrameStop{0};
std::atomic<uint8_t> gDVFmtPlaybackParserThreadForceExit{0};
std::atomic<uint8_t> gDVFmtPlaybackSliderValueChanged{0};
std::atomic<int32_t> gDVFmtPlaybackSliderPercentage{0};
std::atomic<uint8_t> gDVFmtPlaybackForwardAtPause{0};
std::atomic<uint8_t> gDVFmtPlaybackShowSeekLanding{0};
std::atomic<uint8_t> gDVFmtPlaybackLandOnScreen{0};
std::atomic<int32_t> gDVFmtPlaybackSpeed{0};

namespace {
// Seek requests made so far.
std::atomic<uint32_t> seekRequests{0};
} // namespace

void dvFmtRequestSeek(int32_t percent) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    gDVFmtPlaybackKeepRunning = 0;
    gDVFmtPlaybackSliderPercentage = percent;
    seekRequests.fetch_add(1);
    gDVFmtPlaybackSliderValueChanged = 1;
}

uint32_t dvFmtTakeSeekRequest() {
    return seekRequests.load();
}

void dvFmtAcknowledgeSeek(uint32_t taken) {
    gDVFmtPlaybackSliderValueChanged = 0;
    // A request counted after `taken` may have raised the flag before the clear above: raise it
    // again. One that raises it after the clear needs nothing.
    if (seekRequests.load() != taken) gDVFmtPlaybackSliderValueChanged = 1;
}

void dvFmtResetControlFlags() {
    gDVFmtPlaybackKeepRunning = 1;
    gDVFmtPlaybackIsPauseNow = 0;
    gDVFmtPlaybackStopActionLaunched = 0;
    gDVFmtPlaybackIFrameStop = 0;
    gDVFmtPlaybackParserThreadForceExit = 0;
    gDVFmtPlaybackSliderValueChanged = 0;
    gDVFmtPlaybackSliderPercentage = 0;
    gDVFmtPlaybackForwardAtPause = 0;
    gDVFmtPlaybackShowSeekLanding = 0;
    gDVFmtPlaybackLandOnScreen = 0;
    gDVFmtPlaybackSpeed = 0;
}
