#include "app/controls/ColorGradientView.h"

#include <QLinearGradient>
#include <QPainter>
#include <cmath>

ColorGradientView::ColorGradientView(QWidget *parent)
    : LayerView(parent), startingColor_(QColor::fromRgbF(1.0f, 1.0f, 1.0f, 1.0f)),
      // A dark grey of one third white.
      endingColor_(QColor::fromRgbF(1.0f / 3.0f, 1.0f / 3.0f, 1.0f / 3.0f, 1.0f)), angle_(270) {}

void ColorGradientView::setStartingColor(const QColor &colour) {
    startingColor_ = colour;
    update();
}

void ColorGradientView::setEndingColor(const QColor &colour) {
    endingColor_ = colour;
    update();
}

void ColorGradientView::setAngle(int degrees) {
    angle_ = degrees;
    update();
}

void ColorGradientView::drawContent(QPainter &painter) {
    const QRectF bounds = QRectF(rect());
    if (endingColor_.isValid() && endingColor_ != startingColor_) {
        // The gradient line passes through the centre in the angle's direction (y up) and is
        // just long enough for the end colours to reach the two farthest corners.
        const double radians = angle_ * M_PI / 180.0;
        const double dx = std::cos(radians), dy = -std::sin(radians);
        const double half = std::fabs(bounds.width() / 2.0 * dx) + std::fabs(bounds.height() / 2.0 * dy);
        const QPointF centre = bounds.center();
        QLinearGradient gradient(centre - QPointF(dx * half, dy * half),
                                 centre + QPointF(dx * half, dy * half));
        gradient.setColorAt(0.0, startingColor_);
        gradient.setColorAt(1.0, endingColor_);
        painter.fillRect(bounds, gradient);
    } else if (startingColor_.isValid()) {
        painter.fillRect(bounds, startingColor_);
    }
}
