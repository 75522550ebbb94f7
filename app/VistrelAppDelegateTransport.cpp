// The delegate's transport operations: short forwards to the TransportController, and the one
// place where the transport controls are connected.
#include <QComboBox>
#include <QPushButton>
#include <QSlider>

#include "app/VistrelAppDelegate.h"
#include "app/controls/CustomizedButton.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/engine_side/engine_transport_target.h"
#include "app/main_window.h"
#include "app/transport/transport_controller.h"
#include "app/video_pane/video_pane.h"

void VistrelAppDelegate::initTransportControls() {
    using transport::StatusImage;
    transportTarget_ = std::make_unique<EngineTransportTarget>(*this);
    transportTarget_->setFinishConversion([this] { finishAVIConversionTask(); });

    TransportViews views;
    views.playbackStatusImageView = playbackStatusImageView;
    views.fullScreenPlaybackStatusImageView = fullScreenPlaybackStatusImageView;
    views.fastRewindBtn = fastRewindBtn;
    views.fastRewindFullScreenBtn = fastRewindFullScreenBtn;
    views.fastForwardBtn = fastForwardBtn;
    views.fastForwardFullScreenBtn = fastForwardFullScreenBtn;
    views.playbackProgressSlider = playbackProgressSlider;
    views.fullScreenPlaybackProgressSlider = fullScreenPlaybackProgressSlider;
    views.audioChannelSwitchBtn = audioChannelSwitchBtn;
    views.playbackVolumeSlider = playbackVolumeSlider;
    views.fullScreenPlaybackVolumeSlider = fullScreenPlaybackVolumeSlider;
    views.window = window;

    TransportImages images;
    const std::pair<StatusImage, std::pair<const QPixmap *, const QPixmap *>> pairs[] = {
        {StatusImage::Play, {&playStatusImg, &playStatusImgInFullScreen}},
        {StatusImage::Pause, {&pauseStatusImg, &pauseStatusImgInFullScreen}},
        {StatusImage::Stop, {&stopStatusImg, &stopStatusImgInFullScreen}},
        {StatusImage::Fwd2x, {&fastFwd2xStatusImg, &fastFwd2xStatusImgInFullScreen}},
        {StatusImage::Fwd4x, {&fastFwd4xStatusImg, &fastFwd4xStatusImgInFullScreen}},
        {StatusImage::Fwd8x, {&fastFwd8xStatusImg, &fastFwd8xStatusImgInFullScreen}},
        {StatusImage::Fwd16x, {&fastFwd16xStatusImg, &fastFwd16xStatusImgInFullScreen}},
        {StatusImage::Rwd1x, {&fastRwd1xStatusImg, &fastRwd1xStatusImgInFullScreen}},
        {StatusImage::Rwd2x, {&fastRwd2xStatusImg, &fastRwd2xStatusImgInFullScreen}},
        {StatusImage::Rwd4x, {&fastRwd4xStatusImg, &fastRwd4xStatusImgInFullScreen}},
        {StatusImage::Rwd8x, {&fastRwd8xStatusImg, &fastRwd8xStatusImgInFullScreen}},
        {StatusImage::Rwd16x, {&fastRwd16xStatusImg, &fastRwd16xStatusImgInFullScreen}},
    };
    for (const auto &pair : pairs) {
        images.window[static_cast<int>(pair.first)] = pair.second.first;
        images.fullScreen[static_cast<int>(pair.first)] = pair.second.second;
    }

    TransportHooks hooks;
    hooks.upadatePlaybackProgress = [this](float percent) { upadatePlaybackProgress(percent); };
    hooks.showFullScreenControlPanel = [this] { videoPaneLayout_->showFullScreenControlPanel(); };
    transport_ = std::make_unique<TransportController>(*transportTarget_, views, images, hooks);

    // The controls of the window and of the full-screen panel.
    Ui::MainWindow *ui = window ? &window->ui : nullptr;
    for (QPushButton *play : {playActionBtn, ui ? ui->fullScreenPlayBtn : nullptr})
        if (play) connect(play, &QPushButton::clicked, this, &VistrelAppDelegate::playAction);
    for (QPushButton *pause : {pauseActionBtn, ui ? ui->fullScreenPauseBtn : nullptr})
        if (pause) connect(pause, &QPushButton::clicked, this, &VistrelAppDelegate::pauseAction);
    for (QPushButton *stop : {ui ? ui->stopBtn : nullptr, ui ? ui->fullScreenStopBtn : nullptr})
        if (stop) connect(stop, &QPushButton::clicked, this, &VistrelAppDelegate::stopAction);
    for (QPushButton *forward :
         {static_cast<QPushButton *>(fastForwardBtn), static_cast<QPushButton *>(fastForwardFullScreenBtn)})
        if (forward) connect(forward, &QPushButton::clicked, this, &VistrelAppDelegate::fastForwardAction);
    for (QPushButton *rewind :
         {static_cast<QPushButton *>(fastRewindBtn), static_cast<QPushButton *>(fastRewindFullScreenBtn)})
        if (rewind) connect(rewind, &QPushButton::clicked, this, &VistrelAppDelegate::fastRewindAction);
    for (CustomizedProgressSlider *progress : {playbackProgressSlider, fullScreenPlaybackProgressSlider})
        if (progress)
            connect(progress, &QSlider::sliderReleased, this,
                    [this, progress] { progressSliderValueChanged(progress->intValue()); });
    for (QSlider *volume : {playbackVolumeSlider, fullScreenPlaybackVolumeSlider})
        if (volume)
            connect(volume, &QSlider::valueChanged, this, [this, volume](int value) {
                const int span = volume->maximum() - volume->minimum();
                audioSliderChanged(span > 0 ? float(value - volume->minimum()) / float(span) : 0.0f);
            });
    if (audioChannelSwitchBtn)
        connect(audioChannelSwitchBtn, QOverload<int>::of(&QComboBox::activated), this,
                &VistrelAppDelegate::clickAudioChannelSwitchBtn);
    if (flipImageBtn)
        connect(flipImageBtn, &QPushButton::toggled, this, &VistrelAppDelegate::flipImageAction);
}

void VistrelAppDelegate::playAction() {
    transport_->playAction();
}
void VistrelAppDelegate::pauseAction() {
    transport_->pauseAction();
}
void VistrelAppDelegate::stopAction() {
    transport_->stopAction();
}
void VistrelAppDelegate::fastForwardAction() {
    transport_->fastForwardAction();
}
void VistrelAppDelegate::fastRewindAction() {
    transport_->fastRewindAction();
}
void VistrelAppDelegate::progressSliderValueChanged(int percent) {
    transport_->progressSliderValueChanged(percent);
}
void VistrelAppDelegate::audioSliderChanged(float volume) {
    transport_->audioSliderChanged(volume);
}
void VistrelAppDelegate::clickAudioChannelSwitchBtn() {
    transport_->clickAudioChannelSwitchBtn();
}
void VistrelAppDelegate::flipImageAction(bool on) {
    transport_->flipImageAction(on);
}
void VistrelAppDelegate::initCheckButtonIsPressedCallback() {
    transport_->initCheckButtonIsPressedCallback();
}
void VistrelAppDelegate::checkPlaybackBtnIsPressed() {
    transport_->checkPlaybackBtnIsPressed();
}
void VistrelAppDelegate::doForwardAndRewindStepPlayback() {
    transport_->doForwardAndRewindStepPlayback();
}
void VistrelAppDelegate::notSupportFastRewindActionAlert() {
    transport_->notSupportFastRewindActionAlert();
}
