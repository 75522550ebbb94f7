#include "app/controls/LayerView.h"

#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdint>

LayerView::LayerView(QWidget *parent) : QWidget(parent) {}

void LayerView::setContents(const QImage &image) {
    contents_ = image;
    updateOpaque();
    update();
}

void LayerView::setBackgroundColor(const QColor &colour) {
    backgroundColor_ = colour;
    updateOpaque();
    update();
}

void LayerView::setBorderColor(const QColor &colour) {
    borderColor_ = colour;
    borderCacheSize_ = QSize();
    update();
}

void LayerView::setBorderWidth(qreal width) {
    borderWidth_ = width < 0 ? 0 : width;
    borderCacheSize_ = QSize();
    update();
}

void LayerView::setCornerRadius(qreal radius) {
    cornerRadius_ = radius < 0 ? 0 : radius;
    borderCacheSize_ = QSize();
    updateOpaque();
    update();
}

void LayerView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    borderCacheSize_ = QSize();
    updateOpaque();
}

QRectF LayerView::contentsRect() const {
    const QRectF bounds = QRectF(rect());
    if (contents_.isNull()) return QRectF();
    // A picture made for this very size (within a pixel of rounding) is copied as it is:
    // scaling it would cost far more than the pixel it could gain.
    const QSizeF size = QSizeF(contents_.size()) / contents_.devicePixelRatio();
    if (std::abs(size.width() - bounds.width()) <= 1.0 && std::abs(size.height() - bounds.height()) <= 1.0)
        return QRectF(bounds.topLeft(), size);
    return bounds;
}

void LayerView::updateOpaque() {
    // Square corners only: rounded ones show what lies below.
    bool opaque = false;
    if (cornerRadius_ == 0) {
        const bool opaqueBackground = backgroundColor_.isValid() && backgroundColor_.alpha() == 255;
        const bool opaqueContents = !contents_.isNull() && !contents_.hasAlphaChannel();
        opaque = opaqueBackground || (opaqueContents && contentsRect().contains(QRectF(rect())));
    }
    if (opaque != testAttribute(Qt::WA_OpaquePaintEvent)) setAttribute(Qt::WA_OpaquePaintEvent, opaque);
}

void LayerView::drawContent(QPainter &) {}

void LayerView::drawInBands(QPainter &painter, const QPointF &at, const QImage &image) {
    // The raster engine hands a blend of 96 or more rows to its thread pool in pieces; for a
    // tile's picture the hand-over and the wait cost more than the copy, so bands of fewer rows
    // are copied on this thread.
    constexpr int kBandRows = 64;
    const int height = image.height();
    if (height <= kBandRows) {
        painter.drawImage(at, image);
        return;
    }
    const qreal ratio = image.devicePixelRatio();
    for (int top = 0; top < height; top += kBandRows) {
        const int rows = std::min(kBandRows, height - top);
        painter.drawImage(at + QPointF(0, top / ratio), image, QRectF(0, top, image.width(), rows));
    }
}

namespace {

// R, G, B, X bytes to the 32-bit 0xffRRGGBB of the window's surface; a loop the compiler
// turns into vector code.
void rgbxToSurfaceRow(const uint32_t *source, uint32_t *target, int count) {
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "RGBX pixels are read as 0xXXBBGGRR");
    for (int i = 0; i < count; ++i) {
        const uint32_t p = source[i];
        target[i] = 0xff000000u | ((p & 0xffu) << 16) | (p & 0xff00u) | ((p >> 16) & 0xffu);
    }
}

} // namespace

bool LayerView::copyToSurface(QPainter &painter, const QPointF &at, const QImage &image) {
    if (image.format() != QImage::Format_RGBX8888 || image.devicePixelRatio() != 1.0) return false;
    QPaintEngine *engine = painter.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster || painter.hasClipping() ||
        painter.opacity() < 1.0 || painter.compositionMode() != QPainter::CompositionMode_SourceOver)
        return false;
    QPaintDevice *device = engine->paintDevice();
    if (!device || device->devType() != QInternal::Image) return false;
    const QImage *surface = static_cast<const QImage *>(device);
    if ((surface->format() != QImage::Format_RGB32 && surface->format() != QImage::Format_ARGB32 &&
         surface->format() != QImage::Format_ARGB32_Premultiplied) ||
        surface->devicePixelRatio() != 1.0)
        return false;
    const QTransform &transform = painter.deviceTransform();
    if (transform.type() > QTransform::TxTranslate) return false;
    const QPointF origin = transform.map(at);
    const QPoint topLeft(qRound(origin.x()), qRound(origin.y()));
    if (QPointF(topLeft) != origin) return false;

    // Only where this paint may draw: the surface, and the part of it Qt gave this view (empty
    // when it gave no limit).
    QRegion region = QRegion(QRect(topLeft, image.size())) & QRegion(surface->rect());
    const QRegion allowed = engine->systemClip();
    if (!allowed.isEmpty()) region &= allowed;
    for (const QRect &rect : region) {
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            const auto *source = reinterpret_cast<const uint32_t *>(image.constScanLine(y - topLeft.y())) +
                                 (rect.left() - topLeft.x());
            // The engine paints through the same pixels; bits() could detach a copy instead.
            auto *target =
                reinterpret_cast<uint32_t *>(const_cast<uchar *>(surface->constScanLine(y))) + rect.left();
            rgbxToSurfaceRow(source, target, rect.width());
        }
    }
    return true;
}

