#include "app/playback/playback_activation.h"
#include "app/logic/player_state.h"

#include <QComboBox>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>

#include <new>

#include "app/VistrelAppDelegate.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/engine_side/engine_side.h"
#include "app/logic/channel_layout.h"
#include "app/logic/recorder_file_probe.h"
#include "app/main_window.h"
#include "app/video_pane/video_pane.h"
#include "audio/audio_stream_processor.h"
#include "avi/ANAVIFrameBuilder.h"
#include "platform/log.h"

namespace {
constexpr int kChannels = 16;
constexpr int kAVCFmtPlaybackPlay = 10;
} // namespace

PlaybackActivation::PlaybackActivation(VistrelAppDelegate &app) : app_(app) {}

void PlaybackActivation::activateFilePlayback() {
    app_.setIsIndependentFlag(false);
    app_.setIsAVCPlaybackFlag(false);
    app_.setPlayerState(kPlayerStatePlaying);
    app_.setPrevVideoPaneCutState(2);
    resetPlaybackHandle();
    app_.setSnapshotFileLocation();
    setFilePlaybackStartingUI();
    app_.setEnAVCFmtPlaybackStatus(kAVCFmtPlaybackPlay);

    EngineSide *engines = app_.engineSide();
    const std::string path = app_.absoluteFilePath();
    bool started = false;
    switch (recorderFileKindFromExtension(app_.fileExtension.toStdString())) {
    case RecorderFileKind::AVC:
        app_.setIsAVCPlaybackFlag(true);
        if (!checkTotalChannelsAndSetVideoViewCut(0)) break;
        removeAudio();
        createAudio();
        started = engines && engines->startAVCFile(path);
        break;
    case RecorderFileKind::DV4:
        if (!checkTotalChannelsAndSetVideoViewCut(1)) break;
        getDV4FileVideoCodec();
        removeAudio();
        createAudio();
        started = engines && engines->startDVFile();
        break;
    case RecorderFileKind::DV5:
        if (engines) engines->setDvFmtVideoCodec(kDvFmtVideoCodecDV5);
        if (!checkTotalChannelsAndSetVideoViewCut(2)) break;
        removeAudio();
        createAudio();
        started = engines && engines->startDVFile();
        break;
    case RecorderFileKind::Unknown:
        break;
    }
    if (!started) {
        failActivation();
        return;
    }
    app_.setIsPlaybackNow(true);
    app_.setPlaybackIsActivated(true);
    if (MainWindow *window = app_.window) {
        const QRect frame = window->geometry();
        window->setGeometry(frame.x(), frame.y(), frame.width(), kPlayingWindowHeight);
    }
}

void PlaybackActivation::failActivation() {
    resetPlaybackHandle();
    if (MainWindow *window = app_.window) {
        const QRect frame = window->geometry();
        window->setGeometry(QRect(frame.topLeft(), window->minimumSize()));
    }
    QMetaObject::invokeMethod(
        &app_, [this] { setUIInCaseOfUnsupportedFileForamt(); }, Qt::QueuedConnection);
}

void PlaybackActivation::resetPlaybackHandle() {
    if (EngineSide *engines = app_.engineSide()) engines->stopEngines();
    app_.releaseFileWrapper();
}

void PlaybackActivation::resetPictureSizesProgressAndTitle() {
    app_.setPreviousImageRealWidth(0);
    app_.setPreviousImageRealHeight(0);
    app_.setDecoderTargetWidth(0.0f);
    app_.setDecoderTargetHeight(0.0f);
    app_.setIsResizingVideoPane(true);
    for (CustomizedProgressSlider *slider :
         {app_.playbackProgressSlider, app_.fullScreenPlaybackProgressSlider})
        if (slider) slider->setFloatValue(0.0f);
    if (app_.window) app_.window->setWindowTitle(app_.fileNameWithExtension);
}

void PlaybackActivation::setFilePlaybackStartingUI() {
    resetPictureSizesProgressAndTitle();
    if (app_.playbackStatusImageView) app_.playbackStatusImageView->setPixmap(app_.playStatusImg);
    if (app_.fullScreenPlaybackStatusImageView)
        app_.fullScreenPlaybackStatusImageView->setPixmap(app_.playStatusImgInFullScreen);
    if (app_.deinterlaceStatusImageView) app_.deinterlaceStatusImageView->hide();
    // The previous file's deinterlacing and any locked button do not carry over.
    app_.revertPlaybackButton();
    VideoPane *pane = app_.videoPaneLayout();
    if (pane) pane->setOnScreenTextVisible(app_.osdEnableBtn && app_.osdEnableBtn->isChecked());
    // Queued behind anything the previous file still had on its way to the tiles.
    QMetaObject::invokeMethod(
        &app_,
        [this] {
            if (VideoPane *p = app_.videoPaneLayout()) p->clearPictures();
        },
        Qt::QueuedConnection);
    for (QLabel *label : {app_.videoModeLabel, app_.aviProgressLabel, app_.serverTimeLabel})
        if (label) label->clear();
    if (app_.videoModeLabel) app_.videoModeLabel->show();
}

