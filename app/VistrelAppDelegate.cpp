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
VistrelAppDelegate *gAppDelg = nullptr;
} // namespace

VistrelAppDelegate::VistrelAppDelegate() {
    gAppDelg = this;
    engineSide_ = std::make_unique<EngineSide>(*this, this);
    window_ = std::make_unique<MainWindow>();
    // The panel belongs to the main window and stays in front of it when shown.
    channelSelectionPanel_ = new ChannelSelectionPanel(window_.get());
    createFeatures();
    initAVIConversion();
    connectActions();
    initTransportControls();
}

void VistrelAppDelegate::createFeatures() {
    playbackActivation_ = std::make_unique<PlaybackActivation>(activationViewsOf(*window(), statusImages_),
                                                               shared(), *engineSide_, *this, this);

    videoPaneLayout_ = std::make_unique<VideoPane>(videoPaneViewsOf(*window()), openFile(), shared(), *this);
    fileIntake_ = std::make_unique<FileIntake>(window(), openFile(), *this);
    snapshots_ = std::make_unique<Snapshots>(openFile(), configSettingPanel_,
                                             [this] { return engineSide_->picturesHeld(); });
    tileColour_ = std::make_unique<TileColour>(openFile(), shared(), colorSettingPanel_);
}

// The members go in the reverse of their order: the features before the engine side, the
// window with its views last.
VistrelAppDelegate::~VistrelAppDelegate() {
    // A conversion that runs is finished into a complete file before anything stops.
    aviConversion_->applicationWillTerminate();
    // The engines' threads go first: they call back into the features, their views and the
    // conversion's builder, so every one of them has ended before any of those is released.
    resetPlaybackHandle();
    engineSide_->setConversionSink(nullptr);
    if (gAppDelg == this) gAppDelg = nullptr;
    releaseFileWrapper();
}

VistrelAppDelegate *VistrelAppDelegate::GetAppDelg() {
    return gAppDelg;
}

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
            if (!aviConversion_->holdsWindow())
                openFileDirectly(path);
            else if (!aviConversion_->deferOpenUntilResultAnswered(path))
                aviConversion_->refuseOpenWhileConverting(path);
        },
        Qt::QueuedConnection);
    makeWindowKeyAndOrderFront();
    return true;
}

bool VistrelAppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    if (!hasVisibleWindows) makeWindowKeyAndOrderFront();
    return true;
}

void VistrelAppDelegate::makeWindowKeyAndOrderFront() {
    if (!window_) return;
    if (window()->isMinimized())
        window()->showNormal();
    else
        window()->show();
    window()->raise();
    window()->activateWindow();
}

void VistrelAppDelegate::initMainWindow() {
    // Every widget paints itself into the window's backing store; there is no separate
    // drawing mode or layer backing to turn on.
    window()->setContentBorderThickness(17.0, Qt::BottomEdge);
    window()->setDelegate(this);
    connect(window(), &MainWindow::resized, this, [this] { windowDidResize(); });
    window()->setWindowWillResize([this](const QSize &proposed) { return windowWillResize(proposed); });
    // The window grows to show video once a file opens.
    window()->resize(kLaunchWindowWidth, kLaunchWindowHeight);
}

void VistrelAppDelegate::initChannelSelectionPanel() {
    channelSelectionPanel_->setContentBorderThickness(23.0, Qt::BottomEdge);
}

void VistrelAppDelegate::initColorSettingPanel() {
    colorSettingPanel_ = std::make_unique<ColorSettingPanel>(window());
    colorSettingPanel_->backgroundView()->setContents(imageNamed("background.png").toImage());
    colorSettingPanel_->setColorBrightnessValue(0.0f);
    colorSettingPanel_->setColorSaturationValue(1.0f);
    colorSettingPanel_->setColorContrastValue(1.0f);
    // Moving a control while nothing plays adjusts the shown pictures again.
    connect(colorSettingPanel_.get(), &ColorSettingPanel::colourValuesChanged, this,
            [this] { windowDidUpdate(); });
    connect(window()->ui.colorAdjustBtn, &QPushButton::clicked, this, [this] { showColorSettingPanel(); });
    connect(window()->ui.snapShotBtn, &QPushButton::clicked, this, [this] { snapshotAction(); });
}

void VistrelAppDelegate::initConfigSettingPanel() {
    configSettingPanel_ = std::make_unique<ConfigSettingPanel>(window());
    connect(window()->ui.configSettingBtn, &QPushButton::clicked, this, [this] { showConfigSettingPanel(); });
}