void LayerView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, cornerRadius_ > 0 || borderWidth_ > 0);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QRectF bounds = QRectF(rect());
    painter.save();
    if (cornerRadius_ > 0) {
        QPainterPath outline;
        outline.addRoundedRect(bounds, cornerRadius_, cornerRadius_);
        painter.setClipPath(outline);
    }
    const QRectF picture = contentsRect();
    if (backgroundColor_.isValid() && backgroundColor_.alpha() > 0) {
        if (cornerRadius_ == 0 && !contents_.isNull() && !contents_.hasAlphaChannel()) {
            // Opaque contents hide the background: only what they leave uncovered is filled.
            const QRectF right(picture.right(), bounds.top(), bounds.right() - picture.right(),
                               bounds.height());
            const QRectF below(bounds.left(), picture.bottom(), picture.width(),
                               bounds.bottom() - picture.bottom());
            if (right.width() > 0) painter.fillRect(right, backgroundColor_);
            if (below.height() > 0) painter.fillRect(below, backgroundColor_);
        } else {
            painter.fillRect(bounds, backgroundColor_);
        }
    }
    if (!contents_.isNull()) {
        if (picture.size() == QSizeF(contents_.size()) / contents_.devicePixelRatio()) {
            if (!copyToSurface(painter, picture.topLeft(), contents_))
                drawInBands(painter, picture.topLeft(), contents_);
        } else
            painter.drawImage(bounds, contents_);
    }
    drawContent(painter);
    painter.restore();
    drawBorder(painter, bounds);
}

void LayerView::drawBorder(QPainter &painter, const QRectF &bounds) {
    if (borderWidth_ <= 0 || !borderColor_.isValid()) return;
    if (cornerRadius_ == 0) {
        // Square corners: the border lies along the edges, so it is drawn once into a cache
        // and each paint copies only the edges' strips instead of stroking it anew.
        const qreal ratio = devicePixelRatioF();
        const QSize pixels = (bounds.size() * ratio).toSize();
        if (borderCacheSize_ != pixels || borderCacheRatio_ != ratio) {
            QImage whole(pixels, QImage::Format_ARGB32_Premultiplied);
            whole.setDevicePixelRatio(ratio);
            whole.fill(Qt::transparent);
            {
                QPainter cache(&whole);
                cache.setRenderHint(QPainter::Antialiasing, true);
                const qreal half = borderWidth_ / 2.0;
                cache.setPen(QPen(borderColor_, borderWidth_));
                cache.setBrush(Qt::NoBrush);
                cache.drawRoundedRect(bounds.adjusted(half, half, -half, -half), 0.0, 0.0);
            }
            // The strips hold the stroke and its antialiased fringe; a view too small for four
            // strips keeps the whole drawing as its one strip.
            const int strip = static_cast<int>(std::ceil(borderWidth_ * ratio)) + 1;
            borderStrips_.clear();
            if (pixels.width() <= 2 * strip || pixels.height() <= 2 * strip) {
                borderStrips_.push_back({QPoint(0, 0), whole});
            } else {
                const QRect edges[] = {
                    {0, 0, pixels.width(), strip},
                    {0, pixels.height() - strip, pixels.width(), strip},
                    {0, strip, strip, pixels.height() - 2 * strip},
                    {pixels.width() - strip, strip, strip, pixels.height() - 2 * strip},
                };
                for (const QRect &edge : edges) {
                    QImage part = whole.copy(edge);
                    part.setDevicePixelRatio(ratio);
                    borderStrips_.push_back({edge.topLeft(), part});
                }
            }
            borderCacheSize_ = pixels;
            borderCacheRatio_ = ratio;
        }
        for (const BorderStrip &strip : borderStrips_)
            drawInBands(painter, bounds.topLeft() + QPointF(strip.at) / ratio, strip.image);
        return;
    }
    const qreal half = borderWidth_ / 2.0;
    const QRectF inner = bounds.adjusted(half, half, -half, -half);
    const qreal radius = cornerRadius_ > half ? cornerRadius_ - half : 0.0;
    painter.setPen(QPen(borderColor_, borderWidth_));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(inner, radius, radius);
}
