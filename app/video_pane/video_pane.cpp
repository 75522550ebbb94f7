#include "app/video_pane/video_pane.h"
#include "app/logic/player_state.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

#include "app/controls/CustomizedVideoView.h"
#include "app/controls/CustomizedView.h"
#include "app/controls/OsdTextLayer.h"
#include "app/controls/WindowPaintPacer.h"
#include "app/frame_geometry.h"
#include "app/logic/video_pane_layout.h"
#include "app/main_window.h"
#include "app/open_file/open_file.h"
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

VideoPane::VideoPane(const VideoPaneViews &views, OpenFile &file, EngineShared &shared, VideoPanePort &port)
    : v_(views), file_(file), shared_(shared), port_(port) {
    memory_.prevVideoPaneCutState = 0;
}

bool VideoPane::onScreenTextOn() const {
    return v_.osdEnableBtn && v_.osdEnableBtn->isChecked();
}

void VideoPane::initVideoPane() {
    CustomizedView *pane = v_.videoPane;
    if (!pane) return;
    // The window is painted at most once per display frame: the tiles' pictures, and whatever
    // else changed with them, together.
    if (QWidget *window = pane->window(); window && window != pane) new WindowPaintPacer(window);
    for (int i = 0; i < kChannels; ++i) {
        auto *tile = new CustomizedVideoView(pane);
        videoView_[i] = tile;
        OsdTextLayer *title = makeTextLayer(Qt::AlignLeft, Qt::white, tile);
        videoViewTitle_[i] = title;
        // The pane's own colour: where a picture leaves a pixel of rounding uncovered the tile
        // looks as the pane does, and the tile is painted without the pane below it.
        tile->setBackgroundColor(kPaneColour);
        tile->setBorderColor(Qt::white);
        tile->setBorderWidth(1.25);
        tile->setChannelID(i + 1);
        connectTile(tile);
        tile->hide();
    }
    osdServerTime_ = makeTextLayer(Qt::AlignHCenter, Qt::white, pane);
    osdVideoMode_ = makeTextLayer(Qt::AlignLeft, Qt::white, pane);
    osdPercentage_ = makeTextLayer(Qt::AlignHCenter, QColor::fromRgbF(1, 1, 0, 1), pane);
    for (OsdTextLayer *layer : {osdServerTime_, osdVideoMode_, osdPercentage_})
        layer->raise();
    pane->setBackgroundColor(kPaneColour);
    if (v_.fullScreenControlPanel) v_.fullScreenControlPanel->raise();

    // The panel's own buttons and slider keep the pointer's events: moves over them keep it shown.
    pane->reportPointerOver(v_.fullScreenControlPanel);
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
    if (file_.cutLocked()) return;

    if (file_.cutState() == CutState::Grid) {
        const int mask = file_.videoMask();
        player_log("channelID = %d\n", channelID);
        player_log("appDelg.iSubVideoChannelEnabledValue = 0x%x\n", static_cast<unsigned>(mask));
        const bool present =
            channelID >= 1 && channelID <= 16 && ((static_cast<unsigned>(mask) >> (channelID - 1)) & 1u) != 0;
        if (!present) {
            shared_.viewCutChanged.store(false);
            return;
        }
        file_.setSelectedVideoChannel(channelID);
        file_.setCutState(CutState::Single);
    } else {
        file_.setCutState(CutState::Grid);
    }
    shared_.viewCutChanged.store(true);
    shared_.decoderTargetWidth.store(0.0f);
    shared_.decoderTargetHeight.store(0.0f);
    memory_.previousVideoPaneWidth = 0.0f;
    viewChanged(file_.cutState() == CutState::Grid);
}

void VideoPane::viewChanged(bool newChannels) {
    if (newChannels && port_.landOnScreen()) return;
    shared_.resizingVideoPane.store(true);
    if (port_.picturesHeld() && shared_.imageRealHeight.load() != 0) checkNeedResizeImageViewOrNot();
}

void VideoPane::showFullScreenControlPanel() {
    CustomizedView *pane = v_.videoPane;
    if (!pane) return;
    if (QThread::currentThread() != pane->thread()) {
        QMetaObject::invokeMethod(
            pane, [this] { showFullScreenControlPanel(); }, Qt::QueuedConnection);
        return;
    }
    if (!fullScreen_) return;
    elapsedTimeForControlPanelTriggered_ = 0;
    if (QWidget *panel = v_.fullScreenControlPanel) panel->setVisible(true);
}

