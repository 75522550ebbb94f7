#include "app/VistrelAppDelegate.h"
#include "app/logic/player_state.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QSlider>

#include <cmath>
#include <new>
#include <unistd.h>

#include "app/ColorSettingPanel.h"
#include "app/ConfigSettingPanel.h"
#include "app/alerts.h"
#include "app/channel_selection_panel.h"
#include "app/controls/AMIndeterminateProgressIndicatorCell.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/controls/OsdTextLayer.h"
#include "app/conversion/avi_conversion.h"
#include "app/conversion/delegate_conversion_host.h"
#include "app/engine_side/engine_side.h"
#include "app/engine_side/engine_transport_target.h"
#include "app/file_intake/file_intake.h"
#include "app/main_window.h"
#include "app/playback/playback_activation.h"
#include "app/transport/transport_controller.h"
#include "app/video_pane/video_pane.h"
#include "audio/audio_stream_processor.h"
#include "avi/ANAVIFrameBuilder.h"
#include "platform/log.h"

namespace {
std::atomic<VistrelAppDelegate *> gAppDelg{nullptr};

} // namespace

// ---- Life -------------------------------------------------------------------------------------

VistrelAppDelegate::VistrelAppDelegate() {
    gAppDelg.store(this);
    setPlayerState(kPlayerStateIdle);
    engineSide_ = std::make_unique<EngineSide>(*this, this);
    videoPaneLayout_ = std::make_unique<VideoPane>(*this);
    fileIntake_ = std::make_unique<FileIntake>(*this);
    playbackActivation_ = std::make_unique<PlaybackActivation>(*this);
    loadInterfaceDocuments();
    initAVIConversion();
    connectActions();
    initTransportControls();
}

void VistrelAppDelegate::loadInterfaceDocuments() {
    window = new MainWindow();
    Ui::MainWindow &ui = window->ui;
    statusPane = ui.statusPane;
    controlPanel = ui.controlPanel;
    fullScreenControlPanel = ui.fullScreenControlPanel;
    aviConvertingIndicator = ui.aviConvertingIndicator;
    osdEnableBtn = ui.osdEnableBtn;
    deinterlaceEnableBtn = ui.deinterlaceEnableBtn;
    snapShotBtn = ui.snapShotBtn;
    flipImageBtn = ui.flipImageBtn;
    fullScreenBtn = ui.fullScreenBtn;
    openFileBtn = ui.openFileBtn;
    configSettingBtn = ui.configSettingBtn;
    aviConversionBtn = ui.aviConversionBtn;
    colorAdjustBtn = ui.colorAdjustBtn;
    playActionBtn = ui.playActionBtn;
    pauseActionBtn = ui.pauseActionBtn;
    prevFileSelectionBtn = ui.prevFileSelectionBtn;
    nextFileSelectionBtn = ui.nextFileSelectionBtn;
    audioChannelSwitchBtn = ui.audioChannelSwitchBtn;
    videoChannelSwitchBtn = ui.videoChannelSwitchBtn;
    serverTimeLabel = ui.serverTimeLabel;
    videoModeLabel = ui.videoModeLabel;
    aviProgressLabel = ui.aviProgressLabel;
    aviFrameRateLabel = ui.aviFrameRateLabel;
    playbackVolumeSlider = ui.playbackVolumeSlider;
    fullScreenPlaybackVolumeSlider = ui.fullScreenPlaybackVolumeSlider;
    playbackProgressSlider = ui.playbackProgressSlider;
    fullScreenPlaybackProgressSlider = ui.fullScreenPlaybackProgressSlider;
    playbackStatusImageView = ui.playbackStatusImageView;
    fullScreenPlaybackStatusImageView = ui.fullScreenPlaybackStatusImageView;
    deinterlaceStatusImageView = ui.deinterlaceStatusImageView;
    fullScreenDeinterlaceStatusImageView = ui.fullScreenDeinterlaceStatusImageView;
    videoPane = ui.videoPane;
    fastRewindBtn = ui.fastRewindBtn;
    fastRewindFullScreenBtn = ui.fastRewindFullScreenBtn;
    fastForwardBtn = ui.fastForwardBtn;
    fastForwardFullScreenBtn = ui.fastForwardFullScreenBtn;

    // The panel belongs to the main window and stays in front of it when shown.
    channelSelectionPanel = new ChannelSelectionPanel(window);
    audioChannelSelectionBtn = channelSelectionPanel->ui.audioChannelSelectionBtn;
    videoChannelSelectionBtn = channelSelectionPanel->ui.videoChannelSelectionBtn;
}

