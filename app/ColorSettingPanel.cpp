#include "app/ColorSettingPanel.h"

#include <QCloseEvent>
#include <QSignalBlocker>

#include <cmath>

#include "app/controls/ColourWell.h"
#include "app/controls/OsdTextLayer.h"
#include "app/panel_fold.h"

namespace {
// The sliders move in hundredths.
constexpr float kSliderScale = 100.0f;

void moveSlider(QSlider *slider, float value) {
    const QSignalBlocker block(slider);
    slider->setValue(static_cast<int>(std::lround(value * kSliderScale)));
}
} // namespace

ColorSettingPanel::ColorSettingPanel(QWidget *foldAnchor, QWidget *parent)
    : ContentBorderWindow(parent, Qt::Tool | Qt::FramelessWindowHint), foldAnchor_(foldAnchor) {
    ui.setupUi(this);
    awakeFromNib();
    // The labels stand on the dark background picture.
    setStyleSheet(QStringLiteral("QLabel { color: white; }"));
    setColorSettingPanelOpenedNow(false);
    ui.textColorWell->setColor(Qt::white);
    ui.progressColorWell->setColor(Qt::yellow);

    auto follow = [this](QSlider *slider, void (ColorSettingPanel::*setter)(float)) {
        connect(slider, &QSlider::valueChanged, this,
                [this, setter](int value) { (this->*setter)(static_cast<float>(value) / kSliderScale); });
    };
    follow(ui.brightnessSlider, &ColorSettingPanel::setColorBrightnessValue);
    follow(ui.saturationSlider, &ColorSettingPanel::setColorSaturationValue);
    follow(ui.contrastSlider, &ColorSettingPanel::setColorContrastValue);
    connect(ui.textColorWell, &ColourWell::colorChosen, this,
            [this] { takeOSDTextColorFrom(ui.textColorWell); });
    connect(ui.progressColorWell, &ColourWell::colorChosen, this,
            [this] { takeOSDProgressColorFrom(ui.progressColorWell); });
    connect(ui.resetDefaultBtn, &QPushButton::clicked, this, &ColorSettingPanel::resetDefault);
    connect(ui.closeBtn, &QPushButton::clicked, this, &QWidget::close);
}

void ColorSettingPanel::awakeFromNib() {
    setContentBorderThickness(26.0, Qt::BottomEdge);
}

void ColorSettingPanel::setColorBrightnessValue(float value) {
    brightness_ = value;
    moveSlider(ui.brightnessSlider, value);
    emit colourValuesChanged();
}

void ColorSettingPanel::setColorSaturationValue(float value) {
    saturation_ = value;
    moveSlider(ui.saturationSlider, value);
    emit colourValuesChanged();
}

void ColorSettingPanel::setColorContrastValue(float value) {
    contrast_ = value;
    moveSlider(ui.contrastSlider, value);
    emit colourValuesChanged();
}

void ColorSettingPanel::deliverVideoViewTitle(OsdTextLayer *title, int index) {
    if (index < 0 || index >= static_cast<int>(pVideoViewTitle.size())) return;
    pVideoViewTitle[static_cast<size_t>(index)] = title;
}

void ColorSettingPanel::deliverOnScreenTexts(OsdTextLayer *serverTime, OsdTextLayer *videoMode,
                                             OsdTextLayer *percentage) {
    osdServerTime_ = serverTime;
    osdVideoMode_ = videoMode;
    osdPercentage_ = percentage;
}

void ColorSettingPanel::recolourTexts(const QColor &colour) {
    for (OsdTextLayer *text : {osdServerTime_.data(), osdVideoMode_.data()})
        if (text) text->setForegroundColor(colour);
    for (const QPointer<OsdTextLayer> &title : pVideoViewTitle)
        if (title) title->setForegroundColor(colour);
}

void ColorSettingPanel::recolourPercentage(const QColor &colour) {
    if (osdPercentage_) osdPercentage_->setForegroundColor(colour);
}

void ColorSettingPanel::takeOSDTextColorFrom(ColourWell *well) {
    if (well) recolourTexts(well->color().toRgb());
}

void ColorSettingPanel::takeOSDProgressColorFrom(ColourWell *well) {
    if (well) recolourPercentage(well->color().toRgb());
}

void ColorSettingPanel::resetDefault() {
    setColorBrightnessValue(0.0f);
    setColorContrastValue(1.0f);
    setColorSaturationValue(1.0f);
    ui.textColorWell->setColor(Qt::white);
    ui.progressColorWell->setColor(Qt::yellow);
    recolourPercentage(QColor::fromRgbF(1.0f, 1.0f, 0.0f, 1.0f));
    recolourTexts(QColor::fromRgbF(1.0f, 1.0f, 1.0f, 1.0f));
}

void ColorSettingPanel::closeEvent(QCloseEvent *event) {
    // The window stays until it has folded away; the fold hides it.
    event->ignore();
    windowWillClose();
}

void ColorSettingPanel::windowWillClose() {
    QPointer<ColorSettingPanel> self(this);
    foldPanel(this, foldAnchor_.data(), [self] {
        if (!self) return;
        self->setColorSettingPanelOpenedNow(false);
    });
}
