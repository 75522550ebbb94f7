// A twelve-spoke spinning indicator, drawn by a cell into whatever control hosts it
// (ProgressIndicatorControl). Its owner advances doubleValue (0.0 to 1.0, one spoke per
// twelfth) and asks the control to redraw.
#pragma once

#include <QColor>
#include <QRectF>
#include <QVariant>
#include <QWidget>
#include <memory>

class QPainter;

class AMIndeterminateProgressIndicatorCell {
  public:
    AMIndeterminateProgressIndicatorCell();

    QColor color() const { return color_; }
    // The spoke colour must be opaque; a colour with alpha 0.999 or less is refused (false)
    // and the current colour kept.
    bool setColor(const QColor &colour);
    double doubleValue() const { return doubleValue_; }
    // Kept within 0.0 to 1.0.
    void setDoubleValue(double value);
    double animationDelay() const { return animationDelay_; }
    void setAnimationDelay(double seconds);
    bool isDisplayedWhenStopped() const { return displayedWhenStopped_; }
    void setDisplayedWhenStopped(bool displayed);
    bool isSpinning() const { return spinning_; }
    void setSpinning(bool spinning);
    // Spinning follows the value's truth when it has one (a bool, a number or a text); any
    // other value stops it.
    void setObjectValue(const QVariant &value);

    // Draws the indicator into frame; `flipped` tells whether y grows downwards in the painter
    // (always the case in a QWidget).
    void drawWithFrame(QPainter &painter, const QRectF &frame, bool flipped) const;
    void drawInteriorWithFrame(QPainter &painter, const QRectF &frame, bool flipped) const;

    static constexpr double kStepFraction = 1.0 / 12.0;

  private:
    double doubleValue_ = 0.0;
    double animationDelay_ = kStepFraction;
    bool displayedWhenStopped_ = false;
    bool spinning_ = false;
    QColor color_;
    float redComponent_ = 0, greenComponent_ = 0, blueComponent_ = 0;
};

// A control that shows a spinner cell.
class ProgressIndicatorControl : public QWidget {
    Q_OBJECT
  public:
    explicit ProgressIndicatorControl(QWidget *parent = nullptr);
    ~ProgressIndicatorControl() override;

    AMIndeterminateProgressIndicatorCell *cell() const { return cell_.get(); }
    void setCell(std::unique_ptr<AMIndeterminateProgressIndicatorCell> cell);

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    std::unique_ptr<AMIndeterminateProgressIndicatorCell> cell_;
};
