// The transport controller against a fake target: a refused seek, the held-button steps of the
// button watch, the unsupported-action sheet, the alert adapter over a real message box, the
// delegate's controls with no file open, and an AVC engine under the controls.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <memory>

#include "app/VistrelAppDelegate.h"
#include "app/alerts.h"
#include "app/controls/CustomizedButton.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/engine_side/engine_transport_target.h"
#include "app/main_window.h"
#include "app/transport/transport_controller.h"
#include "common/mkrec_fixture.h"
#include "engines/avc_format_playback.h"
#include "engines/engine_controls.h"
#include "qt_test_app.h"
#include "recorderfile/avc_parse.h"

using namespace transport;

namespace {

using Img = StatusImage;

// Keeps a state that the commands change, and records everything it is asked.
class FakeTarget : public TransportTarget {
  public:
    TransportState state;
    std::vector<TransportCommand> commands;
    bool acceptSeeks = true;

    TransportState transportState() const override { return state; }
    bool apply(const TransportCommand &c) override {
        commands.push_back(c);
        switch (c.command) {
        case Command::SetPlaying:
            state.playing = c.value;
            break;
        case Command::SetPaused:
            state.paused = c.value;
            break;
        case Command::SetSpeed:
            state.speed = c.value;
            break;
        case Command::SetAVCStatus:
            state.avcStatus = c.value;
            break;
        case Command::AVCSeek:
            return acceptSeeks;
        default:
            break;
        }
        return true;
    }
    void selectAudioChannel(int) override {}
    void setAudioVolume(float) override {}
    void setFlipImage(bool) override {}

    int count(Command command, int value) const {
        return static_cast<int>(
            std::count(commands.begin(), commands.end(), TransportCommand{command, value}));
    }
};

// Answers nothing until told to; counts what it was shown.
class RecordingPresenter : public AlertPresenter {
  public:
    std::vector<Alert> shown;
    AlertCompletion pending;
    void present(QWidget *, const Alert &alert, AlertCompletion completion) override {
        shown.push_back(alert);
        pending = std::move(completion);
    }
};

class TransportControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testApp();
        window = std::make_unique<QWidget>();
        views.playbackStatusImageView = new QLabel(window.get());
        views.fullScreenPlaybackStatusImageView = new QLabel(window.get());
        views.fastRewindBtn = new CustomizedButton1(window.get());
        views.fastRewindFullScreenBtn = new CustomizedButton1(window.get());
        views.fastForwardBtn = new CustomizedButton2(window.get());
        views.fastForwardFullScreenBtn = new CustomizedButton2(window.get());
        views.playbackProgressSlider = new CustomizedProgressSlider(window.get());
        views.fullScreenPlaybackProgressSlider = new CustomizedProgressSlider(window.get());
        views.window = window.get();
        // Twelve pictures of each kind, all of one look: only their identity tells them apart.
        pixmaps.resize(2 * kStatusImageCount);
        for (int i = 1; i < kStatusImageCount; ++i) {
            pixmaps[i] = QPixmap(8, 8);
            pixmaps[i].fill(Qt::gray);
            pixmaps[kStatusImageCount + i] = QPixmap(8, 8);
            pixmaps[kStatusImageCount + i].fill(Qt::gray);
            images.window[i] = &pixmaps[i];
            images.fullScreen[i] = &pixmaps[kStatusImageCount + i];
        }
        TransportHooks hooks;
        hooks.showFullScreenControlPanel = [this] { ++panelRequests; };
        controller = std::make_unique<TransportController>(target, views, images, hooks);
        previousPresenter = setAlertPresenter(&presenter);
    }
    void TearDown() override {
        setAlertPresenter(previousPresenter);
        controller.reset();
        window.reset();
    }

    void startWith(FileKind file, Img shown) {
        target.state = TransportState{};
        target.state.file = file;
        target.state.playerState = kPlayerPlaying;
        target.state.playing = true;
        show(shown, shown);
    }
    void show(Img window, Img full) {
        views.playbackStatusImageView->setPixmap(*images.window[static_cast<int>(window)]);
        views.fullScreenPlaybackStatusImageView->setPixmap(*images.fullScreen[static_cast<int>(full)]);
    }
    // Serves events until the button watch has ticked `n` more times: every tick closes the step
    // window, whatever else it does.
    bool passTicks(int n) {
        const int closed = target.count(Command::SetForwardAtPause, 0) + n;
        return serveEventsUntil([&] { return target.count(Command::SetForwardAtPause, 0) >= closed; }, 10000);
    }
    bool shows(QLabel *view, const QPixmap *image) { return view->pixmap().cacheKey() == image->cacheKey(); }
    bool windowShows(Img image) {
        return shows(views.playbackStatusImageView, images.window[static_cast<int>(image)]);
    }

    std::unique_ptr<QWidget> window;
    TransportViews views;
    TransportImages images;
    std::vector<QPixmap> pixmaps;
    FakeTarget target;
    RecordingPresenter presenter;
    AlertPresenter *previousPresenter = nullptr;
    int panelRequests = 0;
    std::unique_ptr<TransportController> controller;
};

