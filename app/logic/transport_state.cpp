#include "app/logic/transport_state.h"

namespace transport {

namespace {

// Collects commands and keeps `next` in step with them.
class Builder {
  public:
    explicit Builder(const TransportState &state) { r_.next = state; }

    const TransportState &now() const { return r_.next; }
    TransportResult &result() { return r_; }

    void command(Command c, int value = 0) {
        r_.commands.push_back({c, value});
        TransportState &n = r_.next;
        switch (c) {
        case Command::SetPlaying:
            n.playing = value != 0;
            break;
        case Command::SetPaused:
            n.paused = value != 0;
            break;
        case Command::SetSpeed:
            n.speed = value;
            break;
        case Command::SetAVCStatus:
            n.avcStatus = value;
            break;
        default:
            break;
        }
    }
    void showWindow(StatusImage image) {
        r_.windowImage = image;
        r_.next.windowImage = image;
    }
    void showFullScreen(StatusImage image) {
        r_.fullScreenImage = image;
        r_.next.fullScreenImage = image;
    }
    void show(StatusImage image) {
        showWindow(image);
        showFullScreen(image);
    }

  private:
    TransportResult r_;
};

bool isAVC(const TransportState &s) {
    return s.file == FileKind::AVC;
}

// An AVC file that played to its end: stopped by the engine, back at its first frame.
bool atAVCEnd(const TransportState &s) {
    return isAVC(s) && s.triState == kTriStateAtEnd && s.avcStatus == kAVCStop;
}

// The engine flags of Play; the paused DV parser must run again to carry out a Stop too.
void playFlags(Builder &b) {
    b.command(Command::SetKeepRunning, 1);
    b.command(Command::SetStopLaunched, 0);
    b.command(Command::SetSpeed, 0);
}

void play(Builder &b) {
    playFlags(b);
    if (isAVC(b.now())) {
        b.command(Command::SetAVCStatus, kAVCPlay);
        b.command(Command::AVCAction, kAVCPlay);
    }
    if (b.now().hasAudio && b.now().audioChannel >= 1)
        b.command(Command::AudioPlay, b.now().audioChannel - 1);
    b.show(StatusImage::Play);
    b.command(Command::SetPlaying, 1);
    b.command(Command::SetPaused, 0);
}

void pause(Builder &b) {
    if (atAVCEnd(b.now())) return;
    b.command(Command::SetKeepRunning, 0);
    // A view that shows stop keeps it.
    if (b.now().windowImage != StatusImage::Stop) b.showWindow(StatusImage::Pause);
    if (b.now().fullScreenImage != StatusImage::Stop) b.showFullScreen(StatusImage::Pause);
    // The engine's pause is a toggle: never sent twice.
    if (isAVC(b.now()) && b.now().avcStatus != kAVCPause) {
        b.command(Command::SetAVCStatus, kAVCPause);
        b.command(Command::AVCAction, kAVCPause);
    }
    b.command(Command::SetPlaying, 0);
    b.command(Command::SetPaused, 1);
}

void stop(Builder &b) {
    if (isAVC(b.now()) && b.now().avcStatus != kAVCStop) {
        b.command(Command::SetAVCStatus, kAVCStop);
        b.command(Command::AVCAction, kAVCStop);
    }
    if (b.now().playerState == kPlayerConverting) {
        b.command(Command::FinishConversion);
        return;
    }
    if (b.now().playerState != kPlayerPlaying) return;
    if (b.now().file == FileKind::DV) {
        // A paused parser would never see the stop.
        playFlags(b);
        b.command(Command::SetPaused, 0);
    }
    b.command(Command::SetStopLaunched, 1);
    if (b.now().hasAudio && b.now().audioChannel >= 1)
        b.command(Command::AudioStop, b.now().audioChannel - 1);
    b.show(StatusImage::Stop);
    b.command(Command::SetPlaying, 0);
    b.result().resetProgressLater = true;
}

void fastForward(Builder &b) {
    if (b.now().triState == kTriStateAtEnd) return;
    const bool paused = b.now().paused;
    b.command(Command::SetPlaying, paused ? 0 : 1);
    int s = paused ? 0 : b.now().speed + 1;
    if (s > kMaxSpeedStep) s = 1;
    b.command(Command::SetSpeed, s);
    if (s >= 1) {
        b.show(forwardImage(s));
        b.command(Command::SetAVCStatus, s);
    }
    if (isAVC(b.now())) {
        const int status = b.now().avcStatus;
        b.command(Command::AVCAction, status == kAVCPause ? kAVCStepForward : status);
    } else {
        b.command(Command::DVResetAudioTime);
    }
}

void fastRewind(Builder &b) {
    if (b.now().file == FileKind::DV) {
        b.result().unsupportedAlert = true;
        return;
    }
    if (atAVCEnd(b.now())) return;
    // The next fast forward starts at 2x again.
    b.command(Command::SetSpeed, 0);
    const int status = b.now().avcStatus;
    if (status == kAVCPause) {
        b.command(Command::AVCAction, kAVCStepBack);
        return;
    }
    const int next = (status >= kAVCRewind1x && status < kAVCRewind16x) ? status + 1 : kAVCRewind1x;
    b.command(Command::SetAVCStatus, next);
    b.show(rewindImage(next));
    b.command(Command::AVCAction, next);
}

void seek(Builder &b, int percent) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    if (isAVC(b.now())) {
        b.result().seekFirst = true;
        b.command(Command::AVCSeek, percent);
        if (b.now().avcStatus == kAVCStop) {
            b.command(Command::SetAVCStatus, kAVCPlay);
            b.command(Command::AVCAction, kAVCPlay);
        }
    } else {
        b.command(Command::DVSeek, percent);
    }
    if (b.now().windowImage == StatusImage::Stop) b.showWindow(StatusImage::Play);
    if (b.now().fullScreenImage == StatusImage::Stop) b.showFullScreen(StatusImage::Play);
    b.command(Command::SetPlaying, 1);
}

void step(Builder &b, HeldButton held) {
    if (!canStep(b.now())) return;
    b.result().showFullScreenPanel = true;
    if (held == HeldButton::Rewind) {
        fastRewind(b);
    } else if (held == HeldButton::Forward) {
        // The paused DV parser serves frames until the next tick closes the window again.
        b.command(Command::SetForwardAtPause, 1);
        fastForward(b);
    }
}

} // namespace