void VistrelAppDelegate::initVideoPane() {
    VideoPane &pane = *videoPaneLayout_;
    pane.initVideoPane();
    tileColour_->setTiles(pane.videoView());
    aviConversion_->setOsdPercentage(pane.osdPercentage());
    // The colour panel recolours the titles and the on-screen texts.
    if (!colorSettingPanel_) return;
    for (int i = 0; i < static_cast<int>(pane.videoViewTitle().size()); ++i)
        colorSettingPanel_->deliverVideoViewTitle(pane.videoViewTitle()[static_cast<size_t>(i)], i);
    colorSettingPanel_->deliverOnScreenTexts(pane.osdServerTime(), pane.osdVideoMode(), pane.osdPercentage());
}

void VistrelAppDelegate::initCustomizedProgressSlider() {
    window()->initCustomizedProgressSlider();
}

void VistrelAppDelegate::initControlPanel() {
    window()->initControlPanel();
    audioSliderChanged(0.5f);
    snapshots_->setSnapshotSavedFilePath(QStringLiteral(""));
}

void VistrelAppDelegate::initStatusPane() {
    using transport::StatusImage;
    window()->initStatusPane(statusImages_.image(StatusImage::Stop),
                             statusImages_.image(StatusImage::Stop, true));
}

void VistrelAppDelegate::insertItemsToAudioChannelSwitchBtn(int count, const uint8_t *list) {
    window()->insertItemsToAudioChannelSwitchBtn(count, list);
}

void VistrelAppDelegate::insertItmesToVideoChannelSwitchBtn(int count) {
    window()->insertItmesToVideoChannelSwitchBtn(count);
}

// The conversion spinner: a spinner cell in the control strip, hidden until a conversion runs.
void VistrelAppDelegate::initAVIConvertingFakeIndicator() {
    ProgressIndicatorControl *indicator = window()->ui.aviConvertingIndicator;
    auto cell = std::make_unique<AMIndeterminateProgressIndicatorCell>();
    cell->setSpinning(false);
    indicator->setCell(std::move(cell));
    indicator->setVisible(false);
    aviConversion_->initAVIConvertingFakeIndicator();
}

void VistrelAppDelegate::connectActions() {
    Ui::MainWindow &ui = window()->ui;
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
    videoPaneLayout_->showServerTimeLabelText(time);
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
         {window()->ui.playbackProgressSlider, window()->ui.fullScreenPlaybackProgressSlider})
        if (slider && !slider->isSliderDown()) slider->setFloatValue(value);
    videoPaneLayout_->setOnScreenPercentage(QString::asprintf("%i%%", static_cast<int>(value)));
}

void VistrelAppDelegate::initTransportControls() {
    Ui::MainWindow &ui = window()->ui;
    transportTarget_ = std::make_unique<EngineTransportTarget>(*engineSide_, openFile());
    transportTarget_->setFinishConversion([this] { finishAVIConversionTask(); });
    TransportHooks hooks;
    hooks.upadatePlaybackProgress = [this](float percent) { upadatePlaybackProgress(percent); };
    hooks.showFullScreenControlPanel = [this] { videoPaneLayout_->showFullScreenControlPanel(); };
    transport_ = std::make_unique<TransportController>(*transportTarget_, transportViewsOf(*window()),
                                                       statusImages_.pointers(), hooks);
    transport_->connectControls({ui.playActionBtn, ui.fullScreenPlayBtn},
                                {ui.pauseActionBtn, ui.fullScreenPauseBtn},
                                {ui.stopBtn, ui.fullScreenStopBtn}, ui.flipImageBtn);
}

void VistrelAppDelegate::initAVIConversion() {
    Ui::MainWindow &ui = window()->ui;
    conversionHost_ = std::make_unique<PlayerConversionHost>(
        playbackActivation_->views(), *playbackActivation_, *videoPaneLayout_, *engineSide_, *this,
        colorSettingPanel_, configSettingPanel_);
    ConversionWidgets w = conversionWidgetsOf(*window());
    w.aviConvertStatusImg = &statusImages_.aviConvert;
    w.stopStatusImg = &statusImages_.image(transport::StatusImage::Stop);
    w.channelSelectionPanel = channelSelectionPanel_;
    aviConversion_ = std::make_unique<AVIConversion>(conversionHost_.get(), w);
    conversionHost_->setConversion(aviConversion_.get());
    aviConversion_->openDeferredFile = [this](const QString &path) { openFileDirectly(path); };
    engineSide_->setConversionSink(aviConversion_.get());
    connect(ui.aviConversionBtn, &QPushButton::clicked, this, [this] { openPlaybackFileAndConvertToAVI(); });
}

void VistrelAppDelegate::setAVIBuilderVideoFormat(int vdoFmtIdx) {
    aviConversion_->setBuilderVideoFormat(vdoFmtIdx);
}

void VistrelAppDelegate::showConfigSettingPanel() {
    if (configSettingPanel_) unfoldPanel(configSettingPanel_.get(), window());
}

void VistrelAppDelegate::showColorSettingPanel() {
    tileColour_->showColorSettingPanel(window());
}
