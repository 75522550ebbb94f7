#include "app/video_pane/video_pane.h"
#include "app/logic/player_state.h"

#include <QComboBox>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

#include "app/ColorSettingPanel.h"
#include "app/VistrelAppDelegate.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/controls/CustomizedView.h"
#include "app/controls/OsdTextLayer.h"
#include "app/controls/WindowPaintPacer.h"
#include "app/frame_geometry.h"
#include "app/logic/video_pane_layout.h"
#include "app/main_window.h"
#include "platform/log.h"

namespace {
constexpr int kChannels = 16;
constexpr qreal kTextSize = 15.0;
const QRectF kTitleFrame(6.0, 0.0, 150.0, 30.0);
const QColor kPaneColour = QColor::fromRgbF(0.05f, 0.05f, 0.05f, 1.0f);

QRectF toQt(const LayoutRect &r) {
    return QRectF(r.x, r.y, r.width, r.height);
}

OsdTextLayer *makeTextLayer(Qt::Alignment alignment, const QColor &colour, QWidget *parent) {
    auto *layer = new OsdTextLayer(alignment, parent);
    layer->setForegroundColor(colour);
    layer->setFontSize(kTextSize);
    return layer;
}
} // namespace

VideoPane::VideoPane(VistrelAppDelegate &app) : app_(app) {}

bool VideoPane::onScreenTextOn() const {
    return app_.osdEnableBtn && app_.osdEnableBtn->isChecked();
}

void VideoPane::initVideoPane() {
    CustomizedView *pane = app_.videoPane;
    if (!pane) return;
    // The window is painted at most once per display frame: the tiles' pictures, and whatever
    // else changed with them, together.
    if (QWidget *window = pane->window(); window && window != pane) new WindowPaintPacer(window);
    for (int i = 0; i < kChannels; ++i) {
        auto *tile = new CustomizedVideoView(pane);
        app_.videoView[i] = tile;
        OsdTextLayer *title = makeTextLayer(Qt::AlignLeft, Qt::white, tile);
        app_.videoViewTitle[i] = title;
        // The colour panel recolours the titles.
        if (app_.colorSettingPanel) app_.colorSettingPanel->deliverVideoViewTitle(title, i);
        // The pane's own colour: where a picture leaves a pixel of rounding uncovered the tile
        // looks as the pane does, and the tile is painted without the pane below it.
        tile->setBackgroundColor(kPaneColour);
        tile->setBorderColor(Qt::white);
        tile->setBorderWidth(1.25);
        tile->setChannelID(i + 1);
        connectTile(tile);
        tile->hide();
    }
    app_.osdServerTime = makeTextLayer(Qt::AlignHCenter, Qt::white, pane);
    app_.osdVideoMode = makeTextLayer(Qt::AlignLeft, Qt::white, pane);
    app_.osdPercentage = makeTextLayer(Qt::AlignHCenter, QColor::fromRgbF(1, 1, 0, 1), pane);
    for (OsdTextLayer *layer : {app_.osdServerTime, app_.osdVideoMode, app_.osdPercentage})
        layer->raise();
    pane->setBackgroundColor(kPaneColour);
    if (app_.fullScreenControlPanel) app_.fullScreenControlPanel->raise();

    QObject::connect(pane, &CustomizedView::pointerActivity, pane, [this] { showFullScreenControlPanel(); });
    auto *counterTimer = new QTimer(pane);
    counterTimer->setInterval(kCounterIntervalMs);
    QObject::connect(counterTimer, &QTimer::timeout, pane, [this] { viewCounter(); });
    counterTimer->start();
}

void VideoPane::connectTile(CustomizedVideoView *tile) {
    QObject::connect(tile, &CustomizedVideoView::clicked, tile,
                     [this](int channelID) { videoTileClicked(channelID); });
}

