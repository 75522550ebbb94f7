#include "app/conversion/conversion_host.h"
#include "app/logic/player_state.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "app/ColorSettingPanel.h"
#include "app/ConfigSettingPanel.h"
#include "app/controls/OsdTextLayer.h"
#include "app/logic/channel_layout.h"
#include "app/logic/engine_control.h"
#include "app/logic/recorder_file_probe.h"
#include "app/video_pane/video_pane.h"
#include "platform/log.h"

namespace {

constexpr int kAVCFmtPlaybackPlay = 10;

QString extensionOf(const QString &path) {
    const QString component = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const int dot = component.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? QString() : component.mid(dot + 1);
}

RecorderFileKind kindOf(const QString &extension) {
    return recorderFileKindFromExtension(extension.toStdString());
}

} // namespace

PlayerConversionHost::PlayerConversionHost(const ActivationViews &views, PlaybackActivation &activation,
                                           VideoPane &pane, EngineControl &engines, ActivationPort &port,
                                           const std::unique_ptr<ColorSettingPanel> &colourPanel,
                                           const std::unique_ptr<ConfigSettingPanel> &settingsPanel)
    : v_(views), activation_(activation), file_(activation.openFile()), pane_(pane), engines_(engines),
      port_(port), colourPanel_(colourPanel), settingsPanel_(settingsPanel) {}

ConversionSettings PlayerConversionHost::conversionSettings() {
    // The settings panel's controls are the live settings, open or not.
    ConversionSettings s;
    if (const ConfigSettingPanel *panel = settingsPanel_.get()) {
        s.aviFolder = panel->filePathField()->text();
        s.frameRateText = panel->frameRateField()->text();
        s.frameRate = panel->frameRate();
        s.audioDisabled = panel->audioDisabledWhileAVIConversion();
    }
    return s;
}

int PlayerConversionHost::playerState() {
    return static_cast<int>(file_.playerState());
}
void PlayerConversionHost::setPlayerState(int state) {
    file_.setPlayerState(static_cast<PlayerState>(state));
}
QString PlayerConversionHost::currentFilePath() {
    return file_.path();
}

void PlayerConversionHost::setConversionFile(const QString &path) {
    if (path == file_.path()) return;
    file_.clearNames();
    file_.setPath(path);
    const QString component = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const QString extension = extensionOf(path);
    const QString name =
        extension.isEmpty() ? component : component.left(component.size() - extension.size() - 1);
    file_.setNames(name, extension, QStringLiteral("%1.%2").arg(name, extension), QString());
}

void PlayerConversionHost::stopEngines() {
    activation_.resetPlaybackHandle();
}

void PlayerConversionHost::prepareWindowForConversion() {
    file_.setIndependent(false);
    file_.setKind(RecorderFileKind::Unknown);
    pane_.forceNewLayout();
    pane_.layoutMemory().previousImageRealWidth = 0;
    pane_.layoutMemory().previousImageRealHeight = 0;
    EngineShared &shared = activation_.shared();
    shared.decoderTargetWidth.store(0.0f);
    shared.decoderTargetHeight.store(0.0f);
    // The first picture lays the pane out again.
    shared.resizingVideoPane.store(true);
    if (v_.window) v_.window->setWindowTitle(file_.fileNameWithExtension());
    if (v_.fullScreenPlaybackStatusImageView) v_.fullScreenPlaybackStatusImageView->setPixmap(QPixmap());
    if (v_.deinterlaceStatusImageView) v_.deinterlaceStatusImageView->setVisible(false);
    pane_.setOnScreenTextVisible(false);
    // Queued behind anything the previous file still had on its way to the tiles.
    QMetaObject::invokeMethod(
        conversion_, [this] { pane_.clearPictures(); }, Qt::QueuedConnection);
    for (OsdTextLayer *title : pane_.videoViewTitle())
        if (title) title->setVisible(false);
    if (v_.osdEnableBtn) v_.osdEnableBtn->setChecked(false);
    if (v_.videoModeLabel) v_.videoModeLabel->setVisible(true);
    // Nothing of an open settings panel is stored when the conversion closes it.
    if (colourPanel_ && colourPanel_->isVisible()) colourPanel_->hide();
    if (settingsPanel_ && settingsPanel_->isVisible()) settingsPanel_->hide();
}