bool TransportState::operator==(const TransportState &o) const {
    return file == o.file && playerState == o.playerState && playing == o.playing && paused == o.paused &&
           speed == o.speed && avcStatus == o.avcStatus && triState == o.triState &&
           audioChannel == o.audioChannel && hasAudio == o.hasAudio && windowImage == o.windowImage &&
           fullScreenImage == o.fullScreenImage;
}

StatusImage forwardImage(int speedStep) {
    switch (speedStep) {
    case 1:
        return StatusImage::Fwd2x;
    case 2:
        return StatusImage::Fwd4x;
    case 3:
        return StatusImage::Fwd8x;
    case 4:
        return StatusImage::Fwd16x;
    default:
        return StatusImage::Play;
    }
}

StatusImage rewindImage(int avcStatus) {
    switch (avcStatus) {
    case 5:
        return StatusImage::Rwd1x;
    case 6:
        return StatusImage::Rwd2x;
    case 7:
        return StatusImage::Rwd4x;
    case 8:
        return StatusImage::Rwd8x;
    case 9:
        return StatusImage::Rwd16x;
    default:
        return StatusImage::Play;
    }
}

bool canStep(const TransportState &s) {
    return s.file != FileKind::None && s.paused && s.playerState != kPlayerIdle &&
           !(isAVC(s) && s.avcStatus == kAVCStop);
}

TransportResult transportStep(const TransportState &state, const TransportInput &input) {
    Builder b(state);
    // The step window a forward button opened at the last tick closes, whatever else holds.
    if (input.input == Input::Tick) {
        b.command(Command::SetForwardAtPause, 0);
        return b.result();
    }
    if (state.file == FileKind::None) {
        // A conversion that waits for its channel runs no file yet: Stop cancels it.
        if (input.input == Input::Stop && state.playerState == kPlayerConverting)
            b.command(Command::FinishConversion);
        // Nothing runs: nothing to steer. A dragged slider goes back.
        if (input.input == Input::Seek || input.input == Input::SeekRefused)
            b.result().restoreProgressSlider = true;
        return b.result();
    }
    switch (input.input) {
    case Input::Play:
        play(b);
        break;
    case Input::Pause:
        pause(b);
        break;
    case Input::Stop:
        stop(b);
        break;
    case Input::FastForward:
        fastForward(b);
        break;
    case Input::FastRewind:
        fastRewind(b);
        break;
    case Input::Seek:
        // A conversion takes every frame in order: a seek would cut or repeat footage in the
        // AVI. The slider goes back to the conversion's progress.
        if (state.playerState == kPlayerConverting)
            b.result().restoreProgressSlider = true;
        else
            seek(b, input.percent);
        break;
    case Input::SeekRefused:
        b.result().restoreProgressSlider = true;
        break;
    case Input::Tick:
        break;
    case Input::Step:
        step(b, input.held);
        break;
    }
    return b.result();
}

const char *commandName(Command command) {
    switch (command) {
    case Command::SetPlaying:
        return "SetPlaying";
    case Command::SetPaused:
        return "SetPaused";
    case Command::SetKeepRunning:
        return "SetKeepRunning";
    case Command::SetStopLaunched:
        return "SetStopLaunched";
    case Command::SetSpeed:
        return "SetSpeed";
    case Command::SetForwardAtPause:
        return "SetForwardAtPause";
    case Command::SetAVCStatus:
        return "SetAVCStatus";
    case Command::AVCAction:
        return "AVCAction";
    case Command::AVCSeek:
        return "AVCSeek";
    case Command::DVSeek:
        return "DVSeek";
    case Command::DVResetAudioTime:
        return "DVResetAudioTime";
    case Command::AudioPlay:
        return "AudioPlay";
    case Command::AudioStop:
        return "AudioStop";
    case Command::FinishConversion:
        return "FinishConversion";
    }
    return "?";
}

} // namespace transport
