// The application delegate: the one object that owns the playback engines, the windows, panels,
// views and images of the player, builds the interface when launching finishes, serves the
// desktop's requests to open a document, and holds the state that the other parts of the
// application and the engines share.
//
// The work lives in feature classes: the engine side of the callbacks (EngineSide), file intake
// and folder stepping (FileIntake), activation and teardown (PlaybackActivation), and the video
// pane (VideoPane); the delegate keeps the operations' names as short forwards.
//
// Threads: everything that touches a widget runs on the GUI thread. The engines call
// EngineSide from their own threads; the state they read or write here is atomic (or, for the
// file path and the recorder time, behind a lock), and whatever an engine thread asks of the
// window is posted to the GUI thread.
#pragma once

#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/colour/colour_image_filter.h"
#include "app/logic/video_pane_layout.h"
#include "app/snapshot/snapshot_taker.h"
#include "recorderfile/recorder_time.h"

class ANAVIFrameBuilder;
class AVIConversion;
class AudioStreamProcessor;
class ChannelSelectionPanel;
class ColorSettingPanel;
class ConfigSettingPanel;
class CustomizedButton1;
class CustomizedButton2;
class CustomizedProgressSlider;
class CustomizedVideoView;
class CustomizedView;
class AVCFormatPlayback;
class DelegateConversionHost;
class DVFormatPlayback;
class EngineSide;
class EngineTransportTarget;
class TransportController;
class FileIntake;
class LayerView;
class MainWindow;
class OsdTextLayer;
class PlaybackActivation;
class ProgressIndicatorControl;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class VideoPane;

// A scalar shared between the GUI thread and the engine threads: a getter of its own name and
// a setter, both plain atomic loads and stores.
#define APP_SHARED_STATE(Type, name, Setter, initial)                                                        \
  public:                                                                                                    \
    Type name() const {                                                                                      \
        return name##_.load();                                                                               \
    }                                                                                                        \
    void Setter(Type value) {                                                                                \
        name##_.store(value);                                                                                \
    }                                                                                                        \
                                                                                                             \
  private:                                                                                                   \
    std::atomic<Type> name##_{initial};

class VistrelAppDelegate : public QObject {
    Q_OBJECT
  public:
    // Records itself as the process's delegate, sets the player idle, creates the engines and
    // loads the interface documents (the main window and the channel-selection panel).
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
    // While a conversion holds the window (from its start until its result is answered) the
    // file is refused with a sheet instead.
    bool applicationOpenFile(const QString &path);
    // The user asks for the running player again: with no visible window, the main window
    // comes back to the front.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    // Shows the main window, un-minimised, in front, with the keyboard focus.
    void makeWindowKeyAndOrderFront();

    // ---- Building the interface ----

    void initNSImageIcon();
    void initMainWindow();
    void initChannelSelectionPanel();
    void initColorSettingPanel();
    void initConfigSettingPanel();
    void initFileWrapper();
    void initVideoPane();
    void initCustomizedProgressSlider();
    void initControlPanel();
    void initStatusPane();
    void initCheckButtonIsPressedCallback();
    // count menu items; `list` holds `count` channel numbers (1 to 16), or is null for 1..count.
    void insertItemsToAudioChannelSwitchBtn(int count, const uint8_t *list);
    // count (1 to 5) grid items: 4, 6, 9, 12 and 16 panes.
    void insertItmesToVideoChannelSwitchBtn(int count);
    void initAVIConvertingFakeIndicator();
    void releaseNSImageIcon();
    void releaseFilePathObject();

    // ---- Files (FileIntake) ----

    void openPlaybackFile();
    void openFileDirectly(const QString &path);
    void recordFileLocationInFolder();
    void openPreviousFile();
    void openNextFile();

    // ---- Activation and teardown (PlaybackActivation) ----

    void activateFilePlayback();
    // Stops whatever plays or converts: the engines' threads end and their slots are emptied.
    void resetPlaybackHandle();
    void setFilePlaybackStartingUI();
    void setUIInCaseOfUnsupportedFileForamt();
    void createAudio();
    void removeAudio();
    // kind 0 AVC, 1 DV4, 2 DV5; false when the file is refused at once.
    bool checkTotalChannelsAndSetVideoViewCut(int kind);
    void getDV4FileVideoCodec();
    void releaseFileWrapper();
    void audioSliderChanged(float volume);

    // ---- Transport controls (the work is TransportController's) ----

