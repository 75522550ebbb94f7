#include "app/conversion/delegate_conversion_host.h"
#include "app/logic/player_state.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/ColorSettingPanel.h"
#include "app/ConfigSettingPanel.h"
#include "app/VistrelAppDelegate.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/controls/OsdTextLayer.h"
#include "app/engine_side/engine_side.h"
#include "app/logic/channel_layout.h"
#include "app/logic/recorder_file_probe.h"
#include "app/main_window.h"
#include "app/playback/playback_activation.h"
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

ConversionSettings DelegateConversionHost::conversionSettings() {
    // The settings panel's controls are the live settings, open or not.
    ConversionSettings s;
    if (const ConfigSettingPanel *panel = d_.configSettingPanel.get()) {
        s.aviFolder = panel->filePathField()->text();
        s.frameRateText = panel->frameRateField()->text();
        s.frameRate = panel->frameRate();
        s.audioDisabled = panel->audioDisabledWhileAVIConversion();
    }
    return s;
}

int DelegateConversionHost::playerState() {
    return d_.playerState();
}
void DelegateConversionHost::setPlayerState(int state) {
    d_.setPlayerState(state);
}
QString DelegateConversionHost::currentFilePath() {
    return d_.absoluteFilePathString();
}

void DelegateConversionHost::setConversionFile(const QString &path) {
    if (path == d_.absoluteFilePathString()) return;
    d_.releaseFilePathObject();
    d_.setAbsoluteFilePath(path);
    const QString component = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const QString extension = extensionOf(path);
    d_.fileName = extension.isEmpty() ? component : component.left(component.size() - extension.size() - 1);
    d_.fileExtension = extension;
    d_.fileNameWithExtension = QStringLiteral("%1.%2").arg(d_.fileName, d_.fileExtension);
}

void DelegateConversionHost::stopEngines() {
    d_.resetPlaybackHandle();
}

void DelegateConversionHost::prepareWindowForConversion() {
    d_.setIsIndependentFlag(false);
    d_.setIsAVCPlaybackFlag(false);
    d_.setPrevVideoPaneCutState(2);
    d_.setPreviousImageRealWidth(0);
    d_.setPreviousImageRealHeight(0);
    d_.setDecoderTargetWidth(0.0f);
    d_.setDecoderTargetHeight(0.0f);
    // The first picture lays the pane out again.
    d_.setIsResizingVideoPane(true);
    if (d_.window) d_.window->setWindowTitle(d_.fileNameWithExtension);
    if (d_.fullScreenPlaybackStatusImageView) d_.fullScreenPlaybackStatusImageView->setPixmap(QPixmap());
    if (d_.deinterlaceStatusImageView) d_.deinterlaceStatusImageView->setVisible(false);
    if (VideoPane *pane = d_.videoPaneLayout()) {
        pane->setOnScreenTextVisible(false);
        // Queued behind anything the previous file still had on its way to the tiles.
        QMetaObject::invokeMethod(
            &d_,
            [this] {
                if (VideoPane *p = d_.videoPaneLayout()) p->clearPictures();
            },
            Qt::QueuedConnection);
    }
    for (OsdTextLayer *title : d_.videoViewTitle)
        if (title) title->setVisible(false);
    if (d_.osdEnableBtn) d_.osdEnableBtn->setChecked(false);
    if (d_.videoModeLabel) d_.videoModeLabel->setVisible(true);
    // Nothing of an open settings panel is stored when the conversion closes it.
    if (d_.colorSettingPanel && d_.colorSettingPanel->isVisible()) d_.colorSettingPanel->hide();
    if (d_.configSettingPanel && d_.configSettingPanel->isVisible()) d_.configSettingPanel->hide();
}

