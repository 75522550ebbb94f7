// The transport state machine: every input in the states that matter, as one table, plus the
// speed cycles as sequences.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/logic/transport_state.h"

using namespace transport;

namespace {

using C = Command;
using Img = StatusImage;

// A state, built up from "playing at 1x, showing play, audio channel 2".
struct S {
    TransportState s;
    explicit S(FileKind file) {
        s.file = file;
        s.playerState = kPlayerPlaying;
        s.playing = true;
        s.avcStatus = kAVCPlay;
        s.audioChannel = 2;
        s.hasAudio = true;
        s.windowImage = s.fullScreenImage = Img::Play;
    }
    S &status(int v) {
        s.avcStatus = v;
        return *this;
    }
    S &paused() {
        s.paused = true;
        s.playing = false;
        s.avcStatus = s.file == FileKind::AVC ? kAVCPause : s.avcStatus;
        s.windowImage = s.fullScreenImage = Img::Pause;
        return *this;
    }
    S &stopped() {
        s.playing = false;
        s.avcStatus = kAVCStop;
        s.windowImage = s.fullScreenImage = Img::Stop;
        return *this;
    }
    S &atEnd() {
        stopped();
        s.triState = kTriStateAtEnd;
        return *this;
    }
    S &speed(int v) {
        s.speed = v;
        return *this;
    }
    S &player(int v) {
        s.playerState = v;
        return *this;
    }
    S &images(Img window, Img full) {
        s.windowImage = window;
        s.fullScreenImage = full;
        return *this;
    }
    S &noAudio() {
        s.hasAudio = false;
        return *this;
    }
    operator TransportState() const { return s; }
};

TransportInput in(Input i, int percent = 0) {
    return TransportInput{i, percent, HeldButton::None};
}
TransportInput stepHolding(HeldButton held) {
    return TransportInput{Input::Step, 0, held};
}

enum Effect : unsigned { kNone = 0, kAlert = 1, kResetLater = 2, kPanel = 4, kRestore = 8, kSeekFirst = 16 };

struct Case {
    const char *name;
    TransportState state;
    TransportInput input;
    std::vector<TransportCommand> commands;
    std::optional<Img> window, full;
    unsigned effects = kNone;
};

const std::optional<Img> kKeep;

std::string describe(const std::vector<TransportCommand> &commands) {
    std::string text;
    for (const TransportCommand &c : commands)
        text += std::string(commandName(c.command)) + "(" + std::to_string(c.value) + ") ";
    return text;
}

// Applies the result's own commands and images to the state by hand, to check `next` against.
TransportState replay(TransportState s, const TransportResult &r) {
    for (const TransportCommand &c : r.commands) {
        if (c.command == C::SetPlaying) s.playing = c.value;
        if (c.command == C::SetPaused) s.paused = c.value;
        if (c.command == C::SetSpeed) s.speed = c.value;
        if (c.command == C::SetAVCStatus) s.avcStatus = c.value;
    }
    if (r.windowImage) s.windowImage = *r.windowImage;
    if (r.fullScreenImage) s.fullScreenImage = *r.fullScreenImage;
    return s;
}

TEST(TransportState, EveryInputInEveryStateThatMatters) {
    const FileKind DV = FileKind::DV, AVC = FileKind::AVC, None = FileKind::None;
    const std::vector<Case> cases = {
        // ---- Play: flags, AVC play code, the selected channel's audio, play images.
        {"play AVC",
         S(AVC).paused(),
         in(Input::Play),
         {{C::SetKeepRunning, 1},
          {C::SetStopLaunched, 0},
          {C::SetSpeed, 0},
          {C::SetAVCStatus, 10},
          {C::AVCAction, 10},
          {C::AudioPlay, 1},
          {C::SetPlaying, 1},
          {C::SetPaused, 0}},
         Img::Play,
         Img::Play},
        {"play DV without audio objects",
         S(DV).paused().noAudio(),
         in(Input::Play),
         {{C::SetKeepRunning, 1},
          {C::SetStopLaunched, 0},
          {C::SetSpeed, 0},
          {C::SetPlaying, 1},
          {C::SetPaused, 0}},
         Img::Play,
         Img::Play},
        {"play after the AVC end starts the file again",
         S(AVC).atEnd(),
         in(Input::Play),
         {{C::SetKeepRunning, 1},
          {C::SetStopLaunched, 0},
          {C::SetSpeed, 0},
          {C::SetAVCStatus, 10},
          {C::AVCAction, 10},
          {C::AudioPlay, 1},
          {C::SetPlaying, 1},
          {C::SetPaused, 0}},
         Img::Play,
         Img::Play},

        // ---- Pause: the AVC pause code once only; a stop image stays.
        {"pause AVC",
         S(AVC).speed(2).status(2),
         in(Input::Pause),
         {{C::SetKeepRunning, 0},
          {C::SetAVCStatus, 12},
          {C::AVCAction, 12},
          {C::SetPlaying, 0},
          {C::SetPaused, 1}},
         Img::Pause,
         Img::Pause},
        {"pause an AVC file already paused sends no code",
         S(AVC).paused(),
         in(Input::Pause),
         {{C::SetKeepRunning, 0}, {C::SetPlaying, 0}, {C::SetPaused, 1}},
         Img::Pause,
         Img::Pause},
        {"pause DV keeps a stop image",
         S(DV).images(Img::Stop, Img::Fwd4x),
         in(Input::Pause),
         {{C::SetKeepRunning, 0}, {C::SetPlaying, 0}, {C::SetPaused, 1}},
         kKeep,
         Img::Pause},
        {"pause at the AVC end changes nothing", S(AVC).atEnd(), in(Input::Pause), {}, kKeep, kKeep},

        // ---- Stop.
        {"stop paused DV runs the parser first",
         S(DV).paused().speed(3),
         in(Input::Stop),
         {{C::SetKeepRunning, 1},
          {C::SetStopLaunched, 0},
          {C::SetSpeed, 0},
          {C::SetPaused, 0},
          {C::SetStopLaunched, 1},
          {C::AudioStop, 1},
          {C::SetPlaying, 0}},
         Img::Stop,
         Img::Stop,
         kResetLater},
        {"stop AVC",
         S(AVC),
         in(Input::Stop),
         {{C::SetAVCStatus, 11},
          {C::AVCAction, 11},
          {C::SetStopLaunched, 1},
          {C::AudioStop, 1},
          {C::SetPlaying, 0}},
         Img::Stop,
         Img::Stop,
         kResetLater},
        {"stop a stopped AVC file sends no code",
         S(AVC).stopped().noAudio(),
         in(Input::Stop),
         {{C::SetStopLaunched, 1}, {C::SetPlaying, 0}},
         Img::Stop,
         Img::Stop,
         kResetLater},
        {"stop while converting AVC ends the conversion only",
         S(AVC).player(kPlayerConverting),
         in(Input::Stop),
         {{C::SetAVCStatus, 11}, {C::AVCAction, 11}, {C::FinishConversion, 0}},
         kKeep,
         kKeep},
        {"stop while converting DV",
         S(DV).player(kPlayerConverting),
         in(Input::Stop),
         {{C::FinishConversion, 0}},
         kKeep,
         kKeep},
        {"stop while a conversion waits for its channel",
         S(None).player(kPlayerConverting),
         in(Input::Stop),
         {{C::FinishConversion, 0}},
         kKeep,
         kKeep},
        {"stop with the player idle",
         S(AVC).player(kPlayerIdle),
         in(Input::Stop),
         {{C::SetAVCStatus, 11}, {C::AVCAction, 11}},
         kKeep,
         kKeep},

        // ---- Fast forward: one speed step up; while paused a step; ignored at the AVC end.
        {"fast forward DV from 1x",
         S(DV),
         in(Input::FastForward),
         {{C::SetPlaying, 1}, {C::SetSpeed, 1}, {C::SetAVCStatus, 1}, {C::DVResetAudioTime, 0}},
         Img::Fwd2x,
         Img::Fwd2x},
        {"fast forward paused AVC steps one frame",
         S(AVC).paused(),
         in(Input::FastForward),
         {{C::SetPlaying, 0}, {C::SetSpeed, 0}, {C::AVCAction, 13}},
         kKeep,
         kKeep},
        {"fast forward paused DV stays at 1x",
         S(DV).paused().speed(2),
         in(Input::FastForward),
         {{C::SetPlaying, 0}, {C::SetSpeed, 0}, {C::DVResetAudioTime, 0}},
         kKeep,
         kKeep},
        {"fast forward at the AVC end is ignored", S(AVC).atEnd(), in(Input::FastForward), {}, kKeep, kKeep},

        // ---- Fast rewind: AVC only.
        {"rewind AVC from play",
         S(AVC).speed(2),
         in(Input::FastRewind),
         {{C::SetSpeed, 0}, {C::SetAVCStatus, 5}, {C::AVCAction, 5}},
         Img::Rwd1x,
         Img::Rwd1x},
        {"rewind AVC from fast forward starts at 1x",
         S(AVC).speed(2).status(2),
         in(Input::FastRewind),
         {{C::SetSpeed, 0}, {C::SetAVCStatus, 5}, {C::AVCAction, 5}},
         Img::Rwd1x,
         Img::Rwd1x},
        {"rewind AVC from stop",
         S(AVC).stopped(),
         in(Input::FastRewind),
         {{C::SetSpeed, 0}, {C::SetAVCStatus, 5}, {C::AVCAction, 5}},
         Img::Rwd1x,
         Img::Rwd1x},
        {"rewind paused AVC steps one frame back",
         S(AVC).paused().speed(1),
         in(Input::FastRewind),
         {{C::SetSpeed, 0}, {C::AVCAction, 14}},
         kKeep,
         kKeep},
        {"rewind DV only asks for the alert",
         S(DV).speed(2),
         in(Input::FastRewind),
         {},
         kKeep,
         kKeep,
         kAlert},
        {"rewind at the AVC end changes nothing", S(AVC).atEnd(), in(Input::FastRewind), {}, kKeep, kKeep},

        // ---- Seek: plays; a stopped AVC file plays again; a stop image becomes play.
        {"seek a stopped AVC file plays it",
         S(AVC).stopped(),
         in(Input::Seek, 50),
         {{C::AVCSeek, 50}, {C::SetAVCStatus, 10}, {C::AVCAction, 10}, {C::SetPlaying, 1}},
         Img::Play,
         Img::Play,
         kSeekFirst},
        {"seek a paused AVC file",
         S(AVC).paused(),
         in(Input::Seek, 0),
         {{C::AVCSeek, 0}, {C::SetPlaying, 1}},
         kKeep,
         kKeep,
         kSeekFirst},
        {"seek DV beyond the end is cut to 100",
         S(DV).images(Img::Stop, Img::Fwd4x),
         in(Input::Seek, 150),
         {{C::DVSeek, 100}, {C::SetPlaying, 1}},
         Img::Play,
         kKeep},
        {"a refused seek puts the slider back", S(AVC), in(Input::SeekRefused), {}, kKeep, kKeep, kRestore},
        {"no seek while converting DV",
         S(DV).player(kPlayerConverting),
         in(Input::Seek, 85),
         {},
         kKeep,
         kKeep,
         kRestore},
        {"no seek while converting AVC",
         S(AVC).player(kPlayerConverting).images(Img::Stop, Img::Stop),
         in(Input::Seek, 85),
         {},
         kKeep,
         kKeep,
         kRestore},

        // ---- The button watch: every tick closes the step window; steps only while paused,
        // ---- and never on a stopped file.
        {"tick", S(DV).paused(), in(Input::Tick), {{C::SetForwardAtPause, 0}}, kKeep, kKeep},
        {"tick with no file", S(None).paused(), in(Input::Tick), {{C::SetForwardAtPause, 0}}, kKeep, kKeep},
        {"step while playing does nothing", S(DV), stepHolding(HeldButton::Forward), {}, kKeep, kKeep},
        {"step paused, nothing held, shows the panel",
         S(AVC).paused(),
         stepHolding(HeldButton::None),
         {},
         kKeep,
         kKeep,
         kPanel},
        {"step paused DV, forward held: one step",
         S(DV).paused(),
         stepHolding(HeldButton::Forward),
         {{C::SetForwardAtPause, 1}, {C::SetPlaying, 0}, {C::SetSpeed, 0}, {C::DVResetAudioTime, 0}},
         kKeep,
         kKeep,
         kPanel},
        {"step paused AVC, forward held: step forward",
         S(AVC).paused(),
         stepHolding(HeldButton::Forward),
         {{C::SetForwardAtPause, 1}, {C::SetPlaying, 0}, {C::SetSpeed, 0}, {C::AVCAction, 13}},
         kKeep,
         kKeep,
         kPanel},
        {"step paused AVC, rewind held: step back",
         S(AVC).paused(),
         stepHolding(HeldButton::Rewind),
         {{C::SetSpeed, 0}, {C::AVCAction, 14}},
         kKeep,
         kKeep,
         kPanel},
        {"step paused DV, rewind held: the alert",
         S(DV).paused(),
         stepHolding(HeldButton::Rewind),
         {},
         kKeep,
         kKeep,
         kPanel | kAlert},
        {"no step on an AVC file stopped after a pause",
         S(AVC).paused().status(kAVCStop).images(Img::Stop, Img::Stop),
         stepHolding(HeldButton::Rewind),
         {},
         kKeep,
         kKeep},
        {"no step with the player idle",
         S(DV).paused().player(kPlayerIdle),
         stepHolding(HeldButton::Forward),
         {},
         kKeep,
         kKeep},

        // ---- No file running: a seek puts the slider back.
        {"seek with no file", S(None).stopped(), in(Input::Seek, 40), {}, kKeep, kKeep, kRestore},
    };

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const TransportResult r = transportStep(c.state, c.input);
        EXPECT_EQ(r.commands, c.commands) << "got " << describe(r.commands);
        EXPECT_EQ(r.windowImage, c.window);
        EXPECT_EQ(r.fullScreenImage, c.full);
        EXPECT_EQ(r.unsupportedAlert, (c.effects & kAlert) != 0);
        EXPECT_EQ(r.resetProgressLater, (c.effects & kResetLater) != 0);
        EXPECT_EQ(r.showFullScreenPanel, (c.effects & kPanel) != 0);
        EXPECT_EQ(r.restoreProgressSlider, (c.effects & kRestore) != 0);
        EXPECT_EQ(r.seekFirst, (c.effects & kSeekFirst) != 0);
        if (r.seekFirst) {
            ASSERT_FALSE(r.commands.empty());
            EXPECT_EQ(r.commands.front().command, C::AVCSeek);
        }
        EXPECT_TRUE(r.next == replay(c.state, r));
    }
}

