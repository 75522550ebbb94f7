// The delegate's part in building the main window: status images, window and panel finish,
// the two progress sliders with their bars, the control strips, the status strip and the two
// channel menus.
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QSlider>

#include "app/ColorSettingPanel.h"
#include "app/ConfigSettingPanel.h"
#include "app/VistrelAppDelegate.h"
#include "app/channel_selection_panel.h"
#include "app/controls/ColorGradientView.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/controls/LayerView.h"
#include "app/frame_geometry.h"
#include "app/image_named.h"
#include "app/main_window.h"

namespace {

const char *const kKnobImageName = "slidebar_dot.png";
const char *const kGridImageNames[] = {"4ch_bk.png", "6ch_bk.png", "9ch_bk.png", "12ch_bk.png",
                                       "16ch_bk.png"};

// How one progress slider and its two bars look.
struct ProgressSliderLook {
    float grooveHeight;
    float barsOffset;
    QColor elapsedStart, elapsedEnd, elapsedBorder;
    QColor grooveBackground, grooveBorder;
};

QColor rgba(float r, float g, float b, float a) {
    return QColor::fromRgbF(r, g, b, a);
}

void setUpProgressSlider(CustomizedProgressSlider *slider, const QRectF &frame,
                         const ProgressSliderLook &look) {
    if (!slider) return;
    slider->setFrameWithKnobImage(frame, QString::fromLatin1(kKnobImageName), look.grooveHeight,
                                  look.barsOffset);
    setBottomUpFrame(slider, frame);
    CustomizedProgressSliderCell *cell = slider->progressSliderCell();
    const QWidget *superview = slider->parentWidget();
    if (ColorGradientView *bar = cell->leftBarView()) {
        // The cell moves and sizes the bar again whenever it draws the knob.
        setBottomUpFrame(bar, frame, superview);
        bar->setStartingColor(look.elapsedStart);
        bar->setEndingColor(look.elapsedEnd);
        bar->setAngle(180);
        bar->setCornerRadius(4.0);
        bar->setBorderColor(look.elapsedBorder);
        bar->setBorderWidth(1.0);
    }
    if (LayerView *groove = cell->rightBarView()) {
        setBottomUpFrame(groove, frame, superview);
        groove->setBackgroundColor(look.grooveBackground);
        groove->setCornerRadius(4.0);
        groove->setBorderColor(look.grooveBorder);
        groove->setBorderWidth(1.0);
    }
}

// Groove first, then the elapsed bar, then the slider: each is drawn over the one before.
void placeProgressSlider(QWidget *panel, CustomizedProgressSlider *slider) {
    if (!panel || !slider) return;
    CustomizedProgressSliderCell *cell = slider->progressSliderCell();
    QWidget *layers[] = {cell->rightBarView(), cell->leftBarView(), slider};
    for (QWidget *layer : layers) {
        if (!layer) continue;
        if (layer->parentWidget() != panel) {
            const QRect geometry = layer->geometry();
            layer->setParent(panel);
            layer->setGeometry(geometry);
        }
        layer->raise();
        layer->show();
    }
}

} // namespace

