#include "app/main_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QResizeEvent>
#include <QSlider>

#include "app/controls/ColorGradientView.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/controls/LayerView.h"
#include "app/frame_geometry.h"
#include "app/image_named.h"

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

// The window's dark finish: the video is the brightest thing in it.
QPalette playerPalette(QPalette palette) {
    const QColor window(48, 50, 54), text(214, 226, 236), base(32, 34, 38), button(64, 67, 72);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(79, 160, 220));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, text.darker(170));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, text.darker(170));
    palette.setColor(QPalette::Disabled, QPalette::Text, text.darker(170));
    return palette;
}
} // namespace

MainWindow::MainWindow(QWidget *parent) : ContentBorderWindow(parent, Qt::Window) {
    ui.setupUi(this);
    setPalette(playerPalette(palette()));
    setAutoFillBackground(true);
    QFont timeFont = ui.serverTimeLabel->font();
    timeFont.setPixelSize(17);
    timeFont.setBold(true);
    ui.serverTimeLabel->setFont(timeFont);
    QPalette timePalette = ui.serverTimeLabel->palette();
    timePalette.setColor(QPalette::WindowText, QColor(159, 232, 255));
    ui.serverTimeLabel->setPalette(timePalette);
    for (QLabel *label : {ui.videoModeLabel, ui.aviProgressLabel, ui.aviFrameRateLabel}) {
        QFont f = label->font();
        f.setPixelSize(12);
        label->setFont(f);
    }
}

void MainWindow::resizeEvent(QResizeEvent *event) {
    ContentBorderWindow::resizeEvent(event);
    // The size may arrive after the call that asked for it (the window system answers when it
    // likes): the application's own is known by its value. A size that the window system
    // gives again after it was refused is kept rather than fought over.
    const QSize size = event->size();
    if (size == ownSize_) {
        refusedSize_ = QSize();
    } else if (windowWillResize_ && size != refusedSize_) {
        const QSize answer = windowWillResize_(size);
        if (answer.isValid() && answer != size) {
            refusedSize_ = size;
            setFrameSize(answer);
            return;
        }
    }
    emit resized();
}

void MainWindow::setFrameSize(const QSize &size) {
    ownSize_ = size;
    resize(size);
}

// Closing the main window ends the player: without it nothing of the player would be left on
// the screen to come back to.
void MainWindow::closeEvent(QCloseEvent *event) {
    event->accept();
    QCoreApplication::quit();
}

void MainWindow::initCustomizedProgressSlider() {
    const qreal knobHeight = imageNamed(QString::fromLatin1(kKnobImageName)).height();

    if (ui.playbackProgressSlider) {
        const ProgressSliderLook look{7.0f,
                                      3.0f,
                                      rgba(0.3f, 0.3f, 0.3f, 1.0f),
                                      rgba(0.45f, 0.45f, 0.45f, 0.0f),
                                      rgba(0.9f, 0.9f, 0.9f, 1.0f),
                                      rgba(0.55f, 0.55f, 0.55f, 1.0f),
                                      rgba(0.9f, 0.9f, 0.9f, 1.0f)};
        setUpProgressSlider(ui.playbackProgressSlider, QRectF(158.0, 6.0, 364.0, knobHeight), look);
    }
    if (ui.fullScreenPlaybackProgressSlider) {
        const QRectF own = bottomUpFrame(ui.fullScreenPlaybackProgressSlider);
        const ProgressSliderLook look{6.0f,
                                      4.0f,
                                      rgba(0.15f, 0.35f, 1.0f, 1.0f),
                                      rgba(0.45f, 0.6f, 1.0f, 1.0f),
                                      rgba(1.0f, 1.0f, 1.0f, 1.0f),
                                      rgba(0.7f, 0.7f, 0.7f, 0.5f),
                                      rgba(1.0f, 1.0f, 1.0f, 1.0f)};
        setUpProgressSlider(ui.fullScreenPlaybackProgressSlider,
                            QRectF(own.x(), own.y(), own.width(), knobHeight), look);
    }
}

void MainWindow::initControlPanel() {
    if (ui.deinterlaceStatusImageView) ui.deinterlaceStatusImageView->setVisible(false);
    if (ui.fullScreenDeinterlaceStatusImageView) ui.fullScreenDeinterlaceStatusImageView->setVisible(false);
    if (ui.controlPanel) ui.controlPanel->setContents(imageNamed("background.png").toImage());
    placeProgressSlider(ui.controlPanel, ui.playbackProgressSlider);
    if (ui.fullScreenControlPanel) {
        ui.fullScreenControlPanel->setCornerRadius(10.0);
        ui.fullScreenControlPanel->setBorderWidth(2.0);
        ui.fullScreenControlPanel->setBackgroundColor(rgba(0.1f, 0.1f, 0.1f, 0.25f));
        ui.fullScreenControlPanel->setBorderColor(rgba(1.0f, 1.0f, 1.0f, 1.0f));
        ui.fullScreenControlPanel->setVisible(false);
    }
    placeProgressSlider(ui.fullScreenControlPanel, ui.fullScreenPlaybackProgressSlider);
    for (QSlider *volume : {ui.playbackVolumeSlider, ui.fullScreenPlaybackVolumeSlider}) {
        if (volume) volume->setValue(volume->minimum() + (volume->maximum() - volume->minimum()) / 2);
    }
}

void MainWindow::initStatusPane(const QPixmap &stop, const QPixmap &stopInFullScreen) {
    ui.statusPane->setContents(imageNamed("info_bg_480x60__.png").toImage());
    ui.playbackStatusImageView->setPixmap(stop);
    ui.fullScreenPlaybackStatusImageView->setPixmap(stopInFullScreen);
}

void MainWindow::insertItemsToAudioChannelSwitchBtn(int count, const uint8_t *list) {
    if (!ui.audioChannelSwitchBtn) return;
    ui.audioChannelSwitchBtn->clear();
    for (int i = 0; i < count; ++i) {
        const int channel = list ? list[i] : i + 1;
        const QPixmap image = imageNamed(QStringLiteral("vol_CH%1_bk.png").arg(channel));
        ui.audioChannelSwitchBtn->insertItem(i, QIcon(image), QString(), channel);
    }
    if (count == 0)
        ui.audioChannelSwitchBtn->insertItem(0, QIcon(imageNamed("vol_Unsupported_bk.png")), QString(), 0);
}

void MainWindow::insertItmesToVideoChannelSwitchBtn(int count) {
    if (!ui.videoChannelSwitchBtn) return;
    ui.videoChannelSwitchBtn->clear();
    const int available = static_cast<int>(sizeof kGridImageNames / sizeof kGridImageNames[0]);
    for (int i = 0; i < count && i < available; ++i)
        ui.videoChannelSwitchBtn->insertItem(i, QIcon(imageNamed(QString::fromLatin1(kGridImageNames[i]))),
                                             QString());
}