int DelegateConversionHost::checkTotalChannelsForAVIConversion() {
    const RecorderFileKind kind = kindOf(d_.fileExtension);
    if (kind == RecorderFileKind::Unknown) return -1;
    // The playback probe's reset, with both channel menus locked and no channel designated.
    for (CustomizedVideoView *tile : d_.videoView)
        if (tile) tile->hide();
    GridStartIndexes starts = d_.gridStartIndexes();
    starts.grid4 = starts.grid6 = starts.grid9 = 16;
    d_.setGridStartIndexes(starts);
    if (d_.videoChannelSwitchBtn) {
        d_.videoChannelSwitchBtn->setCurrentIndex(0);
        d_.videoChannelSwitchBtn->setEnabled(false);
    }
    if (d_.audioChannelSwitchBtn) d_.audioChannelSwitchBtn->setEnabled(false);
    d_.setICurrentSelectedAudioCH(0);
    d_.setICurrentSelectedVideoCH(1);
    d_.setISubVideoChannelEnabledValue(0);
    d_.setISubAudioChannelEnabledValue(0);
    d_.setChannelIndex(1);
    // Single view: only the converted channel is decoded.
    d_.setVideoPaneCutState(kCutStateSingle);
    d_.setVideoPaneLockCutStateFlag(true);
    d_.setMiscellaneousBtnState(0);
    d_.setAviConversionDesignateChannel(false);

    // What playback would refuse is not converted either: nothing would ever arrive from it.
    // (A DV4 header names no channels: only the file itself is checked.)
    RecorderFileProbe probe = probeRecorderFile(d_.absoluteFilePath(), kind);
    if (playerRefusesFile(probe)) return -2;
    if (kind == RecorderFileKind::DV4) {
        probe = RecorderFileProbe();
        probe.kind = kind;
    }
    if (kind == RecorderFileKind::DV5)
        if (EngineSide *engines = d_.engineSide()) engines->setIsDVRType700(probe.isDVRType700);
    const ConversionChannelChoice choice = ::checkTotalChannelsForAVIConversion(probe);
    if (choice.setDefaultChannelTitles) d_.setDevChannelTitle(nullptr);
    if (kind != RecorderFileKind::DV4) {
        player_log("total channels = %d\n", choice.videoChannelCount);
        d_.insertItemsToAudioChannelSwitchBtn(static_cast<int>(choice.audioChannels.size()),
                                              choice.audioChannels.data());
    }
    if (d_.audioChannelSwitchBtn) d_.audioChannelSwitchBtn->setCurrentIndex(0);
    d_.setICurrentSelectedVideoCH(choice.iCurrentSelectedVideoCH);
    d_.setICurrentSelectedAudioCH(choice.iCurrentSelectedAudioCH);
    d_.setAviConversionDesignateChannel(choice.aviConversionDesignateChannel);
    if (choice.result == 0 && d_.aviConversion())
        d_.aviConversion()->setChannelSelectionBtnWithVideoChannels(static_cast<uint32_t>(choice.videoMask),
                                                                    static_cast<uint32_t>(choice.audioMask));
    return choice.result;
}

bool DelegateConversionHost::startEngineForConversion(int videoChannel1Based, int audioChannel1Based,
                                                      int *vdoFmtIdx) {
    EngineSide *engines = d_.engineSide();
    if (!engines) return false;
    if (videoChannel1Based > 0) d_.setICurrentSelectedVideoCH(videoChannel1Based);
    d_.setEnAVCFmtPlaybackStatus(kAVCFmtPlaybackPlay);
    // The panel's audio channel is taken for every kind that has one: the user chose it.
    if (d_.aviConversionDesignateChannel() && audioChannel1Based > 0) {
        if (d_.audioChannelSwitchBtn) {
            const int index = d_.audioChannelSwitchBtn->findData(audioChannel1Based);
            if (index >= 0) d_.audioChannelSwitchBtn->setCurrentIndex(index);
        }
        d_.setICurrentSelectedAudioCH(audioChannel1Based);
        player_log("iCurrentSelectedAudioCH = %d\n", audioChannel1Based);
    }
    const RecorderFileKind kind = kindOf(d_.fileExtension);
    bool started = false;
    switch (kind) {
    case RecorderFileKind::AVC:
        d_.setIsAVCPlaybackFlag(true);
        d_.removeAudio();
        d_.createAudio();
        started = engines->startAVCFile(d_.absoluteFilePath());
        break;
    case RecorderFileKind::DV4: {
        const RecorderFileProbe probe = probeRecorderFile(d_.absoluteFilePath(), RecorderFileKind::DV4);
        engines->setDvFmtVideoCodec(probe.dvFmtVideoCodec);
        *vdoFmtIdx = probe.vdoFmtIdx;
        d_.removeAudio();
        d_.createAudio();
        started = engines->startDVFile();
        break;
    }
    case RecorderFileKind::DV5:
        engines->setDvFmtVideoCodec(kDvFmtVideoCodecDV5);
        *vdoFmtIdx = kVdoFmtIdxH264;
        d_.removeAudio();
        d_.createAudio();
        started = engines->startDVFile();
        break;
    case RecorderFileKind::Unknown:
        break;
    }
    if (!started) return false;
    d_.setIsPlaybackNow(false);
    d_.setPlaybackIsActivated(true);
    return true;
}