void VideoPane::videoTileClicked(int channelID) {
    if (app_.videoPaneLockCutStateFlag()) return;

    if (app_.videoPaneCutState() == 1) {
        const int mask = app_.iSubVideoChannelEnabledValue();
        player_log("channelID = %d\n", channelID);
        player_log("appDelg.iSubVideoChannelEnabledValue = 0x%x\n", static_cast<unsigned>(mask));
        const bool present =
            channelID >= 1 && channelID <= 16 && ((static_cast<unsigned>(mask) >> (channelID - 1)) & 1u) != 0;
        if (!present) {
            app_.setViewCutChangedAndResetDecoder(false);
            return;
        }
        app_.setICurrentSelectedVideoCH(channelID);
        app_.setVideoPaneCutState(0);
    } else {
        app_.setVideoPaneCutState(1);
    }
    app_.setViewCutChangedAndResetDecoder(true);
    app_.setDecoderTargetWidth(0.0f);
    app_.setDecoderTargetHeight(0.0f);
    app_.setPreviousVideoPaneWidth(0.0f);
}

void VideoPane::showFullScreenControlPanel() {
    CustomizedView *pane = app_.videoPane;
    if (!pane) return;
    if (QThread::currentThread() != pane->thread()) {
        QMetaObject::invokeMethod(
            pane, [this] { showFullScreenControlPanel(); }, Qt::QueuedConnection);
        return;
    }
    if (!app_.isInFullScreenMode()) return;
    elapsedTimeForControlPanelTriggered_ = 0;
    if (QWidget *panel = app_.fullScreenControlPanel) panel->setVisible(true);
}

void VideoPane::viewCounter() {
    if (!app_.isInFullScreenMode()) return;
    elapsedTimeForControlPanelTriggered_ += kCounterStepSeconds;
    if (elapsedTimeForControlPanelTriggered_ >= kHideAfterSeconds) {
        if (QWidget *panel = app_.fullScreenControlPanel) panel->setVisible(false);
        elapsedTimeForControlPanelTriggered_ = 0;
    }
}

void VideoPane::checkNeedResizeImageViewOrNot() {
    CustomizedView *pane = app_.videoPane;
    if (!pane) return;
    VideoPaneLayoutInput in;
    in.paneWidth = static_cast<float>(pane->width());
    in.paneHeight = static_cast<float>(pane->height());
    in.streamWidth = app_.iImageWidthFromStream();
    in.streamHeight = app_.iImageHeightFromStream();
    in.imageRealWidth = app_.imageRealWidth();
    in.imageRealHeight = app_.imageRealHeight();
    in.videoPaneCutState = app_.videoPaneCutState();
    in.miscellaneousBtnState = app_.miscellaneousBtnState();
    in.isIndependentFlag = app_.isIndependentFlag();
    in.starts = app_.gridStartIndexes();
    in.iCurrentSelectedVideoCH = app_.iCurrentSelectedVideoCH();
    in.converting = app_.playerState() == kPlayerStateConverting;

    VideoPaneLayoutMemory memory;
    memory.previousVideoPaneWidth = app_.previousVideoPaneWidth();
    memory.previousVideoPaneHeight = app_.previousVideoPaneHeight();
    memory.previousImageRealWidth = app_.previousImageRealWidth();
    memory.previousImageRealHeight = app_.previousImageRealHeight();
    memory.prevVideoPaneCutState = app_.prevVideoPaneCutState();
    memory.picture = {app_.videoViewOriginX(), app_.videoViewOriginY(), app_.videoViewWidth(),
                      app_.videoViewHeight()};

    const VideoPaneLayoutResult result = ::checkNeedResizeImageViewOrNot(in, memory);
    // Before the first picture, or with a pane of no size, there is nothing to fit yet.
    if (!result.laidOut) return;

    app_.setPreviousVideoPaneWidth(memory.previousVideoPaneWidth);
    app_.setPreviousVideoPaneHeight(memory.previousVideoPaneHeight);
    app_.setPreviousImageRealWidth(memory.previousImageRealWidth);
    app_.setPreviousImageRealHeight(memory.previousImageRealHeight);
    app_.setPrevVideoPaneCutState(memory.prevVideoPaneCutState);

    if (result.pictureChanged) {
        if (result.fit.imageRealSizeForced) {
            app_.setImageRealWidth(result.fit.imageRealWidth);
            app_.setImageRealHeight(result.fit.imageRealHeight);
        }
        const LayoutRect &p = result.fit.picture;
        app_.setVideoViewOriginX(p.x);
        app_.setVideoViewOriginY(p.y);
        app_.setVideoViewWidth(p.width);
        app_.setVideoViewHeight(p.height);
        setBottomUpFrame(app_.osdVideoMode, toQt(result.osd.videoMode), pane);
        setBottomUpFrame(app_.osdServerTime, toQt(result.osd.serverTime), pane);
        setBottomUpFrame(app_.osdPercentage, toQt(result.osd.percentage), pane);
    }
    if (!result.tilesChanged) return;

    for (CustomizedVideoView *tile : app_.videoView)
        if (tile) tile->hide();
    const int cut = app_.videoPaneCutState();
    if (cut == 0) {
        if (app_.playerState() == kPlayerStatePlaying && app_.snapShotBtn) app_.snapShotBtn->setEnabled(true);
        if (app_.engineFramesFlowing()) videoModeFrameCount_ = 0;
        if (app_.channelIndex() != 1) {
            if (app_.videoModeLabel) app_.videoModeLabel->show();
            if (app_.osdVideoMode && onScreenTextOn()) app_.osdVideoMode->show();
        }
    } else if (cut == 1) {
        if (app_.snapShotBtn) app_.snapShotBtn->setEnabled(false);
        if (app_.videoModeLabel) app_.videoModeLabel->hide();
        if (app_.osdVideoMode) app_.osdVideoMode->hide();
    }
    for (const TileFrame &t : result.tiles.tiles) {
        if (t.channel < 0 || t.channel >= kChannels) continue;
        CustomizedVideoView *tile = app_.videoView[t.channel];
        if (!tile) continue;
        setBottomUpFrame(tile, toQt(t.frame), pane);
        if (OsdTextLayer *title = app_.videoViewTitle[t.channel]) setBottomUpFrame(title, kTitleFrame, tile);
        tile->show();
    }
    // Text stays above the tiles.
    for (OsdTextLayer *layer : {app_.osdServerTime, app_.osdVideoMode, app_.osdPercentage})
        if (layer) layer->raise();
    if (app_.fullScreenControlPanel) app_.fullScreenControlPanel->raise();
    app_.setDecoderTargetWidth(result.decoderTarget.width);
    app_.setDecoderTargetHeight(result.decoderTarget.height);
}

