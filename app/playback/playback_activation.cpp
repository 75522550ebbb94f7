#include "app/playback/playback_activation.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>

#include "app/controls/CustomizedProgressSlider.h"
#include "app/logic/channel_layout.h"
#include "app/logic/engine_control.h"
#include "app/logic/recorder_file_probe.h"
#include "app/main_window.h"
#include "app/transport/status_images.h"
#include "app/video_pane/video_pane.h"
#include "platform/log.h"

namespace {
constexpr int kAVCFmtPlaybackPlay = 10;
} // namespace

PlaybackActivation::PlaybackActivation(const ActivationViews &views, EngineShared &shared,
                                       EngineControl &engines, ActivationPort &port, QObject *context)
    : v_(views), shared_(shared), engines_(engines), port_(port), context_(context), file_(shared) {}

void PlaybackActivation::activateFilePlayback() {
    file_.setIndependent(false);
    file_.setKind(RecorderFileKind::Unknown);
    file_.setPlayerState(PlayerState::Playing);
    if (VideoPane *pane = port_.videoPaneLayout()) pane->forceNewLayout();
    resetPlaybackHandle();
    // Nothing the last file's engines still had on its way to the window lands on this one.
    engines_.dropQueuedDeliveries();
    port_.setSnapshotFileLocation();
    setFilePlaybackStartingUI();
    engines_.startTransportAfresh();
    shared_.avcStatus.store(kAVCFmtPlaybackPlay);

    const std::string path = shared_.filePath();
    bool started = false;
    switch (recorderFileKindFromExtension(file_.fileExtension().toStdString())) {
    case RecorderFileKind::AVC:
        file_.setKind(RecorderFileKind::AVC);
        if (!checkTotalChannelsAndSetVideoViewCut(0)) break;
        started = engines_.startWithFreshAudio(true, path);
        break;
    case RecorderFileKind::DV4:
        file_.setKind(RecorderFileKind::DV4);
        if (!checkTotalChannelsAndSetVideoViewCut(1)) break;
        getDV4FileVideoCodec();
        started = engines_.startWithFreshAudio(false, std::string());
        break;
    case RecorderFileKind::DV5:
        file_.setKind(RecorderFileKind::DV5);
        engines_.setDvFmtVideoCodec(kDvFmtVideoCodecDV5);
        if (!checkTotalChannelsAndSetVideoViewCut(2)) break;
        started = engines_.startWithFreshAudio(false, std::string());
        break;
    case RecorderFileKind::Unknown:
        break;
    }
    if (!started) {
        failActivation();
        return;
    }
    shared_.playbackNow.store(true);
    file_.setActivated(true);
    if (QWidget *window = v_.window) {
        const QRect frame = window->geometry();
        window->setGeometry(frame.x(), frame.y(), frame.width(), kPlayingWindowHeight);
    }
}

void PlaybackActivation::failActivation() {
    resetPlaybackHandle();
    engines_.dropQueuedDeliveries();
    if (QWidget *window = v_.window) {
        const QRect frame = window->geometry();
        window->setGeometry(QRect(frame.topLeft(), window->minimumSize()));
    }
    QMetaObject::invokeMethod(
        context_, [this] { setUIInCaseOfUnsupportedFileForamt(); }, Qt::QueuedConnection);
}

void PlaybackActivation::resetPlaybackHandle() {
    engines_.stopEngines();
    port_.releaseFileWrapper();
}

void PlaybackActivation::resetPictureSizesProgressAndTitle() {
    if (VideoPane *pane = port_.videoPaneLayout()) {
        pane->layoutMemory().previousImageRealWidth = 0;
        pane->layoutMemory().previousImageRealHeight = 0;
        // Nothing of the last file's time, picture mode or percentage stays on screen.
        pane->clearOnScreenTexts();
    }
    shared_.decoderTargetWidth.store(0.0f);
    shared_.decoderTargetHeight.store(0.0f);
    shared_.resizingVideoPane.store(true);
    for (CustomizedProgressSlider *slider : {v_.playbackProgressSlider, v_.fullScreenPlaybackProgressSlider})
        if (slider) slider->setFloatValue(0.0f);
    if (v_.window) v_.window->setWindowTitle(file_.fileNameWithExtension());
}