int PlayerConversionHost::checkTotalChannelsForAVIConversion() {
    const RecorderFileKind kind = kindOf(file_.fileExtension());
    if (kind == RecorderFileKind::Unknown) return -1;
    // The playback probe's reset, with both channel menus locked and no channel designated.
    pane_.hideTiles();
    GridStartIndexes starts = pane_.gridStartIndexes();
    starts.grid4 = starts.grid6 = starts.grid9 = 16;
    pane_.setGridStartIndexes(starts);
    if (v_.videoChannelSwitchBtn) {
        v_.videoChannelSwitchBtn->setCurrentIndex(0);
        v_.videoChannelSwitchBtn->setEnabled(false);
    }
    if (v_.audioChannelSwitchBtn) v_.audioChannelSwitchBtn->setEnabled(false);
    file_.setSelectedAudioChannel(0);
    file_.setSelectedVideoChannel(1);
    file_.setMasks(0, 0);
    file_.setChannelIndex(1);
    // Single view: only the converted channel is decoded.
    file_.setCutState(CutState::Single);
    file_.setCutLocked(true);
    pane_.setMiscellaneousBtnState(0);
    file_.setDesignateChannel(false);

    // What playback would refuse is not converted either: nothing would ever arrive from it.
    // (A DV4 header names no channels: only the file itself is checked.)
    RecorderFileProbe probe = probeRecorderFile(activation_.shared().filePath(), kind);
    if (playerRefusesFile(probe)) return -2;
    if (kind == RecorderFileKind::DV4) {
        probe = RecorderFileProbe();
        probe.kind = kind;
    }
    if (kind == RecorderFileKind::DV5) engines_.setIsDVRType700(probe.isDVRType700);
    const ConversionChannelChoice choice = ::checkTotalChannelsForAVIConversion(probe);
    if (choice.setDefaultChannelTitles) port_.setDevChannelTitle(nullptr);
    if (kind != RecorderFileKind::DV4) {
        player_log("total channels = %d\n", choice.videoChannelCount);
        port_.insertItemsToAudioChannelSwitchBtn(static_cast<int>(choice.audioChannels.size()),
                                                 choice.audioChannels.data());
    }
    if (v_.audioChannelSwitchBtn) v_.audioChannelSwitchBtn->setCurrentIndex(0);
    file_.setSelectedVideoChannel(choice.iCurrentSelectedVideoCH);
    file_.setSelectedAudioChannel(choice.iCurrentSelectedAudioCH);
    file_.setDesignateChannel(choice.aviConversionDesignateChannel);
    if (choice.result == 0 && conversion_)
        conversion_->setChannelSelectionBtnWithVideoChannels(static_cast<uint32_t>(choice.videoMask),
                                                             static_cast<uint32_t>(choice.audioMask));
    return choice.result;
}

bool PlayerConversionHost::startEngineForConversion(int videoChannel1Based, int audioChannel1Based,
                                                    int *vdoFmtIdx) {
    EngineShared &shared = activation_.shared();
    if (videoChannel1Based > 0) file_.setSelectedVideoChannel(videoChannel1Based);
    shared.avcStatus.store(kAVCFmtPlaybackPlay);
    // The panel's audio channel is taken for every kind that has one: the user chose it.
    if (file_.designateChannel() && audioChannel1Based > 0) {
        if (v_.audioChannelSwitchBtn) {
            const int index = v_.audioChannelSwitchBtn->findData(audioChannel1Based);
            if (index >= 0) v_.audioChannelSwitchBtn->setCurrentIndex(index);
        }
        file_.setSelectedAudioChannel(audioChannel1Based);
        player_log("iCurrentSelectedAudioCH = %d\n", audioChannel1Based);
    }
    const RecorderFileKind kind = kindOf(file_.fileExtension());
    bool started = false;
    switch (kind) {
    case RecorderFileKind::AVC:
        file_.setKind(RecorderFileKind::AVC);
        started = engines_.startWithFreshAudio(true, shared.filePath());
        break;
    case RecorderFileKind::DV4: {
        const RecorderFileProbe probe = probeRecorderFile(shared.filePath(), RecorderFileKind::DV4);
        engines_.setDvFmtVideoCodec(probe.dvFmtVideoCodec);
        *vdoFmtIdx = probe.vdoFmtIdx;
        started = engines_.startWithFreshAudio(false, std::string());
        break;
    }
    case RecorderFileKind::DV5:
        engines_.setDvFmtVideoCodec(kDvFmtVideoCodecDV5);
        *vdoFmtIdx = kVdoFmtIdxH264;
        started = engines_.startWithFreshAudio(false, std::string());
        break;
    case RecorderFileKind::Unknown:
        break;
    }
    if (!started) return false;
    shared.playbackNow.store(false);
    file_.setActivated(true);
    return true;
}

void PlayerConversionHost::setUIInCaseOfUnsupportedFileForamt() {
    activation_.setUIInCaseOfUnsupportedFileForamt();
}

// The button is off by now: the pane hides the indicators and clears the flag.
void PlayerConversionHost::showAndEnableDeinterlace(bool) {
    pane_.showAndEnableDeinterlace();
}
