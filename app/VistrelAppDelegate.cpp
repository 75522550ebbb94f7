#include "app/VistrelAppDelegate.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QSlider>

#include <new>
#include <unistd.h>

#include "app/ColorSettingPanel.h"
#include "app/ConfigSettingPanel.h"
#include "app/channel_selection_panel.h"
#include "app/controls/AMIndeterminateProgressIndicatorCell.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/controls/OsdTextLayer.h"
#include "app/main_window.h"
#include "app/transport/engine_transport_target.h"
#include "app/transport/transport_controller.h"
#include "audio/audio_stream_processor.h"
#include "avi/ANAVIFrameBuilder.h"
#include "engines/avc_format_playback.h"
#include "engines/dv_format_playback.h"
#include "engines/engine_controls.h"
#include "platform/log.h"

namespace {
std::atomic<VistrelAppDelegate *> gAppDelg{nullptr};

// The player state in which no file plays or converts.
constexpr int kPlayerStateIdle = 3;

// The last component of a path, and the text after its last dot (a leading dot starts a name,
// not an extension).
QString lastPathComponent(const QString &path) {
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString pathExtension(const QString &component) {
    const int dot = component.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? QString() : component.mid(dot + 1);
}

QString deletingPathExtension(const QString &component) {
    const int dot = component.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? component : component.left(dot);
}
} // namespace

// ---- Life -------------------------------------------------------------------------------------

VistrelAppDelegate::VistrelAppDelegate() : mainThreadPoster_(this) {
    gAppDelg.store(this);
    setPlayerState(kPlayerStateIdle);
    createAVCFmtPlayback();
    try {
        handleDVFmtPlayback_.reset(new DVFormatPlayback());
    } catch (const std::bad_alloc &) {
        player_log("Cannot create the DV engine\n");
    }
    if (DVFormatPlayback *dv = handleDVFmtPlayback_.get()) {
        dv->setAppDelg(this);
        dv->setMainThreadPoster(&mainThreadPoster_);
        dv->setPImageWidthFromStream(&iImageWidthFromStream_);
        dv->setPImageHeightFromStream(&iImageHeightFromStream_);
    }
    loadInterfaceDocuments();
    initTransportControls();
}

// The AVC engine, made once and reused for every AVC file.
void VistrelAppDelegate::createAVCFmtPlayback() {
    try {
        handleAVCFmtPlayback_.reset(new AVCFormatPlayback());
    } catch (const std::bad_alloc &) {
        player_log("Cannot create the AVC engine\n");
        return;
    }
    AVCFormatPlayback *avc = handleAVCFmtPlayback_.get();
    avc->setAppDelg(this);
    avc->setMainThreadPoster(&mainThreadPoster_);
    avc->setPImageWidthFromStream(&iImageWidthFromStream_);
    avc->setPImageHeightFromStream(&iImageHeightFromStream_);
    avc->setHandleOfImageRectFromStream();
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
    // The engines go first: their threads call back into the delegate, its views and its
    // builder, so every one of them has ended before any of those is released.
    resetPlaybackHandle();
    handleAVCFmtPlayback_.reset();
    handleDVFmtPlayback_.reset();

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
    audioStreamProcessor.reset();
    snapshotSavedFilePath.clear();
    releaseNSImageIcon();
    releaseFilePathObject();
    if (pFileDir) {
        closedir(pFileDir);
        pFileDir = nullptr;
    }
    // The window takes its views and the channel-selection panel with it.
    delete window;
    window = nullptr;
    channelSelectionPanel = nullptr;
}

VistrelAppDelegate *VistrelAppDelegate::GetAppDelg() { return gAppDelg.load(); }

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
    QMetaObject::invokeMethod(this, [this, path] { openFileDirectly(path); }, Qt::QueuedConnection);
    makeWindowKeyAndOrderFront();
    return true;
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

// The 16 channel tiles with their title layers, and the on-screen text layers of the pane.
void VistrelAppDelegate::initVideoPane() {}

// The conversion spinner: a spinner cell in the control strip, hidden until a conversion runs.
void VistrelAppDelegate::initAVIConvertingFakeIndicator() {
    if (!aviConvertingIndicator) return;
    auto cell = std::make_unique<AMIndeterminateProgressIndicatorCell>();
    cell->setSpinning(false);
    aviConvertingIndicator->setCell(std::move(cell));
    aviConvertingIndicator->setVisible(false);
}

void VistrelAppDelegate::initFileWrapper() {
    try {
        aviFrameBuilder_.reset(new ANAVIFrameBuilder());
    } catch (const std::bad_alloc &) {
        player_log("Cannot create the AVI builder\n");
    }
}

void VistrelAppDelegate::releaseFileWrapper() { aviFrameBuilder_.reset(); }

void VistrelAppDelegate::openFileDirectly(const QString &path) {
    releaseFilePathObject();
    setAbsoluteFilePath(path);
    const QString component = lastPathComponent(path);
    fileName = deletingPathExtension(component);
    fileExtension = pathExtension(component);
    fileNameWithExtension = QStringLiteral("%1.%2").arg(fileName, fileExtension);
    recordFileLocationInFolder();
    activateFilePlayback();
}

// The open file's folder and its place in it, for stepping to the previous or next file.
void VistrelAppDelegate::recordFileLocationInFolder() {}

// Starts the engine that plays the open file.
void VistrelAppDelegate::activateFilePlayback() {}

// The pane is laid out again for the window's new size.
void VistrelAppDelegate::windowDidResize() {}

// ---- Teardown ---------------------------------------------------------------------------------

void VistrelAppDelegate::stopDVFmtParserThread() {
    DVFormatPlayback *dv = handleDVFmtPlayback_.get();
    if (!dv || !dv->isDVFmtParserThreadExecuting()) return;
    // Keep-running too, so that a paused parser wakes up and sees the request.
    gDVFmtPlaybackParserThreadForceExit = 1;
    gDVFmtPlaybackKeepRunning = 1;
    player_log("gDVFmtPlaybackParserThreadForceExit == YES\n");
    // The parser clears the request as it leaves. When this runs on the parser thread itself
    // (the end of a conversion), the state is already idle and there is nothing to wait for.
    while (playerState() != kPlayerStateIdle && gDVFmtPlaybackParserThreadForceExit.load() != 0) usleep(10);
    dv->cancelDVFmtParserThread();
    gDVFmtPlaybackKeepRunning = 0;
    player_log("Cancel DVFmt Parser Thread...\n");
}

void VistrelAppDelegate::resetPlaybackHandle() {
    DVFormatPlayback *dv = handleDVFmtPlayback_.get();
    AVCFormatPlayback *avc = handleAVCFmtPlayback_.get();
    // The AVC parser first: its reader waits inside hand-offs to the AVC threads below.
    if (avc) avc->closeAVCFileAndStopParser();
    stopDVFmtParserThread();
    for (int channel = 0; channel < kEngineChannelCount; ++channel) {
        if (dv && dv->isDVFmtVideoPlaybackThreadExecuting(channel)) {
            dv->cancelDVFmtVideoPlaybackThread(channel);
            player_log("Cancel DVFmt Video Playback Thread...\n");
        }
        if (avc && avc->isAVCFmtVideoPlaybackThreadExecuting(channel)) {
            avc->cancelAVCFmtVideoPlaybackThread(channel);
            player_log("Cancel AVCFmt Video Playback Thread...\n");
        }
    }
    if (dv && dv->isDVFmtAudioPlaybackThreadExecuting()) {
        dv->cancelDVFmtAudioPlaybackThread();
        player_log("Cancel DVFmt Audio Playback Thread...\n");
    }
    if (avc && avc->isAVCFmtAudioPlaybackThreadExecuting()) {
        avc->cancelAVCFmtAudioPlaybackThread();
        player_log("Cancel AVCFmt Audio Playback Thread...\n");
    }
    releaseFileWrapper();
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

void VistrelAppDelegate::setICurrentSelectedAudioCH(int channel1Based) { iCurrentSelectedAudioCH_.store(channel1Based); }
int VistrelAppDelegate::iCurrentSelectedAudioCH() { return iCurrentSelectedAudioCH_.load(); }
bool VistrelAppDelegate::videoFlipImageFlag() { return videoFlipImageFlag_.load(); }
bool VistrelAppDelegate::videoDeinterlaceFlag() { return videoDeinterlaceFlag_.load(); }
float VistrelAppDelegate::decoderTargetWidth() { return decoderTargetWidth_.load(); }
float VistrelAppDelegate::decoderTargetHeight() { return decoderTargetHeight_.load(); }
void VistrelAppDelegate::setImageRealWidth(int width) { imageRealWidth_.store(width); }
void VistrelAppDelegate::setImageRealHeight(int height) { imageRealHeight_.store(height); }
int VistrelAppDelegate::imageRealWidth() { return imageRealWidth_.load(); }
int VistrelAppDelegate::imageRealHeight() { return imageRealHeight_.load(); }
int VistrelAppDelegate::enAVCFmtPlaybackStatus() { return enAVCFmtPlaybackStatus_.load(); }
void VistrelAppDelegate::setEnAVCFmtPlaybackStatus(int status) { enAVCFmtPlaybackStatus_.store(status); }
void VistrelAppDelegate::setPlaybackTriState(uint8_t state) { playbackTriState_.store(state); }

void VistrelAppDelegate::setSys_Time(const _SYSTEMTIME &sysTime) {
    std::lock_guard<std::mutex> lock(sysTimeMutex_);
    sys_Time_ = sysTime;
}

_SYSTEMTIME VistrelAppDelegate::sys_Time() const {
    std::lock_guard<std::mutex> lock(sysTimeMutex_);
    return sys_Time_;
}

void VistrelAppDelegate::setDeinterlaceEnableBtnEnabled(bool enabled) {
    mainThreadPoster_.postToMainThread([this, enabled] {
        if (deinterlaceEnableBtn) deinterlaceEnableBtn->setEnabled(enabled);
    });
}

void VistrelAppDelegate::setServerTimeLabelText(const std::string &text) {
    const QString label = QString::fromStdString(text);
    mainThreadPoster_.postToMainThread([this, label] {
        if (serverTimeLabel) serverTimeLabel->setText(label);
    });
}

// ---- What the engines deliver: pictures, sound, time, progress, titles and the end of a file.
// ---- Until the pane grid, the audio output and the conversion flow take them, they are
// ---- accepted and dropped; no channel is asked for.

void VistrelAppDelegate::setAudioProcessorWithChannel(unsigned, int) {}
bool VistrelAppDelegate::checkNeedDecodeForMultiCHs(uint8_t) { return false; }
void VistrelAppDelegate::setAVCFmtVdoIdxForAVIBuilder(int) {}
void VistrelAppDelegate::audioUpdateTaskWithBuffer(const uint8_t *, unsigned, int, unsigned) {}
void VistrelAppDelegate::videoUpdateTaskWithChannel(unsigned, VideoImageRef, const uint8_t *, unsigned, bool, unsigned,
                                                    const _SYSTEMTIME &) {}
void VistrelAppDelegate::updateProcessingInfoWithServerTime(const std::string &, float) {}
void VistrelAppDelegate::upadatePlaybackProgress(float) {}
void VistrelAppDelegate::setDVFmtProcessingInfoAtEndOfProcessing() {}
void VistrelAppDelegate::setAVCFmtProcessingInfoAtEndOfProcessing() {}
void VistrelAppDelegate::setDevChannelTitle(const char *) {}