VistrelAppDelegate::~VistrelAppDelegate() {
    // A conversion that runs is finished into a complete file before anything stops.
    if (aviConversion_) aviConversion_->applicationWillTerminate();
    // The engines go first: their threads call back into the delegate, its views and its
    // builder, so every one of them has ended before any of those is released.
    resetPlaybackHandle();
    engineSide_.reset();
    fileIntake_.reset();

    VistrelAppDelegate *self = this;
    gAppDelg.compare_exchange_strong(self, nullptr);

    configSettingPanel.reset();
    colorSettingPanel.reset();
    for (OsdTextLayer *&title : videoViewTitle) {
        delete title;
        title = nullptr;
    }
    for (CustomizedVideoView *&view : videoView) {
        delete view;
        view = nullptr;
    }
    releaseFileWrapper();
    if (playbackActivation_) playbackActivation_->removeAudio();
    audioStreamProcessor.reset();
    snapshotSavedFilePath.clear();
    releaseNSImageIcon();
    releaseFilePathObject();
    aviConversion_.reset();
    // The window takes its views and the channel-selection panel with it.
    delete window;
    window = nullptr;
    channelSelectionPanel = nullptr;
}

VistrelAppDelegate *VistrelAppDelegate::GetAppDelg() {
    return gAppDelg.load();
}

// ---- Requests from the desktop ----------------------------------------------------------------

void VistrelAppDelegate::applicationDidFinishLaunching() {
    initNSImageIcon();
    initMainWindow();
    initChannelSelectionPanel();
    initColorSettingPanel();
    initConfigSettingPanel();
    initFileWrapper();
    initVideoPane();
    initCustomizedProgressSlider();
    initControlPanel();
    initStatusPane();
    initCheckButtonIsPressedCallback();
    insertItemsToAudioChannelSwitchBtn(16, nullptr);
    insertItmesToVideoChannelSwitchBtn(5);
    initAVIConvertingFakeIndicator();
}

bool VistrelAppDelegate::applicationOpenFile(const QString &path) {
    // Queued, so that a request made while launching waits for the finished interface.
    QMetaObject::invokeMethod(
        this,
        [this, path] {
            if (conversionHoldsWindow()) {
                refuseOpenWhileConverting(path);
                return;
            }
            openFileDirectly(path);
        },
        Qt::QueuedConnection);
    makeWindowKeyAndOrderFront();
    return true;
}

bool VistrelAppDelegate::conversionHoldsWindow() const {
    if (!aviConversion_) return false;
    switch (aviConversion_->phase()) {
    case avitarget::ConversionPhase::Preparing:
    case avitarget::ConversionPhase::WaitingForChannel:
    case avitarget::ConversionPhase::Converting:
    case avitarget::ConversionPhase::ShowingResult:
        return true;
    default:
        return false;
    }
}

// Opening a file tears the engines down, which would abandon the conversion's AVI half-written
// and leave the window locked; the conversion goes on and the file is left for later.
void VistrelAppDelegate::refuseOpenWhileConverting(const QString &path) {
    Alert alert;
    alert.messageText = tr("The file was not opened: an AVI conversion is running.");
    alert.informativeText = path;
    alert.buttons = {tr("OK")};
    alert.style = AlertStyle::Warning;
    beginAlertSheet(window, alert);
}

bool VistrelAppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    if (!hasVisibleWindows) makeWindowKeyAndOrderFront();
    return true;
}

void VistrelAppDelegate::makeWindowKeyAndOrderFront() {
    if (!window) return;
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
}

// ---- Operations whose work belongs to the pane grid, the transport controls, the conversion
// ---- flow and file opening; launching calls them in its fixed order.

void VistrelAppDelegate::initVideoPane() {
    videoPaneLayout_->initVideoPane();
}

// The conversion spinner: a spinner cell in the control strip, hidden until a conversion runs.
void VistrelAppDelegate::initAVIConvertingFakeIndicator() {
    if (!aviConvertingIndicator) return;
    auto cell = std::make_unique<AMIndeterminateProgressIndicatorCell>();
    cell->setSpinning(false);
    aviConvertingIndicator->setCell(std::move(cell));
    aviConvertingIndicator->setVisible(false);
    if (aviConversion_) aviConversion_->initAVIConvertingFakeIndicator();
}

void VistrelAppDelegate::initFileWrapper() {
    if (aviConversion_) aviConversion_->initFileWrapper();
}

