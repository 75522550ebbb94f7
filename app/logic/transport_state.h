#include "app/logic/player_state.h"
#include "recorderfile/avc_parse.h"
// The transport state machine: what Play, Pause, Stop, fast forward, fast rewind, a seek and a
// tick of the button watch do, for the file kind that is open.
//
// transportStep() is pure: from the state as the engines and the window see it now and one
// input, it answers the ordered list of commands for the engines (and the few shared values
// that the engines read), the status images to show, and the window-side effects. Whoever applies
// the result sends the commands in order, through a TransportTarget.
//
// Rules beyond a plain reading of the buttons, all for safety:
// - With no file running (nothing opened, an unsupported file, a torn-down engine) every input
//   changes nothing, and a seek puts the slider back.
// - The step while paused never acts on a stopped AVC file or one at its end, so a held button
//   does not restart a file that Stop has ended.
// - A seek the engine refuses (an AVC index still being built) changes nothing either: the
//   result of SeekRefused puts the slider back where playback is.
// - A seek while converting changes nothing and puts the slider back: the AVI must hold the
//   recording whole and in order.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace transport {

// Which engine runs a file: None when none does.
enum class FileKind { None, DV, AVC };

// The player states.
constexpr int kPlayerPlaying = kPlayerStatePlaying;
constexpr int kPlayerConverting = kPlayerStateConverting;
constexpr int kPlayerIdle = kPlayerStateIdle;

// The DV engine's speed steps run 0 (1x) to 4 (16x).
constexpr int kMaxSpeedStep = 4;

// AVC status and action codes: the AVC parser's own.
constexpr int kAVCNormal = AVC_STATUS_NORMAL;
constexpr int kAVCForward2x = AVC_STATUS_FORWARD_2X; // ... 16x
constexpr int kAVCRewind1x = AVC_STATUS_REWIND_1X;   // ... 16x
constexpr int kAVCRewind16x = AVC_STATUS_REWIND_16X;
constexpr int kAVCPlay = AVC_ACTION_PLAY;
constexpr int kAVCStop = AVC_ACTION_STOP;
constexpr int kAVCPause = AVC_ACTION_PAUSE;
constexpr int kAVCStepForward = AVC_ACTION_STEP_FORWARD;
constexpr int kAVCStepBack = AVC_ACTION_STEP_BACK;

// playbackTriState: the AVC file reached its end.
constexpr uint8_t kTriStateAtEnd = 1;

// The status images, one pair (window, full screen) each; Other is any other picture (the
// conversion's, none).
enum class StatusImage {
    Other,
    Play,
    Pause,
    Stop,
    Fwd2x,
    Fwd4x,
    Fwd8x,
    Fwd16x,
    Rwd1x,
    Rwd2x,
    Rwd4x,
    Rwd8x,
    Rwd16x
};
constexpr int kStatusImageCount = 13;

// The state as it stands before an input.
struct TransportState {
    FileKind file = FileKind::None;
    int playerState = kPlayerIdle;
    bool playing = false; // isPlaybackNow
    bool paused = false;  // the DV pause flag, which also marks a paused AVC file
    int speed = 0;        // speed step 0..4
    int avcStatus = kAVCPlay;
    uint8_t triState = 0;  // playbackTriState
    int audioChannel = 0;  // selected audio channel, 1-based, 0 none
    bool hasAudio = false; // the audio channel objects exist
    StatusImage windowImage = StatusImage::Stop;
    StatusImage fullScreenImage = StatusImage::Stop;

    bool operator==(const TransportState &o) const;
};

// Tick is the button watch's every tick; Step is the work a tick does while paused (see
// canStep): the held button steps one frame.
enum class Input { Play, Pause, Stop, FastForward, FastRewind, Seek, SeekRefused, Tick, Step };

// Which press-and-hold button a step finds held (rewind buttons are looked at first).
enum class HeldButton { None, Rewind, Forward };

struct TransportInput {
    Input input = Input::Play;
    int percent = 0;                    // Seek: 0..100
    HeldButton held = HeldButton::None; // Step
};

// One write or call, in the order it must happen.
enum class Command {
    SetPlaying,        // isPlaybackNow = value
    SetPaused,         // pause flag = value
    SetKeepRunning,    // DV keep-running flag = value
    SetStopLaunched,   // DV stop flag = value
    SetSpeed,          // speed step = value
    SetForwardAtPause, // DV step-forward-while-paused flag = value
    SetAVCStatus,      // the AVC status the engine paces by = value
    AVCAction,         // pass action code value to the AVC engine
    AVCSeek,           // AVC seek to value per cent; the engine may refuse
    DVSeek,            // DV seek to value per cent
    DVResetAudioTime,  // the DV engine's audio time after a speed change
    AudioPlay,         // start audio channel value (0-based)
    AudioStop,         // stop audio channel value (0-based)
    FinishConversion,  // end the running conversion
};

struct TransportCommand {
    Command command;
    int value = 0;
    bool operator==(const TransportCommand &o) const { return command == o.command && value == o.value; }
};

struct TransportResult {
    std::vector<TransportCommand> commands;
    std::optional<StatusImage> windowImage;     // set: show this image in the window
    std::optional<StatusImage> fullScreenImage; // set: show this image in the full-screen panel
    bool unsupportedAlert = false;              // "Action Unsupported" (fast rewind of a DV file)
    bool resetProgressLater = false;            // progress back to 0 a quarter of a second later
    bool showFullScreenPanel = false;           // a step: the full-screen panel shows (in full screen)
    bool restoreProgressSlider = false;         // the slider goes back to where playback is
    bool seekFirst = false;                     // commands[0] is a seek: nothing else if it is refused
    TransportState next;                        // the state once the result is applied
};

TransportResult transportStep(const TransportState &state, const TransportInput &input);

// A tick leads to a step only in this state: a running file, paused, not stopped.
bool canStep(const TransportState &state);

// The speed step's status images: 1..4 give 2x..16x.
StatusImage forwardImage(int speedStep);
// The AVC rewind statuses 5..9 give 1x..16x.
StatusImage rewindImage(int avcStatus);

const char *commandName(Command command);

} // namespace transport
