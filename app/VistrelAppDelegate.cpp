#include "app/VistrelAppDelegate.h"

#include <QComboBox>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QSlider>

#include <cmath>

#include "app/ColorSettingPanel.h"
#include "app/ConfigSettingPanel.h"
#include "app/channel_selection_panel.h"
#include "app/controls/AMIndeterminateProgressIndicatorCell.h"
#include "app/controls/CustomizedButton.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/controls/LayerView.h"
#include "app/controls/OsdTextLayer.h"
#include "app/conversion/conversion_host.h"
#include "app/image_named.h"
#include "app/main_window.h"
#include "app/panel_fold.h"

namespace {
std::atomic<VistrelAppDelegate *> gAppDelg{nullptr};
} // namespace

// ---- Life -------------------------------------------------------------------------------------

VistrelAppDelegate::VistrelAppDelegate() {
    gAppDelg.store(this);
    engineSide_ = std::make_unique<EngineSide>(*this, this);
    loadInterfaceDocuments();
    createFeatures();
    initAVIConversion();
    connectActions();
    initTransportControls();
}

void VistrelAppDelegate::loadInterfaceDocuments() {
    window_ = new MainWindow();
    // The panel belongs to the main window and stays in front of it when shown.
    channelSelectionPanel_ = new ChannelSelectionPanel(window_);
}

void VistrelAppDelegate::createFeatures() {
    Ui::MainWindow &ui = window_->ui;
    ActivationViews a;
    a.window = window_;
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
    a.images = &statusImages_;
    playbackActivation_ = std::make_unique<PlaybackActivation>(a, shared(), *engineSide_, *this, this);

    VideoPaneViews v;
    v.videoPane = ui.videoPane;
    v.osdEnableBtn = ui.osdEnableBtn;
    v.deinterlaceEnableBtn = ui.deinterlaceEnableBtn;
    v.snapShotBtn = ui.snapShotBtn;
    v.videoModeLabel = ui.videoModeLabel;
    v.deinterlaceStatusImageView = ui.deinterlaceStatusImageView;
    v.fullScreenDeinterlaceStatusImageView = ui.fullScreenDeinterlaceStatusImageView;
    v.fullScreenControlPanel = ui.fullScreenControlPanel;
    v.window = window_;
    v.statusRow = ui.statusRow;
    v.controlRow = ui.controlRow;
    videoPaneLayout_ = std::make_unique<VideoPane>(v, openFile(), shared(), *this);
    fileIntake_ = std::make_unique<FileIntake>(window_, openFile(), *this);
    snapshots_ = std::make_unique<Snapshots>(openFile(), configSettingPanel_);
    tileColour_ = std::make_unique<TileColour>(openFile(), shared(), colorSettingPanel_);
}

VistrelAppDelegate::~VistrelAppDelegate() {
    // A conversion that runs is finished into a complete file before anything stops.
    if (aviConversion_) aviConversion_->applicationWillTerminate();
    // The engines' threads go first: they call back into the features, their views and the
    // conversion's builder, so every one of them has ended before any of those is released.
    resetPlaybackHandle();
    engineSide_->setConversionSink(nullptr);
    VistrelAppDelegate *self = this;
    gAppDelg.compare_exchange_strong(self, nullptr);

    fileIntake_.reset();
    transport_.reset();
    transportTarget_.reset();
    configSettingPanel_.reset();
    colorSettingPanel_.reset();
    releaseFileWrapper();
    releaseNSImageIcon();
    releaseFilePathObject();
    aviConversion_.reset();
    conversionHost_.reset();
    tileColour_.reset();
    snapshots_.reset();
    videoPaneLayout_.reset();
    playbackActivation_.reset();
    // Nothing runs in the engines any more; they and the audio channels go now.
    engineSide_.reset();
    // The window takes its views and the channel-selection panel with it.
    delete window_;
    window_ = nullptr;
    channelSelectionPanel_ = nullptr;
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
        this, [this, path] { openFileDirectly(path); }, Qt::QueuedConnection);
    makeWindowKeyAndOrderFront();
    return true;
}

bool VistrelAppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    if (!hasVisibleWindows) makeWindowKeyAndOrderFront();
    return true;
}

void VistrelAppDelegate::makeWindowKeyAndOrderFront() {
    if (!window_) return;
    if (window_->isMinimized())
        window_->showNormal();
    else
        window_->show();
    window_->raise();
    window_->activateWindow();
}

// ---- Building the interface -------------------------------------------------------------------

void VistrelAppDelegate::initMainWindow() {
    // Every widget paints itself into the window's backing store; there is no separate
    // drawing mode or layer backing to turn on.
    window_->setContentBorderThickness(17.0, Qt::BottomEdge);
    window_->setDelegate(this);
    connect(window_, &MainWindow::resized, this, [this] { windowDidResize(); });
    // The window grows to show video once a file opens.
    window_->resize(kLaunchWindowWidth, kLaunchWindowHeight);
}

