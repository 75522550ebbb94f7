// The progress slider: a knob picture over two sibling views, a groove that spans the knob's
// travel and an elapsed bar that runs from the groove's left end to the knob's centre.
//
// The slider itself draws only the knob; its cell (CustomizedProgressSliderCell) keeps the
// knob picture and moves the two bar views, which live beside the slider in its parent, each
// time the knob is drawn. Frames given to the cell and kept by it are bottom-up (origin at the
// bottom-left of the slider's parent).
//
// The value runs from 0 to 100 (per cent of the file). The stock QAbstractSlider value counts
// hundredths of that, so that the knob moves smoothly.
#pragma once

#include <QPixmap>
#include <QPointer>
#include <QRectF>
#include <QSlider>
#include <memory>
#include <mutex>

#include "app/controls/ColorGradientView.h"
#include "app/controls/LayerView.h"

class CustomizedProgressSliderCell {
  public:
    // `controlView` is the slider that draws through this cell.
    explicit CustomizedProgressSliderCell(QWidget *controlView);
    ~CustomizedProgressSliderCell();
    CustomizedProgressSliderCell(const CustomizedProgressSliderCell &) = delete;
    CustomizedProgressSliderCell &operator=(const CustomizedProgressSliderCell &) = delete;

    // Takes the named knob picture, makes a new elapsed bar and groove (not yet placed in any
    // parent) and records the slider's bottom-up frame origin, the bars' height and how far
    // above the slider's bottom they sit. The slider's own frame is not changed.
    void setFrameWithKnobImage(const QRectF &frame, const QString &knobImageName, float grooveHeight,
                               float sliderOriginYAdjustOffset);

    // The track: nothing is drawn, its width is noted for the groove.
    void drawBarInside(const QRectF &barRect, bool flipped);
    // The knob rectangle for the picture: the stock rectangle's centre, the picture's size.
    QRectF knobRectFlipped(const QRectF &stockKnobRect) const;
    // Draws the knob picture at `knobRect` (painter may be null: bars only) and moves both bars.
    void drawKnob(QPainter *painter, const QRectF &knobRect);
    // Moves the elapsed bar to the last knob position if the knob has moved since the last
    // call. Callable from any thread; the work is done on the slider's thread.
    void redrawBarInside();
    bool usesCustomTrackImage() const { return true; }

    QPixmap knobImage() const { return knobImage_; }
    void setKnobImage(const QPixmap &image) { knobImage_ = image; }
    QRectF sliderKnobRect() const;
    void setSliderKnobRect(const QRectF &rect);
    ColorGradientView *leftBarView() const { return leftBarView_; }
    void setLeftBarView(ColorGradientView *view) { leftBarView_ = view; }
    LayerView *rightBarView() const { return rightBarView_; }
    void setRightBarView(LayerView *view) { rightBarView_ = view; }
    float sliderOriginX() const { return sliderOriginX_; }
    void setSliderOriginX(float x) { sliderOriginX_ = x; }
    float sliderOriginY() const { return sliderOriginY_; }
    void setSliderOriginY(float y) { sliderOriginY_ = y; }
    float sliderBarHeight() const { return sliderBarHeight_; }
    void setSliderBarHeight(float height) { sliderBarHeight_ = height; }
    float sliderOriginYAdjustOffsetValue() const { return sliderOriginYAdjustOffsetValue_; }
    void setSliderOriginYAdjustOffsetValue(float offset) { sliderOriginYAdjustOffsetValue_ = offset; }
    float knobWidth() const { return knobWidth_; }
    void setKnobWidth(float width) { knobWidth_ = width; }
    float halfKnobWidth() const { return halfKnobWidth_; }
    void setHalfKnobWidth(float width) { halfKnobWidth_ = width; }

    // The bars' last frames, bottom-up in the slider's parent, as computed (before rounding
    // to whole pixels for the views).
    QRectF elapsedBarFrame() const { return elapsedBarFrame_; }
    QRectF grooveFrame() const { return grooveFrame_; }

    // The bars extend this far beyond the knob's centre at either end of its travel.
    static constexpr float kBarOverhang = 2.5f;

  private:
    QRectF elapsedBarFrameFor(const QRectF &knobRect) const;
    void placeBar(QWidget *bar, const QRectF &frame);

    QWidget *controlView_;
    QPixmap knobImage_;
    mutable std::mutex knobRectMutex_;
    QRectF sliderKnobRect_;
    QPointer<ColorGradientView> leftBarView_;
    QPointer<LayerView> rightBarView_;
    float sliderOriginX_ = 0, sliderOriginY_ = 0;
    float sliderBarHeight_ = 0, sliderOriginYAdjustOffsetValue_ = 0;
    float knobWidth_ = 0, previousKnobOriginX_ = 0, halfKnobWidth_ = 0;
    float currsliderWidth_ = 0;
    QRectF elapsedBarFrame_, grooveFrame_;
};

class CustomizedProgressSlider : public QSlider {
    Q_OBJECT
  public:
    explicit CustomizedProgressSlider(QWidget *parent = nullptr);
    ~CustomizedProgressSlider() override;

    CustomizedProgressSliderCell *progressSliderCell() const { return progressSliderCell_.get(); }
    // Prepares the cell (see CustomizedProgressSliderCell::setFrameWithKnobImage). The caller
    // then sets the slider's frame and places the cell's groove, elapsed bar and the slider,
    // in this order, in the slider's parent.
    void setFrameWithKnobImage(const QRectF &frame, const QString &knobImageName, float grooveHeight,
                               float sliderOriginYAdjustOffset);

    static constexpr double kMinValue = 0.0;
    static constexpr double kMaxValue = 100.0;
    double doubleValue() const;
    void setDoubleValue(double value);
    float floatValue() const { return static_cast<float>(doubleValue()); }
    void setFloatValue(float value) { setDoubleValue(value); }
    int intValue() const { return static_cast<int>(doubleValue()); }

    // The knob rectangle a stock slider would use: a round knob as tall as the slider,
    // travelling over the slider's width.
    QRectF stockKnobRect() const;
    // Any part marked for redrawing redraws the whole slider, so the bars follow the knob.
    void setNeedsDisplayInRect(const QRect &) { update(); }

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

  private:
    void setValueFromPosition(qreal x);

    std::unique_ptr<CustomizedProgressSliderCell> progressSliderCell_;
};
