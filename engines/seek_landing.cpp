#include "engines/seek_landing.h"

void SeekLanding::begin(uint64_t place, const LandingPositions &landAt, uint64_t momentUs) {
    seen_ = 0;
    landed_ = 0;
    frames_ = 0;
    firstUs_ = 0;
    place_ = place;
    placeMet_ = momentUs != 0;
    placeUs_ = momentUs;
    landAt_ = landAt;
    for (int channel = 0; channel < 16; ++channel)
        if (landAt_[static_cast<size_t>(channel)] != 0) met_ = static_cast<uint16_t>(met_ | bit(channel));
}

bool SeekLanding::meet(int channel, uint64_t timeUs, uint64_t pos, bool landing, uint16_t wanted) {
    const uint16_t b = bit(channel);
    met_ = static_cast<uint16_t>(met_ | b);
    if (!landing) return true;
    if (frames_++ == 0) firstUs_ = timeUs;
    if (frames_ > kSeekLandingMaxFrames) return false;
    if (!placeMet_ && pos >= place_) {
        placeMet_ = true;
        placeUs_ = timeUs;
    }
    // Before the place the landing reads what the look-back found (a channel's key frame may lie
    // a whole look-back before another's); from the place on, the span.
    const uint64_t from = placeMet_ ? placeUs_ : firstUs_;
    const uint64_t ahead = placeMet_ ? kSeekLandingSpanUs : 2 * kSeekLandingLookBackUs + kSeekLandingSpanUs;
    const uint64_t back = kSeekLandingLookBackUs + kSeekLandingSpanUs;
    if (timeUs > from + ahead || timeUs + back < from) return false;
    if (beforeItsKeyFrame(channel, pos)) return true;
    // A channel met again: every channel that has pictures near here has had its turn.
    const bool again = (seen_ & b) != 0;
    seen_ = static_cast<uint16_t>(seen_ | b);
    return !again || (met_ & wanted & ~landed_) != 0;
}

LandingFrame SeekLanding::frameUse(int channel, uint64_t pos, uint64_t timeUs) const {
    if (beforeItsKeyFrame(channel, pos)) return LandingFrame::PassedOver;
    if (landed_ & bit(channel)) return LandingFrame::DecodedOnly;
    // Before the moment the frame only brings the channel's decoder up to it.
    return placeMet_ && timeUs >= placeUs_ ? LandingFrame::Shown : LandingFrame::DecodedOnly;
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