void PlaybackActivation::setUIInCaseOfUnsupportedFileForamt() {
    resetPictureSizesProgressAndTitle();
    app_.showStopStatusImages();
    app_.revertPlaybackButton();
    if (VideoPane *pane = app_.videoPaneLayout())
        pane->setOnScreenTextVisible(app_.osdEnableBtn && app_.osdEnableBtn->isChecked());
    for (QLabel *label : {app_.videoModeLabel, app_.aviProgressLabel, app_.aviFrameRateLabel})
        if (label) label->clear();
    if (app_.serverTimeLabel) app_.serverTimeLabel->setText(QObject::tr("Unsupported format!"));
    if (app_.videoModeLabel) app_.videoModeLabel->show();
}

void PlaybackActivation::createAudio() {
    if (app_.audioStreamProcessor) return;
    try {
        app_.audioStreamProcessor = std::make_unique<AudioStreamProcessor>();
    } catch (const std::bad_alloc &) {
        player_log("Cannot create the audio processor\n");
        return;
    }
    for (int channel = 0; channel < kChannels; ++channel)
        if (!app_.audioStreamProcessor->createDeviceAudio(channel))
            player_log("Create Audio Device Failed...\n");
}

void PlaybackActivation::removeAudio() {
    if (!app_.audioStreamProcessor) return;
    for (int channel = 0; channel < kChannels; ++channel) {
        app_.audioStreamProcessor->stopDeviceAudio(channel);
        if (!app_.audioStreamProcessor->removeDeviceAudio(channel))
            player_log("Remove Audio Device Failed...\n");
    }
    app_.audioStreamProcessor.reset();
}

bool PlaybackActivation::checkTotalChannelsAndSetVideoViewCut(int kind) {
    const RecorderFileProbe probe =
        probeRecorderFile(app_.absoluteFilePath(), static_cast<RecorderFileKind>(kind));
    // A folder, FIFO or device is refused before anything waits on it; a file that cannot be
    // opened at all cannot be played either, and says so rather than showing nothing.
    if (playerRefusesFile(probe)) return false;
    if (probe.kind == RecorderFileKind::DV5) {
        if (EngineSide *engines = app_.engineSide()) engines->setIsDVRType700(probe.isDVRType700);
        player_log("minor_id: %s\n", probe.minorId.c_str());
    }
    applyLayout(probe);
    return true;
}

void PlaybackActivation::applyLayout(const RecorderFileProbe &probe) {
    const ChannelLayout layout = ::checkTotalChannelsAndSetVideoViewCut(probe, app_.grid12StartIndex());
    for (CustomizedVideoView *tile : app_.videoView)
        if (tile) tile->hide();
    if (app_.videoChannelSwitchBtn) app_.videoChannelSwitchBtn->setCurrentIndex(0);

    app_.setISubVideoChannelEnabledValue(layout.iSubVideoChannelEnabledValue);
    app_.setISubAudioChannelEnabledValue(layout.iSubAudioChannelEnabledValue);
    app_.setICurrentSelectedVideoCH(layout.iCurrentSelectedVideoCH);
    app_.setICurrentSelectedAudioCH(layout.iCurrentSelectedAudioCH);
    app_.setChannelIndex(layout.channelIndex);
    app_.setVideoPaneCutState(layout.videoPaneCutState);
    app_.setVideoPaneLockCutStateFlag(layout.videoPaneLockCutStateFlag);
    app_.setIsIndependentFlag(layout.isIndependentFlag);
    app_.setMiscellaneousBtnState(layout.miscellaneousBtnState);
    GridStartIndexes starts;
    starts.grid4 = layout.grid4StartIndex;
    starts.grid6 = layout.grid6StartIndex;
    starts.grid9 = layout.grid9StartIndex;
    starts.grid12 = layout.grid12StartIndex;
    app_.setGridStartIndexes(starts);

    if (app_.snapShotBtn) app_.snapShotBtn->setEnabled(layout.snapShotBtnEnabled);
    if (layout.refillAudioMenu)
        app_.insertItemsToAudioChannelSwitchBtn(static_cast<int>(layout.audioChannels.size()),
                                                layout.audioChannels.data());
    if (app_.audioChannelSwitchBtn) {
        app_.audioChannelSwitchBtn->setCurrentIndex(0);
        app_.audioChannelSwitchBtn->setEnabled(layout.audioChannelSwitchBtnEnabled);
    }
    if (app_.videoChannelSwitchBtn) {
        if (layout.videoMenuItemCount > 0) {
            app_.insertItmesToVideoChannelSwitchBtn(layout.videoMenuItemCount);
            const int item = layout.videoMenuSelectedItem;
            QMetaObject::invokeMethod(
                &app_,
                [this, item] {
                    if (app_.videoChannelSwitchBtn) app_.videoChannelSwitchBtn->setCurrentIndex(item);
                },
                Qt::QueuedConnection);
        }
        app_.videoChannelSwitchBtn->setEnabled(layout.videoChannelSwitchBtnEnabled);
    }
    // DV4 panes are titled by channel; a DV5 header names no channels, so its panes are too.
    if (layout.setDefaultChannelTitles || probe.kind == RecorderFileKind::DV5)
        app_.setDevChannelTitle(nullptr);
}

void PlaybackActivation::getDV4FileVideoCodec() {
    const RecorderFileProbe probe = probeRecorderFile(app_.absoluteFilePath(), RecorderFileKind::DV4);
    // Without a start code in the first bytes the codec is H.264, never the previous file's.
    if (EngineSide *engines = app_.engineSide()) engines->setDvFmtVideoCodec(probe.dvFmtVideoCodec);
    if (ANAVIFrameBuilder *builder = app_.aviFrameBuilder()) builder->setVdoFmtIdx(probe.vdoFmtIdx);
}
