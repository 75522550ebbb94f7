#include "app/transport/transport_controller.h"

#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

#include "app/alerts.h"
#include "app/controls/CustomizedButton.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/main_window.h"
#include "platform/log.h"

using namespace transport;

TransportController::TransportController(TransportTarget &target, const TransportViews &views,
                                         const TransportImages &images, const TransportHooks &hooks,
                                         QObject *parent)
    : QObject(parent), target_(target), views_(views), images_(images), hooks_(hooks) {
    buttonWatch_.setInterval(kButtonWatchIntervalMs);
    // A held button's mouse tracking runs inside the ordinary event loop, so the timer keeps
    // firing while a button is held.
    connect(&buttonWatch_, &QTimer::timeout, this, &TransportController::checkPlaybackBtnIsPressed);
    trackPlayingPosition(views_.playbackProgressSlider);
    trackPlayingPosition(views_.fullScreenPlaybackProgressSlider);
}

TransportController::~TransportController() = default;

// Outside a drag every change of a progress slider is playback moving on.
void TransportController::trackPlayingPosition(CustomizedProgressSlider *slider) {
    if (!slider) return;
    connect(slider, &QAbstractSlider::valueChanged, this, [this, slider] {
        if (!slider->isSliderDown()) playingPosition_ = slider->floatValue();
    });
}

// ---- State in and out ---------------------------------------------------------------------

StatusImage TransportController::shownImage(const QLabel *view, bool fullScreen) const {
    if (!view) return StatusImage::Other;
    const QPixmap shown = view->pixmap();
    if (shown.isNull()) return StatusImage::Other;
    const auto &images = fullScreen ? images_.fullScreen : images_.window;
    for (int i = 1; i < kStatusImageCount; ++i) {
        const QPixmap *image = images[i];
        if (image && !image->isNull() && image->cacheKey() == shown.cacheKey())
            return static_cast<StatusImage>(i);
    }
    return StatusImage::Other;
}

void TransportController::showImage(QLabel *view, StatusImage image, bool fullScreen) {
    if (!view) return;
    const QPixmap *pixmap = (fullScreen ? images_.fullScreen : images_.window)[static_cast<int>(image)];
    view->setPixmap(pixmap ? *pixmap : QPixmap());
}

TransportState TransportController::currentState() const {
    TransportState state = target_.transportState();
    state.windowImage = shownImage(views_.playbackStatusImageView, false);
    state.fullScreenImage = shownImage(views_.fullScreenPlaybackStatusImageView, true);
    return state;
}

HeldButton TransportController::heldButton() const {
    const PressAndHoldButton *rewinds[] = {views_.fastRewindBtn, views_.fastRewindFullScreenBtn};
    const PressAndHoldButton *forwards[] = {views_.fastForwardBtn, views_.fastForwardFullScreenBtn};
    for (const PressAndHoldButton *b : rewinds)
        if (b && b->btnPressed()) return HeldButton::Rewind;
    for (const PressAndHoldButton *b : forwards)
        if (b && b->btnPressed()) return HeldButton::Forward;
    return HeldButton::None;
}

void TransportController::run(const TransportInput &input) {
    apply(transportStep(currentState(), input));
}

void TransportController::apply(const TransportResult &result) {
    for (size_t i = 0; i < result.commands.size(); ++i) {
        if (target_.apply(result.commands[i])) continue;
        if (i == 0 && result.seekFirst) {
            // The engine could not go there: nothing else of the seek happens.
            apply(transportStep(currentState(), TransportInput{Input::SeekRefused}));
            return;
        }
    }
    if (result.windowImage) showImage(views_.playbackStatusImageView, *result.windowImage, false);
    if (result.fullScreenImage)
        showImage(views_.fullScreenPlaybackStatusImageView, *result.fullScreenImage, true);
    if (result.showFullScreenPanel && hooks_.showFullScreenControlPanel) hooks_.showFullScreenControlPanel();
    if (result.restoreProgressSlider) showProgress(playingPosition_);
    if (result.resetProgressLater) {
        QTimer::singleShot(kProgressResetDelayMs, this, [this] { showProgress(0.0f); });
    }
    if (result.unsupportedAlert) {
        // Queued, like any sheet asked for in the middle of an action.
        QMetaObject::invokeMethod(
            this, [this] { notSupportFastRewindActionAlert(); }, Qt::QueuedConnection);
    }
}