void DelegateConversionHost::setUIInCaseOfUnsupportedFileForamt() {
    d_.setUIInCaseOfUnsupportedFileForamt();
}

// The button is off by now: the pane hides the indicators and clears the flag.
void DelegateConversionHost::showAndEnableDeinterlace(bool) {
    d_.showAndEnableDeinterlace();
}

// ---- The delegate's conversion operations ---------------------------------------------------

void VistrelAppDelegate::initAVIConversion() {
    conversionHost_ = std::make_unique<DelegateConversionHost>(*this);
    ConversionWidgets w;
    w.window = window;
    w.lockedButtons = {
        audioChannelSwitchBtn, videoChannelSwitchBtn, osdEnableBtn,         flipImageBtn,
        fullScreenBtn,         openFileBtn,           configSettingBtn,     aviConversionBtn,
        snapShotBtn,           colorAdjustBtn,        playActionBtn,        pauseActionBtn,
        fastRewindBtn,         fastForwardBtn,        prevFileSelectionBtn, nextFileSelectionBtn};
    w.deinterlaceEnableBtn = deinterlaceEnableBtn;
    w.aviProgressLabel = aviProgressLabel;
    w.aviFrameRateLabel = aviFrameRateLabel;
    w.serverTimeLabel = serverTimeLabel;
    w.videoModeLabel = videoModeLabel;
    w.playbackStatusImageView = playbackStatusImageView;
    w.aviConvertStatusImg = &aviConvertStatusImg;
    w.stopStatusImg = &stopStatusImg;
    w.aviConvertingIndicator = aviConvertingIndicator;
    w.channelSelectionPanel = channelSelectionPanel;
    w.playbackProgressSlider = playbackProgressSlider;
    w.osdPercentage = osdPercentage;
    aviConversion_ = std::make_unique<AVIConversion>(conversionHost_.get(), w);
    if (aviConversionBtn)
        connect(aviConversionBtn, &QPushButton::clicked, this, [this] { openPlaybackFileAndConvertToAVI(); });
}

ANAVIFrameBuilder *VistrelAppDelegate::aviFrameBuilder() const {
    return aviConversion_ ? aviConversion_->aviFrameBuilder() : nullptr;
}

void VistrelAppDelegate::openPlaybackFileAndConvertToAVI() {
    aviConversion_->openPlaybackFileAndConvertToAVI();
}
void VistrelAppDelegate::openCurrentPlaybackFileAndConvertToAVI() {
    aviConversion_->openCurrentPlaybackFileAndConvertToAVI();
}
void VistrelAppDelegate::activateAVIConversion() {
    aviConversion_->activateAVIConversion();
}
void VistrelAppDelegate::setAVIFileLocationAndConfig() {
    aviConversion_->setAVIFileLocationAndConfig();
}
void VistrelAppDelegate::setAVIConversionStartingUI() {
    aviConversion_->setAVIConversionStartingUI();
}
void VistrelAppDelegate::setChannelSelectionBtnWithVideoChannels(uint32_t videoMask, uint32_t audioMask) {
    aviConversion_->setChannelSelectionBtnWithVideoChannels(videoMask, audioMask);
}
void VistrelAppDelegate::showChannelSelectionPanel() {
    aviConversion_->showChannelSelectionPanel();
}
void VistrelAppDelegate::closeChannelSelectionPanel() {
    aviConversion_->closeChannelSelectionPanel();
}
void VistrelAppDelegate::doAVIConversionTask() {
    aviConversion_->doAVIConversionTask();
}
void VistrelAppDelegate::finishAVIConversionTask() {
    aviConversion_->finishAVIConversionTask();
}
void VistrelAppDelegate::disablePlaybackButton() {
    aviConversion_->disablePlaybackButton();
}
void VistrelAppDelegate::revertPlaybackButton() {
    aviConversion_->revertPlaybackButton();
}
void VistrelAppDelegate::animateAVIConvertingIndicator() {
    aviConversion_->animateAVIConvertingIndicator();
}
void VistrelAppDelegate::upadateUIWhileFinishingFileConversion() {
    aviConversion_->upadateUIWhileFinishingFileConversion();
}