// A seek the engine refuses leaves everything as it was and puts both sliders back where
// playback is; an accepted one plays a stopped file.
TEST_F(TransportControllerTest, RefusedSeekPutsTheSliderBack) {
    startWith(FileKind::AVC, Img::Stop);
    target.state.avcStatus = kAVCStop;
    views.playbackProgressSlider->setFloatValue(37.0f); // playback reports 37 %
    EXPECT_FLOAT_EQ(controller->playingPosition(), 37.0f);

    // The user drags to 80 % while the index is still being built.
    views.playbackProgressSlider->setSliderDown(true);
    views.playbackProgressSlider->setFloatValue(80.0f);
    views.playbackProgressSlider->setSliderDown(false);
    target.acceptSeeks = false;
    controller->progressSliderValueChanged(80);
    EXPECT_EQ(target.commands, (std::vector<TransportCommand>{{Command::AVCSeek, 80}}));
    EXPECT_FLOAT_EQ(views.playbackProgressSlider->floatValue(), 37.0f);
    EXPECT_FLOAT_EQ(views.fullScreenPlaybackProgressSlider->floatValue(), 37.0f);
    EXPECT_TRUE(windowShows(Img::Stop));
    EXPECT_EQ(target.state.avcStatus, kAVCStop);

    target.acceptSeeks = true;
    target.commands.clear();
    controller->progressSliderValueChanged(80);
    EXPECT_EQ(target.count(Command::AVCAction, kAVCPlay), 1);
    EXPECT_TRUE(target.state.playing);
    EXPECT_TRUE(windowShows(Img::Play));
}

// The button watch: while paused, each tick with a forward button held steps one frame; with
// the button let go the steps stop; a stopped file is never stepped.
TEST_F(TransportControllerTest, HoldingForwardWhilePausedStepsEveryTick) {
    startWith(FileKind::AVC, Img::Pause);
    target.state.paused = true;
    target.state.playing = false;
    target.state.avcStatus = kAVCPause;
    controller->initCheckButtonIsPressedCallback();
    EXPECT_TRUE(controller->buttonWatchActive());

    views.fastForwardFullScreenBtn->setBtnPressed(1);
    ASSERT_TRUE(
        serveEventsUntil([&] { return target.count(Command::AVCAction, kAVCStepForward) >= 3; }, 3000));
    EXPECT_GE(panelRequests, 3);
    views.fastForwardFullScreenBtn->setBtnPressed(0);
    const int steps = target.count(Command::AVCAction, kAVCStepForward);
    ASSERT_TRUE(passTicks(3));
    EXPECT_EQ(target.count(Command::AVCAction, kAVCStepForward), steps);
    // Every tick closed the step window, including those with nothing held.
    EXPECT_GE(target.count(Command::SetForwardAtPause, 0), steps + 3);
    EXPECT_TRUE(windowShows(Img::Pause)) << "a step changes no picture";

    // Rewind held steps back; after Stop, holding it does nothing.
    views.fastRewindBtn->setBtnPressed(1);
    ASSERT_TRUE(serveEventsUntil([&] { return target.count(Command::AVCAction, kAVCStepBack) >= 2; }, 3000));
    controller->stopAction();
    target.commands.clear();
    ASSERT_TRUE(passTicks(3));
    EXPECT_EQ(target.count(Command::AVCAction, kAVCStepBack), 0);
    EXPECT_EQ(target.count(Command::AVCAction, kAVCRewind1x), 0);
    EXPECT_TRUE(windowShows(Img::Stop));
    views.fastRewindBtn->setBtnPressed(0);
}

