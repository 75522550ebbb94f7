// A view filled with a linear gradient from a starting to an ending colour at an angle
// (degrees, counter-clockwise from pointing right; 270 runs from top to bottom). Equal colours,
// or no ending colour, fill the view with the starting colour. The progress slider's elapsed
// bar is one.
#pragma once

#include <QColor>

#include "app/controls/LayerView.h"

class ColorGradientView : public LayerView {
    Q_OBJECT
  public:
    explicit ColorGradientView(QWidget *parent = nullptr);

    QColor startingColor() const { return startingColor_; }
    void setStartingColor(const QColor &colour);
    // An invalid colour means none.
    QColor endingColor() const { return endingColor_; }
    void setEndingColor(const QColor &colour);
    int angle() const { return angle_; }
    void setAngle(int degrees);

  protected:
    void drawContent(QPainter &painter) override;

  private:
    QColor startingColor_;
    QColor endingColor_;
    int angle_ = 270;
};