    void playAction();
    void pauseAction();
    void stopAction();
    void fastForwardAction();
    void fastRewindAction();
    void progressSliderValueChanged(int percent);
    void clickAudioChannelSwitchBtn();
    void flipImageAction(bool on);
    void checkPlaybackBtnIsPressed();
    void doForwardAndRewindStepPlayback();
    void notSupportFastRewindActionAlert();
    // Makes the transport controller over the engines and connects the transport controls.
    void initTransportControls();
    TransportController *transport() const { return transport_.get(); }
    EngineTransportTarget *transportTarget() const { return transportTarget_.get(); }

    // ---- The video pane (VideoPane) ----

    void checkNeedResizeImageViewOrNot();
    void clickVideoChannelSwitchBtn(int index);
    void showOSD();
    void showAndEnableDeinterlace();
    void enterFullScreen();
    void exitFullScreen();
    QSize windowWillResize(const QSize &proposed);
    void windowDidResize();
    void setDVFmtVideoModeString();
    void setDV5VideoModeString(uint8_t mode);

    // ---- What the engines deliver, on the GUI thread (EngineSide posts them) ----

    void upadatePlaybackServerTime(const QString &time);
    void upadatePlaybackServerTimeAndProgressForFileConversion(const QString &time, float progress);
    void upadatePlaybackProgress(float percent);
    // 16 slots of 64 bytes (slot n for channel n+1), or null: "CH1".."CH16". Any thread.
    void setDevChannelTitle(const char *titles);
    void applyDevChannelTitles(const std::array<std::optional<QString>, 16> &titles);
    bool checkNeedDecodeForMultiCHs(uint8_t channel);
    void showStopStatusImages();

    // ---- The feature classes ----

    EngineSide *engineSide() const { return engineSide_.get(); }
    VideoPane *videoPaneLayout() const { return videoPaneLayout_.get(); }
    FileIntake *fileIntake() const { return fileIntake_.get(); }
    PlaybackActivation *playbackActivation() const { return playbackActivation_.get(); }
    AVCFormatPlayback *handleAVCFmtPlayback() const;
    DVFormatPlayback *handleDVFmtPlayback() const;
    // The running conversion's builder; null when none.
    ANAVIFrameBuilder *aviFrameBuilder() const;

    // ---- AVI conversion (AVIConversion does the work; GUI thread) ----

    void initAVIConversion();
    AVIConversion *aviConversion() const { return aviConversion_.get(); }
    void openPlaybackFileAndConvertToAVI();
    void openCurrentPlaybackFileAndConvertToAVI();
    void activateAVIConversion();
    void setAVIFileLocationAndConfig();
    void setAVIConversionStartingUI();
    void setChannelSelectionBtnWithVideoChannels(uint32_t videoMask, uint32_t audioMask);
    void showChannelSelectionPanel();
    void closeChannelSelectionPanel();
    void doAVIConversionTask();
    // Stop and the end of a recording while converting; cancels a conversion that waits for
    // its channel.
    void finishAVIConversionTask();
    void disablePlaybackButton();
    void revertPlaybackButton();
    void animateAVIConvertingIndicator();
    void upadateUIWhileFinishingFileConversion();

    // ---- State the engines read or write (any thread) ----

    std::string absoluteFilePath();
    void setICurrentSelectedAudioCH(int channel1Based) { iCurrentSelectedAudioCH_.store(channel1Based); }
    int iCurrentSelectedAudioCH() const { return iCurrentSelectedAudioCH_.load(); }
    bool videoFlipImageFlag() const { return videoFlipImageFlag_.load(); }
    bool videoDeinterlaceFlag() const { return videoDeinterlaceFlag_.load(); }
    float decoderTargetWidth() const { return decoderTargetWidth_.load(); }
    float decoderTargetHeight() const { return decoderTargetHeight_.load(); }
    void setImageRealWidth(int width) { imageRealWidth_.store(width); }
    void setImageRealHeight(int height) { imageRealHeight_.store(height); }
    int imageRealWidth() const { return imageRealWidth_.load(); }
    int imageRealHeight() const { return imageRealHeight_.load(); }
    void setSys_Time(const _SYSTEMTIME &sysTime);
    int enAVCFmtPlaybackStatus() const { return enAVCFmtPlaybackStatus_.load(); }
    void setEnAVCFmtPlaybackStatus(int status) { enAVCFmtPlaybackStatus_.store(status); }
    void setPlaybackTriState(uint8_t state) { playbackTriState_.store(state); }
    // The index-building progress and the deinterlace button, asked for by engine threads.
    void setServerTimeLabelText(const std::string &text);
    void setDeinterlaceEnableBtnEnabled(bool enabled);
    // The DV engine's frames flow (its keep-running flag is up).
    bool engineFramesFlowing() const;
    // The volume slider's value, 0 to 1 (GUI thread).
    float playbackVolume() const;
    GridStartIndexes gridStartIndexes() const;
    void setGridStartIndexes(const GridStartIndexes &starts);