void VideoPane::clickVideoChannelSwitchBtn(int index) {
    player_log("clickVideoChannelSwitchBtn...\n");
    player_log("index of %d item is selected\n", index);
    app_.setIsResizingVideoPane(true);
    int kind = app_.miscellaneousBtnState();
    GridStartIndexes starts = app_.gridStartIndexes();
    if (!::clickVideoChannelSwitchBtn(index, app_.channelIndex(), kind, starts)) return;
    app_.setMiscellaneousBtnState(kind);
    app_.setGridStartIndexes(starts);
    app_.setVideoPaneCutState(kCutStateGrid);
    app_.setPreviousVideoPaneWidth(0.0f);
}

void VideoPane::showOSD() {
    const bool on = onScreenTextOn();
    if (app_.osdServerTime) app_.osdServerTime->setVisible(on);
    if (app_.osdPercentage) app_.osdPercentage->setVisible(on);
    if (app_.osdVideoMode) app_.osdVideoMode->setVisible(on && app_.videoPaneCutState() == kCutStateSingle);
    for (OsdTextLayer *title : app_.videoViewTitle)
        if (title) title->setVisible(on);
}

void VideoPane::showAndEnableDeinterlace() {
    const bool on = app_.deinterlaceEnableBtn && app_.deinterlaceEnableBtn->isChecked();
    if (app_.deinterlaceStatusImageView) app_.deinterlaceStatusImageView->setVisible(on);
    if (app_.fullScreenDeinterlaceStatusImageView) app_.fullScreenDeinterlaceStatusImageView->setVisible(on);
    app_.setVideoDeinterlaceFlag(on);
}

void VideoPane::enterFullScreen() {
    if (!app_.playbackIsActivated() || app_.playerState() != kPlayerStatePlaying || app_.isInFullScreenMode())
        return;
    MainWindow *window = app_.window;
    if (!window || !app_.videoPane) return;
    app_.videoPaneFrame = app_.videoPane->geometry();
    // Only the pane is left in the window, and the window covers the screen.
    window->ui.statusRow->hide();
    window->ui.controlRow->hide();
    window->showFullScreen();
    if (app_.fullScreenControlPanel) {
        app_.fullScreenControlPanel->show();
        app_.fullScreenControlPanel->raise();
    }
    usleep(kFullScreenSettleMicroseconds);
    app_.setIsResizingVideoPane(true);
    checkNeedResizeImageViewOrNot();
    app_.setIsInFullScreenMode(true);
}

