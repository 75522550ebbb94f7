#include "engines/seek_landing.h"

void SeekLanding::begin() {
    seen_ = 0;
    landed_ = 0;
    frames_ = 0;
    firstUs_ = 0;
}

bool SeekLanding::meet(int channel, uint64_t timeUs, bool landing, uint16_t wanted) {
    const uint16_t b = bit(channel);
    met_ = static_cast<uint16_t>(met_ | b);
    if (!landing) return true;
    if (frames_++ == 0) firstUs_ = timeUs;
    const uint64_t apart = timeUs > firstUs_ ? timeUs - firstUs_ : firstUs_ - timeUs;
    if (apart > kSeekLandingSpanUs || frames_ > kSeekLandingMaxFrames) return false;
    // A channel met again: every channel that has pictures near here has had its turn.
    const bool again = (seen_ & b) != 0;
    seen_ = static_cast<uint16_t>(seen_ | b);
    return !again || (met_ & wanted & ~landed_) != 0;
}

LandingFrame SeekLanding::frameUse(int channel) const {
    return (landed_ & bit(channel)) ? LandingFrame::DecodedOnly : LandingFrame::Shown;
}

void SeekLanding::pictureShown(int channel) {
    landed_ = static_cast<uint16_t>(landed_ | bit(channel));
}

uint16_t landingWantedChannels(EngineDelegate *delegate) {
    uint16_t wanted = 0;
    for (int channel = 0; delegate && channel < 16; ++channel)
        if (delegate->checkNeedDecodeForMultiCHs(static_cast<uint8_t>(channel)))
            wanted = static_cast<uint16_t>(wanted | 1u << channel);
    return wanted;
}