void PlaybackActivation::showOnScreenTextAsChosen() {
    if (VideoPane *pane = port_.videoPaneLayout())
        pane->setOnScreenTextVisible(v_.osdEnableBtn && v_.osdEnableBtn->isChecked());
}

void PlaybackActivation::setFilePlaybackStartingUI() {
    using transport::StatusImage;
    resetPictureSizesProgressAndTitle();
    if (v_.images) {
        if (v_.playbackStatusImageView)
            v_.playbackStatusImageView->setPixmap(v_.images->image(StatusImage::Play));
        if (v_.fullScreenPlaybackStatusImageView)
            v_.fullScreenPlaybackStatusImageView->setPixmap(v_.images->image(StatusImage::Play, true));
    }
    if (v_.deinterlaceStatusImageView) v_.deinterlaceStatusImageView->hide();
    // The previous file's deinterlacing and any locked button do not carry over.
    port_.revertPlaybackButton();
    showOnScreenTextAsChosen();
    // Queued behind anything the previous file still had on its way to the tiles.
    QMetaObject::invokeMethod(
        context_,
        [this] {
            if (VideoPane *p = port_.videoPaneLayout()) p->clearPictures();
        },
        Qt::QueuedConnection);
    for (QLabel *label : {v_.videoModeLabel, v_.aviProgressLabel, v_.serverTimeLabel})
        if (label) label->clear();
    if (v_.videoModeLabel) v_.videoModeLabel->show();
}

void PlaybackActivation::setUIInCaseOfUnsupportedFileForamt() {
    using transport::StatusImage;
    resetPictureSizesProgressAndTitle();
    if (v_.images) {
        if (v_.playbackStatusImageView)
            v_.playbackStatusImageView->setPixmap(v_.images->image(StatusImage::Stop));
        if (v_.fullScreenPlaybackStatusImageView)
            v_.fullScreenPlaybackStatusImageView->setPixmap(v_.images->image(StatusImage::Stop, true));
    }
    port_.revertPlaybackButton();
    showOnScreenTextAsChosen();
    for (QLabel *label : {v_.videoModeLabel, v_.aviProgressLabel, v_.aviFrameRateLabel})
        if (label) label->clear();
    if (v_.serverTimeLabel) v_.serverTimeLabel->setText(QObject::tr("Unsupported format!"));
    if (v_.videoModeLabel) v_.videoModeLabel->show();
}

bool PlaybackActivation::checkTotalChannelsAndSetVideoViewCut(int kind) {
    const RecorderFileProbe probe =
        probeRecorderFile(shared_.filePath(), static_cast<RecorderFileKind>(kind));
    // A folder, FIFO or device is refused before anything waits on it; a file that cannot be
    // opened at all cannot be played either, and says so rather than showing nothing.
    if (playerRefusesFile(probe)) return false;
    if (probe.kind == RecorderFileKind::DV5) {
        engines_.setIsDVRType700(probe.isDVRType700);
        player_log("minor_id: %s\n", probe.minorId.c_str());
    }
    applyLayout(probe);
    return true;
}