// Fast rewind of a DV file: the sheet and nothing else; one sheet at a time, even with the
// rewind button held on a paused file.
TEST_F(TransportControllerTest, DVRewindShowsTheUnsupportedSheetOnly) {
    startWith(FileKind::DV, Img::Play);
    controller->fastRewindAction();
    controller->fastRewindAction();
    serveEvents();
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].messageText, QStringLiteral("Action Unsupported"));
    EXPECT_EQ(presenter.shown[0].informativeText,
              QStringLiteral("DV4/DV5 file playback doesn't support fast rewind action."));
    EXPECT_EQ(presenter.shown[0].buttons, QStringList{QStringLiteral("OK")});
    EXPECT_TRUE(target.commands.empty());
    EXPECT_TRUE(windowShows(Img::Play));

    presenter.pending(kAlertFirstButtonReturn);
    target.state.paused = true;
    views.fastRewindBtn->setBtnPressed(1);
    controller->initCheckButtonIsPressedCallback();
    ASSERT_TRUE(serveEventsUntil([&] { return presenter.shown.size() == 2; }, 2000));
    // The sheet ended the press: no request piles up behind it.
    EXPECT_EQ(views.fastRewindBtn->btnPressed(), 0);
    ASSERT_TRUE(passTicks(3));
    EXPECT_EQ(presenter.shown.size(), 2u);
}

// The message box behind the alert adapter: a sheet on its window; the code of each button.
TEST(Alerts, MessageBoxSheetAnswersWithTheButtonsPlace) {
    testApp();
    QWidget window;
    window.show();
    for (int chosen = 0; chosen < 3; ++chosen) {
        SCOPED_TRACE(chosen);
        int answer = 0;
        Alert alert;
        alert.messageText = QStringLiteral("Message");
        alert.informativeText = QStringLiteral("Details");
        alert.buttons = QStringList{QStringLiteral("One"), QStringLiteral("Two"), QStringLiteral("Three")};
        beginAlertSheet(&window, alert, [&](int code) { answer = code; });
        QMessageBox *box = window.findChild<QMessageBox *>();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowModality(), Qt::WindowModal);
        EXPECT_EQ(box->text(), QStringLiteral("Message"));
        EXPECT_EQ(box->informativeText(), QStringLiteral("Details"));
        QAbstractButton *button = nullptr;
        for (QAbstractButton *b : box->buttons())
            if (b->text() == alert.buttons[chosen]) button = b;
        ASSERT_NE(button, nullptr);
        button->click();
        EXPECT_EQ(answer, kAlertFirstButtonReturn + chosen);
        ASSERT_TRUE(serveEventsUntil([&] { return window.findChild<QMessageBox *>() == nullptr; }, 2000));
    }
}

// With no file open, every transport control of the delegate changes nothing and the seek
// puts the slider back.
TEST(TransportNoFile, DelegateControlsChangeNothing) {
    testApp();
    dvFmtResetControlFlags();
    VistrelAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    Ui::MainWindow &ui = delegate.window()->ui;
    QPushButton *buttons[] = {ui.playActionBtn,      ui.pauseActionBtn,   ui.stopBtn,
                              ui.fastForwardBtn,     ui.fastRewindBtn,    ui.fullScreenPlayBtn,
                              ui.fullScreenPauseBtn, ui.fullScreenStopBtn};
    for (QPushButton *button : buttons)
        button->click();
    CustomizedProgressSlider *progress = delegate.window()->ui.playbackProgressSlider;
    progress->setSliderDown(true);
    progress->setFloatValue(60.0f);
    // The engine's progress moves the other slider, not the one under the mouse.
    delegate.upadatePlaybackProgress(12.0f);
    EXPECT_EQ(progress->floatValue(), 60.0f);
    EXPECT_EQ(delegate.window()->ui.fullScreenPlaybackProgressSlider->floatValue(), 12.0f);
    progress->setSliderDown(false); // the seek
    serveEvents();
    EXPECT_EQ(progress->floatValue(), 12.0f) << "back where playback is";
    EXPECT_FALSE(delegate.isPlaybackNow());
    EXPECT_EQ(gDVFmtPlaybackIsPauseNow.load(), 0);
    EXPECT_EQ(gDVFmtPlaybackSliderValueChanged.load(), 0);
    EXPECT_EQ(gDVFmtPlaybackSpeed.load(), 0);
    EXPECT_EQ(delegate.window()->ui.playbackStatusImageView->pixmap().cacheKey(),
              delegate.statusImages().image(transport::StatusImage::Stop).cacheKey());
    EXPECT_EQ(delegate.window()->findChild<QMessageBox *>(), nullptr);

    // Flip and volume work without a file.
    ui.flipImageBtn->click();
    EXPECT_TRUE(delegate.videoFlipImageFlag());
    delegate.window()->ui.playbackVolumeSlider->setValue(80);
    EXPECT_EQ(delegate.window()->ui.fullScreenPlaybackVolumeSlider->value(), 80);
    EXPECT_FLOAT_EQ(delegate.audioSliderValueForBinding(), 0.8f);
    delegate.window()->ui.audioChannelSwitchBtn->setCurrentIndex(4);
    emit delegate.window()->ui.audioChannelSwitchBtn->activated(4);
    EXPECT_EQ(delegate.iCurrentSelectedAudioCH(), 5);
}

