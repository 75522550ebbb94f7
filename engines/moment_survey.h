// Where a jump's landing shows each channel's picture of one moment T, and where each channel
// decodes it from. Both readers feed it: the DV5 scan its units, the AVC engine its records.
//
// Recorders write the channels' frames of one moment one after another, not always in time
// order, and their clock may be set back (summer time, a time server) or forward mid-file. So
// times are compared only inside a stretch of steady time, in file order: a stretch ends where
// the time goes back by more than the interleave window, or jumps forward by more than a few
// seconds. A frame on the far side of such a change is never taken as before or after T by its
// time alone.
//
// The survey has two parts:
// - The look: the units around the place in file order, from a little before it (the frames of
//   the place's moment written just before it) until past T by the interleave window. T is the
//   time of the first unit at or after the place (at the end of the file, of the last one), or
//   the moment given. A channel's picture of T is its first unit of the place's stretch timed
//   from T to T + the window; at the end of the file, its last unit when that is within the
//   window before T. A channel with no such unit has nothing at T (it stopped recording, it
//   records only on motion): it gets no picture.
// - The key frames: each channel decodes from its own last key frame at or before its picture,
//   in file order, whatever its time and however far back it lies (the reader bounds the
//   search). Those in the look are taken from it; for the others the reader searches backwards
//   from the look's start and offers every key frame it meets.
//
// Positions are in the reader's own terms (a DV5 payload offset, an AVC record number); `start`
// is where the reader restarts to read a unit (a DV5 header offset, an AVC record number).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// A recorder writes the frames of one moment within this much of it.
constexpr uint64_t kMomentWindowUs = 500000;
// A jump forward larger than this is a clock change (or a pause in the recording), not a gap
// between frames.
constexpr uint64_t kStretchJumpUs = 4000000;

// Per channel (0-based) a position in the reader's terms.
using LandingPositions = std::array<uint64_t, 16>;

// What the landing is to do: for each channel of `present`, decode from `keyAt` (frames of the
// channel before it are passed over), show the frame at `pictureAt`, and decode the frames in
// between without showing them. Other channels show no picture.
struct LandingPlan {
    uint64_t momentUs = 0;
    uint16_t present = 0;
    LandingPositions keyAt{};
    LandingPositions pictureAt{};
    // Where the reader restarts: the earliest present channel's key frame (its `start`).
    uint64_t restart = 0;
};

struct SurveyUnit {
    int channel = 0; // 0-based; units of other numbers count only for the time
    uint64_t timeUs = 0;
    uint64_t pos = 0;
    uint64_t start = 0;
    bool key = false;
};

class MomentSurvey {
  public:
    // `wanted`: the channels whose pictures are shown (bit n: channel n). `momentUs`: the moment
    // to land at, or 0 for the place's.
    explicit MomentSurvey(uint16_t wanted, uint64_t momentUs = 0);

    // ---- The look, in file order ----
    // The next unit fed is the first at or after the place.
    void markPlace();
    void look(const SurveyUnit &unit);
    // Whether the look has what it needs: past the place, a unit beyond T by the window or on
    // the far side of a change.
    bool lookDone() const { return lookDone_; }
    // The look ends (done, the reader's bound, or the end of the file: `fileEnded`). Works out
    // T, the pictures, and the key frames the look holds.
    void finishLook(bool fileEnded);

    // ---- The key frames before the look, in reverse file order ----
    // The channels still without a key frame.
    uint16_t keysWanted() const { return static_cast<uint16_t>(present_ & ~keyed_); }
    // A key frame of `channel` met going backwards; false once no channel wants one.
    bool keyBefore(int channel, uint64_t pos, uint64_t start);

    // ---- Results ----
    uint64_t momentUs() const { return momentUs_; }
    // The channels of the units looked at (the file's).
    uint16_t channelsSeen() const { return seen_; }
    // The landing: channels with a picture and a key frame to decode it from.
    LandingPlan plan() const;

  private:
    struct Looked {
        SurveyUnit unit;
        uint32_t stretch;
    };
    static uint16_t bit(int channel) {
        return channel >= 0 && channel < 16 ? static_cast<uint16_t>(1u << channel) : 0;
    }
    // The unit at the place: the first from the place on that is not alone in its stretch (a
    // single damaged time stamp makes a stretch of its own), else the first.
    size_t placeUnit() const;
    // The stretch the pictures are taken from, and T.
    bool chooseMoment(uint32_t *stretch);

    const uint16_t wanted_;
    const uint64_t givenUs_;
    std::vector<Looked> looked_;
    size_t placeAt_ = SIZE_MAX; // index of the first unit at or after the place
    uint32_t stretch_ = 0;
    uint64_t stretchMaxUs_ = 0;
    bool lookDone_ = false;
    bool lookFinished_ = false;
    uint64_t momentUs_ = 0;
    uint16_t seen_ = 0;
    uint16_t present_ = 0;
    uint16_t keyed_ = 0;
    LandingPositions keyAt_{};
    LandingPositions keyStart_{};
    LandingPositions pictureAt_{};
};
