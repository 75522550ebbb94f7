// The colour panel: brightness, saturation and contrast of the shown pictures, and the colours
// of the on-screen texts (ColorSettingPanel.ui). While it is open every shown picture gets the
// three values; the values and colours last until the player ends and are not stored.
// A frameless tool window that unfolds over the main window and folds away when it closes.
#pragma once

#include <QPointer>

#include <array>

#include "app/content_border_window.h"
#include "app/logic/colour_filter.h"
#include "ui_ColorSettingPanel.h"

class ColourWell;
class LayerView;
class OsdTextLayer;

class ColorSettingPanel : public ContentBorderWindow {
    Q_OBJECT
  public:
    // The panel unfolds over and folds back onto `foldAnchor` (the main window).
    explicit ColorSettingPanel(QWidget *foldAnchor = nullptr, QWidget *parent = nullptr);

    void awakeFromNib();
    // The title layer of channel index + 1 (index 0 to 15), recoloured with the texts.
    void deliverVideoViewTitle(OsdTextLayer *title, int index);
    // The pane's three on-screen texts: the time and the video mode take the texts' colour,
    // the percentage its own.
    void deliverOnScreenTexts(OsdTextLayer *serverTime, OsdTextLayer *videoMode, OsdTextLayer *percentage);
    // The time, the video-mode text and the 16 titles take the well's colour.
    void takeOSDTextColorFrom(ColourWell *well);
    // The percentage takes the well's colour.
    void takeOSDProgressColorFrom(ColourWell *well);
    // Brightness 0, saturation 1, contrast 1; white texts, a yellow percentage.
    void resetDefault();
    // The window closes (by its close control or by the conversion): folds away.
    void windowWillClose();

    LayerView *backgroundView() const { return ui.backgroundView; }
    ColourWell *textColorWell() const { return ui.textColorWell; }
    ColourWell *progressColorWell() const { return ui.progressColorWell; }

    // The setters move the sliders too.
    float colorBrightnessValue() const { return brightness_; }
    float colorSaturationValue() const { return saturation_; }
    float colorContrastValue() const { return contrast_; }
    void setColorBrightnessValue(float value);
    void setColorSaturationValue(float value);
    void setColorContrastValue(float value);
    ColourControls colourControls() const {
        return {colorBrightnessValue(), colorSaturationValue(), colorContrastValue()};
    }
    bool colorSettingPanelOpenedNow() const { return opened_; }
    void setColorSettingPanelOpenedNow(bool opened) { opened_ = opened; }

    Ui::ColorSettingPanel ui;

  signals:
    // A value changed: shown still pictures are adjusted again.
    void colourValuesChanged();

  protected:
    void closeEvent(QCloseEvent *event) override;

  private:
    void recolourTexts(const QColor &colour);
    void recolourPercentage(const QColor &colour);

    float brightness_ = 0.0f;
    float saturation_ = 1.0f;
    float contrast_ = 1.0f;
    bool opened_ = false;
    std::array<QPointer<OsdTextLayer>, 16> pVideoViewTitle;
    QPointer<OsdTextLayer> osdServerTime_, osdVideoMode_, osdPercentage_;
    QPointer<QWidget> foldAnchor_;
};
