// Process-wide controls through which the application steers the playback engines.
//
// The DV engine is steered by the g… flags below: the main thread writes them, the engine's
// parser and playback threads poll them once per pass. They are atomics, so a change is seen
// by the next poll; nothing relies on an order between two flags except where a helper below
// fixes one.
//
// The AVC engine is steered by action codes passed to its parser.
#pragma once

#include "recorderfile/audio_format.h"

#include <atomic>
#include <cstdint>

// ---- DV engine control flags -------------------------------------------------------------

// Frames flow; 0 holds the parser after its current hand-off. Starts at 1.
extern std::atomic<uint8_t> gDVFmtPlaybackKeepRunning;
// The user paused.
extern std::atomic<uint8_t> gDVFmtPlaybackIsPauseNow;
// The user pressed Stop: the parser rewinds and shows the first key frame.
extern std::atomic<uint8_t> gDVFmtPlaybackStopActionLaunched;
// Set by the parser on stop: halt after the first key frame.
extern std::atomic<uint8_t> gDVFmtPlaybackIFrameStop;
// The parser must leave; the parser clears it when it has left.
extern std::atomic<uint8_t> gDVFmtPlaybackParserThreadForceExit;
// A seek is requested (its target is gDVFmtPlaybackSliderPercentage).
extern std::atomic<uint8_t> gDVFmtPlaybackSliderValueChanged;
// Seek target, 0 to 100 per cent of the file size.
extern std::atomic<int32_t> gDVFmtPlaybackSliderPercentage;
// One step forward while paused.
extern std::atomic<uint8_t> gDVFmtPlaybackForwardAtPause;
// Set by the parser after a seek while paused: frames flow until every channel has shown its
// first picture of the new place (SeekLanding), then the engine holds again.
extern std::atomic<uint8_t> gDVFmtPlaybackShowSeekLanding;
// The view changed: every channel it shows is to show the moment on screen (a landing there).
extern std::atomic<uint8_t> gDVFmtPlaybackLandOnScreen;
// 0 = 1x, 1 = 2x, 2 = 4x, 3 = 8x, 4 = 16x.
extern std::atomic<int32_t> gDVFmtPlaybackSpeed;

// Number of speed steps: gDVFmtPlaybackSpeed runs from 0 to kDVFmtPlaybackMaxSpeed.
constexpr int32_t kDVFmtPlaybackMaxSpeed = 4;
// From this speed step on (8x) only key frames are handed off.
constexpr int32_t kDVFmtKeyFramesOnlySpeed = 3;

// Requests a seek of the DV engine to `percent` (0..100) of the file. The target is stored
// before the request flag is raised, so the parser never reads a stale target.
void dvFmtRequestSeek(int32_t percent);
// The parser's side of a seek: it takes the request's number before it reads the target, and
// acknowledges with that number when it has carried the seek out. A request made meanwhile
// (the user drags again while the parser rewinds) keeps the flag raised for the next pass
// instead of being cleared with the one served.
uint32_t dvFmtTakeSeekRequest();
void dvFmtAcknowledgeSeek(uint32_t taken);

// Puts every DV flag back to its start value (used between test cases and at start-up).
void dvFmtResetControlFlags();

// ---- AVC engine status and action codes --------------------------------------------------

// Status values and actions share one numbering: 0..9 set the parser's status (normal play,
// fast forward, rewind); 10..14 are one-off actions.
enum AVCFmtPlaybackAction : int {
    kAVCFmtPlaybackNormal = 0,
    kAVCFmtPlaybackFastForward2x = 1,
    kAVCFmtPlaybackFastForward4x = 2,
    kAVCFmtPlaybackFastForward8x = 3,
    kAVCFmtPlaybackFastForward16x = 4,
    kAVCFmtPlaybackRewind1x = 5,
    kAVCFmtPlaybackRewind2x = 6,
    kAVCFmtPlaybackRewind4x = 7,
    kAVCFmtPlaybackRewind8x = 8,
    kAVCFmtPlaybackRewind16x = 9,
    kAVCFmtPlaybackPlay = 10,
    kAVCFmtPlaybackStop = 11,
    kAVCFmtPlaybackPause = 12,
    kAVCFmtPlaybackStepForward = 13,
    kAVCFmtPlaybackStepBack = 14,
};

// playbackTriState values kept by the application.
constexpr uint8_t kPlaybackTriStateFlowing = 0;
constexpr uint8_t kPlaybackTriStateAtEnd = 1;
constexpr uint8_t kPlaybackTriStateAtFirstFrame = 255;

// ---- Shared numbers ----------------------------------------------------------------------

constexpr int kEngineChannelCount = 16;

// dvFmtVideoCodec values of the DV engine.
constexpr int kDVFmtDV4H264 = 0;
constexpr int kDVFmtDV4MPEG4 = 1;
constexpr int kDVFmtDV5 = 2;
