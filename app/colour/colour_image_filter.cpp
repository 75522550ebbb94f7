#include "app/colour/colour_image_filter.h"

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "32-bit RGB pictures are taken as B, G, R, A bytes");

void ColourFilter::setControls(const ColourControls &controls) {
    std::lock_guard<std::mutex> lock(mutex_);
    controls_ = controls;
}

ColourControls ColourFilter::controls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return controls_;
}

QImage ColourFilter::apply(const QImage &picture) const {
    return apply(picture, controls());
}

QImage ColourFilter::apply(const QImage &picture, const ColourControls &controls) {
    if (controls.isIdentity() || picture.isNull()) return picture;
    QImage source = picture;
    PixelOrder order = PixelOrder::RGBA;
    switch (picture.format()) {
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBX8888:
        break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        order = PixelOrder::BGRA;
        break;
    default:
        // Premultiplied and other layouts: adjusted as plain RGBA.
        source = picture.convertToFormat(QImage::Format_RGBA8888);
        break;
    }
    QImage out(source.size(), source.format());
    if (out.isNull()) return picture; // no memory: shown unadjusted
    applyColourControls(controls, source.constBits(), static_cast<size_t>(source.bytesPerLine()), out.bits(),
                        static_cast<size_t>(out.bytesPerLine()), source.width(), source.height(), order);
    return out;
}

QImage ColourFilter::filterTilePicture(int tileIndex, const QImage &picture) {
    if (tileIndex >= 0 && tileIndex < static_cast<int>(tilePictures_.size())) {
        std::lock_guard<std::mutex> lock(mutex_);
        tilePictures_[static_cast<size_t>(tileIndex)] = picture;
    }
    return apply(picture);
}

QImage ColourFilter::tilePicture(int tileIndex) const {
    if (tileIndex < 0 || tileIndex >= static_cast<int>(tilePictures_.size())) return QImage();
    std::lock_guard<std::mutex> lock(mutex_);
    return tilePictures_[static_cast<size_t>(tileIndex)];
}

void ColourFilter::clearTilePictures() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (QImage &image : tilePictures_)
        image = QImage();
}

void ColourFilter::clearTilePicture(int tileIndex) {
    if (tileIndex < 0 || tileIndex >= static_cast<int>(tilePictures_.size())) return;
    std::lock_guard<std::mutex> lock(mutex_);
    tilePictures_[static_cast<size_t>(tileIndex)] = QImage();
}
