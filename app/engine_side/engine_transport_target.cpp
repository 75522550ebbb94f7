#include "app/engine_side/engine_transport_target.h"

#include "app/engine_side/engine_side.h"
#include "app/open_file/open_file.h"
#include "audio/audio_stream_processor.h"
#include "engines/avc_format_playback.h"
#include "engines/dv_format_playback.h"
#include "engines/engine_controls.h"
#include "platform/log.h"

using namespace transport;

FileKind EngineTransportTarget::runningFile() const {
    if (!file_.activated()) return FileKind::None;
    if (file_.isAVC()) {
        const AVCFormatPlayback *avc = engines_.avc();
        return avc && avc->fdAVCFile() != 0 ? FileKind::AVC : FileKind::None;
    }
    const DVFormatPlayback *dv = engines_.dv();
    return dv && dv->isDVFmtParserThreadExecuting() ? FileKind::DV : FileKind::None;
}

TransportState EngineTransportTarget::transportState() const {
    TransportState s;
    s.file = runningFile();
    s.playerState = static_cast<int>(file_.playerState());
    s.playing = engines_.shared().playbackNow.load();
    s.paused = gDVFmtPlaybackIsPauseNow.load() != 0;
    s.speed = gDVFmtPlaybackSpeed.load();
    s.avcStatus = engines_.shared().avcStatus.load();
    s.triState = engines_.shared().triState.load();
    s.audioChannel = engines_.shared().selectedAudioChannel.load();
    s.hasAudio = engines_.audio() != nullptr;
    s.windowImage = s.fullScreenImage = StatusImage::Other;
    return s;
}

bool EngineTransportTarget::apply(const TransportCommand &command) {
    const int v = command.value;
    AVCFormatPlayback *avc = engines_.avc();
    DVFormatPlayback *dv = engines_.dv();
    AudioStreamProcessor *audio = engines_.audio();
    switch (command.command) {
    case Command::SetPlaying:
        engines_.shared().playbackNow.store(v != 0);
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
        engines_.shared().avcStatus.store(v);
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
    engines_.shared().selectedAudioChannel.store(channel1Based);
    if (AudioStreamProcessor *audio = engines_.audio()) audio->changeActiveChannel(channel1Based - 1);
}

void EngineTransportTarget::setAudioVolume(float volume) {
    volume_ = volume;
    if (AudioStreamProcessor *audio = engines_.audio()) audio->setVolumeViaProgramming(volume);
}

void EngineTransportTarget::setFlipImage(bool flip) {
    engines_.shared().flipImage.store(flip);
}
