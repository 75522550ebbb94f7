#include "engines/moment_survey.h"

#include <algorithm>

MomentSurvey::MomentSurvey(uint16_t wanted, uint64_t momentUs) : wanted_(wanted), givenUs_(momentUs) {}

void MomentSurvey::markPlace() {
    if (placeAt_ == SIZE_MAX) placeAt_ = looked_.size();
}

void MomentSurvey::look(const SurveyUnit &unit) {
    const uint64_t t = unit.timeUs;
    if (!looked_.empty() && (t + kMomentWindowUs < stretchMaxUs_ || t > stretchMaxUs_ + kStretchJumpUs)) {
        ++stretch_;
        stretchMaxUs_ = t;
    }
    if (looked_.empty()) stretchMaxUs_ = t;
    stretchMaxUs_ = std::max(stretchMaxUs_, t);
    looked_.push_back({unit, stretch_});
    seen_ = static_cast<uint16_t>(seen_ | bit(unit.channel));
    if (placeAt_ == SIZE_MAX || lookDone_) return;
    // Past the place: done once a unit lies beyond the moment by the window, or across a change
    // from the place's stretch (a lone unit at the place is passed over as damaged).
    const size_t at = placeUnit();
    const Looked &place = looked_[at];
    if (&place == &looked_.back()) return;
    const uint64_t moment = givenUs_ != 0 ? givenUs_ : place.unit.timeUs;
    const Looked &last = looked_.back();
    if (last.stretch != place.stretch || last.unit.timeUs > moment + kMomentWindowUs) lookDone_ = true;
}

size_t MomentSurvey::placeUnit() const {
    if (looked_.empty()) return 0;
    if (placeAt_ >= looked_.size()) return looked_.size() - 1;
    for (size_t i = placeAt_; i < looked_.size(); ++i) {
        const uint32_t s = looked_[i].stretch;
        const bool joined =
            (i > 0 && looked_[i - 1].stretch == s) || (i + 1 < looked_.size() && looked_[i + 1].stretch == s);
        // While looking, the last unit may yet be joined by the next.
        if (joined || (!lookFinished_ && i + 1 == looked_.size())) return i;
    }
    return placeAt_;
}

bool MomentSurvey::chooseMoment(uint32_t *stretch) {
    if (looked_.empty()) return false;
    if (givenUs_ != 0) {
        // The stretch of the moment given: that of the unit of its time nearest the place,
        // looking first before it (the picture on screen was read before the place).
        const size_t place = std::min(placeAt_, looked_.size());
        const auto near = [&](size_t i) {
            const uint64_t t = looked_[i].unit.timeUs;
            return t + kMomentWindowUs >= givenUs_ && t <= givenUs_ + kMomentWindowUs;
        };
        for (size_t i = place; i-- > 0;)
            if (near(i)) {
                *stretch = looked_[i].stretch;
                momentUs_ = givenUs_;
                return true;
            }
        for (size_t i = place; i < looked_.size(); ++i)
            if (near(i)) {
                *stretch = looked_[i].stretch;
                momentUs_ = givenUs_;
                return true;
            }
        // Nothing of that moment around here: the place's own.
    }
    const Looked &place = looked_[placeUnit()];
    *stretch = place.stretch;
    momentUs_ = place.unit.timeUs;
    return true;
}

void MomentSurvey::finishLook(bool fileEnded) {
    lookFinished_ = true;
    uint32_t stretch = 0;
    if (!chooseMoment(&stretch)) return;
    const uint64_t t = momentUs_;
    LandingPositions lastInStretch{};
    uint16_t hasLast = 0;
    for (const Looked &l : looked_) {
        if (l.stretch != stretch) continue;
        const uint16_t b = static_cast<uint16_t>(bit(l.unit.channel) & wanted_);
        if (!b) continue;
        const size_t c = static_cast<size_t>(l.unit.channel);
        if (!(present_ & b) && l.unit.timeUs >= t && l.unit.timeUs <= t + kMomentWindowUs) {
            present_ = static_cast<uint16_t>(present_ | b);
            pictureAt_[c] = l.unit.pos;
        }
        lastInStretch[c] = l.unit.pos;
        hasLast = static_cast<uint16_t>(hasLast | b);
    }
    // At the end of the file a channel's last frame, a little before T, is its picture there.
    if (fileEnded && stretch == looked_.back().stretch) {
        for (const Looked &l : looked_) {
            const uint16_t b = static_cast<uint16_t>(bit(l.unit.channel) & wanted_ & hasLast & ~present_);
            if (!b || l.stretch != stretch ||
                l.unit.pos != lastInStretch[static_cast<size_t>(l.unit.channel)] ||
                l.unit.timeUs + kMomentWindowUs < t)
                continue;
            present_ = static_cast<uint16_t>(present_ | b);
            pictureAt_[static_cast<size_t>(l.unit.channel)] = l.unit.pos;
        }
    }
    // The key frames the look holds: each channel's last one at or before its picture.
    for (const Looked &l : looked_) {
        const uint16_t b = static_cast<uint16_t>(bit(l.unit.channel) & present_);
        const size_t c = static_cast<size_t>(l.unit.channel);
        if (!b || !l.unit.key || l.unit.pos > pictureAt_[c]) continue;
        keyed_ = static_cast<uint16_t>(keyed_ | b);
        keyAt_[c] = l.unit.pos;
        keyStart_[c] = l.unit.start;
    }
}

bool MomentSurvey::keyBefore(int channel, uint64_t pos, uint64_t start) {
    const uint16_t b = static_cast<uint16_t>(bit(channel) & keysWanted());
    if (b && pos <= pictureAt_[static_cast<size_t>(channel)]) {
        keyed_ = static_cast<uint16_t>(keyed_ | b);
        keyAt_[static_cast<size_t>(channel)] = pos;
        keyStart_[static_cast<size_t>(channel)] = start;
    }
    return keysWanted() != 0;
}

LandingPlan MomentSurvey::plan() const {
    LandingPlan p;
    p.momentUs = momentUs_;
    p.present = static_cast<uint16_t>(present_ & keyed_);
    bool first = true;
    for (size_t c = 0; c < 16; ++c) {
        if (!(p.present & (1u << c))) continue;
        p.keyAt[c] = keyAt_[c];
        p.pictureAt[c] = pictureAt_[c];
        if (first || keyStart_[c] < p.restart) p.restart = keyStart_[c];
        first = false;
    }
    return p;
}
