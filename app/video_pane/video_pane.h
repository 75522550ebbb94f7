// The video pane: sixteen channel tiles with their titles, laid out as one picture or as a
// grid of 4, 6, 9, 12 or 16 tiles, the three on-screen text layers (recorder time, picture mode,
// percentage), paging through the channels, window resizing and full-screen mode, and the
// picture path from the engines to the tiles.
//
// GUI thread only. The geometry comes from the pure layout functions (app/logic); this class
// keeps the layout's memory and applies the results to the widgets.
#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

#include "app/logic/engine_shared.h"
#include "app/logic/video_pane_layout.h"
#include "recorderfile/recorder_time.h"

class CustomizedVideoView;
class CustomizedView;
class MainWindow;
class OpenFile;
class OsdTextLayer;
class QAbstractButton;
class QLabel;
class QWidget;

// The widgets of the main window the pane works with; any may be null.
struct VideoPaneViews {
    CustomizedView *videoPane = nullptr;
    QAbstractButton *osdEnableBtn = nullptr;
    QAbstractButton *deinterlaceEnableBtn = nullptr;
    QWidget *snapShotBtn = nullptr;
    QLabel *videoModeLabel = nullptr;
    QLabel *serverTimeLabel = nullptr;
    QWidget *deinterlaceStatusImageView = nullptr;
    QWidget *fullScreenDeinterlaceStatusImageView = nullptr;
    QWidget *fullScreenControlPanel = nullptr;
    // Full-screen mode leaves only the pane in the window: the two rows hide.
    QWidget *window = nullptr;
    QWidget *statusRow = nullptr;
    QWidget *controlRow = nullptr;
};
// The pane's widgets of the main window.
VideoPaneViews videoPaneViewsOf(MainWindow &window);

// What the pane asks of the other features.
class VideoPanePort {
  public:
    virtual ~VideoPanePort() = default;
    // Every picture of the shown channel, before any colour adjustment: a pending snapshot takes it.
    virtual QString saveSnapshotImage(const QImage &picture, const _SYSTEMTIME &time) = 0;
    // Every picture shown while not converting, of channel `channel` (0-based), before any
    // colour adjustment: while paused a snapshot takes the shown channel's last one.
    virtual void keepShownPicture(int channel, const QImage &picture, const _SYSTEMTIME &time) = 0;
    // The tiles lost their pictures: the kept ones go too.
    virtual void forgetShownPictures() = 0;
    // The tile of channel `channel` (0-based) lost its picture: the kept one goes too.
    virtual void forgetShownPicture(int channel) = 0;
    // The picture to show on tile `tileIndex`, with the colour controls.
    virtual QImage colourFilteredPicture(int tileIndex, const QImage &picture) = 0;
    // The colour controls forget the tiles' pictures, or that of tile `tileIndex`.
    virtual void clearColourPictures() = 0;
    virtual void clearColourPicture(int tileIndex) = 0;
    // The DV engine's frames flow.
    virtual bool engineFramesFlowing() = 0;
    // The window's size while converting (it does not change then).
    virtual QSize windowSizeWhileAVIConversion() = 0;
    // The view changed: every channel it decodes is to show the moment on screen. False when
    // the engine cannot land there (see EngineSide::landOnScreen).
    virtual bool landOnScreen() = 0;
    // The open file's pictures do not come by themselves (paused, stopped, at the end).
    virtual bool picturesHeld() = 0;
};

class VideoPane {
  public:
    VideoPane(const VideoPaneViews &views, OpenFile &file, EngineShared &shared, VideoPanePort &port);
    VideoPane(const VideoPane &) = delete;
    VideoPane &operator=(const VideoPane &) = delete;

    // Builds the 16 tiles, their title layers and the three on-screen text layers, and starts
    // the full-screen panel's hiding count; once.
    void initVideoPane();
    // Lets a click on `tile` switch between the grid and the single view of its channel.
    void connectTile(CustomizedVideoView *tile);
    // A tile was clicked: the grid becomes the single view of `channelID` (when the file has
    // that channel) or the single view becomes the grid, unless the cut is locked.
    void videoTileClicked(int channelID);

    // Shows the full-screen control panel and restarts the hiding count, in full-screen mode
    // only. May be called from any thread; the work is done on the GUI thread.
    void showFullScreenControlPanel();
    // One tick of the hiding count (every kCounterIntervalMs).
    void viewCounter();
    int elapsedTimeForControlPanelTriggered() const { return elapsedTimeForControlPanelTriggered_; }
    // The layout: picture rectangle, text frames, tiles and the decoders' target size.
    void checkNeedResizeImageViewOrNot();
    // The grid menu's item `index` was chosen: that grid, paged on when it is already in use.
    void clickVideoChannelSwitchBtn(int index);
    // After a view change: channels it decodes anew land at the moment on screen, whose first
    // picture lays the pane out; otherwise a pane whose pictures do not flow is laid out now.
    void viewChanged(bool newChannels);
    void showOSD();
    void showAndEnableDeinterlace();
    void enterFullScreen();
    void exitFullScreen();
    QSize windowWillResize(const QSize &proposed) const;
    void windowDidResize();
    // The picture-mode text of the stream's size, written for the first 30 time updates after
    // each single-view layout.
    void setDVFmtVideoModeString();
    // The picture-mode text of a DV5 mode code, written three times after each reset.
    void setDV5VideoModeString(uint8_t mode);

