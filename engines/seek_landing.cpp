#include "engines/seek_landing.h"

void SeekLanding::restart(uint64_t place) {
    seen_ = 0;
    landed_ = 0;
    frames_ = 0;
    place_ = place;
    atEnd_ = false;
    placeMet_ = false;
    placeUs_ = 0;
}

void SeekLanding::begin(uint64_t place, const LandingPlan &plan) {
    restart(place);
    planned_ = true;
    plan_ = plan;
    met_ = static_cast<uint16_t>(met_ | plan.present);
}

void SeekLanding::beginUnplanned(uint64_t place) {
    restart(place);
    planned_ = false;
    plan_ = LandingPlan{};
}

bool SeekLanding::picturesToCome(uint64_t *last) const {
    const uint16_t toCome = static_cast<uint16_t>(plan_.present & ~landed_);
    bool any = false;
    *last = 0;
    for (int c = 0; c < 16; ++c) {
        if (!(toCome & (1u << c))) continue;
        any = true;
        if (plan_.pictureAt[static_cast<size_t>(c)] > *last) *last = plan_.pictureAt[static_cast<size_t>(c)];
    }
    return any;
}

bool SeekLanding::meet(int channel, uint64_t timeUs, uint64_t pos, bool landing, uint16_t wanted) {
    const uint16_t b = bit(channel);
    met_ = static_cast<uint16_t>(met_ | b);
    if (!landing) return true;
    if (pos >= place_ && ++frames_ > kSeekLandingMaxFrames) return false;
    if (planned_) {
        uint64_t last = 0;
        return atEnd_ || (picturesToCome(&last) && pos <= last);
    }
    if (!placeMet_ && pos >= place_) {
        placeMet_ = true;
        placeUs_ = timeUs;
    }
    // Before the place the frames only bring the decoders up to it (the reader bounds them).
    if (!placeMet_) return true;
    if (timeUs > placeUs_ + kSeekLandingSpanUs || timeUs + kSeekLandingSpanUs < placeUs_) return false;
    // A channel met again: every channel that has pictures near here has had its turn.
    const bool again = (seen_ & b) != 0;
    seen_ = static_cast<uint16_t>(seen_ | b);
    return !again || (met_ & wanted & ~landed_) != 0;
}

LandingFrame SeekLanding::frameUse(int channel, uint64_t pos, uint64_t timeUs) const {
    const uint16_t b = bit(channel);
    if (planned_) {
        const size_t c = static_cast<size_t>(channel);
        if (!(plan_.present & b) || pos < plan_.keyAt[c]) return LandingFrame::PassedOver;
        if (landed_ & b) return LandingFrame::DecodedOnly;
        return atEnd_ || pos >= plan_.pictureAt[c] ? LandingFrame::Shown : LandingFrame::DecodedOnly;
    }
    if (landed_ & b) return LandingFrame::DecodedOnly;
    // Before the moment the frame only brings the channel's decoder up to it.
    return placeMet_ && (atEnd_ || pos >= place_) && timeUs >= placeUs_ ? LandingFrame::Shown
                                                                        : LandingFrame::DecodedOnly;
}

void SeekLanding::pictureShown(int channel) {
    landed_ = static_cast<uint16_t>(landed_ | bit(channel));
}

void SeekLanding::reachEnd(uint64_t timeUs) {
    atEnd_ = true;
    if (planned_ || placeMet_) return;
    placeMet_ = true;
    placeUs_ = timeUs;
}

uint16_t landingWantedChannels(EngineDelegate *delegate) {
    uint16_t wanted = 0;
    for (int channel = 0; delegate && channel < 16; ++channel)
        if (delegate->checkNeedDecodeForMultiCHs(static_cast<uint8_t>(channel)))
            wanted = static_cast<uint16_t>(wanted | 1u << channel);
    return wanted;
}

void showNoPictureOf(EngineDelegate *delegate, uint16_t channels) {
    for (unsigned channel = 0; delegate && channel < 16; ++channel)
        if (channels & (1u << channel)) delegate->showNoPictureOfChannel(channel);
}