void VistrelAppDelegate::initNSImageIcon() {
    aviConvertStatusImg = imageNamed("avi_convert_status.png");
    playStatusImg = imageNamed("play.png");
    pauseStatusImg = imageNamed("pause.png");
    stopStatusImg = imageNamed("stop.png");
    fastRwd1xStatusImg = imageNamed("fast_rewind_1x.png");
    fastFwd2xStatusImg = imageNamed("fast_forward_2x.png");
    fastRwd2xStatusImg = imageNamed("fast_rewind_2x.png");
    fastFwd4xStatusImg = imageNamed("fast_forward_4x.png");
    fastRwd4xStatusImg = imageNamed("fast_rewind_4x.png");
    fastFwd8xStatusImg = imageNamed("fast_forward_8x.png");
    fastRwd8xStatusImg = imageNamed("fast_rewind_8x.png");
    fastFwd16xStatusImg = imageNamed("fast_forward_16x.png");
    fastRwd16xStatusImg = imageNamed("fast_rewind_16x.png");
    playStatusImgInFullScreen = imageNamed("play_full.png");
    pauseStatusImgInFullScreen = imageNamed("pause_full.png");
    stopStatusImgInFullScreen = imageNamed("stop_full.png");
    fastRwd1xStatusImgInFullScreen = imageNamed("fast_rewind_1x_full.png");
    fastFwd2xStatusImgInFullScreen = imageNamed("fast_forward_2x_full.png");
    fastRwd2xStatusImgInFullScreen = imageNamed("fast_rewind_2x_full.png");
    fastFwd4xStatusImgInFullScreen = imageNamed("fast_forward_4x_full.png");
    fastRwd4xStatusImgInFullScreen = imageNamed("fast_rewind_4x_full.png");
    fastFwd8xStatusImgInFullScreen = imageNamed("fast_forward_8x_full.png");
    fastRwd8xStatusImgInFullScreen = imageNamed("fast_rewind_8x_full.png");
    fastFwd16xStatusImgInFullScreen = imageNamed("fast_forward_16x_full.png");
    fastRwd16xStatusImgInFullScreen = imageNamed("fast_rewind_16x_full.png");
}

void VistrelAppDelegate::releaseNSImageIcon() {
    QPixmap *images[] = {&aviConvertStatusImg,
                         &playStatusImg,
                         &pauseStatusImg,
                         &stopStatusImg,
                         &fastRwd1xStatusImg,
                         &fastFwd2xStatusImg,
                         &fastRwd2xStatusImg,
                         &fastFwd4xStatusImg,
                         &fastRwd4xStatusImg,
                         &fastFwd8xStatusImg,
                         &fastRwd8xStatusImg,
                         &fastFwd16xStatusImg,
                         &fastRwd16xStatusImg,
                         &playStatusImgInFullScreen,
                         &pauseStatusImgInFullScreen,
                         &stopStatusImgInFullScreen,
                         &fastRwd1xStatusImgInFullScreen,
                         &fastFwd2xStatusImgInFullScreen,
                         &fastRwd2xStatusImgInFullScreen,
                         &fastFwd4xStatusImgInFullScreen,
                         &fastRwd4xStatusImgInFullScreen,
                         &fastFwd8xStatusImgInFullScreen,
                         &fastRwd8xStatusImgInFullScreen,
                         &fastFwd16xStatusImgInFullScreen,
                         &fastRwd16xStatusImgInFullScreen};
    for (QPixmap *image : images)
        *image = QPixmap();
}

void VistrelAppDelegate::initMainWindow() {
    if (!window) return;
    // Every widget paints itself into the window's backing store; there is no separate
    // drawing mode or layer backing to turn on.
    window->setContentBorderThickness(17.0, Qt::BottomEdge);
    window->setDelegate(this);
    // The window grows to show video once a file opens.
    window->resize(kLaunchWindowWidth, kLaunchWindowHeight);
}

void VistrelAppDelegate::initChannelSelectionPanel() {
    if (channelSelectionPanel) channelSelectionPanel->setContentBorderThickness(23.0, Qt::BottomEdge);
}

