// The landing of a seek made while paused. Every channel whose pictures are wanted shows its
// first picture from the new place (the first its fresh decoder can make there: from its first
// key frame on), and the engine then holds again. The frames of the landing are read on unpaced;
// a channel that has landed decodes its later ones without showing them, so that its pictures
// stay whole when Play goes on from where the landing ended.
//
// A channel whose picture does not come within kSeekLandingSpanUs of recording time after the
// landing's first frame (it ended earlier, its key frames are far apart, the data there cannot
// be decoded) does not hold the others: the landing ends there. Time stamps that jump either
// way, and more than kSeekLandingMaxFrames frames, count as beyond the span.
//
// The reader that hands frames off and the playback thread that takes each one use it in turn
// (every hand-off is waited for); nothing else touches it.
#pragma once

#include <cstdint>

#include "engines/engine_delegate.h"

constexpr uint64_t kSeekLandingSpanUs = 2000000;
constexpr uint32_t kSeekLandingMaxFrames = 4096;
// The DV scan's bound on a stretch without a frame to show (damaged data holds no units).
constexpr uint64_t kSeekLandingMaxBytes = 32ull << 20;

// What a video frame is for.
enum class LandingFrame {
    None,        // no landing: shown and paced as usual
    Shown,       // the channel's first picture of the landing: shown at once, not paced
    DecodedOnly, // the channel has landed: decoded only, not shown, not paced
};

class SeekLanding {
  public:
    // A new file: none of its channels has been met.
    void forgetChannels() { met_ = 0; }
    // A landing starts: no channel has landed, no frame of it has been met.
    void begin();
    // A video frame of `channel` (0-based) at recorder time `timeUs`, met by the reader whether it
    // is handed off or not, counts the channel as one of the file's. During a landing
    // (`landing`) the answer is whether the frame belongs to it: the landing ends before a frame
    // beyond its span, and before the first frame of a channel met again once every channel met
    // whose pictures are wanted (bit n of `wanted`: channel n) has shown one.
    bool meet(int channel, uint64_t timeUs, bool landing, uint16_t wanted);
    LandingFrame frameUse(int channel) const;
    void pictureShown(int channel);
    // Every channel whose pictures are wanted has shown one (a single view's one channel, say):
    // nothing more can land.
    bool allLanded(uint16_t wanted) const { return (wanted & ~landed_) == 0; }

  private:
    static uint16_t bit(int channel) {
        return channel >= 0 && channel < 16 ? static_cast<uint16_t>(1u << channel) : 0;
    }

    uint16_t met_ = 0;    // the file's channels
    uint16_t seen_ = 0;   // channels met since the landing began
    uint16_t landed_ = 0; // channels that have shown their picture
    uint32_t frames_ = 0;
    uint64_t firstUs_ = 0;
};

// The channels whose pictures the delegate wants (bit n: channel n): those it has decoded.
uint16_t landingWantedChannels(EngineDelegate *delegate);