void VideoPane::viewCounter() {
    if (!fullScreen_) return;
    elapsedTimeForControlPanelTriggered_ += kCounterStepSeconds;
    if (elapsedTimeForControlPanelTriggered_ >= kHideAfterSeconds) {
        if (QWidget *panel = v_.fullScreenControlPanel) panel->setVisible(false);
        elapsedTimeForControlPanelTriggered_ = 0;
    }
}

void VideoPane::checkNeedResizeImageViewOrNot() {
    CustomizedView *pane = v_.videoPane;
    if (!pane) return;
    VideoPaneLayoutInput in;
    in.paneWidth = static_cast<float>(pane->width());
    in.paneHeight = static_cast<float>(pane->height());
    in.streamWidth = shared_.streamWidth.load();
    in.streamHeight = shared_.streamHeight.load();
    in.imageRealWidth = shared_.imageRealWidth.load();
    in.imageRealHeight = shared_.imageRealHeight.load();
    in.videoPaneCutState = static_cast<int>(file_.cutState());
    in.miscellaneousBtnState = miscellaneousBtnState_;
    in.isIndependentFlag = file_.independent();
    in.starts = starts_;
    in.iCurrentSelectedVideoCH = file_.selectedVideoChannel();
    in.converting = file_.playerState() == PlayerState::Converting;

    VideoPaneLayoutMemory memory = memory_;
    const VideoPaneLayoutResult result = ::checkNeedResizeImageViewOrNot(in, memory);
    // Before the first picture, or with a pane of no size, there is nothing to fit yet.
    if (!result.laidOut) return;
    memory_ = memory;

    if (result.pictureChanged) {
        if (result.fit.imageRealSizeForced) {
            shared_.imageRealWidth.store(result.fit.imageRealWidth);
            shared_.imageRealHeight.store(result.fit.imageRealHeight);
        }
        setBottomUpFrame(osdVideoMode_, toQt(result.osd.videoMode), pane);
        setBottomUpFrame(osdServerTime_, toQt(result.osd.serverTime), pane);
        setBottomUpFrame(osdPercentage_, toQt(result.osd.percentage), pane);
    }
    if (!result.tilesChanged) return;

    for (CustomizedVideoView *tile : videoView_)
        if (tile) tile->hide();
    const int cut = static_cast<int>(file_.cutState());
    if (cut == 0) {
        if (file_.playerState() == PlayerState::Playing && v_.snapShotBtn) v_.snapShotBtn->setEnabled(true);
        if (port_.engineFramesFlowing()) videoModeFrameCount_ = 0;
        if (file_.channelIndex() != 1) {
            if (v_.videoModeLabel) v_.videoModeLabel->show();
            if (osdVideoMode_ && onScreenTextOn()) osdVideoMode_->show();
        }
    } else if (cut == 1) {
        if (v_.snapShotBtn) v_.snapShotBtn->setEnabled(false);
        if (v_.videoModeLabel) v_.videoModeLabel->hide();
        if (osdVideoMode_) osdVideoMode_->hide();
    }
    for (const TileFrame &t : result.tiles.tiles) {
        if (t.channel < 0 || t.channel >= kChannels) continue;
        CustomizedVideoView *tile = videoView_[t.channel];
        if (!tile) continue;
        setBottomUpFrame(tile, toQt(t.frame), pane);
        if (OsdTextLayer *title = videoViewTitle_[t.channel]) setBottomUpFrame(title, kTitleFrame, tile);
        tile->show();
    }
    // Text stays above the tiles.
    for (OsdTextLayer *layer : {osdServerTime_, osdVideoMode_, osdPercentage_})
        if (layer) layer->raise();
    if (v_.fullScreenControlPanel) v_.fullScreenControlPanel->raise();
    shared_.decoderTargetWidth.store(result.decoderTarget.width);
    shared_.decoderTargetHeight.store(result.decoderTarget.height);
}