    // The same flags, sizes and time as seen from the GUI thread.
    void setVideoFlipImageFlag(bool flip) { videoFlipImageFlag_.store(flip); }
    void setVideoDeinterlaceFlag(bool on) { videoDeinterlaceFlag_.store(on); }
    void setDecoderTargetWidth(float width) { decoderTargetWidth_.store(width); }
    void setDecoderTargetHeight(float height) { decoderTargetHeight_.store(height); }
    uint8_t playbackTriState() const { return playbackTriState_.load(); }
    _SYSTEMTIME sys_Time() const;
    // The open file's full path (the engines get it in the file system's encoding).
    QString absoluteFilePathString() const;
    void setAbsoluteFilePath(const QString &path);
    // Where the engines' decoders store the stream's picture size.
    std::atomic<int> *iImageWidthFromStreamAddress() { return &iImageWidthFromStream_; }
    std::atomic<int> *iImageHeightFromStreamAddress() { return &iImageHeightFromStream_; }
    int iImageWidthFromStream() const { return iImageWidthFromStream_.load(); }
    int iImageHeightFromStream() const { return iImageHeightFromStream_.load(); }

    // ---- Snapshots, colour and settings panels (VistrelAppDelegatePanels.cpp) ----

    void showConfigSettingPanel();
    void showColorSettingPanel();
    // The snapshot button: the next picture of the shown channel is saved.
    void snapshotAction();
    bool saveSnapshotImageFlag() const { return snapshotTaker.pending(); }
    void setSaveSnapshotImageFlag(bool pending) {
        pending ? snapshotTaker.request() : snapshotTaker.cancel();
    }
    // At every playback start: drops a pending snapshot; the open file's snapshot folder.
    void setSnapshotFileLocation();
    // The picture path, GUI thread, for every picture of the shown channel before any colour
    // adjustment: saves it when a snapshot is pending, named with the picture's own recorder
    // `time`. Returns the path written or "".
    QString saveSnapshotImage(const QImage &picture, const _SYSTEMTIME &time);
    // The picture path, GUI thread, for every picture of tile `tileIndex` (channel - 1): the
    // picture to show, adjusted with the tiles' colour controls (the picture itself when they
    // change nothing). While the colour panel is open the controls follow its values.
    QImage colourFilteredPicture(int tileIndex, const QImage &picture);
    // The tiles take the colour panel's current values.
    void applyColorFilterToImageView(const QImage &picture);
    // With the colour panel open and nothing playing, the shown pictures are adjusted again.
    void windowDidUpdate();

    SnapshotTaker snapshotTaker;
    // The colour controls the tiles hold.
    ColourFilter colorFilter;

    // ---- Windows, views and controls (GUI thread only) ----

    MainWindow *window = nullptr;
    ChannelSelectionPanel *channelSelectionPanel = nullptr;
    LayerView *statusPane = nullptr;
    LayerView *controlPanel = nullptr;
    LayerView *fullScreenControlPanel = nullptr;
    ProgressIndicatorControl *aviConvertingIndicator = nullptr;
    QPushButton *osdEnableBtn = nullptr;
    QPushButton *deinterlaceEnableBtn = nullptr;
    QPushButton *snapShotBtn = nullptr;
    QPushButton *flipImageBtn = nullptr;
    QPushButton *fullScreenBtn = nullptr;
    QPushButton *openFileBtn = nullptr;
    QPushButton *configSettingBtn = nullptr;
    QPushButton *aviConversionBtn = nullptr;
    QPushButton *colorAdjustBtn = nullptr;
    QPushButton *playActionBtn = nullptr;
    QPushButton *pauseActionBtn = nullptr;
    QPushButton *prevFileSelectionBtn = nullptr;
    QPushButton *nextFileSelectionBtn = nullptr;
    // Item data (Qt::UserRole) is the item's tag.
    QComboBox *audioChannelSwitchBtn = nullptr;
    QComboBox *videoChannelSwitchBtn = nullptr;
    QComboBox *audioChannelSelectionBtn = nullptr;
    QComboBox *videoChannelSelectionBtn = nullptr;
    QLabel *serverTimeLabel = nullptr;
    QLabel *videoModeLabel = nullptr;
    QLabel *aviProgressLabel = nullptr;
    QLabel *aviFrameRateLabel = nullptr;
    QSlider *playbackVolumeSlider = nullptr;
    QSlider *fullScreenPlaybackVolumeSlider = nullptr;
    CustomizedProgressSlider *playbackProgressSlider = nullptr;
    CustomizedProgressSlider *fullScreenPlaybackProgressSlider = nullptr;
    std::unique_ptr<ColorSettingPanel> colorSettingPanel;
    std::unique_ptr<ConfigSettingPanel> configSettingPanel;
    // The audio channels of the open file; none before the first file.
    std::unique_ptr<AudioStreamProcessor> audioStreamProcessor;
    QLabel *playbackStatusImageView = nullptr;
    QLabel *fullScreenPlaybackStatusImageView = nullptr;
    QLabel *deinterlaceStatusImageView = nullptr;
    QLabel *fullScreenDeinterlaceStatusImageView = nullptr;
    std::array<OsdTextLayer *, 16> videoViewTitle{};
    std::array<CustomizedVideoView *, 16> videoView{};
    CustomizedView *videoPane = nullptr;
    CustomizedButton1 *fastRewindBtn = nullptr;
    CustomizedButton1 *fastRewindFullScreenBtn = nullptr;
    CustomizedButton2 *fastForwardBtn = nullptr;
    CustomizedButton2 *fastForwardFullScreenBtn = nullptr;
    OsdTextLayer *osdServerTime = nullptr;
    OsdTextLayer *osdVideoMode = nullptr;
    OsdTextLayer *osdPercentage = nullptr;