void VideoPane::exitFullScreen() {
    if (app_.isInFullScreenMode()) {
        if (MainWindow *window = app_.window) {
            window->showNormal();
            window->ui.statusRow->show();
            window->ui.controlRow->show();
        }
        if (app_.fullScreenControlPanel) app_.fullScreenControlPanel->hide();
        usleep(kFullScreenSettleMicroseconds);
        app_.setIsResizingVideoPane(true);
        checkNeedResizeImageViewOrNot();
    }
    app_.setIsInFullScreenMode(false);
}

QSize VideoPane::windowWillResize(const QSize &proposed) const {
    return app_.playerState() == kPlayerStateConverting ? app_.windowSizeWhileAVIConversion : proposed;
}

void VideoPane::windowDidResize() {
    app_.setIsResizingVideoPane(true);
    // While playing the next picture relays the pane; otherwise it is done now, once a picture
    // has given the layout a size to fit.
    if (!app_.isPlaybackNow() && app_.imageRealHeight() != 0) checkNeedResizeImageViewOrNot();
}

void VideoPane::setDVFmtVideoModeString() {
    if (videoModeFrameCount_ >= kVideoModeWrites) return;
    ++videoModeFrameCount_;
    showVideoModeText(
        QString::fromStdString(videoModeString(app_.iImageWidthFromStream(), app_.iImageHeightFromStream())));
}

void VideoPane::setDV5VideoModeString(uint8_t mode) {
    const bool labelEmpty = app_.videoModeLabel && app_.videoModeLabel->text().isEmpty();
    const bool due = dv5VideoModeWriteDue(labelEmpty, videoModeFrameCount_);
    player_log("setDV5VideoModeString...\n\n");
    player_log("iSize = %d\n", mode);
    if (!due) return;
    showVideoModeText(QString::fromStdString(
        dv5VideoModeString(mode, app_.iImageWidthFromStream(), app_.iImageHeightFromStream())));
}

void VideoPane::showVideoModeText(const QString &text) {
    if (app_.videoModeLabel) app_.videoModeLabel->setText(text);
    if (app_.osdVideoMode) app_.osdVideoMode->setString(text);
}

void VideoPane::showPicture(int channel, const QImage &picture, const _SYSTEMTIME &time) {
    if (channel < 0 || channel >= kChannels) return;
    // A pending snapshot takes the shown channel's picture as the engine made it, before the
    // colour controls; a conversion takes none.
    if (app_.playerState() != kPlayerStateConverting && app_.videoPaneCutState() == kCutStateSingle &&
        channel + 1 == app_.iCurrentSelectedVideoCH())
        app_.saveSnapshotImage(picture, time);
    // The colour controls make a new image: the engine's picture is never written.
    if (CustomizedVideoView *tile = app_.videoView[channel])
        tile->setContents(app_.colourFilteredPicture(channel, picture));
}

void VideoPane::setChannelTitles(const std::array<std::optional<QString>, 16> &titles) {
    for (int n = 0; n < kChannels; ++n)
        if (titles[n] && app_.videoViewTitle[n]) app_.videoViewTitle[n]->setString(*titles[n]);
}

void VideoPane::setOnScreenTextVisible(bool visible) {
    for (OsdTextLayer *layer : {app_.osdServerTime, app_.osdVideoMode, app_.osdPercentage})
        if (layer) layer->setVisible(visible);
    for (OsdTextLayer *title : app_.videoViewTitle)
        if (title) title->setVisible(visible);
}

void VideoPane::clearPictures() {
    for (CustomizedVideoView *tile : app_.videoView)
        if (tile) tile->setContents(QImage());
    app_.colorFilter.clearTilePictures();
}

void VideoPane::setOnScreenServerTime(const QString &text) {
    if (app_.osdServerTime) app_.osdServerTime->setString(text);
}

void VideoPane::setOnScreenPercentage(const QString &text) {
    if (app_.osdPercentage) app_.osdPercentage->setString(text);
}