void VideoPane::clickVideoChannelSwitchBtn(int index) {
    player_log("clickVideoChannelSwitchBtn...\n");
    player_log("index of %d item is selected\n", index);
    shared_.resizingVideoPane.store(true);
    int kind = miscellaneousBtnState_;
    GridStartIndexes starts = starts_;
    if (!::clickVideoChannelSwitchBtn(index, file_.channelIndex(), kind, starts)) return;
    miscellaneousBtnState_ = kind;
    starts_ = starts;
    const bool fromSingle = file_.cutState() == CutState::Single;
    file_.setCutState(CutState::Grid);
    memory_.previousVideoPaneWidth = 0.0f;
    viewChanged(fromSingle);
}

void VideoPane::showOSD() {
    const bool on = onScreenTextOn();
    if (osdServerTime_) osdServerTime_->setVisible(on);
    if (osdPercentage_) osdPercentage_->setVisible(on);
    if (osdVideoMode_) osdVideoMode_->setVisible(on && file_.cutState() == CutState::Single);
    for (OsdTextLayer *title : videoViewTitle_)
        if (title) title->setVisible(on);
}

void VideoPane::showAndEnableDeinterlace() {
    const bool on = v_.deinterlaceEnableBtn && v_.deinterlaceEnableBtn->isChecked();
    if (v_.deinterlaceStatusImageView) v_.deinterlaceStatusImageView->setVisible(on);
    if (v_.fullScreenDeinterlaceStatusImageView) v_.fullScreenDeinterlaceStatusImageView->setVisible(on);
    shared_.deinterlace.store(on);
}

void VideoPane::enterFullScreen() {
    if (!file_.activated() || file_.playerState() != PlayerState::Playing || fullScreen_) return;
    QWidget *window = v_.window;
    if (!window || !v_.videoPane) return;
    videoPaneFrame_ = v_.videoPane->geometry();
    // Only the pane is left in the window, and the window covers the screen.
    for (QWidget *row : {v_.statusRow, v_.controlRow})
        if (row) row->hide();
    window->showFullScreen();
    if (v_.fullScreenControlPanel) {
        v_.fullScreenControlPanel->show();
        v_.fullScreenControlPanel->raise();
    }
    usleep(kFullScreenSettleMicroseconds);
    applyPendingWindowLayout();
    shared_.resizingVideoPane.store(true);
    checkNeedResizeImageViewOrNot();
    fullScreen_ = true;
}

void VideoPane::exitFullScreen() {
    if (fullScreen_) {
        if (QWidget *window = v_.window) {
            window->showNormal();
            for (QWidget *row : {v_.statusRow, v_.controlRow})
                if (row) row->show();
        }
        if (v_.fullScreenControlPanel) v_.fullScreenControlPanel->hide();
        usleep(kFullScreenSettleMicroseconds);
        applyPendingWindowLayout();
        shared_.resizingVideoPane.store(true);
        checkNeedResizeImageViewOrNot();
    }
    fullScreen_ = false;
}

