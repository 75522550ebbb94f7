#include "app/engine_side/engine_transport_target.h"

#include "app/VistrelAppDelegate.h"
#include "audio/audio_stream_processor.h"
#include "engines/avc_format_playback.h"
#include "engines/dv_format_playback.h"
#include "engines/engine_controls.h"
#include "platform/log.h"

using namespace transport;

FileKind EngineTransportTarget::runningFile() const {
    if (!delegate_.playbackIsActivated()) return FileKind::None;
    if (delegate_.isAVCPlaybackFlag()) {
        const AVCFormatPlayback *avc = delegate_.handleAVCFmtPlayback();
        return avc && avc->fdAVCFile() != 0 ? FileKind::AVC : FileKind::None;
    }
    const DVFormatPlayback *dv = delegate_.handleDVFmtPlayback();
    return dv && dv->isDVFmtParserThreadExecuting() ? FileKind::DV : FileKind::None;
}

TransportState EngineTransportTarget::transportState() const {
    TransportState s;
    s.file = runningFile();
    s.playerState = delegate_.playerState();
    s.playing = delegate_.isPlaybackNow();
    s.paused = gDVFmtPlaybackIsPauseNow.load() != 0;
    s.speed = gDVFmtPlaybackSpeed.load();
    s.avcStatus = delegate_.enAVCFmtPlaybackStatus();
    s.triState = delegate_.playbackTriState();
    s.audioChannel = delegate_.iCurrentSelectedAudioCH();
    s.hasAudio = delegate_.audioStreamProcessor != nullptr;
    s.windowImage = s.fullScreenImage = StatusImage::Other;
    return s;
}

bool EngineTransportTarget::apply(const TransportCommand &command) {
    const int v = command.value;
    AVCFormatPlayback *avc = delegate_.handleAVCFmtPlayback();
    DVFormatPlayback *dv = delegate_.handleDVFmtPlayback();
    AudioStreamProcessor *audio = delegate_.audioStreamProcessor.get();
    switch (command.command) {
    case Command::SetPlaying:
        delegate_.setIsPlaybackNow(v != 0);
        break;
    case Command::SetPaused:
        gDVFmtPlaybackIsPauseNow = v != 0;
        break;
    case Command::SetKeepRunning:
        gDVFmtPlaybackKeepRunning = v != 0;
        break;
    case Command::SetStopLaunched:
        gDVFmtPlaybackStopActionLaunched = v != 0;
        break;
    case Command::SetSpeed:
        gDVFmtPlaybackSpeed = v;
        break;
    case Command::SetForwardAtPause:
        gDVFmtPlaybackForwardAtPause = v != 0;
        break;
    case Command::SetAVCStatus:
        delegate_.setEnAVCFmtPlaybackStatus(v);
        break;
    case Command::AVCAction:
        if (avc) avc->doPlaybackAction(v);
        break;
    case Command::AVCSeek:
        // -1: no index yet (or no file): nothing moved.
        return avc && avc->changePlaybackProgress(v) == 0;
    case Command::DVSeek:
        dvFmtRequestSeek(v);
        break;
    case Command::DVResetAudioTime:
        if (dv) dv->resetAudioTimeForFastForwardAction();
        break;
    case Command::AudioPlay:
        if (audio && !audio->playDeviceAudio(v)) player_log("Play audio manager failed, channel=%d", v);
        break;
    case Command::AudioStop:
        if (audio && !audio->stopDeviceAudio(v)) player_log("Stop audio manager failed, channel=%d", v + 1);
        break;
    case Command::FinishConversion:
        if (finishConversion_)
            finishConversion_();
        else
            player_log("Stop during a conversion: no conversion to finish\n");
        break;
    }
    return true;
}

void EngineTransportTarget::selectAudioChannel(int channel1Based) {
    delegate_.setICurrentSelectedAudioCH(channel1Based);
    if (AudioStreamProcessor *audio = delegate_.audioStreamProcessor.get())
        audio->changeActiveChannel(channel1Based - 1);
}

void EngineTransportTarget::setAudioVolume(float volume) {
    delegate_.setAudioSliderValueForBinding(volume);
    if (AudioStreamProcessor *audio = delegate_.audioStreamProcessor.get())
        audio->setVolumeViaProgramming(volume);
}

void EngineTransportTarget::setFlipImage(bool flip) {
    delegate_.setVideoFlipImageFlag(flip);
}