void VistrelAppDelegate::initCustomizedProgressSlider() {
    const qreal knobHeight = imageNamed(QString::fromLatin1(kKnobImageName)).height();

    if (playbackProgressSlider) {
        const ProgressSliderLook look{7.0f,
                                      3.0f,
                                      rgba(0.3f, 0.3f, 0.3f, 1.0f),
                                      rgba(0.45f, 0.45f, 0.45f, 0.0f),
                                      rgba(0.9f, 0.9f, 0.9f, 1.0f),
                                      rgba(0.55f, 0.55f, 0.55f, 1.0f),
                                      rgba(0.9f, 0.9f, 0.9f, 1.0f)};
        setUpProgressSlider(playbackProgressSlider, QRectF(158.0, 6.0, 364.0, knobHeight), look);
    }
    if (fullScreenPlaybackProgressSlider) {
        const QRectF own = bottomUpFrame(fullScreenPlaybackProgressSlider);
        const ProgressSliderLook look{6.0f,
                                      4.0f,
                                      rgba(0.15f, 0.35f, 1.0f, 1.0f),
                                      rgba(0.45f, 0.6f, 1.0f, 1.0f),
                                      rgba(1.0f, 1.0f, 1.0f, 1.0f),
                                      rgba(0.7f, 0.7f, 0.7f, 0.5f),
                                      rgba(1.0f, 1.0f, 1.0f, 1.0f)};
        setUpProgressSlider(fullScreenPlaybackProgressSlider,
                            QRectF(own.x(), own.y(), own.width(), knobHeight), look);
    }
}

void VistrelAppDelegate::initControlPanel() {
    if (deinterlaceStatusImageView) deinterlaceStatusImageView->setVisible(false);
    if (fullScreenDeinterlaceStatusImageView) fullScreenDeinterlaceStatusImageView->setVisible(false);
    if (controlPanel) controlPanel->setContents(imageNamed("background.png").toImage());
    placeProgressSlider(controlPanel, playbackProgressSlider);
    if (fullScreenControlPanel) {
        fullScreenControlPanel->setCornerRadius(10.0);
        fullScreenControlPanel->setBorderWidth(2.0);
        fullScreenControlPanel->setBackgroundColor(rgba(0.1f, 0.1f, 0.1f, 0.25f));
        fullScreenControlPanel->setBorderColor(rgba(1.0f, 1.0f, 1.0f, 1.0f));
        fullScreenControlPanel->setVisible(false);
    }
    placeProgressSlider(fullScreenControlPanel, fullScreenPlaybackProgressSlider);
    for (QSlider *volume : {playbackVolumeSlider, fullScreenPlaybackVolumeSlider}) {
        if (volume) volume->setValue(volume->minimum() + (volume->maximum() - volume->minimum()) / 2);
    }
    audioSliderChanged(0.5f);
    snapshotSavedFilePath = QStringLiteral("");
}

void VistrelAppDelegate::initStatusPane() {
    if (statusPane) statusPane->setContents(imageNamed("info_bg_480x60__.png").toImage());
    if (playbackStatusImageView) playbackStatusImageView->setPixmap(stopStatusImg);
    if (fullScreenPlaybackStatusImageView)
        fullScreenPlaybackStatusImageView->setPixmap(stopStatusImgInFullScreen);
}

void VistrelAppDelegate::insertItemsToAudioChannelSwitchBtn(int count, const uint8_t *list) {
    if (!audioChannelSwitchBtn) return;
    audioChannelSwitchBtn->clear();
    for (int i = 0; i < count; ++i) {
        const int channel = list ? list[i] : i + 1;
        const QPixmap image = imageNamed(QStringLiteral("vol_CH%1_bk.png").arg(channel));
        audioChannelSwitchBtn->insertItem(i, QIcon(image), QString(), channel);
    }
    if (count == 0)
        audioChannelSwitchBtn->insertItem(0, QIcon(imageNamed("vol_Unsupported_bk.png")), QString(), 0);
}

void VistrelAppDelegate::insertItmesToVideoChannelSwitchBtn(int count) {
    if (!videoChannelSwitchBtn) return;
    videoChannelSwitchBtn->clear();
    const int available = static_cast<int>(sizeof kGridImageNames / sizeof kGridImageNames[0]);
    for (int i = 0; i < count && i < available; ++i)
        videoChannelSwitchBtn->insertItem(i, QIcon(imageNamed(QString::fromLatin1(kGridImageNames[i]))),
                                          QString());
}

void VistrelAppDelegate::releaseFilePathObject() {
    setAbsoluteFilePath(QString());
    fileName.clear();
    fileExtension.clear();
    fileNameWithExtension.clear();
    absoluteFileDir.clear();
    aviFileLocation.clear();
}
