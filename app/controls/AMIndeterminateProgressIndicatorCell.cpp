#include "app/controls/AMIndeterminateProgressIndicatorCell.h"

#include <QPainter>
#include <cmath>

#include "platform/log.h"

AMIndeterminateProgressIndicatorCell::AMIndeterminateProgressIndicatorCell() {
    setColor(QColor(Qt::black));
}

bool AMIndeterminateProgressIndicatorCell::setColor(const QColor &colour) {
    if (!colour.isValid() || colour.alphaF() <= 0.999f) {
        player_log("color must be opaque\n");
        return false;
    }
    if (colour == color_) return true;
    color_ = colour;
    const QColor rgb = colour.toRgb();
    redComponent_ = rgb.redF();
    greenComponent_ = rgb.greenF();
    blueComponent_ = rgb.blueF();
    return true;
}

void AMIndeterminateProgressIndicatorCell::setDoubleValue(double value) {
    if (value == doubleValue_) return;
    if (std::isnan(value)) value = 0.0;
    doubleValue_ = value;
    if (doubleValue_ > 1.0) doubleValue_ = 1.0;
    if (doubleValue_ < 0.0) doubleValue_ = 0.0;
}

void AMIndeterminateProgressIndicatorCell::setAnimationDelay(double seconds) {
    animationDelay_ = seconds;
}

void AMIndeterminateProgressIndicatorCell::setDisplayedWhenStopped(bool displayed) {
    displayedWhenStopped_ = displayed;
}

void AMIndeterminateProgressIndicatorCell::setSpinning(bool spinning) {
    spinning_ = spinning;
}

void AMIndeterminateProgressIndicatorCell::setObjectValue(const QVariant &value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QString:
        spinning_ = value.toBool();
        break;
    default:
        spinning_ = false;
        break;
    }
}

void AMIndeterminateProgressIndicatorCell::drawWithFrame(QPainter &painter, const QRectF &frame,
                                                         bool flipped) const {
    drawInteriorWithFrame(painter, frame, flipped);
}

void AMIndeterminateProgressIndicatorCell::drawInteriorWithFrame(QPainter &painter, const QRectF &frame,
                                                                 bool flipped) const {
    if (!spinning_ && !displayedWhenStopped_) return;
    const double size = std::min(frame.width(), frame.height());
    const QPointF centre(frame.x() + frame.width() * 0.5, frame.y() + frame.height() * 0.5);
    const double flip = flipped ? 1.0 : -1.0;
    const long step = std::lround(doubleValue_ / kStepFraction);
    const double innerRadius = size >= 32.0 ? 0.23 * size : 0.27 * size;
    const double outerRadius = size >= 32.0 ? 0.38 * size : 0.48 * size;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double startDegrees = spinning_ ? step * 30.0 + 270.0 : 270.0;
    double angle = startDegrees * M_PI / 180.0 * flip;
    const double stepRadians = 30.0 * M_PI / 180.0;
    for (int i = 0; i < 12; ++i) {
        QColor spoke = QColor::fromRgbF(redComponent_, greenComponent_, blueComponent_,
                                        static_cast<float>(1.0 - 0.25 * std::sqrt(static_cast<double>(i))));
        painter.setPen(QPen(spoke, 0.08 * size, Qt::SolidLine, Qt::RoundCap));
        const double c = std::cos(angle), s = std::sin(angle);
        painter.drawLine(QPointF(centre.x() + c * innerRadius, centre.y() + s * innerRadius),
                         QPointF(centre.x() + c * outerRadius, centre.y() + s * outerRadius));
        angle -= flip * stepRadians;
    }
    painter.restore();
}

ProgressIndicatorControl::ProgressIndicatorControl(QWidget *parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

ProgressIndicatorControl::~ProgressIndicatorControl() = default;

void ProgressIndicatorControl::setCell(std::unique_ptr<AMIndeterminateProgressIndicatorCell> cell) {
    cell_ = std::move(cell);
    update();
}

void ProgressIndicatorControl::paintEvent(QPaintEvent *) {
    if (!cell_) return;
    QPainter painter(this);
    cell_->drawWithFrame(painter, QRectF(rect()), true);
}