void VistrelAppDelegate::initChannelSelectionPanel() {
    channelSelectionPanel_->setContentBorderThickness(23.0, Qt::BottomEdge);
}

void VistrelAppDelegate::initColorSettingPanel() {
    colorSettingPanel_ = std::make_unique<ColorSettingPanel>(window_);
    colorSettingPanel_->backgroundView()->setContents(imageNamed("background.png").toImage());
    colorSettingPanel_->setColorBrightnessValue(0.0f);
    colorSettingPanel_->setColorSaturationValue(1.0f);
    colorSettingPanel_->setColorContrastValue(1.0f);
    // Moving a control while nothing plays adjusts the shown pictures again.
    connect(colorSettingPanel_.get(), &ColorSettingPanel::colourValuesChanged, this,
            [this] { windowDidUpdate(); });
    connect(window_->ui.colorAdjustBtn, &QPushButton::clicked, this, [this] { showColorSettingPanel(); });
    connect(window_->ui.snapShotBtn, &QPushButton::clicked, this, [this] { snapshotAction(); });
}

void VistrelAppDelegate::initConfigSettingPanel() {
    configSettingPanel_ = std::make_unique<ConfigSettingPanel>(window_);
    connect(window_->ui.configSettingBtn, &QPushButton::clicked, this, [this] { showConfigSettingPanel(); });
}

void VistrelAppDelegate::initVideoPane() {
    VideoPane &pane = *videoPaneLayout_;
    pane.initVideoPane();
    tileColour_->setTiles(pane.videoView());
    // The colour panel recolours the titles and the on-screen texts.
    if (!colorSettingPanel_) return;
    for (int i = 0; i < static_cast<int>(pane.videoViewTitle().size()); ++i)
        colorSettingPanel_->deliverVideoViewTitle(pane.videoViewTitle()[static_cast<size_t>(i)], i);
    colorSettingPanel_->deliverOnScreenTexts(pane.osdServerTime(), pane.osdVideoMode(), pane.osdPercentage());
}

void VistrelAppDelegate::initCustomizedProgressSlider() {
    window_->initCustomizedProgressSlider();
}

void VistrelAppDelegate::initControlPanel() {
    window_->initControlPanel();
    audioSliderChanged(0.5f);
    snapshots_->setSnapshotSavedFilePath(QStringLiteral(""));
}

void VistrelAppDelegate::initStatusPane() {
    using transport::StatusImage;
    window_->initStatusPane(statusImages_.image(StatusImage::Stop),
                            statusImages_.image(StatusImage::Stop, true));
}

void VistrelAppDelegate::insertItemsToAudioChannelSwitchBtn(int count, const uint8_t *list) {
    window_->insertItemsToAudioChannelSwitchBtn(count, list);
}

void VistrelAppDelegate::insertItmesToVideoChannelSwitchBtn(int count) {
    window_->insertItmesToVideoChannelSwitchBtn(count);
}

// The conversion spinner: a spinner cell in the control strip, hidden until a conversion runs.
void VistrelAppDelegate::initAVIConvertingFakeIndicator() {
    ProgressIndicatorControl *indicator = window_->ui.aviConvertingIndicator;
    auto cell = std::make_unique<AMIndeterminateProgressIndicatorCell>();
    cell->setSpinning(false);
    indicator->setCell(std::move(cell));
    indicator->setVisible(false);
    aviConversion_->initAVIConvertingFakeIndicator();
}

