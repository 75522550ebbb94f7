#include "app/conversion/delegate_conversion_host.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>

#include "app/ColorSettingPanel.h"
#include "app/ConfigSettingPanel.h"
#include "app/VistrelAppDelegate.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/controls/OsdTextLayer.h"
#include "app/main_window.h"
#include "engines/avc_format_playback.h"
#include "engines/dv_format_playback.h"
#include "engines/engine_controls.h"
#include "platform/log.h"

namespace {

QString extensionOf(const QString &path) {
    const QString component = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const int dot = component.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? QString() : component.mid(dot + 1);
}

} // namespace

ConversionSettings DelegateConversionHost::conversionSettings() {
    // The settings panel's defaults: the AVI folder in the user's documents, the frame rate
    // field empty (30 per second), audio kept.
    ConversionSettings s;
    s.aviFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/Vistrel/AVI/");
    return s;
}

int DelegateConversionHost::playerState() { return d_.playerState(); }
void DelegateConversionHost::setPlayerState(int state) { d_.setPlayerState(state); }
QString DelegateConversionHost::currentFilePath() { return d_.absoluteFilePathString(); }

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

void DelegateConversionHost::stopEngines() { d_.resetPlaybackHandle(); }

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
    for (OsdTextLayer *layer : {d_.osdServerTime, d_.osdVideoMode, d_.osdPercentage})
        if (layer) layer->setVisible(false);
    for (int channel = 0; channel < 16; ++channel) {
        if (d_.videoViewTitle[channel]) d_.videoViewTitle[channel]->setVisible(false);
        if (d_.videoView[channel]) d_.videoView[channel]->setContents(QImage());
    }
    if (d_.osdEnableBtn) d_.osdEnableBtn->setChecked(false);
    if (d_.videoModeLabel) d_.videoModeLabel->setVisible(true);
    // Nothing of an open settings panel is stored when the conversion closes it.
    if (d_.colorSettingPanel && d_.colorSettingPanel->isVisible()) d_.colorSettingPanel->hide();
    if (d_.configSettingPanel && d_.configSettingPanel->isVisible()) d_.configSettingPanel->hide();
}

int DelegateConversionHost::checkTotalChannelsForAVIConversion() {
    const QString ext = d_.fileExtension.toLower();
    if (ext != QLatin1String("avc") && ext != QLatin1String("dv4") && ext != QLatin1String("dv5")) return -1;
    // Without the header probe every recording converts its first channel.
    if (d_.iCurrentSelectedVideoCH() <= 0) d_.setICurrentSelectedVideoCH(1);
    d_.setVideoPaneCutState(0);
    return 1;
}

bool DelegateConversionHost::startEngineForConversion(int videoChannel1Based, int audioChannel1Based,
                                                      int *vdoFmtIdx) {
    if (videoChannel1Based > 0) d_.setICurrentSelectedVideoCH(videoChannel1Based);
    gDVFmtPlaybackSpeed = 0;
    d_.setEnAVCFmtPlaybackStatus(kAVCFmtPlaybackPlay);
    const QString ext = d_.fileExtension.toLower();
    const std::string path = d_.absoluteFilePath();
    bool started = false;
    if (ext == QLatin1String("avc")) {
        AVCFormatPlayback *avc = d_.handleAVCFmtPlayback();
        d_.setIsAVCPlaybackFlag(true);
        if (!avc) return false;
        avc->resetAVStreamType();
        started = avc->createAVCFmtVideoPlaybackThread() && avc->createAVCFmtAudioPlaybackThread() &&
                  avc->openAVCFileAndStartParser(path) != 0;
    } else if (ext == QLatin1String("dv4") || ext == QLatin1String("dv5")) {
        DVFormatPlayback *dv = d_.handleDVFmtPlayback();
        if (!dv) return false;
        if (ext == QLatin1String("dv4")) {
            if (dv->dvFmtVideoCodec() != kDVFmtDV4MPEG4) dv->setDvFmtVideoCodec(kDVFmtDV4H264);
            *vdoFmtIdx = dv->dvFmtVideoCodec() == kDVFmtDV4MPEG4 ? 1 : 0;
        } else {
            dv->setDvFmtVideoCodec(kDVFmtDV5);
            *vdoFmtIdx = 0;
            if (d_.aviConversionDesignateChannel() && audioChannel1Based > 0) {
                if (d_.audioChannelSwitchBtn) {
                    const int index = d_.audioChannelSwitchBtn->findData(audioChannel1Based);
                    if (index >= 0) d_.audioChannelSwitchBtn->setCurrentIndex(index);
                }
                d_.setICurrentSelectedAudioCH(audioChannel1Based);
                player_log("iCurrentSelectedAudioCH = %d\n", audioChannel1Based);
            }
        }
        dv->resetAVStreamType();
        gDVFmtPlaybackKeepRunning = 1;
        gDVFmtPlaybackStopActionLaunched = 0;
        gDVFmtPlaybackSliderValueChanged = 0;
        gDVFmtPlaybackIsPauseNow = 0;
        started = dv->createDVFmtVideoPlaybackThread() && dv->createDVFmtAudioPlaybackThread() &&
                  dv->createDVFmtParserThread();
    }
    if (!started) return false;
    d_.setIsPlaybackNow(false);
    d_.setPlaybackIsActivated(true);
    return true;
}