void VistrelAppDelegate::releaseFileWrapper() {
    if (aviConversion_) aviConversion_->releaseFileWrapper();
}

// ---- Files, activation and the pane: forwards to the feature classes ------------------------

void VistrelAppDelegate::openPlaybackFile() {
    fileIntake_->openPlaybackFile();
}
void VistrelAppDelegate::openFileDirectly(const QString &path) {
    fileIntake_->openFileDirectly(path);
}
void VistrelAppDelegate::recordFileLocationInFolder() {
    fileIntake_->recordFileLocationInFolder();
}
void VistrelAppDelegate::openPreviousFile() {
    fileIntake_->openPreviousFile();
}
void VistrelAppDelegate::openNextFile() {
    fileIntake_->openNextFile();
}

void VistrelAppDelegate::activateFilePlayback() {
    playbackActivation_->activateFilePlayback();
}
void VistrelAppDelegate::resetPlaybackHandle() {
    if (playbackActivation_) playbackActivation_->resetPlaybackHandle();
}
void VistrelAppDelegate::setFilePlaybackStartingUI() {
    playbackActivation_->setFilePlaybackStartingUI();
}
void VistrelAppDelegate::setUIInCaseOfUnsupportedFileForamt() {
    playbackActivation_->setUIInCaseOfUnsupportedFileForamt();
}
void VistrelAppDelegate::createAudio() {
    playbackActivation_->createAudio();
}
void VistrelAppDelegate::removeAudio() {
    playbackActivation_->removeAudio();
}
bool VistrelAppDelegate::checkTotalChannelsAndSetVideoViewCut(int kind) {
    return playbackActivation_->checkTotalChannelsAndSetVideoViewCut(kind);
}
void VistrelAppDelegate::getDV4FileVideoCodec() {
    playbackActivation_->getDV4FileVideoCodec();
}

void VistrelAppDelegate::checkNeedResizeImageViewOrNot() {
    videoPaneLayout_->checkNeedResizeImageViewOrNot();
}
void VistrelAppDelegate::clickVideoChannelSwitchBtn(int index) {
    videoPaneLayout_->clickVideoChannelSwitchBtn(index);
}
void VistrelAppDelegate::showOSD() {
    videoPaneLayout_->showOSD();
}
void VistrelAppDelegate::showAndEnableDeinterlace() {
    videoPaneLayout_->showAndEnableDeinterlace();
}
void VistrelAppDelegate::enterFullScreen() {
    videoPaneLayout_->enterFullScreen();
}
void VistrelAppDelegate::exitFullScreen() {
    videoPaneLayout_->exitFullScreen();
}
QSize VistrelAppDelegate::windowWillResize(const QSize &proposed) {
    return videoPaneLayout_->windowWillResize(proposed);
}
void VistrelAppDelegate::windowDidResize() {
    videoPaneLayout_->windowDidResize();
}
void VistrelAppDelegate::setDVFmtVideoModeString() {
    videoPaneLayout_->setDVFmtVideoModeString();
}
void VistrelAppDelegate::setDV5VideoModeString(uint8_t mode) {
    videoPaneLayout_->setDV5VideoModeString(mode);
}

AVCFormatPlayback *VistrelAppDelegate::handleAVCFmtPlayback() const {
    return engineSide_ ? engineSide_->avc() : nullptr;
}
DVFormatPlayback *VistrelAppDelegate::handleDVFmtPlayback() const {
    return engineSide_ ? engineSide_->dv() : nullptr;
}
bool VistrelAppDelegate::engineFramesFlowing() const {
    return EngineSide::dvFramesFlowing();
}

void VistrelAppDelegate::connectActions() {
    if (!window) return;
    Ui::MainWindow &ui = window->ui;
    connect(ui.openFileBtn, &QPushButton::clicked, this, [this] { openPlaybackFile(); });
    connect(ui.prevFileSelectionBtn, &QPushButton::clicked, this, [this] { openPreviousFile(); });
    connect(ui.nextFileSelectionBtn, &QPushButton::clicked, this, [this] { openNextFile(); });
    // Only the user's choice pages the grid; the probe's own selection does not.
    connect(ui.videoChannelSwitchBtn, &QComboBox::activated, this,
            [this](int index) { clickVideoChannelSwitchBtn(index); });
    connect(ui.osdEnableBtn, &QPushButton::clicked, this, [this] { showOSD(); });
    connect(ui.deinterlaceEnableBtn, &QPushButton::clicked, this, [this] { showAndEnableDeinterlace(); });
    connect(ui.fullScreenBtn, &QPushButton::clicked, this, [this] { enterFullScreen(); });
    connect(ui.exitFullScreenBtn, &QPushButton::clicked, this, [this] { exitFullScreen(); });
}