    // The one way a picture reaches a tile (GUI thread). `channel` is 0-based; `time` is the
    // recorder time the engine delivered with this picture.
    void showPicture(int channel, const QImage &picture, const _SYSTEMTIME &time);
    // Titles per channel (0-based); an empty optional leaves that title as it is.
    void setChannelTitles(const std::array<std::optional<QString>, 16> &titles);
    // Shows or hides the three on-screen text layers and the 16 titles together.
    void setOnScreenTextVisible(bool visible);
    // Every tile loses its picture.
    void clearPictures();
    // Every tile but channel `kept`'s (0-based) loses its picture: their decoders were released,
    // and each shows its empty tile until its channel's next picture.
    void clearPicturesExcept(int kept);
    // Channel `channel`'s (0-based) tile loses its picture until the channel's next one.
    void clearPicture(int channel);
    // The three on-screen texts are emptied.
    void clearOnScreenTexts();
    // The time label's text (the index-building progress) and the deinterlace button.
    void showServerTimeLabelText(const QString &text);
    void enableDeinterlaceButton(bool enabled);
    // Recorder time, on screen.
    void setOnScreenServerTime(const QString &text);
    void setOnScreenPercentage(const QString &text);

    // How many times the picture-mode text was written since its last reset (at most 30).
    int videoModeFrameCount() const { return videoModeFrameCount_; }

    // ---- The pane's widgets (made by initVideoPane) ----
    const std::array<CustomizedVideoView *, 16> &videoView() const { return videoView_; }
    const std::array<OsdTextLayer *, 16> &videoViewTitle() const { return videoViewTitle_; }
    OsdTextLayer *osdServerTime() const { return osdServerTime_; }
    OsdTextLayer *osdVideoMode() const { return osdVideoMode_; }
    OsdTextLayer *osdPercentage() const { return osdPercentage_; }
    // Every tile hides (a new file's layout shows them again).
    void hideTiles();

    // ---- The layout's memory ----
    // The pane's size and the picture size it was last laid out for, and the cut it showed
    // (2 forces a new layout).
    VideoPaneLayoutMemory &layoutMemory() { return memory_; }
    void forceNewLayout() { memory_.prevVideoPaneCutState = 2; }
    // Grid kind: 0 none, 1..5 for 4, 6, 9, 12 and 16 panes; the first channel of each grid's page.
    int miscellaneousBtnState() const { return miscellaneousBtnState_; }
    void setMiscellaneousBtnState(int kind) { miscellaneousBtnState_ = kind; }
    const GridStartIndexes &gridStartIndexes() const { return starts_; }
    void setGridStartIndexes(const GridStartIndexes &starts) { starts_ = starts; }
    bool isInFullScreenMode() const { return fullScreen_; }
    void setIsInFullScreenMode(bool on) { fullScreen_ = on; }

    static constexpr int kVideoModeWrites = 30;
    // Milliseconds and seconds between two ticks of the hiding count, and the count at which
    // the full-screen panel hides.
    static constexpr int kCounterIntervalMs = 2000;
    static constexpr int kCounterStepSeconds = 2;
    static constexpr int kHideAfterSeconds = 6;
    // How long full-screen mode waits for the window manager before laying the pane out.
    static constexpr int kFullScreenSettleMicroseconds = 30000;

  private:
    bool onScreenTextOn() const;
    void applyPendingWindowLayout();
    void showVideoModeText(const QString &text);

    VideoPaneViews v_;
    OpenFile &file_;
    EngineShared &shared_;
    VideoPanePort &port_;
    std::array<CustomizedVideoView *, 16> videoView_{};
    std::array<OsdTextLayer *, 16> videoViewTitle_{};
    OsdTextLayer *osdServerTime_ = nullptr;
    OsdTextLayer *osdVideoMode_ = nullptr;
    OsdTextLayer *osdPercentage_ = nullptr;
    VideoPaneLayoutMemory memory_;
    int miscellaneousBtnState_ = 0;
    GridStartIndexes starts_{0, 0, 0, 0};
    bool fullScreen_ = false;
    QRect videoPaneFrame_;
    int videoModeFrameCount_ = 0;
    int elapsedTimeForControlPanelTriggered_ = 0;
};
