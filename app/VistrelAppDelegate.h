// The application delegate, the composition root: it loads the interface documents, creates the
// features, hands each its views and ports and serves the desktop's requests. The operations
// keep their names here as one-line forwards to the feature that does the work, which also
// holds the state. GUI thread; the engines' threads reach only EngineSide.
#pragma once

#include <QObject>

#include <memory>

#include "app/colour/tile_colour.h"
#include "app/conversion/avi_conversion.h"
#include "app/engine_side/engine_side.h"
#include "app/engine_side/engine_transport_target.h"
#include "app/file_intake/file_intake.h"
#include "app/playback/playback_activation.h"
#include "app/snapshot/snapshots.h"
#include "app/transport/status_images.h"
#include "app/transport/transport_controller.h"
#include "app/video_pane/video_pane.h"

class ChannelSelectionPanel;
class ColorSettingPanel;
class ConfigSettingPanel;
class MainWindow;
class PlayerConversionHost;

class VistrelAppDelegate : public QObject,
                           public EngineSidePort,
                           public VideoPanePort,
                           public FileIntakePort,
                           public ActivationPort {
    Q_OBJECT
  public:
    // Records itself as the process's delegate, loads the interface documents (the main window
    // and the channel panel) and creates the engines and the features, the player idle.
    VistrelAppDelegate();
    // Stops the engines and joins their threads before anything they call back into goes.
    ~VistrelAppDelegate() override;
    VistrelAppDelegate(const VistrelAppDelegate &) = delete;
    VistrelAppDelegate &operator=(const VistrelAppDelegate &) = delete;

    // The one delegate of the process; null before it exists and once it is going away.
    static VistrelAppDelegate *GetAppDelg();

    // ---- Requests from the desktop ----

    // Builds the interface; opens no file.
    void applicationDidFinishLaunching();
    // A request to open a document: the open is queued to the GUI thread (so one that arrives
    // while launching is served once the interface is built) and the window comes to the front.
    // While a conversion runs the file is refused with a sheet instead; once it has ended, the
    // file waits for the answer to its result sheet.
    bool applicationOpenFile(const QString &path);
    // With no visible window, the main window comes back to the front.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    // Shows the main window, un-minimised, in front, with the keyboard focus.
    void makeWindowKeyAndOrderFront();

    // ---- Building the interface (launching calls them in this order) ----

    void initNSImageIcon() { statusImages_.load(); }
    void initMainWindow();
    void initChannelSelectionPanel();
    void initColorSettingPanel();
    void initConfigSettingPanel();
    void initFileWrapper() { aviConversion_->initFileWrapper(); }
    void initVideoPane();
    void initCustomizedProgressSlider();
    void initControlPanel();
    void initStatusPane();
    void initCheckButtonIsPressedCallback() { transport_->initCheckButtonIsPressedCallback(); }
    void insertItemsToAudioChannelSwitchBtn(int count, const uint8_t *list) override;
    void insertItmesToVideoChannelSwitchBtn(int count) override;
    void initAVIConvertingFakeIndicator();
    void releaseNSImageIcon() { statusImages_.release(); }
    void releaseFilePathObject() { openFile().clearNames(); }

    // ---- Files ----

    void openPlaybackFile() { fileIntake_->openPlaybackFile(); }
    void openFileDirectly(const QString &path) { fileIntake_->openFileDirectly(path); }
    void recordFileLocationInFolder() { fileIntake_->recordFileLocationInFolder(); }
    void openPreviousFile() { fileIntake_->openPreviousFile(); }
    void openNextFile() { fileIntake_->openNextFile(); }

    // ---- Activation and teardown ----

    void activateFilePlayback() override { playbackActivation_->activateFilePlayback(); }
    // Stops whatever plays or converts: the engines' threads end and their slots are emptied.
    void resetPlaybackHandle();
    void setFilePlaybackStartingUI() { playbackActivation_->setFilePlaybackStartingUI(); }
    void setUIInCaseOfUnsupportedFileForamt() { playbackActivation_->setUIInCaseOfUnsupportedFileForamt(); }
    void createAudio() { engineSide_->createAudio(); }
    void removeAudio() { engineSide_->removeAudio(); }
    // kind 0 AVC, 1 DV4, 2 DV5; false when the file is refused at once.
    bool checkTotalChannelsAndSetVideoViewCut(int kind);
    void getDV4FileVideoCodec() { playbackActivation_->getDV4FileVideoCodec(); }
    void releaseFileWrapper() override;
    void audioSliderChanged(float volume) { transport_->audioSliderChanged(volume); }

    // ---- Transport controls ----

    void playAction() { transport_->playAction(); }
    void pauseAction() { transport_->pauseAction(); }
    void stopAction() { transport_->stopAction(); }
    void fastForwardAction() { transport_->fastForwardAction(); }
    void fastRewindAction() { transport_->fastRewindAction(); }
    void progressSliderValueChanged(int percent) { transport_->progressSliderValueChanged(percent); }
    void clickAudioChannelSwitchBtn() { transport_->clickAudioChannelSwitchBtn(); }
    void flipImageAction(bool on) { transport_->flipImageAction(on); }
    void checkPlaybackBtnIsPressed() { transport_->checkPlaybackBtnIsPressed(); }
    void doForwardAndRewindStepPlayback() { transport_->doForwardAndRewindStepPlayback(); }
    void notSupportFastRewindActionAlert() { transport_->notSupportFastRewindActionAlert(); }
    // Makes the transport controller over the engines and connects the transport controls.
    void initTransportControls();
    TransportController *transport() const { return transport_.get(); }
    EngineTransportTarget *transportTarget() const { return transportTarget_.get(); }

    // ---- The video pane ----

    void checkNeedResizeImageViewOrNot() override { videoPaneLayout_->checkNeedResizeImageViewOrNot(); }
    void clearPicturesExcept(int channel) override { videoPaneLayout_->clearPicturesExcept(channel); }
    void clearPicture(int channel) override { videoPaneLayout_->clearPicture(channel); }
    void clickVideoChannelSwitchBtn(int index) { videoPaneLayout_->clickVideoChannelSwitchBtn(index); }
    void showOSD() { videoPaneLayout_->showOSD(); }
    void showAndEnableDeinterlace() { videoPaneLayout_->showAndEnableDeinterlace(); }
    void enterFullScreen() { videoPaneLayout_->enterFullScreen(); }
    void exitFullScreen() { videoPaneLayout_->exitFullScreen(); }
    QSize windowWillResize(const QSize &proposed) { return videoPaneLayout_->windowWillResize(proposed); }
    void windowDidResize() { videoPaneLayout_->windowDidResize(); }
    void setDVFmtVideoModeString() { videoPaneLayout_->setDVFmtVideoModeString(); }
    void setDV5VideoModeString(uint8_t mode) { videoPaneLayout_->setDV5VideoModeString(mode); }

    // ---- What the engines deliver, on the GUI thread (EngineSide posts them) ----

    void upadatePlaybackServerTime(const QString &time) override;
    void upadatePlaybackServerTimeAndProgressForFileConversion(const QString &time, float progress) override;
    void upadatePlaybackProgress(float percent) override;
    // 16 slots of 64 bytes (slot n for channel n+1), or null: "CH1".."CH16". Any thread.
    void setDevChannelTitle(const char *titles) override { engineSide_->setDevChannelTitle(titles); }
    void applyDevChannelTitles(const std::array<std::optional<QString>, 16> &titles) override {
        videoPaneLayout_->setChannelTitles(titles);
    }
    bool checkNeedDecodeForMultiCHs(uint8_t channel) {
        return engineSide_->checkNeedDecodeForMultiCHs(channel);
    }
    void showStopStatusImages() override { transport_->showStatus(transport::StatusImage::Stop); }
    void showEndOfRecording() override { transport_->showEndOfRecording(); }
    void showFileWithNothingToShow() override { playbackActivation_->failActivation(); }
    void showPicture(int channel, const QImage &picture, const _SYSTEMTIME &time) override {
        videoPaneLayout_->showPicture(channel, picture, time);
    }
    void showServerTimeLabelText(const QString &text) override {
        videoPaneLayout_->showServerTimeLabelText(text);
    }
    void enableDeinterlaceButton(bool on) override { videoPaneLayout_->enableDeinterlaceButton(on); }
    // The index-building progress and the deinterlace button, asked for by engine threads.
    void setServerTimeLabelText(const std::string &text) { engineSide_->setServerTimeLabelText(text); }
    void setDeinterlaceEnableBtnEnabled(bool on) { engineSide_->setDeinterlaceEnableBtnEnabled(on); }
    // The volume slider's value, 0 to 1 (GUI thread).
    float playbackVolume() override { return transport_->playbackVolume(); }

    // ---- The features ----

    EngineSide *engineSide() const { return engineSide_.get(); }
    VideoPane *videoPaneLayout() const override { return videoPaneLayout_.get(); }
    FileIntake *fileIntake() const { return fileIntake_.get(); }
    PlaybackActivation *playbackActivation() const { return playbackActivation_.get(); }
    OpenFile &openFile() const { return playbackActivation_->openFile(); }
    EngineShared &shared() const { return engineSide_->shared(); }
    Snapshots &snapshots() const { return *snapshots_; }
    TileColour &tileColour() const { return *tileColour_; }
    AVCFormatPlayback *handleAVCFmtPlayback() const { return engineSide_->avc(); }
    DVFormatPlayback *handleDVFmtPlayback() const { return engineSide_->dv(); }
    // The running conversion's builder; null when none.
    ANAVIFrameBuilder *aviFrameBuilder() const { return aviConversion_->aviFrameBuilder(); }
    MainWindow *window() const { return window_.get(); }
    ChannelSelectionPanel *channelSelectionPanel() const { return channelSelectionPanel_; }
    ColorSettingPanel *colorSettingPanel() const { return colorSettingPanel_.get(); }
    ConfigSettingPanel *configSettingPanel() const { return configSettingPanel_.get(); }
    const StatusImages &statusImages() const { return statusImages_; }

    // ---- AVI conversion (AVIConversion does the work) ----

    void initAVIConversion();
    AVIConversion *aviConversion() const { return aviConversion_.get(); }
    void openPlaybackFileAndConvertToAVI() { aviConversion_->openPlaybackFileAndConvertToAVI(); }
    void openCurrentPlaybackFileAndConvertToAVI() {
        aviConversion_->openCurrentPlaybackFileAndConvertToAVI();
    }
    void activateAVIConversion() { aviConversion_->activateAVIConversion(); }
    void setAVIFileLocationAndConfig() { aviConversion_->setAVIFileLocationAndConfig(); }
    void setAVIConversionStartingUI() { aviConversion_->setAVIConversionStartingUI(); }
    void setChannelSelectionBtnWithVideoChannels(uint32_t video, uint32_t audio) {
        aviConversion_->setChannelSelectionBtnWithVideoChannels(video, audio);
    }
    void showChannelSelectionPanel() { aviConversion_->showChannelSelectionPanel(); }
    void closeChannelSelectionPanel() { aviConversion_->closeChannelSelectionPanel(); }
    void doAVIConversionTask() { aviConversion_->doAVIConversionTask(); }
    // Stop and the end of a recording while converting; cancels a conversion that waits for
    // its channel.
    void finishAVIConversionTask() { aviConversion_->finishAVIConversionTask(); }
    void disablePlaybackButton() { aviConversion_->disablePlaybackButton(); }
    void revertPlaybackButton() override { aviConversion_->revertPlaybackButton(); }
    void animateAVIConvertingIndicator() { aviConversion_->animateAVIConvertingIndicator(); }
    void upadateUIWhileFinishingFileConversion() { aviConversion_->upadateUIWhileFinishingFileConversion(); }
    void setAVIBuilderVideoFormat(int vdoFmtIdx) override;
    QSize windowSizeWhileAVIConversion() override { return aviConversion_->windowSizeWhileAVIConversion(); }

    // ---- Snapshots, colour and settings panels ----

    void showConfigSettingPanel();
    void showColorSettingPanel();
    // The snapshot button: the next picture of the shown channel is saved; while paused, the
    // one on screen.
    void snapshotAction() { snapshots_->snapshotAction(); }
    bool saveSnapshotImageFlag() const { return snapshots_->taker().pending(); }
    void setSnapshotFileLocation() override { snapshots_->setSnapshotFileLocation(); }
    QString saveSnapshotImage(const QImage &picture, const _SYSTEMTIME &time) override {
        return snapshots_->saveSnapshotImage(picture, time);
    }
    void keepShownPicture(int channel, const QImage &picture, const _SYSTEMTIME &time) override {
        snapshots_->keepShownPicture(channel, picture, time);
    }
    void forgetShownPictures() override { snapshots_->forgetShownPictures(); }
    void forgetShownPicture(int channel) override { snapshots_->forgetShownPicture(channel); }
    QImage colourFilteredPicture(int tileIndex, const QImage &picture) override {
        return tileColour_->colourFilteredPicture(tileIndex, picture);
    }
    void clearColourPictures() override { tileColour_->filter().clearTilePictures(); }
    void clearColourPicture(int tileIndex) override { tileColour_->filter().clearTilePicture(tileIndex); }
    void applyColorFilterToImageView(const QImage &picture) {
        tileColour_->applyColorFilterToImageView(picture);
    }
    void windowDidUpdate() { tileColour_->windowDidUpdate(); }

    // ---- The state as the features hold it, by its old names ----

    std::string absoluteFilePath() const { return shared().filePath(); }
    QString absoluteFilePathString() const { return openFile().path(); }
    void setAbsoluteFilePath(const QString &path) { openFile().setPath(path); }
    int playerState() const { return static_cast<int>(openFile().playerState()); }
    void setPlayerState(int state) { openFile().setPlayerState(static_cast<PlayerState>(state)); }
    void setIsAVCPlaybackFlag(bool on) {
        openFile().setKind(on ? RecorderFileKind::AVC : RecorderFileKind::Unknown);
    }
    bool playbackIsActivated() const { return openFile().activated(); }
    void setPlaybackIsActivated(bool on) { openFile().setActivated(on); }
    int videoPaneCutState() const { return static_cast<int>(openFile().cutState()); }
    void setVideoPaneCutState(int cut) { openFile().setCutState(static_cast<CutState>(cut)); }
    void setVideoPaneLockCutStateFlag(bool on) { openFile().setCutLocked(on); }
    int iCurrentSelectedVideoCH() const { return openFile().selectedVideoChannel(); }
    void setICurrentSelectedVideoCH(int channel) { openFile().setSelectedVideoChannel(channel); }
    int iCurrentSelectedAudioCH() const { return openFile().selectedAudioChannel(); }
    void setISubVideoChannelEnabledValue(int mask) { openFile().setMasks(mask, openFile().audioMask()); }
    uint8_t channelIndex() const { return static_cast<uint8_t>(openFile().channelIndex()); }
    void setChannelIndex(uint8_t index) { openFile().setChannelIndex(index); }
    bool isPlaybackNow() const { return shared().playbackNow.load(); }
    void setIsPlaybackNow(bool on) { shared().playbackNow.store(on); }
    int enAVCFmtPlaybackStatus() const { return shared().avcStatus.load(); }
    void setEnAVCFmtPlaybackStatus(int status) { shared().avcStatus.store(status); }
    uint8_t playbackTriState() const { return shared().triState.load(); }
    bool viewCutChangedAndResetDecoder() const { return shared().viewCutChanged.load(); }
    void setViewCutChangedAndResetDecoder(bool on) { shared().viewCutChanged.store(on); }
    bool videoFlipImageFlag() const { return shared().flipImage.load(); }
    bool videoDeinterlaceFlag() const { return shared().deinterlace.load(); }
    float decoderTargetWidth() const { return shared().decoderTargetWidth.load(); }
    float decoderTargetHeight() const { return shared().decoderTargetHeight.load(); }
    void setDecoderTargetWidth(float width) { shared().decoderTargetWidth.store(width); }
    void setDecoderTargetHeight(float height) { shared().decoderTargetHeight.store(height); }
    void setImageRealHeight(int height) { shared().imageRealHeight.store(height); }
    int iImageWidthFromStream() const { return shared().streamWidth.load(); }
    void setSys_Time(const _SYSTEMTIME &time) { shared().setSysTime(time); }
    bool isContainAudioData() const { return engineSide_->containsAudioData(); }
    bool engineFramesFlowing() override { return EngineSide::dvFramesFlowing(); }
    bool landOnScreen() override { return engineSide_->landOnScreen(); }
    bool picturesHeld() override { return engineSide_->picturesHeld(); }
    float audioSliderValueForBinding() const { return transportTarget_->audioSliderValueForBinding(); }
    int32_t fileLocationInFolder() const { return fileIntake_->fileLocationInFolder(); }
    int miscellaneousBtnState() const { return videoPaneLayout_->miscellaneousBtnState(); }
    GridStartIndexes gridStartIndexes() const { return videoPaneLayout_->gridStartIndexes(); }
    bool isInFullScreenMode() const { return videoPaneLayout_->isInFullScreenMode(); }
    void setIsInFullScreenMode(bool on) { videoPaneLayout_->setIsInFullScreenMode(on); }
    float previousVideoPaneWidth() const { return videoPaneLayout_->layoutMemory().previousVideoPaneWidth; }
    void setPreviousVideoPaneWidth(float width) {
        videoPaneLayout_->layoutMemory().previousVideoPaneWidth = width;
    }

  private:
    // The window's size after launch.
    static constexpr int kLaunchWindowWidth = 680;
    static constexpr int kLaunchWindowHeight = 146;

    void createFeatures();
    // What the interface document's controls do: the actions of the buttons and menus.
    void connectActions();

    std::unique_ptr<MainWindow> window_;
    ChannelSelectionPanel *channelSelectionPanel_ = nullptr;
    std::unique_ptr<EngineSide> engineSide_;
    StatusImages statusImages_;
    std::unique_ptr<PlaybackActivation> playbackActivation_;
    std::unique_ptr<VideoPane> videoPaneLayout_;
    std::unique_ptr<Snapshots> snapshots_;
    std::unique_ptr<TileColour> tileColour_;
    std::unique_ptr<PlayerConversionHost> conversionHost_;
    std::unique_ptr<AVIConversion> aviConversion_;
    std::unique_ptr<ColorSettingPanel> colorSettingPanel_;
    std::unique_ptr<ConfigSettingPanel> configSettingPanel_;
    std::unique_ptr<EngineTransportTarget> transportTarget_;
    std::unique_ptr<TransportController> transport_;
    std::unique_ptr<FileIntake> fileIntake_;
};
