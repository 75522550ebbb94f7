#include "app/controls/OsdTextLayer.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

OsdTextLayer::OsdTextLayer(Qt::Alignment alignmentMode, QWidget *parent)
    : QWidget(parent), alignmentMode_(alignmentMode & Qt::AlignHorizontal_Mask) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void OsdTextLayer::setString(const QString &text) {
    if (text == string_) return;
    string_ = text;
    cache_ = QImage();
    update();
}

void OsdTextLayer::setFontSize(qreal pixelSize) {
    fontSize_ = pixelSize > 0 ? pixelSize : 1.0;
    cache_ = QImage();
    update();
}

void OsdTextLayer::setForegroundColor(const QColor &colour) {
    foregroundColor_ = colour;
    cache_ = QImage();
    update();
}

void OsdTextLayer::drawInContext(QPainter &painter) const {
    if (string_.isEmpty()) return;
    QFont font = this->font();
    font.setPixelSize(qMax(1, qRound(fontSize_)));
    const QFontMetricsF metrics(font);
    const qreal textWidth = metrics.horizontalAdvance(string_);
    qreal x = 0.0;
    if (alignmentMode_ & Qt::AlignHCenter)
        x = (width() - textWidth) / 2.0;
    else if (alignmentMode_ & Qt::AlignRight)
        x = width() - textWidth;
    QPainterPath text;
    text.addText(QPointF(x, metrics.ascent()), font, string_);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(kTextOffsetX, kTextOffsetY);
    // The outline first, then the text over it.
    painter.strokePath(text, QPen(Qt::black, kOutlineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(text, foregroundColor_);
    painter.restore();
}

void OsdTextLayer::renderCache() {
    const qreal ratio = devicePixelRatioF();
    cache_ = QImage((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    cache_.setDevicePixelRatio(ratio);
    cache_.fill(Qt::transparent);
    cacheDevicePixelRatio_ = ratio;
    QPainter painter(&cache_);
    drawInContext(painter);
}

void OsdTextLayer::paintEvent(QPaintEvent *) {
    if (string_.isEmpty() || width() <= 0 || height() <= 0) return;
    // Titles sit over tiles that repaint with every picture: the text is outlined only when
    // it changes, not with every picture under it.
    if (cache_.isNull() || cache_.size() != (QSizeF(size()) * devicePixelRatioF()).toSize() ||
        cacheDevicePixelRatio_ != devicePixelRatioF())
        renderCache();
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), cache_);
}
