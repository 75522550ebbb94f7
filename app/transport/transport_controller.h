// The transport controls of the main window and of the full-screen panel: Play, Pause, Stop, fast
// forward, fast rewind, the progress sliders' seek, the volume sliders, the audio channel pop-up
// and the flip switch, plus the 0.1-second button watch that turns a held forward or rewind
// button into single steps while playback is paused.
//
// Each control feeds one input to the transport state machine (app/logic/transport_state.h) and
// applies its result: the commands go to the TransportTarget in order, the status images to the
// two status views, the alert through the alert adapter. Everything runs on the GUI thread;
// nothing here waits for an engine (the commands are flag writes and requests that return at
// once), so a step never holds the GUI up and never runs beside a teardown, which also runs on
// the GUI thread.
#pragma once

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

#include <array>
#include <functional>
#include <initializer_list>

#include "app/logic/transport_state.h"
#include "app/logic/transport_target.h"

class CustomizedProgressSlider;
class MainWindow;
class QAbstractButton;
class PressAndHoldButton;
class QComboBox;
class QLabel;
class QSlider;
class QWidget;

// The widgets the controller reads and writes; any may be null.
struct TransportViews {
    QLabel *playbackStatusImageView = nullptr;
    QLabel *fullScreenPlaybackStatusImageView = nullptr;
    // Looked at in this order by the button watch.
    PressAndHoldButton *fastRewindBtn = nullptr;
    PressAndHoldButton *fastRewindFullScreenBtn = nullptr;
    PressAndHoldButton *fastForwardBtn = nullptr;
    PressAndHoldButton *fastForwardFullScreenBtn = nullptr;
    CustomizedProgressSlider *playbackProgressSlider = nullptr;
    CustomizedProgressSlider *fullScreenPlaybackProgressSlider = nullptr;
    QComboBox *audioChannelSwitchBtn = nullptr;
    // Both show the one volume (0 to their maximum).
    QSlider *playbackVolumeSlider = nullptr;
    QSlider *fullScreenPlaybackVolumeSlider = nullptr;
    // The window the alert sheets belong to.
    QWidget *window = nullptr;
};
// The transport's widgets of the main window.
TransportViews transportViewsOf(MainWindow &window);

// The status images, indexed by transport::StatusImage; pointers to the owner's pixmaps, which
// may be loaded after the controller is made. A view shows a state when it holds that very
// pixmap (same cache key).
struct TransportImages {
    std::array<const QPixmap *, transport::kStatusImageCount> window{};
    std::array<const QPixmap *, transport::kStatusImageCount> fullScreen{};
};

// What the controller asks of the rest of the window.
struct TransportHooks {
    // Shows a progress (per cent) in both sliders and the on-screen text; when unset the
    // controller sets the two sliders itself.
    std::function<void(float)> upadatePlaybackProgress;
    // Shows the full-screen control panel (in full-screen mode) and restarts its hiding count.
    std::function<void()> showFullScreenControlPanel;
};

class TransportController : public QObject {
    Q_OBJECT
  public:
    TransportController(transport::TransportTarget &target, const TransportViews &views,
                        const TransportImages &images, const TransportHooks &hooks = {},
                        QObject *parent = nullptr);
    ~TransportController() override;

    // Connects the controls: the play, pause and stop buttons of the window and the full-screen
    // panel, the flip switch, and the views' forward, rewind, progress, volume and audio controls.
    void connectControls(std::initializer_list<QAbstractButton *> play,
                         std::initializer_list<QAbstractButton *> pause,
                         std::initializer_list<QAbstractButton *> stop, QAbstractButton *flip);

    // ---- The controls (GUI thread) ----
    void playAction();
    void pauseAction();
    void stopAction();
    void fastForwardAction();
    void fastRewindAction();
    // The end of a drag of a progress slider, at `percent` (0..100).
    void progressSliderValueChanged(int percent);
    // Volume 0.0..1.0 for the channel heard; every volume slider shows it.
    void audioSliderChanged(float volume);
    // The audio channel pop-up's selected item (its data is the 1-based channel).
    void clickAudioChannelSwitchBtn();
    void flipImageAction(bool on);
    // The "Action Unsupported" sheet; a request while one shows is dropped.
    void notSupportFastRewindActionAlert();

    // ---- The button watch ----
    // Starts the repeating timer (kButtonWatchIntervalMs); it runs until the controller goes.
    void initCheckButtonIsPressedCallback();
    // One tick: closes the last step's window and, while paused, steps.
    void checkPlaybackBtnIsPressed();
    // The step: shows the full-screen panel, and the first held button steps one frame.
    void doForwardAndRewindStepPlayback();
    bool buttonWatchActive() const { return buttonWatch_.isActive(); }

    // Both status views show `image`.
    void showStatus(transport::StatusImage image);
    // The recording played to its end: the progress at 100 (unless it is there already) and
    // the stop images.
    void showEndOfRecording();

    // The volume slider's value, 0 to 1.
    float playbackVolume() const;

    // Where playback stands, as the progress sliders last showed it outside a drag.
    float playingPosition() const { return playingPosition_; }

    static constexpr int kButtonWatchIntervalMs = 100;
    // Stop puts the progress back to 0 this much later (after the engine's last report).
    static constexpr int kProgressResetDelayMs = 250;

  private:
    transport::TransportState currentState() const;
    transport::StatusImage shownImage(const QLabel *view, bool fullScreen) const;
    void showImage(QLabel *view, transport::StatusImage image, bool fullScreen);
    transport::HeldButton heldButton() const;
    void run(const transport::TransportInput &input);
    void apply(const transport::TransportResult &result);
    void showProgress(float percent);
    void trackPlayingPosition(CustomizedProgressSlider *slider);

    transport::TransportTarget &target_;
    TransportViews views_;
    TransportImages images_;
    TransportHooks hooks_;
    QTimer buttonWatch_;
    bool alertShowing_ = false;
    float playingPosition_ = 0.0f;
};
