// The landing of a jump (a seek, a DV5 Stop, Play after key frames only, a view change) at one
// moment T: every channel whose pictures are wanted shows its picture of that moment, so that
// the tiles under one clock show one moment. T is given (the moment on screen), or it is the
// recorder time of the first video frame at or after the place sought. Each channel decodes
// from its own last key frame at or before T, where the search found one (the landing's
// position `landAt` for that channel), which may lie after the place in the file; its frames
// before T are decoded without being shown, and its first picture at or after T is shown (on a
// recorder's frame grid, its picture at T). A channel with no key frame found shows the first
// picture its fresh decoder can make from T on. The frames of the landing are read on unpaced;
// a channel's frames before its key frame are passed over, and a channel that has landed
// decodes its later ones without showing them, so that its pictures stay whole when playing
// goes on from where the landing ended. Paused, the engine then holds again; playing, it plays
// on from there.
//
// A channel whose picture does not come within kSeekLandingSpanUs of recording time after the
// place (it ended earlier, it has no key frame near here, its data cannot be decoded) does not
// hold the others: the landing ends there. Time stamps that jump either way, and more than
// kSeekLandingMaxFrames frames, count as beyond the span.
//
// The reader that hands frames off and the playback thread that takes each one use it in turn
// (every hand-off is waited for); nothing else touches it.
#pragma once

#include <array>
#include <cstdint>

#include "engines/engine_delegate.h"

constexpr uint64_t kSeekLandingSpanUs = 2000000;
// How far before the place a seek looks for each channel's last key frame.
constexpr uint64_t kSeekLandingLookBackUs = 10000000;
constexpr uint32_t kSeekLandingMaxFrames = 16384;
// The DV scan's bound on a stretch past the place without a frame to show (damaged data holds
// no units).
constexpr uint64_t kSeekLandingMaxBytes = 32ull << 20;

// What a video frame is for.
enum class LandingFrame {
    None,        // no landing: shown and paced as usual
    PassedOver,  // before the channel's key frame of the landing: not handed off at all
    Shown,       // the channel's picture of the landing: shown at once, not paced
    DecodedOnly, // the channel has landed: decoded only, not shown, not paced
};

// Per channel (0-based) the position of its key frame to land on, in the reader's own terms
// (a DV5 payload offset, an AVC frame number); 0: none known, the first picture lands.
using LandingPositions = std::array<uint64_t, 16>;

class SeekLanding {
  public:
    // A new file: none of its channels has been met.
    void forgetChannels() { met_ = 0; }
    // The file's channels met so far (bit n: channel n); more of them, met by a search.
    uint16_t channelsMet() const { return met_; }
    void meetChannels(uint16_t channels) { met_ = static_cast<uint16_t>(met_ | channels); }
    // A landing starts at the seek's place (`place`, in the positions' terms; 0 when the landing
    // starts at the place itself), with the channels' key frames to land on, at the moment
    // `momentUs` (0: the time of the first frame met at or after the place). No channel has
    // landed, no frame of it has been met; a channel with a key frame found is one of the file's.
    void begin(uint64_t place = 0, const LandingPositions &landAt = LandingPositions{},
               uint64_t momentUs = 0);
    // A video frame of `channel` (0-based) at recorder time `timeUs` and position `pos`, met by
    // the reader whether it is handed off or not, counts the channel as one of the file's.
    // During a landing (`landing`) the answer is whether the frame belongs to it: the landing
    // ends before a frame beyond its span, and before the first frame of a channel met again
    // once every channel met whose pictures are wanted (bit n of `wanted`: channel n) has shown
    // one.
    bool meet(int channel, uint64_t timeUs, uint64_t pos, bool landing, uint16_t wanted);
    // How the channel's frame at `pos`, of recorder time `timeUs`, met last, is used.
    LandingFrame frameUse(int channel, uint64_t pos, uint64_t timeUs) const;
    // The landing's moment, once known (0 before).
    uint64_t momentUs() const { return placeMet_ ? placeUs_ : 0; }
    void pictureShown(int channel);
    // The file ends, with its last frame at `timeUs`, before the place: that frame is the place's.
    void reachEnd(uint64_t timeUs) {
        if (placeMet_) return;
        placeMet_ = true;
        placeUs_ = timeUs;
    }
    // Every channel whose pictures are wanted has shown one (a single view's one channel, say):
    // nothing more can land.
    bool allLanded(uint16_t wanted) const { return (wanted & ~landed_) == 0; }

  private:
    static uint16_t bit(int channel) {
        return channel >= 0 && channel < 16 ? static_cast<uint16_t>(1u << channel) : 0;
    }
    bool beforeItsKeyFrame(int channel, uint64_t pos) const {
        return bit(channel) && pos < landAt_[static_cast<size_t>(channel)];
    }

    uint16_t met_ = 0;    // the file's channels
    uint16_t seen_ = 0;   // channels met since the landing began (from their key frame on)
    uint16_t landed_ = 0; // channels that have shown their picture
    uint32_t frames_ = 0;
    uint64_t firstUs_ = 0;
    uint64_t place_ = 0;
    bool placeMet_ = false; // the moment is known (given, or a frame at or past the place met)
    uint64_t placeUs_ = 0;  // the moment
    LandingPositions landAt_{};
};

// The channels whose pictures the delegate wants (bit n: channel n): those it has decoded.
uint16_t landingWantedChannels(EngineDelegate *delegate);