// A real AVC engine under the controls. Nothing is decoded here (no pane asks for a channel), so
// the file runs to its end at once: there pause and fast forward change nothing, a seek plays it
// again, Stop shows stop; once the engine is torn down nothing is steered.
TEST(EngineTransportTarget, SteersAnAVCEngineAtItsEnd) {
    testApp();
    dvFmtResetControlFlags();
    mkrec::TempDir dir;
    const mkrec::Recording rec = mkrec::make(dir, "clip.avc", {"--kind", "avc", "--duration", "6"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    VistrelAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    AVCFormatPlayback *avc = delegate.handleAVCFmtPlayback();
    delegate.setPlayerState(kPlayerPlaying);
    delegate.setIsAVCPlaybackFlag(true);
    delegate.setEnAVCFmtPlaybackStatus(kAVCPlay);
    ASSERT_TRUE(avc->createAVCFmtVideoPlaybackThread());
    ASSERT_TRUE(avc->createAVCFmtAudioPlaybackThread());
    ASSERT_NE(avc->openAVCFileAndStartParser(rec.path), 0);
    delegate.setPlaybackIsActivated(true);
    delegate.setIsPlaybackNow(true);
    ASSERT_EQ(delegate.transportTarget()->runningFile(), FileKind::AVC);
    ASSERT_TRUE(serveEventsUntil(
        [&] {
            return delegate.playbackTriState() == kTriStateAtEnd &&
                   delegate.enAVCFmtPlaybackStatus() == kAVCStop;
        },
        5000));
    serveEvents();

    delegate.pauseAction();
    delegate.fastForwardAction();
    delegate.fastRewindAction();
    EXPECT_EQ(delegate.enAVCFmtPlaybackStatus(), kAVCStop);
    EXPECT_EQ(gDVFmtPlaybackIsPauseNow.load(), 0);
    EXPECT_EQ(gDVFmtPlaybackSpeed.load(), 0);
    EXPECT_EQ(delegate.window()->ui.playbackStatusImageView->pixmap().cacheKey(),
              delegate.statusImages().image(transport::StatusImage::Stop).cacheKey());

    const long passes = avc_parse_passes(avc->fdAVCFile());
    delegate.progressSliderValueChanged(50);
    EXPECT_TRUE(delegate.isPlaybackNow());
    EXPECT_EQ(delegate.window()->ui.playbackStatusImageView->pixmap().cacheKey(),
              delegate.statusImages().image(transport::StatusImage::Play).cacheKey());
    EXPECT_TRUE(serveEventsUntil([&] { return avc_parse_passes(avc->fdAVCFile()) > passes; }, 3000))
        << "the reader runs again";

    delegate.stopAction();
    EXPECT_EQ(delegate.enAVCFmtPlaybackStatus(), kAVCStop);
    EXPECT_FALSE(delegate.isPlaybackNow());
    EXPECT_EQ(delegate.window()->ui.fullScreenPlaybackStatusImageView->pixmap().cacheKey(),
              delegate.statusImages().image(transport::StatusImage::Stop, true).cacheKey());

    delegate.resetPlaybackHandle();
    EXPECT_EQ(delegate.transportTarget()->runningFile(), FileKind::None);
    delegate.playAction();
    EXPECT_EQ(delegate.enAVCFmtPlaybackStatus(), kAVCStop) << "nothing steered after the teardown";
    EXPECT_FALSE(delegate.isPlaybackNow());
    dvFmtResetControlFlags();
}

} // namespace