    // The transport status images; a status view shows a state when it holds that very image
    // (QPixmap::cacheKey identifies it).
    QPixmap aviConvertStatusImg, playStatusImg, pauseStatusImg, stopStatusImg;
    QPixmap fastRwd1xStatusImg, fastFwd2xStatusImg, fastRwd2xStatusImg, fastFwd4xStatusImg,
        fastRwd4xStatusImg;
    QPixmap fastFwd8xStatusImg, fastRwd8xStatusImg, fastFwd16xStatusImg, fastRwd16xStatusImg;
    QPixmap playStatusImgInFullScreen, pauseStatusImgInFullScreen, stopStatusImgInFullScreen;
    QPixmap fastRwd1xStatusImgInFullScreen, fastFwd2xStatusImgInFullScreen, fastRwd2xStatusImgInFullScreen;
    QPixmap fastFwd4xStatusImgInFullScreen, fastRwd4xStatusImgInFullScreen, fastFwd8xStatusImgInFullScreen;
    QPixmap fastRwd8xStatusImgInFullScreen, fastFwd16xStatusImgInFullScreen, fastRwd16xStatusImgInFullScreen;

    // ---- File and layout state (GUI thread only) ----

    QString fileName, fileNameWithExtension, fileExtension, aviFileLocation, absoluteFileDir;
    QString snapshotSavedFilePath;
    QRect videoPaneFrame;
    QSize windowSizeWhileAVIConversion;
    // PCM of the last audio packet, for the AVI builder (audio thread).
    std::array<uint8_t, 4096> audioProcessingBuffer{};

    // The window's size after launch.
    static constexpr int kLaunchWindowWidth = 680;
    static constexpr int kLaunchWindowHeight = 146;

  private:
    void loadInterfaceDocuments();
    // What the interface document's controls do: the actions of this buttons and menus.
    void connectActions();
    // A conversion has started and its result is not yet answered.
    bool conversionHoldsWindow() const;
    void refuseOpenWhileConverting(const QString &path);

    std::unique_ptr<EngineSide> engineSide_;
    std::unique_ptr<VideoPane> videoPaneLayout_;
    std::unique_ptr<FileIntake> fileIntake_;
    std::unique_ptr<PlaybackActivation> playbackActivation_;
    std::unique_ptr<DelegateConversionHost> conversionHost_;
    std::unique_ptr<AVIConversion> aviConversion_;
    std::unique_ptr<EngineTransportTarget> transportTarget_;
    std::unique_ptr<TransportController> transport_;
    mutable std::mutex absoluteFilePathMutex_;
    QString absoluteFilePath_;
    mutable std::mutex sysTimeMutex_;
    _SYSTEMTIME sys_Time_{};
    std::atomic<bool> videoFlipImageFlag_{false};
    std::atomic<bool> videoDeinterlaceFlag_{false};
    std::atomic<float> decoderTargetWidth_{0.0f};
    std::atomic<float> decoderTargetHeight_{0.0f};
    std::atomic<int> imageRealWidth_{0};
    std::atomic<int> imageRealHeight_{0};
    std::atomic<int> iCurrentSelectedAudioCH_{0};
    std::atomic<int> enAVCFmtPlaybackStatus_{0};
    std::atomic<uint8_t> playbackTriState_{0};
    std::atomic<int> iImageWidthFromStream_{0};
    std::atomic<int> iImageHeightFromStream_{0};