// ---- What the engines deliver, on the GUI thread ----------------------------------------------

void VistrelAppDelegate::upadatePlaybackServerTime(const QString &time) {
    setDVFmtVideoModeString();
    if (serverTimeLabel) serverTimeLabel->setText(time);
    videoPaneLayout_->setOnScreenServerTime(time);
}

void VistrelAppDelegate::upadatePlaybackServerTimeAndProgressForFileConversion(const QString &time,
                                                                               float progress) {
    setDVFmtVideoModeString();
    if (aviConversion_) aviConversion_->upadatePlaybackServerTimeAndProgressForFileConversion(time, progress);
}

void VistrelAppDelegate::upadatePlaybackProgress(float percent) {
    // A progress that is not a number shows as 0.
    const float value = std::isfinite(percent) ? percent : 0.0f;
    // A slider the user is dragging stays under the mouse: the seek its release asks for decides.
    for (CustomizedProgressSlider *slider : {playbackProgressSlider, fullScreenPlaybackProgressSlider})
        if (slider && !slider->isSliderDown()) slider->setFloatValue(value);
    videoPaneLayout_->setOnScreenPercentage(QString::asprintf("%i%%", static_cast<int>(value)));
}

void VistrelAppDelegate::setDevChannelTitle(const char *titles) {
    engineSide_->setDevChannelTitle(titles);
}

void VistrelAppDelegate::applyDevChannelTitles(const std::array<std::optional<QString>, 16> &titles) {
    videoPaneLayout_->setChannelTitles(titles);
}

bool VistrelAppDelegate::checkNeedDecodeForMultiCHs(uint8_t channel) {
    return engineSide_->checkNeedDecodeForMultiCHs(channel);
}

void VistrelAppDelegate::showStopStatusImages() {
    if (playbackStatusImageView) playbackStatusImageView->setPixmap(stopStatusImg);
    if (fullScreenPlaybackStatusImageView)
        fullScreenPlaybackStatusImageView->setPixmap(stopStatusImgInFullScreen);
}

float VistrelAppDelegate::playbackVolume() const {
    if (!playbackVolumeSlider) return 0.5f;
    const int span = playbackVolumeSlider->maximum() - playbackVolumeSlider->minimum();
    if (span <= 0) return 0.5f;
    return static_cast<float>(playbackVolumeSlider->value() - playbackVolumeSlider->minimum()) / span;
}

GridStartIndexes VistrelAppDelegate::gridStartIndexes() const {
    GridStartIndexes starts;
    starts.grid4 = grid4StartIndex();
    starts.grid6 = grid6StartIndex();
    starts.grid9 = grid9StartIndex();
    starts.grid12 = grid12StartIndex();
    return starts;
}

void VistrelAppDelegate::setGridStartIndexes(const GridStartIndexes &starts) {
    setGrid4StartIndex(starts.grid4);
    setGrid6StartIndex(starts.grid6);
    setGrid9StartIndex(starts.grid9);
    setGrid12StartIndex(starts.grid12);
}

// ---- State shared with the engines ------------------------------------------------------------

std::string VistrelAppDelegate::absoluteFilePath() {
    std::lock_guard<std::mutex> lock(absoluteFilePathMutex_);
    return QFile::encodeName(absoluteFilePath_).toStdString();
}

QString VistrelAppDelegate::absoluteFilePathString() const {
    std::lock_guard<std::mutex> lock(absoluteFilePathMutex_);
    return absoluteFilePath_;
}

void VistrelAppDelegate::setAbsoluteFilePath(const QString &path) {
    std::lock_guard<std::mutex> lock(absoluteFilePathMutex_);
    absoluteFilePath_ = path;
}

void VistrelAppDelegate::setSys_Time(const _SYSTEMTIME &sysTime) {
    std::lock_guard<std::mutex> lock(sysTimeMutex_);
    sys_Time_ = sysTime;
}

_SYSTEMTIME VistrelAppDelegate::sys_Time() const {
    std::lock_guard<std::mutex> lock(sysTimeMutex_);
    return sys_Time_;
}

void VistrelAppDelegate::setDeinterlaceEnableBtnEnabled(bool enabled) {
    engineSide_->setDeinterlaceEnableBtnEnabled(enabled);
}

void VistrelAppDelegate::setServerTimeLabelText(const std::string &text) {
    engineSide_->setServerTimeLabelText(text);
}