void VistrelAppDelegate::connectActions() {
    Ui::MainWindow &ui = window_->ui;
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

// ---- Activation, the engines' deliveries ------------------------------------------------------

void VistrelAppDelegate::resetPlaybackHandle() {
    if (playbackActivation_) playbackActivation_->resetPlaybackHandle();
}

bool VistrelAppDelegate::checkTotalChannelsAndSetVideoViewCut(int kind) {
    return playbackActivation_->checkTotalChannelsAndSetVideoViewCut(kind);
}

void VistrelAppDelegate::releaseFileWrapper() {
    if (aviConversion_) aviConversion_->releaseFileWrapper();
}

void VistrelAppDelegate::upadatePlaybackServerTime(const QString &time) {
    setDVFmtVideoModeString();
    window_->ui.serverTimeLabel->setText(time);
    videoPaneLayout_->setOnScreenServerTime(time);
}

void VistrelAppDelegate::upadatePlaybackServerTimeAndProgressForFileConversion(const QString &time,
                                                                               float progress) {
    setDVFmtVideoModeString();
    aviConversion_->upadatePlaybackServerTimeAndProgressForFileConversion(time, progress);
}

void VistrelAppDelegate::upadatePlaybackProgress(float percent) {
    // A progress that is not a number shows as 0.
    const float value = std::isfinite(percent) ? percent : 0.0f;
    // A slider the user is dragging stays under the mouse: the seek its release asks for decides.
    for (CustomizedProgressSlider *slider :
         {window_->ui.playbackProgressSlider, window_->ui.fullScreenPlaybackProgressSlider})
        if (slider && !slider->isSliderDown()) slider->setFloatValue(value);
    videoPaneLayout_->setOnScreenPercentage(QString::asprintf("%i%%", static_cast<int>(value)));
}

void VistrelAppDelegate::showServerTimeLabelText(const QString &text) {
    window_->ui.serverTimeLabel->setText(text);
}

void VistrelAppDelegate::enableDeinterlaceButton(bool enabled) {
    window_->ui.deinterlaceEnableBtn->setEnabled(enabled);
}

float VistrelAppDelegate::playbackVolume() {
    const QSlider *volume = window_->ui.playbackVolumeSlider;
    const int span = volume->maximum() - volume->minimum();
    if (span <= 0) return 0.5f;
    return static_cast<float>(volume->value() - volume->minimum()) / span;
}

// ---- Transport, conversion and the settings panel ---------------------------------------------

void VistrelAppDelegate::initTransportControls() {
    Ui::MainWindow &ui = window_->ui;
    transportTarget_ = std::make_unique<EngineTransportTarget>(*engineSide_, openFile());
    transportTarget_->setFinishConversion([this] { finishAVIConversionTask(); });
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
    views.window = window_;
    TransportHooks hooks;
    hooks.upadatePlaybackProgress = [this](float percent) { upadatePlaybackProgress(percent); };
    hooks.showFullScreenControlPanel = [this] { videoPaneLayout_->showFullScreenControlPanel(); };
    transport_ =
        std::make_unique<TransportController>(*transportTarget_, views, statusImages_.pointers(), hooks);
    transport_->connectControls({ui.playActionBtn, ui.fullScreenPlayBtn},
                                {ui.pauseActionBtn, ui.fullScreenPauseBtn},
                                {ui.stopBtn, ui.fullScreenStopBtn}, ui.flipImageBtn);
}

void VistrelAppDelegate::initAVIConversion() {
    Ui::MainWindow &ui = window_->ui;
    conversionHost_ = std::make_unique<PlayerConversionHost>(
        playbackActivation_->views(), *playbackActivation_, *videoPaneLayout_, *engineSide_, *this,
        colorSettingPanel_, configSettingPanel_);
    ConversionWidgets w;
    w.window = window_;
    w.lockedButtons = {
        ui.audioChannelSwitchBtn, ui.videoChannelSwitchBtn, ui.osdEnableBtn,         ui.flipImageBtn,
        ui.fullScreenBtn,         ui.openFileBtn,           ui.configSettingBtn,     ui.aviConversionBtn,
        ui.snapShotBtn,           ui.colorAdjustBtn,        ui.playActionBtn,        ui.pauseActionBtn,
        ui.fastRewindBtn,         ui.fastForwardBtn,        ui.prevFileSelectionBtn, ui.nextFileSelectionBtn};
    w.deinterlaceEnableBtn = ui.deinterlaceEnableBtn;
    w.aviProgressLabel = ui.aviProgressLabel;
    w.aviFrameRateLabel = ui.aviFrameRateLabel;
    w.serverTimeLabel = ui.serverTimeLabel;
    w.videoModeLabel = ui.videoModeLabel;
    w.playbackStatusImageView = ui.playbackStatusImageView;
    w.aviConvertStatusImg = &statusImages_.aviConvert;
    w.stopStatusImg = &statusImages_.image(transport::StatusImage::Stop);
    w.aviConvertingIndicator = ui.aviConvertingIndicator;
    w.channelSelectionPanel = channelSelectionPanel_;
    w.playbackProgressSlider = ui.playbackProgressSlider;
    aviConversion_ = std::make_unique<AVIConversion>(conversionHost_.get(), w);
    conversionHost_->setConversion(aviConversion_.get());
    engineSide_->setConversionSink(aviConversion_.get());
    connect(ui.aviConversionBtn, &QPushButton::clicked, this, [this] { openPlaybackFileAndConvertToAVI(); });
}

void VistrelAppDelegate::setAVIBuilderVideoFormat(int vdoFmtIdx) {
    aviConversion_->setBuilderVideoFormat(vdoFmtIdx);
}

void VistrelAppDelegate::showConfigSettingPanel() {
    if (configSettingPanel_) unfoldPanel(configSettingPanel_.get(), window_);
}

void VistrelAppDelegate::showColorSettingPanel() {
    tileColour_->showColorSettingPanel(window_);
}