// With no file running, no input steers anything.
TEST(TransportState, NoFileNoCommands) {
    for (Input i :
         {Input::Play, Input::Pause, Input::Stop, Input::FastForward, Input::FastRewind, Input::Step}) {
        const TransportResult r =
            transportStep(S(FileKind::None).paused(), TransportInput{i, 0, HeldButton::Forward});
        EXPECT_TRUE(r.commands.empty() && !r.windowImage && !r.unsupportedAlert && !r.showFullScreenPanel)
            << static_cast<int>(i);
    }
}

// Pressing one button again and again from plain play: the images and AVC codes it walks through.
TEST(TransportState, SpeedCyclesAndTheirImages) {
    struct Sequence {
        const char *name;
        TransportState start;
        Input input;
        std::vector<Img> images;
        std::vector<int> avcCodes; // the AVC action of each press; empty for DV
    };
    const std::vector<Sequence> sequences = {
        {"fast forward DV",
         S(FileKind::DV),
         Input::FastForward,
         {Img::Fwd2x, Img::Fwd4x, Img::Fwd8x, Img::Fwd16x, Img::Fwd2x},
         {}},
        {"fast forward AVC",
         S(FileKind::AVC),
         Input::FastForward,
         {Img::Fwd2x, Img::Fwd4x, Img::Fwd8x, Img::Fwd16x, Img::Fwd2x},
         {1, 2, 3, 4, 1}},
        {"fast rewind AVC",
         S(FileKind::AVC),
         Input::FastRewind,
         {Img::Rwd1x, Img::Rwd2x, Img::Rwd4x, Img::Rwd8x, Img::Rwd16x, Img::Rwd1x},
         {5, 6, 7, 8, 9, 5}},
    };
    for (const Sequence &seq : sequences) {
        SCOPED_TRACE(seq.name);
        TransportState s = seq.start;
        for (size_t i = 0; i < seq.images.size(); ++i) {
            const TransportResult r = transportStep(s, in(seq.input));
            ASSERT_TRUE(r.windowImage && r.fullScreenImage) << "press " << i;
            EXPECT_EQ(*r.windowImage, seq.images[i]) << "press " << i;
            EXPECT_EQ(*r.fullScreenImage, seq.images[i]) << "press " << i;
            if (!seq.avcCodes.empty()) {
                ASSERT_FALSE(r.commands.empty());
                EXPECT_EQ(r.commands.back(), (TransportCommand{C::AVCAction, seq.avcCodes[i]}))
                    << "press " << i;
            }
            s = r.next;
        }
    }
    // After a rewind, fast forward starts at 2x again.
    TransportState s = S(FileKind::AVC).speed(3).status(3);
    s = transportStep(s, in(Input::FastRewind)).next;
    EXPECT_EQ(transportStep(s, in(Input::FastForward)).windowImage, Img::Fwd2x);
}

} // namespace