void TransportController::connectControls(std::initializer_list<QAbstractButton *> play,
                                          std::initializer_list<QAbstractButton *> pause,
                                          std::initializer_list<QAbstractButton *> stop,
                                          QAbstractButton *flip) {
    auto connectAll = [this](std::initializer_list<QAbstractButton *> buttons,
                             void (TransportController::*action)()) {
        for (QAbstractButton *button : buttons)
            if (button) connect(button, &QAbstractButton::clicked, this, action);
    };
    connectAll(play, &TransportController::playAction);
    connectAll(pause, &TransportController::pauseAction);
    connectAll(stop, &TransportController::stopAction);
    connectAll({views_.fastForwardBtn, views_.fastForwardFullScreenBtn},
               &TransportController::fastForwardAction);
    connectAll({views_.fastRewindBtn, views_.fastRewindFullScreenBtn},
               &TransportController::fastRewindAction);
    for (CustomizedProgressSlider *progress :
         {views_.playbackProgressSlider, views_.fullScreenPlaybackProgressSlider})
        if (progress)
            connect(progress, &QSlider::sliderReleased, this,
                    [this, progress] { progressSliderValueChanged(progress->intValue()); });
    for (QSlider *volume : {views_.playbackVolumeSlider, views_.fullScreenPlaybackVolumeSlider})
        if (volume)
            connect(volume, &QSlider::valueChanged, this, [this, volume](int value) {
                const int span = volume->maximum() - volume->minimum();
                audioSliderChanged(span > 0 ? float(value - volume->minimum()) / float(span) : 0.0f);
            });
    if (views_.audioChannelSwitchBtn)
        connect(views_.audioChannelSwitchBtn, QOverload<int>::of(&QComboBox::activated), this,
                &TransportController::clickAudioChannelSwitchBtn);
    if (flip) connect(flip, &QAbstractButton::toggled, this, &TransportController::flipImageAction);
}

float TransportController::playbackVolume() const {
    const QSlider *volume = views_.playbackVolumeSlider;
    if (!volume) return 0.5f;
    const int span = volume->maximum() - volume->minimum();
    if (span <= 0) return 0.5f;
    return static_cast<float>(volume->value() - volume->minimum()) / span;
}

void TransportController::showStatus(StatusImage image) {
    showImage(views_.playbackStatusImageView, image, false);
    showImage(views_.fullScreenPlaybackStatusImageView, image, true);
}

void TransportController::showEndOfRecording() {
    CustomizedProgressSlider *slider = views_.playbackProgressSlider;
    // A value that is not a number is not 100 either.
    if (slider && !(slider->floatValue() == 100.0f)) {
        showProgress(100.0f);
        if (CustomizedProgressSliderCell *cell = slider->progressSliderCell()) cell->redrawBarInside();
    }
    showStatus(StatusImage::Stop);
}

void TransportController::showProgress(float percent) {
    if (hooks_.upadatePlaybackProgress) {
        hooks_.upadatePlaybackProgress(percent);
        return;
    }
    for (CustomizedProgressSlider *slider :
         {views_.playbackProgressSlider, views_.fullScreenPlaybackProgressSlider})
        if (slider) slider->setFloatValue(percent);
}

// ---- The controls ---------------------------------------------------------------------------

void TransportController::playAction() {
    run(TransportInput{Input::Play});
}
void TransportController::pauseAction() {
    run(TransportInput{Input::Pause});
}
void TransportController::stopAction() {
    run(TransportInput{Input::Stop});
}
void TransportController::fastForwardAction() {
    run(TransportInput{Input::FastForward});
}
void TransportController::fastRewindAction() {
    run(TransportInput{Input::FastRewind});
}