void DelegateConversionHost::setUIInCaseOfUnsupportedFileForamt() {
    if (d_.playbackStatusImageView) d_.playbackStatusImageView->setPixmap(d_.stopStatusImg);
    if (d_.fullScreenPlaybackStatusImageView) d_.fullScreenPlaybackStatusImageView->setPixmap(d_.stopStatusImgInFullScreen);
    for (QLabel *label : {d_.videoModeLabel, d_.aviProgressLabel, d_.aviFrameRateLabel})
        if (label) label->setText(QString());
    if (d_.serverTimeLabel) d_.serverTimeLabel->setText(QObject::tr("Unsupported format!"));
    if (d_.videoModeLabel) d_.videoModeLabel->setVisible(true);
}

void DelegateConversionHost::showAndEnableDeinterlace(bool enabled) {
    d_.setVideoDeinterlaceFlag(false);
    if (d_.deinterlaceStatusImageView) d_.deinterlaceStatusImageView->setVisible(enabled);
    if (d_.fullScreenDeinterlaceStatusImageView) d_.fullScreenDeinterlaceStatusImageView->setVisible(enabled);
}

// ---- The delegate's conversion operations ---------------------------------------------------

void VistrelAppDelegate::initAVIConversion() {
    conversionHost_ = std::make_unique<DelegateConversionHost>(*this);
    conversionSheets_ = std::make_unique<MessageBoxSheetPresenter>(window);
    ConversionWidgets w;
    w.window = window;
    w.lockedButtons = {audioChannelSwitchBtn, videoChannelSwitchBtn, osdEnableBtn,   flipImageBtn,
                       fullScreenBtn,         openFileBtn,           configSettingBtn, aviConversionBtn,
                       snapShotBtn,           colorAdjustBtn,        playActionBtn,   pauseActionBtn,
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
    aviConversion_ = std::make_unique<AVIConversion>(conversionHost_.get(), conversionSheets_.get(), w);
    if (aviConversionBtn)
        connect(aviConversionBtn, &QPushButton::clicked, this, [this] { openPlaybackFileAndConvertToAVI(); });
}

ANAVIFrameBuilder *VistrelAppDelegate::aviFrameBuilder() const {
    return aviConversion_ ? aviConversion_->aviFrameBuilder() : nullptr;
}

void VistrelAppDelegate::openPlaybackFileAndConvertToAVI() { aviConversion_->openPlaybackFileAndConvertToAVI(); }
void VistrelAppDelegate::openCurrentPlaybackFileAndConvertToAVI() {
    aviConversion_->openCurrentPlaybackFileAndConvertToAVI();
}
void VistrelAppDelegate::activateAVIConversion() { aviConversion_->activateAVIConversion(); }
void VistrelAppDelegate::setAVIFileLocationAndConfig() { aviConversion_->setAVIFileLocationAndConfig(); }
void VistrelAppDelegate::setAVIConversionStartingUI() { aviConversion_->setAVIConversionStartingUI(); }
void VistrelAppDelegate::setChannelSelectionBtnWithVideoChannels(uint32_t videoMask, uint32_t audioMask) {
    aviConversion_->setChannelSelectionBtnWithVideoChannels(videoMask, audioMask);
}
void VistrelAppDelegate::showChannelSelectionPanel() { aviConversion_->showChannelSelectionPanel(); }
void VistrelAppDelegate::closeChannelSelectionPanel() { aviConversion_->closeChannelSelectionPanel(); }
void VistrelAppDelegate::doAVIConversionTask() { aviConversion_->doAVIConversionTask(); }
void VistrelAppDelegate::finishAVIConversionTask() { aviConversion_->finishAVIConversionTask(); }
void VistrelAppDelegate::disablePlaybackButton() { aviConversion_->disablePlaybackButton(); }
void VistrelAppDelegate::revertPlaybackButton() { aviConversion_->revertPlaybackButton(); }
void VistrelAppDelegate::animateAVIConvertingIndicator() { aviConversion_->animateAVIConvertingIndicator(); }
void VistrelAppDelegate::upadatePlaybackServerTimeAndProgressForFileConversion(const QString &time, float progress) {
    aviConversion_->upadatePlaybackServerTimeAndProgressForFileConversion(time, progress);
}
void VistrelAppDelegate::upadateUIWhileFinishingFileConversion() {
    aviConversion_->upadateUIWhileFinishingFileConversion();
}
// AVC parser thread.
void VistrelAppDelegate::setAVCFmtVdoIdxForAVIBuilder(int videoCodec) {
    if (AVIConversion *conversion = aviConversion_.get()) conversion->setAVCFmtVdoIdxForAVIBuilder(videoCodec);
}
