#include "app/controls/LayerView.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

LayerView::LayerView(QWidget *parent) : QWidget(parent) {}

void LayerView::setContents(const QImage &image) {
    contents_ = image;
    update();
}

void LayerView::setBackgroundColor(const QColor &colour) {
    backgroundColor_ = colour;
    update();
}

void LayerView::setBorderColor(const QColor &colour) {
    borderColor_ = colour;
    update();
}

void LayerView::setBorderWidth(qreal width) {
    borderWidth_ = width < 0 ? 0 : width;
    update();
}

void LayerView::setCornerRadius(qreal radius) {
    cornerRadius_ = radius < 0 ? 0 : radius;
    update();
}

void LayerView::drawContent(QPainter &) {}

void LayerView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, cornerRadius_ > 0 || borderWidth_ > 0);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QRectF bounds = QRectF(rect());
    QPainterPath outline;
    outline.addRoundedRect(bounds, cornerRadius_, cornerRadius_);

    painter.save();
    if (cornerRadius_ > 0) painter.setClipPath(outline);
    if (backgroundColor_.isValid() && backgroundColor_.alpha() > 0)
        painter.fillRect(bounds, backgroundColor_);
    if (!contents_.isNull()) {
        // A picture made for this very size (within a pixel of rounding) is copied as it is:
        // scaling it would cost far more than the pixel it could gain.
        const QSizeF size = QSizeF(contents_.size()) / contents_.devicePixelRatio();
        if (std::abs(size.width() - bounds.width()) <= 1.0 &&
            std::abs(size.height() - bounds.height()) <= 1.0)
            painter.drawImage(bounds.topLeft(), contents_);
        else
            painter.drawImage(bounds, contents_);
    }
    drawContent(painter);
    painter.restore();

    if (borderWidth_ > 0 && borderColor_.isValid()) {
        const qreal half = borderWidth_ / 2.0;
        const QRectF inner = bounds.adjusted(half, half, -half, -half);
        const qreal radius = cornerRadius_ > half ? cornerRadius_ - half : 0.0;
        painter.setPen(QPen(borderColor_, borderWidth_));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(inner, radius, radius);
    }
}