void TransportController::progressSliderValueChanged(int percent) {
    run(TransportInput{Input::Seek, percent, HeldButton::None});
}

void TransportController::audioSliderChanged(float volume) {
    if (!(volume >= 0.0f)) volume = 0.0f; // NaN too
    if (volume > 1.0f) volume = 1.0f;
    for (QSlider *slider : {views_.playbackVolumeSlider, views_.fullScreenPlaybackVolumeSlider}) {
        if (!slider) continue;
        const QSignalBlocker quiet(slider);
        slider->setValue(slider->minimum() + qRound(volume * (slider->maximum() - slider->minimum())));
    }
    target_.setAudioVolume(volume);
}

void TransportController::clickAudioChannelSwitchBtn() {
    QComboBox *menu = views_.audioChannelSwitchBtn;
    if (!menu) return;
    const int tag = menu->currentData().toInt();
    player_log("clickAudioChannelSwitchBtn...\n");
    player_log("index of %d item is selected\n", menu->currentIndex());
    player_log("[[audioChannelSwitchBtn selectedItem] tag] = %d\n", tag);
    player_log("iCurrentSelectedAudioCH = %d\n", tag);
    // 0 is the item of a file without audio: no channel is heard.
    if (tag < 0 || tag > 16) return;
    target_.selectAudioChannel(tag);
}

void TransportController::flipImageAction(bool on) {
    target_.setFlipImage(on);
}

void TransportController::notSupportFastRewindActionAlert() {
    // A rewind button held on a paused DV file asks for a sheet every tick: one is enough.
    if (alertShowing_) return;
    alertShowing_ = true;
    // The press that led here is over: the sheet takes the mouse.
    for (PressAndHoldButton *b : {views_.fastRewindBtn, views_.fastRewindFullScreenBtn})
        if (b) b->setBtnPressed(0);
    Alert alert;
    alert.messageText = tr("Action Unsupported");
    alert.informativeText = tr("DV4/DV5 file playback doesn't support fast rewind action.");
    alert.buttons << tr("OK");
    alert.style = AlertStyle::Informational;
    QPointer<TransportController> self(this);
    beginAlertSheet(views_.window, alert, [self](int) {
        if (self) self->alertShowing_ = false;
    });
}

// ---- The button watch -----------------------------------------------------------------------

void TransportController::initCheckButtonIsPressedCallback() {
    buttonWatch_.start();
}

void TransportController::checkPlaybackBtnIsPressed() {
    run(TransportInput{Input::Tick});
    if (canStep(currentState())) doForwardAndRewindStepPlayback();
}

void TransportController::doForwardAndRewindStepPlayback() {
    run(TransportInput{Input::Step, 0, heldButton()});
}

TransportViews transportViewsOf(MainWindow &window) {
    Ui::MainWindow &ui = window.ui;
    TransportViews views;
    views.playbackStatusImageView = ui.playbackStatusImageView;
    views.fullScreenPlaybackStatusImageView = ui.fullScreenPlaybackStatusImageView;
    views.fastRewindBtn = ui.fastRewindBtn;
    views.fastRewindFullScreenBtn = ui.fastRewindFullScreenBtn;
    views.fastForwardBtn = ui.fastForwardBtn;
    views.fastForwardFullScreenBtn = ui.fastForwardFullScreenBtn;
    views.playbackProgressSlider = ui.playbackProgressSlider;
    views.fullScreenPlaybackProgressSlider = ui.fullScreenPlaybackProgressSlider;
    views.audioChannelSwitchBtn = ui.audioChannelSwitchBtn;
    views.playbackVolumeSlider = ui.playbackVolumeSlider;
    views.fullScreenPlaybackVolumeSlider = ui.fullScreenPlaybackVolumeSlider;
    views.window = &window;
    return views;
}
