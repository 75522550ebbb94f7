// The landing of a jump (a seek, a DV5 Stop, Play after key frames only, a view change) at one
// moment T: every channel whose pictures are wanted shows its picture of that moment, so that
// the tiles under one clock show one moment. The frames of the landing are read on unpaced;
// paused, the engine then holds again, and playing, it plays on from where the landing ended.
//
// A planned landing follows a MomentSurvey's plan, by position alone (no frame's time is
// compared, so a clock set back or forward changes nothing): each present channel's frames
// before its key frame are passed over, those from it up to its picture decoded without being
// shown, its picture shown, and its later frames decoded only. Channels with nothing at T are
// passed over. The landing ends when every present channel has shown its picture, or at the
// first frame past every picture still to come (one that could not be decoded).
//
// A landing without a plan (a DV5 Stop, from the start of the file; a DV4 seek; an AVC file
// whose index is not built) shows each wanted channel's first picture from the place on, timed
// at or after the first frame met there. A channel whose picture does not come within
// kSeekLandingSpanUs of that moment (or the file's channels, met once more) does not hold the
// others.
//
// Either kind also ends after kSeekLandingMaxFrames frames from the place. Wanted channels that
// showed no picture (`unlanded`) then show none: their tiles are emptied, never left with a
// picture of another moment.
//
// The reader that hands frames off and the playback thread that takes each one use it in turn
// (every hand-off is waited for); nothing else touches it.
#pragma once

#include <cstdint>

#include "engines/engine_delegate.h"
#include "engines/moment_survey.h"

constexpr uint64_t kSeekLandingSpanUs = 2000000;
constexpr uint32_t kSeekLandingMaxFrames = 16384;
// The DV scan's bound on a stretch past the place without a frame to show (damaged data holds
// no units).
constexpr uint64_t kSeekLandingMaxBytes = 32ull << 20;
// How far before the place a seek's search for key frames reads at most.
constexpr uint64_t kSeekLandingMaxBackBytes = 128ull << 20;

// What a video frame is for.
enum class LandingFrame {
    None,        // no landing: shown and paced as usual
    PassedOver,  // before the channel's key frame of the landing: not handed off at all
    Shown,       // the channel's picture of the landing: shown at once, not paced
    DecodedOnly, // the channel has landed: decoded only, not shown, not paced
};

class SeekLanding {
  public:
    // A new file: none of its channels has been met.
    void forgetChannels() { met_ = 0; }
    // A landing by plan, from the reader's restart; `place` (in the plan's terms) is where the
    // frames' bound counts from.
    void begin(uint64_t place, const LandingPlan &plan);
    // A landing without a plan from `place` (0: the restart itself).
    void beginUnplanned(uint64_t place = 0);
    // A video frame of `channel` (0-based) at recorder time `timeUs` and position `pos`, met by
    // the reader whether it is handed off or not, counts the channel as one of the file's.
    // During a landing (`landing`) the answer is whether the frame belongs to it; false: the
    // landing ends before it. `wanted`: the channels whose pictures are wanted (bit n: channel n).
    bool meet(int channel, uint64_t timeUs, uint64_t pos, bool landing, uint16_t wanted);
    // How the channel's frame at `pos`, of recorder time `timeUs`, met last, is used.
    LandingFrame frameUse(int channel, uint64_t pos, uint64_t timeUs) const;
    void pictureShown(int channel);
    // The file ends before the pictures: its last frames are the place's.
    void reachEnd(uint64_t timeUs);
    // Every channel that can land has shown its picture: nothing more can land.
    bool allLanded(uint16_t wanted) const {
        return (wanted & (planned_ ? plan_.present : 0xFFFF) & ~landed_) == 0;
    }
    // The wanted channels that showed no picture.
    uint16_t unlanded(uint16_t wanted) const { return static_cast<uint16_t>(wanted & ~landed_); }

  private:
    static uint16_t bit(int channel) {
        return channel >= 0 && channel < 16 ? static_cast<uint16_t>(1u << channel) : 0;
    }
    void restart(uint64_t place);
    // The last position of a picture still to come; false when none is.
    bool picturesToCome(uint64_t *last) const;

    uint16_t met_ = 0;    // the file's channels
    uint16_t seen_ = 0;   // channels met since the place (without a plan)
    uint16_t landed_ = 0; // channels that have shown their picture
    uint32_t frames_ = 0; // frames met from the place on
    uint64_t place_ = 0;
    bool atEnd_ = false;
    bool planned_ = false;
    LandingPlan plan_;
    bool placeMet_ = false; // without a plan: the moment is known (a frame at or past the place met)
    uint64_t placeUs_ = 0;
};

// The channels whose pictures the delegate wants (bit n: channel n): those it has decoded.
uint16_t landingWantedChannels(EngineDelegate *delegate);
// A landing ended: the tiles of `channels` (bit n: channel n) show no picture.
void showNoPictureOf(EngineDelegate *delegate, uint16_t channels);
