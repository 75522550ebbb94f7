#include "app/controls/CustomizedProgressSlider.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
#include <cmath>

#include "app/controls/ColorGradientView.h"
#include "app/controls/LayerView.h"
#include "app/frame_geometry.h"
#include "app/image_named.h"

namespace {
// The stock value counts hundredths of the 0..100 range.
constexpr int kValueSteps = 100;
} // namespace

// ---- Cell -------------------------------------------------------------------------------------

CustomizedProgressSliderCell::CustomizedProgressSliderCell(QWidget *controlView)
    : controlView_(controlView) {}

CustomizedProgressSliderCell::~CustomizedProgressSliderCell() {
    // Bars that were never placed in a parent belong to nobody else.
    if (leftBarView_ && !leftBarView_->parent()) delete leftBarView_.data();
    if (rightBarView_ && !rightBarView_->parent()) delete rightBarView_.data();
}

void CustomizedProgressSliderCell::setFrameWithKnobImage(const QRectF &frame, const QString &knobImageName,
                                                         float grooveHeight,
                                                         float sliderOriginYAdjustOffset) {
    knobImage_ = imageNamed(knobImageName);
    // Bars of an earlier set-up would otherwise stay behind, unmoved.
    delete leftBarView_.data();
    delete rightBarView_.data();
    leftBarView_ = new ColorGradientView();
    rightBarView_ = new LayerView();
    sliderOriginX_ = static_cast<float>(frame.x());
    sliderOriginY_ = static_cast<float>(frame.y());
    sliderBarHeight_ = grooveHeight;
    sliderOriginYAdjustOffsetValue_ = sliderOriginYAdjustOffset;
    knobWidth_ = static_cast<float>(knobImage_.width());
    halfKnobWidth_ = knobWidth_ * 0.5f;
}

void CustomizedProgressSliderCell::drawBarInside(const QRectF &barRect, bool) {
    currsliderWidth_ = static_cast<float>(barRect.width());
}

QRectF CustomizedProgressSliderCell::knobRectFlipped(const QRectF &stock) const {
    const qreal imageWidth = knobImage_.width(), imageHeight = knobImage_.height();
    return QRectF(stock.x() - (imageWidth - stock.width()) * 0.5,
                  stock.y() - (imageHeight - stock.height()) * 0.5, imageWidth, imageHeight);
}

QRectF CustomizedProgressSliderCell::elapsedBarFrameFor(const QRectF &knobRect) const {
    return QRectF(sliderOriginX_ + halfKnobWidth_ - kBarOverhang,
                  sliderOriginY_ + sliderOriginYAdjustOffsetValue_,
                  static_cast<float>(knobRect.x()) + kBarOverhang, sliderBarHeight_);
}

void CustomizedProgressSliderCell::placeBar(QWidget *bar, const QRectF &frame) {
    if (!bar) return;
    const QWidget *superview = controlView_ ? controlView_->parentWidget() : nullptr;
    setBottomUpFrame(bar, frame, superview);
}

void CustomizedProgressSliderCell::drawKnob(QPainter *painter, const QRectF &knobRect) {
    setSliderKnobRect(knobRect);
    if (painter && !knobImage_.isNull()) painter->drawPixmap(knobRect.topLeft(), knobImage_);
    elapsedBarFrame_ = elapsedBarFrameFor(knobRect);
    grooveFrame_ = QRectF(elapsedBarFrame_.x(), elapsedBarFrame_.y(),
                          currsliderWidth_ - (knobWidth_ - 2 * kBarOverhang), sliderBarHeight_);
    placeBar(leftBarView_, elapsedBarFrame_);
    placeBar(rightBarView_, grooveFrame_);
}

void CustomizedProgressSliderCell::redrawBarInside() {
    if (controlView_ && QThread::currentThread() != controlView_->thread()) {
        QMetaObject::invokeMethod(
            controlView_, [this] { redrawBarInside(); }, Qt::QueuedConnection);
        return;
    }
    const QRectF knob = sliderKnobRect();
    const float knobX = static_cast<float>(knob.x());
    if (knobX == previousKnobOriginX_) return;
    elapsedBarFrame_ = elapsedBarFrameFor(knob);
    placeBar(leftBarView_, elapsedBarFrame_);
    previousKnobOriginX_ = knobX;
}

QRectF CustomizedProgressSliderCell::sliderKnobRect() const {
    std::lock_guard<std::mutex> lock(knobRectMutex_);
    return sliderKnobRect_;
}

void CustomizedProgressSliderCell::setSliderKnobRect(const QRectF &rect) {
    std::lock_guard<std::mutex> lock(knobRectMutex_);
    sliderKnobRect_ = rect;
}

// ---- Slider -----------------------------------------------------------------------------------

CustomizedProgressSlider::CustomizedProgressSlider(QWidget *parent)
    : QSlider(Qt::Horizontal, parent),
      progressSliderCell_(std::make_unique<CustomizedProgressSliderCell>(this)) {
    setRange(static_cast<int>(kMinValue) * kValueSteps, static_cast<int>(kMaxValue) * kValueSteps);
    setValue(0);
    setFocusPolicy(Qt::NoFocus);
}

CustomizedProgressSlider::~CustomizedProgressSlider() = default;

void CustomizedProgressSlider::setFrameWithKnobImage(const QRectF &frame, const QString &knobImageName,
                                                     float grooveHeight, float sliderOriginYAdjustOffset) {
    progressSliderCell_->setFrameWithKnobImage(frame, knobImageName, grooveHeight, sliderOriginYAdjustOffset);
}

double CustomizedProgressSlider::doubleValue() const {
    return static_cast<double>(value()) / kValueSteps;
}

void CustomizedProgressSlider::setDoubleValue(double v) {
    if (!(v >= kMinValue)) v = kMinValue; // also catches NaN
    if (v > kMaxValue) v = kMaxValue;
    setValue(static_cast<int>(std::lround(v * kValueSteps)));
}

QRectF CustomizedProgressSlider::stockKnobRect() const {
    const qreal knob = height();
    const qreal travel = qMax<qreal>(0.0, width() - knob);
    const int span = maximum() - minimum();
    const qreal fraction = span > 0 ? static_cast<qreal>(value() - minimum()) / span : 0.0;
    return QRectF(travel * fraction, 0.0, knob, height());
}

void CustomizedProgressSlider::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    progressSliderCell_->drawBarInside(QRectF(rect()), true);
    progressSliderCell_->drawKnob(&painter, progressSliderCell_->knobRectFlipped(stockKnobRect()));
}

void CustomizedProgressSlider::setValueFromPosition(qreal x) {
    const qreal knob = height();
    const qreal travel = width() - knob;
    qreal fraction = travel > 0 ? (x - knob / 2.0) / travel : 0.0;
    fraction = qBound<qreal>(0.0, fraction, 1.0);
    setValue(minimum() + static_cast<int>(std::lround(fraction * (maximum() - minimum()))));
}

void CustomizedProgressSlider::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        event->ignore();
        return;
    }
    setSliderDown(true);
    setValueFromPosition(event->position().x());
    event->accept();
}

void CustomizedProgressSlider::mouseMoveEvent(QMouseEvent *event) {
    if (!isSliderDown()) {
        event->ignore();
        return;
    }
    setValueFromPosition(event->position().x());
    event->accept();
}

void CustomizedProgressSlider::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton || !isSliderDown()) {
        event->ignore();
        return;
    }
    setValueFromPosition(event->position().x());
    // Ending the drag sends sliderReleased: the one moment the choice is final.
    setSliderDown(false);
    event->accept();
}