void VideoPane::applyPendingWindowLayout() {
    // Hiding or showing the two rows resizes the pane only when Qt next lays the window out; a
    // window that keeps its size (a window manager that ignores full screen) sends no resize
    // notice afterwards, so the pane's new size is taken now, before the layout reads it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

QSize VideoPane::windowWillResize(const QSize &proposed) const {
    return file_.playerState() == PlayerState::Converting ? port_.windowSizeWhileAVIConversion() : proposed;
}

void VideoPane::windowDidResize() {
    shared_.resizingVideoPane.store(true);
    // While playing the next picture relays the pane; otherwise it is done now, once a picture
    // has given the layout a size to fit.
    if (!shared_.playbackNow.load() && shared_.imageRealHeight.load() != 0) checkNeedResizeImageViewOrNot();
}

void VideoPane::setDVFmtVideoModeString() {
    if (videoModeFrameCount_ >= kVideoModeWrites) return;
    ++videoModeFrameCount_;
    showVideoModeText(
        QString::fromStdString(videoModeString(shared_.streamWidth.load(), shared_.streamHeight.load())));
}

void VideoPane::setDV5VideoModeString(uint8_t mode) {
    const bool labelEmpty = v_.videoModeLabel && v_.videoModeLabel->text().isEmpty();
    const bool due = dv5VideoModeWriteDue(labelEmpty, videoModeFrameCount_);
    player_log("setDV5VideoModeString...\n\n");
    player_log("iSize = %d\n", mode);
    if (!due) return;
    showVideoModeText(QString::fromStdString(
        dv5VideoModeString(mode, shared_.streamWidth.load(), shared_.streamHeight.load())));
}

void VideoPane::showVideoModeText(const QString &text) {
    if (v_.videoModeLabel) v_.videoModeLabel->setText(text);
    if (osdVideoMode_) osdVideoMode_->setString(text);
}

void VideoPane::showPicture(int channel, const QImage &picture, const _SYSTEMTIME &time) {
    if (channel < 0 || channel >= kChannels) return;
    // A snapshot takes the shown channel's picture as the engine made it, before the colour
    // controls: a pending one the next picture, one asked for while paused the last; a
    // conversion takes none.
    if (file_.playerState() != PlayerState::Converting) {
        port_.keepShownPicture(channel, picture, time);
        if (file_.cutState() == CutState::Single && channel + 1 == file_.selectedVideoChannel())
            port_.saveSnapshotImage(picture, time);
    }
    // The colour controls make a new image: the engine's picture is never written.
    if (CustomizedVideoView *tile = videoView_[channel])
        tile->setContents(port_.colourFilteredPicture(channel, picture));
}

void VideoPane::setChannelTitles(const std::array<std::optional<QString>, 16> &titles) {
    for (int n = 0; n < kChannels; ++n)
        if (titles[n] && videoViewTitle_[n]) videoViewTitle_[n]->setString(*titles[n]);
}

void VideoPane::setOnScreenTextVisible(bool visible) {
    for (OsdTextLayer *layer : {osdServerTime_, osdVideoMode_, osdPercentage_})
        if (layer) layer->setVisible(visible);
    for (OsdTextLayer *title : videoViewTitle_)
        if (title) title->setVisible(visible);
}

void VideoPane::clearPictures() {
    for (CustomizedVideoView *tile : videoView_)
        if (tile) tile->setContents(QImage());
    port_.clearColourPictures();
    port_.forgetShownPictures();
}

void VideoPane::clearPicturesExcept(int kept) {
    for (int channel = 0; channel < kChannels; ++channel)
        if (channel != kept) clearPicture(channel);
}

void VideoPane::clearPicture(int channel) {
    if (channel < 0 || channel >= kChannels) return;
    if (CustomizedVideoView *tile = videoView_[channel]) tile->setContents(QImage());
    port_.clearColourPicture(channel);
    port_.forgetShownPicture(channel);
}

void VideoPane::clearOnScreenTexts() {
    for (OsdTextLayer *layer : {osdServerTime_, osdVideoMode_, osdPercentage_})
        if (layer) layer->setString(QString());
}

void VideoPane::hideTiles() {
    for (CustomizedVideoView *tile : videoView_)
        if (tile) tile->hide();
}

void VideoPane::showServerTimeLabelText(const QString &text) {
    if (v_.serverTimeLabel) v_.serverTimeLabel->setText(text);
}

void VideoPane::enableDeinterlaceButton(bool enabled) {
    if (v_.deinterlaceEnableBtn) v_.deinterlaceEnableBtn->setEnabled(enabled);
}

void VideoPane::setOnScreenServerTime(const QString &text) {
    if (osdServerTime_) osdServerTime_->setString(text);
}

void VideoPane::setOnScreenPercentage(const QString &text) {
    if (osdPercentage_) osdPercentage_->setString(text);
}

VideoPaneViews videoPaneViewsOf(MainWindow &window) {
    Ui::MainWindow &ui = window.ui;
    VideoPaneViews v;
    v.videoPane = ui.videoPane;
    v.osdEnableBtn = ui.osdEnableBtn;
    v.deinterlaceEnableBtn = ui.deinterlaceEnableBtn;
    v.snapShotBtn = ui.snapShotBtn;
    v.videoModeLabel = ui.videoModeLabel;
    v.serverTimeLabel = ui.serverTimeLabel;
    v.deinterlaceStatusImageView = ui.deinterlaceStatusImageView;
    v.fullScreenDeinterlaceStatusImageView = ui.fullScreenDeinterlaceStatusImageView;
    v.fullScreenControlPanel = ui.fullScreenControlPanel;
    v.window = &window;
    v.statusRow = ui.statusRow;
    v.controlRow = ui.controlRow;
    return v;
}
