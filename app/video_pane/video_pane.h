// The video pane: sixteen channel tiles with their titles, laid out as one picture or as a
// grid of 4, 6, 9, 12 or 16 tiles, the three on-screen text layers (recorder time, picture mode,
// percentage), paging through the channels, window resizing and full-screen mode, and the
// picture path from the engines to the tiles.
//
// GUI thread only. The geometry comes from the pure layout functions (app/logic); this class
// keeps the delegate's layout fields up to date and applies the results to the widgets.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

#include "recorderfile/recorder_time.h"

class CustomizedVideoView;
class VistrelAppDelegate;

class VideoPane {
  public:
    explicit VideoPane(VistrelAppDelegate &app);
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
    // Recorder time, on screen.
    void setOnScreenServerTime(const QString &text);
    void setOnScreenPercentage(const QString &text);

    // How many times the picture-mode text was written since its last reset (at most 30).
    int videoModeFrameCount() const { return videoModeFrameCount_; }

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
    void showVideoModeText(const QString &text);

    VistrelAppDelegate &app_;
    int videoModeFrameCount_ = 0;
    int elapsedTimeForControlPanelTriggered_ = 0;
};