    // ---- Shared state: read and written by several parts of the application and the engines ----

    // kPlayerStateIdle, kPlayerStatePlaying or kPlayerStateConverting (app/logic/player_state.h).
    APP_SHARED_STATE(int, playerState, setPlayerState, 0)
    APP_SHARED_STATE(int, previousImageRealWidth, setPreviousImageRealWidth, 0)
    APP_SHARED_STATE(int, previousImageRealHeight, setPreviousImageRealHeight, 0)
    APP_SHARED_STATE(float, previousVideoPaneWidth, setPreviousVideoPaneWidth, 0.0f)
    APP_SHARED_STATE(float, previousVideoPaneHeight, setPreviousVideoPaneHeight, 0.0f)
    APP_SHARED_STATE(int32_t, fileLocationInFolder, setFileLocationInFolder, 0)
    APP_SHARED_STATE(bool, isInFullScreenMode, setIsInFullScreenMode, false)
    APP_SHARED_STATE(bool, isResizingVideoPane, setIsResizingVideoPane, false)
    APP_SHARED_STATE(bool, viewCutChangedAndResetDecoder, setViewCutChangedAndResetDecoder, false)
    APP_SHARED_STATE(bool, aviConversionDesignateChannel, setAviConversionDesignateChannel, false)
    APP_SHARED_STATE(bool, videoPaneLockCutStateFlag, setVideoPaneLockCutStateFlag, false)
    APP_SHARED_STATE(bool, isAVCPlaybackFlag, setIsAVCPlaybackFlag, false)
    APP_SHARED_STATE(bool, isIndependentFlag, setIsIndependentFlag, false)
    APP_SHARED_STATE(bool, isPlaybackNow, setIsPlaybackNow, false)
    APP_SHARED_STATE(bool, playbackIsActivated, setPlaybackIsActivated, false)
    APP_SHARED_STATE(bool, isContainAudioData, setIsContainAudioData, false)
    APP_SHARED_STATE(bool, audioDisabledWhileAVIConversion, setAudioDisabledWhileAVIConversion, false)
    // 2 forces a new layout.
    APP_SHARED_STATE(int, prevVideoPaneCutState, setPrevVideoPaneCutState, 0)
    // 0 single view of iCurrentSelectedVideoCH, 1 grid of miscellaneousBtnState.
    APP_SHARED_STATE(int, videoPaneCutState, setVideoPaneCutState, 0)
    // Grid kind: 0 none, 1..5 for 4, 6, 9, 12 and 16 panes.
    APP_SHARED_STATE(int, miscellaneousBtnState, setMiscellaneousBtnState, 0)
    APP_SHARED_STATE(int, videoMode, setVideoMode, 0)
    APP_SHARED_STATE(float, videoViewOriginX, setVideoViewOriginX, 0.0f)
    APP_SHARED_STATE(float, videoViewOriginY, setVideoViewOriginY, 0.0f)
    APP_SHARED_STATE(float, videoViewWidth, setVideoViewWidth, 0.0f)
    APP_SHARED_STATE(float, videoViewHeight, setVideoViewHeight, 0.0f)
    APP_SHARED_STATE(float, audioSliderValueForBinding, setAudioSliderValueForBinding, 0.0f)
    // Highest video channel number of the open file (1 to 16).
    APP_SHARED_STATE(uint8_t, channelIndex, setChannelIndex, 0)
    // First channel (0-based) of each grid's page; 16 = not paged since it was last left.
    APP_SHARED_STATE(uint8_t, grid4StartIndex, setGrid4StartIndex, 0)
    APP_SHARED_STATE(uint8_t, grid6StartIndex, setGrid6StartIndex, 0)
    APP_SHARED_STATE(uint8_t, grid9StartIndex, setGrid9StartIndex, 0)
    APP_SHARED_STATE(uint8_t, grid12StartIndex, setGrid12StartIndex, 0)
    // Channel of the single view, 1 to 16.
    APP_SHARED_STATE(int, iCurrentSelectedVideoCH, setICurrentSelectedVideoCH, 0)
    // Channel masks of the open file: bit n set = channel n+1 present.
    APP_SHARED_STATE(int, iSubVideoChannelEnabledValue, setISubVideoChannelEnabledValue, 0)
    APP_SHARED_STATE(int, iSubAudioChannelEnabledValue, setISubAudioChannelEnabledValue, 0)
    APP_SHARED_STATE(int, audioProcessingDataSize, setAudioProcessingDataSize, 0)
};

#undef APP_SHARED_STATE