void PlaybackActivation::applyLayout(const RecorderFileProbe &probe) {
    VideoPane *pane = port_.videoPaneLayout();
    const uint8_t grid12 = pane ? pane->gridStartIndexes().grid12 : 0;
    const ChannelLayout layout = ::checkTotalChannelsAndSetVideoViewCut(probe, grid12);
    if (pane) pane->hideTiles();
    if (v_.videoChannelSwitchBtn) v_.videoChannelSwitchBtn->setCurrentIndex(0);

    file_.setMasks(layout.iSubVideoChannelEnabledValue, layout.iSubAudioChannelEnabledValue);
    file_.setSelectedVideoChannel(layout.iCurrentSelectedVideoCH);
    file_.setSelectedAudioChannel(layout.iCurrentSelectedAudioCH);
    file_.setChannelIndex(layout.channelIndex);
    file_.setCutState(static_cast<CutState>(layout.videoPaneCutState));
    file_.setCutLocked(layout.videoPaneLockCutStateFlag);
    file_.setIndependent(layout.isIndependentFlag);
    if (pane) {
        pane->setMiscellaneousBtnState(layout.miscellaneousBtnState);
        GridStartIndexes starts;
        starts.grid4 = layout.grid4StartIndex;
        starts.grid6 = layout.grid6StartIndex;
        starts.grid9 = layout.grid9StartIndex;
        starts.grid12 = layout.grid12StartIndex;
        pane->setGridStartIndexes(starts);
    }

    if (v_.snapShotBtn) v_.snapShotBtn->setEnabled(layout.snapShotBtnEnabled);
    if (layout.refillAudioMenu)
        port_.insertItemsToAudioChannelSwitchBtn(static_cast<int>(layout.audioChannels.size()),
                                                 layout.audioChannels.data());
    if (v_.audioChannelSwitchBtn) {
        v_.audioChannelSwitchBtn->setCurrentIndex(0);
        v_.audioChannelSwitchBtn->setEnabled(layout.audioChannelSwitchBtnEnabled);
    }
    if (QComboBox *menu = v_.videoChannelSwitchBtn) {
        if (layout.videoMenuItemCount > 0) {
            port_.insertItmesToVideoChannelSwitchBtn(layout.videoMenuItemCount);
            const int item = layout.videoMenuSelectedItem;
            QPointer<QComboBox> guarded(menu);
            QMetaObject::invokeMethod(
                context_,
                [guarded, item] {
                    if (guarded) guarded->setCurrentIndex(item);
                },
                Qt::QueuedConnection);
        }
        menu->setEnabled(layout.videoChannelSwitchBtnEnabled);
    }
    // Queued ahead of the titles the AVC engine delivers with the file's first frame.
    if (layout.setDefaultChannelTitles) port_.setDevChannelTitle(nullptr);
}

void PlaybackActivation::getDV4FileVideoCodec() {
    const RecorderFileProbe probe = probeRecorderFile(shared_.filePath(), RecorderFileKind::DV4);
    // Without a start code in the first bytes the codec is H.264, never the previous file's.
    engines_.setDvFmtVideoCodec(probe.dvFmtVideoCodec);
    port_.setAVIBuilderVideoFormat(probe.vdoFmtIdx);
}

ActivationViews activationViewsOf(MainWindow &window, const StatusImages &images) {
    Ui::MainWindow &ui = window.ui;
    ActivationViews a;
    a.window = &window;
    a.playbackStatusImageView = ui.playbackStatusImageView;
    a.fullScreenPlaybackStatusImageView = ui.fullScreenPlaybackStatusImageView;
    a.deinterlaceStatusImageView = ui.deinterlaceStatusImageView;
    a.osdEnableBtn = ui.osdEnableBtn;
    a.snapShotBtn = ui.snapShotBtn;
    a.audioChannelSwitchBtn = ui.audioChannelSwitchBtn;
    a.videoChannelSwitchBtn = ui.videoChannelSwitchBtn;
    a.videoModeLabel = ui.videoModeLabel;
    a.aviProgressLabel = ui.aviProgressLabel;
    a.aviFrameRateLabel = ui.aviFrameRateLabel;
    a.serverTimeLabel = ui.serverTimeLabel;
    a.playbackProgressSlider = ui.playbackProgressSlider;
    a.fullScreenPlaybackProgressSlider = ui.fullScreenPlaybackProgressSlider;
    a.images = &images;
    return a;
}
